// The small text helpers that replaced copies whose behaviour differed: digit groups (signed and
// unsigned callers), clock limits (strict ISO dates against xlsx date cells) and UTF-16 decoding.
// SPDX-License-Identifier: Apache-2.0
#include "common/NumberText.h"
#include "engine/text/IsoDate.h"
#include "engine/text/Utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace gq::engine {
namespace {

TEST(SharedText, ThousandsGroupSignedAndUnsigned)
{
    EXPECT_EQ(Thousands(0), "0");
    EXPECT_EQ(Thousands(999), "999");
    EXPECT_EQ(Thousands(uint32_t{1000}), "1,000");
    EXPECT_EQ(Thousands(uint64_t{1048576}), "1,048,576");
    EXPECT_EQ(Thousands(int64_t{-123}), "-123");
    EXPECT_EQ(Thousands(int64_t{-1234}), "-1,234");
    EXPECT_EQ(Thousands(std::numeric_limits<int64_t>::min()), "-9,223,372,036,854,775,808");
    EXPECT_EQ(Thousands(std::numeric_limits<uint64_t>::max()), "18,446,744,073,709,551,615");
}

TEST(SharedText, XlsxDatesAreLooserThanIsoDates)
{
    struct Case {
        const char* text;
        std::optional<double> iso;  // IsoDateSerial (CSV)
        std::optional<double> xlsx; // XlsxDateSerial, 1900 system
    };
    const Case cases[] = {
        {"2021-01-01T12:00", 44197.5, 44197.5},         {"2021-01-01T24:00", std::nullopt, 44198.0},
        {"2021-01-01T23:59:60", std::nullopt, 44198.0}, {"2021-02-30", std::nullopt, 44257.0},
        {"2021-01-01T12:00Z", std::nullopt, 44197.5},   {"2021-01-01T25:00", std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        bool hasTime = false;
        EXPECT_EQ(IsoDateSerial(c.text, hasTime), c.iso) << c.text;
        EXPECT_EQ(XlsxDateSerial(c.text, false), c.xlsx) << c.text;
    }
}

TEST(SharedText, Utf16UnitsPairSurrogatesAndReplaceLoneOnes)
{
    struct Case {
        std::vector<uint32_t> units;
        std::string utf8;
    };
    const Case cases[] = {
        {{0x41, 0xE9}, "A\xC3\xA9"},
        {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {{0xD83D}, "\xEF\xBF\xBD"},
        {{0xD83D, 0x41},
         "\xEF\xBF\xBD"
         "A"},
        {{0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Case& c : cases) {
        std::string out;
        AppendUtf16Units(
            c.units.size(), [&](size_t i) { return c.units[i]; }, out);
        EXPECT_EQ(out, c.utf8);
    }
}

} // namespace
} // namespace gq::engine
