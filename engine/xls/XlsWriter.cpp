// Writes the workbook model as an Excel 97-2003 workbook: a BIFF8 Workbook stream ([MS-XLS]) in a
// compound file ([MS-CFB]). Formulas BIFF8 holds are written with their cached values. This file makes the first
// pass over the workbook, writes the globals and assembles the file.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xls/XlsWriter.h"

#include "engine/cfb/CfbWriter.h"
#include "engine/io/LittleEndian.h"
#include "engine/xls/XlsBookWriter.h"

#include <algorithm>

namespace gq::engine {

namespace biff {

namespace {

std::string SheetCellText(const std::string& sheet, uint32_t row, uint32_t col)
{
    return "sheet \"" + sheet + "\", cell " + CellName(row, col);
}

} // namespace

void XlsBookWriter::Write(ByteSink& sink)
{
    if (m_book.SheetCount() == 0) {
        throw EngineError("a workbook without sheets cannot be saved");
    }
    Scan();
    BuildPalette();
    BuildFontsAndFormats();
    BuildCellXfs();

    // Cell records take 10 to 18 bytes, FORMULA records about 50; reserving for them up front
    // saves regrowing a stream of tens of MB, up to what is held before it is staged.
    m_out.Reserve(std::min<size_t>(static_cast<size_t>(m_cellCount) * 14 + static_cast<size_t>(m_formulaCellCount) * 40,
                                   kStageBytes * 2) +
                  m_sstBytes + 65536);
    WriteGlobals();
    m_globalsSize = m_out.Size();
    for (size_t i = 0; i < m_book.SheetCount(); ++i) {
        le::Store32(m_out.At(m_boundSheetPos[i] + 4), static_cast<uint32_t>(StreamPosition()));
        WriteSheet(i);
        if (m_out.Size() - m_globalsSize >= kStageBytes) {
            StageSheets();
        }
    }
    // Readers have been known to insist that the Workbook stream lives in regular sectors, so
    // short streams are padded after the last EOF.
    if (StreamPosition() < limits::kCfbMiniStreamCutoff) {
        m_out.Zeros(limits::kCfbMiniStreamCutoff - StreamPosition());
    }
    WriteCompoundFile(
        u"Workbook", StreamPosition(), [this](ByteSink& out) { WriteStream(out); }, sink);
}

void XlsBookWriter::StageSheets()
{
    if (!m_staged) {
        m_staged = std::make_unique<SpillFile>();
    }
    const std::span<const uint8_t> sheets = m_out.Bytes().subspan(m_globalsSize);
    m_staged->Append(sheets);
    m_stagedBytes += sheets.size();
    m_out.Truncate(m_globalsSize);
}

void XlsBookWriter::WriteStream(ByteSink& sink) const
{
    const std::span<const uint8_t> bytes = m_out.Bytes();
    sink.Write(bytes.data(), m_globalsSize);
    std::vector<uint8_t> buffer(std::min<uint64_t>(m_stagedBytes, 1u << 20));
    for (uint64_t done = 0; done < m_stagedBytes;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), m_stagedBytes - done));
        m_staged->Read(done, std::span<uint8_t>(buffer.data(), n));
        sink.Write(buffer.data(), n);
        done += n;
    }
    sink.Write(bytes.data() + m_globalsSize, bytes.size() - m_globalsSize);
}

