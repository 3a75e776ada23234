// The busy window's animation, drawn with QPainter so that it needs no resource of the platform.
// SPDX-License-Identifier: Apache-2.0
#include "app/BusyAnimation.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace gq::app {

TBusyAnimation::TBusyAnimation(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    // The timer runs on the GUI thread's event loop, which keeps turning while the slow work of a
    // drop runs on a worker thread: the animation keeps moving.
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % kFrameCount;
        update();
    });
    m_timer.start(kFrameMilliseconds);
}

void TBusyAnimation::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The clip is 72 x 44, centred in the box whatever the box's size.
    const QPointF origin((width() - 72) / 2.0, (height() - 44) / 2.0);
    painter.translate(origin);

    // A manila folder.
    QPainterPath folder;
    folder.moveTo(6, 12);
    folder.lineTo(22, 12);
    folder.lineTo(26, 8);
    folder.lineTo(44, 8);
    folder.lineTo(44, 40);
    folder.lineTo(6, 40);
    folder.closeSubpath();
    painter.setPen(QPen(QColor(128, 96, 0), 1));
    painter.setBrush(QColor(255, 214, 90));
    painter.drawPath(folder);
    painter.setBrush(QColor(255, 230, 140));
    painter.drawRect(QRectF(6, 16, 38, 24));

    // A magnifying glass moving along an arc over the folder.
    const double phase = 2.0 * M_PI * m_frame / kFrameCount;
    const QPointF lens(34 + 16 * std::cos(phase), 22 + 8 * std::sin(phase));
    painter.setPen(QPen(QColor(60, 60, 60), 3, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(lens + QPointF(6, 6), lens + QPointF(13, 13));
    painter.setPen(QPen(QColor(40, 40, 40), 2));
    painter.setBrush(QColor(200, 230, 255, 170));
    painter.drawEllipse(lens, 7.5, 7.5);
}

} // namespace gq::app
