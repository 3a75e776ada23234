// Sheet-name rule: case folding through the C library's Unicode tables, the validity checks and
// distinct names for clashing sheets.
// SPDX-License-Identifier: Apache-2.0
#include "engine/text/SheetNames.h"

#include "engine/Limits.h"
#include "engine/text/Utf8.h"

#include <clocale>
#include <cstring>
#include <cwctype>
#include <locale.h>

namespace gq::engine {

namespace {

char32_t Fold(char32_t c)
{
    if (c < 0x80) {
        return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
    }
    // glibc's C.UTF-8 locale carries the Unicode simple case mappings, whatever the user's locale.
    static const locale_t kLocale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (kLocale == static_cast<locale_t>(nullptr)) {
        return c;
    }
    auto upper = towupper_l(static_cast<wint_t>(c), kLocale);
    return static_cast<char32_t>(towlower_l(upper, kLocale));
}

// The name as a message quotes it: control characters (which would break the message's lines)
// shown as U+FFFD.
std::string Quoted(std::string_view name)
{
    std::string out = "\"";
    for (char c : name) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            out += "\xEF\xBF\xBD";
        } else {
            out.push_back(c);
        }
    }
    return out + "\"";
}

} // namespace

std::string FoldCase(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        size_t start = pos;
        char32_t cp = DecodeUtf8(text, pos);
        if (cp == kNotUtf8) {
            out.push_back(text[start]);
        } else {
            AppendUtf8(out, Fold(cp));
        }
    }
    return out;
}

bool SameSheetName(std::string_view a, std::string_view b)
{
    return FoldCase(a) == FoldCase(b);
}

std::optional<std::string> SheetNameProblem(std::string_view name)
{
    if (name.empty()) {
        return std::string("a sheet name cannot be empty");
    }
    for (size_t pos = 0; pos < name.size();) {
        char32_t cp = DecodeUtf8(name, pos);
        if (cp == kNotUtf8 || cp == 0xFFFE || cp == 0xFFFF) {
            return "the sheet name " + Quoted(name) + " is not valid text";
        }
        if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
            return "the sheet name " + Quoted(name) + " contains a control character, which a sheet name cannot";
        }
        if (cp < 0x80 && std::strchr("[]:*?/\\", static_cast<int>(cp)) != nullptr) {
            return "the sheet name " + Quoted(name) + " contains the character '" +
                   std::string(1, static_cast<char>(cp)) + "'; a sheet name cannot contain any of [ ] : * ? / \\";
        }
    }
    size_t length = Utf16Length(name);
    if (length > limits::kMaxSheetNameChars) {
        return "the sheet name " + Quoted(name) + " is too long: it has " + std::to_string(length) +
               " characters, and a sheet name can have at most " + std::to_string(limits::kMaxSheetNameChars) +
               " characters";
    }
    if (name.front() == '\'' || name.back() == '\'') {
        return "the sheet name " + Quoted(name) + " begins or ends with an apostrophe, which a sheet name cannot";
    }
    return std::nullopt;
}

std::string DistinctSheetName(std::string_view name, const std::unordered_set<std::string>& takenFolded)
{
    for (size_t n = 2;; ++n) {
        const std::string suffix = " (" + std::to_string(n) + ")";
        std::string base(name);
        // Shorten by whole characters until the number fits.
        while (!base.empty() && Utf16Length(base) + suffix.size() > limits::kMaxSheetNameChars) {
            size_t cut = base.size() - 1;
            while (cut > 0 && (static_cast<unsigned char>(base[cut]) & 0xC0) == 0x80) {
                --cut;
            }
            base.resize(cut);
        }
        std::string candidate = base + suffix;
        if (takenFolded.count(FoldCase(candidate)) == 0) {
            return candidate;
        }
    }
}

} // namespace gq::engine
