// Number format codes read into sections of pieces, to be written as OpenDocument data styles.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gq::engine::odsout {

enum class Piece : uint8_t {
    Literal,
    Number,
    Scientific,
    Fraction,
    Currency,
    Year,
    Month,
    Day,
    DayOfWeek,
    Hours,
    Minutes,
    Seconds,
    AmPm,
    TextContent
};

struct Token {
    Piece piece = Piece::Literal;
    std::string text; // literal text or currency symbol
    int count = 0;    // letters of a date or time part (yyyy: 4)
    int decimals = -1;
    int minInt = 1;
    int expDigits = 2;
    int numerator = 1;
    int denominator = 1;
    bool grouping = false;
};

struct Section {
    std::vector<Token> tokens;
    std::string color;
    bool percent = false;
    bool elapsed = false;
};

// The sections of a format code, split at the semicolons outside quotes, brackets and escapes.
std::vector<std::string> SplitSections(std::string_view code);
Section ParseSection(std::string_view code);
// The data style element a section is written as: number:date-style, number:time-style and so on.
std::string_view ElementOf(const Section& s);
// One section as a data style element named `name`, with `maps` (style:map elements) at its end.
void AppendSection(std::string& out, const Section& s, const std::string& name, const std::string& maps);

} // namespace gq::engine::odsout
