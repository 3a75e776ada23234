// The .ods writer judged by others: the OpenDocument 1.2 schema, LibreOffice and Gnumeric reading
// a workbook of every kind of value, style, merge and formula; and real workbooks saved as .ods
// holding their values in LibreOffice at least as well as the same workbooks saved as .xlsx.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/WorkbookFile.h"
#include "engine/formula/Formula.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>

namespace gq::engine {
namespace {

namespace fs = std::filesystem;

// A cell's value as text: "n:1.5", "s:text", "b:1", "e:#N/A"; "" for none.
std::string ValueText(Workbook& book, size_t sheet, const std::string& name)
{
    CellRef ref;
    if (!ParseCellName(name, ref)) {
        return "bad address";
    }
    const Cell* cell = book.Sheet(sheet).FindCell(ref.row, ref.col);
    if (cell == nullptr) {
        return "";
    }
    std::ostringstream text;
    switch (cell->type) {
    case CellType::Blank:
        return "";
    case CellType::Number:
        text.precision(12);
        text << "n:" << cell->number;
        break;
    case CellType::String:
        text << "s:" << book.Strings().At(cell->text);
        break;
    case CellType::Boolean:
        text << "b:" << cell->boolean;
        break;
    case CellType::Error:
        text << "e:" << ErrorText(cell->error);
        break;
    }
    return text.str();
}

std::unique_ptr<Workbook> EveryKind()
{
    auto book = std::make_unique<Workbook>();
    Worksheet& sheet = book->Sheet(book->InsertSheet(0, "Values"));
    Worksheet& other = book->Sheet(book->InsertSheet(1, "Other sheet"));
    book->SetActiveSheet(0);
    StyleTable& styles = book->Styles();
    ResolvedStyle date;
    date.numFmt = "yyyy-mm-dd hh:mm";
    ResolvedStyle percent;
    percent.numFmt = "0.00%";
    ResolvedStyle time;
    time.numFmt = "[h]:mm:ss";
    ResolvedStyle money;
    money.numFmt = "#,##0.00;[Red]-#,##0.00";
    ResolvedStyle loud;
    loud.font.name = "Arial";
    loud.font.size = 14;
    loud.font.bold = true;
    loud.font.color = Color::Rgb(0xFFFF0000);
    loud.fill.pattern = PatternType::Solid;
    loud.fill.fg = Color::Rgb(0xFFFFFF00);
    loud.border.bottom.style = BorderStyle::Thin;
    loud.alignment.horizontal = HAlign::Center;
    loud.alignment.wrap = true;

    sheet.SetNumber(0, 0, 1.5);
    sheet.SetString(0, 1, book->Strings().Intern("  two  spaces\tand\nlines & <marks>"));
    sheet.SetBoolean(0, 2, true);
    sheet.SetNumber(0, 3, 45356.5, styles.InternStyle(date));
    sheet.SetNumber(0, 4, 0.25, styles.InternStyle(percent));
    sheet.SetError(0, 5, ErrorCode::NA);
    sheet.SetNumber(0, 6, 3);
    formula::SetCellFormula(sheet, 0, 6, "A1*2");
    sheet.SetNumber(0, 7, 11.5);
    formula::SetCellFormula(sheet, 0, 7, "SUM(A1,'Other sheet'!A1:B2)");
    sheet.SetString(0, 8, book->Strings().Intern("big"));
    formula::SetCellFormula(sheet, 0, 8, "IF(A1>1,\"big\",\"small\")");
    sheet.SetNumber(1, 0, -1234.5, styles.InternStyle(money));
    sheet.SetString(1, 1, book->Strings().Intern("styled"), styles.InternStyle(loud));
    sheet.SetNumber(1, 2, 1.25, styles.InternStyle(time));
    sheet.SetString(3, 0, book->Strings().Intern("merged"));
    sheet.SetNumber(4, 1, 99); // covered by the merge, kept
    sheet.merges.push_back(CellRange{3, 0, 4, 2});
    sheet.SetString(5, 1, book->Strings().Intern("link"));
    sheet.hyperlinks.push_back(Hyperlink{CellRange{5, 1, 5, 1}, "http://example.com/?a=1&b=2", "", "", ""});
    sheet.SetColumn(ColumnInfo{1, 1, 30, true});
    sheet.RowAt(7).height = 40;
    sheet.RowAt(7).customHeight = true;
    sheet.SetString(8, 0, book->Strings().Intern("hidden row"));
    sheet.RowAt(8).hidden = true;
    sheet.SetNumber(1000, 16383, 7); // the grid's last column
    other.SetNumber(0, 0, 10);
    return book;
}

// What each judge must read, cell by cell: the same for LibreOffice, Gnumeric and our reader.
const std::vector<std::pair<std::string, std::string>> kExpected = {
    {"A1", "n:1.5"},     {"B1", "s:  two  spaces\tand\nlines & <marks>"},
    {"C1", "b:1"},       {"D1", "n:45356.5"},
    {"E1", "n:0.25"},    {"G1", "n:3"},
    {"H1", "n:11.5"},    {"I1", "s:big"},
    {"A2", "n:-1234.5"}, {"B2", "s:styled"},
    {"C2", "n:1.25"},    {"A4", "s:merged"},
    {"B6", "s:link"},    {"A9", "s:hidden row"},
    {"XFD1001", "n:7"},
};

// Saves the workbook of every kind, checks it against the schema, and gives it as `judge` reads it:
// our own reader, LibreOffice or Gnumeric (each converting to xlsx); null where the judge is
// missing.
std::unique_ptr<Workbook> ReadBy(const std::string& judge, const test::TempDir& dir)
{
    const std::string ods = dir.File("every kind.ods");
    SaveWorkbookFile(*EveryKind(), ods);
    std::string out;
    if (judge == "our reader") {
        // Deterministic: the same workbook gives the same bytes.
        SaveWorkbookFile(*EveryKind(), dir.File("again.ods"));
        EXPECT_EQ(test::ReadAll(ods), test::ReadAll(dir.File("again.ods")));
        if (test::HavePython("lxml")) {
            // The package: mimetype first and stored, a manifest naming every part; each XML part
            // valid against the OpenDocument 1.2 RELAX NG schema that Debian's libjopendocument-java
            // ships.
            const std::string script = R"(
import glob, sys, zipfile
from lxml import etree
z = zipfile.ZipFile(sys.argv[1])
first = z.infolist()[0]
assert first.filename == 'mimetype' and first.compress_type == zipfile.ZIP_STORED, first
assert z.read('mimetype') == b'application/vnd.oasis.opendocument.spreadsheet'
manifest = z.read('META-INF/manifest.xml').decode()
jars = glob.glob('/usr/share/java/jOpenDocument*.jar')
if not jars:
    print('no schema'); sys.exit(0)
rng = zipfile.ZipFile(jars[0]).read('org/jopendocument/dom/oofficeDTDs/OpenDocument-v1.2-schema.rng')
schema = etree.RelaxNG(etree.fromstring(rng))
for part in ['content.xml', 'styles.xml', 'meta.xml', 'settings.xml']:
    assert 'full-path="%s"' % part in manifest, part
    if not schema.validate(etree.fromstring(z.read(part))):
        print(part, schema.error_log); sys.exit(1)
print('valid')
)";
            EXPECT_EQ(test::RunPython(script, {ods}, out), 0) << out;
            EXPECT_NE(out.find("valid"), std::string::npos) << out;
        }
        return OpenWorkbookFile(ods);
    }
    if (judge == "LibreOffice") {
        if (test::RunCommand("command -v soffice", out) != 0) {
            return nullptr;
        }
        const std::string command = "cd " + test::ShellQuote(dir.Path().string()) +
                                    " && soffice -env:UserInstallation=file://" + dir.Path().string() +
                                    "/profile --headless --norestore --convert-to xlsx --outdir lo " +
                                    test::ShellQuote(ods) + " 2>&1";
        EXPECT_EQ(test::RunCommand(command, out), 0) << out;
        return OpenWorkbookFile(dir.File("lo/every kind.xlsx"));
    }
    if (test::RunCommand("command -v ssconvert", out) != 0) {
        return nullptr;
    }
    std::string warnings;
    EXPECT_EQ(test::GnumericConvert(ods, dir.File("gnumeric.xlsx"), warnings), 0) << warnings;
    EXPECT_EQ(warnings.find("rror"), std::string::npos) << warnings;
    return OpenWorkbookFile(dir.File("gnumeric.xlsx"));
}

class OdsWriterJudge : public testing::TestWithParam<const char*> {};

INSTANTIATE_TEST_SUITE_P(Judges, OdsWriterJudge, testing::Values("our reader", "LibreOffice", "Gnumeric"),
                         [](const auto& judge) {
                             return std::string(judge.param).substr(0, 3) == "our" ? std::string("OurReader")
                                                                                  : std::string(judge.param);
                         });

TEST_P(OdsWriterJudge, ReadsEveryKindOfValueStyleMergeAndFormula)
{
    const std::string judge = GetParam();
    test::TempDir dir;
    std::unique_ptr<Workbook> read = ReadBy(judge, dir);
    if (read == nullptr) {
        GTEST_SKIP() << judge << " is not installed";
    }
    {
        ASSERT_GE(read->SheetCount(), 2u);
        EXPECT_EQ(read->SheetName(0), "Values");
        EXPECT_EQ(read->SheetName(1), "Other sheet");
        for (const auto& [cell, value] : kExpected) {
            EXPECT_EQ(ValueText(*read, 0, cell), value) << cell;
        }
        // An error has no value type in OpenDocument: it comes back as an error or its text.
        const std::string error = ValueText(*read, 0, "F1");
        EXPECT_TRUE(error == "e:#N/A" || error == "s:#N/A") << error;
        Worksheet& sheet = read->Sheet(0);
        EXPECT_NE(std::find(sheet.merges.begin(), sheet.merges.end(), CellRange{3, 0, 4, 2}), sheet.merges.end());
        const StyleTable& styles = read->Styles();
        EXPECT_TRUE(styles.IsDateFormat(sheet.FindCell(0, 3)->style));
        EXPECT_NE(styles.Resolve(sheet.FindCell(0, 4)->style).numFmt.find('%'), std::string::npos);
        const ResolvedStyle loud = styles.Resolve(sheet.FindCell(1, 1)->style);
        EXPECT_TRUE(loud.font.bold);
        EXPECT_EQ(loud.font.name, "Arial");
        EXPECT_EQ(loud.font.size, 14);
        EXPECT_EQ(loud.font.color, Color::Rgb(0xFFFF0000));
        EXPECT_EQ(loud.fill.fg, Color::Rgb(0xFFFFFF00));
        EXPECT_EQ(loud.border.bottom.style, BorderStyle::Thin);
        EXPECT_EQ(loud.alignment.horizontal, HAlign::Center);
        EXPECT_TRUE(loud.alignment.wrap);
        EXPECT_NE(styles.Resolve(sheet.FindCell(1, 0)->style).numFmt.find("#,##0.00"), std::string::npos);
        ASSERT_NE(sheet.FindRow(8), nullptr);
        EXPECT_TRUE(sheet.FindRow(8)->hidden);
        ASSERT_NE(sheet.FindRow(7), nullptr);
        EXPECT_NEAR(sheet.FindRow(7)->height, 40, 0.5);
        ASSERT_NE(sheet.FindColumn(1), nullptr);
        // LibreOffice counts characters in its own font's digits when it writes xlsx widths.
        EXPECT_NEAR(sheet.FindColumn(1)->width, 30, judge == "LibreOffice" ? 8 : 1);
        ASSERT_FALSE(sheet.hyperlinks.empty());
        EXPECT_EQ(sheet.hyperlinks.front().target, "http://example.com/?a=1&b=2");
        if (judge != "Gnumeric") { // Gnumeric's xlsx export writes formulas it computed again as values
            formula::Formula f;
            ASSERT_TRUE(formula::CellFormula(sheet, 0, *sheet.FindCell(0, 7), f));
            EXPECT_EQ(test::ComparableFormulaText(formula::PrintFormula(f)),
                      test::ComparableFormulaText("SUM(A1,'Other sheet'!A1:B2)"));
        }
    }
}

// Real workbooks saved as .ods and read back by LibreOffice hold their values: no fewer sheets
// equal to the original than LibreOffice's reading of the same workbooks saved as .xlsx.
void CorpusPart(size_t part, size_t parts)
{
    const fs::path corpus = test::CorpusDir();
    std::string out;
    if (corpus.empty() || test::RunCommand("command -v soffice", out) != 0) {
        GTEST_SKIP() << "no corpus or no LibreOffice";
    }
    test::TempDir dir;
    fs::create_directories(dir.Path() / "ods");
    fs::create_directories(dir.Path() / "xlsx");
    std::vector<std::pair<fs::path, std::string>> saved;
    std::string odsList;
    std::string xlsxList;
    for (const auto& line : test::CorpusManifest(corpus)) {
        const std::string& format = line.at(6);
        const fs::path path = corpus / line.at(1);
        if ((format != "xlsx" && format != "xls-BIFF8") || fs::file_size(path) > 48 * 1024 ||
            test::CorpusShard(line.at(1), parts * 8) != part) {
            continue; // an eighth of each part, small workbooks: LibreOffice converts them in seconds
        }
        try {
            std::unique_ptr<Workbook> book = OpenWorkbookFile(path.string());
            const std::string stem = "w" + std::to_string(saved.size());
            SaveWorkbookFile(*book, (dir.Path() / "ods" / (stem + ".ods")).string());
            book = OpenWorkbookFile(path.string());
            SaveWorkbookFile(*book, (dir.Path() / "xlsx" / (stem + ".xlsx")).string());
            saved.emplace_back(path, stem);
            odsList += " " + test::ShellQuote((dir.Path() / "ods" / (stem + ".ods")).string());
            xlsxList += " " + test::ShellQuote((dir.Path() / "xlsx" / (stem + ".xlsx")).string());
        } catch (const EngineError&) {
            continue; // damaged, encrypted or too large: other tests cover those
        }
    }
    if (saved.empty()) {
        GTEST_SKIP() << "no workbook in this part";
    }
    const std::string soffice = "soffice -env:UserInstallation=file://" + dir.Path().string() +
                                "/profile --headless --norestore --convert-to xlsx --outdir ";
    ASSERT_EQ(test::RunCommand(soffice + test::ShellQuote((dir.Path() / "from-ods").string()) + odsList + " 2>&1", out),
              0)
        << out;
    ASSERT_EQ(
        test::RunCommand(soffice + test::ShellQuote((dir.Path() / "from-xlsx").string()) + xlsxList + " 2>&1", out), 0)
        << out;
    size_t equalOds = 0;
    size_t equalXlsx = 0;
    auto equal = [](Workbook& a, size_t ia, Workbook& b, size_t ib) {
        Worksheet& x = a.Sheet(ia);
        Worksheet& y = b.Sheet(ib);
        for (const Row& row : x.rows) {
            for (const Cell& cell : row.cells) {
                const Cell* other = y.FindCell(row.index, cell.col);
                const CellType type = other != nullptr ? other->type : CellType::Blank;
                if (cell.type == CellType::Blank && type == CellType::Blank) {
                    continue;
                }
                if (type != cell.type) {
                    return false;
                }
                if (cell.type == CellType::Number &&
                    std::fabs(cell.number - other->number) > 1e-9 * std::max(1.0, std::fabs(cell.number))) {
                    return false;
                }
                if (cell.type == CellType::String && a.Strings().At(cell.text) != b.Strings().At(other->text)) {
                    return false;
                }
            }
        }
        return true;
    };
    for (const auto& [original, stem] : saved) {
        std::unique_ptr<Workbook> before = OpenWorkbookFile(original.string());
        const fs::path viaOds = dir.Path() / "from-ods" / (stem + ".xlsx");
        const fs::path viaXlsx = dir.Path() / "from-xlsx" / (stem + ".xlsx");
        if (!fs::exists(viaXlsx)) {
            continue;
        }
        ASSERT_TRUE(fs::exists(viaOds)) << original << ": LibreOffice could not read our .ods";
        std::unique_ptr<Workbook> odsBook = OpenWorkbookFile(viaOds.string());
        std::unique_ptr<Workbook> xlsxBook = OpenWorkbookFile(viaXlsx.string());
        ASSERT_EQ(odsBook->SheetCount(), before->SheetCount()) << original;
        for (size_t i = 0; i < before->SheetCount(); ++i) {
            const bool viaOdsEqual = equal(*before, i, *odsBook, i);
            equalOds += viaOdsEqual ? 1 : 0;
            equalXlsx += i < xlsxBook->SheetCount() && equal(*before, i, *xlsxBook, i) ? 1 : 0;
        }
    }
    std::cout << "part " << part << ": " << saved.size() << " workbooks, sheets equal via .ods " << equalOds
              << ", via .xlsx " << equalXlsx << "\n";
    EXPECT_GE(equalOds, equalXlsx);
}

TEST(OdsWriterCorpus, Part0)
{
    CorpusPart(0, 2);
}

TEST(OdsWriterCorpus, Part1)
{
    CorpusPart(1, 2);
}

} // namespace
} // namespace gq::engine
