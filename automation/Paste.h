// Copying a block of cells from one workbook model into another: the work behind Copy and
// PasteSpecial of the embedded server.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/PasteReport.h"
#include "engine/Limits.h"
#include "engine/OutputFormat.h"
#include "engine/model/Workbook.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gq::automation {

// Pastes `block` of sheet `fromSheet` of `from` into sheet `toSheet` of `to`, the block's top-left
// at `at`. What is carried:
//  - values and their types, texts re-interned into the target's
//    string table, cell formats re-made in the target's style table (one lookup per distinct source
//    format per paste);
//  - formulas the source keeps, beside their cached results: the pasted cells point at copies of
//    the source's formula entries, tagged with `pasteId`, whose relative references follow the
//    cells and whose absolute ones stay (PastedFormulas.h resolves references to other sheets);
//  - date and time values keep their calendar value across the 1900 and 1904 date systems: a number
//    whose format shows a date moves by 1,462 days (time-only and elapsed-time formats do not
//    move; a 1900 date before 1904 cannot be shown in a 1904 workbook and is left as it is);
//  - merged ranges wholly inside the block (a merge only partly inside is dropped: a clipped merge
//    would join cells the source never joined); the target's merges that overlap the pasted area
//    and its hyperlinks that lie inside it give way to the pasted ones;
//  - hyperlinks, clipped to the block;
//  - column widths and row heights, only where the target's column or row still has the default
//    size;
//  - the block's rows' and columns' hidden state and outline (group) levels with their collapsed
//    state, moved with the block (a row or column that either side hides or groups stays so), and
//    a row's or column's own format where the target's has none;
//  - the frozen pane, only when the block lands at A1 of a sheet that was empty before, and in the
//    same case the place of outline groups' summary rows and columns (which way groups fold).
// The pasted area is overwritten as a whole: target cells inside it that the block does not fill
// are cleared. Blank source cells without a format are not copied. Throws ServerError, naming the
// sizes, when the block would not fit the sheet's grid; nothing is pasted then.
//
// `count`, when given, holds the cells the target sheet holds at most (each paste adds what it
// pasted) and the most it may hold: a paste past that is refused before anything is pasted, so that
// no sheet grows beyond what the readers read back.
struct SheetCellCount {
    uint64_t cells = 0;
    uint64_t limit = engine::limits::kMaxCellsPerSheet;
};

// `output` is what the workbook pasted into will be saved as. A paste keeps to what that format
// holds (engine/OutputFormat.h), so that the save cannot fail for anything pasted:
//  - a block that overhangs the grid only with formatted empty cells (and column or row settings)
//    is pasted up to the grid's edge; one whose values, merges or links overhang is refused;
//  - a cell format that would make the workbook hold more distinct formats than the format allows
//    becomes the most similar format it already holds;
//  - a number format longer than the format allows shows as General;
//  - a hyperlink that the format cannot store is left out (the cell keeps its value).
// Each change is counted in `notes` (PasteReport.h). The default is the xlsx format.
void PasteBlock(engine::Workbook& from, size_t fromSheet, const engine::CellRange& block, engine::Workbook& to,
                size_t toSheet, engine::CellRef at, SheetCellCount* count = nullptr,
                const engine::OutputFormat& output = engine::OutputFormatOf(engine::FileFormat::Xlsx),
                PasteNotes* notes = nullptr, uint32_t pasteId = engine::kNoFormula);

// How many rows and columns of `block`, counted from its top-left, reach its last cell that holds
// more than formatting (a value, a formula, a merge, a hyperlink); {0, 0} when there is none.
struct Extent {
    uint32_t rows = 0;
    uint32_t cols = 0;
};
Extent ContentExtent(const engine::Worksheet& sheet, const engine::CellRange& block);

// True when a number format that shows dates or times has a calendar-date part (day, month or
// year), so that its values depend on the date system. "h:mm" and "[h]:mm:ss" have none.
bool FormatHasDatePart(std::string_view code);

} // namespace gq::automation
