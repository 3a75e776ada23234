// Tests of the BIFF8 .xls writer: models built in code, written, and read back by xlrd (an
// independent reader) and by a strict walk over the records and the compound file.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/WorkbookFile.h"
#include "tests/engine/XlsWriterTestUtil.h"

#include <cmath>
#include <fstream>
#include <limits>

namespace gq::test::xls {
namespace {

using namespace gq::engine;

class XlsWriterXlrd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveXlrd()) {
            GTEST_SKIP() << "Debian's python3-xlrd is not installed";
        }
    }

    XlrdView WriteAndDump(Workbook& book, const std::string& name = "out.xls")
    {
        std::string path = m_dir.File(name);
        SaveBytes(WriteToMemory(book), path);
        XlrdView view = XlrdDump(path);
        EXPECT_EQ(view.other, "") << "xlrd complained";
        return view;
    }

    TempDir m_dir;
};

// ---- Values and types -----------------------------------------------------------------------------

struct NumberCase {
    const char* what;
    double value;
};

// Values around every RK form's edges: 30-bit integers, integers divided by 100, doubles whose low
// 34 bits are zero (with and without the division), and values that need a full Number record.
const NumberCase kNumbers[] = {
    {"zero", 0.0},
    {"negative zero", -0.0},
    {"one", 1.0},
    {"small integer", 42.0},
    {"negative integer", -7.0},
    {"largest RK integer", 536870911.0},
    {"smallest RK integer", -536870912.0},
    {"just past the RK integer range", 536870912.0},
    {"just below the RK integer range", -536870913.0},
    {"a half", 0.5},
    {"short double", 1.5},
    {"cents", 0.01},
    {"negative cents", -12.34},
    {"price", 1234567.89},
    {"hundredths beyond integer*100 range", 5368709.13},
    {"pi", 3.141592653589793},
    {"one third", 1.0 / 3.0},
    {"large", 1e300},
    {"tiny", 1e-300},
    {"denormal", 5e-324},
    {"2^40", 1099511627776.0},
    {"date serial with time", 45123.75},
    {"0.1 + 0.2", 0.1 + 0.2},
    {"largest double", std::numeric_limits<double>::max()},
};

TEST_F(XlsWriterXlrd, NumbersComeBackBitForBit)
{
    Workbook book;
    book.InsertSheet(0, "Numbers");
    Worksheet& sheet = book.Sheet(0);
    uint32_t row = 0;
    for (const NumberCase& c : kNumbers) {
        sheet.SetNumber(row, 0, c.value);
        // The same value in a run of neighbours, which goes through MulRk when it is an RK.
        sheet.SetNumber(row, 1, c.value);
        sheet.SetNumber(row, 2, c.value);
        ++row;
    }
    XlrdView view = WriteAndDump(book);
    row = 0;
    for (const NumberCase& c : kNumbers) {
        for (const char* col : {"A", "B", "C"}) {
            std::string ref = col + std::to_string(row + 1);
            EXPECT_TRUE(view.Has(Line({"cell", "Numbers", ref, "number", Bits(c.value)}))) << c.what << " at " << ref;
        }
        ++row;
    }
}

TEST_F(XlsWriterXlrd, EveryCellType)
{
    Workbook book;
    book.InsertSheet(0, "Types");
    Worksheet& sheet = book.Sheet(0);
    auto& strings = book.Strings();
    struct TextCase {
        const char* ref;
        std::string text;
    };
    const std::vector<TextCase> texts = {
        {"A1", "plain ASCII"},
        {"A2", ""},
        {"A3", "Latin-1: d\xC3\xA9j\xC3\xA0 vu \xC2\xA9 \xC3\xBF"},
        {"A4", "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E and ASCII"},
        {"A5", "emoji \xF0\x9F\x98\x80 outside the BMP"},
        {"A6", "two\nlines\tand a tab \"quoted\" \\ backslash"},
        {"A7", "  leading and trailing spaces  "},
    };
    CellRef ref;
    for (const TextCase& t : texts) {
        ASSERT_TRUE(ParseCellName(t.ref, ref));
        sheet.SetString(ref.row, ref.col, strings.Intern(t.text));
    }
    sheet.SetString(7, 0, strings.Intern("plain ASCII")); // shared: one SST entry, two cells
    sheet.SetBoolean(0, 1, true);
    sheet.SetBoolean(1, 1, false);
    const ErrorCode errors[] = {ErrorCode::Null, ErrorCode::Div0, ErrorCode::Value, ErrorCode::Ref,
                                ErrorCode::Name, ErrorCode::Num,  ErrorCode::NA};
    for (uint32_t i = 0; i < std::size(errors); ++i) {
        sheet.SetError(i, 2, errors[i]);
    }
    // A formula keeps only its cached result, which is what is written.
    sheet.SetNumber(0, 3, 12.5);
    sheet.CellAt(0, 3).formula = true;
    // Numbers BIFF cannot hold become #NUM!.
    sheet.SetNumber(1, 3, std::numeric_limits<double>::infinity());
    sheet.SetNumber(2, 3, std::nan(""));
    // Styled blanks: one alone, three in a run (MulBlank).
    ResolvedStyle filled;
    filled.fill.pattern = PatternType::Solid;
    filled.fill.fg = Color::Rgb(0xFFFFFF00);
    uint32_t xf = book.Styles().InternStyle(filled);
    sheet.SetBlank(0, 5, xf);
    sheet.SetBlank(2, 5, xf);
    sheet.SetBlank(2, 6, xf);
    sheet.SetBlank(2, 7, xf);

    XlrdView view = WriteAndDump(book);
    for (const TextCase& t : texts) {
        EXPECT_TRUE(view.Has(Line({"cell", "Types", t.ref, "text", t.text}))) << t.ref;
    }
    EXPECT_TRUE(view.Has(Line({"cell", "Types", "A8", "text", "plain ASCII"})));
    EXPECT_TRUE(view.Has(Line({"cell", "Types", "B1", "boolean", 1})));
    EXPECT_TRUE(view.Has(Line({"cell", "Types", "B2", "boolean", 0})));
    for (uint32_t i = 0; i < std::size(errors); ++i) {
        EXPECT_TRUE(
            view.Has(Line({"cell", "Types", "C" + std::to_string(i + 1), "error", static_cast<int>(errors[i])})))
            << ErrorText(errors[i]);
    }
    EXPECT_TRUE(view.Has(Line({"cell", "Types", "D1", "number", Bits(12.5)})));
    EXPECT_TRUE(view.Has(Line({"cell", "Types", "D2", "error", 0x24})));
    EXPECT_TRUE(view.Has(Line({"cell", "Types", "D3", "error", 0x24})));
    for (const char* blank : {"F1", "F3", "G3", "H3"}) {
        EXPECT_TRUE(view.Has(Line({"cell", "Types", blank, "blank", ""}))) << blank;
        EXPECT_TRUE(view.Has(Line({"fill", "Types", blank, 1, "FFFF00", "auto"}))) << blank;
    }
}

