// The worksheet parts of an xlsx package (xl/worksheets/sheetN.xml), streamed through the zip
// writer so that no sheet is ever held as XML in memory. The cells are the hot path of the whole
// writer and are written by hand into the part buffer; the rest of the part goes through XmlBuilder.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/formula/Formula.h"
#include "engine/text/Utf8.h"
#include "engine/xlsx/XlsxWriterParts.h"
#include "engine/xlsx/XlsxWriterXml.h"

#include <algorithm>
#include <optional>

namespace gq::engine::xlsxout {

namespace {

// Excel's defaults for a Calibri 11 workbook: 15 points a row, 8.43 digits plus padding a column.
constexpr double kDefaultRowHeight = 15.0;
constexpr double kDefaultColumnWidth = 9.140625;

bool InGrid(const CellRange& r)
{
    return r.firstRow <= r.lastRow && r.firstCol <= r.lastCol && r.lastRow < limits::kXlsxMaxRows &&
           r.lastCol < limits::kXlsxMaxCols;
}

// True when the text holds a control character that XML cannot carry in a formula: such a
// formula is written as its value alone rather than as text a reader would refuse.
bool HasControlCharacter(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r';
    });
}

// The <f> element of a cell with a kept formula (ECMA-376 Part 1, 18.3.1.40), an array formula with
// the range it fills.
// How a formula entry used by several cells is written as one shared formula (ECMA-376 Part 1,
// 18.3.1.40, t="shared"): its text once, in the top-left cell of the cells using it, which the
// others refer to by index.
struct SharedFormula {
    CellRange box;      // the cells that use the entry
    uint32_t cells = 0; // how many
    int64_t index = -1; // its si, or -1 when the entry is written per cell
};

// Finds the entries worth writing shared: used by more than one cell, not array formulas, their
// first cell in row order the top-left of the cells using them, and no reference of the formula
// leaving the grid anywhere in those cells, so that a reader that moves the first cell's text to
// each cell gets what the cell has.
std::vector<SharedFormula> FindSharedFormulas(const Worksheet& sheet)
{
    std::vector<SharedFormula> shared(sheet.formulas.size());
    if (shared.empty()) {
        return shared;
    }
    std::vector<CellRef> first(sheet.formulas.size());
    sheet.VisitRows([&](const Row& row) {
        for (const Cell& cell : row.cells) {
            if (cell.formulaIndex >= shared.size()) {
                continue;
            }
            SharedFormula& s = shared[cell.formulaIndex];
            CellRange here{row.index, cell.col, row.index, cell.col};
            if (s.cells == 0) {
                s.box = here;
                first[cell.formulaIndex] = CellRef{row.index, cell.col};
            } else {
                std::optional<CellRange> box = s.box;
                ExtendRange(box, here);
                s.box = *box;
            }
            ++s.cells;
        }
    });
    int64_t next = 0;
    formula::Formula f;
    std::string text;
    for (size_t i = 0; i < shared.size(); ++i) {
        SharedFormula& s = shared[i];
        const FormulaEntry& entry = sheet.formulas[i];
        if (s.cells < 2 || entry.arrayRows > 0 || !entry.formula || !entry.formula->Parsed() ||
            first[i].row != s.box.firstRow || first[i].col != s.box.firstCol || s.box.lastRow >= limits::kXlsxMaxRows ||
            s.box.lastCol >= limits::kXlsxMaxCols) {
            continue;
        }
        f = *entry.formula;
        if (!formula::MoveFormula(f, int64_t{s.box.firstRow} - entry.anchorRow,
                                  int64_t{s.box.firstCol} - entry.anchorCol)) {
            continue;
        }
        text.clear();
        formula::PrintFormula(f, text);
        if (text.empty() || HasControlCharacter(text) ||
            !formula::MoveFormula(f, s.box.lastRow - s.box.firstRow, s.box.lastCol - s.box.firstCol)) {
            continue;
        }
        s.index = next++;
    }
    return shared;
}

