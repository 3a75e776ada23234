// Worksheet parsing. The cell path is the hot one: no allocation per cell (one reused value
// buffer), numbers through std::from_chars, strings interned once per text. The reference and
// number parsers stay inline here or in XlsxReaderText.h: a call for every cell would cost.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxReaderSheet.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/formula/Formula.h"
#include "engine/text/CellReferenceText.h"
#include "engine/text/Utf8.h"
#include "engine/xlsx/XlsxReaderText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>
#include <queue>

namespace gq::engine {

namespace {

using xlsxtext::ParseAttrDouble;
using xlsxtext::ParseDouble;
using xlsxtext::ParseUnsigned;
using xlsxtext::Trim;

// "B12" -> row 11, col 1. Returns false for text that is not a cell reference; throws nothing.
// `outOfGrid` tells a well-formed reference past the xlsx grid from malformed text.
bool ParseRef(std::string_view s, uint32_t& row, uint32_t& col, bool& outOfGrid)
{
    outOfGrid = false;
    size_t i = 0;
    uint64_t c = 0;
    const size_t letters = ReadColumnLetters(s, i, 5, c);
    uint64_t r = 0;
    const size_t digits = letters > 4 ? 0 : ReadRowDigits(s, i, 9, r);
    if (letters > 4 || digits > 8) {
        outOfGrid = true;
        return false;
    }
    if (i != s.size() || letters == 0 || digits == 0) {
        return false;
    }
    if (r == 0 || r > limits::kXlsxMaxRows || c > limits::kXlsxMaxCols) {
        outOfGrid = r != 0;
        return false;
    }
    row = static_cast<uint32_t>(r - 1);
    col = static_cast<uint32_t>(c - 1);
    return true;
}

// An outlineLevel attribute: 0 to 7; anything else (a hostile or damaged value) counts as no level.
uint8_t OutlineLevel(const char* text)
{
    uint32_t level = 0;
    if (!ParseUnsigned(text, level) || level > kMaxOutlineLevel) {
        return 0;
    }
    return static_cast<uint8_t>(level);
}

} // namespace

// ---- worksheet ----

WorksheetParser::WorksheetParser(Worksheet& out, const SheetContext& context, const std::string& file,
                                 const std::string& part)
    : m_out(out), m_context(context), m_file(file), m_part(part), m_parser(*this, file, part)
{
    m_value.reserve(64);
    m_parser.ScanContentOf("sheetData");
}

void WorksheetParser::Fail(const std::string& problem) const
{
    throw FormatError(m_file, problem, m_part, m_parser.Offset());
}

void WorksheetParser::Feed(const char* data, size_t size, bool last)
{
    m_parser.Feed(data, size, last);
    if (last) {
        Finish();
    }
}

uint32_t WorksheetParser::MapStyle(const char* s) const
{
    uint32_t index = 0;
    if (s == nullptr || m_context.xfMap == nullptr || !ParseUnsigned(s, index)) {
        return 0;
    }
    // An index past the file's cell formats shows as the default format, as spreadsheet
    // applications show it.
    return index < m_context.xfMap->size() ? (*m_context.xfMap)[index] : 0;
}

uint32_t WorksheetParser::InternText(std::string& text)
{
    DecodeXstring(text);
    return m_context.strings->Intern(text);
}

void WorksheetParser::StartElement(std::string_view name, const XmlAttributes& atts)
{
    if (m_inSheetData) {
        switch (name.size()) {
        case 1:
            if (name[0] == 'c') {
                StartCell(atts);
            } else if (name[0] == 'v') {
                m_value.clear();
                m_parser.CaptureText(true);
            } else if (name[0] == 'f') {
                StartFormula(atts);
            } else if (name[0] == 't' && m_inInline && m_phonetic == 0) {
                m_parser.CaptureText(true);
            }
            return;
        case 2:
            if (name == "is") {
                m_inInline = true;
                m_value.clear();
            }
            return;
        case 3:
            if (name == "row") {
                StartRow(atts);
            } else if (name == "rPh") {
                ++m_phonetic;
            }
            return;
        default:
            return;
        }
    }
    if (name == "sheetData") {
        m_inSheetData = true;
    } else if (name == "col" && m_inCols) {
        AddColumn(atts);
    } else if (name == "cols") {
        m_inCols = true;
    } else if (name == "mergeCell") {
        AddMerge(atts);
    } else if (name == "hyperlink") {
        AddHyperlink(atts);
    } else if (name == "sheetView") {
        ++m_sheetViews;
    } else if (name == "pane" && m_sheetViews == 1) {
        ReadPane(atts);
    } else if (name == "outlinePr") {
        // CT_OutlinePr, ECMA-376 Part 1, 18.3.1.61: both attributes default to true.
        auto isFalse = [](const char* value) {
            return value != nullptr && (std::strcmp(value, "0") == 0 || std::strcmp(value, "false") == 0);
        };
        m_out.summaryBelow = !isFalse(atts.Get("summaryBelow"));
        m_out.summaryRight = !isFalse(atts.Get("summaryRight"));
    } else if (name == "sheetFormatPr") {
        double v = 0;
        if (ParseAttrDouble(atts.Get("defaultRowHeight"), v) && v > 0 && v < 1000) {
            m_out.defaultRowHeight = v;
        }
        if (ParseAttrDouble(atts.Get("defaultColWidth"), v) && v > 0 && v < 1000) {
            m_out.defaultColWidth = v;
        }
    }
}

void WorksheetParser::EndElement(std::string_view name)
{
    if (m_inSheetData) {
        switch (name.size()) {
        case 1:
            if (name[0] == 'c') {
                EndCell();
            } else if (name[0] == 'v') {
                m_parser.CaptureText(false);
                m_hasValue = true;
            } else if (name[0] == 'f') {
                m_parser.CaptureText(false);
                m_formulaText.swap(m_value);
                m_value.clear();
            } else if (name[0] == 't' && m_inInline) {
                m_parser.CaptureText(false);
            }
            return;
        case 2:
            if (name == "is") {
                m_inInline = false;
                m_hasValue = true;
            }
            return;
        case 3:
            if (name == "row") {
                EndRow();
            } else if (name == "rPh") {
                --m_phonetic;
            }
            return;
        default:
            if (name == "sheetData") {
                m_inSheetData = false;
            }
            return;
        }
    }
    if (name == "cols") {
        m_inCols = false;
    }
}

void WorksheetParser::Text(std::string_view text)
{
    if (m_value.size() + text.size() > limits::kMaxStringBytes) {
        Fail("a cell holds more text than a cell can hold");
    }
    m_value.append(text);
}

void WorksheetParser::StartRow(const XmlAttributes& atts)
{
    uint32_t index = 0;
    const char* r = atts.Get("r");
    if (r != nullptr) {
        if (!ParseUnsigned(r, index) || index == 0) {
            Fail(std::string("a row has an invalid number \"") + r + "\"");
        }
        if (index > limits::kXlsxMaxRows) {
            Fail("row " + std::string(r) + " lies outside the sheet's grid of " + std::to_string(limits::kXlsxMaxRows) +
                 " rows");
        }
        --index;
    } else {
        // Rows without a number follow the previous one.
        index = static_cast<uint32_t>(m_lastRow + 1);
        if (index >= limits::kXlsxMaxRows) {
            Fail("the rows run past the sheet's grid");
        }
    }
    if (static_cast<int64_t>(index) <= m_lastRow) {
        m_unsorted = true;
    }
    m_lastRow = index;
    m_rowIndex = index;
    m_nextCol = 0;
    m_inRow = true;
    // Rows are bounded apart from cells, so that a sheet holding the most cells a sheet may hold
    // (what a paste lets a sheet grow to) reads back whatever its rows: a row element more than the
    // grid has rows is a file that repeats rows without end.
    if (++m_rowCount > limits::kXlsxMaxRows) {
        throw LimitError(m_file, "the sheet " + m_part + " holds more than " + std::to_string(limits::kXlsxMaxRows) +
                                     " row elements");
    }
    Row& row = m_out.rows.emplace_back();
    row.index = index;
    // Rows of a sheet mostly hold as many cells as the row before: room for that many from the
    // start keeps a row from growing by doubling, which leaves a third of a large sheet unused.
    row.cells.reserve(m_lastRowCells);
    double height = 0;
    if (ParseAttrDouble(atts.Get("ht"), height) && height >= 0 && height <= 2000) {
        row.height = static_cast<float>(height);
    }
    row.customHeight = XmlTrue(atts.Get("customHeight"));
    row.hidden = XmlTrue(atts.Get("hidden"));
    row.collapsed = XmlTrue(atts.Get("collapsed"));
    row.outlineLevel = OutlineLevel(atts.Get("outlineLevel"));
    // A row's s names its own format only with customFormat; without it office suites ignore s.
    if (XmlTrue(atts.Get("customFormat"))) {
        row.style = MapStyle(atts.Get("s"));
    }
}

void WorksheetParser::EndRow()
{
    m_inRow = false;
    Row& row = m_out.rows.back();
    m_lastRowCells = std::min<size_t>(row.cells.size(), limits::kXlsxMaxCols);
    // A row element with neither cells nor a size or visibility of its own adds nothing.
    if (row.cells.empty() && !row.HasSettings()) {
        m_out.rows.pop_back();
    } else if (row.cells.capacity() > row.cells.size() + row.cells.size() / 4 + 4) {
        row.cells.shrink_to_fit();
    }
}

void WorksheetParser::StartCell(const XmlAttributes& atts)
{
    const char* r = nullptr;
    const char* s = nullptr;
    const char* t = nullptr;
    for (const char** a = atts.Raw(); *a != nullptr; a += 2) {
        const char* n = a[0];
        if (n[0] != '\0' && n[1] == '\0') {
            switch (n[0]) {
            case 'r':
                r = a[1];
                break;
            case 's':
                s = a[1];
                break;
            case 't':
                t = a[1];
                break;
            default:
                break;
            }
        }
    }
    m_cellRow = m_rowIndex;
    if (r != nullptr) {
        bool outOfGrid = false;
        if (!ParseRef(r, m_cellRow, m_cellCol, outOfGrid)) {
            Fail(outOfGrid ? "cell " + std::string(r) + " lies outside the sheet's grid"
                           : "a cell has an invalid reference \"" + std::string(r) + "\"");
        }
    } else {
        // Cells without a reference follow the previous cell of their row.
        if (m_nextCol >= limits::kXlsxMaxCols) {
            Fail("the cells of a row run past the sheet's grid");
        }
        m_cellCol = m_nextCol;
    }
    m_nextCol = m_cellCol + 1;
    // A cell without a format has the file's first cell format (c@s defaults to 0, ECMA-376
    // Part 1, 18.3.1.4), which some writers give an alignment or a fill of its own.
    m_cellStyle = MapStyle(s != nullptr ? s : "0");
    m_cellType = ValueType::Number;
    if (t != nullptr) {
        std::string_view type(t);
        if (type == "s") {
            m_cellType = ValueType::Shared;
        } else if (type == "str") {
            m_cellType = ValueType::Str;
        } else if (type == "inlineStr") {
            m_cellType = ValueType::Inline;
        } else if (type == "b") {
            m_cellType = ValueType::Boolean;
        } else if (type == "e") {
            m_cellType = ValueType::Error;
        } else if (type == "d") {
            m_cellType = ValueType::Date;
        }
    }
    m_cellFormula = false;
    m_formulaText.clear();
    m_hasValue = false;
    m_inInline = false;
    m_phonetic = 0;
}

void WorksheetParser::EndCell()
{
    Cell cell;
    cell.col = m_cellCol;
    cell.style = m_cellStyle;
    // A data table's cells hold values the application computes: no formula of theirs is lost.
    cell.formula = m_cellFormula && m_formulaKind != FormulaKind::DataTable;
    if (m_cellFormula) {
        cell.formulaIndex = KeepFormula();
    }
    if (m_hasValue) {
        switch (m_cellType) {
        case ValueType::Number: {
            double v = 0;
            if (ParseDouble(m_value, v)) {
                cell.type = CellType::Number;
                cell.number = v;
            } else if (!Trim(m_value).empty()) {
                // Not a number after all: keep what the file shows rather than lose it.
                cell.type = CellType::String;
                cell.text = InternText(m_value);
            }
            break;
        }
        case ValueType::Shared: {
            uint32_t index = 0;
            std::string_view v = Trim(m_value);
            auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), index);
            const auto* sst = m_context.sharedStrings;
            // An index past the shared strings leaves the cell blank, as spreadsheet applications
            // that open such files show it.
            if (ec == std::errc() && end == v.data() + v.size() && sst != nullptr && index < sst->size()) {
                cell.type = CellType::String;
                cell.text = (*sst)[index];
            }
            break;
        }
        case ValueType::Str:
        case ValueType::Inline:
            cell.type = CellType::String;
            cell.text = InternText(m_value);
            break;
        case ValueType::Boolean: {
            std::string_view v = Trim(m_value);
            cell.type = CellType::Boolean;
            cell.boolean = v == "1" || v == "true" || v == "TRUE";
            break;
        }
        case ValueType::Error:
            cell.type = CellType::Error;
            cell.error = ErrorFromText(Trim(m_value)).value_or(ErrorCode::Value);
            break;
        case ValueType::Date:
            if (auto serial = IsoToSerial(m_value, m_context.date1904)) {
                cell.type = CellType::Number;
                cell.number = *serial;
            } else if (!Trim(m_value).empty()) {
                cell.type = CellType::String;
                cell.text = InternText(m_value);
            }
            break;
        }
    }
    if (cell.type == CellType::Blank && cell.style == 0 && !cell.formula) {
        return; // nothing to keep
    }
    if (++m_cellCount > limits::kMaxCellsPerSheet) {
        throw LimitError(m_file, "the sheet " + m_part + " holds more than " +
                                     std::to_string(limits::kMaxCellsPerSheet) + " cells");
    }
    if (!m_inRow || m_cellRow != m_rowIndex) {
        m_strayCells.emplace_back(m_cellRow, cell);
        return;
    }
    auto& cells = m_out.rows.back().cells;
    if (!cells.empty() && cells.back().col >= cell.col) {
        m_unsorted = true;
    }
    cells.push_back(cell);
}

