// Writes the workbook model as an Excel 97-2003 workbook: a BIFF8 Workbook stream ([MS-XLS]) in a
// compound file ([MS-CFB]). Formulas are written as their cached values.
#include "engine/xls/XlsWriter.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/cfb/CfbWriter.h"
#include "engine/io/LittleEndian.h"
#include "engine/model/Palette.h"
#include "engine/text/Utf8.h"
#include "engine/xls/BiffRecords.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

namespace gq::engine {

namespace {

using namespace biff;

constexpr size_t kMaxRecordBody = limits::kMaxBiffRecordBytes;
constexpr uint16_t kFirstCellXf = 15;      // 15 style XFs come first; XF 15 is the default cell format
constexpr uint16_t kFirstCustomFormat = 164;
constexpr uint16_t kIcvAutoFore = 64;      // system window text colour
constexpr uint16_t kIcvAutoBack = 65;      // system window background colour
constexpr uint16_t kIcvFontAuto = 0x7FFF;  // automatic font colour
constexpr uint32_t kRowsPerBlock = 32;     // Excel groups ROW records and their cells in blocks of 32

// The default BIFF8 palette, indexes 8-63 ([MS-XLS] 2.5.161 Icv; the colours every reader assumes
// when a file has no PALETTE record).
constexpr std::array<uint32_t, 56> kReplaceablePalette = [] {
    std::array<uint32_t, 56> entries{};
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i] = kDefaultPalette[i + kFirstCustomColorIndex];
    }
    return entries;
}();

// The Workbook stream under construction. The whole stream is built in memory because BoundSheet8
// and ExtSST hold absolute stream offsets that are known only once later records are written. It
// grows with realloc, which for large blocks remaps pages instead of copying them and does not
// zero-fill what is about to be written anyway.
class Stream {
public:
    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() { std::free(m_data); }

    size_t Size() const { return m_size; }
    std::span<const uint8_t> Bytes() const { return {m_data, m_size}; }
    uint8_t* At(size_t pos) { return m_data + pos; }

    void Reserve(size_t capacity)
    {
        if (capacity > m_capacity) {
            auto* grown = static_cast<uint8_t*>(std::realloc(m_data, capacity));
            if (grown == nullptr) {
                throw std::bad_alloc();
            }
            m_data = grown;
            m_capacity = capacity;
        }
    }
    uint8_t* Grow(size_t n)
    {
        if (n > m_capacity - m_size) {
            Reserve(std::max(m_capacity + m_capacity / 2, m_size + n + 65536));
        }
        uint8_t* p = m_data + m_size;
        m_size += n;
        return p;
    }
    void U8(uint32_t v) { *Grow(1) = static_cast<uint8_t>(v); }
    void U16(uint32_t v) { le::Store16(Grow(2), static_cast<uint16_t>(v)); }
    void U32(uint32_t v) { le::Store32(Grow(4), v); }
    void F64(double v) { le::StoreF64(Grow(8), v); }
    void Raw(const void* data, size_t n)
    {
        if (n) {
            std::memcpy(Grow(n), data, n);
        }
    }
    void Zeros(size_t n) { std::memset(Grow(n), 0, n); }

    // A record: Begin writes the header with a zero length, End fills the length in.
    size_t Begin(uint16_t type)
    {
        size_t at = m_size;
        uint8_t* p = Grow(4);
        le::Store16(p, type);
        le::Store16(p + 2, 0);
        return at;
    }
    size_t BodySize(size_t at) const { return m_size - at - 4; }
    void End(size_t at)
    {
        size_t len = BodySize(at);
        if (len > kMaxRecordBody) {
            // Every caller splits or bounds its records; reaching this is a bug in this writer.
            throw EngineError("internal error: a BIFF record outgrew 8,224 bytes");
        }
        le::Store16(At(at + 2), static_cast<uint32_t>(len));
    }

private:
    uint8_t* m_data = nullptr;
    size_t m_capacity = 0;
    size_t m_size = 0;
};

// UTF-8 to UTF-16; malformed sequences become U+FFFD so that any text the model holds can be written.
void ToUtf16(std::string_view text, std::u16string& out)
{
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        auto c = static_cast<uint8_t>(text[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        char32_t cp = DecodeUtf8(text, i);
        if (cp == kNotUtf8) {
            out.push_back(0xFFFD);
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
}

bool FitsLatin1(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c <= 0xFF; });
}

bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; });
}

// The characters of a string in the form BIFF8 stores them: one byte each ("compressed", the low
// bytes of Latin-1 text) or UTF-16LE, [MS-XLS] 2.5.294 XLUnicodeString.
void PutChars(Stream& out, std::u16string_view text, bool compressed)
{
    uint8_t* p = out.Grow(text.size() * (compressed ? 1 : 2));
    for (char16_t c : text) {
        *p++ = static_cast<uint8_t>(c);
        if (!compressed) {
            *p++ = static_cast<uint8_t>(c >> 8);
        }
    }
}

// ShortXLUnicodeString (8-bit count) or XLUnicodeString (16-bit count).
void PutUnicodeString(Stream& out, std::u16string_view text, bool shortCount)
{
    bool compressed = FitsLatin1(text);
    if (shortCount) {
        out.U8(static_cast<uint32_t>(text.size()));
    } else {
        out.U16(static_cast<uint32_t>(text.size()));
    }
    out.U8(compressed ? 0 : 1);
    PutChars(out, text, compressed);
}