char* PutFormula(char* p, std::string_view text, const FormulaEntry& entry, uint32_t row, uint32_t col,
                 const SharedFormula* shared)
{
    p = Put(p, "<f");
    if (shared != nullptr) {
        p = Put(p, " t=\"shared\"");
        if (shared->box.firstRow == row && shared->box.firstCol == col) {
            p = Put(p, " ref=\"");
            p = Put(p, RangeName(shared->box));
            *p++ = '"';
        }
        p = Put(p, " si=\"");
        p = PutUint(p, static_cast<uint64_t>(shared->index));
        *p++ = '"';
        if (text.empty()) {
            return Put(p, "/>");
        }
    } else if (entry.arrayRows > 0) {
        CellRange range{
            row, col,
            static_cast<uint32_t>(std::min<uint64_t>(uint64_t{row} + entry.arrayRows - 1, limits::kXlsxMaxRows - 1)),
            static_cast<uint32_t>(std::min<uint64_t>(uint64_t{col} + entry.arrayCols - 1, limits::kXlsxMaxCols - 1))};
        p = Put(p, " t=\"array\" ref=\"");
        p = Put(p, RangeName(range));
        *p++ = '"';
    }
    *p++ = '>';
    p = EscapeText(p, text);
    return Put(p, "</f>");
}

