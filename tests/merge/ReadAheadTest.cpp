// Reading the next workbook on a second thread: what the merge writes and reports does not change,
// and a server that quits abandons the read at once and leaves no thread behind.
// SPDX-License-Identifier: Apache-2.0
#include "automation/ReadAhead.h"
#include "automation/EmbeddedServer.h"
#include "engine/WorkbookFile.h"
#include "merge/MergeEngine.h"
#include "tests/support/FakePrompts.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace gq::merge {
namespace {

using automation::EmbeddedServerFactory;
using automation::SaveTarget;
using Clock = std::chrono::steady_clock;

// A workbook of sheets "Data" and "More" whose cells say which file they come from, with texts,
// numbers and a date format, so that string and style tables differ from file to file.
void WriteBook(const std::string& path, int seed, uint32_t rows = 30)
{
    engine::Workbook book;
    for (const char* name : {"Data", "More"}) {
        const size_t index = book.InsertSheet(book.SheetCount(), name);
        engine::Worksheet& sheet = book.Sheet(index);
        engine::CellFormat date;
        date.numFmt = book.Styles().InternNumberFormat("yyyy-mm-dd");
        const uint32_t dateStyle = book.Styles().InternCellFormat(date);
        for (uint32_t r = 0; r < rows; ++r) {
            sheet.SetString(r, 0, book.Strings().Intern("book " + std::to_string(seed) + " row " + std::to_string(r)));
            sheet.SetNumber(r, 1, seed * 1000.0 + r + 0.5);
            sheet.SetNumber(r, 2, 45000.0 + r, dateStyle);
        }
    }
    engine::SaveWorkbookFile(book, path);
}

std::vector<uint8_t> Bytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

MergeReport Merge(const std::vector<catalogue::SheetEntry>& list, const std::string& output, bool multiSheet,
                  bool readAhead)
{
    EmbeddedServerFactory servers(SaveTarget::ReplaceWhenComplete,
                                  readAhead ? automation::ReadAheadMode::On : automation::ReadAheadMode::Off);
    test::FakePrompts prompts;
    return MergeSheets(list, output, multiSheet, servers, prompts);
}

// The process's thread count, from /proc/self/status.
int ThreadCount()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::stoi(line.substr(8));
        }
    }
    return -1;
}

