// Formulas through whole merges to xlsx and xls: generated workbooks with formulas of every kind, both
// modes; the formula text per cell, the report's notes, and LibreOffice recalculating every kept
// formula to the value we wrote as its cached one. The corpus's workbooks with formulas the same
// way, counted per file.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "engine/WorkbookFile.h"
#include "engine/formula/Formula.h"
#include "merge/MergeEngine.h"
#include "tests/support/FakePrompts.h"
#include "tests/support/TestSupport.h"
#include "tests/support/XlsxTestPackage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iomanip>
#include <map>
#include <sstream>

namespace gq::merge {
namespace {

using catalogue::SheetEntry;
using engine::Workbook;
using engine::Worksheet;

const std::string kChecker = std::string(GQ_SOURCE_DIR) + "/tests/merge/scripts/check_formulas.py";

// Puts a number with a formula computing it.
void Formula(Worksheet& s, const char* where, double cached, const char* text)
{
    engine::CellRef at;
    ASSERT_TRUE(engine::ParseCellName(where, at));
    s.SetNumber(at.row, at.col, cached);
    engine::formula::SetCellFormula(s, at.row, at.col, text);
}

void Number(Worksheet& s, const char* where, double value)
{
    engine::CellRef at;
    ASSERT_TRUE(engine::ParseCellName(where, at));
    s.SetNumber(at.row, at.col, value);
}

// east.xlsx: "My Data" (values and same-sheet formulas, relative and absolute), Summary (its content
// from B2, formulas on Data, on itself and on Rates, which is not merged) and Rates.
// west.xlsx: another "My Data", whose name clashes in a multi-sheet merge, and Calc, with formulas on
// its Data and formulas that cannot stay true in any output.
void WriteSources(const std::string& east, const std::string& west)
{
    Workbook a;
    Worksheet& data = a.Sheet(a.InsertSheet(0, "My Data"));
    Worksheet& summary = a.Sheet(a.InsertSheet(1, "Summary"));
    Worksheet& rates = a.Sheet(a.InsertSheet(2, "Rates"));
    Number(data, "A1", 1);
    Number(data, "B1", 10);
    Formula(data, "C1", 10, "A1*B1");
    Number(data, "A2", 2);
    Number(data, "B2", 20);
    Formula(data, "C2", 40, "A2*B2");
    Number(data, "A3", 3);
    Number(data, "B3", 30);
    Formula(data, "C3", 30, "A3*$B$1");
    Formula(data, "A4", 6, "SUM(A1:A3)");
    Formula(summary, "B2", 50, "'My Data'!C1+'My Data'!C2");
    Formula(summary, "B3", 6, "SUM('my data'!A1:A3)");
    Formula(summary, "B4", 40, "'My Data'!$B$2*2");
    Formula(summary, "B5", 10, "Rates!A1*2");
    Formula(summary, "B6", 56, "B2+B3");
    Formula(summary, "B7", 1, "'My Data'!A1");
    Number(rates, "A1", 5);
    // Links to places in the workbook: on Data, on Summary itself, on Rates (not merged).
    const std::vector<std::pair<uint32_t, const char*>> links = {{7, "'My Data'!B2"}, {8, "B3"}, {9, "Rates!A1"}};
    for (const auto& [row, location] : links) {
        summary.SetString(row, 1, a.Strings().Intern(location));
        summary.hyperlinks.push_back(engine::Hyperlink{engine::CellRange{row, 1, row, 1}, "", location, "", ""});
    }
    engine::SaveWorkbookFile(a, east);

    Workbook b;
    Worksheet& wdata = b.Sheet(b.InsertSheet(0, "My Data"));
    Worksheet& calc = b.Sheet(b.InsertSheet(1, "Calc"));
    Number(wdata, "A1", 100);
    Formula(wdata, "B1", 25, "A1/4");
    Formula(calc, "A1", 125, "'My Data'!A1+'My Data'!B1");
    Formula(calc, "A2", 4, "TaxRate*2");
    Formula(calc, "A3", 225, "SUM('My Data:Calc'!A1)");
    Formula(calc, "A4", 7, "[1]Other!A1");
    engine::SaveWorkbookFile(b, west);
}

struct Checked {
    std::map<std::string, std::string> formulas; // "'Sheet'!A1" -> "=text"
    bool fullCalc = false;
    std::vector<std::string> mismatches;
    int checked = -1;
    std::string raw;
};

Checked Check(const std::string& output)
{
    Checked out;
    test::RunCommand("/usr/bin/python3 " + test::ShellQuote(kChecker) + " " + test::ShellQuote(output), out.raw);
    std::istringstream lines(out.raw);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "F") {
            std::string sheet;
            std::string cell;
            words >> std::quoted(sheet) >> cell;
            std::string text;
            std::getline(words >> std::ws, text);
            out.formulas[sheet + "!" + cell] = text;
        } else if (kind == "CALC") {
            int v = 0;
            words >> v;
            out.fullCalc = v == 1;
        } else if (kind == "MISMATCH") {
            out.mismatches.push_back(line);
        } else if (kind == "CHECKED") {
            words >> out.checked;
        }
    }
    return out;
}

