// The embedded spreadsheet server: server, workbook, sheet and range objects over the engine.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"

#include "automation/Paste.h"
#include "automation/ReadAhead.h"
#include "automation/SheetNames.h"
#include "automation/WorkbookCache.h"
#include "engine/StageTimes.h"
#include "engine/WorkbookFile.h"
#include "engine/xlsx/XlsxRowStager.h"
#include "engine/xlsx/XlsxWriter.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <optional>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace gq::automation {

namespace {

// Runs one operation and turns whatever it throws into the ServerError callers expect, with the
// engine's own text (which names the file) as the description.
template <class F>
auto Guarded(F&& operation) -> decltype(operation())
{
    try {
        return operation();
    } catch (const ServerError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw ServerError("There is not enough memory to complete the operation");
    } catch (const std::exception& e) {
        throw ServerError(e.what());
    }
}

// As Guarded, for reading the file at `path`: a failure whose text does not name the file gets the
// file's name in front, so that every refusal says which file it is about.
template <class F>
auto GuardedFile(const std::string& path, F&& operation) -> decltype(operation())
{
    auto named = [&](const std::string& text) {
        if (path.empty() || text.find(path) != std::string::npos) {
            return text;
        }
        return "\"" + path + "\": " + text;
    };
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        throw ServerError(named("there is not enough memory to read the workbook"));
    } catch (const std::exception& e) {
        throw ServerError(named(e.what()));
    }
}

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

// A workbook as the caller sees it: one per OpenWorkbook or AddWorkbook, open until Close.
struct OpenEntry {
    std::shared_ptr<ServerBook> book; // reset by Close
};

// Everything one server instance holds. Handles share it, so a handle that outlives the server
// object still fails cleanly instead of touching freed memory.
struct ServerState {
    ServerState(std::shared_ptr<HeldSave> heldSave, bool readAheadOn)
        : held(std::move(heldSave)), readAhead(readAheadOn ? std::make_unique<WorkbookReadAhead>() : nullptr)
    {
    }

    bool running = true;
    // Where SaveAs leaves the saved file unnamed; null when it saves under the path itself.
    std::shared_ptr<HeldSave> held;
    // Reads the workbook named by ReadAhead on its own thread; null when reading ahead is off.
    std::unique_ptr<WorkbookReadAhead> readAhead;
    std::vector<std::shared_ptr<OpenEntry>> open; // in opening order; the last one is active
    WorkbookCache cache;
    struct Clipboard {
        std::shared_ptr<ServerBook> book; // keeps the copied workbook alive after its Close
        uint64_t sheetId = 0;
        size_t sheetHint = SIZE_MAX;
        engine::CellRange range;
    };
    std::optional<Clipboard> clipboard;

    void CheckRunning() const
    {
        if (!running) {
            throw ServerError("The spreadsheet server has been shut down");
        }
    }

    ServerBook& BookOf(const OpenEntry& entry) const
    {
        CheckRunning();
        if (!entry.book) {
            throw ServerError("The workbook has been closed");
        }
        return *entry.book;
    }

    void Close(const std::shared_ptr<OpenEntry>& entry)
    {
        std::erase(open, entry);
        std::shared_ptr<ServerBook> book = std::move(entry->book);
        entry->book.reset();
        if (book && book->key) {
            cache.Put(std::move(book));
        }
    }
};

using StatePtr = std::shared_ptr<ServerState>;
using EntryPtr = std::shared_ptr<OpenEntry>;

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

