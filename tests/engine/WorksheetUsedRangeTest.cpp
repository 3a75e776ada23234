// Worksheet::UsedRange: the bounding box of cells with a value or a format, extended by merges,
// checked on hand-picked sheets and against a cell-by-cell reference on random ones.
// SPDX-License-Identifier: Apache-2.0
#include "engine/model/Workbook.h"

#include <gtest/gtest.h>

#include <random>

namespace gq::engine {
namespace {

struct UsedRangeCase {
    const char* name;
    void (*build)(Worksheet&);
    std::optional<CellRange> expected;
};

TEST(WorksheetUsedRange, HandPickedSheets)
{
    const std::vector<UsedRangeCase> cases = {
        {"empty sheet", [](Worksheet&) {}, std::nullopt},
        {"only default blanks", [](Worksheet& s) { s.CellAt(3, 4); s.CellAt(9, 0); }, std::nullopt},
        {"one value", [](Worksheet& s) { s.SetNumber(2, 3, 1.0); }, CellRange{2, 3, 2, 3}},
        {"default blanks at both row ends do not count",
         [](Worksheet& s) {
             s.CellAt(5, 0);
             s.SetNumber(5, 4, 1.0);
             s.SetNumber(5, 6, 2.0);
             s.CellAt(5, 20);
         },
         CellRange{5, 4, 5, 6}},
        {"a styled blank counts",
         [](Worksheet& s) {
             s.SetNumber(1, 1, 1.0);
             s.SetBlank(7, 9, 3);
         },
         CellRange{1, 1, 7, 9}},
        {"widest columns from different rows",
         [](Worksheet& s) {
             s.SetNumber(0, 5, 1.0);
             s.SetNumber(1, 2, 1.0);
             s.SetNumber(2, 8, 1.0);
         },
         CellRange{0, 2, 2, 8}},
        {"a merge extends the box",
         [](Worksheet& s) {
             s.SetNumber(4, 4, 1.0);
             s.merges.push_back(CellRange{4, 4, 10, 12});
         },
         CellRange{4, 4, 10, 12}},
    };
    for (const UsedRangeCase& c : cases) {
        Worksheet sheet;
        c.build(sheet);
        EXPECT_EQ(sheet.UsedRange(), c.expected) << c.name;
    }
}

std::optional<CellRange> CellByCell(const Worksheet& sheet)
{
    std::optional<CellRange> box;
    for (const Row& r : sheet.rows) {
        for (const Cell& c : r.cells) {
            if (c.type == CellType::Blank && c.style == 0) {
                continue;
            }
            if (!box) {
                box = CellRange{r.index, c.col, r.index, c.col};
            }
            box->firstRow = std::min(box->firstRow, r.index);
            box->lastRow = std::max(box->lastRow, r.index);
            box->firstCol = std::min(box->firstCol, c.col);
            box->lastCol = std::max(box->lastCol, c.col);
        }
    }
    return box;
}

TEST(WorksheetUsedRange, AgreesWithACellByCellScan)
{
    std::mt19937 random(20261207);
    for (int round = 0; round < 300; ++round) {
        Worksheet sheet;
        const int cells = static_cast<int>(random() % 40);
        for (int i = 0; i < cells; ++i) {
            const uint32_t row = random() % 30;
            const uint32_t col = random() % 30;
            switch (random() % 3) {
            case 0:
                sheet.CellAt(row, col); // default blank
                break;
            case 1:
                sheet.SetBlank(row, col, 1 + random() % 4);
                break;
            default:
                sheet.SetNumber(row, col, 1.0);
            }
        }
        sheet.Normalize();
        EXPECT_EQ(sheet.UsedRange(), CellByCell(sheet)) << "round " << round;
    }
}

} // namespace
} // namespace gq::engine
