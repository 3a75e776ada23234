// The shared-strings part of an xlsx package (ECMA-376 Part 1, 18.4), read as it inflates.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxReaderSharedStrings.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/xlsx/XlsxReaderText.h"

#include <algorithm>

namespace gq::engine {

using xlsxtext::ParseUnsigned;

SharedStringsParser::SharedStringsParser(StringTable& strings, const std::string& file, const std::string& part)
    : m_strings(strings), m_parser(*this, file, part)
{
}

void SharedStringsParser::StartElement(std::string_view name, const XmlAttributes& atts)
{
    if (name == "si") {
        m_inItem = true;
        m_text.clear();
        m_phonetic = 0;
    } else if (name == "t") {
        m_parser.CaptureText(m_inItem && m_phonetic == 0);
    } else if (name == "rPh") {
        ++m_phonetic;
    } else if (name == "sst") {
        uint32_t unique = 0;
        if (ParseUnsigned(atts.Get("uniqueCount"), unique)) {
            // A hint only: bounded so that a lying count cannot make us allocate.
            m_indexes.reserve(std::min<uint32_t>(unique, 1u << 20));
        }
    }
}

void SharedStringsParser::EndElement(std::string_view name)
{
    if (name == "t") {
        m_parser.CaptureText(false);
    } else if (name == "rPh") {
        --m_phonetic;
    } else if (name == "si" && m_inItem) {
        m_inItem = false;
        DecodeXstring(m_text);
        m_indexes.push_back(m_strings.Intern(m_text));
    }
}

void SharedStringsParser::Text(std::string_view text)
{
    if (m_text.size() + text.size() > limits::kMaxStringBytes) {
        throw FormatError(m_parser.File(), "a shared string is longer than a cell can hold", m_parser.Part(),
                          m_parser.Offset());
    }
    m_text.append(text);
}

} // namespace gq::engine
