// gq-dump: the canonical text of a workbook written by the engine, in both formats.
// SPDX-License-Identifier: Apache-2.0
#include "engine/WorkbookFile.h"
#include "engine/formula/Formula.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace gq::engine {
namespace {

const std::string kDump = std::string(GQ_BINARY_DIR) + "/tools/gq-dump";

// A small workbook with one of everything gq-dump prints.
Workbook Sample()
{
    Workbook book;
    book.InsertSheet(0, "Data \"1\"");
    book.InsertSheet(1, "Hidden", SheetState::Hidden);
    Worksheet& s = book.Sheet(0);
    ResolvedStyle style;
    style.font.name = "Arial";
    style.font.size = 12;
    style.font.bold = true;
    style.fill.pattern = PatternType::Solid;
    style.fill.fg = Color::Rgb(0xFFFFFF00);
    style.numFmt = "0.00";
    uint32_t styled = book.Styles().InternStyle(style);
    ResolvedStyle date;
    date.numFmt = "yyyy-mm-dd";
    s.SetString(0, 0, book.Strings().Intern("line\none\ttab"), styled);
    s.SetNumber(0, 1, 0.1, styled);
    s.SetNumber(1, 0, 45366, book.Styles().InternStyle(date));
    s.SetBoolean(1, 1, true);
    s.SetError(2, 0, ErrorCode::NA);
    s.merges.push_back(CellRange{3, 0, 4, 1});
    s.hyperlinks.push_back(Hyperlink{CellRange{0, 0, 0, 0}, "https://example.com/", "", "", ""});
    s.SetColumn(ColumnInfo{0, 0, 20, true, false, 0});
    s.RowAt(1).height = 30;
    s.RowAt(1).customHeight = true;
    s.frozenRows = 1;
    // Outline groups folded with their summaries above and to the left, a hidden row, a row
    // formatted as a whole.
    for (uint32_t r = 5; r <= 7; ++r) {
        s.RowAt(r).outlineLevel = r == 6 ? 2 : 1;
        s.RowAt(r).hidden = true;
    }
    s.RowAt(4).collapsed = true;
    ResolvedStyle rowFill;
    rowFill.fill.pattern = PatternType::Solid;
    rowFill.fill.fg = Color::Rgb(0xFF00B050);
    s.RowAt(8).style = book.Styles().InternStyle(rowFill);
    s.SetColumn(ColumnInfo{2, 3, 0, false, true, 0, false, 1});
    s.SetColumn(ColumnInfo{4, 4, 0, false, false, 0, true, 0});
    s.summaryBelow = false;
    s.summaryRight = false;
    return book;
}

TEST(GqDump, PrintsTheSameTextForBothFormats)
{
    test::TempDir dir;
    Workbook book = Sample();
    std::string outputs[2];
    const char* names[2] = {"sample.xlsx", "sample.xls"};
    for (int i = 0; i < 2; ++i) {
        std::string path = dir.File(names[i]);
        SaveWorkbookFile(book, path);
        ASSERT_EQ(test::RunCommand(test::ShellQuote(kDump) + " " + test::ShellQuote(path), outputs[i]), 0)
            << outputs[i];
    }
    const std::string& text = outputs[0];
    const char* expected[] = {
        "workbook date-system=1900 sheets=2 active=1\n",
        "sheet 1 \"Data \\\"1\\\"\" visible\n",
        "sheet 2 \"Hidden\" hidden\n",
        "  used A1:B5\n",
        "  cell A1 string \"line\\none\\ttab\" {numfmt \"0.00\"; font \"Arial\" 12 bold; fill solid fg=FFFFFF00",
        "  cell B1 number 0.1 {",
        "  cell A2 number 45366 (date) {numfmt \"yyyy-mm-dd\"}\n",
        "  cell B2 boolean TRUE\n",
        "  cell A3 error #N/A\n",
        "  merge A4:B5\n",
        "  hyperlink A1 target=\"https://example.com/\"\n",
        "  row 2 height=30 custom\n",
        "  frozen rows=1 columns=0\n",
        "  column A:A width=20",
        "  outline-summary rows=above columns=left\n",
        "  row 5 collapsed\n",
        "  row 9 {fill solid fg=FF00B050}\n",
    };
    for (const char* line : expected) {
        EXPECT_NE(text.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << text;
    }
    // Cells and sheets come in a fixed order, so the xls reading prints the same cells.
    auto cellLines = [](const std::string& dump) {
        std::string out;
        size_t pos = 0;
        while ((pos = dump.find("  cell ", pos)) != std::string::npos) {
            size_t end = dump.find('\n', pos);
            out += dump.substr(pos, end - pos + 1);
            pos = end;
        }
        return out;
    };
    EXPECT_EQ(cellLines(outputs[0]), cellLines(outputs[1]));
    // So do the rows' and columns' settings and where the outline summaries sit, which is what a
    // diff of two dumps compares for them; only the sizes each writer gives columns and hidden
    // rows that had none differ.
    auto settingLines = [](const std::string& dump) {
        std::string out;
        std::istringstream in(dump);
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("  row ") || line.starts_with("  column ") || line.starts_with("  outline-summary")) {
                std::istringstream words(line);
                for (std::string word; words >> word;) {
                    if (!word.starts_with("width=") && !word.starts_with("height=") && word != "custom") {
                        out += word + " ";
                    }
                }
                out += "\n";
            }
        }
        return out;
    };
    for (const char* line : {"column C:D hidden level=1 \n", "column E:E collapsed \n", "row 6 hidden level=1 \n",
                             "row 7 hidden level=2 \n", "row 8 hidden level=1 \n"}) {
        EXPECT_NE(settingLines(text).find(line), std::string::npos) << "missing: " << line << "\nin:\n" << text;
    }
    EXPECT_EQ(settingLines(outputs[0]), settingLines(outputs[1]));
}

