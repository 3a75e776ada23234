// Formulas through the xlsx reader and writer: every kind of <f> read into the sheet's formulas
// (shared ones per cell, array ones with their range, data tables as values), written back with
// their cached values, and the output checked by openpyxl and the schema validator.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/Formula.h"
#include "engine/xlsx/XlsxReader.h"
#include "tests/engine/XlsxWriterTestUtil.h"
#include "tests/support/XlsxTestPackage.h"

#include <gtest/gtest.h>

namespace gq::engine {
namespace {

using namespace gq::test;
using namespace gq::test::xlsxw;

std::unique_ptr<Workbook> ReadSheet(const std::string& sheetData)
{
    return ReadXlsx(InputBytes::FromMemory(BuildZip(Entries(MinimalWorkbookParts(sheetData))), "f.xlsx"));
}

std::string Text(const Workbook& book, const Cell* cell)
{
    return cell != nullptr && cell->type == CellType::String ? book.Strings().At(cell->text) : "<not a string>";
}

// "=text" for a cell with a kept formula, "" for a cell without one, "(none)" for no cell.
std::string FormulaAt(const Worksheet& sheet, const char* where)
{
    CellRef ref;
    if (!ParseCellName(where, ref)) {
        return "(bad ref)";
    }
    const Cell* cell = sheet.FindCell(ref.row, ref.col);
    if (cell == nullptr) {
        return "(none)";
    }
    formula::Formula f;
    return formula::CellFormula(sheet, ref.row, *cell, f) ? "=" + formula::PrintFormula(f) : "";
}

// A sheet with a formula of every kind <f> has, with cached values.
const std::string kFormulaSheet =
    R"(<row r="1"><c r="A1"><v>1</v></c><c r="B1"><v>2</v></c><c r="C1"><f>A1+B1</f><v>3</v></c>)"
    R"(<c r="D1" t="str"><f>"x"&amp;A1</f><v>x1</v></c><c r="E1" t="b"><f>A1&lt;B1</f><v>1</v></c>)"
    R"(<c r="F1" t="e"><f>1/0</f><v>#DIV/0!</v></c></row>)"
    // A shared formula over C2:C4, and one whose first cell moves a reference off the grid.
    R"(<row r="2"><c r="A2"><v>4</v></c><c r="B2"><v>5</v></c><c r="C2"><f t="shared" ref="C2:C4" si="0">A2*$B$1</f><v>8</v></c>)"
    R"(<c r="D2"><f t="shared" ref="D2:E2" si="1">SUM($A2:B2)</f><v>11</v></c><c r="E2"><f t="shared" si="1"/><v>5</v></c></row>)"
    R"(<row r="3"><c r="A3"><v>6</v></c><c r="C3"><f t="shared" si="0"/><v>12</v></c>)"
    // An array formula over F3:F4, the second cell a value only; a data table keeps its values.
    R"(<c r="F3"><f t="array" ref="F3:F4">A1:A2*2</f><v>2</v></c><c r="G3"><f t="dataTable" ref="G3:G4" dt2D="0" dtr="0" r1="A1"/><v>7</v></c></row>)"
    R"(<row r="4"><c r="C4"><f t="shared" si="0"></f><v>0</v></c><c r="F4"><v>8</v></c>)"
    // A shared index never defined, text not understood, and a formula without a cached value.
    R"(<c r="H4"><f t="shared" si="9"/><v>1</v></c><c r="I4"><f>SUM(A1:A2</f><v>0</v></c><c r="J4"><f>NOW()</f></c>)"
    R"(<c r="K4"><f>'My Sheet'!A1+[1]Other!$B$2+Rate+Table1[Qty]</f><v>0</v></c></row>)";

struct ReadCase {
    const char* cell;
    const char* formula;
};

TEST(XlsxFormula, EveryKindOfFormulaIsReadPerCell)
{
    auto book = ReadSheet(kFormulaSheet);
    Worksheet& sheet = book->Sheet(0);
    const std::vector<ReadCase> cases = {
        {"A1", ""},
        {"C1", "=A1+B1"},
        {"D1", "=\"x\"&A1"},
        {"E1", "=A1<B1"},
        {"F1", "=1/0"},
        {"C2", "=A2*$B$1"},
        {"C3", "=A3*$B$1"},
        {"C4", "=A4*$B$1"},
        {"D2", "=SUM($A2:B2)"},
        {"E2", "=SUM($A2:C2)"},
        {"F3", "=A1:A2*2"},
        {"F4", ""},
        {"G3", ""},
        {"H4", ""},
        {"I4", "=SUM(A1:A2"},
        {"J4", "=NOW()"},
        {"K4", "='My Sheet'!A1+[1]Other!$B$2+Rate+Table1[Qty]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormulaAt(sheet, c.cell), c.formula) << c.cell;
    }
    // The shared formula is stored once; its cells point at it.
    EXPECT_EQ(sheet.FindCell(1, 2)->formulaIndex, sheet.FindCell(2, 2)->formulaIndex);
    const FormulaEntry& array = sheet.formulas[sheet.FindCell(2, 5)->formulaIndex];
    EXPECT_EQ(array.arrayRows, 2u);
    EXPECT_EQ(array.arrayCols, 1u);
    // Cached values stay beside the formulas; the data table's cells hold values only, not
    // formulas the reader failed to keep.
    EXPECT_DOUBLE_EQ(sheet.FindCell(2, 2)->number, 12);
    EXPECT_FALSE(sheet.FindCell(2, 6)->formula);
    EXPECT_EQ(sheet.FindCell(3, 9)->type, CellType::Blank);
}

TEST(XlsxFormula, ARowByRowRepeatedFormulaIsStoredOnce)
{
    auto book =
        ReadSheet(R"(<row r="1"><c r="C1"><f>A1*B1+$D$1</f><v>0</v></c></row>)"
                  R"(<row r="2"><c r="C2"><f>A2*B2+$D$1</f><v>0</v></c></row>)"
                  R"(<row r="3"><c r="C3"><f>A3*B3+$D$2</f><v>0</v></c></row>)"
                  R"(<row r="4"><c r="C4"><f>A4*B4+$D$2</f><v>0</v></c><c r="D4"><f>B4*C4+$D$2</f><v>0</v></c></row>)");
    Worksheet& sheet = book->Sheet(0);
    auto index = [&](uint32_t row, uint32_t col) { return sheet.FindCell(row, col)->formulaIndex; };
    EXPECT_EQ(index(0, 2), index(1, 2));
    EXPECT_NE(index(1, 2), index(2, 2)) << "the absolute part differs";
    EXPECT_EQ(index(2, 2), index(3, 2));
    EXPECT_EQ(index(3, 2), index(3, 3)) << "moved one column along";
    EXPECT_EQ(sheet.formulas.size(), 2u);
    EXPECT_EQ(FormulaAt(sheet, "D4"), "=B4*C4+$D$2");
    EXPECT_EQ(FormulaAt(sheet, "C2"), "=A2*B2+$D$1");
}

TEST(XlsxFormula, WrittenFormulasReadBackAndPassOutsideReaders)
{
    auto book = ReadSheet(kFormulaSheet);
    book->Sheet(0);
    book->SetFullCalcOnLoad(true);
    std::vector<uint8_t> bytes = WriteToMemory(*book);
    auto again = ReadXlsx(InputBytes::FromMemory(std::vector<uint8_t>(bytes), "again.xlsx"));
    Worksheet& first = book->Sheet(0);
    Worksheet& second = again->Sheet(0);
    for (const char* where :
         {"C1", "D1", "E1", "F1", "C2", "C3", "C4", "D2", "E2", "F3", "F4", "G3", "I4", "J4", "K4"}) {
        EXPECT_EQ(FormulaAt(second, where), FormulaAt(first, where)) << where;
    }
    EXPECT_EQ(Text(*again, second.FindCell(0, 3)), "x1");

    if (!HaveValidator()) {
        GTEST_SKIP() << "the xlsx validator or openpyxl is not available";
    }
    TempDir dir;
    std::string path = dir.File("formulas.xlsx");
    SaveBytes(bytes, path);
    EXPECT_TRUE(PassesValidator(path));
    // openpyxl gives a formula as its text with '=', an array formula with its range, and the
    // workbook's calculation properties.
    std::string out;
    ASSERT_EQ(RunPython(R"(
import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
ws = wb.worksheets[0]
for row in ws.iter_rows():
    for c in row:
        v = c.value
        attributes = ws.formula_attributes.get(c.coordinate, {})
        if attributes.get("t") == "array":
            print(c.coordinate, "array", attributes.get("ref"), v)
        elif isinstance(v, str) and v.startswith("="):
            print(c.coordinate, v)
print("fullCalcOnLoad", wb.calculation.fullCalcOnLoad)
)",
                        {path}, out),
              0)
        << out;
    for (const char* line :
         {"C1 =A1+B1\n", "D1 =\"x\"&A1\n", "C4 =A4*$B$1\n", "E2 =SUM($A2:C2)\n", "F3 array F3:F4 =A1:A2*2\n",
          "I4 =SUM(A1:A2\n", "K4 ='My Sheet'!A1+[1]Other!$B$2+Rate+Table1[Qty]\n", "fullCalcOnLoad True\n"}) {
        EXPECT_NE(out.find(line), std::string::npos) << "missing " << line << "in:\n" << out;
    }
    EXPECT_EQ(out.find("G3 "), std::string::npos) << "a data table is written as its values";
}

} // namespace
} // namespace gq::engine
