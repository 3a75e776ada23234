// Tests of XmlBuilder, the xlsx writer's helper for the parts written once per file: what each
// call appends, escaping included.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxWriterXml.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace gq::engine::xlsxout {
namespace {

struct BuilderCase {
    const char* name;
    std::function<void(XmlBuilder&)> build;
    std::string expected;
};

TEST(XlsxWriterXml, BuilderAppendsEscapedMarkup)
{
    const BuilderCase cases[] = {
        {"empty element", [](XmlBuilder& x) { x.Start("b").EndEmpty(); }, "<b/>"},
        {"text attribute escaped", [](XmlBuilder& x) { x.Start("s").Attribute("name", "a&b<\"c\">\t").EndEmpty(); },
         "<s name=\"a&amp;b&lt;&quot;c&quot;&gt;&#9;\"/>"},
        {"integer attribute", [](XmlBuilder& x) { x.Start("c").Attribute("min", 16384u).EndEmpty(); },
         "<c min=\"16384\"/>"},
        {"number attribute", [](XmlBuilder& x) { x.Start("sz").NumberAttribute("val", 10.5).EndEmpty(); },
         "<sz val=\"10.5\"/>"},
        {"negative zero", [](XmlBuilder& x) { x.Start("sz").NumberAttribute("val", -0.0).EndEmpty(); },
         "<sz val=\"0\"/>"},
        {"element with content", [](XmlBuilder& x) { x.Start("a").EndStart().Start("b").EndEmpty().End("a"); },
         "<a><b/></a>"},
        {"text element escaped", [](XmlBuilder& x) { x.TextElement("t", "x<y & _x0041_"); },
         "<t>x&lt;y &amp; _x005F_x0041_</t>"},
    };
    for (const BuilderCase& c : cases) {
        std::string out = "<?>";
        XmlBuilder xml(out);
        c.build(xml);
        EXPECT_EQ(out, "<?>" + c.expected) << c.name;
    }
}

} // namespace
} // namespace gq::engine::xlsxout
