// Tests of the xlsx writer: models built in code, written, checked by the ECMA-376 validator and
// read back by openpyxl (an independent reader) and by our own reader.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/WorkbookFile.h"
#include "engine/xlsx/XlsxReader.h"
#include "tests/engine/XlsxWriterTestUtil.h"

#include <cmath>
#include <limits>

namespace gq::test::xlsxw {
namespace {

using namespace gq::engine;

class XlsxWriterOpenpyxl : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!HaveValidator()) {
            GTEST_SKIP() << "the xlsx validator or Debian's python3-openpyxl/python3-lxml is not available";
        }
    }

    // Writes, validates and dumps.
    OpenpyxlView WriteAndDump(Workbook& book, const std::string& name = "out.xlsx")
    {
        std::string path = m_dir.File(name);
        SaveBytes(WriteToMemory(book), path);
        EXPECT_TRUE(PassesValidator(path));
        OpenpyxlView view = OpenpyxlDump(path);
        EXPECT_EQ(view.errors, "") << "openpyxl complained";
        return view;
    }

    TempDir m_dir;
};

#define EXPECT_LINE(view, line) EXPECT_TRUE(HasLine((view), (line)))

// A 31-character sheet name with apostrophes, an ampersand, XML specials and non-ASCII letters.
const std::string kAwkwardName = "D\xC3\xA9j\xC3\xA0 'Q1' & <Sales> \xCE\xA9 \xE2\x82\xAC 2024 ok";

// ---- Values and types ----------------------------------------------------------------------------

struct NumberCase {
    const char* what;
    double value;
};

TEST_F(XlsxWriterOpenpyxl, NumbersComeBackBitForBit)
{
    const NumberCase cases[] = {
        {"zero", 0.0},
        {"integer", 42},
        {"negative integer", -1234567},
        {"fraction", 0.1},
        {"third", 1.0 / 3.0},
        {"large integer past 1e15", 123456789012345678.0},
        {"2^53 + 2", 9007199254740994.0},
        {"tiny", 1e-300},
        {"huge", 1.7976931348623157e308},
        {"subnormal", 5e-324},
        {"negative fraction", -2.5e-7},
        {"money", 1234.56},
    };
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Numbers"));
    for (size_t i = 0; i < std::size(cases); ++i) {
        sheet.SetNumber(static_cast<uint32_t>(i), 0, cases[i].value);
    }
    OpenpyxlView view = WriteAndDump(book);
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::string ref = "A" + std::to_string(i + 1);
        EXPECT_LINE(view, Line({"cell", 0, ref, "n", Bits(cases[i].value)})) << cases[i].what;
    }
}

TEST_F(XlsxWriterOpenpyxl, EveryCellTypeAndErrorCode)
{
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Types"));
    sheet.SetString(0, 0, book.Strings().Intern("text"));
    sheet.SetBoolean(0, 1, true);
    sheet.SetBoolean(0, 2, false);
    sheet.SetNumber(0, 3, 7);
    // A formula keeps its cached result only.
    sheet.SetNumber(0, 4, 99);
    sheet.CellAt(0, 4).formula = true;
    const ErrorCode errors[] = {ErrorCode::Null, ErrorCode::Div0, ErrorCode::Value, ErrorCode::Ref,
                                ErrorCode::Name, ErrorCode::Num,  ErrorCode::NA,    ErrorCode::GettingData};
    for (uint32_t i = 0; i < std::size(errors); ++i) {
        sheet.SetError(1, i, errors[i]);
    }
    // Infinity and NaN have no xlsx form; they come out as #NUM!, never as an invalid number.
    sheet.SetNumber(2, 0, std::numeric_limits<double>::infinity());
    sheet.SetNumber(2, 1, std::nan(""));

    OpenpyxlView view = WriteAndDump(book);
    EXPECT_LINE(view, Line({"cell", 0, "A1", "s", "text"}));
    EXPECT_LINE(view, Line({"cell", 0, "B1", "b", true}));
    EXPECT_LINE(view, Line({"cell", 0, "C1", "b", false}));
    EXPECT_LINE(view, Line({"cell", 0, "D1", "n", Bits(7)}));
    EXPECT_LINE(view, Line({"cell", 0, "E1", "n", Bits(99)}));
    for (uint32_t i = 0; i < std::size(errors); ++i) {
        EXPECT_LINE(view, Line({"cell", 0, CellName(1, i), "e", std::string(ErrorText(errors[i]))}));
    }
    EXPECT_LINE(view, Line({"cell", 0, "A3", "e", "#NUM!"}));
    EXPECT_LINE(view, Line({"cell", 0, "B3", "e", "#NUM!"}));
}

// ---- Text ----------------------------------------------------------------------------------------

struct TextCase {
    const char* what;
    std::string text;
    bool openpyxlExact; // openpyxl leaves _xHHHH_ escapes undecoded, so only plain texts compare
};

