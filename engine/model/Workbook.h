// The workbook model that every reader fills and every writer writes: sheets in order, sparse
// cells, one string table and one style table per workbook, merged ranges, column widths, row
// heights, outline levels and hyperlinks. Worksheets are loaded on first use.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/model/RowSpill.h"
#include "engine/model/Styles.h"

#include <algorithm>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

namespace gq::engine {

// Zero-based cell coordinates.
struct CellRef {
    uint32_t row = 0;
    uint32_t col = 0;
    bool operator==(const CellRef&) const = default;
};

// An inclusive, zero-based rectangle of cells.
struct CellRange {
    uint32_t firstRow = 0;
    uint32_t firstCol = 0;
    uint32_t lastRow = 0;
    uint32_t lastCol = 0;
    bool operator==(const CellRange&) const = default;

    uint32_t RowCount() const { return lastRow - firstRow + 1; }
    uint32_t ColCount() const { return lastCol - firstCol + 1; }
    bool Contains(uint32_t row, uint32_t col) const
    {
        return row >= firstRow && row <= lastRow && col >= firstCol && col <= lastCol;
    }
    bool Contains(const CellRange& other) const
    {
        return other.firstRow >= firstRow && other.lastRow <= lastRow && other.firstCol >= firstCol &&
               other.lastCol <= lastCol;
    }
    bool Intersects(const CellRange& o) const
    {
        return !(o.lastRow < firstRow || o.firstRow > lastRow || o.lastCol < firstCol || o.firstCol > lastCol);
    }
};

// Grows `box` to cover `range`; a box that covers nothing yet (nullopt) becomes `range`.
inline void ExtendRange(std::optional<CellRange>& box, const CellRange& range)
{
    if (!box) {
        box = range;
        return;
    }
    box->firstRow = std::min(box->firstRow, range.firstRow);
    box->firstCol = std::min(box->firstCol, range.firstCol);
    box->lastRow = std::max(box->lastRow, range.lastRow);
    box->lastCol = std::max(box->lastCol, range.lastCol);
}

// Drops merged ranges that overlap an earlier one (in `merges` order, which is the file's): the
// model's merged ranges never overlap. Office suites refuse such files; the first range wins, as
// when the file is repaired. Both readers call it. O(n log n).
void DropOverlappingMerges(std::vector<CellRange>& merges);

// "A1"-style text of a cell or range ("B3", "A1:C10"); column letters for a column index.
std::string ColumnName(uint32_t col);
std::string CellName(uint32_t row, uint32_t col);
std::string RangeName(const CellRange& range);
// Parses "A1", "$B$3" or "A1:C10" (without sheet names); false when the text is not an address
// inside the xlsx grid.
bool ParseCellName(std::string_view text, CellRef& out);
bool ParseRangeName(std::string_view text, CellRange& out);

enum class CellType : uint8_t { Blank, Number, String, Boolean, Error };

// Error values, with their BIFF codes ([MS-XLS] 2.5.10 BErr).
enum class ErrorCode : uint8_t {
    Null = 0x00,
    Div0 = 0x07,
    Value = 0x0F,
    Ref = 0x17,
    Name = 0x1D,
    Num = 0x24,
    NA = 0x2A,
    GettingData = 0x2B
};
std::string_view ErrorText(ErrorCode code); // "#DIV/0!"
std::optional<ErrorCode> ErrorFromText(std::string_view text);

namespace formula {
class Formula;
}

inline constexpr uint32_t kNoFormula = 0xFFFFFFFF;

// One cell: 24 bytes. Strings are indexes into the workbook's string table. A formula cell keeps
// its cached result as its value, flag `formula` set, and, where the reader kept the formula
// itself, `formulaIndex` points into its sheet's formulas.
struct Cell {
    uint32_t col = 0;
    uint32_t style = 0; // index into the workbook's cell formats
    CellType type = CellType::Blank;
    bool formula = false;
    uint32_t formulaIndex = kNoFormula; // into Worksheet::formulas
    union {
        double number;
        uint32_t text; // string table index
        bool boolean;
        ErrorCode error;
    };
    Cell() : number(0) {}
};
static_assert(sizeof(Cell) <= 24, "cells must stay compact");

// Whether a cell counts for a sheet's used range: it holds a value, a formula (with or without a
// cached result: generators such as openpyxl write formulas without one) or a format of its own.
inline bool IsUsedCell(const Cell& c)
{
    return c.type != CellType::Blank || c.style != 0 || c.formulaIndex != kNoFormula;
}

struct Row {
    uint32_t index = 0;
    float height = 0;          // points; 0 means the sheet's default height
    bool customHeight = false; // the height was set on purpose
    bool hidden = false;
    bool collapsed = false;   // the outline group this row ends or begins is folded
    uint8_t outlineLevel = 0; // 0-7: how deep the row sits in outline groups
    uint32_t style = 0;       // the row's own format (a row formatted as a whole); 0: none
    std::vector<Cell> cells;  // ascending by column, no duplicates

