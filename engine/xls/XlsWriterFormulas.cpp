// The formulas of an Excel 97-2003 output: each cell's expression encoded once per column entry and
// moved for the cells it fills, array formulas, and runs of shared formulas as Excel saves a
// filled-down column.
// SPDX-License-Identifier: Apache-2.0
#include "engine/io/LittleEndian.h"
#include "engine/xls/XlsBookWriter.h"
#include "engine/xls/XlsWriter.h"

#include <algorithm>

namespace gq::engine::biff {

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

} // namespace gq::engine::biff
