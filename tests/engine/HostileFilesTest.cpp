// Hostile workbooks the reader tests do not already cover: a real zip bomb, style-only sheets that
// claim the whole grid, a million merged ranges, absurd counts, overlong and broken names and text,
// and out-of-range style indexes. Each must end in a clear typed error or a small, correct model,
// fast and with bounded memory.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/text/Utf8.h"
#include "engine/xls/XlsReader.h"
#include "engine/xlsx/XlsxReader.h"
#include "tests/support/BiffTestBuilder.h"
#include "tests/support/XlsxTestPackage.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace gq::engine {
namespace {

namespace tb = test::biff;

#if defined(__SANITIZE_ADDRESS__)
constexpr double kSlowdown = 6.0; // sanitizer builds run several times slower
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr double kSlowdown = 6.0;
#else
constexpr double kSlowdown = 1.0;
#endif
#else
constexpr double kSlowdown = 1.0;
#endif

// Peak resident memory of this process in KiB, and a way to start measuring it afresh.
long PeakKib()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}
bool ResetPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return clear.good();
}

double ProcessCpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs `body`, checks it took at most `seconds` of CPU (scaled for sanitizer builds) and grew the
// peak resident memory by at most `megabytes`. CPU time is the work done, whatever else the
// machine runs; a wall-clock bound ten times looser catches waiting that costs no CPU.
void Bounded(double seconds, long megabytes, const std::function<void()>& body)
{
    bool measured = ResetPeak();
    long before = PeakKib();
    auto start = std::chrono::steady_clock::now();
    double cpuStart = ProcessCpuSeconds();
    body();
    double cpu = ProcessCpuSeconds() - cpuStart;
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(cpu, seconds * kSlowdown) << "CPU seconds";
    EXPECT_LT(took, seconds * kSlowdown * 10) << "seconds";
    if (measured && before > 0) {
        EXPECT_LT((PeakKib() - before) / 1024, megabytes) << "MB of peak memory";
    }
}

// ---- xlsx ---------------------------------------------------------------------------------------

// A zip entry whose body, method, CRC and sizes are given as they are to go into the headers.
struct RawEntry {
    std::string name;
    std::string body;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint32_t size = 0;
};

RawEntry Stored(const std::string& name, const std::string& data)
{
    return {
        name, data, 0,
        static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size()))),
        static_cast<uint32_t>(data.size())};
}

std::vector<uint8_t> RawZip(const std::vector<RawEntry>& entries)
{
    std::vector<uint8_t> out;
    auto u16 = [&out](uint32_t v) {
        out.push_back(static_cast<uint8_t>(v));
        out.push_back(static_cast<uint8_t>(v >> 8));
    };
    auto u32 = [&](uint32_t v) {
        u16(v & 0xFFFF);
        u16(v >> 16);
    };
    std::vector<uint32_t> offsets;
    for (const RawEntry& e : entries) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        u32(0x04034b50);
        u16(20), u16(0), u16(e.method), u16(0), u16(0x21), u32(e.crc);
        u32(static_cast<uint32_t>(e.body.size())), u32(e.size);
        u16(static_cast<uint32_t>(e.name.size())), u16(0);
        out.insert(out.end(), e.name.begin(), e.name.end());
        out.insert(out.end(), e.body.begin(), e.body.end());
    }
    auto cdStart = static_cast<uint32_t>(out.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        const RawEntry& e = entries[i];
        u32(0x02014b50);
        u16(20), u16(20), u16(0), u16(e.method), u16(0), u16(0x21), u32(e.crc);
        u32(static_cast<uint32_t>(e.body.size())), u32(e.size);
        u16(static_cast<uint32_t>(e.name.size())), u16(0), u16(0), u16(0), u16(0), u32(0), u32(offsets[i]);
        out.insert(out.end(), e.name.begin(), e.name.end());
    }
    auto cdSize = static_cast<uint32_t>(out.size()) - cdStart;
    u32(0x06054b50);
    u16(0), u16(0), u16(static_cast<uint32_t>(entries.size())), u16(static_cast<uint32_t>(entries.size()));
    u32(cdSize), u32(cdStart), u16(0);
    return out;
}

RawEntry Deflated(const std::string& name, const std::string& data)
{
    RawEntry e = Stored(name, data);
    e.body = test::RawDeflate(data, 1);
    e.method = 8;
    return e;
}