TEST_F(XlsxWriterOpenpyxl, AwkwardTextsSurviveExactly)
{
    const TextCase cases[] = {
        {"leading spaces", "  leading", true},
        {"trailing spaces", "trailing  ", true},
        {"only spaces", "   ", true},
        {"inner double space", "a  b", true},
        {"tab and line feed", "tab\there\nnext line", true},
        {"carriage return", "cr\r\nlf", false},
        {"control characters", std::string("nul\x01\x02\x1f\x0b\x0c end"), false},
        {"literal escape", "_x0041_", false},
        {"literal escape of underscore", "_x005F_", false},
        {"lower-case literal escape", "a_x00e9_b", false},
        {"not an escape", "a_x12_b _x_ x0041_", true},
        // The escape a control character is written as supplies the closing '_' of a lookalike.
        {"lookalike closed by a control character", std::string("B_xEF20\x1b\x1c"), false},
        {"lookalike closed by a carriage return", "_x0041\r\n", false},
        {"lookalike closed by U+FFFF", "_x0041\xEF\xBF\xBF", false},
        {"XML specials", "<a href=\"x\">&amp;</a> ]]> 'q'", true},
        {"non-BMP", "emoji \xF0\x9F\x98\x80 clef \xF0\x9D\x84\x9E", true},
        {"BMP non-ASCII", "\xC3\xA9\xE2\x82\xAC\xE4\xB8\xAD\xE6\x96\x87", true},
        {"noncharacter U+FFFE", "x\xEF\xBF\xBEy", false},
        {"empty", "", true},
        {"DEL", "del\x7f", true},
    };
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Texts"));
    for (uint32_t i = 0; i < std::size(cases); ++i) {
        sheet.SetString(i, 0, book.Strings().Intern(cases[i].text));
        // Used twice: the shared string is stored once.
        sheet.SetString(i, 1, book.Strings().Intern(cases[i].text));
    }
    OpenpyxlView view = WriteAndDump(book);
    for (uint32_t i = 0; i < std::size(cases); ++i) {
        // Shared strings in first-use order, decoded by lxml plus the _xHHHH_ rule.
        EXPECT_LINE(view, Line({"sst", static_cast<int>(i), cases[i].text})) << cases[i].what;
        if (cases[i].openpyxlExact && !cases[i].text.empty()) {
            EXPECT_LINE(view, Line({"cell", 0, CellName(i, 1), "s", cases[i].text})) << cases[i].what;
        }
    }
    EXPECT_FALSE(view.Has(Line({"sst", static_cast<int>(std::size(cases)), ""}))) << "strings were not shared";
}

struct CarriageReturnCase {
    const char* what;
    std::string text;
    bool literalEscape; // openpyxl leaves _xHHHH_ undecoded: only the decoded shared string compares
};

// A carriage return is written as a character reference, which every XML reader gives back as CR,
// never as the _x000D_ escape that readers without the escape rule show as it stands.
TEST_F(XlsxWriterOpenpyxl, CarriageReturnsComeBackAsCarriageReturns)
{
    const CarriageReturnCase cases[] = {
        {"CR LF inside", "abc\r\ndef", false}, {"CR alone", "\r", false},
        {"bare CR inside", "a\rb", false},     {"CR at both ends", "\rx\r", false},
        {"literal _x000D_", "_x000D_", true},  {"literal _x000D_ next to a CR", "_x000D_\r_x000d_", true},
    };
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "CR"));
    for (uint32_t i = 0; i < std::size(cases); ++i) {
        sheet.SetString(i, 0, book.Strings().Intern(cases[i].text));
    }
    const std::vector<uint8_t> bytes = WriteToMemory(book);
    std::unique_ptr<Workbook> back = ReadXlsx(InputBytes::FromMemory(bytes, "cr.xlsx"));
    OpenpyxlView view = WriteAndDump(book);
    for (uint32_t i = 0; i < std::size(cases); ++i) {
        EXPECT_LINE(view, Line({"sst", static_cast<int>(i), cases[i].text})) << cases[i].what;
        if (!cases[i].literalEscape) {
            EXPECT_LINE(view, Line({"cell", 0, CellName(i, 0), "s", cases[i].text})) << cases[i].what;
        }
        const Cell* cell = back->Sheet(0).FindCell(i, 0);
        ASSERT_NE(cell, nullptr) << cases[i].what;
        EXPECT_EQ(back->Strings().At(cell->text), cases[i].text) << cases[i].what;
    }
}

TEST_F(XlsxWriterOpenpyxl, InvalidUtf8BecomesReplacementCharacters)
{
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Bad"));
    sheet.SetString(0, 0,
                    book.Strings().Intern(std::string("a\xFF"
                                                      "b\xC3"
                                                      "c\xED\xA0\x80"
                                                      "d")));
    OpenpyxlView view = WriteAndDump(book);
    const std::string r = "\xEF\xBF\xBD";
    EXPECT_LINE(view, Line({"sst", 0, "a" + r + "b" + r + "c" + r + r + r + "d"}));
}

TEST_F(XlsxWriterOpenpyxl, OnlyUsedStringsAreShared)
{
    Workbook book;
    book.Strings().Intern("never used");
    uint32_t b = book.Strings().Intern("second");
    uint32_t a = book.Strings().Intern("first");
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "S"));
    sheet.SetString(0, 0, a);
    sheet.SetString(0, 1, b);
    sheet.SetString(1, 0, a);
    OpenpyxlView view = WriteAndDump(book);
    EXPECT_LINE(view, Line({"sst", 0, "first"}));
    EXPECT_LINE(view, Line({"sst", 1, "second"}));
    EXPECT_FALSE(view.Has(Line({"sst", 2, "never used"})));
}

// ---- Styles ----------------------------------------------------------------------------------------

