// The [Content_Types].xml part of an xlsx package: the content type of every part written.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxWriterParts.h"
#include "engine/xlsx/XlsxWriterXml.h"

namespace gq::engine::xlsxout {

namespace {

constexpr std::string_view kContentTypesNs = "http://schemas.openxmlformats.org/package/2006/content-types";
constexpr std::string_view kSpreadsheetMl = "application/vnd.openxmlformats-officedocument.spreadsheetml.";

void Default(XmlBuilder& xml, std::string_view extension, std::string_view type)
{
    xml.Start("Default").Attribute("Extension", extension).Attribute("ContentType", type).EndEmpty();
}

void Override(XmlBuilder& xml, std::string_view part, std::string_view type)
{
    xml.Start("Override").Attribute("PartName", part).Attribute("ContentType", type).EndEmpty();
}

} // namespace

std::string ContentTypesPart(size_t sheetCount)
{
    std::string out(kXmlDecl);
    XmlBuilder xml(out);
    xml.Start("Types").Attribute("xmlns", kContentTypesNs).EndStart();
    // Parts named by their extension take the default type; every other part has an override.
    Default(xml, "rels", "application/vnd.openxmlformats-package.relationships+xml");
    Default(xml, "xml", "application/xml");
    std::string spreadsheetMl(kSpreadsheetMl);
    Override(xml, "/xl/workbook.xml", spreadsheetMl + "sheet.main+xml");
    for (size_t i = 0; i < sheetCount; ++i) {
        Override(xml, "/xl/worksheets/sheet" + std::to_string(i + 1) + ".xml", spreadsheetMl + "worksheet+xml");
    }
    Override(xml, "/xl/styles.xml", spreadsheetMl + "styles+xml");
    Override(xml, "/xl/sharedStrings.xml", spreadsheetMl + "sharedStrings+xml");
    Override(xml, "/docProps/core.xml", "application/vnd.openxmlformats-package.core-properties+xml");
    Override(xml, "/docProps/app.xml", "application/vnd.openxmlformats-officedocument.extended-properties+xml");
    xml.End("Types");
    return out;
}

} // namespace gq::engine::xlsxout
