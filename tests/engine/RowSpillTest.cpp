// Rows set aside in a spill file: they come back as they went, what a sheet says of its used
// range and cells does not change, and both writers give the same bytes whether a sheet's rows
// were in memory or streamed back from the spill.
// SPDX-License-Identifier: Apache-2.0
#include "engine/WorkbookFile.h"
#include "engine/formula/Formula.h"
#include "engine/model/Workbook.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace gq::engine {
namespace {

// A sheet with what rows and cells can hold: every cell type, formats, a shared formula down a
// column, row heights, hidden and grouped rows, a row format, merges and a hyperlink, over
// enough rows that the spill needs several chunks.
std::unique_ptr<Workbook> MakeBook()
{
    auto book = std::make_unique<Workbook>();
    book->InsertSheet(0, "Data");
    ResolvedStyle bold;
    bold.font.bold = true;
    const uint32_t style = book->Styles().InternStyle(bold);
    Worksheet& sheet = book->Sheet(0);
    auto parsed = std::make_shared<formula::Formula>();
    EXPECT_TRUE(formula::ParseFormula("A1*2+SUM(B1,$C$1)", *parsed));
    sheet.formulas.push_back(FormulaEntry{parsed, 0, 5, 0, 0, kNoFormula, {}});
    const uint32_t rows = 30000;
    for (uint32_t r = 0; r < rows; r += (r % 7 == 3 ? 2 : 1)) {
        sheet.SetNumber(r, 0, r * 1.5, r % 3 == 0 ? style : 0);
        sheet.SetString(r, 1, book->Strings().Intern("text " + std::to_string(r % 97)));
        sheet.SetBoolean(r, 2, r % 2 == 0);
        if (r % 11 == 0) {
            sheet.SetError(r, 3, ErrorCode::Div0);
        }
        if (r % 13 == 0) {
            sheet.SetBlank(r, 4, style);
        }
        Cell& f = sheet.CellAt(r, 5);
        f.type = CellType::Number;
        f.number = r * 3.0;
        f.formula = true;
        f.formulaIndex = 0;
        Row& row = sheet.RowAt(r);
        if (r % 17 == 0) {
            row.height = 21.5F;
            row.customHeight = true;
        }
        row.hidden = r % 19 == 0;
        row.outlineLevel = static_cast<uint8_t>(r % 23 == 0 ? 2 : 0);
        row.style = r % 29 == 0 ? style : 0;
    }
    sheet.RowAt(rows + 5).height = 30.0F; // a row with settings and no cells
    sheet.merges.push_back(CellRange{10, 7, 12, 9});
    sheet.hyperlinks.push_back(Hyperlink{CellRange{4, 1, 4, 1}, "https://example.com/", "", "tip", ""});
    return book;
}

std::vector<uint8_t> Write(Workbook& book, FileFormat format)
{
    MemorySink sink;
    WriteWorkbook(book, format, sink);
    return sink.Bytes();
}

TEST(RowSpill, WritersGiveTheSameBytesWhereverTheRowsAre)
{
    // Spilled whole, spilled above a row (the rest in memory), and spilled in two steps.
    const std::vector<std::vector<uint32_t>> splits = {{UINT32_MAX}, {12345}, {64, 20000}};
    for (FileFormat format : {FileFormat::Xlsx, FileFormat::Xls}) {
        // An .xls sheet ends at row 65,536, which the sheet stays within.
        auto reference = MakeBook();
        const std::vector<uint8_t> expected = Write(*reference, format);
        for (const auto& split : splits) {
            SCOPED_TRACE(testing::Message() << (format == FileFormat::Xls ? "xls " : "xlsx ") << split.front());
            auto book = MakeBook();
            for (uint32_t before : split) {
                ASSERT_TRUE(book->SpillRows(0, before));
            }
            const Worksheet& spilled = book->SheetKeepingSpill(0);
            ASSERT_FALSE(spilled.spilled.Empty());
            EXPECT_GE(spilled.spilled.ChunkCount(), split.size());
            EXPECT_EQ(spilled.UsedRange(), reference->Sheet(0).UsedRange());
            EXPECT_EQ(spilled.CellCount(), reference->Sheet(0).CellCount());
            EXPECT_EQ(Write(*book, format), expected);
            // Writing streamed the rows without bringing them back.
            EXPECT_FALSE(book->SheetKeepingSpill(0).spilled.Empty());
        }
    }
}

TEST(RowSpill, RowsComeBackAsTheyWentAndOnlyRowsInOrderAreSpilled)
{
    auto reference = MakeBook();
    auto book = MakeBook();
    ASSERT_TRUE(book->SpillRows(0, 5000));
    ASSERT_TRUE(book->SpillRows(0));
    // Sheet() brings every row back into memory.
    const Worksheet& back = book->Sheet(0);
    EXPECT_TRUE(back.spilled.Empty());
    const Worksheet& want = reference->Sheet(0);
    ASSERT_EQ(back.rows.size(), want.rows.size());
    for (size_t i = 0; i < want.rows.size(); ++i) {
        const Row& a = back.rows[i];
        const Row& b = want.rows[i];
        ASSERT_EQ(a.index, b.index);
        ASSERT_EQ(a.height, b.height);
        ASSERT_EQ(a.hidden, b.hidden);
        ASSERT_EQ(a.outlineLevel, b.outlineLevel);
        ASSERT_EQ(a.style, b.style);
        ASSERT_EQ(a.cells.size(), b.cells.size());
        for (size_t j = 0; j < a.cells.size(); ++j) {
            const Cell& x = a.cells[j];
            const Cell& y = b.cells[j];
            ASSERT_EQ(x.col, y.col);
            ASSERT_EQ(x.style, y.style);
            ASSERT_EQ(x.type, y.type);
            ASSERT_EQ(x.formula, y.formula);
            ASSERT_EQ(x.formulaIndex, y.formulaIndex);
            if (x.type == CellType::Number) {
                ASSERT_EQ(x.number, y.number);
            } else if (x.type == CellType::String) {
                ASSERT_EQ(x.text, y.text);
            }
        }
    }

    // Changing spilled cells: a visit that says which rows it changed has those chunks written
    // back, and the chunks it left alone come back as they were.
    auto changed = MakeBook();
    ASSERT_TRUE(changed->SpillRows(0));
    Worksheet& spilled = changed->SheetKeepingSpill(0);
    ASSERT_GE(spilled.spilled.ChunkCount(), 2U);
    spilled.UpdateRows([](Row& row) {
        if (row.index < 20000 || row.cells.empty() || row.cells.back().col != 5) {
            return false;
        }
        row.cells.back().formulaIndex = kNoFormula;
        return true;
    });
    const Worksheet& after = changed->Sheet(0);
    size_t kept = 0;
    size_t dropped = 0;
    for (const Row& row : after.rows) {
        for (const Cell& cell : row.cells) {
            if (cell.col == 5) {
                EXPECT_EQ(cell.formulaIndex, row.index < 20000 ? 0U : kNoFormula) << row.index;
                ++(row.index < 20000 ? kept : dropped);
            }
        }
    }
    EXPECT_GT(kept, 0U);
    EXPECT_GT(dropped, 0U);

    // Rows out of order (as a reader may leave them before it sorts them) stay in memory.
    Workbook unsorted;
    unsorted.InsertSheet(0, "Data");
    unsorted.Sheet(0).LoadRow(5).cells.resize(1);
    unsorted.Sheet(0).LoadRow(2).cells.resize(1);
    EXPECT_FALSE(unsorted.SpillRows(0));
    EXPECT_EQ(unsorted.SheetKeepingSpill(0).rows.size(), 2u);
}

} // namespace
} // namespace gq::engine
