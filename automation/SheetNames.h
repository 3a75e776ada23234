// Sheet-name rules of the embedded server: the checks a new name must pass (the engine's rule, and
// no other sheet of the workbook may have it without regard to case) and the name an added sheet
// gets.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/text/SheetNames.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

namespace gq::automation {

using engine::FoldCase;
using engine::SameSheetName;

// The sheet names of one workbook, folded for comparison without regard to case, with the ids
// of their sheets and the numbers N of the names of the form "Sheet<N>", so that finding a sheet by
// name, checking a new name and naming an added sheet need no walk over every sheet.
class SheetNameIndex {
public:
    struct Entry {
        uint64_t id;
        std::string name;                   // as the sheet has it
        mutable size_t position = SIZE_MAX; // where the sheet was last found, a hint for lookups
    };

    // Adds a sheet's name; of several sheets whose names fold alike, the first added is found.
    void Add(const std::string& name, uint64_t id);
    void Remove(const std::string& name, uint64_t id);
    const Entry* Find(std::string_view name) const;
    // The highest N of the names of the form "Sheet<N>" (without regard to case), 0 for none.
    uint64_t HighestSheetNumber() const { return m_numbers.empty() ? 0 : *m_numbers.rbegin(); }

private:
    std::unordered_map<std::string, Entry> m_byFolded;
    std::multiset<uint64_t> m_numbers;
};

// Why `name` cannot name the sheet `self` of the workbook whose names `index` holds, or nullopt
// when it can: engine::SheetNameProblem's reasons, capitalised, and clashes with another sheet. The
// sheet's own current name does not count as a clash, so changing only its case works.
std::optional<std::string> SheetNameProblem(std::string_view name, const SheetNameIndex& index, uint64_t self);

// The name for an added sheet: "Sheet<N>" with the next number not yet used in the workbook, as
// office suites do: N counts up from the highest "Sheet<N>" in use and from the last number handed
// out (`lastNumber`, updated), so a number is not handed out again after its sheet was renamed.
// Reusing freed numbers would let a merge join a clashing name with the same number twice
// ("DataSheet2" for two entries) and have the second rename refused.
std::string NextSheetName(const SheetNameIndex& index, uint64_t& lastNumber);

} // namespace gq::automation
