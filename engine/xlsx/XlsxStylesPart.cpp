// The styles part of an xlsx package (xl/styles.xml): the cell formats the worksheets used, with
// the fonts, fills, borders and number formats they refer to, each table in first-use order.
// SPDX-License-Identifier: Apache-2.0
#include "common/AsciiText.h"
#include "engine/xlsx/XlsxWriterParts.h"
#include "engine/xlsx/XlsxWriterXml.h"

#include <cmath>

namespace gq::engine::xlsxout {

namespace {

// The first id of a custom number format; 0-163 are built in or reserved (ECMA-376 18.8.30).
constexpr uint32_t kFirstCustomNumFmt = 164;

constexpr std::string_view kPatternNames[] = {
    "none",     "solid",     "mediumGray",   "darkGray",    "lightGray",       "darkHorizontal", "darkVertical",
    "darkDown", "darkUp",    "darkGrid",     "darkTrellis", "lightHorizontal", "lightVertical",  "lightDown",
    "lightUp",  "lightGrid", "lightTrellis", "gray125",     "gray0625"};
constexpr std::string_view kBorderNames[] = {
    "none",         "thin",    "medium",        "dashed",     "dotted",           "thick",       "double", "hair",
    "mediumDashed", "dashDot", "mediumDashDot", "dashDotDot", "mediumDashDotDot", "slantDashDot"};
constexpr std::string_view kHAlignNames[] = {"general", "left",    "center",           "right",
                                             "fill",    "justify", "centerContinuous", "distributed"};
constexpr std::string_view kVAlignNames[] = {"top", "center", "bottom", "justify", "distributed"};
constexpr std::string_view kUnderlineNames[] = {"none", "single", "double", "singleAccounting", "doubleAccounting"};

template <size_t N>
std::string_view NameOf(const std::string_view (&names)[N], uint8_t value)
{
    return value < N ? names[value] : names[0];
}

// <tag rgb="AARRGGBB"/> or <tag auto="1"/> for a colour that is set; nothing for Color::Kind::None.
void ColorElement(XmlBuilder& xml, std::string_view tag, const Color& color)
{
    if (color.kind == Color::Kind::None) {
        return;
    }
    xml.Start(tag);
    if (color.kind == Color::Kind::Auto) {
        xml.Attribute("auto", "1");
    } else {
        char argb[8];
        for (int i = 0; i < 8; ++i) {
            argb[i] = kHexDigits[(color.argb >> (28 - 4 * i)) & 0xF];
        }
        xml.Attribute("rgb", std::string_view(argb, 8));
    }
    xml.EndEmpty();
}

// The output tables of fonts, fills, borders and number formats: the defaults keep index 0, and
// fills 0 and 1 are the two Excel reserves (none, gray125).
class StyleMaps {
public:
    explicit StyleMaps(const StyleTable& styles)
        : m_styles(styles), m_fontMap(styles.Fonts().size(), kUnmapped), m_fillMap(styles.Fills().size(), kUnmapped),
          m_borderMap(styles.Borders().size(), kUnmapped), m_numFmtMap(styles.NumberFormats().size(), kUnmapped)
    {
        m_fontMap[0] = 0;
        m_fillMap[0] = 0;
        m_borderMap[0] = 0;
    }

