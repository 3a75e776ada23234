// The _xHHHH_ escapes and ISO 8601 dates of xlsx text.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxReaderText.h"

#include "common/AsciiText.h"
#include "engine/text/IsoDate.h"
#include "engine/text/Utf8.h"

#include <cstdint>

namespace gq::engine {

namespace {

using xlsxtext::Trim;

// Reads "_xHHHH_" at text[i]; -1 when there is none.
int EscapeAt(const std::string& text, size_t i)
{
    if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_') {
        return -1;
    }
    int value = 0;
    for (size_t k = i + 2; k < i + 6; ++k) {
        int h = HexDigitValue(text[k]);
        if (h < 0) {
            return -1;
        }
        value = value * 16 + h;
    }
    return value;
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
        // A high surrogate pairs only with a low one written as the very next escape.
        const int next = unit >= 0xD800 && unit <= 0xDBFF ? EscapeAt(text, i) : -1;
        bool paired = false;
        AppendUtf8(out,
                   Utf16CodePoint(static_cast<uint32_t>(unit), next < 0 ? 0 : static_cast<uint32_t>(next), paired));
        i += paired ? 7 : 0;
    }
    text = std::move(out);
}

std::optional<double> IsoToSerial(std::string_view text, bool date1904)
{
    return XlsxDateSerial(Trim(text), date1904);
}

} // namespace gq::engine
