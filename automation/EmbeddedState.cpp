// The sheet helpers the embedded server's handles share.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedState.h"

#include <algorithm>

namespace gq::automation::embedded {

// The sheet's content, read now if it was not yet.
const engine::Worksheet& LoadedSheet(ServerBook& book, size_t index)
{
    return GuardedFile(book.model->SourcePath(),
                       [&]() -> const engine::Worksheet& { return book.model->Sheet(index); });
}

// As LoadedSheet, leaving rows the server spilled on disk: for what needs only the rows below them,
// or what the spill keeps a summary of.
engine::Worksheet& LoadedSheetKeepingSpill(ServerBook& book, size_t index)
{
    return GuardedFile(book.model->SourcePath(),
                       [&]() -> engine::Worksheet& { return book.model->SheetKeepingSpill(index); });
}

// The index of the sheet `id`; `hint` is where it was found last and is updated.
size_t SheetIndex(const ServerBook& book, uint64_t id, size_t& hint)
{
    auto index = book.IndexOf(id, hint);
    if (!index) {
        throw ServerError("The sheet no longer exists");
    }
    hint = *index;
    return *index;
}

// The sheet names of a workbook in their order, made once per workbook and shared by its pastes.
std::shared_ptr<const std::vector<std::string>> SheetOrder(ServerBook& book)
{
    if (!book.sheetOrder || book.sheetOrder->size() != book.model->SheetCount()) {
        auto names = std::make_shared<std::vector<std::string>>();
        for (size_t i = 0; i < book.model->SheetCount(); ++i) {
            names->push_back(book.model->SheetName(i));
        }
        book.sheetOrder = std::move(names);
    }
    return book.sheetOrder;
}

// The used range of a sheet: kept for sheets pasted into, worked out from the cells for others
// (spilled rows count by their summary, so that they stay on disk).
std::optional<engine::CellRange> UsedRangeOf(ServerBook& book, uint64_t sheetId, size_t index)
{
    auto kept = book.usedRanges.find(sheetId);
    return kept != book.usedRanges.end() ? kept->second : LoadedSheetKeepingSpill(book, index).UsedRange();
}

// Brings the kept used range of a sheet up to date after a paste into `area`. When the paste lands
// clear of what the sheet used before (as every paste of a merge does) the new range is the old
// one joined with what the paste put there, found by looking at the pasted rows only; otherwise the
// paste may have cleared cells, and the range is worked out again from all cells.
void UpdateUsedRange(ServerBook& book, uint64_t sheetId, const engine::Worksheet& sheet,
                     const std::optional<engine::CellRange>& before, const engine::CellRange& area)
{
    // Rows the paste set aside as it went are counted by the spill's summary: the sheet then holds
    // only the last of the pasted rows in memory, and its whole used range costs little.
    if ((before && before->Intersects(area)) ||
        (!sheet.spilled.Empty() && sheet.spilled.Summary().lastRow >= area.firstRow)) {
        book.usedRanges[sheetId] = sheet.UsedRange();
        return;
    }
    std::optional<engine::CellRange> used = before;
    const auto isUsed = [](const engine::Cell& c) { return engine::IsUsedCell(c); };
    auto row = std::lower_bound(sheet.rows.begin(), sheet.rows.end(), area.firstRow,
                                [](const engine::Row& r, uint32_t index) { return r.index < index; });
    for (; row != sheet.rows.end() && row->index <= area.lastRow; ++row) {
        auto first = std::lower_bound(row->cells.begin(), row->cells.end(), area.firstCol,
                                      [](const engine::Cell& c, uint32_t col) { return c.col < col; });
        for (auto cell = first; cell != row->cells.end() && cell->col <= area.lastCol; ++cell) {
            if (isUsed(*cell)) {
                engine::ExtendRange(used, engine::CellRange{row->index, cell->col, row->index, cell->col});
            }
        }
    }
    for (const engine::CellRange& m : sheet.merges) {
        if (area.Contains(m)) {
            engine::ExtendRange(used, m);
        }
    }
    book.usedRanges[sheetId] = used;
}

} // namespace gq::automation::embedded