void XlsBookWriter::Scan()
{
    const size_t xfCount = m_styles.CellFormats().size();
    m_xfUsed.assign(xfCount, 0);
    m_sstIndex.assign(m_book.Strings().Size(), UINT32_MAX);
    UseXf(0);
    m_book.CheckSheetNames();
    std::u16string scratch;
    for (size_t s = 0; s < m_book.SheetCount(); ++s) {
        const std::string& name = m_book.SheetName(s);
        // Spilled rows stay on disk and are read back a chunk at a time, here and when written.
        const Worksheet& sheet = m_book.SheetKeepingSpill(s);
        sheet.VisitRows([&](const Row& row) {
            // A row's own format is formatting, not content: beyond the grid it is left out.
            if (row.style != 0 && row.index < limits::kXlsMaxRows) {
                UseXf(row.style);
            }
            if (row.cells.empty()) {
                return;
            }
            if (row.index >= limits::kXlsMaxRows || row.cells.back().col >= limits::kXlsMaxCols) {
                const Cell& cell = row.index >= limits::kXlsMaxRows ? row.cells.front() : row.cells.back();
                throw BeyondGridError(name, row.index, row.cells.back().col, SheetCellText(name, row.index, cell.col));
            }
            m_cellCount += row.cells.size();
            for (const Cell& cell : row.cells) {
                UseXf(cell.style);
                m_formulaCellCount += cell.formulaIndex != kNoFormula ? 1 : 0;
                if (cell.type == CellType::String) {
                    UseString(cell.text, name, row.index, cell.col, scratch);
                }
            }
        });
        // Every formula's EXTERNSHEET entries and function names are handed out here, where
        // moving a formula changes neither, for the globals to list them before any sheet.
        for (const FormulaEntry& entry : sheet.formulas) {
            if (entry.formula) {
                m_encoder.Register(*entry.formula);
            }
        }
        for (const ColumnInfo& column : sheet.columns) {
            // Column settings are formatting, not content: a range reaching past column 256
            // (xlsx files often style all 16,384 columns) is written for the columns that exist.
            if (column.first < limits::kXlsMaxCols) {
                UseXf(column.style);
            }
        }
        for (const CellRange& merge : sheet.merges) {
            CheckRange(name, merge, "a merged range");
        }
        for (const Hyperlink& link : sheet.hyperlinks) {
            CheckRange(name, link.range, "a hyperlink");
        }
    }
    m_encoder.Freeze();
}

void XlsBookWriter::CheckRange(const std::string& sheet, const CellRange& range, const char* what)
{
    if (range.lastRow >= limits::kXlsMaxRows || range.lastCol >= limits::kXlsMaxCols ||
        range.firstRow > range.lastRow || range.firstCol > range.lastCol) {
        throw BeyondGridError(sheet, range.lastRow, range.lastCol,
                              "sheet \"" + sheet + "\": " + what + " at " + RangeName(range));
    }
}

void XlsBookWriter::UseXf(uint32_t xf)
{
    if (xf >= m_xfUsed.size()) {
        return; // an unknown format reads as the default one, as StyleTable::FormatAt does
    }
    if (!m_xfUsed[xf]) {
        m_xfUsed[xf] = 1;
        m_xfOrder.push_back(xf);
    }
}

void XlsBookWriter::UseString(uint32_t index, const std::string& sheet, uint32_t row, uint32_t col,
                              std::u16string& scratch)
{
    if (index >= m_sstIndex.size()) {
        throw EngineError("internal error: " + SheetCellText(sheet, row, col) + " refers to a missing string");
    }
    ++m_sstTotal;
    if (m_sstIndex[index] != UINT32_MAX) {
        return;
    }
    const std::string& text = m_book.Strings().At(index);
    // Fewer UTF-8 bytes than the limit means fewer UTF-16 units too.
    if (text.size() > limits::kMaxCellChars) {
        ToUtf16(text, scratch);
        if (scratch.size() > limits::kMaxCellChars) {
            throw LimitError(SheetCellText(sheet, row, col) + " holds " + std::to_string(scratch.size()) +
                             " characters; an Excel 97-2003 cell holds at most 32,767");
        }
    }
    m_sstBytes += 3 + 2 * text.size();
    m_sstIndex[index] = static_cast<uint32_t>(m_sstOrder.size());
    m_sstOrder.push_back(index);
}

// The sheet shown when the file opens. Office suites misbehave when that sheet is hidden, so a
// hidden active sheet gives way to the first visible one.
size_t XlsBookWriter::ActiveSheet() const
{
    size_t active = m_book.ActiveSheet() < m_book.SheetCount() ? m_book.ActiveSheet() : 0;
    if (m_book.SheetStateAt(active) == SheetState::Visible) {
        return active;
    }
    for (size_t i = 0; i < m_book.SheetCount(); ++i) {
        if (m_book.SheetStateAt(i) == SheetState::Visible) {
            return i;
        }
    }
    return active;
}

