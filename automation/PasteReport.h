// What a paste says in the merge report: the changes it made to keep to the output format, as
// plain sentences, and the numbers in them.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/OutputFormat.h"

#include <cstdint>
#include <string>
#include <vector>

namespace gq::automation {

// What one paste changed to keep to what the output format holds.
struct PasteNotes {
    bool formattingDropped = false; // formatted empty cells beyond the grid's last column or row
    uint64_t generalCells = 0;      // cells whose number format was too long, now General
    uint64_t droppedLinks = 0;      // hyperlinks the format cannot store
    uint64_t formatsMerged = 0;     // distinct source formats that became a similar existing one
    uint64_t unreadFormulas = 0;    // formulas the source's reader kept as their values only

    // One plain sentence per kind of change other than merged formats, for the report of the
    // entry; `output` names the format.
    std::vector<std::string> Sentences(const engine::OutputFormat& output) const;
};

} // namespace gq::automation
