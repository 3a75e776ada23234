// OpenDocument styles (ODF 1.3 Part 3, sections 16 and 20): cell, column, row and table styles and
// the data styles of number formats, turned into the model's terms.
// SPDX-License-Identifier: Apache-2.0
#include "engine/ods/OdsStyles.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace gq::engine {

namespace {

bool IsDataStyleElement(std::string_view name)
{
    return name == "number-style" || name == "percentage-style" || name == "currency-style" || name == "date-style" ||
           name == "time-style" || name == "boolean-style" || name == "text-style";
}

std::string Attr(const XmlAttributes& atts, std::string_view name)
{
    const char* value = atts.Get(name);
    return value != nullptr ? value : "";
}

int IntAttr(const XmlAttributes& atts, std::string_view name, int fallback)
{
    const char* value = atts.Get(name);
    int out = fallback;
    if (value != nullptr) {
        std::from_chars(value, value + std::strlen(value), out);
    }
    return std::clamp(out, 0, 30);
}

bool Long(const XmlAttributes& atts)
{
    const char* style = atts.Get("style");
    return style != nullptr && std::string_view(style) == "long";
}

// Literal text in a format code: characters that are codes of their own are quoted.
std::string Literal(std::string_view text)
{
    bool plain = true;
    for (char c : text) {
        if (std::strchr(" -/:.,()%", c) == nullptr) {
            plain = false;
        }
    }
    if (plain) {
        return std::string(text);
    }
    std::string out = "\"";
    for (char c : text) {
        if (c != '"') {
            out.push_back(c);
        }
    }
    return out + "\"";
}

uint32_t ParseColor(std::string_view text, bool& ok)
{
    ok = false;
    if (text.size() != 7 || text[0] != '#') {
        return 0;
    }
    uint32_t rgb = 0;
    auto [end, ec] = std::from_chars(text.data() + 1, text.data() + 7, rgb, 16);
    ok = ec == std::errc() && end == text.data() + 7;
    return 0xFF000000u | rgb;
}

Color ColorOf(const std::string* text)
{
    if (text == nullptr) {
        return {};
    }
    bool ok = false;
    uint32_t argb = ParseColor(*text, ok);
    return ok ? Color::Rgb(argb) : Color{};
}

// "0.06pt solid #000000" as a border line.
BorderLine BorderOf(const std::string* text)
{
    BorderLine line;
    if (text == nullptr || *text == "none" || text->empty()) {
        return line;
    }
    double width = 0.75;
    std::string_view rest(*text);
    std::string kind = "solid";
    while (!rest.empty()) {
        size_t space = rest.find(' ');
        std::string_view word = rest.substr(0, space);
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
        if (word.empty()) {
            continue;
        }
        if (auto points = OdsLengthPoints(word)) {
            width = *points;
        } else if (word[0] == '#') {
            line.color = ColorOf(nullptr);
            bool ok = false;
            uint32_t argb = ParseColor(word, ok);
            if (ok) {
                line.color = Color::Rgb(argb);
            }
        } else {
            kind = std::string(word);
        }
    }
    if (kind == "none" || kind == "hidden") {
        return {};
    }
    if (kind == "double" || kind == "double-thin") {
        line.style = BorderStyle::Double;
    } else if (kind == "dotted") {
        line.style = BorderStyle::Dotted;
    } else if (kind == "dashed" || kind == "long-dash") {
        line.style = width > 1.1 ? BorderStyle::MediumDashed : BorderStyle::Dashed;
    } else if (kind == "dash-dot") {
        line.style = width > 1.1 ? BorderStyle::MediumDashDot : BorderStyle::DashDot;
    } else if (kind == "dash-dot-dot") {
        line.style = width > 1.1 ? BorderStyle::MediumDashDotDot : BorderStyle::DashDotDot;
    } else {
        // LibreOffice writes its thinnest lines as 0.06pt ("hairline") and its thin ones as 0.74pt:
        // both are what Excel calls thin.
        line.style = width <= 1.1 ? BorderStyle::Thin : width <= 2.3 ? BorderStyle::Medium : BorderStyle::Thick;
    }
    return line;
}

} // namespace

std::optional<double> OdsLengthPoints(std::string_view text)
{
    static constexpr struct {
        const char* unit;
        double points;
    } kUnits[] = {{"pt", 1.0}, {"in", 72.0}, {"cm", 72.0 / 2.54}, {"mm", 72.0 / 25.4}, {"pc", 12.0}, {"px", 0.75}};
    for (const auto& unit : kUnits) {
        size_t n = std::strlen(unit.unit);
        if (text.size() > n && text.substr(text.size() - n) == unit.unit) {
            double value = 0;
            std::string_view number = text.substr(0, text.size() - n);
            auto [end, ec] = std::from_chars(number.data(), number.data() + number.size(), value);
            if (ec != std::errc() || end != number.data() + number.size() || !std::isfinite(value)) {
                return std::nullopt;
            }
            return value * unit.points;
        }
    }
    return std::nullopt;
}

