// The About dialog.
// SPDX-License-Identifier: Apache-2.0
#include "app/TFMAbout.h"

#include "app/FailureReport.h"
#include "app/uFunction.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace gq::app {

namespace {

QFont AboutFont(int pixels, bool bold = false)
{
    QFont font;
    font.setFamilies(
        {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Nimbus Sans", "Arial", "DejaVu Sans"});
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

} // namespace

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    QFont font = AboutFont(11);
    font.setUnderline(true);
    setFont(font);
    // The palette's link colour: blue on a light theme, and readable on a dark one.
    QPalette blue = palette();
    blue.setColor(QPalette::WindowText, blue.color(QPalette::Link));
    setPalette(blue);
    setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit Clicked();
    }
}

void TLinkLabel::paintEvent(QPaintEvent* /*event*/)
{
    // The face's line (ascent and descent) is taller than the 13 pixels the layout gives a link,
    // and centring it would push the underline out of sight. The baseline is set so that the
    // underline and the descenders stay inside the label.
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(font());
    const int below = std::max(metrics.underlinePos() + metrics.lineWidth(), 2);
    painter.drawText(QPoint(contentsRect().left(), contentsRect().bottom() - below), text());
}

TFMAbout::TFMAbout(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                         Qt::WindowCloseButtonHint)
{
    setObjectName("FMAbout");
    setWindowTitle(tr("About Gridquilt"));
    setFont(AboutFont(13));
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setFixedSize(284, 141);

    Label1 = new QLabel(this);
    Label1->setObjectName("Label1");
    Label1->setFont(AboutFont(13, true));
    Label1->setGeometry(67, 20, 212, 16);

    Label4 = new QLabel(tr("Web: "), this);
    Label4->setObjectName("Label4");
    Label4->move(56, 75);
    Label4->adjustSize();

    Label5 = new TLinkLabel(QString::fromLatin1(HomePageUrl), this);
    Label5->setObjectName("Label5");
    Label5->setGeometry(95, 75, 169, 13);
    FitTextToWidth(Label5);

    Label6 = new QLabel(tr("Email: "), this);
    Label6->setObjectName("Label6");
    Label6->move(58, 99);
    Label6->adjustSize();

    // The mail link shows the address without its "mailto:".
    QString mail = QString::fromLatin1(ContactMailUrl);
    mail.remove(0, static_cast<qsizetype>(std::char_traits<char>::length("mailto:")));
    Label7 = new TLinkLabel(mail, this);
    Label7->setObjectName("Label7");
    Label7->setGeometry(103, 99, 146, 13);
    FitTextToWidth(Label7);

    connect(Label5, &TLinkLabel::Clicked, this, [this] { RunGuarded([this] { Label5Click(); }); });
    connect(Label7, &TLinkLabel::Clicked, this, [this] { RunGuarded([this] { Label7Click(); }); });
}

void TFMAbout::showEvent(QShowEvent* event)
{
    RunGuarded([this] { FormShow(); });
    CentreOnScreen(this);
    QDialog::showEvent(event);
}

void TFMAbout::FormShow()
{
    Label1->setText("Gridquilt " GQ_VERSION);
}

void TFMAbout::Label5Click()
{
    OpenHomePage();
}

void TFMAbout::Label7Click()
{
    OpenMailTo();
}

} // namespace gq::app