TEST(GqDump, FailsWithTheEngineMessage)
{
    test::TempDir dir;
    std::string output;
    std::string missing = dir.File("missing.xlsx");
    EXPECT_EQ(test::RunCommand(test::ShellQuote(kDump) + " " + test::ShellQuote(missing), output), 1);
    EXPECT_NE(output.find("gq-dump: "), std::string::npos) << output;
    EXPECT_NE(output.find("missing.xlsx"), std::string::npos) << output;
}

// Help and version on standard output, errors on standard error opening with the program's name
// and naming what was wrong, "-" for standard input.
TEST(GqDump, FollowsTheCommandLineConventions)
{
    test::TempDir dir;
    Workbook book = Sample();
    const std::string path = dir.File("sample.xlsx");
    SaveWorkbookFile(book, path);
    std::string fromFile;
    ASSERT_EQ(test::RunCommand(test::ShellQuote(kDump) + " " + test::ShellQuote(path), fromFile), 0);
    struct Case {
        std::string arguments;
        int status;
        std::string out; // what standard output begins with
        std::string err; // what standard error holds
    } cases[] = {
        {"--help", 0, "Usage: gq-dump ", ""},
        {"-h", 0, "Usage: gq-dump ", ""},
        {"--version", 0, "gq-dump 2.", ""},
        {"", 2, "", "gq-dump: no WORKBOOK given\nTry 'gq-dump --help' for more information.\n"},
        {"--frobnicate x.xlsx", 2, "", "gq-dump: unknown option --frobnicate\n"},
        {"- <" + test::ShellQuote(path), 0, fromFile, ""},
    };
    for (const Case& c : cases) {
        std::string out;
        std::string err;
        const std::string command = test::ShellQuote(kDump) + " " + c.arguments;
        // RunCommand adds standard error to what it reads; the braces keep each stream apart.
        EXPECT_EQ(test::RunCommand("{ " + command + " 2>/dev/null; }", out), c.status) << c.arguments;
        test::RunCommand("{ " + command + " 2>&1 >/dev/null; }", err);
        EXPECT_EQ(out.substr(0, c.out.size()), c.out) << c.arguments;
        EXPECT_EQ(err.substr(0, c.err.size()), c.err) << c.arguments;
        if (c.err.empty()) {
            EXPECT_EQ(err, "") << c.arguments;
        }
    }
}

TEST(GqDump, PrintsKeptFormulasAfterTheirCachedValues)
{
    Workbook book;
    Worksheet& s = book.Sheet(book.InsertSheet(0, "F"));
    s.SetNumber(0, 0, 2);
    s.SetNumber(0, 1, 4);
    formula::SetCellFormula(s, 0, 1, "A1*2");
    s.SetString(1, 0, book.Strings().Intern("x2"));
    formula::SetCellFormula(s, 1, 0, "\"x\"&A1");
    s.SetNumber(2, 0, 4);
    formula::SetCellFormula(s, 2, 0, "A1:A2*2", 2, 1);
    s.SetNumber(3, 0, 0);
    s.SetNumber(3, 1, 1); // beside the array, no part of it
    test::TempDir dir;
    // xlsx gives the array's other cells no formula and .xls a FORMULA record of their own: both
    // print them as part of the array.
    std::string texts[2];
    for (int i = 0; i < 2; ++i) {
        std::string path = dir.File(i == 0 ? "f.xlsx" : "f.xls");
        SaveWorkbookFile(book, path);
        std::string& text = texts[i];
        ASSERT_EQ(test::RunCommand(test::ShellQuote(kDump) + " --no-styles " + test::ShellQuote(path), text), 0)
            << text;
        for (const char* line :
             {"  cell B1 number 4 formula \"=A1*2\"\n", "  cell A2 string \"x2\" formula \"=\\\"x\\\"&A1\"\n",
              "  cell A3 number 4 formula \"=A1:A2*2\" array A3:A4\n", "  cell A4 number 0 formula in array A3:A4\n",
              "  cell B4 number 1\n"}) {
            EXPECT_NE(text.find(line), std::string::npos) << "missing: " << line << "\nin:\n" << text;
        }
    }
    auto cells = [](const std::string& text) {
        std::istringstream lines(text);
        std::string line;
        std::string out;
        while (std::getline(lines, line)) {
            out += line.starts_with("  cell ") ? line + "\n" : "";
        }
        return out;
    };
    EXPECT_EQ(cells(texts[0]), cells(texts[1]));
}

} // namespace
} // namespace gq::engine