// Moves what a paste into sheet `sheetId` at row `row` no longer touches out of memory: every row
// of the sheet pasted into before, when it is another sheet (a multi-sheet merge has finished it),
// and the rows above `row` (a single-sheet merge stacks below them). The rows come back, through
// Workbook::Sheet, for anything that needs them; the writers stream them from the spill file.
//
// Rows set aside for good are also offered to the workbook's row stager, which compresses them for
// the save while the merge reads on. A paste into the sheet pasted into before (a single-sheet
// merge stacking its blocks) offers the rows above it, which the stager takes in the order the save
// writes the sheets, so that the saved file is what it would be without staging. A paste into
// another sheet (a multi-sheet merge, which adds each sheet before the one it left) offers every
// row of the sheet left, and the rows of the sheet pasted into as the paste sets them aside: those
// the stager takes in the order the sheets are finished.
void SpillFinishedRows(ServerBook& book, uint64_t sheetId, size_t index, uint32_t row)
{
    const bool again = book.lastPastedSheet && *book.lastPastedSheet == sheetId;
    const bool another = book.lastPastedSheet && !again;
    if (another) {
        if (std::optional<size_t> previous = book.IndexOf(*book.lastPastedSheet, book.lastPastedHint)) {
            // Followed first, so that the rows it still holds go to the stager as they are spilled
            // rather than being read back from the spill file.
            book.model->StageRowsInAnyOrder(*previous);
            book.model->SpillRows(*previous);
        }
    }
    book.lastPastedSheet = sheetId;
    book.lastPastedHint = index;
    book.model->SpillRows(index, row);
    if (again) {
        book.model->StageRows(index);
    } else if (another) {
        book.model->StageRowsInAnyOrder(index);
    }
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

class WorkbookHandle : public Workbook {
public:
    WorkbookHandle(StatePtr state, EntryPtr entry) : m_state(std::move(state)), m_entry(std::move(entry)) {}

    void Release() noexcept override { delete this; }

    int32_t SheetCount() override
    {
        return Guarded([&] { return static_cast<int32_t>(m_state->BookOf(*m_entry).sheetIds.size()); });
    }

    Ref<Sheet> SheetAt(int32_t index) override
    {
        return Guarded([&] { return SheetAtIndex(m_state, m_entry, index); });
    }

    Ref<Sheet> SheetByName(const std::string& name) override
    {
        return Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            if (const SheetNameIndex::Entry* found = book.names.Find(name)) {
                size_t index = SheetIndex(book, found->id, found->position);
                return Ref<Sheet>(new SheetHandle(m_state, m_entry, found->id, index));
            }
            throw ServerError("There is no sheet named \"" + name + "\" in the workbook");
        });
    }

    Ref<Sheet> AddSheet() override
    {
        return Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            engine::Workbook& model = *book.model;
            std::string name = NextSheetName(book.names, book.lastAddedSheetNumber);
            size_t position = std::min(model.ActiveSheet(), model.SheetCount());
            book.MarkModified();
            m_state->cache.Forget(&book);
            model.InsertSheet(position, name);
            uint64_t id = book.nextSheetId++;
            book.sheetIds.insert(book.sheetIds.begin() + static_cast<std::ptrdiff_t>(position), id);
            book.names.Add(name, id);
            model.SetActiveSheet(position);
            return Ref<Sheet>(new SheetHandle(m_state, m_entry, id, position));
        });
    }

    void PlanSaveAs(const std::string& path) override
    {
        Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            book.saveLimits = engine::OutputFormatFor(path);
            // Rows set aside while the workbook is built go beside where it will be saved.
            std::error_code error;
            const std::filesystem::path full = std::filesystem::absolute(path, error);
            book.model->SetSpillFolder(error ? std::string() : full.parent_path().string());
            // An xlsx output has its finished rows compressed while the merge goes on. Without a
            // thread for that (none can be started) the save compresses everything, as it can.
            book.model->SetRowStager(nullptr);
            if (book.saveLimits.format == engine::FileFormat::Xlsx) {
                try {
                    engine::XlsxRowStager::Options options;
                    options.level = engine::XlsxWriteOptions{}.level;
                    options.folder = error ? std::string() : full.parent_path().string();
                    book.model->SetRowStager(std::make_shared<engine::XlsxRowStager>(*book.model, options));
                } catch (const std::exception&) {
                }
            }
        });
    }

    void SaveAs(const std::string& path) override
    {
        Guarded([&] {
            engine::StageTimer timer(engine::Stage::Write);
            ServerBook& book = m_state->BookOf(*m_entry);
            const engine::OutputFormat& output = engine::OutputFormatFor(path);
            if (std::string tooLarge = output.FindSheetTooLarge(*book.model); !tooLarge.empty()) {
                throw ServerError(tooLarge);
            }
            // Saving ends the copy, as in office suites: a copied block of a closed workbook would
            // otherwise stay in memory through the whole save of a merge's large output.
            m_state->clipboard.reset();
            // Resolve what the pastes brought in, and say what could not stay a formula.
            if (!book.pastes.empty()) {
                std::unordered_map<uint64_t, size_t> indexOfId;
                indexOfId.reserve(book.sheetIds.size());
                for (size_t i = 0; i < book.sheetIds.size(); ++i) {
                    indexOfId.emplace(book.sheetIds[i], i);
                }
                book.pasteNotes = ResolvePastedFormulas(
                    *book.model, book.pastes,
                    [&indexOfId](uint64_t id) {
                        auto it = indexOfId.find(id);
                        return it == indexOfId.end() ? std::nullopt : std::optional<size_t>(it->second);
                    },
                    output, &book.uncachedFormulas);
                book.pastes.clear();
            }
            if (m_state->held) {
                m_state->held->Put(std::make_unique<engine::UnnamedWorkbookFile>(*book.model, path));
            } else {
                engine::SaveWorkbookFile(*book.model, path);
            }
        });
    }

    void Close() override
    {
        Guarded([&] {
            m_state->BookOf(*m_entry);
            m_state->Close(m_entry);
        });
    }

    std::vector<std::string> PasteNotes() override
    {
        return Guarded([&] { return m_state->BookOf(*m_entry).pasteNotes; });
    }

    uint64_t FormulasWithoutResult() override
    {
        return Guarded([&] { return m_state->BookOf(*m_entry).uncachedFormulas; });
    }

    engine::Workbook* Model() const { return m_entry->book && m_state->running ? m_entry->book->model.get() : nullptr; }