void WorksheetParser::StartFormula(const XmlAttributes& atts)
{
    m_cellFormula = true;
    m_formulaKind = FormulaKind::Normal;
    const char* t = atts.Get("t");
    if (t != nullptr) {
        std::string_view type(t);
        if (type == "shared") {
            m_formulaKind = FormulaKind::Shared;
        } else if (type == "array") {
            m_formulaKind = FormulaKind::Array;
        } else if (type == "dataTable") {
            m_formulaKind = FormulaKind::DataTable;
        }
    }
    const char* ref = atts.Get("ref");
    m_formulaRef = ref != nullptr ? ref : "";
    m_hasSi = ParseUnsigned(atts.Get("si"), m_formulaSi);
    m_value.clear();
    m_parser.CaptureText(true);
}

// Gives the index of the cell's formula in the sheet's formulas, adding it when the cell holds
// its text. A cell of a shared formula that holds no text points at the shared formula's first
// cell, and has the formula moved from there when asked for it. Data tables (t="dataTable") are
// computed by the application, not by a formula a cell holds: they keep their values only.
uint32_t WorksheetParser::KeepFormula()
{
    if (m_formulaKind == FormulaKind::DataTable) {
        return kNoFormula;
    }
    if (Trim(m_formulaText).empty()) {
        if (m_formulaKind != FormulaKind::Shared || !m_hasSi) {
            return kNoFormula;
        }
        auto it = m_sharedFormulas.find(m_formulaSi);
        return it != m_sharedFormulas.end() ? it->second : kNoFormula;
    }
    // ST_Formula is an ST_Xstring: characters XML cannot carry come as _xHHHH_.
    DecodeXstring(m_formulaText);
    formula::ParseFormula(m_formulaText, m_scratch);
    // A formula that repeats the previous one with its references moved along (each row's
    // "=B2*C2", "=B3*C3") points at that one, as the cells of a shared formula do: stored once.
    if (m_formulaKind == FormulaKind::Normal && m_lastFormula < m_out.formulas.size()) {
        const FormulaEntry& last = m_out.formulas[m_lastFormula];
        if (last.arrayRows == 0 && formula::SameWhenMoved(*last.formula, int64_t{m_cellRow} - last.anchorRow,
                                                          int64_t{m_cellCol} - last.anchorCol, m_scratch)) {
            return m_lastFormula;
        }
    }
    FormulaEntry entry;
    entry.formula = std::make_shared<const formula::Formula>(m_scratch);
    entry.anchorRow = m_cellRow;
    entry.anchorCol = m_cellCol;
    CellRange range;
    if (m_formulaKind == FormulaKind::Array && ParseRangeName(m_formulaRef, range) && range.firstRow == m_cellRow &&
        range.firstCol == m_cellCol) {
        entry.arrayRows = range.RowCount();
        entry.arrayCols = range.ColCount();
    } else if (m_formulaKind == FormulaKind::Array) {
        entry.arrayRows = 1; // a range that does not start at its cell: the cell alone
        entry.arrayCols = 1;
    }
    auto index = static_cast<uint32_t>(m_out.formulas.size());
    m_out.formulas.push_back(std::move(entry));
    if (m_formulaKind == FormulaKind::Shared && m_hasSi) {
        m_sharedFormulas[m_formulaSi] = index;
    }
    m_lastFormula = index;
    return index;
}

