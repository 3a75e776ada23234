// Block copy between workbook models: cells, formats, texts, merges, hyperlinks, sizes and dates.
// SPDX-License-Identifier: Apache-2.0
#include "automation/Paste.h"

#include "automation/SpreadsheetServer.h"
#include "common/NumberText.h"
#include "engine/Limits.h"
#include "engine/StageTimes.h"
#include "engine/text/Utf8.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

namespace gq::automation {

using engine::Cell;
using engine::CellRange;
using engine::CellRef;
using engine::CellType;
using engine::ColumnInfo;
using engine::Row;
using engine::Worksheet;

bool FormatHasDatePart(std::string_view code)
{
    // Only the first section counts, as for the date test itself. Quoted text, escaped and padding
    // characters and bracketed parts (elapsed time, colours, conditions, locales) are skipped: none
    // of them is a calendar token.
    bool month = false;
    bool time = false;
    for (size_t i = 0; i < code.size(); ++i) {
        char c = code[i];
        if (c == '"') {
            size_t close = code.find('"', i + 1);
            if (close == std::string_view::npos) {
                break;
            }
            i = close;
            continue;
        }
        if (c == '\\' || c == '_' || c == '*') {
            ++i;
            continue;
        }
        if (c == ';') {
            break;
        }
        if (c == '[') {
            size_t close = code.find(']', i);
            if (close == std::string_view::npos) {
                break;
            }
            // [h], [mm], [ss]: elapsed time, which makes a neighbouring "m" mean minutes.
            char first = i + 1 < close ? static_cast<char>(code[i + 1] | 0x20) : '\0';
            if (first == 'h' || first == 'm' || first == 's') {
                time = true;
            }
            i = close;
            continue;
        }
        switch (c | 0x20) {
        case 'd':
        case 'y':
            return true;
        case 'm':
            month = true;
            break;
        case 'h':
        case 's':
            time = true;
            break;
        default:
            break;
        }
    }
    // "m" next to hours or seconds means minutes; on its own it means the month.
    return month && !time;
}

namespace {

constexpr uint32_t kUnmapped = std::numeric_limits<uint32_t>::max();

// Per-paste translation of source format and text indexes into the target's tables, keeping to
// what the output format holds.
class Translator {
public:
    Translator(const engine::Workbook& from, engine::Workbook& to, const engine::OutputFormat& output,
               PasteNotes& notes)
        : m_from(from), m_to(to), m_same(&from == &to), m_output(output), m_notes(notes)
    {
        if (from.Date1904() != to.Date1904()) {
            m_shift = from.Date1904() ? engine::kDate1904Offset : -engine::kDate1904Offset;
        }
        if (!m_same) {
            m_xf.assign(from.Styles().CellFormats().size(), kUnmapped);
            m_text.assign(from.Strings().Size(), kUnmapped);
            m_general.assign(from.Styles().CellFormats().size(), 0);
        }
        m_dateXf.assign(from.Styles().CellFormats().size(), -1);
    }

    uint32_t Style(uint32_t xf)
    {
        if (xf >= m_from.Styles().CellFormats().size()) {
            xf = 0; // a dangling index shows as the default format, as the style table resolves it
        }
        if (m_same) {
            return xf;
        }
        uint32_t& mapped = m_xf[xf];
        if (mapped == kUnmapped) {
            mapped = MapStyle(xf);
        }
        return mapped;
    }

    // Style() for a cell, counting the cells that lose their number format to the output format.
    uint32_t CellStyle(uint32_t xf)
    {
        uint32_t mapped = Style(xf);
        if (xf < m_general.size() && m_general[xf] != 0) {
            ++m_notes.generalCells;
        }
        return mapped;
    }

