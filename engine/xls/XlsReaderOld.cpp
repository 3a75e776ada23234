// The .xls reader's Excel 2.x-4.0 formats: a bare BIFF2-4 worksheet stream, its fonts, formats and
// cell formats, and the BIFF2 cell records.
// SPDX-License-Identifier: Apache-2.0
#include "engine/io/ByteReader.h"
#include "engine/xls/XlsBook.h"

namespace gq::engine::biff {

// Excel 2.x-4.0 files hold one worksheet, whose fonts, formats and cell formats come before its
// cells in the same stream: listing reads up to the first cell, loading reads the rest. The one
// sheet is called "Sheet 1", as other readers call it.
std::unique_ptr<Workbook> XlsBook::ReadOldGlobals()
{
    RecordReader reader(m_stream, &m_name, kWorkbookPart);
    Record rec;
    if (!reader.Next(rec) || rec.body.size() < 4) {
        Fail("the file does not begin with a BOF record", 0);
    }
    uint16_t kind = le::Load16(rec.body.data() + 2);
    if (kind != kBofWorksheet) {
        throw FormatError(m_name,
                          "unsupported old Excel format (an Excel 4.0 workbook or a sheet other than a worksheet)");
    }
    m_codePage.SetCodePage(1252);
    bool date1904 = false;
    while (reader.Next(rec)) {
        ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
        bool done = false;
        switch (rec.type) {
        case kFilePass:
            throw PasswordProtectedError(m_name);
        case kCodePage:
        case kDate1904:
            ReadBookSetting(rec.type, r, date1904);
            break;
        case kFont:
        case kFont3:
            ReadOldFont(rec);
            break;
        case kFormat2:
        case kFormat:
            ReadOldFormat(rec);
            break;
        case kXf3:
        case kXf4:
            ReadOldXf(rec);
            break;
        case kPalette:
            ReadPalette(rec);
            break;
        case kEof:
        case kDimensions:
        case kDimensions2:
        case kRow:
        case kRow2:
            done = true; // the cells begin
            break;
        default:
            break;
        }
        if (done) {
            break;
        }
    }
    Font defaultFont;
    defaultFont.name = "Arial";
    defaultFont.size = 10.0;
    if (!m_fonts.empty()) {
        defaultFont = ModelFont(0);
    }
    auto workbook = std::make_unique<Workbook>(defaultFont);
    workbook->SetSourcePath(m_name);
    workbook->SetDate1904(date1904);
    // The formats are numbered by their order; the cell formats refer to them that way.
    for (size_t i = 0; i < m_oldFormats.size() && i < 0xFFFF; ++i) {
        m_formats[static_cast<uint16_t>(i)] = m_oldFormats[i];
    }
    BuildStyles(*workbook);
    m_sstLoaded = true;
    workbook->AddUnloadedSheet("Sheet 1", SheetState::Visible);
    m_sheetOffsets.push_back(0);
    m_sheetBoundIndex.push_back(0);
    return workbook;
}

// FONT in BIFF2 (0x0031: height, options, name) and BIFF3-4 (0x0231: height, options, colour,
// name). The options' bit 0 is bold and bit 2 underline, which later versions moved elsewhere.
void XlsBook::ReadOldFont(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    RawFont f;
    f.height = r.U16();
    uint16_t options = r.U16();
    f.grbit = options;
    f.bls = (options & 0x0001) != 0 ? 700 : 400;
    f.uls = (options & 0x0004) != 0 ? 1 : 0;
    if (rec.type == kFont3) {
        f.icv = r.U16();
    }
    uint8_t cch = r.U8();
    f.name = DecodeText(r.Bytes(cch));
    m_fonts.push_back(std::move(f));
}

// FORMAT in BIFF2-3 (0x001E: the code) and BIFF4 (0x041E: two unused bytes, then the code).
void XlsBook::ReadOldFormat(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    if (m_biff == 4) {
        r.Skip(2);
    }
    uint8_t cch = r.U8();
    m_oldFormats.push_back(DecodeText(r.Bytes(cch)));
}

// XF in BIFF3 (0x0243) and BIFF4 (0x0443): font, format, protection, parent, alignment (BIFF3 has
// no vertical alignment), fill and borders.
void XlsBook::ReadOldXf(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    RawXf x;
    x.font = r.U8();
    x.format = r.U8();
    if (rec.type == kXf3) {
        uint8_t typeProt = r.U8();
        x.protection.locked = (typeProt & 0x01) != 0;
        x.protection.hidden = (typeProt & 0x02) != 0;
        x.isStyle = (typeProt & 0x04) != 0;
        x.used = static_cast<uint8_t>(r.U8() >> 2);
        uint16_t align = r.U16();
        x.alignment.horizontal = static_cast<HAlign>(std::min<uint16_t>(align & 0x07, 7));
        x.alignment.wrap = (align & 0x08) != 0;
        x.parent = static_cast<uint16_t>(align >> 4);
    } else {
        uint16_t typeProt = r.U16();
        x.protection.locked = (typeProt & 0x0001) != 0;
        x.protection.hidden = (typeProt & 0x0002) != 0;
        x.isStyle = (typeProt & 0x0004) != 0;
        x.parent = static_cast<uint16_t>(typeProt >> 4);
        DecodeXfAlignment(r.U8(), 4, x.alignment);
        x.used = static_cast<uint8_t>(r.U8() >> 2);
    }
    // Both versions end with the cell's background (pattern in bits 0-5, pattern colour in bits
    // 6-10, background colour in bits 11-15) and its borders, each a 3-bit line style and a 5-bit
    // colour: top, left, bottom and right, in that order. Their 5-bit colour indexes reach the 24
    // palette entries; the indexes after them are the system colours, which later versions number
    // from 64.
    auto icv = [](uint32_t bits) { return static_cast<uint16_t>(bits < 24 ? bits : 64); };
    uint16_t background = r.U16();
    x.pattern = static_cast<uint8_t>(background & 0x3F);
    x.icvFore = icv((background >> 6) & 0x1Fu);
    x.icvBack = icv(background >> 11);
    uint32_t border = r.U32();
    x.lineTop = static_cast<uint8_t>(border & 0x07);
    x.icvTop = icv((border >> 3) & 0x1Fu);
    x.lineLeft = static_cast<uint8_t>((border >> 8) & 0x07);
    x.icvLeft = icv((border >> 11) & 0x1Fu);
    x.lineBottom = static_cast<uint8_t>((border >> 16) & 0x07);
    x.icvBottom = icv((border >> 19) & 0x1Fu);
    x.lineRight = static_cast<uint8_t>((border >> 24) & 0x07);
    x.icvRight = icv(border >> 27);
    AddXf(x);
}

// BIFF2 cells carry their format in three attribute bytes ([MS-XLS] does not cover BIFF2; the
// layout is the one Excel 2.x documented): byte 1 holds the number format (bits 0-5) and the
// font (bits 6-7). Each distinct byte becomes one model format.
uint32_t XlsBook::Biff2CellStyle(Workbook& workbook, const uint8_t* rgbAttr)
{
    uint8_t key = rgbAttr[1];
    if (m_biff2Styles[key] != 0) {
        return m_biff2Styles[key] - 1;
    }
    ResolvedStyle s;
    s.font = ModelFont(static_cast<size_t>(key >> 6));
    size_t format = key & 0x3F;
    if (format < m_oldFormats.size() && !m_oldFormats[format].empty()) {
        s.numFmt = m_oldFormats[format];
    }
    s.alignment.horizontal = static_cast<HAlign>(std::min<uint8_t>(rgbAttr[2] & 0x07, 7));
    uint32_t index = workbook.Styles().InternStyle(s);
    m_biff2Styles[key] = index + 1;
    return index;
}

// The BIFF2 cell records: row, column, three attribute bytes, then the value.
bool XlsBook::ReadBiff2Cell(Workbook& workbook, const Record& rec, SheetBuilder& builder, std::string& text,
                            PendingString& pending, Worksheet& out)
{
    const uint8_t* p = rec.body.data();
    const size_t n = rec.body.size();
    auto head = [&](size_t need) {
        if (n < need) {
            Fail("a cell record is too short", rec.offset);
        }
    };
    switch (rec.type) {
    case kBlank2:
    case kInteger2:
    case kNumber2:
    case kLabel2:
    case kBoolErr2:
    case kFormula: {
        CellHeader h = ReadCellHeader(rec, 7, "a cell record is too short");
        uint32_t style = Biff2CellStyle(workbook, p + 4);
        Cell& c = builder.At(h.row, h.col);
        c.style = style;
        if (rec.type == kInteger2) {
            head(9);
            c.type = CellType::Number;
            c.number = le::Load16(p + 7);
        } else if (rec.type == kNumber2) {
            head(15);
            c.type = CellType::Number;
            c.number = le::LoadF64(p + 7);
        } else if (rec.type == kLabel2) {
            head(8);
            ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
            r.Seek(7);
            uint8_t cch = r.U8();
            text.clear();
            m_codePage.Append(r.Bytes(cch), text);
            c.type = CellType::String;
            c.text = workbook.Strings().Intern(text);
        } else if (rec.type == kBoolErr2) {
            head(9);
            ReadBoolErr(p + 7, c);
        } else if (rec.type == kFormula) {
            head(15);
            c.formula = true;
            ReadFormulaValue(
                p + 7, h, [&] { return workbook.Strings().Intern(""); }, c, pending);
            // BIFF2: a one-byte grbit and a one-byte length before the expression.
            if (n >= 17 && p[16] <= n - 17 && WidenOldExpression(rec.body.subspan(17, p[16]), 2, m_widened)) {
                c.formulaIndex = KeepFormula(m_widened, {}, h.row, h.col, false, out, true);
            }
            pending.formulaIndex = c.formulaIndex;
        }
        return true;
    }
    case kString2: {
        // The text result of the formula just read: a one-byte count and code-page bytes.
        if (!pending.active) {
            return true;
        }
        pending.active = false;
        ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
        uint8_t cch = r.U8();
        text.clear();
        m_codePage.Append(r.Bytes(cch), text);
        Cell& c = builder.At(pending.row, pending.col);
        c.style = pending.style;
        c.formula = true;
        c.formulaIndex = pending.formulaIndex;
        c.type = CellType::String;
        c.text = workbook.Strings().Intern(text);
        return true;
    }
    case kColWidth2: {
        // COLWIDTH: first and last column (one byte each), width in 1/256 characters.
        if (n >= 4 && p[0] <= p[1]) {
            ColumnInfo info;
            info.first = p[0];
            info.last = p[1];
            info.width = le::Load16(p + 2) / 256.0;
            info.customWidth = true;
            out.SetColumn(info);
        }
        return true;
    }
    case kIxfe2:
        if (n >= 2) {
            m_biff2Ixfe = le::Load16(p);
        }
        return true;
    default:
        return false;
    }
}

} // namespace gq::engine::biff
