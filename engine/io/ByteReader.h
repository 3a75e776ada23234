// A bounds-checked little-endian reader over a span of bytes: the one way binary parsers read.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/Errors.h"
#include "engine/io/LittleEndian.h"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

namespace gq::engine {

// Every read checks that the bytes are there before touching them, with comparisons that cannot
// overflow (`pos > size || len > size - pos`), and throws a FormatError naming the file, the part
// and the absolute offset of the failed read otherwise. `base` is the offset of the span's first
// byte inside the part, so that messages point at the right place in the stream.
class ByteReader {
public:
    ByteReader(std::span<const uint8_t> data, const std::string* file, const char* part, uint64_t base = 0)
        : m_data(data), m_file(file), m_part(part), m_base(base)
    {
    }

    size_t Size() const { return m_data.size(); }
    size_t Pos() const { return m_pos; }
    size_t Left() const { return m_data.size() - m_pos; }
    bool AtEnd() const { return m_pos >= m_data.size(); }
    std::span<const uint8_t> Data() const { return m_data; }

    bool Has(size_t len) const { return len <= m_data.size() - m_pos; }

    void Seek(size_t pos)
    {
        if (pos > m_data.size()) {
            Fail("a position lies beyond the end of the data", pos);
        }
        m_pos = pos;
    }
    void Skip(size_t len)
    {
        Need(len);
        m_pos += len;
    }

    uint8_t U8()
    {
        Need(1);
        return m_data[m_pos++];
    }
    uint16_t U16()
    {
        Need(2);
        uint16_t v = le::Load16(m_data.data() + m_pos);
        m_pos += 2;
        return v;
    }
    uint32_t U32()
    {
        Need(4);
        uint32_t v = le::Load32(m_data.data() + m_pos);
        m_pos += 4;
        return v;
    }
    uint64_t U64()
    {
        Need(8);
        uint64_t v = le::Load64(m_data.data() + m_pos);
        m_pos += 8;
        return v;
    }
    double F64() { return std::bit_cast<double>(U64()); }
    // The next `len` bytes, without copying.
    std::span<const uint8_t> Bytes(size_t len)
    {
        Need(len);
        auto s = m_data.subspan(m_pos, len);
        m_pos += len;
        return s;
    }

    // Throws a FormatError about the byte at `pos` (relative to the span).
    [[noreturn]] void Fail(const std::string& problem, size_t pos) const
    {
        throw FormatError(m_file != nullptr ? *m_file : std::string(), problem, m_part != nullptr ? m_part : "",
                          static_cast<int64_t>(m_base + pos));
    }
    [[noreturn]] void Fail(const std::string& problem) const { Fail(problem, m_pos); }

private:
    void Need(size_t len) const
    {
        if (m_pos > m_data.size() || len > m_data.size() - m_pos) {
            Fail("the data ends early (" + std::to_string(len) + " bytes needed, " +
                     std::to_string(m_pos > m_data.size() ? 0 : m_data.size() - m_pos) + " left)",
                 m_pos);
        }
    }

    std::span<const uint8_t> m_data;
    const std::string* m_file;
    const char* m_part;
    uint64_t m_base;
    size_t m_pos = 0;
};

} // namespace gq::engine