    // True when the row says something beyond its cells: a size, visibility, outline or format.
    bool HasSettings() const
    {
        return height > 0 || customHeight || hidden || collapsed || outlineLevel > 0 || style != 0;
    }

    const Cell* Find(uint32_t col) const;
};

struct ColumnInfo {
    uint32_t first = 0;
    uint32_t last = 0;
    double width = 0; // in characters of the default font's digit width, as xlsx stores it; 0: default
    bool customWidth = false;
    bool hidden = false;
    uint32_t style = 0;
    bool collapsed = false;
    uint8_t outlineLevel = 0; // 0-7, as for rows
};

// Both formats allow outline groups seven levels deep.
inline constexpr uint8_t kMaxOutlineLevel = 7;

struct Hyperlink {
    CellRange range;
    std::string target;   // external address (URL, mailto:, file); empty for an internal link
    std::string location; // place inside the workbook ("Sheet2!A1"), may be empty
    std::string tooltip;
    std::string display;
};

// A formula of a sheet, which one or more cells point at. Its text is the one of the anchor
// cell; a cell elsewhere that points at it has the formula moved by its distance from the anchor,
// as a shared formula's cells do. Pasting a cell elsewhere keeps the entry, anchor and all, so that
// relative references follow the cell and absolute ones stay. The parsed formula itself is never
// changed once made, and is shared by the sheets that a paste copies it to.
struct FormulaEntry {
    std::shared_ptr<const formula::Formula> formula;
    uint32_t anchorRow = 0;
    uint32_t anchorCol = 0;
    // An array formula (ECMA-376 Part 1, 18.3.1.40, t="array") covers this many rows and columns
    // from its cell; 0 for a formula of one cell.
    uint32_t arrayRows = 0;
    uint32_t arrayCols = 0;
    // Which paste brought the formula into this sheet, for the program that pasted it to resolve
    // the formula's references to other sheets before it saves; kNoFormula for a formula read
    // from a file or already resolved.
    uint32_t pasteId = kNoFormula;
    // With a paste: the box of the source cells that paste gave this formula, in the source
    // sheet's rows and columns, so that what the formula becomes where it landed is known without
    // going through the cells; the paste's whole block where it is not known.
    std::optional<CellRange> pastedFrom;
};

// One stretch of spilled rows, in the spill file.
struct SpilledChunk {
    uint64_t offset = 0;
    uint32_t bytes = 0;
    uint32_t rowCount = 0;
};

// What a writer asks of a sheet's spilled rows before it goes through them: kept as the rows are
// spilled, so that nothing needs reading back twice.
struct SpillSummary {
    uint64_t rows = 0;
    uint64_t cells = 0;
    uint32_t lastRow = 0;         // the index of the last spilled row
    uint32_t lastRowFirstCol = 0; // the column of that row's first cell, for messages
    // The rows' first to last cells (a stored dimension), and the cells that hold a value or a
    // format (a used range); both nullopt when no spilled row has such cells.
    std::optional<CellRange> cellBox;
    std::optional<CellRange> usedBox;
    uint8_t outlineLevel = 0;   // the deepest row outline level
    bool formulas = false;      // some spilled cell points at a formula
    bool blankFormulas = false; // some spilled cell points at a formula and holds no value
};

// The rows of one sheet that sit in a spill file: all of them come before the rows the sheet holds
// in memory. Chunks are never changed once written: a chunk rewritten goes to the end of the file,
// so that copies of a sheet may share them.
class SpilledRows {
public:
    // Rows are spilled in chunks of about this many cells, which is what reading them back holds
    // in memory at a time.
    static constexpr size_t kChunkCells = 1 << 16;

    bool Empty() const { return m_chunks.empty(); }
    const SpillSummary& Summary() const { return m_summary; }
    size_t ChunkCount() const { return m_chunks.size(); }
    const SpilledChunk& Chunk(size_t index) const { return m_chunks.at(index); }

