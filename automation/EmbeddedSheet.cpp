// The sheet and range handles of the embedded server: naming and selecting sheets, copying and
// pasting ranges.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedState.h"
#include "automation/Paste.h"
#include "automation/SheetNames.h"
#include "automation/SpillAndReadAhead.h"

#include <algorithm>

namespace gq::automation::embedded {

namespace {

class RangeHandle : public Range {
public:
    RangeHandle(StatePtr state, EntryPtr entry, uint64_t sheetId, size_t hint, engine::CellRange range)
        : m_state(std::move(state)), m_entry(std::move(entry)), m_sheetId(sheetId), m_hint(hint), m_range(range)
    {
    }

    void Release() noexcept override { delete this; }

    void Copy() override
    {
        Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            // Loading the sheet now makes a damaged sheet fail at the copy, not at the paste.
            LoadedSheet(book, SheetIndex(book, m_sheetId, m_hint));
            m_state->clipboard = ServerState::Clipboard{m_entry->book, m_sheetId, m_hint, m_range};
        });
    }

    PasteOutcome PasteSpecial() override
    {
        return Guarded([&] {
            ServerBook& target = m_state->BookOf(*m_entry);
            size_t targetIndex = SheetIndex(target, m_sheetId, m_hint);
            if (!m_state->clipboard) {
                throw ServerError("There is nothing to paste: no range has been copied");
            }
            ServerState::Clipboard& clip = *m_state->clipboard;
            size_t sourceIndex = SheetIndex(*clip.book, clip.sheetId, clip.sheetHint);
            auto [count, first] = target.pastedCells.try_emplace(m_sheetId);
            if (first) {
                count->second.cells = LoadedSheetKeepingSpill(target, targetIndex).CellCount();
            }
            target.MarkModified();
            m_state->cache.Forget(&target);
            const engine::Worksheet& sheet = LoadedSheetKeepingSpill(target, targetIndex);
            const std::optional<engine::CellRange> before = UsedRangeOf(target, m_sheetId, targetIndex);
            SpillFinishedRows(target, m_sheetId, targetIndex, m_range.firstRow);
            PasteNotes notes;
            // Forgotten first, so that a paste that fails part way leaves the range to be worked out
            // again from the cells.
            target.usedRanges.erase(m_sheetId);
            // Pasted formulas remember this paste: where they came from and how far they moved.
            // A workbook without a file is told apart from others by its place in memory.
            const std::string& sourcePath = clip.book->model->SourcePath();
            PasteRecord record{sourcePath.empty() ? "@" + std::to_string(reinterpret_cast<uintptr_t>(clip.book.get()))
                                                  : sourcePath,
                               clip.book->model->SheetName(sourceIndex),
                               m_sheetId,
                               clip.range,
                               int64_t{m_range.firstRow} - clip.range.firstRow,
                               int64_t{m_range.firstCol} - clip.range.firstCol,
                               SheetOrder(*clip.book)};
            const auto pasteId = static_cast<uint32_t>(target.pastes.size());
            target.pastes.push_back(std::move(record));
            try {
                PasteBlock(*clip.book->model, sourceIndex, clip.range, *target.model, targetIndex,
                           engine::CellRef{m_range.firstRow, m_range.firstCol}, &count->second, target.saveLimits,
                           &notes, pasteId);
            } catch (...) {
                target.pastes.pop_back();
                throw;
            }
            target.pastes.back().unreadFormulas = notes.unreadFormulas;
            const engine::CellRange area{m_range.firstRow, m_range.firstCol,
                                         m_range.firstRow + (clip.range.lastRow - clip.range.firstRow),
                                         m_range.firstCol + (clip.range.lastCol - clip.range.firstCol)};
            UpdateUsedRange(target, m_sheetId, sheet, before, area);
            return PasteOutcome{notes.Sentences(target.saveLimits), notes.formatsMerged};
        });
    }

    int32_t RowCount() override
    {
        return Guarded([&] {
            m_state->BookOf(*m_entry);
            return static_cast<int32_t>(m_range.RowCount());
        });
    }

