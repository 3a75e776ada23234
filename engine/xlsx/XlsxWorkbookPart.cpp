// The workbook part of an xlsx package (xl/workbook.xml): the date system, the active tab and the
// sheet list with names, states and relationships, and whether formulas must be computed on load.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxWriterParts.h"
#include "engine/xlsx/XlsxWriterXml.h"

namespace gq::engine::xlsxout {

std::string WorkbookPart(const Workbook& workbook, const std::vector<SheetState>& states, size_t activeTab)
{
    std::string out(kXmlDecl);
    XmlBuilder xml(out);
    xml.Start("workbook").Attribute("xmlns", kMainNs).Attribute("xmlns:r", kRelNs).EndStart();
    xml.Start("workbookPr");
    if (workbook.Date1904()) {
        xml.Attribute("date1904", "1");
    }
    xml.EndEmpty();
    xml.Start("bookViews").EndStart();
    xml.Start("workbookView").Attribute("activeTab", activeTab).EndEmpty();
    xml.End("bookViews");
    xml.Start("sheets").EndStart();
    for (size_t i = 0; i < workbook.SheetCount(); ++i) {
        xml.Start("sheet").Attribute("name", workbook.SheetName(i)).Attribute("sheetId", i + 1);
        if (states[i] == SheetState::Hidden) {
            xml.Attribute("state", "hidden");
        } else if (states[i] == SheetState::VeryHidden) {
            xml.Attribute("state", "veryHidden");
        }
        // The workbook's relationships number the sheets first (WorkbookRelationshipsPart).
        xml.Attribute("r:id", "rId" + std::to_string(i + 1)).EndEmpty();
    }
    xml.End("sheets");
    // A pasted formula whose cached value may no longer hold (CT_CalcPr, ECMA-376 Part 1, 18.2.2):
    // the application computes every formula when it opens the file.
    if (workbook.FullCalcOnLoad()) {
        xml.Start("calcPr").Attribute("fullCalcOnLoad", "1").EndEmpty();
    }
    xml.End("workbook");
    return out;
}

} // namespace gq::engine::xlsxout
