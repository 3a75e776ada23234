// The writers of the xlsx package parts, one source file each, and what they share with the
// packager in XlsxWriter.cpp that assembles them.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/model/Workbook.h"
#include "engine/zip/ZipWriter.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace gq::engine::xlsxout {

inline constexpr uint32_t kUnmapped = UINT32_MAX;

// The cell formats and shared strings the worksheets use, in first-use order, with the maps from
// model indexes to output indexes. The worksheets fill them as they are written; the styles and
// shared-strings parts come last and hold only what was used.
class OutputTables {
public:
    explicit OutputTables(const Workbook& workbook);

    // Before each sheet: loading it may have added strings and formats to the workbook's tables.
    // `sheetName` names the sheet in messages.
    void BeginSheet(const std::string& sheetName);

    // Output index of a model cell format or string, given its first use in `row`, `col`. Throws
    // LimitError past the most cell formats xlsx holds or for text longer than a cell holds.
    uint32_t MapXf(uint32_t xf, uint32_t row, uint32_t col);
    uint32_t MapString(uint32_t text, uint32_t row, uint32_t col);
    // A model string's text, empty for an index past the table, for text a cell holds itself.
    const std::string& Text(uint32_t text) const;
    // "sheet "Name", cell B7", for messages.
    std::string Where(uint32_t row, uint32_t col) const;

    // Cell formats in output order (model indexes); format 0 is the default and stays the first.
    const std::vector<uint32_t>& UsedXfs() const { return m_usedXfs; }
    // Strings in output order (model indexes; kUnmapped for a string index past the table, which
    // reads as empty text, as the model gives it), and how many cells refer to them.
    const std::vector<uint32_t>& UsedStrings() const { return m_usedStrings; }
    uint64_t StringRefs() const { return m_stringRefs; }

private:
    const Workbook& m_workbook;
    std::string m_sheetName;
    std::vector<uint32_t> m_xfMap;
    std::vector<uint32_t> m_usedXfs;
    std::vector<uint32_t> m_sstMap;
    std::vector<uint32_t> m_usedStrings;
    uint32_t m_emptySst = kUnmapped;
    uint64_t m_stringRefs = 0;
};

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