    uint32_t MapFont(uint32_t i)
    {
        if (i >= m_fontMap.size()) {
            return 0u;
        }
        if (m_fontMap[i] == kUnmapped) {
            m_fontMap[i] = static_cast<uint32_t>(fonts.size());
            fonts.push_back(i);
        }
        return m_fontMap[i];
    }
    uint32_t MapFill(uint32_t i)
    {
        if (i >= m_fillMap.size()) {
            return 0u;
        }
        if (m_fillMap[i] == kUnmapped) {
            if (m_styles.Fills()[i] == kGray125) {
                m_fillMap[i] = 1;
            } else {
                m_fillMap[i] = static_cast<uint32_t>(fills.size() + 2);
                fills.push_back(i);
            }
        }
        return m_fillMap[i];
    }
    uint32_t MapBorder(uint32_t i)
    {
        if (i >= m_borderMap.size()) {
            return 0u;
        }
        if (m_borderMap[i] == kUnmapped) {
            m_borderMap[i] = static_cast<uint32_t>(borders.size());
            borders.push_back(i);
        }
        return m_borderMap[i];
    }
    uint32_t MapNumFmt(uint32_t i)
    {
        if (i >= m_numFmtMap.size()) {
            return 0u;
        }
        if (m_numFmtMap[i] == kUnmapped) {
            // The formats whose text an office suite fills in by its locale are written with their
            // code, as custom formats: readers that do not know them would show General instead.
            int builtin = BuiltinNumberFormatId(m_styles.NumberFormats()[i]);
            if (builtin >= 0 && !IsLocaleNumberFormatId(static_cast<uint32_t>(builtin))) {
                m_numFmtMap[i] = static_cast<uint32_t>(builtin);
            } else {
                m_numFmtMap[i] = kFirstCustomNumFmt + static_cast<uint32_t>(customNumFmts.size());
                customNumFmts.push_back(i);
            }
        }
        return m_numFmtMap[i];
    }

    // Model indexes in output order.
    std::vector<uint32_t> fonts{0};
    std::vector<uint32_t> fills; // from output index 2 on
    std::vector<uint32_t> borders{0};
    std::vector<uint32_t> customNumFmts;

private:
    inline static const Fill kGray125{PatternType::Gray125, Color{}, Color{}};

