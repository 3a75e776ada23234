// The console stand-in for the user.
// SPDX-License-Identifier: Apache-2.0
#include "cli/ConsolePrompts.h"

#include "cli/Cli.h"
#include "cli/CliLanguage.h"
#include "cli/ListFormat.h"

#include <filesystem>
#include <sstream>

namespace gq::cli {

void ConsolePrompts::ShowMessage(const std::string& text, const std::string& details)
{
    m_progress.Clear();
    // Like every message of the command, it opens with the program's name.
    m_err << kProgramName << ": " << TranslatedMessage(text);
    if (text.empty() || text.back() != '\n') {
        m_err << '\n';
    }
    bool detailsNeeded = false;
    std::istringstream lines(details);
    std::string line;
    while (!detailsNeeded && std::getline(lines, line)) {
        detailsNeeded = !line.empty() && text.find(line) == std::string::npos;
    }
    if (detailsNeeded) {
        m_err << '\n' << Tr("Details:") << '\n' << details;
        if (details.back() != '\n') {
            m_err << '\n';
        }
    }
    m_err.flush();
}

bool ConsolePrompts::AskYesNo(const std::string& text, const std::string& caption)
{
    m_progress.Clear();
    m_err << kProgramName << ": " << caption << ": " << text << " (answered No: no one is there to ask)\n";
    return false;
}

bool ConsolePrompts::ChooseSaveFile(const std::string&, const std::string&, const std::string&, std::string&)
{
    return false;
}

void CollectingSink::AppendEntries(const std::vector<catalogue::SheetEntry>& added)
{
    entries.insert(entries.end(), added.begin(), added.end());
    if (!added.empty()) {
        m_progress.Set("Listing: " + std::to_string(entries.size()) + " sheets, now " +
                       EscapeField(std::filesystem::path(added.back().FileName).filename().string()));
    }
}

} // namespace gq::cli
