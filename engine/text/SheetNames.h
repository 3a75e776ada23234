// The sheet-name rule shared by the server and both writers: what a valid name is, how names
// compare (without regard to case) and how a name that clashes is told apart.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

namespace gq::engine {

// Folds UTF-8 text for comparison without regard to case, with Unicode's simple case mappings
// (upper then lower case, so that forms like final sigma or long s meet their letter). Bytes that
// are not valid UTF-8 are kept as they are, so such names still compare exactly.
std::string FoldCase(std::string_view text);

bool SameSheetName(std::string_view a, std::string_view b);

// Why `name` cannot name a sheet in either file format, in words that quote the name and end
// without a full stop; nullopt for a valid name. Valid: 1 to 31 UTF-16 units of valid UTF-8, no
// control character, none of [ ] : * ? / \, no apostrophe at either end.
std::optional<std::string> SheetNameProblem(std::string_view name);

// A valid name made from `name` whose folded form is not in `takenFolded`: "name (2)", "name (3)",
// ... with `name` shortened where the number would not fit otherwise, as office suites name a
// copied sheet.
std::string DistinctSheetName(std::string_view name, const std::unordered_set<std::string>& takenFolded);

} // namespace gq::engine
