// The styles of the OpenDocument writer (ODF 1.3 Part 3, sections 16 and 20): cell formats as
// automatic table-cell styles, number format codes as data styles, column widths and row heights
// as column and row styles.
// SPDX-License-Identifier: Apache-2.0
#include "engine/ods/OdsWriterStyles.h"

#include "engine/ods/OdsDataStyles.h"
#include "engine/text/Utf8.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>

namespace gq::engine::odsout {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

std::string Hex(uint32_t argb)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%06x", argb & 0xFFFFFFu);
    return buf;
}

void AppendAttr(std::string& out, std::string_view name, std::string_view value)
{
    out += ' ';
    out += name;
    out += "=\"";
    AppendEscaped(out, value, true);
    out += '"';
}

std::string BorderText(const BorderLine& line)
{
    std::string_view width = "0.74pt";
    std::string_view kind = "solid";
    switch (line.style) {
    case BorderStyle::None:
        return "none";
    case BorderStyle::Thin:
        break;
    case BorderStyle::Hair:
        width = "0.06pt";
        break;
    case BorderStyle::Medium:
        width = "1.76pt";
        break;
    case BorderStyle::Thick:
        width = "2.49pt";
        break;
    case BorderStyle::Double:
        width = "2.01pt";
        kind = "double";
        break;
    case BorderStyle::Dotted:
        kind = "dotted";
        break;
    case BorderStyle::Dashed:
        kind = "dashed";
        break;
    case BorderStyle::MediumDashed:
        width = "1.76pt";
        kind = "dashed";
        break;
    case BorderStyle::DashDot:
        kind = "dash-dot";
        break;
    case BorderStyle::MediumDashDot:
    case BorderStyle::SlantDashDot:
        width = "1.76pt";
        kind = "dash-dot";
        break;
    case BorderStyle::DashDotDot:
        kind = "dash-dot-dot";
        break;
    case BorderStyle::MediumDashDotDot:
        width = "1.76pt";
        kind = "dash-dot-dot";
        break;
    }
    return std::string(width) + " " + std::string(kind) + " " +
           (line.color.kind == Color::Kind::Rgb ? Hex(line.color.argb) : std::string("#000000"));
}

void AppendFont(std::string& out, const Font& font)
{
    out += "<style:text-properties";
    AppendAttr(out, "style:font-name", font.name);
    out += " fo:font-size=\"" + Points(font.size) + "\"";
    if (font.bold) {
        out += " fo:font-weight=\"bold\"";
    }
    if (font.italic) {
        out += " fo:font-style=\"italic\"";
    }
    if (font.underline != Underline::None) {
        out += " style:text-underline-style=\"solid\" style:text-underline-width=\"auto\" "
               "style:text-underline-color=\"font-color\"";
        if (font.underline == Underline::Double || font.underline == Underline::DoubleAccounting) {
            out += " style:text-underline-type=\"double\"";
        }
    }
    if (font.strike) {
        out += " style:text-line-through-style=\"solid\" style:text-line-through-type=\"single\"";
    }
    if (font.color.kind == Color::Kind::Rgb) {
        out += " fo:color=\"" + Hex(font.color.argb) + "\"";
    }
    if (font.vertAlign != VertAlign::Baseline) {
        out += font.vertAlign == VertAlign::Superscript ? " style:text-position=\"super 58%\""
                                                        : " style:text-position=\"sub 58%\"";
    }
    out += "/>";
}

} // namespace

std::string Points(double points)
{
    char buf[40];
    double rounded = std::round(points * 100.0) / 100.0;
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, rounded);
    std::string out(buf, ec == std::errc() ? end : buf);
    return out + "pt";
}

void AppendEscaped(std::string& out, std::string_view text, bool attribute)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = s[i];
        if (c >= 0x80) {
            size_t pos = i;
            char32_t cp = DecodeUtf8(s, n, pos);
            if (cp == kNotUtf8 || cp == 0xFFFE || cp == 0xFFFF) {
                out += kReplacement;
            } else {
                out.append(text.substr(i, pos - i));
            }
            i = pos;
            continue;
        }
        ++i;
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += attribute ? "&quot;" : "\"";
            break;
        case '\t':
            out += attribute ? "&#9;" : "\t";
            break;
        case '\n':
            out += attribute ? "&#10;" : "\n";
            break;
        case '\r':
            out += "&#13;";
            break;
        default:
            if (c < 0x20) {
                out += kReplacement;
            } else {
                out.push_back(static_cast<char>(c));
            }
            break;
        }
    }
}

OdsStyleSet::OdsStyleSet(const Workbook& workbook) : m_styles(workbook.Styles()) {}

void OdsStyleSet::UseCell(uint32_t xf, bool boolean)
{
    // Loading a sheet adds the formats it brings to the workbook's table.
    const size_t formats = m_styles.CellFormats().size();
    if (xf >= formats) {
        xf = 0;
    }
    if (m_cells.size() < formats * 2) {
        m_cells.resize(formats * 2);
    }
    const uint32_t slot = xf * 2 + (boolean ? 1 : 0);
    if (slot == 0 || m_cells[slot].used) {
        return;
    }
    m_cells[slot].used = true;
    m_cells[slot].name = "ce" + std::to_string(m_cellOrder.size() + 1);
    m_cellOrder.push_back(slot);
}