void XlsBookWriter::WriteBof(uint16_t type)
{
    // BOF, [MS-XLS] 2.4.21: BIFF8, build and year of Excel 97, lowest BIFF version 6.
    size_t r = m_out.Begin(kBof);
    m_out.U16(kBofVersionBiff8);
    m_out.U16(type);
    m_out.U16(0x0DBB);
    m_out.U16(0x07CC);
    m_out.U32(0);
    m_out.U32(6);
    m_out.End(r);
}

void XlsBookWriter::WriteSimple(uint16_t type, uint32_t value16)
{
    size_t r = m_out.Begin(type);
    m_out.U16(value16);
    m_out.End(r);
}

void XlsBookWriter::WriteGlobals()
{
    WriteBof(kBofGlobals);
    WriteSimple(kInterfaceHdr, 1200);
    WriteSimple(kMms, 0);
    m_out.End(m_out.Begin(kInterfaceEnd));
    WriteSimple(kCodePage, 1200); // all text is Unicode

    // Window1, [MS-XLS] 2.4.345: horizontal and vertical scroll bars and sheet tabs shown.
    const size_t active = ActiveSheet();
    size_t r = m_out.Begin(kWindow1);
    m_out.U16(0x0000);
    m_out.U16(0x0000);
    m_out.U16(0x4000);
    m_out.U16(0x2000);
    m_out.U16(0x0038);
    m_out.U16(static_cast<uint32_t>(active));
    m_out.U16(0);
    m_out.U16(1);
    m_out.U16(600);
    m_out.End(r);

    WriteSimple(kDate1904, m_book.Date1904() ? 1 : 0);
    WriteSimple(kPrecision, 1);
    WriteSimple(kBookBool, 0);

    WriteStyles();

    // BoundSheet8, [MS-XLS] 2.4.28; lbPlyPos is patched once the sheet's BOF is written.
    std::u16string name;
    for (size_t i = 0; i < m_book.SheetCount(); ++i) {
        r = m_out.Begin(kBoundSheet8);
        m_boundSheetPos.push_back(r);
        m_out.U32(0);
        SheetState state = m_book.SheetStateAt(i);
        m_out.U8(state == SheetState::Hidden ? 1 : state == SheetState::VeryHidden ? 2 : 0);
        m_out.U8(0); // worksheet
        ToUtf16(m_book.SheetName(i), name);
        PutUnicodeString(m_out, name, true);
        m_out.End(r);
    }

    WriteLinkTables();
    WriteSst();
    m_out.End(m_out.Begin(kEof));
}

std::vector<std::string> XlsBookWriter::SheetNames(const Workbook& book)
{
    std::vector<std::string> names;
    for (size_t i = 0; i < book.SheetCount(); ++i) {
        names.push_back(book.SheetName(i));
    }
    return names;
}

// The formula `cell` keeps, encoded into m_rgce and m_rgcb; false when it has none that BIFF8 can
// hold. An array formula encodes only for its ARRAY record (`array`): as a cell's own formula it
// would compute something else.
bool XlsBookWriter::EncodeFormula(const Worksheet& sheet, uint32_t row, const Cell& cell, bool array)
{
    if (cell.formulaIndex >= sheet.formulas.size() || !sheet.formulas[cell.formulaIndex].formula ||
        (sheet.formulas[cell.formulaIndex].arrayRows != 0) != array) {
        return false;
    }
    if (cell.type == CellType::String) {
        // The text result goes into one STRING record.
        ToUtf16(m_book.Strings().At(cell.text), m_formulaText);
        if (m_formulaText.size() * 2 + 3 > kMaxRecordBody) {
            return false;
        }
    }
    if (array) {
        return formula::CellFormula(sheet, row, cell, m_formula, formula::kXlsGrid) &&
               m_encoder.Encode(m_formula, m_rgce, m_rgcb);
    }
    return EncodeMoved(sheet, row, cell);
}

