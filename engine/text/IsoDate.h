// ISO 8601 calendar dates and times as spreadsheet serial numbers, for the readers of formats that
// store dates as text (CSV, OpenDocument).
#pragma once

#include <optional>
#include <string_view>

namespace gq::engine {

// The 1900-system serial number of "YYYY-MM-DD", optionally followed by "T" or a space and
// "HH:MM", "HH:MM:SS" or "HH:MM:SS.fff" (no time zone). The whole text must be the date: anything
// more, a day the month does not have, or a date before 1900-01-01 gives nullopt. `hasTime` says
// whether a time was given.
std::optional<double> IsoDateSerial(std::string_view text, bool& hasTime);

// The same for OpenDocument's office:date-value, which may also carry a time zone suffix ("Z",
// "+01:00"), ignored as office suites do, and years before 1900 (nullopt: no serial holds them).
std::optional<double> OdfDateSerial(std::string_view text);

// The fraction of a day of an xsd:duration as office:time-value gives it ("PT10H30M15.5S",
// "-PT1H", "P1DT2H"); nullopt for text of another form.
std::optional<double> OdfDurationDays(std::string_view text);

// Days from 1970-01-01 of a proleptic Gregorian date.
long long DaysFromCivilDate(long long year, unsigned month, unsigned day);

} // namespace gq::engine
