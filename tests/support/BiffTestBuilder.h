// Builds small .xls files byte by byte for tests and benchmarks: BIFF8/BIFF5 records, a workbook
// stream with its sheets' positions patched in, and an OLE2 compound file around it. The output is
// valid by construction, so a test can poke exactly one field and expect exactly one error.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace gq::test::biff {

class Bytes {
public:
    Bytes& U8(uint32_t v)
    {
        m_b.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    Bytes& U16(uint32_t v) { return U8(v & 0xFF).U8((v >> 8) & 0xFF); }
    Bytes& U32(uint32_t v) { return U16(v & 0xFFFF).U16(v >> 16); }
    Bytes& F64(double d)
    {
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        return U32(static_cast<uint32_t>(bits)).U32(static_cast<uint32_t>(bits >> 32));
    }
    Bytes& Raw(const std::vector<uint8_t>& v)
    {
        m_b.insert(m_b.end(), v.begin(), v.end());
        return *this;
    }
    Bytes& Ascii(const std::string& s)
    {
        m_b.insert(m_b.end(), s.begin(), s.end());
        return *this;
    }
    // UTF-16LE code units of an ASCII string.
    Bytes& Wide(const std::string& s)
    {
        for (char c : s) {
            U16(static_cast<uint8_t>(c));
        }
        return *this;
    }
    // XLUnicodeString with compressed (8-bit) characters.
    Bytes& XLString(const std::string& s) { return U16(static_cast<uint32_t>(s.size())).U8(0).Ascii(s); }
    Bytes& ShortXLString(const std::string& s) { return U8(static_cast<uint32_t>(s.size())).U8(0).Ascii(s); }
    const std::vector<uint8_t>& Data() const { return m_b; }
    std::vector<uint8_t>& Data() { return m_b; }
    size_t Size() const { return m_b.size(); }

private:
    std::vector<uint8_t> m_b;
};

// One record: type, 16-bit length, body. The length is written as given, so tests can lie.
inline std::vector<uint8_t> Record(uint16_t type, const std::vector<uint8_t>& body)
{
    Bytes b;
    b.U16(type).U16(static_cast<uint32_t>(body.size())).Raw(body);
    return b.Data();
}
inline std::vector<uint8_t> Record(uint16_t type, const Bytes& body) { return Record(type, body.Data()); }

inline std::vector<uint8_t> Bof(uint16_t version, uint16_t kind)
{
    Bytes b;
    b.U16(version).U16(kind).U16(0x0DBB).U16(0x07CC).U32(0).U32(6);
    return Record(0x0809, b);
}
inline std::vector<uint8_t> Eof() { return Record(0x000A, std::vector<uint8_t>{}); }

struct Sheet {
    std::string name;
    uint8_t state = 0;     // 0 visible, 1 hidden, 2 very hidden
    uint8_t type = 0;      // BoundSheet8 dt: 0 worksheet or dialog, 2 chart
    uint16_t bofKind = 0x0010;
    std::vector<uint8_t> records; // between the sheet's BOF and EOF
};

// A workbook stream: BOF, `globals`, one BoundSheet per sheet, `afterSheets` (SST goes here), EOF,
// then each sheet's substream.
struct WorkbookStream {
    bool biff5 = false;
    std::vector<uint8_t> globals;
    std::vector<uint8_t> afterSheets;
    std::vector<Sheet> sheets;

    void Add(std::vector<uint8_t>& into, const std::vector<uint8_t>& rec) const { into.insert(into.end(), rec.begin(), rec.end()); }

