// Merges whose output is far larger than the memory they may use: a merge holds what it reads and
// a little of what it builds, so a child process under a small address-space cap completes them.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "engine/WorkbookFile.h"
#include "merge/MergeEngine.h"
#include "tests/support/FakePrompts.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace gq::merge {
namespace {

constexpr uint32_t kRows = 1000;
constexpr uint32_t kCols = 20;
constexpr size_t kEntries = 400;

// One source sheet of 20,000 cells: numbers, and texts from a small pool in every fifth column.
void WriteSource(const std::string& path)
{
    engine::Workbook book;
    book.InsertSheet(0, "Data");
    engine::Worksheet& sheet = book.Sheet(0);
    for (uint32_t r = 0; r < kRows; ++r) {
        for (uint32_t c = 0; c < kCols; ++c) {
            if (c % 5 == 0) {
                sheet.SetString(r, c, book.Strings().Intern("item " + std::to_string((r * 7 + c) % 50)));
            } else {
                sheet.SetNumber(r, c, r * 100.0 + c + 0.25);
            }
        }
    }
    engine::SaveWorkbookFile(book, path);
}

// Runs in a child process under the cap: 0 when the merge completed with nothing skipped.
int MergeUnderCap(const std::vector<catalogue::SheetEntry>& entries, const std::string& output, bool multiSheet,
                  uint64_t addressSpace)
{
    const rlimit cap{addressSpace, addressSpace};
    if (setrlimit(RLIMIT_AS, &cap) != 0) {
        return 10;
    }
    try {
        automation::EmbeddedServerFactory servers;
        test::FakePrompts prompts;
        const MergeReport report = MergeSheets(entries, output, multiSheet, servers, prompts);
        return report.skipped.empty() && !report.stopped ? 0 : 11;
    } catch (...) {
        return 12;
    }
}

constexpr const char* kChildRole = "GQ_MERGE_UNDER_CAP";

// 400 entries of 20,000 cells make an output of 8 M cells, which the workbook model alone holds
// in about 200 MB. The process starts with about 150 MB of address space (the test program, and
// the allocator's reservations its threads left); the cap leaves room for that and a little more,
// not for the output. Each merge runs in a fresh copy of this program (not a fork of it), so that
// the address space earlier tests of the same run left is not counted against the cap. The output
// is read back and counted, cell by cell.
TEST(MergeMemoryAtTheLimit, ManySheetsAndOneTallSheetMergeUnderACapBelowTheirSizeInBothFormats)
{
    constexpr uint64_t kAddressSpace = 256ull << 20;
    // The copy's role: "<m or s>\n<source>\n<output>".
    if (const char* role = std::getenv(kChildRole)) {
        const std::string text = role;
        const size_t end = text.find('\n', 2);
        const std::vector<catalogue::SheetEntry> entries(kEntries,
                                                         catalogue::SheetEntry{"Data", text.substr(2, end - 2)});
        _exit(MergeUnderCap(entries, text.substr(end + 1), text[0] == 'm', kAddressSpace));
    }
    test::TempDir dir;
    const std::string source = dir.File("source.xlsx");
    WriteSource(source);
    const struct {
        bool multiSheet;
        const char* output;
        size_t sheets; // the added sheets and the new workbook's own Sheet1
    } cases[] = {{true, "many.xlsx", kEntries + 1}, {false, "tall.xlsx", 2}, {true, "many.xls", kEntries + 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string output = dir.File(c.output);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const std::string role = std::string(c.multiSheet ? "m\n" : "s\n") + source + "\n" + output;
            setenv(kChildRole, role.c_str(), 1);
            execl("/proc/self/exe", "/proc/self/exe",
                  "--gtest_filter=MergeMemoryAtTheLimit."
                  "ManySheetsAndOneTallSheetMergeUnderACapBelowTheirSizeInBothFormats",
                  static_cast<char*>(nullptr));
            _exit(13);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "the child was killed by signal " << WTERMSIG(status);
        ASSERT_EQ(WEXITSTATUS(status), 0);

        auto back = engine::OpenWorkbookFile(output);
        ASSERT_EQ(back->SheetCount(), c.sheets);
        uint64_t cells = 0;
        for (size_t i = 0; i < back->SheetCount(); ++i) {
            cells += back->Sheet(i).CellCount();
            back->UnloadSheet(i);
        }
        EXPECT_EQ(cells, uint64_t{kEntries} * kRows * kCols);
        // The last block's last row: stacked at the bottom of the tall sheet, or alone on the
        // last merged sheet.
        const size_t sheet = c.multiSheet ? kEntries - 1 : 0;
        const uint32_t row = c.multiSheet ? kRows - 1 : kEntries * kRows - 1;
        const engine::Cell* last = back->Sheet(sheet).FindCell(row, kCols - 1);
        ASSERT_NE(last, nullptr);
        EXPECT_EQ(last->number, (kRows - 1) * 100.0 + (kCols - 1) + 0.25);
    }
}

} // namespace
} // namespace gq::merge
