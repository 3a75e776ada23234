// ISO 8601 dates and xsd:duration times as spreadsheet serial numbers.
// SPDX-License-Identifier: Apache-2.0
#include "engine/text/IsoDate.h"

#include <cstdint>

namespace gq::engine {

long long DaysFromCivilDate(long long year, unsigned month, unsigned day)
{
    // H. Hinnant's days_from_civil.
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const auto yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

namespace {

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

unsigned DaysInMonth(int year, int month)
{
    static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The most an hour and a second field may say: a valid clock time, or also xlsx's end of day
// (24:00) and leap second (:60), which the xlsx reader has always taken.
struct ClockLimits {
    int hour = 23;
    int second = 59;
};
constexpr ClockLimits kXlsxClock{24, 60};

// "HH:MM[:SS[.fff]]" as a fraction of a day; `used` is how much of `s` it took.
bool ParseClock(std::string_view s, double& fraction, size_t& used, ClockLimits most = {})
{
    int h = 0;
    int m = 0;
    int sec = 0;
    if (!Digits(s, 0, 2, h) || s.size() < 5 || s[2] != ':' || !Digits(s, 3, 2, m)) {
        return false;
    }
    used = 5;
    double frac = 0;
    if (s.size() >= 8 && s[5] == ':') {
        if (!Digits(s, 6, 2, sec)) {
            return false;
        }
        used = 8;
        if (s.size() > 9 && s[8] == '.' && s[9] >= '0' && s[9] <= '9') {
            double scale = 0.1;
            for (used = 9; used < s.size() && s[used] >= '0' && s[used] <= '9'; ++used) {
                frac += (s[used] - '0') * scale;
                scale /= 10;
            }
        }
    }
    if (h > most.hour || m > 59 || sec > most.second) {
        return false;
    }
    fraction = (h * 3600.0 + m * 60.0 + sec + frac) / 86400.0;
    return true;
}

// The serial of a valid calendar date in the 1900 system, nullopt before 1900-01-01.
std::optional<double> CalendarSerial(int y, int mo, int d)
{
    if (y < 1900 || mo < 1 || mo > 12 || d < 1 || static_cast<unsigned>(d) > DaysInMonth(y, mo)) {
        return std::nullopt;
    }
    long long days = DaysFromCivilDate(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    // Serial 60 is the 1900-02-29 that never was: days before March 1900 count one fewer.
    auto serial = static_cast<double>(days - DaysFromCivilDate(1899, 12, 30));
    if (days < DaysFromCivilDate(1900, 3, 1)) {
        serial -= 1;
    }
    return serial;
}

// The year, month and day of "YYYY-MM-DD" at the start of a text, not yet checked as a date.
struct DatePart {
    int y = 0;
    int mo = 0;
    int d = 0;
};

std::optional<DatePart> ParseDatePart(std::string_view text)
{
    DatePart date;
    if (text.size() >= 10 && Digits(text, 0, 4, date.y) && text[4] == '-' && Digits(text, 5, 2, date.mo) &&
        text[7] == '-' && Digits(text, 8, 2, date.d)) {
        return date;
    }
    return std::nullopt;
}

} // namespace

std::optional<double> IsoDateSerial(std::string_view text, bool& hasTime)
{
    hasTime = false;
    const std::optional<DatePart> date = ParseDatePart(text);
    if (!date) {
        return std::nullopt;
    }
    const auto [y, mo, d] = *date;
    double fraction = 0;
    if (text.size() > 10) {
        size_t used = 0;
        if ((text[10] != 'T' && text[10] != ' ') || !ParseClock(text.substr(11), fraction, used) ||
            11 + used != text.size()) {
            return std::nullopt;
        }
        hasTime = true;
    }
    auto serial = CalendarSerial(y, mo, d);
    if (!serial) {
        return std::nullopt;
    }
    return *serial + fraction;
}

std::optional<double> OdfDateSerial(std::string_view text)
{
    const std::optional<DatePart> date = ParseDatePart(text);
    if (!date) {
        return std::nullopt;
    }
    const auto [y, mo, d] = *date;
    double fraction = 0;
    if (text.size() > 10 && text[10] == 'T') {
        size_t used = 0;
        if (!ParseClock(text.substr(11), fraction, used)) {
            return std::nullopt;
        }
    }
    // Office suites that write OpenDocument count days from 1899-12-30 throughout: they have no
    // 1900-02-29, so their dates before March 1900 are the serials of the day after in the 1900
    // system, 1899-12-30 and 1899-12-31 are serials 0 and 1 (a time of day, a duration), and
    // earlier dates are the negative serials that negative times are.
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || static_cast<unsigned>(d) > DaysInMonth(y, mo)) {
        return std::nullopt;
    }
    long long days =
        DaysFromCivilDate(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) - DaysFromCivilDate(1899, 12, 30);
    return static_cast<double>(days) + fraction;
}

std::optional<double> XlsxDateSerial(std::string_view text, bool date1904)
{
    double fraction = 0;
    size_t used = 0;
    if (text.size() >= 3 && text[2] == ':') {
        if (!ParseClock(text, fraction, used, kXlsxClock)) {
            return std::nullopt;
        }
        return fraction;
    }
    const std::optional<DatePart> date = ParseDatePart(text);
    if (!date || date->mo < 1 || date->mo > 12 || date->d < 1 || date->d > 31) {
        return std::nullopt;
    }
    const auto [y, mo, d] = *date;
    if (text.size() > 10) {
        if ((text[10] != 'T' && text[10] != ' ') || !ParseClock(text.substr(11), fraction, used, kXlsxClock)) {
            return std::nullopt;
        }
    }
    long long days = DaysFromCivilDate(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    double serial = 0;
    if (date1904) {
        serial = static_cast<double>(days - DaysFromCivilDate(1904, 1, 1));
    } else {
        // Serial 60 is the 1900-02-29 that never was: days before March 1900 count one fewer.
        serial = static_cast<double>(days - DaysFromCivilDate(1899, 12, 30));
        if (days < DaysFromCivilDate(1900, 3, 1)) {
            serial -= 1;
        }
    }
    if (serial < 0) {
        return std::nullopt;
    }
    return serial + fraction;
}

std::optional<double> OdfDurationDays(std::string_view text)
{
    bool negative = false;
    size_t i = 0;
    if (i < text.size() && text[i] == '-') {
        negative = true;
        ++i;
    }
    if (i >= text.size() || text[i] != 'P') {
        return std::nullopt;
    }
    ++i;
    double seconds = 0;
    bool inTime = false;
    bool any = false;
    while (i < text.size()) {
        if (text[i] == 'T') {
            inTime = true;
            ++i;
            continue;
        }
        double value = 0;
        double scale = 0;
        size_t start = i;
        // At most 15 digits a component: a longer one is not a time of day any sheet shows.
        for (; i < text.size() && i - start < 16 && ((text[i] >= '0' && text[i] <= '9') || text[i] == '.'); ++i) {
            if (text[i] == '.') {
                if (scale != 0) {
                    return std::nullopt;
                }
                scale = 0.1;
            } else if (scale != 0) {
                value += (text[i] - '0') * scale;
                scale /= 10;
            } else {
                value = value * 10 + (text[i] - '0');
            }
        }
        if (i == start || i >= text.size()) {
            return std::nullopt;
        }
        char unit = text[i++];
        if (unit == 'D' && !inTime) {
            seconds += value * 86400;
        } else if (unit == 'H' && inTime) {
            seconds += value * 3600;
        } else if (unit == 'M' && inTime) {
            seconds += value * 60;
        } else if (unit == 'S' && inTime) {
            seconds += value;
        } else {
            return std::nullopt; // years and months have no fixed length
        }
        any = true;
    }
    if (!any) {
        return std::nullopt;
    }
    double days = seconds / 86400;
    return negative ? -days : days;
}

} // namespace gq::engine
