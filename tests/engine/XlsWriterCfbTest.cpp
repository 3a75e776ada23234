// Tests of the compound-file writer under the .xls writer: stream sizes around every layout
// boundary (sector, FAT sector, the 109 FAT sectors the header holds, a second DIFAT sector),
// read back by our strict reader and by xlrd's compound-file reader.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/cfb/CfbWriter.h"
#include "tests/engine/XlsWriterTestUtil.h"

namespace gq::test::xls {
namespace {

using namespace gq::engine;

std::vector<uint8_t> Pattern(size_t size)
{
    std::vector<uint8_t> data(size);
    uint32_t x = 2463534242u;
    for (auto& b : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<uint8_t>(x);
    }
    return data;
}

struct SizeCase {
    const char* what;
    size_t bytes;
    bool checkWithXlrd;
};

// With one directory sector, D data sectors need F FAT sectors where 128 F >= D + 1 + F + X.
constexpr size_t kSectors109 = 128 * 109 - 1 - 109;     // the largest stream the header's DIFAT covers
constexpr size_t kSectors236 = 128 * 236 - 1 - 236 - 1; // the largest with one DIFAT sector

const SizeCase kSizes[] = {
    {"the mini-stream cutoff exactly", 4096, true},
    {"one byte into a new sector", 4097, true},
    {"just under one FAT sector's reach", 512 * 126 - 7, false},
    {"one FAT sector full", 512 * 126, false},
    {"two FAT sectors", 512 * 127, false},
    {"all 109 header FAT slots used", 512 * kSectors109, true},
    {"first DIFAT sector", 512 * kSectors109 + 1, true},
    {"one DIFAT sector full", 512 * kSectors236, false},
    {"second DIFAT sector", 512 * kSectors236 + 100, true},
};

TEST(CfbWriter, StreamsOfEverySizeReadBackExactly)
{
    for (const SizeCase& c : kSizes) {
        std::vector<uint8_t> data = Pattern(c.bytes);
        MemorySink sink;
        WriteCompoundFile(u"Workbook", data, sink);
        std::u16string name;
        std::vector<uint8_t> back = ReadOnlyStream(sink.Bytes(), &name);
        EXPECT_EQ(name, u"Workbook") << c.what;
        EXPECT_TRUE(back == data) << c.what << ": the stream did not come back (" << back.size() << " bytes)";
        uint32_t difatSectors = Get32(sink.Bytes(), 72);
        EXPECT_EQ(difatSectors, c.bytes > 512 * kSectors236 ? 2u : c.bytes > 512 * kSectors109 ? 1u : 0u) << c.what;
    }
}

TEST(CfbWriter, XlrdReadsTheStreamAtTheDifatBoundaries)
{
    if (!HaveXlrd()) {
        GTEST_SKIP() << "Debian's python3-xlrd is not installed";
    }
    TempDir dir;
    for (const SizeCase& c : kSizes) {
        if (!c.checkWithXlrd) {
            continue;
        }
        std::vector<uint8_t> data = Pattern(c.bytes);
        MemorySink sink;
        WriteCompoundFile(u"Workbook", data, sink);
        std::string path = dir.File("c.cfb");
        SaveBytes(sink.Bytes(), path);
        XlrdView view = RunDumper("--stream " + ShellQuote(path));
        EXPECT_EQ(view.other, "") << c.what << ": xlrd complained";
        ASSERT_EQ(view.lines.size(), 1u) << c.what;
        // xlrd's stream must be our bytes: compare digests (sha256sum of the original).
        std::string raw = dir.File("raw.bin");
        SaveBytes(data, raw);
        std::string digest;
        ASSERT_EQ(RunCommand("sha256sum " + ShellQuote(raw), digest), 0) << digest;
        digest = digest.substr(0, 64);
        EXPECT_EQ(view.lines[0], Line({"stream", static_cast<int>(c.bytes), digest})) << c.what;
        MemorySink again;
        WriteCompoundFile(u"Workbook", data, again);
        EXPECT_TRUE(again.Bytes() == sink.Bytes()) << c.what << ": not deterministic";
    }
}

TEST(CfbWriter, RefusesWhatItCannotLayOut)
{
    MemorySink sink;
    std::vector<uint8_t> small(4095);
    EXPECT_THROW(WriteCompoundFile(u"Workbook", small, sink), EngineError);
    std::vector<uint8_t> ok(4096);
    EXPECT_THROW(WriteCompoundFile(u"", ok, sink), EngineError);
    EXPECT_THROW(WriteCompoundFile(std::u16string(32, u'x'), ok, sink), EngineError);
    EXPECT_EQ(sink.Written(), 0u);
}

// A workbook of more than 7 MB of records: its compound file needs DIFAT sectors, and xlrd must
// still read every cell.
TEST(XlsWriterLarge, WorkbookNeedingDifatSectorsReadsBack)
{
    if (!HaveXlrd()) {
        GTEST_SKIP() << "Debian's python3-xlrd is not installed";
    }
    Workbook book;
    book.InsertSheet(0, "Big");
    Worksheet& sheet = book.Sheet(0);
    constexpr uint32_t kRows = 45000;
    constexpr uint32_t kCols = 10;
    for (uint32_t r = 0; r < kRows; ++r) {
        for (uint32_t c = 0; c < kCols; ++c) {
            sheet.SetNumber(r, c, r + c / 3.0 + 0.1); // Number records, 18 bytes each
        }
    }
    std::vector<uint8_t> bytes = WriteToMemory(book);
    ASSERT_GT(Get32(bytes, 72), 0u) << "expected DIFAT sectors";
    TempDir dir;
    std::string path = dir.File("big.xls");
    SaveBytes(bytes, path);
    std::string out;
    std::string script =
        "import xlrd,sys\n"
        "b=xlrd.open_workbook(sys.argv[1])\n"
        "s=b.sheet_by_index(0)\n"
        "bad=sum(1 for r in range(s.nrows) for c in range(s.ncols) if s.cell_value(r,c)!=r+c/3.0+0.1)\n"
        "print(s.nrows, s.ncols, bad)\n";
    int rc = RunPython(script, {path}, out);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_EQ(out, "45000 10 0\n");
}

} // namespace
} // namespace gq::test::xls
