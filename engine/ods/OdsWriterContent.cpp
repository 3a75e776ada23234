// The OpenDocument writer's content stream: each sheet's table, row by row and cell by cell.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/formula/OpenFormula.h"
#include "engine/ods/OdsWriterInternal.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace gq::engine::odsout {

bool Says(const Cell& cell)
{
    return cell.type != CellType::Blank || cell.style != 0 || cell.formulaIndex != kNoFormula;
}

void AppendUint(std::string& out, uint64_t value)
{
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, end);
}

namespace {

// References are moved on the grid the file will have.
constexpr formula::Grid kOdsGrid{limits::kOdsMaxRows, limits::kOdsMaxCols};

// Days from 1970-01-01 as a proleptic Gregorian date (Howard Hinnant's civil_from_days).
void CivilFromDays(long long z, long long& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2 ? 1 : 0;
}

// Microseconds of a day fraction split into hours, minutes, seconds and the rest.
void AppendClock(std::string& out, long long micros, bool duration)
{
    const long long hours = micros / 3600000000LL;
    const long long minutes = micros / 60000000LL % 60;
    const long long seconds = micros / 1000000LL % 60;
    const long long rest = micros % 1000000LL;
    char buf[64];
    int n = duration ? std::snprintf(buf, sizeof buf, "PT%02lldH%02lldM%02lld", hours, minutes, seconds)
                     : std::snprintf(buf, sizeof buf, "T%02lld:%02lld:%02lld", hours, minutes, seconds);
    out.append(buf, static_cast<size_t>(n));
    if (rest > 0) {
        n = std::snprintf(buf, sizeof buf, ".%06lld", rest);
        std::string_view fraction(buf, static_cast<size_t>(n));
        while (fraction.back() == '0') {
            fraction.remove_suffix(1);
        }
        out += fraction;
    }
    if (duration) {
        out.push_back('S');
    }
}

// office:date-value of a serial counted from 1899-12-30, as the office suites count; false for a
// serial outside years 1 to 9999.
bool AppendDate(std::string& out, double serial)
{
    if (!(serial > -693593.0 && serial < 2958466.0)) {
        return false;
    }
    const double day = std::floor(serial);
    long long micros = std::llround((serial - day) * 86400e6);
    long long days = static_cast<long long>(day);
    if (micros >= 86400000000LL) {
        micros -= 86400000000LL;
        ++days;
    }
    long long y = 0;
    unsigned m = 0;
    unsigned d = 0;
    CivilFromDays(days - 25569, y, m, d); // 1899-12-30 is 25,569 days before 1970-01-01
    char buf[32];
    int n = std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", y, m, d);
    out.append(buf, static_cast<size_t>(n));
    if (micros > 0) {
        AppendClock(out, micros, false);
    }
    return true;
}

// office:time-value as an xsd:duration ("PT36H00M00S"); false for a value of more than a
// hundred years.
bool AppendDuration(std::string& out, double days)
{
    if (!(std::fabs(days) < 36500.0)) {
        return false;
    }
    if (days < 0) {
        out.push_back('-');
    }
    AppendClock(out, std::llround(std::fabs(days) * 86400e6), true);
    return true;
}

void AppendNumber(std::string& out, double value)
{
    char buf[32];
    if (value == 0) {
        out.push_back('0'); // also for -0
        return;
    }
    auto [end, ec] = std::fabs(value) < 1e15 && value == std::trunc(value)
                         ? std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(value))
                         : std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, end);
}

// A link's address as xlink:href: the model's target, with its place inside a workbook after '#',
// the place ("Sheet2!A1") written as OpenDocument names cells ("Sheet2.A1").
std::string LinkAddress(const Hyperlink& link)
{
    std::string href = link.target;
    if (!link.location.empty()) {
        std::string place = link.location;
        size_t bang = place.rfind('!');
        if (bang != std::string::npos) {
            place[bang] = '.';
        }
        href += "#" + place;
    }
    return href;
}

} // namespace

void OdsWriter::Flush(bool force)
{
    if (m_out.size() >= kChunkBytes || (force && !m_out.empty())) {
        m_zip.Write(m_out.data(), m_out.size());
        m_out.clear();
    }
}