// A deflate stream of `mib` MiB of zero bytes, built from one flushed block repeated (every back
// reference in a run of zeros yields zeros, so the copies chain), with its CRC.
RawEntry ZeroBomb(const std::string& name, uint32_t mib)
{
    const std::string zeros(1u << 20, '\0');
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    auto flush = [&z](const std::string& in, int mode) {
        std::string out(deflateBound(&z, in.size()) + 64, '\0');
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z.avail_in = static_cast<uInt>(in.size());
        z.next_out = reinterpret_cast<Bytef*>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, mode);
        out.resize(out.size() - z.avail_out);
        return out;
    };
    std::string body = flush(zeros, Z_SYNC_FLUSH);
    const std::string repeat = flush(zeros, Z_SYNC_FLUSH);
    for (uint32_t i = 2; i < mib; ++i) {
        body += repeat;
    }
    body += flush(std::string(), Z_FINISH);
    deflateEnd(&z);
    uLong oneCrc = crc32(0, reinterpret_cast<const Bytef*>(zeros.data()), static_cast<uInt>(zeros.size()));
    uLong crc = oneCrc;
    for (uint32_t i = 1; i < mib; ++i) {
        crc = crc32_combine(crc, oneCrc, static_cast<z_off_t>(zeros.size()));
    }
    return {name, body, 8, static_cast<uint32_t>(crc), static_cast<uint32_t>(uint64_t(mib) << 20)};
}

const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

const std::string kTwoXfStyles =
    "<styleSheet xmlns=\"" + kMain +
    "\"><fonts><font><sz val=\"11\"/><name val=\"Arial\"/></font>"
    "<font><b/><sz val=\"11\"/><name val=\"Arial\"/></font></fonts>"
    "<fills><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill></fills>"
    "<borders><border/></borders><cellStyleXfs><xf/></cellStyleXfs>"
    "<cellXfs><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
    "<xf numFmtId=\"14\" fontId=\"1\" fillId=\"0\" borderId=\"0\"/></cellXfs></styleSheet>";

// A valid one-sheet workbook with styles and shared strings; `sheet` replaces the worksheet part and
// `change` may replace any other part.
std::map<std::string, std::string> Parts(const std::string& sheet)
{
    auto p = test::MinimalWorkbookParts("");
    p["xl/worksheets/sheet1.xml"] = sheet;
    p["xl/styles.xml"] = kTwoXfStyles;
    p["xl/sharedStrings.xml"] = "<sst xmlns=\"" + kMain + "\" count=\"1\" uniqueCount=\"1\"><si><t>only</t></si></sst>";
    p["xl/_rels/workbook.xml.rels"] =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
        R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)"
        R"(<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>)"
        R"(</Relationships>)";
    return p;
}

std::string Sheet(const std::string& inner)
{
    return "<worksheet xmlns=\"" + kMain + "\">" + inner + "</worksheet>";
}

std::shared_ptr<const InputBytes> Package(const std::map<std::string, std::string>& parts,
                                          const std::vector<RawEntry>& extra = {})
{
    std::vector<RawEntry> entries;
    for (const auto& [name, data] : parts) {
        entries.push_back(data.size() > 65536 ? Deflated(name, data) : Stored(name, data));
    }
    for (const RawEntry& e : extra) {
        entries.push_back(e);
    }
    return InputBytes::FromMemory(RawZip(entries), "hostile.xlsx");
}

// Opens the package and loads its first sheet.
std::unique_ptr<Workbook> OpenAndLoad(const std::shared_ptr<const InputBytes>& bytes)
{
    auto wb = ReadXlsx(bytes);
    wb->Sheet(0);
    return wb;
}

// The message of the engine error `body` throws, or "" when it throws none.
template <typename Error>
std::string ErrorOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const Error& e) {
        return e.what();
    }
    return "";
}

TEST(HostileXlsx, ZipBombWithHonestSizesIsRefusedBeforeInflating)
{
    // 1 GiB of zeros in about 1 MB: its own header says so, which is over the compression ratio.
    auto parts = Parts("");
    parts.erase("xl/worksheets/sheet1.xml");
    auto bytes = Package(parts, {ZeroBomb("xl/worksheets/sheet1.xml", 1024)});
    ASSERT_LT(bytes->Data().size(), 2u << 20);
    Bounded(1.0, 64, [&] {
        std::string message = ErrorOf<LimitError>([&] { OpenAndLoad(bytes); });
        EXPECT_NE(message.find("hostile.xlsx"), std::string::npos) << message;
        EXPECT_NE(message.find("sheet1.xml"), std::string::npos) << message;
    });
}

TEST(HostileXlsx, ZipBombWhoseHeaderUnderstatesItsSizeStopsAtTheStatedSize)
{
    // The same bomb claiming 100,000 bytes: inflating must stop there, not at 1 GiB.
    auto parts = Parts("");
    parts.erase("xl/worksheets/sheet1.xml");
    RawEntry bomb = ZeroBomb("xl/worksheets/sheet1.xml", 1024);
    bomb.size = 100000;
    auto bytes = Package(parts, {bomb});
    Bounded(1.0, 64, [&] {
        std::string message = ErrorOf<FormatError>([&] { OpenAndLoad(bytes); });
        EXPECT_NE(message.find("sheet1.xml"), std::string::npos) << message;
    });
}

