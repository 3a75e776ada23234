// What each output format can hold: its grid, its limits, and whether given content fits, with the
// one text that says where it does not. Every layer that keeps to an output format asks here.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/formula/Formula.h"
#include "engine/model/Workbook.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gq::engine {

namespace biff {
class FormulaEncoder;
}

// The file formats the engine recognises (DetectFormat) and writes. Ods is an output format only:
// DetectFormat gives Xlsx for every zip package, and the package itself tells OpenDocument apart.
enum class FileFormat { Xlsx, Xls, Ods, Unknown };

// The rows and columns every sheet of a format holds (engine/Limits.h).
struct SheetGrid {
    uint32_t rows;
    uint32_t columns;
};

// What one output format holds. There is one for each format the engine writes, made in
// OutputFormat.cpp, and nowhere else are these figures written down again.
struct OutputFormat {
    FileFormat format;
    SheetGrid grid;
    // Distinct cell formats a workbook holds, and the characters of one number format code
    // (SIZE_MAX where the format sets no bound of its own).
    size_t maxCellFormats;
    size_t maxNumberFormatChars;
    // Worksheets a workbook holds.
    size_t maxSheets;
    // The last row (from 1) a merge stacks a block at: an Excel 97-2003 sheet takes no block at its
    // last two rows, as merges into .xls files never did. UINT32_MAX where only the grid decides.
    uint32_t lastStackStartRow;
    // How the merge report names a file and a sheet of the format: "an .xls file", "an .xls sheet".
    const char* fileWords;
    const char* sheetWords;
    // How a refusal names the format: "the Excel 97-2003 format (.xls)".
    const char* formatWords;

    // The grid as formulas are moved on it: a reference moved off it becomes #REF!.
    formula::Grid FormulaGrid() const { return formula::Grid{grid.rows, grid.columns}; }

    // Whether the writer can store `link` (an .xls file gives each one a record of bounded size).
    bool HoldsHyperlink(const Hyperlink& link) const;
    // Whether the array formula of the cell at (row, col) of `sheet`, filling `rows` x `cols` cells
    // from there, can be written as one: for .xls its range lies on the grid and every other cell
    // of it holds a result of its own and no formula.
    bool HoldsArrayRange(const Worksheet& sheet, uint32_t row, uint32_t col, uint32_t rows, uint32_t cols) const;
    // Whether some formulas of the model are none the format holds (OutputFormulaCheck tells
    // which). False where every formula the model holds can be written.
    bool LimitsFormulas() const;

    // The one text that says a sheet does not fit the grid: `lastRow` and `lastCol` are where its
    // content reaches (from 0).
    std::string TooLargeText(const std::string& sheet, uint32_t lastRow, uint32_t lastCol) const;
    // TooLargeText for the first sheet of `workbook` whose content (cells, merges, hyperlinks) does
    // not fit the grid, or an empty text when every sheet fits. Asked before a save starts, so that
    // the refusal names the sheet rather than the cell a writer meets first.
    std::string FindSheetTooLarge(Workbook& workbook) const;
};

// What each format holds, for the formats the engine writes (not Unknown).
const OutputFormat& OutputFormatOf(FileFormat format);

// The one answer to "which format and which grid does this output name mean", asked by the merge,
// the embedded server and the save: ".xls" in any letter case gives Xls with 65,536 rows x 256
// columns, ".ods" Ods with LibreOffice's 1,048,576 x 16,384, anything else Xlsx with 1,048,576 x
// 16,384.
const OutputFormat& OutputFormatFor(const std::string& path);

// Whether formulas fit an output format that limits them (OutputFormat::LimitsFormulas): for
// .xls, BIFF8's functions, argument counts, nesting and grid. One check serves a whole workbook
// whose sheets are `sheetNames`, so that references to its sheets are known.
class OutputFormulaCheck {
public:
    OutputFormulaCheck(const OutputFormat& output, std::vector<std::string> sheetNames);
    ~OutputFormulaCheck();
    OutputFormulaCheck(const OutputFormulaCheck&) = delete;
    OutputFormulaCheck& operator=(const OutputFormulaCheck&) = delete;

    // Whether the output holds `f` as a formula; false means its cell is written as its value.
    bool Holds(const formula::Formula& f);

private:
    std::unique_ptr<biff::FormulaEncoder> m_encoder; // null for a format that holds every formula
    std::vector<uint8_t> m_rgce;
    std::vector<uint8_t> m_rgcb;
};

} // namespace gq::engine
