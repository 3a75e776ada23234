// Tests of the sheet list model: order, moves, selection and focus across changes, batches.
// SPDX-License-Identifier: Apache-2.0
#include "app/SheetList.h"

#include <gtest/gtest.h>

#include <QObject>

#include <algorithm>
#include <stdexcept>

#include <map>
#include <ostream>
#include <string>
#include <vector>

namespace gq::app {
namespace {

// A list with one row per name (FileName "/w/<name>.xlsx") and the rows by name.
struct Fixture {
    SheetList list;
    std::map<std::string, SheetRow> rows;

    explicit Fixture(const std::vector<std::string>& names)
    {
        for (const auto& name : names) {
            rows[name] = list.AppendEntry({name, "/w/" + name + ".xlsx"});
        }
    }
    SheetRow operator[](const std::string& name) const { return name.empty() ? SheetRow{} : rows.at(name); }

    // The sheet names from first to last, walked forwards, checked against the backward walk.
    std::vector<std::string> Order() const
    {
        std::vector<std::string> forward;
        for (SheetRow r = list.FirstRow(); r; r = list.NextRow(r)) {
            forward.push_back(list.EntryOf(r).SheetName);
        }
        std::vector<std::string> backward;
        for (SheetRow r = list.LastRow(); r; r = list.PreviousRow(r)) {
            backward.insert(backward.begin(), list.EntryOf(r).SheetName);
        }
        EXPECT_EQ(forward, backward);
        EXPECT_EQ(forward.size(), list.EntryCount());
        return forward;
    }
    void Select(const std::string& name)
    {
        list.SelectionModel()->select(list.IndexOf(rows.at(name)),
                                      QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void Focus(const std::string& name)
    {
        list.SelectionModel()->setCurrentIndex(list.IndexOf(rows.at(name)), QItemSelectionModel::NoUpdate);
    }
    std::vector<std::string> Selected() const
    {
        std::vector<std::string> out;
        for (SheetRow r = list.FirstRow(); r; r = list.NextRow(r)) {
            if (list.IsRowSelected(r)) {
                out.push_back(list.EntryOf(r).SheetName);
            }
        }
        return out;
    }
    std::string Focused() const
    {
        const SheetRow f = list.FocusedRow();
        return f ? list.EntryOf(f).SheetName : std::string("(none)");
    }
};

using Names = std::vector<std::string>;

// Counts the emissions of one signal (QtTest is not linked into these tests).
class SignalCounter {
public:
    template <class Signal>
    SignalCounter(const SheetList* list, Signal signal)
    {
        QObject::connect(list, signal, [this] { ++m_count; });
    }
    int count() const { return m_count; }

private:
    int m_count = 0;
};

TEST(SheetList, EmptyListGivesNoneAndIgnoresEveryOperation)
{
    SheetList list;
    SignalCounter closed(&list, &SheetList::BatchClosed);
    EXPECT_FALSE(list.FirstRow());
    EXPECT_FALSE(list.LastRow());
    EXPECT_EQ(list.EntryCount(), 0u);
    EXPECT_FALSE(list.FocusedRow());
    EXPECT_FALSE(list.IsRowSelected(SheetRow{}));
    EXPECT_FALSE(list.NextRow(SheetRow{}));
    EXPECT_FALSE(list.PreviousRow(SheetRow{}));
    EXPECT_EQ(list.EntryOf(SheetRow{}), SheetEntry{});
    list.DeleteSelectedRows();
    list.ClearRows();
    list.MoveRowBefore(SheetRow{}, SheetRow{});
    list.MoveRowAfter(SheetRow{}, SheetRow{});
    EXPECT_EQ(list.EntryCount(), 0u);
    // Nothing happened, so nothing was repainted either.
    EXPECT_EQ(closed.count(), 0);
}

struct MoveCase {
    const char* what;
    friend void PrintTo(const MoveCase& c, std::ostream* os) { *os << c.what; }
    bool after;
    std::string row;
    std::string target; // empty: no target
    Names expected;
};

class SheetListMoves : public testing::TestWithParam<MoveCase> {};

TEST_P(SheetListMoves, GiveTheExpectedOrder)
{
    const MoveCase& c = GetParam();
    Fixture f({"One", "Two", "Three"});
    if (c.after) {
        f.list.MoveRowAfter(f[c.row], f[c.target]);
    } else {
        f.list.MoveRowBefore(f[c.row], f[c.target]);
    }
    EXPECT_EQ(f.Order(), c.expected) << c.what;
    // Every handle still names its own entry.
    for (const auto& [name, row] : f.rows) {
        EXPECT_EQ(f.list.EntryOf(row).SheetName, name);
    }
}

INSTANTIATE_TEST_SUITE_P(
    OneTwoThree, SheetListMoves,
    testing::Values(MoveCase{"Three after no target goes to the top", true, "Three", "", {"Three", "One", "Two"}},
                    MoveCase{"One before no target stays first", false, "One", "", {"One", "Two", "Three"}},
                    MoveCase{"Two before no target goes to the top", false, "Two", "", {"Two", "One", "Three"}},
                    MoveCase{"Two after no target goes to the top", true, "Two", "", {"Two", "One", "Three"}},
                    MoveCase{"Two after Two", true, "Two", "Two", {"One", "Two", "Three"}},
                    MoveCase{"Two before Two", false, "Two", "Two", {"One", "Two", "Three"}},
                    MoveCase{"One after Three", true, "One", "Three", {"Two", "Three", "One"}},
                    MoveCase{"Three before One", false, "Three", "One", {"Three", "One", "Two"}},
                    MoveCase{"One after Two swaps", true, "One", "Two", {"Two", "One", "Three"}},
                    MoveCase{"Three before Two swaps", false, "Three", "Two", {"One", "Three", "Two"}},
                    MoveCase{"One before Two is already there", false, "One", "Two", {"One", "Two", "Three"}},
                    MoveCase{"Three after Two is already there", true, "Three", "Two", {"One", "Two", "Three"}},
                    MoveCase{"Two after One is already there", true, "Two", "One", {"One", "Two", "Three"}},
                    MoveCase{"Three before One then order", false, "Three", "One", {"Three", "One", "Two"}},
                    MoveCase{"One before Three", false, "One", "Three", {"Two", "One", "Three"}},
                    MoveCase{"Three after One", true, "Three", "One", {"One", "Three", "Two"}}));

TEST(SheetList, MoveWithRemovedRowOrTargetChangesNothing)
{
    Fixture f({"One", "Two", "Three"});
    f.Select("Two");
    const SheetRow gone = f["Two"];
    f.list.DeleteSelectedRows();
    f.list.MoveRowAfter(gone, f["One"]);
    f.list.MoveRowBefore(f["Three"], gone);
    f.list.MoveRowAfter(f["Three"], gone);
    EXPECT_EQ(f.Order(), (Names{"One", "Three"}));
    EXPECT_EQ(f.list.EntryOf(gone), SheetEntry{});
    EXPECT_FALSE(f.list.NextRow(gone));
    EXPECT_FALSE(f.list.PreviousRow(gone));
}

struct CarryCase {
    const char* what;
    friend void PrintTo(const CarryCase& c, std::ostream* os) { *os << c.what; }
    bool after;
    std::string row;
    std::string target;
};

class SheetListMoveCarries : public testing::TestWithParam<CarryCase> {};

// A moved row keeps its selection and focus; no other row gains or loses either.
TEST_P(SheetListMoveCarries, SelectionAndFocus)
{
    const CarryCase& c = GetParam();
    Fixture f({"A", "B", "C", "D", "E"});
    f.Select("B");
    f.Select("D");
    f.Focus(c.row);
    const Names selectedBefore = f.Selected();
    const bool rowWasSelected = f.list.IsRowSelected(f[c.row]);
    if (c.after) {
        f.list.MoveRowAfter(f[c.row], f[c.target]);
    } else {
        f.list.MoveRowBefore(f[c.row], f[c.target]);
    }
    EXPECT_EQ(f.Focused(), c.row) << c.what;
    EXPECT_EQ(f.list.FocusedRow(), f[c.row]) << c.what;
    EXPECT_EQ(f.list.IsRowSelected(f[c.row]), rowWasSelected) << c.what;
    Names selectedAfter = f.Selected();
    Names before = selectedBefore;
    std::sort(selectedAfter.begin(), selectedAfter.end());
    std::sort(before.begin(), before.end());
    EXPECT_EQ(selectedAfter, before) << c.what;
    EXPECT_EQ(f.list.EntryCount(), 5u);
}

INSTANTIATE_TEST_SUITE_P(FiveRows, SheetListMoveCarries,
                         testing::Values(CarryCase{"selected B to the end", true, "B", "E"},
                                         CarryCase{"selected D to the top", false, "D", ""},
                                         CarryCase{"selected D after no target", true, "D", ""},
                                         CarryCase{"unselected E before A", false, "E", "A"},
                                         CarryCase{"unselected A after C", true, "A", "C"},
                                         CarryCase{"selected B after C, over a selected neighbour", true, "B", "C"},
                                         CarryCase{"unselected C before B", false, "C", "B"}));

struct DeleteCase {
    const char* what;
    friend void PrintTo(const DeleteCase& c, std::ostream* os) { *os << c.what; }
    Names selected;
    std::string focused; // empty: none
    Names remaining;
    std::string focusedAfter;
};

class SheetListDeletes : public testing::TestWithParam<DeleteCase> {};

TEST_P(SheetListDeletes, RemoveSelectedRowsAndSettleFocus)
{
    const DeleteCase& c = GetParam();
    Fixture f({"A", "B", "C", "D", "E"});
    for (const auto& name : c.selected) {
        f.Select(name);
    }
    if (!c.focused.empty()) {
        f.Focus(c.focused);
    }
    f.list.DeleteSelectedRows();
    EXPECT_EQ(f.Order(), c.remaining) << c.what;
    EXPECT_EQ(f.Focused(), c.focusedAfter) << c.what;
    EXPECT_TRUE(f.Selected().empty()) << c.what;
    for (const auto& name : c.remaining) {
        EXPECT_EQ(f.list.EntryOf(f[name]).SheetName, name);
    }
}

INSTANTIATE_TEST_SUITE_P(
    FiveRows, SheetListDeletes,
    testing::Values(DeleteCase{"nothing selected", {}, "C", {"A", "B", "C", "D", "E"}, "C"},
                    DeleteCase{"focused row among the removed", {"C"}, "C", {"A", "B", "D", "E"}, "(none)"},
                    DeleteCase{"focused first row removed", {"A", "B"}, "A", {"C", "D", "E"}, "(none)"},
                    DeleteCase{"focused last row removed", {"D", "E"}, "E", {"A", "B", "C"}, "(none)"},
                    DeleteCase{"focused row not selected survives", {"B", "D"}, "C", {"A", "C", "E"}, "C"},
                    DeleteCase{"focus below removed runs", {"A", "C"}, "E", {"B", "D", "E"}, "E"},
                    DeleteCase{"everything selected", {"A", "B", "C", "D", "E"}, "B", {}, "(none)"},
                    DeleteCase{"no focus at all", {"B"}, "", {"A", "C", "D", "E"}, "(none)"}));

TEST(SheetList, RemovingDoesNotDisturbOtherSelectedRowsAfterAMove)
{
    Fixture f({"A", "B", "C", "D"});
    f.Select("A");
    f.Select("D");
    f.Focus("D");
    f.list.MoveRowBefore(f["D"], SheetRow{}); // D A B C, D and A selected
    f.list.DeleteSelectedRows();
    EXPECT_EQ(f.Order(), (Names{"B", "C"}));
    EXPECT_EQ(f.Focused(), "(none)");
}

// Many separate runs of selected rows are removed in one go; the result must be the same.
TEST(SheetList, ManySeparateSelectedRunsKeepOrderFocusAndHandles)
{
    for (const bool focusSelected : {false, true}) {
        SCOPED_TRACE(focusSelected ? "focused row removed" : "focused row kept");
        Names names;
        for (int i = 0; i < 90; ++i) {
            names.push_back("R" + std::to_string(i));
        }
        Fixture f(names);
        Names expected;
        for (int i = 0; i < 90; ++i) {
            if (i % 3 == 0) {
                f.Select(names[static_cast<std::size_t>(i)]); // 30 separate runs
            } else {
                expected.push_back(names[static_cast<std::size_t>(i)]);
            }
        }
        f.Focus(focusSelected ? "R42" : "R43");
        SignalCounter closed(&f.list, &SheetList::BatchClosed);
        f.list.DeleteSelectedRows();
        EXPECT_EQ(f.Order(), expected);
        EXPECT_EQ(f.Focused(), focusSelected ? "(none)" : "R43");
        EXPECT_TRUE(f.Selected().empty());
        EXPECT_EQ(closed.count(), 1);
        EXPECT_EQ(f.list.EntryOf(f["R44"]).SheetName, "R44");
        EXPECT_EQ(f.list.EntryOf(f["R45"]), SheetEntry{});
        EXPECT_EQ(f.list.NextRow(f["R43"]), f["R44"]);
        EXPECT_EQ(f.list.NextRow(f["R44"]), f["R46"]);
    }
}

TEST(SheetList, ClearRowsRemovesEverythingAndTheFocus)
{
    Fixture f({"A", "B", "C"});
    f.Select("B");
    f.Focus("C");
    SignalCounter closed(&f.list, &SheetList::BatchClosed);
    f.list.ClearRows();
    EXPECT_EQ(f.list.EntryCount(), 0u);
    EXPECT_FALSE(f.list.FocusedRow());
    EXPECT_FALSE(f.list.FirstRow());
    EXPECT_FALSE(f.list.SelectionModel()->hasSelection());
    EXPECT_EQ(f.list.EntryOf(f["A"]), SheetEntry{});
    EXPECT_EQ(closed.count(), 1);
}

TEST(SheetList, AppendTakesNeitherFocusNorSelectionAndKeepsOthers)
{
    Fixture f({"A", "B"});
    f.Select("B");
    f.Focus("A");
    const SheetRow added = f.list.AppendEntry({"C", "/w/C.xlsx"});
    EXPECT_EQ(f.list.LastRow(), added);
    EXPECT_FALSE(f.list.IsRowSelected(added));
    EXPECT_EQ(f.Focused(), "A");
    EXPECT_EQ(f.Selected(), (Names{"B"}));
}

TEST(SheetList, EqualEntriesAreSeparateRows)
{
    SheetList list;
    const SheetEntry same{"Sheet1", "/data/Book.xlsx"};
    const SheetRow first = list.AppendEntry(same);
    const SheetRow second = list.AppendEntry(same);
    EXPECT_NE(first, second);
    EXPECT_EQ(list.EntryCount(), 2u);
    list.SelectionModel()->select(list.IndexOf(first), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    list.DeleteSelectedRows();
    EXPECT_EQ(list.EntryCount(), 1u);
    EXPECT_EQ(list.FirstRow(), second);
    EXPECT_EQ(list.EntryOf(second), same);
}

TEST(SheetList, NestedBatchesCloseOnceAndNeverGoBelowZero)
{
    SheetList list;
    SignalCounter opened(&list, &SheetList::BatchOpened);
    SignalCounter closed(&list, &SheetList::BatchClosed);
    list.EndBatch(); // stray close: nothing
    EXPECT_EQ(closed.count(), 0);
    list.BeginBatch();
    list.BeginBatch();
    list.BeginBatch();
    list.EndBatch();
    list.EndBatch();
    EXPECT_EQ(closed.count(), 0);
    list.EndBatch();
    EXPECT_EQ(opened.count(), 1);
    EXPECT_EQ(closed.count(), 1);
    list.EndBatch(); // below zero is ignored, the next batch still works
    list.BeginBatch();
    list.EndBatch();
    EXPECT_EQ(opened.count(), 2);
    EXPECT_EQ(closed.count(), 2);
}

TEST(SheetList, BatchGuardClosesOnFailure)
{
    SheetList list;
    SignalCounter closed(&list, &SheetList::BatchClosed);
    try {
        SheetListBatch outer(list);
        SheetListBatch inner(list);
        throw std::runtime_error("copy failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_EQ(closed.count(), 1);
    list.BeginBatch();
    list.EndBatch();
    EXPECT_EQ(closed.count(), 2);
}

TEST(SheetList, DeleteSelectedRowsRepaintsOnceHoweverManyRuns)
{
    Fixture f({"A", "B", "C", "D", "E", "F"});
    f.Select("A");
    f.Select("C");
    f.Select("E");
    SignalCounter closed(&f.list, &SheetList::BatchClosed);
    f.list.DeleteSelectedRows();
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(f.Order(), (Names{"B", "D", "F"}));
}

TEST(SheetList, CellTextComesFromTheProviderWithTheLogicalColumn)
{
    Fixture f({"A"});
    std::vector<int> askedColumns;
    f.list.SetTextProvider([&](const SheetList& list, SheetRow row, int column) {
        askedColumns.push_back(column);
        return QString::fromStdString(list.EntryOf(row).SheetName + "#" + std::to_string(column));
    });
    EXPECT_EQ(f.list.data(f.list.index(0, 1)).toString(), "A#1");
    EXPECT_EQ(f.list.data(f.list.index(0, 0)).toString(), "A#0");
    EXPECT_EQ(askedColumns, (std::vector<int>{1, 0}));
    EXPECT_FALSE(f.list.data(f.list.index(0, 0), Qt::EditRole).isValid());
    EXPECT_EQ(f.list.headerData(0, Qt::Horizontal).toString(), "Sheet Name");
    EXPECT_EQ(f.list.headerData(1, Qt::Horizontal).toString(), "File Name");
    EXPECT_FALSE(f.list.flags(f.list.index(0, 0)).testFlag(Qt::ItemIsEditable));
    EXPECT_EQ(f.list.rowCount(f.list.index(0, 0)), 0); // flat: no children
}

} // namespace
} // namespace gq::app