TEST(HostileXlsx, StyleOnlySheetClaimingTheWholeGridAllocatesNoCells)
{
    std::string rows;
    // Every thousandth row of the grid formatted across all columns, and the grid's last row.
    for (uint32_t r = 1; r <= limits::kXlsxMaxRows; r += 1000) {
        rows += "<row r=\"" + std::to_string(r) +
                "\" spans=\"1:16384\" s=\"1\" customFormat=\"1\" ht=\"20\" customHeight=\"1\"/>";
    }
    rows += "<row r=\"1048576\" spans=\"1:16384\" s=\"1\" customFormat=\"1\"/>";
    auto bytes =
        Package(Parts(Sheet("<dimension ref=\"A1:XFD1048576\"/>"
                            "<cols><col min=\"1\" max=\"16384\" width=\"9\" style=\"1\" customWidth=\"1\"/></cols>"
                            "<sheetData>" +
                            rows + "</sheetData>")));
    Bounded(1.0, 64, [&] {
        auto wb = OpenAndLoad(bytes);
        Worksheet& sheet = wb->Sheet(0);
        EXPECT_LT(sheet.CellCount(), 2000u) << "a formatted row or column is not a cell per column";
        EXPECT_LE(sheet.columns.size(), 1u);
        EXPECT_LE(sheet.rows.size(), 1050u);
    });
}

TEST(HostileXlsx, AMillionMergedRangesLoadInBoundedTimeAndOneMoreThanTheLimitFails)
{
    auto merges = [](size_t count) {
        std::string xml = "<mergeCells count=\"" + std::to_string(count) + "\">";
        for (size_t i = 0; i < count; ++i) {
            // Two-cell ranges that never overlap: 1,000 columns, rows in pairs.
            uint32_t col = static_cast<uint32_t>(i % 1000);
            uint32_t row = static_cast<uint32_t>(i / 1000) * 2;
            xml += "<mergeCell ref=\"" + CellName(row, col) + ":" + CellName(row + 1, col) + "\"/>";
        }
        return xml + "</mergeCells>";
    };
    auto million = Package(Parts(Sheet("<sheetData/>" + merges(1000000))));
    Bounded(3.0, 200, [&] {
        auto wb = OpenAndLoad(million);
        EXPECT_EQ(wb->Sheet(0).merges.size(), 1000000u);
    });
    auto over = Package(Parts(Sheet("<sheetData/>" + merges(limits::kMaxMergedRanges + 1))));
    Bounded(3.0, 200, [&] {
        std::string message = ErrorOf<LimitError>([&] { OpenAndLoad(over); });
        EXPECT_NE(message.find("merged"), std::string::npos) << message;
    });
}

TEST(HostileXlsx, RowElementsRepeatedPastTheGridAreRefused)
{
    // As many row elements as the grid has rows (each repeating row 1) read; one more is refused.
    for (const uint32_t count : {limits::kXlsxMaxRows, limits::kXlsxMaxRows + 1}) {
        std::string rows;
        rows.reserve(size_t{count} * 14);
        for (uint32_t i = 0; i < count; ++i) {
            rows += "<row r=\"1\"/>";
        }
        auto bytes = Package(Parts(Sheet("<sheetData>" + rows + "</sheetData>")));
        Bounded(3.0, 300, [&] {
            if (count == limits::kXlsxMaxRows) {
                EXPECT_NO_THROW(OpenAndLoad(bytes));
            } else {
                std::string message = ErrorOf<LimitError>([&] { OpenAndLoad(bytes); });
                EXPECT_NE(message.find("more than 1048576 row elements"), std::string::npos) << message;
            }
        });
    }
}

TEST(HostileXlsx, CellsInAnyOrderAreLaidOutInLinearithmicTime)
{
    // 200,000 cells in descending order, all inside <row r="1"> while their references name rows
    // 200,001 down to 2; then the same cells in rows of their own, also descending.
    constexpr uint32_t kCells = 200000;
    std::string stray = "<row r=\"1\">";
    std::string descending;
    for (uint32_t i = kCells; i >= 1; --i) {
        const std::string ref = "A" + std::to_string(i + 1);
        stray += "<c r=\"" + ref + "\"><v>" + std::to_string(i) + "</v></c>";
        descending +=
            "<row r=\"" + std::to_string(i + 1) + "\"><c r=\"" + ref + "\"><v>" + std::to_string(i) + "</v></c></row>";
    }
    stray += "</row>";
    for (const std::string* rows : {&stray, &descending}) {
        auto bytes = Package(Parts(Sheet("<sheetData>" + *rows + "</sheetData>")));
        Bounded(2.0, 200, [&] {
            auto wb = OpenAndLoad(bytes);
            const Worksheet& sheet = wb->Sheet(0);
            EXPECT_EQ(sheet.CellCount(), kCells);
            ASSERT_EQ(sheet.rows.size(), kCells);
            EXPECT_EQ(sheet.rows.front().index, 1u);
            EXPECT_EQ(sheet.FindCell(kCells, 0)->number, kCells);
        });
    }
}

