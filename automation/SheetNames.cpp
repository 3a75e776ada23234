// The server's sheet-name rules: the engine's name rule plus uniqueness within a workbook, and the
// names of added sheets.
#include "automation/SheetNames.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <unordered_set>

namespace gq::automation {

using engine::FoldCase;

std::optional<std::string> SheetNameProblem(std::string_view name, const std::vector<std::string>& existing,
                                            size_t self)
{
    if (auto problem = engine::SheetNameProblem(name)) {
        (*problem)[0] = static_cast<char>(std::toupper(static_cast<unsigned char>((*problem)[0])));
        return problem;
    }
    std::string folded = FoldCase(name);
    for (size_t i = 0; i < existing.size(); ++i) {
        if (i != self && FoldCase(existing[i]) == folded) {
            return "The sheet name \"" + std::string(name) + "\" is already taken by the sheet \"" + existing[i] +
                   "\" of this workbook";
        }
    }
    return std::nullopt;
}

std::string NextSheetName(const std::vector<std::string>& existing, uint64_t& lastNumber)
{
    std::unordered_set<std::string> taken;
    uint64_t highest = lastNumber;
    for (const auto& name : existing) {
        std::string folded = FoldCase(name);
        taken.insert(folded);
        // "sheet<digits>" without leading zeros, the form this function hands out.
        if (folded.size() > 5 && folded.size() <= 5 + 18 && folded.compare(0, 5, "sheet") == 0 && folded[5] != '0' &&
            folded.find_first_not_of("0123456789", 5) == std::string::npos) {
            highest = std::max<uint64_t>(highest, std::stoull(folded.substr(5)));
        }
    }
    // `highest` is at least every number in use, so the first candidate is free unless a name
    // equal to it but in another form exists; the loop ends within existing.size() + 1 rounds.
    for (uint64_t n = highest + 1;; ++n) {
        std::string candidate = "Sheet" + std::to_string(n);
        if (taken.count(FoldCase(candidate)) == 0) {
            lastNumber = n;
            return candidate;
        }
    }
}

} // namespace gq::automation