TEST_F(XlsxWriterOpenpyxl, FontsFillsBordersAlignmentProtectionAndNumberFormats)
{
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Styles"));
    StyleTable& st = book.Styles();

    ResolvedStyle font;
    font.font.name = "DejaVu Sans";
    font.font.size = 14.5;
    font.font.bold = true;
    font.font.italic = true;
    font.font.strike = true;
    font.font.underline = Underline::Double;
    font.font.vertAlign = VertAlign::Superscript;
    font.font.color = Color::Rgb(0xFF1F4E79);
    sheet.SetNumber(0, 0, 1, st.InternStyle(font));

    ResolvedStyle solid;
    solid.fill.pattern = PatternType::Solid;
    solid.fill.fg = Color::Rgb(0xFFFFFF00);
    sheet.SetNumber(1, 0, 2, st.InternStyle(solid));

    ResolvedStyle pattern;
    pattern.fill.pattern = PatternType::DarkGrid;
    pattern.fill.fg = Color::Rgb(0xFF00FF00);
    pattern.fill.bg = Color::Rgb(0xFF0000FF);
    sheet.SetNumber(2, 0, 3, st.InternStyle(pattern));

    ResolvedStyle border;
    border.border.left = {BorderStyle::Thin, Color::Rgb(0xFFFF0000)};
    border.border.right = {BorderStyle::Double, Color{}};
    border.border.top = {BorderStyle::MediumDashDotDot, Color::Rgb(0xFF123456)};
    border.border.bottom = {BorderStyle::Hair, Color::Automatic()};
    border.border.diagonal = {BorderStyle::Dotted, Color::Rgb(0xFF00AA00)};
    border.border.diagonalUp = true;
    border.border.diagonalDown = true;
    sheet.SetNumber(3, 0, 4, st.InternStyle(border));

    ResolvedStyle align;
    align.alignment.horizontal = HAlign::CenterContinuous;
    align.alignment.vertical = VAlign::Top;
    align.alignment.rotation = 45;
    align.alignment.indent = 3;
    align.alignment.wrap = true;
    align.alignment.shrink = true;
    sheet.SetString(4, 0, book.Strings().Intern("aligned"), st.InternStyle(align));

    ResolvedStyle vertical;
    vertical.alignment.rotation = 255;
    vertical.protection.locked = false;
    vertical.protection.hidden = true;
    sheet.SetString(5, 0, book.Strings().Intern("stacked"), st.InternStyle(vertical));

    struct Fmt {
        const char* code;
        double value;
    };
    const Fmt formats[] = {
        {"0.00", 3.14159},
        {"#,##0.000;[Red]\\-#,##0.000", -1234.5},
        {"0%", 0.25},
        {"@", 5},
        {"\"<\"0\">\" & \"x\"", 6},
        {"0.0E+00", 12345},
    };
    for (uint32_t i = 0; i < std::size(formats); ++i) {
        ResolvedStyle f;
        f.numFmt = formats[i].code;
        sheet.SetNumber(6 + i, 0, formats[i].value, st.InternStyle(f));
    }
    // A styled blank cell keeps its format.
    sheet.SetBlank(20, 2, st.InternStyle(solid));

    OpenpyxlView view = WriteAndDump(book);
    EXPECT_LINE(view, Line({"font", 0, "A1", "DejaVu Sans", Bits(14.5), true, true, true, "double", "superscript",
                            "FF1F4E79"}));
    EXPECT_LINE(view, Line({"font", 0, "A2", "Calibri", Bits(11), false, false, false, nullptr, nullptr, nullptr}));
    EXPECT_LINE(view, Line({"fill", 0, "A2", "solid", "FFFFFF00", "00000000"}));
    EXPECT_LINE(view, Line({"fill", 0, "A3", "darkGrid", "FF00FF00", "FF0000FF"}));
    EXPECT_LINE(view, Line({"fill", 0, "A1", nullptr, nullptr, nullptr}));
    EXPECT_LINE(view, Line({"border", 0, "A4", "left", "thin", "FFFF0000"}));
    EXPECT_LINE(view, Line({"border", 0, "A4", "right", "double", nullptr}));
    EXPECT_LINE(view, Line({"border", 0, "A4", "top", "mediumDashDotDot", "FF123456"}));
    EXPECT_LINE(view, Line({"border", 0, "A4", "bottom", "hair", "auto"}));
    EXPECT_LINE(view, Line({"border", 0, "A4", "diagonal", "dotted", "FF00AA00"}));
    EXPECT_LINE(view, Line({"diag", 0, "A4", true, true}));
    EXPECT_LINE(view, Line({"align", 0, "A5", "centerContinuous", "top", 45, 3, true, true}));
    EXPECT_LINE(view, Line({"align", 0, "A6", nullptr, nullptr, 255, 0, false, false}));
    EXPECT_LINE(view, Line({"protect", 0, "A6", false, true}));
    EXPECT_LINE(view, Line({"protect", 0, "A5", true, false}));
    for (uint32_t i = 0; i < std::size(formats); ++i) {
        std::string ref = "A" + std::to_string(7 + i);
        EXPECT_LINE(view, Line({"numfmt", 0, ref, formats[i].code}));
        EXPECT_LINE(view, Line({"cell", 0, ref, "n", Bits(formats[i].value)}));
    }
    EXPECT_LINE(view, Line({"fill", 0, "C21", "solid", "FFFFFF00", "00000000"}));
}

