// The .xls writer's worksheets: dimensions, columns, rows and cells, window and panes, merged
// ranges and hyperlinks.
// SPDX-License-Identifier: Apache-2.0
#include "engine/io/LittleEndian.h"
#include "engine/xls/Hyperlinks.h"
#include "engine/xls/XlsBookWriter.h"
#include "engine/xls/XlsWriter.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <optional>

namespace gq::engine::biff {

namespace {

// RK numbers, [MS-XLS] 2.5.218: a 30-bit integer or the top 30 bits of a double, optionally
// divided by 100 when read. Gives true and the RK value only when reading it back yields exactly
// `value`, bit for bit.
bool ToRk(double value, uint32_t& rk)
{
    if (!std::isfinite(value)) {
        return false;
    }
    uint64_t bits = std::bit_cast<uint64_t>(value);
    if ((bits & 0x3FFFFFFFFull) == 0) {
        rk = static_cast<uint32_t>(bits >> 32) & ~3u;
        return true;
    }
    constexpr double kMinInt = -536870912.0; // -2^29
    constexpr double kMaxInt = 536870911.0;  // 2^29 - 1
    if (value >= kMinInt && value <= kMaxInt) {
        auto i = static_cast<int32_t>(value);
        if (static_cast<double>(i) == value) {
            rk = (static_cast<uint32_t>(i) << 2) | 2u;
            return true;
        }
    }
    double scaled = value * 100.0;
    if (scaled >= kMinInt && scaled <= kMaxInt) {
        double whole = std::nearbyint(scaled);
        auto i = static_cast<int32_t>(whole);
        if (static_cast<double>(i) / 100.0 == value) {
            rk = (static_cast<uint32_t>(i) << 2) | 3u;
            return true;
        }
    }
    if (std::isfinite(scaled)) {
        uint64_t sbits = std::bit_cast<uint64_t>(scaled);
        if ((sbits & 0x3FFFFFFFFull) == 0 && scaled / 100.0 == value) {
            rk = (static_cast<uint32_t>(sbits >> 32) & ~3u) | 1u;
            return true;
        }
    }
    return false;
}

uint32_t Twips(double points)
{
    double t = std::round(points * 20.0);
    return static_cast<uint32_t>(std::clamp(std::isfinite(t) ? t : 255.0, 0.0, 8190.0));
}

bool NeedsRowRecord(const Row& row)
{
    return !row.cells.empty() || row.HasSettings();
}

} // namespace

void XlsBookWriter::WriteSheet(size_t index)
{
    const Worksheet& sheet = m_book.SheetKeepingSpill(index);
    m_sheet = &sheet;
    WriteBof(kBofWorksheet);

    // Guts, [MS-XLS] 2.4.134: the deepest outline levels plus one (0 for none), which readers
    // need to draw the outline symbols. The two gutter sizes are unused.
    // One pass over the rows gives the outline depth and the Dimensions record's box. Spilled
    // rows within the grid need no pass of their own: what they hold of both was noted as they were
    // spilled.
    uint32_t rowLevels = 0;
    std::optional<CellRange> box;
    const auto visit = [&](const Row& row) {
        if (row.index < limits::kXlsMaxRows) {
            rowLevels = std::max<uint32_t>(rowLevels, std::min(row.outlineLevel, kMaxOutlineLevel));
        }
        if (!row.cells.empty()) {
            ExtendRange(box, CellRange{row.index, row.cells.front().col, row.index, row.cells.back().col});
        }
    };
    const SpillSummary& spilled = sheet.spilled.Summary();
    if (spilled.rows == 0 || spilled.lastRow < limits::kXlsMaxRows) {
        rowLevels = std::min<uint32_t>(spilled.outlineLevel, kMaxOutlineLevel);
        box = spilled.cellBox;
        for (const Row& row : sheet.rows) {
            visit(row);
        }
    } else {
        sheet.VisitRows(visit);
    }
    uint32_t colLevels = 0;
    for (const ColumnInfo& column : sheet.columns) {
        if (column.first < limits::kXlsMaxCols) {
            colLevels = std::max<uint32_t>(colLevels, std::min(column.outlineLevel, kMaxOutlineLevel));
        }
    }
    size_t guts = m_out.Begin(kGuts);
    m_out.U16(0);
    m_out.U16(0);
    m_out.U16(rowLevels > 0 ? rowLevels + 1 : 0);
    m_out.U16(colLevels > 0 ? colLevels + 1 : 0);
    m_out.End(guts);

    uint32_t defaultRowTwips = 255; // 12.75 points, what BIFF readers assume without the record
    if (sheet.defaultRowHeight > 0) {
        defaultRowTwips = Twips(sheet.defaultRowHeight);
        // DefaultRowHeight, [MS-XLS] 2.4.87: fUnsynced, the height was set on purpose.
        size_t r = m_out.Begin(kDefaultRowHeight);
        m_out.U16(0x0001);
        m_out.U16(defaultRowTwips);
        m_out.End(r);
    }
    // WsBool, [MS-XLS] 2.4.351: automatic page breaks shown (fShowAutoBreaks), outline symbols
    // shown (fDspGuts), and where the summaries of outline groups sit (fRowSumsBelow,
    // fColSumsRight).
    WriteSimple(kWsBool, 0x0401u | (sheet.summaryBelow ? 0x0040u : 0u) | (sheet.summaryRight ? 0x0080u : 0u));
    if (sheet.defaultColWidth > 0) {
        // DefColWidth, [MS-XLS] 2.4.89, counts whole characters without the cell padding of
        // 5 pixels at the default 7-pixel digit; StandardWidth, 2.4.257, holds the exact
        // padded width in 1/256 characters and wins where a reader knows it.
        double unpadded = std::round(sheet.defaultColWidth - 5.0 / 7.0);
        WriteSimple(kDefColWidth, static_cast<uint32_t>(std::clamp(unpadded, 0.0, 255.0)));
    }
    WriteColumns(sheet);
    if (sheet.defaultColWidth > 0) {
        WriteSimple(kStandardWidth,
                    static_cast<uint32_t>(std::clamp(std::round(sheet.defaultColWidth * 256.0), 0.0, 65535.0)));
    }

    // Dimensions, [MS-XLS] 2.4.90: first row, last row + 1, first column, last column + 1.
    size_t r = m_out.Begin(kDimensions);
    if (!box) {
        m_out.Zeros(14);
    } else {
        m_out.U32(box->firstRow);
        m_out.U32(box->lastRow + 1);
        m_out.U16(box->firstCol);
        m_out.U16(box->lastCol + 1);
        m_out.U16(0);
    }
    m_out.End(r);

    m_encoded.clear();
    FindArrays(sheet);
    WriteCells(sheet, defaultRowTwips);
    WriteWindow(sheet, index);
    WriteMerges(sheet);
    WriteHyperlinks(sheet, m_book.SheetName(index));
    m_out.End(m_out.Begin(kEof));
}

// ColInfo, [MS-XLS] 2.4.53. The model holds xlsx widths: characters of the default font's
// digit width, padding included. BIFF's coldx counts 1/256 of that same character width, so
// coldx = round(width * 256) and a reader gets the model's width back as coldx / 256.
void XlsBookWriter::WriteColumns(const Worksheet& sheet)
{
    for (const ColumnInfo& column : sheet.columns) {
        if (column.first >= limits::kXlsMaxCols || column.first > column.last) {
            continue;
        }
        double width = column.width > 0 ? column.width : (sheet.defaultColWidth > 0 ? sheet.defaultColWidth : 8.43);
        size_t r = m_out.Begin(kColInfo);
        m_out.U16(column.first);
        m_out.U16(std::min<uint32_t>(column.last, limits::kXlsMaxCols - 1));
        m_out.U16(static_cast<uint32_t>(std::clamp(std::round(width * 256.0), 0.0, 65535.0)));
        m_out.U16(MapXf(column.style));
        // fHidden, fUserSet, iOutLevel (bits 8-10), fCollapsed.
        m_out.U16((column.hidden ? 0x01u : 0u) | (column.customWidth ? 0x02u : 0u) |
                  (uint32_t{std::min(column.outlineLevel, kMaxOutlineLevel)} << 8) | (column.collapsed ? 0x1000u : 0u));
        m_out.U16(0);
        m_out.End(r);
    }
}

// Row records in blocks of 32, each block followed by its rows' cells, as Excel writes them.
void XlsBookWriter::WriteCells(const Worksheet& sheet, uint32_t defaultRowTwips)
{
    // The rows of one block are gathered first, since their ROW records come before their cells;
    // the copies reuse their storage from block to block.
    std::vector<Row> block;
    size_t held = 0;
    uint32_t blockEnd = 0;
    bool ended = false;
    const Row* next = nullptr;
    m_runs.fill(SharedRun{});
    auto flush = [&] {
        for (size_t k = 0; k < held; ++k) {
            if (NeedsRowRecord(block[k])) {
                WriteRowRecord(block[k], defaultRowTwips);
            }
        }
        // A shared formula starts where the row below continues it: the next block's first row,
        // when it has come, is the last row's.
        for (size_t k = 0; k < held; ++k) {
            WriteRowCells(block[k], k + 1 < held ? &block[k + 1] : next);
        }
        held = 0;
    };
    sheet.VisitRows([&](const Row& row) {
        // Rows past the grid end the cells: the scan refused any that hold cells.
        if (ended || row.index >= limits::kXlsMaxRows) {
            ended = true;
            return;
        }
        if (held > 0 && row.index >= blockEnd) {
            next = &row;
            flush();
        }
        if (held == 0) {
            blockEnd = (row.index / kRowsPerBlock + 1) * kRowsPerBlock;
        }
        if (held == block.size()) {
            block.emplace_back();
        }
        block[held++] = row;
    });
    next = nullptr;
    flush();
}

void XlsBookWriter::WriteRowRecord(const Row& row, uint32_t defaultRowTwips)
{
    // Row, [MS-XLS] 2.4.221.
    uint8_t* p = m_out.Grow(20);
    le::Store16(p, kRow);
    le::Store16(p + 2, 16);
    le::Store16(p + 4, row.index);
    le::Store16(p + 6, row.cells.empty() ? 0 : row.cells.front().col);
    le::Store16(p + 8, row.cells.empty() ? 0 : row.cells.back().col + 1);
    le::Store16(p + 10, row.height > 0 ? Twips(row.height) : defaultRowTwips);
    le::Store32(p + 12, 0);
    // iOutLevel, fCollapsed, fDyZero (hidden), fUnsynced (height set on purpose), fGhostDirty
    // (the row has its own format); the reserved byte that must be 1; in the second word ixfe_val,
    // the row's format, or 15 (the first cell format) for a row without one.
    const bool formatted = row.style != 0;
    le::Store16(p + 16, std::min(row.outlineLevel, kMaxOutlineLevel) | (row.collapsed ? 0x10u : 0u) |
                            (row.hidden ? 0x20u : 0u) | (row.customHeight ? 0x40u : 0u) | (formatted ? 0x80u : 0u) |
                            0x0100u);
    le::Store16(p + 18, formatted ? (MapXf(row.style) & 0x0FFFu) : kFirstCellXf);
}

void XlsBookWriter::WriteRowCells(const Row& row, const Row* below)
{
    const std::vector<Cell>& cells = row.cells;
    const uint32_t rw = row.index;
    const size_t n = cells.size();
    // A cell with a kept formula, or of an array formula's range, ends a run of RK or blank cells:
    // it may need a FORMULA record.
    auto arrayCell = [this, rw](const Cell& c) {
        return m_arrayCells.empty() ? m_arrayCells.end() : m_arrayCells.find((uint64_t{rw} << 32) | c.col);
    };
    auto plain = [&](const Cell& c) { return c.formulaIndex == kNoFormula && arrayCell(c) == m_arrayCells.end(); };
    size_t i = 0;
    while (i < n) {
        const Cell& cell = cells[i];
        if (!plain(cell)) {
            if (auto member = arrayCell(cell); member != m_arrayCells.end()) {
                WriteArrayCell(rw, cell, member->second);
                ++i;
                continue;
            }
            // A cell of a shared formula needs no expression of its own.
            if (JoinSharedRun(rw, cell)) {
                ++i;
                continue;
            }
            if (EncodeFormula(*m_sheet, rw, cell)) {
                if (!StartSharedRun(rw, cell, below)) {
                    WriteFormula(rw, cell);
                }
                ++i;
                continue;
            }
            ++m_formulasAsValues;
        }
        uint32_t rk = 0;
        if (cell.type == CellType::Number && ToRk(cell.number, rk)) {
            // A run of adjacent RK cells goes into one MulRk, [MS-XLS] 2.4.175.
            size_t j = i + 1;
            m_rkRun.clear();
            m_rkRun.push_back(rk);
            uint32_t next = 0;
            while (j < n && cells[j].col == cells[j - 1].col + 1 && cells[j].type == CellType::Number &&
                   plain(cells[j]) && ToRk(cells[j].number, next)) {
                m_rkRun.push_back(next);
                ++j;
            }
            if (j - i == 1) {
                uint8_t* p = m_out.Grow(14); // RK, 2.4.220
                le::Store32(PutCellRecord(p, kRk, {rw, cell.col, MapXf(cell.style)}, 4), rk);
            } else {
                const size_t count = j - i;
                uint8_t* p = PutMultiCellRecord(m_out.Grow(4 + 6 + 6 * count), kMulRk, rw, cell.col, count, 6);
                for (size_t k = 0; k < count; ++k, p += 6) {
                    le::Store16(p, MapXf(cells[i + k].style));
                    le::Store32(p + 2, m_rkRun[k]);
                }
                le::Store16(p, cells[j - 1].col);
            }
            i = j;
            continue;
        }
        if (cell.type == CellType::Blank) {
            // A run of adjacent blank cells goes into one MulBlank, [MS-XLS] 2.4.174.
            size_t j = i + 1;
            while (j < n && cells[j].col == cells[j - 1].col + 1 && cells[j].type == CellType::Blank &&
                   plain(cells[j])) {
                ++j;
            }
            if (j - i == 1) {
                PutCellRecord(m_out.Grow(10), kBlank, {rw, cell.col, MapXf(cell.style)}, 0); // Blank, 2.4.20
            } else {
                const size_t count = j - i;
                uint8_t* p = PutMultiCellRecord(m_out.Grow(4 + 6 + 2 * count), kMulBlank, rw, cell.col, count, 2);
                for (size_t k = 0; k < count; ++k, p += 2) {
                    le::Store16(p, MapXf(cells[i + k].style));
                }
                le::Store16(p, cells[j - 1].col);
            }
            i = j;
            continue;
        }
        switch (cell.type) {
        case CellType::Number:
            if (std::isfinite(cell.number)) {
                uint8_t* p = m_out.Grow(18); // Number, 2.4.180
                le::StoreF64(PutCellRecord(p, kNumber, {rw, cell.col, MapXf(cell.style)}, 8), cell.number);
            } else {
                // BIFF has no infinities or NaNs; a spreadsheet shows them as #NUM!.
                WriteBoolErr(rw, cell, static_cast<uint8_t>(ErrorCode::Num), true);
            }
            break;
        case CellType::String: {
            uint8_t* p = m_out.Grow(14); // LabelSst, 2.4.149
            le::Store32(PutCellRecord(p, kLabelSst, {rw, cell.col, MapXf(cell.style)}, 4), m_sstIndex[cell.text]);
            break;
        }
        case CellType::Boolean:
            WriteBoolErr(rw, cell, cell.boolean ? 1 : 0, false);
            break;
        case CellType::Error:
            WriteBoolErr(rw, cell, static_cast<uint8_t>(cell.error), true);
            break;
        case CellType::Blank:
            break;
        }
        ++i;
    }
}

// Formula, [MS-XLS] 2.4.127: the cached result, then the expression m_rgce and its extra data
// m_rgcb, fShrFmla set for a cell of a shared formula. A text result is marked in the value and
// follows in a STRING record, 2.4.268, after any ARRAY or SHRFMLA record the cell begins.
void XlsBookWriter::WriteFormula(uint32_t rw, const Cell& cell, bool shared)
{
    size_t r = m_out.Begin(kFormula);
    m_out.U16(rw);
    m_out.U16(cell.col);
    m_out.U16(MapXf(cell.style));
    auto special = [this](uint8_t kind, uint8_t value) {
        m_out.U8(kind);
        m_out.U8(0);
        m_out.U8(value);
        m_out.U8(0);
        m_out.U8(0);
        m_out.U8(0);
        m_out.U16(0xFFFF);
    };
    const bool text = cell.type == CellType::String && !m_book.Strings().At(cell.text).empty();
    switch (cell.type) {
    case CellType::Number:
        if (std::isfinite(cell.number)) {
            m_out.F64(cell.number);
        } else {
            special(2, static_cast<uint8_t>(ErrorCode::Num));
        }
        break;
    case CellType::String:
        special(text ? 0 : 3, 0);
        break;
    case CellType::Boolean:
        special(1, cell.boolean ? 1 : 0);
        break;
    case CellType::Error:
        special(2, static_cast<uint8_t>(cell.error));
        break;
    case CellType::Blank:
        special(3, 0); // no result yet: the empty string
        break;
    }
    // fAlwaysCalc where cached values may no longer hold, so that the application computes them.
    m_out.U16((m_book.FullCalcOnLoad() ? 0x0001u : 0u) | (shared ? 0x0008u : 0u));
    m_out.U32(0);
    m_out.U16(static_cast<uint32_t>(m_rgce.size()));
    m_out.Raw(m_rgce.data(), m_rgce.size());
    m_out.Raw(m_rgcb.data(), m_rgcb.size());
    m_out.End(r);
    if (!m_arrayRecord.empty()) {
        m_followAt = m_out.Begin(m_followType);
        m_out.Raw(m_arrayRecord.data(), m_arrayRecord.size());
        m_out.End(m_followAt);
        m_arrayRecord.clear();
    }
    if (text) {
        r = m_out.Begin(kString);
        ToUtf16(m_book.Strings().At(cell.text), m_formulaText);
        PutUnicodeString(m_out, m_formulaText, false);
        m_out.End(r);
    }
}

void XlsBookWriter::WriteBoolErr(uint32_t rw, const Cell& cell, uint8_t value, bool isError)
{
    uint8_t* p = PutCellRecord(m_out.Grow(12), kBoolErr, {rw, cell.col, MapXf(cell.style)}, 2); // BoolErr, 2.4.24
    p[0] = value;
    p[1] = isError ? 1 : 0;
}

void XlsBookWriter::WriteWindow(const Worksheet& sheet, size_t index)
{
    const bool active = index == ActiveSheet();
    const uint32_t frozenRows = std::min<uint32_t>(sheet.frozenRows, limits::kXlsMaxRows - 1);
    const uint32_t frozenCols = std::min<uint32_t>(sheet.frozenCols, limits::kXlsMaxCols - 1);
    const bool frozen = frozenRows > 0 || frozenCols > 0;
    // Window2, [MS-XLS] 2.4.346: gridlines, headers, zeros, default header colour, outline
    // symbols; fFrozen and fFrozenNoSplit for frozen panes; fSelected and fPaged on the active sheet.
    uint32_t grbit = 0x0002 | 0x0004 | 0x0010 | 0x0020 | 0x0080;
    if (frozen) {
        grbit |= 0x0008 | 0x0100;
    }
    if (active) {
        grbit |= 0x0200 | 0x0400;
    }
    size_t r = m_out.Begin(kWindow2);
    m_out.U16(grbit);
    m_out.U16(0);
    m_out.U16(0);
    m_out.U16(kIcvAutoFore);
    m_out.U16(0);
    m_out.U16(0);
    m_out.U16(0);
    m_out.U32(0);
    m_out.End(r);

    if (frozen) {
        // Pane, [MS-XLS] 2.4.189: the split position and the active pane (0 bottom-right,
        // 1 top-right, 2 bottom-left).
        r = m_out.Begin(kPane);
        m_out.U16(frozenCols);
        m_out.U16(frozenRows);
        m_out.U16(frozenRows);
        m_out.U16(frozenCols);
        m_out.U8(frozenRows && frozenCols ? 0 : frozenRows ? 2 : 1);
        m_out.U8(0);
        m_out.End(r);
    }
}

// MergeCells, [MS-XLS] 2.4.168: at most 1,026 Ref8 ranges a record.
void XlsBookWriter::WriteMerges(const Worksheet& sheet)
{
    const auto& merges = sheet.merges;
    for (size_t start = 0; start < merges.size(); start += limits::kXlsMaxMergesPerRecord) {
        size_t count = std::min(limits::kXlsMaxMergesPerRecord, merges.size() - start);
        size_t r = m_out.Begin(kMergeCells);
        m_out.U16(static_cast<uint32_t>(count));
        for (size_t k = start; k < start + count; ++k) {
            PutRef8(m_out, merges[k]);
        }
        m_out.End(r);
    }
}

// HLink, [MS-XLS] 2.4.140, holding a hyperlink object (Hyperlinks.h): a URL or file moniker for
// an external address, a location string for a place inside the workbook (or both).
void XlsBookWriter::WriteHyperlinks(const Worksheet& sheet, const std::string& sheetName)
{
    // Excel shows at most 255 characters of a tooltip; longer ones are shortened to that.
    constexpr size_t kMaxTooltipChars = 255;

    std::u16string target, location, display, tooltip;
    for (const Hyperlink& link : sheet.hyperlinks) {
        ToUtf16(link.target, target);
        ToUtf16(link.location, location);
        ToUtf16(link.display, display);
        if (target.empty() && location.empty()) {
            continue; // a link to nowhere
        }
        size_t r = m_out.Begin(kHLink);
        PutRef8(m_out, link.range);
        PutHyperlinkObject(m_out, target, location, display);
        if (m_out.BodySize(r) > kMaxRecordBody) {
            throw LimitError("sheet \"" + sheetName + "\": the hyperlink at " + RangeName(link.range) +
                             " is too long for an Excel 97-2003 file");
        }
        m_out.End(r);

        if (!link.tooltip.empty()) {
            ToUtf16(link.tooltip, tooltip);
            tooltip.resize(std::min(tooltip.size(), kMaxTooltipChars));
            if (tooltip.size() > 1 && tooltip.back() >= 0xD800 && tooltip.back() <= 0xDBFF) {
                tooltip.pop_back();
            }
            // HLinkTooltip, [MS-XLS] 2.4.141: a future-record header repeating the record type,
            // the range, then the NUL-terminated tip.
            r = m_out.Begin(kHLinkTooltip);
            m_out.U16(kHLinkTooltip);
            PutRef8(m_out, link.range);
            PutChars(m_out, tooltip, false);
            m_out.U16(0);
            m_out.End(r);
        }
    }
}

} // namespace gq::engine::biff

namespace gq::engine {

bool XlsHoldsHyperlink(const Hyperlink& link)
{
    return biff::FitsHlinkRecord(link);
}

} // namespace gq::engine
