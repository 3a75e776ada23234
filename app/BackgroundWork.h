// Long work (a drop, a merge) runs on a worker thread while the GUI thread keeps painting: the
// main window looks unchanged but takes no input, and every call that touches the user or a list
// is carried out on the GUI thread, in the order the worker makes it.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "app/SheetList.h"
#include "app/WorkStop.h"
#include "catalogue/SheetSink.h"
#include "common/UserPrompts.h"

#include <functional>
#include <vector>

class QWidget;

namespace gq::app {

// Runs `call` on the GUI thread and waits for it; runs it at once when already there. A failure
// inside `call` is rethrown on the calling thread.
void RunOnGuiThread(const std::function<void()>& call);

// Prompts that forward every call to `inner` on the GUI thread. A dialog shown while long work
// holds the wait cursor shows the ordinary pointer. Stop requests are read from `stop` (may be
// null: the work cannot be stopped) on the calling thread. When the work holds the wait cursor for
// its whole length (`workHoldsWaitCursor`), the hourglass of its single steps changes nothing: it
// could only undo the pointer of a dialog that is open meanwhile.
class GuiThreadPrompts : public UserPrompts {
public:
    explicit GuiThreadPrompts(UserPrompts& inner, WorkStop* stop = nullptr, bool workHoldsWaitCursor = false)
        : m_inner(inner), m_stop(stop), m_workHoldsWaitCursor(workHoldsWaitCursor)
    {
    }
    void ShowMessage(const std::string& text, const std::string& details = {}) override;
    void ShowError(const std::string& text) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    bool ChooseSaveFile(const std::string& defaultExtension, const std::string& filter, const std::string& initialName,
                        std::string& chosenPath) override;
    void BeginHourglass() override;
    void EndHourglass() override;
    void ShowBusy(bool show, bool cancelVisible) override;
    bool StopRequested() override;
    bool StopRequestedBeforeSave() override;

private:
    UserPrompts& m_inner;
    WorkStop* m_stop;
    bool m_workHoldsWaitCursor;
};

// A sheet list whose batches and appends happen on the GUI thread.
class GuiThreadSink : public catalogue::SheetSink {
public:
    explicit GuiThreadSink(SheetList& list) : m_list(list) {}
    void BeginBatch() override;
    void AppendEntries(const std::vector<catalogue::SheetEntry>& entries) override;
    void EndBatch() override;

private:
    SheetList& m_list;
};

// Runs `work` on a worker thread. Until it ends, user input to `window` and its child widgets is
// swallowed while painting, timers and modal dialogs opened for the worker go on. A failure inside
// `work` is rethrown here, on the GUI thread.
//
// Closing `window` or pressing Escape in it meanwhile calls `stopAsked` (with true for closing)
// from the event loop, once the event that asked has been dealt with; the window stays open.
using StopAsked = std::function<void(bool closing)>;
void RunWhileBlocked(QWidget* window, const std::function<void()>& work, const StopAsked& stopAsked = {});

// While it lives, the pointer is the ordinary arrow even when long work holds the wait cursor, so
// that a dialog the user must answer does not look busy. Changes nothing when no cursor is set.
class ArrowCursorForDialog {
public:
    ArrowCursorForDialog();
    ~ArrowCursorForDialog();
    ArrowCursorForDialog(const ArrowCursorForDialog&) = delete;
    ArrowCursorForDialog& operator=(const ArrowCursorForDialog&) = delete;

private:
    bool m_arrowSet;
};

} // namespace gq::app
