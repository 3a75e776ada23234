// Writes the workbook model as an OpenDocument spreadsheet package (ODF 1.2): the stored mimetype
// first, then content.xml streamed sheet by sheet, styles.xml, meta.xml, settings.xml and the
// manifest. A first pass over the sheets finds the styles the content uses, since OpenDocument
// wants them before the cells.
// SPDX-License-Identifier: Apache-2.0
#include "engine/ods/OdsWriter.h"

#include "engine/Errors.h"
#include "engine/ods/OdsWriterInternal.h"

#include <algorithm>
#include <thread>

namespace gq::engine {

namespace odsout {

namespace {

constexpr std::string_view kMimeType = "application/vnd.oasis.opendocument.spreadsheet";
constexpr std::string_view kXmlDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
constexpr std::string_view kNamespaces = " xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\""
                                         " xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\""
                                         " xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\""
                                         " xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\""
                                         " xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\""
                                         " xmlns:xlink=\"http://www.w3.org/1999/xlink\""
                                         " xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\""
                                         " xmlns:svg=\"urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0\""
                                         " xmlns:of=\"urn:oasis:names:tc:opendocument:xmlns:of:1.2\""
                                         " xmlns:meta=\"urn:oasis:names:tc:opendocument:xmlns:meta:1.0\""
                                         " xmlns:config=\"urn:oasis:names:tc:opendocument:xmlns:config:1.0\""
                                         " office:version=\"1.2\"";

} // namespace

unsigned DeflateThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores <= 1 ? 0 : std::min(cores, 4u);
}

void OdsWriter::CheckSheets()
{
    Workbook::SavedSheets saved = m_workbook.SheetsToSave();
    m_states = std::move(saved.states);
    m_activeTab = saved.activeTab;
}

std::string OdsWriter::Settings() const
{
    // The active sheet and frozen panes are view settings, which LibreOffice and Gnumeric take
    // from settings.xml (ODF 1.2 Part 1, 3.10) under the names LibreOffice gives them.
    std::string out(kXmlDecl);
    out += "<office:document-settings";
    out += kNamespaces;
    out += "><office:settings><config:config-item-set config:name=\"ooo:view-settings\">"
           "<config:config-item-map-indexed config:name=\"Views\"><config:config-item-map-entry>"
           "<config:config-item config:name=\"ViewId\" config:type=\"string\">view1</config:config-item>";
    bool anyFrozen = false;
    for (size_t i = 0; i < m_plans.size(); ++i) {
        const uint32_t rows = m_plans[i].frozenRows;
        const uint32_t cols = m_plans[i].frozenCols;
        if (rows == 0 && cols == 0) {
            continue;
        }
        if (!anyFrozen) {
            out += "<config:config-item-map-named config:name=\"Tables\">";
            anyFrozen = true;
        }
        out += "<config:config-item-map-entry config:name=\"";
        AppendEscaped(out, m_workbook.SheetName(i), true);
        out += "\">";
        auto item = [&](std::string_view name, std::string_view type, uint64_t value) {
            out += "<config:config-item config:name=\"";
            out += name;
            out += "\" config:type=\"";
            out += type;
            out += "\">";
            AppendUint(out, value);
            out += "</config:config-item>";
        };
        item("HorizontalSplitMode", "short", cols > 0 ? 2 : 0);
        item("VerticalSplitMode", "short", rows > 0 ? 2 : 0);
        item("HorizontalSplitPosition", "int", cols);
        item("VerticalSplitPosition", "int", rows);
        item("ActiveSplitRange", "short", rows > 0 ? 2 : 3);
        item("PositionLeft", "int", 0);
        item("PositionRight", "int", cols);
        item("PositionTop", "int", 0);
        item("PositionBottom", "int", rows);
        out += "</config:config-item-map-entry>";
    }
    if (anyFrozen) {
        out += "</config:config-item-map-named>";
    }
    out += "<config:config-item config:name=\"ActiveTable\" "
           "config:type=\"string\">";
    AppendEscaped(out, m_workbook.SheetName(m_activeTab), false);
    out += "</config:config-item></config:config-item-map-entry></config:config-item-map-indexed>"
           "</config:config-item-set></office:settings></office:document-settings>";
    return out;
}

void OdsWriter::Write()
{
    // Rows staged for an xlsx save are of no use here; the save ends the staging either way.
    m_workbook.TakeRowStager();
    CheckSheets();
    const size_t count = m_workbook.SheetCount();
    for (size_t i = 0; i < count; ++i) {
        PlanSheet(i);
    }

    // The mimetype comes first and is stored, so that the type shows at a fixed offset.
    m_zip.AddStoredPart("mimetype", kMimeType);
    m_zip.BeginPart("content.xml");
    m_out.reserve(kChunkBytes + size_t{64} * 1024);
    m_out += kXmlDecl;
    m_out += "<office:document-content";
    m_out += kNamespaces;
    m_out += '>';
    m_out += m_styles.FontFaceDecls();
    m_out += m_styles.AutomaticStyles();
    m_out += "<office:body><office:spreadsheet>";
    Flush();
    for (size_t i = 0; i < count; ++i) {
        WriteSheet(i);
    }
    m_out += "</office:spreadsheet></office:body></office:document-content>";
    Flush(true);
    m_zip.EndPart();

    std::string styles(kXmlDecl);
    styles += "<office:document-styles";
    styles += kNamespaces;
    styles += '>';
    styles += m_styles.FontFaceDecls();
    styles += m_styles.CommonStyles();
    styles += "</office:document-styles>";
    m_zip.AddPart("styles.xml", styles);

    std::string meta(kXmlDecl);
    meta += "<office:document-meta";
    meta += kNamespaces;
    meta += "><office:meta><meta:generator>Gridquilt</meta:generator></office:meta></office:document-meta>";
    m_zip.AddPart("meta.xml", meta);
    m_zip.AddPart("settings.xml", Settings());

    m_zip.AddPart("META-INF/manifest.xml",
                  std::string(kXmlDecl) +
                      "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\" "
                      "manifest:version=\"1.2\">"
                      "<manifest:file-entry manifest:full-path=\"/\" manifest:version=\"1.2\" "
                      "manifest:media-type=\"" +
                      std::string(kMimeType) +
                      "\"/>"
                      "<manifest:file-entry manifest:full-path=\"content.xml\" manifest:media-type=\"text/xml\"/>"
                      "<manifest:file-entry manifest:full-path=\"styles.xml\" manifest:media-type=\"text/xml\"/>"
                      "<manifest:file-entry manifest:full-path=\"meta.xml\" manifest:media-type=\"text/xml\"/>"
                      "<manifest:file-entry manifest:full-path=\"settings.xml\" manifest:media-type=\"text/xml\"/>"
                      "</manifest:manifest>");
    m_zip.Finish();
}

} // namespace odsout

void WriteOds(Workbook& workbook, ByteSink& sink)
{
    odsout::OdsWriter writer(workbook, sink);
    writer.Write();
}

} // namespace gq::engine
