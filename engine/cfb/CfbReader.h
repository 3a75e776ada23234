// Reads streams out of an OLE2 compound file ([MS-CFB]), checking every sector chain on the way.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace gq::engine {

// A read-only view of a compound file held in memory (usually a mapped file). The constructor
// checks the header, loads the sector allocation tables and the directory; streams are read on
// request. Every sector number is checked against the table and the file, every chain against
// loops, and every stream size against the bytes its chain can hold: damage gives a FormatError
// naming the file, the structure and the byte offset.
class CompoundFile {
public:
    struct Entry {
        std::string name; // UTF-8
        uint8_t type = 0; // 1 storage, 2 stream, 5 root storage
        uint32_t start = 0;
        uint64_t size = 0;
    };

    CompoundFile(std::span<const uint8_t> file, std::string fileName);

    // The streams and storages directly below the root storage, in directory order.
    const std::vector<Entry>& RootEntries() const { return m_rootEntries; }
    // The root-level stream whose name matches without regard to ASCII letter case.
    const Entry* FindRootStream(std::string_view name) const;
    // True when the root holds an entry (stream or storage) of this name, any letter case.
    bool HasRootEntry(std::string_view name) const;

    // The bytes of a stream: a view into the file when its sectors follow each other (no copy), or
    // a copy assembled in `storage` otherwise.
    std::span<const uint8_t> ReadStream(const Entry& entry, std::vector<uint8_t>& storage) const;

private:
    [[noreturn]] void Fail(const std::string& problem, const char* part, int64_t offset) const;
    // The 32-bit field at `offset` of the 512-byte header, which the constructor has checked is there.
    uint32_t HeaderU32(size_t offset) const;
    void LoadFat();
    void LoadDirectory();
    // Follows a chain through `fat` from `start` and gives its sector numbers, at most `maxCount`
    // of them (more is a loop, unless `stopAtMax` says to stop there); `what` names the chain.
    std::vector<uint32_t> Chain(const std::vector<uint32_t>& fat, uint32_t start, uint64_t maxCount,
                                uint64_t sectorLimit, const char* what, bool stopAtMax = false) const;
    std::span<const uint8_t> Sector(uint32_t index, const char* what) const;

    std::span<const uint8_t> m_file;
    std::string m_name;
    uint32_t m_sectorShift = 9;
    uint32_t m_sectorSize = 512;
    uint32_t m_miniSectorSize = 64;
    uint32_t m_miniCutoff = 4096;
    uint64_t m_fileSectors = 0; // sectors that begin inside the file
    std::vector<uint32_t> m_fat;
    std::vector<uint32_t> m_miniFat;
    std::vector<Entry> m_entries;
    std::vector<Entry> m_rootEntries;
    std::vector<uint32_t> m_miniStreamChain; // sectors of the root's mini stream, loaded on first use
};

} // namespace gq::engine