void WorksheetParser::AddColumn(const XmlAttributes& atts)
{
    uint32_t first = 0;
    uint32_t last = 0;
    if (!ParseUnsigned(atts.Get("min"), first) || !ParseUnsigned(atts.Get("max"), last) || first == 0 || last < first) {
        return; // a column description without a valid span describes nothing
    }
    if (first > limits::kXlsxMaxCols) {
        Fail("a column description lies outside the sheet's grid");
    }
    // LibreOffice and others describe "the rest of the sheet" with spans past the last column.
    last = std::min(last, limits::kXlsxMaxCols);
    if (m_columns.size() >= limits::kMaxColumnInfos) {
        Fail("the sheet describes more columns than its grid has");
    }
    ColumnInfo info;
    info.first = first - 1;
    info.last = last - 1;
    double width = 0;
    if (ParseAttrDouble(atts.Get("width"), width) && width >= 0 && width <= 255) {
        info.width = width;
    }
    info.customWidth = XmlTrue(atts.Get("customWidth"));
    info.hidden = XmlTrue(atts.Get("hidden"));
    info.style = MapStyle(atts.Get("style"));
    info.collapsed = XmlTrue(atts.Get("collapsed"));
    info.outlineLevel = OutlineLevel(atts.Get("outlineLevel"));
    m_columns.push_back(info);
}