// A cell's formula through its entry's encoded expression (EncodedEntry): a filled-down column
// is encoded once, not once a cell.
bool XlsBookWriter::EncodeMoved(const Worksheet& sheet, uint32_t row, const Cell& cell)
{
    if (m_encoded.size() < sheet.formulas.size()) {
        m_encoded.resize(sheet.formulas.size());
    }
    EncodedEntry& encoded = m_encoded[cell.formulaIndex];
    const FormulaEntry& entry = sheet.formulas[cell.formulaIndex];
    m_cellShareable = false;
    switch (encoded.state) {
    case EncodedEntry::State::Encoded:
        if (MoveEncoded(encoded, int64_t{row} - encoded.row, int64_t{cell.col} - encoded.col)) {
            m_cellFields = &encoded.fields;
            m_cellShareable = encoded.shareable;
            return true;
        }
        break;
    case EncodedEntry::State::Refused:
        if (formula::MovesWithin(*entry.formula, int64_t{row} - entry.anchorRow, int64_t{cell.col} - entry.anchorCol,
                                 formula::kXlsGrid)) {
            return false;
        }
        break;
    case EncodedEntry::State::None:
        break;
    }
    // Encoded anew: the first cell of the entry, or one where a reference leaves the grid.
    m_formula = *entry.formula;
    const bool intact = formula::MoveFormula(m_formula, int64_t{row} - entry.anchorRow,
                                             int64_t{cell.col} - entry.anchorCol, formula::kXlsGrid);
    const bool kept = m_encoder.Encode(m_formula, m_rgce, m_rgcb, &m_fields);
    m_cellFields = &m_fields;
    if (intact && encoded.state == EncodedEntry::State::None) {
        encoded.state = kept ? EncodedEntry::State::Encoded : EncodedEntry::State::Refused;
        encoded.row = row;
        encoded.col = cell.col;
        if (kept) {
            encoded.rgce = m_rgce;
            encoded.rgcb = m_rgcb;
            encoded.fields = m_fields;
            // Moving the entry's formula changes neither its tokens nor whether it may be shared,
            // as long as it stays on the grid.
            encoded.shareable = m_encoder.Shareable();
            encoded.moves = formula::BoundsOfMoves(*entry.formula, formula::kXlsGrid);
            m_cellShareable = encoded.shareable;
        }
    }
    return kept;
}

// `entry`'s expression into m_rgce and m_rgcb, its references moved by (rows, cols) as
// formula::MoveReference moves them: relative parts only, rows not for whole columns, columns not
// for whole rows. False when one would leave the grid (and so become #REF!).
bool XlsBookWriter::MoveEncoded(const EncodedEntry& entry, int64_t rows, int64_t cols)
{
    m_rgce.assign(entry.rgce.begin(), entry.rgce.end());
    m_rgcb.assign(entry.rgcb.begin(), entry.rgcb.end());
    if (rows == 0 && cols == 0) {
        return true;
    }
    auto moveRow = [&](size_t at, bool absolute) {
        int64_t v = le::Load16(m_rgce.data() + at);
        if (!absolute) {
            v += rows;
        }
        if (v < 0 || v >= int64_t{limits::kXlsMaxRows}) {
            return false;
        }
        le::Store16(m_rgce.data() + at, static_cast<uint16_t>(v));
        return true;
    };
    auto moveCol = [&](size_t at, bool absolute) {
        const uint16_t field = le::Load16(m_rgce.data() + at);
        int64_t v = field & 0x3FFF;
        if (!absolute) {
            v += cols;
        }
        if (v < 0 || v >= int64_t{limits::kXlsMaxCols}) {
            return false;
        }
        le::Store16(m_rgce.data() + at, static_cast<uint16_t>((field & 0xC000) | v));
        return true;
    };
    for (const ReferenceField& f : entry.fields) {
        // RgceLoc: rw, col; RgceArea: rwFirst, rwLast, colFirst, colLast.
        const size_t colAt = f.at + (f.area ? 4 : 2);
        if (f.moveRows && !moveRow(f.at, (f.flags & formula::kFirstRowAbs) != 0)) {
            return false;
        }
        if (f.moveRows && f.area && !moveRow(f.at + 2, (f.flags & formula::kLastRowAbs) != 0)) {
            return false;
        }
        if (f.moveCols && !moveCol(colAt, (f.flags & formula::kFirstColAbs) != 0)) {
            return false;
        }
        if (f.moveCols && f.area && !moveCol(colAt + 2, (f.flags & formula::kLastColAbs) != 0)) {
            return false;
        }
    }
    return true;
}