TEST_F(XlsWriterXlrd, DateSystemAndDateCells)
{
    for (bool date1904 : {false, true}) {
        Workbook book;
        book.InsertSheet(0, "Dates");
        book.SetDate1904(date1904);
        ResolvedStyle style;
        style.numFmt = "yyyy-mm-dd hh:mm";
        book.Sheet(0).SetNumber(0, 0, 40000.5, book.Styles().InternStyle(style));
        XlrdView view = WriteAndDump(book, date1904 ? "d1904.xls" : "d1900.xls");
        EXPECT_TRUE(view.Has(Line({"book", date1904 ? 1 : 0, 1, 0})));
        EXPECT_TRUE(view.Has(Line({"cell", "Dates", "A1", "date", Bits(40000.5)})));
        EXPECT_TRUE(view.Has(Line({"numfmt", "Dates", "A1", "yyyy-mm-dd hh:mm"})));
    }
}

// ---- Shared strings across Continue records ---------------------------------------------------

TEST_F(XlsWriterXlrd, LongSharedStringTableAcrossContinueRecords)
{
    Workbook book;
    book.InsertSheet(0, "Strings");
    Worksheet& sheet = book.Sheet(0);
    std::vector<std::string> texts;
    // Many short strings fill the SST record and several Continue records, so that string
    // headers land next to record boundaries at many different offsets.
    for (int i = 0; i < 3000; ++i) {
        texts.push_back("item " + std::to_string(i * 7919) + (i % 3 == 0 ? " \xC3\xA9" : ""));
        if (i % 5 == 0) {
            texts.push_back("\xCE\xB1\xCE\xB2 " + std::to_string(i)); // UTF-16 (Greek)
        }
    }
    // Strings longer than a record: split once or more, compressed and UTF-16.
    texts.push_back(std::string(10000, 'x'));
    texts.push_back(std::string(20000, 'y') + "\xC3\xA9");
    std::string greek;
    for (int i = 0; i < 9000; ++i) {
        greek += "\xCF\x89";
    }
    texts.push_back(greek);
    // Surrogate pairs over a boundary would be split by a careless writer; shifting the start by
    // one to three characters makes sure some pair meets a boundary.
    std::string emoji;
    for (int i = 0; i < 5000; ++i) {
        emoji += "\xF0\x9F\x98\x80";
    }
    for (const char* prefix : {"", "a", "\xCE\xB1\xCE\xB1", "abc"}) {
        texts.push_back(prefix + emoji);
    }
    // The longest text a cell may hold.
    texts.push_back(std::string(32767, 'z'));
    for (uint32_t i = 0; i < texts.size(); ++i) {
        sheet.SetString(i, 0, book.Strings().Intern(texts[i]));
    }

    std::vector<uint8_t> bytes = WriteToMemory(book);
    std::vector<Record> records = Records(ReadOnlyStream(bytes));
    EXPECT_EQ(CountType(records, 0x00FC), 1u);
    EXPECT_GE(CountType(records, 0x003C), 20u) << "the table should need many Continue records";
    EXPECT_EQ(CountType(records, 0x00FF), 1u);

    std::string path = m_dir.File("sst.xls");
    SaveBytes(bytes, path);
    XlrdView view = XlrdDump(path);
    EXPECT_EQ(view.other, "");
    for (uint32_t i = 0; i < texts.size(); ++i) {
        EXPECT_TRUE(view.Has(Line({"cell", "Strings", "A" + std::to_string(i + 1), "text", texts[i]})))
            << "row " << i + 1 << " (" << texts[i].size() << " bytes)";
    }
}

// ExtSST must point at the strings it claims to: every bucket's stream offset holds a string
// header whose character count matches the SST entry it indexes.
TEST(XlsWriterRecords, ExtSstPointsAtStringStarts)
{
    Workbook book;
    book.InsertSheet(0, "S");
    // Unique strings of varying length: string k is k's digits and then k % 40 letters.
    auto text = [](size_t k) { return std::to_string(k) + std::string(k % 40, static_cast<char>('a' + k % 26)); };
    for (uint32_t i = 0; i < 2000; ++i) {
        book.Sheet(0).SetString(i, 0, book.Strings().Intern(text(i)));
    }
    std::vector<uint8_t> stream = ReadOnlyStream(WriteToMemory(book));
    std::vector<Record> records = Records(stream);
    auto ext = std::find_if(records.begin(), records.end(), [](const Record& r) { return r.type == 0x00FF; });
    ASSERT_NE(ext, records.end());
    uint16_t dsst = Get16(ext->body, 0);
    size_t buckets = (ext->body.size() - 2) / 8;
    ASSERT_GE(dsst, 8);
    EXPECT_EQ(buckets, (2000 + dsst - 1) / dsst);
    for (size_t b = 0; b < buckets; ++b) {
        uint32_t ib = Get32(ext->body, 2 + 8 * b);
        uint16_t cbOffset = Get16(ext->body, 6 + 8 * b);
        size_t k = b * dsst; // the SST index of the bucket's first string
        EXPECT_EQ(Get16(stream, ib), text(k).size()) << "bucket " << b;
        EXPECT_EQ(stream.at(ib + 3), static_cast<uint8_t>(text(k)[0])) << "bucket " << b;
        EXPECT_EQ(stream.at(ib + 2), 0) << "bucket " << b;
        // cbOffset counts from the start of the record (SST or Continue) holding the string.
        uint16_t type = Get16(stream, ib - cbOffset);
        EXPECT_TRUE(type == 0x00FC || type == 0x003C) << "bucket " << b;
    }
}

