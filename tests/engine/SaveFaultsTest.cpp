// Saves that fail part-way: a sink that fails after N bytes, a full file system, a folder that is
// read-only or gone. Each must report a clear IoError, leave no partial file, and leave an earlier
// file at the target untouched.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/WorkbookFile.h"
#include "engine/xlsx/XlsxWriter.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace gq::engine {
namespace {

namespace fs = std::filesystem;

// Accepts `limit` bytes, then fails like a full disk.
class FailingSink : public ByteSink {
public:
    explicit FailingSink(uint64_t limit) : m_limit(limit) {}
    void Write(const void* data, size_t size) override
    {
        if (m_written + size > m_limit) {
            throw IoError("out", "cannot write the file: No space left on device");
        }
        m_bytes.insert(m_bytes.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
        m_written += size;
    }
    uint64_t Written() const override { return m_written; }

private:
    uint64_t m_limit;
    uint64_t m_written = 0;
    std::vector<uint8_t> m_bytes;
};

// A workbook of a few hundred KB in either format: numbers and texts that do not compress away,
// styles, merges and two sheets.
std::unique_ptr<Workbook> SizeableWorkbook()
{
    auto wb = std::make_unique<Workbook>();
    uint32_t seed = 7;
    for (int s = 0; s < 2; ++s) {
        Worksheet& sheet = wb->Sheet(wb->InsertSheet(wb->SheetCount(), "Sheet" + std::to_string(s + 1)));
        ResolvedStyle bold;
        bold.font.bold = true;
        uint32_t style = wb->Styles().InternStyle(bold);
        for (uint32_t r = 0; r < 2000; ++r) {
            for (uint32_t c = 0; c < 8; ++c) {
                seed = seed * 1103515245u + 12345u;
                if (c % 2) {
                    sheet.SetString(r, c, wb->Strings().Intern("t" + std::to_string(seed)), style);
                } else {
                    sheet.SetNumber(r, c, seed / 7.0);
                }
            }
        }
        sheet.merges.push_back({2100, 0, 2101, 3});
    }
    return wb;
}

std::vector<std::string> FilesIn(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(SaveFaults, SinkFailingAnywhereGivesAnIoErrorAndTheWriterStaysUsable)
{
    auto wb = SizeableWorkbook();
    for (FileFormat format : {FileFormat::Xlsx, FileFormat::Xls}) {
        MemorySink whole;
        WriteWorkbook(*wb, format, whole);
        const uint64_t size = whole.Written();
        ASSERT_GT(size, 100000u);
        for (uint64_t limit : {uint64_t{0}, uint64_t{1}, uint64_t{30}, uint64_t{4096}, size / 2, size - 1}) {
            SCOPED_TRACE(std::to_string(limit) + " of " + std::to_string(size) + " bytes, " +
                         (format == FileFormat::Xlsx ? "xlsx" : "xls"));
            FailingSink sink(limit);
            EXPECT_THROW(WriteWorkbook(*wb, format, sink), IoError);
            EXPECT_LE(sink.Written(), limit);
        }
        // A failed write leaves nothing behind in the model or the writer: the next one is whole.
        MemorySink again;
        WriteWorkbook(*wb, format, again);
        EXPECT_EQ(again.Bytes(), whole.Bytes());
    }
}

TEST(SaveFaults, XlsxDeflateThreadsStopWhenTheSinkFails)
{
    auto wb = SizeableWorkbook();
    XlsxWriteOptions options;
    options.threads = 2;
    for (uint64_t limit : {uint64_t{0}, uint64_t{5000}, uint64_t{60000}}) {
        FailingSink sink(limit);
        EXPECT_THROW(WriteXlsx(*wb, sink, options), IoError) << limit;
    }
}

TEST(SaveFaults, FullFileSystemLeavesTheEarlierFileAndNoPartialFile)
{
    test::TempDir dir;
    test::SmallFileSystem small(dir.Path() / "small", "size=64k");
    if (!small.Mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount permission)";
    }
    auto wb = SizeableWorkbook();
    for (const char* name : {"out.xlsx", "out.xls"}) {
        SCOPED_TRACE(name);
        const std::string target = (dir.Path() / "small" / name).string();
        {
            std::ofstream(target) << "earlier content";
        }
        try {
            SaveWorkbookFile(*wb, target);
            ADD_FAILURE() << "a save of several hundred KB fit into 64 KB";
        } catch (const IoError& e) {
            std::string message = e.what();
            EXPECT_NE(message.find(target), std::string::npos) << message;
            EXPECT_NE(message.find("No space left"), std::string::npos) << message;
        }
        EXPECT_EQ(test::ReadAll(target), "earlier content");
        EXPECT_EQ(FilesIn(dir.Path() / "small"), std::vector<std::string>{name}) << "no temporary file may stay";
        fs::remove(target);
    }
}

TEST(SaveFaults, ReadOnlyFolderLeavesTheEarlierFileAndReportsClearly)
{
    test::TempDir dir;
    test::SmallFileSystem folder(dir.Path() / "ro", "size=1m");
    if (!folder.Mounted()) {
        GTEST_SKIP() << "cannot mount a tmpfs here (needs root and mount permission)";
    }
    const std::string target = (dir.Path() / "ro" / "out.xlsx").string();
    {
        std::ofstream(target) << "earlier content";
    }
    ASSERT_TRUE(folder.MakeReadOnly());
    auto wb = SizeableWorkbook();
    try {
        SaveWorkbookFile(*wb, target);
        ADD_FAILURE() << "saved into a read-only folder";
    } catch (const IoError& e) {
        std::string message = e.what();
        EXPECT_NE(message.find(target), std::string::npos) << message;
        EXPECT_NE(message.find("Read-only"), std::string::npos) << message;
    }
    EXPECT_EQ(test::ReadAll(target), "earlier content");
    EXPECT_EQ(FilesIn(dir.Path() / "ro"), std::vector<std::string>{"out.xlsx"});
}

TEST(SaveFaults, ATerminatingSignalDuringTheSaveLeavesNoPartialFile)
{
    auto wb = SizeableWorkbook();
    for (bool unnamedFirst : {true, false}) {
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
            SCOPED_TRACE(std::string(unnamedFirst ? "unnamed file, " : "hidden temporary file, ") + strsignal(signal));
            test::TempDir dir;
            const std::string target = dir.File("out.xlsx");
            std::ofstream(target) << "earlier content";
            pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                for (;;) { // saves until the signal ends it
                    SaveWorkbookFile(*wb, target, unnamedFirst);
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            ::kill(child, signal);
            int status = 0;
            ASSERT_EQ(::waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "status " << status;
            EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"out.xlsx"}) << "no temporary file may stay";
            const std::string content = test::ReadAll(target);
            EXPECT_TRUE(content == "earlier content" || content.rfind("PK", 0) == 0) << "the target is whole";
        }
    }
}

TEST(SaveFaults, AnOutputNameOfTheLongestLengthIsSavedAndReplaced)
{
    auto wb = SizeableWorkbook();
    for (bool unnamedFirst : {true, false}) {
        test::TempDir dir;
        const std::string target = dir.File(std::string(250, 'n') + ".xlsx"); // 255 bytes
        SaveWorkbookFile(*wb, target, unnamedFirst);
        SaveWorkbookFile(*wb, target, unnamedFirst); // replacing it needs a temporary name beside it
        EXPECT_EQ(FilesIn(dir.Path()).size(), 1u);
        EXPECT_EQ(test::ReadAll(target).rfind("PK", 0), 0u);
    }
}

TEST(SaveFaults, VanishedFolderReportsClearlyAndCreatesNothing)
{
    test::TempDir dir;
    const fs::path gone = dir.Path() / "gone";
    fs::create_directories(gone);
    fs::remove(gone);
    auto wb = SizeableWorkbook();
    for (const char* name : {"out.xlsx", "out.xls"}) {
        const std::string target = (gone / name).string();
        try {
            SaveWorkbookFile(*wb, target);
            ADD_FAILURE() << "saved into a folder that does not exist";
        } catch (const IoError& e) {
            std::string message = e.what();
            EXPECT_NE(message.find(target), std::string::npos) << message;
            EXPECT_NE(message.find("No such file"), std::string::npos) << message;
        }
    }
    EXPECT_FALSE(fs::exists(gone));
    EXPECT_TRUE(FilesIn(dir.Path()).empty());
}

} // namespace
} // namespace gq::engine
