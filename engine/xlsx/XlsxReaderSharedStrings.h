// A streaming parser for the shared-strings part of an xlsx package (ECMA-376 Part 1, 18.4): fed
// chunk by chunk as the part inflates, never held whole.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/model/Workbook.h"
#include "engine/xml/XmlParser.h"

#include <string>
#include <string_view>
#include <vector>

namespace gq::engine {

// Reads a shared-strings part: rich-text runs are flattened to their text, phonetic runs dropped,
// every string interned into `strings`. Gives the model string index of each entry, by position.
class SharedStringsParser : private XmlHandler {
public:
    SharedStringsParser(StringTable& strings, const std::string& file, const std::string& part);
    void Feed(const char* data, size_t size, bool last) { m_parser.Feed(data, size, last); }
    std::vector<uint32_t> Take() { return std::move(m_indexes); }

private:
    void StartElement(std::string_view name, const XmlAttributes& atts) override;
    void EndElement(std::string_view name) override;
    void Text(std::string_view text) override;

    StringTable& m_strings;
    XmlParser m_parser;
    std::vector<uint32_t> m_indexes;
    std::string m_text;
    bool m_inItem = false;
    int m_phonetic = 0;
};

} // namespace gq::engine
