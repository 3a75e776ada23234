// The formulas of a sheet's cells: finding a cell's formula through its sheet's formula entries,
// and giving a cell a formula of its own.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/Formula.h"

namespace gq::engine::formula {

bool CellFormula(const Worksheet& sheet, uint32_t row, const Cell& cell, Formula& out, const Grid& grid)
{
    if (cell.formulaIndex >= sheet.formulas.size() || !sheet.formulas[cell.formulaIndex].formula) {
        return false;
    }
    const FormulaEntry& entry = sheet.formulas[cell.formulaIndex];
    out = *entry.formula;
    int64_t rows = static_cast<int64_t>(row) - entry.anchorRow;
    int64_t cols = static_cast<int64_t>(cell.col) - entry.anchorCol;
    if (rows != 0 || cols != 0) {
        MoveFormula(out, rows, cols, grid);
    }
    return true;
}

void SetCellFormula(Worksheet& sheet, uint32_t row, uint32_t col, std::string_view text, uint32_t arrayRows,
                    uint32_t arrayCols)
{
    auto parsed = std::make_shared<Formula>();
    ParseFormula(text, *parsed);
    FormulaEntry entry;
    entry.formula = std::move(parsed);
    entry.anchorRow = row;
    entry.anchorCol = col;
    entry.arrayRows = arrayRows;
    entry.arrayCols = arrayCols;
    sheet.formulas.push_back(std::move(entry));
    Cell& cell = sheet.CellAt(row, col);
    cell.formula = true;
    cell.formulaIndex = static_cast<uint32_t>(sheet.formulas.size() - 1);
}

} // namespace gq::engine::formula
