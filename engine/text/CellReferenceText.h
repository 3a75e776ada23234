// The column letters and row digits of A1 references, read and written in one place for every
// reader, writer and formula; each caller keeps its own limits and says what it makes of text
// past them.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace gq::engine {

// Writes the letters of zero-based column `col` at `p` (A, Z, AA, XFD; at most 7 bytes for any
// uint32_t) and gives the end. The grid's columns take the short branches: the xlsx writer calls
// this for every cell.
inline char* PutColumnLetters(char* p, uint32_t col)
{
    if (col < 26) {
        *p++ = static_cast<char>('A' + col);
    } else if (col < 702) {
        col -= 26;
        *p++ = static_cast<char>('A' + col / 26);
        *p++ = static_cast<char>('A' + col % 26);
    } else if (col < 18278) {
        col -= 702;
        *p++ = static_cast<char>('A' + col / 676);
        *p++ = static_cast<char>('A' + (col / 26) % 26);
        *p++ = static_cast<char>('A' + col % 26);
    } else {
        char letters[8];
        size_t n = 0;
        for (uint64_t c = uint64_t{col} + 1; c > 0; c = (c - 1) / 26) {
            letters[n++] = static_cast<char>('A' + (c - 1) % 26);
        }
        while (n > 0) {
            *p++ = letters[--n];
        }
    }
    return p;
}

// Reads at most `most` ASCII letters from text[i] as a column number (A is 1, AA is 27) into
// `col`, moving `i` past them; gives how many it read. A caller that allows n letters asks for
// n + 1 and refuses the reference when it gets them.
inline size_t ReadColumnLetters(std::string_view text, size_t& i, size_t most, uint64_t& col)
{
    col = 0;
    size_t letters = 0;
    for (; letters < most && i < text.size(); ++i, ++letters) {
        const char c = text[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
            break;
        }
        col = col * 26 + static_cast<uint64_t>((c | 0x20) - 'a' + 1);
    }
    return letters;
}

// Reads at most `most` ASCII digits from text[i] as a row number (1-based, as written) into
// `row`, moving `i` past them; gives how many it read.
inline size_t ReadRowDigits(std::string_view text, size_t& i, size_t most, uint64_t& row)
{
    row = 0;
    size_t digits = 0;
    for (; digits < most && i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        row = row * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    return digits;
}

} // namespace gq::engine