    uint32_t Text(uint32_t index)
    {
        if (m_same) {
            return index;
        }
        if (index >= m_text.size()) {
            return m_to.Strings().Intern(m_from.Strings().At(index));
        }
        uint32_t& mapped = m_text[index];
        if (mapped == kUnmapped) {
            mapped = m_to.Strings().Intern(m_from.Strings().At(index));
        }
        return mapped;
    }

    double Number(uint32_t xf, double value)
    {
        if (m_shift == 0 || xf >= m_dateXf.size()) {
            return value;
        }
        int8_t& isDate = m_dateXf[xf];
        if (isDate < 0) {
            const auto& styles = m_from.Styles();
            isDate =
                (styles.IsDateFormat(xf) && FormatHasDatePart(styles.NumberFormats().at(styles.FormatAt(xf).numFmt)))
                    ? 1
                    : 0;
        }
        if (isDate == 0) {
            return value;
        }
        double moved = value + m_shift;
        // The 1904 system has no days before 1904-01-01: such a 1900 date stays as it is.
        return moved < 0 ? value : moved;
    }

    void SetSheets(const Worksheet& from, Worksheet& to, uint32_t pasteId)
    {
        m_fromSheet = &from;
        m_toSheet = &to;
        m_pasteId = pasteId;
        m_formulas.assign(from.formulas.size(), kUnmapped);
    }

    void UnreadFormula() { ++m_notes.unreadFormulas; }

    // The target sheet's formula entry for a source cell's, copied on its first use. The copy
    // keeps its anchor, so that the pasted cell has the formula moved by the paste's offset: its
    // relative references follow it and its absolute ones stay.
    // The box of source cells given each entry goes with it, for resolving the formulas later.
    uint32_t Formula(uint32_t index, uint32_t row, uint32_t col)
    {
        if (index >= m_formulas.size()) {
            return engine::kNoFormula;
        }
        uint32_t& mapped = m_formulas[index];
        if (mapped == kUnmapped) {
            engine::FormulaEntry entry = m_fromSheet->formulas[index];
            entry.pasteId = m_pasteId;
            entry.pastedFrom = CellRange{row, col, row, col};
            mapped = static_cast<uint32_t>(m_toSheet->formulas.size());
            m_toSheet->formulas.push_back(std::move(entry));
            return mapped;
        }
        engine::ExtendRange(m_toSheet->formulas[mapped].pastedFrom, CellRange{row, col, row, col});
        return mapped;
    }

private:
    uint32_t MapStyle(uint32_t xf)
    {
        engine::ResolvedStyle style = m_from.Styles().Resolve(xf);
        if (m_output.maxNumberFormatChars != SIZE_MAX &&
            engine::Utf16Length(style.numFmt) > m_output.maxNumberFormatChars) {
            style.numFmt = "General";
            m_general[xf] = 1;
        }
        engine::StyleTable& styles = m_to.Styles();
        if (std::optional<uint32_t> found = styles.FindStyle(style)) {
            return *found;
        }
        if (styles.CellFormats().size() < m_output.maxCellFormats) {
            return styles.InternStyle(style);
        }
        ++m_notes.formatsMerged;
        return styles.NearestStyle(style);
    }