    // Appends `rows` (ascending by index, cells ascending by column, all after the rows spilled so
    // far) to `file`. Gives false, with nothing spilled, when the rows are not in that order.
    bool Spill(const std::shared_ptr<SpillFile>& file, std::span<const Row> rows);
    // Reads chunk `index` back into `out` (its rows replace what `out` held; their cell storage is
    // reused where it can be).
    void ReadChunk(size_t index, std::vector<Row>& out) const;
    // Writes the rows of chunk `index`, changed in their cells but not in their number, order or
    // indexes, in place of the chunk.
    void RewriteChunk(size_t index, std::span<const Row> rows);
    void Clear();

private:
    std::shared_ptr<SpillFile> m_file;
    std::vector<SpilledChunk> m_chunks;
    SpillSummary m_summary;
};

enum class SheetState : uint8_t { Visible, Hidden, VeryHidden };

// The content of one worksheet.
class Worksheet {
public:
    // The row with this index, created (empty, default height) when missing. Appending rows in
    // ascending order is the fast path.
    Row& RowAt(uint32_t index);
    // The row for a reader to fill: the last row when it has this index, otherwise a new row at the
    // end, even where that breaks the order or repeats an index. The reader calls Normalize once
    // when done, so that rows and cells in any order cost O(n log n), not an insertion each.
    Row& LoadRow(uint32_t index)
    {
        if (rows.empty() || rows.back().index != index) {
            rows.emplace_back().index = index;
        }
        return rows.back();
    }
    const Row* FindRow(uint32_t index) const;
    // The cell at (row, col), created blank with style 0 when missing.
    Cell& CellAt(uint32_t row, uint32_t col);
    const Cell* FindCell(uint32_t row, uint32_t col) const;

    void SetNumber(uint32_t row, uint32_t col, double value, uint32_t style = 0);
    void SetString(uint32_t row, uint32_t col, uint32_t textIndex, uint32_t style = 0);
    void SetBoolean(uint32_t row, uint32_t col, bool value, uint32_t style = 0);
    void SetError(uint32_t row, uint32_t col, ErrorCode value, uint32_t style = 0);
    void SetBlank(uint32_t row, uint32_t col, uint32_t style);

    // Sorts rows and cells and drops duplicate cells (the last one wins); readers call it once
    // after loading a sheet whose rows may have come out of order.
    void Normalize();
    // Whether the rows in memory are in strictly rising order and so are the cells of each row, as
    // the writers need them (Normalize makes them so).
    bool InOrder() const;

    // The bounding box of every cell that holds a value, a kept formula or a non-default format
    // (IsUsedCell), extended by the merged ranges; nullopt for a sheet with none of them. Spilled rows count.
    std::optional<CellRange> UsedRange() const;
    // Number of stored cells, spilled ones included.
    size_t CellCount() const;

    // Moves the rows above row `index` (all rows for UINT32_MAX) from memory to `file`, after the
    // rows spilled before. Gives false, moving nothing, when those rows are not in order.
    // `spilled`, when given, sees the rows once they are in the file, before memory lets them go.
    bool SpillRowsBefore(uint32_t index, const std::shared_ptr<SpillFile>& file,
                         const std::function<void(std::span<const Row>)>& spilled = {});
    // Brings every spilled row back into `rows`.
    void RestoreSpilled();

    // Calls `visit` with every row in order: the spilled rows read back a chunk at a time, then the
    // rows in memory. For going through a large sheet without holding all of it.
    template <class F>
    void VisitRows(F&& visit) const
    {
        std::vector<Row> batch;
        for (size_t i = 0; i < spilled.ChunkCount(); ++i) {
            spilled.ReadChunk(i, batch);
            for (const Row& row : batch) {
                visit(row);
            }
        }
        for (const Row& row : rows) {
            visit(row);
        }
    }
    // As VisitRows, for changing cells (not rows, their order or their number): each spilled chunk
    // is written back once visited. A `visit` that gives a bool says whether it changed the row,
    // and a chunk none of whose rows changed stays as it is on disk.
    template <class F>
    void UpdateRows(F&& visit)
    {
        std::vector<Row> batch;
        for (size_t i = 0; i < spilled.ChunkCount(); ++i) {
            spilled.ReadChunk(i, batch);
            bool changed = false;
            for (Row& row : batch) {
                if constexpr (std::is_same_v<std::invoke_result_t<F&, Row&>, bool>) {
                    changed = visit(row) || changed;
                } else {
                    visit(row);
                    changed = true;
                }
            }
            if (changed) {
                spilled.RewriteChunk(i, batch);
            }
        }
        for (Row& row : rows) {
            visit(row);
        }
    }

    // Column information for one column (nullptr when the column has default settings).
    const ColumnInfo* FindColumn(uint32_t col) const;
    // Sets the width of columns [first, last], splitting existing entries as needed.
    void SetColumn(const ColumnInfo& info);