// Array formulas, [MS-XLS] 2.4.4: BIFF8 wants a FORMULA record in every cell of the range, each
// with its own result and a PtgExp pointing at the range's first cell, and the expression once,
// in an ARRAY record after the first cell's FORMULA. The model holds the other cells' results as
// plain cells; an array whose range the writer cannot fill so is written as its values.
void XlsBookWriter::FindArrays(const Worksheet& sheet)
{
    m_arrayCells.clear();
    if (std::none_of(sheet.formulas.begin(), sheet.formulas.end(),
                     [](const FormulaEntry& e) { return e.arrayRows != 0; })) {
        return;
    }
    for (const Row& row : sheet.rows) {
        for (const Cell& cell : row.cells) {
            if (cell.formulaIndex >= sheet.formulas.size() || sheet.formulas[cell.formulaIndex].arrayRows == 0) {
                continue;
            }
            const FormulaEntry& entry = sheet.formulas[cell.formulaIndex];
            if (!XlsHoldsArrayRange(sheet, row.index, cell.col, entry.arrayRows, entry.arrayCols) ||
                !EncodeFormula(sheet, row.index, cell, true)) {
                continue;
            }
            const uint64_t anchor = (uint64_t{row.index} << 32) | cell.col;
            bool fits = true;
            for (uint32_t r = row.index; fits && r < row.index + entry.arrayRows; ++r) {
                for (uint32_t c = cell.col; fits && c < cell.col + entry.arrayCols; ++c) {
                    const Cell* member = sheet.FindCell(r, c);
                    // Two arrays over one cell, or a text result too long for its STRING record.
                    fits = m_arrayCells.find((uint64_t{r} << 32) | c) == m_arrayCells.end() &&
                           (member->type != CellType::String ||
                            m_book.Strings().At(member->text).size() * 2 + 3 <= kMaxRecordBody);
                }
            }
            if (!fits) {
                continue;
            }
            for (uint32_t r = row.index; r < row.index + entry.arrayRows; ++r) {
                for (uint32_t c = cell.col; c < cell.col + entry.arrayCols; ++c) {
                    m_arrayCells.emplace((uint64_t{r} << 32) | c, anchor);
                }
            }
        }
    }
}

// One cell of an array formula's range: a FORMULA record of its result and a PtgExp, [MS-XLS]
// 2.5.198.58, pointing at the range's first cell; the first cell's is followed by the ARRAY record.
void XlsBookWriter::WriteArrayCell(uint32_t rw, const Cell& cell, uint64_t anchor)
{
    const auto firstRow = static_cast<uint32_t>(anchor >> 32);
    const auto firstCol = static_cast<uint32_t>(anchor & 0xFFFFFFFF);
    m_arrayRecord.clear();
    if (firstRow == rw && firstCol == cell.col) {
        EncodeFormula(*m_sheet, rw, cell, true); // it encoded when the sheet's arrays were found
        const FormulaEntry& entry = m_sheet->formulas[cell.formulaIndex];
        // Array: a RefU of the range, fAlwaysCalc where the workbook asks to be computed, an
        // unused chn, then the expression with its extra data.
        auto put16 = [this](uint32_t v) {
            m_arrayRecord.push_back(static_cast<uint8_t>(v));
            m_arrayRecord.push_back(static_cast<uint8_t>(v >> 8));
        };
        put16(rw);
        put16(rw + entry.arrayRows - 1);
        m_arrayRecord.push_back(static_cast<uint8_t>(firstCol));
        m_arrayRecord.push_back(static_cast<uint8_t>(firstCol + entry.arrayCols - 1));
        put16(m_book.FullCalcOnLoad() ? 0x0001 : 0x0000);
        put16(0);
        put16(0);
        put16(static_cast<uint32_t>(m_rgce.size()));
        m_arrayRecord.insert(m_arrayRecord.end(), m_rgce.begin(), m_rgce.end());
        m_arrayRecord.insert(m_arrayRecord.end(), m_rgcb.begin(), m_rgcb.end());
        m_followType = kArray;
    }
    PutExp(firstRow, firstCol);
    WriteFormula(rw, cell);
}

