// The cell formats and shared strings an xlsx output uses, in first-use order: filled by the
// worksheet writers (directly or through the row stager), read by the styles and shared-strings parts.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/model/Workbook.h"
#include "engine/text/Utf8.h"

#include <cstdint>
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

// MapXf and MapString run for every cell written: inline, so that a cell seen before costs a lookup.
inline uint32_t OutputTables::MapXf(uint32_t xf, uint32_t row, uint32_t col)
{
    if (xf >= m_xfMap.size()) {
        return 0; // the model reads an unknown format as the default one
    }
    uint32_t& mapped = m_xfMap[xf];
    if (mapped == kUnmapped) {
        if (m_usedXfs.size() >= limits::kXlsxMaxCellFormats) {
            throw LimitError(Where(row, col) + ": the workbook uses more than 65,430 distinct cell formats, the most "
                                               "an xlsx file can hold");
        }
        mapped = static_cast<uint32_t>(m_usedXfs.size());
        m_usedXfs.push_back(xf);
    }
    return mapped;
}

inline uint32_t OutputTables::MapString(uint32_t text, uint32_t row, uint32_t col)
{
    ++m_stringRefs;
    uint32_t* slot = text < m_sstMap.size() ? &m_sstMap[text] : &m_emptySst;
    if (*slot == kUnmapped) {
        const std::string& value = m_workbook.Strings().At(text);
        size_t units = Utf16Length(value);
        if (units > limits::kMaxCellChars) {
            throw LimitError(Where(row, col) + ": the text is " + std::to_string(units) +
                             " characters long; an xlsx cell holds at most 32,767");
        }
        *slot = static_cast<uint32_t>(m_usedStrings.size());
        m_usedStrings.push_back(text < m_sstMap.size() ? text : kUnmapped);
    }
    return *slot;
}

} // namespace gq::engine::xlsxout