    std::vector<Row> rows;           // ascending by index
    SpilledRows spilled;             // rows before `rows`, set aside in a spill file
    std::vector<CellRange> merges;   // never overlapping
    std::vector<ColumnInfo> columns; // ascending, non-overlapping
    std::vector<Hyperlink> hyperlinks;
    std::vector<FormulaEntry> formulas; // what cells' formulaIndex points at
    double defaultColWidth = 0;         // characters; 0: the format's default
    double defaultRowHeight = 0;        // points; 0: the format's default
    uint32_t frozenRows = 0;            // rows above the frozen pane split, 0 for none
    uint32_t frozenCols = 0;
    // Where the summary row of an outline group sits, below its rows or above them, and the
    // summary column, right or left of its columns: the group's button sits beside the summary,
    // so these decide which way a group folds. Both formats default to below and right.
    bool summaryBelow = true;
    bool summaryRight = true;
};

// Workbook-wide text storage: each distinct text is stored once.
class StringTable {
public:
    uint32_t Intern(std::string_view text);
    const std::string& At(uint32_t index) const;
    size_t Size() const { return m_strings.size(); }
    // Prepares the index for `count` more texts, so that a reader that knows how many are coming
    // (a shared-string table) does not pay for rehashing as it grows.
    void Reserve(size_t count) { m_index.reserve(m_index.size() + count); }

private:
    std::deque<std::string> m_strings; // a deque keeps element addresses stable for the index
    std::unordered_map<std::string_view, uint32_t> m_index;
};

class Workbook;

// Loads worksheets on demand. A reader leaves one of these with the workbook it opens, holding
// whatever it needs (the mapped file, the per-file style map).
class SheetSource {
public:
    virtual ~SheetSource() = default;
    virtual void LoadSheet(Workbook& workbook, size_t index, Worksheet& out) = 0;
    // Throws IoError when the file the sheets come from has changed since it was opened.
    virtual void CheckInput() const {}
};

// Sees the rows of a workbook being built as they are spilled, so that a writer can turn them into
// their part of the saved file while the workbook is still being built (the xlsx writer's row
// stager, engine/xlsx/XlsxRowStager.h). What it prepares is only ever a head start: the save
// checks that the sheets are still what it saw, and writes them afresh where they are not.
class RowStager {
public:
    virtual ~RowStager() = default;
    // Rows of sheet `index` have just been spilled: they are the sheet's spilled chunks from
    // `firstChunk` on. Never throws: a stager that cannot go on stops preparing.
    virtual void RowsSpilled(Workbook& workbook, size_t index, const Worksheet& sheet, size_t firstChunk,
                             std::span<const Row> rows) noexcept = 0;
    // Sheet `index` keeps its place and its spilled rows stay as they are: they, and the rows
    // spilled after them, may be prepared. Never throws.
    virtual void Follow(Workbook& workbook, size_t index, const Worksheet& sheet) noexcept = 0;
    // As Follow, for a workbook whose sheets are finished in an order of their own rather than the
    // order they are saved in (a multi-sheet merge adds each sheet before the one it left): from
    // the first call on, rows are prepared in the order sheets are followed, and the saved file may
    // number its texts and cell formats in that order. Following another sheet ends the one
    // followed before; rows a sheet gains after that are written at save. Never throws.
    virtual void FollowInAnyOrder(Workbook& workbook, size_t index, const Worksheet& sheet) noexcept = 0;
};

struct SheetInfo {
    std::string name;
    SheetState state = SheetState::Visible;
    std::unique_ptr<Worksheet> data; // null until loaded
    // The sheet's index for the sheet source (its position when the reader added it), which
    // stays right when sheets are inserted before it; SIZE_MAX for a sheet that no source holds.
    size_t sourceIndex = SIZE_MAX;
};

class Workbook {
public:
    Workbook();
    explicit Workbook(const Font& defaultFont);

    size_t SheetCount() const { return m_sheets.size(); }
    const std::string& SheetName(size_t index) const { return m_sheets.at(index).name; }
    void SetSheetName(size_t index, std::string name) { m_sheets.at(index).name = std::move(name); }
    // Throws LimitError naming the first sheet whose name breaks the sheet-name rule or equals an
    // earlier sheet's name without regard to case: both writers refuse such a workbook.
    void CheckSheetNames() const;
    // Renames every sheet whose name equals an earlier one's without regard to case to a distinct
    // name ("Data (2)"), so that every sheet can be found by its name; gives how many were renamed.
    size_t MakeSheetNamesDistinct();
    SheetState SheetStateAt(size_t index) const { return m_sheets.at(index).state; }
    void SetSheetState(size_t index, SheetState state) { m_sheets.at(index).state = state; }