// One <row> element and its cells. `shared` says which formulas are written shared; the other
// arguments are scratch space reused from row to row.
void WriteRow(PartStream& out, const Row& row, const Worksheet& sheet, OutputTables& tables,
              const std::vector<SharedFormula>& shared, formula::Formula& cellFormula, std::string& formulaText)
{
    char rowNumber[24];
    size_t rowDigits = static_cast<size_t>(PutUint(rowNumber, uint64_t{row.index} + 1) - rowNumber);
    std::string_view rowText(rowNumber, rowDigits);
    bool hasHeight = row.height > 0 && std::isfinite(row.height);
    bool open = false;
    const uint32_t rowStyle = row.style == 0 ? 0 : tables.MapXf(row.style, row.index, 0);
    auto rowStart = [&](char* p) {
        p = Put(p, "<row r=\"");
        p = Put(p, rowText);
        *p++ = '"';
        if (hasHeight) {
            p = Put(p, " ht=\"");
            p = std::to_chars(p, p + 24, row.height).ptr;
            *p++ = '"';
            if (row.customHeight) {
                p = Put(p, " customHeight=\"1\"");
            }
        }
        if (row.hidden) {
            p = Put(p, " hidden=\"1\"");
        }
        if (rowStyle != 0) {
            p = Put(p, " s=\"");
            p = PutUint(p, rowStyle);
            p = Put(p, "\" customFormat=\"1\"");
        }
        if (row.outlineLevel > 0) {
            p = Put(p, " outlineLevel=\"");
            p = PutUint(p, std::min(row.outlineLevel, kMaxOutlineLevel));
            *p++ = '"';
        }
        if (row.collapsed) {
            p = Put(p, " collapsed=\"1\"");
        }
        return p;
    };
    // A cell's start tag up to its type: its reference and format, after the row's own tag for
    // the row's first cell.
    auto cellStart = [&](char* p, const Cell& cell) {
        if (!open) {
            p = rowStart(p);
            *p++ = '>';
            open = true;
        }
        p = Put(p, "<c r=\"");
        p = PutColumn(p, cell.col);
        p = Put(p, rowText);
        *p++ = '"';
        const uint32_t style = cell.style == 0 ? 0 : tables.MapXf(cell.style, row.index, cell.col);
        if (style != 0) {
            p = Put(p, " s=\"");
            p = PutUint(p, style);
            *p++ = '"';
        }
        return p;
    };
    for (const Cell& cell : row.cells) {
        // A cell of a shared formula other than its first has no text of its own to write.
        const SharedFormula* const sharedFormula =
            cell.formulaIndex < shared.size() && shared[cell.formulaIndex].index >= 0 ? &shared[cell.formulaIndex]
                                                                                      : nullptr;
        const bool sharedFollower = sharedFormula != nullptr && (sharedFormula->box.firstRow != row.index ||
                                                                 sharedFormula->box.firstCol != cell.col);
        formulaText.clear();
        bool hasFormula = cell.formulaIndex != kNoFormula &&
                          (sharedFollower || (formula::CellFormula(sheet, row.index, cell, cellFormula) &&
                                              (formula::PrintFormula(cellFormula, formulaText),
                                               !formulaText.empty() && !HasControlCharacter(formulaText))));

        if (cell.type == CellType::Blank && cell.style == 0 && !hasFormula) {
            continue; // an empty cell with the default format says nothing
        }
        if (cell.col >= limits::kXlsxMaxCols) {
            throw LimitError(tables.Where(row.index, cell.col) +
                             ": the cell lies outside the xlsx grid (at most 16,384 columns, A to XFD)");
        }
        if (hasFormula) {
            // A string result is held in the cell itself (t="str"), not in the shared strings.
            size_t room = kCellRoom * 2 + kMaxEscapedGrowth * formulaText.size();
            if (cell.type == CellType::String) {
                room += kMaxEscapedGrowth * tables.Text(cell.text).size();
            }
            char* p = cellStart(out.Reserve(room), cell);
            const FormulaEntry& entry = sheet.formulas[cell.formulaIndex];
            bool finite = cell.type != CellType::Number || std::isfinite(cell.number);
            switch (cell.type) {
            case CellType::String:
                p = Put(p, " t=\"str\"");
                break;
            case CellType::Boolean:
                p = Put(p, " t=\"b\"");
                break;
            case CellType::Error:
                p = Put(p, " t=\"e\"");
                break;
            default:
                if (!finite) {
                    p = Put(p, " t=\"e\"");
                }
                break;
            }
            *p++ = '>';
            p = PutFormula(p, formulaText, entry, row.index, cell.col, sharedFormula);
            switch (cell.type) {
            case CellType::Blank:
                break;
            case CellType::Number:
                p = Put(p, "<v>");
                p = finite ? PutNumber(p, cell.number) : Put(p, "#NUM!");
                p = Put(p, "</v>");
                break;
            case CellType::String:
                p = Put(p, "<v>");
                p = EscapeText(p, tables.Text(cell.text));
                p = Put(p, "</v>");
                break;
            case CellType::Boolean:
                p = Put(p, cell.boolean ? "<v>1</v>" : "<v>0</v>");
                break;
            case CellType::Error:
                p = Put(p, "<v>");
                p = Put(p, ErrorText(cell.error));
                p = Put(p, "</v>");
                break;
            }
            p = Put(p, "</c>");
            out.Commit(p);
            continue;
        }
        char* p = cellStart(out.Reserve(kCellRoom * 2), cell);
        switch (cell.type) {
        case CellType::Blank:
            p = Put(p, "/>");
            break;
        case CellType::Number:
            if (std::isfinite(cell.number)) {
                p = Put(p, "><v>");
                p = PutNumber(p, cell.number);
                p = Put(p, "</v></c>");
            } else {
                // xlsx has no infinities or NaN; Excel shows such a result as #NUM!.
                p = Put(p, " t=\"e\"><v>#NUM!</v></c>");
            }
            break;
        case CellType::String:
            p = Put(p, " t=\"s\"><v>");
            p = PutUint(p, tables.MapString(cell.text, row.index, cell.col));
            p = Put(p, "</v></c>");
            break;
        case CellType::Boolean:
            p = Put(p, cell.boolean ? " t=\"b\"><v>1</v></c>" : " t=\"b\"><v>0</v></c>");
            break;
        case CellType::Error:
            p = Put(p, " t=\"e\"><v>");
            p = Put(p, ErrorText(cell.error));
            p = Put(p, "</v></c>");
            break;
        }
        out.Commit(p);
    }
    if (open) {
        out.Append("</row>");
    } else if (row.HasSettings()) {
        char* p = rowStart(out.Reserve(kCellRoom * 2));
        p = Put(p, "/>");
        out.Commit(p);
    }
}

// The rows of a sheet from spilled chunk `firstChunk` on, then the rows in memory: all of them
// unless the row stager prepared the first chunks.
void WriteSheetData(PartStream& out, const Worksheet& sheet, OutputTables& tables, size_t firstChunk = 0)
{
    formula::Formula cellFormula;
    std::string formulaText;
    const std::vector<SharedFormula> shared = FindSharedFormulas(sheet);
    std::vector<Row> batch;
    for (size_t i = firstChunk; i < sheet.spilled.ChunkCount(); ++i) {
        sheet.spilled.ReadChunk(i, batch);
        for (const Row& row : batch) {
            WriteRow(out, row, sheet, tables, shared, cellFormula, formulaText);
        }
    }
    for (const Row& row : sheet.rows) {
        WriteRow(out, row, sheet, tables, shared, cellFormula, formulaText);
    }
}