TEST(HostileXlsx, FifteenThousandSheetsWithPartsOverAMegabyteAreListed)
{
    // The workbook, relationships and content-types parts are each over 1 MiB: long, but made of
    // small tokens.
    constexpr int kSheets = 15000;
    std::vector<std::string> names;
    for (int i = 1; i <= kSheets; ++i) {
        names.push_back("A rather long sheet name " + std::to_string(i));
    }
    auto parts = test::WorkbookPartsWithSheets(names, [](size_t) { return std::string(); });
    ASSERT_GT(parts["xl/workbook.xml"].size(), 1u << 20);
    ASSERT_GT(parts["[Content_Types].xml"].size(), 1u << 20);
    auto bytes = Package(parts);
    Bounded(2.0, 200, [&] {
        auto wb = ReadXlsx(bytes);
        ASSERT_EQ(wb->SheetCount(), static_cast<size_t>(kSheets));
        EXPECT_EQ(wb->SheetName(kSheets - 1), "A rather long sheet name 15000");
    });
}

TEST(HostileXlsx, SheetsSharingOneWorksheetPartAreDamage)
{
    // 30,000 sheet entries on one relationship: each would load the same part again.
    std::vector<std::string> names;
    for (int i = 1; i <= 30000; ++i) {
        names.push_back("S" + std::to_string(i));
    }
    auto parts = test::WorkbookPartsWithSheets(
        names, [](size_t) { return std::string("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"); }, true);
    auto bytes = Package(parts);
    Bounded(1.0, 64, [&] {
        std::string message = ErrorOf<FormatError>([&] { ReadXlsx(bytes); });
        EXPECT_NE(message.find("hostile.xlsx"), std::string::npos) << message;
        EXPECT_NE(message.find("share one worksheet part"), std::string::npos) << message;
    });
}

TEST(HostileXlsx, SharedStringCountsOfTwoToTheThirtyFirstReserveNothing)
{
    for (const char* count : {"2147483648", "4294967295", "18446744073709551615", "-1"}) {
        SCOPED_TRACE(count);
        auto parts = Parts(Sheet("<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row></sheetData>"));
        parts["xl/sharedStrings.xml"] = "<sst xmlns=\"" + kMain + "\" count=\"" + count + "\" uniqueCount=\"" + count +
                                        "\"><si><t>only</t></si></sst>";
        auto bytes = Package(parts);
        Bounded(1.0, 64, [&] {
            try {
                auto wb = OpenAndLoad(bytes);
                const Cell* cell = wb->Sheet(0).FindCell(0, 0);
                ASSERT_NE(cell, nullptr);
                ASSERT_EQ(cell->type, CellType::String);
                EXPECT_EQ(wb->Strings().At(cell->text), "only");
            } catch (const FormatError& e) {
                EXPECT_NE(std::string(e.what()).find("sharedStrings"), std::string::npos) << e.what();
            }
        });
    }
}

struct BadPart {
    const char* name;
    const char* part;
    std::string content;
    const char* messagePart; // in the FormatError's text
};

