// Resolving pasted formulas before a save: references to other sheets of the same source
// workbook follow those sheets into the output, and formulas that cannot stay true there become
// their cached values, counted per paste for the merge report.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/model/Workbook.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace gq::automation {

// What the server remembers of one paste.
struct PasteRecord {
    std::string sourcePath;     // the workbook the block came from
    std::string sourceSheet;    // the block's sheet there
    uint64_t targetSheetId = 0; // the server's id of the sheet pasted into
    engine::CellRange block;    // the copied range, in the source sheet
    int64_t rows = 0;           // the paste's offset: target row minus source row
    int64_t cols = 0;
};

// Resolves every formula a paste brought into `book` (entries with a pasteId, which indexes
// `records`); `sheetIndexOf` gives the current index of a record's target sheet, nullopt when it
// is gone. Per formula:
//  - references to the formula's own sheet stay on its sheet: they were moved by the paste;
//  - a reference to another sheet of the same source workbook that was pasted alone into a sheet
//    of its own (a multi-sheet merge) names that sheet as the output calls it now and is moved by
//    that sheet's own offset, so that it points at the same cells;
//  - any other formula that could not stay true in the output (a reference to a sheet that is not
//    a sheet of the output, to another workbook, a 3-D reference, a defined name or table, text
//    not understood) keeps only its cached value.
// Hyperlinks to places in the workbook that the pastes brought in follow the same rule.
// For an .xls output (`xlsOutput`), a formula that BIFF8 cannot hold (a function Excel 97 does not
// have, too many arguments or levels, a reference past its grid, an array formula) keeps its value
// too. A cached value that may no longer hold (a paste that moved a formula with absolute
// references, or references outside its block) sets the workbook's full calculation on load. Gives
// one note per record, in record order: empty, or one line saying how many formulas became values
// and why.
std::vector<std::string> ResolvePastedFormulas(engine::Workbook& book, const std::vector<PasteRecord>& records,
                                               const std::function<std::optional<size_t>(uint64_t)>& sheetIndexOf,
                                               bool xlsOutput = false);

} // namespace gq::automation
