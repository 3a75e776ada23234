// Sheet-name rules of the embedded server: the checks a new name must pass (the engine's rule, and
// no other sheet of the workbook may have it without regard to case) and the name an added sheet
// gets.
#pragma once

#include "engine/text/SheetNames.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gq::automation {

using engine::FoldCase;
using engine::SameSheetName;

// Why `name` cannot name the sheet at `self` among `existing` (indexes from 0), or nullopt when it
// can: engine::SheetNameProblem's reasons, capitalised, and clashes. The sheet's own current name
// does not count as a clash, so changing only its case works.
std::optional<std::string> SheetNameProblem(std::string_view name, const std::vector<std::string>& existing,
                                            size_t self);

// The name for an added sheet: "Sheet<N>" with the next number not yet used in the workbook, as
// office suites do: N counts up from the highest "Sheet<N>" in use and from the last number handed
// out (`lastNumber`, updated), so a number is not handed out again after its sheet was renamed.
// Reusing freed numbers would let a merge join a clashing name with the same number twice
// ("DataSheet2" for two entries) and have the second rename refused.
std::string NextSheetName(const std::vector<std::string>& existing, uint64_t& lastNumber);

} // namespace gq::automation
