// Deterministic OLE2 compound-file writer ([MS-CFB] version 3, 512-byte sectors) for one stream.
// SPDX-License-Identifier: Apache-2.0
#include "engine/cfb/CfbWriter.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/io/LittleEndian.h"

#include <array>
#include <cstring>
#include <vector>

namespace gq::engine {

namespace {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kIdsPerSector = kSectorSize / 4;
constexpr uint32_t kHeaderDifatEntries = 109;
// Special sector numbers, [MS-CFB] 2.1.
constexpr uint32_t kDifSect = 0xFFFFFFFC;
constexpr uint32_t kFatSect = 0xFFFFFFFD;
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kFreeSect = 0xFFFFFFFF;
constexpr uint32_t kNoStream = 0xFFFFFFFF;

// Directory entry, [MS-CFB] 2.6.1. Timestamps and class ids stay zero so output is reproducible.
void PutDirectoryEntry(uint8_t* p, std::u16string_view name, uint8_t type, uint32_t child, uint32_t start,
                       uint64_t size)
{
    std::memset(p, 0, 128);
    for (size_t i = 0; i < name.size(); ++i) {
        le::Store16(p + 2 * i, name[i]);
    }
    le::Store16(p + 64, static_cast<uint16_t>((name.size() + 1) * 2)); // bytes, with the terminating null
    p[66] = type;
    p[67] = 1; // black: a tree of one node per level is a valid red-black tree
    le::Store32(p + 68, kNoStream);
    le::Store32(p + 72, kNoStream);
    le::Store32(p + 76, child);
    le::Store32(p + 116, start);
    le::Store32(p + 120, static_cast<uint32_t>(size));
    le::Store32(p + 124, static_cast<uint32_t>(size >> 32));
}

void PutEmptyDirectoryEntry(uint8_t* p)
{
    std::memset(p, 0, 128);
    le::Store32(p + 68, kNoStream);
    le::Store32(p + 72, kNoStream);
    le::Store32(p + 76, kNoStream);
}

} // namespace

void WriteCompoundFile(std::u16string_view streamName, std::span<const uint8_t> data, ByteSink& sink)
{
    WriteCompoundFile(
        streamName, data.size(), [&](ByteSink& out) { out.Write(data.data(), data.size()); }, sink);
}

void WriteCompoundFile(std::u16string_view streamName, uint64_t size, const std::function<void(ByteSink&)>& writeStream,
                       ByteSink& sink)
{
    if (streamName.empty() || streamName.size() > 31) {
        throw EngineError("compound-file stream names have 1 to 31 characters");
    }
    if (size < limits::kCfbMiniStreamCutoff) {
        throw EngineError("a compound-file stream shorter than 4,096 bytes would need a mini stream");
    }
    if (size > limits::kCfbMaxStreamBytes) {
        throw LimitError("the workbook is too large for an Excel 97-2003 file (more than 2 GB of records)");
    }

    // Layout: the stream's sectors, one directory sector, the FAT sectors, then DIFAT sectors.
    // The FAT must describe itself and the DIFAT, so its size is found by iterating to a fixed point.
    const auto dataSectors = static_cast<uint32_t>((size + kSectorSize - 1) / kSectorSize);
    const uint32_t dirSector = dataSectors;
    uint32_t fatSectors = 0;
    uint32_t difatSectors = 0;
    for (;;) {
        uint32_t total = dataSectors + 1 + fatSectors + difatSectors;
        uint32_t needFat = (total + kIdsPerSector - 1) / kIdsPerSector;
        uint32_t needDifat = needFat > kHeaderDifatEntries
                                 ? (needFat - kHeaderDifatEntries + kIdsPerSector - 2) / (kIdsPerSector - 1)
                                 : 0;
        if (needFat == fatSectors && needDifat == difatSectors) {
            break;
        }
        fatSectors = needFat;
        difatSectors = needDifat;
    }
    const uint32_t firstFat = dirSector + 1;
    const uint32_t firstDifat = firstFat + fatSectors;

    // Header, [MS-CFB] 2.2.
    std::array<uint8_t, kSectorSize> header{};
    static constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    std::memcpy(header.data(), kSignature, 8);
    le::Store16(&header[24], 0x003E); // minor version
    le::Store16(&header[26], 0x0003); // major version 3: 512-byte sectors
    le::Store16(&header[28], 0xFFFE); // little-endian
    le::Store16(&header[30], 9);      // sector shift: 2^9 = 512
    le::Store16(&header[32], 6);      // mini sector shift: 2^6 = 64
    le::Store32(&header[40], 0);      // directory sector count: must be 0 in version 3
    le::Store32(&header[44], fatSectors);
    le::Store32(&header[48], dirSector);
    le::Store32(&header[52], 0);
    le::Store32(&header[56], static_cast<uint32_t>(limits::kCfbMiniStreamCutoff));
    le::Store32(&header[60], kEndOfChain); // no mini FAT
    le::Store32(&header[64], 0);
    le::Store32(&header[68], difatSectors ? firstDifat : kEndOfChain);
    le::Store32(&header[72], difatSectors);
    for (uint32_t i = 0; i < kHeaderDifatEntries; ++i) {
        le::Store32(&header[76 + 4 * i], i < fatSectors ? firstFat + i : kFreeSect);
    }
    sink.Write(header.data(), header.size());

    // The stream itself, padded to whole sectors.
    const uint64_t before = sink.Written();
    writeStream(sink);
    if (sink.Written() - before != size) {
        throw EngineError("internal error: the compound file's stream is not the size it was said to be");
    }
    std::array<uint8_t, kSectorSize> sector{};
    if (size_t tail = size % kSectorSize) {
        sink.Write(sector.data(), kSectorSize - tail);
    }

    // Directory: Root Entry (no mini stream, so no start sector) with the stream as its only child.
    PutDirectoryEntry(&sector[0], u"Root Entry", 5, 1, kEndOfChain, 0);
    PutDirectoryEntry(&sector[128], streamName, 2, kNoStream, 0, size);
    PutEmptyDirectoryEntry(&sector[256]);
    PutEmptyDirectoryEntry(&sector[384]);
    sink.Write(sector.data(), sector.size());

    // FAT, [MS-CFB] 2.3: the stream's chain, the directory's one-sector chain, then the FAT and
    // DIFAT sectors marked as such; the rest of the last FAT sector is free.
    std::vector<uint8_t> fat(static_cast<size_t>(fatSectors) * kSectorSize);
    for (uint32_t i = 0; i < fatSectors * kIdsPerSector; ++i) {
        uint32_t value = kFreeSect;
        if (i + 1 < dataSectors) {
            value = i + 1;
        } else if (i + 1 == dataSectors || i == dirSector) {
            value = kEndOfChain;
        } else if (i >= firstFat && i < firstDifat) {
            value = kFatSect;
        } else if (i >= firstDifat && i < firstDifat + difatSectors) {
            value = kDifSect;
        }
        le::Store32(&fat[4 * static_cast<size_t>(i)], value);
    }
    sink.Write(fat.data(), fat.size());

    // DIFAT sectors, [MS-CFB] 2.5: 127 FAT sector numbers each and the next DIFAT sector last.
    uint32_t nextFat = kHeaderDifatEntries;
    for (uint32_t d = 0; d < difatSectors; ++d) {
        for (uint32_t i = 0; i < kIdsPerSector - 1; ++i) {
            le::Store32(&sector[size_t{4} * i], nextFat < fatSectors ? firstFat + nextFat : kFreeSect);
            ++nextFat;
        }
        le::Store32(&sector[size_t{4} * (kIdsPerSector - 1)], d + 1 < difatSectors ? firstDifat + d + 1 : kEndOfChain);
        sink.Write(sector.data(), sector.size());
    }
}

} // namespace gq::engine