// ---- Styles ---------------------------------------------------------------------------------------

// The fields of a dump line after the kind, sheet and cell reference.
std::string Tail(std::initializer_list<JsonField> fields)
{
    std::string line = Line(fields);
    return line.substr(1, line.size() - 2);
}

struct StyleCase {
    std::string what;
    ResolvedStyle style;
    std::string kind; // which dump line to check
    std::string tail; // its fields after the cell reference
};

std::vector<StyleCase> StyleCases()
{
    std::vector<StyleCase> cases;
    auto add = [&](std::string what, auto change, std::string kind, std::string tail) {
        ResolvedStyle style;
        style.font.name = "Arial";
        style.font.size = 10;
        change(style);
        cases.push_back({std::move(what), style, std::move(kind), std::move(tail)});
    };
    using S = ResolvedStyle;
    // Fonts: every attribute, colours, more than four fonts (BIFF has no font 4).
    add(
        "plain font", [](S&) {}, "font", Tail({"Arial", 200, false, false, 0, false, 0, "auto"}));
    add(
        "bold", [](S& s) { s.font.bold = true; }, "font", Tail({"Arial", 200, true, false, 0, false, 0, "auto"}));
    add(
        "italic 14.5pt",
        [](S& s) {
            s.font.italic = true;
            s.font.size = 14.5;
        },
        "font", Tail({"Arial", 290, false, true, 0, false, 0, "auto"}));
    add(
        "strike", [](S& s) { s.font.strike = true; }, "font", Tail({"Arial", 200, false, false, 0, true, 0, "auto"}));
    add(
        "underline", [](S& s) { s.font.underline = Underline::Single; }, "font",
        Tail({"Arial", 200, false, false, 1, false, 0, "auto"}));
    add(
        "double underline", [](S& s) { s.font.underline = Underline::Double; }, "font",
        Tail({"Arial", 200, false, false, 2, false, 0, "auto"}));
    add(
        "accounting underline", [](S& s) { s.font.underline = Underline::SingleAccounting; }, "font",
        Tail({"Arial", 200, false, false, 0x21, false, 0, "auto"}));
    add(
        "double accounting underline", [](S& s) { s.font.underline = Underline::DoubleAccounting; }, "font",
        Tail({"Arial", 200, false, false, 0x22, false, 0, "auto"}));
    add(
        "superscript", [](S& s) { s.font.vertAlign = VertAlign::Superscript; }, "font",
        Tail({"Arial", 200, false, false, 0, false, 1, "auto"}));
    add(
        "subscript", [](S& s) { s.font.vertAlign = VertAlign::Subscript; }, "font",
        Tail({"Arial", 200, false, false, 0, false, 2, "auto"}));
    add(
        "red font", [](S& s) { s.font.color = Color::Rgb(0xFFFF0000); }, "font",
        Tail({"Arial", 200, false, false, 0, false, 0, "FF0000"}));
    add(
        "theme-like font colour",
        [](S& s) {
            s.font.name = "Times New Roman";
            s.font.size = 8;
            s.font.color = Color::Rgb(0xFF1F497D);
        },
        "font", Tail({"Times New Roman", 160, false, false, 0, false, 0, "1F497D"}));
    add(
        "CJK font name", [](S& s) { s.font.name = "\xE5\xAE\x8B\xE4\xBD\x93"; }, "font",
        Tail({"\xE5\xAE\x8B\xE4\xBD\x93", 200, false, false, 0, false, 0, "auto"}));
    add(
        "bold italic 20pt",
        [](S& s) {
            s.font.bold = s.font.italic = true;
            s.font.size = 20;
        },
        "font", Tail({"Arial", 400, true, true, 0, false, 0, "auto"}));
    // Fills.
    add(
        "solid fill",
        [](S& s) {
            s.fill = {PatternType::Solid, Color::Rgb(0xFFFF0000), {}};
        },
        "fill", Tail({1, "FF0000", "auto"}));
    add(
        "dark grid",
        [](S& s) {
            s.fill = {PatternType::DarkGrid, Color::Rgb(0xFF0000FF), Color::Rgb(0xFFFFFF00)};
        },
        "fill", Tail({9, "0000FF", "FFFF00"}));
    add(
        "gray125 automatic",
        [](S& s) {
            s.fill = {PatternType::Gray125, {}, {}};
        },
        "fill", Tail({17, "auto", "auto"}));
    add(
        "gray0625",
        [](S& s) {
            s.fill = {PatternType::Gray0625, Color::Rgb(0xFF00FF00), Color::Automatic()};
        },
        "fill", Tail({18, "00FF00", "auto"}));
    add(
        "custom fill colour",
        [](S& s) {
            s.fill = {PatternType::Solid, Color::Rgb(0xFFDDEBF7), {}};
        },
        "fill", Tail({1, "DDEBF7", "auto"}));
    // Borders: all thirteen line styles, colours, diagonals.
    const char* sides[] = {"left", "right", "top", "bottom"};
    for (int k = 1; k <= 13; ++k) {
        std::string side = sides[k % 4];
        add(
            "border style " + std::to_string(k),
            [k](S& s) {
                BorderLine line{static_cast<BorderStyle>(k), Color::Rgb(k % 2 ? 0xFF008000 : 0xFF3A5FCD)};
                (k % 4 == 0   ? s.border.left
                 : k % 4 == 1 ? s.border.right
                 : k % 4 == 2 ? s.border.top
                              : s.border.bottom) = line;
            },
            "border", Tail({side, k, k % 2 ? "008000" : "3A5FCD"}));
    }
    add(
        "automatic border colour",
        [](S& s) {
            s.border.bottom = {BorderStyle::Thin, {}};
        },
        "border", Tail({"bottom", 1, "auto"}));
    add(
        "diagonal up",
        [](S& s) {
            s.border.diagonal = {BorderStyle::DashDot, Color::Rgb(0xFFFF00FF)};
            s.border.diagonalUp = true;
        },
        "border", Tail({"diag-up", 9, "FF00FF"}));
    add(
        "diagonal down",
        [](S& s) {
            s.border.diagonal = {BorderStyle::Thick, Color::Rgb(0xFF000000)};
            s.border.diagonalDown = true;
        },
        "border", Tail({"diag-down", 5, "000000"}));
    // Alignment.
    for (int h = 0; h <= 7; ++h) {
        add(
            "horizontal " + std::to_string(h),
            [h](S& s) {
                s.alignment.horizontal = static_cast<HAlign>(h);
                s.alignment.vertical = static_cast<VAlign>(h % 5);
            },
            "align", Tail({h, h % 5, 0, 0, false, false}));
    }
    for (int rotation : {45, 90, 135, 180, 255}) {
        add(
            "rotation " + std::to_string(rotation),
            [rotation](S& s) { s.alignment.rotation = static_cast<uint16_t>(rotation); }, "align",
            Tail({0, 2, rotation, 0, false, false}));
    }
    add(
        "indent, wrap",
        [](S& s) {
            s.alignment.horizontal = HAlign::Left;
            s.alignment.indent = 3;
            s.alignment.wrap = true;
        },
        "align", Tail({1, 2, 0, 3, true, false}));
    add(
        "shrink",
        [](S& s) {
            s.alignment.shrink = true;
            s.alignment.vertical = VAlign::Top;
        },
        "align", Tail({0, 0, 0, 0, false, true}));
    // Protection.
    add(
        "unlocked, hidden",
        [](S& s) {
            s.protection = {false, true};
        },
        "protect", Tail({false, true}));
    add(
        "locked", [](S&) {}, "protect", Tail({true, false}));
    // Number formats: built-in, custom, Unicode custom, locale-dependent built-in, text.
    for (const char* code : {"0.00", "yyyy-mm-dd", "#,##0.00\\ \"\xE2\x82\xAC\"", "\"$\"#,##0_);(\"$\"#,##0)", "@",
                             "[Red]0.0%;[Blue]-0.0%", "0.000E+00"}) {
        add(
            std::string("number format ") + code, [code](S& s) { s.numFmt = code; }, "numfmt", Tail({code}));
    }
    return cases;
}

