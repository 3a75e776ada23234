// The server's sheet-name rules: the engine's name rule plus uniqueness within a workbook, and the
// names of added sheets.
// SPDX-License-Identifier: Apache-2.0
#include "automation/SheetNames.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

namespace gq::automation {

using engine::FoldCase;

namespace {

// N of a folded name "sheet<digits>" without leading zeros (the form NextSheetName hands out), or 0.
uint64_t SheetNumberOf(const std::string& folded)
{
    if (folded.size() > 5 && folded.size() <= 5 + 18 && folded.compare(0, 5, "sheet") == 0 && folded[5] != '0' &&
        folded.find_first_not_of("0123456789", 5) == std::string::npos) {
        return std::stoull(folded.substr(5));
    }
    return 0;
}

} // namespace

void SheetNameIndex::Add(const std::string& name, uint64_t id)
{
    std::string folded = FoldCase(name);
    if (uint64_t n = SheetNumberOf(folded)) {
        m_numbers.insert(n);
    }
    m_byFolded.emplace(std::move(folded), Entry{id, name});
}

void SheetNameIndex::Remove(const std::string& name, uint64_t id)
{
    std::string folded = FoldCase(name);
    if (uint64_t n = SheetNumberOf(folded)) {
        auto it = m_numbers.find(n);
        if (it != m_numbers.end()) {
            m_numbers.erase(it);
        }
    }
    auto it = m_byFolded.find(folded);
    if (it != m_byFolded.end() && it->second.id == id) {
        m_byFolded.erase(it);
    }
}

const SheetNameIndex::Entry* SheetNameIndex::Find(std::string_view name) const
{
    auto it = m_byFolded.find(FoldCase(name));
    return it == m_byFolded.end() ? nullptr : &it->second;
}

std::optional<std::string> SheetNameProblem(std::string_view name, const SheetNameIndex& index, uint64_t self)
{
    if (auto problem = engine::SheetNameProblem(name)) {
        (*problem)[0] = static_cast<char>(std::toupper(static_cast<unsigned char>((*problem)[0])));
        return problem;
    }
    const SheetNameIndex::Entry* other = index.Find(name);
    if (other != nullptr && other->id != self) {
        return "The sheet name \"" + std::string(name) + "\" is already taken by the sheet \"" + other->name +
               "\" of this workbook";
    }
    return std::nullopt;
}

std::string NextSheetName(const SheetNameIndex& index, uint64_t& lastNumber)
{
    // The first candidate is free unless a name equal to it but in another form ("Sheet07") exists.
    for (uint64_t n = std::max(lastNumber, index.HighestSheetNumber()) + 1;; ++n) {
        std::string candidate = "Sheet" + std::to_string(n);
        if (index.Find(candidate) == nullptr) {
            lastNumber = n;
            return candidate;
        }
    }
}

} // namespace gq::automation
