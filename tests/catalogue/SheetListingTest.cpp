// The sheet listing: call order on the server, clean-up and its failure rules, all-or-none rows.
// SPDX-License-Identifier: Apache-2.0
#include "catalogue/SheetListing.h"

#include "tests/support/FakePrompts.h"
#include "tests/support/FakeServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

namespace gq::catalogue {
namespace {

using test::FakePrompts;
using test::FakeServerFactory;
using test::FakeWorld;
using test::RecordingSink;

struct ListingFixture : testing::Test {
    FakeWorld world;
    FakeServerFactory factory{world};
    FakePrompts prompts;
    RecordingSink sink;

    void SetUp() override
    {
        prompts.sharedLog = &world.transcript;
        world.AddFile("/data/Book1.xlsx", {{"Alpha"}, {" Beta "}, {"Alpha"}});
    }
};

TEST_F(ListingFixture, ListsNamesInServerOrderWithTheExactCallSequence)
{
    AddWorkbookSheets(sink, factory, prompts, "/data/Book1.xlsx");

    const std::vector<std::string> expected{
        "CreateServer()",
        "[hourglass on]",
        "S1.OpenWorkbook(/data/Book1.xlsx)",
        "W2.Release()", // the opened workbook is not kept
        "S1.SetDisplayAlerts(false)",
        "S1.SetScreenUpdating(false)",
        "S1.SetVisible(false)",
        "S1.SheetCount()",
        "S1.SheetAt(1)", "H3 is Alpha", "H3.Name()", "H3.Release()",
        "S1.SheetAt(2)", "H4 is  Beta ", "H4.Name()", "H4.Release()",
        "S1.SheetAt(3)", "H5 is Alpha", "H5.Name()", "H5.Release()",
        "[hourglass off]",
        "S1.SetScreenUpdating(true)",
        "S1.WorkbookAt(1)",
        "W2.Close()",
        "W2.Release()",
        "S1.Release()", // released, never asked to quit
    };
    EXPECT_EQ(world.transcript, expected);
    EXPECT_EQ(world.liveReferences, 0);

    // Names untouched (blanks kept, duplicates kept), FileName exactly as passed, one batch.
    ASSERT_EQ(sink.entries.size(), 3u);
    EXPECT_EQ(sink.entries[0], (SheetEntry{"Alpha", "/data/Book1.xlsx"}));
    EXPECT_EQ(sink.entries[1], (SheetEntry{" Beta ", "/data/Book1.xlsx"}));
    EXPECT_EQ(sink.entries[2], (SheetEntry{"Alpha", "/data/Book1.xlsx"}));
    EXPECT_EQ(sink.calls.front(), "begin");
    EXPECT_EQ(sink.calls.back(), "end");
    EXPECT_EQ(prompts.hourglassDepth, 0);
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(ListingFixture, MissingServerIsReportedOnceAndAddsNothing)
{
    world.serverUnavailable = true;
    AddWorkbookSheets(sink, factory, prompts, "/data/Book1.xlsx");
    AddWorkbookSheets(sink, factory, prompts, "/data/Book1.xlsx");

    EXPECT_EQ(prompts.messages, (std::vector<std::string>{kNoServerMessage, kNoServerMessage}));
    EXPECT_TRUE(sink.entries.empty());
    EXPECT_EQ(sink.depth, 0);
    // The cursor was never touched and no server object was called.
    EXPECT_EQ(world.transcript, (std::vector<std::string>{"CreateServer()", "[message:You must intall MS Excel first!]",
                                                          "CreateServer()", "[message:You must intall MS Excel first!]"}));
}

TEST_F(ListingFixture, AWorkbookWithoutWorksheetsGivesNoRowAndNoMessage)
{
    world.AddFile("/data/empty.xls", {});
    AddWorkbookSheets(sink, factory, prompts, "/data/empty.xls");
    EXPECT_TRUE(sink.entries.empty());
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(sink.depth, 0);
    EXPECT_EQ(world.liveReferences, 0);
}

// Failures at each step: what propagates, whether the workbook is closed, and that the batch is
// closed, the cursor restored and every reference dropped in every case.
struct FailureCase {
    const char* name;
    const char* failingCall;
    const char* expectedMessage;
    bool expectClose;
};

class ListingFailures : public ListingFixture, public testing::WithParamInterface<FailureCase> {};

TEST_P(ListingFailures, CleanUpRunsAndTheRightFailureWins)
{
    const FailureCase& c = GetParam();
    world.FailOn(c.failingCall, std::string("failed: ") + c.failingCall);
    sink.entries.push_back(SheetEntry{"earlier", "/x.xlsx"});

    try {
        AddWorkbookSheets(sink, factory, prompts, "/data/Book1.xlsx");
        FAIL() << "expected a failure";
    } catch (const automation::ServerError& e) {
        EXPECT_EQ(std::string(e.what()), c.expectedMessage);
    }
    bool anyClose = false;
    for (const auto& line : world.transcript) {
        anyClose = anyClose || line.find(".Close()") != std::string::npos;
    }
    EXPECT_EQ(anyClose, c.expectClose) << c.name;
    EXPECT_EQ(world.transcript.back(), "S1.Release()");
    EXPECT_EQ(world.liveReferences, 0);
    EXPECT_EQ(prompts.hourglassDepth, 0);
    EXPECT_EQ(sink.depth, 0);
    ASSERT_EQ(sink.entries.size(), 1u) << "all or none of a workbook's sheets";
}

INSTANTIATE_TEST_SUITE_P(
    Steps, ListingFailures,
    testing::Values(
        FailureCase{"open", "S1.OpenWorkbook(/data/Book1.xlsx)", "failed: S1.OpenWorkbook(/data/Book1.xlsx)", false},
        FailureCase{"alerts", "S1.SetDisplayAlerts(false)", "failed: S1.SetDisplayAlerts(false)", true},
        FailureCase{"count", "S1.SheetCount()", "failed: S1.SheetCount()", true},
        FailureCase{"name", "H4.Name()", "failed: H4.Name()", true},
        // A failing clean-up step wins over nothing and over an earlier failure alike.
        FailureCase{"screen updating back on", "S1.SetScreenUpdating(true)", "failed: S1.SetScreenUpdating(true)", false},
        FailureCase{"close", "W2.Close()", "failed: W2.Close()", true}),
    [](const testing::TestParamInfo<FailureCase>& p) {
        std::string n = p.param.name;
        for (char& ch : n) {
            if (!isalnum(static_cast<unsigned char>(ch))) {
                ch = '_';
            }
        }
        return n;
    });

TEST_F(ListingFixture, CleanUpFailureReplacesTheEarlierFailure)
{
    world.FailOn("S1.SheetCount()", "counting failed");
    world.FailOn("S1.SetScreenUpdating(true)", "screen updating failed");
    try {
        AddWorkbookSheets(sink, factory, prompts, "/data/Book1.xlsx");
        FAIL() << "expected a failure";
    } catch (const automation::ServerError& e) {
        EXPECT_STREQ(e.what(), "screen updating failed");
    }
    // The clean-up stopped at the failing step: nothing was closed, the server was still released.
    for (const auto& line : world.transcript) {
        EXPECT_EQ(line.find("Close()"), std::string::npos) << line;
    }
    EXPECT_EQ(world.transcript.back(), "S1.Release()");
    EXPECT_EQ(world.liveReferences, 0);
}

TEST_F(ListingFixture, ServerDescriptionLosesTrailingBlanksAndFullStops)
{
    world.FailOn("S1.OpenWorkbook(/data/Book1.xlsx)", "The file is damaged. . ");
    try {
        AddWorkbookSheets(sink, factory, prompts, "/data/Book1.xlsx");
        FAIL() << "expected a failure";
    } catch (const automation::ServerError& e) {
        EXPECT_STREQ(e.what(), "The file is damaged");
    }
}

} // namespace
} // namespace gq::catalogue