// The ECMA-376 schema and consistency validator's complaints about an output, empty when it passes.
std::string ValidatorComplaints(const std::string& path)
{
    if (!std::filesystem::exists(GQ_VALIDATE_XLSX)) {
        return {};
    }
    std::string out;
    int rc = test::RunCommand(std::string(GQ_VALIDATE_XLSX) + " -q " + test::ShellQuote(path), out);
    return rc == 0 ? std::string() : "validate-xlsx exit " + std::to_string(rc) + ":\n" + out;
}

bool HaveCheckers()
{
    std::string out;
    return test::HavePython("openpyxl") && test::RunCommand("command -v soffice", out) == 0;
}

struct FormulaMerge : testing::Test {
    test::TempDir dir;
    automation::EmbeddedServerFactory servers;
    test::FakePrompts prompts;
    std::vector<SheetEntry> entries;
    std::string east;
    std::string west;

    void SetUp() override
    {
        east = dir.File("east.xlsx");
        west = dir.File("west.xlsx");
        WriteSources(east, west);
        entries = {{"My Data", east}, {"Summary", east}, {"My Data", west}, {"Calc", west}};
    }
};

TEST_F(FormulaMerge, MultiSheetKeepsRewritesAndReportsFormulas)
{
    const std::string output = dir.File("multi.xlsx");
    MergeReport report = MergeSheets(entries, output, true, servers, prompts);
    EXPECT_TRUE(report.skipped.empty());

    // The sheets as the output names them: east's "My Data" lost its name to west's, merged first.
    auto book = engine::OpenWorkbookFile(output);
    std::string eastData;
    for (size_t i = 0; i < book->SheetCount(); ++i) {
        const engine::Cell* a1 = book->Sheet(i).FindCell(0, 0);
        if (book->SheetName(i) != "My Data" && a1 != nullptr && a1->type == engine::CellType::Number &&
            a1->number == 1) {
            eastData = book->SheetName(i);
        }
    }
    ASSERT_FALSE(eastData.empty());
    const std::string q = engine::formula::SheetNameNeedsQuotes(eastData) ? "'" + eastData + "'" : eastData;

    // Summary's links, moved from B8:B10 to A7:A9, point where their cells went.
    std::map<std::string, std::string> locations;
    std::map<std::string, std::string> targets;
    for (size_t i = 0; i < book->SheetCount(); ++i) {
        if (book->SheetName(i) == "Summary") {
            for (const engine::Hyperlink& h : book->Sheet(i).hyperlinks) {
                locations[engine::RangeName(h.range)] = h.location;
                targets[engine::RangeName(h.range)] = h.target;
            }
        }
    }
    EXPECT_EQ(locations["A7"], q + "!B2");
    EXPECT_EQ(locations["A8"], "A2");
    EXPECT_EQ(targets["A7"] + targets["A8"], "") << "places in the output stay places in it";
    // A sheet that is not merged: the link goes to that place in the source workbook file.
    EXPECT_EQ(locations["A9"], "Rates!A1");
    EXPECT_EQ(targets["A9"], east);

    if (!HaveCheckers()) {
        GTEST_SKIP() << "openpyxl or LibreOffice is not available";
    }
    EXPECT_EQ(ValidatorComplaints(output), "");
    Checked c = Check(output);
    ASSERT_GE(c.checked, 0) << c.raw;
    const std::vector<std::pair<std::string, std::string>> expected = {
        // Same-sheet formulas of a block pasted at A1 stay as they were.
        {eastData + "!C1", "=A1*B1"},
        {eastData + "!C2", "=A2*B2"},
        {eastData + "!C3", "=A3*$B$1"},
        {eastData + "!A4", "=SUM(A1:A3)"},
        {"My Data!B1", "=A1/4"},
        // Summary moved from B2 to A1: its own references moved with it; those to Data follow
        // east's Data under its new name, moved by that sheet's own offset (none).
        {"Summary!A1", "=" + q + "!C1+" + q + "!C2"},
        {"Summary!A2", "=SUM(" + q + "!A1:A3)"},
        {"Summary!A3", "=" + q + "!$B$2*2"},
        {"Summary!A5", "=A1+A2"},
        {"Summary!A6", "=" + q + "!A1"},
        // West's Calc points at west's Data, which kept its name.
        {"Calc!A1", "='My Data'!A1+'My Data'!B1"},
    };
    for (const auto& [where, text] : expected) {
        auto it = c.formulas.find(where);
        ASSERT_NE(it, c.formulas.end()) << where << " has no formula:\n" << c.raw;
        EXPECT_EQ(it->second, text) << where;
    }
    // Kept as values: the reference to Rates, a defined name, an external reference, and a 3-D
    // reference whose quoted sheet names have no text every reader reads (the .xls keeps it).
    for (const char* where : {"Summary!A4", "Calc!A2", "Calc!A3", "Calc!A4"}) {
        EXPECT_EQ(c.formulas.count(where), 0u) << where << " should be a value";
    }
    EXPECT_TRUE(c.mismatches.empty()) << c.raw;
    EXPECT_EQ(c.checked, static_cast<int>(expected.size()));

    ASSERT_EQ(report.notes.size(), 2u);
    EXPECT_EQ(report.notes[0].entry.SheetName, "Summary");
    EXPECT_EQ(report.notes[0].reason, "the sheet was merged, but one formula was kept as its value, one referred "
                                      "to cells the merge did not carry");
    EXPECT_EQ(report.notes[1].entry.SheetName, "Calc");
    EXPECT_EQ(report.notes[1].reason,
              "the sheet was merged, but 3 formulas were kept as their values: 1 with references to other workbooks, "
              "1 with 3-D references across sheets the output cannot hold as they were, 1 with defined names the "
              "output does not have");
}

