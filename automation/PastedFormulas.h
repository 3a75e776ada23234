// Resolving pasted formulas before a save: references to other sheets of the same source
// workbook follow those sheets into the output, and formulas that cannot stay true there become
// their cached values, counted per paste for the merge report.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/OutputFormat.h"
#include "engine/model/Workbook.h"

#include <cstdint>
#include <functional>
#include <memory>
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
    // The source workbook's sheet names in their order, for 3-D references across them.
    std::shared_ptr<const std::vector<std::string>> sourceSheets;
    // Formulas of the block that its source's reader could not keep (kept as their values).
    uint64_t unreadFormulas = 0;
};

// Resolves every formula a paste brought into `book` (entries with a pasteId, which indexes
// `records`); `sheetIndexOf` gives the current index of a record's target sheet, nullopt when it
// is gone. A formula in the output computes what it computed in its source, or keeps only its
// cached value:
//  - every reference, relative or absolute, to the formula's own sheet or to another sheet of the
//    same source workbook that the merge pasted, is mapped through where that paste moved the
//    sheet's cells, and names that sheet as the output calls it now; a 3-D reference is kept when
//    every sheet of its span was pasted alone, side by side in the source's order, moved alike;
//  - a formula with a reference to cells no paste carried (outside the pasted block, a sheet not
//    merged, another workbook, a range only partly carried), a defined name or table, or text not
//    understood keeps only its cached value; a #REF! the source had stays.
// Hyperlinks to places in the workbook that the pastes brought in follow their cells too.
// For an output format that limits formulas (`output`; .xls), a formula that format cannot hold
// (for .xls a function Excel 97 does not have, too many arguments or levels, a reference past its
// grid, an array formula) keeps its value too. A kept formula without a cached value sets the workbook's full
// calculation on load, and is counted in `uncached` when given. Gives one note per record, in record order: empty, or
// one line saying how many formulas became values and why (the formulas the source's reader could not keep,
// PasteRecord::unreadFormulas, among them).
std::vector<std::string>
ResolvePastedFormulas(engine::Workbook& book, const std::vector<PasteRecord>& records,
                      const std::function<std::optional<size_t>(uint64_t)>& sheetIndexOf,
                      const engine::OutputFormat& output = engine::OutputFormatOf(engine::FileFormat::Xlsx),
                      uint64_t* uncached = nullptr);

} // namespace gq::automation