// ---- collecting ----

bool OdsStyleCollector::Start(std::string_view name, const XmlAttributes& atts)
{
    if (m_depth == 0) {
        const bool style = name == "style";
        const bool defaultStyle = name == "default-style";
        const bool data = IsDataStyleElement(name);
        if (!style && !defaultStyle && !data) {
            return false;
        }
        m_current = OdsStyle{};
        m_default = defaultStyle;
        m_name = Attr(atts, "name");
        m_current.family = data ? std::string("data") : Attr(atts, "family");
        m_current.parent = Attr(atts, "parent-style-name");
        m_current.dataStyle = Attr(atts, "data-style-name");
        m_current.isDataStyle = data;
        if (name == "boolean-style") {
            m_current.formatCode = "General";
            m_current.isBoolean = true;
        }
        m_depth = 1;
        return true;
    }
    ++m_depth;
    if (name.ends_with("-properties")) {
        for (const char** a = atts.Raw(); *a != nullptr; a += 2) {
            std::string key(name);
            key += '/';
            key += LocalName(a[0]);
            m_current.properties[key] = a[1];
        }
        return true;
    }
    if (!m_current.isDataStyle) {
        return true;
    }
    std::string& code = m_current.formatCode;
    if (name == "map") {
        m_current.maps.emplace_back(Attr(atts, "condition"), Attr(atts, "apply-style-name"));
    } else if (name == "number" || name == "scientific-number" || name == "fraction") {
        const int decimals = IntAttr(atts, "decimal-places", 0);
        const int minInt = IntAttr(atts, "min-integer-digits", 1);
        const bool grouping = XmlTrue(atts.Get("grouping"));
        std::string integer = minInt > 0 ? std::string(static_cast<size_t>(minInt), '0') : "#";
        if (grouping) {
            integer = integer.size() >= 4
                          ? integer
                          : "#,##" + std::string(integer.size() > 1 ? integer.size() - 1 : 0, '0') + "0";
        }
        code += integer;
        if (name == "fraction") {
            code += " ?/?";
        } else if (decimals > 0) {
            code += "." + std::string(static_cast<size_t>(decimals), '0');
        }
        if (name == "scientific-number") {
            code += "E+" + std::string(static_cast<size_t>(std::max(2, IntAttr(atts, "min-exponent-digits", 2))), '0');
        }
    } else if (name == "year") {
        code += Long(atts) ? "yyyy" : "yy";
    } else if (name == "month") {
        const bool textual = XmlTrue(atts.Get("textual"));
        code += textual ? (Long(atts) ? "mmmm" : "mmm") : (Long(atts) ? "mm" : "m");
    } else if (name == "day") {
        code += Long(atts) ? "dd" : "d";
    } else if (name == "day-of-week") {
        code += Long(atts) ? "dddd" : "ddd";
    } else if (name == "hours") {
        // A time style that does not wrap at 24 hours shows elapsed hours.
        const char* truncate = atts.Get("truncate-on-overflow");
        const bool elapsed = truncate != nullptr && !XmlTrue(truncate);
        code += elapsed ? (Long(atts) ? "[hh]" : "[h]") : (Long(atts) ? "hh" : "h");
    } else if (name == "minutes") {
        code += Long(atts) ? "mm" : "m";
    } else if (name == "seconds") {
        code += Long(atts) ? "ss" : "s";
        const int decimals = IntAttr(atts, "decimal-places", 0);
        if (decimals > 0) {
            code += "." + std::string(static_cast<size_t>(decimals), '0');
        }
    } else if (name == "am-pm") {
        code += "AM/PM";
    } else if (name == "text-content") {
        code += "@";
    } else if (name == "text" || name == "currency-symbol") {
        m_inNumberText = true;
        m_numberText.clear();
    } else if (name == "boolean") {
        code = "General";
    }
    return true;
}

void OdsStyleCollector::Text(std::string_view text)
{
    if (m_inNumberText && m_numberText.size() < 256) {
        m_numberText.append(text);
    }
}

bool OdsStyleCollector::End(std::string_view name)
{
    if (m_depth == 0) {
        return false;
    }
    if (m_inNumberText && (name == "text" || name == "currency-symbol")) {
        m_inNumberText = false;
        if (name == "currency-symbol") {
            std::string symbol;
            for (char c : m_numberText) {
                if (c != '"') {
                    symbol.push_back(c);
                }
            }
            m_current.formatCode += "\"" + symbol + "\"";
        } else {
            m_current.formatCode += Literal(m_numberText);
        }
    }
    if (--m_depth > 0) {
        return true;
    }
    if (m_current.isDataStyle) {
        auto color = m_current.properties.find("text-properties/color");
        if (color != m_current.properties.end() && color->second == "#ff0000") {
            m_current.formatCode = "[RED]" + m_current.formatCode;
        }
    }
    if (m_default) {
        defaults[m_current.family] = std::move(m_current);
    } else if (!m_name.empty()) {
        styles[m_name] = std::move(m_current);
    }
    return true;
}

