// The .xls writer's styles: the palette, FONT, FORMAT and XF records, and the map from the
// model's cell formats to the file's XFs.
// SPDX-License-Identifier: Apache-2.0
#include "engine/io/LittleEndian.h"
#include "engine/xls/XlsBookWriter.h"

#include <algorithm>
#include <cmath>

namespace gq::engine::biff {

// Colours are palette indexes in BIFF8. A custom PALETTE replaces indexes 8-63: default
// entries whose colour is needed exactly stay where they are, entries nobody needs make room
// for the other colours, and once all 56 are taken the remaining colours get the nearest entry.
void XlsBookWriter::BuildPalette()
{
    std::vector<uint32_t> wanted;
    std::unordered_map<uint32_t, bool> seen;
    auto want = [&](const Color& c) {
        if (c.kind == Color::Kind::Rgb && seen.emplace(c.argb & 0xFFFFFF, true).second) {
            wanted.push_back(c.argb & 0xFFFFFF);
        }
    };
    for (uint32_t xf : m_xfOrder) {
        const CellFormat& format = m_styles.CellFormats()[xf];
        if (format.font < m_styles.Fonts().size()) {
            want(m_styles.Fonts()[format.font].color);
        }
        if (format.fill < m_styles.Fills().size()) {
            const Fill& fill = m_styles.Fills()[format.fill];
            if (fill.pattern != PatternType::None) {
                want(fill.fg);
                want(fill.bg);
            }
        }
        if (format.border < m_styles.Borders().size()) {
            const Border& b = m_styles.Borders()[format.border];
            for (const BorderLine* line : {&b.left, &b.right, &b.top, &b.bottom, &b.diagonal}) {
                if (line->style != BorderStyle::None) {
                    want(line->color);
                }
            }
        }
    }
    if (m_styles.Fonts().size() > 0) {
        want(m_styles.Fonts()[0].color);
    }

    m_palette = kReplaceablePalette;
    std::array<bool, 56> taken{};
    std::vector<uint32_t> missing;
    for (uint32_t rgb : wanted) {
        auto it = std::find(kReplaceablePalette.begin(), kReplaceablePalette.end(), rgb);
        if (it != kReplaceablePalette.end()) {
            auto slot = static_cast<size_t>(it - kReplaceablePalette.begin());
            taken[slot] = true;
            m_colorIndex[rgb] = static_cast<uint16_t>(8 + slot);
        } else {
            missing.push_back(rgb);
        }
    }
    // Free entries are handed out from the end so that the basic colours at 8-15 stay longest.
    size_t nextFree = taken.size();
    std::vector<uint32_t> leftover;
    for (uint32_t rgb : missing) {
        while (nextFree > 0 && taken[nextFree - 1]) {
            --nextFree;
        }
        if (nextFree == 0) {
            leftover.push_back(rgb);
            continue;
        }
        size_t slot = --nextFree;
        taken[slot] = true;
        m_palette[slot] = rgb;
        m_customPalette = true;
        m_colorIndex[rgb] = static_cast<uint16_t>(8 + slot);
    }
    for (uint32_t rgb : leftover) {
        m_colorIndex[rgb] = static_cast<uint16_t>(8 + NearestSlot(rgb));
    }
}

size_t XlsBookWriter::NearestSlot(uint32_t rgb) const
{
    auto channel = [](uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFF); };
    size_t best = 0;
    long bestDistance = -1;
    for (size_t i = 0; i < m_palette.size(); ++i) {
        long d = 0;
        for (int shift : {16, 8, 0}) {
            long delta = channel(rgb, shift) - channel(m_palette[i], shift);
            d += delta * delta;
        }
        if (bestDistance < 0 || d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    return best;
}

uint16_t XlsBookWriter::Icv(const Color& color, uint16_t automatic) const
{
    if (color.kind != Color::Kind::Rgb) {
        return automatic;
    }
    auto it = m_colorIndex.find(color.argb & 0xFFFFFF);
    return it == m_colorIndex.end() ? automatic : it->second;
}

void XlsBookWriter::BuildFontsAndFormats()
{
    m_fontMap.assign(m_styles.Fonts().size(), 0);
    if (!m_styles.Fonts().empty()) {
        AddFont(0); // font 0 is the workbook's default font and must come first
    } else {
        m_fontBodies.push_back(FontBody(Font{}));
    }
    m_numFmtMap.assign(m_styles.NumberFormats().size(), 0);
    std::vector<uint8_t> fontDone(m_styles.Fonts().size(), 0);
    std::vector<uint8_t> fmtDone(m_styles.NumberFormats().size(), 0);
    for (uint32_t xf : m_xfOrder) {
        const CellFormat& format = m_styles.CellFormats()[xf];
        if (format.font < fontDone.size() && !fontDone[format.font]) {
            fontDone[format.font] = 1;
            if (format.font != 0) {
                AddFont(format.font);
            }
        }
        if (format.numFmt < fmtDone.size() && !fmtDone[format.numFmt]) {
            fmtDone[format.numFmt] = 1;
            AddNumberFormat(format.numFmt);
        }
    }
}

std::vector<uint8_t> XlsBookWriter::FontBody(const Font& font) const
{
    // Font, [MS-XLS] 2.4.122.
    BiffStream body;
    double twips = std::round(font.size * 20.0);
    body.U16(static_cast<uint32_t>(std::clamp(std::isfinite(twips) ? twips : 220.0, 20.0, 8191.0)));
    // Bit 0 is ignored by BIFF8 readers but older ones take it as bold, so it mirrors the weight.
    body.U16((font.bold ? 0x01u : 0u) | (font.italic ? 0x02u : 0u) | (font.strike ? 0x08u : 0u));
    body.U16(Icv(font.color, kIcvFontAuto));
    body.U16(font.bold ? 700 : 400);
    body.U16(font.vertAlign == VertAlign::Superscript ? 1 : font.vertAlign == VertAlign::Subscript ? 2 : 0);
    uint8_t uls = 0;
    switch (font.underline) {
    case Underline::None:
        uls = 0x00;
        break;
    case Underline::Single:
        uls = 0x01;
        break;
    case Underline::Double:
        uls = 0x02;
        break;
    case Underline::SingleAccounting:
        uls = 0x21;
        break;
    case Underline::DoubleAccounting:
        uls = 0x22;
        break;
    }
    body.U8(uls);
    body.U8(font.family);
    body.U8(font.charset);
    body.U8(0);
    std::u16string name;
    ToUtf16(font.name.empty() ? std::string_view("Arial") : std::string_view(font.name), name);
    name.resize(std::min<size_t>(name.size(), 255)); // the field's own limit; longer names do not exist
    PutUnicodeString(body, name, true);
    auto bytes = body.Bytes();
    return {bytes.begin(), bytes.end()};
}

void XlsBookWriter::AddFont(uint32_t modelFont)
{
    std::vector<uint8_t> body = FontBody(m_styles.Fonts()[modelFont]);
    auto it = std::find(m_fontBodies.begin(), m_fontBodies.end(), body);
    size_t record = static_cast<size_t>(it - m_fontBodies.begin());
    if (it == m_fontBodies.end()) {
        m_fontBodies.push_back(std::move(body));
    }
    // Font index 4 does not exist in BIFF: the fifth FONT record is font 5.
    m_fontMap[modelFont] = static_cast<uint16_t>(record < 4 ? record : record + 1);
}

void XlsBookWriter::AddNumberFormat(uint32_t index)
{
    const std::string& code = m_styles.NumberFormats()[index];
    int builtin = BuiltinNumberFormatId(code);
    if (builtin >= 0) {
        m_numFmtMap[index] = static_cast<uint16_t>(builtin);
        return;
    }
    std::u16string text;
    ToUtf16(code, text);
    if (text.size() > limits::kXlsMaxFormatCodeChars) {
        throw LimitError("the number format \"" + code.substr(0, 40) +
                         "...\" is longer than the 255 characters an Excel 97-2003 file holds");
    }
    auto id = static_cast<uint16_t>(kFirstCustomFormat + m_customFormats.size());
    m_customFormats.emplace_back(id, std::move(text));
    m_numFmtMap[index] = id;
}

// XF, [MS-XLS] 2.4.353, with CellXF, 2.5.20.
std::array<uint8_t, 20> XlsBookWriter::CellXfBody(const CellFormat& format) const
{
    std::array<uint8_t, 20> x{};
    le::Store16(&x[0], format.font < m_fontMap.size() ? m_fontMap[format.font] : 0);
    le::Store16(&x[2], format.numFmt < m_numFmtMap.size() ? m_numFmtMap[format.numFmt] : 0);
    // fLocked, fHidden; fStyle 0; ixfParent 0 (the Normal style).
    le::Store16(&x[4], (format.protection.locked ? 0x01u : 0u) | (format.protection.hidden ? 0x02u : 0u));
    const Alignment& a = format.alignment;
    x[6] = static_cast<uint8_t>((static_cast<uint32_t>(a.horizontal) & 7) | (a.wrap ? 0x08u : 0u) |
                                ((static_cast<uint32_t>(a.vertical) & 7) << 4));
    // Rotation: 0-90 counter-clockwise, 91-180 clockwise, 255 vertical: the same as xlsx.
    x[7] = static_cast<uint8_t>(a.rotation <= 180 || a.rotation == 255 ? a.rotation : 0);
    x[8] = static_cast<uint8_t>(std::min<uint32_t>(a.indent, 15) | (a.shrink ? 0x10u : 0u));
    x[9] = 0xFC; // every attribute is this XF's own, none inherited from the style

    Border border;
    if (format.border < m_styles.Borders().size()) {
        border = m_styles.Borders()[format.border];
    }
    auto dg = [](const BorderLine& l) { return static_cast<uint32_t>(l.style) & 0x0F; };
    auto icv = [this](const BorderLine& l) -> uint32_t {
        return l.style == BorderStyle::None ? 0u : Icv(l.color, kIcvAutoFore);
    };
    uint32_t diag = (border.diagonalDown ? 1u : 0u) | (border.diagonalUp ? 2u : 0u);
    const BorderLine noLine;
    const BorderLine& diagonal = diag ? border.diagonal : noLine;
    le::Store32(&x[10], dg(border.left) | (dg(border.right) << 4) | (dg(border.top) << 8) | (dg(border.bottom) << 12) |
                            (icv(border.left) << 16) | (icv(border.right) << 23) | (diag << 30));
    Fill fill;
    if (format.fill < m_styles.Fills().size()) {
        fill = m_styles.Fills()[format.fill];
    }
    auto fls = static_cast<uint32_t>(fill.pattern);
    le::Store32(&x[14], icv(border.top) | (icv(border.bottom) << 7) | (icv(diagonal) << 14) | (dg(diagonal) << 21) |
                            (fls << 26));
    uint32_t fore = fls ? Icv(fill.fg, kIcvAutoFore) : kIcvAutoFore;
    uint32_t back = fls ? Icv(fill.bg, kIcvAutoBack) : kIcvAutoBack;
    le::Store16(&x[18], fore | (back << 7));
    return x;
}

void XlsBookWriter::BuildCellXfs()
{
    m_xfMap.assign(m_styles.CellFormats().size(), kFirstCellXf);
    std::unordered_map<std::string, uint16_t> index;
    for (uint32_t xf : m_xfOrder) { // model XF 0 comes first, so it becomes XF 15
        std::array<uint8_t, 20> body = CellXfBody(m_styles.CellFormats()[xf]);
        std::string key(reinterpret_cast<const char*>(body.data()), body.size());
        auto [it, added] = index.emplace(std::move(key), 0);
        if (added) {
            if (m_cellXfs.size() >= limits::kXlsMaxCellFormats) {
                throw LimitError("the workbook uses more than 4,000 distinct cell formats, the most an "
                                 "Excel 97-2003 file holds");
            }
            it->second = static_cast<uint16_t>(kFirstCellXf + m_cellXfs.size());
            m_cellXfs.push_back(body);
        }
        m_xfMap[xf] = it->second;
    }
}

// The style records of the globals, in the order Excel writes them: FONT, FORMAT, the style XFs
// then the cell XFs, STYLE, and PALETTE when the colours needed one.
void XlsBookWriter::WriteStyles()
{
    for (const auto& body : m_fontBodies) {
        size_t r = m_out.Begin(kFont);
        m_out.Raw(body.data(), body.size());
        m_out.End(r);
    }

    // Format, [MS-XLS] 2.4.126. Excel always writes its eight currency formats, whose meaning
    // depends on the locale, so that the file shows what it showed where it was written.
    for (uint16_t id : {5, 6, 7, 8, 42, 41, 44, 43}) {
        std::u16string text;
        ToUtf16(BuiltinNumberFormat(id), text);
        WriteFormat(id, text);
    }
    for (const auto& [id, text] : m_customFormats) {
        WriteFormat(id, text);
    }

    // Style XFs 0-14 (0 is the Normal style), all on the default font.
    for (int i = 0; i < kFirstCellXf; ++i) {
        size_t r = m_out.Begin(kXf);
        m_out.U16(0);
        m_out.U16(0);
        m_out.U16(0xFFF5); // locked, fStyle, ixfParent 0xFFF
        m_out.U8(0x20);    // bottom aligned
        m_out.U8(0);
        m_out.U8(0);
        m_out.U8(i == 0 ? 0x00 : 0xF4);
        m_out.U32(0);
        m_out.U32(0);
        m_out.U16(kIcvAutoFore | (kIcvAutoBack << 7));
        m_out.End(r);
    }
    for (const auto& body : m_cellXfs) {
        size_t r = m_out.Begin(kXf);
        m_out.Raw(body.data(), body.size());
        m_out.End(r);
    }

    // Style, [MS-XLS] 2.4.269: the built-in Normal style on XF 0.
    size_t r = m_out.Begin(kStyle);
    m_out.U16(0x8000);
    m_out.U8(0);
    m_out.U8(0xFF);
    m_out.End(r);

    if (m_customPalette) {
        // Palette, [MS-XLS] 2.4.188: 56 LongRGB entries for indexes 8-63.
        r = m_out.Begin(kPalette);
        m_out.U16(56);
        for (uint32_t rgb : m_palette) {
            m_out.U8(rgb >> 16);
            m_out.U8(rgb >> 8);
            m_out.U8(rgb);
            m_out.U8(0);
        }
        m_out.End(r);
    }
}

void XlsBookWriter::WriteFormat(uint16_t id, std::u16string_view text)
{
    size_t r = m_out.Begin(kFormat);
    m_out.U16(id);
    PutUnicodeString(m_out, text, false);
    m_out.End(r);
}

} // namespace gq::engine::biff