    std::vector<uint8_t> Build() const
    {
        uint16_t version = biff5 ? 0x0500 : 0x0600;
        std::vector<uint8_t> out;
        Add(out, Bof(version, 0x0005));
        Add(out, globals);
        std::vector<size_t> patch;
        for (const Sheet& s : sheets) {
            Bytes b;
            b.U32(0).U8(s.state).U8(s.type);
            if (biff5) {
                b.U8(static_cast<uint32_t>(s.name.size())).Ascii(s.name);
            } else {
                b.ShortXLString(s.name);
            }
            patch.push_back(out.size() + 4);
            Add(out, Record(0x0085, b));
        }
        Add(out, afterSheets);
        Add(out, Eof());
        for (size_t i = 0; i < sheets.size(); ++i) {
            auto pos = static_cast<uint32_t>(out.size());
            std::memcpy(out.data() + patch[i], &pos, 4);
            Add(out, Bof(version, sheets[i].bofKind));
            Add(out, sheets[i].records);
            Add(out, Eof());
        }
        return out;
    }
};

// Where the parts of a built compound file lie, for tests that poke them.
struct CompoundLayout {
    std::vector<uint8_t> bytes;
    uint32_t sectorSize = 512;
    size_t fatOffset = 0;           // byte offset of the first FAT sector
    size_t directoryOffset = 0;     // byte offset of the directory sector
    uint32_t firstStreamSector = 0; // of the first stream
    size_t SectorOffset(uint32_t sector) const { return (static_cast<size_t>(sector) + 1) * sectorSize; }
};

// An OLE2 compound file ([MS-CFB]) holding the given streams below the root, each in regular
// sectors (streams are padded with zeros to 4,096 bytes so that none goes to the mini stream).
// Sector size 512 (version 3) or 4096 (version 4, for large streams).
inline CompoundLayout CompoundFile(std::vector<std::pair<std::string, std::vector<uint8_t>>> streams,
                                   uint32_t sectorSize = 512)
{
    CompoundLayout layout;
    layout.sectorSize = sectorSize;
    const uint32_t perFat = sectorSize / 4;
    for (auto& s : streams) {
        if (s.second.size() < 4096) {
            s.second.resize(4096, 0);
        }
    }
    std::vector<uint32_t> streamSectors;
    uint32_t dataSectors = 0;
    for (auto& s : streams) {
        auto n = static_cast<uint32_t>((s.second.size() + sectorSize - 1) / sectorSize);
        streamSectors.push_back(n);
        dataSectors += n;
    }
    uint32_t dirEntries = static_cast<uint32_t>(streams.size()) + 1;
    uint32_t dirSectors = (dirEntries * 128 + sectorSize - 1) / sectorSize;
    uint32_t fatSectors = 1;
    while (fatSectors * perFat < fatSectors + dirSectors + dataSectors) {
        ++fatSectors;
    }
    if (fatSectors > 109) {
        return layout; // larger than the builder supports without DIFAT sectors
    }
    uint32_t total = fatSectors + dirSectors + dataSectors;
    std::vector<uint32_t> fat(static_cast<size_t>(fatSectors) * perFat, 0xFFFFFFFF);
    for (uint32_t i = 0; i < fatSectors; ++i) {
        fat[i] = 0xFFFFFFFD;
    }
    for (uint32_t i = 0; i < dirSectors; ++i) {
        fat[fatSectors + i] = i + 1 < dirSectors ? fatSectors + i + 1 : 0xFFFFFFFE;
    }
    uint32_t next = fatSectors + dirSectors;
    std::vector<uint32_t> starts;
    for (uint32_t n : streamSectors) {
        starts.push_back(next);
        for (uint32_t i = 0; i < n; ++i) {
            fat[next + i] = i + 1 < n ? next + i + 1 : 0xFFFFFFFE;
        }
        next += n;
    }
    Bytes out;
    // Header, [MS-CFB] 2.2.
    out.Raw({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1});
    for (int i = 0; i < 16; ++i) {
        out.U8(0);
    }
    out.U16(0x003E).U16(sectorSize == 512 ? 3 : 4).U16(0xFFFE).U16(sectorSize == 512 ? 9 : 12).U16(6);
    for (int i = 0; i < 6; ++i) {
        out.U8(0);
    }
    out.U32(sectorSize == 512 ? 0 : dirSectors).U32(fatSectors).U32(fatSectors).U32(0).U32(4096);
    out.U32(0xFFFFFFFE).U32(0).U32(0xFFFFFFFE).U32(0);
    for (uint32_t i = 0; i < 109; ++i) {
        out.U32(i < fatSectors ? i : 0xFFFFFFFF);
    }
    out.Data().resize(sectorSize, 0);
    layout.fatOffset = out.Size();
    for (uint32_t v : fat) {
        out.U32(v);
    }
    layout.directoryOffset = out.Size();
    // Directory: the root, then the streams as a right-leaning chain of siblings.
    auto entry = [&](const std::string& name, uint8_t type, uint32_t left, uint32_t right, uint32_t child,
                     uint32_t start, uint64_t size) {
        Bytes e;
        e.Wide(name);
        e.Data().resize(64, 0);
        e.U16(static_cast<uint32_t>((name.size() + 1) * 2)).U8(type).U8(1).U32(left).U32(right).U32(child);
        for (int i = 0; i < 16 + 4 + 16; ++i) {
            e.U8(0);
        }
        e.U32(start).U32(static_cast<uint32_t>(size)).U32(static_cast<uint32_t>(size >> 32));
        out.Raw(e.Data());
    };
    entry("Root Entry", 5, 0xFFFFFFFF, 0xFFFFFFFF, streams.empty() ? 0xFFFFFFFF : 1, 0xFFFFFFFE, 0);
    for (size_t i = 0; i < streams.size(); ++i) {
        uint32_t right = i + 1 < streams.size() ? static_cast<uint32_t>(i + 2) : 0xFFFFFFFF;
        entry(streams[i].first, 2, 0xFFFFFFFF, right, 0xFFFFFFFF, starts[i], streams[i].second.size());
    }
    out.Data().resize((static_cast<size_t>(fatSectors + dirSectors) + 1) * sectorSize, 0);
    for (auto& s : streams) {
        out.Raw(s.second);
        out.Data().resize((out.Size() + sectorSize - 1) / sectorSize * sectorSize, 0);
    }
    (void)total;
    layout.firstStreamSector = starts.empty() ? 0 : starts[0];
    layout.bytes = std::move(out.Data());
    return layout;
}

// An .xls file: the stream in a compound file under the name BIFF8 ("Workbook") or BIFF5 ("Book")
// uses.
inline CompoundLayout XlsFile(const WorkbookStream& wb, uint32_t sectorSize = 512)
{
    return CompoundFile({{wb.biff5 ? "Book" : "Workbook", wb.Build()}}, sectorSize);
}

} // namespace gq::test::biff