// Thirteen workbooks of both formats, each entered with both its sheets (a run of two entries) and
// one entered again later, merged in both modes to both formats: the bytes are the same with and
// without reading ahead.
TEST(ReadAhead, MergesAreByteIdenticalWithAndWithoutIt)
{
    test::TempDir dir;
    std::vector<catalogue::SheetEntry> list;
    for (int i = 0; i < 13; ++i) {
        const std::string path = dir.File("book" + std::to_string(i) + (i % 3 == 1 ? ".xls" : ".xlsx"));
        WriteBook(path, i);
        list.push_back({"Data", path});
        list.push_back({"More", path});
    }
    list.push_back({"Data", list[4].FileName});
    const struct {
        bool multiSheet;
        const char* output;
    } cases[] = {{true, "multi.xlsx"}, {true, "multi.xls"}, {false, "single.xlsx"}, {false, "single.xls"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        const std::string without = dir.File(std::string("without-") + c.output);
        const std::string with = dir.File(std::string("with-") + c.output);
        const MergeReport before = Merge(list, without, c.multiSheet, false);
        const MergeReport after = Merge(list, with, c.multiSheet, true);
        EXPECT_TRUE(before.skipped.empty());
        EXPECT_EQ(after.skipped.size(), before.skipped.size());
        const std::vector<uint8_t> expected = Bytes(without);
        ASSERT_GT(expected.size(), 4096u);
        EXPECT_TRUE(Bytes(with) == expected);
    }
}

// Sheets large enough to be compressed as the merge leaves them (36,000 cells each): the output is
// the same with and without reading ahead, every sheet reads back as its input, and the texts are
// numbered in the order the sheets were left (the last entry is merged first), not in the output's.
TEST(ReadAhead, LargeSheetsStagedAsAMultiSheetMergeLeavesThemReadBackAsTheirInputs)
{
    test::TempDir dir;
    std::vector<catalogue::SheetEntry> list;
    for (int i = 0; i < 3; ++i) {
        const std::string path = dir.File("book" + std::to_string(i) + ".xlsx");
        WriteBook(path, i, 12000);
        list.push_back({"Data", path});
        list.push_back({"More", path});
    }
    EXPECT_TRUE(Merge(list, dir.File("without.xlsx"), true, false).skipped.empty());
    EXPECT_TRUE(Merge(list, dir.File("with.xlsx"), true, true).skipped.empty());
    EXPECT_TRUE(Bytes(dir.File("with.xlsx")) == Bytes(dir.File("without.xlsx")));

    auto out = engine::OpenWorkbookFile(dir.File("with.xlsx"));
    ASSERT_EQ(out->SheetCount(), list.size() + 1); // and the new workbook's own empty sheet
    for (size_t i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(list[i].FileName + " " + list[i].SheetName);
        auto in = engine::OpenWorkbookFile(list[i].FileName);
        const engine::Worksheet& want = in->Sheet(list[i].SheetName == "Data" ? 0 : 1);
        const engine::Worksheet& got = out->Sheet(i);
        ASSERT_EQ(got.CellCount(), want.CellCount());
        size_t differ = 0;
        for (uint32_t r = 0; r < 12000; ++r) {
            for (uint32_t c = 0; c < 3; ++c) {
                const engine::Cell* a = want.FindCell(r, c);
                const engine::Cell* b = got.FindCell(r, c);
                if (a == nullptr || b == nullptr || a->type != b->type ||
                    in->Styles().Resolve(a->style).numFmt != out->Styles().Resolve(b->style).numFmt ||
                    (a->type == engine::CellType::Number ? a->number != b->number
                                                         : in->Strings().At(a->text) != out->Strings().At(b->text))) {
                    ++differ;
                }
            }
        }
        EXPECT_EQ(differ, 0u);
    }
    if (test::HavePython("zipfile")) {
        std::string first;
        ASSERT_EQ(test::RunPython("import sys, zipfile, re\n"
                                  "sst = zipfile.ZipFile(sys.argv[1]).read('xl/sharedStrings.xml').decode()\n"
                                  "print(re.search('<t>([^<]*)</t>', sst).group(1))\n",
                                  {dir.File("with.xlsx")}, first),
                  0)
            << first;
        EXPECT_EQ(first, "book 2 row 0\n");
    }
}

// Workbooks that fail to read (not a workbook, cut short, no such sheet) sit where the server reads
// them ahead: every entry is reported with the same reason, in the same place, as without it.
TEST(ReadAhead, AnInputThatFailsIsReportedAsWithoutIt)
{
    test::TempDir dir;
    std::vector<catalogue::SheetEntry> list;
    for (int i = 0; i < 8; ++i) {
        const std::string path = dir.File("book" + std::to_string(i) + ".xlsx");
        WriteBook(path, i);
        list.push_back({"Data", path});
    }
    {
        std::ofstream(dir.File("book1.xlsx"), std::ios::binary | std::ios::trunc) << "not a workbook at all";
        std::vector<uint8_t> cut = Bytes(dir.File("book3.xlsx"));
        cut.resize(cut.size() / 2);
        test::SaveBytes(cut, dir.File("book3.xlsx"));
    }
    list[5].SheetName = "Missing";
    for (bool multiSheet : {true, false}) {
        const MergeReport before = Merge(list, dir.File("without.xlsx"), multiSheet, false);
        const MergeReport after = Merge(list, dir.File("with.xlsx"), multiSheet, true);
        ASSERT_EQ(before.skipped.size(), 3u);
        ASSERT_EQ(after.skipped.size(), before.skipped.size());
        for (size_t i = 0; i < before.skipped.size(); ++i) {
            EXPECT_EQ(after.skipped[i].entry.FileName, before.skipped[i].entry.FileName);
            EXPECT_EQ(after.skipped[i].reason, before.skipped[i].reason);
        }
        EXPECT_NE(before.skipped[0].reason.find(dir.File("book1.xlsx")), std::string::npos);
    }
}

// A workbook rewritten after it was read ahead is read again when opened: the new version is what
// the caller gets.
TEST(ReadAhead, AFileChangedAfterItWasReadAheadIsReadAgain)
{
    test::TempDir dir;
    const std::string path = dir.File("book.xlsx");
    WriteBook(path, 1);
    EmbeddedServerFactory servers(SaveTarget::ReplaceWhenComplete, automation::ReadAheadMode::On);
    automation::Ref<automation::SpreadsheetServer> server = servers.CreateServer();
    server->ReadAhead(path, {"Data", "More"});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    engine::Workbook changed;
    changed.InsertSheet(0, "Other");
    changed.Sheet(0).SetNumber(0, 0, 7);
    engine::SaveWorkbookFile(changed, path);
    automation::Ref<automation::Workbook> book = server->OpenWorkbook(path);
    EXPECT_EQ(book->SheetCount(), 1);
    EXPECT_NO_THROW(book->SheetByName("Other"));
    EXPECT_THROW(book->SheetByName("Data"), automation::ServerError);
    book->Close();
    book.Release();
    server->Quit();
}

// A large workbook (just under the size read ahead) that takes a while to read: quitting the server
// while it is read ahead ends the read within a small part of that time, and the thread is gone.
TEST(ReadAhead, QuittingDuringAReadEndsItPromptlyAndLeavesNoThread)
{
    test::TempDir dir;
    const std::string path = dir.File("large.xlsx");
    {
        engine::Workbook book;
        book.InsertSheet(0, "Data");
        engine::Worksheet& sheet = book.Sheet(0);
        for (uint32_t r = 0; r < 40000; ++r) {
            for (uint32_t c = 0; c < 12; ++c) {
                sheet.SetNumber(r, c, r * 13.0 + c);
            }
        }
        engine::SaveWorkbookFile(book, path);
    }
    ASSERT_LT(std::filesystem::file_size(path), automation::WorkbookReadAhead::kMaxFileBytes);
    const auto readStart = Clock::now();
    engine::OpenWorkbookFile(path)->Sheet(0);
    const auto readTime = Clock::now() - readStart;

    const int threadsBefore = ThreadCount();
    EmbeddedServerFactory servers(SaveTarget::ReplaceWhenComplete, automation::ReadAheadMode::On);
    automation::Ref<automation::SpreadsheetServer> server = servers.CreateServer();
    server->ReadAhead(path, {"Data"});
    std::this_thread::sleep_for(readTime / 4);
    // The read is under way: its thread (and, for a large part, the thread inflating it) runs.
    EXPECT_GT(ThreadCount(), threadsBefore);
    const auto quitStart = Clock::now();
    server->Quit();
    const auto quitTime = Clock::now() - quitStart;
    server.Release();
    EXPECT_LT(quitTime, readTime / 4) << "reading takes "
                                      << std::chrono::duration_cast<std::chrono::milliseconds>(readTime).count()
                                      << " ms";
    EXPECT_EQ(ThreadCount(), threadsBefore);
}

} // namespace
} // namespace gq::merge