TEST_F(FormulaMerge, SingleSheetStacksBlocksWithTheirFormulasMoved)
{
    const std::string output = dir.File("single.xlsx");
    MergeReport report = MergeSheets(entries, output, false, servers, prompts);
    EXPECT_TRUE(report.skipped.empty());
    auto book = engine::OpenWorkbookFile(output);
    ASSERT_EQ(book->SheetCount(), 2u);
    if (!HaveCheckers()) {
        GTEST_SKIP() << "openpyxl or LibreOffice is not available";
    }
    EXPECT_EQ(ValidatorComplaints(output), "");
    Checked c = Check(output);
    ASSERT_GE(c.checked, 0) << c.raw;
    // Blocks are stacked in visiting order (last entry first): Calc (A1:A4), west's Data (row 5),
    // Summary (rows 6 to 14, from B2:B10 to A6:A14), east's Data (rows 15 to 18).
    const std::string sheet =
        book->Sheet(0).CellCount() > book->Sheet(1).CellCount() ? book->SheetName(0) : book->SheetName(1);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"B5", "=A5/4"},
        {"A10", "=A6+A7"},
        {"C15", "=A15*B15"},
        {"C17", "=A17*$B$15"},
        {"A18", "=SUM(A15:A17)"},
        // References to the other sheets stacked here follow their blocks, under this sheet's name.
        {"A1", "=" + sheet + "!A5+" + sheet + "!B5"},
        {"A6", "=" + sheet + "!C15+" + sheet + "!C16"},
    };
    for (const auto& [cell, text] : expected) {
        auto it = c.formulas.find(sheet + "!" + cell);
        ASSERT_NE(it, c.formulas.end()) << cell << " has no formula:\n" << c.raw;
        EXPECT_EQ(it->second, text) << cell;
    }
    // A 3-D reference needs sheets of their own: a value here, as is the reference to Rates.
    EXPECT_EQ(c.formulas.count(sheet + "!A3"), 0u);
    EXPECT_EQ(c.formulas.count(sheet + "!A9"), 0u);
    // Every reference follows its cells, so every cached value holds and none needs computing.
    EXPECT_FALSE(c.fullCalc);
    EXPECT_TRUE(c.mismatches.empty()) << c.raw;
    EXPECT_EQ(report.notes.size(), 2u);
}

