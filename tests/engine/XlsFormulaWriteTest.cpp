// BIFF8 formulas written from the formula model: each token class encoded and decoded back, every
// limit of BIFF8 just under and just over, and written workbooks judged by xlrd, gnumeric and
// LibreOffice computing the formulas again.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/Formula.h"
#include "engine/xls/BiffFormula.h"
#include "engine/xls/XlsReader.h"
#include "engine/xls/XlsWriter.h"
#include "tests/engine/XlsWriterTestUtil.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <tuple>

namespace gq::engine {
namespace {

const std::vector<std::string> kSheets = {"Data", "Other Sheet", "S3"};

// The text a formula becomes through the encoder and the decoder, or "(refused)".
std::string ThroughBiff(const std::string& text, biff::FormulaEncoder& encoder, biff::FormulaGlobals& globals)
{
    formula::Formula f;
    EXPECT_TRUE(formula::ParseFormula(text, f)) << text;
    std::vector<uint8_t> rgce;
    std::vector<uint8_t> rgcb;
    if (!encoder.Encode(f, rgce, rgcb)) {
        return "(refused)";
    }
    globals = encoder.Globals();
    formula::Formula back;
    if (!biff::DecodeFormula(rgce, rgcb, globals, 0, 0, false, back)) {
        return "(undecodable)";
    }
    return formula::PrintFormula(back);
}

biff::FormulaGlobals OwnGlobals()
{
    biff::FormulaGlobals g;
    g.sheetNames = kSheets;
    biff::SupBook self;
    self.kind = biff::SupBook::Kind::Self;
    g.supBooks = {self};
    return g;
}

std::string Repeat(const std::string& part, size_t n, const std::string& glue)
{
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += (i > 0 ? glue : "") + part;
    }
    return out;
}

std::string Nested(size_t levels)
{
    std::string out = "1";
    for (size_t i = 0; i < levels; ++i) {
        out = "ABS(" + out + ")";
    }
    return out;
}

TEST(XlsFormulaEncode, EveryTokenClassRoundTrips)
{
    biff::FormulaEncoder encoder(kSheets);
    biff::FormulaGlobals globals = OwnGlobals();
    for (const char* text : {"1+2.5*3-4/5^2",
                             "-A1%",
                             "(A1+B2)*$C$3",
                             "A$1&$B2",
                             "\"h\xC3\xA9llo\"&\"\"",
                             "TRUE<>FALSE",
                             "#DIV/0!",
                             "A1:B3",
                             "A:C",
                             "2:5",
                             "$A:$B",
                             "SUM(A1:A3 A2:B2)",
                             "SUM((A1,B2))",
                             "'Other Sheet'!A1+Data!$B$2",
                             "SUM('Data:S3'!A1:B2)",
                             "ROUND(PI(),2)",
                             "IF(A1,,1)",
                             "SUM(1,2,3)",
                             "NOW()",
                             "{1,\"a\";TRUE,#N/A}",
                             "IV65536",
                             "A1<=B1",
                             "A1>=B1",
                             "A1<B1",
                             "A1>B1",
                             "A1=B1",
                             "+A1",
                             "'S3'!#REF!+1"}) {
        EXPECT_EQ(ThroughBiff(text, encoder, globals), text);
    }
    // References to other sheets share one EXTERNSHEET entry per sheet range.
    EXPECT_EQ(encoder.Xtis().size(), 4U);
}

struct LimitCase {
    const char* what;
    std::string under; // fits
    std::string over;  // does not
};

TEST(XlsFormulaEncode, EachLimitJustUnderAndJustOver)
{
    const std::vector<LimitCase> cases = {
        {"arguments", "SUM(" + Repeat("1", 30, ",") + ")", "SUM(" + Repeat("1", 31, ",") + ")"},
        {"fixed arguments", "ROUND(1,2)", "ROUND(1,2,3)"},
        {"nesting", Nested(7), Nested(8)},
        {"columns", "IV1", "IW1"},
        {"rows", "A65536", "A65537"},
        {"text", "\"" + std::string(255, 'x') + "\"", "\"" + std::string(256, 'x') + "\""},
        {"expression size", Repeat("1.5", 820, "+"), Repeat("1.5", 821, "+")},
        {"functions BIFF8 can call", "IFERROR(1,2)", "MYMACRO(1,2)"},
        {"arguments of a future function", "_xlfn.CONCAT(" + Repeat("1", 30, ",") + ")",
         "_xlfn.CONCAT(" + Repeat("1", 31, ",") + ")"},
        {"nesting with add-in functions", "GCD(" + Nested(6) + ",2)", "GCD(" + Nested(7) + ",2)"},
        {"sheets of the output", "'S3'!A1", "Gone!A1"},
        {"this workbook", "Data!A1", "[1]Data!A1"},
        {"names", "1", "Rate"},
    };
    biff::FormulaGlobals globals = OwnGlobals();
    for (const LimitCase& c : cases) {
        biff::FormulaEncoder encoder(kSheets);
        std::string under = ThroughBiff(c.under, encoder, globals);
        EXPECT_NE(under, "(refused)") << c.what;
        EXPECT_EQ(under, c.under.size() > 200 ? under : c.under) << c.what;
        EXPECT_EQ(ThroughBiff(c.over, encoder, globals), "(refused)") << c.what;
    }
}

TEST(XlsFormulaEncode, FutureFunctionsTakeTheArgumentCountsExcelAllows)
{
    struct ArityCase {
        const char* name;
        uint32_t minArgs;
        uint32_t maxArgs; // beyond 30, BIFF8's own cap bounds the call
    };
    // Both ends of the table, Excel 2007's functions without their prefix, optional arguments.
    const std::vector<ArityCase> cases = {
        {"IFERROR", 2, 2},       {"AVERAGEIF", 2, 3},          {"SUMIFS", 3, 30},     {"_xlfn.ACOT", 1, 1},
        {"_xlfn.Z.TEST", 2, 3},  {"_xlfn.XLOOKUP", 3, 6},      {"_xlfn.SHEET", 0, 1}, {"_xlfn.NORM.DIST", 4, 4},
        {"_xlfn.CONCAT", 1, 30}, {"_xlfn.FORECAST.ETS", 3, 6}, {"_xlfn.XOR", 1, 30},  {"_xlfn.UNLISTED", 0, 30},
    };
    biff::FormulaGlobals globals = OwnGlobals();
    auto call = [](const char* name, uint32_t args) { return std::string(name) + "(" + Repeat("1", args, ",") + ")"; };
    for (const ArityCase& c : cases) {
        biff::FormulaEncoder encoder(kSheets);
        for (uint32_t args : {c.minArgs, c.maxArgs}) {
            EXPECT_EQ(ThroughBiff(call(c.name, args), encoder, globals), call(c.name, args)) << c.name << " " << args;
        }
        if (c.minArgs > 0) {
            EXPECT_EQ(ThroughBiff(call(c.name, c.minArgs - 1), encoder, globals), "(refused)") << c.name;
        }
        EXPECT_EQ(ThroughBiff(call(c.name, c.maxArgs + 1), encoder, globals), "(refused)") << c.name;
        // A refused call hands out no NAME record for its function.
        biff::FormulaEncoder fresh(kSheets);
        formula::Formula f;
        ASSERT_TRUE(formula::ParseFormula(call(c.name, c.maxArgs + 1), f));
        fresh.Register(f);
        EXPECT_TRUE(fresh.FunctionNames().empty()) << c.name;
    }
}

// ---- Written workbooks --------------------------------------------------------------------------

std::unique_ptr<Workbook> FormulaBook()
{
    auto book = std::make_unique<Workbook>();
    book->InsertSheet(0, "Data");
    book->InsertSheet(1, "Other Sheet");
    Worksheet& data = book->Sheet(0);
    Worksheet& other = book->Sheet(1);
    for (uint32_t r = 0; r < 10; ++r) {
        data.SetNumber(r, 0, r + 1);
        data.SetNumber(r, 1, (r + 1) * 2);
    }
    other.SetNumber(0, 0, 5);
    StringTable& strings = book->Strings();
    // Each formula with the value it computes, as its cached result.
    struct Kept {
        const char* text;
        CellType type;
        double number;
        const char* str;
    };
    const std::vector<Kept> kept = {
        {"A1+B1", CellType::Number, 3, nullptr},
        {"SUM(A1:A10)", CellType::Number, 55, nullptr},
        {"SUM(A:A)", CellType::Number, 55, nullptr},
        {"'Other Sheet'!A1*2", CellType::Number, 10, nullptr},
        {"IF(A1>5,\"big\",\"small\")", CellType::String, 0, "small"},
        {"A1<B1", CellType::Boolean, 1, nullptr},
        {"1/0", CellType::Error, 0, nullptr},
        {"ROUND(AVERAGE(A1:B10)/2,3)", CellType::Number, 4.125, nullptr},
        {"SUM({1,2;3,4})", CellType::Number, 10, nullptr},
        {"CHOOSE(2,A1,A2,A3)", CellType::Number, 2, nullptr},
        {"VLOOKUP(3,$A$1:$B$10,2,FALSE)", CellType::Number, 6, nullptr},
        {"\"\"", CellType::String, 0, ""},
        {"MYMACRO(1,2)", CellType::Number, 1, nullptr}, // a macro BIFF8 cannot call: its value only
    };
    for (uint32_t i = 0; i < kept.size(); ++i) {
        Cell& c = data.CellAt(i, 3);
        c.type = kept[i].type;
        if (kept[i].type == CellType::String) {
            c.text = strings.Intern(kept[i].str);
        } else if (kept[i].type == CellType::Boolean) {
            c.boolean = kept[i].number != 0;
        } else if (kept[i].type == CellType::Error) {
            c.error = ErrorCode::Div0;
        } else {
            c.number = kept[i].number;
        }
        formula::SetCellFormula(data, i, 3, kept[i].text);
    }
    // A text result in bold: the STRING record after the FORMULA must not lose the cell's format.
    ResolvedStyle bold;
    bold.font.bold = true;
    data.CellAt(4, 3).style = book->Styles().InternStyle(bold);
    // A shared formula: E1:E10 point at one entry anchored at E1.
    data.SetNumber(0, 4, 4);
    formula::SetCellFormula(data, 0, 4, "A1*2+$B$1");
    for (uint32_t r = 1; r < 10; ++r) {
        Cell& c = data.CellAt(r, 4);
        c.type = CellType::Number;
        c.number = (r + 1) * 2 + 2;
        c.formula = true;
        c.formulaIndex = data.CellAt(0, 4).formulaIndex;
    }
    // Another, with text results: each cell's STRING record follows its FORMULA, and the first
    // cell's follows the SHRFMLA record.
    data.SetString(0, 5, strings.Intern("small"));
    formula::SetCellFormula(data, 0, 5, "IF(A1>5,\"big\",\"small\")");
    for (uint32_t r = 1; r < 10; ++r) {
        Cell& c = data.CellAt(r, 5);
        c.type = CellType::String;
        c.text = strings.Intern(r + 1 > 5 ? "big" : "small");
        c.formula = true;
        c.formulaIndex = data.CellAt(0, 5).formulaIndex;
    }
    return book;
}

// LibreOffice with a profile of its own in `dir`, so that tests and developers running it at the
// same time do not meet in one profile.
std::string Soffice(const test::TempDir& dir)
{
    return "soffice -env:UserInstallation=file://" + dir.Path().string() + "/profile --headless --norestore";
}

TEST(XlsFormulaWrite, FormulasReadBackAndOutsideReadersAgree)
{
    auto book = FormulaBook();
    MemorySink sink;
    EXPECT_EQ(WriteXls(*book, sink), 1U) << "BIFF8 cannot call MYMACRO";
    std::vector<uint8_t> bytes = sink.Bytes();
    auto again = ReadXls(InputBytes::FromMemory(std::vector<uint8_t>(bytes), "again.xls"));
    const Worksheet& data = again->Sheet(0);
    auto text = [&](uint32_t row, uint32_t col) {
        const Cell* c = data.FindCell(row, col);
        formula::Formula f;
        return c != nullptr && formula::CellFormula(data, row, *c, f, formula::kXlsGrid) ? formula::PrintFormula(f)
                                                                                         : std::string("(value)");
    };
    EXPECT_EQ(text(0, 3), "A1+B1");
    EXPECT_EQ(text(3, 3), "'Other Sheet'!A1*2");
    EXPECT_EQ(text(4, 3), "IF(A1>5,\"big\",\"small\")");
    EXPECT_EQ(again->Strings().At(data.FindCell(4, 3)->text), "small");
    EXPECT_TRUE(again->Styles().Resolve(data.FindCell(4, 3)->style).font.bold);
    EXPECT_EQ(text(12, 3), "(value)");
    EXPECT_EQ(data.FindCell(12, 3)->number, 1);
    EXPECT_EQ(text(9, 4), "A10*2+$B$1");
    EXPECT_EQ(text(9, 5), "IF(A10>5,\"big\",\"small\")");
    EXPECT_EQ(again->Strings().At(data.FindCell(9, 5)->text), "big");

    test::TempDir dir;
    const std::string path = dir.File("formulas.xls");
    test::SaveBytes(bytes, path);
    std::string out;
    if (test::HavePython("xlrd")) {
        ASSERT_EQ(
            test::RunPython("import sys, xlrd\ns = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
                            "print(s.cell_value(4, 3), s.cell_value(9, 4), s.cell_value(0, 5), s.cell_value(9, 5))",
                            {path}, out),
            0)
            << out;
        EXPECT_EQ(out, "small 22.0 small big\n");
    }
    if (test::RunCommand("command -v ssconvert", out) == 0) {
        EXPECT_EQ(test::GnumericConvert(path, dir.File("gnumeric.csv"), out), 0);
        EXPECT_EQ(out, "") << "gnumeric warned";
    }
    if (test::RunCommand("command -v soffice", out) != 0) {
        GTEST_SKIP() << "LibreOffice is not available";
    }
    // LibreOffice computes the formulas again: every written cached value must be what it gets.
    // The first column's numbers are spoiled in a second file, so that a LibreOffice that only
    // showed cached values would show the spoiled results.
    for (uint32_t r = 0; r < 10; ++r) {
        book->Sheet(0).SetNumber(r, 0, 100 + r);
    }
    book->SetFullCalcOnLoad(true);
    MemorySink spoiledSink;
    WriteXls(*book, spoiledSink);
    test::SaveBytes(spoiledSink.Bytes(), dir.File("spoiled.xls"));
    ASSERT_EQ(test::RunCommand("cd " + test::ShellQuote(dir.Path().string()) + " && " + Soffice(dir) +
                                   " --convert-to csv formulas.xls spoiled.xls",
                               out),
              0)
        << out;
    const std::string csv = test::ReadAll(dir.File("formulas.csv"));
    std::istringstream lines(csv);
    std::vector<std::string> d;
    std::vector<std::string> f;
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string field;
        std::vector<std::string> row;
        while (std::getline(fields, field, ',')) {
            row.push_back(field);
        }
        row.resize(std::max<size_t>(row.size(), 6));
        d.push_back(row[3] + "|" + row[4]);
        f.push_back(row[5]);
    }
    ASSERT_GE(d.size(), 13U) << csv;
    EXPECT_EQ(d[0], "3|4");
    EXPECT_EQ(d[1], "55|6");
    EXPECT_EQ(d[4], "small|12");
    EXPECT_EQ(d[7], "4.125|18");
    EXPECT_EQ(d[9], "2|22");
    EXPECT_EQ(d[10], "6|");
    EXPECT_EQ(f[0], "small");
    EXPECT_EQ(f[5], "big");
    const std::string spoiled = test::ReadAll(dir.File("spoiled.csv"));
    EXPECT_EQ(spoiled.substr(0, spoiled.find('\n')), "100,2,,102,202,big") << "LibreOffice computed the formulas";
}