TEST_F(XlsxWriterOpenpyxl, DatesInBothDateSystems)
{
    for (bool date1904 : {false, true}) {
        SCOPED_TRACE(date1904 ? "1904" : "1900");
        Workbook book;
        book.SetDate1904(date1904);
        Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Dates"));
        ResolvedStyle date;
        date.numFmt = "yyyy\\-mm\\-dd hh:mm";
        uint32_t xf = book.Styles().InternStyle(date);
        sheet.SetNumber(0, 0, 45000.5, xf);
        sheet.SetNumber(1, 0, 367.25, xf);
        OpenpyxlView view = WriteAndDump(book, date1904 ? "d1904.xlsx" : "d1900.xlsx");
        EXPECT_LINE(view, Line({"book", date1904 ? 1904 : 1900, 1, 0}));
        EXPECT_LINE(view, Line({"cell", 0, "A1", "d", Bits(45000.5)}));
        EXPECT_LINE(view, Line({"cell", 0, "A2", "d", Bits(367.25)}));
    }
}

// ---- Sheets, layout and links --------------------------------------------------------------------

TEST_F(XlsxWriterOpenpyxl, SheetNamesStatesAndActiveTab)
{
    Workbook book;
    book.InsertSheet(0, kAwkwardName);
    book.InsertSheet(1, "Hidden", SheetState::Hidden);
    book.InsertSheet(2, "Very hidden", SheetState::VeryHidden);
    book.InsertSheet(3, "Last");
    book.SetActiveSheet(3);
    book.Sheet(3).SetNumber(0, 0, 1);
    OpenpyxlView view = WriteAndDump(book);
    EXPECT_LINE(view, Line({"book", 1900, 4, 3}));
    EXPECT_LINE(view, Line({"sheet", 0, kAwkwardName, "visible"}));
    EXPECT_LINE(view, Line({"sheet", 1, "Hidden", "hidden"}));
    EXPECT_LINE(view, Line({"sheet", 2, "Very hidden", "veryHidden"}));
    EXPECT_LINE(view, Line({"sheet", 3, "Last", "visible"}));
}

TEST_F(XlsxWriterOpenpyxl, HiddenActiveSheetGivesWayToAVisibleOne)
{
    Workbook book;
    book.InsertSheet(0, "A", SheetState::Hidden);
    book.InsertSheet(1, "B");
    book.SetActiveSheet(0);
    OpenpyxlView view = WriteAndDump(book);
    EXPECT_LINE(view, Line({"book", 1900, 2, 1}));

    // With no visible sheet at all, the active one is shown: Excel refuses a file without one.
    Workbook none;
    none.InsertSheet(0, "A", SheetState::Hidden);
    none.InsertSheet(1, "B", SheetState::VeryHidden);
    none.SetActiveSheet(1);
    OpenpyxlView noneView = WriteAndDump(none, "none.xlsx");
    EXPECT_LINE(noneView, Line({"sheet", 1, "B", "visible"}));
    EXPECT_LINE(noneView, Line({"sheet", 0, "A", "hidden"}));
}

TEST_F(XlsxWriterOpenpyxl, MergesWidthsHeightsPanesAndHyperlinks)
{
    Workbook book;
    book.InsertSheet(0, kAwkwardName);
    Worksheet& sheet = book.Sheet(book.InsertSheet(1, "Layout"));
    book.SetActiveSheet(1);
    sheet.SetString(0, 0, book.Strings().Intern("title"));
    sheet.merges.push_back({0, 0, 0, 3});
    sheet.merges.push_back({2, 1, 5, 2});
    sheet.merges.push_back({7, 7, 7, 7}); // one cell: not a merge, not written

    ColumnInfo wide;
    wide.first = 1;
    wide.last = 3;
    wide.width = 25.5;
    wide.customWidth = true;
    sheet.SetColumn(wide);
    ColumnInfo hidden;
    hidden.first = 5;
    hidden.last = 5;
    hidden.width = 12;
    hidden.customWidth = true;
    hidden.hidden = true;
    sheet.SetColumn(hidden);

    Row& tall = sheet.RowAt(1);
    tall.height = 33.75f;
    tall.customHeight = true;
    sheet.SetNumber(1, 0, 1);
    Row& hiddenRow = sheet.RowAt(10);
    hiddenRow.hidden = true; // no cells: the row is still written

    sheet.frozenRows = 2;
    sheet.frozenCols = 1;

    sheet.SetString(20, 0, book.Strings().Intern("web"));
    sheet.hyperlinks.push_back({{20, 0, 20, 0}, "https://example.com/a?b=1&c=<2>", "", "Go & see", ""});
    sheet.SetString(21, 0, book.Strings().Intern("inside"));
    std::string location =
        "'" + std::string("D\xC3\xA9j\xC3\xA0 ''Q1'' & <Sales> \xCE\xA9 \xE2\x82\xAC 2024 ok") + "'!B2";
    sheet.hyperlinks.push_back({{21, 0, 21, 0}, "", location, "", "back home"});
    sheet.SetString(22, 0, book.Strings().Intern("mail"));
    sheet.hyperlinks.push_back({{22, 0, 22, 0}, "mailto:someone@example.com", "", "", ""});

    OpenpyxlView view = WriteAndDump(book);
    EXPECT_LINE(view, Line({"merge", 1, "A1:D1"}));
    EXPECT_LINE(view, Line({"merge", 1, "B3:C6"}));
    EXPECT_FALSE(view.Has(Line({"merge", 1, "H8"})));
    EXPECT_LINE(view, Line({"col", 1, 2, 4, Bits(25.5), true, false}));
    EXPECT_LINE(view, Line({"col", 1, 6, 6, Bits(12), true, true}));
    EXPECT_LINE(view, Line({"row", 1, 2, Bits(33.75), true, false}));
    EXPECT_LINE(view, Line({"row", 1, 11, nullptr, false, true}));
    EXPECT_LINE(view, Line({"freeze", 1, "B3"}));
    EXPECT_LINE(view, Line({"link", 1, "A21", "https://example.com/a?b=1&c=<2>", nullptr, "Go & see", nullptr}));
    EXPECT_LINE(view, Line({"link", 1, "A22", nullptr, location, nullptr, "back home"}));
    EXPECT_LINE(view, Line({"link", 1, "A23", "mailto:someone@example.com", nullptr, nullptr, nullptr}));
    EXPECT_LINE(view, Line({"book", 1900, 2, 1}));
}

