// Writes the workbook model as an xlsx package (SpreadsheetML of ECMA-376): the packager that
// settles the sheet states and assembles the parts, each written by its own source file.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxWriter.h"

#include "engine/Errors.h"
#include "engine/xlsx/XlsxRowStager.h"
#include "engine/xlsx/XlsxWriterParts.h"
#include "engine/zip/ZipWriter.h"

#include <algorithm>
#include <thread>

namespace gq::engine {

namespace {

unsigned DeflateThreads(int requested)
{
    if (requested >= 0) {
        return static_cast<unsigned>(std::min(requested, 16));
    }
    unsigned cores = std::thread::hardware_concurrency();
    return cores <= 1 ? 0 : std::min(cores, 4u);
}

class XlsxWriter {
public:
    XlsxWriter(Workbook& workbook, ByteSink& sink, const XlsxWriteOptions& options)
        : m_workbook(workbook), m_level(options.level), m_zip(sink, options.level, DeflateThreads(options.threads))
    {
    }

    void Write();

private:
    void CheckSheets();

    Workbook& m_workbook;
    int m_level;
    ZipWriter m_zip;
    size_t m_activeTab = 0;
    std::vector<SheetState> m_states;
};

void XlsxWriter::CheckSheets()
{
    Workbook::SavedSheets saved = m_workbook.SheetsToSave();
    m_states = std::move(saved.states);
    m_activeTab = saved.activeTab;
}

void XlsxWriter::Write()
{
    // Rows staged while the workbook was built are taken as they are when the workbook is still
    // what they were staged from; the save ends the staging either way.
    const std::shared_ptr<RowStager> stager = m_workbook.TakeRowStager();
    std::vector<xlsxout::StagedRows> staged;
    std::unique_ptr<xlsxout::OutputTables> stagedTables;
    if (auto* rows = dynamic_cast<XlsxRowStager*>(stager.get())) {
        staged = rows->Finish(m_workbook, m_level);
        if (!staged.empty()) {
            stagedTables = rows->TakeTables();
        }
    }
    CheckSheets();
    size_t count = m_workbook.SheetCount();
    if (!stagedTables) {
        staged.clear();
        stagedTables = std::make_unique<xlsxout::OutputTables>(m_workbook);
    }
    xlsxout::OutputTables& tables = *stagedTables;
    m_zip.AddPart("[Content_Types].xml", xlsxout::ContentTypesPart(count));
    m_zip.AddPart("_rels/.rels", xlsxout::PackageRelationshipsPart());
    m_zip.AddPart("docProps/core.xml", xlsxout::CorePropertiesPart());
    m_zip.AddPart("docProps/app.xml", xlsxout::AppPropertiesPart());
    m_zip.AddPart("xl/workbook.xml", xlsxout::WorkbookPart(m_workbook, m_states, m_activeTab));
    m_zip.AddPart("xl/_rels/workbook.xml.rels", xlsxout::WorkbookRelationshipsPart(count));
    for (size_t i = 0; i < count; ++i) {
        xlsxout::WriteWorksheetPart(m_zip, m_workbook, i, i == m_activeTab, tables,
                                    i < staged.size() && staged[i].chunks > 0 ? &staged[i] : nullptr);
    }
    // Shared strings and styles come last: only what the sheets used is written, in first-use order
    // (rows staged in the order a workbook's sheets were finished count as used first).
    xlsxout::WriteSharedStringsPart(m_zip, m_workbook, tables);
    m_zip.AddPart("xl/styles.xml", xlsxout::StylesPart(m_workbook.Styles(), tables.UsedXfs()));
    m_zip.Finish();
}

} // namespace

void WriteXlsx(Workbook& workbook, ByteSink& sink)
{
    WriteXlsx(workbook, sink, XlsxWriteOptions{});
}

void WriteXlsx(Workbook& workbook, ByteSink& sink, const XlsxWriteOptions& options)
{
    XlsxWriter writer(workbook, sink, options);
    writer.Write();
}

} // namespace gq::engine
