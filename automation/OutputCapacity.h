// What the file a merge saves can hold, as the server's engine answers it for the file's name: the
// merge plans its pastes and words its report from this, without knowing the formats.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace gq::automation {

struct OutputCapacity {
    uint32_t rows = 0; // the grid of each sheet
    uint32_t columns = 0;
    // The last row (from 1) a block may be stacked at on one sheet; UINT32_MAX where only the
    // grid decides.
    uint32_t lastStackStartRow = 0;
    size_t maxSheets = 0;      // worksheets the file holds
    size_t maxCellFormats = 0; // distinct cell formats the file holds
    std::string fileWords;     // "an .xls file"
    std::string sheetWords;    // "an .xls sheet"
};

// What a file saved under `path` holds: the format its name means (".xls" in any letter case an
// Excel 97-2003 workbook, any other name an .xlsx workbook).
OutputCapacity OutputCapacityFor(const std::string& path);

} // namespace gq::automation