// ---- resolving ----

void OdsStyleSheet::SetAutomatic(std::unordered_map<std::string, OdsStyle> automatic)
{
    m_automatic = std::move(automatic);
    m_cellFormats.clear();
}

const OdsStyle* OdsStyleSheet::Find(const std::string& name) const
{
    if (auto it = m_automatic.find(name); it != m_automatic.end()) {
        return &it->second;
    }
    if (auto it = m_named.find(name); it != m_named.end()) {
        return &it->second;
    }
    return nullptr;
}

std::unordered_map<std::string, std::string> OdsStyleSheet::Flatten(const std::string& name) const
{
    // The chain from the style up to its root; a loop or a chain deeper than any real file's ends.
    std::vector<const OdsStyle*> chain;
    std::string current = name;
    while (!current.empty() && chain.size() < 16) {
        const OdsStyle* style = Find(current);
        if (style == nullptr || std::find(chain.begin(), chain.end(), style) != chain.end()) {
            break;
        }
        chain.push_back(style);
        current = style->parent;
    }
    std::unordered_map<std::string, std::string> out;
    if (auto it = m_defaults.find("table-cell"); it != m_defaults.end()) {
        out = it->second.properties;
    }
    std::string dataStyle;
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
        for (const auto& [key, value] : (*it)->properties) {
            out[key] = value;
        }
        if (!(*it)->dataStyle.empty()) {
            dataStyle = (*it)->dataStyle;
        }
    }
    out["data-style"] = dataStyle;
    return out;
}

std::string OdsStyleSheet::FormatCode(const std::string& dataStyle, int depth) const
{
    const OdsStyle* style = Find(dataStyle);
    if (style == nullptr || !style->isDataStyle || depth > 4) {
        return "General";
    }
    std::string own = style->formatCode.empty() ? std::string("General") : style->formatCode;
    // LibreOffice writes "positive;negative" as the negative style with a map to the positive one.
    for (const auto& [condition, applied] : style->maps) {
        if (condition == "value()>=0" || condition == "value()>0") {
            return FormatCode(applied, depth + 1) + ";" + own;
        }
    }
    return own;
}

