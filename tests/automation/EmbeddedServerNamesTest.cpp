// Sheet-name rules of the embedded server: case-insensitive matching, refusals, added-sheet names.
#include "automation/SheetNames.h"

#include <gtest/gtest.h>

namespace gq::automation {
namespace {

struct SameCase {
    const char* a;
    const char* b;
    bool same;
};

TEST(EmbeddedServerNames, ComparesWithoutRegardToCase)
{
    const SameCase cases[] = {
        {"Sheet1", "SHEET1", true},
        {"data", "Data", true},
        {"\xC3\x84pfel", "\xC3\xA4PFEL", true},                   // Äpfel / äPFEL
        {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9", true},         // ÉTÉ / été
        {"\xC5\x81\xC3\x93" "D\xC5\xB9", "\xC5\x82\xC3\xB3" "d\xC5\xBA", true}, // ŁÓDŹ / łódź
        {"\xC5\xB8", "\xC3\xBF", true},                           // Ÿ / ÿ
        {"\xCE\xA9\xCE\x9C\xCE\x88\xCE\x93\xCE\x91", "\xCF\x89\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1", true}, // ΩΜΈΓΑ / ωμέγα
        {"\xD0\x94\xD0\x90\xD0\x9D\xD0\x9D\xD0\xAB\xD0\x95", "\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5", true}, // ДАННЫЕ
        {"\xD0\x81", "\xD1\x91", true},                           // Ё / ё
        {"\xE1\xBA\xA0", "\xE1\xBA\xA1", true},                   // Ạ / ạ
        {"Sheet1", "Sheet1 ", false},
        {"\xC3\x84", "A", false},                                 // no accent stripping
        {"\xC3\x97", "\xC3\xB7", false},                          // × is not a capital of ÷
        {"a\xFF" "b", "A\xFF" "B", true},                         // invalid bytes compare exactly
        {"a\xFF", "a\xFE", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameSheetName(c.a, c.b), c.same) << c.a << " vs " << c.b;
    }
}

TEST(EmbeddedServerNames, CountsCharactersNotBytes)
{
    EXPECT_EQ(Utf8Length(""), 0u);
    EXPECT_EQ(Utf8Length("abc"), 3u);
    EXPECT_EQ(Utf8Length("\xC3\xA9t\xC3\xA9"), 3u);
    EXPECT_EQ(Utf8Length("\xF0\x9F\x98\x80"), 1u);
    EXPECT_EQ(Utf8Length("\xFF\xFE"), 2u);
    EXPECT_EQ(Utf8Length("\xC3"), 1u); // a cut sequence is one character
}

struct NameCase {
    std::string name;
    bool accepted;
    const char* expectInMessage;
};

TEST(EmbeddedServerNames, RefusesBadNames)
{
    std::string e = "\xC3\xA9"; // é, two bytes
    std::string e31;
    for (int i = 0; i < 31; ++i) {
        e31 += e;
    }
    const std::vector<std::string> existing{"Sheet1", "\xC3\x89T\xC3\x89", "Data"};
    const NameCase cases[] = {
        {"", false, "empty"},
        {std::string(31, 'x'), true, ""},
        {std::string(32, 'x'), false, "at most 31"},
        {e31, true, ""},
        {e31 + e, false, "32 characters"},
        {"a[b", false, "["},
        {"a]b", false, "]"},
        {"a:b", false, ":"},
        {"a*b", false, "*"},
        {"a?b", false, "?"},
        {"a/b", false, "/"},
        {"a\\b", false, "\\"},
        {"'abc", false, "apostrophe"},
        {"abc'", false, "apostrophe"},
        {"'", false, "apostrophe"},
        {"a'b", true, ""},
        {"sheet1", false, "\"Sheet1\""},
        {"\xC3\xA9t\xC3\xA9", false, "already taken"},
        {"DATA", true, ""}, // the sheet's own name in another case
        {" Data ", true, ""},
        {"Summary 2024", true, ""},
    };
    for (const auto& c : cases) {
        auto problem = SheetNameProblem(c.name, existing, 2);
        EXPECT_EQ(!problem.has_value(), c.accepted) << c.name;
        if (problem) {
            EXPECT_NE(problem->find(c.expectInMessage), std::string::npos) << *problem;
            EXPECT_NE(problem->back(), '.');
        }
    }
}

TEST(EmbeddedServerNames, AddedSheetsCountUpAndNeverReuseANumber)
{
    const struct {
        std::vector<std::string> existing;
        uint64_t lastNumber;
        const char* next;
    } cases[] = {
        {{}, 0, "Sheet1"},
        {{"Sheet1"}, 0, "Sheet2"},
        {{"Sheet2"}, 0, "Sheet3"},             // counts up from the highest in use
        {{"sheet1", "SHEET2"}, 0, "Sheet3"},   // without regard to case
        {{"Sheet1", "Sheet3"}, 0, "Sheet4"},
        {{"Sheet1", "Data", "Sheet01"}, 0, "Sheet2"}, // "Sheet01" is not a number this hands out
        {{"Data", "Sheet1"}, 2, "Sheet3"},     // Sheet2 was handed out and renamed: not again
        {{"Sheet99999999999999999999"}, 0, "Sheet1"}, // too long to be a counter
    };
    for (const auto& c : cases) {
        uint64_t last = c.lastNumber;
        EXPECT_EQ(NextSheetName(c.existing, last), c.next);
        EXPECT_EQ("Sheet" + std::to_string(last), c.next);
    }
}

} // namespace
} // namespace gq::automation