// A formula many cells share is encoded once and its references moved in the bytes for each cell;
// a run of its cells down a column is written as one shared formula (SHRFMLA) where the shared form
// can hold it; the reader folds a column of such cells into one entry by their bytes. Every cell
// must get exactly the formula moving it there gives (#REF! where a reference leaves the grid), for
// every kind of reference, near all four edges of the grid, from our reader and from LibreOffice.
TEST(XlsFormulaWrite, SharedFormulasMoveInTheirBytesAsInTheModel)
{
    struct Shape {
        std::string text;
        bool shareable; // what a SHRFMLA may hold ([MS-XLS] 2.5.198.118)
    };
    const std::vector<Shape> shapes = {
        {"A1*2+SUM(B1,$H$1)", true},
        {"SUM(A:A)+B$1", true}, // whole columns keep their rows absolute in the shared form
        {"SUM(2:2)-$A1", true},
        {"Other!A1:B2+Other!$C$3", false},     // references to another sheet
        {"B1-IFERROR(C1,0)+GCD(D1,2)", false}, // an add-in function, PtgNameX
        {"SUM(A1:C3 B2:B9)", false},           // an intersection
        {"ROUND(A1,0)&\"x\"", true},
        {"{1,2}+A1", false}, // an array constant
    };
    // Cells sharing each shape, at moves from its anchor of every sign, some off the grid.
    const std::vector<std::pair<uint32_t, uint32_t>> cells = {
        {0, 0}, {1, 0}, {2, 0}, {3, 0}, {3, 1}, {4, 2}, {100, 3}, {65533, 4}, {65534, 4}, {65535, 4}, {65535, 255},
    };
    Workbook book;
    book.InsertSheet(0, "Data");
    book.InsertSheet(1, "Other");
    Worksheet& data = book.Sheet(0);
    for (size_t k = 0; k < shapes.size(); ++k) {
        formula::Formula f;
        ASSERT_TRUE(formula::ParseFormula(shapes[k].text, f)) << shapes[k].text;
        FormulaEntry entry;
        entry.formula = std::make_shared<formula::Formula>(f);
        entry.anchorRow = 2;
        entry.anchorCol = 1;
        data.formulas.push_back(entry);
        auto share = [&](uint32_t row, uint32_t col) {
            Cell& c = data.CellAt(row, col);
            c.type = CellType::Number;
            c.number = 1;
            c.formula = true;
            c.formulaIndex = static_cast<uint32_t>(k);
        };
        for (auto [row, col] : cells) {
            if (col < 5) {
                share(row, static_cast<uint32_t>(col + 5 * k));
            } else if (k == 0) {
                share(row, col);
            }
        }
        // A filled-down block of its own, which the reader stores as one entry; most cross a
        // 32-row block of the file.
        for (uint32_t r = 0; r < 20; ++r) {
            share(static_cast<uint32_t>(200 + 20 * k + r), 60);
        }
        // A column longer than one shared formula counts.
        for (uint32_t r = 0; k == 0 && r < 300; ++r) {
            share(1000 + r, 70);
        }
        // Two columns filled side by side with formulas no shared formula holds, so that each
        // cell has a FORMULA record of its own: the reader folds each column into one entry.
        for (uint32_t r = 0; (k == 3 || k == 5) && r < 20; ++r) {
            share(1500 + r, k == 3 ? 80 : 81);
        }
    }
    // A block whose cells each hold the same text, which is not one formula moved along.
    for (uint32_t r = 400; r < 405; ++r) {
        data.SetNumber(r, 60, 1);
        formula::SetCellFormula(data, r, 60, "C5*2+$D$1");
    }
    MemorySink sink;
    WriteXls(book, sink);
    auto again = ReadXls(InputBytes::FromMemory(sink.Bytes(), "moved.xls"));
    const Worksheet& back = again->Sheet(0);
    size_t checked = 0;
    for (const Row& row : data.rows) {
        for (const Cell& cell : row.cells) {
            formula::Formula expected;
            formula::Formula got;
            ASSERT_TRUE(formula::CellFormula(data, row.index, cell, expected, formula::kXlsGrid));
            const Cell* read = back.FindCell(row.index, cell.col);
            ASSERT_NE(read, nullptr);
            ASSERT_TRUE(formula::CellFormula(back, row.index, *read, got, formula::kXlsGrid))
                << CellName(row.index, cell.col);
            EXPECT_EQ(formula::PrintFormula(got), formula::PrintFormula(expected)) << CellName(row.index, cell.col);
            ++checked;
        }
    }
    EXPECT_EQ(checked, shapes.size() * (cells.size() - 1 + 20) + 1 + 5 + 300 + 40);
    // Each filled-down block is one entry, and so is each of the columns side by side.
    std::set<uint32_t> blockEntries;
    for (uint32_t r = 200; r < 200 + 20 * shapes.size(); ++r) {
        blockEntries.insert(back.FindCell(r, 60)->formulaIndex);
    }
    EXPECT_EQ(blockEntries.size(), shapes.size());
    std::set<uint32_t> sideBySide;
    for (uint32_t r = 1500; r < 1520; ++r) {
        sideBySide.insert(back.FindCell(r, 80)->formulaIndex);
        sideBySide.insert(back.FindCell(r, 81)->formulaIndex);
    }
    EXPECT_EQ(sideBySide.size(), 2U);

    // The shared formulas written: every run of two or more cells down a column of one shareable
    // entry, each on the grid where it is moved, in pieces of at most 255 cells (cUse is a byte).
    using Range = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>; // rows, column, cells
    std::set<Range> expected;
    std::map<uint32_t, std::vector<std::pair<uint32_t, uint32_t>>> byColumn; // row, entry or none
    for (const Row& row : data.rows) {
        for (const Cell& cell : row.cells) {
            const FormulaEntry& entry = data.formulas[cell.formulaIndex];
            const bool fits = cell.formulaIndex < shapes.size() && shapes[cell.formulaIndex].shareable &&
                              formula::MovesWithin(*entry.formula, int64_t{row.index} - entry.anchorRow,
                                                   int64_t{cell.col} - entry.anchorCol, formula::kXlsGrid);
            byColumn[cell.col].emplace_back(row.index, fits ? cell.formulaIndex : UINT32_MAX);
        }
    }
    for (const auto& [col, column] : byColumn) {
        for (size_t i = 0; i < column.size();) {
            size_t j = i + 1;
            while (j < column.size() && j - i < 255 && column[i].second != UINT32_MAX &&
                   column[j].second == column[i].second && column[j].first == column[j - 1].first + 1) {
                ++j;
            }
            if (j - i >= 2) {
                expected.emplace(column[i].first, column[j - 1].first, col, static_cast<uint32_t>(j - i));
            }
            i = j;
        }
    }
    std::set<Range> written;
    size_t pointing = 0;
    for (const test::xls::Record& r : test::xls::Records(test::xls::ReadOnlyStream(sink.Bytes()))) {
        if (r.type == 0x04BC) {
            written.emplace(test::xls::Get16(r.body, 0), test::xls::Get16(r.body, 2), r.body.at(4), r.body.at(7));
            EXPECT_EQ(r.body.at(4), r.body.at(5)) << "one column";
        } else if (r.type == 0x0006 && test::xls::Get16(r.body, 20) == 5 && r.body.at(22) == 0x01) {
            EXPECT_NE(test::xls::Get16(r.body, 14) & 0x0008, 0) << "fShrFmla";
            ++pointing;
        }
    }
    EXPECT_EQ(written, expected);
    EXPECT_GE(expected.size(), 7U) << "the table must give shared formulas to check";
    size_t cellsInRuns = 0;
    for (const Range& range : expected) {
        cellsInRuns += std::get<3>(range);
    }
    EXPECT_EQ(pointing, cellsInRuns) << "each cell of a run points at its first cell";

    // Outside readers: gnumeric without a warning, and LibreOffice showing each shared cell's
    // formula as the model has it there.
    test::TempDir dir;
    const std::string path = dir.File("moved.xls");
    test::SaveBytes(sink.Bytes(), path);
    std::string out;
    if (test::RunCommand("command -v ssconvert", out) == 0) {
        EXPECT_EQ(test::GnumericConvert(path, dir.File("gnumeric.csv"), out), 0);
        EXPECT_EQ(out, "") << "gnumeric warned";
    }
    if (test::RunCommand("command -v soffice", out) != 0 || !test::HavePython("openpyxl")) {
        GTEST_SKIP() << "LibreOffice or openpyxl is not available";
    }
    ASSERT_EQ(test::RunCommand("cd " + test::ShellQuote(dir.Path().string()) + " && " + Soffice(dir) +
                                   " --convert-to xlsx moved.xls",
                               out),
              0)
        << out;
    std::string cellsArg;
    for (const Range& range : expected) {
        for (uint32_t r = std::get<0>(range); r <= std::get<1>(range); ++r) {
            cellsArg += CellName(r, std::get<2>(range)) + " ";
        }
    }
    // LibreOffice's grid is wider than BIFF8's 256 columns: a whole row of an .xls file is A2:IV2 to it.
    ASSERT_EQ(test::RunPython(R"py(
import re, sys, openpyxl
ws = openpyxl.load_workbook(sys.argv[1]).worksheets[0]
for ref in sys.argv[2].split():
    print(ref, re.sub(r"\$?A(\$?\d+):\$?IV(\$?\d+)", r"\1:\2", ws[ref].value))
)py",
                              {dir.File("moved.xlsx"), cellsArg}, out),
              0)
        << out.substr(0, 2000);
    std::istringstream lines(out);
    std::string ref;
    std::string text;
    size_t compared = 0;
    while (lines >> ref >> text) {
        CellRef at;
        ASSERT_TRUE(ParseCellName(ref, at)) << ref;
        formula::Formula f;
        ASSERT_TRUE(formula::CellFormula(data, at.row, *data.FindCell(at.row, at.col), f, formula::kXlsGrid));
        EXPECT_EQ(text, "=" + formula::PrintFormula(f)) << ref;
        ++compared;
    }
    EXPECT_EQ(compared, cellsInRuns);
}