// PtgExp, [MS-XLS] 2.5.198.58, as a cell's whole expression: the cell belongs to the shared or
// array formula whose first cell is (row, col).
void XlsBookWriter::PutExp(uint32_t row, uint32_t col)
{
    m_rgce.assign({0x01, static_cast<uint8_t>(row), static_cast<uint8_t>(row >> 8), static_cast<uint8_t>(col),
                   static_cast<uint8_t>(col >> 8)});
    m_rgcb.clear();
}

// Whether the cell at `row` with `cell` may use the shared formula of its entry: the entry is
// encoded and may be shared, the formula moved there keeps every reference on the grid (the shared
// form's offsets would wrap round it where the model has #REF!), and a text result fits its
// STRING record.
bool XlsBookWriter::SharesEntry(uint32_t row, const Cell& cell) const
{
    if (cell.formulaIndex >= m_encoded.size()) {
        return false;
    }
    const EncodedEntry& encoded = m_encoded[cell.formulaIndex];
    const FormulaEntry& entry = m_sheet->formulas[cell.formulaIndex];
    if (encoded.state != EncodedEntry::State::Encoded || !encoded.shareable || entry.arrayRows != 0 ||
        !encoded.moves.Contains(int64_t{row} - entry.anchorRow, int64_t{cell.col} - entry.anchorCol)) {
        return false;
    }
    if (cell.type == CellType::String) {
        const std::string& text = m_book.Strings().At(cell.text);
        // No more UTF-16 units than UTF-8 bytes: a short text fits without counting them.
        if (text.size() * 2 + 3 > kMaxRecordBody) {
            std::u16string wide;
            ToUtf16(text, wide);
            return wide.size() * 2 + 3 <= kMaxRecordBody;
        }
    }
    return true;
}

// A cell continuing the run of shared-formula cells open in its column: written as a FORMULA
// record of a PtgExp, with the run's SHRFMLA record widened to it. False when it does not
// continue the run (which then ends).
bool XlsBookWriter::JoinSharedRun(uint32_t rw, const Cell& cell)
{
    SharedRun& run = m_runs[cell.col];
    if (run.count == 0) {
        return false;
    }
    if (run.entry != cell.formulaIndex || run.lastRow + 1 != rw || run.count >= kMaxSharedCells ||
        !SharesEntry(rw, cell)) {
        run.count = 0;
        return false;
    }
    PutExp(run.firstRow, cell.col);
    WriteFormula(rw, cell, true);
    run.lastRow = rw;
    ++run.count;
    // ShrFmla: ref.rwLast, then cUse after the reserved byte.
    le::Store16(m_out.At(run.record + 4 + 2), static_cast<uint16_t>(rw));
    *m_out.At(run.record + 4 + 7) = static_cast<uint8_t>(run.count);
    return true;
}