// ---- Determinism ---------------------------------------------------------------------------------

void FillRich(Workbook& book)
{
    Worksheet& a = book.Sheet(book.InsertSheet(0, "One"));
    ResolvedStyle s;
    s.font.bold = true;
    s.numFmt = "0.000";
    uint32_t xf = book.Styles().InternStyle(s);
    for (uint32_t r = 0; r < 30000; ++r) {
        for (uint32_t c = 0; c < 12; ++c) {
            if (c % 4 == 0) {
                a.SetString(r, c, book.Strings().Intern("t" + std::to_string((r * 7 + c) % 5000)));
            } else {
                a.SetNumber(r, c, r * 1.25 - c, c % 3 == 0 ? xf : 0);
            }
        }
    }
    a.merges.push_back({0, 0, 1, 1});
    a.hyperlinks.push_back({{5, 5, 5, 5}, "https://example.org", "", "", ""});
    Worksheet& b = book.Sheet(book.InsertSheet(1, "Two", SheetState::Hidden));
    b.SetBoolean(3, 3, true);
}

TEST(XlsxWriterDeterminism, IdenticalModelsGiveIdenticalBytesWhateverTheThreads)
{
    Workbook first;
    FillRich(first);
    Workbook second;
    FillRich(second);
    XlsxWriteOptions inline0;
    inline0.threads = 0;
    XlsxWriteOptions three;
    three.threads = 3;
    std::vector<uint8_t> a = WriteToMemory(first, inline0);
    std::vector<uint8_t> b = WriteToMemory(second, three);
    std::vector<uint8_t> c = WriteToMemory(first);
    ASSERT_GT(a.size(), 1000u);
    EXPECT_TRUE(a == b);
    EXPECT_TRUE(a == c);
    // Writing does not change the model: a second write of the same workbook is the same too.
    EXPECT_TRUE(WriteToMemory(first, three) == a);
}

// ---- Limits --------------------------------------------------------------------------------------

struct LimitCase {
    const char* what;
    void (*build)(Workbook&);
    const char* mustMention; // the message names the sheet and the place
};

const LimitCase kLimitCases[] = {
    {"text of 32,768 characters",
     [](Workbook& b) {
         b.Sheet(b.InsertSheet(0, "Long")).SetString(4, 2, b.Strings().Intern(std::string(32768, 'x')));
     },
     "sheet \"Long\", cell C5"},
    {"non-BMP characters count twice",
     [](Workbook& b) {
         // 32,765 + 2 + 1 = 32,768 UTF-16 units, though only 32,767 characters.
         std::string text = std::string(32765, 'x') + "\xF0\x9F\x98\x80" + "y";
         b.Sheet(b.InsertSheet(0, "Emoji")).SetString(0, 0, b.Strings().Intern(text));
     },
     "sheet \"Emoji\", cell A1"},
    {"row past the grid", [](Workbook& b) { b.Sheet(b.InsertSheet(0, "Rows")).SetNumber(1048576, 0, 1); },
     "sheet \"Rows\", cell A1048577"},
    {"column past the grid", [](Workbook& b) { b.Sheet(b.InsertSheet(0, "Cols")).SetNumber(3, 16384, 1); },
     "sheet \"Cols\", cell XFE4"},
    {"merge past the grid",
     [](Workbook& b) {
         b.Sheet(b.InsertSheet(0, "M")).merges.push_back({0, 16383, 1, 16384});
     },
     "sheet \"M\""},
    {"hyperlink past the grid",
     [](Workbook& b) {
         b.Sheet(b.InsertSheet(0, "H")).hyperlinks.push_back({{1048576, 0, 1048576, 0}, "http://x", "", "", ""});
     },
     "sheet \"H\""},
    {"column settings past the grid",
     [](Workbook& b) {
         ColumnInfo c;
         c.first = 16380;
         c.last = 16400;
         c.width = 3;
         b.Sheet(b.InsertSheet(0, "C")).columns.push_back(c);
     },
     "sheet \"C\""},
    {"sheet name too long", [](Workbook& b) { b.InsertSheet(0, std::string(32, 'n')); }, "at most 31 characters"},
    {"sheet name with a slash", [](Workbook& b) { b.InsertSheet(0, "a/b"); }, "sheet \"a/b\""},
    {"sheet name with a leading apostrophe", [](Workbook& b) { b.InsertSheet(0, "'ab"); }, "apostrophe"},
    {"sheet names equal without regard to case",
     [](Workbook& b) {
         b.InsertSheet(0, "\xC3\x84rger");
         b.InsertSheet(1, "\xC3\xA4RGER");
     },
     "must differ"},
    {"empty sheet name", [](Workbook& b) { b.InsertSheet(0, ""); }, "empty"},
};

