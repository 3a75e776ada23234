// Cell formatting in the workbook model: fonts, fills, borders, number formats, alignment and
// protection, held once per workbook in de-duplicated tables. Colours are plain RGB: readers resolve
// theme and indexed colours when they read, so the model never depends on a file's theme or palette.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace gq::engine {

struct Color {
    enum class Kind : uint8_t { None, Rgb, Auto };
    Kind kind = Kind::None;
    uint32_t argb = 0; // 0xAARRGGBB when kind == Rgb

    static Color Rgb(uint32_t argb) { return Color{Kind::Rgb, argb}; }
    static Color Automatic() { return Color{Kind::Auto, 0}; }
    bool operator==(const Color&) const = default;
};

enum class Underline : uint8_t { None, Single, Double, SingleAccounting, DoubleAccounting };
enum class VertAlign : uint8_t { Baseline, Superscript, Subscript };

struct Font {
    std::string name = "Calibri";
    double size = 11.0; // points
    bool bold = false;
    bool italic = false;
    bool strike = false;
    Underline underline = Underline::None;
    VertAlign vertAlign = VertAlign::Baseline;
    Color color;         // None: the automatic (window text) colour
    uint8_t family = 0;  // 0: not given
    uint8_t charset = 0; // 0: not given (ANSI)
    bool operator==(const Font&) const = default;
};

// In the order of both formats' pattern lists (xlsx ST_PatternType, BIFF FillPattern 0-18).
enum class PatternType : uint8_t {
    None,
    Solid,
    MediumGray,
    DarkGray,
    LightGray,
    DarkHorizontal,
    DarkVertical,
    DarkDown,
    DarkUp,
    DarkGrid,
    DarkTrellis,
    LightHorizontal,
    LightVertical,
    LightDown,
    LightUp,
    LightGrid,
    LightTrellis,
    Gray125,
    Gray0625
};

// One colour stop of a gradient: where it lies along the gradient (0 to 1) and its colour.
struct GradientStop {
    double position = 0;
    Color color;
    bool operator==(const GradientStop&) const = default;
};

// A gradient fill as xlsx describes it (CT_GradientFill, ECMA-376 Part 1, 18.8.24): a linear
// gradient at an angle, or a path gradient from the rectangle given by left, right, top and bottom
// (fractions of the cell) outwards.
struct Gradient {
    bool path = false;
    double degree = 0;
    double left = 0;
    double right = 0;
    double top = 0;
    double bottom = 0;
    std::vector<GradientStop> stops; // ascending by position; empty: no gradient
    bool operator==(const Gradient&) const = default;
};

struct Fill {
    PatternType pattern = PatternType::None;
    Color fg; // the pattern colour; for Solid, the cell's background
    Color bg;
    // A gradient, kept for writers that can write one. The pattern and colours above then hold the
    // nearest solid fill (Solid in the blend of the stop colours) for writers that cannot.
    Gradient gradient{};
    bool operator==(const Fill&) const = default;
};

// In the order of both formats' lists (xlsx ST_BorderStyle, BIFF border styles 0-13).
enum class BorderStyle : uint8_t {
    None,
    Thin,
    Medium,
    Dashed,
    Dotted,
    Thick,
    Double,
    Hair,
    MediumDashed,
    DashDot,
    MediumDashDot,
    DashDotDot,
    MediumDashDotDot,
    SlantDashDot
};

struct BorderLine {
    BorderStyle style = BorderStyle::None;
    Color color;
    bool operator==(const BorderLine&) const = default;
};

struct Border {
    BorderLine left, right, top, bottom, diagonal;
    bool diagonalUp = false;
    bool diagonalDown = false;
    bool operator==(const Border&) const = default;
};

// In the order of both formats' lists.
enum class HAlign : uint8_t { General, Left, Center, Right, Fill, Justify, CenterContinuous, Distributed };
enum class VAlign : uint8_t { Top, Center, Bottom, Justify, Distributed };