// A null-terminated UTF-16 string with its length in characters (including the null) in front,
// as hyperlink objects store them ([MS-OSHARED] 2.3.7.9 HyperlinkString).
void PutHyperlinkString(Stream& out, std::u16string_view text)
{
    out.U32(static_cast<uint32_t>(text.size() + 1));
    PutChars(out, text, false);
    out.U16(0);
}

// RK numbers, [MS-XLS] 2.5.218: a 30-bit integer or the top 30 bits of a double, optionally
// divided by 100 when read. Gives true and the RK value only when reading it back yields exactly
// `value`, bit for bit.
bool ToRk(double value, uint32_t& rk)
{
    if (!std::isfinite(value)) {
        return false;
    }
    uint64_t bits = std::bit_cast<uint64_t>(value);
    if ((bits & 0x3FFFFFFFFull) == 0) {
        rk = static_cast<uint32_t>(bits >> 32) & ~3u;
        return true;
    }
    constexpr double kMinInt = -536870912.0; // -2^29
    constexpr double kMaxInt = 536870911.0;  // 2^29 - 1
    if (value >= kMinInt && value <= kMaxInt) {
        auto i = static_cast<int32_t>(value);
        if (static_cast<double>(i) == value) {
            rk = (static_cast<uint32_t>(i) << 2) | 2u;
            return true;
        }
    }
    double scaled = value * 100.0;
    if (scaled >= kMinInt && scaled <= kMaxInt) {
        double whole = std::nearbyint(scaled);
        auto i = static_cast<int32_t>(whole);
        if (static_cast<double>(i) / 100.0 == value) {
            rk = (static_cast<uint32_t>(i) << 2) | 3u;
            return true;
        }
    }
    if (std::isfinite(scaled)) {
        uint64_t sbits = std::bit_cast<uint64_t>(scaled);
        if ((sbits & 0x3FFFFFFFFull) == 0 && scaled / 100.0 == value) {
            rk = (static_cast<uint32_t>(sbits >> 32) & ~3u) | 1u;
            return true;
        }
    }
    return false;
}

std::string SheetCellText(const std::string& sheet, uint32_t row, uint32_t col)
{
    return "sheet \"" + sheet + "\", cell " + CellName(row, col);
}

class XlsWriter {
public:
    explicit XlsWriter(Workbook& book) : m_book(book), m_styles(book.Styles()) {}

    void Write(ByteSink& sink)
    {
        if (m_book.SheetCount() == 0) {
            throw EngineError("a workbook without sheets cannot be saved");
        }
        Scan();
        BuildPalette();
        BuildFontsAndFormats();
        BuildCellXfs();

        // Cell records take 10 to 18 bytes; reserving for them up front saves regrowing a stream
        // of tens of MB.
        m_out.Reserve(static_cast<size_t>(m_cellCount) * 14 + m_sstBytes + 65536);
        WriteGlobals();
        for (size_t i = 0; i < m_book.SheetCount(); ++i) {
            le::Store32(m_out.At(m_boundSheetPos[i] + 4), static_cast<uint32_t>(m_out.Size()));
            WriteSheet(i);
        }
        // Readers have been known to insist that the Workbook stream lives in regular sectors, so
        // short streams are padded after the last EOF.
        if (m_out.Size() < limits::kCfbMiniStreamCutoff) {
            m_out.Zeros(limits::kCfbMiniStreamCutoff - m_out.Size());
        }
        WriteCompoundFile(u"Workbook", m_out.Bytes(), sink);
    }

private:
    // ---- First pass: grid limits, used cell formats and shared strings --------------------------

    void Scan()
    {
        const size_t xfCount = m_styles.CellFormats().size();
        m_xfUsed.assign(xfCount, 0);
        m_sstIndex.assign(m_book.Strings().Size(), UINT32_MAX);
        UseXf(0);
        m_book.CheckSheetNames();
        std::u16string scratch;
        for (size_t s = 0; s < m_book.SheetCount(); ++s) {
            const std::string& name = m_book.SheetName(s);
            const Worksheet& sheet = m_book.Sheet(s);
            for (const Row& row : sheet.rows) {
                if (row.cells.empty()) {
                    continue;
                }
                if (row.index >= limits::kXlsMaxRows || row.cells.back().col >= limits::kXlsMaxCols) {
                    const Cell& cell = row.index >= limits::kXlsMaxRows ? row.cells.front() : row.cells.back();
                    throw LimitError(SheetCellText(name, row.index, cell.col) +
                                     " lies beyond the 65,536 rows and 256 columns of an Excel 97-2003 sheet");
                }
                m_cellCount += row.cells.size();
                for (const Cell& cell : row.cells) {
                    UseXf(cell.style);
                    if (cell.type == CellType::String) {
                        UseString(cell.text, name, row.index, cell.col, scratch);
                    }
                }
            }
            for (const ColumnInfo& column : sheet.columns) {
                // Column settings are formatting, not content: a range reaching past column 256
                // (xlsx files often style all 16,384 columns) is written for the columns that exist.
                if (column.first < limits::kXlsMaxCols) {
                    UseXf(column.style);
                }
            }
            for (const CellRange& merge : sheet.merges) {
                CheckRange(name, merge, "a merged range");
            }
            for (const Hyperlink& link : sheet.hyperlinks) {
                CheckRange(name, link.range, "a hyperlink");
            }
        }
    }

