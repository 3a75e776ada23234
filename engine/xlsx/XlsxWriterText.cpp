// Escaping and checking text for the xlsx writer.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxWriterText.h"

#include "common/AsciiText.h"
#include "engine/Limits.h"
#include "engine/text/Utf8.h"

#include <cstring>

namespace gq::engine::xlsxout {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// The length of the UTF-8 sequence at s[0] (a byte >= 0x80) with its code point, or 0 when the
// bytes are not well-formed UTF-8.
size_t DecodeMultibyte(const unsigned char* s, size_t n, uint32_t& cp)
{
    size_t pos = 0;
    char32_t c = DecodeUtf8(s, n, pos);
    if (c == kNotUtf8) {
        return 0;
    }
    cp = c;
    return pos;
}

bool IsHex(unsigned char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// True when the character at i is written as an escape, which begins with '_': control
// characters other than tab, line feed and carriage return, U+FFFE and U+FFFF.
bool WrittenAsEscape(const unsigned char* s, size_t n, size_t i)
{
    unsigned char c = s[i];
    if (c < 0x20) {
        return c != '\t' && c != '\n' && c != '\r';
    }
    return c == 0xEF && i + 2 < n && s[i + 1] == 0xBF && (s[i + 2] == 0xBE || s[i + 2] == 0xBF);
}

// "_xHHHH_" at position i, as readers will see it: what they decode as an escaped character. The
// closing '_' may also be the start of the escape the next character is written as ("_x0041"
// followed by a control character).
bool LooksEscaped(const unsigned char* s, size_t n, size_t i)
{
    return i + 6 < n && s[i + 1] == 'x' && IsHex(s[i + 2]) && IsHex(s[i + 3]) && IsHex(s[i + 4]) && IsHex(s[i + 5]) &&
           (s[i + 6] == '_' || WrittenAsEscape(s, n, i + 6));
}

char* PutHexEscape(char* p, uint32_t cp)
{
    *p++ = '_';
    *p++ = 'x';
    *p++ = kHexDigits[(cp >> 12) & 0xF];
    *p++ = kHexDigits[(cp >> 8) & 0xF];
    *p++ = kHexDigits[(cp >> 4) & 0xF];
    *p++ = kHexDigits[cp & 0xF];
    *p++ = '_';
    return p;
}

} // namespace

char* EscapeText(char* p, std::string_view text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        if (c >= 0x20 && c < 0x80) {
            switch (c) {
            case '&':
                std::memcpy(p, "&amp;", 5);
                p += 5;
                break;
            case '<':
                std::memcpy(p, "&lt;", 4);
                p += 4;
                break;
            case '>':
                std::memcpy(p, "&gt;", 4);
                p += 4;
                break;
            case '_':
                if (LooksEscaped(s, n, i)) {
                    p = PutHexEscape(p, '_');
                } else {
                    *p++ = '_';
                }
                break;
            default:
                *p++ = static_cast<char>(c);
                break;
            }
            ++i;
            continue;
        }
        if (c < 0x20) {
            if (c == '\t' || c == '\n') {
                *p++ = static_cast<char>(c);
            } else if (c == '\r') {
                // A literal CR would reach readers as a line feed (XML line-end normalisation); the
                // character reference survives it, and every XML reader gives it back as CR, while
                // the _x000D_ escape is left undecoded by readers that do not know it.
                std::memcpy(p, "&#13;", 5);
                p += 5;
            } else {
                p = PutHexEscape(p, c);
            }
            ++i;
            continue;
        }
        uint32_t cp = 0;
        size_t len = DecodeMultibyte(s + i, n - i, cp);
        if (len == 0) {
            std::memcpy(p, kReplacement.data(), kReplacement.size());
            p += kReplacement.size();
            ++i;
            continue;
        }
        if (cp == 0xFFFE || cp == 0xFFFF) {
            p = PutHexEscape(p, cp);
        } else {
            std::memcpy(p, s + i, len);
            p += len;
        }
        i += len;
    }
    return p;
}

bool NeedsPreserve(std::string_view text)
{
    if (text.empty()) {
        return false;
    }
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
    if (space(text.front()) || space(text.back())) {
        return true;
    }
    return text.find_first_of("\t\n\r") != std::string_view::npos || text.find("  ") != std::string_view::npos;
}

void AppendAttribute(std::string& out, std::string_view text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        if (c < 0x80) {
            switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                if (c < 0x20) {
                    out += kReplacement;
                } else {
                    out += static_cast<char>(c);
                }
                break;
            }
            ++i;
            continue;
        }
        uint32_t cp = 0;
        size_t len = DecodeMultibyte(s + i, n - i, cp);
        if (len == 0 || cp == 0xFFFE || cp == 0xFFFF) {
            out += kReplacement;
            i += len == 0 ? 1 : len;
            continue;
        }
        out.append(text.substr(i, len));
        i += len;
    }
}

} // namespace gq::engine::xlsxout
