// The expat wrapper: hostile-input settings in one place, C++ exceptions kept out of expat's C
// frames (a handler's exception is parked, the parser stopped, and the exception rethrown after).
#include "engine/xlsx/XmlParser.h"

#include "engine/Errors.h"
#include "engine/Limits.h"

#include <expat.h>

#include <algorithm>
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
    : m_handler(handler), m_file(std::move(file)), m_part(std::move(part)), m_parser(XML_ParserCreate(nullptr))
{
    if (m_parser == nullptr) {
        throw std::bad_alloc();
    }
    XML_SetUserData(m_parser, this);
    XML_SetElementHandler(m_parser, &XmlParser::OnStart, &XmlParser::OnEnd);
    // Workbook parts never carry a DTD: refusing the DOCTYPE refuses every entity declaration, and
    // with it entity expansion bombs and external entities. The settings below are a second guard.
    XML_SetStartDoctypeDeclHandler(m_parser, &XmlParser::OnDoctype);
    XML_SetEntityDeclHandler(m_parser, &XmlParser::OnEntityDecl);
#ifdef XML_DTD
    XML_SetParamEntityParsing(m_parser, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(m_parser, 10.0f);
    XML_SetBillionLaughsAttackProtectionActivationThreshold(m_parser, 1u << 20);
#endif
}

XmlParser::~XmlParser() { XML_ParserFree(m_parser); }

void XmlParser::CaptureText(bool on)
{
    if (on != m_capture) {
        m_capture = on;
        XML_SetCharacterDataHandler(m_parser, on ? &XmlParser::OnText : nullptr);
    }
}

int64_t XmlParser::Offset() const { return static_cast<int64_t>(XML_GetCurrentByteIndex(m_parser)); }

void XmlParser::Fail(std::exception_ptr error)
{
    if (!m_error) {
        m_error = std::move(error);
    }
    XML_StopParser(m_parser, XML_FALSE);
}

void XmlParser::Feed(const char* data, size_t size, bool last)
{
    // expat takes int lengths; larger pieces go in slices.
    constexpr size_t kSlice = 1u << 30;
    do {
        size_t piece = std::min(size, kSlice);
        bool final = last && piece == size;
        XML_Status status = XML_Parse(m_parser, data, static_cast<int>(piece), final ? XML_TRUE : XML_FALSE);
        if (m_error) {
            std::rethrow_exception(m_error);
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
        std::string_view local = LocalName(name);
        // Extension lists carry later versions' additions under the same local names as the main
        // elements (x15:workbookPr beside workbookPr); none of them is read, so none may leak in.
        if (p->m_skipDepth > 0 || local == "extLst") {
            ++p->m_skipDepth;
            return;
        }
        p->m_handler.StartElement(local, XmlAttributes(atts));
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

} // namespace gq::engine