// The formula of `where` in the saved output as our reader reads it, "=text", or "" for none.
std::string SavedFormula(Workbook& book, const std::string& sheetName, const char* where)
{
    engine::CellRef at;
    for (size_t i = 0; i < book.SheetCount(); ++i) {
        if (book.SheetName(i) != sheetName || !engine::ParseCellName(where, at)) {
            continue;
        }
        const engine::Cell* cell = book.Sheet(i).FindCell(at.row, at.col);
        engine::formula::Formula f;
        if (cell != nullptr &&
            engine::formula::CellFormula(book.Sheet(i), at.row, *cell, f, engine::formula::kXlsGrid)) {
            return "=" + engine::formula::PrintFormula(f);
        }
    }
    return "";
}

TEST_F(FormulaMerge, XlsOutputKeepsTheFormulasAnXlsxOutputKeeps)
{
    const std::string output = dir.File("multi.xls");
    MergeReport report = MergeSheets(entries, output, true, servers, prompts);
    EXPECT_TRUE(report.skipped.empty());
    auto book = engine::OpenWorkbookFile(output);
    std::string eastData;
    for (size_t i = 0; i < book->SheetCount(); ++i) {
        const engine::Cell* a1 = book->Sheet(i).FindCell(0, 0);
        if (book->SheetName(i) != "My Data" && a1 != nullptr && a1->type == engine::CellType::Number &&
            a1->number == 1) {
            eastData = book->SheetName(i);
        }
    }
    ASSERT_FALSE(eastData.empty());
    const std::string q = engine::formula::SheetNameNeedsQuotes(eastData) ? "'" + eastData + "'" : eastData;
    EXPECT_EQ(SavedFormula(*book, eastData, "C3"), "=A3*$B$1");
    EXPECT_EQ(SavedFormula(*book, "My Data", "B1"), "=A1/4");
    EXPECT_EQ(SavedFormula(*book, "Summary", "A1"), "=" + q + "!C1+" + q + "!C2");
    EXPECT_EQ(SavedFormula(*book, "Summary", "A2"), "=SUM(" + q + "!A1:A3)");
    EXPECT_EQ(SavedFormula(*book, "Calc", "A1"), "='My Data'!A1+'My Data'!B1");
    EXPECT_EQ(SavedFormula(*book, "Calc", "A3"), "=SUM('My Data:Calc'!A1)");
    ASSERT_EQ(report.notes.size(), 2u);
    EXPECT_EQ(report.notes[1].reason, "the sheet was merged, but 2 formulas were kept as their values: 1 with "
                                      "references to other workbooks, 1 with defined names the output does not have");
}

TEST(FormulaMergeXls, FormulasAnXlsCannotHoldAreValuesTheReportCounts)
{
    test::TempDir dir;
    const std::string source = dir.File("new.xlsx");
    Workbook a;
    Worksheet& s = a.Sheet(a.InsertSheet(0, "New"));
    Number(s, "A1", 1);
    Formula(s, "B1", 1, "MYMACRO(A1,0)");
    Formula(s, "C1", 2, "A1*2");
    Formula(s, "D1", 1, "SUM(A1,A1)-A1");
    Formula(s, "E1", 1, "IFERROR(A1,0)+EDATE(0,0)");
    // A second sheet, merged after the first: the first one's rows are set aside on disk by then,
    // and resolving its formulas must still go through them. Its own formulas all stay.
    Worksheet& second = a.Sheet(a.InsertSheet(1, "Second"));
    for (uint32_t r = 0; r < 40; ++r) {
        second.SetNumber(r, 0, r);
        engine::formula::SetCellFormula(second, r, 1, "A" + std::to_string(r + 1) + "*2");
        second.CellAt(r, 1).type = engine::CellType::Number;
        second.CellAt(r, 1).number = r * 2.0;
    }
    engine::SaveWorkbookFile(a, source);
    automation::EmbeddedServerFactory servers;
    test::FakePrompts prompts;
    for (const bool newFirst : {true, false}) {
        SCOPED_TRACE(newFirst ? "New first" : "New last");
        const std::vector<catalogue::SheetEntry> entries =
            newFirst ? std::vector<catalogue::SheetEntry>{{"New", source}, {"Second", source}}
                     : std::vector<catalogue::SheetEntry>{{"Second", source}, {"New", source}};
        const std::string output = dir.File(newFirst ? "new-first.xls" : "new-last.xls");
        MergeReport report = MergeSheets(entries, output, true, servers, prompts);
        auto book = engine::OpenWorkbookFile(output);
        EXPECT_EQ(SavedFormula(*book, "New", "B1"), "");
        EXPECT_EQ(SavedFormula(*book, "New", "C1"), "=A1*2");
        EXPECT_EQ(SavedFormula(*book, "New", "D1"), "=SUM(A1,A1)-A1");
        EXPECT_EQ(SavedFormula(*book, "New", "E1"), "=IFERROR(A1,0)+EDATE(0,0)");
        EXPECT_EQ(SavedFormula(*book, "Second", "B40"), "=A40*2");
        ASSERT_EQ(report.notes.size(), 1u);
        EXPECT_EQ(report.notes[0].reason, "the sheet was merged, but one formula was kept as its value, one that an "
                                          "Excel 97-2003 workbook cannot hold");
    }
}