TEST_F(XlsWriterXlrd, StylesOfEveryKind)
{
    Workbook book;
    book.InsertSheet(0, "Styles");
    std::vector<StyleCase> cases = StyleCases();
    for (uint32_t i = 0; i < cases.size(); ++i) {
        book.Sheet(0).SetNumber(i, 0, i, book.Styles().InternStyle(cases[i].style));
    }
    XlrdView view = WriteAndDump(book);
    for (uint32_t i = 0; i < cases.size(); ++i) {
        std::string expected =
            "[" + Tail({cases[i].kind, "Styles", "A" + std::to_string(i + 1)}) + "," + cases[i].tail + "]";
        EXPECT_TRUE(view.Has(expected)) << cases[i].what << ": expected " << expected;
    }
}

// Styles are de-duplicated across the whole output: the same look on two sheets is one XF, and
// model formats that differ only in what BIFF cannot tell apart share one too.
TEST(XlsWriterRecords, CellFormatsAreSharedAcrossSheets)
{
    Workbook book;
    for (int s = 0; s < 3; ++s) {
        size_t index = book.InsertSheet(book.SheetCount(), "S" + std::to_string(s));
        for (uint32_t r = 0; r < 50; ++r) {
            ResolvedStyle style;
            style.font.bold = r % 2 == 0;
            style.numFmt = r % 3 == 0 ? "0.00" : "General";
            book.Sheet(index).SetNumber(r, 0, r, book.Styles().InternStyle(style));
        }
    }
    // Colours differing only in alpha, which BIFF does not store.
    ResolvedStyle a, b;
    a.font.color = Color::Rgb(0xFF00FF00);
    b.font.color = Color::Rgb(0x8000FF00);
    book.Sheet(0).SetNumber(60, 0, 1, book.Styles().InternStyle(a));
    book.Sheet(0).SetNumber(61, 0, 1, book.Styles().InternStyle(b));
    std::vector<Record> records = Records(ReadOnlyStream(WriteToMemory(book)));
    // 15 style XFs; cell XFs: the default (plain, General), bold General, bold 0.00, plain 0.00, green.
    EXPECT_EQ(CountType(records, 0x00E0), 15u + 4u + 1u);
}

// ---- Palette ----------------------------------------------------------------------------------------

struct PaletteCase {
    const char* what;
    std::vector<uint32_t> colours;
    size_t exact; // how many of them must come back exactly
};