TEST(XlsxWriterLimits, ContentBeyondTheFormatFailsWithLimitError)
{
    for (const LimitCase& c : kLimitCases) {
        SCOPED_TRACE(c.what);
        Workbook book;
        c.build(book);
        MemorySink sink;
        try {
            WriteXlsx(book, sink);
            ADD_FAILURE() << "no LimitError";
        } catch (const LimitError& e) {
            EXPECT_NE(std::string(e.what()).find(c.mustMention), std::string::npos) << e.what();
        }
    }
}

TEST(XlsxWriterLimits, AWorkbookWithoutSheetsIsRefused)
{
    Workbook book;
    MemorySink sink;
    EXPECT_THROW(WriteXlsx(book, sink), EngineError);
}

// 65,430 distinct cell formats (the default one included) fit; one more does not.
void AddFormats(Workbook& book, Worksheet& sheet, size_t count)
{
    size_t made = 0;
    for (uint16_t rotation = 0; rotation <= 180 && made < count; ++rotation) {
        for (uint8_t indent = 0; indent < 250 && made < count; ++indent) {
            for (bool wrap : {false, true}) {
                if (made == count) {
                    break;
                }
                CellFormat f;
                f.alignment.rotation = rotation;
                f.alignment.indent = indent;
                f.alignment.wrap = wrap;
                uint32_t xf = book.Styles().InternCellFormat(f);
                if (xf == 0) {
                    continue; // the default format is already there
                }
                sheet.SetNumber(static_cast<uint32_t>(made), 0, 1, xf);
                ++made;
            }
        }
    }
}

TEST(XlsxWriterLimits, CellFormatsUpToTheLimitAndNotOneMore)
{
    Workbook fits;
    Worksheet& a = fits.Sheet(fits.InsertSheet(0, "Fits"));
    AddFormats(fits, a, limits::kXlsxMaxCellFormats - 1);
    std::vector<uint8_t> bytes = WriteToMemory(fits);
    EXPECT_GT(bytes.size(), 0u);
    if (HaveValidator()) {
        TempDir dir;
        SaveBytes(bytes, dir.File("fits.xlsx"));
        EXPECT_TRUE(PassesValidator(dir.File("fits.xlsx")));
    }

    Workbook over;
    Worksheet& b = over.Sheet(over.InsertSheet(0, "Over"));
    AddFormats(over, b, limits::kXlsxMaxCellFormats);
    MemorySink sink;
    try {
        WriteXlsx(over, sink);
        ADD_FAILURE() << "no LimitError";
    } catch (const LimitError& e) {
        // The 65,431st format is first used in row 65,430.
        EXPECT_NE(std::string(e.what()).find("sheet \"Over\", cell A65430"), std::string::npos) << e.what();
    }

    // Formats that no cell uses do not count.
    Workbook unused;
    Worksheet& u = unused.Sheet(unused.InsertSheet(0, "Unused"));
    AddFormats(unused, u, limits::kXlsxMaxCellFormats + 10);
    u.rows.resize(5);
    EXPECT_NO_THROW(WriteToMemory(unused));
}

TEST(XlsxWriterLimits, ContentAtTheEdgesIsWritten)
{
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, std::string(31, 'e')));
    sheet.SetNumber(1048575, 16383, 1);
    sheet.SetString(0, 0, book.Strings().Intern(std::string(32767, 'x')));
    std::string emoji;
    for (int i = 0; i < 16383; ++i) {
        emoji += "\xF0\x9F\x98\x80";
    }
    sheet.SetString(0, 1, book.Strings().Intern(emoji + "z")); // 32,767 UTF-16 units
    sheet.merges.push_back({1048574, 16382, 1048575, 16383});
    std::vector<uint8_t> bytes = WriteToMemory(book);
    if (HaveValidator()) {
        TempDir dir;
        SaveBytes(bytes, dir.File("edges.xlsx"));
        EXPECT_TRUE(PassesValidator(dir.File("edges.xlsx")));
    }
}

// ---- Model irregularities ------------------------------------------------------------------------

TEST(XlsxWriterModel, RowsAndCellsOutOfOrderAreWrittenInOrder)
{
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Unordered"));
    // Filled the way a careless reader might: rows and cells appended out of order.
    sheet.rows.emplace_back().index = 5;
    sheet.rows.back().cells.emplace_back();
    sheet.rows.back().cells.back().col = 3;
    sheet.rows.back().cells.back().type = CellType::Number;
    sheet.rows.back().cells.back().number = 2;
    sheet.rows.back().cells.emplace_back();
    sheet.rows.back().cells.back().col = 1;
    sheet.rows.back().cells.back().type = CellType::Number;
    sheet.rows.back().cells.back().number = 1;
    sheet.rows.emplace_back().index = 2;
    sheet.rows.back().cells.emplace_back();
    sheet.rows.back().cells.back().type = CellType::Boolean;
    sheet.rows.back().cells.back().boolean = true;
    std::vector<uint8_t> bytes = WriteToMemory(book);
    if (!HaveValidator()) {
        GTEST_SKIP() << "the xlsx validator is not available";
    }
    TempDir dir;
    SaveBytes(bytes, dir.File("u.xlsx"));
    EXPECT_TRUE(PassesValidator(dir.File("u.xlsx")));
    OpenpyxlView view = OpenpyxlDump(dir.File("u.xlsx"));
    EXPECT_LINE(view, Line({"cell", 0, "B6", "n", Bits(1)}));
    EXPECT_LINE(view, Line({"cell", 0, "D6", "n", Bits(2)}));
    EXPECT_LINE(view, Line({"cell", 0, "A3", "b", true}));
}

