// The scanner that reads a worksheet's sheetData for XmlParser without expat's per-token cost,
// holding it to the rules expat applies.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xml/SheetDataScanner.h"

#include "common/AsciiText.h"
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/text/Utf8.h"

#include <algorithm>
#include <cstring>

namespace gq::engine {

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Characters XML 1.0 allows (production [2] Char).
bool IsXmlChar(uint32_t cp)
{
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) || (cp >= 0xE000 && cp <= 0xFFFD) ||
           (cp >= 0x10000 && cp <= 0x10FFFF);
}

// Whether bytes are well-formed UTF-8 of XML characters (the rules expat applies to its input).
bool ValidXmlUtf8(const unsigned char* p, size_t n)
{
    for (size_t i = 0; i < n;) {
        char32_t cp = DecodeUtf8(p, n, i);
        if (cp == kNotUtf8 || !IsXmlChar(cp)) {
            return false;
        }
    }
    return true;
}

// Bytes that need no decoding or checking: printable ASCII other than '&' (and, in attribute
// values, no whitespace to normalize). Nearly every value in a sheet is like that.
bool Plain(const char* p, size_t n, bool attribute)
{
    for (size_t i = 0; i < n; ++i) {
        auto c = static_cast<unsigned char>(p[i]);
        if (c < 0x20 || c >= 0x80 || c == '&') {
            if (!attribute && (c == '\n' || c == '\t')) {
                continue;
            }
            return false;
        }
    }
    return true;
}

} // namespace

SheetDataScanner::SheetDataScanner(XmlHandler& handler, const std::string& file, const std::string& part,
                                   std::string elementName, int64_t offset, int depth, bool capture)
    : m_handler(handler), m_file(file), m_part(part), m_elementName(std::move(elementName)), m_bufferOffset(offset),
      m_depth(depth), m_capture(capture)
{
}

void SheetDataScanner::ScanError(const std::string& problem, size_t at) const
{
    throw FormatError(m_file, "the XML is not well formed: " + problem, m_part,
                      m_bufferOffset + static_cast<int64_t>(at));
}

bool SheetDataScanner::Feed(const char* data, size_t size, bool last)
{
    if (m_pos > 0 && m_pos >= m_buffer.size() / 2) {
        m_buffer.erase(0, m_pos);
        m_bufferOffset += static_cast<int64_t>(m_pos);
        m_pos = 0;
    }
    m_buffer.append(data, size);
    Scan();
    if (!m_finished) {
        if (last) {
            ScanError("the document ends inside an element", m_buffer.size());
        }
        if (m_buffer.size() - m_pos > limits::kMaxXmlTokenBytes) {
            throw LimitError(m_file, "the part " + m_part + " holds an XML token larger than " +
                                         std::to_string(limits::kMaxXmlTokenBytes >> 20) + " MB");
        }
    }
    return m_finished;
}

std::string SheetDataScanner::TakeRest(int64_t& offset)
{
    offset = m_bufferOffset + static_cast<int64_t>(m_pos);
    std::string rest = m_buffer.substr(m_pos);
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    m_pos = 0;
    return rest;
}

void SheetDataScanner::DecodeInto(std::string& out, const char* p, size_t n, bool attribute)
{
    if (Plain(p, n, attribute)) {
        out.append(p, n);
        return;
    }
    size_t start = out.size();
    size_t i = 0;
    while (i < n) {
        size_t j = i;
        while (j < n && p[j] != '&' && p[j] != '\r' && !(attribute && (p[j] == '\t' || p[j] == '\n'))) {
            ++j;
        }
        out.append(p + i, j - i);
        if (j >= n) {
            break;
        }
        if (p[j] == '\r') {
            // Line ends are normalized to LF (XML 1.0, 2.11); attribute values turn them into spaces.
            out.push_back(attribute ? ' ' : '\n');
            i = j + 1 < n && p[j + 1] == '\n' ? j + 2 : j + 1;
            continue;
        }
        if (p[j] != '&') {
            out.push_back(' ');
            i = j + 1;
            continue;
        }
        const char* semi = static_cast<const char*>(std::memchr(p + j, ';', std::min<size_t>(n - j, 12)));
        if (semi == nullptr) {
            ScanError("an '&' that starts no reference", m_pos);
        }
        std::string_view ref(p + j + 1, static_cast<size_t>(semi - (p + j + 1)));
        if (ref == "amp") {
            out.push_back('&');
        } else if (ref == "lt") {
            out.push_back('<');
        } else if (ref == "gt") {
            out.push_back('>');
        } else if (ref == "quot") {
            out.push_back('"');
        } else if (ref == "apos") {
            out.push_back('\'');
        } else if (ref.size() >= 2 && ref[0] == '#') {
            uint32_t cp = 0;
            bool hex = ref[1] == 'x';
            std::string_view digits = ref.substr(hex ? 2 : 1);
            bool ok = !digits.empty() && digits.size() <= 8;
            for (char c : digits) {
                int v = hex ? HexDigitValue(c) : c >= '0' && c <= '9' ? c - '0' : -1;
                if (v < 0) {
                    ok = false;
                    break;
                }
                cp = cp * (hex ? 16 : 10) + static_cast<uint32_t>(v);
            }
            if (!ok || !IsXmlChar(cp)) {
                ScanError("a character reference to no valid character", m_pos);
            }
            AppendUtf8(out, cp);
        } else {
            ScanError("a reference to an undefined entity", m_pos);
        }
        i = static_cast<size_t>(semi - p) + 1;
    }
    if (!ValidXmlUtf8(reinterpret_cast<const unsigned char*>(out.data() + start), out.size() - start)) {
        ScanError("text that is not valid UTF-8 or holds characters XML forbids", m_pos);
    }
}

