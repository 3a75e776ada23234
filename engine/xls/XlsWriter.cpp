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
