// The pieces of the OpenDocument writer that its package, first pass and content stream share.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/formula/Formula.h"
#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"
#include "engine/ods/OdsWriterStyles.h"
#include "engine/zip/ZipWriter.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gq::engine::odsout {

// content.xml goes to the zip writer in chunks of about this size.
constexpr size_t kChunkBytes = size_t{256} * 1024;

// Excel's defaults for a Calibri 11 workbook, which the model's sizes mean when they are not
// given: 15 points a row, 64 pixels a column.
constexpr double kDefaultRowHeight = 15.0;
constexpr double kDefaultColumnPoints = 48.0;

// Threads the zip writer deflates with: none of its own on one core, at most four.
unsigned DeflateThreads();

// Whether a cell has anything to write: a value, a format or a formula.
bool Says(const Cell& cell);

void AppendUint(std::string& out, uint64_t value);

// One column run of the table's head: columns with the same width, visibility and format.
struct ColumnRun {
    uint32_t count = 0;
    double points = 0;
    bool hidden = false;
    uint32_t style = 0;
};

// What the first pass learns of a sheet.
struct SheetPlan {
    uint32_t columns = 1; // columns the table's head declares
    std::vector<ColumnRun> runs;
    std::vector<CellRange> merges;
    std::vector<Hyperlink> links;
    double defaultPoints = kDefaultColumnPoints;
    double defaultHeight = kDefaultRowHeight;
    uint32_t lastRow = 0; // the last row anything reaches, merges included
    bool hasRows = false;
    uint32_t frozenRows = 0;
    uint32_t frozenCols = 0;
};

class OdsWriter {
public:
    OdsWriter(Workbook& workbook, ByteSink& sink)
        : m_workbook(workbook), m_zip(sink, 1, DeflateThreads()), m_styles(workbook)
    {
    }

    void Write();

private:
    void CheckSheets();
    void PlanSheet(size_t index);
    void WriteSheet(size_t index);
    void WriteRow(const Row* row, uint32_t index, uint32_t repeat);
    void WriteCells(const Row* row, uint32_t index);
    void WriteCell(const Cell* cell, uint32_t row, bool covered, uint32_t repeat, const CellRange* span);
    void WriteParagraphs(std::string_view text, const Hyperlink* link);
    void Flush(bool force = false);
    std::string Settings() const;

    Workbook& m_workbook;
    ZipWriter m_zip;
    OdsStyleSet m_styles;
    std::vector<SheetState> m_states;
    std::vector<SheetPlan> m_plans;
    size_t m_activeTab = 0;
    std::string m_out;

    // The sheet being written.
    const Worksheet* m_sheet = nullptr;
    const SheetPlan* m_plan = nullptr;
    std::string m_sheetName;
    std::vector<CellRange> m_active;       // merges that reach the row being written
    size_t m_nextMerge = 0;                // into m_plan->merges, sorted by first row
    std::vector<const Hyperlink*> m_links; // links that reach the row being written
    size_t m_nextLink = 0;
    formula::Formula m_formula;
    std::string m_formulaText;
};

} // namespace gq::engine::odsout