// A filled-down column whose formula names a cell of its own sheet by the sheet's name is
// rewritten to follow the block in a single-sheet merge; every cell of it, to either format, keeps
// its own row.
TEST(FormulaMergeSingle, AFilledColumnWithAFixedCellFollowsItsBlockInEveryCell)
{
    test::TempDir dir;
    const std::string source = dir.File("rates.xlsx");
    Workbook a;
    Worksheet& top = a.Sheet(a.InsertSheet(0, "Top"));
    for (uint32_t r = 0; r < 7; ++r) {
        top.SetNumber(r, 0, r);
    }
    Worksheet& rates = a.Sheet(a.InsertSheet(1, "Rates"));
    Number(rates, "A1", 2);
    for (uint32_t r = 2; r <= 41; ++r) {
        rates.SetNumber(r - 1, 0, r);
        const std::string text = "A" + std::to_string(r) + "*Rates!$A$1";
        engine::formula::SetCellFormula(rates, r - 1, 1, text);
        rates.CellAt(r - 1, 1).type = engine::CellType::Number;
        rates.CellAt(r - 1, 1).number = r * 2.0;
    }
    engine::SaveWorkbookFile(a, source);
    automation::EmbeddedServerFactory servers;
    test::FakePrompts prompts;
    for (const char* name : {"single.xlsx", "single.xls"}) {
        SCOPED_TRACE(name);
        const std::string output = dir.File(name);
        MergeReport report = MergeSheets({{"Top", source}, {"Rates", source}}, output, false, servers, prompts);
        EXPECT_TRUE(report.notes.empty());
        auto book = engine::OpenWorkbookFile(output);
        Worksheet& sheet = book->Sheet(0);
        // Where the Rates block landed: the row of its fixed cell, the one above the first formula.
        uint32_t first = UINT32_MAX;
        for (const engine::Row& row : sheet.rows) {
            const engine::Cell* cell = row.Find(1);
            if (cell != nullptr && cell->formulaIndex != engine::kNoFormula) {
                first = std::min(first, row.index);
            }
        }
        ASSERT_NE(first, UINT32_MAX);
        const uint32_t fixed = first; // 1-based row of A1's new place
        for (uint32_t r = 2; r <= 41; ++r) {
            const std::string at = "B" + std::to_string(fixed + r - 1);
            EXPECT_EQ(SavedFormula(*book, book->SheetName(0), at.c_str()),
                      "=A" + std::to_string(fixed + r - 1) + "*" + book->SheetName(0) + "!$A$" + std::to_string(fixed))
                << at;
        }
    }
}

// Formulas the reader could not keep (a shared formula whose first cell is missing, an empty
// formula) are their cached values in the output, and the report counts them with the others.
TEST(FormulaMergeRead, FormulasTheReaderCouldNotKeepAreCounted)
{
    test::TempDir dir;
    const std::string source = dir.File("lost.xlsx");
    test::SaveBytes(test::BuildZip(test::Entries(test::MinimalWorkbookParts(
                        R"(<row r="1"><c r="A1"><v>2</v></c><c r="B1"><f t="shared" si="7"/><v>5</v></c>)"
                        R"(<c r="C1"><f></f><v>6</v></c><c r="D1"><f>A1*3</f><v>6</v></c></row>)"))),
                    source);
    automation::EmbeddedServerFactory servers;
    test::FakePrompts prompts;
    const std::string output = dir.File("out.xlsx");
    MergeReport report = MergeSheets({{"Data", source}}, output, true, servers, prompts);
    ASSERT_EQ(report.notes.size(), 1u);
    EXPECT_EQ(report.notes[0].reason,
              "the sheet was merged, but 2 formulas were kept as their values: 2 whose text could not be read");
    auto book = engine::OpenWorkbookFile(output);
    EXPECT_EQ(SavedFormula(*book, "Data", "B1"), "");
    EXPECT_EQ(SavedFormula(*book, "Data", "D1"), "=A1*3");
    EXPECT_EQ(book->Sheet(0).FindCell(0, 1)->number, 5);
}

