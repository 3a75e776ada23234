// Drops of things that only look like workbooks, through the embedded server: a FIFO, a device
// and a folder named like a workbook. Dropped directly they give a clear error without hanging;
// inside a dropped folder they are skipped.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "catalogue/DropIntake.h"
#include "engine/WorkbookFile.h"
#include "tests/support/FakePrompts.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>

namespace gq::catalogue {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct HostileDrop : testing::Test {
    test::TempDir dir;
    automation::EmbeddedServerFactory servers;
    test::FakePrompts prompts;
    test::RecordingSink sink;
    DropContext context{sink, servers, prompts};

    // A real one-sheet workbook (larger than the folder walk's minimum size).
    std::string RealWorkbook(const std::string& name)
    {
        engine::Workbook wb;
        engine::Worksheet& sheet = wb.Sheet(wb.InsertSheet(0, "Real"));
        for (uint32_t r = 0; r < 50; ++r) {
            sheet.SetNumber(r, 0, r);
        }
        std::string path = dir.File(name);
        engine::SaveWorkbookFile(wb, path);
        return path;
    }

    // A device that never ends when read: a character device node if this machine lets us make
    // one, else a link to /dev/zero (a walk must not follow links to devices either).
    std::string Device(const std::string& name)
    {
        std::string path = dir.File(name);
        if (::mknod(path.c_str(), S_IFCHR | 0600, makedev(1, 5)) != 0) {
            fs::create_symlink("/dev/zero", path);
        }
        return path;
    }

    // Runs a drop on another thread so that a hang fails the test instead of blocking it; a
    // blocked open of a FIFO is released by opening its other end.
    void DropWithin(const std::vector<std::string>& paths, bool expectError, const std::string& fifo = {})
    {
        auto drop = std::async(std::launch::async, [&] {
            try {
                ProcessDrop(paths, context);
                return std::string();
            } catch (const std::exception& e) {
                return std::string(e.what()) + "\n";
            }
        });
        if (drop.wait_for(5s) != std::future_status::ready) {
            if (!fifo.empty()) {
                int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    ::close(fd);
                }
            }
            drop.wait();
            FAIL() << "the drop hung";
        }
        std::string error = drop.get();
        if (expectError) {
            ASSERT_FALSE(error.empty()) << "no error";
            EXPECT_NE(error.find(fs::path(paths.front()).filename().string()), std::string::npos) << error;
        } else {
            EXPECT_TRUE(error.empty()) << error;
        }
        EXPECT_FALSE(prompts.busyVisible);
        EXPECT_EQ(sink.depth, 0);
    }
};

TEST_F(HostileDrop, FifoDroppedDirectlyFailsClearlyWithoutWaitingForAWriter)
{
    std::string fifo = dir.File("pipe.xlsx");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    DropWithin({fifo}, true, fifo);
    EXPECT_TRUE(sink.entries.empty());
}

TEST_F(HostileDrop, DeviceDroppedDirectlyFailsClearlyWithoutReadingForever)
{
    for (const char* name : {"zero.xlsx", "zero.xls"}) {
        SCOPED_TRACE(name);
        DropWithin({Device(name)}, true);
        EXPECT_TRUE(sink.entries.empty());
    }
}

TEST_F(HostileDrop, FolderNamedLikeAWorkbookIsWalkedNotOpened)
{
    fs::create_directories(dir.Path() / "book.xlsx");
    fs::rename(RealWorkbook("inner.xlsx"), dir.Path() / "book.xlsx" / "inner.xlsx");
    DropWithin({(dir.Path() / "book.xlsx").string()}, false);
    ASSERT_EQ(sink.entries.size(), 1u);
    EXPECT_EQ(sink.entries[0].SheetName, "Real");
}

TEST_F(HostileDrop, SpecialFilesInsideAFolderAreSkippedAndTheRealWorkbookListed)
{
    fs::create_directories(dir.Path() / "mixed" / "folder.xls");
    ASSERT_EQ(::mkfifo((dir.Path() / "mixed" / "pipe.xlsx").c_str(), 0600), 0);
    fs::rename(Device("zero.xls"), dir.Path() / "mixed" / "zero.xls");
    fs::rename(RealWorkbook("real.xlsx"), dir.Path() / "mixed" / "real.xlsx");
    DropWithin({(dir.Path() / "mixed").string()}, false, (dir.Path() / "mixed" / "pipe.xlsx").string());
    ASSERT_EQ(sink.entries.size(), 1u);
    EXPECT_EQ(sink.entries[0].FileName, (dir.Path() / "mixed" / "real.xlsx").string());
}

} // namespace
} // namespace gq::catalogue
