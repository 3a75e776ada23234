// ASCII-only upper-casing and trimming, as the program compares sheet names and extensions.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace gq {

// Changes only the ASCII letters a-z into A-Z; every other byte, UTF-8 sequences included, stays.
inline std::string UpperCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

// Removes every leading and trailing byte whose code is 32 or less (blanks and control characters).
inline std::string Trim(std::string_view text)
{
    auto low = [](char c) { return static_cast<unsigned char>(c) <= 32; };
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && low(text[begin])) {
        ++begin;
    }
    while (end > begin && low(text[end - 1])) {
        --end;
    }
    return std::string(text.substr(begin, end - begin));
}

} // namespace gq
