// The XML output of the xlsx writer: namespaces, the streamed part buffer and the hand-tuned
// writing of numbers and cell references for the cells, and XmlBuilder for everything else.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/text/CellReferenceText.h"
#include "engine/xlsx/XlsxWriterText.h"
#include "engine/zip/ZipWriter.h"

#include <charconv>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace gq::engine::xlsxout {

inline constexpr std::string_view kXmlDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
inline constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
inline constexpr std::string_view kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
inline constexpr std::string_view kPackageRelNs = "http://schemas.openxmlformats.org/package/2006/relationships";
inline constexpr std::string_view kOfficeRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

// Streamed parts are produced into a buffer of this size and handed to the zip writer in chunks.
inline constexpr size_t kChunkBytes = size_t{256} * 1024;
// Room for one cell or row element at most: <c r="XFD1048576" s="65429" t="e"><v>#GETTING_DATA</v></c>.
inline constexpr size_t kCellRoom = 128;

// Output buffer of one streamed part. Callers reserve room for what they are about to write and
// write through a raw pointer, so the per-cell path has one capacity check and no allocation.
class PartStream {
public:
    explicit PartStream(ZipWriter& zip) : m_zip(&zip), m_buffer(kChunkBytes + kCellRoom * 4) {}
    // For bytes of a part prepared before the save (rows the row stager compresses early).
    explicit PartStream(ByteSink& sink) : m_sink(&sink), m_buffer(kChunkBytes + kCellRoom * 4) {}

    char* Reserve(size_t room)
    {
        if (m_size + room > m_buffer.size()) {
            Flush();
            if (room > m_buffer.size()) {
                m_buffer.resize(room);
            }
        }
        return m_buffer.data() + m_size;
    }
    void Commit(char* end)
    {
        m_size = static_cast<size_t>(end - m_buffer.data());
        if (m_size >= kChunkBytes) {
            Flush();
        }
    }
    void Append(std::string_view text)
    {
        char* p = Reserve(text.size());
        std::memcpy(p, text.data(), text.size());
        Commit(p + text.size());
    }
    void Flush()
    {
        if (m_size > 0) {
            if (m_zip != nullptr) {
                m_zip->Write(m_buffer.data(), m_size);
            } else {
                m_sink->Write(m_buffer.data(), m_size);
            }
            m_size = 0;
        }
    }

private:
    ZipWriter* m_zip = nullptr;
    ByteSink* m_sink = nullptr;
    std::vector<char> m_buffer;
    size_t m_size = 0;
};

inline char* Put(char* p, std::string_view text)
{
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

inline char* PutUint(char* p, uint64_t value)
{
    return std::to_chars(p, p + 24, value).ptr;
}

// Column letters of a zero-based column inside the grid (A..XFD).
inline char* PutColumn(char* p, uint32_t col)
{
    return PutColumnLetters(p, col);
}

// Shortest text that reads back as the same double; integers take the faster integer path.
inline char* PutNumber(char* p, double value)
{
    if (value == 0) {
        *p++ = '0'; // also for -0, which not every reader takes
        return p;
    }
    if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
        return std::to_chars(p, p + 24, static_cast<int64_t>(value)).ptr;
    }
    return std::to_chars(p, p + 32, value).ptr;
}

// Appends the XML of a part written once per file or once per sheet to a string. Each attribute is
// named once and its value escaped here, so that no part spells out quotes and escapes by hand.
// Worksheet cells do not come through here: they are the hot path and written by hand.
class XmlBuilder {
public:
    explicit XmlBuilder(std::string& out) : m_out(out) {}

    // "<name"; attributes may follow, then EndStart or EndEmpty.
    XmlBuilder& Start(std::string_view name)
    {
        m_out += '<';
        m_out += name;
        return *this;
    }
    // name="value" inside a start tag.
    XmlBuilder& Attribute(std::string_view name, std::string_view value)
    {
        OpenAttribute(name);
        AppendAttribute(m_out, value);
        m_out += '"';
        return *this;
    }
    // Numbers have nothing to escape: their text goes through the text attribute as it is.
    template <std::unsigned_integral T>
    XmlBuilder& Attribute(std::string_view name, T value)
    {
        char buffer[24];
        return Attribute(name, std::string_view(buffer, static_cast<size_t>(PutUint(buffer, value) - buffer)));
    }
    XmlBuilder& NumberAttribute(std::string_view name, double value)
    {
        char buffer[40];
        return Attribute(name, std::string_view(buffer, static_cast<size_t>(PutNumber(buffer, value) - buffer)));
    }
    // ">" after the attributes of an element with content; "/>" for an empty element.
    XmlBuilder& EndStart()
    {
        m_out += '>';
        return *this;
    }
    XmlBuilder& EndEmpty()
    {
        m_out += "/>";
        return *this;
    }
    // "</name>".
    XmlBuilder& End(std::string_view name)
    {
        m_out += "</";
        m_out += name;
        m_out += '>';
        return *this;
    }
    // <name>text</name>, the text escaped as element content.
    XmlBuilder& TextElement(std::string_view name, std::string_view text)
    {
        Start(name).EndStart();
        size_t at = m_out.size();
        m_out.resize(at + kMaxEscapedGrowth * text.size());
        m_out.resize(static_cast<size_t>(EscapeText(m_out.data() + at, text) - m_out.data()));
        return End(name);
    }

private:
    void OpenAttribute(std::string_view name)
    {
        m_out += ' ';
        m_out += name;
        m_out += "=\"";
    }

    std::string& m_out;
};

} // namespace gq::engine::xlsxout