struct Alignment {
    HAlign horizontal = HAlign::General;
    VAlign vertical = VAlign::Bottom;
    bool wrap = false;
    bool shrink = false;
    uint16_t rotation = 0; // 0-180 as in xlsx, or 255 for vertical text
    uint8_t indent = 0;
    bool operator==(const Alignment&) const = default;
};

struct Protection {
    bool locked = true;
    bool hidden = false;
    bool operator==(const Protection&) const = default;
};

// One cell format: indexes into the workbook's font, fill, border and number-format tables.
struct CellFormat {
    uint32_t font = 0;
    uint32_t fill = 0;
    uint32_t border = 0;
    uint32_t numFmt = 0; // index into StyleTable::NumberFormats(); 0 is "General"
    Alignment alignment;
    Protection protection;
    bool operator==(const CellFormat&) const = default;
};

// A cell format with every index resolved: what a cell looks like, independent of any table.
struct ResolvedStyle {
    Font font;
    Fill fill;
    Border border;
    std::string numFmt = "General";
    Alignment alignment;
    Protection protection;
};

// The de-duplicated tables of one workbook. Index 0 of each table is the default (font 0 is the
// workbook's default font, fill 0 no fill, border 0 no border, format 0 "General", cell format 0
// all of those). Interning the same value twice gives the same index.
class StyleTable {
public:
    StyleTable();
    explicit StyleTable(const Font& defaultFont);

    uint32_t InternFont(const Font& font);
    uint32_t InternFill(const Fill& fill);
    uint32_t InternBorder(const Border& border);
    uint32_t InternNumberFormat(std::string_view code);
    uint32_t InternCellFormat(const CellFormat& format);
    // Interns every part of a resolved style and gives its cell format index.
    uint32_t InternStyle(const ResolvedStyle& style);

    const std::vector<Font>& Fonts() const { return m_fonts; }
    const std::vector<Fill>& Fills() const { return m_fills; }
    const std::vector<Border>& Borders() const { return m_borders; }
    const std::vector<std::string>& NumberFormats() const { return m_numFmts; }
    const std::vector<CellFormat>& CellFormats() const { return m_xfs; }

    const CellFormat& FormatAt(uint32_t xf) const { return xf < m_xfs.size() ? m_xfs[xf] : m_xfs[0]; }
    ResolvedStyle Resolve(uint32_t xf) const;
    // The cell format that looks exactly like `style`, without adding anything to the tables.
    std::optional<uint32_t> FindStyle(const ResolvedStyle& style) const;
    // The cell format that looks most like `style`: the same number format first, then the same
    // font, fill, borders and alignment. For a workbook that may hold no more formats.
    uint32_t NearestStyle(const ResolvedStyle& style) const;
    // True when cell format `xf` shows its number as a date or time.
    bool IsDateFormat(uint32_t xf) const;

    // Replaces the default font (font 0), for readers whose file names its own default.
    void SetDefaultFont(const Font& font);

private:
    std::vector<Font> m_fonts;
    std::vector<Fill> m_fills;
    std::vector<Border> m_borders;
    std::vector<std::string> m_numFmts;
    std::vector<uint8_t> m_numFmtIsDate;
    std::vector<CellFormat> m_xfs;
    std::unordered_map<uint64_t, std::vector<uint32_t>> m_fontIndex, m_fillIndex, m_borderIndex, m_xfIndex;
    std::unordered_map<std::string, uint32_t> m_numFmtIndex;
};

// True when a number format code shows dates or times (d, m, y, h, s outside quotes, brackets
// other than elapsed-time and colour/condition brackets, and escapes).
bool IsDateFormatCode(std::string_view code);

// The format code of a built-in number format id (0-49 as both formats define them), or empty.
std::string_view BuiltinNumberFormat(uint32_t id);
// The built-in id whose code is exactly `code`, or -1.
int BuiltinNumberFormatId(std::string_view code);
// True for the built-in ids whose code an office suite takes from its locale (the currency and
// accounting formats 5-8 and 41-44): readers do not agree on their text, and some show General for
// them, so writers give their code explicitly. Every reader knows the other built-in ids.
bool IsLocaleNumberFormatId(uint32_t id);

} // namespace gq::engine