// Functions newer than Excel 97 go through a NAME record ("_xlfn.IFERROR") and the Analysis
// ToolPak's through an add-in's EXTERNNAME, as Excel 2007 and later save them; each is read back,
// and LibreOffice, computing every formula again, must get the value we cached and show the same
// formula text. The last formula's cached value is wrong on purpose: LibreOffice must correct it.
TEST(XlsFormulaWrite, FutureAndAddInFunctionsAreCalledByName)
{
    struct Case {
        const char* text;
        const char* value; // as openpyxl prints the computed value
    };
    const std::vector<Case> cases = {
        {"IFERROR(A1/0,\"none\")", "none"},
        {"SUMIFS(B1:B10,A1:A10,\">5\")", "80"},
        {"COUNTIFS(A1:A10,\">2\",B1:B10,\"<15\")", "5"},
        {"AVERAGEIF(A1:A10,\">5\")", "8"},
        {"AVERAGEIFS(B1:B10,A1:A10,\">=9\")", "19"},
        {"_xlfn.STDEV.S(A1:A3)", "1"},
        {"_xlfn.CONCAT(\"a\",A2)", "a2"},
        {"EDATE(DATE(2020,1,31),1)", "43890"},
        {"EOMONTH(DATE(2020,1,15),0)", "43861"},
        {"NETWORKDAYS(DATE(2024,1,1),DATE(2024,1,31))", "23"},
        {"ISEVEN(A2)*5", "5"},
        {"GCD(12,18)+IFERROR(SUMIFS(B1:B10,A1:A10,\">9\"),0)", "26"},
        {"ROUND(AVERAGEIF(A1:A10,\"<3\")*IFERROR(1/0,2),1)", "3"},
        {"IFERROR(A1*1,0)", "1"},
    };
    Workbook book;
    book.InsertSheet(0, "Data");
    Worksheet& data = book.Sheet(0);
    for (uint32_t r = 0; r < 10; ++r) {
        data.SetNumber(r, 0, r + 1);
        data.SetNumber(r, 1, (r + 1) * 2);
    }
    for (uint32_t i = 0; i < cases.size(); ++i) {
        const std::string value = cases[i].value;
        Cell& c = data.CellAt(i, 3);
        if (value.find_first_not_of("0123456789.") == std::string::npos) {
            c.type = CellType::Number;
            c.number = i + 1 == cases.size() ? 999 : std::stod(value); // the last one wrong on purpose
        } else {
            c.type = CellType::String;
            c.text = book.Strings().Intern(value);
        }
        formula::SetCellFormula(data, i, 3, cases[i].text);
    }
    book.SetFullCalcOnLoad(true);
    MemorySink sink;
    ASSERT_EQ(WriteXls(book, sink), 0U) << "every formula is one BIFF8 can call";
    auto again = ReadXls(InputBytes::FromMemory(sink.Bytes(), "names.xls"));
    for (uint32_t i = 0; i < cases.size(); ++i) {
        const Cell* c = again->Sheet(0).FindCell(i, 3);
        formula::Formula f;
        ASSERT_TRUE(c != nullptr && formula::CellFormula(again->Sheet(0), i, *c, f, formula::kXlsGrid)) << i;
        EXPECT_EQ(formula::PrintFormula(f), cases[i].text);
    }

    test::TempDir dir;
    const std::string path = dir.File("names.xls");
    test::SaveBytes(sink.Bytes(), path);
    std::string out;
    if (test::HavePython("xlrd")) {
        ASSERT_EQ(test::RunPython(
                      "import sys, xlrd\nprint(xlrd.open_workbook(sys.argv[1]).sheet_by_index(0).cell_value(0, 3))",
                      {path}, out),
                  0)
            << out;
        EXPECT_EQ(out, "none\n");
    }
    if (test::RunCommand("command -v ssconvert", out) == 0) {
        EXPECT_EQ(test::GnumericConvert(path, dir.File("gnumeric.csv"), out), 0);
        EXPECT_EQ(out, "") << "gnumeric warned";
    }
    if (test::RunCommand("command -v soffice", out) != 0 || !test::HavePython("openpyxl")) {
        GTEST_SKIP() << "LibreOffice or openpyxl is not available";
    }
    ASSERT_EQ(test::RunCommand("cd " + test::ShellQuote(dir.Path().string()) + " && " + Soffice(dir) +
                                   " --convert-to xlsx names.xls",
                               out),
              0)
        << out;
    ASSERT_EQ(test::RunPython(R"(
import sys, openpyxl
texts = openpyxl.load_workbook(sys.argv[1]).active
values = openpyxl.load_workbook(sys.argv[1], data_only=True).active
for r in range(1, int(sys.argv[2]) + 1):
    v = values.cell(r, 4).value
    if isinstance(v, float) and v == int(v):
        v = int(v)
    print("%s\t%s" % (texts.cell(r, 4).value, v))
)",
                              {dir.File("names.xlsx"), std::to_string(cases.size())}, out),
              0)
        << out;
    std::istringstream lines(out);
    for (const Case& c : cases) {
        std::string line;
        std::getline(lines, line);
        EXPECT_EQ(line, "=" + std::string(c.text) + "\t" + c.value);
    }
}

