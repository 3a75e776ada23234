// Whole merges of real workbooks through the embedded server, checked by independent readers
// (openpyxl for xlsx, xlrd for xls): values, number formats, merged ranges and column widths.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "engine/Errors.h"
#include "merge/MergeEngine.h"
#include "tests/support/FakePrompts.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace gq::merge {
namespace {

namespace fs = std::filesystem;
using catalogue::SheetEntry;
using test::RunCommand;
using test::ShellQuote;

const std::string kScripts = std::string(GQ_SOURCE_DIR) + "/tests/merge/scripts/";

struct EndToEnd : testing::Test {
    test::TempDir dir;
    automation::EmbeddedServerFactory servers;
    test::FakePrompts prompts;
    std::vector<SheetEntry> entries;

    void SetUp() override
    {
        std::string out;
        ASSERT_EQ(
            RunCommand("/usr/bin/python3 " + kScripts + "make_sources.py " + ShellQuote(dir.Path().string()), out), 0)
            << out;
        const std::string east = dir.File("east.xlsx");
        const std::string west = dir.File("west.xlsx");
        entries = {{"Data", east}, {"Summary", east}, {"data", west}, {"One row", west}};
    }

    // Runs the independent check; returns its complaints (empty when the output is right).
    std::string Check(const std::string& mode, const std::string& output, const std::string& namesJson,
                      const std::vector<SheetEntry>& list)
    {
        std::string command = "/usr/bin/python3 " + kScripts + "check_merge.py " + mode + " " + ShellQuote(output) +
                              " " + ShellQuote(namesJson);
        for (const auto& e : list) {
            command += " " + ShellQuote(e.SheetName) + " " + ShellQuote(e.FileName);
        }
        std::string out;
        int status = RunCommand(command, out);
        if (status != 0) {
            return "checker failed (" + std::to_string(status) + "): " + out;
        }
        return out;
    }
};

TEST_F(EndToEnd, MultiSheetToXlsxAndXls)
{
    // Visited last to first, each entry's added sheet numbered on from the last: "Data" meets
    // "data" and gets the fourth added sheet's name joined to it.
    const std::string names = R"(["DataSheet5", "Summary", "data", "One row", "Sheet1"])";
    for (const std::string name : {"multi.xlsx", "multi.xls"}) {
        const std::string output = dir.File(name);
        MergeReport report = MergeSheets(entries, output, true, servers, prompts);
        EXPECT_TRUE(report.skipped.empty()) << name;
        EXPECT_EQ(Check("multi", output, names, entries), "") << name;
    }
}

TEST_F(EndToEnd, SingleSheetToXlsxAndXls)
{
    // Every block keeps its own rows: the one-row block is not covered by the next.
    for (const std::string name : {"single.xlsx", "single.XLS"}) {
        const std::string output = dir.File(name);
        MergeReport report = MergeSheets(entries, output, false, servers, prompts);
        EXPECT_TRUE(report.skipped.empty()) << name;
        EXPECT_EQ(Check("single", output, R"(["Sheet2", "Sheet1"])", entries), "") << name;
    }
}

TEST_F(EndToEnd, EmptySheetsTakeNoRowsWhenStacked)
{
    // Visited last to first: the empty sheet comes first, and again between two blocks.
    const std::string west = dir.File("west.xlsx");
    std::vector<SheetEntry> list = entries;
    list.insert(list.begin() + 2, {"Empty", west});
    list.push_back({"Empty", west});
    for (const std::string name : {"empty.xlsx", "empty.xls"}) {
        const std::string output = dir.File(name);
        MergeReport report = MergeSheets(list, output, false, servers, prompts);
        EXPECT_TRUE(report.skipped.empty()) << name;
        EXPECT_EQ(Check("single", output, R"(["Sheet2", "Sheet1"])", list), "") << name;
    }
}

TEST_F(EndToEnd, ASourceWorkbookChosenAsOutputIsMergedAsItWasThenReplaced)
{
    const std::string east = dir.File("east.xlsx");
    const std::string copy = dir.File("east-copy.xlsx");
    fs::copy_file(east, copy);
    const std::vector<SheetEntry> list{{"Summary", east}, {"Data", east}};
    MergeReport report = MergeSheets(list, east, true, servers, prompts);
    EXPECT_TRUE(report.skipped.empty());
    // Checked against the untouched copy of the original.
    const std::vector<SheetEntry> original{{"Summary", copy}, {"Data", copy}};
    EXPECT_EQ(Check("multi", east, R"(["Summary", "Data", "Sheet1"])", original), "");
}

TEST_F(EndToEnd, FailedSaveLeavesTheEarlierFileIntact)
{
    // A folder on a file system of one page, which the earlier file fills: the save finds no room.
    test::SmallFileSystem full(dir.Path() / "full", "size=4k");
    if (!full.Mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount permission)";
    }
    const std::string output = (dir.Path() / "full" / "merged.xlsx").string();
    {
        std::ofstream(output) << "earlier content";
    }
    EXPECT_ANY_THROW(MergeSheets(entries, output, true, servers, prompts));
    EXPECT_EQ(test::ReadAll(output), "earlier content");
    size_t files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.Path() / "full")) {
        ++files;
    }
    EXPECT_EQ(files, 1u) << "no temporary file may be left behind";
}

