// The expat wrapper: hostile-input settings in one place, C++ exceptions kept out of expat's C
// frames (a handler's exception is parked, the parser stopped, and the exception rethrown after),
// and the scanner that reads the bulk of a worksheet (its sheetData) without expat's per-token cost.
#include "engine/xlsx/XmlParser.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/text/Utf8.h"

#include <expat.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

namespace gq::engine {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

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

bool EqualsIgnoreCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) {
            return false;
        }
    }
    return true;
}


} // namespace

const char* XmlAttributes::Get(std::string_view localName) const
{
    for (const char** a = m_atts; a != nullptr && *a != nullptr; a += 2) {
        if (LocalName(*a) == localName) {
            return a[1];
        }
    }
    return nullptr;
}

bool XmlTrue(const char* value)
{
    return value != nullptr && (std::strcmp(value, "1") == 0 || std::strcmp(value, "true") == 0);
}

XmlParser::XmlParser(XmlHandler& handler, std::string file, std::string part)
    : m_handler(handler), m_file(std::move(file)), m_part(std::move(part))
{
    CreateExpat();
}

XmlParser::~XmlParser()
{
    if (m_parser != nullptr) {
        XML_ParserFree(m_parser);
    }
}

void XmlParser::CreateExpat()
{
    if (m_parser != nullptr) {
        XML_ParserFree(m_parser);
    }
    m_parser = XML_ParserCreate(nullptr);
    if (m_parser == nullptr) {
        throw std::bad_alloc();
    }
    XML_SetUserData(m_parser, this);
    XML_SetElementHandler(m_parser, &XmlParser::OnStart, &XmlParser::OnEnd);
    // Workbook parts never carry a DTD: refusing the DOCTYPE refuses every entity declaration, and
    // with it entity expansion bombs and external entities. The settings below are a second guard.
    XML_SetStartDoctypeDeclHandler(m_parser, &XmlParser::OnDoctype);
    XML_SetEntityDeclHandler(m_parser, &XmlParser::OnEntityDecl);
    XML_SetXmlDeclHandler(m_parser, &XmlParser::OnXmlDeclaration);
#ifdef XML_DTD
    XML_SetParamEntityParsing(m_parser, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(m_parser, 10.0f);
    XML_SetBillionLaughsAttackProtectionActivationThreshold(m_parser, 1u << 20);
#endif
    if (m_capture) {
        XML_SetCharacterDataHandler(m_parser, &XmlParser::OnText);
    }
}

void XmlParser::OnXmlDeclaration(void* self, const char*, const char* encoding, int)
{
    auto* p = static_cast<XmlParser*>(self);
    if (encoding != nullptr && !EqualsIgnoreCase(encoding, "UTF-8")) {
        p->m_notUtf8 = true;
    }
}

namespace {
std::atomic<bool> g_scannerEnabled{true};
} // namespace

void XmlParser::EnableScanner(bool on) { g_scannerEnabled = on; }

void XmlParser::CaptureText(bool on)
{
    if (on != m_capture) {
        m_capture = on;
        if (m_mode != Mode::Scanner) {
            XML_SetCharacterDataHandler(m_parser, on ? &XmlParser::OnText : nullptr);
        }
    }
}

int64_t XmlParser::Offset() const
{
    if (m_mode == Mode::Scanner) {
        return m_bufferOffset + static_cast<int64_t>(m_pos);
    }
    return static_cast<int64_t>(XML_GetCurrentByteIndex(m_parser)) + m_tailOffset;
}

void XmlParser::Fail(std::exception_ptr error)
{
    if (!m_error) {
        m_error = std::move(error);
    }
    if (m_mode != Mode::Scanner) {
        XML_StopParser(m_parser, XML_FALSE);
    }
}

void XmlParser::Feed(const char* data, size_t size, bool last)
{
    if (m_firstBytes && size > 0) {
        m_firstBytes = false;
        // UTF-16 and UTF-32 documents start with a byte order mark or a zero byte.
        auto b0 = static_cast<unsigned char>(data[0]);
        if (b0 == 0xFE || b0 == 0xFF || b0 == 0x00 || (size > 1 && data[1] == '\0')) {
            m_notUtf8 = true;
        }
    }
    if (m_mode == Mode::Scanner) {
        FeedScanner(data, size, last);
    } else {
        FeedExpat(data, size, last);
    }
    m_chunkOffset += static_cast<int64_t>(size);
}

void XmlParser::FeedExpat(const char* data, size_t size, bool last)
{
    // expat takes int lengths; larger pieces go in slices.
    constexpr size_t kSlice = 1u << 30;
    int64_t sliceOffset = m_chunkOffset;
    do {
        size_t piece = std::min(size, kSlice);
        bool final = last && piece == size;
        XML_Status status = XML_Parse(m_parser, data, static_cast<int>(piece), final ? XML_TRUE : XML_FALSE);
        if (m_error) {
            std::rethrow_exception(m_error);
        }
        if (status == XML_STATUS_SUSPENDED) {
            // The scanned element's start tag ended inside this piece: the rest goes to the scanner.
            int64_t at = m_switchOffset - sliceOffset;
            if (at >= 0 && at <= static_cast<int64_t>(piece)) {
                m_mode = Mode::Scanner;
                m_buffer.clear();
                m_pos = 0;
                m_bufferOffset = m_switchOffset;
                FeedScanner(data + at, piece - static_cast<size_t>(at), final);
                if (m_mode == Mode::Scanner && piece < size) {
                    FeedScanner(data + piece, size - piece, last);
                } else if (m_mode == Mode::Tail && piece < size) {
                    FeedExpat(data + piece, size - piece, last);
                }
                return;
            }
            // Not where it was expected: expat simply carries on.
            m_scanElement.clear();
            status = XML_ResumeParser(m_parser);
            if (m_error) {
                std::rethrow_exception(m_error);
            }
        }
        if (status != XML_STATUS_OK) {
            throw FormatError(m_file,
                              std::string("the XML is not well formed: ") + XML_ErrorString(XML_GetErrorCode(m_parser)),
                              m_part, Offset());
        }
        m_bytesSinceEvent += piece;
        if (m_bytesSinceEvent > limits::kMaxXmlTokenBytes) {
            throw LimitError("\"" + m_file + "\": the part " + m_part + " holds an XML token larger than " +
                             std::to_string(limits::kMaxXmlTokenBytes >> 20) + " MB");
        }
        data += piece;
        size -= piece;
        sliceOffset += static_cast<int64_t>(piece);
    } while (size > 0);
}

void XmlParser::ParseAll(std::string_view document) { Feed(document.data(), document.size(), true); }

void XmlParser::OnStart(void* self, const char* name, const char** atts)
{
    auto* p = static_cast<XmlParser*>(self);
    if (p->m_error) {
        return;
    }
    p->m_bytesSinceEvent = 0;
    try {
        if (++p->m_depth > limits::kMaxXmlDepth) {
            throw FormatError(p->m_file, "the XML nests elements deeper than " + std::to_string(limits::kMaxXmlDepth) +
                                             " levels", p->m_part, p->Offset());
        }
        if (p->m_replaying) {
            return; // the tail's synthetic ancestors were delivered before
        }
        std::string_view local = LocalName(name);
        // Extension lists carry later versions' additions under the same local names as the main
        // elements (x15:workbookPr beside workbookPr); none of them is read, so none may leak in.
        if (p->m_skipDepth > 0 || local == "extLst") {
            ++p->m_skipDepth;
            return;
        }
        bool scan = p->m_mode == Mode::Expat && !p->m_scanElement.empty() && g_scannerEnabled;
        if (scan) {
            p->m_open.emplace_back(name);
        }
        p->m_handler.StartElement(local, XmlAttributes(atts));
        if (scan && !p->m_notUtf8 && local == p->m_scanElement) {
            // An empty element (<sheetData/>) has nothing to scan: expat reports its end at once.
            int count = XML_GetCurrentByteCount(p->m_parser);
            if (count >= 2) {
                const char* context = nullptr;
                int offset = 0;
                int size = 0;
                context = XML_GetInputContext(p->m_parser, &offset, &size);
                bool empty = context != nullptr && offset + count <= size && context[offset + count - 2] == '/';
                if (!empty) {
                    p->m_switchOffset = static_cast<int64_t>(XML_GetCurrentByteIndex(p->m_parser)) + count;
                    p->m_scanBaseDepth = p->m_depth;
                    XML_StopParser(p->m_parser, XML_TRUE);
                }
            }
        }
    } catch (...) {
        p->Fail(std::current_exception());
    }
}

void XmlParser::OnEnd(void* self, const char* name)
{
    auto* p = static_cast<XmlParser*>(self);
    if (p->m_error) {
        return;
    }
    p->m_bytesSinceEvent = 0;
    --p->m_depth;
    if (p->m_skipDepth > 0) {
        --p->m_skipDepth;
        return;
    }
    if (p->m_mode == Mode::Expat && !p->m_open.empty()) {
        p->m_open.pop_back();
    }
    try {
        p->m_handler.EndElement(LocalName(name));
    } catch (...) {
        p->Fail(std::current_exception());
    }
}

void XmlParser::OnText(void* self, const char* text, int length)
{
    auto* p = static_cast<XmlParser*>(self);
    if (p->m_error) {
        return;
    }
    p->m_bytesSinceEvent = 0;
    if (p->m_skipDepth > 0) {
        return;
    }
    try {
        p->m_handler.Text(std::string_view(text, static_cast<size_t>(length)));
    } catch (...) {
        p->Fail(std::current_exception());
    }
}

void XmlParser::OnDoctype(void* self, const char*, const char*, const char*, int)
{
    auto* p = static_cast<XmlParser*>(self);
    p->Fail(std::make_exception_ptr(
        FormatError(p->m_file, "the XML declares a document type (DTD), which workbook parts never do", p->m_part,
                    p->Offset())));
}

void XmlParser::OnEntityDecl(void* self, const char*, int, const char*, int, const char*, const char*, const char*,
                             const char*)
{
    auto* p = static_cast<XmlParser*>(self);
    p->Fail(std::make_exception_ptr(
        FormatError(p->m_file, "the XML declares entities, which workbook parts never do", p->m_part, p->Offset())));
}

// ---- the scanner ----

void XmlParser::ScanError(const std::string& problem, size_t at) const
{
    throw FormatError(m_file, "the XML is not well formed: " + problem, m_part,
                      m_bufferOffset + static_cast<int64_t>(at));
}

void XmlParser::FeedScanner(const char* data, size_t size, bool last)
{
    if (m_pos > 0 && m_pos >= m_buffer.size() / 2) {
        m_buffer.erase(0, m_pos);
        m_bufferOffset += static_cast<int64_t>(m_pos);
        m_pos = 0;
    }
    m_buffer.append(data, size);
    Scan();
    if (m_mode == Mode::Scanner) {
        if (last) {
            ScanError("the document ends inside an element", m_buffer.size());
        }
        if (m_buffer.size() - m_pos > limits::kMaxXmlTokenBytes) {
            throw LimitError("\"" + m_file + "\": the part " + m_part + " holds an XML token larger than " +
                             std::to_string(limits::kMaxXmlTokenBytes >> 20) + " MB");
        }
    }
}

void XmlParser::DecodeInto(std::string& out, const char* p, size_t n, bool attribute)
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
                int v = c >= '0' && c <= '9' ? c - '0'
                        : hex && c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : hex && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                      : -1;
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

void XmlParser::DeliverText(size_t from, size_t to)
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

bool XmlParser::ScanStartTag(size_t lt, size_t& next)
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

void XmlParser::Scan()
{
    const std::string& b = m_buffer;
    while (m_mode == Mode::Scanner) {
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
                // The end of the scanned element itself: expat takes over again.
                if (qname != m_open.back()) {
                    ScanError("an end tag that matches no start tag", lt);
                }
                StartTail(lt);
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

std::string_view XmlParser::TopScanName() const
{
    size_t end = m_scanNameEnds.back();
    size_t begin = m_scanNameEnds.size() > 1 ? m_scanNameEnds[m_scanNameEnds.size() - 2] : 0;
    return std::string_view(m_scanNames).substr(begin, end - begin);
}

void XmlParser::PopScanName()
{
    m_scanNameEnds.pop_back();
    m_scanNames.resize(m_scanNameEnds.empty() ? 0 : m_scanNameEnds.back());
}

void XmlParser::StartTail(size_t from)
{
    // A fresh expat parser reads the rest, behind the start tags of the scanned element's
    // ancestors (which the handler has seen already), so that expat still checks that every
    // element opened before the scanned one is closed in order.
    m_mode = Mode::Tail;
    std::string prefix;
    for (size_t i = 0; i + 1 < m_open.size(); ++i) {
        prefix += "<" + m_open[i] + ">";
    }
    std::string rest = m_buffer.substr(from);
    int64_t restOffset = m_bufferOffset + static_cast<int64_t>(from);
    m_buffer.clear();
    m_buffer.shrink_to_fit();
    m_pos = 0;
    m_depth = m_scanBaseDepth - static_cast<int>(m_open.size()); // the replayed tags count again
    prefix += "<" + m_open.back() + ">";
    CreateExpat();
    m_replaying = true;
    XML_Status status = XML_Parse(m_parser, prefix.data(), static_cast<int>(prefix.size()), XML_FALSE);
    m_replaying = false;
    if (status != XML_STATUS_OK) {
        throw FormatError(m_file, "the XML is not well formed", m_part, restOffset);
    }
    // Offsets reported by the new parser count the replayed tags too.
    m_tailOffset = restOffset - static_cast<int64_t>(prefix.size());
    m_open.clear();
    FeedExpat(rest.data(), rest.size(), false);
}

} // namespace gq::engine
