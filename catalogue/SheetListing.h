// Turns one workbook file into rows of a list: a fresh server instance lists the workbook's
// worksheet names, and one entry per name is appended.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/SpreadsheetServer.h"
#include "catalogue/SheetSink.h"
#include "common/UserPrompts.h"

#include <string>
#include <vector>

namespace gq::catalogue {

// The message shown when no spreadsheet server can be started.
inline constexpr const char* kNoServerMessage = "You must intall MS Excel first!";

// Appends the worksheet names of the workbook at `path` to `names`, in the workbook's order and
// exactly as the server reports them. A server that cannot be started is reported to the user and
// the call returns normally; every other failure propagates (after the clean-up ran).
void ListWorkbookSheets(automation::ServerFactory& servers, UserPrompts& prompts, const std::string& path,
                        std::vector<std::string>& names);

// Appends one entry per worksheet of the workbook at `path` to `list` in one call, all of them or
// none, inside one batch that is closed on every path. `FileName` is `path` exactly as passed.
void AddWorkbookSheets(SheetSink& list, automation::ServerFactory& servers, UserPrompts& prompts,
                       const std::string& path);

} // namespace gq::catalogue
