// The BIFF8 byte stream the .xls writer builds: records with their lengths filled in afterwards,
// and the putters for the strings and ranges that records share.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/io/LittleEndian.h"
#include "engine/model/Workbook.h"
#include "engine/text/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <string_view>

namespace gq::engine::biff {

inline constexpr size_t kMaxRecordBody = limits::kMaxBiffRecordBytes;

// The Workbook stream under construction. The globals are built in memory because BoundSheet8
// and ExtSST hold absolute stream offsets that are known only once later records are written;
// the writer hands finished sheets on to a staging file. It
// grows with realloc, which for large blocks remaps pages instead of copying them and does not
// zero-fill what is about to be written anyway.
class BiffStream {
public:
    BiffStream() = default;
    BiffStream(const BiffStream&) = delete;
    BiffStream& operator=(const BiffStream&) = delete;
    ~BiffStream() { std::free(m_data); }

    size_t Size() const { return m_size; }
    std::span<const uint8_t> Bytes() const { return {m_data, m_size}; }
    // Drops what was written after the first `size` bytes (handed on elsewhere).
    void Truncate(size_t size) { m_size = std::min(size, m_size); }
    uint8_t* At(size_t pos) { return m_data + pos; }

    void Reserve(size_t capacity)
    {
        if (capacity > m_capacity) {
            auto* grown = static_cast<uint8_t*>(std::realloc(m_data, capacity));
            if (grown == nullptr) {
                throw std::bad_alloc();
            }
            m_data = grown;
            m_capacity = capacity;
        }
    }
    uint8_t* Grow(size_t n)
    {
        if (n > m_capacity - m_size) {
            Reserve(std::max(m_capacity + m_capacity / 2, m_size + n + 65536));
        }
        uint8_t* p = m_data + m_size;
        m_size += n;
        return p;
    }
    void U8(uint32_t v) { *Grow(1) = static_cast<uint8_t>(v); }
    void U16(uint32_t v) { le::Store16(Grow(2), static_cast<uint16_t>(v)); }
    void U32(uint32_t v) { le::Store32(Grow(4), v); }
    void F64(double v) { le::StoreF64(Grow(8), v); }
    void Raw(const void* data, size_t n)
    {
        if (n) {
            std::memcpy(Grow(n), data, n);
        }
    }
    void Zeros(size_t n) { std::memset(Grow(n), 0, n); }

    // A record: Begin writes the header with a zero length, End fills the length in.
    size_t Begin(uint16_t type)
    {
        size_t at = m_size;
        uint8_t* p = Grow(4);
        le::Store16(p, type);
        le::Store16(p + 2, 0);
        return at;
    }
    size_t BodySize(size_t at) const { return m_size - at - 4; }
    void End(size_t at)
    {
        size_t len = BodySize(at);
        if (len > kMaxRecordBody) {
            // Every caller splits or bounds its records; reaching this is a bug in this writer.
            throw EngineError("internal error: a BIFF record outgrew 8,224 bytes");
        }
        le::Store16(At(at + 2), static_cast<uint32_t>(len));
    }

private:
    uint8_t* m_data = nullptr;
    size_t m_capacity = 0;
    size_t m_size = 0;
};

// UTF-8 to UTF-16; malformed sequences become U+FFFD so that any text the model holds can be written.
inline void ToUtf16(std::string_view text, std::u16string& out)
{
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        auto c = static_cast<uint8_t>(text[i]);
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        }
        char32_t cp = DecodeUtf8(text, i);
        if (cp == kNotUtf8) {
            out.push_back(0xFFFD);
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
}

inline bool FitsLatin1(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c <= 0xFF; });
}

inline bool IsAscii(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; });
}

// The characters of a string in the form BIFF8 stores them: one byte each ("compressed", the low
// bytes of Latin-1 text) or UTF-16LE, [MS-XLS] 2.5.294 XLUnicodeString.
inline void PutChars(BiffStream& out, std::u16string_view text, bool compressed)
{
    uint8_t* p = out.Grow(text.size() * (compressed ? 1 : 2));
    for (char16_t c : text) {
        *p++ = static_cast<uint8_t>(c);
        if (!compressed) {
            *p++ = static_cast<uint8_t>(c >> 8);
        }
    }
}

// ShortXLUnicodeString (8-bit count) or XLUnicodeString (16-bit count).
inline void PutUnicodeString(BiffStream& out, std::u16string_view text, bool shortCount)
{
    bool compressed = FitsLatin1(text);
    if (shortCount) {
        out.U8(static_cast<uint32_t>(text.size()));
    } else {
        out.U16(static_cast<uint32_t>(text.size()));
    }
    out.U8(compressed ? 0 : 1);
    PutChars(out, text, compressed);
}

// Ref8 ([MS-XLS]): first row, last row, first column, last column.
inline void PutRef8(BiffStream& out, const CellRange& range)
{
    out.U16(range.firstRow);
    out.U16(range.lastRow);
    out.U16(range.firstCol);
    out.U16(range.lastCol);
}

} // namespace gq::engine::biff
