// The shared-strings part of an xlsx package (xl/sharedStrings.xml): the strings the worksheets
// used, in first-use order, streamed since a workbook may hold millions of them.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxWriterParts.h"
#include "engine/xlsx/XlsxWriterXml.h"

namespace gq::engine::xlsxout {

void WriteSharedStringsPart(ZipWriter& zip, const Workbook& workbook, const OutputTables& tables)
{
    zip.BeginPart("xl/sharedStrings.xml");
    PartStream out(zip);
    std::string head(kXmlDecl);
    XmlBuilder(head)
        .Start("sst")
        .Attribute("xmlns", kMainNs)
        .Attribute("count", tables.StringRefs())
        .Attribute("uniqueCount", tables.UsedStrings().size())
        .EndStart();
    out.Append(head);
    static const std::string kEmpty;
    for (uint32_t index : tables.UsedStrings()) {
        const std::string& text = index == kUnmapped ? kEmpty : workbook.Strings().At(index);
        char* p = out.Reserve(kMaxEscapedGrowth * text.size() + 64);
        if (NeedsPreserve(text)) {
            p = Put(p, "<si><t xml:space=\"preserve\">");
        } else {
            p = Put(p, "<si><t>");
        }
        p = EscapeText(p, text);
        p = Put(p, "</t></si>");
        out.Commit(p);
    }
    out.Append("</sst>");
    out.Flush();
    zip.EndPart();
}

} // namespace gq::engine::xlsxout