// Deep nesting, entities and broken text in parts other than the ones the reader tests cover (the
// styles and the shared strings have parsers of their own), and broken names in the workbook part.
TEST(HostileXlsx, BrokenXmlInEveryPartFailsWithAFormatErrorNamingThePart)
{
    std::string deep;
    for (int i = 0; i < 10000; ++i) {
        deep += "<x>";
    }
    const std::string external = "<?xml version=\"1.0\"?><!DOCTYPE s [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>";
    const std::string workbookHead =
        "<workbook xmlns=\"" + kMain +
        "\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        "<sheets><sheet sheetId=\"1\" r:id=\"rId1\" name=\"";
    const std::string workbookTail = "\"/></sheets></workbook>";
    const BadPart cases[] = {
        {"deep styles", "xl/styles.xml", "<styleSheet xmlns=\"" + kMain + "\">" + deep, "styles.xml"},
        {"deep shared strings", "xl/sharedStrings.xml", "<sst xmlns=\"" + kMain + "\"><si>" + deep,
         "sharedStrings.xml"},
        {"external entity in styles", "xl/styles.xml", external + "<styleSheet>&x;</styleSheet>", "styles.xml"},
        {"external entity in shared strings", "xl/sharedStrings.xml",
         external + "<sst xmlns=\"" + kMain + "\"><si><t>&x;</t></si></sst>", "sharedStrings.xml"},
        {"invalid UTF-8 in a shared string", "xl/sharedStrings.xml",
         "<sst xmlns=\"" + kMain + "\"><si><t>ok \xff\xfe bad</t></si></sst>", "sharedStrings.xml"},
        {"overlong UTF-8 in a cell", "xl/worksheets/sheet1.xml",
         Sheet("<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>\xc0\xaf</t></is></c></row></sheetData>"),
         "sheet1.xml"},
        {"NUL byte in a sheet name", "xl/workbook.xml", workbookHead + std::string("a\0b", 3) + workbookTail,
         "workbook.xml"},
        {"NUL character reference in a sheet name", "xl/workbook.xml", workbookHead + "a&#0;b" + workbookTail,
         "workbook.xml"},
        {"surrogate character reference in a sheet name", "xl/workbook.xml", workbookHead + "a&#xD800;b" + workbookTail,
         "workbook.xml"},
    };
    for (const BadPart& c : cases) {
        SCOPED_TRACE(c.name);
        auto parts = Parts(Sheet("<sheetData><row r=\"1\"><c r=\"A1\" t=\"s\" s=\"1\"><v>0</v></c></row></sheetData>"));
        parts[c.part] = c.content;
        auto bytes = Package(parts);
        Bounded(1.0, 64, [&] {
            std::string message = ErrorOf<FormatError>([&] { OpenAndLoad(bytes); });
            EXPECT_NE(message.find(c.messagePart), std::string::npos) << message;
            EXPECT_EQ(message.find("root:"), std::string::npos) << "nothing fetched: " << message;
        });
    }
}

TEST(HostileXlsx, SheetNameOfTenThousandCharactersIsReadWholeOrRefusedClearly)
{
    // Other office suites write sheet names longer than Excel's 31 characters, so the reader may
    // keep such a name (the merge renames what the output cannot hold); it must not cut it or fail
    // in any other way.
    auto parts = Parts(Sheet("<sheetData/>"));
    std::string& workbook = parts["xl/workbook.xml"];
    const std::string longName(10000, 'N');
    workbook.replace(workbook.find("name=\"Data\""), 11, "name=\"" + longName + "\"");
    auto bytes = Package(parts);
    Bounded(1.0, 64, [&] {
        try {
            auto wb = ReadXlsx(bytes);
            ASSERT_EQ(wb->SheetCount(), 1u);
            EXPECT_EQ(wb->SheetName(0), longName);
        } catch (const FormatError& e) {
            std::string message = e.what();
            EXPECT_NE(message.find("name"), std::string::npos) << message;
            EXPECT_LT(message.size(), 1000u) << "the message must not carry the whole name";
        }
    });
}

TEST(HostileXlsx, StyleIndexesOutOfRangeFallBackToTheDefaultFormat)
{
    auto parts =
        Parts(Sheet("<cols><col min=\"1\" max=\"1\" style=\"70000\" width=\"5\"/></cols>"
                    "<sheetData><row r=\"1\"><c r=\"A1\" s=\"99999\"><v>1</v></c>"
                    "<c r=\"B1\" s=\"4294967295\"><v>2</v></c><c r=\"C1\" s=\"2\"><v>3</v></c></row></sheetData>"));
    parts["xl/styles.xml"] =
        "<styleSheet xmlns=\"" + kMain +
        "\"><fonts><font><sz val=\"11\"/><name val=\"Arial\"/></font></fonts>"
        "<fills><fill><patternFill patternType=\"none\"/></fill></fills><borders><border/></borders>"
        "<cellXfs><xf numFmtId=\"0\" fontId=\"0\"/><xf numFmtId=\"0\" fontId=\"500\" fillId=\"77\" borderId=\"9\"/>"
        "<xf numFmtId=\"9999\" fontId=\"4294967295\"/></cellXfs></styleSheet>";
    auto bytes = Package(parts);
    Bounded(1.0, 64, [&] {
        auto wb = OpenAndLoad(bytes);
        Worksheet& sheet = wb->Sheet(0);
        for (uint32_t col = 0; col < 3; ++col) {
            const Cell* cell = sheet.FindCell(0, col);
            ASSERT_NE(cell, nullptr) << col;
            EXPECT_EQ(cell->number, col + 1.0);
            ASSERT_LT(cell->style, wb->Styles().CellFormats().size()) << col;
            const CellFormat& format = wb->Styles().CellFormats()[cell->style];
            EXPECT_LT(format.font, wb->Styles().Fonts().size());
            EXPECT_LT(format.fill, wb->Styles().Fills().size());
            EXPECT_LT(format.border, wb->Styles().Borders().size());
            EXPECT_LT(format.numFmt, wb->Styles().NumberFormats().size());
        }
        for (const ColumnInfo& column : sheet.columns) {
            EXPECT_LT(column.style, wb->Styles().CellFormats().size());
        }
    });
}

