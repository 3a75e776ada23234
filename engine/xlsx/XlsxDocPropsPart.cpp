// The document properties of an xlsx package: docProps/core.xml and docProps/app.xml.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxWriterParts.h"
#include "engine/xlsx/XlsxWriterXml.h"

namespace gq::engine::xlsxout {

// Fixed document properties: no dates and no user name, so that equal workbooks give equal files.

std::string CorePropertiesPart()
{
    std::string out(kXmlDecl);
    XmlBuilder xml(out);
    xml.Start("cp:coreProperties")
        .Attribute("xmlns:cp", "http://schemas.openxmlformats.org/package/2006/metadata/core-properties")
        .Attribute("xmlns:dc", "http://purl.org/dc/elements/1.1/")
        .EndStart();
    xml.TextElement("dc:creator", "Gridquilt");
    xml.End("cp:coreProperties");
    return out;
}

std::string AppPropertiesPart()
{
    std::string out(kXmlDecl);
    XmlBuilder xml(out);
    xml.Start("Properties")
        .Attribute("xmlns", "http://schemas.openxmlformats.org/officeDocument/2006/extended-properties")
        .EndStart();
    xml.TextElement("Application", "Gridquilt");
    xml.End("Properties");
    return out;
}

} // namespace gq::engine::xlsxout