    // The sheets' states as a file saves them and the sheet it shows first. Office suites refuse a
    // workbook without a visible sheet, and show a hidden active sheet as active while hiding it.
    // The active sheet is the one the user is meant to see, so it becomes visible when nothing else
    // is; otherwise the first visible sheet becomes the active one. Throws EngineError for a
    // workbook without sheets and LimitError as CheckSheetNames does.
    struct SavedSheets {
        std::vector<SheetState> states;
        size_t activeTab = 0;
    };
    SavedSheets SheetsToSave() const;

    // The sheet's content, loaded through the sheet source the first time it is asked for, with
    // any spilled rows back in memory.
    Worksheet& Sheet(size_t index);
    // The sheet's content with its spilled rows left where they are: for code that goes through
    // rows with VisitRows or only works below the spilled rows.
    Worksheet& SheetKeepingSpill(size_t index);
    // Moves the rows of a loaded sheet above row `index` (all of them for UINT32_MAX) to the
    // workbook's spill file, made on first use; they come back when Sheet asks for the sheet.
    // Gives false when nothing could be moved (the sheet is not loaded or not in order).
    bool SpillRows(size_t index, uint32_t beforeRow = UINT32_MAX);
    // Says that a loaded sheet keeps its place in the workbook and that its spilled rows are
    // final, so that the row stager, where there is one, may prepare them for the save.
    void StageRows(size_t index);
    // As StageRows, for a sheet finished out of the order the sheets are saved in: the row stager
    // may prepare sheets in the order they are named here (RowStager::FollowInAnyOrder).
    void StageRowsInAnyOrder(size_t index);
    // The row stager sees every spill from now on; the save takes it back (TakeRowStager).
    void SetRowStager(std::shared_ptr<RowStager> stager) { m_stager = std::move(stager); }
    std::shared_ptr<RowStager> TakeRowStager() { return std::move(m_stager); }
    bool IsSheetLoaded(size_t index) const { return m_sheets.at(index).data != nullptr; }
    // Drops a loaded sheet's content; it is loaded again when next asked for. Sheets that no
    // source holds (inserted ones) keep their content.
    void UnloadSheet(size_t index);

    // Adds an empty, loaded sheet at `position` (SheetCount() appends) and gives its index.
    size_t InsertSheet(size_t position, std::string name, SheetState state = SheetState::Visible);
    // Adds a sheet whose content the sheet source loads later.
    void AddUnloadedSheet(std::string name, SheetState state);

    size_t ActiveSheet() const { return m_active; }
    void SetActiveSheet(size_t index) { m_active = index; }

    bool Date1904() const { return m_date1904; }
    void SetDate1904(bool value) { m_date1904 = value; }

    // Whether some formula's cached value may no longer hold, so that an application opening the
    // saved file must compute every formula.
    bool FullCalcOnLoad() const { return m_fullCalcOnLoad; }
    void SetFullCalcOnLoad(bool value) { m_fullCalcOnLoad = value; }

    StringTable& Strings() { return m_strings; }
    const StringTable& Strings() const { return m_strings; }
    StyleTable& Styles() { return m_styles; }
    const StyleTable& Styles() const { return m_styles; }

    void SetSheetSource(std::unique_ptr<SheetSource> source) { m_source = std::move(source); }

    // Where rows set aside go: a folder on the disk the workbook will be saved to (the save needs
    // room there anyway, and a temporary folder may be held in memory); empty for the temporary
    // folder.
    void SetSpillFolder(std::string folder) { m_spillFolder = std::move(folder); }

    // Where the workbook was read from (for messages); empty for a new workbook.
    const std::string& SourcePath() const { return m_sourcePath; }
    void SetSourcePath(std::string path) { m_sourcePath = std::move(path); }

private:
    // A deque: a merge adds each sheet before the one it left, near the front, which a vector
    // would pay for by moving every sheet after it.
    std::deque<SheetInfo> m_sheets;
    size_t m_active = 0;
    bool m_date1904 = false;
    bool m_fullCalcOnLoad = false;
    StringTable m_strings;
    StyleTable m_styles;
    std::unique_ptr<SheetSource> m_source;
    std::string m_sourcePath;
    std::shared_ptr<SpillFile> m_spill;
    std::string m_spillFolder;
    std::shared_ptr<RowStager> m_stager;
};

// Serial date numbers: the 1904 system counts 1,462 days fewer than the 1900 system.
inline constexpr double kDate1904Offset = 1462.0;

} // namespace gq::engine