    const engine::Workbook& m_from;
    engine::Workbook& m_to;
    bool m_same;
    const engine::OutputFormat& m_output;
    PasteNotes& m_notes;
    const Worksheet* m_fromSheet = nullptr;
    Worksheet* m_toSheet = nullptr;
    uint32_t m_pasteId = engine::kNoFormula;
    std::vector<uint32_t> m_formulas;
    double m_shift = 0;
    std::vector<uint32_t> m_xf;
    std::vector<uint32_t> m_text;
    std::vector<int8_t> m_dateXf;
    std::vector<uint8_t> m_general;
};

struct Placement {
    CellRange block; // in the source
    uint32_t toRow;  // where the block's top-left lands
    uint32_t toCol;
    uint32_t ToRow(uint32_t row) const { return row - block.firstRow + toRow; }
    uint32_t ToCol(uint32_t col) const { return col - block.firstCol + toCol; }
    uint32_t LastRow() const { return ToRow(block.lastRow); }
    uint32_t LastCol() const { return ToCol(block.lastCol); }
};

// Appends the block's cells of one source row, translated, to `out`.
void AppendPastedCells(const Row& src, const Placement& p, Translator& tr, std::vector<Cell>& out)
{
    auto first = std::lower_bound(src.cells.begin(), src.cells.end(), p.block.firstCol,
                                  [](const Cell& c, uint32_t col) { return c.col < col; });
    auto last = std::upper_bound(first, src.cells.end(), p.block.lastCol,
                                 [](uint32_t col, const Cell& c) { return col < c.col; });
    out.reserve(out.size() + static_cast<size_t>(last - first));
    for (auto it = first; it != last; ++it) {
        const Cell& c = *it;
        if (c.formula && c.formulaIndex == engine::kNoFormula) {
            tr.UnreadFormula(); // a formula the reader could not keep: its value only
        }
        if (c.type == CellType::Blank && c.style == 0 && c.formulaIndex == engine::kNoFormula) {
            continue;
        }
        Cell cell = c;
        cell.col = p.ToCol(c.col);
        cell.style = tr.CellStyle(c.style);
        if (c.formulaIndex != engine::kNoFormula) {
            cell.formulaIndex = tr.Formula(c.formulaIndex, src.index, c.col);
        }
        if (c.type == CellType::String) {
            cell.text = tr.Text(c.text);
        } else if (c.type == CellType::Number) {
            cell.number = tr.Number(c.style, c.number);
        }
        out.push_back(cell);
    }
}

// The height a source row shows, or 0 for the format's default.
float SourceHeight(const Row& src, const Worksheet& from)
{
    if (src.height > 0) {
        return src.height;
    }
    return static_cast<float>(from.defaultRowHeight);
}

void ApplyHeight(Row& target, float height, const Worksheet& to)
{
    if (height <= 0 || target.height > 0 || target.customHeight) {
        return;
    }
    if (to.defaultRowHeight > 0 && static_cast<float>(to.defaultRowHeight) == height) {
        return;
    }
    target.height = height;
    target.customHeight = true;
}

// Carries a source row's visibility, outline level and own format to the target row. A row that
// either side hides or groups stays hidden or grouped; the target's own format is kept where it
// has one, as its height is.
void ApplyRowSettings(Row& target, const Row& src, Translator& tr)
{
    target.hidden = target.hidden || src.hidden;
    target.collapsed = target.collapsed || src.collapsed;
    target.outlineLevel = std::max(target.outlineLevel, src.outlineLevel);
    if (target.style == 0 && src.style != 0) {
        target.style = tr.Style(src.style);
    }
}

// A target row made from a source row, for a place where the target had no row.
Row NewRow(const Row& src, const Placement& p, Translator& tr, const Worksheet& from, const Worksheet& to)
{
    Row row;
    row.index = p.ToRow(src.index);
    AppendPastedCells(src, p, tr, row.cells);
    ApplyHeight(row, SourceHeight(src, from), to);
    ApplyRowSettings(row, src, tr);
    return row;
}

// Overwrites the pasted columns of an existing target row with the source row (or clears them when
// the source has no row there).
void MergeIntoRow(Row& target, const Row* src, const Placement& p, Translator& tr, const Worksheet& from,
                  const Worksheet& to)
{
    uint32_t firstCol = p.toCol;
    uint32_t lastCol = p.LastCol();
    auto begin = std::lower_bound(target.cells.begin(), target.cells.end(), firstCol,
                                  [](const Cell& c, uint32_t col) { return c.col < col; });
    auto end =
        std::upper_bound(begin, target.cells.end(), lastCol, [](uint32_t col, const Cell& c) { return col < c.col; });
    std::vector<Cell> pasted;
    if (src != nullptr) {
        AppendPastedCells(*src, p, tr, pasted);
        ApplyHeight(target, SourceHeight(*src, from), to);
        ApplyRowSettings(target, *src, tr);
    }
    auto pos = target.cells.erase(begin, end);
    target.cells.insert(pos, pasted.begin(), pasted.end());
}

// `spillBefore(row)` may set the target's rows above `row` aside: a long paste that only appends
// rows hands them on as it goes, so that a large block is never held twice (source and target).
void PasteRows(const Worksheet& from, Worksheet& to, const Placement& p, Translator& tr,
               const std::function<void(uint32_t)>& spillBefore)
{
    auto srcBegin = std::lower_bound(from.rows.begin(), from.rows.end(), p.block.firstRow,
                                     [](const Row& r, uint32_t index) { return r.index < index; });
    auto srcEnd = std::upper_bound(srcBegin, from.rows.end(), p.block.lastRow,
                                   [](uint32_t index, const Row& r) { return index < r.index; });
    auto keep = [&](const Row& r) { return !r.cells.empty() || r.HasSettings(); };

    auto dstBegin = std::lower_bound(to.rows.begin(), to.rows.end(), p.toRow,
                                     [](const Row& r, uint32_t index) { return r.index < index; });
    if (dstBegin == to.rows.end()) {
        // The usual case: nothing at or below the paste position, so rows are only appended. The
        // room grows by doubling: room for just these rows would move every row of a sheet that a
        // single-sheet merge pastes into again at each paste.
        const size_t needed = to.rows.size() + static_cast<size_t>(srcEnd - srcBegin);
        if (needed > to.rows.capacity()) {
            to.rows.reserve(std::max(needed, 2 * to.rows.capacity()));
        }
        size_t unspilled = 0;
        for (auto it = srcBegin; it != srcEnd; ++it) {
            Row row = NewRow(*it, p, tr, from, to);
            if (keep(row)) {
                if (unspilled >= engine::SpilledRows::kChunkCells && spillBefore) {
                    spillBefore(row.index);
                    unspilled = 0;
                }
                unspilled += row.cells.size();
                to.rows.push_back(std::move(row));
            }
        }
        return;
    }

    // Otherwise the pasted rows are merged with the target's rows in one ordered pass.
    size_t before = static_cast<size_t>(dstBegin - to.rows.begin());
    auto dstEnd = std::upper_bound(dstBegin, to.rows.end(), p.LastRow(),
                                   [](uint32_t index, const Row& r) { return index < r.index; });
    std::vector<Row> merged;
    merged.reserve(to.rows.size() + static_cast<size_t>(srcEnd - srcBegin));
    for (size_t i = 0; i < before; ++i) {
        merged.push_back(std::move(to.rows[i]));
    }
    auto s = srcBegin;
    auto d = dstBegin;
    while (s != srcEnd || d != dstEnd) {
        uint32_t sIndex = s != srcEnd ? p.ToRow(s->index) : std::numeric_limits<uint32_t>::max();
        uint32_t dIndex = d != dstEnd ? d->index : std::numeric_limits<uint32_t>::max();
        if (sIndex < dIndex) {
            Row row = NewRow(*s, p, tr, from, to);
            if (keep(row)) {
                merged.push_back(std::move(row));
            }
            ++s;
        } else if (dIndex < sIndex) {
            MergeIntoRow(*d, nullptr, p, tr, from, to);
            merged.push_back(std::move(*d));
            ++d;
        } else {
            MergeIntoRow(*d, &*s, p, tr, from, to);
            merged.push_back(std::move(*d));
            ++s;
            ++d;
        }
    }
    for (auto it = dstEnd; it != to.rows.end(); ++it) {
        merged.push_back(std::move(*it));
    }
    to.rows = std::move(merged);
}

// The width a source column shows, or 0 for the format's default.
double SourceWidth(const Worksheet& from, uint32_t col)
{
    const ColumnInfo* info = from.FindColumn(col);
    if (info != nullptr && info->width > 0) {
        return info->width;
    }
    return from.defaultColWidth;
}

// Carries the block's column settings to the target's columns: widths where the target column still
// has the default width, hidden state and outline levels (a column either side hides or groups
// stays so), and a column's own format where the target column has none.
void PasteColumns(const Worksheet& from, Worksheet& to, const Placement& p, Translator& tr)
{
    auto sameSettings = [](const ColumnInfo& a, const ColumnInfo& b) {
        return a.width == b.width && a.customWidth == b.customWidth && a.hidden == b.hidden && a.style == b.style &&
               a.outlineLevel == b.outlineLevel && a.collapsed == b.collapsed;
    };
    // Runs of neighbouring columns that get the same settings become one column entry.
    bool open = false;
    ColumnInfo run;
    std::vector<ColumnInfo> pending;
    auto closeRun = [&] {
        if (open) {
            pending.push_back(run);
            open = false;
        }
    };
    for (uint32_t col = p.block.firstCol; col <= p.block.lastCol; ++col) {
        uint32_t target = p.ToCol(col);
        const ColumnInfo* source = from.FindColumn(col);
        double width = SourceWidth(from, col);
        const ColumnInfo* existing = to.FindColumn(target);
        ColumnInfo info = existing != nullptr ? *existing : ColumnInfo{};
        info.first = target;
        info.last = target;
        bool changed = false;
        bool targetDefault = existing == nullptr || (existing->width <= 0 && !existing->customWidth);
        if (width > 0 && targetDefault && !(existing == nullptr && to.defaultColWidth == width)) {
            info.width = width;
            info.customWidth = true;
            changed = true;
        }
        if (source != nullptr) {
            if (source->hidden && !info.hidden) {
                info.hidden = true;
                changed = true;
            }
            if (source->collapsed && !info.collapsed) {
                info.collapsed = true;
                changed = true;
            }
            if (source->outlineLevel > info.outlineLevel) {
                info.outlineLevel = source->outlineLevel;
                changed = true;
            }
            if (source->style != 0 && info.style == 0) {
                info.style = tr.Style(source->style);
                changed = info.style != 0 || changed;
            }
        }
        if (!changed) {
            closeRun();
            continue;
        }
        if (open && run.last + 1 == target && sameSettings(run, info)) {
            run.last = target;
            continue;
        }
        closeRun();
        run = info;
        open = true;
    }
    closeRun();
    // Applied after the scan so that the scan reads the target's columns as they were.
    for (const ColumnInfo& info : pending) {
        to.SetColumn(info);
    }
}

void PasteMerges(const Worksheet& from, Worksheet& to, const Placement& p, const CellRange& area)
{
    std::erase_if(to.merges, [&](const CellRange& m) { return m.Intersects(area); });
    for (const CellRange& m : from.merges) {
        if (p.block.Contains(m)) {
            to.merges.push_back(
                CellRange{p.ToRow(m.firstRow), p.ToCol(m.firstCol), p.ToRow(m.lastRow), p.ToCol(m.lastCol)});
        }
    }
}

void PasteHyperlinks(const Worksheet& from, Worksheet& to, const Placement& p, const CellRange& area,
                     const engine::OutputFormat& output, PasteNotes& notes)
{
    std::erase_if(to.hyperlinks, [&](const engine::Hyperlink& h) { return area.Contains(h.range); });
    for (const engine::Hyperlink& h : from.hyperlinks) {
        if (!p.block.Intersects(h.range)) {
            continue;
        }
        engine::Hyperlink link = h;
        CellRange r{std::max(h.range.firstRow, p.block.firstRow), std::max(h.range.firstCol, p.block.firstCol),
                    std::min(h.range.lastRow, p.block.lastRow), std::min(h.range.lastCol, p.block.lastCol)};
        link.range = CellRange{p.ToRow(r.firstRow), p.ToCol(r.firstCol), p.ToRow(r.lastRow), p.ToCol(r.lastCol)};
        if (!output.HoldsHyperlink(link)) {
            ++notes.droppedLinks;
            continue;
        }
        to.hyperlinks.push_back(std::move(link));
    }
}

} // namespace

Extent ContentExtent(const Worksheet& sheet, const CellRange& block)
{
    Extent extent;
    auto reach = [&](const CellRange& r) {
        if (!block.Intersects(r)) {
            return;
        }
        extent.rows = std::max(extent.rows, std::min(r.lastRow, block.lastRow) - block.firstRow + 1);
        extent.cols = std::max(extent.cols, std::min(r.lastCol, block.lastCol) - block.firstCol + 1);
    };
    auto first = std::lower_bound(sheet.rows.begin(), sheet.rows.end(), block.firstRow,
                                  [](const Row& r, uint32_t v) { return r.index < v; });
    for (auto row = first; row != sheet.rows.end() && row->index <= block.lastRow; ++row) {
        for (const Cell& cell : row->cells) {
            if (cell.type != CellType::Blank || cell.formulaIndex != engine::kNoFormula) {
                reach(CellRange{row->index, cell.col, row->index, cell.col});
            }
        }
    }
    for (const CellRange& m : sheet.merges) {
        reach(m);
    }
    for (const engine::Hyperlink& h : sheet.hyperlinks) {
        reach(h.range);
    }
    return extent;
}

// Refuses, before anything is pasted, a block that neither writer could save: a text longer than a
// cell holds. The entry is then reported, and the save cannot fail for it at the end. Gives the
// number of cells the block pastes.
uint64_t CheckPastable(const engine::Workbook& from, const Worksheet& source, const CellRange& block)
{
    uint64_t cells = 0;
    using engine::limits::kMaxCellChars;
    std::vector<uint8_t> checked(from.Strings().Size(), 0);
    auto first = std::lower_bound(source.rows.begin(), source.rows.end(), block.firstRow,
                                  [](const Row& r, uint32_t v) { return r.index < v; });
    for (auto row = first; row != source.rows.end() && row->index <= block.lastRow; ++row) {
        for (const Cell& cell : row->cells) {
            if (cell.col < block.firstCol || cell.col > block.lastCol) {
                continue;
            }
            ++cells;
            if (cell.type != engine::CellType::String || cell.text >= checked.size() || checked[cell.text] != 0) {
                continue;
            }
            checked[cell.text] = 1;
            const size_t length = engine::Utf16Length(from.Strings().At(cell.text));
            if (length > kMaxCellChars) {
                throw ServerError("The cell " + engine::CellName(row->index, cell.col) + " holds a text of " +
                                  Thousands(length) + " characters, and a cell holds at most " +
                                  Thousands(kMaxCellChars));
            }
        }
    }
    return cells;
}

void PasteBlock(engine::Workbook& from, size_t fromSheet, const CellRange& copied, engine::Workbook& to, size_t toSheet,
                CellRef at, SheetCellCount* count, const engine::OutputFormat& output, PasteNotes* notesOut,
                uint32_t pasteId)
{
    using engine::limits::kXlsxMaxCols;
    using engine::limits::kXlsxMaxRows;
    engine::StageTimer timer(engine::Stage::Paste);
    CellRange block = copied;
    if (block.lastRow >= kXlsxMaxRows || block.lastCol >= kXlsxMaxCols || block.firstRow > block.lastRow ||
        block.firstCol > block.lastCol) {
        throw ServerError("The copied range is not a range of the sheet");
    }
    PasteNotes notes;
    const engine::SheetGrid grid = output.grid;
    uint64_t lastRow = uint64_t{at.row} + block.RowCount() - 1;
    uint64_t lastCol = uint64_t{at.col} + block.ColCount() - 1;
    if (lastRow >= grid.rows || lastCol >= grid.columns) {
        // Formatting alone may overhang the grid (whole rows formatted out to the last column are
        // common): the part that fits is pasted. Content that does not fit refuses the paste.
        const Extent content = ContentExtent(from.Sheet(fromSheet), block);
        if (at.row >= grid.rows || at.col >= grid.columns || uint64_t{at.row} + content.rows > grid.rows ||
            uint64_t{at.col} + content.cols > grid.columns) {
            throw ServerError("The copied range " + engine::RangeName(block) + " (" + Thousands(block.RowCount()) +
                              " rows, " + Thousands(block.ColCount()) + " columns) does not fit when pasted at " +
                              engine::CellName(at.row, at.col) + ": a sheet ends at row " + Thousands(grid.rows) +
                              " and column " + engine::ColumnName(grid.columns - 1));
        }
        lastRow = std::min<uint64_t>(lastRow, grid.rows - 1);
        lastCol = std::min<uint64_t>(lastCol, grid.columns - 1);
        block.lastRow = block.firstRow + static_cast<uint32_t>(lastRow - at.row);
        block.lastCol = block.firstCol + static_cast<uint32_t>(lastCol - at.col);
        notes.formattingDropped = true;
    }

    // Rows the server set aside stay on disk unless the paste reaches them.
    Worksheet& target = to.SheetKeepingSpill(toSheet);
    if (!target.spilled.Empty() && at.row <= target.spilled.Summary().lastRow) {
        target.RestoreSpilled();
    }
    const uint64_t cells = CheckPastable(from, from.Sheet(fromSheet), block);
    if (count != nullptr && count->cells + cells > count->limit) {
        throw ServerError("The sheet would hold more than " + Thousands(count->limit) +
                          " cells, the most a sheet may hold");
    }
    // A paste of a sheet onto itself reads from a snapshot, since the pasted area may overlap the
    // copied one.
    Worksheet snapshot;
    const Worksheet* source = &from.Sheet(fromSheet);
    if (source == &target) {
        snapshot = *source;
        source = &snapshot;
    }

    Placement p{block, at.row, at.col};
    CellRange area{at.row, at.col, static_cast<uint32_t>(lastRow), static_cast<uint32_t>(lastCol)};
    bool targetWasEmpty = target.rows.empty() && target.spilled.Empty() && target.merges.empty();

    Translator tr(from, to, output, notes);
    tr.SetSheets(*source, target, pasteId);
    // Rows are set aside as they are pasted only where the target is another sheet than the
    // source, which must stay whole while it is read.
    std::function<void(uint32_t)> spillBefore;
    if (source != &target) {
        spillBefore = [&to, toSheet](uint32_t row) { to.SpillRows(toSheet, row); };
    }
    PasteRows(*source, target, p, tr, spillBefore);
    PasteColumns(*source, target, p, tr);
    PasteMerges(*source, target, p, area);
    PasteHyperlinks(*source, target, p, area, output, notes);
    if (notesOut != nullptr) {
        *notesOut = notes;
    }

    if (count != nullptr) {
        count->cells += cells;
    }
    if (targetWasEmpty && at.row == 0 && at.col == 0) {
        // The first block pasted into a new sheet says which way its outline groups fold; later
        // blocks group their rows the same way, since a sheet has one setting for all its groups.
        target.summaryBelow = source->summaryBelow;
        target.summaryRight = source->summaryRight;
    }
    if (targetWasEmpty && at.row == 0 && at.col == 0 && target.frozenRows == 0 && target.frozenCols == 0) {
        target.frozenRows =
            source->frozenRows > block.firstRow ? std::min(source->frozenRows - block.firstRow, block.RowCount()) : 0;
        target.frozenCols =
            source->frozenCols > block.firstCol ? std::min(source->frozenCols - block.firstCol, block.ColCount()) : 0;
    }
}

} // namespace gq::automation
