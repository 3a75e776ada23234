// Helpers for the .xls writer's tests: writing a model to memory, xlrd's view of it as JSON lines,
// and a strict little reader of our own compound files and BIFF record streams.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"
#include "engine/xls/XlsWriter.h"
#include "tests/support/Json.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace gq::test::xls {

inline std::vector<uint8_t> WriteToMemory(engine::Workbook& book)
{
    engine::MemorySink sink;
    engine::WriteXls(book, sink);
    return std::move(sink.Bytes());
}

// What xlrd saw: the JSON lines, and anything else it printed (warnings), which should be nothing.
struct XlrdView {
    std::vector<std::string> lines;
    std::set<std::string> set;
    std::string other;
    bool Has(const std::string& line) const { return set.count(line) != 0; }
    size_t CountPrefix(const std::string& prefix) const
    {
        return static_cast<size_t>(
            std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
    }
};

inline std::string DumperPath()
{
    return std::string(GQ_SOURCE_DIR) + "/tests/engine/xls_dump.py";
}

inline bool HaveXlrd()
{
    return HavePython("xlrd");
}

inline XlrdView RunDumper(const std::string& args)
{
    XlrdView view;
    std::string out;
    int rc = RunCommand("/usr/bin/python3 " + ShellQuote(DumperPath()) + " " + args, out);
    EXPECT_EQ(rc, 0) << out.substr(0, 4000);
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[') {
            view.set.insert(line);
            view.lines.push_back(std::move(line));
        } else {
            view.other += line + "\n";
        }
    }
    return view;
}

inline XlrdView XlrdDump(const std::string& path)
{
    return RunDumper(ShellQuote(path));
}

// ---- Our own strict reading of what we wrote ----------------------------------------------------

inline uint16_t Get16(const std::vector<uint8_t>& b, size_t p)
{
    return static_cast<uint16_t>(b.at(p) | (b.at(p + 1) << 8));
}
inline uint32_t Get32(const std::vector<uint8_t>& b, size_t p)
{
    return static_cast<uint32_t>(Get16(b, p)) | (static_cast<uint32_t>(Get16(b, p + 2)) << 16);
}

