// OpenDocument styles as the spreadsheet reader needs them: cell styles resolved into the model's
// cell formats, column widths, row heights, hidden tables, and data styles as number format codes.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/model/Styles.h"
#include "engine/xml/XmlParser.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace gq::engine {

// One style:style, number:*-style or style:default-style: its family, parent, data style, and
// the attributes of its property elements ("table-cell-properties/background-color", keyed by
// local names), which a child's own override.
struct OdsStyle {
    std::string family;
    std::string parent;
    std::string dataStyle;
    std::unordered_map<std::string, std::string> properties;
    // A data style: its format code, and the conditional maps ("value()>=0" -> style name).
    std::string formatCode;
    std::vector<std::pair<std::string, std::string>> maps;
    bool isDataStyle = false;
    bool isBoolean = false; // a number:boolean-style
};

// Collects the styles of styles.xml (office:styles) and of content.xml (office:automatic-styles)
// from XML events that the reader hands on while it is inside a style element.
class OdsStyleCollector {
public:
    // True when the element belongs to a style and was taken.
    bool Start(std::string_view name, const XmlAttributes& atts);
    bool End(std::string_view name);
    void Text(std::string_view text);
    bool Inside() const { return m_depth > 0; }

    std::unordered_map<std::string, OdsStyle> styles;   // by style:name (families share the space)
    std::unordered_map<std::string, OdsStyle> defaults; // style:default-style by family

private:
    OdsStyle m_current;
    std::string m_name;
    int m_depth = 0;
    bool m_inNumberText = false;
    std::string m_numberText;
    bool m_default = false;
};

// Turns the collected styles into what the model holds, caching each cell style's format.
class OdsStyleSheet {
public:
    OdsStyleSheet(std::unordered_map<std::string, OdsStyle> named, std::unordered_map<std::string, OdsStyle> defaults)
        : m_named(std::move(named)), m_defaults(std::move(defaults))
    {
    }
    // Adds a content.xml's automatic styles (replacing those of an earlier read).
    void SetAutomatic(std::unordered_map<std::string, OdsStyle> automatic);

    // The model's cell format for a table-cell style name (0 for none or unknown).
    uint32_t CellFormat(const std::string& styleName, StyleTable& table);
    // Whether the cell style shows numbers as TRUE and FALSE (a number:boolean-style).
    bool BooleanStyle(const std::string& styleName) const;
    // A column's width in characters of the default font's digit width, 0 when not given.
    double ColumnWidth(const std::string& styleName) const;
    // A row's height in points and whether it was set on purpose (not the optimal height).
    double RowHeight(const std::string& styleName, bool& custom) const;
    // Whether a table style hides its table.
    bool TableHidden(const std::string& styleName) const;

private:
    const OdsStyle* Find(const std::string& name) const;
    // Every property of the style and its parents, the nearest winning.
    std::unordered_map<std::string, std::string> Flatten(const std::string& name) const;
    std::string FormatCode(const std::string& dataStyle, int depth) const;

    std::unordered_map<std::string, OdsStyle> m_named;
    std::unordered_map<std::string, OdsStyle> m_defaults;
    std::unordered_map<std::string, OdsStyle> m_automatic;
    std::unordered_map<std::string, uint32_t> m_cellFormats;
};

// A length with its unit ("0.889in", "2.258cm", "12pt") in points; nullopt for other text.
std::optional<double> OdsLengthPoints(std::string_view text);

} // namespace gq::engine