    void CheckRange(const std::string& sheet, const CellRange& range, const char* what)
    {
        if (range.lastRow >= limits::kXlsMaxRows || range.lastCol >= limits::kXlsMaxCols ||
            range.firstRow > range.lastRow || range.firstCol > range.lastCol) {
            throw LimitError("sheet \"" + sheet + "\": " + what + " at " + RangeName(range) +
                             " lies beyond the 65,536 rows and 256 columns of an Excel 97-2003 sheet");
        }
    }

    void UseXf(uint32_t xf)
    {
        if (xf >= m_xfUsed.size()) {
            return; // an unknown format reads as the default one, as StyleTable::FormatAt does
        }
        if (!m_xfUsed[xf]) {
            m_xfUsed[xf] = 1;
            m_xfOrder.push_back(xf);
        }
    }

    void UseString(uint32_t index, const std::string& sheet, uint32_t row, uint32_t col, std::u16string& scratch)
    {
        if (index >= m_sstIndex.size()) {
            throw EngineError("internal error: " + SheetCellText(sheet, row, col) + " refers to a missing string");
        }
        ++m_sstTotal;
        if (m_sstIndex[index] != UINT32_MAX) {
            return;
        }
        const std::string& text = m_book.Strings().At(index);
        // Fewer UTF-8 bytes than the limit means fewer UTF-16 units too.
        if (text.size() > limits::kMaxCellChars) {
            ToUtf16(text, scratch);
            if (scratch.size() > limits::kMaxCellChars) {
                throw LimitError(SheetCellText(sheet, row, col) + " holds " + std::to_string(scratch.size()) +
                                 " characters; an Excel 97-2003 cell holds at most 32,767");
            }
        }
        m_sstBytes += 3 + 2 * text.size();
        m_sstIndex[index] = static_cast<uint32_t>(m_sstOrder.size());
        m_sstOrder.push_back(index);
    }

    // ---- Palette -------------------------------------------------------------------------------

    // Colours are palette indexes in BIFF8. A custom PALETTE replaces indexes 8-63: default
    // entries whose colour is needed exactly stay where they are, entries nobody needs make room
    // for the other colours, and once all 56 are taken the remaining colours get the nearest entry.
    void BuildPalette()
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

    size_t NearestSlot(uint32_t rgb) const
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

    uint16_t Icv(const Color& color, uint16_t automatic) const
    {
        if (color.kind != Color::Kind::Rgb) {
            return automatic;
        }
        auto it = m_colorIndex.find(color.argb & 0xFFFFFF);
        return it == m_colorIndex.end() ? automatic : it->second;
    }

    // ---- Fonts, number formats, cell XFs -------------------------------------------------------

    void BuildFontsAndFormats()
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