TEST_F(EndToEnd, AnOutputFolderThatIsMissingOrReadOnlyIsToldAtOnce)
{
    fs::create_directory(dir.File("locked"));
    fs::permissions(dir.File("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    std::vector<std::string> outputs{dir.File("missing") + "/out.xlsx"};
    // Permissions do not hold back the superuser, so the read-only folder is only tried for others.
    if (::geteuid() != 0) {
        outputs.push_back(dir.File("locked") + "/out.xls");
    }
    for (const auto& output : outputs) {
        prompts.messages.clear();
        prompts.saveAs = output;
        MergeCommand(entries, true, servers, prompts);
        ASSERT_EQ(prompts.messages.size(), 1u) << output;
        EXPECT_NE(prompts.messages[0].find("\"" + output + "\" cannot be created"), std::string::npos)
            << prompts.messages[0];
        EXPECT_FALSE(fs::exists(output));
    }
    fs::permissions(dir.File("locked"), fs::perms::owner_all);
    EXPECT_TRUE(fs::is_empty(dir.File("locked"))) << "the check leaves nothing behind";

    // A folder that takes files passes the check even where the save then fails: a file system of
    // one page, which the earlier file fills, has room for the check's empty file but not the output.
    test::SmallFileSystem full(dir.Path() / "full", "size=4k");
    if (!full.Mounted()) {
        GTEST_SKIP() << "cannot mount a small tmpfs here (needs root and mount permission)";
    }
    prompts.saveAs = (dir.Path() / "full" / "merged.xlsx").string();
    {
        std::ofstream(prompts.saveAs) << "earlier content";
    }
    EXPECT_ANY_THROW(MergeCommand(entries, true, servers, prompts));
    EXPECT_EQ(test::ReadAll(prompts.saveAs), "earlier content");
}

TEST_F(EndToEnd, CorpusWorkbooksMergeCellByCell)
{
    const fs::path corpus = test::CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "corpus not present";
    }
    // A few real files from different producers, all of their sheets.
    const std::vector<std::string> files{
        "edr__Test_MergedCell.xls",
        "edr__Test_num_double_date_bool_string.xls",
        "calamine__date.xls",
        "calamine__issue_261_fixed_by_excel.xlsx",
        "xlsxwriter__merge_range03.xlsx",
        "sheetjs__cell_style_simple.xlsx",
    };
    std::vector<SheetEntry> list;
    for (const auto& file : files) {
        const fs::path path = corpus / "files" / file;
        if (!fs::exists(path)) {
            continue;
        }
        auto server = servers.CreateServer();
        auto book = server->OpenWorkbook(path.string());
        for (int32_t i = 1; i <= book->SheetCount(); ++i) {
            list.push_back({book->SheetAt(i)->Name(), path.string()});
        }
        book->Close();
    }
    ASSERT_FALSE(list.empty());
    for (const std::string name : {"corpus.xlsx", "corpus.xls"}) {
        const std::string output = dir.File(name);
        MergeReport report = MergeSheets(list, output, true, servers, prompts);
        for (const auto& s : report.skipped) {
            ADD_FAILURE() << name << ": \"" << s.entry.SheetName << "\" in " << s.entry.FileName << ": " << s.reason;
        }
        EXPECT_EQ(Check("multi", output, "-", list), "") << name;
    }
}

} // namespace
} // namespace gq::merge
