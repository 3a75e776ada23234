// Escaping and checking text for the xlsx writer.
#include "engine/xlsx/XlsxWriterText.h"

#include "engine/Limits.h"

#include <clocale>
#include <cstring>
#include <cwctype>
#include <locale.h>

namespace gq::engine::xlsxout {

namespace {

constexpr char kHex[] = "0123456789ABCDEF";
constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

// Decodes one UTF-8 sequence starting at s[0] (a byte >= 0x80). Gives its length, or 0 when the
// bytes are not well-formed UTF-8 (overlong forms, surrogates and values past U+10FFFF included).
size_t DecodeMultibyte(const unsigned char* s, size_t n, uint32_t& cp)
{
    unsigned char c = s[0];
    auto cont = [&](size_t i) { return i < n && (s[i] & 0xC0) == 0x80; };
    if (c >= 0xC2 && c <= 0xDF) {
        if (!cont(1)) {
            return 0;
        }
        cp = ((c & 0x1Fu) << 6) | (s[1] & 0x3Fu);
        return 2;
    }
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) {
            return 0;
        }
        if ((c == 0xE0 && s[1] < 0xA0) || (c == 0xED && s[1] >= 0xA0)) {
            return 0;
        }
        cp = ((c & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) {
            return 0;
        }
        if ((c == 0xF0 && s[1] < 0x90) || (c == 0xF4 && s[1] >= 0x90)) {
            return 0;
        }
        cp = ((c & 0x07u) << 18) | ((s[1] & 0x3Fu) << 12) | ((s[2] & 0x3Fu) << 6) | (s[3] & 0x3Fu);
        return 4;
    }
    return 0;
}

bool IsHex(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// True when the character at i is written as an escape, which begins with '_': control
// characters other than tab and line feed, U+FFFE and U+FFFF.
bool WrittenAsEscape(const unsigned char* s, size_t n, size_t i)
{
    unsigned char c = s[i];
    if (c < 0x20) {
        return c != '\t' && c != '\n';
    }
    return c == 0xEF && i + 2 < n && s[i + 1] == 0xBF && (s[i + 2] == 0xBE || s[i + 2] == 0xBF);
}

// "_xHHHH_" at position i, as readers will see it: what they decode as an escaped character. The
// closing '_' may also be the start of the escape the next character is written as ("_x0041"
// followed by a control character).
bool LooksEscaped(const unsigned char* s, size_t n, size_t i)
{
    return i + 6 < n && s[i + 1] == 'x' && IsHex(s[i + 2]) && IsHex(s[i + 3]) && IsHex(s[i + 4]) &&
           IsHex(s[i + 5]) && (s[i + 6] == '_' || WrittenAsEscape(s, n, i + 6));
}

char* PutHexEscape(char* p, uint32_t cp)
{
    *p++ = '_';
    *p++ = 'x';
    *p++ = kHex[(cp >> 12) & 0xF];
    *p++ = kHex[(cp >> 8) & 0xF];
    *p++ = kHex[(cp >> 4) & 0xF];
    *p++ = kHex[cp & 0xF];
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
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\t': out += "&#9;"; break;
            case '\n': out += "&#10;"; break;
            case '\r': out += "&#13;"; break;
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

size_t Utf16Length(std::string_view text)
{
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t n = text.size();
    size_t units = 0;
    size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            ++units;
            ++i;
            continue;
        }
        uint32_t cp = 0;
        size_t len = DecodeMultibyte(s + i, n - i, cp);
        if (len == 0) {
            ++units;
            ++i;
            continue;
        }
        units += cp >= 0x10000 ? 2 : 1;
        i += len;
    }
    return units;
}

std::string SheetNameProblem(std::string_view name)
{
    if (name.empty()) {
        return "a sheet name cannot be empty";
    }
    const auto* s = reinterpret_cast<const unsigned char*>(name.data());
    for (size_t i = 0; i < name.size();) {
        unsigned char c = s[i];
        if (c < 0x80) {
            if (c < 0x20 || c == 0x7F) {
                return "a sheet name cannot contain control characters";
            }
            if (std::strchr("[]:*?/\\", c) != nullptr) {
                return "a sheet name cannot contain any of the characters [ ] : * ? / \\";
            }
            ++i;
            continue;
        }
        uint32_t cp = 0;
        size_t len = DecodeMultibyte(s + i, name.size() - i, cp);
        if (len == 0 || cp == 0xFFFE || cp == 0xFFFF) {
            return "the sheet name is not valid text";
        }
        i += len;
    }
    if (Utf16Length(name) > limits::kMaxSheetNameChars) {
        return "a sheet name can be at most 31 characters long";
    }
    if (name.front() == '\'' || name.back() == '\'') {
        return "a sheet name cannot begin or end with an apostrophe";
    }
    return {};
}

namespace {

void AppendUtf8(std::u32string& out, std::string_view text, bool upper)
{
    // glibc's C.UTF-8 locale carries the Unicode simple case mappings; without it, ASCII only.
    static const locale_t kLocale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = s[i];
        size_t len = 1;
        if (cp >= 0x80) {
            len = DecodeMultibyte(s + i, text.size() - i, cp);
            if (len == 0) {
                cp = 0xFFFD;
                len = 1;
            }
        }
        if (upper) {
            if (kLocale != static_cast<locale_t>(nullptr)) {
                cp = static_cast<uint32_t>(towupper_l(static_cast<wint_t>(cp), kLocale));
            } else if (cp >= 'a' && cp <= 'z') {
                cp -= 'a' - 'A';
            }
        }
        out.push_back(static_cast<char32_t>(cp));
        i += len;
    }
}

} // namespace

std::u32string FoldCase(std::string_view name)
{
    std::u32string out;
    out.reserve(name.size());
    AppendUtf8(out, name, true);
    return out;
}

} // namespace gq::engine::xlsxout