void OdsWriter::WriteParagraphs(std::string_view text, const Hyperlink* link)
{
    std::string href;
    if (link != nullptr) {
        href = LinkAddress(*link);
    }
    auto open = [&]() {
        m_out += "<text:p>";
        if (link != nullptr) {
            m_out += "<text:a xlink:href=\"";
            AppendEscaped(m_out, href, true);
            m_out += "\" xlink:type=\"simple\">";
        }
    };
    auto close = [&]() {
        if (link != nullptr) {
            m_out += "</text:a>";
        }
        m_out += "</text:p>";
    };
    open();
    // White space in a paragraph collapses (ODF 1.2 Part 1, 6.1.2): runs of spaces past the first,
    // and spaces at its start, are text:s; tabs text:tab; each line a paragraph of its own.
    bool atStart = true;
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == ' ') {
            size_t run = 1;
            while (i + run < text.size() && text[i + run] == ' ') {
                ++run;
            }
            size_t literal = atStart ? 0 : 1;
            if (literal == 1) {
                m_out.push_back(' ');
            }
            if (run > literal) {
                m_out += "<text:s";
                if (run - literal > 1) {
                    m_out += " text:c=\"";
                    AppendUint(m_out, run - literal);
                    m_out += "\"";
                }
                m_out += "/>";
            }
            i += run;
            atStart = false;
            continue;
        }
        if (c == '\t') {
            m_out += "<text:tab/>";
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            close();
            open();
            atStart = true;
            ++i;
            continue;
        } else {
            size_t end = i;
            while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\n' &&
                   text[end] != '\r') {
                ++end;
            }
            AppendEscaped(m_out, text.substr(i, end - i), false);
            i = end;
            atStart = false;
            continue;
        }
        ++i;
        atStart = false;
    }
    close();
}

void OdsWriter::WriteCell(const Cell* cell, uint32_t row, bool covered, uint32_t repeat, const CellRange* span)
{
    const std::string_view element = covered ? "table:covered-table-cell" : "table:table-cell";
    m_out += '<';
    m_out += element;
    if (repeat > 1) {
        m_out += " table:number-columns-repeated=\"";
        AppendUint(m_out, repeat);
        m_out += '"';
    }
    if (span != nullptr) {
        m_out += " table:number-columns-spanned=\"";
        AppendUint(m_out, span->ColCount());
        m_out += "\" table:number-rows-spanned=\"";
        AppendUint(m_out, span->RowCount());
        m_out += '"';
    }
    if (cell == nullptr) {
        m_out += "/>";
        return;
    }
    const std::string& style = m_styles.CellStyle(cell->style, cell->type == CellType::Boolean);
    if (!style.empty()) {
        m_out += " table:style-name=\"";
        m_out += style;
        m_out += '"';
    }
    m_formulaText.clear();
    bool hasFormula = false;
    if (cell->formulaIndex != kNoFormula && formula::CellFormula(*m_sheet, row, *cell, m_formula, kOdsGrid)) {
        hasFormula = formula::PrintOpenFormula(m_formula, m_formulaText) && !m_formulaText.empty();
        const FormulaEntry& entry = m_sheet->formulas[cell->formulaIndex];
        if (hasFormula && entry.arrayRows > 0 && !covered) {
            m_out += " table:number-matrix-columns-spanned=\"";
            AppendUint(m_out, std::min<uint64_t>(entry.arrayCols, limits::kOdsMaxCols - cell->col));
            m_out += "\" table:number-matrix-rows-spanned=\"";
            AppendUint(m_out, std::min<uint64_t>(entry.arrayRows, limits::kOdsMaxRows - row));
            m_out += '"';
        }
    }
    // OpenDocument has no error values: an error is the formula that gives it, its text shown.
    std::string_view errorText;
    if (cell->type == CellType::Error) {
        errorText = ErrorText(cell->error);
    } else if (cell->type == CellType::Number && !std::isfinite(cell->number)) {
        errorText = "#NUM!";
    }
    if (!errorText.empty() && !hasFormula) {
        m_formulaText = errorText;
        hasFormula = true;
    }
    if (hasFormula) {
        m_out += " table:formula=\"of:=";
        AppendEscaped(m_out, m_formulaText, true);
        m_out += '"';
    }
    const Hyperlink* link = nullptr;
    switch (cell->type) {
    case CellType::Blank:
        m_out += "/>";
        return;
    case CellType::Number:
        if (!errorText.empty()) {
            break;
        }
        switch (m_styles.KindOf(cell->style)) {
        case ValueKind::Date: {
            const size_t at = m_out.size();
            m_out += " office:value-type=\"date\" office:date-value=\"";
            if (AppendDate(m_out, m_workbook.Date1904() ? cell->number + kDate1904Offset : cell->number)) {
                m_out += "\"/>";
                return;
            }
            m_out.resize(at);
            break;
        }
        case ValueKind::Time: {
            const size_t at = m_out.size();
            m_out += " office:value-type=\"time\" office:time-value=\"";
            if (AppendDuration(m_out, cell->number)) {
                m_out += "\"/>";
                return;
            }
            m_out.resize(at);
            break;
        }
        case ValueKind::Percentage:
            m_out += " office:value-type=\"percentage\" office:value=\"";
            AppendNumber(m_out, cell->number);
            m_out += "\"/>";
            return;
        case ValueKind::Float:
            break;
        }
        m_out += " office:value-type=\"float\" office:value=\"";
        AppendNumber(m_out, cell->number);
        m_out += "\"/>";
        return;
    case CellType::Boolean:
        m_out += cell->boolean ? " office:value-type=\"boolean\" office:boolean-value=\"true\"/>"
                               : " office:value-type=\"boolean\" office:boolean-value=\"false\"/>";
        return;
    case CellType::String:
        for (const Hyperlink* h : m_links) {
            if (h->range.Contains(row, cell->col)) {
                link = h;
                break;
            }
        }
        {
            const std::string_view text =
                m_workbook.Strings().Size() > cell->text ? m_workbook.Strings().At(cell->text) : std::string_view();
            m_out += " office:value-type=\"string\"";
            // LibreOffice reads a paragraph's text:tab as nothing and a carriage return as a line
            // break: such text also goes whole into office:string-value, which both office suites
            // take before the paragraphs.
            if (text.find_first_of("\t\r") != std::string_view::npos) {
                m_out += " office:string-value=\"";
                AppendEscaped(m_out, text, true);
                m_out += '"';
            }
            m_out += '>';
            WriteParagraphs(text, link);
        }
        m_out += "</";
        m_out += element;
        m_out += '>';
        return;
    case CellType::Error:
        break;
    }
    m_out += " office:value-type=\"string\" office:string-value=\"";
    m_out += errorText;
    m_out += "\"><text:p>";
    m_out += errorText;
    m_out += "</text:p></";
    m_out += element;
    m_out += '>';
}

