// The .xls reader's styles: FONT, FORMAT, XF and PALETTE records, and the model styles that the
// file's cell formats resolve to.
// SPDX-License-Identifier: Apache-2.0
#include "engine/io/ByteReader.h"
#include "engine/xls/XlsBook.h"

namespace gq::engine::biff {

// FONT, [MS-XLS] 2.4.122.
void XlsBook::ReadFont(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    RawFont f;
    f.height = r.U16();
    f.grbit = r.U16();
    f.icv = r.U16();
    f.bls = r.U16();
    f.sss = r.U16();
    f.uls = r.U8();
    f.family = r.U8();
    f.charset = r.U8();
    r.Skip(1);
    if (m_biff >= 8) {
        StringReader(r, nullptr).ShortXLUnicodeString(f.name);
    } else {
        uint8_t cch = r.U8();
        auto raw = r.Bytes(cch);
        f.name = DecodeText(raw); // font names are ASCII in practice; the code page is set by now
    }
    m_fonts.push_back(std::move(f));
}

// FORMAT, [MS-XLS] 2.4.126.
void XlsBook::ReadFormat(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    uint16_t id = r.U16();
    std::string code;
    if (m_biff >= 8) {
        StringReader(r, nullptr).XLUnicodeString(code);
    } else {
        uint8_t cch = r.U8();
        code = DecodeText(r.Bytes(cch));
    }
    m_formats[id] = std::move(code);
}

// XF, [MS-XLS] 2.4.353 (BIFF8, 20 bytes) and the BIFF5 layout (16 bytes).
void XlsBook::ReadXf(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    RawXf x;
    x.font = r.U16();
    x.format = r.U16();
    uint16_t typeProt = r.U16();
    x.protection.locked = (typeProt & 0x0001) != 0;
    x.protection.hidden = (typeProt & 0x0002) != 0;
    x.isStyle = (typeProt & 0x0004) != 0;
    x.parent = static_cast<uint16_t>(typeProt >> 4);
    DecodeXfAlignment(r.U8(), m_biff, x.alignment);
    if (m_biff >= 8) {
        uint8_t rotation = r.U8();
        x.alignment.rotation = (rotation <= 180 || rotation == 255) ? rotation : 0;
        uint8_t indent = r.U8();
        x.alignment.indent = indent & 0x0F;
        x.alignment.shrink = (indent & 0x10) != 0;
        x.used = static_cast<uint8_t>(r.U8() >> 2);
        uint32_t b1 = r.U32();
        uint32_t b2 = r.U32();
        uint16_t b3 = r.U16();
        x.lineLeft = b1 & 0x0F;
        x.lineRight = (b1 >> 4) & 0x0F;
        x.lineTop = (b1 >> 8) & 0x0F;
        x.lineBottom = (b1 >> 12) & 0x0F;
        x.icvLeft = (b1 >> 16) & 0x7F;
        x.icvRight = (b1 >> 23) & 0x7F;
        x.diagDown = (b1 & 0x40000000u) != 0;
        x.diagUp = (b1 & 0x80000000u) != 0;
        x.icvTop = b2 & 0x7F;
        x.icvBottom = (b2 >> 7) & 0x7F;
        x.icvDiag = (b2 >> 14) & 0x7F;
        x.lineDiag = (b2 >> 21) & 0x0F;
        x.pattern = (b2 >> 26) & 0x3F;
        x.icvFore = b3 & 0x7F;
        x.icvBack = (b3 >> 7) & 0x7F;
    } else {
        uint8_t orientUsed = r.U8();
        static constexpr uint16_t kOrientation[4] = {0, 255, 90, 180};
        x.alignment.rotation = kOrientation[orientUsed & 0x03];
        x.used = static_cast<uint8_t>(orientUsed >> 2);
        uint32_t b1 = r.U32();
        uint32_t b2 = r.U32();
        x.icvFore = b1 & 0x7F;
        x.icvBack = (b1 >> 7) & 0x7F;
        x.pattern = (b1 >> 16) & 0x3F;
        x.lineBottom = (b1 >> 22) & 0x07;
        x.icvBottom = (b1 >> 25) & 0x7F;
        x.lineTop = b2 & 0x07;
        x.lineLeft = (b2 >> 3) & 0x07;
        x.lineRight = (b2 >> 6) & 0x07;
        x.icvTop = (b2 >> 9) & 0x7F;
        x.icvLeft = (b2 >> 16) & 0x7F;
        x.icvRight = (b2 >> 23) & 0x7F;
    }
    AddXf(x);
}

// The number of XF records is limited because each becomes a model style to resolve and intern.
void XlsBook::AddXf(const RawXf& xf)
{
    if (m_xfs.size() >= limits::kMaxXlsXfRecords) {
        throw LimitError(m_name, "the workbook defines more than " + std::to_string(limits::kMaxXlsXfRecords) +
                                     " cell formats");
    }
    m_xfs.push_back(xf);
}

// PALETTE, [MS-XLS] 2.4.188: colours for indexes 8 onwards.
void XlsBook::ReadPalette(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    uint16_t count = r.U16();
    if (static_cast<size_t>(count) * 4 > r.Left()) {
        r.Fail("the PALETTE record holds fewer colours than it claims");
    }
    for (uint16_t i = 0; i < count && 8u + i < m_palette.size(); ++i) {
        uint8_t red = r.U8();
        uint8_t green = r.U8();
        uint8_t blue = r.U8();
        r.Skip(1);
        m_palette[8u + i] = (static_cast<uint32_t>(red) << 16) | (static_cast<uint32_t>(green) << 8) | blue;
    }
}

Color XlsBook::PaletteColor(uint32_t icv) const
{
    if (IsSystemColorIndex(icv)) {
        return Color::Automatic();
    }
    return Color::Rgb(0xFF000000u | m_palette[icv]);
}

Font XlsBook::ModelFont(size_t fontIndex) const
{
    // Font index 4 does not exist: the fifth FONT record is font 5 ([MS-XLS] 2.5.129 FontIndex).
    size_t record = fontIndex < 4 ? fontIndex : fontIndex - 1;
    if (fontIndex == 4 || record >= m_fonts.size()) {
        record = 0;
    }
    Font font;
    if (m_fonts.empty()) {
        return font;
    }
    const RawFont& f = m_fonts[record];
    font.name = f.name.empty() ? std::string("Arial") : f.name;
    font.size = f.height >= 20 ? f.height / 20.0 : 10.0;
    font.bold = f.bls >= 700;
    font.italic = (f.grbit & 0x0002) != 0;
    font.strike = (f.grbit & 0x0008) != 0;
    switch (f.uls) {
    case 0x01:
        font.underline = Underline::Single;
        break;
    case 0x02:
        font.underline = Underline::Double;
        break;
    case 0x21:
        font.underline = Underline::SingleAccounting;
        break;
    case 0x22:
        font.underline = Underline::DoubleAccounting;
        break;
    default:
        font.underline = Underline::None;
        break;
    }
    font.vertAlign = f.sss == 1 ? VertAlign::Superscript : f.sss == 2 ? VertAlign::Subscript : VertAlign::Baseline;
    // The automatic colour (0x7FFF) and the system colours are the model's "no colour".
    font.color = IsSystemColorIndex(f.icv) ? Color{} : PaletteColor(f.icv);
    font.family = f.family;
    font.charset = f.charset;
    return font;
}

void XlsBook::BuildStyles(Workbook& workbook)
{
    StyleTable& styles = workbook.Styles();
    m_xfMap.assign(m_xfs.size(), 0);
    std::vector<Font> fonts;
    size_t fontCount = m_fonts.size() + 1;
    fonts.reserve(fontCount);
    for (size_t i = 0; i < fontCount; ++i) {
        fonts.push_back(ModelFont(i));
    }
    for (size_t i = 0; i < m_xfs.size(); ++i) {
        const RawXf& x = m_xfs[i];
        // A cell XF's fAtr* flags say which groups of attributes differ from its parent style XF
        // ([MS-XLS] 2.4.353). Writers store the effective values in cell XFs anyway, and some
        // (Quattro Pro) leave every flag clear next to real values, so the parent's group is taken
        // only where the flag is clear and the cell XF's own group is empty.
        const RawXf* parent = nullptr;
        if (!x.isStyle && x.parent < m_xfs.size() && m_xfs[x.parent].isStyle) {
            parent = &m_xfs[x.parent];
        }
        auto inherit = [&](int bit, bool ownEmpty) {
            return parent != nullptr && (x.used & (1u << bit)) == 0 && ownEmpty;
        };
        auto pick = [&](int bit) -> const RawXf& {
            bool ownEmpty = false;
            switch (bit) {
            case 0:
                ownEmpty = x.format == 0;
                break;
            case 1:
                ownEmpty = x.font == 0;
                break;
            case 2:
                // Empty means all bits zero, which is general and top: an explicit bottom (the
                // model's default) is a value of the XF's own.
                ownEmpty = x.alignment == Alignment{HAlign::General, VAlign::Top};
                break;
            case 3:
                ownEmpty = x.lineLeft == 0 && x.lineRight == 0 && x.lineTop == 0 && x.lineBottom == 0 && !x.diagUp &&
                           !x.diagDown;
                break;
            case 4:
                ownEmpty = x.pattern == 0;
                break;
            default:
                ownEmpty = false;
                break; // protection: both states are meaningful
            }
            return inherit(bit, ownEmpty) ? *parent : x;
        };
        ResolvedStyle s;
        const RawXf& num = pick(0);
        auto custom = m_formats.find(num.format);
        if (custom != m_formats.end()) {
            s.numFmt = custom->second;
        } else {
            std::string_view builtin = BuiltinNumberFormat(num.format);
            s.numFmt = builtin.empty() ? std::string("General") : std::string(builtin);
        }
        if (s.numFmt.empty()) {
            s.numFmt = "General";
        }
        const RawXf& fontXf = pick(1);
        s.font = fontXf.font < fonts.size() ? fonts[fontXf.font] : fonts[0];
        s.alignment = pick(2).alignment;
        const RawXf& b = pick(3);
        auto line = [&](uint8_t style, uint16_t icv) {
            BorderLine l;
            l.style = static_cast<BorderStyle>(std::min<uint8_t>(style, 13));
            if (l.style != BorderStyle::None) {
                l.color = PaletteColor(icv);
            }
            return l;
        };
        s.border.left = line(b.lineLeft, b.icvLeft);
        s.border.right = line(b.lineRight, b.icvRight);
        s.border.top = line(b.lineTop, b.icvTop);
        s.border.bottom = line(b.lineBottom, b.icvBottom);
        s.border.diagonalUp = b.diagUp;
        s.border.diagonalDown = b.diagDown;
        if (b.diagUp || b.diagDown) {
            s.border.diagonal = line(b.lineDiag, b.icvDiag);
        }
        const RawXf& f = pick(4);
        if (f.pattern != 0) {
            s.fill.pattern = static_cast<PatternType>(std::min<uint8_t>(f.pattern, 18));
            s.fill.fg = PaletteColor(f.icvFore);
            s.fill.bg = PaletteColor(f.icvBack);
        }
        s.protection = pick(5).protection;
        m_xfMap[i] = styles.InternStyle(s);
    }
}

} // namespace gq::engine::biff
