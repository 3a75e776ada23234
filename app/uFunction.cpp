// Small shared routines of the application: the web links and the busy window.
// SPDX-License-Identifier: Apache-2.0
#include "app/uFunction.h"

#include "app/TWaitForm.h"

#include <QDesktopServices>
#include <QEvent>
#include <QLabel>
#include <QScreen>
#include <QToolButton>
#include <QWindow>

namespace gq::app {

namespace {

UrlOpener& Opener()
{
    static UrlOpener opener;
    return opener;
}

void HandToDesktop(const char* address)
{
    const QUrl url(QString::fromLatin1(address));
    if (Opener()) {
        Opener()(url);
    } else {
        // Returns once the desktop has the address; no browser or mail program is no error of ours.
        QDesktopServices::openUrl(url);
    }
}

void PlaceCentred(QWidget* window)
{
    QScreen* desktop = window->screen();
    if (desktop == nullptr) {
        return;
    }
    const QRect area = desktop->geometry();
    // On a shown window the frame the window manager added counts; moving a window places the
    // top-left corner of that frame.
    const QWindow* handle = window->windowHandle();
    const QRect outer = handle != nullptr && handle->isVisible() ? handle->frameGeometry() : window->frameGeometry();
    window->move(area.left() + (area.width() - outer.width()) / 2, area.top() + (area.height() - outer.height()) / 2);
}

// Centres its window once more when the window first appears on screen, and then goes away.
class CentreWhenFramed : public QObject {
public:
    explicit CentreWhenFramed(QWidget* window) : QObject(window), m_window(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && m_window->windowHandle() == watched &&
            m_window->windowHandle()->isExposed()) {
            PlaceCentred(m_window);
            watched->removeEventFilter(this);
            deleteLater();
        }
        return false;
    }

private:
    QWidget* m_window;
};

} // namespace

UrlOpener SetUrlOpener(UrlOpener opener)
{
    UrlOpener previous = std::move(Opener());
    Opener() = std::move(opener);
    return previous;
}

void OpenHomePage()
{
    HandToDesktop(HomePageUrl);
}

void OpenMailTo()
{
    HandToDesktop(ContactMailUrl);
}

void ShowBusy(bool show, bool cancelVisible)
{
    if (WaitForm == nullptr) {
        return;
    }
    if (show) {
        WaitForm->show();
        WaitForm->raise();
        WaitForm->SpeedButton1->setVisible(cancelVisible);
        // Drawn completely now: the caller is about to keep the event loop busy.
        WaitForm->repaint();
    } else if (WaitForm->isVisible()) {
        WaitForm->close();
    }
}

void FitTextToWidth(QLabel* label)
{
    const int room = label->contentsRect().width();
    QFont font = label->font();
    // Narrower widths of the face first (synthesised where the face has none), down to 70 per cent.
    for (int stretch = 100; stretch >= 70; stretch -= 5) {
        font.setStretch(stretch);
        if (QFontMetrics(font).horizontalAdvance(label->text()) <= room) {
            break;
        }
    }
    label->setFont(font);
}

void CentreOnScreen(QWidget* window)
{
    PlaceCentred(window);
    if (QWindow* handle = window->windowHandle()) {
        if (!handle->isExposed()) {
            handle->installEventFilter(new CentreWhenFramed(window));
        }
    }
}

} // namespace gq::app
