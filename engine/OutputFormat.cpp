// What each output format holds, which output name means which format, and whether content fits.
// SPDX-License-Identifier: Apache-2.0
#include "engine/OutputFormat.h"

#include "common/AsciiText.h"
#include "common/NumberText.h"
#include "engine/Limits.h"
#include "engine/xls/BiffFormula.h"
#include "engine/xls/XlsWriter.h"

#include <filesystem>

namespace gq::engine {

namespace {

constexpr OutputFormat kXlsx{
    FileFormat::Xlsx,
    SheetGrid{limits::kXlsxMaxRows, limits::kXlsxMaxCols},
    limits::kXlsxMaxCellFormats,
    SIZE_MAX,
    limits::kXlsxMaxSheets,
    UINT32_MAX,
    "an .xlsx file",
    "an .xlsx sheet",
    "the Excel format (.xlsx)",
};

constexpr OutputFormat kXls{
    FileFormat::Xls,
    SheetGrid{limits::kXlsMaxRows, limits::kXlsMaxCols},
    limits::kXlsMaxCellFormats,
    limits::kXlsMaxFormatCodeChars,
    limits::kMaxSheets,
    limits::kXlsLastStackStartRow,
    "an .xls file",
    "an .xls sheet",
    "the Excel 97-2003 format (.xls)",
};

// OpenDocument: the grid of LibreOffice Calc, whose sheets hold 1,048,576 rows and, since version
// 7.4, 16,384 columns (1,024 before); the output keeps to the grid of the current version. Its
// other figures are those the xlsx output keeps to.
constexpr OutputFormat kOds{
    FileFormat::Ods,
    SheetGrid{limits::kOdsMaxRows, limits::kOdsMaxCols},
    limits::kXlsxMaxCellFormats,
    SIZE_MAX,
    limits::kMaxSheets,
    UINT32_MAX,
    "an .ods file",
    "an .ods sheet",
    "the OpenDocument format (.ods)",
};

} // namespace

const OutputFormat& OutputFormatOf(FileFormat format)
{
    switch (format) {
    case FileFormat::Xls:
        return kXls;
    case FileFormat::Ods:
        return kOds;
    default:
        return kXlsx;
    }
}

const OutputFormat& OutputFormatFor(const std::string& path)
{
    std::string name = std::filesystem::path(path).filename().string();
    if (name.size() >= 4) {
        const std::string ext = LowerCase(name.substr(name.size() - 4));
        if (ext == ".xls") {
            return kXls;
        }
        if (ext == ".ods") {
            return kOds;
        }
    }
    return kXlsx;
}

bool OutputFormat::HoldsHyperlink(const Hyperlink& link) const
{
    return format != FileFormat::Xls || XlsHoldsHyperlink(link);
}

bool OutputFormat::HoldsArrayRange(const Worksheet& sheet, uint32_t row, uint32_t col, uint32_t rows,
                                   uint32_t cols) const
{
    return format != FileFormat::Xls || XlsHoldsArrayRange(sheet, row, col, rows, cols);
}

bool OutputFormat::LimitsFormulas() const
{
    return format == FileFormat::Xls;
}

std::string OutputFormat::TooLargeText(const std::string& sheet, uint32_t lastRow, uint32_t lastCol) const
{
    std::string text = "The sheet \"" + sheet + "\" is too large for " + formatWords + ": its content reaches row " +
                       Thousands(uint64_t{lastRow} + 1) + " and column " + ColumnName(lastCol) + ", and " + sheetWords +
                       " holds at most " + Thousands(grid.rows) + " rows and " + Thousands(grid.columns) +
                       " columns (A to " + ColumnName(grid.columns - 1) + ")";
    if (format != FileFormat::Xlsx) {
        text += ". Save it as .xlsx instead";
    }
    return text;
}

std::string OutputFormat::FindSheetTooLarge(Workbook& workbook) const
{
    // Every reader and the paste keep the model to the xlsx grid: a format with that grid holds
    // every sheet, and its sheets are not scanned.
    if (grid.rows >= limits::kXlsxMaxRows && grid.columns >= limits::kXlsxMaxCols) {
        return {};
    }
    for (size_t i = 0; i < workbook.SheetCount(); ++i) {
        const Worksheet& sheet = workbook.SheetKeepingSpill(i);
        std::optional<CellRange> used = sheet.UsedRange();
        for (const auto& link : sheet.hyperlinks) {
            ExtendRange(used, link.range);
        }
        const uint32_t lastRow = used ? used->lastRow : 0;
        const uint32_t lastCol = used ? used->lastCol : 0;
        if (lastRow >= grid.rows || lastCol >= grid.columns) {
            return TooLargeText(workbook.SheetName(i), lastRow, lastCol);
        }
    }
    return {};
}

OutputFormulaCheck::OutputFormulaCheck(const OutputFormat& output, std::vector<std::string> sheetNames)
{
    if (output.format == FileFormat::Xls) {
        m_encoder = std::make_unique<biff::FormulaEncoder>(std::move(sheetNames));
    }
}

OutputFormulaCheck::~OutputFormulaCheck() = default;

bool OutputFormulaCheck::Holds(const formula::Formula& f)
{
    return m_encoder == nullptr || m_encoder->Encode(f, m_rgce, m_rgcb);
}

} // namespace gq::engine
