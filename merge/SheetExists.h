// The name test used when a merged sheet is named.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/SpreadsheetServer.h"

#include <string>
#include <unordered_map>

namespace gq::merge {

// True when the workbook holds a worksheet whose name equals `name` once both are trimmed (codes
// <= 32) and ASCII upper-cased.
bool SheetExists(const std::string& name, automation::Workbook& workbook);

// The sheet names of the workbook a merge builds, compared as SheetExists compares them. The merge
// reads the names once and then tells every rename and added sheet, so that naming a merged sheet
// costs no walk over every sheet of the output (which made merges of thousands of sheets
// quadratic).
class OutputSheetNames {
public:
    explicit OutputSheetNames(automation::Workbook& workbook);
    bool Exists(const std::string& name) const;
    void Add(const std::string& name);
    void Remove(const std::string& name);

private:
    std::unordered_map<std::string, size_t> m_counts; // by trimmed, upper-cased name
};

} // namespace gq::merge