// The cells of one row (none for an empty row), with the merged ranges that reach it: a range's
// first cell spans it, the others are covered cells.
void OdsWriter::WriteCells(const Row* row, uint32_t index)
{
    static const std::vector<Cell> kNone;
    const std::vector<Cell>& cells = row != nullptr ? row->cells : kNone;
    size_t ci = 0;
    uint32_t col = 0;
    bool any = false;
    auto gap = [&](uint32_t to) {
        if (to > col) {
            WriteCell(nullptr, index, false, to - col, nullptr);
            any = true;
        }
    };
    size_t mi = 0;
    while (true) {
        while (ci < cells.size() && !Says(cells[ci])) {
            ++ci;
        }
        const uint32_t cellCol = ci < cells.size() ? cells[ci].col : UINT32_MAX;
        const uint32_t mergeCol = mi < m_active.size() ? m_active[mi].firstCol : UINT32_MAX;
        if (cellCol == UINT32_MAX && mergeCol == UINT32_MAX) {
            break;
        }
        if (cellCol < mergeCol) {
            gap(cellCol);
            WriteCell(&cells[ci], index, false, 1, nullptr);
            any = true;
            col = cellCol + 1;
            ++ci;
            continue;
        }
        const CellRange& m = m_active[mi++];
        gap(m.firstCol);
        col = m.firstCol;
        const bool anchor = m.firstRow == index;
        if (anchor) {
            const Cell* first = ci < cells.size() && cells[ci].col == m.firstCol ? &cells[ci] : nullptr;
            WriteCell(first, index, false, 1, &m);
            if (first != nullptr) {
                ++ci;
            }
            col = m.firstCol + 1;
        }
        // The covered cells, those with a value written with it.
        while (col <= m.lastCol) {
            while (ci < cells.size() && (!Says(cells[ci]) || cells[ci].col < col)) {
                ++ci;
            }
            const uint32_t next = ci < cells.size() && cells[ci].col <= m.lastCol ? cells[ci].col : m.lastCol + 1;
            if (next > col) {
                WriteCell(nullptr, index, true, next - col, nullptr);
                col = next;
            } else {
                WriteCell(&cells[ci++], index, true, 1, nullptr);
                ++col;
            }
        }
        any = true;
    }
    if (!any) {
        m_out += "<table:table-cell/>";
    }
}