TEST(XlsxWriterModel, UnusedStylesAreNotWrittenAndIndexesAreRemapped)
{
    Workbook book;
    ResolvedStyle unused;
    unused.font.name = "Unused Font";
    unused.numFmt = "0.0000\"unused\"";
    book.Styles().InternStyle(unused);
    ResolvedStyle used;
    used.font.italic = true;
    used.numFmt = "0.0\"used\"";
    uint32_t xf = book.Styles().InternStyle(used);
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "S"));
    sheet.SetNumber(0, 0, 1, xf);
    std::vector<uint8_t> bytes = WriteToMemory(book);
    if (!HaveValidator()) {
        GTEST_SKIP() << "the xlsx validator is not available";
    }
    TempDir dir;
    SaveBytes(bytes, dir.File("s.xlsx"));
    EXPECT_TRUE(PassesValidator(dir.File("s.xlsx")));
    std::string out;
    ASSERT_EQ(RunCommand("/usr/bin/python3 -c \"import zipfile,sys; print(zipfile.ZipFile(sys.argv[1]).read("
                         "'xl/styles.xml').decode())\" " +
                             ShellQuote(dir.File("s.xlsx")),
                         out),
              0)
        << out;
    EXPECT_EQ(out.find("Unused"), std::string::npos) << out;
    EXPECT_NE(out.find("<numFmt numFmtId=\"164\" formatCode=\"0.0&quot;used&quot;\"/>"), std::string::npos) << out;
    EXPECT_NE(out.find("<cellXfs count=\"2\">"), std::string::npos) << out;
    OpenpyxlView view = OpenpyxlDump(dir.File("s.xlsx"));
    EXPECT_LINE(view, Line({"numfmt", 0, "A1", "0.0\"used\""}));
    EXPECT_LINE(view, Line({"font", 0, "A1", "Calibri", Bits(11), false, true, false, nullptr, nullptr, nullptr}));
}

TEST(XlsxWriterModel, IndexesPastTheTablesReadAsTheDefaults)
{
    // The model reads a string index past its table as empty text and a format index past its
    // table as the default format; the file must say the same, not point past its own tables.
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "S"));
    sheet.SetString(0, 0, 999);
    sheet.SetNumber(0, 1, 5, 777);
    ColumnInfo c;
    c.first = 0;
    c.last = 0;
    c.width = 10;
    c.customWidth = true;
    c.style = 555;
    sheet.SetColumn(c);
    std::vector<uint8_t> bytes = WriteToMemory(book);
    if (!HaveValidator()) {
        GTEST_SKIP() << "the xlsx validator is not available";
    }
    TempDir dir;
    SaveBytes(bytes, dir.File("i.xlsx"));
    EXPECT_TRUE(PassesValidator(dir.File("i.xlsx")));
    OpenpyxlView view = OpenpyxlDump(dir.File("i.xlsx"));
    EXPECT_LINE(view, Line({"sst", 0, ""}));
    EXPECT_LINE(view, Line({"cell", 0, "B1", "n", Bits(5)}));
    EXPECT_LINE(view, Line({"numfmt", 0, "B1", "General"}));
}

TEST(XlsxWriterModel, SheetsLoadedOnlyToBeWrittenAreReleasedAgain)
{
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "First"));
    sheet.SetNumber(0, 0, 1);
    book.Sheet(book.InsertSheet(1, "Second")).SetNumber(0, 0, 2);
    std::vector<uint8_t> bytes = WriteToMemory(book);

    std::unique_ptr<Workbook> opened = ReadXlsx(InputBytes::FromMemory(bytes, "lazy.xlsx"));
    opened->Sheet(1); // the caller has this one in use
    ASSERT_FALSE(opened->IsSheetLoaded(0));
    std::vector<uint8_t> again = WriteToMemory(*opened);
    EXPECT_FALSE(opened->IsSheetLoaded(0));
    EXPECT_TRUE(opened->IsSheetLoaded(1));
    EXPECT_TRUE(again == bytes) << "a workbook read and written again gives the same file";
}

// ---- Our own reader --------------------------------------------------------------------------------

