// Input files that another program cuts short or rewrites while Gridquilt has them open: a clear
// IoError naming the file, never a crash (a mapped page past the new end raises SIGBUS) and never
// a sheet read half from the old file and half from the new.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/WorkbookFile.h"
#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace gq::engine {
namespace {

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Cuts the file short in place, as another program's truncate or rewrite would.
void CutShort(const std::string& path, off_t size)
{
    ASSERT_EQ(::truncate(path.c_str(), size), 0) << path;
}

// Rewrites the file's bytes in place, same length, so only the modification time tells.
void RewriteInPlace(const std::string& path)
{
    int fd = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    const char byte = 'x';
    ASSERT_EQ(::pwrite(fd, &byte, 1, 100), 1);
    struct timespec times[2] = {{0, UTIME_OMIT}, {1, 0}}; // a modification time surely unlike the old
    ASSERT_EQ(::futimens(fd, times), 0);
    ::close(fd);
}

void ExpectChangedError(const std::function<void()>& action, const std::string& path, const char* words)
{
    try {
        action();
        ADD_FAILURE() << "the change to " << path << " went unnoticed";
    } catch (const IoError& e) {
        std::string text = e.what();
        EXPECT_NE(text.find(path), std::string::npos) << text;
        EXPECT_NE(text.find(words), std::string::npos) << text;
    }
}

TEST(ChangedInput, PagesCutFromAMappedFileReadAsZerosAndAreReported)
{
    test::TempDir dir;
    const std::string path = dir.File("cut.bin");
    std::vector<uint8_t> bytes(256 * 1024);
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(1 + i % 251);
    }
    WriteFile(path, bytes);
    auto mapped = InputBytes::MapFile(path);
    auto data = mapped->Data();
    ASSERT_EQ(data[200000], bytes[200000]); // the page is in memory before the cut
    EXPECT_NO_THROW(mapped->CheckUnchanged());

    CutShort(path, 8192);
    // Without the handler each of these reads would end the process with SIGBUS.
    EXPECT_EQ(data[8191], bytes[8191]);
    EXPECT_EQ(data[8192], 0);
    EXPECT_EQ(data[200000], 0);
    EXPECT_EQ(data[data.size() - 1], 0);
    ExpectChangedError([&] { mapped->CheckUnchanged(); }, path, "cut short");

    // A second mapping of the same, now short, file is guarded on its own.
    auto again = InputBytes::MapFile(path);
    EXPECT_EQ(again->Data().size(), 8192u);
    EXPECT_NO_THROW(again->CheckUnchanged());
}

TEST(ChangedInput, ARewrittenFileIsReportedAndAReplacedOneIsNot)
{
    test::TempDir dir;
    const std::string path = dir.File("rewritten.bin");
    WriteFile(path, std::vector<uint8_t>(10000, 7));
    auto mapped = InputBytes::MapFile(path);
    RewriteInPlace(path);
    ExpectChangedError([&] { mapped->CheckUnchanged(); }, path, "changed by another program");

    // Saving over a file the way Gridquilt and most programs do (a new file renamed over the old
    // name) leaves the open file as it was: reading it on is right, and not an error.
    const std::string other = dir.File("replaced.bin");
    WriteFile(other, std::vector<uint8_t>(10000, 7));
    auto kept = InputBytes::MapFile(other);
    WriteFile(dir.File("new.bin"), std::vector<uint8_t>(10, 1));
    fs::rename(dir.File("new.bin"), other);
    EXPECT_NO_THROW(kept->CheckUnchanged());
    EXPECT_EQ(kept->Data()[9999], 7);
}

// A workbook with a large first sheet and a second sheet stored after it, so that cutting the file
// in half removes what the second sheet needs.
void SaveTwoSheetWorkbook(const std::string& path)
{
    Workbook workbook;
    workbook.InsertSheet(0, "First");
    workbook.InsertSheet(1, "Second");
    for (uint32_t r = 0; r < 3000; ++r) {
        for (uint32_t c = 0; c < 8; ++c) {
            workbook.Sheet(0).SetNumber(r, c, r * 8.0 + c * 0.37, 0);
            workbook.Sheet(1).SetString(r, c, workbook.Strings().Intern("text " + std::to_string(r * c)), 0);
        }
    }
    for (size_t i = 0; i < workbook.SheetCount(); ++i) {
        workbook.Sheet(i).Normalize();
    }
    SaveWorkbookFile(workbook, path);
}

TEST(ChangedInput, ASheetReadAfterTheFileChangedIsAClearErrorInBothFormats)
{
    for (const char* extension : {".xlsx", ".xls"}) {
        for (bool cut : {true, false}) {
            SCOPED_TRACE(std::string(extension) + (cut ? " cut short" : " rewritten"));
            test::TempDir dir;
            const std::string path = dir.File(std::string("book") + extension);
            SaveTwoSheetWorkbook(path);
            auto workbook = OpenWorkbookFile(path);
            ASSERT_EQ(workbook->SheetCount(), 2u);
            EXPECT_EQ(workbook->Sheet(0).CellCount(), 24000u);
            if (cut) {
                CutShort(path, static_cast<off_t>(fs::file_size(path) / 2));
            } else {
                RewriteInPlace(path);
            }
            ExpectChangedError([&] { workbook->Sheet(1); }, path, cut ? "changed" : "changed by another program");
            // The sheet read before the change stays as it was read.
            EXPECT_EQ(workbook->Sheet(0).CellCount(), 24000u);
        }
    }
}

// A file cut short between mapping and reading: the reader meets zeros where the end of the file
// was (the zip directory, the compound file's sectors) and the error says why.
TEST(ChangedInput, AFileCutShortWhileBeingOpenedIsReportedAsCutNotAsDamaged)
{
    for (const char* extension : {".xlsx", ".xls"}) {
        SCOPED_TRACE(extension);
        test::TempDir dir;
        const std::string path = dir.File(std::string("book") + extension);
        SaveTwoSheetWorkbook(path);
        auto bytes = InputBytes::MapFile(path);
        CutShort(path, 4096);
        ExpectChangedError([&] { OpenWorkbookBytes(bytes); }, path, "cut short");
    }
}

} // namespace
} // namespace gq::engine
