// The characters of formula text: which start and continue a name, which are spacing.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "common/AsciiText.h"

#include <string_view>

namespace gq::engine::formula::detail {

inline bool IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
inline bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
// Defined names and unquoted sheet names start with a letter, an underscore or a backslash; text
// beyond ASCII counts as letters, as in names written in other scripts.
inline bool IsIdentStart(char c)
{
    return IsAsciiLetter(c) || c == '_' || c == '\\' || static_cast<unsigned char>(c) >= 0x80;
}
inline bool IsIdentChar(char c)
{
    return IsIdentStart(c) || IsDigit(c) || c == '.' || c == '?';
}
inline bool IsSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

using gq::EqualsNoCase;

} // namespace gq::engine::formula::detail
