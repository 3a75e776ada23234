// The relationship parts of an xlsx package: the package's own (_rels/.rels), the workbook's
// (its sheets, styles and shared strings) and a worksheet's (its links that leave the file).
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxWriterParts.h"
#include "engine/xlsx/XlsxWriterXml.h"

namespace gq::engine::xlsxout {

namespace {

// <Relationship Id="rIdN" Type="..." Target="...", left open for more attributes.
XmlBuilder& Relationship(XmlBuilder& xml, uint64_t id, std::string_view type, std::string_view target)
{
    return xml.Start("Relationship")
        .Attribute("Id", "rId" + std::to_string(id))
        .Attribute("Type", type)
        .Attribute("Target", target);
}

std::string OfficeRel(std::string_view type)
{
    return std::string(kOfficeRel).append(type);
}

} // namespace

std::string PackageRelationshipsPart()
{
    std::string out(kXmlDecl);
    XmlBuilder xml(out);
    xml.Start("Relationships").Attribute("xmlns", kPackageRelNs).EndStart();
    Relationship(xml, 1, OfficeRel("officeDocument"), "xl/workbook.xml").EndEmpty();
    Relationship(xml, 2, "http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties",
                 "docProps/core.xml")
        .EndEmpty();
    Relationship(xml, 3, OfficeRel("extended-properties"), "docProps/app.xml").EndEmpty();
    xml.End("Relationships");
    return out;
}

std::string WorkbookRelationshipsPart(size_t sheetCount)
{
    std::string out(kXmlDecl);
    XmlBuilder xml(out);
    xml.Start("Relationships").Attribute("xmlns", kPackageRelNs).EndStart();
    for (size_t i = 0; i < sheetCount; ++i) {
        Relationship(xml, i + 1, OfficeRel("worksheet"), "worksheets/sheet" + std::to_string(i + 1) + ".xml")
            .EndEmpty();
    }
    Relationship(xml, sheetCount + 1, OfficeRel("styles"), "styles.xml").EndEmpty();
    Relationship(xml, sheetCount + 2, OfficeRel("sharedStrings"), "sharedStrings.xml").EndEmpty();
    xml.End("Relationships");
    return out;
}

std::string WorksheetRelationshipsPart(const std::vector<LinkOut>& links)
{
    std::string out(kXmlDecl);
    XmlBuilder xml(out);
    xml.Start("Relationships").Attribute("xmlns", kPackageRelNs).EndStart();
    for (const LinkOut& l : links) {
        if (l.relId == 0) {
            continue;
        }
        Relationship(xml, l.relId, OfficeRel("hyperlink"), l.link->target)
            .Attribute("TargetMode", "External")
            .EndEmpty();
    }
    xml.End("Relationships");
    return out;
}

} // namespace gq::engine::xlsxout
