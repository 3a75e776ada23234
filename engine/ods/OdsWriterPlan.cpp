// The OpenDocument writer's first pass over a sheet: the styles, columns and merges its content needs.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/ods/OdsWriterInternal.h"

#include <algorithm>
#include <cmath>

namespace gq::engine::odsout {

namespace {

// A column width in the model's characters (the default font's digit width of 7 pixels, with 5
// pixels of padding, as xlsx counts) in points at 96 pixels an inch; the reader counts back.
double ColumnPoints(double chars)
{
    return (chars * 7.0 + 5.0) * 0.75;
}

std::string Where(const std::string& sheet, uint32_t row, uint32_t col)
{
    return "sheet \"" + sheet + "\", cell " + CellName(row, col);
}

} // namespace

// The first pass: the styles the sheet uses, its columns, and checks that it fits the grid, so that
// nothing is streamed before the content is known to fit.
void OdsWriter::PlanSheet(size_t index)
{
    const bool wasLoaded = m_workbook.IsSheetLoaded(index);
    Worksheet& sheet = m_workbook.SheetKeepingSpill(index);
    const std::string& name = m_workbook.SheetName(index);
    if (!sheet.InOrder()) {
        sheet.Normalize();
    }
    SheetPlan& plan = m_plans.emplace_back();
    if (sheet.defaultColWidth > 0) {
        plan.defaultPoints = ColumnPoints(sheet.defaultColWidth);
    }
    if (sheet.defaultRowHeight > 0 && std::isfinite(sheet.defaultRowHeight)) {
        plan.defaultHeight = std::min(sheet.defaultRowHeight, 409.5);
    }
    m_styles.UseColumn(plan.defaultPoints);
    m_styles.UseRow(plan.defaultHeight, false);
    plan.frozenRows = std::min(sheet.frozenRows, limits::kOdsMaxRows - 1);
    plan.frozenCols = std::min(sheet.frozenCols, limits::kOdsMaxCols - 1);
    uint32_t lastCol = 0;
    sheet.VisitRows([&](const Row& row) {
        if (row.index >= limits::kOdsMaxRows) {
            throw LimitError(Where(name, row.index, row.cells.empty() ? 0 : row.cells.front().col) +
                             ": the row lies outside the grid of an OpenDocument spreadsheet (at most 1,048,576 "
                             "rows)");
        }
        if (row.height > 0 && std::isfinite(row.height)) {
            m_styles.UseRow(std::min<double>(row.height, 409.5), row.customHeight);
        }
        if (row.style != 0) {
            m_styles.UseCell(row.style, false);
        }
        for (const Cell& cell : row.cells) {
            if (!Says(cell)) {
                continue;
            }
            if (cell.col >= limits::kOdsMaxCols) {
                throw LimitError(Where(name, row.index, cell.col) +
                                 ": the cell lies outside the grid of an OpenDocument spreadsheet (at most 16,384 "
                                 "columns)");
            }
            m_styles.UseCell(cell.style, cell.type == CellType::Boolean);
            lastCol = std::max(lastCol, cell.col);
        }
        if (!row.cells.empty() || row.HasSettings()) {
            plan.lastRow = row.index;
            plan.hasRows = true;
        }
    });
    auto inGrid = [](const CellRange& r) {
        return r.firstRow <= r.lastRow && r.firstCol <= r.lastCol && r.lastRow < limits::kOdsMaxRows &&
               r.lastCol < limits::kOdsMaxCols;
    };
    for (const CellRange& m : sheet.merges) {
        if (!inGrid(m)) {
            throw LimitError("sheet \"" + name + "\": the merged range " + RangeName(m) +
                             " lies outside the grid of an OpenDocument spreadsheet");
        }
        if (m.firstRow != m.lastRow || m.firstCol != m.lastCol) {
            plan.merges.push_back(m);
            lastCol = std::max(lastCol, m.lastCol);
        }
    }
    std::stable_sort(plan.merges.begin(), plan.merges.end(), [](const CellRange& a, const CellRange& b) {
        return a.firstRow != b.firstRow ? a.firstRow < b.firstRow : a.firstCol < b.firstCol;
    });
    for (const Hyperlink& h : sheet.hyperlinks) {
        if (inGrid(h.range) && (!h.target.empty() || !h.location.empty())) {
            plan.links.push_back(h);
        }
    }
    std::stable_sort(plan.links.begin(), plan.links.end(),
                     [](const Hyperlink& a, const Hyperlink& b) { return a.range.firstRow < b.range.firstRow; });

    // Column settings, the earlier entry keeping columns that two name, as the xlsx writer does.
    std::vector<ColumnInfo> columns = sheet.columns;
    std::stable_sort(columns.begin(), columns.end(),
                     [](const ColumnInfo& a, const ColumnInfo& b) { return a.first < b.first; });
    uint32_t next = 0;
    auto addRun = [&](uint32_t count, double points, bool hidden, uint32_t style) {
        if (count == 0) {
            return;
        }
        if (!plan.runs.empty() && plan.runs.back().points == points && plan.runs.back().hidden == hidden &&
            plan.runs.back().style == style) {
            plan.runs.back().count += count;
        } else {
            plan.runs.push_back(ColumnRun{count, points, hidden, style});
        }
    };
    for (ColumnInfo c : columns) {
        if (c.first > c.last || c.last >= limits::kOdsMaxCols) {
            throw LimitError("sheet \"" + name + "\": column settings for " + ColumnName(c.first) + ":" +
                             ColumnName(c.last) + " lie outside the grid of an OpenDocument spreadsheet");
        }
        if (c.last < next) {
            continue;
        }
        c.first = std::max(c.first, next);
        const bool matters = c.width > 0 || c.hidden || c.style != 0;
        if (!matters) {
            continue;
        }
        addRun(c.first - next, plan.defaultPoints, false, 0);
        const double points = c.width > 0 ? ColumnPoints(std::min(c.width, 255.0)) : plan.defaultPoints;
        m_styles.UseColumn(points);
        if (c.style != 0) {
            m_styles.UseCell(c.style, false);
        }
        addRun(c.last - c.first + 1, points, c.hidden, c.style);
        next = c.last + 1;
    }
    plan.columns = std::max(next, lastCol + 1);
    addRun(plan.columns - next, plan.defaultPoints, false, 0);
    for (const CellRange& m : plan.merges) {
        plan.lastRow = std::max(plan.lastRow, m.lastRow);
        plan.hasRows = true;
    }
    if (!wasLoaded) {
        m_workbook.UnloadSheet(index);
    }
}

} // namespace gq::engine::odsout
