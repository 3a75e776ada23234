// UTF-8 decoding and encoding of one code point, and UTF-16 decoding, with the validity rules
// written once for every reader, writer and name rule of the engine.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace gq::engine {

// What DecodeUtf8 gives for bytes that are not well-formed UTF-8.
inline constexpr char32_t kNotUtf8 = 0xFFFFFFFF;

// Decodes the sequence at s[pos] (pos < n) and moves pos past it. Bytes that do not form a
// well-formed, shortest-form sequence of a Unicode scalar value (overlong forms, surrogates, values
// past U+10FFFF, cut sequences) give kNotUtf8 and move pos by one byte, so that callers can keep
// or replace that byte and go on.
inline char32_t DecodeUtf8(const unsigned char* s, size_t n, size_t& pos)
{
    const unsigned char c = s[pos];
    if (c < 0x80) {
        ++pos;
        return c;
    }
    auto cont = [&](size_t i) { return pos + i < n && (s[pos + i] & 0xC0) == 0x80; };
    char32_t cp = kNotUtf8;
    size_t len = 1;
    if (c >= 0xC2 && c <= 0xDF) {
        if (cont(1)) {
            cp = ((c & 0x1Fu) << 6) | (s[pos + 1] & 0x3Fu);
            len = 2;
        }
    } else if (c >= 0xE0 && c <= 0xEF) {
        if (cont(1) && cont(2) && !(c == 0xE0 && s[pos + 1] < 0xA0) && !(c == 0xED && s[pos + 1] >= 0xA0)) {
            cp = ((c & 0x0Fu) << 12) | ((s[pos + 1] & 0x3Fu) << 6) | (s[pos + 2] & 0x3Fu);
            len = 3;
        }
    } else if (c >= 0xF0 && c <= 0xF4) {
        if (cont(1) && cont(2) && cont(3) && !(c == 0xF0 && s[pos + 1] < 0x90) && !(c == 0xF4 && s[pos + 1] >= 0x90)) {
            cp =
                ((c & 0x07u) << 18) | ((s[pos + 1] & 0x3Fu) << 12) | ((s[pos + 2] & 0x3Fu) << 6) | (s[pos + 3] & 0x3Fu);
            len = 4;
        }
    }
    pos += len;
    return cp;
}

inline char32_t DecodeUtf8(std::string_view text, size_t& pos)
{
    return DecodeUtf8(reinterpret_cast<const unsigned char*>(text.data()), text.size(), pos);
}

// Appends `cp` (at most U+10FFFF; callers check) to `out` as UTF-8.
inline void AppendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// The code point UTF-16 unit `unit` starts, `next` being the unit after it (0 where there is
// none): a high surrogate followed by a low one gives their pair and sets `paired`; any other
// surrogate gives U+FFFD, as readers show a broken character.
inline uint32_t Utf16CodePoint(uint32_t unit, uint32_t next, bool& paired)
{
    paired = false;
    if (unit < 0xD800 || unit > 0xDFFF) {
        return unit;
    }
    if (unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
        paired = true;
        return 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
    }
    return 0xFFFD;
}

// Appends `count` UTF-16 code units, `unitAt(i)` giving the i-th, to `out` as UTF-8 (surrogates as
// Utf16CodePoint takes them). The unit after a high surrogate is read only then.
template <class UnitAt>
void AppendUtf16Units(size_t count, const UnitAt& unitAt, std::string& out)
{
    for (size_t i = 0; i < count; ++i) {
        const uint32_t unit = unitAt(i);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        bool paired = false;
        AppendUtf8(out, Utf16CodePoint(unit, high && i + 1 < count ? uint32_t{unitAt(i + 1)} : 0, paired));
        i += paired ? 1 : 0;
    }
}

// The number of UTF-16 code units the text takes (a byte that is not valid UTF-8 counts as one,
// as it is written as U+FFFD), which is how both file formats measure names and texts.
inline size_t Utf16Length(std::string_view text)
{
    size_t units = 0;
    for (size_t pos = 0; pos < text.size();) {
        char32_t cp = DecodeUtf8(text, pos);
        units += cp != kNotUtf8 && cp >= 0x10000 ? 2 : 1;
    }
    return units;
}

} // namespace gq::engine