// Reads the single stream of a compound file as CfbWriter lays it out, checking the header, the
// DIFAT, the FAT chain (no loops, in range) and the directory on the way. Failures are gtest failures.
inline std::vector<uint8_t> ReadOnlyStream(const std::vector<uint8_t>& file, std::u16string* name = nullptr)
{
    std::vector<uint8_t> none;
    EXPECT_GE(file.size(), 1536u);
    EXPECT_EQ(file.size() % 512, 0u);
    if (file.size() < 1536 || file.size() % 512 != 0) {
        return none;
    }
    EXPECT_EQ(Get32(file, 0), 0xE011CFD0u);
    EXPECT_EQ(Get16(file, 26), 3);
    EXPECT_EQ(Get16(file, 30), 9);
    const uint32_t sectors = static_cast<uint32_t>(file.size() / 512 - 1);
    auto sectorAt = [](uint32_t s) { return 512 + static_cast<size_t>(s) * 512; };
    const uint32_t fatCount = Get32(file, 44);
    std::vector<uint32_t> fatSectors;
    for (uint32_t i = 0; i < 109 && i < fatCount; ++i) {
        fatSectors.push_back(Get32(file, 76 + 4 * i));
    }
    uint32_t difat = Get32(file, 68);
    uint32_t difatCount = Get32(file, 72);
    for (uint32_t d = 0; d < difatCount; ++d) {
        EXPECT_LT(difat, sectors);
        if (difat >= sectors) {
            return none;
        }
        for (uint32_t i = 0; i < 127 && fatSectors.size() < fatCount; ++i) {
            fatSectors.push_back(Get32(file, sectorAt(difat) + 4 * i));
        }
        difat = Get32(file, sectorAt(difat) + 508);
    }
    EXPECT_EQ(difat, 0xFFFFFFFEu);
    EXPECT_EQ(fatSectors.size(), fatCount);
    std::vector<uint32_t> fat;
    for (uint32_t s : fatSectors) {
        EXPECT_LT(s, sectors);
        if (s >= sectors) {
            return none;
        }
        for (uint32_t i = 0; i < 128; ++i) {
            fat.push_back(Get32(file, sectorAt(s) + 4 * i));
        }
    }
    for (uint32_t s : fatSectors) {
        EXPECT_EQ(fat.at(s), 0xFFFFFFFDu) << "FAT sector " << s << " not marked as such";
    }
    auto chain = [&](uint32_t start) {
        std::vector<uint32_t> out;
        for (uint32_t s = start; s != 0xFFFFFFFEu;) {
            if (s >= sectors || s >= fat.size() || out.size() > sectors) {
                ADD_FAILURE() << "broken sector chain at " << s;
                return std::vector<uint32_t>{};
            }
            out.push_back(s);
            s = fat[s];
        }
        return out;
    };
    std::vector<uint32_t> dir = chain(Get32(file, 48));
    if (dir.empty()) {
        return none;
    }
    const size_t root = sectorAt(dir[0]);
    EXPECT_EQ(file[root + 66], 5); // root storage
    const uint32_t child = Get32(file, root + 76);
    EXPECT_EQ(child, 1u);
    const size_t entry = root + 128 * child;
    EXPECT_EQ(file[entry + 66], 2); // stream
    if (name) {
        name->clear();
        for (size_t i = 0; i + 2 < Get16(file, entry + 64); i += 2) {
            name->push_back(static_cast<char16_t>(Get16(file, entry + i)));
        }
    }
    const uint32_t size = Get32(file, entry + 120);
    EXPECT_EQ(Get32(file, entry + 124), 0u);
    EXPECT_GE(size, 4096u) << "a stream this short would belong in the mini stream";
    std::vector<uint32_t> streamSectors = chain(Get32(file, entry + 116));
    EXPECT_EQ(streamSectors.size(), (size + 511) / 512);
    std::vector<uint8_t> data;
    for (uint32_t s : streamSectors) {
        data.insert(data.end(), file.begin() + static_cast<std::ptrdiff_t>(sectorAt(s)),
                    file.begin() + static_cast<std::ptrdiff_t>(sectorAt(s) + 512));
    }
    data.resize(std::min<size_t>(data.size(), size));
    return data;
}

struct Record {
    uint16_t type;
    size_t offset; // of the record header in the stream
    std::vector<uint8_t> body;
};

// Splits a BIFF stream into records up to the final EOF; checks every length is within 8,224 bytes.
inline std::vector<Record> Records(const std::vector<uint8_t>& stream)
{
    std::vector<Record> out;
    size_t pos = 0;
    int depth = 0;
    while (pos + 4 <= stream.size()) {
        uint16_t type = Get16(stream, pos);
        uint16_t len = Get16(stream, pos + 2);
        EXPECT_LE(len, 8224u) << "record " << type << " at " << pos;
        if (pos + 4 + len > stream.size()) {
            ADD_FAILURE() << "record runs past the stream at " << pos;
            break;
        }
        out.push_back({type,
                       pos,
                       {stream.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                        stream.begin() + static_cast<std::ptrdiff_t>(pos + 4 + len)}});
        pos += 4 + len;
        if (type == 0x0809) {
            ++depth;
        } else if (type == 0x000A && --depth == 0 && !out.empty()) {
            // The globals end here; sheets follow until the last EOF, then only padding.
            bool more = pos + 4 <= stream.size() && Get16(stream, pos) == 0x0809;
            if (!more) {
                break;
            }
        }
    }
    return out;
}

inline size_t CountType(const std::vector<Record>& records, uint16_t type)
{
    return static_cast<size_t>(
        std::count_if(records.begin(), records.end(), [&](const Record& r) { return r.type == type; }));
}

} // namespace gq::test::xls
