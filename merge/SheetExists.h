// The name test used when a merged sheet is named.
#pragma once

#include "automation/SpreadsheetServer.h"

#include <string>

namespace gq::merge {

// True when the workbook holds a worksheet whose name equals `name` once both are trimmed (codes
// <= 32) and ASCII upper-cased.
bool SheetExists(const std::string& name, automation::Workbook& workbook);

} // namespace gq::merge