// A column whose last cells refer to cells the merge does not carry (far below the used range,
// past the .xls grid): those cells become values, wherever the sheet's rows are when the merge
// saves (set aside on disk when the merge went on to another sheet, in memory when it did not).
TEST(FormulaMergeXls, CellsReferringToCellsNotCarriedKeepTheirValues)
{
    test::TempDir dir;
    const std::string source = dir.File("fill.xlsx");
    Workbook a;
    Worksheet& fill = a.Sheet(a.InsertSheet(0, "Fill"));
    for (uint32_t r = 0; r < 40; ++r) {
        fill.SetNumber(r, 0, r);
        const uint32_t to = r < 37 ? r + 1 : 65500 + r;
        engine::formula::SetCellFormula(fill, r, 1, "A" + std::to_string(to) + "*2");
        fill.CellAt(r, 1).type = engine::CellType::Number;
        fill.CellAt(r, 1).number = r < 37 ? r * 2.0 : 0.0;
    }
    Number(a.Sheet(a.InsertSheet(1, "Other")), "A1", 1);
    engine::SaveWorkbookFile(a, source);
    automation::EmbeddedServerFactory servers;
    test::FakePrompts prompts;
    for (const bool fillFirst : {true, false}) {
        SCOPED_TRACE(fillFirst ? "Fill first" : "Fill last");
        const std::vector<catalogue::SheetEntry> entries =
            fillFirst ? std::vector<catalogue::SheetEntry>{{"Fill", source}, {"Other", source}}
                      : std::vector<catalogue::SheetEntry>{{"Other", source}, {"Fill", source}};
        const std::string output = dir.File(fillFirst ? "fill-first.xls" : "fill-last.xls");
        MergeReport report = MergeSheets(entries, output, true, servers, prompts);
        auto book = engine::OpenWorkbookFile(output);
        EXPECT_EQ(SavedFormula(*book, "Fill", "B1"), "=A1*2");
        EXPECT_EQ(SavedFormula(*book, "Fill", "B37"), "=A37*2");
        EXPECT_EQ(SavedFormula(*book, "Fill", "B38"), "");
        EXPECT_EQ(SavedFormula(*book, "Fill", "B40"), "");
        ASSERT_EQ(report.notes.size(), 1u);
        EXPECT_EQ(report.notes[0].reason, "the sheet was merged, but 3 formulas were kept as their values: 3 referred "
                                          "to cells the merge did not carry");
    }
}

} // namespace
} // namespace gq::merge

