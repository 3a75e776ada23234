// Rows staged while a workbook is built: the saved package holds, part for part, what a save without
// staging writes, only the deflate blocks of staged worksheets cut elsewhere; rows the save must
// settle (formula cells, sheets out of the writer's order, sheets changed after staging) are written
// at save; and a stager that fails fails the save.
#include "engine/xlsx/XlsxRowStager.h"
#include "engine/Errors.h"
#include "engine/WorkbookFile.h"
#include "engine/formula/Formula.h"
#include "tests/engine/XlsxWriterTestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gq::engine {
namespace {

using test::xlsxw::WriteToMemory;

// A sheet of `rows` rows: numbers, texts (some shared with the other sheets, some its own, so that
// the output's string order depends on the order sheets are written), formats, row settings and a
// formatted column; with `formulaFrom` set, a formula column from that row on.
void FillSheet(Workbook& book, size_t index, uint32_t rows, uint32_t formulaFrom = UINT32_MAX)
{
    ResolvedStyle bold;
    bold.font.bold = true;
    ResolvedStyle boxed;
    boxed.border.top.style = BorderStyle::Thin;
    const uint32_t boldStyle = book.Styles().InternStyle(bold);
    const uint32_t sheetStyle = book.Styles().InternStyle(index % 2 == 0 ? boxed : bold);
    Worksheet& sheet = book.Sheet(index);
    const std::string own = book.SheetName(index);
    for (uint32_t r = 0; r < rows; ++r) {
        sheet.SetNumber(r, 0, r * 0.25 + static_cast<double>(index), r % 5 == 0 ? boldStyle : 0);
        sheet.SetString(r, 1, book.Strings().Intern("shared " + std::to_string(r % 211)));
        sheet.SetString(r, 2, book.Strings().Intern(own + " " + std::to_string(r % 1777)), sheetStyle);
        sheet.SetBoolean(r, 3, r % 3 == 0);
        if (r % 7 == 0) {
            sheet.SetError(r, 4, ErrorCode::NA);
        }
        if (r >= formulaFrom) {
            Cell& f = sheet.CellAt(r, 5);
            f.type = CellType::Number;
            f.number = r * 2.0;
            f.formula = true;
            f.formulaIndex = 0;
        }
        Row& row = sheet.RowAt(r);
        row.height = r % 17 == 0 ? 20.25F : 0.0F;
        row.customHeight = r % 17 == 0;
        row.hidden = r % 31 == 0;
    }
    if (formulaFrom != UINT32_MAX) {
        auto parsed = std::make_shared<formula::Formula>();
        ASSERT_TRUE(formula::ParseFormula("A1*2", *parsed));
        sheet.formulas.push_back(FormulaEntry{parsed, 0, 5, 0, 0, kNoFormula, {}});
    }
    ColumnInfo wide;
    wide.first = wide.last = 2;
    wide.width = 24.5;
    wide.customWidth = true;
    wide.style = sheetStyle;
    sheet.SetColumn(wide);
    sheet.merges.push_back(CellRange{0, 6, 1, 7});
}

// Sheets "A", "B", "C" with 12,000, 9,000 and 15,000 rows (several spill chunks and deflate blocks
// each), "B" with a formula column from `formulaFrom` on and no rows at all when `emptyB`.
std::unique_ptr<Workbook> MakeBook(uint32_t formulaFrom, bool emptyB)
{
    auto book = std::make_unique<Workbook>();
    const uint32_t rows[] = {12000, 9000, 15000};
    for (size_t i = 0; i < 3; ++i) {
        book->InsertSheet(i, std::string(1, static_cast<char>('A' + i)));
        if (!(i == 1 && emptyB)) {
            FillSheet(*book, i, rows[i], i == 1 ? formulaFrom : UINT32_MAX);
        }
    }
    book->SetActiveSheet(1);
    return book;
}

// What a case does to the workbook between attaching the stager and saving it, and to the workbook
// saved without one.
using Steps = std::function<void(Workbook&)>;

void SpillAndStage(Workbook& book, size_t index)
{
    book.SpillRows(index);
    book.StageRows(index);
}

// For each part of `staged`, whether its uncompressed bytes equal those of the same part of
// `plain` ("same" or "DIFFERENT") and whether its deflated bytes do ("raw-same", "raw-cut"), as
// Python's zipfile (which checks every CRC) reads them.
constexpr const char* kComparePackages = R"(
import sys, zipfile
def parts(path):
    z = zipfile.ZipFile(path)
    out = {}
    with open(path, 'rb') as f:
        for i in z.infolist():
            f.seek(i.header_offset)
            h = f.read(30)
            f.seek(i.header_offset + 30 + int.from_bytes(h[26:28], 'little') + int.from_bytes(h[28:30], 'little'))
            out[i.filename] = (z.read(i.filename), f.read(i.compress_size))
    return out
a, b = parts(sys.argv[1]), parts(sys.argv[2])
print('names ' + ('same' if list(a) == list(b) else 'DIFFERENT'))
for name in a:
    if name in b:
        print(name, 'same' if a[name][0] == b[name][0] else 'DIFFERENT', 'raw-same' if a[name][1] == b[name][1] else 'raw-cut')
)";

