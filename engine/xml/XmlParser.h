// A streaming XML parser over expat for package parts: elements by local name (namespace prefixes
// dropped, so that Strict and Transitional OOXML read alike), extension lists skipped, no DTD, no
// entities, bounded depth.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct XML_ParserStruct;

namespace gq::engine {

class SheetDataScanner;

// Attributes of a start tag as expat gives them: name, value, name, value, ..., null.
class XmlAttributes {
public:
    explicit XmlAttributes(const char** atts) : m_atts(atts) {}
    // The value of the attribute with this local name, or null.
    const char* Get(std::string_view localName) const;
    const char** Raw() const { return m_atts; }

private:
    const char** m_atts;
};

class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    virtual void StartElement(std::string_view localName, const XmlAttributes& atts) = 0;
    virtual void EndElement(std::string_view localName) = 0;
    // Character data, in pieces; only delivered while the parser's text capture is on.
    virtual void Text(std::string_view) {}
};

class XmlParser {
public:
    // `file` and `part` name the input in error messages.
    XmlParser(XmlHandler& handler, std::string file, std::string part);
    ~XmlParser();
    XmlParser(const XmlParser&) = delete;
    XmlParser& operator=(const XmlParser&) = delete;

    // Parses the next piece; `last` marks the end of the document. Throws FormatError for XML that
    // is not well formed or declares a DTD, LimitError past the depth or token limits, and passes
    // on whatever the handler throws.
    void Feed(const char* data, size_t size, bool last);
    // Parses a whole document held in memory.
    void ParseAll(std::string_view document);

    // Character data is delivered to XmlHandler::Text only while this is on; leaving it off where
    // no text is wanted saves a call per text run.
    void CaptureText(bool on);
    // Byte offset of the current event in the part, for error messages.
    int64_t Offset() const;
    const std::string& File() const { return m_file; }
    const std::string& Part() const { return m_part; }

    // Lets a handler stop the parse with an error; it is rethrown from Feed.
    void Fail(std::exception_ptr error);

    // Lets the content of the first element with this local name (a worksheet's sheetData) be read
    // by our own SheetDataScanner instead of expat, for UTF-8 documents. That content is rows of
    // tags with a few attributes, the cost of a sheet; the scanner reads it several times faster
    // and holds it to the same rules (well-formed tags, matching end tags, only the predefined
    // entities and character references, valid UTF-8, the depth and token limits). Expat parses
    // what comes before and after it.
    void ScanContentOf(std::string_view localName) { m_scanElement = localName; }
    // Turns the scanner off for the whole process, so that tests can compare both ways of reading.
    static void EnableScanner(bool on);

private:
    enum class Mode : uint8_t { Expat, Scanner, Tail };

    void CreateExpat();
    void FeedExpat(const char* data, size_t size, bool last);
    void FeedScanner(const char* data, size_t size, bool last);
    // Hands the rest of the part back to a fresh expat parser once the scanned element has ended.
    void StartTail();

    static void OnStart(void* self, const char* name, const char** atts);
    static void OnEnd(void* self, const char* name);
    static void OnText(void* self, const char* text, int length);
    static void OnXmlDeclaration(void* self, const char* version, const char* encoding, int standalone);
    static void OnDoctype(void* self, const char* name, const char* sysid, const char* pubid, int hasInternalSubset);
    static void OnEntityDecl(void* self, const char* name, int isParameter, const char* value, int length,
                             const char* base, const char* systemId, const char* publicId, const char* notation);

    XmlHandler& m_handler;
    std::string m_file;
    std::string m_part;
    ::XML_ParserStruct* m_parser = nullptr;
    Mode m_mode = Mode::Expat;
    std::string m_scanElement;
    bool m_notUtf8 = false; // the document declares or starts with another encoding
    bool m_firstBytes = true;
    int64_t m_switchOffset = -1;                 // byte after the scanned element's start tag
    int m_scanBaseDepth = 0;                     // depth of the scanned element
    std::vector<std::string> m_open;             // qualified names of the open elements before the switch
    std::unique_ptr<SheetDataScanner> m_scanner; // while the scanned element's content is read
    int64_t m_chunkOffset = 0;                   // part offset of the data being fed
    int64_t m_tailOffset = 0;                    // part offset minus expat offset, after the switch back
    bool m_replaying = false;                    // feeding the synthetic ancestors of the tail
    std::exception_ptr m_error;
    int m_depth = 0;
    int m_skipDepth = 0; // inside an extLst: elements are not passed on
    // What the current expat parser was given, and where its last event ended: the difference is
    // what expat holds without having made an event of it, the token in progress. (A whole part
    // given at once is not one token: its events end all along it.)
    uint64_t m_parserBytes = 0;
    uint64_t m_lastEventEnd = 0;
    void NoteEvent();
    bool m_capture = false;
};

// The local part of a qualified name ("x:row" -> "row").
inline std::string_view LocalName(const char* name)
{
    std::string_view n(name);
    size_t colon = n.rfind(':');
    return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

// Attribute helpers: whether a value is an xsd:boolean true ("1", "true").
bool XmlTrue(const char* value);

} // namespace gq::engine
