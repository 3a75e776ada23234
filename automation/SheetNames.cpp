// Sheet-name rules: UTF-8 decoding, simple Unicode case folding and the name checks.
#include "automation/SheetNames.h"

#include "engine/Limits.h"
#include "engine/text/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <unordered_set>

namespace gq::automation {

using engine::AppendUtf8;

namespace {

// Decodes one UTF-8 sequence at `pos`; gives nullopt (and advances one byte) for bytes that do not
// form a valid, shortest-form sequence.
std::optional<char32_t> DecodeOne(std::string_view text, size_t& pos)
{
    auto b0 = static_cast<uint8_t>(text[pos]);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    size_t len = 0;
    char32_t cp = 0;
    char32_t minimum = 0;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2;
        cp = b0 & 0x1F;
        minimum = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3;
        cp = b0 & 0x0F;
        minimum = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4;
        cp = b0 & 0x07;
        minimum = 0x10000;
    } else {
        ++pos;
        return std::nullopt;
    }
    if (len > text.size() - pos) {
        ++pos;
        return std::nullopt;
    }
    for (size_t i = 1; i < len; ++i) {
        auto b = static_cast<uint8_t>(text[pos + i]);
        if ((b & 0xC0) != 0x80) {
            ++pos;
            return std::nullopt;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++pos;
        return std::nullopt;
    }
    pos += len;
    return cp;
}

// Simple one-to-one lower-case mapping for the scripts sheet names are written in here.
char32_t ToLower(char32_t c)
{
    if (c >= 'A' && c <= 'Z') {
        return c + 0x20;
    }
    if (c < 0xC0) {
        return c;
    }
    // Latin-1 capitals, except the multiplication sign.
    if (c <= 0xDE) {
        return c == 0xD7 ? c : c + 0x20;
    }
    if (c == 0x178) { // Y with diaeresis: its small letter lives in Latin-1
        return 0xFF;
    }
    // Latin Extended-A: capital/small pairs, even/odd except in the two odd/even stretches.
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x130) { // capital I with dot above
            return 'i';
        }
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
            return (c % 2 == 1) ? c + 1 : c;
        }
        if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) {
            return c;
        }
        return (c % 2 == 0) ? c + 1 : c;
    }
    // Greek capitals (U+03A2 is unassigned) and the accented ones.
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) {
        return c + 0x20;
    }
    if (c == 0x386) {
        return 0x3AC;
    }
    if (c >= 0x388 && c <= 0x38A) {
        return c + 0x25;
    }
    if (c == 0x38C) {
        return 0x3CC;
    }
    if (c == 0x38E || c == 0x38F) {
        return c + 0x3F;
    }
    // Cyrillic.
    if (c >= 0x400 && c <= 0x40F) {
        return c + 0x50;
    }
    if (c >= 0x410 && c <= 0x42F) {
        return c + 0x20;
    }
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || (c >= 0x4D0 && c <= 0x52F)) {
        return (c % 2 == 0) ? c + 1 : c;
    }
    // Latin Extended Additional (Vietnamese and others), pairs even/odd.
    if ((c >= 0x1E00 && c <= 0x1E95) || (c >= 0x1EA0 && c <= 0x1EFF)) {
        return (c % 2 == 0) ? c + 1 : c;
    }
    // Full-width Latin capitals.
    if (c >= 0xFF21 && c <= 0xFF3A) {
        return c + 0x20;
    }
    return c;
}

} // namespace

size_t Utf8Length(std::string_view text)
{
    size_t count = 0;
    for (size_t pos = 0; pos < text.size();) {
        DecodeOne(text, pos);
        ++count;
    }
    return count;
}

std::string FoldCase(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        size_t start = pos;
        auto cp = DecodeOne(text, pos);
        if (cp) {
            AppendUtf8(out, ToLower(*cp));
        } else {
            out.push_back(text[start]);
        }
    }
    return out;
}

bool SameSheetName(std::string_view a, std::string_view b)
{
    return FoldCase(a) == FoldCase(b);
}

std::optional<std::string> SheetNameProblem(std::string_view name, const std::vector<std::string>& existing,
                                            size_t self)
{
    std::string quoted = "\"" + std::string(name) + "\"";
    if (name.empty()) {
        return std::string("A sheet name cannot be empty");
    }
    size_t length = Utf8Length(name);
    if (length > engine::limits::kMaxSheetNameChars) {
        return "The sheet name " + quoted + " is too long: it has " + std::to_string(length) +
               " characters, and a sheet name can have at most " +
               std::to_string(engine::limits::kMaxSheetNameChars);
    }
    for (char c : name) {
        if (c == '[' || c == ']' || c == ':' || c == '*' || c == '?' || c == '/' || c == '\\') {
            return "The sheet name " + quoted + " contains the character '" + std::string(1, c) +
                   "'; a sheet name cannot contain any of [ ] : * ? / \\";
        }
    }
    if (name.front() == '\'' || name.back() == '\'') {
        return "The sheet name " + quoted + " begins or ends with an apostrophe, which a sheet name cannot";
    }
    std::string folded = FoldCase(name);
    for (size_t i = 0; i < existing.size(); ++i) {
        if (i != self && FoldCase(existing[i]) == folded) {
            return "The sheet name " + quoted + " is already taken by the sheet \"" + existing[i] +
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