void OdsStyleSet::UseColumn(double widthPoints)
{
    const long long key = std::llround(widthPoints * 100.0);
    if (!m_columns.contains(key)) {
        m_columns.emplace(key, "co" + std::to_string(m_columns.size() + 1));
    }
}

void OdsStyleSet::UseRow(double heightPoints, bool custom)
{
    const auto key = std::make_pair(std::llround(heightPoints * 100.0), custom);
    if (!m_rows.contains(key)) {
        m_rows.emplace(key, "ro" + std::to_string(m_rows.size() + 1));
    }
}

const std::string& OdsStyleSet::CellStyle(uint32_t xf, bool boolean) const
{
    static const std::string kDefault;
    if (xf >= m_styles.CellFormats().size()) {
        xf = 0;
    }
    const size_t slot = size_t{xf} * 2 + (boolean ? 1 : 0);
    return slot < m_cells.size() ? m_cells[slot].name : kDefault;
}

const std::string& OdsStyleSet::ColumnStyle(double widthPoints) const
{
    return m_columns.at(std::llround(widthPoints * 100.0));
}

const std::string& OdsStyleSet::RowStyle(double heightPoints, bool custom) const
{
    return m_rows.at(std::make_pair(std::llround(heightPoints * 100.0), custom));
}

ValueKind OdsStyleSet::KindOf(uint32_t xf) const
{
    if (xf >= m_styles.CellFormats().size()) {
        return ValueKind::Float;
    }
    if (xf >= m_kinds.size()) {
        m_kinds.resize(m_styles.CellFormats().size(), 0);
    }
    uint8_t& kind = m_kinds[xf];
    if (kind == 0) {
        const std::string& code = m_styles.NumberFormats().at(m_styles.FormatAt(xf).numFmt);
        const std::string_view element = ElementOf(ParseSection(SplitSections(code).front()));
        ValueKind k = element == "number:date-style"         ? ValueKind::Date
                      : element == "number:time-style"       ? ValueKind::Time
                      : element == "number:percentage-style" ? ValueKind::Percentage
                                                             : ValueKind::Float;
        kind = static_cast<uint8_t>(static_cast<uint8_t>(k) + 1);
    }
    return static_cast<ValueKind>(kind - 1);
}

std::string OdsStyleSet::FontFaceDecls() const
{
    std::set<std::string> names{m_styles.Fonts().front().name};
    for (uint32_t slot : m_cellOrder) {
        names.insert(m_styles.Fonts().at(m_styles.FormatAt(slot / 2).font).name);
    }
    std::string out = "<office:font-face-decls>";
    for (const std::string& name : names) {
        out += "<style:font-face";
        AppendAttr(out, "style:name", name);
        AppendAttr(out, "svg:font-family", name.find(' ') != std::string::npos ? "'" + name + "'" : name);
        out += "/>";
    }
    out += "</office:font-face-decls>";
    return out;
}