void SheetDataScanner::DeliverText(size_t from, size_t to)
{
    if (from == to) {
        return;
    }
    const char* p = m_buffer.data() + from;
    size_t n = to - from;
    if (!m_capture) {
        // Text nobody reads is still checked where it could hide markup errors.
        if (std::memchr(p, '&', n) != nullptr) {
            m_text.clear();
            DecodeInto(m_text, p, n, false);
        }
        return;
    }
    if (Plain(p, n, false)) {
        m_handler.Text(std::string_view(p, n));
        return;
    }
    m_text.clear();
    DecodeInto(m_text, p, n, false);
    m_handler.Text(m_text);
}

bool SheetDataScanner::ScanStartTag(size_t lt, size_t& next)
{
    const std::string& b = m_buffer;
    size_t i = lt + 1;
    size_t nameStart = i;
    while (i < b.size() && !IsSpace(b[i]) && b[i] != '>' && b[i] != '/') {
        if (b[i] == '<' || b[i] == '=' || b[i] == '"' || b[i] == '\'') {
            ScanError("a malformed start tag", lt);
        }
        ++i;
    }
    if (i >= b.size()) {
        return false;
    }
    if (i == nameStart) {
        ScanError("a start tag without a name", lt);
    }
    size_t nameEnd = i;
    m_attrStore.clear();
    m_attrOffsets.clear();
    bool empty = false;
    for (;;) {
        size_t ws = i;
        while (i < b.size() && IsSpace(b[i])) {
            ++i;
        }
        if (i >= b.size()) {
            return false;
        }
        if (b[i] == '>') {
            ++i;
            break;
        }
        if (b[i] == '/') {
            if (i + 1 >= b.size()) {
                return false;
            }
            if (b[i + 1] != '>') {
                ScanError("a malformed start tag", lt);
            }
            empty = true;
            i += 2;
            break;
        }
        if (ws == i) {
            ScanError("attributes without space between them", lt);
        }
        size_t an = i;
        while (i < b.size() && !IsSpace(b[i]) && b[i] != '=' && b[i] != '>' && b[i] != '/' && b[i] != '<') {
            ++i;
        }
        size_t anEnd = i;
        while (i < b.size() && IsSpace(b[i])) {
            ++i;
        }
        if (i >= b.size()) {
            return false;
        }
        if (anEnd == an || b[i] != '=') {
            ScanError("an attribute without a value", lt);
        }
        ++i;
        while (i < b.size() && IsSpace(b[i])) {
            ++i;
        }
        if (i >= b.size()) {
            return false;
        }
        char quote = b[i];
        if (quote != '"' && quote != '\'') {
            ScanError("an attribute value without quotes", lt);
        }
        size_t close = b.find(quote, i + 1);
        if (close == std::string::npos) {
            return false;
        }
        const char* value = b.data() + i + 1;
        size_t valueLength = close - i - 1;
        if (std::memchr(value, '<', valueLength) != nullptr) {
            ScanError("a '<' inside an attribute value", lt);
        }
        m_attrOffsets.push_back(m_attrStore.size());
        m_attrStore.append(b, an, anEnd - an);
        m_attrStore.push_back('\0');
        m_attrOffsets.push_back(m_attrStore.size());
        DecodeInto(m_attrStore, value, valueLength, true);
        m_attrStore.push_back('\0');
        i = close + 1;
    }
    next = i;
    if (++m_depth > limits::kMaxXmlDepth) {
        ScanError("elements nest deeper than " + std::to_string(limits::kMaxXmlDepth) + " levels", lt);
    }
    m_attrPointers.clear();
    for (size_t off : m_attrOffsets) {
        m_attrPointers.push_back(m_attrStore.data() + off);
    }
    m_attrPointers.push_back(nullptr);
    std::string_view qname(b.data() + nameStart, nameEnd - nameStart);
    size_t colon = qname.rfind(':');
    std::string_view local = colon == std::string_view::npos ? qname : qname.substr(colon + 1);
    m_scanNames.append(qname);
    m_scanNameEnds.push_back(m_scanNames.size());
    if (m_skipDepth > 0 || local == "extLst") {
        ++m_skipDepth;
    } else {
        m_handler.StartElement(local, XmlAttributes(m_attrPointers.data()));
    }
    if (empty) {
        --m_depth;
        PopScanName();
        if (m_skipDepth > 0) {
            --m_skipDepth;
        } else {
            m_handler.EndElement(local);
        }
    }
    return true;
}