TEST(XlsxWriterRoundTrip, OurReaderReadsBackValuesStylesAndLayout)
{
    Workbook book;
    book.SetDate1904(true);
    Worksheet& a = book.Sheet(book.InsertSheet(0, kAwkwardName));
    book.InsertSheet(1, "Hidden", SheetState::VeryHidden);
    ResolvedStyle s;
    s.font.bold = true;
    s.font.color = Color::Rgb(0xFF336699);
    s.fill.pattern = PatternType::Solid;
    s.fill.fg = Color::Rgb(0xFFFFCC00);
    s.border.bottom = {BorderStyle::Thick, Color::Rgb(0xFF000000)};
    s.numFmt = "0.00%";
    s.alignment.horizontal = HAlign::Right;
    s.alignment.wrap = true;
    uint32_t xf = book.Styles().InternStyle(s);
    const std::string texts[] = {" lead", "_x0041_", std::string("c\x01tl"), "cr\r\n", "\xF0\x9F\x98\x80"};
    for (uint32_t i = 0; i < std::size(texts); ++i) {
        a.SetString(i, 0, book.Strings().Intern(texts[i]));
    }
    a.SetNumber(0, 1, 0.125, xf);
    a.SetBoolean(1, 1, false);
    a.SetError(2, 1, ErrorCode::NA);
    a.merges.push_back({5, 0, 6, 2});
    ColumnInfo w;
    w.first = 2;
    w.last = 2;
    w.width = 30;
    w.customWidth = true;
    a.SetColumn(w);
    a.RowAt(3).height = 40;
    a.RowAt(3).customHeight = true;
    a.hyperlinks.push_back({{0, 0, 0, 0}, "https://example.com/", "", "tip", ""});

    std::vector<uint8_t> bytes = WriteToMemory(book);
    std::unique_ptr<Workbook> back = ReadXlsx(InputBytes::FromMemory(bytes, "round.xlsx"));
    ASSERT_EQ(back->SheetCount(), 2u);
    EXPECT_EQ(back->SheetName(0), kAwkwardName);
    EXPECT_EQ(back->SheetStateAt(1), SheetState::VeryHidden);
    EXPECT_TRUE(back->Date1904());
    Worksheet& b = back->Sheet(0);
    for (uint32_t i = 0; i < std::size(texts); ++i) {
        const Cell* c = b.FindCell(i, 0);
        ASSERT_NE(c, nullptr) << i;
        ASSERT_EQ(c->type, CellType::String) << i;
        EXPECT_EQ(back->Strings().At(c->text), texts[i]) << i;
    }
    const Cell* n = b.FindCell(0, 1);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(n->type, CellType::Number);
    EXPECT_EQ(n->number, 0.125);
    ResolvedStyle r = back->Styles().Resolve(n->style);
    EXPECT_TRUE(r.font.bold);
    EXPECT_EQ(r.font.color, Color::Rgb(0xFF336699));
    EXPECT_EQ(r.fill.pattern, PatternType::Solid);
    EXPECT_EQ(r.fill.fg, Color::Rgb(0xFFFFCC00));
    EXPECT_EQ(r.border.bottom.style, BorderStyle::Thick);
    EXPECT_EQ(r.numFmt, "0.00%");
    EXPECT_EQ(r.alignment.horizontal, HAlign::Right);
    EXPECT_TRUE(r.alignment.wrap);
    ASSERT_NE(b.FindCell(1, 1), nullptr);
    EXPECT_EQ(b.FindCell(1, 1)->type, CellType::Boolean);
    ASSERT_NE(b.FindCell(2, 1), nullptr);
    EXPECT_EQ(b.FindCell(2, 1)->type, CellType::Error);
    EXPECT_EQ(b.FindCell(2, 1)->error, ErrorCode::NA);
    ASSERT_EQ(b.merges.size(), 1u);
    EXPECT_EQ(b.merges[0], (CellRange{5, 0, 6, 2}));
    const ColumnInfo* col = b.FindColumn(2);
    ASSERT_NE(col, nullptr);
    EXPECT_DOUBLE_EQ(col->width, 30);
    const Row* row = b.FindRow(3);
    ASSERT_NE(row, nullptr);
    EXPECT_FLOAT_EQ(row->height, 40);
    ASSERT_EQ(b.hyperlinks.size(), 1u);
    EXPECT_EQ(b.hyperlinks[0].target, "https://example.com/");
    EXPECT_EQ(b.hyperlinks[0].tooltip, "tip");
}

// ---- A slow outside opinion ----------------------------------------------------------------------

TEST(XlsxWriterOutsideReaders, LibreOfficeConvertsTheOutputToCsv)
{
    std::string out;
    if (RunCommand("command -v libreoffice", out) != 0) {
        GTEST_SKIP() << "LibreOffice is not installed";
    }
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Data"));
    sheet.SetString(0, 0, book.Strings().Intern("name"));
    sheet.SetString(0, 1, book.Strings().Intern("value"));
    sheet.SetString(1, 0, book.Strings().Intern("caf\xC3\xA9 & co"));
    sheet.SetNumber(1, 1, 2.5);
    sheet.SetBoolean(2, 1, true);
    sheet.SetNumber(3, 1, 1234567);
    TempDir dir;
    std::string path = dir.File("lo.xlsx");
    SaveWorkbookFile(book, path);
    std::string profile = "file://" + dir.File("profile");
    // Filter options 44,34,76: comma, double quote, UTF-8.
    int rc = RunCommand("cd " + ShellQuote(dir.Path().string()) +
                            " && timeout 180 libreoffice --headless -env:UserInstallation=" + ShellQuote(profile) +
                            " --convert-to 'csv:Text - txt - csv (StarCalc):44,34,76' --outdir " +
                            ShellQuote(dir.Path().string()) + " " + ShellQuote(path),
                        out);
    ASSERT_EQ(rc, 0) << out;
    EXPECT_EQ(ReadAll(dir.File("lo.csv")), "name,value\ncaf\xC3\xA9 & co,2.5\n,TRUE\n,1234567\n");
}

} // namespace
} // namespace gq::test::xlsxw
