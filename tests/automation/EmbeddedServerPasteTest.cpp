// Copy and paste between workbook models: what a paste carries, where it lands, what it overwrites.
// SPDX-License-Identifier: Apache-2.0
#include "automation/Paste.h"
#include "automation/SpreadsheetServer.h"

#include <gtest/gtest.h>

namespace gq::automation {
namespace {

using engine::CellRange;
using engine::CellRef;
using engine::CellType;
using engine::Workbook;
using engine::Worksheet;

CellRange R(const char* text)
{
    CellRange r;
    EXPECT_TRUE(engine::ParseRangeName(text, r)) << text;
    return r;
}

CellRef At(const char* text)
{
    CellRef c;
    EXPECT_TRUE(engine::ParseCellName(text, c)) << text;
    return c;
}

const engine::Cell* CellOf(const Worksheet& s, const char* address)
{
    CellRef c = At(address);
    return s.FindCell(c.row, c.col);
}

std::unique_ptr<Workbook> Book(bool date1904 = false, const engine::Font& defaultFont = engine::Font{})
{
    auto book = std::make_unique<Workbook>(defaultFont);
    book->InsertSheet(0, "Sheet1");
    book->SetDate1904(date1904);
    return book;
}

void SetText(Workbook& b, const char* address, const char* text, uint32_t style = 0)
{
    CellRef c = At(address);
    b.Sheet(0).SetString(c.row, c.col, b.Strings().Intern(text), style);
}

void SetNum(Workbook& b, const char* address, double value, uint32_t style = 0)
{
    CellRef c = At(address);
    b.Sheet(0).SetNumber(c.row, c.col, value, style);
}

TEST(EmbeddedServerPaste, CarriesValuesAndTypesAtTheTargetCell)
{
    auto from = Book();
    auto to = Book();
    // The target's string table already holds other texts, so indexes differ between the two.
    to->Strings().Intern("unrelated");
    to->Strings().Intern("more");
    SetNum(*from, "B2", 3.25);
    SetText(*from, "C2", "hello");
    from->Sheet(0).SetBoolean(2, 1, true);
    from->Sheet(0).SetError(2, 2, engine::ErrorCode::Div0);
    from->Sheet(0).SetNumber(3, 1, 42);
    from->Sheet(0).CellAt(3, 1).formula = true;
    SetText(*from, "C4", "hello");

    PasteBlock(*from, 0, R("B2:C4"), *to, 0, At("E10"));

    const Worksheet& t = to->Sheet(0);
    struct Expect {
        const char* address;
        CellType type;
    } expects[] = {{"E10", CellType::Number}, {"F10", CellType::String}, {"E11", CellType::Boolean},
                   {"F11", CellType::Error},  {"E12", CellType::Number}, {"F12", CellType::String}};
    for (const auto& e : expects) {
        const engine::Cell* c = CellOf(t, e.address);
        ASSERT_NE(c, nullptr) << e.address;
        EXPECT_EQ(c->type, e.type) << e.address;
    }
    EXPECT_EQ(CellOf(t, "E10")->number, 3.25);
    EXPECT_EQ(to->Strings().At(CellOf(t, "F10")->text), "hello");
    EXPECT_EQ(CellOf(t, "F10")->text, CellOf(t, "F12")->text);
    EXPECT_TRUE(CellOf(t, "E11")->boolean);
    EXPECT_EQ(CellOf(t, "F11")->error, engine::ErrorCode::Div0);
    EXPECT_TRUE(CellOf(t, "E12")->formula);
    EXPECT_EQ(CellOf(t, "E12")->number, 42);
    EXPECT_EQ(t.CellCount(), 6u);
    EXPECT_EQ(t.UsedRange(), R("E10:F12"));
}

TEST(EmbeddedServerPaste, ATextLongerThanACellHoldsIsRefusedBeforeAnythingIsPasted)
{
    // 32,767 UTF-16 units fit (an emoji counts two); one more does not, in either format.
    const std::string face = "\xF0\x9F\x98\x80";
    std::string fits(32765, 'x');
    fits += face;
    for (const auto& [text, refused] : {std::pair{fits, false}, std::pair{fits + "y", true}}) {
        auto from = Book();
        auto to = Book();
        SetNum(*from, "A1", 1);
        SetText(*from, "C4", text.c_str());
        if (refused) {
            try {
                PasteBlock(*from, 0, R("A1:C4"), *to, 0, At("A1"));
                ADD_FAILURE() << "pasted";
            } catch (const ServerError& e) {
                EXPECT_NE(std::string(e.what()).find("C4"), std::string::npos) << e.what();
                EXPECT_NE(std::string(e.what()).find("32,767"), std::string::npos) << e.what();
            }
            EXPECT_EQ(to->Sheet(0).CellCount(), 0u) << "nothing is pasted";
        } else {
            PasteBlock(*from, 0, R("A1:C4"), *to, 0, At("A1"));
            EXPECT_EQ(to->Sheet(0).CellCount(), 2u);
        }
    }
}

TEST(EmbeddedServerPaste, APastePastTheCellsASheetMayHoldIsRefused)
{
    auto from = Book();
    auto to = Book();
    SetNum(*from, "A1", 1);
    SetNum(*from, "B1", 2);
    SetText(*from, "A2", "x");
    SheetCellCount count{0, 5}; // a sheet of at most five cells
    PasteBlock(*from, 0, R("A1:B2"), *to, 0, At("A1"), &count);
    EXPECT_EQ(count.cells, 3u);
    try {
        PasteBlock(*from, 0, R("A1:B2"), *to, 0, At("A3"), &count);
        ADD_FAILURE() << "pasted";
    } catch (const ServerError& e) {
        EXPECT_NE(std::string(e.what()).find("more than 5 cells"), std::string::npos) << e.what();
    }
    EXPECT_EQ(to->Sheet(0).CellCount(), 3u) << "nothing more is pasted";
    EXPECT_EQ(count.cells, 3u);
}

TEST(EmbeddedServerPaste, CarriesEveryPartOfTheFormat)
{
    engine::Font arial;
    arial.name = "Arial";
    arial.size = 10;
    auto from = Book(false, arial);
    auto to = Book();

    engine::ResolvedStyle s;
    s.font.name = "Times New Roman";
    s.font.size = 14;
    s.font.bold = true;
    s.font.italic = true;
    s.font.underline = engine::Underline::Double;
    s.font.color = engine::Color::Rgb(0xFFFF0000);
    s.fill.pattern = engine::PatternType::Solid;
    s.fill.fg = engine::Color::Rgb(0xFF00FF00);
    s.border.left = {engine::BorderStyle::Thick, engine::Color::Rgb(0xFF0000FF)};
    s.border.bottom = {engine::BorderStyle::Dashed, engine::Color::Automatic()};
    s.numFmt = "#,##0.000;[Red]-#,##0.000";
    s.alignment.horizontal = engine::HAlign::Center;
    s.alignment.vertical = engine::VAlign::Top;
    s.alignment.wrap = true;
    s.alignment.rotation = 45;
    s.alignment.indent = 2;
    s.protection.locked = false;
    s.protection.hidden = true;
    uint32_t styled = from->Styles().InternStyle(s);
    SetNum(*from, "A1", 1, styled);
    SetNum(*from, "A2", 2, 0); // the source's default format: Arial 10, not the target's Calibri 11
    from->Sheet(0).SetBlank(2, 0, styled);

    PasteBlock(*from, 0, R("A1:A3"), *to, 0, At("A1"));

    const Worksheet& t = to->Sheet(0);
    for (const char* address : {"A1", "A3"}) {
        engine::ResolvedStyle got = to->Styles().Resolve(CellOf(t, address)->style);
        EXPECT_EQ(got.font, s.font) << address;
        EXPECT_EQ(got.fill, s.fill);
        EXPECT_EQ(got.border, s.border);
        EXPECT_EQ(got.numFmt, s.numFmt);
        EXPECT_EQ(got.alignment, s.alignment);
        EXPECT_EQ(got.protection, s.protection);
    }
    EXPECT_EQ(CellOf(t, "A1")->style, CellOf(t, "A3")->style) << "one target format per source format";
    EXPECT_EQ(CellOf(t, "A3")->type, CellType::Blank);
    EXPECT_EQ(to->Styles().Resolve(CellOf(t, "A2")->style).font.name, "Arial");
}

TEST(EmbeddedServerPaste, LeavesUnformattedBlanksOut)
{
    auto from = Book();
    auto to = Book();
    from->Sheet(0).SetBlank(0, 0, 0);
    SetNum(*from, "B1", 1);
    PasteBlock(*from, 0, R("A1:B1"), *to, 0, At("A1"));
    EXPECT_EQ(CellOf(to->Sheet(0), "A1"), nullptr);
    EXPECT_NE(CellOf(to->Sheet(0), "B1"), nullptr);
}

TEST(EmbeddedServerPaste, OverwritesThePastedAreaOnlyAndKeepsLaterRows)
{
    auto from = Book();
    auto to = Book();
    SetNum(*from, "A1", 1);
    SetNum(*from, "B3", 3);
    for (const char* address : {"A1", "B1", "C1", "A2", "B2", "C2", "A3", "C3", "A9"}) {
        SetText(*to, address, "old");
    }
    // Block A1:B3 pasted at A1 of a target with content around and below it.
    PasteBlock(*from, 0, R("A1:B3"), *to, 0, At("A1"));

    const Worksheet& t = to->Sheet(0);
    struct Expect {
        const char* address;
        const char* what; // "old", "new" or "none"
    } expects[] = {{"A1", "new"}, {"B1", "none"}, {"C1", "old"}, {"A2", "none"}, {"B2", "none"},
                   {"C2", "old"}, {"A3", "none"}, {"B3", "new"}, {"C3", "old"},  {"A9", "old"}};
    for (const auto& e : expects) {
        const engine::Cell* c = CellOf(t, e.address);
        std::string what = c == nullptr ? "none" : c->type == CellType::String ? "old" : "new";
        EXPECT_EQ(what, e.what) << e.address;
    }
    for (size_t i = 1; i < t.rows.size(); ++i) {
        EXPECT_LT(t.rows[i - 1].index, t.rows[i].index);
    }
}

TEST(EmbeddedServerPaste, StacksBlocksBelowEachOther)
{
    auto from = Book();
    auto to = Book();
    SetNum(*from, "A1", 1);
    SetNum(*from, "B2", 2);
    PasteBlock(*from, 0, R("A1:B2"), *to, 0, At("A1"));
    PasteBlock(*from, 0, R("A1:B2"), *to, 0, At("A3"));
    PasteBlock(*from, 0, R("A1:B2"), *to, 0, At("A2")); // over the middle of both
    const Worksheet& t = to->Sheet(0);
    EXPECT_EQ(t.UsedRange(), R("A1:B4"));
    EXPECT_EQ(CellOf(t, "A1")->number, 1);
    EXPECT_EQ(CellOf(t, "A2")->number, 1);
    EXPECT_EQ(CellOf(t, "B2"), nullptr);
    EXPECT_EQ(CellOf(t, "B3")->number, 2);
    EXPECT_EQ(CellOf(t, "A3"), nullptr);
    EXPECT_EQ(CellOf(t, "B4")->number, 2);
}

TEST(EmbeddedServerPaste, PastesASheetOntoItselfFromASnapshot)
{
    auto book = Book();
    SetNum(*book, "A1", 1);
    SetNum(*book, "A2", 2);
    SetNum(*book, "A3", 3);
    PasteBlock(*book, 0, R("A1:A3"), *book, 0, At("A2"));
    const Worksheet& t = book->Sheet(0);
    for (auto [address, value] : {std::pair{"A1", 1.0}, {"A2", 1.0}, {"A3", 2.0}, {"A4", 3.0}}) {
        ASSERT_NE(CellOf(t, address), nullptr) << address;
        EXPECT_EQ(CellOf(t, address)->number, value) << address;
    }
}

TEST(EmbeddedServerPaste, CarriesMergesInsideTheBlockOnly)
{
    auto from = Book();
    auto to = Book();
    Worksheet& s = from->Sheet(0);
    SetNum(*from, "A1", 1);
    s.merges = {R("B2:C3"), R("D4:F4"), R("A5:B6")}; // the last one reaches outside A1:E5
    to->Sheet(0).merges = {R("K10:L10"), R("A20:B20"), R("M11:N11")};

    PasteBlock(*from, 0, R("A1:E5"), *to, 0, At("J9"));

    std::vector<CellRange> merges = to->Sheet(0).merges;
    auto has = [&](const char* r) { return std::find(merges.begin(), merges.end(), R(r)) != merges.end(); };
    EXPECT_TRUE(has("K10:L11"));  // B2:C3 moved by (8 rows, 9 columns)
    EXPECT_FALSE(has("M12:O12")); // D4:F4 reaches column F, outside the block
    EXPECT_FALSE(has("J13:K14")); // partly outside: dropped
    EXPECT_FALSE(has("K10:L10")); // the target's own merges in the pasted area give way
    EXPECT_FALSE(has("M11:N11"));
    EXPECT_TRUE(has("A20:B20")); // outside the area: kept
    EXPECT_EQ(merges.size(), 2u);
}

TEST(EmbeddedServerPaste, CarriesHyperlinksClippedToTheBlock)
{
    auto from = Book();
    auto to = Book();
    SetText(*from, "A1", "site");
    engine::Hyperlink web{R("A1"), "https://example.com/", "", "tip", "site"};
    engine::Hyperlink inside{R("B2"), "", "'Other sheet'!C3", "", ""};
    engine::Hyperlink wide{R("C1:Z1"), "mailto:a@example.com", "", "", ""};
    engine::Hyperlink outside{R("H8"), "https://outside.example/", "", "", ""};
    from->Sheet(0).hyperlinks = {web, inside, wide, outside};

    PasteBlock(*from, 0, R("A1:D4"), *to, 0, At("B5"));

    const auto& links = to->Sheet(0).hyperlinks;
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(links[0].range, R("B5"));
    EXPECT_EQ(links[0].target, "https://example.com/");
    EXPECT_EQ(links[0].tooltip, "tip");
    EXPECT_EQ(links[1].range, R("C6"));
    EXPECT_EQ(links[1].location, "'Other sheet'!C3");
    EXPECT_EQ(links[2].range, R("D5:E5"));
}

TEST(EmbeddedServerPaste, SetsWidthsAndHeightsOnlyWhereTheTargetHasTheDefault)
{
    auto from = Book();
    auto to = Book();
    Worksheet& s = from->Sheet(0);
    SetNum(*from, "A1", 1);
    SetNum(*from, "A2", 2);
    SetNum(*from, "A3", 3);
    s.SetColumn({0, 0, 20.5, true, false, 0}); // A
    s.SetColumn({1, 2, 30, true, false, 0});   // B:C
    s.RowAt(0).height = 25;
    s.RowAt(0).customHeight = true;
    s.RowAt(2).height = 40;
    Worksheet& t = to->Sheet(0);
    t.SetColumn({1, 1, 9, true, false, 0}); // B already set by the user
    t.RowAt(2).height = 18;                 // row 3 too
    t.RowAt(2).customHeight = true;

    PasteBlock(*from, 0, R("A1:D3"), *to, 0, At("A1"));

    struct Width {
        uint32_t col;
        double width; // 0: no width set
    } widths[] = {{0, 20.5}, {1, 9}, {2, 30}, {3, 0}};
    for (const auto& w : widths) {
        const engine::ColumnInfo* info = t.FindColumn(w.col);
        EXPECT_EQ(info != nullptr ? info->width : 0.0, w.width) << "column " << w.col;
    }
    EXPECT_EQ(t.FindRow(0)->height, 25.0f);
    EXPECT_TRUE(t.FindRow(0)->customHeight);
    EXPECT_EQ(t.FindRow(1)->height, 0.0f);
    EXPECT_EQ(t.FindRow(2)->height, 18.0f);
}

TEST(EmbeddedServerPaste, SourceDefaultSizesBecomeExplicit)
{
    auto from = Book();
    auto to = Book();
    Worksheet& s = from->Sheet(0);
    s.defaultColWidth = 12;
    s.defaultRowHeight = 12.75;
    SetNum(*from, "A1", 1);
    SetNum(*from, "B1", 2);
    PasteBlock(*from, 0, R("A1:B1"), *to, 0, At("C1"));
    const Worksheet& t = to->Sheet(0);
    ASSERT_NE(t.FindColumn(2), nullptr);
    EXPECT_EQ(t.FindColumn(2)->width, 12);
    EXPECT_EQ(t.FindColumn(3)->width, 12);
    EXPECT_EQ(t.FindColumn(4), nullptr);
    EXPECT_EQ(t.FindRow(0)->height, 12.75f);
}

TEST(EmbeddedServerPaste, CopiesTheFrozenPaneOnlyIntoAnEmptySheetAtA1)
{
    struct Case {
        const char* block;
        const char* at;
        bool targetHasContent;
        uint32_t rows, cols;
    } cases[] = {
        {"A1:D10", "A1", false, 2, 1},
        {"B2:D10", "A1", false, 1, 0}, // the pane's first row and column lie outside the block
        {"A1:D10", "A5", false, 0, 0},
        {"A1:D10", "A1", true, 0, 0},
    };
    for (const auto& c : cases) {
        auto from = Book();
        auto to = Book();
        SetNum(*from, "A1", 1);
        SetNum(*from, "D10", 1);
        from->Sheet(0).frozenRows = 2;
        from->Sheet(0).frozenCols = 1;
        if (c.targetHasContent) {
            SetNum(*to, "Z100", 1);
        }
        PasteBlock(*from, 0, R(c.block), *to, 0, At(c.at));
        EXPECT_EQ(to->Sheet(0).frozenRows, c.rows) << c.block << " at " << c.at;
        EXPECT_EQ(to->Sheet(0).frozenCols, c.cols) << c.block << " at " << c.at;
    }
}

TEST(EmbeddedServerPaste, DatesKeepTheirCalendarValueAcrossDateSystems)
{
    struct Case {
        bool from1904, to1904;
        const char* format;
        double value, expected;
    } cases[] = {
        {true, false, "yyyy-mm-dd", 0, 1462},          // 1904-01-01
        {true, false, "d/m/yy h:mm", 100.25, 1562.25}, // date and time
        {false, true, "dd.mm.yyyy", 45000, 43538},
        {false, true, "mmm", 45000, 43538},   // month alone is a date
        {true, false, "h:mm", 0.5, 0.5},      // time of day: no calendar part
        {true, false, "[h]:mm:ss", 1.5, 1.5}, // elapsed time
        {true, false, "mm:ss", 0.01, 0.01},   // minutes, not months
        {true, false, "General", 100, 100},
        {true, false, "0.00", 100, 100},
        {false, true, "yyyy-mm-dd", 100, 100}, // 1900-04-09 has no 1904 serial
        {false, false, "yyyy-mm-dd", 45000, 45000},
        {true, true, "yyyy-mm-dd", 45000, 45000},
    };
    for (const auto& c : cases) {
        auto from = Book(c.from1904);
        auto to = Book(c.to1904);
        engine::ResolvedStyle style;
        style.numFmt = c.format;
        SetNum(*from, "A1", c.value, from->Styles().InternStyle(style));
        PasteBlock(*from, 0, R("A1"), *to, 0, At("A1"));
        EXPECT_DOUBLE_EQ(CellOf(to->Sheet(0), "A1")->number, c.expected) << c.format << " " << c.value;
    }
}

TEST(EmbeddedServerPaste, RecognisesCalendarParts)
{
    const struct {
        const char* code;
        bool date;
    } cases[] = {
        {"yyyy-mm-dd", true},      {"d-mmm", true},       {"mmmm", true},     {"m/d/yy h:mm", true},
        {"[$-409]dddd", true},     {"h:mm AM/PM", false}, {"[h]:mm", false},  {"mm:ss.0", false},
        {"\"day\" h:mm", false},   {"\\d h", false},      {"General", false}, {"[Red]0.00", false},
        {"hh:mm;\"yyyy\"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatHasDatePart(c.code), c.date) << c.code;
    }
}

TEST(EmbeddedServerPaste, RefusesABlockThatWouldLeaveTheGrid)
{
    auto from = Book();
    auto to = Book();
    SetNum(*from, "A1", 1);
    SetNum(*from, "B2", 2);
    SetNum(*to, "A1", 7);
    struct Case {
        const char* at;
        bool fits;
    } cases[] = {{"A1048575", true}, {"A1048576", false}, {"XFC1", true}, {"XFD1", false}};
    for (const auto& c : cases) {
        auto target = Book();
        if (c.fits) {
            EXPECT_NO_THROW(PasteBlock(*from, 0, R("A1:B2"), *target, 0, At(c.at))) << c.at;
        } else {
            try {
                PasteBlock(*from, 0, R("A1:B2"), *target, 0, At(c.at));
                ADD_FAILURE() << c.at << " was accepted";
            } catch (const ServerError& e) {
                EXPECT_NE(std::string(e.what()).find("does not fit"), std::string::npos) << e.what();
                EXPECT_EQ(target->Sheet(0).CellCount(), 0u) << "nothing pasted";
            }
        }
    }
}

} // namespace
} // namespace gq::automation