TEST_F(XlsWriterXlrd, ColoursAreMappedOntoThePalette)
{
    std::vector<uint32_t> many;
    for (uint32_t i = 0; i < 80; ++i) {
        // Distinct, none of them in the default palette.
        many.push_back(0xFF000000 | ((17 + i * 3) << 16) | ((200 - i * 2) << 8) | (7 + i));
    }
    std::vector<uint32_t> defaults = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFF333333, 0xFF969696};
    std::vector<uint32_t> mixed = defaults;
    mixed.insert(mixed.end(), many.begin(), many.begin() + 60);
    const PaletteCase cases[] = {
        {"default colours", defaults, defaults.size()},
        {"a few custom colours", {0xFF123456, 0xFFABCDEF, 0xFF0F0F0F}, 3},
        {"more colours than the palette holds", many, 56},
        {"defaults kept while custom ones fill the rest", mixed, 56},
    };
    int n = 0;
    for (const PaletteCase& c : cases) {
        Workbook book;
        book.InsertSheet(0, "P");
        for (uint32_t i = 0; i < c.colours.size(); ++i) {
            ResolvedStyle style;
            style.fill = {PatternType::Solid, Color::Rgb(c.colours[i]), {}};
            book.Sheet(0).SetNumber(i, 0, i, book.Styles().InternStyle(style));
        }
        XlrdView view = WriteAndDump(book, "palette" + std::to_string(n++) + ".xls");
        std::vector<uint32_t> got(c.colours.size(), 0);
        size_t exact = 0;
        std::set<uint32_t> exactSet;
        for (uint32_t i = 0; i < c.colours.size(); ++i) {
            std::string prefix = Line({"fill", "P", "A" + std::to_string(i + 1)});
            prefix.pop_back();
            auto it = std::find_if(view.lines.begin(), view.lines.end(),
                                   [&](const std::string& l) { return l.rfind(prefix + ",", 0) == 0; });
            ASSERT_NE(it, view.lines.end()) << c.what << " row " << i;
            // ["fill","P","A1",1,"RRGGBB","auto"]
            size_t q = it->find(",1,\"", prefix.size());
            ASSERT_NE(q, std::string::npos) << *it;
            got[i] = static_cast<uint32_t>(std::stoul(it->substr(q + 4, 6), nullptr, 16));
            if (got[i] == (c.colours[i] & 0xFFFFFF)) {
                ++exact;
                exactSet.insert(got[i]);
            }
        }
        EXPECT_EQ(exact, c.exact) << c.what;
        if (c.colours.size() <= 56) {
            continue;
        }
        // The rest get the nearest entry of the palette that was written.
        for (uint32_t i = 0; i < c.colours.size(); ++i) {
            uint32_t want = c.colours[i] & 0xFFFFFF;
            if (got[i] == want) {
                continue;
            }
            auto distance = [](uint32_t x, uint32_t y) {
                long d = 0;
                for (int shift : {16, 8, 0}) {
                    long delta = static_cast<long>((x >> shift) & 0xFF) - static_cast<long>((y >> shift) & 0xFF);
                    d += delta * delta;
                }
                return d;
            };
            for (uint32_t other : exactSet) {
                EXPECT_LE(distance(want, got[i]), distance(want, other)) << c.what << " row " << i;
            }
        }
    }
}

// ---- Sheets, layout, merges, hyperlinks ---------------------------------------------------------

TEST_F(XlsWriterXlrd, SheetNamesStatesAndActiveSheet)
{
    Workbook book;
    const std::vector<std::pair<std::string, SheetState>> sheets = {
        {"Plain", SheetState::Visible},
        {"Donn\xC3\xA9"
         "es 2024",
         SheetState::Hidden},
        {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", SheetState::VeryHidden},
        {"\xCE\xA3\xCF\x8D\xCE\xBD\xCE\xBF\xCF\x88\xCE\xB7 \xE2\x9C\x93", SheetState::Visible},
        {std::string(31, 'L'), SheetState::Visible},
    };
    for (const auto& [name, state] : sheets) {
        size_t i = book.InsertSheet(book.SheetCount(), name, state);
        book.Sheet(i).SetNumber(0, 0, static_cast<double>(i));
    }
    book.SetActiveSheet(3);
    XlrdView view = WriteAndDump(book);
    EXPECT_TRUE(view.Has(Line({"book", 0, 5, 3})));
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(view.Has(Line({"sheet", i, sheets[i].first, static_cast<int>(sheets[i].second)}))) << i;
        EXPECT_TRUE(view.Has(Line({"cell", sheets[i].first, "A1", "number", Bits(i)}))) << i;
    }
}

TEST_F(XlsWriterXlrd, ColumnWidthsRowHeightsAndFrozenPanes)
{
    Workbook book;
    book.InsertSheet(0, "Layout");
    Worksheet& sheet = book.Sheet(0);
    struct WidthCase {
        uint32_t first, last;
        double width;
        bool hidden;
        int coldx; // width * 256, rounded
    };
    const WidthCase widths[] = {
        {0, 0, 8.43, false, 2158}, {1, 3, 20.5, false, 5248},    {4, 4, 0.71, false, 182},
        {5, 5, 12.0, true, 3072},  {200, 255, 3.14, false, 804},
    };
    for (const WidthCase& w : widths) {
        ColumnInfo info;
        info.first = w.first;
        info.last = w.last;
        info.width = w.width;
        info.customWidth = true;
        info.hidden = w.hidden;
        sheet.SetColumn(info);
    }
    // Styling all xlsx columns must not fail: the part inside the grid is written.
    ColumnInfo wide;
    wide.first = 250;
    wide.last = 16383;
    wide.width = 5;
    wide.customWidth = true;
    sheet.SetColumn(wide);
    struct HeightCase {
        uint32_t row;
        float height;
        bool custom, hidden;
        int twips;
    };
    const HeightCase heights[] = {{0, 30, true, false, 600},
                                  {1, 8.25f, true, false, 165},
                                  {2, 15, false, true, 300},
                                  {65535, 409.5f, true, false, 8190}};
    for (const HeightCase& h : heights) {
        Row& row = sheet.RowAt(h.row);
        row.height = h.height;
        row.customHeight = h.custom;
        row.hidden = h.hidden;
        sheet.SetNumber(h.row, 0, 1);
    }
    sheet.frozenRows = 2;
    sheet.frozenCols = 1;
    XlrdView view = WriteAndDump(book);
    for (const WidthCase& w : widths) {
        for (uint32_t c = w.first; c <= std::min(w.last, 249u); ++c) {
            EXPECT_TRUE(view.Has(Line({"col", "Layout", static_cast<int>(c), w.coldx, w.hidden}))) << "column " << c;
        }
    }
    for (int c = 250; c <= 255; ++c) {
        EXPECT_TRUE(view.Has(Line({"col", "Layout", c, 1280, false}))) << "column " << c;
    }
    for (const HeightCase& h : heights) {
        EXPECT_TRUE(view.Has(Line({"row", "Layout", static_cast<int>(h.row), h.twips, h.custom, h.hidden})))
            << "row " << h.row;
    }
    EXPECT_TRUE(view.Has(Line({"freeze", "Layout", 2, 1})));
}

