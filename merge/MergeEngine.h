// The merge: one server instance builds a new workbook from the merge list's worksheets, in
// multi-sheet mode (one worksheet per entry) or single-sheet mode (used ranges stacked), and saves it.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/SpreadsheetServer.h"
#include "catalogue/SheetEntry.h"
#include "common/UserPrompts.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace gq::merge {

inline constexpr const char* kNothingToMerge = "No File need to merge!";
inline constexpr const char* kMergeCompleted = "Merge Completed!";
inline constexpr const char* kOutputExtension = ".xls";
// The .xls type comes first and is the default; the .xlsx type lets the folder's existing .xlsx
// files be seen and chosen too.
inline constexpr const char* kOutputFilter = "EXCEL File|*.xls|Excel Workbook (*.xlsx)|*.xlsx|OpenDocument Spreadsheet (*.ods)|*.ods";

// An entry that was skipped or only partly merged, and why, in words a user understands.
struct SkippedEntry {
    catalogue::SheetEntry entry;
    std::string reason;
};

struct MergeReport {
    // True when no server could be started: the user was told, nothing was created or saved.
    bool serverMissing = false;
    // True when the user stopped the merge (UserPrompts::StopRequested): nothing was saved.
    bool stopped = false;
    // In merge-list order.
    std::vector<SkippedEntry> skipped;
    // Entries that were merged, but with something changed or not kept: what their paste changed to
    // fit the output's format, formulas kept as their values; in merge-list order.
    std::vector<SkippedEntry> notes;
    // What the merge changed for the output's format as a whole (cell formats merged with similar
    // ones), one sentence each.
    std::vector<std::string> outputNotes;
    // What the user should know of the output though nothing was changed or left out (formulas
    // without a stored result, computed when the output is opened), one sentence each.
    std::vector<std::string> remarks;
};

// How many merge-list entries an output can take whole: in multi-sheet mode the worksheets its
// format holds beside the new workbook's own first sheet, in single-sheet mode the rows at which a
// block can start (each block but one of a single row takes a row at least). A longer list cannot
// be merged whole, and is refused before any work.
size_t MaxMergeEntries(const std::string& outputPath, bool multiSheet);

// Builds and saves the merged workbook. An entry whose used range does not fit the grid of the
// output's format (automation::OutputCapacityFor) is skipped. Failures of one entry are absorbed and
// reported in the result; a failure of the set-up or of a finishing step (or a failing close while an entry's
// failure is handled) propagates after the finishing steps ran as far as they could. A stop asked
// for by the user ends the merge before the next entry, or just before the save, and then nothing
// is saved.
MergeReport MergeSheets(const std::vector<catalogue::SheetEntry>& mergeList, const std::string& outputPath,
                        bool multiSheet, automation::ServerFactory& servers, UserPrompts& prompts);

// The completion message: "Merge Completed!" and, when entries were skipped or have notes, a list
// of them (the first few in the text, all of them in the details).
void ShowCompletion(UserPrompts& prompts, const MergeReport& report);

// The merge command: checks the list, asks for the output file, merges and reports. `runMerge`
// runs the merge itself (the window runs it off the GUI thread); by default it runs in place.
using MergeRunner = std::function<MergeReport(const std::function<MergeReport()>&)>;
void MergeCommand(const std::vector<catalogue::SheetEntry>& mergeList, bool multiSheet,
                  automation::ServerFactory& servers, UserPrompts& prompts, const MergeRunner& runMerge = {});

} // namespace gq::merge
