// Small shared routines of the application: the web links and the busy window.
#include "app/uFunction.h"

#include "app/TWaitForm.h"

#include <QDesktopServices>
#include <QToolButton>

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

} // namespace gq::app
