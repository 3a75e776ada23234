// The JSON reader that the corpus tests read their oracle files with: what Python writes comes out
// as written, and broken text is an error that says where, not a value that compares wrongly.
// SPDX-License-Identifier: Apache-2.0
#include "tests/support/Json.h"

#include <gtest/gtest.h>

namespace gq::test {
namespace {

TEST(OracleJson, ReadsWhatPythonWrites)
{
    const Json j =
        Json::Parse(R"( {"n": [3, -0, 2.5, 1e2, 123456789012345678901234567890], "s": "a\"\\\/\n\u00e9\ud83d\ude00",
                                   "lone": "\ud800x\udc00\ud800\u0041", "b": [true, false, null], "raw": "caf)"
                    "\xC3\xA9"
                    R"("} )");
    const Json::Array& n = j["n"].Items();
    ASSERT_EQ(n.size(), 5u);
    EXPECT_EQ(n[0].Integer(), 3);
    EXPECT_TRUE(n[1].IsInteger());
    EXPECT_FALSE(n[2].IsInteger());
    EXPECT_EQ(n[2].Number(), 2.5);
    EXPECT_FALSE(n[3].IsInteger()) << "an exponent makes a real";
    EXPECT_EQ(n[3].Number(), 100.0);
    EXPECT_FALSE(n[4].IsInteger()) << "past 64 bits only the double is kept";
    EXPECT_THROW(n[4].Integer(), JsonError);
    EXPECT_EQ(j["s"].Str(), "a\"\\/\n\xC3\xA9\xF0\x9F\x98\x80");
    // A surrogate that is not half of a pair stands for no character.
    EXPECT_EQ(j["lone"].Str(), "\xEF\xBF\xBDx\xEF\xBF\xBD\xEF\xBF\xBD"
                               "A");
    EXPECT_TRUE(j["b"].Items()[0].Bool());
    EXPECT_FALSE(j["b"].Items()[1].Bool());
    EXPECT_TRUE(j["b"].Items()[2].IsNull());
    EXPECT_EQ(j["raw"].Str(), "caf\xC3\xA9");
    EXPECT_TRUE(j["missing"]["deeper"].IsNull());
    EXPECT_THROW(j["s"].Bool(), JsonError);
    EXPECT_THROW(j["missing"].Number(), JsonError);
}

TEST(OracleJson, BrokenTextIsAnErrorThatSaysWhere)
{
    const struct {
        const char* text;
        const char* says;
    } cases[] = {
        {"", "unexpected end of the text at line 1, column 1"},
        {"{\"a\": 1,\n \"b\" 2}", "expected ':' at line 2, column 6"},
        {"[1, 2", "unexpected end of the text at line 1, column 6"},
        {"[1 2]", "expected ']'"},
        {"{1: 2}", "expected a member name"},
        {"\"open", "without its closing quote"},
        {"\"tab\there\"", "control character"},
        {"\"\\x\"", "unknown escape"},
        {"\"\\u12zz\"", "four hex digits"},
        {"\"\xC3(\"", "not UTF-8"},
        {"01", "text after the value"},
        {"1.", "digits after the point"},
        {"-", "without digits"},
        {"NaN", "expected a value"},
        {"[] []", "text after the value"},
    };
    for (const auto& c : cases) {
        try {
            Json::Parse(c.text);
            ADD_FAILURE() << c.text << ": no error";
        } catch (const JsonError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << c.text << ": " << e.what();
        }
    }
}

} // namespace
} // namespace gq::test
