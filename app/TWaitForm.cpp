// The busy window.
// SPDX-License-Identifier: Apache-2.0
#include "app/TWaitForm.h"

#include "app/BusyAnimation.h"
#include "app/TfmMain.h"
#include "app/uFunction.h"

#include <QLabel>
#include <QPainter>
#include <QToolButton>

namespace gq::app {

TWaitForm* WaitForm = nullptr;

namespace {

Qt::WindowFlags WaitFormFlags(const QWidget* mainWindow)
{
    return mainWindow != nullptr ? Qt::Widget : Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint;
}

} // namespace

TWaitForm::TWaitForm(QWidget* mainWindow) : QWidget(mainWindow, WaitFormFlags(mainWindow)), m_mainWindow(mainWindow)
{
    setObjectName("WaitForm");
    setWindowTitle("WaitForm");
    setFixedSize(376, 84);
    setFont(DefaultWindowFont());
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);
    // Created hidden: a child widget would otherwise show with its parent.
    hide();

    // The busy animation starts as soon as the window exists and loops without end.
    Animate1 = new TBusyAnimation(this);
    Animate1->setObjectName("Animate1");
    Animate1->setGeometry(8, 8, 80, 50);

    Label1 = new QLabel(tr("This will take a few minutes.Please be patient..."), this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(103, 8, 226, 13);
    FitTextToWidth(Label1);

    Label2 = new QLabel("...", this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(105, 30, 221, 13);
    Label2->setAlignment(Qt::AlignCenter);

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setText(tr("Cancel"));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setGeometry(142, 54, 97, 25);
}

void TWaitForm::showEvent(QShowEvent* event)
{
    // Centred over the main window's outer frame (title bar included), rounded down. As a part of
    // the main window it then moves with it; the place is worked out again at every showing,
    // which changes nothing while the main window keeps its fixed size.
    if (m_mainWindow != nullptr) {
        const QRect outer = m_mainWindow->frameGeometry();
        const QPoint topLeft(outer.left() + (outer.width() - width()) / 2,
                             outer.top() + (outer.height() - height()) / 2);
        move(m_mainWindow->mapFromGlobal(topLeft));
        raise();
    }
    QWidget::showEvent(event);
}

void TWaitForm::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    // A one-pixel frame sets the window apart from the main window it lies on.
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Shadow));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

} // namespace gq::app