private:
    StatePtr m_state;
    EntryPtr m_entry;
};

class ServerHandle : public SpreadsheetServer {
public:
    ServerHandle(std::shared_ptr<HeldSave> held, bool readAhead)
        : m_state(std::make_shared<ServerState>(std::move(held), readAhead))
    {
    }

    ~ServerHandle() override
    {
        // Nothing can ask for a workbook read ahead once the server object is gone.
        if (m_state->readAhead) {
            m_state->readAhead->Stop();
        }
    }

    void Release() noexcept override { delete this; }

    // Display settings mean nothing to a server without a window; they only have to be accepted.
    void SetDisplayAlerts(bool) override
    {
        Guarded([&] { m_state->CheckRunning(); });
    }
    void SetScreenUpdating(bool) override
    {
        Guarded([&] { m_state->CheckRunning(); });
    }
    void SetVisible(bool) override
    {
        Guarded([&] { m_state->CheckRunning(); });
    }

    Ref<Workbook> AddWorkbook() override
    {
        return Guarded([&] {
            m_state->CheckRunning();
            auto model = std::make_shared<engine::Workbook>();
            model->InsertSheet(0, "Sheet1");
            model->SetActiveSheet(0);
            return Adopt(std::make_shared<ServerBook>(std::move(model)));
        });
    }

    Ref<Workbook> OpenWorkbook(const std::string& path) override
    {
        return GuardedFile(path, [&] {
            m_state->CheckRunning();
            std::optional<FileKey> before = KeyOfFile(path);
            if (before) {
                if (std::shared_ptr<ServerBook> cached = m_state->cache.Find(*before)) {
                    // Taken out while open, so that two open copies of one file never share a model
                    // that one of them might change; Close puts it back.
                    m_state->cache.Forget(cached.get());
                    cached->model->SetActiveSheet(cached->initialActive);
                    return Adopt(std::move(cached));
                }
                // A workbook read ahead is taken only when it was read from this very version of
                // the file; otherwise it is read now, and fails, if it does, as it always did.
                if (m_state->readAhead) {
                    if (std::shared_ptr<ServerBook> ready = m_state->readAhead->Take(path, *before)) {
                        return Adopt(std::move(ready));
                    }
                }
            }
            std::shared_ptr<engine::Workbook> model = engine::OpenWorkbookFile(path);
            auto book = std::make_shared<ServerBook>(std::move(model));
            // Only a file that did not change while it was read may be served again later.
            std::optional<FileKey> after = KeyOfFile(path);
            if (before && after && *before == *after) {
                book->key = after;
            }
            return Adopt(std::move(book));
        });
    }