std::string OdsStyleSet::AutomaticStyles() const
{
    std::string out = "<office:automatic-styles>";
    // Data styles first, one for each number format code the used cell formats show.
    std::map<std::string, std::string> dataStyles;
    std::vector<std::string> cellData(m_cells.size());
    for (uint32_t slot : m_cellOrder) {
        const std::string& code = m_styles.NumberFormats().at(m_styles.FormatAt(slot / 2).numFmt);
        std::string key = (slot % 2 == 1 ? "bool:" : "") + code;
        if (slot % 2 == 0 && (code == "General" || code.empty())) {
            continue;
        }
        auto [it, added] = dataStyles.emplace(key, "N" + std::to_string(dataStyles.size() + 1));
        cellData[slot] = it->second;
        if (!added) {
            continue;
        }
        const std::string& name = it->second;
        if (slot % 2 == 1) {
            out += "<number:boolean-style style:name=\"" + name + "\"><number:boolean/></number:boolean-style>";
            continue;
        }
        std::vector<std::string> sections = SplitSections(code);
        if (sections.size() == 1) {
            AppendSection(out, ParseSection(sections[0]), name, {});
            continue;
        }
        // Positive and negative (and zero): the first sections are styles of their own that the
        // last one maps values to, as LibreOffice writes them.
        AppendSection(out, ParseSection(sections[0]), name + "P0", {});
        std::string maps = "<style:map style:condition=\"value()&gt;";
        maps += sections.size() >= 3 ? "0" : "=0";
        maps += "\" style:apply-style-name=\"" + name + "P0\"/>";
        if (sections.size() >= 3) {
            AppendSection(out, ParseSection(sections[1]), name + "P1", {});
            maps += "<style:map style:condition=\"value()&lt;0\" style:apply-style-name=\"" + name + "P1\"/>";
        }
        AppendSection(out, ParseSection(sections[sections.size() >= 3 ? 2 : 1]), name, maps);
    }
    for (const auto& [key, name] : m_columns) {
        out += "<style:style style:name=\"" + name +
               "\" style:family=\"table-column\"><style:table-column-properties fo:break-before=\"auto\" "
               "style:column-width=\"" +
               Points(static_cast<double>(key) / 100.0) + "\"/></style:style>";
    }
    for (const auto& [key, name] : m_rows) {
        out += "<style:style style:name=\"" + name +
               "\" style:family=\"table-row\"><style:table-row-properties style:row-height=\"" +
               Points(static_cast<double>(key.first) / 100.0) + "\" fo:break-before=\"auto\" " +
               "style:use-optimal-row-height=\"" + (key.second ? "false" : "true") + "\"/></style:style>";
    }
    out += "<style:style style:name=\"ta1\" style:family=\"table\"><style:table-properties table:display=\"true\" "
           "style:writing-mode=\"lr-tb\"/></style:style>";
    out += "<style:style style:name=\"ta2\" style:family=\"table\"><style:table-properties table:display=\"false\" "
           "style:writing-mode=\"lr-tb\"/></style:style>";
    for (uint32_t slot : m_cellOrder) {
        const CellFormat& format = m_styles.FormatAt(slot / 2);
        out += "<style:style style:name=\"" + m_cells[slot].name +
               "\" style:family=\"table-cell\" style:parent-style-name=\"Default\"";
        if (!cellData[slot].empty()) {
            out += " style:data-style-name=\"" + cellData[slot] + "\"";
        }
        out += "><style:table-cell-properties";
        const Fill& fill = m_styles.Fills().at(format.fill);
        const Color& background = fill.pattern == PatternType::Solid ? fill.fg : fill.bg;
        if (fill.pattern != PatternType::None && background.kind == Color::Kind::Rgb) {
            out += " fo:background-color=\"" + Hex(background.argb) + "\"";
        }
        const Border& border = m_styles.Borders().at(format.border);
        const std::pair<const char*, const BorderLine*> sides[] = {{"fo:border-left", &border.left},
                                                                   {"fo:border-right", &border.right},
                                                                   {"fo:border-top", &border.top},
                                                                   {"fo:border-bottom", &border.bottom}};
        for (const auto& [attr, line] : sides) {
            if (line->style != BorderStyle::None) {
                AppendAttr(out, attr, BorderText(*line));
            }
        }
        if (border.diagonal.style != BorderStyle::None) {
            if (border.diagonalDown) {
                AppendAttr(out, "style:diagonal-tl-br", BorderText(border.diagonal));
            }
            if (border.diagonalUp) {
                AppendAttr(out, "style:diagonal-bl-tr", BorderText(border.diagonal));
            }
        }
        const Alignment& a = format.alignment;
        if (a.horizontal != HAlign::General && a.horizontal != HAlign::Fill) {
            out += " style:text-align-source=\"fix\"";
        }
        if (a.horizontal == HAlign::Fill) {
            out += " style:repeat-content=\"true\"";
        }
        if (a.vertical != VAlign::Bottom) {
            out += a.vertical == VAlign::Top ? " style:vertical-align=\"top\"" : " style:vertical-align=\"middle\"";
        }
        if (a.wrap) {
            out += " fo:wrap-option=\"wrap\"";
        }
        if (a.shrink) {
            out += " style:shrink-to-fit=\"true\"";
        }
        if (a.rotation == 255) {
            out += " style:direction=\"ttb\"";
        } else if (a.rotation > 0 && a.rotation <= 180) {
            // xlsx counts 0-90 counter-clockwise and 91-180 clockwise from 90.
            const int degrees = a.rotation <= 90 ? a.rotation : 360 - (a.rotation - 90);
            out += " style:rotation-angle=\"" + std::to_string(degrees) + "\"";
        }
        const Protection& p = format.protection;
        if (!p.locked || p.hidden) {
            out += p.locked   ? " style:cell-protect=\"protected formula-hidden\""
                   : p.hidden ? " style:cell-protect=\"formula-hidden\""
                              : " style:cell-protect=\"none\"";
        }
        out += "/>";
        if (a.horizontal != HAlign::General && a.horizontal != HAlign::Fill) {
            std::string_view align = a.horizontal == HAlign::Left    ? "start"
                                     : a.horizontal == HAlign::Right ? "end"
                                     : a.horizontal == HAlign::Justify || a.horizontal == HAlign::Distributed
                                         ? "justify"
                                         : "center";
            out += "<style:paragraph-properties fo:text-align=\"" + std::string(align) + "\"";
            if (a.indent > 0) {
                out += " fo:margin-left=\"" + Points(a.indent * 10.0) + "\"";
            }
            out += "/>";
        }
        AppendFont(out, m_styles.Fonts().at(format.font));
        out += "</style:style>";
    }
    out += "</office:automatic-styles>";
    return out;
}

std::string OdsStyleSet::CommonStyles() const
{
    std::string out = "<office:styles><style:default-style style:family=\"table-cell\">";
    AppendFont(out, m_styles.Fonts().front());
    out += "</style:default-style><style:style style:name=\"Default\" style:family=\"table-cell\">";
    AppendFont(out, m_styles.Fonts().front());
    out += "</style:style></office:styles>";
    return out;
}

} // namespace gq::engine::odsout
