// De-duplicated style tables and number-format helpers.
// SPDX-License-Identifier: Apache-2.0
#include "engine/model/Styles.h"

#include "engine/Errors.h"

#include <array>
#include <cstring>
#include <optional>

namespace gq::engine {

namespace {

// FNV-1a over the bytes that define a value; the tables compare values on collisions.
struct Hasher {
    uint64_t h = 1469598103934665603ull;
    void Bytes(const void* p, size_t n)
    {
        const auto* b = static_cast<const unsigned char*>(p);
        for (size_t i = 0; i < n; ++i) {
            h ^= b[i];
            h *= 1099511628211ull;
        }
    }
    template <class T>
    void Add(const T& v)
    {
        Bytes(&v, sizeof v);
    }
    void Add(const std::string& s)
    {
        Add(s.size());
        Bytes(s.data(), s.size());
    }
    void Add(const Color& c)
    {
        Add(static_cast<uint8_t>(c.kind));
        Add(c.argb);
    }
};

uint64_t HashOf(const Font& f)
{
    Hasher h;
    h.Add(f.name);
    h.Add(f.size);
    h.Add(static_cast<uint8_t>(f.bold | (f.italic << 1) | (f.strike << 2)));
    h.Add(static_cast<uint8_t>(f.underline));
    h.Add(static_cast<uint8_t>(f.vertAlign));
    h.Add(f.color);
    h.Add(f.family);
    h.Add(f.charset);
    return h.h;
}

uint64_t HashOf(const Fill& f)
{
    Hasher h;
    h.Add(static_cast<uint8_t>(f.pattern));
    h.Add(f.fg);
    h.Add(f.bg);
    if (!f.gradient.stops.empty()) {
        h.Add(static_cast<uint8_t>(f.gradient.path));
        h.Add(f.gradient.degree);
        for (const GradientStop& stop : f.gradient.stops) {
            h.Add(stop.position);
            h.Add(stop.color);
        }
    }
    return h.h;
}

uint64_t HashOf(const Border& b)
{
    Hasher h;
    for (const BorderLine* l : {&b.left, &b.right, &b.top, &b.bottom, &b.diagonal}) {
        h.Add(static_cast<uint8_t>(l->style));
        h.Add(l->color);
    }
    h.Add(static_cast<uint8_t>(b.diagonalUp | (b.diagonalDown << 1)));
    return h.h;
}

uint64_t HashOf(const CellFormat& x)
{
    Hasher h;
    h.Add(x.font);
    h.Add(x.fill);
    h.Add(x.border);
    h.Add(x.numFmt);
    h.Add(static_cast<uint8_t>(x.alignment.horizontal));
    h.Add(static_cast<uint8_t>(x.alignment.vertical));
    h.Add(static_cast<uint8_t>(x.alignment.wrap | (x.alignment.shrink << 1)));
    h.Add(x.alignment.rotation);
    h.Add(x.alignment.indent);
    h.Add(static_cast<uint8_t>(x.protection.locked | (x.protection.hidden << 1)));
    return h.h;
}

template <class T>
std::optional<uint32_t> Find(const std::vector<T>& table,
                             const std::unordered_map<uint64_t, std::vector<uint32_t>>& index, const T& value)
{
    auto bucket = index.find(HashOf(value));
    if (bucket != index.end()) {
        for (uint32_t i : bucket->second) {
            if (table[i] == value) {
                return i;
            }
        }
    }
    return std::nullopt;
}

template <class T>
uint32_t Intern(std::vector<T>& table, std::unordered_map<uint64_t, std::vector<uint32_t>>& index, const T& value)
{
    uint64_t h = HashOf(value);
    auto& bucket = index[h];
    for (uint32_t i : bucket) {
        if (table[i] == value) {
            return i;
        }
    }
    if (table.size() >= UINT32_MAX) {
        throw LimitError("too many distinct styles in one workbook");
    }
    auto i = static_cast<uint32_t>(table.size());
    table.push_back(value);
    bucket.push_back(i);
    return i;
}

// Built-in number formats ([MS-XLS] 2.4.126 and ECMA-376 18.8.30), in the en-US locale.
constexpr std::array<std::string_view, 50> kBuiltin{{
    "General",
    "0",
    "0.00",
    "#,##0",
    "#,##0.00",
    "\"$\"#,##0_);(\"$\"#,##0)",
    "\"$\"#,##0_);[Red](\"$\"#,##0)",
    "\"$\"#,##0.00_);(\"$\"#,##0.00)",
    "\"$\"#,##0.00_);[Red](\"$\"#,##0.00)",
    "0%",
    "0.00%",
    "0.00E+00",
    "# ?/?",
    "# ?\?/??",
    "m/d/yyyy",
    "d-mmm-yy",
    "d-mmm",
    "mmm-yy",
    "h:mm AM/PM",
    "h:mm:ss AM/PM",
    "h:mm",
    "h:mm:ss",
    "m/d/yyyy h:mm",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "#,##0_);(#,##0)",
    "#,##0_);[Red](#,##0)",
    "#,##0.00_);(#,##0.00)",
    "#,##0.00_);[Red](#,##0.00)",
    "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)",
    "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)",
    "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)",
    "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)",
    "mm:ss",
    "[h]:mm:ss",
    "mm:ss.0",
    "##0.0E+0",
    "@",
}};

} // namespace

std::string_view BuiltinNumberFormat(uint32_t id)
{
    return id < kBuiltin.size() ? kBuiltin[id] : std::string_view{};
}

int BuiltinNumberFormatId(std::string_view code)
{
    for (size_t i = 0; i < kBuiltin.size(); ++i) {
        if (!kBuiltin[i].empty() && kBuiltin[i] == code) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

bool IsLocaleNumberFormatId(uint32_t id)
{
    return (id >= 5 && id <= 8) || (id >= 41 && id <= 44);
}

bool IsDateFormatCode(std::string_view code)
{
    // Only the first section decides (positive numbers); text in quotes, escaped characters and
    // bracketed parts other than elapsed-time markers are not date tokens.
    bool inQuote = false;
    for (size_t i = 0; i < code.size(); ++i) {
        char c = code[i];
        if (inQuote) {
            if (c == '"') {
                inQuote = false;
            }
            continue;
        }
        switch (c) {
        case '"':
            inQuote = true;
            break;
        case '\\':
        case '_':
        case '*':
            ++i; // the next character is literal or padding
            break;
        case ';':
            return false;
        case '[': {
            size_t close = code.find(']', i);
            if (close == std::string_view::npos) {
                return false;
            }
            std::string_view inner = code.substr(i + 1, close - i - 1);
            if (!inner.empty()) {
                char f = static_cast<char>(inner[0] | 0x20);
                if (f == 'h' || f == 'm' || f == 's') {
                    bool elapsed = true;
                    for (char k : inner) {
                        char l = static_cast<char>(k | 0x20);
                        if (l != f) {
                            elapsed = false;
                        }
                    }
                    if (elapsed) {
                        return true;
                    }
                }
            }
            i = close;
            break;
        }
        case 'd':
        case 'D':
        case 'm':
        case 'M':
        case 'y':
        case 'Y':
        case 'h':
        case 'H':
        case 's':
        case 'S':
        case 'e':
            return true;
        case 'g':
        case 'G':
            // "General" is not a date format.
            if (code.substr(i).size() >= 7) {
                std::string lower(code.substr(i, 7));
                for (char& k : lower) {
                    k = static_cast<char>(k | 0x20);
                }
                if (lower == "general") {
                    i += 6;
                    break;
                }
            }
            break;
        default:
            break;
        }
    }
    return false;
}

StyleTable::StyleTable() : StyleTable(Font{}) {}

StyleTable::StyleTable(const Font& defaultFont)
{
    InternFont(defaultFont);
    InternFill(Fill{});
    InternBorder(Border{});
    InternNumberFormat("General");
    InternCellFormat(CellFormat{});
}

void StyleTable::SetDefaultFont(const Font& font)
{
    Font old = m_fonts[0];
    m_fonts[0] = font;
    // Re-key font 0 so that interning the new default finds it.
    for (auto& [hash, bucket] : m_fontIndex) {
        std::erase(bucket, 0u);
    }
    m_fontIndex[HashOf(font)].insert(m_fontIndex[HashOf(font)].begin(), 0u);
    (void)old;
}

uint32_t StyleTable::InternFont(const Font& font)
{
    return Intern(m_fonts, m_fontIndex, font);
}
uint32_t StyleTable::InternFill(const Fill& fill)
{
    return Intern(m_fills, m_fillIndex, fill);
}
uint32_t StyleTable::InternBorder(const Border& border)
{
    return Intern(m_borders, m_borderIndex, border);
}
uint32_t StyleTable::InternCellFormat(const CellFormat& format)
{
    return Intern(m_xfs, m_xfIndex, format);
}

uint32_t StyleTable::InternNumberFormat(std::string_view code)
{
    std::string key(code);
    auto it = m_numFmtIndex.find(key);
    if (it != m_numFmtIndex.end()) {
        return it->second;
    }
    auto i = static_cast<uint32_t>(m_numFmts.size());
    m_numFmts.push_back(key);
    m_numFmtIsDate.push_back(IsDateFormatCode(code) ? 1 : 0);
    m_numFmtIndex.emplace(std::move(key), i);
    return i;
}

uint32_t StyleTable::InternStyle(const ResolvedStyle& style)
{
    CellFormat x;
    x.font = InternFont(style.font);
    x.fill = InternFill(style.fill);
    x.border = InternBorder(style.border);
    x.numFmt = InternNumberFormat(style.numFmt);
    x.alignment = style.alignment;
    x.protection = style.protection;
    return InternCellFormat(x);
}

std::optional<uint32_t> StyleTable::FindStyle(const ResolvedStyle& style) const
{
    auto numFmt = m_numFmtIndex.find(style.numFmt);
    std::optional<uint32_t> font = Find(m_fonts, m_fontIndex, style.font);
    std::optional<uint32_t> fill = Find(m_fills, m_fillIndex, style.fill);
    std::optional<uint32_t> border = Find(m_borders, m_borderIndex, style.border);
    if (numFmt == m_numFmtIndex.end() || !font || !fill || !border) {
        return std::nullopt;
    }
    return Find(m_xfs, m_xfIndex, CellFormat{*font, *fill, *border, numFmt->second, style.alignment, style.protection});
}

uint32_t StyleTable::NearestStyle(const ResolvedStyle& style) const
{
    // What a reader notices first weighs most: how the number reads, then the font and the fill,
    // then the borders and the alignment.
    uint32_t best = 0;
    int bestScore = -1;
    for (uint32_t i = 0; i < m_xfs.size(); ++i) {
        const CellFormat& x = m_xfs[i];
        const Font& font = x.font < m_fonts.size() ? m_fonts[x.font] : m_fonts[0];
        int score = 0;
        score += (x.numFmt < m_numFmts.size() && m_numFmts[x.numFmt] == style.numFmt) ? 16 : 0;
        score += font == style.font ? 8
                                    : (font.bold == style.font.bold) + (font.italic == style.font.italic) +
                                          (font.color == style.font.color) + (font.size == style.font.size);
        score += (x.fill < m_fills.size() && m_fills[x.fill] == style.fill) ? 6 : 0;
        score += (x.border < m_borders.size() && m_borders[x.border] == style.border) ? 3 : 0;
        score += x.alignment == style.alignment ? 2 : 0;
        score += x.protection == style.protection ? 1 : 0;
        if (score > bestScore) {
            best = i;
            bestScore = score;
        }
    }
    return best;
}

ResolvedStyle StyleTable::Resolve(uint32_t xf) const
{
    const CellFormat& x = FormatAt(xf);
    ResolvedStyle s;
    s.font = x.font < m_fonts.size() ? m_fonts[x.font] : m_fonts[0];
    s.fill = x.fill < m_fills.size() ? m_fills[x.fill] : m_fills[0];
    s.border = x.border < m_borders.size() ? m_borders[x.border] : m_borders[0];
    s.numFmt = x.numFmt < m_numFmts.size() ? m_numFmts[x.numFmt] : m_numFmts[0];
    s.alignment = x.alignment;
    s.protection = x.protection;
    return s;
}

bool StyleTable::IsDateFormat(uint32_t xf) const
{
    const CellFormat& x = FormatAt(xf);
    return x.numFmt < m_numFmtIsDate.size() && m_numFmtIsDate[x.numFmt] != 0;
}

} // namespace gq::engine
