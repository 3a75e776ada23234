// The merge on the recording fake: call order, naming, stacking, grid limits, absorbed failures,
// the finishing steps and what the user is told.
// SPDX-License-Identifier: Apache-2.0
#include "merge/MergeEngine.h"

#include "catalogue/SheetListing.h"
#include "merge/OutputChoice.h"
#include "tests/support/FakePrompts.h"
#include "tests/support/FakeServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include <sys/stat.h>

namespace gq::merge {
namespace {

using catalogue::SheetEntry;
using test::FakePrompts;
using test::FakeServerFactory;
using test::FakeSheetSpec;
using test::FakeWorld;

struct MergeFixture : testing::Test {
    test::TempDir dir;
    FakeWorld world;
    FakeServerFactory factory{world};
    FakePrompts prompts;

    void SetUp() override { prompts.sharedLog = &world.transcript; }

    // A workbook file that exists on disk and that the fake opens with these sheets.
    std::string Book(const std::string& name, std::vector<FakeSheetSpec> sheets)
    {
        std::string path = dir.File(name);
        std::ofstream(path) << "workbook";
        world.AddFile(path, std::move(sheets));
        return path;
    }
    bool Called(const std::string& call) const
    {
        return std::find(world.transcript.begin(), world.transcript.end(), call) != world.transcript.end();
    }
    size_t CountOf(const std::string& suffix) const
    {
        return static_cast<size_t>(
            std::count_if(world.transcript.begin(), world.transcript.end(), [&](const std::string& l) {
                return l.size() >= suffix.size() && l.compare(l.size() - suffix.size(), suffix.size(), suffix) == 0;
            }));
    }
    const FakeWorld::Saved& Output() const
    {
        EXPECT_EQ(world.saved.size(), 1u);
        return world.saved.back();
    }
};

TEST_F(MergeFixture, OneEntryMultiSheetHasTheExactCallSequence)
{
    auto a = Book("a.xlsx", {{"Data", 4, 3}});
    MergeReport r = MergeSheets({{"Data", a}}, "/out/m.xlsx", true, factory, prompts);
    EXPECT_TRUE(r.skipped.empty());
    const std::vector<std::string> expected{
        "CreateServer()",
        "S1.SetDisplayAlerts(false)",
        "S1.SetScreenUpdating(false)",
        "S1.SetVisible(false)",
        "S1.AddWorkbook()",
        // Pastes keep to what the output's format holds, so the save cannot fail for them.
        "W2.PlanSaveAs(/out/m.xlsx)",
        "[hourglass on]",
        "S1.OpenWorkbook(" + a + ")",
        "W3.SheetByName(Data)",
        "H4 is Data",
        "H4.Select()",
        "H4.Release()",
        "W3.SheetByName(Data)",
        "H5 is Data",
        "H5.UsedRange()",
        "R6.Copy()",
        "R6.RowCount()",
        "R6.ColumnCount()",
        "R6.Release()",
        "H5.Release()",
        // The output's names are read once, before its first sheet is added; later name tests
        // use what the merge knows.
        "W2.SheetCount()",
        "W2.SheetAt(1)",
        "H7 is Sheet1",
        "H7.Name()",
        "H7.Release()",
        "W2.AddSheet()",
        "H8 is Sheet2",
        "H8.Name()",
        "H8.RangeAt(A1)",
        "R9.PasteSpecial()",
        "R9.Release()",
        "H8.SetName(Data)",
        "H8.Release()",
        "W3.Close()",
        "W3.Release()",
        "[hourglass off]",
        "S1.SetScreenUpdating(true)",
        "W2.SaveAs(/out/m.xlsx)",
        "W2.Close()",
        "W2.Release()",
        "S1.Quit()",
        "S1.Release()",
    };
    EXPECT_EQ(world.transcript, expected);
    EXPECT_EQ(world.liveReferences, 0);
    EXPECT_EQ(Output().sheetNames, (std::vector<std::string>{"Data", "Sheet1"}));
}

// The user's stop is checked before every entry and once more before the save; a stop at any of
// these points saves nothing, yet the workbook is closed and the server ends as usual.
TEST_F(MergeFixture, AStopBeforeAnyEntryOrTheSaveSavesNothingAndStillEndsTheServer)
{
    const std::string a = Book("a.xlsx", {{"One"}, {"Two"}, {"Three"}});
    const std::vector<SheetEntry> list{{"One", a}, {"Two", a}, {"Three", a}};
    for (int after = 0; after <= 3; ++after) {
        SCOPED_TRACE(after);
        world.transcript.clear();
        world.saved.clear();
        prompts.stopAfter = after;
        prompts.stopChecks = 0;
        const MergeReport r = MergeSheets(list, "/out/m.xlsx", true, factory, prompts);
        EXPECT_TRUE(r.stopped);
        EXPECT_EQ(CountOf(".OpenWorkbook(" + a + ")"), static_cast<size_t>(after)) << "entries merged before it";
        EXPECT_TRUE(world.saved.empty());
        EXPECT_EQ(CountOf(".Quit()"), 1u);
        EXPECT_EQ(world.liveReferences, 0);
        EXPECT_EQ(prompts.hourglassDepth, 0);
    }
    prompts.stopAfter = -1;
    world.transcript.clear();
    EXPECT_FALSE(MergeSheets(list, "/out/m.xlsx", true, factory, prompts).stopped);
    EXPECT_EQ(world.saved.size(), 1u);
}

TEST_F(MergeFixture, EqualNamesNearerTheEndKeepThePlainName)
{
    auto a = Book("a.xlsx", {{"Data"}, {"Summary"}});
    auto b = Book("b.xls", {{"Data"}});
    MergeReport r = MergeSheets({{"Data", a}, {"Summary", a}, {"Data", b}}, "/out/m.xlsx", true, factory, prompts);
    EXPECT_TRUE(r.skipped.empty());
    // The first entry gets its name joined with the name the server gave its added sheet; the
    // output keeps merge-list order, then the new workbook's own sheet.
    EXPECT_EQ(Output().sheetNames, (std::vector<std::string>{"DataSheet2", "Summary", "Data", "Sheet1"}));
    // A workbook named by two entries is opened and closed twice.
    EXPECT_EQ(CountOf(".OpenWorkbook(" + a + ")"), 2u);
}

struct NameCase {
    const char* existing;
    const char* incoming;
    bool clash;
    bool existingListed; // false: `existing` is the new workbook's own sheet, not a merge entry
};

TEST_F(MergeFixture, NameTestTrimsAndUpperCasesAsciiOnly)
{
    const NameCase cases[] = {
        {"DATA", " data ", true, true},
        {"DATA", "data\t", true, true},
        {"Data", "Data2", false, true},
        {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89", false, true}, // é vs É: not ASCII, no clash
        {"Sheet1", "sheet1", true, false},                       // the server's own sheet counts
    };
    for (const auto& c : cases) {
        world = FakeWorld{};
        prompts.sharedLog = &world.transcript;
        auto a = Book("a.xlsx", {{c.existing}});
        auto b = Book("b.xlsx", {{c.incoming}});
        std::vector<SheetEntry> list{{c.incoming, b}};
        if (c.existingListed) {
            list.push_back({c.existing, a});
        }
        MergeSheets(list, "/out/m.xlsx", true, factory, prompts);
        const auto& names = Output().sheetNames;
        const bool joined = std::find(names.begin(), names.end(), std::string(c.incoming) + "Sheet2") != names.end();
        EXPECT_EQ(joined, c.clash) << c.existing << " / " << c.incoming;
    }
}

TEST_F(MergeFixture, SingleSheetStacksInReverseOrderWithoutGaps)
{
    auto e1 = Book("e1.xlsx", {{"E1", 3, 2}});
    auto e2 = Book("e2.xlsx", {{"E2", 5, 2}});
    auto e3 = Book("e3.xlsx", {{"E3", 2, 2}});
    MergeReport r = MergeSheets({{"E1", e1}, {"E2", e2}, {"E3", e3}}, "/out/s.xls", false, factory, prompts);
    EXPECT_TRUE(r.skipped.empty());
    EXPECT_EQ(Output().sheetNames, (std::vector<std::string>{"Sheet2", "Sheet1"}));
    EXPECT_EQ(Output().pastes.at("Sheet2"),
              (std::vector<std::string>{"A1:" + e3 + "!E3", "A3:" + e2 + "!E2", "A8:" + e1 + "!E1"}));
    // The target sheet was added once, before the hourglass and the loop.
    EXPECT_EQ(CountOf(".AddSheet()"), 1u);
}

// The merge goes from the end of the list to its start; before every other workbook it opens, it
// names the one it will open next and the sheets it will take from it, in the order it takes them,
// so that a server can read that one meanwhile. Entries of one workbook are one workbook here.
TEST_F(MergeFixture, EveryOtherWorkbookTellsTheServerWhichWorkbookComesNext)
{
    auto a = Book("a.xlsx", {{"A1"}, {"A2"}});
    auto b = Book("b.xlsx", {{"B1"}});
    auto c = Book("c.xlsx", {{"C1"}, {"C2"}});
    auto d = Book("d.xlsx", {{"D1"}, {"D2"}});
    auto e = Book("e.xlsx", {{"E1"}});
    std::vector<SheetEntry> list{{"A1", a}, {"A2", a}, {"B1", b}, {"C1", c},
                                 {"C2", c}, {"D2", d}, {"D1", d}, {"E1", e}};
    for (bool multiSheet : {true, false}) {
        world.readAheads.clear();
        MergeSheets(list, dir.File(multiSheet ? "m.xlsx" : "s.xlsx"), multiSheet, factory, prompts);
        EXPECT_EQ(world.readAheads, (std::vector<std::string>{"-|" + d + "|D1,D2", d + "|" + b + "|B1"}))
            << (multiSheet ? "multi-sheet" : "single-sheet");
    }
}

TEST_F(MergeFixture, OneRowBlockIsNotPastedOver)
{
    auto a = Book("a.xlsx", {{"One", 1, 1}, {"Two", 1, 4}});
    MergeSheets({{"Two", a}, {"One", a}}, "/out/s.xlsx", false, factory, prompts);
    EXPECT_EQ(Output().pastes.at("Sheet2"), (std::vector<std::string>{"A1:" + a + "!One", "A2:" + a + "!Two"}));
}

// One workbook's sheets in merge-list order, given by the rows of each block (0 for an empty
// sheet), and the pastes the single target receives as the merge visits them last to first.
struct EmptyBlockCase {
    const char* name;
    std::vector<int32_t> rows; // 0: an empty sheet
    std::vector<std::string> pastedAt;
};

class EmptyBlocks : public MergeFixture, public testing::WithParamInterface<EmptyBlockCase> {};

TEST_P(EmptyBlocks, AnEmptySheetMovesNothingInSingleSheetMode)
{
    const EmptyBlockCase& c = GetParam();
    std::vector<FakeSheetSpec> sheets;
    std::vector<SheetEntry> list;
    for (size_t i = 0; i < c.rows.size(); ++i) {
        const std::string name = "S" + std::to_string(i + 1);
        sheets.push_back(FakeSheetSpec{name, c.rows[i] == 0 ? 1 : c.rows[i], 2, c.rows[i] == 0});
    }
    auto book = Book("b.xlsx", sheets);
    for (const auto& s : sheets) {
        list.push_back({s.name, book});
    }
    MergeReport r = MergeSheets(list, "/out/s.xlsx", false, factory, prompts);
    EXPECT_TRUE(r.skipped.empty()) << c.name;
    std::vector<std::string> expected;
    for (const auto& at : c.pastedAt) {
        expected.push_back(at.substr(0, at.find(':') + 1) + book + "!" + at.substr(at.find(':') + 1));
    }
    const auto& pastes = Output().pastes;
    EXPECT_EQ(pastes.count("Sheet2") ? pastes.at("Sheet2") : std::vector<std::string>{}, expected) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Stacking, EmptyBlocks,
                         testing::Values(EmptyBlockCase{"EmptyVisitedFirst", {3, 0}, {"A1:S1"}},
                                         EmptyBlockCase{"TwoEmptyThenContent", {4, 0, 0}, {"A1:S1"}},
                                         EmptyBlockCase{"EmptyBetweenBlocks", {2, 0, 3}, {"A1:S3", "A4:S1"}},
                                         EmptyBlockCase{"AllEmpty", {0, 0}, {}}),
                         [](const testing::TestParamInfo<EmptyBlockCase>& p) { return std::string(p.param.name); });

// A used range that overhangs the .xls grid only with formatting is pasted (the paste leaves the
// overhang out and says so); one whose content overhangs is skipped with its content's size. What a
// paste changed is reported per entry, cell formats merged with similar ones once for the merge.
TEST_F(MergeFixture, OnlyContentMustFitAndWhatAPasteChangedIsReported)
{
    FakeSheetSpec wide{"Wide", 3, 16384};
    wide.contentCols = 4;
    wide.outcome = {{"formatting beyond column IV / row 65,536 dropped"}, 7};
    FakeSheetSpec tall{"Tall", 70000, 2};
    tall.contentRows = 65537;
    FakeSheetSpec plain{"Plain", 2, 2};
    plain.outcome = {{}, 5};
    auto a = Book("a.xlsx", {wide, tall, plain});
    for (bool multiSheet : {true, false}) {
        SCOPED_TRACE(multiSheet ? "multi-sheet" : "single-sheet");
        world.saved.clear();
        MergeReport r = MergeSheets({{"Wide", a}, {"Tall", a}, {"Plain", a}}, "/o/m.xls", multiSheet, factory, prompts);
        ASSERT_EQ(r.notes.size(), 1u);
        EXPECT_EQ(r.notes[0].entry.SheetName, "Wide");
        EXPECT_EQ(r.notes[0].reason, "the sheet was merged, but formatting beyond column IV / row 65,536 dropped");
        ASSERT_EQ(r.skipped.size(), 1u);
        EXPECT_EQ(r.skipped[0].entry.SheetName, "Tall");
        EXPECT_NE(r.skipped[0].reason.find("its content (65,537 rows x 2 columns) does not fit"), std::string::npos)
            << r.skipped[0].reason;
        EXPECT_EQ(r.outputNotes,
                  std::vector<std::string>{"12 formats merged with similar ones: an .xls file holds at most "
                                           "4,000 distinct cell formats"});
        size_t pasted = 0;
        for (const auto& [sheet, pastes] : Output().pastes) {
            pasted += pastes.size();
        }
        EXPECT_EQ(pasted, 2u);
    }
}

struct GridCase {
    const char* name;
    const char* output;
    int32_t firstBlockRows;
    int32_t secondBlockRows;
    int32_t secondBlockCols;
    const char* secondAt; // nullptr: not pasted and reported
};

class GridLimits : public MergeFixture, public testing::WithParamInterface<GridCase> {};

TEST_P(GridLimits, BlocksThatDoNotFitTheOutputAreReportedNotCut)
{
    const GridCase& c = GetParam();
    auto big = Book("big.xlsx", {{"Big", c.firstBlockRows, 3}});
    auto next = Book("next.xlsx", {{"Next", c.secondBlockRows, c.secondBlockCols}});
    MergeReport r = MergeSheets({{"Next", next}, {"Big", big}}, c.output, false, factory, prompts);
    const auto& pastes = Output().pastes.at("Sheet2");
    if (c.secondAt != nullptr) {
        ASSERT_EQ(pastes.size(), 2u) << c.name;
        EXPECT_EQ(pastes[1], std::string(c.secondAt) + ":" + next + "!Next") << c.name;
        EXPECT_TRUE(r.skipped.empty()) << c.name;
    } else {
        EXPECT_EQ(pastes.size(), 1u) << c.name;
        ASSERT_EQ(r.skipped.size(), 1u) << c.name;
        EXPECT_EQ(r.skipped[0].entry.SheetName, "Next");
        EXPECT_NE(r.skipped[0].reason.find("does not fit"), std::string::npos) << r.skipped[0].reason;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, GridLimits,
    testing::Values(GridCase{"xls_65533_rows_then_next_at_65534", "/o/a.xls", 65533, 3, 1, "A65534"},
                    GridCase{"xls_block_passing_65536", "/o/a.xls", 65533, 4, 1, nullptr},
                    GridCase{"xls_65534_rows_leaves_no_start_row", "/o/a.XLS", 65534, 1, 1, nullptr},
                    GridCase{"xls_257_columns", "/o/a.xls", 1, 1, 257, nullptr},
                    GridCase{"xlsx_past_65536_is_fine", "/o/a.xlsx", 65534, 10, 1, "A65535"},
                    GridCase{"xlsx_last_row", "/o/a.xlsx", 1048575, 1, 1, "A1048576"},
                    GridCase{"xlsx_past_last_row", "/o/a.xlsx", 1048576, 1, 1, nullptr},
                    GridCase{"xlsx_16385_columns", "/o/a.xlsx", 1, 1, 16385, nullptr}),
    [](const testing::TestParamInfo<GridCase>& p) { return std::string(p.param.name); });

TEST_F(MergeFixture, MultiSheetUsedRangeLargerThanTheXlsGridIsNotPasted)
{
    auto a = Book("a.xlsx", {{"Huge", 70000, 3}, {"Small", 2, 2}});
    MergeReport r = MergeSheets({{"Huge", a}, {"Small", a}}, "/o/m.xls", true, factory, prompts);
    EXPECT_EQ(Output().sheetNames, (std::vector<std::string>{"Small", "Sheet1"}));
    ASSERT_EQ(r.skipped.size(), 1u);
    EXPECT_EQ(r.skipped[0].entry.SheetName, "Huge");
}

TEST_F(MergeFixture, MissingFilesAndBadEntriesAreSkippedAndReportedInListOrder)
{
    auto a = Book("a.xlsx", {{"Good", 2, 2}});
    auto broken = dir.File("broken.xlsx");
    std::ofstream(broken) << "not a workbook"; // exists, but the fake cannot open it
    const std::vector<SheetEntry> list{
        {"Gone", dir.File("gone.xlsx")},
        {"Nope", a},
        {"Any", broken},
        {"Good", a},
    };
    MergeReport r = MergeSheets(list, "/o/m.xlsx", true, factory, prompts);
    ASSERT_EQ(r.skipped.size(), 3u);
    EXPECT_EQ(r.skipped[0].entry.SheetName, "Gone");
    EXPECT_EQ(r.skipped[0].reason, "the workbook file no longer exists");
    EXPECT_EQ(r.skipped[1].entry.SheetName, "Nope");
    EXPECT_NE(r.skipped[1].reason.find("no sheet of that name"), std::string::npos);
    EXPECT_EQ(r.skipped[2].entry.SheetName, "Any");
    EXPECT_NE(r.skipped[2].reason.find("could not be opened"), std::string::npos);
    EXPECT_EQ(Output().sheetNames, (std::vector<std::string>{"Good", "Sheet1"}));
    // Nothing was opened for the missing file; the workbook that failed was closed.
    EXPECT_FALSE(Called("S1.OpenWorkbook(" + dir.File("gone.xlsx") + ")"));
    EXPECT_EQ(world.liveReferences, 0);
}

TEST_F(MergeFixture, NoFileLeftGivesOnlyTheNewWorkbooksSheets)
{
    MergeReport multi = MergeSheets({{"A", dir.File("x.xlsx")}}, "/o/m.xlsx", true, factory, prompts);
    EXPECT_EQ(world.saved.back().sheetNames, (std::vector<std::string>{"Sheet1"}));
    MergeReport single = MergeSheets({{"A", dir.File("x.xlsx")}}, "/o/s.xlsx", false, factory, prompts);
    EXPECT_EQ(world.saved.back().sheetNames, (std::vector<std::string>{"Sheet2", "Sheet1"}));
    EXPECT_EQ(multi.skipped.size(), 1u);
    EXPECT_EQ(single.skipped.size(), 1u);
}

TEST_F(MergeFixture, RefusedRenameKeepsTheSheetAndSaysWhichNameItKept)
{
    auto a = Book("a.xlsx", {{"Data"}});
    world.FailOn("H8.SetName(Data)", "That name is already taken.");
    MergeReport r = MergeSheets({{"Data", a}}, "/o/m.xlsx", true, factory, prompts);
    EXPECT_EQ(Output().sheetNames, (std::vector<std::string>{"Sheet2", "Sheet1"}));
    ASSERT_EQ(r.skipped.size(), 1u);
    EXPECT_EQ(r.skipped[0].reason,
              "the sheet was merged under the name \"Sheet2\" because the name \"Data\" was refused: That name is "
              "already taken");
}

// Each report line says what happened to its entry, in plain words: one entry per case, merged in
// multi-sheet mode to an .xls file, with at most one server call refused once.
struct ReportCase {
    const char* name;
    std::function<std::string(MergeFixture&)> firstEntryPath; // sets the scene
    const char* failingCall;                                  // nullptr: nothing injected
    const char* reason;
};

class ReportWording : public MergeFixture, public testing::WithParamInterface<ReportCase> {};

TEST_P(ReportWording, EachLineSaysWhatHappenedToItsEntry)
{
    const ReportCase& c = GetParam();
    const std::string first = c.firstEntryPath(*this);
    if (c.failingCall != nullptr) {
        world.FailOn(c.failingCall, "Refused.", 1);
    }
    MergeReport r = MergeSheets({{"First", first}}, "/o/m.xls", true, factory, prompts);
    ASSERT_EQ(r.skipped.size(), 1u) << c.name;
    EXPECT_EQ(r.skipped[0].reason, c.reason) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, ReportWording,
    testing::Values(
        ReportCase{"folder",
                   [](MergeFixture& f) {
                       std::filesystem::create_directory(f.dir.File("folder.xls"));
                       return f.dir.File("folder.xls");
                   },
                   nullptr, "a folder now stands where the workbook file was"},
        ReportCase{"fifo",
                   [](MergeFixture& f) {
                       EXPECT_EQ(::mkfifo(f.dir.File("pipe.xls").c_str(), 0600), 0);
                       return f.dir.File("pipe.xls");
                   },
                   nullptr, "something other than a file (a pipe or a device) now stands where the workbook file was"},
        ReportCase{"refused_paste",
                   [](MergeFixture& f) {
                       return f.Book("a.xlsx", {{"First", 2, 2}});
                   },
                   "R9.PasteSpecial()",
                   "its content could not be copied into the output: Refused; the output keeps an empty sheet "
                   "\"Sheet2\" in its place"},
        ReportCase{"names_unreadable",
                   [](MergeFixture& f) {
                       return f.Book("a.xlsx", {{"First", 2, 2}});
                   },
                   "W2.SheetCount()",
                   "the names of the output's sheets could not be read, so no sheet was added for it: Refused"},
        ReportCase{"too_wide",
                   [](MergeFixture& f) {
                       return f.Book("a.xlsx", {{"First", 2, 300}});
                   },
                   nullptr,
                   "its content (2 rows x 300 columns) does not fit an .xls sheet (65,536 rows x 256 columns)"},
        ReportCase{"one_row_too_wide",
                   [](MergeFixture& f) {
                       return f.Book("a.xlsx", {{"First", 1, 300}});
                   },
                   nullptr,
                   "its content (1 row x 300 columns) does not fit an .xls sheet (65,536 rows x 256 columns)"}),
    [](const testing::TestParamInfo<ReportCase>& p) { return std::string(p.param.name); });

TEST_F(MergeFixture, EveryRefusedRenameIsReportedWithItsOwnName)
{
    auto a = Book("a.xlsx", {{"One"}, {"Two"}});
    world.FailOn("H8.SetName(Two)", "Refused.");
    world.FailOn("H14.SetName(One)", "Refused.");
    MergeReport r = MergeSheets({{"One", a}, {"Two", a}}, "/o/m.xlsx", true, factory, prompts);
    ASSERT_EQ(r.skipped.size(), 2u);
    EXPECT_NE(r.skipped[0].reason.find("the name \"One\" was refused"), std::string::npos) << r.skipped[0].reason;
    EXPECT_NE(r.skipped[1].reason.find("the name \"Two\" was refused"), std::string::npos) << r.skipped[1].reason;
}

TEST_F(MergeFixture, FailingCloseIsRetriedOnceAndTheMergeGoesOn)
{
    auto a = Book("a.xlsx", {{"A"}});
    auto b = Book("b.xlsx", {{"B"}});
    world.FailOn("W3.Close()", "busy", 1); // the first source workbook's close fails once
    MergeReport r = MergeSheets({{"A", a}, {"B", b}}, "/o/m.xlsx", true, factory, prompts);
    EXPECT_EQ(CountOf("W3.Close()"), 2u);
    EXPECT_TRUE(r.skipped.empty());
    EXPECT_EQ(Output().sheetNames, (std::vector<std::string>{"A", "B", "Sheet1"}));
    EXPECT_EQ(world.liveReferences, 0);
}

TEST_F(MergeFixture, FailingCloseWhileHandlingAFailureEscapesAfterTheSave)
{
    auto a = Book("a.xlsx", {{"A"}});
    auto b = Book("b.xlsx", {{"B"}});
    world.FailOn("W3.SheetByName(Missing)", "no such sheet");
    world.FailOn("W3.Close()", "cannot close");
    EXPECT_THROW(MergeSheets({{"A", a}, {"Missing", b}}, "/o/m.xlsx", true, factory, prompts), automation::ServerError);
    // The entry after it in the visiting order was not processed; the workbook was still saved,
    // closed and the server quit, every reference dropped.
    EXPECT_FALSE(Called("S1.OpenWorkbook(" + a + ")"));
    EXPECT_TRUE(Called("W2.SaveAs(/o/m.xlsx)"));
    EXPECT_TRUE(Called("S1.Quit()"));
    EXPECT_EQ(world.liveReferences, 0);
    EXPECT_EQ(prompts.hourglassDepth, 0);
}

struct StepFailure {
    const char* name;
    const char* call;
    bool saved;
    bool quit;
    bool hourglassShown;
};

class MergeStepFailures : public MergeFixture, public testing::WithParamInterface<StepFailure> {};

TEST_P(MergeStepFailures, FinishingRunsAsFarAsItGetsAndTheFailurePropagates)
{
    const StepFailure& c = GetParam();
    auto a = Book("a.xlsx", {{"A"}});
    world.FailOn(c.call, "boom");
    try {
        MergeSheets({{"A", a}}, "/o/m.xls", false, factory, prompts);
        FAIL() << "expected a failure";
    } catch (const automation::ServerError& e) {
        EXPECT_STREQ(e.what(), "boom");
    }
    EXPECT_EQ(!world.saved.empty(), c.saved) << c.name;
    EXPECT_EQ(Called("S1.Quit()"), c.quit) << c.name;
    EXPECT_EQ(std::find(prompts.events.begin(), prompts.events.end(), "hourglass on") != prompts.events.end(),
              c.hourglassShown)
        << c.name;
    EXPECT_EQ(world.liveReferences, 0) << c.name;
    EXPECT_EQ(prompts.hourglassDepth, 0) << c.name;
    EXPECT_TRUE(prompts.messages.empty()) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Steps, MergeStepFailures,
                         testing::Values(StepFailure{"alerts", "S1.SetDisplayAlerts(false)", false, true, false},
                                         StepFailure{"add_workbook", "S1.AddWorkbook()", false, true, false},
                                         StepFailure{"add_target_sheet", "W2.AddSheet()", true, true, false},
                                         StepFailure{"screen_updating_on", "S1.SetScreenUpdating(true)", false, false,
                                                     true},
                                         StepFailure{"save", "W2.SaveAs(/o/m.xls)", false, false, true},
                                         StepFailure{"close_new_workbook", "W2.Close()", true, false, true},
                                         StepFailure{"quit", "S1.Quit()", true, true, true}),
                         [](const testing::TestParamInfo<StepFailure>& p) { return std::string(p.param.name); });

TEST_F(MergeFixture, MissingServerIsReportedAndEndsQuietly)
{
    world.serverUnavailable = true;
    prompts.saveAs = dir.File("out.xlsx");
    MergeCommand({{"A", dir.File("a.xlsx")}}, true, factory, prompts);
    EXPECT_EQ(prompts.messages, (std::vector<std::string>{catalogue::kNoServerMessage}));
    EXPECT_EQ(prompts.hourglassDepth, 0);
    EXPECT_TRUE(world.saved.empty());
}

TEST_F(MergeFixture, AnOutputThatCannotBeCreatedIsToldBeforeTheMergeStarts)
{
    auto a = Book("a.xlsx", {{"A"}});
    std::filesystem::create_directory(dir.File("taken.xlsx"));
    const struct {
        std::string output;
        const char* says;
    } cases[] = {
        {dir.File("missing") + "/out.xlsx", "does not exist"},
        {a + "/out.xlsx", "is not a folder"},
        {dir.File("taken.xlsx"), "a folder of that name is in the way"},
    };
    for (const auto& c : cases) {
        world.transcript.clear();
        prompts.messages.clear();
        prompts.saveAs = c.output;
        MergeCommand({{"A", a}}, true, factory, prompts);
        ASSERT_EQ(prompts.messages.size(), 1u) << c.output;
        EXPECT_NE(prompts.messages[0].find("\"" + c.output + "\" cannot be created"), std::string::npos)
            << prompts.messages[0];
        EXPECT_NE(prompts.messages[0].find(c.says), std::string::npos) << prompts.messages[0];
        EXPECT_FALSE(Called("CreateServer()")) << c.output;
    }
    EXPECT_TRUE(world.saved.empty());
}

TEST_F(MergeFixture, CommandChecksTheListAsksForTheFileAndReports)
{
    // Empty list: a message and no dialog.
    MergeCommand({}, true, factory, prompts);
    EXPECT_EQ(prompts.messages, (std::vector<std::string>{kNothingToMerge}));
    EXPECT_TRUE(prompts.dialogs.empty());

    // Cancelled dialog: nothing started, nothing said.
    prompts.messages.clear();
    auto a = Book("a.xlsx", {{"A"}});
    MergeCommand({{"A", a}}, true, factory, prompts);
    EXPECT_EQ(prompts.dialogs, (std::vector<std::string>{".xls|EXCEL File|*.xls|Excel Workbook (*.xlsx)|*.xlsx|OpenDocument Spreadsheet (*.ods)|*.ods|"}));
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_FALSE(Called("CreateServer()"));

    // An existing file and No: nothing started, the file untouched.
    auto existing = dir.File("old.xls");
    std::ofstream(existing) << "precious";
    prompts.saveAs = existing;
    prompts.answerYes = false;
    MergeCommand({{"A", a}}, true, factory, prompts);
    EXPECT_EQ(prompts.questions, (std::vector<std::string>{std::string(kDeleteCaption) + ":" + kDeleteQuestion}));
    EXPECT_FALSE(Called("CreateServer()"));
    EXPECT_TRUE(std::filesystem::exists(existing));

    // Yes: the file is NOT deleted before the merge (the save replaces it), and the merge runs.
    prompts.answerYes = true;
    MergeCommand({{"A", a}, {"Gone", dir.File("gone.xlsx")}}, true, factory, prompts);
    EXPECT_TRUE(std::filesystem::exists(existing));
    EXPECT_EQ(world.saved.back().path, existing);
    ASSERT_EQ(prompts.messages.size(), 1u);
    EXPECT_EQ(prompts.messages[0].rfind(kMergeCompleted, 0), 0u);
    EXPECT_NE(prompts.messages[0].find("\"Gone\" in " + dir.File("gone.xlsx")), std::string::npos);
    EXPECT_NE(prompts.lastDetails.find("no longer exists"), std::string::npos);
}

TEST_F(MergeFixture, CompletionMessageIsPlainWhenNothingWasSkippedAndListsLongReportsInDetails)
{
    ShowCompletion(prompts, MergeReport{});
    EXPECT_EQ(prompts.messages.back(), kMergeCompleted);

    MergeReport many;
    for (int i = 0; i < 20; ++i) {
        many.skipped.push_back({{"S" + std::to_string(i), "/f.xlsx"}, "why"});
    }
    ShowCompletion(prompts, many);
    EXPECT_NE(prompts.messages.back().find("20 sheets were not merged:"), std::string::npos);
    EXPECT_NE(prompts.messages.back().find("and 12 more"), std::string::npos);
    EXPECT_NE(prompts.lastDetails.find("\"S19\" in /f.xlsx: why"), std::string::npos);
}

TEST_F(MergeFixture, CompletionMessageListsFormulasKeptAsValuesAfterTheSkippedSheets)
{
    MergeReport report;
    report.skipped.push_back({{"Gone", "/g.xlsx"}, "the workbook file no longer exists"});
    report.notes.push_back({{"Calc", "/c.xlsx"}, "the sheet was merged, but one formula was kept as its value"});
    ShowCompletion(prompts, report);
    const std::string& text = prompts.messages.back();
    size_t skipped = text.find("One sheet was not merged:\n\u2022 \"Gone\" in /g.xlsx");
    size_t noted = text.find("One sheet was merged with changes:\n\u2022 \"Calc\" in /c.xlsx: the sheet was "
                             "merged, but one formula was kept as its value");
    ASSERT_NE(skipped, std::string::npos) << text;
    ASSERT_NE(noted, std::string::npos) << text;
    EXPECT_LT(skipped, noted);
    EXPECT_EQ(text.rfind(kMergeCompleted, 0), 0u);
    EXPECT_NE(prompts.lastDetails.find("\"Calc\" in /c.xlsx: the sheet was merged"), std::string::npos);
}

} // namespace
} // namespace gq::merge