    const StyleTable& m_styles;
    std::vector<uint32_t> m_fontMap;
    std::vector<uint32_t> m_fillMap;
    std::vector<uint32_t> m_borderMap;
    std::vector<uint32_t> m_numFmtMap;
};

struct XfOut {
    uint32_t numFmt, font, fill, border;
    const CellFormat* format;
};

void NumFmts(XmlBuilder& xml, const StyleTable& styles, const std::vector<uint32_t>& customNumFmts)
{
    if (customNumFmts.empty()) {
        return;
    }
    xml.Start("numFmts").Attribute("count", customNumFmts.size()).EndStart();
    for (size_t k = 0; k < customNumFmts.size(); ++k) {
        const std::string& code = styles.NumberFormats()[customNumFmts[k]];
        xml.Start("numFmt")
            .Attribute("numFmtId", kFirstCustomNumFmt + k)
            .Attribute("formatCode", code.empty() ? std::string_view("General") : std::string_view(code))
            .EndEmpty();
    }
    xml.End("numFmts");
}

void Fonts(XmlBuilder& xml, const StyleTable& styles, const std::vector<uint32_t>& fonts)
{
    xml.Start("fonts").Attribute("count", fonts.size()).EndStart();
    for (uint32_t i : fonts) {
        const Font& f = styles.Fonts()[i];
        xml.Start("font").EndStart();
        if (f.bold) {
            xml.Start("b").EndEmpty();
        }
        if (f.italic) {
            xml.Start("i").EndEmpty();
        }
        if (f.strike) {
            xml.Start("strike").EndEmpty();
        }
        if (f.underline != Underline::None) {
            xml.Start("u");
            if (f.underline != Underline::Single) {
                xml.Attribute("val", NameOf(kUnderlineNames, static_cast<uint8_t>(f.underline)));
            }
            xml.EndEmpty();
        }
        if (f.vertAlign != VertAlign::Baseline) {
            xml.Start("vertAlign")
                .Attribute("val", f.vertAlign == VertAlign::Superscript ? "superscript" : "subscript")
                .EndEmpty();
        }
        xml.Start("sz").NumberAttribute("val", f.size > 0 && std::isfinite(f.size) ? f.size : 11.0).EndEmpty();
        ColorElement(xml, "color", f.color);
        xml.Start("name").Attribute("val", f.name.empty() ? std::string_view("Calibri") : std::string_view(f.name));
        xml.EndEmpty();
        if (f.family != 0 && f.family <= 14) {
            xml.Start("family").Attribute("val", f.family).EndEmpty();
        }
        if (f.charset != 0) {
            xml.Start("charset").Attribute("val", f.charset).EndEmpty();
        }
        xml.End("font");
    }
    xml.End("fonts");
}

// CT_GradientFill, ECMA-376 Part 1, 18.8.24, with the attributes that differ from their defaults.
void GradientFill(XmlBuilder& xml, const Gradient& g)
{
    xml.Start("gradientFill");
    if (g.path) {
        xml.Attribute("type", "path");
        for (auto [name, value] : {std::pair{"left", g.left}, std::pair{"right", g.right}, std::pair{"top", g.top},
                                   std::pair{"bottom", g.bottom}}) {
            if (value != 0) {
                xml.NumberAttribute(name, value);
            }
        }
    } else if (g.degree != 0) {
        xml.NumberAttribute("degree", g.degree);
    }
    xml.EndStart();
    for (const GradientStop& stop : g.stops) {
        xml.Start("stop").NumberAttribute("position", stop.position).EndStart();
        // A stop must name a colour; one the source left out is drawn as white.
        ColorElement(xml, "color", stop.color.kind == Color::Kind::None ? Color::Rgb(0xFFFFFFFF) : stop.color);
        xml.End("stop");
    }
    xml.End("gradientFill");
}

void Fills(XmlBuilder& xml, const StyleTable& styles, const std::vector<uint32_t>& fills)
{
    xml.Start("fills").Attribute("count", fills.size() + 2).EndStart();
    for (std::string_view reserved : {"none", "gray125"}) {
        xml.Start("fill").EndStart();
        xml.Start("patternFill").Attribute("patternType", reserved).EndEmpty();
        xml.End("fill");
    }
    for (uint32_t i : fills) {
        const Fill& f = styles.Fills()[i];
        xml.Start("fill").EndStart();
        if (!f.gradient.stops.empty()) {
            GradientFill(xml, f.gradient);
            xml.End("fill");
            continue;
        }
        xml.Start("patternFill").Attribute("patternType", NameOf(kPatternNames, static_cast<uint8_t>(f.pattern)));
        if (f.fg.kind == Color::Kind::None && f.bg.kind == Color::Kind::None) {
            xml.EndEmpty();
        } else {
            xml.EndStart();
            ColorElement(xml, "fgColor", f.fg);
            ColorElement(xml, "bgColor", f.bg);
            xml.End("patternFill");
        }
        xml.End("fill");
    }
    xml.End("fills");
}

void Borders(XmlBuilder& xml, const StyleTable& styles, const std::vector<uint32_t>& borders)
{
    xml.Start("borders").Attribute("count", borders.size()).EndStart();
    for (uint32_t i : borders) {
        const Border& b = styles.Borders()[i];
        xml.Start("border");
        if (b.diagonalUp) {
            xml.Attribute("diagonalUp", "1");
        }
        if (b.diagonalDown) {
            xml.Attribute("diagonalDown", "1");
        }
        xml.EndStart();
        // Element order of CT_Border: left, right, top, bottom, diagonal.
        const std::pair<std::string_view, const BorderLine*> lines[] = {
            {"left", &b.left}, {"right", &b.right}, {"top", &b.top}, {"bottom", &b.bottom}, {"diagonal", &b.diagonal}};
        for (const auto& [tag, line] : lines) {
            xml.Start(tag);
            if (line->style == BorderStyle::None) {
                xml.EndEmpty();
                continue;
            }
            xml.Attribute("style", NameOf(kBorderNames, static_cast<uint8_t>(line->style)));
            if (line->color.kind == Color::Kind::None) {
                xml.EndEmpty();
                continue;
            }
            xml.EndStart();
            ColorElement(xml, "color", line->color);
            xml.End(tag);
        }
        xml.End("border");
    }
    xml.End("borders");
}

void CellXfs(XmlBuilder& xml, const std::vector<XfOut>& xfs)
{
    xml.Start("cellXfs").Attribute("count", xfs.size()).EndStart();
    const Alignment kDefaultAlignment{};
    const Protection kDefaultProtection{};
    for (const XfOut& x : xfs) {
        xml.Start("xf")
            .Attribute("numFmtId", x.numFmt)
            .Attribute("fontId", x.font)
            .Attribute("fillId", x.fill)
            .Attribute("borderId", x.border)
            .Attribute("xfId", "0");
        // The apply flags tell readers that this cell format, not the cell style, decides.
        if (x.numFmt != 0) {
            xml.Attribute("applyNumberFormat", "1");
        }
        if (x.font != 0) {
            xml.Attribute("applyFont", "1");
        }
        if (x.fill != 0) {
            xml.Attribute("applyFill", "1");
        }
        if (x.border != 0) {
            xml.Attribute("applyBorder", "1");
        }
        const Alignment& a = x.format->alignment;
        const Protection& pr = x.format->protection;
        bool hasAlignment = !(a == kDefaultAlignment);
        bool hasProtection = !(pr == kDefaultProtection);
        if (hasAlignment) {
            xml.Attribute("applyAlignment", "1");
        }
        if (hasProtection) {
            xml.Attribute("applyProtection", "1");
        }
        if (!hasAlignment && !hasProtection) {
            xml.EndEmpty();
            continue;
        }
        xml.EndStart();
        if (hasAlignment) {
            xml.Start("alignment");
            if (a.horizontal != HAlign::General) {
                xml.Attribute("horizontal", NameOf(kHAlignNames, static_cast<uint8_t>(a.horizontal)));
            }
            if (a.vertical != VAlign::Bottom) {
                xml.Attribute("vertical", NameOf(kVAlignNames, static_cast<uint8_t>(a.vertical)));
            }
            if (a.rotation != 0 && (a.rotation <= 180 || a.rotation == 255)) {
                xml.Attribute("textRotation", a.rotation);
            }
            if (a.wrap) {
                xml.Attribute("wrapText", "1");
            }
            if (a.indent != 0) {
                xml.Attribute("indent", a.indent);
            }
            if (a.shrink) {
                xml.Attribute("shrinkToFit", "1");
            }
            xml.EndEmpty();
        }
        if (hasProtection) {
            xml.Start("protection");
            if (!pr.locked) {
                xml.Attribute("locked", "0");
            }
            if (pr.hidden) {
                xml.Attribute("hidden", "1");
            }
            xml.EndEmpty();
        }
        xml.End("xf");
    }
    xml.End("cellXfs");
}

} // namespace

std::string StylesPart(const StyleTable& styles, const std::vector<uint32_t>& usedXfs)
{
    // Fonts, fills, borders and number formats are numbered in first-use order of the used cell
    // formats.
    StyleMaps maps(styles);
    std::vector<XfOut> xfs;
    xfs.reserve(usedXfs.size());
    for (uint32_t i : usedXfs) {
        const CellFormat& f = styles.CellFormats()[i];
        XfOut x{};
        x.numFmt = maps.MapNumFmt(f.numFmt);
        x.font = maps.MapFont(f.font);
        x.fill = maps.MapFill(f.fill);
        x.border = maps.MapBorder(f.border);
        x.format = &f;
        xfs.push_back(x);
    }

    std::string out(kXmlDecl);
    XmlBuilder xml(out);
    xml.Start("styleSheet").Attribute("xmlns", kMainNs).EndStart();
    NumFmts(xml, styles, maps.customNumFmts);
    Fonts(xml, styles, maps.fonts);
    Fills(xml, styles, maps.fills);
    Borders(xml, styles, maps.borders);
    xml.Start("cellStyleXfs").Attribute("count", "1").EndStart();
    xml.Start("xf").Attribute("numFmtId", "0").Attribute("fontId", "0").Attribute("fillId", "0");
    xml.Attribute("borderId", "0").EndEmpty();
    xml.End("cellStyleXfs");
    CellXfs(xml, xfs);
    xml.Start("cellStyles").Attribute("count", "1").EndStart();
    xml.Start("cellStyle").Attribute("name", "Normal").Attribute("xfId", "0").Attribute("builtinId", "0").EndEmpty();
    xml.End("cellStyles");
    xml.End("styleSheet");
    return out;
}

} // namespace gq::engine::xlsxout
