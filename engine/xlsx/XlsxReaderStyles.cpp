// Styles and theme parts: parsed into raw tables first (the palette comes after the cell formats in
// styles.xml), then resolved to plain-RGB styles and interned.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxReaderStyles.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/model/Palette.h"
#include "engine/xml/XmlParser.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <unordered_map>

namespace gq::engine {

namespace {

constexpr size_t kMaxStyleRecords = limits::kMaxXlsxStyleRecords;

std::optional<uint32_t> ParseHexColor(const char* text)
{
    if (text == nullptr) {
        return std::nullopt;
    }
    std::string_view v(text);
    uint32_t value = 0;
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value, 16);
    if (ec != std::errc() || end != v.data() + v.size()) {
        return std::nullopt;
    }
    if (v.size() <= 6) {
        value |= 0xFF000000u; // "RRGGBB" without alpha
    }
    return value;
}

template <class T>
std::optional<T> ParseNumber(const char* text)
{
    if (text == nullptr) {
        return std::nullopt;
    }
    std::string_view v(text);
    while (!v.empty() && v.front() == ' ') {
        v.remove_prefix(1);
    }
    T value{};
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), value);
    if (ec != std::errc() || end == v.data()) {
        return std::nullopt;
    }
    return value;
}

// A colour as the file gives it, resolved once the palette is known.
struct RawColor {
    enum class Kind : uint8_t { None, Rgb, Indexed, Theme, Auto } kind = Kind::None;
    uint32_t value = 0;
    double tint = 0;
};

RawColor ReadColor(const XmlAttributes& atts)
{
    RawColor c;
    if (XmlTrue(atts.Get("auto"))) {
        c.kind = RawColor::Kind::Auto;
    } else if (auto rgb = ParseHexColor(atts.Get("rgb"))) {
        c.kind = RawColor::Kind::Rgb;
        c.value = *rgb;
    } else if (auto theme = ParseNumber<uint32_t>(atts.Get("theme"))) {
        c.kind = RawColor::Kind::Theme;
        c.value = *theme;
    } else if (auto indexed = ParseNumber<uint32_t>(atts.Get("indexed"))) {
        c.kind = RawColor::Kind::Indexed;
        c.value = *indexed;
    }
    if (auto tint = ParseNumber<double>(atts.Get("tint")); tint && std::isfinite(*tint)) {
        c.tint = std::clamp(*tint, -1.0, 1.0);
    }
    return c;
}

struct RawFont {
    Font font;
    RawColor color;
};

struct RawStop {
    double position = 0;
    RawColor color;
};

struct RawFill {
    PatternType pattern = PatternType::None;
    RawColor fg, bg;
    Gradient gradient;          // without its stops, which are resolved with the palette
    std::vector<RawStop> stops; // a gradient's stops, in file order
};

struct RawBorderLine {
    BorderStyle style = BorderStyle::None;
    RawColor color;
};

struct RawBorder {
    RawBorderLine lines[5]; // left, right, top, bottom, diagonal
    bool diagonalUp = false;
    bool diagonalDown = false;
};

struct RawXf {
    uint32_t numFmt = 0, font = 0, fill = 0, border = 0;
    Alignment alignment;
    Protection protection;
};

