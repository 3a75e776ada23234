// Writes the workbook model as an Excel 97-2003 (BIFF8) workbook in an OLE2 compound file.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

namespace gq::engine {

// Gives how many kept formulas BIFF8 could not hold and were written as their cached values.
size_t WriteXls(Workbook& workbook, ByteSink& sink);

// True when the writer can store `link`: an .xls file gives each hyperlink one record of at most
// 8,224 bytes, which a target of thousands of characters does not fit.
bool XlsHoldsHyperlink(const Hyperlink& link);

// True when the array formula of the cell at (row, col) of `sheet`, filling `rows` x `cols` cells
// from there, can be an ARRAY record: its range lies on the .xls grid and every other cell of it
// holds a result of its own and no formula, for the FORMULA record BIFF8 wants in each cell.
bool XlsHoldsArrayRange(const Worksheet& sheet, uint32_t row, uint32_t col, uint32_t rows, uint32_t cols);

} // namespace gq::engine
