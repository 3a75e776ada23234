// The busy window.
#include "app/TWaitForm.h"

#include "app/BusyAnimation.h"
#include "app/TfmMain.h"

#include <QLabel>
#include <QToolButton>

namespace gq::app {

TWaitForm* WaitForm = nullptr;

TWaitForm::TWaitForm(QWidget* mainWindow)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint), m_mainWindow(mainWindow)
{
    setObjectName("WaitForm");
    setWindowTitle("WaitForm");
    setFixedSize(376, 84);
    setFont(DefaultWindowFont());
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);
    setAutoFillBackground(true);

    // The busy animation starts as soon as the window exists and loops without end.
    Animate1 = new TBusyAnimation(this);
    Animate1->setObjectName("Animate1");
    Animate1->setGeometry(8, 8, 80, 50);

    Label1 = new QLabel("This will take a few minutes.Please be patient...", this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(103, 8, 226, 13);

    Label2 = new QLabel("...", this);
    Label2->setObjectName("Label2");
    Label2->setGeometry(105, 30, 221, 13);
    Label2->setAlignment(Qt::AlignCenter);

    SpeedButton1 = new QToolButton(this);
    SpeedButton1->setObjectName("SpeedButton1");
    SpeedButton1->setText("Cancel");
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setGeometry(142, 54, 97, 25);
}

void TWaitForm::showEvent(QShowEvent* event)
{
    // Centred over the main window at the first showing only; later showings keep that place.
    if (!m_placed && m_mainWindow != nullptr) {
        const QRect outer = m_mainWindow->frameGeometry();
        move(outer.left() + (outer.width() - frameGeometry().width()) / 2,
             outer.top() + (outer.height() - frameGeometry().height()) / 2);
        m_placed = true;
    }
    QWidget::showEvent(event);
}

} // namespace gq::app
