// The .xls reader's worksheet substream: cells, rows, columns, merged ranges, hyperlinks and panes.
// SPDX-License-Identifier: Apache-2.0
#include "engine/io/ByteReader.h"
#include "engine/xls/Hyperlinks.h"
#include "engine/xls/XlsBook.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

namespace gq::engine::biff {

namespace {

// RkNumber, [MS-XLS] 2.5.217: a 30-bit integer or the high 30 bits of a double, optionally / 100.
inline double DecodeRk(uint32_t rk)
{
    double v;
    if ((rk & 0x02) != 0) {
        v = static_cast<double>(static_cast<int32_t>(rk) >> 2);
    } else {
        v = std::bit_cast<double>(static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32);
    }
    if ((rk & 0x01) != 0) {
        v /= 100.0;
    }
    return v;
}

// A cell whose formula is a PtgExp: it shares the formula of the cell it points at.
struct SharedCell {
    uint32_t row = 0;
    uint32_t col = 0;
    uint64_t base = 0;
};

uint64_t CellKey(uint32_t row, uint32_t col)
{
    return (static_cast<uint64_t>(row) << 32) | col;
}

} // namespace

// Decodes a formula into a new entry of the sheet's formulas, anchored at (row, col); kNoFormula
// when it cannot be kept, and its cells keep their cached values only.
uint32_t XlsBook::KeepFormula(std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb, uint32_t row, uint32_t col,
                              bool sharedForm, Worksheet& out, bool mayFold)
{
    // A filled-down column's expressions differ only in their references' rows: one that is the
    // column's last new entry's expression moved along is that entry's, without being decoded.
    const bool byBytes = mayFold && m_biff >= 8 && col < limits::kXlsMaxCols;
    Folding* folding = nullptr;
    if (byBytes) {
        if (m_foldings.size() <= col) {
            m_foldings.resize(col + 1);
        }
        folding = &m_foldings[col];
        if (folding->sheet == &out && folding->entry < out.formulas.size() &&
            RepeatsMoved(*folding, rgce, rgcb, int64_t{row} - folding->row, int64_t{col} - folding->col)) {
            return folding->entry;
        }
    }
    // Decoded into one reused formula first: most cells of a filled-down column fold into the
    // entry before them and need no formula of their own.
    formula::Formula& parsed = m_decodedFormula;
    ReferenceLayout* layout = byBytes ? &m_decodedLayout : nullptr;
    const bool decoded =
        m_biff >= 8 ? DecodeFormula(rgce, rgcb, m_formulaGlobals, row, col, sharedForm, parsed, layout)
                    : DecodeBiff5Formula(rgce, rgcb, m_formulaGlobals, row, col, sharedForm, m_codePage, parsed);
    if (!decoded) {
        if (folding != nullptr) {
            folding->sheet = nullptr;
        }
        return kNoFormula;
    }
    // Each row's own "=B2*C2", "=B3*C3" is one formula moved along, stored once as the xlsx
    // reader stores it, so that a filled-down column costs one entry, not one a cell: the entry
    // above in the column, or the last one (a formula filled right).
    if (mayFold && !out.formulas.empty()) {
        auto same = [&](uint32_t index) {
            const FormulaEntry& e = out.formulas[index];
            return e.arrayRows == 0 &&
                   formula::SameWhenMoved(*e.formula, int64_t{row} - e.anchorRow, int64_t{col} - e.anchorCol, parsed);
        };
        if (folding != nullptr && folding->sheet == &out && folding->entry < out.formulas.size() &&
            same(folding->entry)) {
            return folding->entry;
        }
        if (same(static_cast<uint32_t>(out.formulas.size() - 1))) {
            return static_cast<uint32_t>(out.formulas.size() - 1);
        }
    }
    FormulaEntry entry;
    entry.formula = std::make_shared<formula::Formula>(std::move(parsed)); // the next decode clears it
    if (folding != nullptr) {
        folding->sheet = m_decodedLayout.movable ? &out : nullptr;
    }
    if (folding != nullptr && folding->sheet != nullptr) {
        std::swap(folding->layout, m_decodedLayout);
        folding->entry = static_cast<uint32_t>(out.formulas.size());
        folding->row = row;
        folding->col = col;
        folding->rgce.assign(rgce.begin(), rgce.end());
        folding->rgcb.assign(rgcb.begin(), rgcb.end());
    }
    entry.anchorRow = row;
    entry.anchorCol = col;
    out.formulas.push_back(std::move(entry));
    return static_cast<uint32_t>(out.formulas.size() - 1);
}

// True when `rgce` and `rgcb` are the folding entry's expression moved by (rows, cols): the same
// bytes but for its references' rows and columns, each relative part (bits 15 and 14 of the
// column field, RgceLoc [MS-XLS] 2.5.198.104) moved that far and each absolute part the same.
// Decoding it and comparing formulas (SameWhenMoved) would say the same.
bool XlsBook::RepeatsMoved(const Folding& folding, std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb,
                           int64_t rows, int64_t cols)
{
    const std::vector<uint8_t>& base = folding.rgce;
    if (rgce.size() != base.size() || !std::equal(rgcb.begin(), rgcb.end(), folding.rgcb.begin(), folding.rgcb.end())) {
        return false;
    }
    size_t from = 0;
    auto same = [&](size_t to) { return std::memcmp(rgce.data() + from, base.data() + from, to - from) == 0; };
    // One corner: its row at `rw`, its column field at `cf`.
    auto corner = [&](size_t rw, size_t cf) {
        const uint16_t field = le::Load16(base.data() + cf);
        const uint16_t moved = le::Load16(rgce.data() + cf);
        const int64_t dr = (field & 0x8000) != 0 ? rows : 0;
        const int64_t dc = (field & 0x4000) != 0 ? cols : 0;
        return (moved & 0xC000) == (field & 0xC000) && (moved & 0x3FFF) < limits::kXlsMaxCols &&
               int64_t{le::Load16(rgce.data() + rw)} == int64_t{le::Load16(base.data() + rw)} + dr &&
               int64_t{moved & 0x3FFF} == int64_t{field & 0x3FFF} + dc;
    };
    for (const ReferenceField& f : folding.layout.fields) {
        const size_t size = f.area ? 8 : 4;
        if (f.at < from || f.at + size > base.size() || !same(f.at)) {
            return false;
        }
        if (f.area ? !(corner(f.at, f.at + 4) && corner(f.at + 2, f.at + 6)) : !corner(f.at, f.at + 2)) {
            return false;
        }
        from = f.at + size;
    }
    return same(base.size());
}

// HLink, [MS-XLS] 2.4.140: the cells a link covers, then its hyperlink object (Hyperlinks.h).
void XlsBook::ReadHLink(std::span<const uint8_t> body, size_t offset, Worksheet& out)
{
    ByteReader r(body, &m_name, kWorkbookPart, offset + 4);
    Hyperlink link;
    uint16_t rwFirst = r.U16();
    uint16_t rwLast = r.U16();
    uint16_t colFirst = r.U16();
    uint16_t colLast = r.U16();
    if (rwLast < rwFirst || colLast < colFirst || colLast >= kMaxReadCols) {
        return; // a link on no cells is dropped
    }
    link.range = CellRange{rwFirst, colFirst, rwLast, colLast};
    if (!ReadHyperlinkObject(r, m_codePage, link)) {
        return; // another moniker kind: nothing a user could follow
    }
    if (out.hyperlinks.size() >= limits::kMaxHyperlinks) {
        throw LimitError(m_name, "a sheet holds more hyperlinks than the reader accepts");
    }
    out.hyperlinks.push_back(std::move(link));
}

void XlsBook::LoadSheet(Workbook& workbook, size_t index, Worksheet& out)
{
    EnsureSst(workbook);
    for (Folding& folding : m_foldings) {
        folding.sheet = nullptr; // another sheet may come to live where one read before did
    }
    size_t offset = m_sheetOffsets.at(index);
    if (offset >= m_stream.size()) {
        Fail("a sheet's position lies beyond the end of the workbook stream", offset);
    }
    RecordReader reader(m_stream, &m_name, kWorkbookPart, offset);
    Record rec;
    if (!reader.Next(rec) ||
        !(rec.type == kBof || (m_biff < 5 && (rec.type == kBof2 || rec.type == kBof3 || rec.type == kBof4))) ||
        rec.body.size() < 4) {
        Fail("a sheet does not begin with a BOF record", offset);
    }
    // A BIFF5 sheet lists the other sheets and workbooks its formulas refer to in a link table of its
    // own, before its cells.
    m_formulaGlobals.biff5Links.clear();
    m_formulaGlobals.formulaSheet = m_sheetBoundIndex.at(index);
    std::vector<std::string> linkedBooks;
    SheetBuilder builder(out);
    StringTable& strings = workbook.Strings();
    const uint32_t emptyText = strings.Intern("");
    std::string text;
    ContinuedRecord continued;
    // The text of a LABEL, RSTRING or STRING record into `text`, its Continue records joined on:
    // BIFF8's XLUnicodeString, BIFF5's counted code-page bytes. A cell's record starts with its
    // cell header, which goes into `header`; a STRING record has none (nullptr).
    auto readRecordText = [&](const Record& textRecord, CellHeader* header) {
        std::span<const uint8_t> body = textRecord.body;
        const std::vector<size_t>* bounds = nullptr;
        if (reader.PeekType() == kContinue) {
            continued.Assemble(reader, textRecord);
            body = continued.bytes;
            bounds = &continued.boundaries;
        }
        ByteReader r(body, &m_name, kWorkbookPart, textRecord.offset + 4);
        if (header != nullptr) {
            *header = ReadCellHeader(r, textRecord.offset);
        }
        text.clear();
        if (m_biff >= 8) {
            StringReader(r, bounds).XLUnicodeString(text);
        } else {
            uint16_t cch = r.U16();
            m_codePage.Append(r.Bytes(cch), text);
        }
    };
    PendingString pending;    // the formula whose text result the next STRING record holds
    PendingString pendingOld; // the same for BIFF2's own FORMULA and STRING records
    bool frozen = false;
    uint32_t paneRows = 0;
    uint32_t paneCols = 0;
    bool standardWidth = false;
    int depth = 1;
    // Shared and array formulas: the entry of each by the cell PtgExp tokens point at, and the
    // cells that point, resolved once the whole sheet is read (the SHRFMLA or ARRAY record comes
    // after the first cell that uses it).
    std::unordered_map<uint64_t, uint32_t> sharedEntries;
    std::vector<SharedCell> sharedCells;
    uint64_t lastExpBase = UINT64_MAX; // the base a PtgExp of the last FORMULA record named
    // The shared formula of the last base a PtgExp named, while no record for that base has come
    // since: kNoFormula when it has none yet.
    uint64_t sharedBase = UINT64_MAX;
    uint32_t sharedEntry = kNoFormula;

    while (depth > 0 && reader.Next(rec)) {
        const uint8_t* p = rec.body.data();
        const size_t n = rec.body.size();
        if (m_biff == 2 && depth == 1 && ReadBiff2Cell(workbook, rec, builder, text, pendingOld, out)) {
            continue;
        }
        if (depth > 1) {
            // An embedded chart's substream: skipped with its nested BOF/EOF pairs.
            if (rec.type == kBof) {
                ++depth;
            } else if (rec.type == kEof) {
                --depth;
            }
            continue;
        }
        switch (rec.type) {
        case kNumber: {
            CellHeader h = ReadCellHeader(rec, 14, "a NUMBER record is too short");
            Cell& c = builder.At(h.row, h.col);
            c.style = CellStyle(h.ixfe);
            c.type = CellType::Number;
            c.number = le::LoadF64(p + 6);
            break;
        }
        case kRk: {
            CellHeader h = ReadCellHeader(rec, 10, "an RK record is too short");
            Cell& c = builder.At(h.row, h.col);
            c.style = CellStyle(h.ixfe);
            c.type = CellType::Number;
            c.number = DecodeRk(le::Load32(p + 6));
            break;
        }
        case kMulRk: {
            // MulRk: (XF, RK) pairs.
            const MultiCellHeader h = ReadMultiCellHeader(rec, 6, "MULRK");
            for (size_t i = 0; i < h.count; ++i) {
                const uint8_t* e = p + 4 + 6 * i;
                Cell& c = builder.At(h.row, h.col + static_cast<uint32_t>(i));
                c.style = CellStyle(le::Load16(e));
                c.type = CellType::Number;
                c.number = DecodeRk(le::Load32(e + 2));
            }
            break;
        }
        case kLabelSst: {
            CellHeader h = ReadCellHeader(rec, 10, "a LABELSST record is too short");
            uint32_t isst = le::Load32(p + 6);
            if (isst >= m_sst.size()) {
                Fail("a cell refers to shared string " + std::to_string(isst) + ", but the table holds " +
                         std::to_string(m_sst.size()),
                     rec.offset);
            }
            Cell& c = builder.At(h.row, h.col);
            c.style = CellStyle(h.ixfe);
            c.type = CellType::String;
            c.text = m_sst[isst];
            break;
        }
        case kLabel:
        case kRString: {
            // Label, [MS-XLS] 2.4.148; RString (rich text, runs not kept) has the same start.
            CellHeader h;
            readRecordText(rec, &h);
            Cell& c = builder.At(h.row, h.col);
            c.style = CellStyle(h.ixfe);
            c.type = CellType::String;
            c.text = strings.Intern(text);
            break;
        }
        case kBoolErr: {
            CellHeader h = ReadCellHeader(rec, 8, "a BOOLERR record is too short");
            Cell& c = builder.At(h.row, h.col);
            c.style = CellStyle(h.ixfe);
            ReadBoolErr(p + 6, c);
            break;
        }
        case kBlank: {
            CellHeader h = ReadCellHeader(rec, 6, "a BLANK record is too short");
            Cell& c = builder.At(h.row, h.col);
            c.style = CellStyle(h.ixfe);
            break;
        }
        case kMulBlank: {
            // MulBlank: XF indexes.
            const MultiCellHeader h = ReadMultiCellHeader(rec, 2, "MULBLANK");
            for (size_t i = 0; i < h.count; ++i) {
                Cell& c = builder.At(h.row, h.col + static_cast<uint32_t>(i));
                c.style = CellStyle(le::Load16(p + 4 + 2 * i));
            }
            break;
        }
        case kFormula:
        case kFormulaBiff3:
        case kFormulaBiff4: {
            // Formula, [MS-XLS] 2.4.127 (BIFF3-4 used other record numbers for the same start):
            // the cached result is kept, not the formula.
            CellHeader h = ReadCellHeader(rec, 16, "a FORMULA record is too short");
            Cell& c = builder.At(h.row, h.col);
            c.style = CellStyle(h.ixfe);
            c.formula = true;
            ReadFormulaValue(
                p + 6, h, [&] { return emptyText; }, c, pending);
            // The parsed expression follows the value, grbit and chn ([MS-XLS] 2.4.127), in BIFF5
            // as in BIFF8; older formulas keep their cached values only.
            lastExpBase = UINT64_MAX;
            if (m_biff < 5) {
                // BIFF3-4: the grbit, then the expression's length and the expression.
                if (n >= 18 && le::Load16(p + 16) <= n - 18 &&
                    WidenOldExpression(rec.body.subspan(18, le::Load16(p + 16)), m_biff, m_widened)) {
                    c.formulaIndex = KeepFormula(m_widened, {}, h.row, h.col, false, out, true);
                }
                pending.formulaIndex = c.formulaIndex;
                break;
            }
            if (rec.type != kFormula || n < 22 || le::Load16(p + 20) > n - 22) {
                break;
            }
            const size_t cce = le::Load16(p + 20);
            std::span<const uint8_t> rgce = rec.body.subspan(22, cce);
            uint32_t baseRow = 0;
            uint32_t baseCol = 0;
            int pointer = ExpressionPointer(rgce, baseRow, baseCol);
            if (pointer == 1) {
                lastExpBase = CellKey(baseRow, baseCol);
                // A cell after its SHRFMLA record, as Excel writes all but the first, gets the
                // shared formula at once; others wait for the end of the sheet.
                if (lastExpBase != sharedBase) {
                    auto known = sharedEntries.find(lastExpBase);
                    sharedBase = lastExpBase;
                    sharedEntry = known != sharedEntries.end() && known->second != kNoFormula &&
                                          out.formulas[known->second].arrayRows == 0
                                      ? known->second
                                      : kNoFormula;
                }
                if (sharedEntry != kNoFormula) {
                    c.formulaIndex = sharedEntry;
                } else {
                    sharedCells.push_back(SharedCell{h.row, h.col, lastExpBase});
                }
            } else if (pointer == 0) {
                c.formulaIndex = KeepFormula(rgce, rec.body.subspan(22 + cce), h.row, h.col, false, out, true);
            } else {
                // A data table's cells (PtgTbl) are computed by the application: values only, and
                // no formula the reader failed to keep.
                c.formula = false;
            }
            pending.formulaIndex = c.formulaIndex;
            break;
        }
        case kShrFmla:
        case kArray: {
            // ShrFmla, [MS-XLS] 2.4.260, and Array, 2.4.4: the range (a RefU), then the expression
            // of the cells whose PtgExp points at its first cell. A shared formula's references
            // are in the relative form, resolved against that first cell.
            const bool shared = rec.type == kShrFmla;
            const size_t cceAt = shared ? 8 : 12;
            if (m_biff < 5 || n < cceAt + 2 || le::Load16(p + cceAt) > n - cceAt - 2) {
                break;
            }
            const uint32_t rwFirst = le::Load16(p);
            const uint32_t rwLast = le::Load16(p + 2);
            const uint32_t colFirst = p[4];
            const uint32_t colLast = p[5];
            if (rwLast < rwFirst || colLast < colFirst) {
                break;
            }
            const size_t cce = le::Load16(p + cceAt);
            uint32_t entry = KeepFormula(rec.body.subspan(cceAt + 2, cce), rec.body.subspan(cceAt + 2 + cce), rwFirst,
                                         colFirst, shared, out);
            if (entry != kNoFormula && !shared) {
                out.formulas[entry].arrayRows = rwLast - rwFirst + 1;
                out.formulas[entry].arrayCols = colLast - colFirst + 1;
            }
            sharedEntries.emplace(CellKey(rwFirst, colFirst), entry);
            // The first cell's PtgExp may name another cell of the range than its first one.
            if (lastExpBase != UINT64_MAX && shared) {
                sharedEntries.emplace(lastExpBase, entry);
            }
            lastExpBase = UINT64_MAX;
            sharedBase = UINT64_MAX;
            break;
        }
        case kString: {
            if (!pending.active) {
                break;
            }
            pending.active = false;
            readRecordText(rec, nullptr);
            Cell& c = builder.At(pending.row, pending.col);
            c.style = pending.style;
            c.formula = true;
            c.formulaIndex = pending.formulaIndex;
            c.type = CellType::String;
            c.text = strings.Intern(text);
            break;
        }
        case kRow: {
            // Row, [MS-XLS] 2.4.221.
            if (n < 16) {
                Fail("a ROW record is too short", rec.offset);
            }
            uint16_t colMic = le::Load16(p + 2);
            uint16_t colMac = le::Load16(p + 4);
            uint16_t miyRw = le::Load16(p + 6) & 0x7FFF;
            uint32_t flags = le::Load32(p + 12);
            Row& row = builder.RowAt(le::Load16(p));
            row.customHeight = (flags & 0x40) != 0;                // fUnsynced
            row.hidden = (flags & 0x20) != 0;                      // fDyZero
            row.collapsed = (flags & 0x10) != 0;                   // fCollapsed
            row.outlineLevel = static_cast<uint8_t>(flags & 0x07); // iOutLevel
            if (row.customHeight || row.hidden) {
                row.height = static_cast<float>(miyRw / 20.0);
            }
            // fGhostDirty: ixfe_val (12 bits) is the row's own format; without it ixfe_val means
            // nothing, and Excel writes 15 there.
            if ((flags & 0x80) != 0) {
                row.style = CellStyle((flags >> 16) & 0x0FFF);
            }
            if (row.cells.empty() && colMac > colMic && colMac - colMic <= 256) {
                row.cells.reserve(colMac - colMic);
            }
            break;
        }
        case kColInfo: {
            // ColInfo, [MS-XLS] 2.4.53. The width is in 1/256 of the width of the default font's
            // '0' character including the cell padding, which is exactly the unit of xlsx's
            // <col width>: width = coldx / 256.
            if (n < 10) {
                Fail("a COLINFO record is too short", rec.offset);
            }
            uint32_t first = le::Load16(p);
            uint32_t last = le::Load16(p + 2);
            uint16_t coldx = le::Load16(p + 4);
            uint16_t ixfe = le::Load16(p + 6);
            uint16_t flags = le::Load16(p + 8);
            // Excel writes 256 as the last column of a range that runs to the end of the grid.
            uint32_t maxCol = m_biff >= 8 ? limits::kXlsMaxCols - 1 : 255;
            last = std::min(last, maxCol);
            if (first > last) {
                break;
            }
            ColumnInfo info;
            info.first = first;
            info.last = last;
            info.width = coldx / 256.0;
            info.customWidth = true; // a stored width must stay what the file says in any format
            info.hidden = (flags & 0x0001) != 0;
            info.style = CellStyle(ixfe);
            info.outlineLevel = static_cast<uint8_t>((flags >> 8) & 0x07); // iOutLevel
            info.collapsed = (flags & 0x1000) != 0;                        // fCollapsed
            out.SetColumn(info);
            break;
        }
        case kDefColWidth: {
            // DefColWidth, [MS-XLS] 2.4.89: in characters without padding. As a column width
            // that is chars * 7 + 5 pixels at the default 7-pixel digit, rounded up to a multiple
            // of 8 pixels, in 1/256 characters.
            if (n >= 2 && !standardWidth) {
                double px = le::Load16(p) * 7.0 + 5.0;
                px = std::ceil(px / 8.0) * 8.0;
                out.defaultColWidth = std::floor(px / 7.0 * 256.0) / 256.0;
            }
            break;
        }
        case kStandardWidth:
            // StandardWidth, [MS-XLS] 2.4.257: the default width in 1/256 characters, padding
            // included; it wins over DefColWidth.
            if (n >= 2) {
                out.defaultColWidth = le::Load16(p) / 256.0;
                standardWidth = true;
            }
            break;
        case kWsBool:
            // WsBool, [MS-XLS] 2.4.351 (the same bits since BIFF3): fRowSumsBelow and
            // fColSumsRight place the summaries of outline groups.
            if (n >= 2) {
                out.summaryBelow = (le::Load16(p) & 0x0040) != 0;
                out.summaryRight = (le::Load16(p) & 0x0080) != 0;
            }
            break;
        case kDefaultRowHeight:
            // DefaultRowHeight, [MS-XLS] 2.4.87: flags, then the height in twips.
            if (n >= 4) {
                out.defaultRowHeight = le::Load16(p + 2) / 20.0;
            }
            break;
        case kMergeCells: {
            // MergeCells, [MS-XLS] 2.4.168: a count and that many Ref8.
            ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
            uint16_t count = r.U16();
            if (static_cast<size_t>(count) * 8 > r.Left()) {
                Fail("a MERGECELLS record holds fewer ranges than it claims", rec.offset);
            }
            for (uint16_t i = 0; i < count; ++i) {
                CellRange m;
                m.firstRow = r.U16();
                m.lastRow = r.U16();
                m.firstCol = r.U16();
                m.lastCol = r.U16();
                if (m.lastRow < m.firstRow || m.lastCol < m.firstCol || m.lastCol >= kMaxReadCols) {
                    continue; // an impossible range merges nothing
                }
                if (out.merges.size() >= limits::kMaxMergedRanges) {
                    throw LimitError(m_name, "a sheet holds more merged ranges than the reader accepts");
                }
                out.merges.push_back(m);
            }
            break;
        }
        case kHLink:
            if (m_biff >= 8) {
                ReadHLink(rec.body, rec.offset, out);
            }
            break;
        case kHLinkTooltip: {
            // HLinkTooltip, [MS-XLS] 2.4.141: the tip of the link just read, NUL-terminated UTF-16.
            if (n > 10 && !out.hyperlinks.empty()) {
                out.hyperlinks.back().tooltip.clear();
                AppendUtf16UntilNul(rec.body.subspan(10), out.hyperlinks.back().tooltip);
            }
            break;
        }
        case kWindow2:
            // Window2, [MS-XLS] 2.4.346: fFrozen is bit 3 of the options.
            if (n >= 2) {
                frozen = (le::Load16(p) & 0x0008) != 0;
            }
            break;
        case kPane:
            // Pane, [MS-XLS] 2.4.189: with frozen panes, x and y count the frozen columns and rows.
            if (n >= 4) {
                paneCols = le::Load16(p);
                paneRows = le::Load16(p + 2);
            }
            break;
        case kExternSheet:
            // BIFF5's link table: one record a sheet or workbook. (BIFF8 keeps its one table in the
            // workbook globals.)
            if (m_biff == 5 && m_formulaGlobals.biff5Links.size() < limits::kMaxBiffLinkEntries) {
                ReadBiff5Link(rec.body, m_codePage, linkedBooks, m_formulaGlobals.biff5Links.emplace_back());
            }
            break;
        case kExternName:
            // A name of the link before it: an add-in function or another workbook's name, with
            // its name where BIFF8's has it (after six bytes), a count byte and code-page text.
            if (m_biff == 5 && !m_formulaGlobals.biff5Links.empty() &&
                m_formulaGlobals.biff5Links.back().externNames.size() < limits::kMaxBiffLinkEntries) {
                std::string& name = m_formulaGlobals.biff5Links.back().externNames.emplace_back();
                if (n >= 7 && n - 7 >= p[6]) {
                    m_codePage.Append(rec.body.subspan(7, p[6]), name);
                }
            }
            break;
        case kBof:
            ++depth;
            break;
        case kEof:
            --depth;
            break;
        default:
            break;
        }
    }
    out.Normalize();
    for (const SharedCell& s : sharedCells) {
        auto it = sharedEntries.find(s.base);
        if (it == sharedEntries.end() || it->second == kNoFormula) {
            continue;
        }
        const FormulaEntry& entry = out.formulas[it->second];
        // An array formula belongs to its first cell; the other cells of its range hold results
        // (no formula of their own that was lost).
        if (entry.arrayRows != 0 && (entry.anchorRow != s.row || entry.anchorCol != s.col)) {
            out.CellAt(s.row, s.col).formula = false;
            continue;
        }
        out.CellAt(s.row, s.col).formulaIndex = it->second;
    }
    DropOverlappingMerges(out.merges);
    if (frozen) {
        out.frozenRows = std::min<uint32_t>(paneRows, limits::kXlsMaxRows);
        out.frozenCols = std::min<uint32_t>(paneCols, limits::kXlsMaxCols);
    }
}

} // namespace gq::engine::biff