void SheetDataScanner::Scan()
{
    const std::string& b = m_buffer;
    while (!m_finished) {
        size_t lt = b.find('<', m_pos);
        if (lt == std::string::npos) {
            return; // the text runs on into the next piece
        }
        DeliverText(m_pos, lt);
        m_pos = lt;
        if (lt + 1 >= b.size()) {
            return;
        }
        char c = b[lt + 1];
        if (c == '/') {
            size_t gt = b.find('>', lt);
            if (gt == std::string::npos) {
                return;
            }
            std::string_view qname(b.data() + lt + 2, gt - lt - 2);
            while (!qname.empty() && IsSpace(qname.back())) {
                qname.remove_suffix(1);
            }
            if (m_scanNameEnds.empty()) {
                // The end of the scanned element itself: expat takes over again from this tag.
                if (qname != m_elementName) {
                    ScanError("an end tag that matches no start tag", lt);
                }
                m_finished = true;
                return;
            }
            if (qname != TopScanName()) {
                ScanError("an end tag that matches no start tag", lt);
            }
            PopScanName();
            --m_depth;
            m_pos = gt + 1;
            size_t colon = qname.rfind(':');
            std::string_view local = colon == std::string_view::npos ? qname : qname.substr(colon + 1);
            if (m_skipDepth > 0) {
                --m_skipDepth;
            } else {
                m_handler.EndElement(local);
            }
            continue;
        }
        if (c == '!') {
            if (b.compare(lt, 4, "<!--") == 0) {
                size_t end = b.find("-->", lt + 4);
                if (end == std::string::npos) {
                    return;
                }
                m_pos = end + 3;
            } else if (b.compare(lt, 9, "<![CDATA[") == 0) {
                size_t end = b.find("]]>", lt + 9);
                if (end == std::string::npos) {
                    return;
                }
                if (m_capture) {
                    if (!ValidXmlUtf8(reinterpret_cast<const unsigned char*>(b.data() + lt + 9), end - lt - 9)) {
                        ScanError("text that is not valid UTF-8", lt);
                    }
                    m_text.assign(b, lt + 9, end - lt - 9);
                    m_handler.Text(m_text);
                }
                m_pos = end + 3;
            } else if (b.size() - lt < 9) {
                return;
            } else {
                ScanError("a declaration inside an element", lt);
            }
            continue;
        }
        if (c == '?') {
            size_t end = b.find("?>", lt + 2);
            if (end == std::string::npos) {
                return;
            }
            m_pos = end + 2;
            continue;
        }
        size_t next = 0;
        if (!ScanStartTag(lt, next)) {
            return;
        }
        m_pos = next;
    }
}

std::string_view SheetDataScanner::TopScanName() const
{
    size_t end = m_scanNameEnds.back();
    size_t begin = m_scanNameEnds.size() > 1 ? m_scanNameEnds[m_scanNameEnds.size() - 2] : 0;
    return std::string_view(m_scanNames).substr(begin, end - begin);
}

void SheetDataScanner::PopScanName()
{
    m_scanNameEnds.pop_back();
    m_scanNames.resize(m_scanNameEnds.empty() ? 0 : m_scanNameEnds.back());
}

} // namespace gq::engine
