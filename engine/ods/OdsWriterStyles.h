// The styles of an OpenDocument spreadsheet being written: the cell, column, row and table styles
// and the data styles its content uses, collected before the content is streamed and written as
// its automatic styles.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/model/Workbook.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace gq::engine::odsout {

// How a number is written: the value type a cell's format asks for (ODF 1.3 Part 3, 19.387).
enum class ValueKind : uint8_t { Float, Percentage, Date, Time };

class OdsStyleSet {
public:
    explicit OdsStyleSet(const Workbook& workbook);

    // Registers the cell format `xf` as used, for a boolean cell or not (a boolean needs a boolean
    // data style to show TRUE and FALSE). Formats past the table are the default one, as the model
    // reads them.
    void UseCell(uint32_t xf, bool boolean);
    void UseColumn(double widthPoints);
    void UseRow(double heightPoints, bool custom);

    // The names content.xml gives: empty for the default cell format of a non-boolean cell.
    const std::string& CellStyle(uint32_t xf, bool boolean) const;
    const std::string& ColumnStyle(double widthPoints) const;
    const std::string& RowStyle(double heightPoints, bool custom) const;
    static std::string_view TableStyle(bool hidden) { return hidden ? "ta2" : "ta1"; }

    ValueKind KindOf(uint32_t xf) const;

    // office:font-face-decls for the fonts the used formats name.
    std::string FontFaceDecls() const;
    // office:automatic-styles of content.xml: data styles, cell, column, row and table styles.
    std::string AutomaticStyles() const;
    // office:styles of styles.xml: the default cell style in the workbook's default font.
    std::string CommonStyles() const;

private:
    struct Slot {
        std::string name;
        bool used = false;
    };
    const StyleTable& m_styles;
    // Two slots a cell format: plain and boolean.
    std::vector<Slot> m_cells;
    std::vector<uint32_t> m_cellOrder;    // slot indexes in first-use order
    mutable std::vector<uint8_t> m_kinds; // ValueKind + 1 per cell format, 0 until asked
    std::map<long long, std::string> m_columns;
    std::map<std::pair<long long, bool>, std::string> m_rows;
};

// A length in points as OpenDocument writes it ("12.75pt"), rounded to hundredths.
std::string Points(double points);

// Appends `text` to `out` escaped for XML (attribute values in double quotes, or element content).
// Characters XML 1.0 cannot carry and bytes that are not UTF-8 become U+FFFD; in an attribute, tab,
// line feed and carriage return become character references so that they survive normalisation.
void AppendEscaped(std::string& out, std::string_view text, bool attribute);

} // namespace gq::engine::odsout
