// Worker threads for long work, and forwarding of user and list calls to the GUI thread.
// SPDX-License-Identifier: Apache-2.0
#include "app/BackgroundWork.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
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
    RunOnGuiThread([&] {
        const ArrowCursorForDialog arrow;
        m_inner.ShowMessage(text, details);
    });
}

void GuiThreadPrompts::ShowError(const std::string& text)
{
    RunOnGuiThread([&] {
        const ArrowCursorForDialog arrow;
        m_inner.ShowError(text);
    });
}

bool GuiThreadPrompts::AskYesNo(const std::string& text, const std::string& caption)
{
    bool yes = false;
    RunOnGuiThread([&] {
        const ArrowCursorForDialog arrow;
        yes = m_inner.AskYesNo(text, caption);
    });
    return yes;
}

bool GuiThreadPrompts::ChooseSaveFile(const std::string& defaultExtension, const std::string& filter,
                                      const std::string& initialName, std::string& chosenPath)
{
    bool chosen = false;
    RunOnGuiThread([&] {
        const ArrowCursorForDialog arrow;
        chosen = m_inner.ChooseSaveFile(defaultExtension, filter, initialName, chosenPath);
    });
    return chosen;
}

void GuiThreadPrompts::BeginHourglass()
{
    if (!m_workHoldsWaitCursor) {
        RunOnGuiThread([&] { m_inner.BeginHourglass(); });
    }
}

void GuiThreadPrompts::EndHourglass()
{
    if (!m_workHoldsWaitCursor) {
        RunOnGuiThread([&] { m_inner.EndHourglass(); });
    }
}

void GuiThreadPrompts::ShowBusy(bool show, bool cancelVisible)
{
    RunOnGuiThread([&] { m_inner.ShowBusy(show, cancelVisible); });
}

bool GuiThreadPrompts::StopRequested()
{
    return m_stop != nullptr && m_stop->Check(false);
}

bool GuiThreadPrompts::StopRequestedBeforeSave()
{
    return m_stop != nullptr && m_stop->Check(true);
}

ArrowCursorForDialog::ArrowCursorForDialog() : m_arrowSet(QGuiApplication::overrideCursor() != nullptr)
{
    if (m_arrowSet) {
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    }
}

ArrowCursorForDialog::~ArrowCursorForDialog()
{
    if (m_arrowSet) {
        QGuiApplication::restoreOverrideCursor();
    }
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
// (a message, a question) are windows of their own and keep their input. Closing the window and
// Escape are passed on as a request to stop.
class InputBlocker : public QObject {
public:
    InputBlocker(QWidget* window, const StopAsked& stopAsked) : m_window(window), m_stopAsked(stopAsked) {}

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
        if (widget->window() != m_window.data()) {
            return false;
        }
        if (event->type() == QEvent::Close && widget != m_window.data()) {
            return false; // a part of the window hidden by the program (the busy window)
        }
        if (event->type() == QEvent::Close) {
            event->ignore();
            AskToStop(true);
        } else if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Escape && !key->isAutoRepeat()) {
                AskToStop(false);
            }
        }
        return true;
    }

private:
    // The question is asked from the event loop, not from inside the event that asked for it. A
    // request still queued when the work ends is dropped with this object: nothing is left to stop.
    void AskToStop(bool closing)
    {
        if (m_stopAsked) {
            QMetaObject::invokeMethod(
                this, [this, closing] { m_stopAsked(closing); }, Qt::QueuedConnection);
        }
    }

    QPointer<QWidget> m_window;
    StopAsked m_stopAsked;
};

} // namespace

void RunWhileBlocked(QWidget* window, const std::function<void()>& work, const StopAsked& stopAsked)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr) {
        work();
        return;
    }
    InputBlocker blocker(window, stopAsked);
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
