// Text as the xlsx writer puts it into XML: escaping for element content and attributes, the
// _xHHHH_ escapes of ECMA-376 for characters XML 1.0 cannot carry, and sheet-name checks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gq::engine::xlsxout {

// An input byte becomes at most this many output bytes in EscapeText ("_x0001_" for 0x01).
inline constexpr size_t kMaxEscapedGrowth = 7;

// Writes `text` as XML element content at `out`, which has room for kMaxEscapedGrowth bytes per
// input byte, and returns the end. & < > are escaped; characters XML 1.0 forbids (most controls,
// U+FFFE, U+FFFF) and the carriage return (which XML readers turn into a line feed) become _xHHHH_
// (ECMA-376 Part 1, 22.9.2.19 ST_Xstring); a literal "_xHHHH_" gets its underscore escaped as
// _x005F_ so that readers do not decode it. Bytes that are not UTF-8 become U+FFFD.
char* EscapeText(char* out, std::string_view text);

// True when the text needs xml:space="preserve" to keep its white space: leading or trailing
// white space, tabs, line breaks or runs of spaces.
bool NeedsPreserve(std::string_view text);

// Appends `text` escaped for an attribute value in double quotes. Characters an attribute cannot
// carry at all become U+FFFD; tab, line feed and carriage return are written as character
// references so that attribute normalisation keeps them.
void AppendAttribute(std::string& out, std::string_view text);

} // namespace gq::engine::xlsxout
