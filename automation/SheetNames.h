// Sheet-name rules of the embedded server: case-insensitive comparison, the checks a new name must
// pass, and the name an added sheet gets.
#pragma once

#include <optional>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gq::automation {

// The number of Unicode characters in UTF-8 text (a byte that is not valid UTF-8 counts as one).
size_t Utf8Length(std::string_view text);

// Folds UTF-8 text for comparison without regard to case: ASCII, Latin-1, Latin Extended-A and
// Additional, Greek, Cyrillic and full-width Latin letters map to their lower-case forms. Bytes that
// are not valid UTF-8 are kept as they are, so such names still compare exactly.
std::string FoldCase(std::string_view text);

bool SameSheetName(std::string_view a, std::string_view b);

// Why `name` cannot name the sheet at `self` among `existing` (indexes from 0), or nullopt when it
// can. The sheet's own current name does not count as a clash, so changing only its case works.
std::optional<std::string> SheetNameProblem(std::string_view name, const std::vector<std::string>& existing,
                                            size_t self);

// The name for an added sheet: "Sheet<N>" with the next number not yet used in the workbook, as
// office suites do: N counts up from the highest "Sheet<N>" in use and from the last number handed
// out (`lastNumber`, updated), so a number is not handed out again after its sheet was renamed.
// Reusing freed numbers would let a merge join a clashing name with the same number twice
// ("DataSheet2" for two entries) and have the second rename refused.
std::string NextSheetName(const std::vector<std::string>& existing, uint64_t& lastNumber);

} // namespace gq::automation
