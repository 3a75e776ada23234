// Text as the xlsx writer puts it into XML: escaping for element content and attributes, the
// _xHHHH_ escapes of ECMA-376 for characters XML 1.0 cannot carry, and sheet-name checks.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gq::engine::xlsxout {

// An input byte becomes at most this many output bytes in EscapeText ("_x0001_" for 0x01).
inline constexpr size_t kMaxEscapedGrowth = 7;

// Writes `text` as XML element content at `out`, which has room for kMaxEscapedGrowth bytes per
// input byte, and returns the end. & < > are escaped; the carriage return, which XML readers would
// turn into a line feed, becomes the character reference &#13;. Only characters XML 1.0 cannot
// carry at all (the other controls but tab and line feed, U+FFFE, U+FFFF) become _xHHHH_ (ST_Xstring,
// ECMA-376 22.9.2.19); a literal "_xHHHH_" gets its underscore escaped as _x005F_ so that readers
// that decode those escapes do not decode it. Bytes that are not UTF-8 become U+FFFD.
char* EscapeText(char* out, std::string_view text);

// True when the text needs xml:space="preserve" to keep its white space: leading or trailing
// white space, tabs, line breaks or runs of spaces.
bool NeedsPreserve(std::string_view text);

// Appends `text` escaped for an attribute value in double quotes. Characters an attribute cannot
// carry at all become U+FFFD; tab, line feed and carriage return are written as character
// references so that attribute normalisation keeps them.
void AppendAttribute(std::string& out, std::string_view text);

} // namespace gq::engine::xlsxout