TEST_F(XlsWriterXlrd, MoreMergedRangesThanOneRecordHolds)
{
    Workbook book;
    book.InsertSheet(0, "Merges");
    Worksheet& sheet = book.Sheet(0);
    constexpr uint32_t kCount = 2100; // two full MergeCells records and a partial one
    for (uint32_t i = 0; i < kCount; ++i) {
        sheet.merges.push_back({i, (i % 2) * 3, i, (i % 2) * 3 + 1 + i % 3});
        sheet.SetNumber(i, (i % 2) * 3, i);
    }
    sheet.merges.push_back({0, 200, 65535, 255}); // up to the grid's far corner
    std::vector<uint8_t> bytes = WriteToMemory(book);
    std::vector<Record> records = Records(ReadOnlyStream(bytes));
    size_t total = 0;
    for (const Record& r : records) {
        if (r.type == 0x00E5) {
            size_t count = Get16(r.body, 0);
            EXPECT_LE(count, 1026u);
            EXPECT_EQ(r.body.size(), 2 + 8 * count);
            total += count;
        }
    }
    EXPECT_EQ(CountType(records, 0x00E5), 3u);
    EXPECT_EQ(total, kCount + 1);

    std::string path = m_dir.File("merges.xls");
    SaveBytes(bytes, path);
    XlrdView view = XlrdDump(path);
    EXPECT_EQ(view.CountPrefix("[\"merge\","), kCount + 1);
    for (uint32_t i = 0; i < kCount; i += 97) {
        EXPECT_TRUE(view.Has(Line({"merge", "Merges", RangeName(sheet.merges[i])}))) << i;
    }
    EXPECT_TRUE(view.Has(Line({"merge", "Merges", "GS1:IV65536"})));
}

TEST_F(XlsWriterXlrd, Hyperlinks)
{
    Workbook book;
    book.InsertSheet(0, "Links");
    book.InsertSheet(1, "Target sheet");
    Worksheet& sheet = book.Sheet(0);
    sheet.hyperlinks.push_back({{0, 0, 0, 0}, "https://example.com/a?b=c&d=%20", "", "Go there", "Example"});
    sheet.hyperlinks.push_back({{1, 0, 2, 1}, "mailto:someone@example.com", "", "", ""});
    sheet.hyperlinks.push_back({{3, 0, 3, 0}, "", "'Target sheet'!B7", "inside", ""});
    sheet.hyperlinks.push_back({{4, 0, 4, 0}, "https://example.com/\xC3\xA9t\xC3\xA9", "", "", "\xE6\x97\xA5"});
    sheet.hyperlinks.push_back({{5, 0, 5, 0}, "https://example.com/page", "section-2", "", ""});
    // Paths to files go into file monikers, "../" and all, with their UTF-16 copy: relative ones,
    // absolute ones and non-ASCII ones.
    sheet.hyperlinks.push_back({{6, 0, 6, 0}, "../../totals/q3.xls", "", "", ""});
    sheet.hyperlinks.push_back({{7, 0, 7, 0}, "C:\\reports\\march.xlsx", "Sheet1!B2", "", "March"});
    sheet.hyperlinks.push_back({{8, 0, 8, 0}, "r\xC3\xA9sum\xC3\xA9.xls", "", "", ""});
    XlrdView view = WriteAndDump(book);
    EXPECT_TRUE(view.Has(Line({"link", "Links", "A7", "../../totals/q3.xls", "", "", ""})));
    // A file with a place repeats the place as its display name, for gnumeric; it takes the place
    // of the link's own display text.
    EXPECT_TRUE(view.Has(Line({"link", "Links", "A8", "C:\\reports\\march.xlsx", "Sheet1!B2", "Sheet1!B2", ""})));
    EXPECT_TRUE(view.Has(Line({"link", "Links", "A9", "r\xC3\xA9sum\xC3\xA9.xls", "", "", ""})));
    EXPECT_TRUE(view.Has(Line({"link", "Links", "A1", "https://example.com/a?b=c&d=%20", "", "Example", "Go there"})));
    EXPECT_TRUE(view.Has(Line({"link", "Links", "A2:B3", "mailto:someone@example.com", "", "", ""})));
    EXPECT_TRUE(view.Has(Line({"link", "Links", "A4", "", "'Target sheet'!B7", "", "inside"})));
    EXPECT_TRUE(
        view.Has(Line({"link", "Links", "A5", "https://example.com/\xC3\xA9t\xC3\xA9", "", "\xE6\x97\xA5", ""})));
    // A web address with a place inside it is one URL with the place as its fragment.
    EXPECT_TRUE(view.Has(Line({"link", "Links", "A6", "https://example.com/page#section-2", "", "", ""})));

    // The engine reads its own links back as they were, but for the two joinings above.
    auto back = OpenWorkbookFile(m_dir.File("out.xls"));
    const auto& links = back->Sheet(0).hyperlinks;
    ASSERT_EQ(links.size(), sheet.hyperlinks.size());
    for (size_t i = 0; i < links.size(); ++i) {
        const Hyperlink& want = sheet.hyperlinks[i];
        SCOPED_TRACE(want.target + "#" + want.location);
        EXPECT_EQ(links[i].range, want.range);
        if (i == 4) {
            EXPECT_EQ(links[i].target, want.target + "#" + want.location);
            continue;
        }
        EXPECT_EQ(links[i].target, want.target);
        EXPECT_EQ(links[i].location, want.location);
        EXPECT_EQ(links[i].tooltip, want.tooltip);
        EXPECT_EQ(links[i].display, i == 6 ? "" : want.display);
    }
}

// ---- Determinism and limits -------------------------------------------------------------------------

void BuildMixedWorkbook(Workbook& book)
{
    book.InsertSheet(0, "One");
    book.InsertSheet(1, "Two", SheetState::Hidden);
    for (size_t s = 0; s < 2; ++s) {
        Worksheet& sheet = book.Sheet(s);
        for (uint32_t r = 0; r < 300; ++r) {
            ResolvedStyle style;
            style.font.bold = r % 7 == 0;
            style.fill = {r % 5 ? PatternType::None : PatternType::Solid, Color::Rgb(0xFF000000 | (r * 0x10203)), {}};
            uint32_t xf = book.Styles().InternStyle(style);
            sheet.SetNumber(r, 0, r * 1.25, xf);
            sheet.SetString(r, 1, book.Strings().Intern("text " + std::to_string(r % 40)));
            sheet.SetBoolean(r, 2, r % 2 == 0);
        }
        sheet.merges.push_back({0, 3, 1, 4});
        sheet.hyperlinks.push_back({{0, 5, 0, 5}, "https://example.com", "", "tip", ""});
    }
}

