// The embedded server's record of a workbook it holds, and the small cache that serves a workbook
// opened again from what was already parsed.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/Paste.h"
#include "automation/PastedFormulas.h"
#include "automation/SheetNames.h"
#include "engine/model/Workbook.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace gq::automation {

// What identifies one version of a file on disk: a workbook rewritten in place changes its size or
// its times, one replaced by rename changes its inode.
struct FileKey {
    std::string path;
    uint64_t size = 0;
    int64_t mtimeNs = 0;
    int64_t ctimeNs = 0;
    uint64_t device = 0;
    uint64_t inode = 0;
    bool operator==(const FileKey&) const = default;
};

// The key of the regular file at `path`, or nullopt when it cannot be examined.
std::optional<FileKey> KeyOfFile(const std::string& path);

// A workbook model as the server holds it: owned by the open workbook, then by the cache after
// Close; the clipboard keeps the copied one alive until the next Copy.
struct ServerBook {
    std::shared_ptr<engine::Workbook> model;
    std::optional<FileKey> key; // set for a workbook read from a file and not changed since
    size_t initialActive = 0;   // the active sheet as the file had it
    // Stable identities of the sheets, in sheet order: sheet handles keep an id, so that a sheet
    // inserted in front of them does not make them point at another sheet.
    std::vector<uint64_t> sheetIds;
    uint64_t nextSheetId = 0;
    uint64_t lastAddedSheetNumber = 0; // the N of the last "Sheet<N>" that AddSheet handed out
    SheetNameIndex names;              // kept in step with the model's sheet names
    // Per sheet id, the cells a sheet pasted into holds at most: counted once at its first paste,
    // then grown by each paste, so that a paste past the cells a sheet may hold is refused at once.
    std::unordered_map<uint64_t, SheetCellCount> pastedCells;
    // What the workbook is going to be saved as, which pastes into it keep to.
    engine::OutputFormat saveLimits = engine::OutputFormatOf(engine::FileFormat::Xlsx);
    // Per sheet id, the used range of a sheet pasted into, kept up to date by each paste: a
    // single-sheet merge asks for it after every paste, and a scan of the whole sheet each time
    // would cost time that grows with the square of the merged rows.
    std::unordered_map<uint64_t, std::optional<engine::CellRange>> usedRanges;
    // Every paste into this workbook since its last save, for resolving the pasted formulas when
    // it is saved, and the notes that resolution gave.
    std::vector<PasteRecord> pastes;
    std::vector<std::string> pasteNotes;
    uint64_t uncachedFormulas = 0; // kept formulas without a cached value, at the last save
    // The sheet names in their order, as pastes from this workbook record them (SheetOrder).
    std::shared_ptr<const std::vector<std::string>> sheetOrder;
    // The sheet pasted into last and where it was, so that the next paste into another sheet can
    // set its rows aside.
    std::optional<uint64_t> lastPastedSheet;
    size_t lastPastedHint = SIZE_MAX;

    explicit ServerBook(std::shared_ptr<engine::Workbook> workbook);
    // The index of a sheet id, or nullopt when the workbook has no such sheet. `hint` is where the
    // caller last found it: sheets are only ever inserted, so it is checked first, which makes the
    // lookups of a merge constant time.
    std::optional<size_t> IndexOf(uint64_t id, size_t hint = SIZE_MAX) const;
    // Renames the sheet at `index`, keeping the name index in step.
    void RenameSheet(size_t index, const std::string& name);
    // Called before anything changes the workbook: from then on it is no longer what its file holds.
    void MarkModified() { key.reset(); }
};

// The last few unchanged workbooks that were closed, newest first.
class WorkbookCache {
public:
    // Two workbooks: the merge opens each workbook once per entry, and entries of one workbook
    // usually follow each other; more would only hold memory.
    static constexpr size_t kCapacity = 2;
    // A closed workbook is kept only while its loaded sheets hold fewer cells than this (about
    // 24 MB of cells): one with larger sheets has them dropped and is not kept, and is read again
    // if asked for, so that the cache costs little next to the output that is being built.
    static constexpr size_t kMaxKeptCells = 1u << 20;

    std::shared_ptr<ServerBook> Find(const FileKey& key) const;
    void Put(std::shared_ptr<ServerBook> book);
    void Forget(const ServerBook* book);
    void Clear() { m_books.clear(); }
    size_t Size() const { return m_books.size(); }

private:
    std::deque<std::shared_ptr<ServerBook>> m_books;
};

} // namespace gq::automation
