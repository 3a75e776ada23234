// Round trips through the .xls writer and our own .xls reader: models built in code and the xlsx
// workbooks of the corpus are written as BIFF8, read back, and compared with what went in.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/WorkbookFile.h"
#include "engine/formula/Formula.h"
#include "engine/xls/XlsReader.h"
#include "tests/engine/XlsWriterTestUtil.h"

#include <bit>
#include <cmath>
#include <filesystem>
#include <map>

namespace gq::test::xls {
namespace {

using namespace gq::engine;

std::unique_ptr<Workbook> ReadBack(Workbook& book)
{
    return ReadXls(InputBytes::FromMemory(WriteToMemory(book), "round-trip.xls"));
}

std::string ColorText(const Color& c)
{
    if (c.kind != Color::Kind::Rgb) {
        return "auto"; // None and Auto both mean the system colour in BIFF
    }
    char buf[8];
    std::snprintf(buf, sizeof buf, "%06X", c.argb & 0xFFFFFF);
    return buf;
}

// What a written style must come back as: the model's style as BIFF8 can hold it. Colours are
// compared only when `colours` is set (the workbook fits the palette).
std::string StyleText(const ResolvedStyle& s, bool colours)
{
    auto color = [&](const Color& c) { return colours ? ColorText(c) : std::string("-"); };
    std::string out;
    const Font& f = s.font;
    out += "font " + f.name + " " + std::to_string(std::lround(f.size * 20)) + (f.bold ? " b" : "") +
           (f.italic ? " i" : "") + (f.strike ? " s" : "") + " u" + std::to_string(static_cast<int>(f.underline)) +
           " v" + std::to_string(static_cast<int>(f.vertAlign)) + " " + color(f.color) + "; ";
    out += "fill " + std::to_string(static_cast<int>(s.fill.pattern));
    if (s.fill.pattern != PatternType::None) {
        out += " " + color(s.fill.fg) + " " + color(s.fill.bg);
    }
    out += "; border";
    auto line = [&](const char* name, const BorderLine& l) {
        if (l.style != BorderStyle::None) {
            out += std::string(" ") + name + std::to_string(static_cast<int>(l.style)) + "/" + color(l.color);
        }
    };
    line("l", s.border.left);
    line("r", s.border.right);
    line("t", s.border.top);
    line("b", s.border.bottom);
    if (s.border.diagonalUp || s.border.diagonalDown) {
        line(s.border.diagonalUp ? (s.border.diagonalDown ? "x" : "u") : "d", s.border.diagonal);
    }
    const Alignment& a = s.alignment;
    int rotation = a.rotation <= 180 || a.rotation == 255 ? a.rotation : 0;
    out += "; align " + std::to_string(static_cast<int>(a.horizontal)) + " " +
           std::to_string(static_cast<int>(a.vertical)) + " " + std::to_string(rotation) + " " +
           std::to_string(std::min<int>(a.indent, 15)) + (a.wrap ? " w" : "") + (a.shrink ? " s" : "");
    out += "; protect " + std::to_string(s.protection.locked) + std::to_string(s.protection.hidden);
    out += "; fmt " + s.numFmt;
    return out;
}

std::string CellText(const Workbook& book, const Cell& cell)
{
    char buf[32];
    switch (cell.type) {
    case CellType::Blank:
        return "blank";
    case CellType::Number:
        if (!std::isfinite(cell.number)) {
            return "error #NUM!";
        }
        std::snprintf(buf, sizeof buf, "number %016llx",
                      static_cast<unsigned long long>(std::bit_cast<uint64_t>(cell.number)));
        return buf;
    case CellType::String:
        return "text " + book.Strings().At(cell.text);
    case CellType::Boolean:
        return cell.boolean ? "true" : "false";
    case CellType::Error:
        return "error " + std::string(ErrorText(cell.error));
    }
    return "?";
}

// Distinct RGB colours a workbook's used styles need; more than 56 cannot all survive BIFF8.
size_t DistinctColours(Workbook& book)
{
    std::set<uint32_t> colours;
    auto add = [&](const Color& c) {
        if (c.kind == Color::Kind::Rgb) {
            colours.insert(c.argb & 0xFFFFFF);
        }
    };
    for (size_t s = 0; s < book.SheetCount(); ++s) {
        std::set<uint32_t> xfs;
        for (const Row& row : book.Sheet(s).rows) {
            for (const Cell& cell : row.cells) {
                xfs.insert(cell.style);
            }
        }
        for (uint32_t xf : xfs) {
            ResolvedStyle style = book.Styles().Resolve(xf);
            add(style.font.color);
            if (style.fill.pattern != PatternType::None) {
                add(style.fill.fg);
                add(style.fill.bg);
            }
            for (const BorderLine* l : {&style.border.left, &style.border.right, &style.border.top,
                                        &style.border.bottom, &style.border.diagonal}) {
                if (l->style != BorderStyle::None) {
                    add(l->color);
                }
            }
        }
    }
    return colours.size();
}

// Compares everything the .xls writer promises to keep; returns the number of differences and
// reports the first few of them.
size_t CompareWorkbooks(const std::string& what, Workbook& in, Workbook& out)
{
    size_t differences = 0;
    auto differ = [&](const std::string& where, const std::string& expected, const std::string& actual) {
        if (expected != actual && ++differences <= 10) {
            ADD_FAILURE() << what << ", " << where << ": expected [" << expected.substr(0, 200) << "] got ["
                          << actual.substr(0, 200) << "]";
        }
    };
    differ("sheet count", std::to_string(in.SheetCount()), std::to_string(out.SheetCount()));
    differ("date system", std::to_string(in.Date1904()), std::to_string(out.Date1904()));
    const bool colours = DistinctColours(in) <= 56;
    for (size_t s = 0; s < std::min(in.SheetCount(), out.SheetCount()); ++s) {
        const std::string sheetName = in.SheetName(s);
        differ("sheet name", sheetName, out.SheetName(s));
        differ(sheetName + " state", std::to_string(static_cast<int>(in.SheetStateAt(s))),
               std::to_string(static_cast<int>(out.SheetStateAt(s))));
        const Worksheet& a = in.Sheet(s);
        const Worksheet& b = out.Sheet(s);
        for (const Row& row : a.rows) {
            for (const Cell& cell : row.cells) {
                std::string where = sheetName + "!" + CellName(row.index, cell.col);
                const Cell* other = b.FindCell(row.index, cell.col);
                if (other == nullptr) {
                    differ(where, CellText(in, cell), "missing");
                    continue;
                }
                // A formula without a cached result comes back with the empty text: BIFF8's
                // FORMULA record has no result that says "none".
                const bool noResult = cell.type == CellType::Blank && cell.formulaIndex != kNoFormula &&
                                      other->type == CellType::String && out.Strings().At(other->text).empty();
                differ(where, noResult ? CellText(out, *other) : CellText(in, cell), CellText(out, *other));
                // A formula the .xls kept reads back as the same text.
                formula::Formula fa;
                formula::Formula fb;
                if (formula::CellFormula(b, row.index, *other, fb, formula::kXlsGrid)) {
                    differ(where + " formula",
                           formula::CellFormula(a, row.index, cell, fa) ? formula::PrintFormula(fa) : "none",
                           formula::PrintFormula(fb));
                }
                differ(where + " style", StyleText(in.Styles().Resolve(cell.style), colours),
                       StyleText(out.Styles().Resolve(other->style), colours));
            }
            if (row.customHeight) {
                const Row* r = b.FindRow(row.index);
                differ(sheetName + " row " + std::to_string(row.index + 1) + " height",
                       std::to_string(std::lround(row.height * 20)),
                       r ? std::to_string(std::lround(r->height * 20)) : "none");
            }
            if (row.hidden) {
                const Row* r = b.FindRow(row.index);
                differ(sheetName + " row " + std::to_string(row.index + 1) + " hidden", "1",
                       r && r->hidden ? "1" : "0");
            }
        }
        differ(sheetName + " cell count", std::to_string(a.CellCount()), std::to_string(b.CellCount()));
        std::vector<std::string> ma, mb;
        for (const CellRange& m : a.merges) {
            ma.push_back(RangeName(m));
        }
        for (const CellRange& m : b.merges) {
            mb.push_back(RangeName(m));
        }
        std::sort(ma.begin(), ma.end());
        std::sort(mb.begin(), mb.end());
        differ(sheetName + " merges", std::to_string(ma.size()), std::to_string(mb.size()));
        for (size_t i = 0; i < std::min(ma.size(), mb.size()); ++i) {
            differ(sheetName + " merge", ma[i], mb[i]);
        }
        for (const ColumnInfo& col : a.columns) {
            if (col.width <= 0 || col.first >= 256) {
                continue;
            }
            for (uint32_t c = col.first; c <= std::min<uint32_t>(col.last, 255); ++c) {
                const ColumnInfo* other = b.FindColumn(c);
                differ(sheetName + " column " + ColumnName(c) + " width",
                       std::to_string(std::lround(col.width * 256)) + (col.hidden ? " hidden" : ""),
                       other ? std::to_string(std::lround(other->width * 256)) + (other->hidden ? " hidden" : "")
                             : "none");
            }
        }
        std::vector<std::string> la, lb;
        for (const Hyperlink& l : a.hyperlinks) {
            la.push_back(RangeName(l.range) + " " + l.target + " #" + l.location);
        }
        for (const Hyperlink& l : b.hyperlinks) {
            lb.push_back(RangeName(l.range) + " " + l.target + " #" + l.location);
        }
        std::sort(la.begin(), la.end());
        std::sort(lb.begin(), lb.end());
        differ(sheetName + " hyperlinks", std::to_string(la.size()), std::to_string(lb.size()));
        for (size_t i = 0; i < std::min(la.size(), lb.size()); ++i) {
            differ(sheetName + " hyperlink", la[i], lb[i]);
        }
        differ(sheetName + " default width", std::to_string(std::lround(a.defaultColWidth * 256)),
               std::to_string(std::lround(b.defaultColWidth * 256)));
        if (a.defaultRowHeight > 0) {
            differ(sheetName + " default height", std::to_string(std::lround(a.defaultRowHeight * 20)),
                   std::to_string(std::lround(b.defaultRowHeight * 20)));
        }
        differ(sheetName + " frozen", std::to_string(a.frozenRows) + "x" + std::to_string(a.frozenCols),
               std::to_string(b.frozenRows) + "x" + std::to_string(b.frozenCols));
    }
    return differences;
}

TEST(XlsWriterRoundTrip, BuiltModelComesBackThroughOurReader)
{
    Workbook book;
    book.InsertSheet(0, "Values");
    book.InsertSheet(1, "Styles \xE2\x9C\x93", SheetState::Hidden);
    book.InsertSheet(2, "Layout", SheetState::VeryHidden);
    book.SetDate1904(true);

    Worksheet& values = book.Sheet(0);
    const double numbers[] = {0,     -0.0,   1,       -7, 536870911, 536870912, 0.01, 1234567.89, 3.141592653589793,
                              1e300, 5e-324, 45123.75};
    for (uint32_t i = 0; i < std::size(numbers); ++i) {
        values.SetNumber(i, 0, numbers[i]);
        values.SetNumber(i, 1, numbers[i]);
    }
    const char* texts[] = {"ASCII", "", "d\xC3\xA9j\xC3\xA0", "\xE6\x97\xA5\xE6\x9C\xAC", "\xF0\x9F\x98\x80!"};
    for (uint32_t i = 0; i < std::size(texts); ++i) {
        values.SetString(i, 2, book.Strings().Intern(texts[i]));
    }
    values.SetString(0, 3, book.Strings().Intern(std::string(20000, 'x') + "\xCF\x89"));
    values.SetBoolean(0, 4, true);
    values.SetBoolean(1, 4, false);
    values.SetError(2, 4, ErrorCode::NA);
    values.SetError(3, 4, ErrorCode::Ref);

    Worksheet& styles = book.Sheet(1);
    uint32_t row = 0;
    auto put = [&](const ResolvedStyle& style) {
        styles.SetNumber(row, 0, row, book.Styles().InternStyle(style));
        ++row;
    };
    for (int k = 0; k <= 13; ++k) {
        ResolvedStyle s;
        s.border.left = {static_cast<BorderStyle>(k), Color::Rgb(0xFF800000)};
        s.border.top = {static_cast<BorderStyle>((k + 3) % 14), Color::Rgb(0xFF3A5FCD)};
        s.border.diagonal = {BorderStyle::Thin, Color::Rgb(0xFF00FF00)};
        s.border.diagonalUp = k % 2 == 0;
        s.border.diagonalDown = k % 3 == 0;
        put(s);
    }
    for (int p = 0; p <= 18; ++p) {
        ResolvedStyle s;
        s.fill = {static_cast<PatternType>(p), Color::Rgb(0xFF000000 | (0x1234 * (p + 1))), Color::Rgb(0xFFFFFF99)};
        put(s);
    }
    for (int h = 0; h <= 7; ++h) {
        ResolvedStyle s;
        s.alignment = {static_cast<HAlign>(h),        static_cast<VAlign>(h % 5), h % 2 == 0, h % 3 == 0,
                       static_cast<uint16_t>(h * 20), static_cast<uint8_t>(h)};
        s.protection = {h % 2 == 1, h % 3 == 1};
        put(s);
    }
    for (uint8_t indent : {15, 20}) { // BIFF8 holds indents up to 15
        ResolvedStyle s;
        s.alignment.horizontal = HAlign::Left;
        s.alignment.indent = indent;
        put(s);
    }
    for (uint16_t rotation : {90, 91, 180, 255}) {
        ResolvedStyle s;
        s.alignment.rotation = rotation;
        put(s);
    }
    {
        ResolvedStyle s; // with a default row height and column width set on the sheet
        s.font.name = "Arial";
        put(s);
        styles.defaultColWidth = 10.71;
        styles.defaultRowHeight = 15;
    }
    const Underline underlines[] = {Underline::None, Underline::Single, Underline::Double, Underline::SingleAccounting,
                                    Underline::DoubleAccounting};
    for (int i = 0; i < 10; ++i) {
        ResolvedStyle s;
        s.font.name = i % 2 ? "Arial" : "Times New Roman";
        s.font.size = 8 + i * 1.5;
        s.font.bold = i % 2 == 0;
        s.font.italic = i % 3 == 0;
        s.font.strike = i % 4 == 0;
        s.font.underline = underlines[i % 5];
        s.font.vertAlign = static_cast<VertAlign>(i % 3);
        s.font.color = Color::Rgb(0xFF000000 | (0x10101 * (i * 25)));
        put(s);
    }
    for (const char* code : {"0.00", "yyyy-mm-dd", "#,##0.00\\ \"\xE2\x82\xAC\"", "@", "[h]:mm:ss", "0%"}) {
        ResolvedStyle s;
        s.numFmt = code;
        put(s);
    }

    Worksheet& layout = book.Sheet(2);
    layout.SetNumber(0, 0, 1);
    layout.SetNumber(70, 10, 2);
    ColumnInfo col;
    col.first = 1;
    col.last = 3;
    col.width = 17.25;
    col.customWidth = true;
    layout.SetColumn(col);
    col.first = 5;
    col.last = 5;
    col.width = 4.5;
    col.hidden = true;
    layout.SetColumn(col);
    Row& tall = layout.RowAt(0);
    tall.height = 33.75f;
    tall.customHeight = true;
    Row& hidden = layout.RowAt(4);
    hidden.height = 15;
    hidden.customHeight = true;
    hidden.hidden = true;
    layout.merges.push_back({10, 0, 12, 3});
    layout.merges.push_back({20, 5, 20, 9});
    layout.hyperlinks.push_back({{0, 0, 0, 0}, "https://example.com/x", "", "tip", "shown"});
    layout.hyperlinks.push_back({{1, 0, 1, 1}, "", "Values!A1", "", ""});
    layout.hyperlinks.push_back({{2, 0, 2, 0}, "../../totals/q3.xls", "", "", ""});
    layout.hyperlinks.push_back({{3, 0, 3, 0}, "C:\\reports\\m\xC3\xA4rz.xlsx", "Sheet1!B2", "", ""});
    book.SetActiveSheet(2); // hidden: the first visible sheet opens instead
    layout.frozenRows = 1;
    layout.frozenCols = 2;

    std::unique_ptr<Workbook> back;
    ASSERT_NO_THROW(back = ReadBack(book));
    EXPECT_EQ(CompareWorkbooks("built model", book, *back), 0u);
    EXPECT_EQ(back->ActiveSheet(), 0u);
}

// Every xlsx workbook of the corpus that fits BIFF8 survives xlsx -> model -> xls -> model.
TEST(XlsWriterRoundTrip, CorpusWorkbooksSurviveXls)
{
    std::filesystem::path corpus = CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "the corpus is not here";
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(corpus / "files")) {
        if (entry.path().extension() == ".xlsx" || entry.path().extension() == ".xls") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    size_t compared = 0, tooLarge = 0, unreadable = 0;
    for (const auto& file : files) {
        std::unique_ptr<Workbook> in;
        try {
            in = OpenWorkbookFile(file.string());
            for (size_t s = 0; s < in->SheetCount(); ++s) {
                in->Sheet(s);
            }
        } catch (const EngineError&) {
            ++unreadable; // broken or protected on purpose: the xlsx reader's tests cover them
            continue;
        }
        std::vector<uint8_t> bytes;
        try {
            bytes = WriteToMemory(*in);
        } catch (const LimitError&) {
            ++tooLarge; // beyond the BIFF8 grid or its 4,000 formats: refused, as it must be
            continue;
        }
        std::unique_ptr<Workbook> out;
        try {
            out = ReadXls(InputBytes::FromMemory(std::move(bytes), file.filename().string() + ".xls"));
        } catch (const EngineError& e) {
            ADD_FAILURE() << file.filename() << ": our reader refused what we wrote: " << e.what();
            continue;
        }
        CompareWorkbooks(file.filename().string(), *in, *out);
        ++compared;
    }
    std::printf("[ corpus ] %zu xlsx and xls workbooks compared, %zu refused for BIFF8 limits, %zu unreadable\n",
                compared, tooLarge, unreadable);
    EXPECT_GE(compared, files.size() / 2) << "most corpus workbooks should fit BIFF8";
}

} // namespace
} // namespace gq::test::xls