    int32_t ColumnCount() override
    {
        return Guarded([&] {
            m_state->BookOf(*m_entry);
            return static_cast<int32_t>(m_range.ColCount());
        });
    }

    int32_t FirstRow() override
    {
        return Guarded([&] {
            m_state->BookOf(*m_entry);
            return static_cast<int32_t>(m_range.firstRow + 1);
        });
    }

    int32_t ContentRowCount() override { return static_cast<int32_t>(Content().rows); }
    int32_t ContentColumnCount() override { return static_cast<int32_t>(Content().cols); }

    bool IsEmpty() override
    {
        return Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            const std::optional<engine::CellRange> used =
                UsedRangeOf(book, m_sheetId, SheetIndex(book, m_sheetId, m_hint));
            return !used || used->lastRow < m_range.firstRow || used->firstRow > m_range.lastRow ||
                   used->lastCol < m_range.firstCol || used->firstCol > m_range.lastCol;
        });
    }

private:
    Extent Content()
    {
        return Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            return ContentExtent(LoadedSheet(book, SheetIndex(book, m_sheetId, m_hint)), m_range);
        });
    }

    StatePtr m_state;
    EntryPtr m_entry;
    uint64_t m_sheetId;
    size_t m_hint;
    engine::CellRange m_range;
};

class SheetHandle : public Sheet {
public:
    SheetHandle(StatePtr state, EntryPtr entry, uint64_t sheetId, size_t hint)
        : m_state(std::move(state)), m_entry(std::move(entry)), m_sheetId(sheetId), m_hint(hint)
    {
    }

    void Release() noexcept override { delete this; }

    std::string Name() override
    {
        return Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            return book.model->SheetName(SheetIndex(book, m_sheetId, m_hint));
        });
    }

    void SetName(const std::string& name) override
    {
        Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            size_t index = SheetIndex(book, m_sheetId, m_hint);
            if (auto problem = SheetNameProblem(name, book.names, m_sheetId)) {
                throw ServerError(*problem);
            }
            if (book.model->SheetName(index) == name) {
                return;
            }
            book.MarkModified();
            m_state->cache.Forget(&book);
            book.RenameSheet(index, name);
        });
    }

    void Select() override
    {
        Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            book.model->SetActiveSheet(SheetIndex(book, m_sheetId, m_hint));
        });
    }

    Ref<Range> UsedRange() override
    {
        return Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            engine::CellRange range =
                UsedRangeOf(book, m_sheetId, SheetIndex(book, m_sheetId, m_hint)).value_or(engine::CellRange{});
            return Ref<Range>(new RangeHandle(m_state, m_entry, m_sheetId, m_hint, range));
        });
    }

    Ref<Range> RangeAt(const std::string& address) override
    {
        return Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            SheetIndex(book, m_sheetId, m_hint);
            engine::CellRange range;
            if (!engine::ParseRangeName(address, range)) {
                throw ServerError("\"" + address + "\" is not a cell or range address of a sheet");
            }
            return Ref<Range>(new RangeHandle(m_state, m_entry, m_sheetId, m_hint, range));
        });
    }

private:
    StatePtr m_state;
    EntryPtr m_entry;
    uint64_t m_sheetId;
    size_t m_hint;
};

} // namespace

Ref<Sheet> NewSheetHandle(const StatePtr& state, const EntryPtr& entry, uint64_t sheetId, size_t hint)
{
    return Ref<Sheet>(new SheetHandle(state, entry, sheetId, hint));
}

Ref<Sheet> SheetAtIndex(const StatePtr& state, const EntryPtr& entry, int32_t index)
{
    ServerBook& book = state->BookOf(*entry);
    if (index < 1 || static_cast<size_t>(index) > book.sheetIds.size()) {
        throw ServerError("There is no sheet number " + std::to_string(index) + ": the workbook has " +
                          std::to_string(book.sheetIds.size()) + " sheets");
    }
    const auto at = static_cast<size_t>(index - 1);
    return Ref<Sheet>(new SheetHandle(state, entry, book.sheetIds[at], at));
}

} // namespace gq::automation::embedded
