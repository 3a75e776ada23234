// The one interface through which code below the GUI talks to the user: messages, questions,
// the save-file choice, the hourglass cursor and the busy window.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace gq {

class UserPrompts {
public:
    virtual ~UserPrompts() = default;

    // A modal message box with one OK button, titled with the application title.
    // `details` (may be empty) goes into the box's expandable details area.
    virtual void ShowMessage(const std::string& text, const std::string& details = {}) = 0;

    // A message that reports an error the user must mend (an output folder that cannot take the
    // file, say): as ShowMessage, with the error icon the failure report carries.
    virtual void ShowError(const std::string& text) { ShowMessage(text); }

    // A modal Yes/No question with the question icon; true for Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;

    // The platform's save-file dialog, created for this one call. `filter` is written as
    // "Description|*.ext" pairs; `defaultExtension` includes its dot. Returns false on cancel.
    virtual bool ChooseSaveFile(const std::string& defaultExtension, const std::string& filter,
                                const std::string& initialName, std::string& chosenPath) = 0;

    // Application-wide cursor: hourglass on, and back to the cursor that was current before.
    virtual void BeginHourglass() = 0;
    virtual void EndHourglass() = 0;

    // The busy window shown while a drop is processed.
    virtual void ShowBusy(bool show, bool cancelVisible) = 0;

    // Long work (a drop, a merge) asks this before each workbook it takes on: true once the user
    // has asked to stop it. It is called on the thread that does the work and may wait there while
    // the user is still deciding. Prompts that offer no way to stop keep the default.
    virtual bool StopRequested() { return false; }

    // As StopRequested, at the last point where a merge can still stop: just before it saves the
    // merged workbook. From then on the user is no longer offered to stop.
    virtual bool StopRequestedBeforeSave() { return StopRequested(); }
};

// Keeps the hourglass for the lifetime of the guard; the cursor comes back on every path.
class HourglassGuard {
public:
    explicit HourglassGuard(UserPrompts& prompts) : m_prompts(&prompts) { m_prompts->BeginHourglass(); }
    HourglassGuard(const HourglassGuard&) = delete;
    HourglassGuard& operator=(const HourglassGuard&) = delete;
    ~HourglassGuard() { Restore(); }

    // Restores the cursor now (the first clean-up step); the destructor then does nothing.
    void Restore()
    {
        if (m_prompts != nullptr) {
            UserPrompts* p = m_prompts;
            m_prompts = nullptr;
            p->EndHourglass();
        }
    }

private:
    UserPrompts* m_prompts;
};

} // namespace gq
