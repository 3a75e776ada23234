// Which sheet names a reference must quote: names a reader could take for something else.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/Formula.h"
#include "engine/formula/FormulaChars.h"

namespace gq::engine::formula {

namespace {

using detail::EqualsNoCase;
using detail::IsAsciiLetter;
using detail::IsDigit;
using detail::IsIdentStart;

// Whether a sheet name must be quoted in a reference (SheetNameNeedsQuotes); `columnNames`: also a
// name of one to three letters, which a reader could take for a column at either end of a 3-D
// range ("A:B!B2" beside the columns A:B, "Jan:Mar!A1" beside JAN:MAR). The parser takes such
// names unquoted, as other programs write them: before '!' they can be nothing else.
bool NeedsQuotes(std::string_view name, bool columnNames)
{
    if (name.empty() || !IsIdentStart(name[0]) || name[0] == '\\') {
        return true;
    }
    for (char c : name) {
        if (!IsAsciiLetter(c) && !IsDigit(c) && c != '_' && c != '.' && static_cast<unsigned char>(c) < 0x80) {
            return true;
        }
    }
    // Names a reader could take for an A1 cell (AB12), an R1C1 reference (R, C, R2C3, R[1]) or a
    // boolean.
    size_t i = 0;
    while (i < name.size() && IsAsciiLetter(name[i])) {
        ++i;
    }
    size_t letters = i;
    while (i < name.size() && IsDigit(name[i])) {
        ++i;
    }
    if (i == name.size() && letters <= 3 && (letters < name.size() || columnNames)) {
        return true;
    }
    if (EqualsNoCase(name, "TRUE") || EqualsNoCase(name, "FALSE")) {
        return true;
    }
    char first = static_cast<char>(name[0] & ~0x20);
    if (first == 'R' || first == 'C') {
        size_t j = 1;
        while (j < name.size() && IsDigit(name[j])) {
            ++j;
        }
        if (j == name.size()) {
            return true; // R, C, R12, C7
        }
        if (first == 'R' && (name[j] & ~0x20) == 'C') {
            ++j;
            while (j < name.size() && IsDigit(name[j])) {
                ++j;
            }
            return j == name.size(); // R1C1
        }
    }
    return false;
}

} // namespace

bool SheetNameNeedsQuotes(std::string_view name)
{
    return NeedsQuotes(name, false);
}

bool SheetNameInRangeNeedsQuotes(std::string_view name)
{
    return NeedsQuotes(name, true);
}

} // namespace gq::engine::formula