// ---- xls ----------------------------------------------------------------------------------------

std::vector<uint8_t> XfRecord(uint16_t font, uint16_t format)
{
    // XF, [MS-XLS] 2.4.353: a cell XF with parent style 0, general alignment, no borders or fill.
    return tb::Record(
        0x00E0, tb::Bytes().U16(font).U16(format).U16(0x0001).U8(0x20).U8(0).U8(0).U8(0).U32(0).U32(0).U16(0x20C0));
}

// A BIFF8 workbook: one font, 15 style XFs and the cell XFs given, one sheet with `records`.
tb::WorkbookStream Book(std::vector<std::vector<uint8_t>> xfs, const std::string& sheetName,
                        const std::vector<uint8_t>& records)
{
    tb::WorkbookStream wb;
    auto add = [](std::vector<uint8_t>& into, const std::vector<uint8_t>& rec) {
        into.insert(into.end(), rec.begin(), rec.end());
    };
    add(wb.globals, tb::Record(0x0042, tb::Bytes().U16(1200)));
    // FONT, [MS-XLS] 2.4.122: 10 pt, weight 400, automatic colour, "Arial" as a ShortXLUnicodeString.
    add(wb.globals,
        tb::Record(
            0x0031,
            tb::Bytes().U16(200).U16(0).U16(0x7FFF).U16(400).U16(0).U8(0).U8(0).U8(0).U8(0).ShortXLString("Arial")));
    for (int i = 0; i < 15; ++i) {
        add(wb.globals,
            tb::Record(0x00E0,
                       tb::Bytes().U16(0).U16(0).U16(0xFFF5).U8(0x20).U8(0).U8(0).U8(0xF4).U32(0).U32(0).U16(0x20C0)));
    }
    for (const auto& xf : xfs) {
        add(wb.globals, xf);
    }
    tb::Sheet sheet;
    sheet.name = sheetName;
    sheet.records = records;
    wb.sheets.push_back(sheet);
    return wb;
}

std::vector<uint8_t> NumberCell(uint16_t row, uint16_t col, uint16_t xf, double value)
{
    return tb::Record(0x0203, tb::Bytes().U16(row).U16(col).U16(xf).F64(value));
}

std::shared_ptr<const InputBytes> XlsBytes(const tb::WorkbookStream& wb)
{
    return InputBytes::FromMemory(tb::XlsFile(wb).bytes, "hostile.xls");
}

TEST(HostileXls, ARepeatedFilePassRecordIsDamageNotAReasonToStartOver)
{
    // 20,000 copies of the FILEPASS record of the default password (XOR method, its key and
    // verifier) right after the BOF: the first decrypts the stream, the second is damage.
    tb::WorkbookStream wb = Book({XfRecord(0, 0)}, "Data", NumberCell(0, 0, 15, 1));
    const auto filePass = tb::Record(0x002F, tb::Bytes().U16(0).U16(0xB359).U16(0x9A0A));
    std::vector<uint8_t> copies;
    for (int i = 0; i < 20000; ++i) {
        copies.insert(copies.end(), filePass.begin(), filePass.end());
    }
    wb.globals.insert(wb.globals.begin(), copies.begin(), copies.end());
    auto bytes = XlsBytes(wb);
    Bounded(1.0, 64, [&] {
        std::string message = ErrorOf<FormatError>([&] { ReadXls(bytes); });
        EXPECT_NE(message.find("hostile.xls"), std::string::npos) << message;
        EXPECT_NE(message.find("more than one FILEPASS"), std::string::npos) << message;
    });
}

TEST(HostileXls, RowsStoredInDescendingOrderAreLaidOutInLinearithmicTime)
{
    std::vector<uint8_t> cells;
    for (uint32_t r = limits::kXlsMaxRows; r-- > 0;) {
        auto rec = NumberCell(static_cast<uint16_t>(r), 0, 15, r);
        cells.insert(cells.end(), rec.begin(), rec.end());
    }
    auto bytes = XlsBytes(Book({XfRecord(0, 0)}, "Data", cells));
    Bounded(1.0, 100, [&] {
        auto wb = ReadXls(bytes);
        const Worksheet& sheet = wb->Sheet(0);
        ASSERT_EQ(sheet.rows.size(), limits::kXlsMaxRows);
        EXPECT_TRUE(std::is_sorted(sheet.rows.begin(), sheet.rows.end(),
                                   [](const Row& a, const Row& b) { return a.index < b.index; }));
        EXPECT_EQ(sheet.FindCell(65535, 0)->number, 65535.0);
    });
}