uint32_t OdsStyleSheet::CellFormat(const std::string& styleName, StyleTable& table)
{
    if (styleName.empty()) {
        return 0;
    }
    if (auto it = m_cellFormats.find(styleName); it != m_cellFormats.end()) {
        return it->second;
    }
    std::unordered_map<std::string, std::string> p = Flatten(styleName);
    auto get = [&](const char* key) -> const std::string* {
        auto it = p.find(key);
        return it == p.end() ? nullptr : &it->second;
    };
    ResolvedStyle look;
    look.font = table.Fonts().front();
    if (const std::string* font = get("text-properties/font-name")) {
        look.font.name = *font;
    }
    if (const std::string* size = get("text-properties/font-size")) {
        if (auto points = OdsLengthPoints(*size); points && *points > 0 && *points < 410) {
            look.font.size = *points;
        }
    }
    if (const std::string* weight = get("text-properties/font-weight")) {
        look.font.bold =
            *weight == "bold" || *weight == "600" || *weight == "700" || *weight == "800" || *weight == "900";
    }
    if (const std::string* italic = get("text-properties/font-style")) {
        look.font.italic = *italic == "italic" || *italic == "oblique";
    }
    if (const std::string* underline = get("text-properties/text-underline-style"); underline && *underline != "none") {
        const std::string* type = get("text-properties/text-underline-type");
        look.font.underline = type != nullptr && *type == "double" ? Underline::Double : Underline::Single;
    }
    if (const std::string* strike = get("text-properties/text-line-through-style"); strike && *strike != "none") {
        look.font.strike = true;
    }
    look.font.color = ColorOf(get("text-properties/color"));
    if (const std::string* position = get("text-properties/text-position")) {
        look.font.vertAlign = position->starts_with("super") ? VertAlign::Superscript
                              : position->starts_with("sub") ? VertAlign::Subscript
                                                             : VertAlign::Baseline;
    }
    Color background = ColorOf(get("table-cell-properties/background-color"));
    if (background.kind == Color::Kind::Rgb) {
        look.fill.pattern = PatternType::Solid;
        look.fill.fg = background;
    }
    const std::string* all = get("table-cell-properties/border");
    auto side = [&](const char* key) {
        const std::string* own = get(key);
        return BorderOf(own != nullptr ? own : all);
    };
    look.border.left = side("table-cell-properties/border-left");
    look.border.right = side("table-cell-properties/border-right");
    look.border.top = side("table-cell-properties/border-top");
    look.border.bottom = side("table-cell-properties/border-bottom");
    if (const std::string* down = get("table-cell-properties/diagonal-tl-br"); down && *down != "none") {
        look.border.diagonal = BorderOf(down);
        look.border.diagonalDown = look.border.diagonal.style != BorderStyle::None;
    }
    if (const std::string* up = get("table-cell-properties/diagonal-bl-tr"); up && *up != "none") {
        look.border.diagonal = BorderOf(up);
        look.border.diagonalUp = look.border.diagonal.style != BorderStyle::None;
    }
    const std::string* source = get("table-cell-properties/text-align-source");
    if (const std::string* align = get("paragraph-properties/text-align"); align && (!source || *source == "fix")) {
        look.alignment.horizontal = *align == "center"                      ? HAlign::Center
                                    : *align == "end" || *align == "right"  ? HAlign::Right
                                    : *align == "justify"                   ? HAlign::Justify
                                    : *align == "start" || *align == "left" ? HAlign::Left
                                                                            : HAlign::General;
    }
    if (const std::string* repeat = get("table-cell-properties/repeat-content"); repeat && XmlTrue(repeat->c_str())) {
        look.alignment.horizontal = HAlign::Fill;
    }
    if (const std::string* vertical = get("table-cell-properties/vertical-align")) {
        look.alignment.vertical = *vertical == "top"      ? VAlign::Top
                                  : *vertical == "middle" ? VAlign::Center
                                                          : VAlign::Bottom;
    }
    if (const std::string* wrap = get("table-cell-properties/wrap-option")) {
        look.alignment.wrap = *wrap == "wrap";
    }
    if (const std::string* shrink = get("table-cell-properties/shrink-to-fit")) {
        look.alignment.shrink = XmlTrue(shrink->c_str());
    }
    if (const std::string* angle = get("table-cell-properties/rotation-angle")) {
        int degrees = 0;
        std::from_chars(angle->data(), angle->data() + angle->size(), degrees);
        degrees = ((degrees % 360) + 360) % 360;
        // xlsx: 0-90 counter-clockwise, 91-180 clockwise by (value - 90).
        look.alignment.rotation = static_cast<uint16_t>(degrees <= 90    ? degrees
                                                        : degrees >= 270 ? 90 + (360 - degrees)
                                                                         : 0);
    }
    if (const std::string* protect = get("table-cell-properties/cell-protect")) {
        look.protection.locked = *protect != "none" && *protect != "formula-hidden";
        look.protection.hidden = protect->find("hidden") != std::string::npos;
    }
    look.numFmt = FormatCode(p["data-style"], 0);
    uint32_t xf = table.InternStyle(look);
    m_cellFormats.emplace(styleName, xf);
    return xf;
}

bool OdsStyleSheet::BooleanStyle(const std::string& styleName) const
{
    if (styleName.empty()) {
        return false;
    }
    auto flat = Flatten(styleName);
    const OdsStyle* data = Find(flat["data-style"]);
    return data != nullptr && data->isBoolean;
}

double OdsStyleSheet::ColumnWidth(const std::string& styleName) const
{
    const OdsStyle* style = Find(styleName);
    if (style == nullptr) {
        return 0;
    }
    auto it = style->properties.find("table-column-properties/column-width");
    if (it == style->properties.end()) {
        return 0;
    }
    auto points = OdsLengthPoints(it->second);
    if (!points || *points <= 0) {
        return 0;
    }
    // The model counts characters of the default font's digit width (7 pixels at 96 dpi) with
    // 5 pixels of padding, as xlsx does.
    double pixels = *points * 96.0 / 72.0;
    return std::clamp(std::round((pixels - 5.0) / 7.0 * 256.0) / 256.0, 0.0, 255.0);
}

double OdsStyleSheet::RowHeight(const std::string& styleName, bool& custom) const
{
    custom = false;
    const OdsStyle* style = Find(styleName);
    if (style == nullptr) {
        return 0;
    }
    auto it = style->properties.find("table-row-properties/row-height");
    if (it == style->properties.end()) {
        return 0;
    }
    auto points = OdsLengthPoints(it->second);
    if (!points || *points <= 0) {
        return 0;
    }
    auto optimal = style->properties.find("table-row-properties/use-optimal-row-height");
    custom = optimal == style->properties.end() || !XmlTrue(optimal->second.c_str());
    return std::min(*points, 409.5);
}

bool OdsStyleSheet::TableHidden(const std::string& styleName) const
{
    const OdsStyle* style = Find(styleName);
    if (style == nullptr) {
        return false;
    }
    auto it = style->properties.find("table-properties/display");
    return it != style->properties.end() && it->second == "false";
}

} // namespace gq::engine
