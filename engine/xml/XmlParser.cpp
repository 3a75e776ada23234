// The expat wrapper: hostile-input settings in one place, C++ exceptions kept out of expat's C
// frames (a handler's exception is parked, the parser stopped, and the exception rethrown after),
// and the hand-over to the scanner that reads the bulk of a worksheet (its sheetData) without
// expat's per-token cost, and back.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xml/XmlParser.h"

#include "common/AsciiText.h"
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/xml/SheetDataScanner.h"

#include <expat.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

namespace gq::engine {

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
    m_parserBytes = 0;
    m_lastEventEnd = 0;
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
    if (encoding != nullptr && !EqualsNoCase(encoding, "UTF-8")) {
        p->m_notUtf8 = true;
    }
}

namespace {
std::atomic<bool> g_scannerEnabled{true};
} // namespace

void XmlParser::EnableScanner(bool on)
{
    g_scannerEnabled = on;
}

void XmlParser::CaptureText(bool on)
{
    if (on != m_capture) {
        m_capture = on;
        if (m_scanner) {
            m_scanner->CaptureText(on);
        }
        if (m_mode != Mode::Scanner) {
            XML_SetCharacterDataHandler(m_parser, on ? &XmlParser::OnText : nullptr);
        }
    }
}

int64_t XmlParser::Offset() const
{
    if (m_mode == Mode::Scanner) {
        return m_scanner->Offset();
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
                m_scanner = std::make_unique<SheetDataScanner>(m_handler, m_file, m_part, m_open.back(), m_switchOffset,
                                                               m_scanBaseDepth, m_capture);
                m_mode = Mode::Scanner;
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
        m_parserBytes += piece;
        if (m_parserBytes - std::min(m_lastEventEnd, m_parserBytes) > limits::kMaxXmlTokenBytes) {
            throw LimitError(m_file, "the part " + m_part + " holds an XML token larger than " +
                                         std::to_string(limits::kMaxXmlTokenBytes >> 20) + " MB");
        }
        data += piece;
        size -= piece;
        sliceOffset += static_cast<int64_t>(piece);
    } while (size > 0);
}

void XmlParser::ParseAll(std::string_view document)
{
    Feed(document.data(), document.size(), true);
}

void XmlParser::NoteEvent()
{
    XML_Index at = XML_GetCurrentByteIndex(m_parser);
    if (at >= 0) {
        m_lastEventEnd = static_cast<uint64_t>(at) + static_cast<uint64_t>(XML_GetCurrentByteCount(m_parser));
    }
}

void XmlParser::OnStart(void* self, const char* name, const char** atts)
{
    auto* p = static_cast<XmlParser*>(self);
    if (p->m_error) {
        return;
    }
    p->NoteEvent();
    try {
        if (++p->m_depth > limits::kMaxXmlDepth) {
            throw FormatError(p->m_file,
                              "the XML nests elements deeper than " + std::to_string(limits::kMaxXmlDepth) + " levels",
                              p->m_part, p->Offset());
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
    p->NoteEvent();
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
    p->NoteEvent();
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
    p->Fail(std::make_exception_ptr(FormatError(
        p->m_file, "the XML declares a document type (DTD), which workbook parts never do", p->m_part, p->Offset())));
}

void XmlParser::OnEntityDecl(void* self, const char*, int, const char*, int, const char*, const char*, const char*,
                             const char*)
{
    auto* p = static_cast<XmlParser*>(self);
    p->Fail(std::make_exception_ptr(
        FormatError(p->m_file, "the XML declares entities, which workbook parts never do", p->m_part, p->Offset())));
}

// ---- the hand-over to the scanner and back ----

void XmlParser::FeedScanner(const char* data, size_t size, bool last)
{
    if (m_scanner->Feed(data, size, last)) {
        StartTail();
    }
}

void XmlParser::StartTail()
{
    // A fresh expat parser reads the rest, behind the start tags of the scanned element's
    // ancestors (which the handler has seen already), so that expat still checks that every
    // element opened before the scanned one is closed in order.
    m_mode = Mode::Tail;
    std::string prefix;
    for (size_t i = 0; i + 1 < m_open.size(); ++i) {
        prefix += "<" + m_open[i] + ">";
    }
    int64_t restOffset = 0;
    std::string rest = m_scanner->TakeRest(restOffset);
    m_scanner.reset();
    m_depth = m_scanBaseDepth - static_cast<int>(m_open.size()); // the replayed tags count again
    prefix += "<" + m_open.back() + ">";
    CreateExpat();
    m_replaying = true;
    XML_Status status = XML_Parse(m_parser, prefix.data(), static_cast<int>(prefix.size()), XML_FALSE);
    m_parserBytes += prefix.size();
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
