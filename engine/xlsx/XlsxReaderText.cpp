// The _xHHHH_ escapes and ISO 8601 dates of xlsx text.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxReaderText.h"

#include "engine/text/Utf8.h"

#include <cstdint>

namespace gq::engine {

namespace {

using xlsxtext::Trim;

int Hex(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Reads "_xHHHH_" at text[i]; -1 when there is none.
int EscapeAt(const std::string& text, size_t i)
{
    if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_') {
        return -1;
    }
    int value = 0;
    for (size_t k = i + 2; k < i + 6; ++k) {
        int h = Hex(text[k]);
        if (h < 0) {
            return -1;
        }
        value = value * 16 + h;
    }
    return value;
}

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool Digits(std::string_view s, size_t pos, size_t n, int& out)
{
    if (pos + n > s.size()) {
        return false;
    }
    out = 0;
    for (size_t i = pos; i < pos + n; ++i) {
        if (s[i] < '0' || s[i] > '9') {
            return false;
        }
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

// "HH:MM[:SS[.fff]]" at the start of s, as a fraction of a day; the rest (a zone) is ignored.
bool ParseTime(std::string_view s, double& fraction)
{
    int h = 0;
    int m = 0;
    int sec = 0;
    if (!Digits(s, 0, 2, h) || s.size() < 5 || s[2] != ':' || !Digits(s, 3, 2, m)) {
        return false;
    }
    double frac = 0;
    if (s.size() >= 8 && s[5] == ':') {
        if (!Digits(s, 6, 2, sec)) {
            return false;
        }
        if (s.size() > 8 && s[8] == '.') {
            double scale = 0.1;
            for (size_t i = 9; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
                frac += (s[i] - '0') * scale;
                scale /= 10;
            }
        }
    }
    if (h > 24 || m > 59 || sec > 60) {
        return false;
    }
    fraction = (h * 3600.0 + m * 60.0 + sec + frac) / 86400.0;
    return true;
}

} // namespace

void DecodeXstring(std::string& text)
{
    if (text.find("_x") == std::string::npos) {
        return;
    }
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        int unit = EscapeAt(text, i);
        if (unit < 0) {
            out.push_back(text[i++]);
            continue;
        }
        i += 7;
        auto cp = static_cast<uint32_t>(unit);
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            int low = EscapeAt(text, i);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
                i += 7;
            } else {
                cp = 0xFFFD;
            }
        } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        AppendUtf8(out, cp);
    }
    text = std::move(out);
}

std::optional<double> IsoToSerial(std::string_view text, bool date1904)
{
    text = Trim(text);
    double fraction = 0;
    if (text.size() >= 3 && text[2] == ':') {
        if (!ParseTime(text, fraction)) {
            return std::nullopt;
        }
        return fraction;
    }
    int y = 0;
    int mo = 0;
    int d = 0;
    if (!Digits(text, 0, 4, y) || text.size() < 10 || text[4] != '-' || !Digits(text, 5, 2, mo) || text[7] != '-' ||
        !Digits(text, 8, 2, d) || mo < 1 || mo > 12 || d < 1 || d > 31) {
        return std::nullopt;
    }
    if (text.size() > 10) {
        if ((text[10] != 'T' && text[10] != ' ') || !ParseTime(text.substr(11), fraction)) {
            return std::nullopt;
        }
    }
    int64_t days = DaysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    double serial = 0;
    if (date1904) {
        serial = static_cast<double>(days - DaysFromCivil(1904, 1, 1));
    } else {
        // Serial 60 is the 1900-02-29 that never was: days before March 1900 count one fewer.
        serial = static_cast<double>(days - DaysFromCivil(1899, 12, 30));
        if (days < DaysFromCivil(1900, 3, 1)) {
            serial -= 1;
        }
    }
    if (serial < 0) {
        return std::nullopt;
    }
    return serial + fraction;
}

} // namespace gq::engine
