// The text form of a sheet list that `gridquilt-merge list` prints and `merge --list` reads: one
// entry a line, "sheet name<TAB>workbook path", with tabs, line breaks and backslashes escaped.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "catalogue/SheetEntry.h"

#include <cstddef>
#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace gq::cli {

// A list line that cannot be read; the message names the line.
class ListFormatError : public std::runtime_error {
public:
    ListFormatError(size_t line, const std::string& problem);
    size_t Line() const { return m_line; }

private:
    size_t m_line;
};

// A list with more entries than the reader was told to take.
class ListTooLongError : public std::runtime_error {
public:
    explicit ListTooLongError(size_t maxEntries);
};

// Escapes one field: backslash -> "\\", tab -> "\t", line feed -> "\n", carriage return -> "\r".
// Every other byte stays as it is, so ordinary names and paths read the same in the list.
std::string EscapeField(std::string_view text);

// The inverse of EscapeField. Throws std::invalid_argument for a backslash followed by anything
// but one of the four escapes, or a backslash at the end.
std::string UnescapeField(std::string_view text);

// One list line without its line break.
std::string FormatEntry(const catalogue::SheetEntry& entry);

// Reads one line (without its line break). A carriage return at its end (a list edited on
// another system) is dropped: a real carriage return in a name is always escaped. Returns false
// for an empty line. Throws ListFormatError for a line without exactly one tab or with a bad escape.
bool ParseEntry(std::string_view line, size_t lineNumber, catalogue::SheetEntry& entry);

// Reads a whole list; empty lines are skipped. A line longer than engine::limits::kMaxListLineBytes
// is refused (ListFormatError) before more of it is read, and an entry beyond `maxEntries` ends the
// reading with ListTooLongError, so that what a list costs grows with its entries up to that
// number and never with the bytes of a line.
std::vector<catalogue::SheetEntry> ReadList(std::istream& in, size_t maxEntries = SIZE_MAX);

} // namespace gq::cli
