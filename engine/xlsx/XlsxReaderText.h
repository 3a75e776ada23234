// Text as the xlsx reader meets it: attribute numbers, the _xHHHH_ escapes of ST_Xstring and ISO
// 8601 dates. The number helpers are inline: the worksheet's cell path calls them for every cell.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <string_view>

namespace gq::engine {

// Decodes the _xHHHH_ escapes of ECMA-376 Part 1, 22.9.2.19 (ST_Xstring) in place: characters XML
// cannot carry are written that way, and a literal "_x" is escaped as _x005F_.
void DecodeXstring(std::string& text);

// An ISO 8601 date, date-time or time ("2021-01-01", "2021-01-01T10:10:10.5Z", "10:10:10") as a
// serial number in the 1900 or 1904 date system; nullopt when the text is not one.
std::optional<double> IsoToSerial(std::string_view text, bool date1904);

namespace xlsxtext {

inline std::string_view Trim(std::string_view v)
{
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t' || v.front() == '\n' || v.front() == '\r')) {
        v.remove_prefix(1);
    }
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\n' || v.back() == '\r')) {
        v.remove_suffix(1);
    }
    return v;
}

inline bool ParseDouble(std::string_view text, double& out)
{
    text = Trim(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && std::isfinite(out);
}

template <class T>
inline bool ParseUnsigned(const char* text, T& out)
{
    if (text == nullptr) {
        return false;
    }
    std::string_view v = Trim(text);
    auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), out);
    return ec == std::errc() && end == v.data() + v.size() && !v.empty();
}

inline bool ParseAttrDouble(const char* text, double& out)
{
    return text != nullptr && ParseDouble(text, out);
}

} // namespace xlsxtext

} // namespace gq::engine
