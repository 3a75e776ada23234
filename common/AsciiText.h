// ASCII-only case folding, hex digits and trimming, as the program compares sheet names, extensions,
// function names and XML names: other bytes, UTF-8 sequences included, are never changed.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace gq {

// The ASCII letter `c` in capitals or in small letters; every other byte as it is.
constexpr char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Changes only the ASCII letters a-z into A-Z; every other byte, UTF-8 sequences included, stays.
inline std::string UpperCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        c = AsciiUpper(c);
    }
    return out;
}

// Changes only the ASCII letters A-Z into a-z.
inline std::string LowerCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        c = AsciiLower(c);
    }
    return out;
}

// Whether `a` and `b` are the same text but for the case of ASCII letters.
constexpr bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiUpper(a[i]) != AsciiUpper(b[i])) {
            return false;
        }
    }
    return true;
}

// The value of the hex digit `c` (either case), -1 when it is not one.
constexpr int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The backslash escape of the four characters the program's text listings escape (the sheet
// list's fields, gq-dump's quoted texts): "\\\\", "\\t", "\\n" and "\\r"; nullptr for any other byte.
constexpr const char* BackslashEscape(char c)
{
    switch (c) {
    case '\\':
        return "\\\\";
    case '\t':
        return "\\t";
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    default:
        return nullptr;
    }
}

// The hex digits in capitals, indexed by value, as the writers spell colours and escapes.
inline constexpr char kHexDigits[] = "0123456789ABCDEF";

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
