// Worker threads for long work, and forwarding of user and list calls to the GUI thread.
#include "app/BackgroundWork.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <exception>
#include <thread>

namespace gq::app {

void RunOnGuiThread(const std::function<void()>& call)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) {
        call();
        return;
    }
    std::exception_ptr failure;
    QMetaObject::invokeMethod(
        app,
        [&] {
            try {
                call();
            } catch (...) {
                failure = std::current_exception();
            }
        },
        Qt::BlockingQueuedConnection);
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void GuiThreadPrompts::ShowMessage(const std::string& text, const std::string& details)
{
    RunOnGuiThread([&] { m_inner.ShowMessage(text, details); });
}

bool GuiThreadPrompts::AskYesNo(const std::string& text, const std::string& caption)
{
    bool yes = false;
    RunOnGuiThread([&] { yes = m_inner.AskYesNo(text, caption); });
    return yes;
}

bool GuiThreadPrompts::ChooseSaveFile(const std::string& defaultExtension, const std::string& filter,
                                      const std::string& initialName, std::string& chosenPath)
{
    bool chosen = false;
    RunOnGuiThread([&] { chosen = m_inner.ChooseSaveFile(defaultExtension, filter, initialName, chosenPath); });
    return chosen;
}

void GuiThreadPrompts::BeginHourglass()
{
    RunOnGuiThread([&] { m_inner.BeginHourglass(); });
}

void GuiThreadPrompts::EndHourglass()
{
    RunOnGuiThread([&] { m_inner.EndHourglass(); });
}

void GuiThreadPrompts::ShowBusy(bool show, bool cancelVisible)
{
    RunOnGuiThread([&] { m_inner.ShowBusy(show, cancelVisible); });
}

void GuiThreadSink::BeginBatch()
{
    RunOnGuiThread([&] { m_list.BeginBatch(); });
}

void GuiThreadSink::AppendEntries(const std::vector<catalogue::SheetEntry>& entries)
{
    RunOnGuiThread([&] {
        for (const catalogue::SheetEntry& entry : entries) {
            m_list.AppendEntry(entry);
        }
    });
}

void GuiThreadSink::EndBatch()
{
    RunOnGuiThread([&] { m_list.EndBatch(); });
}

namespace {

// Swallows user input aimed at the blocked window while the worker runs. Dialogs the worker opens
// (a message, a question) are windows of their own and keep their input.
class InputBlocker : public QObject {
public:
    explicit InputBlocker(QWidget* window) : m_window(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop:
        case QEvent::ContextMenu:
        case QEvent::Close:
            break;
        default:
            return false;
        }
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget == nullptr || m_window.isNull()) {
            return false;
        }
        if (event->type() == QEvent::Close && widget != m_window.data()) {
            return false; // a part of the window hidden by the program (the busy window)
        }
        if (widget->window() == m_window.data()) {
            if (event->type() == QEvent::Close) {
                event->ignore();
            }
            return true;
        }
        return false;
    }

private:
    QPointer<QWidget> m_window;
};

} // namespace

void RunWhileBlocked(QWidget* window, const std::function<void()>& work)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        work();
        return;
    }
    InputBlocker blocker(window);
    app->installEventFilter(&blocker);

    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::AllEvents);
    worker.join();
    app->removeEventFilter(&blocker);
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace gq::app