TEST(XlsWriterRecords, IdenticalInputGivesIdenticalBytes)
{
    Workbook first, second;
    BuildMixedWorkbook(first);
    BuildMixedWorkbook(second);
    std::vector<uint8_t> a = WriteToMemory(first);
    std::vector<uint8_t> b = WriteToMemory(first);
    std::vector<uint8_t> c = WriteToMemory(second);
    EXPECT_EQ(a, b) << "writing the same model twice";
    EXPECT_EQ(a, c) << "writing two equal models";
}

TEST(XlsWriterRecords, StreamLayoutAndSheetOffsets)
{
    Workbook book;
    BuildMixedWorkbook(book);
    std::u16string name;
    std::vector<uint8_t> stream = ReadOnlyStream(WriteToMemory(book), &name);
    EXPECT_EQ(name, u"Workbook");
    std::vector<Record> records = Records(stream);
    ASSERT_FALSE(records.empty());
    // Globals begin with a BIFF8 workbook BOF; CODEPAGE says UTF-16.
    EXPECT_EQ(records[0].type, 0x0809);
    EXPECT_EQ(Get16(records[0].body, 0), 0x0600);
    EXPECT_EQ(Get16(records[0].body, 2), 0x0005);
    auto codePage = std::find_if(records.begin(), records.end(), [](const Record& r) { return r.type == 0x0042; });
    ASSERT_NE(codePage, records.end());
    EXPECT_EQ(Get16(codePage->body, 0), 1200);
    // Each BoundSheet8 points at a worksheet BOF.
    size_t sheets = 0;
    for (const Record& r : records) {
        if (r.type == 0x0085) {
            uint32_t pos = Get32(r.body, 0);
            ASSERT_LT(pos + 8u, stream.size());
            EXPECT_EQ(Get16(stream, pos), 0x0809);
            EXPECT_EQ(Get16(stream, pos + 6), 0x0010) << "sheet " << sheets;
            ++sheets;
        }
    }
    EXPECT_EQ(sheets, 2u);
    // The XF table: 15 style XFs first (fStyle set), then cell XFs (fStyle clear) from index 15.
    size_t xf = 0;
    for (const Record& r : records) {
        if (r.type == 0x00E0) {
            bool isStyle = (Get16(r.body, 4) & 0x0004) != 0;
            EXPECT_EQ(isStyle, xf < 15) << "XF " << xf;
            ++xf;
        }
    }
    EXPECT_GT(xf, 15u);
    // Font records: font index 4 is skipped, so cell XFs never refer to it.
    for (const Record& r : records) {
        if (r.type == 0x00E0) {
            EXPECT_NE(Get16(r.body, 0), 4);
        }
    }
}

TEST(XlsWriterRecords, NumbersUseRkOnlyWhenExact)
{
    Workbook book;
    book.InsertSheet(0, "N");
    Worksheet& sheet = book.Sheet(0);
    // Alone in their rows so that single RK and Number records are used.
    const std::pair<double, bool> cases[] = {
        {1.0, true},        {-536870912.0, true}, {536870912.0, true /* low bits of the double are zero */},
        {0.01, true},       {1234567.89, true},   {3.141592653589793, false},
        {1.0 / 3.0, false}, {5368709.13, false},  {123456789.123, false},
    };
    uint32_t row = 0;
    for (const auto& [value, rk] : cases) {
        sheet.SetNumber(row, 0, value);
        row += 2;
    }
    std::vector<Record> records = Records(ReadOnlyStream(WriteToMemory(book)));
    row = 0;
    for (const auto& [value, rk] : cases) {
        auto it = std::find_if(records.begin(), records.end(), [&](const Record& r) {
            return (r.type == 0x027E || r.type == 0x0203) && Get16(r.body, 0) == row;
        });
        ASSERT_NE(it, records.end()) << value;
        EXPECT_EQ(it->type, rk ? 0x027E : 0x0203) << "value " << value;
        row += 2;
    }
}

struct LimitCase {
    const char* what;
    void (*build)(Workbook&);
    const char* mentions; // part of the message
    bool namesSheet;      // the message also names the sheet, "Data" (not for a workbook-wide limit or a renamed sheet)
};

const LimitCase kLimitCases[] = {
    {"row past 65,536", [](Workbook& b) { b.Sheet(0).SetNumber(65536, 0, 1); }, "A65537", true},
    {"column past IV", [](Workbook& b) { b.Sheet(0).SetNumber(0, 256, 1); }, "IW1", true},
    {"text past 32,767 characters",
     [](Workbook& b) { b.Sheet(0).SetString(4, 2, b.Strings().Intern(std::string(32768, 'a'))); }, "C5", true},
    {"text past 32,767 UTF-16 units",
     [](Workbook& b) {
         std::string text;
         for (int i = 0; i < 16384; ++i) {
             text += "\xF0\x9F\x98\x80"; // two units each
         }
         b.Sheet(0).SetString(0, 0, b.Strings().Intern(text));
     },
     "A1", true},
    {"merged range past the grid",
     [](Workbook& b) {
         b.Sheet(0).merges.push_back({65535, 0, 65536, 1});
     },
     "A65536:B65537", true},
    {"hyperlink past the grid",
     [](Workbook& b) {
         b.Sheet(0).hyperlinks.push_back({{0, 300, 0, 300}, "https://example.com", "", "", ""});
     },
     "KO1", true},
    {"more than 4,000 cell formats",
     [](Workbook& b) {
         for (uint32_t i = 0; i < 4001; ++i) {
             ResolvedStyle style;
             style.numFmt = "0." + std::string(1 + i % 30, '0') + ";" + std::to_string(i / 30);
             b.Sheet(0).SetNumber(i, 0, i, b.Styles().InternStyle(style));
         }
     },
     "4,000", false},
    {"sheet name too long for BIFF", [](Workbook& b) { b.SetSheetName(0, std::string(32, 'n')); }, "31", false},
};