// The first cell of a new run, its formula just encoded into m_rgce with its references at
// m_cellFields: a shared formula is started where the cell below continues it, as Excel saves a
// filled-down column. Its SHRFMLA record holds the expression in the shared form: each relative
// part of a reference an offset from the cell evaluating it (PtgRefN, PtgAreaN, [MS-XLS]
// 2.5.198.84 and 2.5.198.23).
// False, with m_rgce untouched, where no run starts.
bool XlsBookWriter::StartSharedRun(uint32_t rw, const Cell& cell, const Row* next)
{
    if (!m_cellShareable || next == nullptr || next->index != rw + 1 || !SharesEntry(rw, cell)) {
        return false;
    }
    const Cell* below = next->Find(cell.col);
    if (below == nullptr || below->formulaIndex != cell.formulaIndex || !SharesEntry(rw + 1, *below)) {
        return false;
    }
    // ShrFmla: a RefU of the range (filled in as cells join), a reserved byte, cUse, then the
    // expression with its extra data.
    m_arrayRecord.assign({static_cast<uint8_t>(rw), static_cast<uint8_t>(rw >> 8), static_cast<uint8_t>(rw),
                          static_cast<uint8_t>(rw >> 8), static_cast<uint8_t>(cell.col), static_cast<uint8_t>(cell.col),
                          0, 1, static_cast<uint8_t>(m_rgce.size()), static_cast<uint8_t>(m_rgce.size() >> 8)});
    const size_t at = m_arrayRecord.size();
    m_arrayRecord.insert(m_arrayRecord.end(), m_rgce.begin(), m_rgce.end());
    m_arrayRecord.insert(m_arrayRecord.end(), m_rgcb.begin(), m_rgcb.end());
    uint8_t* expr = m_arrayRecord.data() + at;
    for (const ReferenceField& f : *m_cellFields) {
        const size_t colAt = f.at + (f.area ? 4 : 2);
        bool relative = false;
        // A relative row becomes an offset, 16 bits; a relative column one of 8 bits, the rest of
        // its 14 bits zero. Whole columns keep their rows relative in a cell's expression, which
        // offsets would wrap round the grid: they are made absolute. The columns of whole rows
        // stay offsets, which every cell of a run, all in one column, resolves alike.
        auto corner = [&](size_t rowAt, size_t fieldAt) {
            uint16_t field = le::Load16(expr + fieldAt);
            if ((field & 0x8000) != 0 && f.moveRows) {
                le::Store16(expr + rowAt, static_cast<uint16_t>(le::Load16(expr + rowAt) - rw));
                relative = true;
            } else {
                field &= 0x7FFF;
            }
            if ((field & 0x4000) != 0) {
                field = static_cast<uint16_t>((field & 0xC000) | ((field - cell.col) & 0xFF));
                relative = true;
            }
            le::Store16(expr + fieldAt, field);
        };
        corner(f.at, colAt);
        if (f.area) {
            corner(f.at + 2, colAt + 2);
        }
        if (relative) {
            // PtgRef to PtgRefN and PtgArea to PtgAreaN, in the same class.
            expr[f.at - 1] = static_cast<uint8_t>(expr[f.at - 1] + 0x08);
        }
    }
    m_followType = kShrFmla;
    PutExp(rw, cell.col);
    WriteFormula(rw, cell, true);
    m_runs[cell.col] = SharedRun{cell.formulaIndex, rw, rw, 1, m_followAt};
    return true;
}

// What the formulas refer to outside their cells: SupBook, [MS-XLS] 2.4.271, of this workbook
// and, for add-in functions, of the add-in with an ExternName, 2.4.106, per function; the
// ExternSheet, 2.4.105, whose entries references to other sheets and add-in functions name; and a
// Lbl, 2.4.150, per future function, as Excel 2007 and later write them.
void XlsBookWriter::WriteLinkTables()
{
    const std::vector<Xti>& xtis = m_encoder.Xtis();
    const std::vector<std::string>& addIns = m_encoder.AddInNames();
    const std::vector<std::string>& future = m_encoder.FunctionNames();
    if (xtis.empty() && future.empty()) {
        return;
    }
    size_t r = m_out.Begin(kSupBook);
    m_out.U16(static_cast<uint32_t>(m_book.SheetCount()));
    m_out.U16(0x0401);
    m_out.End(r);
    std::u16string name;
    if (!addIns.empty()) {
        r = m_out.Begin(kSupBook);
        m_out.U16(1);
        m_out.U16(0x3A01);
        m_out.End(r);
        for (const std::string& function : addIns) {
            // ExternName of an add-in function (AddinUdf): no flags, four reserved bytes, the
            // name, and a formula of #REF! as Excel writes it.
            r = m_out.Begin(kExternName);
            m_out.U16(0);
            m_out.U32(0);
            ToUtf16(function, name);
            PutUnicodeString(m_out, name, true);
            m_out.U16(2);
            m_out.U8(0x1C);
            m_out.U8(static_cast<uint8_t>(ErrorCode::Ref));
            m_out.End(r);
        }
    }
    // At six bytes an entry, 1,370 fit in the record; the encoder hands out no more than that.
    r = m_out.Begin(kExternSheet);
    m_out.U16(static_cast<uint32_t>(xtis.size()));
    for (const Xti& x : xtis) {
        m_out.U16(x.supBook);
        m_out.U16(x.firstSheet);
        m_out.U16(x.lastSheet);
    }
    m_out.End(r);
    for (const std::string& function : future) {
        // A hidden macro-function name (fHidden, fFunc, fProc, function group 14) for the whole
        // workbook, whose formula is #NAME?, as Excel writes a future function's name.
        ToUtf16(function, name);
        r = m_out.Begin(kLbl);
        m_out.U16(0x038B);
        m_out.U8(0);
        m_out.U8(static_cast<uint32_t>(name.size()));
        m_out.U16(2);
        m_out.U16(0);
        m_out.U16(0);
        m_out.U32(0);
        const bool compressed = FitsLatin1(name);
        m_out.U8(compressed ? 0 : 1);
        PutChars(m_out, name, compressed);
        m_out.U8(0x1C);
        m_out.U8(static_cast<uint8_t>(ErrorCode::Name));
        m_out.End(r);
    }
}

