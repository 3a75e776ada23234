// Long work (a drop, a merge) runs on a worker thread while the GUI thread keeps painting: the
// main window looks unchanged but takes no input, and every call that touches the user or a list
// is carried out on the GUI thread, in the order the worker makes it.
#pragma once

#include "app/SheetList.h"
#include "catalogue/SheetSink.h"
#include "common/UserPrompts.h"

#include <functional>
#include <vector>

class QWidget;

namespace gq::app {

// Runs `call` on the GUI thread and waits for it; runs it at once when already there. A failure
// inside `call` is rethrown on the calling thread.
void RunOnGuiThread(const std::function<void()>& call);

// Prompts that forward every call to `inner` on the GUI thread.
class GuiThreadPrompts : public UserPrompts {
public:
    explicit GuiThreadPrompts(UserPrompts& inner) : m_inner(inner) {}
    void ShowMessage(const std::string& text, const std::string& details = {}) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    bool ChooseSaveFile(const std::string& defaultExtension, const std::string& filter, const std::string& initialName,
                        std::string& chosenPath) override;
    void BeginHourglass() override;
    void EndHourglass() override;
    void ShowBusy(bool show, bool cancelVisible) override;

private:
    UserPrompts& m_inner;
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

// Runs `work` on a worker thread. Until it ends, user input to `window` (and to the windows it
// names in `alsoBlocked`) is swallowed while painting, timers and modal dialogs opened for the
// worker go on. A failure inside `work` is rethrown here, on the GUI thread.
void RunWhileBlocked(QWidget* window, const std::function<void()>& work);

} // namespace gq::app