TEST(XlsWriterLimits, ContentBeyondTheFormatFailsWithLimitError)
{
    for (const LimitCase& c : kLimitCases) {
        Workbook book;
        book.InsertSheet(0, "Data");
        c.build(book);
        MemorySink sink;
        try {
            WriteXls(book, sink);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const LimitError& e) {
            std::string message = e.what();
            EXPECT_NE(message.find(c.mentions), std::string::npos) << c.what << ": " << message;
            if (c.namesSheet) {
                EXPECT_NE(message.find("Data"), std::string::npos) << c.what << ": " << message;
            }
        }
        EXPECT_EQ(sink.Written(), 0u) << c.what << ": nothing may be written before the check";
    }
}

TEST(XlsWriterLimits, ContentAtTheEdgesIsWritten)
{
    Workbook book;
    book.InsertSheet(0, "Edge");
    Worksheet& sheet = book.Sheet(0);
    sheet.SetNumber(65535, 255, 1);
    sheet.SetString(0, 0, book.Strings().Intern(std::string(32767, 'a')));
    for (uint32_t i = 1; i < 4000; ++i) { // with the default format: exactly 4,000
        ResolvedStyle style;
        style.numFmt = "0." + std::string(1 + i % 30, '0') + ";" + std::to_string(i / 30);
        sheet.SetNumber(i, 1, i, book.Styles().InternStyle(style));
    }
    std::vector<Record> records;
    ASSERT_NO_THROW(records = Records(ReadOnlyStream(WriteToMemory(book))));
    EXPECT_EQ(CountType(records, 0x00E0), 15u + 4000u);
}

// ---- Outside readers: slow, so one mixed workbook each -------------------------------------------

TEST(XlsWriterOutsideReaders, GnumericAndLibreOfficeConvertWithoutComplaint)
{
    std::string out;
    bool haveSsconvert = RunCommand("command -v ssconvert", out) == 0;
    bool haveLibreOffice = RunCommand("command -v libreoffice", out) == 0;
    if (!haveSsconvert && !haveLibreOffice) {
        GTEST_SKIP() << "neither ssconvert nor libreoffice is installed";
    }
    Workbook book;
    book.InsertSheet(0, "Mixed");
    Worksheet& sheet = book.Sheet(0);
    sheet.SetNumber(0, 0, 1.5);
    sheet.SetNumber(0, 1, 123456789.125);
    sheet.SetString(0, 2, book.Strings().Intern("caf\xC3\xA9 \xE6\x97\xA5"));
    sheet.SetBoolean(1, 0, true);
    sheet.SetError(1, 1, ErrorCode::Div0);
    sheet.SetString(1, 2, book.Strings().Intern(std::string(9000, 'q')));
    sheet.merges.push_back({2, 0, 3, 1});
    ResolvedStyle style;
    style.fill = {PatternType::Solid, Color::Rgb(0xFF123456), {}};
    style.font.bold = true;
    sheet.SetNumber(4, 0, -0.25, book.Styles().InternStyle(style));
    TempDir dir;
    std::string path = dir.File("mixed.xls");
    SaveBytes(WriteToMemory(book), path);
    const std::vector<std::vector<std::string>> expected = {
        {"1.5", "123456789.125", "caf\xC3\xA9 \xE6\x97\xA5"},
        {"TRUE", "#DIV/0!", std::string(9000, 'q')},
        {"", "", ""},
        {"", "", ""},
        {"-0.25", "", ""},
    };
    // Fields without their optional quotes; none of ours holds a comma or a quote.
    auto readCsv = [](const std::string& file) {
        std::ifstream in(file);
        std::vector<std::vector<std::string>> rows;
        std::string line;
        while (std::getline(in, line)) {
            std::vector<std::string> fields;
            std::stringstream parts(line);
            std::string field;
            while (std::getline(parts, field, ',')) {
                if (field.size() >= 2 && field.front() == '"' && field.back() == '"') {
                    field = field.substr(1, field.size() - 2);
                }
                fields.push_back(field);
            }
            if (!line.empty() && line.back() == ',') {
                fields.emplace_back();
            }
            rows.push_back(fields);
        }
        return rows;
    };
    auto compare = [&](const char* reader, const std::vector<std::vector<std::string>>& got) {
        ASSERT_EQ(got.size(), expected.size()) << reader;
        for (size_t r = 0; r < expected.size(); ++r) {
            ASSERT_EQ(got[r].size(), expected[r].size()) << reader << " row " << r + 1;
            for (size_t c = 0; c < expected[r].size(); ++c) {
                EXPECT_TRUE(got[r][c] == expected[r][c])
                    << reader << " row " << r + 1 << " column " << c + 1 << ": got " << got[r][c].substr(0, 40) << " ("
                    << got[r][c].size() << " bytes)";
            }
        }
    };

    if (haveSsconvert) {
        std::string csv = dir.File("gnumeric.csv");
        int rc = RunCommand("ssconvert " + ShellQuote(path) + " " + ShellQuote(csv), out);
        EXPECT_EQ(rc, 0) << out;
        EXPECT_EQ(out, "") << "ssconvert complained";
        compare("ssconvert", readCsv(csv));
    }
    if (haveLibreOffice) {
        std::string profile = "file://" + dir.File("lo-profile");
        int rc = RunCommand("libreoffice --headless -env:UserInstallation=" + ShellQuote(profile) +
                                " --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76' --outdir " +
                                ShellQuote(dir.File("lo")) + " " + ShellQuote(path),
                            out);
        EXPECT_EQ(rc, 0) << out;
        // LibreOffice's CSV export writes booleans as 1 and 0, for files Excel wrote as well.
        auto rows = readCsv(dir.File("lo/mixed.csv"));
        if (rows.size() > 1 && !rows[1].empty() && rows[1][0] == "1") {
            rows[1][0] = "TRUE";
        }
        compare("LibreOffice", rows);
    }
}

} // namespace
} // namespace gq::test::xls