// Calls `write(column)` for each column entry the head writes, in order: `columns` sorted by
// their first column, entries overlapping an earlier one cut or left out, default ones left out.
template <class F>
void ForWrittenColumns(const std::vector<ColumnInfo>& columns, F&& write)
{
    uint32_t nextFree = 0;
    for (ColumnInfo c : columns) {
        // Overlapping entries cannot be written; an earlier entry keeps the columns it names.
        if (c.last < nextFree) {
            continue;
        }
        c.first = std::max(c.first, nextFree);
        nextFree = c.last + 1;
        if (c.width <= 0 && !c.customWidth && !c.hidden && c.style == 0 && c.outlineLevel == 0 && !c.collapsed) {
            continue;
        }
        write(c);
    }
}

std::vector<ColumnInfo> SortedColumns(const Worksheet& sheet)
{
    std::vector<ColumnInfo> columns = sheet.columns;
    std::stable_sort(columns.begin(), columns.end(),
                     [](const ColumnInfo& a, const ColumnInfo& b) { return a.first < b.first; });
    return columns;
}

// Everything of a worksheet before its cells: dimension, view, default sizes and column settings.
std::string SheetHead(const Worksheet& sheet, bool active, const std::vector<CellRange>& merges,
                      const std::vector<ColumnInfo>& columns, OutputTables& tables)
{
    std::string head(kXmlDecl);
    XmlBuilder xml(head);
    xml.Start("worksheet").Attribute("xmlns", kMainNs).Attribute("xmlns:r", kRelNs).EndStart();
    // CT_OutlinePr, ECMA-376 Part 1, 18.3.1.61: written only where a summary is above or left of
    // its group, since below and right are what a reader assumes without it.
    if (!sheet.summaryBelow || !sheet.summaryRight) {
        xml.Start("sheetPr").EndStart();
        xml.Start("outlinePr");
        if (!sheet.summaryBelow) {
            xml.Attribute("summaryBelow", "0");
        }
        if (!sheet.summaryRight) {
            xml.Attribute("summaryRight", "0");
        }
        xml.EndEmpty();
        xml.End("sheetPr");
    }
    // The dimension covers the stored rows and merged ranges; readers take it as a hint only.
    std::optional<CellRange> box = sheet.spilled.Summary().cellBox;
    if (box) {
        box->lastCol = std::min(box->lastCol, limits::kXlsxMaxCols - 1);
    }
    for (const Row& r : sheet.rows) {
        if (!r.cells.empty()) {
            ExtendRange(box, CellRange{r.index, r.cells.front().col, r.index,
                                       std::min(r.cells.back().col, limits::kXlsxMaxCols - 1)});
        }
    }
    for (const CellRange& m : merges) {
        ExtendRange(box, m);
    }
    xml.Start("dimension").Attribute("ref", box ? RangeName(*box) : std::string("A1")).EndEmpty();

    xml.Start("sheetViews").EndStart();
    xml.Start("sheetView");
    if (active) {
        xml.Attribute("tabSelected", "1");
    }
    xml.Attribute("workbookViewId", "0");
    if (sheet.frozenRows > 0 || sheet.frozenCols > 0) {
        std::string_view pane = sheet.frozenRows == 0   ? "topRight"
                                : sheet.frozenCols == 0 ? "bottomLeft"
                                                        : "bottomRight";
        xml.EndStart();
        xml.Start("pane");
        if (sheet.frozenCols > 0) {
            xml.Attribute("xSplit", sheet.frozenCols);
        }
        if (sheet.frozenRows > 0) {
            xml.Attribute("ySplit", sheet.frozenRows);
        }
        xml.Attribute("topLeftCell", CellName(sheet.frozenRows, sheet.frozenCols))
            .Attribute("activePane", pane)
            .Attribute("state", "frozen")
            .EndEmpty();
        xml.Start("selection").Attribute("pane", pane).EndEmpty();
        xml.End("sheetView");
    } else {
        xml.EndEmpty();
    }
    xml.End("sheetViews");

    xml.Start("sheetFormatPr");
    if (sheet.defaultColWidth > 0) {
        xml.NumberAttribute("defaultColWidth", sheet.defaultColWidth);
    }
    xml.NumberAttribute("defaultRowHeight", sheet.defaultRowHeight > 0 ? sheet.defaultRowHeight : kDefaultRowHeight);
    // Excel takes the default height from the default font unless customHeight says otherwise;
    // a reader that stores the usual 15 points must not turn it into a custom height.
    if (sheet.defaultRowHeight > 0 && sheet.defaultRowHeight != kDefaultRowHeight) {
        xml.Attribute("customHeight", "1");
    }
    // The deepest outline levels size the outline gutters; readers draw no outline symbols without
    // them.
    uint8_t rowLevels = sheet.spilled.Summary().outlineLevel;
    for (const Row& r : sheet.rows) {
        rowLevels = std::max(rowLevels, r.outlineLevel);
    }
    uint8_t colLevels = 0;
    for (const ColumnInfo& c : columns) {
        colLevels = std::max(colLevels, c.outlineLevel);
    }
    if (rowLevels > 0) {
        xml.Attribute("outlineLevelRow", std::min(rowLevels, kMaxOutlineLevel));
    }
    if (colLevels > 0) {
        xml.Attribute("outlineLevelCol", std::min(colLevels, kMaxOutlineLevel));
    }
    xml.EndEmpty();

    bool colsOpen = false;
    ForWrittenColumns(columns, [&](const ColumnInfo& c) {
        if (!colsOpen) {
            xml.Start("cols").EndStart();
            colsOpen = true;
        }
        double width = c.width > 0 ? c.width : sheet.defaultColWidth > 0 ? sheet.defaultColWidth : kDefaultColumnWidth;
        xml.Start("col").Attribute("min", c.first + 1).Attribute("max", c.last + 1).NumberAttribute("width", width);
        uint32_t style = tables.MapXf(c.style, 0, c.first);
        if (style != 0) {
            xml.Attribute("style", style);
        }
        if (c.hidden) {
            xml.Attribute("hidden", "1");
        }
        if (c.customWidth) {
            xml.Attribute("customWidth", "1");
        }
        if (c.outlineLevel > 0) {
            xml.Attribute("outlineLevel", std::min(c.outlineLevel, kMaxOutlineLevel));
        }
        if (c.collapsed) {
            xml.Attribute("collapsed", "1");
        }
        xml.EndEmpty();
    });
    if (colsOpen) {
        xml.End("cols");
    }
    xml.Start("sheetData").EndStart();
    return head;
}

