// Builds small xlsx packages in memory for the tests: a minimal zip writer (stored or
// deflated entries) whose every header field can be poked, and a valid one-sheet workbook to start from.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace gq::test {

struct ZipEntry {
    std::string name;
    std::string data;
    bool deflate = false;
    // Pokes applied when writing: a wrong CRC, or sizes that lie in both headers.
    bool badCrc = false;
    int64_t declaredSizeDelta = 0;
    // Bytes cut from the end of the stored or deflated body, the headers telling the cut size: a
    // stream that ends early.
    size_t cutBody = 0;
    // The deflated body opens with a block of the reserved type 3 (RFC 1951, 3.2.3): no inflater
    // takes it.
    bool corruptStream = false;
};

// Raw deflate (no zlib header), as zip entries hold it; large parts are built faster at level 1.
inline std::string RawDeflate(const std::string& data, int level = 9)
{
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

inline std::vector<uint8_t> BuildZip(const std::vector<ZipEntry>& entries)
{
    std::vector<uint8_t> out;
    auto u16 = [&out](uint32_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto u32 = [&out](uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            out.push_back(static_cast<uint8_t>(v >> (8 * i)));
        }
    };
    std::string central;
    std::vector<uint8_t> saved;
    struct Meta {
        uint32_t offset, crc, csize, usize;
        uint16_t method;
    };
    std::vector<Meta> metas;
    for (const ZipEntry& e : entries) {
        std::string body = e.deflate ? RawDeflate(e.data) : e.data;
        body.resize(body.size() - std::min(e.cutBody, body.size()));
        if (e.corruptStream && !body.empty()) {
            body[0] = '\xff';
        }
        uint32_t crc = static_cast<uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        if (e.badCrc) {
            crc ^= 0xA5A5A5A5u;
        }
        auto usize = static_cast<uint32_t>(static_cast<int64_t>(e.data.size()) + e.declaredSizeDelta);
        auto csize = static_cast<uint32_t>(body.size());
        // A stored entry's compressed size is its size: a lie about one is a lie about both.
        if (!e.deflate) {
            csize = static_cast<uint32_t>(static_cast<int64_t>(body.size()) + e.declaredSizeDelta);
        }
        Meta m{static_cast<uint32_t>(out.size()), crc, csize, usize, static_cast<uint16_t>(e.deflate ? 8 : 0)};
        metas.push_back(m);
        u32(0x04034b50);
        u16(20);
        u16(0);
        u16(m.method);
        u16(0);
        u16(0x21);
        u32(m.crc);
        u32(m.csize);
        u32(m.usize);
        u16(static_cast<uint32_t>(e.name.size()));
        u16(0);
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), body.begin(), body.end());
    }
    auto cdStart = static_cast<uint32_t>(out.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const Meta& m = metas[i];
        u32(0x02014b50);
        u16(20);
        u16(20);
        u16(0);
        u16(m.method);
        u16(0);
        u16(0x21);
        u32(m.crc);
        u32(m.csize);
        u32(m.usize);
        u16(static_cast<uint32_t>(entries[i].name.size()));
        u16(0);
        u16(0);
        u16(0);
        u16(0);
        u32(0);
        u32(m.offset);
        out.insert(out.end(), entries[i].name.begin(), entries[i].name.end());
    }
    auto cdSize = static_cast<uint32_t>(out.size()) - cdStart;
    u32(0x06054b50);
    u16(0);
    u16(0);
    u16(static_cast<uint32_t>(entries.size()));
    u16(static_cast<uint32_t>(entries.size()));
    u32(cdSize);
    u32(cdStart);
    u16(0);
    return out;
}

// The parts of a valid one-sheet workbook, by part name, ready to be changed by a test.
inline std::map<std::string, std::string> MinimalWorkbookParts(const std::string& sheetData)
{
    std::map<std::string, std::string> p;
    p["[Content_Types].xml"] =
        R"(<?xml version="1.0" encoding="UTF-8"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
        R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
        R"(<Default Extension="xml" ContentType="application/xml"/>)"
        R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
        R"(<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
        R"(</Types>)";
    p["_rels/.rels"] =
        R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>)"
        R"(</Relationships>)";
    p["xl/workbook.xml"] =
        R"(<?xml version="1.0" encoding="UTF-8"?><workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
        R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheets>)"
        R"(<sheet name="Data" sheetId="1" r:id="rId1"/></sheets></workbook>)";
    p["xl/_rels/workbook.xml.rels"] =
        R"(<?xml version="1.0" encoding="UTF-8"?><Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
        R"(</Relationships>)";
    p["xl/worksheets/sheet1.xml"] =
        R"(<?xml version="1.0" encoding="UTF-8"?><worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
        R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships"><sheetData>)" +
        sheetData + "</sheetData></worksheet>";
    return p;
}

// MinimalWorkbookParts with one worksheet per name instead of its one sheet: sheet i (from 1) reads
// xl/worksheets/sheet<i>.xml through relationship rId<i>, whose part holds `sheetData(i)`. A
// `sharedPart` points every sheet at the first one's relationship and part instead.
template <class SheetData>
std::map<std::string, std::string> WorkbookPartsWithSheets(const std::vector<std::string>& names, SheetData&& sheetData,
                                                           bool sharedPart = false)
{
    std::map<std::string, std::string> p = MinimalWorkbookParts("");
    std::string sheets, rels, types;
    for (size_t i = 1; i <= names.size(); ++i) {
        const std::string n = std::to_string(i);
        const std::string rel = sharedPart ? "1" : n;
        sheets += "<sheet name=\"" + names[i - 1] + "\" sheetId=\"" + n + "\" r:id=\"rId" + rel + "\"/>";
        if (sharedPart && i > 1) {
            continue;
        }
        rels += "<Relationship Id=\"rId" + n +
                "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                "relationships/worksheet\" Target=\"worksheets/sheet" +
                n + ".xml\"/>";
        types += "<Override PartName=\"/xl/worksheets/sheet" + n +
                 ".xml\" ContentType=\"application/"
                 "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
        p["xl/worksheets/sheet" + n + ".xml"] =
            "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" +
            sheetData(i) + "</sheetData></worksheet>";
    }
    auto replace = [&p](const std::string& part, const std::string& from, const std::string& to,
                        const std::string& with) {
        std::string& xml = p[part];
        const size_t a = xml.find(from);
        xml = xml.substr(0, a) + with + xml.substr(xml.find(to, a));
    };
    replace("xl/workbook.xml", "<sheet ", "</sheets>", sheets);
    replace("xl/_rels/workbook.xml.rels", "<Relationship ", "</Relationships>", rels);
    replace("[Content_Types].xml", "<Override PartName=\"/xl/worksheets", "</Types>", types);
    return p;
}

inline std::vector<ZipEntry> Entries(const std::map<std::string, std::string>& parts, bool deflate = true)
{
    std::vector<ZipEntry> entries;
    // [Content_Types].xml first, as office suites write it.
    auto ct = parts.find("[Content_Types].xml");
    if (ct != parts.end()) {
        entries.push_back(ZipEntry{ct->first, ct->second, deflate});
    }
    for (const auto& [name, data] : parts) {
        if (name != "[Content_Types].xml") {
            entries.push_back(ZipEntry{name, data, deflate});
        }
    }
    return entries;
}

} // namespace gq::test