template <size_t N>
int IndexOf(const std::array<std::string_view, N>& names, const char* value)
{
    if (value == nullptr) {
        return -1;
    }
    for (size_t i = 0; i < N; ++i) {
        if (names[i] == value) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

constexpr std::array<std::string_view, 19> kPatterns{
    {"none", "solid", "mediumGray", "darkGray", "lightGray", "darkHorizontal", "darkVertical", "darkDown", "darkUp",
     "darkGrid", "darkTrellis", "lightHorizontal", "lightVertical", "lightDown", "lightUp", "lightGrid", "lightTrellis",
     "gray125", "gray0625"}};
constexpr std::array<std::string_view, 14> kBorderStyles{{"none", "thin", "medium", "dashed", "dotted", "thick",
                                                          "double", "hair", "mediumDashed", "dashDot", "mediumDashDot",
                                                          "dashDotDot", "mediumDashDotDot", "slantDashDot"}};
constexpr std::array<std::string_view, 8> kHAligns{
    {"general", "left", "center", "right", "fill", "justify", "centerContinuous", "distributed"}};
constexpr std::array<std::string_view, 5> kVAligns{{"top", "center", "bottom", "justify", "distributed"}};

class StylesHandler : public XmlHandler {
public:
    StylesHandler(const std::string& file, const std::string& part) : m_file(file), m_part(part) {}

    void StartElement(std::string_view name, const XmlAttributes& atts) override
    {
        if (m_section == Section::None) {
            if (name == "numFmts") {
                m_section = Section::NumFmts;
            } else if (name == "fonts") {
                m_section = Section::Fonts;
            } else if (name == "fills") {
                m_section = Section::Fills;
            } else if (name == "borders") {
                m_section = Section::Borders;
            } else if (name == "cellXfs") {
                m_section = Section::CellXfs;
            } else if (name == "indexedColors") {
                m_section = Section::IndexedColors;
            } else if (name == "cellStyleXfs" || name == "dxfs" || name == "extLst" || name == "tableStyles" ||
                       name == "cellStyles" || name == "mruColors") {
                m_section = Section::Skip;
                m_skipName = std::string(name);
            }
            return;
        }
        switch (m_section) {
        case Section::NumFmts:
            if (name == "numFmt") {
                auto id = ParseNumber<uint32_t>(atts.Get("numFmtId"));
                const char* code = atts.Get("formatCode");
                if (id && code != nullptr) {
                    numFmts[*id] = code;
                }
            }
            break;
        case Section::Fonts:
            FontElement(name, atts);
            break;
        case Section::Fills:
            FillElement(name, atts);
            break;
        case Section::Borders:
            BorderElement(name, atts);
            break;
        case Section::CellXfs:
            XfElement(name, atts);
            break;
        case Section::IndexedColors:
            if (name == "rgbColor") {
                palette.push_back(ParseHexColor(atts.Get("rgb")).value_or(0xFF000000u));
                CheckCount(palette.size());
            }
            break;
        default:
            break;
        }
    }

    void EndElement(std::string_view name) override
    {
        switch (m_section) {
        case Section::NumFmts:
            if (name == "numFmts") {
                m_section = Section::None;
            }
            break;
        case Section::Fonts:
            if (name == "fonts") {
                m_section = Section::None;
            }
            break;
        case Section::Fills:
            if (name == "fills") {
                m_section = Section::None;
            } else if (name == "gradientFill") {
                m_inGradient = false;
            } else if (name == "stop") {
                m_inStop = false;
            }
            break;
        case Section::Borders:
            if (name == "borders") {
                m_section = Section::None;
            } else if (m_line >= 0 && LineIndex(name) == m_line) {
                m_line = -1;
            }
            break;
        case Section::CellXfs:
            if (name == "cellXfs") {
                m_section = Section::None;
            }
            break;
        case Section::IndexedColors:
            if (name == "indexedColors") {
                m_section = Section::None;
            }
            break;
        case Section::Skip:
            if (name == m_skipName) {
                m_section = Section::None;
            }
            break;
        case Section::None:
            break;
        }
    }

    std::unordered_map<uint32_t, std::string> numFmts;
    std::vector<RawFont> fonts;
    std::vector<RawFill> fills;
    std::vector<RawBorder> borders;
    std::vector<RawXf> xfs;
    std::vector<uint32_t> palette;

private:
    enum class Section { None, NumFmts, Fonts, Fills, Borders, CellXfs, IndexedColors, Skip };

    void CheckCount(size_t n) const
    {
        if (n > kMaxStyleRecords) {
            throw LimitError(m_file, "the styles part " + m_part + " holds more than " +
                                         std::to_string(kMaxStyleRecords) + " entries in one table");
        }
    }

    static bool FlagValue(const XmlAttributes& atts)
    {
        // <b/> means bold; <b val="0"/> means not bold.
        const char* v = atts.Get("val");
        return v == nullptr || XmlTrue(v);
    }

    void FontElement(std::string_view name, const XmlAttributes& atts)
    {
        if (name == "font") {
            fonts.emplace_back();
            CheckCount(fonts.size());
            return;
        }
        if (fonts.empty()) {
            return;
        }
        Font& f = fonts.back().font;
        const char* val = atts.Get("val");
        if (name == "b") {
            f.bold = FlagValue(atts);
        } else if (name == "i") {
            f.italic = FlagValue(atts);
        } else if (name == "strike") {
            f.strike = FlagValue(atts);
        } else if (name == "u") {
            std::string_view u = val != nullptr ? val : "single";
            f.underline = u == "single"             ? Underline::Single
                          : u == "double"           ? Underline::Double
                          : u == "singleAccounting" ? Underline::SingleAccounting
                          : u == "doubleAccounting" ? Underline::DoubleAccounting
                                                    : Underline::None;
        } else if (name == "vertAlign") {
            std::string_view v = val != nullptr ? val : "";
            f.vertAlign = v == "superscript" ? VertAlign::Superscript
                          : v == "subscript" ? VertAlign::Subscript
                                             : VertAlign::Baseline;
        } else if (name == "sz") {
            if (auto size = ParseNumber<double>(val); size && std::isfinite(*size) && *size > 0 && *size < 1000) {
                f.size = *size;
            }
        } else if (name == "name" || name == "rFont") {
            if (val != nullptr) {
                f.name = val;
            }
        } else if (name == "family") {
            if (auto v = ParseNumber<uint32_t>(val); v && *v <= 255) {
                f.family = static_cast<uint8_t>(*v);
            }
        } else if (name == "charset") {
            if (auto v = ParseNumber<uint32_t>(val); v && *v <= 255) {
                f.charset = static_cast<uint8_t>(*v);
            }
        } else if (name == "color") {
            fonts.back().color = ReadColor(atts);
        }
    }

    void FillElement(std::string_view name, const XmlAttributes& atts)
    {
        if (name == "fill") {
            fills.emplace_back();
            CheckCount(fills.size());
            return;
        }
        if (fills.empty()) {
            return;
        }
        RawFill& f = fills.back();
        if (name == "patternFill") {
            int p = IndexOf(kPatterns, atts.Get("patternType"));
            f.pattern = p >= 0 ? static_cast<PatternType>(p) : PatternType::None;
        } else if (name == "fgColor") {
            f.fg = ReadColor(atts);
        } else if (name == "bgColor") {
            f.bg = ReadColor(atts);
        } else if (name == "gradientFill") {
            // CT_GradientFill, ECMA-376 Part 1, 18.8.24. Fractions outside 0-1 and angles that
            // are not finite mean nothing; they are left at their defaults.
            m_inGradient = true;
            f.pattern = PatternType::Solid;
            f.stops.clear();
            const char* type = atts.Get("type");
            f.gradient.path = type != nullptr && std::string_view(type) == "path";
            auto fraction = [&](const char* attr) {
                auto v = ParseNumber<double>(atts.Get(attr));
                return v && *v >= 0 && *v <= 1 ? *v : 0.0;
            };
            if (auto degree = ParseNumber<double>(atts.Get("degree")); degree && std::isfinite(*degree)) {
                f.gradient.degree = std::fmod(*degree, 360.0);
            }
            f.gradient.left = fraction("left");
            f.gradient.right = fraction("right");
            f.gradient.top = fraction("top");
            f.gradient.bottom = fraction("bottom");
        } else if (name == "stop" && m_inGradient) {
            // CT_GradientStop, 18.8.38. A gradient of more stops than any office suite draws is
            // hostile; the extra stops are dropped.
            m_inStop = f.stops.size() < limits::kMaxGradientStops;
            if (m_inStop) {
                auto position = ParseNumber<double>(atts.Get("position"));
                f.stops.push_back(RawStop{position && *position >= 0 && *position <= 1 ? *position : 0.0, {}});
            }
        } else if (name == "color" && m_inStop && !f.stops.empty()) {
            f.stops.back().color = ReadColor(atts);
        }
    }

    static int LineIndex(std::string_view name)
    {
        if (name == "left" || name == "start") {
            return 0;
        }
        if (name == "right" || name == "end") {
            return 1;
        }
        if (name == "top") {
            return 2;
        }
        if (name == "bottom") {
            return 3;
        }
        if (name == "diagonal") {
            return 4;
        }
        return -1;
    }

    void BorderElement(std::string_view name, const XmlAttributes& atts)
    {
        if (name == "border") {
            borders.emplace_back();
            CheckCount(borders.size());
            borders.back().diagonalUp = XmlTrue(atts.Get("diagonalUp"));
            borders.back().diagonalDown = XmlTrue(atts.Get("diagonalDown"));
            m_line = -1;
            return;
        }
        if (borders.empty()) {
            return;
        }
        if (int line = LineIndex(name); line >= 0) {
            m_line = line;
            int s = IndexOf(kBorderStyles, atts.Get("style"));
            borders.back().lines[line].style = s >= 0 ? static_cast<BorderStyle>(s) : BorderStyle::None;
        } else if (name == "color" && m_line >= 0) {
            borders.back().lines[m_line].color = ReadColor(atts);
        }
    }

    void XfElement(std::string_view name, const XmlAttributes& atts)
    {
        // The applyX flags are not consulted: spreadsheet applications show what the xf's fields
        // say whatever the flags claim.
        if (name == "xf") {
            RawXf& x = xfs.emplace_back();
            CheckCount(xfs.size());
            x.numFmt = ParseNumber<uint32_t>(atts.Get("numFmtId")).value_or(0);
            x.font = ParseNumber<uint32_t>(atts.Get("fontId")).value_or(0);
            x.fill = ParseNumber<uint32_t>(atts.Get("fillId")).value_or(0);
            x.border = ParseNumber<uint32_t>(atts.Get("borderId")).value_or(0);
            return;
        }
        if (xfs.empty()) {
            return;
        }
        RawXf& x = xfs.back();
        if (name == "alignment") {
            if (int h = IndexOf(kHAligns, atts.Get("horizontal")); h >= 0) {
                x.alignment.horizontal = static_cast<HAlign>(h);
            }
            if (int v = IndexOf(kVAligns, atts.Get("vertical")); v >= 0) {
                x.alignment.vertical = static_cast<VAlign>(v);
            }
            x.alignment.wrap = XmlTrue(atts.Get("wrapText"));
            x.alignment.shrink = XmlTrue(atts.Get("shrinkToFit"));
            if (auto r = ParseNumber<uint32_t>(atts.Get("textRotation")); r && (*r <= 180 || *r == 255)) {
                x.alignment.rotation = static_cast<uint16_t>(*r);
            }
            if (auto i = ParseNumber<uint32_t>(atts.Get("indent")); i && *i <= 250) {
                x.alignment.indent = static_cast<uint8_t>(*i);
            }
        } else if (name == "protection") {
            if (const char* locked = atts.Get("locked")) {
                x.protection.locked = XmlTrue(locked);
            }
            x.protection.hidden = XmlTrue(atts.Get("hidden"));
        }
    }

    const std::string& m_file;
    const std::string& m_part;
    Section m_section = Section::None;
    std::string m_skipName;
    int m_line = -1;
    bool m_inGradient = false;
    bool m_inStop = false; // inside a gradient stop that is kept
};

constexpr std::array<std::string_view, 12> kSlots{{"dk1", "lt1", "dk2", "lt2", "accent1", "accent2", "accent3",
                                                   "accent4", "accent5", "accent6", "hlink", "folHlink"}};

class ThemeHandler : public XmlHandler {
public:
    explicit ThemeHandler(ThemeColors& colors) : m_colors(colors) {}
    void StartElement(std::string_view name, const XmlAttributes& atts) override
    {
        if (name == "clrScheme") {
            m_inScheme = !m_done;
            return;
        }
        if (!m_inScheme) {
            return;
        }
        for (size_t i = 0; i < kSlots.size(); ++i) {
            if (kSlots[i] == name) {
                m_slot = static_cast<int>(i);
                return;
            }
        }
        if (m_slot < 0) {
            return;
        }
        if (name == "srgbClr") {
            if (auto c = ParseHexColor(atts.Get("val"))) {
                m_colors[static_cast<size_t>(m_slot)] = *c | 0xFF000000u;
            }
        } else if (name == "sysClr") {
            if (auto c = ParseHexColor(atts.Get("lastClr"))) {
                m_colors[static_cast<size_t>(m_slot)] = *c | 0xFF000000u;
            }
        }
    }
    void EndElement(std::string_view name) override
    {
        if (name == "clrScheme" && m_inScheme) {
            m_inScheme = false;
            m_done = true; // only the theme's own scheme; later ones belong to extra schemes
        } else if (m_slot >= 0 && name == kSlots[static_cast<size_t>(m_slot)]) {
            m_slot = -1;
        }
    }

private:
    ThemeColors& m_colors;
    bool m_inScheme = false;
    bool m_done = false;
    int m_slot = -1;
};

} // namespace

ThemeColors DefaultThemeColors()
{
    return {0xFF000000, 0xFFFFFFFF, 0xFF1F497D, 0xFFEEECE1, 0xFF4F81BD, 0xFFC0504D,
            0xFF9BBB59, 0xFF8064A2, 0xFF4BACC6, 0xFFF79646, 0xFF0000FF, 0xFF800080};
}

ThemeColors ReadThemeColors(std::string_view xml, const std::string& file, const std::string& part)
{
    ThemeColors colors = DefaultThemeColors();
    ThemeHandler handler(colors);
    XmlParser parser(handler, file, part);
    parser.ParseAll(xml);
    return colors;
}

uint32_t DefaultIndexedColor(uint32_t index)
{
    return 0xFF000000u | (index < kDefaultPalette.size() ? kDefaultPalette[index] : 0);
}

uint32_t ApplyTint(uint32_t argb, double tint)
{
    if (tint == 0 || !std::isfinite(tint)) {
        return argb;
    }
    double r = ((argb >> 16) & 0xFF) / 255.0;
    double g = ((argb >> 8) & 0xFF) / 255.0;
    double b = (argb & 0xFF) / 255.0;
    double maxC = std::max({r, g, b});
    double minC = std::min({r, g, b});
    double l = (maxC + minC) / 2;
    double h = 0;
    double s = 0;
    if (maxC != minC) {
        double d = maxC - minC;
        s = l > 0.5 ? d / (2 - maxC - minC) : d / (maxC + minC);
        if (maxC == r) {
            h = (g - b) / d + (g < b ? 6 : 0);
        } else if (maxC == g) {
            h = (b - r) / d + 2;
        } else {
            h = (r - g) / d + 4;
        }
        h /= 6;
    }
    // Darken towards black for negative tints, lighten towards white for positive ones.
    l = tint < 0 ? l * (1 + tint) : l * (1 - tint) + tint;
    l = std::clamp(l, 0.0, 1.0);
    auto hue = [](double p, double q, double t) {
        if (t < 0) {
            t += 1;
        }
        if (t > 1) {
            t -= 1;
        }
        if (t < 1.0 / 6) {
            return p + (q - p) * 6 * t;
        }
        if (t < 0.5) {
            return q;
        }
        if (t < 2.0 / 3) {
            return p + (q - p) * (2.0 / 3 - t) * 6;
        }
        return p;
    };
    double nr = l;
    double ng = l;
    double nb = l;
    if (s != 0) {
        double q = l < 0.5 ? l * (1 + s) : l + s - l * s;
        double p = 2 * l - q;
        nr = hue(p, q, h + 1.0 / 3);
        ng = hue(p, q, h);
        nb = hue(p, q, h - 1.0 / 3);
    }
    auto byte = [](double v) { return static_cast<uint32_t>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return (argb & 0xFF000000u) | (byte(nr) << 16) | (byte(ng) << 8) | byte(nb);
}

namespace {

// The nearest solid colour to a gradient, for writers that have no gradients: the plain average of
// the stops' colours, which is what the middle of a two-stop gradient shows. Stops without an RGB
// colour count as white, the usual background.
Color BlendStops(const std::vector<GradientStop>& stops)
{
    uint32_t sum[3] = {0, 0, 0};
    for (const GradientStop& stop : stops) {
        uint32_t argb = stop.color.kind == Color::Kind::Rgb ? stop.color.argb : 0xFFFFFFFFu;
        sum[0] += (argb >> 16) & 0xFFu;
        sum[1] += (argb >> 8) & 0xFFu;
        sum[2] += argb & 0xFFu;
    }
    auto n = static_cast<uint32_t>(stops.size());
    auto channel = [&](int i) { return (sum[i] + n / 2) / n; };
    return Color::Rgb(0xFF000000u | (channel(0) << 16) | (channel(1) << 8) | channel(2));
}

} // namespace

std::vector<uint32_t>
ReadXlsxStyles(const std::function<void(const std::function<void(const char*, size_t)>&)>& feedAll,
               const ThemeColors& theme, StyleTable& table, const std::string& file, const std::string& part)
{
    StylesHandler handler(file, part);
    XmlParser parser(handler, file, part);
    feedAll([&parser](const char* data, size_t size) { parser.Feed(data, size, false); });
    parser.Feed(nullptr, 0, true);

    auto resolve = [&](const RawColor& c) -> Color {
        switch (c.kind) {
        case RawColor::Kind::None:
            return Color{};
        case RawColor::Kind::Auto:
            return Color::Automatic();
        case RawColor::Kind::Rgb:
            return Color::Rgb(ApplyTint(c.value, c.tint));
        case RawColor::Kind::Indexed:
            // 64 and 65 are the system foreground and background: automatic colours.
            if (c.value == 64 || c.value == 65) {
                return Color::Automatic();
            }
            if (c.value < handler.palette.size()) {
                return Color::Rgb(ApplyTint(handler.palette[c.value], c.tint));
            }
            return Color::Rgb(ApplyTint(DefaultIndexedColor(c.value), c.tint));
        case RawColor::Kind::Theme: {
            // Theme indexes 0-3 name lt1, dk1, lt2, dk2: the scheme's first two pairs swapped.
            uint32_t slot = c.value < 4 ? (c.value ^ 1u) : c.value;
            if (slot >= theme.size()) {
                return Color{};
            }
            return Color::Rgb(ApplyTint(theme[slot], c.tint));
        }
        }
        return Color{};
    };

    std::vector<Font> fonts;
    fonts.reserve(handler.fonts.size());
    for (const RawFont& rf : handler.fonts) {
        Font f = rf.font;
        f.color = resolve(rf.color);
        // An automatic font colour is the model's "no colour given".
        if (f.color.kind == Color::Kind::Auto) {
            f.color = Color{};
        }
        fonts.push_back(std::move(f));
    }
    if (!fonts.empty()) {
        table.SetDefaultFont(fonts[0]);
    }
    std::vector<Fill> fills;
    for (const RawFill& rf : handler.fills) {
        Fill fill{rf.pattern, resolve(rf.fg), resolve(rf.bg), {}};
        if (!rf.stops.empty()) {
            fill.gradient = rf.gradient;
            for (const RawStop& stop : rf.stops) {
                fill.gradient.stops.push_back(GradientStop{stop.position, resolve(stop.color)});
            }
            fill.fg = BlendStops(fill.gradient.stops);
            fill.bg = Color{};
        }
        fills.push_back(std::move(fill));
    }
    std::vector<Border> borders;
    for (const RawBorder& rb : handler.borders) {
        Border b;
        BorderLine* lines[5] = {&b.left, &b.right, &b.top, &b.bottom, &b.diagonal};
        for (int i = 0; i < 5; ++i) {
            lines[i]->style = rb.lines[i].style;
            // A line without a style draws nothing; its colour would only make equal borders differ.
            lines[i]->color = rb.lines[i].style == BorderStyle::None ? Color{} : resolve(rb.lines[i].color);
        }
        b.diagonalUp = rb.diagonalUp;
        b.diagonalDown = rb.diagonalDown;
        borders.push_back(b);
    }

    std::vector<uint32_t> map;
    map.reserve(handler.xfs.size());
    ResolvedStyle style;
    for (const RawXf& x : handler.xfs) {
        style.font = x.font < fonts.size() ? fonts[x.font] : (fonts.empty() ? Font{} : fonts[0]);
        style.fill = x.fill < fills.size() ? fills[x.fill] : Fill{};
        style.border = x.border < borders.size() ? borders[x.border] : Border{};
        auto custom = handler.numFmts.find(x.numFmt);
        if (custom != handler.numFmts.end()) {
            style.numFmt = custom->second;
        } else {
            std::string_view builtin = BuiltinNumberFormat(x.numFmt);
            // Locale-dependent built-in ids (the East Asian date formats among them) have no
            // portable code: they show as General.
            style.numFmt = builtin.empty() ? "General" : std::string(builtin);
        }
        style.alignment = x.alignment;
        style.protection = x.protection;
        map.push_back(table.InternStyle(style));
    }
    return map;
}

} // namespace gq::engine
