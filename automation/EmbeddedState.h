// What the handles of the embedded server share: the state of one server instance, the guards
// that turn every failure into a ServerError, and the sheet helpers the handles use.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/EmbeddedServer.h"
#include "automation/ReadAhead.h"
#include "automation/SpreadsheetServer.h"
#include "automation/WorkbookCache.h"
#include "engine/Errors.h"
#include "engine/model/Workbook.h"

#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <vector>

namespace gq::automation::embedded {

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

// As Guarded, for reading the file at `path`: a failure gets the file's name in front, as the
// engine's own errors have, so that every refusal says which file it is about. An engine error
// that names its file already is passed on as it is.
template <class F>
auto GuardedFile(const std::string& path, F&& operation) -> decltype(operation())
{
    try {
        return operation();
    } catch (const std::bad_alloc&) {
        throw ServerError(engine::FileProblemText(path, "there is not enough memory to read the workbook"));
    } catch (const engine::FileError& e) {
        throw ServerError(e.File().empty() ? engine::FileProblemText(path, e.what()) : std::string(e.what()));
    } catch (const engine::FormatError& e) {
        throw ServerError(e.File().empty() ? engine::FileProblemText(path, e.what()) : std::string(e.what()));
    } catch (const std::exception& e) {
        throw ServerError(engine::FileProblemText(path, e.what()));
    }
}

// The sheet's content, read now if it was not yet.
const engine::Worksheet& LoadedSheet(ServerBook& book, size_t index);

// As LoadedSheet, leaving rows the server spilled on disk: for what needs only the rows below them,
// or what the spill keeps a summary of.
engine::Worksheet& LoadedSheetKeepingSpill(ServerBook& book, size_t index);

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
size_t SheetIndex(const ServerBook& book, uint64_t id, size_t& hint);

// The sheet names of a workbook in their order, made once per workbook and shared by its pastes.
std::shared_ptr<const std::vector<std::string>> SheetOrder(ServerBook& book);

// The used range of a sheet: kept for sheets pasted into, worked out from the cells for others
// (spilled rows count by their summary, so that they stay on disk).
std::optional<engine::CellRange> UsedRangeOf(ServerBook& book, uint64_t sheetId, size_t index);

// Brings the kept used range of a sheet up to date after a paste into `area`. When the paste lands
// clear of what the sheet used before (as every paste of a merge does) the new range is the old
// one joined with what the paste put there, found by looking at the pasted rows only; otherwise the
// paste may have cleared cells, and the range is worked out again from all cells.
void UpdateUsedRange(ServerBook& book, uint64_t sheetId, const engine::Worksheet& sheet,
                     const std::optional<engine::CellRange>& before, const engine::CellRange& area);

// A handle on sheet `sheetId` of the workbook of `entry`, last found at `hint`.
Ref<Sheet> NewSheetHandle(const StatePtr& state, const EntryPtr& entry, uint64_t sheetId, size_t hint);
// A handle on sheet number `index` (from 1) of the workbook of `entry`.
Ref<Sheet> SheetAtIndex(const StatePtr& state, const EntryPtr& entry, int32_t index);
// A handle on the workbook of `entry`.
Ref<Workbook> NewWorkbookHandle(const StatePtr& state, const EntryPtr& entry);

} // namespace gq::automation::embedded