// Everything of a worksheet after its cells: merged ranges and hyperlinks, handed on in chunks
// since a sheet may have many.
void WriteSheetTail(PartStream& out, const std::vector<CellRange>& merges, const std::vector<LinkOut>& links)
{
    std::string tail;
    XmlBuilder xml(tail);
    xml.End("sheetData");
    if (!merges.empty()) {
        xml.Start("mergeCells").Attribute("count", merges.size()).EndStart();
        for (const CellRange& m : merges) {
            xml.Start("mergeCell").Attribute("ref", RangeName(m)).EndEmpty();
            if (tail.size() > kChunkBytes) {
                out.Append(tail);
                tail.clear();
            }
        }
        xml.End("mergeCells");
    }
    if (!links.empty()) {
        xml.Start("hyperlinks").EndStart();
        for (const LinkOut& l : links) {
            xml.Start("hyperlink").Attribute("ref", RangeName(l.range));
            if (l.relId != 0) {
                xml.Attribute("r:id", "rId" + std::to_string(l.relId));
            }
            if (!l.link->location.empty()) {
                xml.Attribute("location", l.link->location);
            }
            if (!l.link->tooltip.empty()) {
                xml.Attribute("tooltip", l.link->tooltip);
            }
            if (!l.link->display.empty()) {
                xml.Attribute("display", l.link->display);
            }
            xml.EndEmpty();
            if (tail.size() > kChunkBytes) {
                out.Append(tail);
                tail.clear();
            }
        }
        xml.End("hyperlinks");
    }
    xml.End("worksheet");
    out.Append(tail);
}

} // namespace

std::vector<uint32_t> HeadColumnFormats(const Worksheet& sheet)
{
    std::vector<uint32_t> formats;
    ForWrittenColumns(SortedColumns(sheet), [&](const ColumnInfo& c) { formats.push_back(c.style); });
    return formats;
}

