// ISO 8601 calendar dates and times as spreadsheet serial numbers, for the readers of formats that
// store dates as text (CSV, OpenDocument, xlsx cells of type d).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <string_view>

namespace gq::engine {

// The 1900-system serial number of "YYYY-MM-DD", optionally followed by "T" or a space and
// "HH:MM", "HH:MM:SS" or "HH:MM:SS.fff" (no time zone). The whole text must be the date: anything
// more, a day the month does not have, or a date before 1900-01-01 gives nullopt. `hasTime` says
// whether a time was given.
std::optional<double> IsoDateSerial(std::string_view text, bool& hasTime);

// The serial of an xlsx date cell's text (t="d"): a date, a date-time or a time of day alone
// ("2021-01-01", "2021-01-01T10:10:10.5Z", "10:10:10"), in the 1900 or 1904 date system. Looser than
// IsoDateSerial, as xlsx readers are: any day 1-31 in any month, 24:00 and a 60th second, and
// whatever follows the seconds (a zone) ignored; nullopt for other text or a date before the
// date system's first day.
std::optional<double> XlsxDateSerial(std::string_view text, bool date1904);

// The serial of OpenDocument's office:date-value, counted from 1899-12-30 as the office suites that
// write it count (without the 1900 system's 1900-02-29); a time zone suffix ("Z", "+01:00") is
// ignored as they do, and dates before 1899-12-30 give negative serials.
std::optional<double> OdfDateSerial(std::string_view text);

// The fraction of a day of an xsd:duration as office:time-value gives it ("PT10H30M15.5S",
// "-PT1H", "P1DT2H"); nullopt for text of another form.
std::optional<double> OdfDurationDays(std::string_view text);

// Days from 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivilDate(long long year, unsigned month, unsigned day);

} // namespace gq::engine
