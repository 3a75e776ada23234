// Tests of the merge list commands on two sheet lists: adds, removals, the four moves and the
// double-clicks, including the edge cases of an empty list, no focus and the last row.
// SPDX-License-Identifier: Apache-2.0
#include "app/ListCommands.h"

#include <gtest/gtest.h>

#include <QObject>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace gq::app {
namespace {

using catalogue::SheetEntry;
using Names = std::vector<std::string>;

std::vector<SheetRow> Fill(SheetList& list, const Names& names)
{
    std::vector<SheetRow> rows;
    for (const auto& name : names) {
        rows.push_back(list.AppendEntry({name, "/w/" + name + ".xls"}));
    }
    return rows;
}

Names Order(const SheetList& list)
{
    Names out;
    for (SheetRow r = list.FirstRow(); r; r = list.NextRow(r)) {
        out.push_back(list.EntryOf(r).SheetName);
    }
    return out;
}

void Select(SheetList& list, SheetRow row)
{
    list.SelectionModel()->select(list.IndexOf(row), QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void Focus(SheetList& list, SheetRow row)
{
    list.SelectionModel()->setCurrentIndex(list.IndexOf(row), QItemSelectionModel::NoUpdate);
}

std::string FocusedName(const SheetList& list)
{
    const SheetRow f = list.FocusedRow();
    return f ? list.EntryOf(f).SheetName : "(none)";
}

struct MoveCase {
    const char* what;
    friend void PrintTo(const MoveCase& c, std::ostream* os) { *os << c.what; }
    Names rows;
    int focused; // index into rows, -1 for none
    std::function<void(SheetList&)> command;
    Names expected;
};

class MergeListMoves : public testing::TestWithParam<MoveCase> {};

TEST_P(MergeListMoves, MoveOnlyTheFocusedEntry)
{
    const MoveCase& c = GetParam();
    SheetList merge;
    const auto rows = Fill(merge, c.rows);
    if (c.focused >= 0) {
        Focus(merge, rows[static_cast<std::size_t>(c.focused)]);
    }
    c.command(merge);
    EXPECT_EQ(Order(merge), c.expected) << c.what;
    if (c.focused >= 0) {
        EXPECT_EQ(merge.FocusedRow(), rows[static_cast<std::size_t>(c.focused)]) << c.what;
    } else {
        EXPECT_FALSE(merge.FocusedRow()) << c.what;
    }
}

const Names kThree{"One", "Two", "Three"};

INSTANTIATE_TEST_SUITE_P(
    Moves, MergeListMoves,
    testing::Values(MoveCase{"Top on the last", kThree, 2, MoveFocusedToTop, {"Three", "One", "Two"}},
                    MoveCase{"Top on the first", kThree, 0, MoveFocusedToTop, kThree},
                    MoveCase{"Up on the middle", kThree, 1, MoveFocusedUp, {"Two", "One", "Three"}},
                    MoveCase{"Up on the first", kThree, 0, MoveFocusedUp, kThree},
                    MoveCase{"Down on the middle", kThree, 1, MoveFocusedDown, {"One", "Three", "Two"}},
                    MoveCase{"Down on the last goes to the top", kThree, 2, MoveFocusedDown, {"Three", "One", "Two"}},
                    MoveCase{"Bottom on the first", kThree, 0, MoveFocusedToBottom, {"Two", "Three", "One"}},
                    MoveCase{"Bottom on the last", kThree, 2, MoveFocusedToBottom, kThree},
                    MoveCase{"Top without focus", kThree, -1, MoveFocusedToTop, kThree},
                    MoveCase{"Up without focus", kThree, -1, MoveFocusedUp, kThree},
                    MoveCase{"Down without focus", kThree, -1, MoveFocusedDown, kThree},
                    MoveCase{"Bottom without focus", kThree, -1, MoveFocusedToBottom, kThree},
                    MoveCase{"Top with one entry", {"Only"}, 0, MoveFocusedToTop, {"Only"}},
                    MoveCase{"Up with one entry", {"Only"}, 0, MoveFocusedUp, {"Only"}},
                    MoveCase{"Down with one entry", {"Only"}, 0, MoveFocusedDown, {"Only"}},
                    MoveCase{"Bottom with one entry", {"Only"}, 0, MoveFocusedToBottom, {"Only"}},
                    MoveCase{"Moves on an empty list",
                             {},
                             -1,
                             [](SheetList& l) {
                                 MoveFocusedToTop(l);
                                 MoveFocusedUp(l);
                                 MoveFocusedDown(l);
                                 MoveFocusedToBottom(l);
                             },
                             {}},
                    MoveCase{"Down twice from the first",
                             {"A", "B", "C", "D"},
                             0,
                             [](SheetList& l) {
                                 MoveFocusedDown(l);
                                 MoveFocusedDown(l);
                             },
                             {"B", "C", "A", "D"}},
                    MoveCase{"Up three times from the last",
                             {"A", "B", "C", "D"},
                             3,
                             [](SheetList& l) {
                                 MoveFocusedUp(l);
                                 MoveFocusedUp(l);
                                 MoveFocusedUp(l);
                             },
                             {"D", "A", "B", "C"}}));

TEST(MergeListCommands, UpMovesOnlyTheFocusedOneOfSeveralSelected)
{
    SheetList merge;
    const auto rows = Fill(merge, {"A", "B", "C", "D"});
    Select(merge, rows[1]);
    Select(merge, rows[2]);
    Select(merge, rows[3]);
    Focus(merge, rows[2]);
    MoveFocusedUp(merge);
    EXPECT_EQ(Order(merge), (Names{"A", "C", "B", "D"}));
    EXPECT_EQ(FocusedName(merge), "C");
    for (int i : {1, 2, 3}) {
        EXPECT_TRUE(merge.IsRowSelected(rows[static_cast<std::size_t>(i)])) << i;
    }
    EXPECT_FALSE(merge.IsRowSelected(rows[0]));
}

struct AddCase {
    const char* what;
    friend void PrintTo(const AddCase& c, std::ostream* os) { *os << c.what; }
    Names source;
    std::vector<int> selected; // in the order the user picks them
    int sourceFocus;           // -1 for none
    std::function<void(const SheetList&, SheetList&)> command;
    Names expected;
};

class MergeListAdds : public testing::TestWithParam<AddCase> {};

TEST_P(MergeListAdds, AppendCopiesInSourceOrder)
{
    const AddCase& c = GetParam();
    SheetList source;
    SheetList merge;
    const auto rows = Fill(source, c.source);
    for (int i : c.selected) {
        Select(source, rows[static_cast<std::size_t>(i)]);
    }
    if (c.sourceFocus >= 0) {
        Focus(source, rows[static_cast<std::size_t>(c.sourceFocus)]);
    }
    c.command(source, merge);
    EXPECT_EQ(Order(merge), c.expected) << c.what;
    EXPECT_EQ(Order(source), c.source) << c.what << ": the source list never changes";
    for (SheetRow r = merge.FirstRow(); r; r = merge.NextRow(r)) {
        EXPECT_FALSE(merge.IsRowSelected(r));
        EXPECT_EQ(merge.EntryOf(r).FileName, "/w/" + merge.EntryOf(r).SheetName + ".xls");
    }
    EXPECT_FALSE(merge.FocusedRow());
}

const Names kFive{"One", "Two", "Three", "Four", "Five"};

INSTANTIATE_TEST_SUITE_P(
    Adds, MergeListAdds,
    testing::Values(AddCase{"add all from an empty source", {}, {}, -1, CopyAllToMergeList, {}},
                    AddCase{"add selected with nothing selected", kFive, {}, 2, CopySelectedToMergeList, {}},
                    AddCase{"add all", kFive, {1}, -1, CopyAllToMergeList, kFive},
                    AddCase{"add all twice",
                            {"A", "B"},
                            {},
                            -1,
                            [](const SheetList& s, SheetList& m) {
                                CopyAllToMergeList(s, m);
                                CopyAllToMergeList(s, m);
                            },
                            {"A", "B", "A", "B"}},
                    AddCase{"Four clicked before Two", kFive, {3, 1}, 3, CopySelectedToMergeList, {"Two", "Four"}},
                    AddCase{"add selected twice",
                            kFive,
                            {0},
                            -1,
                            [](const SheetList& s, SheetList& m) {
                                CopySelectedToMergeList(s, m);
                                CopySelectedToMergeList(s, m);
                            },
                            {"One", "One"}},
                    AddCase{"unselected focus does not count", kFive, {4}, 0, CopySelectedToMergeList, {"Five"}},
                    AddCase{"double-click copies the focused row", kFive, {}, 2, CopyFocusedToMergeList, {"Three"}},
                    AddCase{"double-click without focus", kFive, {1, 2}, -1, CopyFocusedToMergeList, {}},
                    AddCase{"double-click on an empty source", {}, {}, -1, CopyFocusedToMergeList, {}}));

TEST(MergeListCommands, AddAllRepaintsOnceThroughNestedBatches)
{
    SheetList source;
    SheetList merge;
    Fill(source, {"A", "B", "C"});
    int opened = 0;
    int closed = 0;
    QObject::connect(&merge, &SheetList::BatchOpened, [&opened] { ++opened; });
    QObject::connect(&merge, &SheetList::BatchClosed, [&closed] { ++closed; });
    CopyAllToMergeList(source, merge);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(merge.EntryCount(), 3u);
}

TEST(MergeListCommands, AddingKeepsAnExistingFocusAndAddsNone)
{
    SheetList source;
    SheetList merge;
    const auto sourceRows = Fill(source, {"A", "B"});
    const auto mergeRows = Fill(merge, {"X"});
    Focus(merge, mergeRows[0]);
    CopyAllToMergeList(source, merge);
    EXPECT_EQ(merge.FocusedRow(), mergeRows[0]);
    SheetList other;
    CopyAllToMergeList(source, other);
    EXPECT_FALSE(other.FocusedRow());
    MoveFocusedDown(other); // nothing to move without a focused entry
    EXPECT_EQ(Order(other), (Names{"A", "B"}));
}

struct RemoveCase {
    const char* what;
    friend void PrintTo(const RemoveCase& c, std::ostream* os) { *os << c.what; }
    std::vector<int> selected;
    int focused;
    std::function<void(SheetList&)> command;
    Names expected;
    std::string focusAfter;
};

class MergeListRemoves : public testing::TestWithParam<RemoveCase> {};

TEST_P(MergeListRemoves, RemoveAndSettleFocus)
{
    const RemoveCase& c = GetParam();
    SheetList merge;
    const auto rows = Fill(merge, {"A", "B", "C", "D"});
    for (int i : c.selected) {
        Select(merge, rows[static_cast<std::size_t>(i)]);
    }
    if (c.focused >= 0) {
        Focus(merge, rows[static_cast<std::size_t>(c.focused)]);
    }
    c.command(merge);
    EXPECT_EQ(Order(merge), c.expected) << c.what;
    EXPECT_EQ(FocusedName(merge), c.focusAfter) << c.what;
    // With no focused entry left, the moves do nothing.
    const Names before = Order(merge);
    MoveFocusedToTop(merge);
    MoveFocusedDown(merge);
    if (c.focusAfter == "(none)") {
        EXPECT_EQ(Order(merge), before) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Removes, MergeListRemoves,
    testing::Values(
        RemoveCase{
            "delete selected with focus among them", {1, 3}, 3, RemoveSelectedFromMergeList, {"A", "C"}, "(none)"},
        RemoveCase{
            "delete selected keeps an unselected focus", {0, 1}, 2, RemoveSelectedFromMergeList, {"C", "D"}, "C"},
        RemoveCase{"delete with nothing selected", {}, 1, RemoveSelectedFromMergeList, {"A", "B", "C", "D"}, "B"},
        RemoveCase{"double-click removes all selected", {0, 2}, 2, RemoveSelectedOnDoubleClick, {"B", "D"}, "(none)"},
        RemoveCase{"delete all", {1}, 1, ClearMergeList, {}, "(none)"}));

TEST(MergeListCommands, DeleteAllOnAnEmptyListChangesNothing)
{
    SheetList merge;
    int closed = 0;
    QObject::connect(&merge, &SheetList::BatchClosed, [&closed] { ++closed; });
    ClearMergeList(merge);
    RemoveSelectedFromMergeList(merge);
    RemoveSelectedOnDoubleClick(merge);
    EXPECT_EQ(merge.EntryCount(), 0u);
    EXPECT_EQ(closed, 0);
}

TEST(MergeListCommands, CopiesAreIndependentOfTheSource)
{
    SheetList source;
    SheetList merge;
    const auto rows = Fill(source, {"A"});
    Focus(source, rows[0]);
    CopyFocusedToMergeList(source, merge);
    Select(merge, merge.FirstRow());
    RemoveSelectedFromMergeList(merge);
    EXPECT_EQ(merge.EntryCount(), 0u);
    EXPECT_EQ(source.EntryCount(), 1u);
    EXPECT_EQ(source.EntryOf(rows[0]), (SheetEntry{"A", "/w/A.xls"}));
    CopyFocusedToMergeList(source, merge);
    EXPECT_EQ(Order(merge), (Names{"A"}));
}

} // namespace
} // namespace gq::app