TEST(HostileXls, SheetsPointingAtOneSubstreamAreDamage)
{
    tb::WorkbookStream wb = Book({XfRecord(0, 0)}, "S1", NumberCell(0, 0, 15, 1));
    for (int i = 2; i <= 2000; ++i) {
        wb.sheets.push_back(wb.sheets.front());
        wb.sheets.back().name = "S" + std::to_string(i);
    }
    std::vector<uint8_t> stream = wb.Build();
    // Every BoundSheet8 ([MS-XLS] 2.4.28) gets the first one's substream position.
    std::optional<uint32_t> first;
    for (size_t pos = 0; pos + 4 <= stream.size();) {
        const uint16_t type = static_cast<uint16_t>(stream[pos] | (stream[pos + 1] << 8));
        const size_t length = static_cast<size_t>(stream[pos + 2] | (stream[pos + 3] << 8));
        if (type == 0x0085) {
            uint32_t offset = 0;
            std::memcpy(&offset, &stream[pos + 4], 4);
            first = first.value_or(offset);
            std::memcpy(&stream[pos + 4], &*first, 4);
        }
        pos += 4 + length;
    }
    auto bytes = InputBytes::FromMemory(tb::CompoundFile({{"Workbook", stream}}).bytes, "hostile.xls");
    Bounded(1.0, 64, [&] {
        std::string message = ErrorOf<FormatError>([&] { ReadXls(bytes); });
        EXPECT_NE(message.find("hostile.xls"), std::string::npos) << message;
        EXPECT_NE(message.find("point at one worksheet"), std::string::npos) << message;
    });
}

TEST(HostileXls, EmptyMulRkAndMulBlankRecordsAreReportedAsEmpty)
{
    for (uint16_t type : {uint16_t{0x00BD}, uint16_t{0x00BE}}) { // MulRk, MulBlank
        // Row 0, first column 0, no cells, last column 0: six bytes.
        auto bytes = XlsBytes(Book({XfRecord(0, 0)}, "Data", tb::Record(type, tb::Bytes().U16(0).U16(0).U16(0))));
        std::string message = ErrorOf<FormatError>([&] { ReadXls(bytes)->Sheet(0); });
        EXPECT_NE(message.find("holds no cells"), std::string::npos) << message;
    }
}

TEST(HostileXls, FontFormatAndXfIndexesOutOfRangeFallBackToDefaults)
{
    std::vector<uint8_t> cells;
    const std::pair<uint16_t, uint16_t> colAndXf[] = {{0, 15}, {1, 16}, {2, 500}, {3, 0xFFFF}};
    for (auto [col, xf] : colAndXf) {
        auto rec = NumberCell(0, col, xf, col + 1.0);
        cells.insert(cells.end(), rec.begin(), rec.end());
    }
    // XF 15: font 99 (there is one font); XF 16: custom number format 300 that no FORMAT defines.
    auto bytes = XlsBytes(Book({XfRecord(99, 0), XfRecord(0, 300)}, "S", cells));
    Bounded(1.0, 64, [&] {
        auto wb = ReadXls(bytes);
        Worksheet& sheet = wb->Sheet(0);
        for (uint32_t col = 0; col < 4; ++col) {
            const Cell* cell = sheet.FindCell(0, col);
            ASSERT_NE(cell, nullptr) << col;
            EXPECT_EQ(cell->number, col + 1.0);
            ASSERT_LT(cell->style, wb->Styles().CellFormats().size()) << col;
            const CellFormat& format = wb->Styles().CellFormats()[cell->style];
            EXPECT_LT(format.font, wb->Styles().Fonts().size());
            EXPECT_LT(format.numFmt, wb->Styles().NumberFormats().size());
        }
    });
}

TEST(HostileXls, StyleOnlyRowsAndColumnsAcrossTheWholeGridAllocateNoCells)
{
    std::vector<uint8_t> records;
    auto add = [&records](const std::vector<uint8_t>& rec) { records.insert(records.end(), rec.begin(), rec.end()); };
    // DIMENSIONS claiming the whole grid, every column formatted, every 16th row formatted.
    add(tb::Record(0x0200, tb::Bytes().U32(0).U32(65536).U16(0).U16(256).U16(0)));
    add(tb::Record(0x007D, tb::Bytes().U16(0).U16(255).U16(2560).U16(15).U16(0).U16(0)));
    for (uint32_t r = 0; r < 65536; r += 16) {
        // ROW, [MS-XLS] 2.4.221: columns 0-256, height 300 twips, custom height and fGhostDirty with XF 15.
        add(tb::Record(0x0208, tb::Bytes().U16(r).U16(0).U16(256).U16(300).U16(0).U16(0).U32(0x000F0140 | 0x80)));
    }
    auto bytes = XlsBytes(Book({XfRecord(0, 0)}, "S", records));
    Bounded(1.0, 64, [&] {
        auto wb = ReadXls(bytes);
        Worksheet& sheet = wb->Sheet(0);
        EXPECT_EQ(sheet.CellCount(), 0u);
        EXPECT_LE(sheet.columns.size(), 1u);
    });
}