TEST(XlsxRowStager, StagedSheetsSaveWhatTheSaveWritesAndTheRestIsWrittenAtSave)
{
    if (!test::HavePython("zipfile")) {
        GTEST_SKIP() << "python3 is missing";
    }
    struct Case {
        const char* name;
        uint32_t formulaFrom;
        bool emptyB;
        Steps steps;
        const char* sheetsCut; // which of sheet1..3 have their deflate stream cut elsewhere
    };
    const std::vector<Case> cases = {
        {"every sheet in the writer's order", UINT32_MAX, false,
         [](Workbook& b) {
             for (size_t i = 0; i < 3; ++i) {
                 SpillAndStage(b, i);
             }
         },
         "111"},
        {"rows spilled after staging began, the last ones kept in memory", UINT32_MAX, false,
         [](Workbook& b) {
             SpillAndStage(b, 0);
             b.SpillRows(1, 2000);
             b.StageRows(1);
             b.SpillRows(1, 6000); // staged as it is spilled
             b.SpillRows(1, 8500);
         },
         "110"},
        {"a sheet with formula cells, and the sheet after it", 0, false,
         [](Workbook& b) {
             for (size_t i = 0; i < 3; ++i) {
                 SpillAndStage(b, i);
             }
         },
         "100"},
        {"formula cells from the middle of a sheet on: the rows before them staged", 5000, false,
         [](Workbook& b) {
             SpillAndStage(b, 0);
             b.SpillRows(1, 4000);
             b.StageRows(1);
             b.SpillRows(1);
             SpillAndStage(b, 2);
         },
         "110"},
        {"an empty sheet between staged ones", UINT32_MAX, true,
         [](Workbook& b) {
             for (size_t i = 0; i < 3; ++i) {
                 SpillAndStage(b, i);
             }
         },
         "101"},
        {"a staged sheet brought back into memory", UINT32_MAX, false,
         [](Workbook& b) {
             SpillAndStage(b, 0);
             SpillAndStage(b, 1);
             b.Sheet(0);
         },
         "000"},
        {"a staged sheet that gains rows again", UINT32_MAX, false,
         [](Workbook& b) {
             SpillAndStage(b, 0);
             SpillAndStage(b, 1);
             b.SheetKeepingSpill(0).SetNumber(20000, 0, 1.0);
         },
         "000"},
        {"sheets left in the order a multi-sheet merge leaves them", UINT32_MAX, false,
         [](Workbook& b) {
             for (size_t i = 3; i-- > 0;) {
                 SpillAndStage(b, i);
             }
         },
         "100"},
        {"a column format added after staging", UINT32_MAX, false,
         [](Workbook& b) {
             SpillAndStage(b, 0);
             ResolvedStyle italic;
             italic.font.italic = true;
             ColumnInfo column;
             column.first = column.last = 9;
             column.style = b.Styles().InternStyle(italic);
             b.Sheet(0).SetColumn(column);
         },
         "000"},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The same steps without a stager: spilling alone changes no byte.
        auto plain = MakeBook(c.formulaFrom, c.emptyB);
        c.steps(*plain);
        test::SaveBytes(WriteToMemory(*plain), dir.File("plain.xlsx"));

        auto book = MakeBook(c.formulaFrom, c.emptyB);
        book->SetRowStager(std::make_shared<XlsxRowStager>(*book, XlsxRowStager::Options{1, dir.Path().string(), {}}));
        c.steps(*book);
        // The save's own threads do not change what staging gave.
        test::SaveBytes(WriteToMemory(*book, XlsxWriteOptions{1, 0}), dir.File("staged.xlsx"));

        std::string out;
        ASSERT_EQ(test::RunPython(kComparePackages, {dir.File("staged.xlsx"), dir.File("plain.xlsx")}, out), 0) << out;
        EXPECT_NE(out.find("names same\n"), std::string::npos) << out;
        EXPECT_EQ(out.find("DIFFERENT"), std::string::npos) << out;
        for (size_t i = 0; i < 3; ++i) {
            const std::string line = "xl/worksheets/sheet" + std::to_string(i + 1) + ".xml same " +
                                     (c.sheetsCut[i] == '1' ? "raw-cut" : "raw-same");
            EXPECT_NE(out.find(line), std::string::npos) << line << "\n" << out;
        }
        EXPECT_NE(out.find("xl/sharedStrings.xml same raw-same"), std::string::npos) << out;
        EXPECT_NE(out.find("xl/styles.xml same raw-same"), std::string::npos) << out;
    }
    // The package of the first case, read by the schema validator.
    if (test::xlsxw::HaveValidator()) {
        auto book = MakeBook(UINT32_MAX, false);
        book->SetRowStager(std::make_shared<XlsxRowStager>(*book, XlsxRowStager::Options{}));
        cases.front().steps(*book);
        test::SaveBytes(WriteToMemory(*book), dir.File("validated.xlsx"));
        EXPECT_TRUE(test::xlsxw::PassesValidator(dir.File("validated.xlsx")));
    }
}

