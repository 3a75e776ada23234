// The user, as a command sees it: messages go to standard error, questions and the save dialog
// are never asked (a command's answers come from its arguments), the busy window and the
// hourglass become the progress line.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "catalogue/SheetSink.h"
#include "cli/Progress.h"
#include "common/UserPrompts.h"

#include <ostream>
#include <vector>

namespace gq::cli {

class ConsolePrompts : public UserPrompts {
public:
    ConsolePrompts(std::ostream& err, Progress& progress) : m_err(err), m_progress(progress) {}

    // Prints the text; the details follow only when they hold lines the text does not already
    // show (the completion message lists the first few skipped entries, the details all of them).
    void ShowMessage(const std::string& text, const std::string& details = {}) override;
    // No one is there to answer: every question is answered No, every dialog cancelled.
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    bool ChooseSaveFile(const std::string& defaultExtension, const std::string& filter, const std::string& initialName,
                        std::string& chosenPath) override;
    void BeginHourglass() override {}
    void EndHourglass() override {}
    void ShowBusy(bool, bool) override {}

private:
    std::ostream& m_err;
    Progress& m_progress;
};

// A list that keeps every entry appended to it, and tells the progress line how far it got.
class CollectingSink : public catalogue::SheetSink {
public:
    explicit CollectingSink(Progress& progress) : m_progress(progress) {}
    void BeginBatch() override {}
    void AppendEntries(const std::vector<catalogue::SheetEntry>& added) override;
    void EndBatch() override {}

    std::vector<catalogue::SheetEntry> entries;

private:
    Progress& m_progress;
};

} // namespace gq::cli
