// The output tables of an xlsx writer: the maps from model formats and strings to output indexes.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxWriterTables.h"

namespace gq::engine::xlsxout {

OutputTables::OutputTables(const Workbook& workbook) : m_workbook(workbook)
{
    // Cell format 0 is the default and stays the first.
    m_xfMap.assign(m_workbook.Styles().CellFormats().size(), kUnmapped);
    m_xfMap[0] = 0;
    m_usedXfs.push_back(0);
}

void OutputTables::BeginSheet(const std::string& sheetName)
{
    m_sheetName = sheetName;
    m_xfMap.resize(m_workbook.Styles().CellFormats().size(), kUnmapped);
    m_sstMap.resize(m_workbook.Strings().Size(), kUnmapped);
}

const std::string& OutputTables::Text(uint32_t text) const
{
    static const std::string kEmpty;
    return text < m_workbook.Strings().Size() ? m_workbook.Strings().At(text) : kEmpty;
}

std::string OutputTables::Where(uint32_t row, uint32_t col) const
{
    return "sheet \"" + m_sheetName + "\", cell " + CellName(row, col);
}

} // namespace gq::engine::xlsxout
