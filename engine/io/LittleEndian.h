// Little-endian loads, stores and appends of 16-, 32- and 64-bit values and doubles, for every binary format.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <bit>
#include <cstdint>
#include <vector>

namespace gq::engine::le {

// These work on raw pointers and do no bounds checks: readers check a record's length once, at the
// door (ByteReader, or a length test before a fixed layout), and writers have grown their buffer
// first. Written byte by byte, so they give the same bytes on any host; compilers turn each into a
// single load or store.

inline uint16_t Load16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t Load32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

inline uint64_t Load64(const uint8_t* p)
{
    return Load32(p) | (static_cast<uint64_t>(Load32(p + 4)) << 32);
}

inline double LoadF64(const uint8_t* p)
{
    return std::bit_cast<double>(Load64(p));
}

inline void Store16(uint8_t* p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void Store32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void Store64(uint8_t* p, uint64_t v)
{
    Store32(p, static_cast<uint32_t>(v));
    Store32(p + 4, static_cast<uint32_t>(v >> 32));
}

inline void StoreF64(uint8_t* p, double v)
{
    Store64(p, std::bit_cast<uint64_t>(v));
}

// Appending versions for writers that build their output in a byte vector.
inline void Append16(std::vector<uint8_t>& out, uint16_t v)
{
    uint8_t b[2];
    Store16(b, v);
    out.insert(out.end(), b, b + 2);
}

inline void Append32(std::vector<uint8_t>& out, uint32_t v)
{
    uint8_t b[4];
    Store32(b, v);
    out.insert(out.end(), b, b + 4);
}

inline void Append64(std::vector<uint8_t>& out, uint64_t v)
{
    uint8_t b[8];
    Store64(b, v);
    out.insert(out.end(), b, b + 8);
}

inline void AppendF64(std::vector<uint8_t>& out, double v)
{
    Append64(out, std::bit_cast<uint64_t>(v));
}

} // namespace gq::engine::le
