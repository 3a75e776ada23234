// The most cells a sheet may hold, end to end: a sheet at the limit is written and read back within
// the memory the limit promises, and one cell more is refused by the reader with a clear error.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/WorkbookFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace gq::engine {
namespace {

// Fills sheet 0 with `cells` formatted blank cells, 16,384 to a row, as a sheet formatted to its
// last column would hold them.
void FillSheet(Workbook& book, uint64_t cells)
{
    Worksheet& sheet = book.Sheet(0);
    for (uint32_t r = 0; cells > 0; ++r) {
        Row& row = sheet.LoadRow(r);
        const auto n = static_cast<uint32_t>(std::min<uint64_t>(cells, limits::kXlsxMaxCols));
        row.cells.resize(n);
        for (uint32_t c = 0; c < n; ++c) {
            row.cells[c].col = c;
            row.cells[c].style = 1;
        }
        cells -= n;
    }
}

// Runs in a child process under an address-space cap: 0 when the sheet of `cells` cells reads back
// whole, 1 when the reader refuses it with the cell limit, anything else when something failed.
int RoundTrip(const std::string& path, uint64_t cells, uint64_t addressSpace)
{
    const rlimit cap{addressSpace, addressSpace};
    if (setrlimit(RLIMIT_AS, &cap) != 0) {
        return 10;
    }
    try {
        {
            Workbook book;
            book.InsertSheet(0, "Full");
            ResolvedStyle style;
            style.fill = Fill{PatternType::Solid, Color::Rgb(0xFFFFFF00), {}};
            if (book.Styles().InternStyle(style) != 1) {
                return 11;
            }
            FillSheet(book, cells);
            SaveWorkbookFile(book, path);
        }
        auto back = OpenWorkbookFile(path);
        return back->Sheet(0).CellCount() == cells ? 0 : 12;
    } catch (const LimitError& e) {
        const std::string text = e.what();
        return text.find("more than " + std::to_string(limits::kMaxCellsPerSheet) + " cells") != std::string::npos ? 1
                                                                                                                   : 13;
    } catch (...) {
        return 14;
    }
}

// The memory the limit implies: 24 bytes a cell, 1.6 GB for a sheet at the limit, held once while
// it is written and once while it is read back, plus the writer's and reader's buffers and the
// mapped file: within 4 GiB of address space.
TEST(CellLimitAtTheLimit, ASheetAtTheLimitRoundTripsAndOneCellMoreIsRefused)
{
    constexpr uint64_t kAddressSpace = 4ull << 30;
    test::TempDir dir;
    const struct {
        uint64_t cells;
        int expected;
    } cases[] = {{limits::kMaxCellsPerSheet, 0}, {limits::kMaxCellsPerSheet + 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cells);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            _exit(RoundTrip(dir.File("full.xlsx"), c.cells, kAddressSpace));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "the child was killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), c.expected);
    }
}

} // namespace
} // namespace gq::engine
