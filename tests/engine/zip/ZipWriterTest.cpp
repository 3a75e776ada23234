// Tests of the streaming zip writer: parts of awkward sizes read back by Python's zipfile (which
// checks every CRC) and by libzip, equal bytes for any number of threads, and sink failures.
// SPDX-License-Identifier: Apache-2.0
#include "engine/zip/ZipWriter.h"
#include "engine/Errors.h"
#include "tests/engine/XlsxWriterTestUtil.h"
#include "tests/support/XlsxTestPackage.h"

#include <zip.h>
#include <zlib.h>

#include <cstring>
#include <random>

namespace gq::test::xlsxw {
namespace {

using namespace gq::engine;

struct PartCase {
    const char* name;
    size_t size;
    bool streamed;
    bool random; // incompressible bytes rather than repetitive text
};

const PartCase kParts[] = {
    {"empty-whole.txt", 0, false, false},
    {"empty-streamed.txt", 0, true, false},
    {"one.txt", 1, true, false},
    // Parts that end within their first kWholeBytes are deflated whole by libdeflate, the others in
    // primed zlib blocks; libdeflate stores what does not compress.
    {"block-less-one.xml", ZipWriter::kBlockBytes - 1, true, false},
    {"random-one-block.bin", 70000, true, true},
    {"block.xml", ZipWriter::kBlockBytes, true, false},
    {"block-plus-one.xml", ZipWriter::kBlockBytes + 1, true, false},
    {"three-and-a-half.xml", ZipWriter::kBlockBytes * 7 / 2, true, false},
    {"random.bin", ZipWriter::kBlockBytes * 2 + 12345, true, true},
    {"held.xml", ZipWriter::kWholeBytes, true, false},
    {"held-plus-one.xml", ZipWriter::kWholeBytes + 1, true, false},
    {"random-long.bin", ZipWriter::kWholeBytes * 5 / 4, true, true},
    {"whole.xml", 300000, false, false},
    {"dir/sub/whole-random.bin", 70000, false, true},
};

std::string Content(const PartCase& p)
{
    std::string s;
    s.reserve(p.size);
    std::mt19937 rng(static_cast<uint32_t>(p.size));
    for (size_t i = 0; s.size() < p.size; ++i) {
        if (p.random) {
            s += static_cast<char>(rng());
        } else {
            s += "<row r=\"" + std::to_string(i) + "\"><c><v>" + std::to_string(i * 37 % 1001) + "</v></c></row>";
        }
    }
    s.resize(p.size);
    return s;
}

// Writes every part, streamed ones in uneven pieces so that pieces straddle the blocks.
std::vector<uint8_t> WriteArchive(unsigned threads)
{
    MemorySink sink;
    ZipWriter zip(sink, 1, threads);
    for (const PartCase& p : kParts) {
        std::string data = Content(p);
        if (!p.streamed) {
            zip.AddPart(p.name, data);
            continue;
        }
        zip.BeginPart(p.name);
        size_t piece = 1;
        for (size_t pos = 0; pos < data.size(); pos += piece, piece = piece * 3 % 700001 + 1) {
            zip.Write(data.data() + pos, std::min(piece, data.size() - pos));
        }
        zip.EndPart();
    }
    zip.Finish();
    EXPECT_EQ(zip.Written(), sink.Bytes().size());
    return std::move(sink.Bytes());
}

TEST(ZipWriter, PartsReadBackThroughLibzip)
{
    std::vector<uint8_t> bytes = WriteArchive(2);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    ASSERT_NE(source, nullptr);
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    ASSERT_NE(archive, nullptr) << zip_error_strerror(&error);
    ASSERT_EQ(zip_get_num_entries(archive, 0), static_cast<zip_int64_t>(std::size(kParts)));
    for (size_t i = 0; i < std::size(kParts); ++i) {
        SCOPED_TRACE(kParts[i].name);
        zip_stat_t st;
        ASSERT_EQ(zip_stat_index(archive, i, 0, &st), 0);
        EXPECT_STREQ(st.name, kParts[i].name);
        std::string expected = Content(kParts[i]);
        ASSERT_EQ(st.size, expected.size());
        EXPECT_EQ(st.crc,
                  static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(expected.data()), expected.size())));
        // Fixed timestamp: 1980-01-01 00:00 local time.
        std::tm* t = std::localtime(&st.mtime);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->tm_year, 80);
        EXPECT_EQ(t->tm_mon, 0);
        EXPECT_EQ(t->tm_mday, 1);
        std::string data(st.size, '\0');
        zip_file_t* f = zip_fopen_index(archive, i, 0);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(zip_fread(f, data.data(), data.size()), static_cast<zip_int64_t>(data.size()));
        zip_fclose(f);
        EXPECT_TRUE(data == expected);
    }
    zip_close(archive);
}

