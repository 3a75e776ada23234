// The little-endian helpers: every width stored, appended and loaded against the bytes the formats
// expect, with the high bits set so that a sign extension or a swapped byte shows.
// SPDX-License-Identifier: Apache-2.0
#include "engine/io/LittleEndian.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace gq::engine {
namespace {

struct LeCase {
    int width; // bytes
    uint64_t value;
    std::vector<uint8_t> bytes;
};

const LeCase kCases[] = {
    {2, 0x8001, {0x01, 0x80}},
    {2, 0xFFFE, {0xFE, 0xFF}},
    {4, 0x80C0E0F1, {0xF1, 0xE0, 0xC0, 0x80}},
    {4, 0x00000100, {0x00, 0x01, 0x00, 0x00}},
    {8, 0x8000000000000001, {0x01, 0, 0, 0, 0, 0, 0, 0x80}},
    {8, 0x0102030405060708, {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
};

TEST(LittleEndian, StoresAppendsAndLoadsEveryWidth)
{
    for (const LeCase& c : kCases) {
        SCOPED_TRACE(c.value);
        std::vector<uint8_t> stored(c.bytes.size());
        std::vector<uint8_t> appended{0xAA}; // appends go after what is there
        uint64_t loaded = 0;
        switch (c.width) {
        case 2:
            le::Store16(stored.data(), static_cast<uint16_t>(c.value));
            le::Append16(appended, static_cast<uint16_t>(c.value));
            loaded = le::Load16(c.bytes.data());
            break;
        case 4:
            le::Store32(stored.data(), static_cast<uint32_t>(c.value));
            le::Append32(appended, static_cast<uint32_t>(c.value));
            loaded = le::Load32(c.bytes.data());
            break;
        default:
            le::Store64(stored.data(), c.value);
            le::Append64(appended, c.value);
            loaded = le::Load64(c.bytes.data());
            break;
        }
        EXPECT_EQ(stored, c.bytes);
        EXPECT_EQ(std::vector<uint8_t>(appended.begin() + 1, appended.end()), c.bytes);
        EXPECT_EQ(appended.front(), 0xAA);
        EXPECT_EQ(loaded, c.value);
    }
}

TEST(LittleEndian, DoublesKeepEveryBit)
{
    // -2.5 is 0xC004000000000000; a NaN with payload must come back with the same payload.
    const uint8_t minusTwoAndAHalf[8] = {0, 0, 0, 0, 0, 0, 0x04, 0xC0};
    EXPECT_EQ(le::LoadF64(minusTwoAndAHalf), -2.5);
    for (uint64_t bits : {0xC004000000000000ull, 0x7FF8000000000123ull}) {
        uint8_t stored[8];
        le::Store64(stored, bits);
        std::vector<uint8_t> appended;
        le::AppendF64(appended, le::LoadF64(stored));
        uint8_t again[8];
        le::StoreF64(again, le::LoadF64(stored));
        EXPECT_EQ(le::Load64(again), bits);
        EXPECT_EQ(le::Load64(appended.data()), bits);
    }
}

} // namespace
} // namespace gq::engine
