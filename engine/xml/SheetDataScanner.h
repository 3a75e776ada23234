// The scanner that reads the content of a worksheet's sheetData for XmlParser, in place of expat.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/xml/XmlParser.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gq::engine {

// Reads the content of one element that XmlParser hands over once expat has read its start tag
// (see XmlParser::ScanContentOf), and stops at that element's end tag so that expat can read the
// rest. The content is rows of tags with a few attributes, the cost of a sheet; the scanner reads it
// several times faster than expat and holds it to the same rules: well-formed tags, matching end
// tags, only the predefined entities and character references, valid UTF-8, the depth and token
// limits. Elements inside an extLst are not passed on, as XmlParser does.
class SheetDataScanner {
public:
    // `file` and `part` name the input in error messages and must outlive the scanner.
    // `elementName` is the qualified name of the element whose content is read, `offset` the part
    // offset of the first byte after its start tag, `depth` the nesting depth of that element, and
    // `capture` whether text is delivered to the handler to begin with.
    SheetDataScanner(XmlHandler& handler, const std::string& file, const std::string& part, std::string elementName,
                     int64_t offset, int depth, bool capture);

    // Reads the next piece and returns true once the element's end tag is reached; that tag and
    // what follows it are left for TakeRest. Throws FormatError for XML that is not well formed,
    // LimitError past the depth or token limits, and passes on whatever the handler throws.
    bool Feed(const char* data, size_t size, bool last);
    // After Feed returned true: the input from the element's end tag on, and its part offset.
    std::string TakeRest(int64_t& offset);

    // Character data reaches XmlHandler::Text only while this is on (XmlParser::CaptureText).
    void CaptureText(bool on) { m_capture = on; }
    // Byte offset of the current token in the part, for error messages.
    int64_t Offset() const { return m_bufferOffset + static_cast<int64_t>(m_pos); }

private:
    // Scans the buffered content as far as it is complete.
    void Scan();
    std::string_view TopScanName() const;
    void PopScanName();
    bool ScanStartTag(size_t lt, size_t& next);
    void DeliverText(size_t from, size_t to);
    void DecodeInto(std::string& out, const char* p, size_t n, bool attribute);
    [[noreturn]] void ScanError(const std::string& problem, size_t at) const;

    XmlHandler& m_handler;
    const std::string& m_file;
    const std::string& m_part;
    std::string m_elementName;
    std::string m_scanNames;            // qualified names opened inside the element,
    std::vector<size_t> m_scanNameEnds; // one after the other, and where each ends
    std::string m_buffer;               // input not yet consumed
    size_t m_pos = 0;
    int64_t m_bufferOffset = 0; // part offset of m_buffer[0]
    std::string m_text;
    std::string m_attrStore;
    std::vector<size_t> m_attrOffsets;
    std::vector<const char*> m_attrPointers;
    int m_depth = 0;
    int m_skipDepth = 0; // inside an extLst: elements are not passed on
    bool m_capture = false;
    bool m_finished = false;
};

} // namespace gq::engine