// Array formulas go into ARRAY records, each cell of the range a FORMULA with its own result; read
// back with their ranges, and LibreOffice, computing them again, gets every cached result and
// shows the same array. An array whose range lacks a cell is written as its values.
TEST(XlsFormulaWrite, ArrayFormulasKeepTheirRanges)
{
    struct Case {
        const char* text;
        uint32_t row, col, rows, cols;
        std::vector<double> results; // row by row
    };
    const std::vector<Case> cases = {
        {"A1:A3*2", 0, 5, 3, 1, {2, 4, 6}},       {"TRANSPOSE(A1:A2)", 0, 6, 1, 2, {1, 2}},
        {"SUM(A1:A3*B1:B3)", 4, 5, 1, 1, {28}},   {"MMULT({1,2;3,4},{1;1})", 5, 5, 2, 1, {3, 7}},
        {"A1:B2+$A$3", 7, 5, 2, 2, {4, 5, 5, 7}},
    };
    Workbook book;
    book.InsertSheet(0, "Data");
    Worksheet& data = book.Sheet(0);
    for (uint32_t r = 0; r < 3; ++r) {
        data.SetNumber(r, 0, r + 1);
        data.SetNumber(r, 1, (r + 1) * 2);
    }
    for (const Case& c : cases) {
        for (uint32_t k = 0; k < c.results.size(); ++k) {
            data.SetNumber(c.row + k / c.cols, c.col + k % c.cols, c.results[k]);
        }
        formula::SetCellFormula(data, c.row, c.col, c.text, c.rows, c.cols);
    }
    // A range with a cell the model does not hold: no FORMULA record could stand for it.
    data.SetNumber(10, 5, 1);
    formula::SetCellFormula(data, 10, 5, "A1:A2", 2, 1);
    MemorySink sink;
    ASSERT_EQ(WriteXls(book, sink), 1U) << "the array with a missing cell";
    auto again = ReadXls(InputBytes::FromMemory(sink.Bytes(), "arrays.xls"));
    const Worksheet& back = again->Sheet(0);
    for (const Case& c : cases) {
        const Cell* cell = back.FindCell(c.row, c.col);
        formula::Formula f;
        ASSERT_TRUE(cell != nullptr && formula::CellFormula(back, c.row, *cell, f, formula::kXlsGrid)) << c.text;
        EXPECT_EQ(formula::PrintFormula(f), c.text);
        EXPECT_EQ(back.formulas[cell->formulaIndex].arrayRows, c.rows) << c.text;
        EXPECT_EQ(back.formulas[cell->formulaIndex].arrayCols, c.cols) << c.text;
        for (uint32_t k = 0; k < c.results.size(); ++k) {
            const Cell* member = back.FindCell(c.row + k / c.cols, c.col + k % c.cols);
            ASSERT_NE(member, nullptr);
            EXPECT_EQ(member->number, c.results[k]) << c.text << " " << k;
        }
    }
    EXPECT_EQ(back.FindCell(10, 5)->formulaIndex, kNoFormula);

    test::TempDir dir;
    const std::string path = dir.File("arrays.xls");
    test::SaveBytes(sink.Bytes(), path);
    std::string out;
    if (test::HavePython("xlrd")) {
        ASSERT_EQ(test::RunPython("import sys, xlrd\ns = xlrd.open_workbook(sys.argv[1]).sheet_by_index(0)\n"
                                  "print(s.cell_value(2, 5), s.cell_value(0, 6), s.cell_value(8, 6))",
                                  {path}, out),
                  0)
            << out;
        EXPECT_EQ(out, "6.0 1.0 7.0\n");
    }
    if (test::RunCommand("command -v ssconvert", out) == 0) {
        EXPECT_EQ(test::GnumericConvert(path, dir.File("gnumeric.csv"), out), 0);
        EXPECT_EQ(out, "") << "gnumeric warned";
    }
    if (test::RunCommand("command -v soffice", out) != 0 || !test::HavePython("openpyxl")) {
        GTEST_SKIP() << "LibreOffice or openpyxl is not available";
    }
    // Spoiled inputs with fAlwaysCalc: LibreOffice's results must follow the inputs, not our cache.
    data.SetNumber(0, 0, 11);
    book.SetFullCalcOnLoad(true);
    MemorySink spoiled;
    WriteXls(book, spoiled);
    test::SaveBytes(spoiled.Bytes(), dir.File("spoiled.xls"));
    ASSERT_EQ(test::RunCommand("cd " + test::ShellQuote(dir.Path().string()) + " && " + Soffice(dir) +
                                   " --convert-to xlsx arrays.xls spoiled.xls",
                               out),
              0)
        << out;
    const std::string script = R"(
import sys, openpyxl
texts = openpyxl.load_workbook(sys.argv[1]).active
values = openpyxl.load_workbook(sys.argv[1], data_only=True).active
for row in texts.iter_rows(min_col=6, max_col=7):
    for c in row:
        if isinstance(c.value, str) and c.value.startswith("="):
            print(c.coordinate, c.value, texts.formula_attributes.get(c.coordinate, {}).get("ref", "-"))
print(" ".join("%g" % values.cell(r, 6).value for r in (1, 2, 3, 5, 6, 7, 8, 9)))
)";
    ASSERT_EQ(test::RunPython(script, {dir.File("arrays.xlsx")}, out), 0) << out;
    EXPECT_EQ(out, "F1 =A1:A3*2 F1:F3\nG1 =TRANSPOSE(A1:A2) G1:H1\nF5 =SUM(A1:A3*B1:B3) F5:F5\n"
                   "F6 =MMULT({1,2;3,4},{1;1}) F6:F7\nF8 =A1:B2+$A$3 F8:G9\n2 4 6 28 3 7 4 5\n");
    ASSERT_EQ(test::RunPython(script, {dir.File("spoiled.xlsx")}, out), 0) << out;
    EXPECT_NE(out.find("\n22 4 6 48 3 7 14 5\n"), std::string::npos) << out;
}

} // namespace
} // namespace gq::engine