void WorksheetParser::AddMerge(const XmlAttributes& atts)
{
    const char* ref = atts.Get("ref");
    CellRange range;
    if (ref == nullptr || !ParseRangeName(ref, range)) {
        Fail("a merged range has an invalid reference");
    }
    if (m_out.merges.size() >= limits::kMaxMergedRanges) {
        throw LimitError(m_file, "the sheet " + m_part + " holds more than " +
                                     std::to_string(limits::kMaxMergedRanges) + " merged ranges");
    }
    m_out.merges.push_back(range);
}

void WorksheetParser::AddHyperlink(const XmlAttributes& atts)
{
    const char* ref = atts.Get("ref");
    CellRange range;
    if (ref == nullptr || !ParseRangeName(ref, range)) {
        return; // a link without a valid anchor cannot be placed; the cells keep their values
    }
    if (m_out.hyperlinks.size() >= limits::kMaxHyperlinks) {
        throw LimitError(m_file, "the sheet " + m_part + " holds more than " + std::to_string(limits::kMaxHyperlinks) +
                                     " hyperlinks");
    }
    Hyperlink link;
    link.range = range;
    if (const char* v = atts.Get("location")) {
        link.location = v;
    }
    if (const char* v = atts.Get("tooltip")) {
        link.tooltip = v;
    }
    if (const char* v = atts.Get("display")) {
        link.display = v;
    }
    // "r:id" names the relationship that holds the external target.
    if (const char* id = atts.Get("id")) {
        m_pending.push_back(PendingHyperlink{m_out.hyperlinks.size(), id});
    }
    m_out.hyperlinks.push_back(std::move(link));
}

