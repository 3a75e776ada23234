// One row of the source or merge list: a worksheet's name and the full path of its workbook.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>

namespace gq::catalogue {

// A plain value (UTF-8 strings). Nothing is validated or normalised: either field may be empty
// and equal entries may stand any number of times in a list.
struct SheetEntry {
    std::string SheetName;
    std::string FileName;

    friend bool operator==(const SheetEntry&, const SheetEntry&) = default;
};

} // namespace gq::catalogue