// SST, [MS-XLS] 2.4.265, continued in Continue records (2.4.58) when it outgrows one record.
// A string's 3-byte header is never split; its characters may be, and each Continue that
// carries the rest of a string starts with the string's option byte again. ExtSST (2.4.107)
// then points at every dsst-th string.
void XlsBookWriter::WriteSst()
{
    const auto unique = static_cast<uint32_t>(m_sstOrder.size());
    const uint32_t dsst = std::max<uint32_t>(8, (unique + 127) / 128);
    std::vector<std::pair<uint32_t, uint16_t>> buckets; // stream offset, offset in its record

    size_t record = m_out.Begin(kSst);
    m_out.U32(m_sstTotal);
    m_out.U32(unique);
    auto room = [&] { return kMaxRecordBody - m_out.BodySize(record); };
    auto next = [&] {
        m_out.End(record);
        record = m_out.Begin(kContinue);
    };

    std::u16string wide;
    for (uint32_t k = 0; k < unique; ++k) {
        const std::string& text = m_book.Strings().At(m_sstOrder[k]);
        bool ascii = IsAscii(text);
        if (!ascii) {
            ToUtf16(text, wide);
        }
        const size_t count = ascii ? text.size() : wide.size();
        const bool compressed = ascii || FitsLatin1(wide);
        const size_t charBytes = compressed ? 1 : 2;
        // The header and at least one character (when there is one) start in the same record.
        if (room() < 3 + (count ? charBytes : 0)) {
            next();
        }
        if (k % dsst == 0) {
            buckets.emplace_back(static_cast<uint32_t>(m_out.Size()), static_cast<uint16_t>(m_out.Size() - record));
        }
        m_out.U16(static_cast<uint32_t>(count));
        m_out.U8(compressed ? 0 : 1);
        size_t done = 0;
        while (done < count) {
            size_t n = std::min(count - done, room() / charBytes);
            // Never part a surrogate pair: some readers decode each record's piece on its own.
            if (!compressed && n > 0 && done + n < count && wide[done + n - 1] >= 0xD800 &&
                wide[done + n - 1] <= 0xDBFF) {
                --n;
            }
            if (n == 0) {
                next();
                m_out.U8(compressed ? 0 : 1);
                continue;
            }
            if (ascii) {
                m_out.Raw(text.data() + done, n);
            } else {
                PutChars(m_out, std::u16string_view(wide).substr(done, n), compressed);
            }
            done += n;
        }
    }
    m_out.End(record);

    size_t r = m_out.Begin(kExtSst);
    m_out.U16(dsst);
    for (const auto& [streamPos, offset] : buckets) {
        m_out.U32(streamPos);
        m_out.U16(offset);
        m_out.U16(0);
    }
    m_out.End(r);
}

} // namespace biff

bool XlsHoldsArrayRange(const Worksheet& sheet, uint32_t row, uint32_t col, uint32_t rows, uint32_t cols)
{
    if (rows == 0 || cols == 0 || row >= limits::kXlsMaxRows || col >= limits::kXlsMaxCols ||
        rows > limits::kXlsMaxRows - row || cols > limits::kXlsMaxCols - col) {
        return false;
    }
    for (uint32_t r = row; r < row + rows; ++r) {
        for (uint32_t c = col; c < col + cols; ++c) {
            const Cell* member = sheet.FindCell(r, c);
            if (member == nullptr || ((r != row || c != col) && member->formulaIndex != kNoFormula)) {
                return false;
            }
        }
    }
    return true;
}

size_t WriteXls(Workbook& workbook, ByteSink& sink)
{
    biff::XlsBookWriter writer(workbook);
    writer.Write(sink);
    return writer.FormulasAsValues();
}

} // namespace gq::engine