TEST(XlsxRowStager, AFailingStagerFailsTheSaveAndLeavesNoFile)
{
    test::TempDir dir;
    auto book = MakeBook(UINT32_MAX, false);
    XlsxRowStager::Options options;
    options.folder = dir.Path().string();
    int blocks = 0;
    options.beforeBlock = [&blocks] {
        if (++blocks == 2) {
            throw IoError(std::string(), "no space left on the device");
        }
    };
    book->SetRowStager(std::make_shared<XlsxRowStager>(*book, options));
    for (size_t i = 0; i < 3; ++i) {
        SpillAndStage(*book, i);
    }
    const std::string path = dir.File("out.xlsx");
    try {
        SaveWorkbookFile(*book, path);
        ADD_FAILURE() << "the save succeeded";
    } catch (const IoError& e) {
        EXPECT_NE(std::string(e.what()).find("no space left"), std::string::npos) << e.what();
    }
    // Nothing at the output path, no temporary file beside it; the stager is gone with the save,
    // and the next save writes every row afresh.
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
    SaveWorkbookFile(*book, path);
    auto plain = MakeBook(UINT32_MAX, false);
    const std::vector<uint8_t> expected = WriteToMemory(*plain);
    EXPECT_EQ(test::ReadAll(path), std::string(expected.begin(), expected.end()));
}

} // namespace
} // namespace gq::engine