    void ReadAhead(const std::string& path, const std::vector<std::string>& sheetNames) override
    {
        if (!m_state->running || !m_state->readAhead) {
            return;
        }
        // A hint that cannot be acted on (the file cannot be examined, no thread can be started,
        // memory ran out) is dropped: the workbook is then read when it is opened.
        try {
            const std::optional<FileKey> key = KeyOfFile(path);
            // Nothing is gained for a workbook the cache holds, and one too large to be held
            // twice is left for when it is opened.
            if (!key || key->size > WorkbookReadAhead::kMaxFileBytes || m_state->cache.Find(*key)) {
                return;
            }
            m_state->readAhead->Start(path, sheetNames);
        } catch (...) {
        }
    }

    Ref<Workbook> WorkbookAt(int32_t index) override
    {
        return Guarded([&] {
            m_state->CheckRunning();
            if (index < 1 || static_cast<size_t>(index) > m_state->open.size()) {
                throw ServerError("There is no workbook number " + std::to_string(index) + ": " +
                                  std::to_string(m_state->open.size()) + " workbooks are open");
            }
            return Ref<Workbook>(new WorkbookHandle(m_state, m_state->open[static_cast<size_t>(index - 1)]));
        });
    }

    void Quit() override
    {
        Guarded([&] {
            m_state->CheckRunning();
            // Ends the read-ahead thread before anything else: a stopped merge leaves no thread.
            if (m_state->readAhead) {
                m_state->readAhead->Stop();
            }
            for (auto& entry : m_state->open) {
                entry->book.reset();
            }
            m_state->open.clear();
            m_state->cache.Clear();
            m_state->clipboard.reset();
            m_state->running = false;
        });
    }

    int32_t SheetCount() override
    {
        return Guarded([&] { return static_cast<int32_t>(m_state->BookOf(*Active()).sheetIds.size()); });
    }

    Ref<Sheet> SheetAt(int32_t index) override
    {
        return Guarded([&] { return SheetAtIndex(m_state, Active(), index); });
    }

    Ref<Workbook> Adopt(std::shared_ptr<ServerBook> book)
    {
        m_state->CheckRunning();
        auto entry = std::make_shared<OpenEntry>();
        entry->book = std::move(book);
        m_state->open.push_back(entry);
        return Ref<Workbook>(new WorkbookHandle(m_state, entry));
    }

private:
    const EntryPtr& Active() const
    {
        m_state->CheckRunning();
        if (m_state->open.empty()) {
            throw ServerError("No workbook is open");
        }
        return m_state->open.back();
    }

    StatePtr m_state;
};

} // namespace

namespace {

bool ReadAheadWanted(ReadAheadMode mode)
{
    if (mode != ReadAheadMode::Auto) {
        return mode == ReadAheadMode::On;
    }
    if (const char* setting = std::getenv("GQ_READ_AHEAD")) {
        const std::string value(setting);
        if (value == "0" || value == "1") {
            return value == "1";
        }
    }
    double load[1] = {0};
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    return cores > 1 && ::getloadavg(load, 1) == 1 && load[0] < static_cast<double>(cores) - 1.0;
}

} // namespace

void HeldSave::Put(std::unique_ptr<engine::UnnamedWorkbookFile> file)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_file = std::move(file);
}

std::unique_ptr<engine::UnnamedWorkbookFile> HeldSave::Take()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return std::move(m_file);
}

Ref<SpreadsheetServer> EmbeddedServerFactory::CreateServer()
{
    try {
        return Ref<SpreadsheetServer>(new ServerHandle(m_held, ReadAheadWanted(m_readAhead)));
    } catch (const std::exception& e) {
        throw ServerUnavailable(std::string("The embedded spreadsheet server cannot start: ") + e.what());
    }
}

engine::Workbook* ModelOf(Workbook& workbook)
{
    auto* handle = dynamic_cast<WorkbookHandle*>(&workbook);
    return handle != nullptr ? handle->Model() : nullptr;
}

Ref<Workbook> AdoptWorkbook(SpreadsheetServer& server, std::unique_ptr<engine::Workbook> model)
{
    auto* handle = dynamic_cast<ServerHandle*>(&server);
    if (handle == nullptr) {
        throw ServerError("Only an embedded server can take a workbook model");
    }
    return Guarded([&] {
        return handle->Adopt(std::make_shared<ServerBook>(std::shared_ptr<engine::Workbook>(std::move(model))));
    });
}

} // namespace gq::automation
