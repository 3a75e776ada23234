// The XML parser's own scanner against expat: the same events for the same documents, however the
// bytes are split into pieces, and the same refusals for documents that are not well formed.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xml/XmlParser.h"
#include "engine/Errors.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace gq::engine {
namespace {

// Records every event as text; adjacent texts are joined, since pieces may split them anywhere.
class Recorder : public XmlHandler {
public:
    XmlParser* parser = nullptr;
    std::vector<std::string> events;
    void StartElement(std::string_view name, const XmlAttributes& atts) override
    {
        std::string e = "<" + std::string(name);
        for (const char** a = atts.Raw(); *a != nullptr; a += 2) {
            e += " " + std::string(a[0]) + "=[" + a[1] + "]";
        }
        events.push_back(e + ">");
        parser->CaptureText(true);
    }
    void EndElement(std::string_view name) override { events.push_back("</" + std::string(name) + ">"); }
    void Text(std::string_view text) override
    {
        if (!events.empty() && events.back().rfind("T:", 0) == 0) {
            events.back() += text;
        } else {
            events.push_back("T:" + std::string(text));
        }
    }
};

std::vector<std::string> Parse(const std::string& doc, bool scanner, size_t piece)
{
    XmlParser::EnableScanner(scanner);
    Recorder r;
    XmlParser p(r, "f.xlsx", "sheet.xml");
    r.parser = &p;
    p.ScanContentOf("sheetData");
    try {
        for (size_t i = 0; i < doc.size(); i += piece) {
            size_t n = std::min(piece, doc.size() - i);
            p.Feed(doc.data() + i, n, i + n == doc.size());
        }
    } catch (...) {
        XmlParser::EnableScanner(true);
        throw;
    }
    XmlParser::EnableScanner(true);
    return r.events;
}

const char* const kDocuments[] = {
    R"(<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="urn:x"><dimension ref="A1"/><sheetData>)"
    R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r='B1' t="inlineStr"><is><t xml:space="preserve"> a &amp; b &lt;&gt; &quot;&apos; &#65;&#x42;&#x20AC; </t></is></c></row>)"
    R"(<row r="2" x:ht = "15" ><c r="A2"><f>SUM(A1:A1)&gt;0</f><v>1.5</v></c><c r="B2" t="str"><v><![CDATA[<raw> & text]]></v></c></row>)"
    R"(<!-- a comment with <tags> --><?pi data?><row r="3"><c r="C3" a="x&gt;y" b="line&#10;end" c="t	ab
new"/></row>)"
    "<row r=\"4\"><c><v>caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80</v></c><c><v>cr\r\nlf\rx</v></c></row>"
    R"(</sheetData><mergeCells><mergeCell ref="A1:B1"/></mergeCells><extLst><ext><x14:sheetData/></ext></extLst></worksheet>)",
    R"(<x:worksheet xmlns:x="urn:x"><x:sheetData><x:row><x:c><x:v>1</x:v></x:c></x:row></x:sheetData></x:worksheet>)",
    R"(<worksheet><sheetData/><after/></worksheet>)",
    R"(<worksheet><sheetData></sheetData></worksheet>)",
    R"(<worksheet><a><sheetData><row/></sheetData></a><sheetData><row r="9"/></sheetData></worksheet>)",
};

TEST(XlsxXmlParser, ScannerGivesExpatsEventsInAnyPieces)
{
    for (const char* doc : kDocuments) {
        SCOPED_TRACE(doc);
        auto expected = Parse(doc, false, std::string(doc).size());
        ASSERT_FALSE(expected.empty());
        for (size_t piece : {size_t{1}, size_t{2}, size_t{7}, size_t{64}, size_t{1} << 20}) {
            EXPECT_EQ(Parse(doc, true, piece), expected) << "pieces of " << piece;
        }
    }
}

TEST(XlsxXmlParser, ScannerRefusesWhatExpatRefuses)
{
    const std::string head = R"(<worksheet><sheetData><row r="1">)";
    const std::string tail = R"(</row></sheetData></worksheet>)";
    const char* const bodies[] = {
        R"(<c><v>&nbsp;</v></c>)", // undefined entity
        R"(<c><v>a & b</v></c>)",  // bare ampersand
        R"(<c><v>1</x></c>)",      // mismatched end tag
        R"(<c a="<"/>)",           // '<' in an attribute value
        R"(<c a=1/>)",             // unquoted attribute
        R"(<c a="1"b="2"/>)",      // no space between attributes
        R"(<c><v>&#0;</v></c>)",   // reference to a forbidden character
        "<c><v>\xC3\x28</v></c>",  // invalid UTF-8
        "<c><v>\x01</v></c>",      // a control character
        R"(<!DOCTYPE x><c/>)",     // a declaration inside the content
        R"(<c></row>)",            // closes the wrong element
    };
    for (const char* body : bodies) {
        SCOPED_TRACE(body);
        std::string doc = head + body + tail;
        EXPECT_THROW(Parse(doc, false, doc.size()), FormatError);
        for (size_t piece : {size_t{1}, size_t{5}, doc.size()}) {
            EXPECT_THROW(Parse(doc, true, piece), FormatError) << "pieces of " << piece;
        }
    }
    // Ending inside the scanned content is an error too, not a silent stop.
    EXPECT_THROW(Parse(head, true, head.size()), FormatError);
    EXPECT_THROW(Parse(head + "<c><v>1</v></c></row>", true, 3), FormatError);
}

TEST(XlsxXmlParser, Utf16DocumentsStayWithExpat)
{
    std::string utf8 = R"(<worksheet><sheetData><row><c><v>é</v></c></row></sheetData></worksheet>)";
    std::string utf16 = "\xFF\xFE";
    for (unsigned char c : std::string(R"(<worksheet><sheetData><row><c><v>)")) {
        utf16 += static_cast<char>(c);
        utf16 += '\0';
    }
    utf16 += "\xE9";
    utf16 += '\0';
    for (unsigned char c : std::string(R"(</v></c></row></sheetData></worksheet>)")) {
        utf16 += static_cast<char>(c);
        utf16 += '\0';
    }
    EXPECT_EQ(Parse(utf16, true, 3), Parse(utf8, false, utf8.size()));
}

} // namespace
} // namespace gq::engine