void WriteStagedRows(PartStream& out, std::span<const Row> rows, OutputTables& tables)
{
    // Staged rows hold no formula cells, so that neither the sheet nor its shared formulas are
    // looked at.
    static const Worksheet kNoSheet;
    static const std::vector<SharedFormula> kNoShared;
    formula::Formula cellFormula;
    std::string formulaText;
    for (const Row& row : rows) {
        WriteRow(out, row, kNoSheet, tables, kNoShared, cellFormula, formulaText);
    }
}

void WriteWorksheetPart(ZipWriter& zip, Workbook& workbook, size_t index, bool active, OutputTables& tables,
                        const StagedRows* staged)
{
    bool wasLoaded = workbook.IsSheetLoaded(index);
    // Spilled rows stay on disk and are streamed back as they are written.
    Worksheet& sheet = workbook.SheetKeepingSpill(index);
    const std::string& sheetName = workbook.SheetName(index);
    tables.BeginSheet(sheetName);
    if (!sheet.InOrder()) {
        sheet.Normalize();
    }

    // Everything outside sheetData is checked before the part is begun.
    std::vector<CellRange> merges;
    merges.reserve(sheet.merges.size());
    for (const CellRange& m : sheet.merges) {
        if (!InGrid(m)) {
            throw LimitError("sheet \"" + sheetName + "\": the merged range " + RangeName(m) +
                             " lies outside the xlsx grid");
        }
        if (m.firstRow != m.lastRow || m.firstCol != m.lastCol) {
            merges.push_back(m); // a merge of one cell means nothing and Excel rejects it
        }
    }
    std::vector<LinkOut> links;
    uint32_t relCount = 0;
    for (const Hyperlink& h : sheet.hyperlinks) {
        if (!InGrid(h.range)) {
            throw LimitError("sheet \"" + sheetName + "\": the hyperlink at " + RangeName(h.range) +
                             " lies outside the xlsx grid");
        }
        if (h.target.empty() && h.location.empty()) {
            continue; // points nowhere
        }
        links.push_back({&h, h.range, h.target.empty() ? 0 : ++relCount});
    }
    const std::vector<ColumnInfo> columns = SortedColumns(sheet);
    for (const ColumnInfo& c : columns) {
        if (c.first > c.last || c.last >= limits::kXlsxMaxCols) {
            throw LimitError("sheet \"" + sheetName + "\": column settings for " + ColumnName(c.first) + ":" +
                             ColumnName(c.last) + " lie outside the xlsx grid");
        }
    }
    if (sheet.frozenRows >= limits::kXlsxMaxRows || sheet.frozenCols >= limits::kXlsxMaxCols) {
        throw LimitError("sheet \"" + sheetName + "\": the frozen panes lie outside the xlsx grid");
    }
    if (!sheet.rows.empty() && sheet.rows.back().index >= limits::kXlsxMaxRows) {
        const Row& last = sheet.rows.back();
        throw LimitError(tables.Where(last.index, last.cells.empty() ? 0 : last.cells.front().col) +
                         ": the row lies outside the xlsx grid (at most 1,048,576 rows)");
    }
    if (sheet.rows.empty() && !sheet.spilled.Empty() && sheet.spilled.Summary().lastRow >= limits::kXlsxMaxRows) {
        const SpillSummary& last = sheet.spilled.Summary();
        throw LimitError(tables.Where(last.lastRow, last.lastRowFirstCol) +
                         ": the row lies outside the xlsx grid (at most 1,048,576 rows)");
    }

    zip.BeginPart("xl/worksheets/sheet" + std::to_string(index + 1) + ".xml");
    PartStream out(zip);
    out.Append(SheetHead(sheet, active, merges, columns, tables));
    if (staged != nullptr) {
        // The rows prepared while the workbook was built follow the head as they were deflated.
        out.Flush();
        zip.WriteDeflated(staged->piece, staged->read);
    }
    WriteSheetData(out, sheet, tables, staged != nullptr ? staged->chunks : 0);
    WriteSheetTail(out, merges, links);
    out.Flush();
    zip.EndPart();

    if (relCount > 0) {
        zip.AddPart("xl/worksheets/_rels/sheet" + std::to_string(index + 1) + ".xml.rels",
                    WorksheetRelationshipsPart(links));
    }

    // A sheet read only to be written goes back to its source, so that saving a large workbook
    // holds one sheet at a time.
    if (!wasLoaded) {
        workbook.UnloadSheet(index);
    }
}

} // namespace gq::engine::xlsxout