TEST(ZipWriter, PythonZipfileChecksEveryCrc)
{
    std::string out;
    if (RunCommand("/usr/bin/python3 -c 'import zipfile'", out) != 0) {
        GTEST_SKIP() << "no python3";
    }
    TempDir dir;
    SaveBytes(WriteArchive(0), dir.File("a.zip"));
    // testzip reads every member and compares its CRC; the local headers must agree with the
    // central directory too, or zipfile refuses the member.
    int rc = RunCommand("/usr/bin/python3 -c \"import zipfile,sys,zlib; z=zipfile.ZipFile(sys.argv[1]); "
                        "print(z.testzip()); print(' '.join('%s:%d:%08x' % (i.filename, i.file_size, "
                        "zlib.crc32(z.read(i))) for i in z.infolist()))\" " +
                            ShellQuote(dir.File("a.zip")),
                        out);
    ASSERT_EQ(rc, 0) << out;
    std::string expected = "None\n";
    for (size_t i = 0; i < std::size(kParts); ++i) {
        std::string data = Content(kParts[i]);
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x",
                      static_cast<unsigned>(crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size())));
        expected += std::string(i ? " " : "") + kParts[i].name + ":" + std::to_string(data.size()) + ":" + crc;
    }
    EXPECT_EQ(out, expected + "\n");
}

TEST(ZipWriter, SameBytesForAnyNumberOfThreads)
{
    std::vector<uint8_t> none = WriteArchive(0);
    EXPECT_TRUE(WriteArchive(1) == none);
    EXPECT_TRUE(WriteArchive(4) == none);
}

TEST(ZipWriter, OneBlockPartsAreNoLargerThanZlibAtTheSameLevel)
{
    // The compressor of whole parts is chosen to be faster than zlib; it must not cost bytes, except
    // the few of a stored block where a part of a few bytes does not compress.
    for (const PartCase& p : kParts) {
        std::string data = Content(p);
        if (p.size < 1024 || p.size >= ZipWriter::kWholeBytes) {
            continue;
        }
        SCOPED_TRACE(p.name);
        MemorySink sink;
        ZipWriter zip(sink, 1);
        zip.BeginPart(p.name);
        zip.Write(data.data(), data.size());
        zip.EndPart();
        // The local header (30 bytes and the name) and the data descriptor (16 bytes) around the data.
        size_t packed = sink.Bytes().size() - 30 - std::strlen(p.name) - 16;
        EXPECT_LE(packed, RawDeflate(data, 1).size());
    }
}

TEST(ZipWriter, MisuseIsRefused)
{
    MemorySink sink;
    ZipWriter zip(sink);
    EXPECT_THROW(zip.Write("x", 1), EngineError);
    EXPECT_THROW(zip.EndPart(), EngineError);
    zip.BeginPart("a");
    EXPECT_THROW(zip.AddPart("b", "x"), EngineError);
    EXPECT_THROW(zip.Finish(), EngineError);
    zip.EndPart();
    zip.Finish();
    EXPECT_THROW(zip.AddPart("c", "x"), EngineError);
}

TEST(ZipWriter, SizesThatNeedZip64AreRefused)
{
    // The real limit is 4 GiB; the writer takes a lower one so that the checks can be reached here.
    std::string block(ZipWriter::kBlockBytes, 'a');
    for (unsigned threads : {0u, 2u}) {
        SCOPED_TRACE(threads);
        MemorySink sink;
        ZipWriter zip(sink, 1, threads, 3 * ZipWriter::kBlockBytes);
        zip.BeginPart("big.xml");
        EXPECT_THROW(
            {
                for (int i = 0; i < 5; ++i) {
                    zip.Write(block.data(), block.size());
                }
                zip.EndPart();
            },
            LimitError);
    }
    std::mt19937 rng(7);
    std::string noise(600, '\0');
    for (char& c : noise) {
        c = static_cast<char>(rng());
    }
    {
        MemorySink sink;
        ZipWriter zip(sink, 1, 0, 500);
        EXPECT_THROW(zip.AddPart("whole.bin", noise), LimitError);
    }
    {
        // Each part fits, the archive does not.
        MemorySink sink;
        ZipWriter zip(sink, 1, 0, 1000);
        EXPECT_THROW(
            {
                zip.AddPart("a.bin", noise.substr(0, 400));
                zip.AddPart("b.bin", noise.substr(200, 400));
                zip.AddPart("c.bin", noise.substr(100, 400));
                zip.Finish();
            },
            LimitError);
    }
    {
        MemorySink sink;
        ZipWriter zip(sink);
        for (int i = 0; i < 65535; ++i) {
            zip.AddPart("p" + std::to_string(i), "");
        }
        EXPECT_THROW(zip.AddPart("one-too-many", ""), LimitError);
        zip.Finish();
    }
}

// A sink that fails once a number of bytes have gone through.
class FailingSink : public ByteSink {
public:
    explicit FailingSink(uint64_t failAt) : m_failAt(failAt) {}
    void Write(const void*, size_t size) override
    {
        if (m_written + size > m_failAt) {
            throw IoError("out.xlsx", "disk full");
        }
        m_written += size;
    }
    uint64_t Written() const override { return m_written; }

private:
    uint64_t m_failAt;
    uint64_t m_written = 0;
};

TEST(ZipWriter, SinkFailuresReachTheCallerWhateverTheThreads)
{
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "S"));
    for (uint32_t r = 0; r < 60000; ++r) {
        for (uint32_t c = 0; c < 5; ++c) {
            sheet.SetNumber(r, c, r * 0.5 + c);
        }
    }
    size_t total = WriteToMemory(book).size();
    for (int threads : {0, 2}) {
        for (uint64_t failAt : {uint64_t{10}, uint64_t{total / 3}, uint64_t{total - 10}}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, failing at " + std::to_string(failAt));
            FailingSink sink(failAt);
            XlsxWriteOptions options;
            options.threads = threads;
            EXPECT_THROW(WriteXlsx(book, sink, options), IoError);
        }
    }
}

} // namespace
} // namespace gq::test::xlsxw
