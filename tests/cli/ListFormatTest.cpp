// The list format: escapes round-trip every byte, and malformed lines fail with their line number.
// SPDX-License-Identifier: Apache-2.0
#include "cli/ListFormat.h"

#include <gtest/gtest.h>

#include <sstream>

namespace gq::cli {
namespace {

using catalogue::SheetEntry;

struct EscapeCase {
    std::string raw;
    std::string escaped;
};

TEST(ListFormat, EscapesOnlyTabsLineBreaksAndBackslashes)
{
    const std::vector<EscapeCase> cases = {
        {"Sales", "Sales"},
        {"Q1\tQ2", "Q1\\tQ2"},
        {"two\nlines", "two\\nlines"},
        {"cr\rlf\n", "cr\\rlf\\n"},
        {"C:\\data\\book.xls", "C:\\\\data\\\\book.xls"},
        {"\\t is not a tab", "\\\\t is not a tab"},
        {"Übersicht 2024 \xE2\x80\x94 Ost", "Übersicht 2024 \xE2\x80\x94 Ost"},
        {"", ""},
    };
    for (const EscapeCase& c : cases) {
        EXPECT_EQ(EscapeField(c.raw), c.escaped) << c.raw;
        EXPECT_EQ(UnescapeField(c.escaped), c.raw) << c.escaped;
        EXPECT_EQ(c.escaped.find_first_of("\t\n\r"), std::string::npos) << c.escaped;
    }
}

TEST(ListFormat, EveryByteSurvivesARoundTrip)
{
    std::string all;
    for (int b = 1; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    const SheetEntry entry{all, "/data/" + all};
    SheetEntry back;
    ASSERT_TRUE(ParseEntry(FormatEntry(entry), 1, back));
    EXPECT_EQ(back, entry);
}

TEST(ListFormat, BadEscapesAreRefused)
{
    for (const std::string bad : {"ends in \\", "\\x41", "\\T", "a\\ b"}) {
        EXPECT_THROW(UnescapeField(bad), std::invalid_argument) << bad;
    }
}

struct LineCase {
    std::string line;
    bool entry;           // false: the line is skipped
    std::string sheet;
    std::string file;
    std::string error;    // non-empty: a ListFormatError whose message contains this
};

TEST(ListFormat, ParsesLines)
{
    const std::vector<LineCase> cases = {
        {"Sales\t/r/a.xlsx", true, "Sales", "/r/a.xlsx", ""},
        {"Sales\t/r/a.xlsx\r", true, "Sales", "/r/a.xlsx", ""}, // written on another system
        {"\t/r/a.xlsx", true, "", "/r/a.xlsx", ""},            // an empty name is a name
        {"a\\tb\t/r/x\\ny.xls", true, "a\tb", "/r/x\ny.xls", ""},
        {"", false, "", "", ""},
        {"\r", false, "", "", ""},
        {"Sales /r/a.xlsx", false, "", "", "no tab"},
        {"Sales\t/r/a.xlsx\textra", false, "", "", "more than one tab"},
        {"Sales\t", false, "", "", "path is empty"},
        {"Sa\\les\t/r/a.xlsx", false, "", "", "unknown escape"},
    };
    for (const LineCase& c : cases) {
        SheetEntry entry;
        if (!c.error.empty()) {
            try {
                ParseEntry(c.line, 7, entry);
                ADD_FAILURE() << "accepted: " << c.line;
            } catch (const ListFormatError& e) {
                EXPECT_EQ(e.Line(), 7u);
                EXPECT_NE(std::string(e.what()).find("line 7"), std::string::npos) << e.what();
                EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
            }
            continue;
        }
        EXPECT_EQ(ParseEntry(c.line, 1, entry), c.entry) << c.line;
        if (c.entry) {
            EXPECT_EQ(entry.SheetName, c.sheet);
            EXPECT_EQ(entry.FileName, c.file);
        }
    }
}

TEST(ListFormat, ReadListSkipsEmptyLinesAndCountsThem)
{
    std::istringstream in("A\t/x.xlsx\n\nB\t/y.xls\r\n\nbroken line\n");
    try {
        ReadList(in);
        ADD_FAILURE() << "a broken line was accepted";
    } catch (const ListFormatError& e) {
        EXPECT_EQ(e.Line(), 5u);
    }
    std::istringstream good("A\t/x.xlsx\n\nB\t/y.xls\r\nC\t/z.xlsx");
    const std::vector<SheetEntry> expected = {{"A", "/x.xlsx"}, {"B", "/y.xls"}, {"C", "/z.xlsx"}};
    EXPECT_EQ(ReadList(good), expected);
}

} // namespace
} // namespace gq::cli
