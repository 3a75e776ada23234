// The OLE2 compound file reader: header, DIFAT, FAT, mini FAT, directory and stream chains.
// SPDX-License-Identifier: Apache-2.0
#include "engine/cfb/CfbReader.h"

#include "common/AsciiText.h"
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/io/ByteReader.h"
#include "engine/io/LittleEndian.h"
#include "engine/text/Utf8.h"

#include <algorithm>
#include <cstring>

namespace gq::engine {

namespace {

// Special sector numbers, [MS-CFB] 2.1.
constexpr uint32_t kMaxRegSect = 0xFFFFFFFA;
[[maybe_unused]] constexpr uint32_t kDifSect = 0xFFFFFFFC; // DIFAT and FAT sectors are found through
[[maybe_unused]] constexpr uint32_t kFatSect = 0xFFFFFFFD; // the header, not by these marks
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kNoStream = 0xFFFFFFFF;

constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// Directory entry names are UTF-16LE; the names we look for are ASCII, so anything else only has
// to come out as valid UTF-8 for messages.
std::string EntryName(std::span<const uint8_t> raw, uint16_t byteLength)
{
    std::string out;
    const size_t chars = std::min<size_t>(byteLength / 2, 32);
    size_t used = 0;
    while (used < chars && le::Load16(raw.data() + 2 * used) != 0) {
        ++used;
    }
    AppendUtf16Units(
        used, [&](size_t i) { return uint32_t{le::Load16(raw.data() + 2 * i)}; }, out);
    return out;
}

} // namespace

CompoundFile::CompoundFile(std::span<const uint8_t> file, std::string fileName)
    : m_file(file), m_name(std::move(fileName))
{
    // The header, [MS-CFB] 2.2.
    if (m_file.size() < 512 || std::memcmp(m_file.data(), kSignature, 8) != 0) {
        Fail("the compound file header is missing or incomplete", "compound file header", 0);
    }
    ByteReader header(m_file.first(512), &m_name, "compound file header");
    header.Seek(28);
    if (header.U16() != 0xFFFE) {
        Fail("the compound file header has a wrong byte order mark", "compound file header", 28);
    }
    m_sectorShift = header.U16();
    uint16_t miniShift = header.U16();
    if (m_sectorShift != 9 && m_sectorShift != 12) {
        Fail("the compound file has an unsupported sector size", "compound file header", 30);
    }
    if (miniShift != 6) {
        Fail("the compound file has an unsupported mini sector size", "compound file header", 32);
    }
    m_sectorSize = 1u << m_sectorShift;
    m_miniSectorSize = 1u << miniShift;
    // Sector n starts at (n + 1) * sectorSize; count the sectors that begin inside the file. A last
    // sector cut short is tolerated as long as no stream needs its missing bytes.
    m_fileSectors =
        m_file.size() <= m_sectorSize ? 0 : (m_file.size() - m_sectorSize + m_sectorSize - 1) / m_sectorSize;
    LoadFat();
    LoadDirectory();
}

void CompoundFile::Fail(const std::string& problem, const char* part, int64_t offset) const
{
    throw FormatError(m_name, problem, part, offset);
}

std::span<const uint8_t> CompoundFile::Sector(uint32_t index, const char* what) const
{
    if (index >= m_fileSectors) {
        Fail("a sector number points beyond the end of the file", what, -1);
    }
    uint64_t begin = (static_cast<uint64_t>(index) + 1) << m_sectorShift;
    uint64_t len = std::min<uint64_t>(m_sectorSize, m_file.size() - begin);
    return m_file.subspan(static_cast<size_t>(begin), static_cast<size_t>(len));
}

uint32_t CompoundFile::HeaderU32(size_t offset) const
{
    ByteReader header(m_file.first(512), &m_name, "compound file header");
    header.Seek(offset);
    return header.U32();
}

void CompoundFile::LoadFat()
{
    uint32_t fatSectors = HeaderU32(44);
    uint32_t firstDifat = HeaderU32(68);
    uint32_t difatSectors = HeaderU32(72);
    // Every FAT and DIFAT sector is a sector of the file, so neither count can exceed the sectors
    // the file holds: this bounds every allocation below by the file's size.
    if (fatSectors > m_fileSectors || difatSectors > m_fileSectors) {
        Fail("the compound file claims more allocation table sectors than the file holds", "compound file header", 44);
    }
    std::vector<uint32_t> fatLocations;
    fatLocations.reserve(fatSectors);
    for (uint32_t i = 0; i < 109 && fatLocations.size() < fatSectors; ++i) {
        uint32_t s = le::Load32(m_file.data() + 76 + size_t{4} * i);
        if (s == kFreeSect || s == kEndOfChain) {
            break;
        }
        fatLocations.push_back(s);
    }
    // The DIFAT chain continues the list, [MS-CFB] 2.5: each sector holds sectorSize/4 - 1
    // locations and the number of the next DIFAT sector. Loops end at the declared count.
    uint32_t next = firstDifat;
    uint32_t perSector = m_sectorSize / 4 - 1;
    for (uint32_t n = 0; fatLocations.size() < fatSectors && next != kEndOfChain && next != kFreeSect; ++n) {
        if (n >= difatSectors || next > kMaxRegSect) {
            Fail("the DIFAT chain is longer than declared or broken (a loop or a bad sector number)", "DIFAT", -1);
        }
        auto sector = Sector(next, "DIFAT");
        if (sector.size() < m_sectorSize) {
            Fail("a DIFAT sector is cut short by the end of the file", "DIFAT", -1);
        }
        for (uint32_t i = 0; i < perSector && fatLocations.size() < fatSectors; ++i) {
            uint32_t s = le::Load32(sector.data() + size_t{4} * i);
            if (s == kFreeSect || s == kEndOfChain) {
                continue;
            }
            fatLocations.push_back(s);
        }
        next = le::Load32(sector.data() + size_t{4} * perSector);
    }
    if (fatLocations.empty()) {
        Fail("the compound file has no sector allocation table", "FAT", -1);
    }
    m_fat.reserve(fatLocations.size() * (m_sectorSize / 4));
    for (uint32_t loc : fatLocations) {
        if (loc > kMaxRegSect) {
            Fail("the sector allocation table lists an invalid sector number", "FAT", -1);
        }
        auto sector = Sector(loc, "FAT");
        for (size_t i = 0; i + 4 <= sector.size(); i += 4) {
            m_fat.push_back(le::Load32(sector.data() + i));
        }
    }
}

std::vector<uint32_t> CompoundFile::Chain(const std::vector<uint32_t>& fat, uint32_t start, uint64_t maxCount,
                                          uint64_t sectorLimit, const char* what, bool stopAtMax) const
{
    std::vector<uint32_t> chain;
    // A chain that comes back to a sector it has passed is a loop, even one shorter than the
    // stream it claims to hold.
    std::vector<uint8_t> seen(static_cast<size_t>(std::min<uint64_t>(fat.size(), sectorLimit)), 0);
    uint32_t s = start;
    while (s != kEndOfChain) {
        if (stopAtMax && chain.size() >= maxCount) {
            break; // a stream's chain may run on past its size; the rest is not ours to read
        }
        if (s >= fat.size() || s >= sectorLimit) {
            Fail(s == kFreeSect ? "a sector chain runs into a free sector"
                                : "a sector chain points at a sector that does not exist",
                 what, -1);
        }
        // A chain longer than the sectors available must visit one twice: a loop.
        if (chain.size() >= maxCount) {
            Fail("a sector chain loops or is longer than its stream", what, -1);
        }
        if (seen[s] != 0) {
            Fail("a sector chain loops", what, -1);
        }
        seen[s] = 1;
        chain.push_back(s);
        s = fat[s];
    }
    return chain;
}

void CompoundFile::LoadDirectory()
{
    uint32_t firstDir = HeaderU32(48);
    uint32_t firstMiniFat = HeaderU32(60);
    uint32_t miniFatSectors = HeaderU32(64);
    m_miniCutoff = HeaderU32(56);

    uint64_t fatLimit = std::min<uint64_t>(m_fat.size(), m_fileSectors);
    auto dirChain = Chain(m_fat, firstDir, fatLimit, m_fileSectors, "directory");
    if (dirChain.empty()) {
        Fail("the compound file has no directory", "directory", -1);
    }
    std::vector<uint8_t> dir;
    dir.reserve(dirChain.size() * m_sectorSize);
    for (uint32_t s : dirChain) {
        auto sector = Sector(s, "directory");
        dir.insert(dir.end(), sector.begin(), sector.end());
    }
    size_t count = dir.size() / 128;
    m_entries.resize(count);
    std::vector<uint32_t> left(count), right(count), child(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = dir.data() + i * 128;
        Entry& entry = m_entries[i];
        entry.type = e[66];
        entry.name = EntryName({e, 64}, le::Load16(e + 64));
        left[i] = le::Load32(e + 68);
        right[i] = le::Load32(e + 72);
        child[i] = le::Load32(e + 76);
        entry.start = le::Load32(e + 116);
        // Version 3 files may leave garbage in the high half of the size, [MS-CFB] 2.6.3.
        entry.size = le::Load32(e + 120);
        if (m_sectorShift == 12) {
            entry.size |= static_cast<uint64_t>(le::Load32(e + 124)) << 32;
        }
    }
    if (count == 0 || m_entries[0].type != 5) {
        Fail("the compound file directory has no root entry", "directory", 0);
    }

    // The root's children form a tree through left/right siblings; walk it with a visited mark so
    // that a damaged tree cannot loop.
    std::vector<uint8_t> seen(count, 0);
    std::vector<uint32_t> stack;
    if (child[0] != kNoStream) {
        stack.push_back(child[0]);
    }
    while (!stack.empty()) {
        uint32_t i = stack.back();
        stack.pop_back();
        if (i >= count) {
            Fail("a directory entry points at an entry that does not exist", "directory", -1);
        }
        if (seen[i] != 0) {
            Fail("the compound file directory tree loops", "directory", static_cast<int64_t>(i) * 128);
        }
        seen[i] = 1;
        m_rootEntries.push_back(m_entries[i]);
        if (left[i] != kNoStream) {
            stack.push_back(left[i]);
        }
        if (right[i] != kNoStream) {
            stack.push_back(right[i]);
        }
    }

    // The mini FAT and the mini stream (the root entry's chain), [MS-CFB] 2.3 and 2.6.
    if (miniFatSectors > 0 && firstMiniFat != kEndOfChain && firstMiniFat != kFreeSect) {
        auto chain = Chain(m_fat, firstMiniFat, fatLimit, m_fileSectors, "mini FAT");
        m_miniFat.reserve(chain.size() * (m_sectorSize / 4));
        for (uint32_t s : chain) {
            auto sector = Sector(s, "mini FAT");
            for (size_t i = 0; i + 4 <= sector.size(); i += 4) {
                m_miniFat.push_back(le::Load32(sector.data() + i));
            }
        }
        if (m_entries[0].start != kEndOfChain) {
            m_miniStreamChain = Chain(m_fat, m_entries[0].start, fatLimit, m_fileSectors, "mini stream");
        }
    }
}

const CompoundFile::Entry* CompoundFile::FindRootStream(std::string_view name) const
{
    for (const Entry& e : m_rootEntries) {
        if (e.type == 2 && EqualsNoCase(e.name, name)) {
            return &e;
        }
    }
    return nullptr;
}

bool CompoundFile::HasRootEntry(std::string_view name) const
{
    return std::any_of(m_rootEntries.begin(), m_rootEntries.end(),
                       [&](const Entry& e) { return EqualsNoCase(e.name, name); });
}

std::span<const uint8_t> CompoundFile::ReadStream(const Entry& entry, std::vector<uint8_t>& storage) const
{
    const std::string part = "stream \"" + entry.name + "\"";
    if (entry.size > m_file.size()) {
        Fail("a stream claims to be larger than the whole file", part.c_str(), -1);
    }
    auto size = static_cast<size_t>(entry.size);
    if (size == 0) {
        return {};
    }
    if (entry.size < m_miniCutoff) {
        // Small streams live in 64-byte mini sectors inside the mini stream.
        uint64_t miniSectorsInStream =
            (static_cast<uint64_t>(m_miniStreamChain.size()) << m_sectorShift) / m_miniSectorSize;
        uint64_t needed = (entry.size + m_miniSectorSize - 1) / m_miniSectorSize;
        auto chain = Chain(m_miniFat, entry.start, needed, miniSectorsInStream, part.c_str(), true);
        if (chain.size() < needed) {
            Fail("a stream's mini sector chain ends before the stream does", part.c_str(), -1);
        }
        storage.clear();
        storage.reserve(size);
        uint32_t perSector = m_sectorSize / m_miniSectorSize;
        for (uint32_t ms : chain) {
            auto sector = Sector(m_miniStreamChain[ms / perSector], part.c_str());
            size_t off = static_cast<size_t>(ms % perSector) * m_miniSectorSize;
            size_t take = std::min<size_t>(m_miniSectorSize, size - storage.size());
            if (off + take > sector.size()) {
                Fail("a stream is cut short by the end of the file", part.c_str(),
                     static_cast<int64_t>(storage.size()));
            }
            storage.insert(storage.end(), sector.begin() + static_cast<std::ptrdiff_t>(off),
                           sector.begin() + static_cast<std::ptrdiff_t>(off + take));
        }
        return storage;
    }
    uint64_t needed = (entry.size + m_sectorSize - 1) / m_sectorSize;
    auto chain = Chain(m_fat, entry.start, needed, m_fileSectors, part.c_str(), true);
    if (chain.size() < needed) {
        Fail("a stream's sector chain ends before the stream does", part.c_str(), -1);
    }
    bool contiguous = true;
    for (size_t i = 1; i < chain.size() && contiguous; ++i) {
        contiguous = chain[i] == chain[i - 1] + 1;
    }
    uint64_t begin = (static_cast<uint64_t>(chain[0]) + 1) << m_sectorShift;
    if (contiguous && begin <= m_file.size() && size <= m_file.size() - begin) {
        return m_file.subspan(static_cast<size_t>(begin), size);
    }
    storage.clear();
    storage.reserve(size);
    for (uint32_t s : chain) {
        auto sector = Sector(s, part.c_str());
        size_t take = std::min<size_t>(sector.size(), size - storage.size());
        if (take < std::min<size_t>(m_sectorSize, size - storage.size())) {
            Fail("a stream is cut short by the end of the file", part.c_str(), static_cast<int64_t>(storage.size()));
        }
        storage.insert(storage.end(), sector.begin(), sector.begin() + static_cast<std::ptrdiff_t>(take));
    }
    return storage;
}

} // namespace gq::engine
