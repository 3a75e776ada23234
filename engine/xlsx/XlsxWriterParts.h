// The writers of the xlsx package parts, one source file each, and what they share with the
// packager in XlsxWriter.cpp that assembles them.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/model/Workbook.h"
#include "engine/xlsx/XlsxWriterTables.h"
#include "engine/zip/ZipWriter.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace gq::engine::xlsxout {

// One worksheet's hyperlink as it will be written, with its relationship when it leaves the file.
struct LinkOut {
    const Hyperlink* link;
    CellRange range;
    uint32_t relId; // 0: internal link, no relationship
};

// [Content_Types].xml: the content type of every part (XlsxContentTypesPart.cpp).
std::string ContentTypesPart(size_t sheetCount);

// _rels/.rels, xl/_rels/workbook.xml.rels and a worksheet's hyperlink relationships
// (XlsxRelationshipsPart.cpp). The workbook's relationships number the sheets rId1..rIdN in
// order, then styles and shared strings.
std::string PackageRelationshipsPart();
std::string WorkbookRelationshipsPart(size_t sheetCount);
std::string WorksheetRelationshipsPart(const std::vector<LinkOut>& links);

// docProps/core.xml and docProps/app.xml (XlsxDocPropsPart.cpp).
std::string CorePropertiesPart();
std::string AppPropertiesPart();

// xl/workbook.xml: the sheet list with the states and the active tab the packager settled on
// (XlsxWorkbookPart.cpp).
std::string WorkbookPart(const Workbook& workbook, const std::vector<SheetState>& states, size_t activeTab);

// xl/worksheets/sheetN.xml for sheet `index`, streamed, and its relationships part when it has
// links that leave the file (XlsxWorksheetPart.cpp). Throws LimitError for content outside the
// xlsx grid.
// Rows of the sheet prepared before the save (XlsxRowStager.h): the first `chunks` spilled chunks,
// as XML deflated into `piece`, whose bytes `read` gives.
struct StagedRows {
    ZipWriter::DeflatedPiece piece;
    std::function<void(uint64_t offset, std::span<uint8_t> out)> read;
    size_t chunks = 0;
};
void WriteWorksheetPart(ZipWriter& zip, Workbook& workbook, size_t index, bool active, OutputTables& tables,
                        const StagedRows* staged = nullptr);
// The cell formats of the columns the head of the sheet's part names, in the order it names them:
// the head maps them before any cell.
std::vector<uint32_t> HeadColumnFormats(const Worksheet& sheet);
// `rows` as the worksheet part writes them, for rows without formula cells.
class PartStream;
void WriteStagedRows(PartStream& out, std::span<const Row> rows, OutputTables& tables);

// xl/sharedStrings.xml with the strings the worksheets used, streamed (XlsxSharedStringsPart.cpp).
void WriteSharedStringsPart(ZipWriter& zip, const Workbook& workbook, const OutputTables& tables);

// xl/styles.xml with the cell formats the worksheets used (XlsxStylesPart.cpp).
std::string StylesPart(const StyleTable& styles, const std::vector<uint32_t>& usedXfs);

} // namespace gq::engine::xlsxout