void OdsWriter::WriteRow(const Row* row, uint32_t index, uint32_t repeat)
{
    m_out += "<table:table-row table:style-name=\"";
    const bool sized = row != nullptr && row->height > 0 && std::isfinite(row->height);
    m_out += sized ? m_styles.RowStyle(std::min<double>(row->height, 409.5), row->customHeight)
                   : m_styles.RowStyle(m_plan->defaultHeight, false);
    m_out += '"';
    if (repeat > 1) {
        m_out += " table:number-rows-repeated=\"";
        AppendUint(m_out, repeat);
        m_out += '"';
    }
    if (row != nullptr && row->hidden) {
        m_out += " table:visibility=\"collapse\"";
    }
    if (row != nullptr && row->style != 0 && !m_styles.CellStyle(row->style, false).empty()) {
        m_out += " table:default-cell-style-name=\"";
        m_out += m_styles.CellStyle(row->style, false);
        m_out += '"';
    }
    m_out += '>';
    WriteCells(row, index);
    m_out += "</table:table-row>";
    Flush();
}

void OdsWriter::WriteSheet(size_t index)
{
    const bool wasLoaded = m_workbook.IsSheetLoaded(index);
    const Worksheet& sheet = m_workbook.SheetKeepingSpill(index);
    m_sheet = &sheet;
    m_plan = &m_plans[index];
    m_sheetName = m_workbook.SheetName(index);
    m_active.clear();
    m_links.clear();
    m_nextMerge = 0;
    m_nextLink = 0;

    m_out += "<table:table table:name=\"";
    AppendEscaped(m_out, m_sheetName, true);
    m_out += "\" table:style-name=\"";
    m_out += OdsStyleSet::TableStyle(m_states[index] != SheetState::Visible);
    m_out += "\">";
    for (const ColumnRun& run : m_plan->runs) {
        m_out += "<table:table-column table:style-name=\"";
        m_out += m_styles.ColumnStyle(run.points);
        m_out += '"';
        if (run.count > 1) {
            m_out += " table:number-columns-repeated=\"";
            AppendUint(m_out, run.count);
            m_out += '"';
        }
        if (run.hidden) {
            m_out += " table:visibility=\"collapse\"";
        }
        // Only a column's own format is named: Gnumeric spends seconds for every thousand rows
        // on columns that name the default style, which cells without a style have anyway.
        const std::string& style = m_styles.CellStyle(run.style, false);
        if (!style.empty()) {
            m_out += " table:default-cell-style-name=\"";
            m_out += style;
            m_out += '"';
        }
        m_out += "/>";
    }

    // Rows in order, the gaps between them as repeated empty rows, cut where a merged range
    // begins or ends, since the rows it reaches hold its covered cells.
    uint32_t next = 0;
    auto advance = [&](uint32_t row) {
        std::erase_if(m_active, [&](const CellRange& m) { return m.lastRow < row; });
        bool added = false;
        while (m_nextMerge < m_plan->merges.size() && m_plan->merges[m_nextMerge].firstRow <= row) {
            m_active.push_back(m_plan->merges[m_nextMerge++]);
            added = true;
        }
        if (added) {
            std::sort(m_active.begin(), m_active.end(),
                      [](const CellRange& a, const CellRange& b) { return a.firstCol < b.firstCol; });
        }
        std::erase_if(m_links, [&](const Hyperlink* h) { return h->range.lastRow < row; });
        while (m_nextLink < m_plan->links.size() && m_plan->links[m_nextLink].range.firstRow <= row) {
            m_links.push_back(&m_plan->links[m_nextLink++]);
        }
    };
    auto emptyRows = [&](uint32_t to) {
        while (next < to) {
            advance(next);
            uint32_t end = to;
            if (m_nextMerge < m_plan->merges.size()) {
                end = std::min(end, std::max(next + 1, m_plan->merges[m_nextMerge].firstRow));
            }
            for (const CellRange& m : m_active) {
                end = std::min(end, m.firstRow == next ? next + 1 : m.lastRow + 1);
            }
            WriteRow(nullptr, next, end - next);
            next = end;
        }
    };
    sheet.VisitRows([&](const Row& row) {
        const bool says = row.HasSettings() || std::any_of(row.cells.begin(), row.cells.end(), Says);
        if (!says) {
            return;
        }
        emptyRows(row.index);
        advance(row.index);
        WriteRow(&row, row.index, 1);
        next = row.index + 1;
    });
    if (m_plan->hasRows) {
        emptyRows(m_plan->lastRow + 1);
    }
    if (next == 0) {
        WriteRow(nullptr, 0, 1); // a table holds at least one row
    }
    m_out += "</table:table>";
    Flush();
    if (!wasLoaded) {
        m_workbook.UnloadSheet(index);
    }
}

} // namespace gq::engine::odsout