    std::vector<uint8_t> FontBody(const Font& font) const
    {
        // Font, [MS-XLS] 2.4.122.
        Stream body;
        double twips = std::round(font.size * 20.0);
        body.U16(static_cast<uint32_t>(std::clamp(std::isfinite(twips) ? twips : 220.0, 20.0, 8191.0)));
        // Bit 0 is ignored by BIFF8 readers but older ones take it as bold, so it mirrors the weight.
        body.U16((font.bold ? 0x01u : 0u) | (font.italic ? 0x02u : 0u) | (font.strike ? 0x08u : 0u));
        body.U16(Icv(font.color, kIcvFontAuto));
        body.U16(font.bold ? 700 : 400);
        body.U16(font.vertAlign == VertAlign::Superscript ? 1 : font.vertAlign == VertAlign::Subscript ? 2 : 0);
        uint8_t uls = 0;
        switch (font.underline) {
        case Underline::None: uls = 0x00; break;
        case Underline::Single: uls = 0x01; break;
        case Underline::Double: uls = 0x02; break;
        case Underline::SingleAccounting: uls = 0x21; break;
        case Underline::DoubleAccounting: uls = 0x22; break;
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

    void AddFont(uint32_t modelFont)
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

    void AddNumberFormat(uint32_t index)
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
    std::array<uint8_t, 20> CellXfBody(const CellFormat& format) const
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

    void BuildCellXfs()
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

    uint16_t MapXf(uint32_t xf) const { return xf < m_xfMap.size() ? m_xfMap[xf] : kFirstCellXf; }

    // ---- Globals -------------------------------------------------------------------------------

    // The sheet shown when the file opens. Office suites misbehave when that sheet is hidden, so a
    // hidden active sheet gives way to the first visible one.
    size_t ActiveSheet() const
    {
        size_t active = m_book.ActiveSheet() < m_book.SheetCount() ? m_book.ActiveSheet() : 0;
        if (m_book.SheetStateAt(active) == SheetState::Visible) {
            return active;
        }
        for (size_t i = 0; i < m_book.SheetCount(); ++i) {
            if (m_book.SheetStateAt(i) == SheetState::Visible) {
                return i;
            }
        }
        return active;
    }

    void WriteBof(uint16_t type)
    {
        // BOF, [MS-XLS] 2.4.21: BIFF8, build and year of Excel 97, lowest BIFF version 6.
        size_t r = m_out.Begin(kBof);
        m_out.U16(kBofVersionBiff8);
        m_out.U16(type);
        m_out.U16(0x0DBB);
        m_out.U16(0x07CC);
        m_out.U32(0);
        m_out.U32(6);
        m_out.End(r);
    }

    void WriteSimple(uint16_t type, uint32_t value16)
    {
        size_t r = m_out.Begin(type);
        m_out.U16(value16);
        m_out.End(r);
    }

    void WriteGlobals()
    {
        WriteBof(kBofGlobals);
        WriteSimple(kInterfaceHdr, 1200);
        WriteSimple(kMms, 0);
        m_out.End(m_out.Begin(kInterfaceEnd));
        WriteSimple(kCodePage, 1200); // all text is Unicode

        // Window1, [MS-XLS] 2.4.345: horizontal and vertical scroll bars and sheet tabs shown.
        const size_t active = ActiveSheet();
        size_t r = m_out.Begin(kWindow1);
        m_out.U16(0x0000);
        m_out.U16(0x0000);
        m_out.U16(0x4000);
        m_out.U16(0x2000);
        m_out.U16(0x0038);
        m_out.U16(static_cast<uint32_t>(active));
        m_out.U16(0);
        m_out.U16(1);
        m_out.U16(600);
        m_out.End(r);

        WriteSimple(kDate1904, m_book.Date1904() ? 1 : 0);
        WriteSimple(kPrecision, 1);
        WriteSimple(kBookBool, 0);

        for (const auto& body : m_fontBodies) {
            r = m_out.Begin(kFont);
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
            r = m_out.Begin(kXf);
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
            r = m_out.Begin(kXf);
            m_out.Raw(body.data(), body.size());
            m_out.End(r);
        }

        // Style, [MS-XLS] 2.4.269: the built-in Normal style on XF 0.
        r = m_out.Begin(kStyle);
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

        // BoundSheet8, [MS-XLS] 2.4.28; lbPlyPos is patched once the sheet's BOF is written.
        std::u16string name;
        for (size_t i = 0; i < m_book.SheetCount(); ++i) {
            r = m_out.Begin(kBoundSheet8);
            m_boundSheetPos.push_back(r);
            m_out.U32(0);
            SheetState state = m_book.SheetStateAt(i);
            m_out.U8(state == SheetState::Hidden ? 1 : state == SheetState::VeryHidden ? 2 : 0);
            m_out.U8(0); // worksheet
            ToUtf16(m_book.SheetName(i), name);
            PutUnicodeString(m_out, name, true);
            m_out.End(r);
        }

        WriteSst();
        m_out.End(m_out.Begin(kEof));
    }

    void WriteFormat(uint16_t id, std::u16string_view text)
    {
        size_t r = m_out.Begin(kFormat);
        m_out.U16(id);
        PutUnicodeString(m_out, text, false);
        m_out.End(r);
    }

    // SST, [MS-XLS] 2.4.265, continued in Continue records (2.4.58) when it outgrows one record.
    // A string's 3-byte header is never split; its characters may be, and each Continue that
    // carries the rest of a string starts with the string's option byte again. ExtSST (2.4.107)
    // then points at every dsst-th string.
    void WriteSst()
    {
        const auto unique = static_cast<uint32_t>(m_sstOrder.size());
        const uint32_t dsst = std::max<uint32_t>(8, (unique + 127) / 128);
        std::vector<std::pair<uint32_t, uint16_t>> buckets; // stream offset, offset in its record

        size_t record = m_out.Begin(kSst);
        m_out.U32(m_sstTotal);
        m_out.U32(unique);
        auto room = [&] { return kMaxRecordBody - m_out.BodySize(record); };
        auto next = [&] {
            m_out.End(record);
            record = m_out.Begin(kContinue);
        };

        std::u16string wide;
        for (uint32_t k = 0; k < unique; ++k) {
            const std::string& text = m_book.Strings().At(m_sstOrder[k]);
            bool ascii = IsAscii(text);
            if (!ascii) {
                ToUtf16(text, wide);
            }
            const size_t count = ascii ? text.size() : wide.size();
            const bool compressed = ascii || FitsLatin1(wide);
            const size_t charBytes = compressed ? 1 : 2;
            // The header and at least one character (when there is one) start in the same record.
            if (room() < 3 + (count ? charBytes : 0)) {
                next();
            }
            if (k % dsst == 0) {
                buckets.emplace_back(static_cast<uint32_t>(m_out.Size()),
                                     static_cast<uint16_t>(m_out.Size() - record));
            }
            m_out.U16(static_cast<uint32_t>(count));
            m_out.U8(compressed ? 0 : 1);
            size_t done = 0;
            while (done < count) {
                size_t n = std::min(count - done, room() / charBytes);
                // Never part a surrogate pair: some readers decode each record's piece on its own.
                if (!compressed && n > 0 && done + n < count && wide[done + n - 1] >= 0xD800 &&
                    wide[done + n - 1] <= 0xDBFF) {
                    --n;
                }
                if (n == 0) {
                    next();
                    m_out.U8(compressed ? 0 : 1);
                    continue;
                }
                if (ascii) {
                    m_out.Raw(text.data() + done, n);
                } else {
                    PutChars(m_out, std::u16string_view(wide).substr(done, n), compressed);
                }
                done += n;
            }
        }
        m_out.End(record);

        size_t r = m_out.Begin(kExtSst);
        m_out.U16(dsst);
        for (const auto& [streamPos, offset] : buckets) {
            m_out.U32(streamPos);
            m_out.U16(offset);
            m_out.U16(0);
        }
        m_out.End(r);
    }

    // ---- Worksheets ----------------------------------------------------------------------------

    void WriteSheet(size_t index)
    {
        const Worksheet& sheet = m_book.Sheet(index);
        WriteBof(kBofWorksheet);

        uint32_t defaultRowTwips = 255; // 12.75 points, what BIFF readers assume without the record
        if (sheet.defaultRowHeight > 0) {
            defaultRowTwips = Twips(sheet.defaultRowHeight);
            // DefaultRowHeight, [MS-XLS] 2.4.87: fUnsynced, the height was set on purpose.
            size_t r = m_out.Begin(kDefaultRowHeight);
            m_out.U16(0x0001);
            m_out.U16(defaultRowTwips);
            m_out.End(r);
        }
        if (sheet.defaultColWidth > 0) {
            // DefColWidth, [MS-XLS] 2.4.89, counts whole characters without the cell padding of
            // 5 pixels at the default 7-pixel digit; StandardWidth, 2.4.257, holds the exact
            // padded width in 1/256 characters and wins where a reader knows it.
            double unpadded = std::round(sheet.defaultColWidth - 5.0 / 7.0);
            WriteSimple(kDefColWidth, static_cast<uint32_t>(std::clamp(unpadded, 0.0, 255.0)));
        }
        WriteColumns(sheet);
        if (sheet.defaultColWidth > 0) {
            WriteSimple(kStandardWidth,
                        static_cast<uint32_t>(std::clamp(std::round(sheet.defaultColWidth * 256.0), 0.0, 65535.0)));
        }

        // Dimensions, [MS-XLS] 2.4.90: first row, last row + 1, first column, last column + 1.
        uint32_t firstRow = UINT32_MAX, lastRow = 0, firstCol = UINT32_MAX, lastCol = 0;
        for (const Row& row : sheet.rows) {
            if (!row.cells.empty()) {
                firstRow = std::min(firstRow, row.index);
                lastRow = std::max(lastRow, row.index);
                firstCol = std::min(firstCol, row.cells.front().col);
                lastCol = std::max(lastCol, row.cells.back().col);
            }
        }
        size_t r = m_out.Begin(kDimensions);
        if (firstRow == UINT32_MAX) {
            m_out.Zeros(14);
        } else {
            m_out.U32(firstRow);
            m_out.U32(lastRow + 1);
            m_out.U16(firstCol);
            m_out.U16(lastCol + 1);
            m_out.U16(0);
        }
        m_out.End(r);

        WriteCells(sheet, defaultRowTwips);
        WriteWindow(sheet, index);
        WriteMerges(sheet);
        WriteHyperlinks(sheet, m_book.SheetName(index));
        m_out.End(m_out.Begin(kEof));
    }

    static uint32_t Twips(double points)
    {
        double t = std::round(points * 20.0);
        return static_cast<uint32_t>(std::clamp(std::isfinite(t) ? t : 255.0, 0.0, 8190.0));
    }

    // ColInfo, [MS-XLS] 2.4.53. The model holds xlsx widths: characters of the default font's
    // digit width, padding included. BIFF's coldx counts 1/256 of that same character width, so
    // coldx = round(width * 256) and a reader gets the model's width back as coldx / 256.
    void WriteColumns(const Worksheet& sheet)
    {
        for (const ColumnInfo& column : sheet.columns) {
            if (column.first >= limits::kXlsMaxCols || column.first > column.last) {
                continue;
            }
            double width = column.width > 0 ? column.width : (sheet.defaultColWidth > 0 ? sheet.defaultColWidth : 8.43);
            size_t r = m_out.Begin(kColInfo);
            m_out.U16(column.first);
            m_out.U16(std::min<uint32_t>(column.last, limits::kXlsMaxCols - 1));
            m_out.U16(static_cast<uint32_t>(std::clamp(std::round(width * 256.0), 0.0, 65535.0)));
            m_out.U16(MapXf(column.style));
            m_out.U16((column.hidden ? 0x01u : 0u) | (column.customWidth ? 0x02u : 0u));
            m_out.U16(0);
            m_out.End(r);
        }
    }

    static bool NeedsRowRecord(const Row& row)
    {
        return !row.cells.empty() || row.customHeight || row.hidden || row.height > 0;
    }

    // Row records in blocks of 32, each block followed by its rows' cells, as Excel writes them.
    void WriteCells(const Worksheet& sheet, uint32_t defaultRowTwips)
    {
        const std::vector<Row>& rows = sheet.rows;
        size_t i = 0;
        while (i < rows.size() && rows[i].index < limits::kXlsMaxRows) {
            uint32_t blockEnd = (rows[i].index / kRowsPerBlock + 1) * kRowsPerBlock;
            size_t j = i;
            for (; j < rows.size() && rows[j].index < blockEnd; ++j) {
                if (NeedsRowRecord(rows[j])) {
                    WriteRowRecord(rows[j], defaultRowTwips);
                }
            }
            for (size_t k = i; k < j; ++k) {
                WriteRowCells(rows[k]);
            }
            i = j;
        }
    }

    void WriteRowRecord(const Row& row, uint32_t defaultRowTwips)
    {
        // Row, [MS-XLS] 2.4.221.
        uint8_t* p = m_out.Grow(20);
        le::Store16(p, kRow);
        le::Store16(p + 2, 16);
        le::Store16(p + 4, row.index);
        le::Store16(p + 6, row.cells.empty() ? 0 : row.cells.front().col);
        le::Store16(p + 8, row.cells.empty() ? 0 : row.cells.back().col + 1);
        le::Store16(p + 10, row.height > 0 ? Twips(row.height) : defaultRowTwips);
        le::Store32(p + 12, 0);
        // fDyZero (hidden), fUnsynced (height set on purpose); the reserved byte that must be 1;
        // ixfe 15 in the second word.
        le::Store16(p + 16, (row.hidden ? 0x20u : 0u) | (row.customHeight ? 0x40u : 0u) | 0x0100u);
        le::Store16(p + 18, kFirstCellXf);
    }

    void WriteRowCells(const Row& row)
    {
        const std::vector<Cell>& cells = row.cells;
        const uint32_t rw = row.index;
        const size_t n = cells.size();
        size_t i = 0;
        while (i < n) {
            const Cell& cell = cells[i];
            uint32_t rk = 0;
            if (cell.type == CellType::Number && ToRk(cell.number, rk)) {
                // A run of adjacent RK cells goes into one MulRk, [MS-XLS] 2.4.175.
                size_t j = i + 1;
                m_rkRun.clear();
                m_rkRun.push_back(rk);
                uint32_t next = 0;
                while (j < n && cells[j].col == cells[j - 1].col + 1 && cells[j].type == CellType::Number &&
                       ToRk(cells[j].number, next)) {
                    m_rkRun.push_back(next);
                    ++j;
                }
                if (j - i == 1) {
                    uint8_t* p = m_out.Grow(14); // RK, 2.4.220
                    le::Store16(p, kRk);
                    le::Store16(p + 2, 10);
                    le::Store16(p + 4, rw);
                    le::Store16(p + 6, cell.col);
                    le::Store16(p + 8, MapXf(cell.style));
                    le::Store32(p + 10, rk);
                } else {
                    const size_t count = j - i;
                    uint8_t* p = m_out.Grow(4 + 6 + 6 * count);
                    le::Store16(p, kMulRk);
                    le::Store16(p + 2, static_cast<uint32_t>(6 + 6 * count));
                    le::Store16(p + 4, rw);
                    le::Store16(p + 6, cell.col);
                    p += 8;
                    for (size_t k = 0; k < count; ++k, p += 6) {
                        le::Store16(p, MapXf(cells[i + k].style));
                        le::Store32(p + 2, m_rkRun[k]);
                    }
                    le::Store16(p, cells[j - 1].col);
                }
                i = j;
                continue;
            }
            if (cell.type == CellType::Blank) {
                // A run of adjacent blank cells goes into one MulBlank, [MS-XLS] 2.4.174.
                size_t j = i + 1;
                while (j < n && cells[j].col == cells[j - 1].col + 1 && cells[j].type == CellType::Blank) {
                    ++j;
                }
                if (j - i == 1) {
                    uint8_t* p = m_out.Grow(10); // Blank, 2.4.20
                    le::Store16(p, kBlank);
                    le::Store16(p + 2, 6);
                    le::Store16(p + 4, rw);
                    le::Store16(p + 6, cell.col);
                    le::Store16(p + 8, MapXf(cell.style));
                } else {
                    const size_t count = j - i;
                    uint8_t* p = m_out.Grow(4 + 6 + 2 * count);
                    le::Store16(p, kMulBlank);
                    le::Store16(p + 2, static_cast<uint32_t>(6 + 2 * count));
                    le::Store16(p + 4, rw);
                    le::Store16(p + 6, cell.col);
                    p += 8;
                    for (size_t k = 0; k < count; ++k, p += 2) {
                        le::Store16(p, MapXf(cells[i + k].style));
                    }
                    le::Store16(p, cells[j - 1].col);
                }
                i = j;
                continue;
            }
            switch (cell.type) {
            case CellType::Number:
                if (std::isfinite(cell.number)) {
                    uint8_t* p = m_out.Grow(18); // Number, 2.4.180
                    le::Store16(p, kNumber);
                    le::Store16(p + 2, 14);
                    le::Store16(p + 4, rw);
                    le::Store16(p + 6, cell.col);
                    le::Store16(p + 8, MapXf(cell.style));
                    uint64_t bits = std::bit_cast<uint64_t>(cell.number);
                    le::Store32(p + 10, static_cast<uint32_t>(bits));
                    le::Store32(p + 14, static_cast<uint32_t>(bits >> 32));
                } else {
                    // BIFF has no infinities or NaNs; a spreadsheet shows them as #NUM!.
                    WriteBoolErr(rw, cell, static_cast<uint8_t>(ErrorCode::Num), true);
                }
                break;
            case CellType::String: {
                uint8_t* p = m_out.Grow(14); // LabelSst, 2.4.149
                le::Store16(p, kLabelSst);
                le::Store16(p + 2, 10);
                le::Store16(p + 4, rw);
                le::Store16(p + 6, cell.col);
                le::Store16(p + 8, MapXf(cell.style));
                le::Store32(p + 10, m_sstIndex[cell.text]);
                break;
            }
            case CellType::Boolean:
                WriteBoolErr(rw, cell, cell.boolean ? 1 : 0, false);
                break;
            case CellType::Error:
                WriteBoolErr(rw, cell, static_cast<uint8_t>(cell.error), true);
                break;
            case CellType::Blank:
                break;
            }
            ++i;
        }
    }

    void WriteBoolErr(uint32_t rw, const Cell& cell, uint8_t value, bool isError)
    {
        uint8_t* p = m_out.Grow(12); // BoolErr, 2.4.24
        le::Store16(p, kBoolErr);
        le::Store16(p + 2, 8);
        le::Store16(p + 4, rw);
        le::Store16(p + 6, cell.col);
        le::Store16(p + 8, MapXf(cell.style));
        p[10] = value;
        p[11] = isError ? 1 : 0;
    }

    void WriteWindow(const Worksheet& sheet, size_t index)
    {
        const bool active = index == ActiveSheet();
        const uint32_t frozenRows = std::min<uint32_t>(sheet.frozenRows, limits::kXlsMaxRows - 1);
        const uint32_t frozenCols = std::min<uint32_t>(sheet.frozenCols, limits::kXlsMaxCols - 1);
        const bool frozen = frozenRows > 0 || frozenCols > 0;
        // Window2, [MS-XLS] 2.4.346: gridlines, headers, zeros, default header colour, outline
        // symbols; fFrozen and fFrozenNoSplit for frozen panes; fSelected and fPaged on the active sheet.
        uint32_t grbit = 0x0002 | 0x0004 | 0x0010 | 0x0020 | 0x0080;
        if (frozen) {
            grbit |= 0x0008 | 0x0100;
        }
        if (active) {
            grbit |= 0x0200 | 0x0400;
        }
        size_t r = m_out.Begin(kWindow2);
        m_out.U16(grbit);
        m_out.U16(0);
        m_out.U16(0);
        m_out.U16(kIcvAutoFore);
        m_out.U16(0);
        m_out.U16(0);
        m_out.U16(0);
        m_out.U32(0);
        m_out.End(r);

        if (frozen) {
            // Pane, [MS-XLS] 2.4.189: the split position and the active pane (0 bottom-right,
            // 1 top-right, 2 bottom-left).
            r = m_out.Begin(kPane);
            m_out.U16(frozenCols);
            m_out.U16(frozenRows);
            m_out.U16(frozenRows);
            m_out.U16(frozenCols);
            m_out.U8(frozenRows && frozenCols ? 0 : frozenRows ? 2 : 1);
            m_out.U8(0);
            m_out.End(r);
        }
    }

    // MergeCells, [MS-XLS] 2.4.168: at most 1,026 Ref8 ranges a record.
    void WriteMerges(const Worksheet& sheet)
    {
        const auto& merges = sheet.merges;
        for (size_t start = 0; start < merges.size(); start += limits::kXlsMaxMergesPerRecord) {
            size_t count = std::min(limits::kXlsMaxMergesPerRecord, merges.size() - start);
            size_t r = m_out.Begin(kMergeCells);
            m_out.U16(static_cast<uint32_t>(count));
            for (size_t k = start; k < start + count; ++k) {
                m_out.U16(merges[k].firstRow);
                m_out.U16(merges[k].lastRow);
                m_out.U16(merges[k].firstCol);
                m_out.U16(merges[k].lastCol);
            }
            m_out.End(r);
        }
    }

    // HLink, [MS-XLS] 2.4.140, holding a Hyperlink Object ([MS-OSHARED] 2.3.7.1): a URL moniker
    // for an external address, a location string for a place inside the workbook (or both).
    void WriteHyperlinks(const Worksheet& sheet, const std::string& sheetName)
    {
        static constexpr uint8_t kStdLinkClsid[16] = {0xD0, 0xC9, 0xEA, 0x79, 0xF9, 0xBA, 0xCE, 0x11,
                                                      0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B};
        static constexpr uint8_t kUrlMonikerClsid[16] = {0xE0, 0xC9, 0xEA, 0x79, 0xF9, 0xBA, 0xCE, 0x11,
                                                         0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B};
        constexpr uint32_t kHasMoniker = 0x01, kIsAbsolute = 0x02, kSiteGaveDisplayName = 0x04,
                           kHasLocation = 0x08, kHasDisplayName = 0x10;
        // Excel shows at most 255 characters of a tooltip; longer ones are shortened to that.
        constexpr size_t kMaxTooltipChars = 255;

        std::u16string target, location, display, tooltip;
        for (const Hyperlink& link : sheet.hyperlinks) {
            ToUtf16(link.target, target);
            ToUtf16(link.location, location);
            ToUtf16(link.display, display);
            if (target.empty() && location.empty()) {
                continue; // a link to nowhere
            }
            uint32_t flags = 0;
            if (!target.empty()) {
                flags |= kHasMoniker | (IsAbsoluteTarget(target) ? kIsAbsolute : 0);
            }
            if (!location.empty()) {
                flags |= kHasLocation;
            }
            if (!display.empty()) {
                flags |= kHasDisplayName | kSiteGaveDisplayName;
            }
            size_t r = m_out.Begin(kHLink);
            PutRef8(link.range);
            m_out.Raw(kStdLinkClsid, 16);
            m_out.U32(2); // streamVersion
            m_out.U32(flags);
            if (!display.empty()) {
                PutHyperlinkString(m_out, display);
            }
            if (!target.empty() && HasUrlScheme(target)) {
                m_out.Raw(kUrlMonikerClsid, 16);
                m_out.U32(static_cast<uint32_t>((target.size() + 1) * 2)); // URLMoniker, [MS-OSHARED] 2.3.7.6
                PutChars(m_out, target, false);
                m_out.U16(0);
            } else if (!target.empty()) {
                PutFileMoniker(target);
            }
            if (!location.empty()) {
                PutHyperlinkString(m_out, location);
            }
            if (m_out.BodySize(r) > kMaxRecordBody) {
                throw LimitError("sheet \"" + sheetName + "\": the hyperlink at " + RangeName(link.range) +
                                 " is too long for an Excel 97-2003 file");
            }
            m_out.End(r);

            if (!link.tooltip.empty()) {
                ToUtf16(link.tooltip, tooltip);
                tooltip.resize(std::min(tooltip.size(), kMaxTooltipChars));
                if (tooltip.size() > 1 && tooltip.back() >= 0xD800 && tooltip.back() <= 0xDBFF) {
                    tooltip.pop_back();
                }
                // HLinkTooltip, [MS-XLS] 2.4.141.
                r = m_out.Begin(kHLinkTooltip);
                m_out.U16(kHLinkTooltip);
                PutRef8(link.range);
                PutChars(m_out, tooltip, false);
                m_out.U16(0);
                m_out.End(r);
            }
        }
    }

    // "https:", "mailto:" and the like: a scheme of two or more letters (one letter is a drive).
    static bool HasUrlScheme(std::u16string_view target)
    {
        size_t colon = target.find(u':');
        if (colon == std::u16string_view::npos || colon < 2) {
            return false;
        }
        for (size_t i = 0; i < colon; ++i) {
            char16_t c = target[i];
            bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                      (i > 0 && ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.'));
            if (!ok) {
                return false;
            }
        }
        return true;
    }

    static bool IsAbsoluteTarget(std::u16string_view target)
    {
        return HasUrlScheme(target) || (target.size() >= 2 && target[1] == u':') ||
               target.starts_with(u"\\\\") || target.starts_with(u"/");
    }

    // FileMoniker, [MS-OSHARED] 2.3.7.8, for links to files by path ("../totals.xls",
    // "C:\reports\q3.xls"): leading "../" become cAnti, the path follows as 8-bit text and, when
    // it is not plain ASCII, again as UTF-16. Separators are kept as the model has them.
    void PutFileMoniker(std::u16string_view target)
    {
        static constexpr uint8_t kFileMonikerClsid[16] = {0x03, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                          0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
        uint16_t anti = 0;
        // Only the "../" form is counted: readers give cAnti back as "../", and a path written
        // with "..\" keeps them in its text, which resolves the same.
        while (anti < 0xFFFF && target.starts_with(u"../")) {
            target.remove_prefix(3);
            ++anti;
        }
        m_out.Raw(kFileMonikerClsid, 16);
        m_out.U16(anti);
        m_out.U32(static_cast<uint32_t>(target.size() + 1));
        bool ascii = true;
        for (char16_t c : target) {
            ascii = ascii && c < 0x80;
            m_out.U8(c < 0x80 ? c : u'?');
        }
        m_out.U8(0);
        m_out.U16(0xFFFF); // endServer
        m_out.U16(0xDEAD); // versionNumber
        m_out.Zeros(16 + 4);
        if (ascii) {
            m_out.U32(0);
        } else {
            m_out.U32(static_cast<uint32_t>(6 + 2 * target.size())); // cbUnicodePathSize
            m_out.U32(static_cast<uint32_t>(2 * target.size()));     // cbUnicodePathBytes
            m_out.U16(3);                                            // usKeyValue
            PutChars(m_out, target, false);
        }
    }

    void PutRef8(const CellRange& range)
    {
        m_out.U16(range.firstRow);
        m_out.U16(range.lastRow);
        m_out.U16(range.firstCol);
        m_out.U16(range.lastCol);
    }

    Workbook& m_book;
    const StyleTable& m_styles;
    Stream m_out;

    std::vector<uint8_t> m_xfUsed;     // per model cell format
    std::vector<uint32_t> m_xfOrder;   // used model cell formats, in order of first use
    std::vector<uint16_t> m_xfMap;     // model cell format -> BIFF XF index
    std::vector<std::array<uint8_t, 20>> m_cellXfs;
    std::vector<uint16_t> m_fontMap;   // model font -> BIFF font index
    std::vector<std::vector<uint8_t>> m_fontBodies;
    std::vector<uint16_t> m_numFmtMap; // model number format -> BIFF format id
    std::vector<std::pair<uint16_t, std::u16string>> m_customFormats;
    std::array<uint32_t, 56> m_palette{};
    bool m_customPalette = false;
    std::unordered_map<uint32_t, uint16_t> m_colorIndex; // RGB -> palette index

    std::vector<uint32_t> m_sstIndex; // model string -> SST index, UINT32_MAX when unused
    std::vector<uint32_t> m_sstOrder; // SST index -> model string
    uint32_t m_sstTotal = 0;
    uint64_t m_cellCount = 0;
    size_t m_sstBytes = 0; // an upper bound of the SST's size

    std::vector<size_t> m_boundSheetPos;
    std::vector<uint32_t> m_rkRun;
};

} // namespace

void WriteXls(Workbook& workbook, ByteSink& sink)
{
    XlsWriter(workbook).Write(sink);
}

} // namespace gq::engine