namespace gq::merge {
namespace {

// Cells whose formula keeps its text, over every sheet of a workbook; those inside the sheets'
// used ranges only (what a merge copies) when `usedOnly`.
size_t KeptFormulas(engine::Workbook& book, size_t* qualified = nullptr, bool usedOnly = false)
{
    size_t kept = 0;
    engine::formula::Formula f;
    for (size_t i = 0; i < book.SheetCount(); ++i) {
        const Worksheet& sheet = book.Sheet(i);
        const std::optional<engine::CellRange> used = sheet.UsedRange();
        for (const engine::Row& row : sheet.rows) {
            for (const engine::Cell& cell : row.cells) {
                if (usedOnly && (!used || !used->Contains(row.index, cell.col))) {
                    continue; // a formula cell without a value or format lies outside
                }
                if (engine::formula::CellFormula(sheet, row.index, cell, f)) {
                    ++kept;
                    if (qualified != nullptr && engine::formula::PrintFormula(f).find('!') != std::string::npos) {
                        ++*qualified;
                    }
                }
            }
        }
    }
    return kept;
}

// Functions whose value depends on when or how the workbook is computed, not on its cells.
bool Volatile(const std::string& line)
{
    for (const char* name : {"NOW(", "TODAY(", "RAND(", "RANDBETWEEN(", "INDIRECT(", "OFFSET(", "CELL(", "INFO("}) {
        if (line.find(name) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Each file is merged and judged by LibreOffice on its own; the corpus is split into parts, a test each.
constexpr size_t kCorpusParts = 4;
class FormulaMergeCorpus : public ::testing::TestWithParam<size_t> {};

TEST_P(FormulaMergeCorpus, EveryWorkbookWithFormulasMergesWithItsFormulasComputingTheirValues)
{
    const std::filesystem::path corpus = test::CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "corpus not present";
    }
    if (!HaveCheckers()) {
        GTEST_SKIP() << "openpyxl or LibreOffice is not available";
    }
    test::TempDir dir;
    automation::EmbeddedServerFactory servers;
    test::FakePrompts prompts;
    size_t files = 0;
    for (const auto& item : std::filesystem::directory_iterator(corpus / "files")) {
        const std::string path = item.path().string();
        if (item.path().extension() != ".xlsx" && item.path().extension() != ".xlsm") {
            continue;
        }
        if (test::CorpusShard(item.path().filename().string(), kCorpusParts) != GetParam()) {
            continue;
        }
        std::unique_ptr<Workbook> source;
        try {
            source = engine::OpenWorkbookFile(path);
        } catch (const std::exception&) {
            continue; // the readers' own tests cover damaged files
        }
        const size_t inSource = KeptFormulas(*source, nullptr, true);
        if (inSource == 0) {
            continue;
        }
        ++files;
        SCOPED_TRACE(item.path().filename().string());
        std::vector<SheetEntry> list;
        for (size_t i = 0; i < source->SheetCount(); ++i) {
            list.push_back({source->SheetName(i), path});
        }
        for (bool multi : {true, false}) {
            const std::string output = dir.File(std::string(multi ? "multi-" : "single-") + "out.xlsx");
            std::filesystem::remove(output);
            MergeReport report = MergeSheets(list, output, multi, servers, prompts);
            auto merged = engine::OpenWorkbookFile(output);
            size_t rewritten = 0;
            const size_t kept = KeptFormulas(*merged, &rewritten);
            std::printf("%-45s %-6s formulas %6zu kept %6zu (with sheet names %5zu) values %6zu, %zu entries noted\n",
                        item.path().filename().string().c_str(), multi ? "multi" : "single", inSource, kept, rewritten,
                        inSource - std::min(kept, inSource), report.notes.size());
            EXPECT_LE(kept, inSource);
            if (!multi) {
                continue;
            }
            // Every sheet merged as a sheet of its own: only formulas with links outside the
            // workbook, defined names or tables can have become values, and the report says so.
            EXPECT_EQ(kept < inSource, !report.notes.empty());
            EXPECT_EQ(ValidatorComplaints(output), "");
            Checked c = Check(output);
            ASSERT_GE(c.checked, 0) << c.raw;
            EXPECT_EQ(static_cast<size_t>(c.checked), kept) << "openpyxl reads every kept formula";
            // A workbook that computes with INDIRECT, OFFSET or the clock gives values that depend on
            // more than its cells: its differences are told, not judged. Elsewhere a kept formula
            // computes its cached value, unless the paste moved it away from what its absolute
            // references point at, and the workbook asks to be computed again for that.
            bool dependsOnMore = false;
            for (const auto& [where, text] : c.formulas) {
                dependsOnMore = dependsOnMore || Volatile(text);
            }
            size_t differ = 0;
            for (const std::string& m : c.mismatches) {
                ++differ;
                const bool moved = c.fullCalc && m.find('$') != std::string::npos;
                if (!dependsOnMore && !moved) {
                    ADD_FAILURE() << m;
                }
            }
            std::printf("%-45s LibreOffice computed %d formulas, %zu differ from the cached value%s\n",
                        item.path().filename().string().c_str(), c.checked, differ,
                        dependsOnMore ? " (the workbook uses INDIRECT, OFFSET or the clock)"
                        : differ > 0  ? " (absolute references after a move; full calculation asked)"
                                      : "");
        }
    }
    RecordProperty("files", static_cast<int>(files));
}

INSTANTIATE_TEST_SUITE_P(Part, FormulaMergeCorpus, ::testing::Range<size_t>(0, kCorpusParts));

} // namespace
} // namespace gq::merge
