// Turns dropped files and folders into source-list entries: folders are walked recursively, files
// are taken by their extension (inside folders only when larger than 512 bytes).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/SpreadsheetServer.h"
#include "catalogue/SheetSink.h"
#include "common/UserPrompts.h"

#include <string>
#include <string_view>
#include <vector>

namespace gq::catalogue {

// Everything a drop needs: the list to fill, where servers come from, and the user.
struct DropContext {
    SheetSink& list;
    automation::ServerFactory& servers;
    UserPrompts& prompts;
    // Where a folder walk names, one line each ("path: why"), the workbooks and folders it found but
    // could not reach: a workbook whose path is longer than the system takes for a file name, a
    // folder beyond the files this process may have open. Null: passed over, as the window does.
    std::vector<std::string>* unreached = nullptr;
};

// Processes one drop: shows the busy window, then for each dropped path in order walks a folder or
// lists a workbook; hides the busy window on every path. A failure to list a directly dropped
// workbook ends the drop and propagates; entries appended before it stay. A stop asked for by the
// user (UserPrompts::StopRequested) ends the drop before the next workbook, also inside a folder.
void ProcessDrop(const std::vector<std::string>& paths, DropContext& context);

// Appends the sheets of every qualifying workbook below `folder`. Never fails: every failure
// inside the walk is swallowed and the walk goes on with the next entry.
void AddFolderSheets(DropContext& context, const std::string& folder, std::string_view mask);

// `path` with "/" appended unless it already ends with one (so the root "/" is not doubled).
std::string IncludeTrailingSlash(const std::string& path);

// Workbooks inside a walked folder must be larger than this many bytes.
inline constexpr uintmax_t kMinFolderWorkbookBytes = 512;

} // namespace gq::catalogue
