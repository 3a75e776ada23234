// Number formats in written workbooks as outside readers see them: the built-in formats whose text
// depends on the locale must arrive with their code in both formats, the others keep their ids.
// SPDX-License-Identifier: Apache-2.0
#include "engine/WorkbookFile.h"
#include "engine/model/Workbook.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace gq::test {
namespace {

using namespace gq::engine;

struct FormatCase {
    const char* code;
    const char* shown; // part of the text gnumeric shows for -1234.5, where General shows "-1234.5"
    bool locale;       // one of the ids 5-8 and 41-44, written with its code
};

const FormatCase kCases[] = {
    {"\"$\"#,##0_);(\"$\"#,##0)", "($1,235)", true},
    {"\"$\"#,##0_);[Red](\"$\"#,##0)", "($1,235)", true},
    {"\"$\"#,##0.00_);(\"$\"#,##0.00)", "($1,234.50)", true},
    {"\"$\"#,##0.00_);[Red](\"$\"#,##0.00)", "($1,234.50)", true},
    {"_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)", "(1,235)", true},
    {"_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)", "1,235)", true},
    {"_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)", "(1,234.50)", true},
    {"_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)", "1,234.50)", true},
    // Ids every reader knows stay ids.
    {"0.00", "1234.50", false},
    {"#,##0.00", "1,234.50", false},
    {"#,##0_);[Red](#,##0)", "(1,235)", false},
    {"0.00E+00", "1.23E+03", false},
};

// Prints each format code of column A, one a line, then for xlsx the number of <numFmt> elements.
constexpr const char* kFormatsScript = R"(import sys
path = sys.argv[1]
if path.endswith('.xls'):
    import xlrd
    book = xlrd.open_workbook(path, formatting_info=True)
    sheet = book.sheet_by_index(0)
    for r in range(sheet.nrows):
        print(book.format_map[book.xf_list[sheet.cell_xf_index(r, 0)].format_key].format_str)
else:
    import openpyxl, re, zipfile
    sheet = openpyxl.load_workbook(path).worksheets[0]
    for r in range(1, sheet.max_row + 1):
        print(sheet.cell(r, 1).number_format)
    styles = zipfile.ZipFile(path).read('xl/styles.xml').decode()
    print('numFmt elements:', len(re.findall('<numFmt ', styles)))
)";

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

class NumberFormatOutput : public ::testing::TestWithParam<const char*> {};

TEST_P(NumberFormatOutput, LocaleFormatsArriveWithTheirCode)
{
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Formats"));
    for (uint32_t i = 0; i < std::size(kCases); ++i) {
        ResolvedStyle style;
        style.numFmt = kCases[i].code;
        sheet.SetNumber(i, 0, -1234.5, book.Styles().InternStyle(style));
    }
    TempDir dir;
    const std::string path = dir.File(std::string("formats.") + GetParam());
    SaveWorkbookFile(book, path);

    std::string out;
    if (HavePython(std::string(GetParam()) == "xls" ? "xlrd" : "openpyxl")) {
        ASSERT_EQ(RunPython(kFormatsScript, {path}, out), 0) << out;
        const std::vector<std::string> codes = Lines(out);
        ASSERT_GE(codes.size(), std::size(kCases)) << out;
        for (size_t i = 0; i < std::size(kCases); ++i) {
            EXPECT_EQ(codes[i], kCases[i].code) << "row " << i + 1;
        }
        if (std::string(GetParam()) == "xlsx") {
            ASSERT_EQ(codes.size(), std::size(kCases) + 1) << out;
            EXPECT_EQ(codes.back(), "numFmt elements: 8") << "only the locale formats are written with their code";
        }
    }

    if (RunCommand("command -v ssconvert", out) != 0) {
        GTEST_SKIP() << "ssconvert is not installed";
    }
    // Text export with the cells' formats applied, one cell a line.
    const std::string text = dir.File("gnumeric.txt");
    EXPECT_EQ(RunCommand("ssconvert -O format=preserve " + ShellQuote(path) + " " + ShellQuote(text), out), 0) << out;
    EXPECT_EQ(out.find("Undefined number format"), std::string::npos) << out;
    const std::vector<std::string> shown = Lines(ReadAll(text));
    ASSERT_EQ(shown.size(), std::size(kCases)) << ReadAll(text);
    for (size_t i = 0; i < std::size(kCases); ++i) {
        EXPECT_NE(shown[i].find(kCases[i].shown), std::string::npos)
            << kCases[i].code << " shows as " << shown[i] << (kCases[i].locale ? " (a locale format)" : "");
    }
}

INSTANTIATE_TEST_SUITE_P(BothFormats, NumberFormatOutput, ::testing::Values("xlsx", "xls"));

} // namespace
} // namespace gq::test