TEST(HostileXls, LongNamesAndBrokenUtf16GiveValidUtf8AndANulIsAClearError)
{
    struct NameCase {
        const char* label;
        std::vector<uint8_t> nameField; // ShortXLUnicodeString: cch, options, characters
        const char* refusal;            // what the error says of a refused name; nullptr: the name is read
    };
    tb::Bytes longName;
    longName.U8(255).U8(0).Ascii(std::string(255, 'L'));
    tb::Bytes nul;
    nul.U8(3).U8(0).U8('a').U8(0).U8('b');
    tb::Bytes loneSurrogate;
    loneSurrogate.U8(3).U8(1).U16('a').U16(0xD800).U16('b');
    tb::Bytes reversedPair;
    reversedPair.U8(2).U8(1).U16(0xDC00).U16(0xD800);
    const NameCase cases[] = {{"255 characters", longName.Data(), nullptr},
                              {"NUL inside", nul.Data(), "NUL"},
                              {"lone surrogate", loneSurrogate.Data(), nullptr},
                              {"reversed surrogate pair", reversedPair.Data(), nullptr}};
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.label);
        tb::WorkbookStream wb = Book({XfRecord(0, 0)}, "PLACEHOLDER", NumberCell(0, 0, 15, 1));
        std::vector<uint8_t> stream = wb.Build();
        // Swap the BoundSheet8 name field for the hostile one and fix the record length and the
        // sheet's stream position.
        const std::vector<uint8_t> placeholder = {11, 0, 'P', 'L', 'A', 'C', 'E', 'H', 'O', 'L', 'D', 'E', 'R'};
        auto at = std::search(stream.begin(), stream.end(), placeholder.begin(), placeholder.end());
        ASSERT_NE(at, stream.end());
        size_t nameAt = static_cast<size_t>(at - stream.begin());
        stream.erase(at, at + static_cast<std::ptrdiff_t>(placeholder.size()));
        stream.insert(stream.begin() + static_cast<std::ptrdiff_t>(nameAt), c.nameField.begin(), c.nameField.end());
        size_t recordAt = nameAt - 6 - 4;
        uint16_t length = static_cast<uint16_t>(6 + c.nameField.size());
        stream[recordAt + 2] = static_cast<uint8_t>(length);
        stream[recordAt + 3] = static_cast<uint8_t>(length >> 8);
        uint32_t position;
        std::memcpy(&position, &stream[recordAt + 4], 4);
        position += static_cast<uint32_t>(c.nameField.size()) - static_cast<uint32_t>(placeholder.size());
        std::memcpy(&stream[recordAt + 4], &position, 4);
        auto bytes = InputBytes::FromMemory(tb::CompoundFile({{"Workbook", stream}}).bytes, "hostile.xls");
        if (c.refusal != nullptr) {
            Bounded(1.0, 64, [&] {
                try {
                    ReadXls(bytes);
                    ADD_FAILURE() << "the sheet name was accepted";
                } catch (const FormatError& e) {
                    EXPECT_NE(std::string(e.what()).find("hostile.xls"), std::string::npos) << e.what();
                    EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << e.what();
                }
            });
            continue;
        }
        Bounded(1.0, 64, [&] {
            try {
                auto book = ReadXls(bytes);
                ASSERT_EQ(book->SheetCount(), 1u);
                const std::string& name = book->SheetName(0);
                // Valid UTF-8: every lead byte has its continuation bytes and no surrogate is encoded.
                for (size_t pos = 0; pos < name.size();) {
                    const size_t start = pos;
                    ASSERT_NE(DecodeUtf8(name, pos), kNotUtf8) << "not UTF-8 at " << start;
                }
                const Cell* cell = book->Sheet(0).FindCell(0, 0);
                ASSERT_NE(cell, nullptr);
                EXPECT_EQ(cell->number, 1.0);
            } catch (const FormatError& e) {
                EXPECT_NE(std::string(e.what()).find("hostile.xls"), std::string::npos) << e.what();
            }
        });
    }
}

} // namespace
} // namespace gq::engine