void WorksheetParser::ReadPane(const XmlAttributes& atts)
{
    const char* state = atts.Get("state");
    if (state == nullptr || (std::strcmp(state, "frozen") != 0 && std::strcmp(state, "frozenSplit") != 0)) {
        return; // a split that is not frozen is a view setting, not a frozen pane
    }
    double x = 0;
    double y = 0;
    if (ParseAttrDouble(atts.Get("xSplit"), x) && x >= 1 && x < limits::kXlsxMaxCols) {
        m_out.frozenCols = static_cast<uint32_t>(x);
    }
    if (ParseAttrDouble(atts.Get("ySplit"), y) && y >= 1 && y < limits::kXlsxMaxRows) {
        m_out.frozenRows = static_cast<uint32_t>(y);
    }
}

void WorksheetParser::Finish()
{
    // Cells whose reference names another row than their <row> go after everything else, so that
    // Normalize's "the later cell wins" lets them win, as when they were put in place one by one.
    for (const auto& [row, cell] : m_strayCells) {
        m_out.LoadRow(row).cells.push_back(cell);
    }
    if (m_unsorted || !m_strayCells.empty()) {
        m_out.Normalize();
    }
    m_strayCells.clear();
    // Column descriptions in ascending, disjoint order (the usual case) are taken as they are;
    // anything else goes through SetColumn, which splits and overrides in file order.
    bool ordered = true;
    for (size_t i = 1; i < m_columns.size(); ++i) {
        if (m_columns[i].first <= m_columns[i - 1].last) {
            ordered = false;
            break;
        }
    }
    if (ordered) {
        m_out.columns = std::move(m_columns);
    } else {
        for (const ColumnInfo& info : m_columns) {
            m_out.SetColumn(info);
        }
    }
    DropOverlappingMerges(m_out.merges);
}

} // namespace gq::engine