// The list commands on long lists shown in the window: results stay exact, and each command
// repaints once (its time is printed for the record, not checked).
// SPDX-License-Identifier: Apache-2.0
#include "app/ListCommands.h"
#include "app/TfmMain.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QToolButton>

#include <cstdio>

#include <string>

namespace gq::app {
namespace {

TEST(LargeLists, AddAllAndRemoveEveryOtherRowInTheWindow)
{
    constexpr int kRows = 20000;
    TfmMain window;
    window.show();
    QApplication::processEvents();
    SheetList& source = window.vtSrc->List();
    SheetList& merge = window.vtDsc->List();
    {
        SheetListBatch batch(source);
        for (int i = 0; i < kRows; ++i) {
            source.AppendEntry({"Sheet" + std::to_string(i), "/data/book" + std::to_string(i / 10) + ".xlsx"});
        }
    }
    int repaints = 0;
    QObject::connect(&merge, &SheetList::BatchClosed, [&repaints] { ++repaints; });

    QElapsedTimer timer;
    timer.start();
    window.btnAddAll->click();
    QApplication::processEvents();
    const qint64 addAllMs = timer.restart();
    ASSERT_EQ(merge.EntryCount(), static_cast<std::size_t>(kRows));
    EXPECT_EQ(repaints, 1);

    window.vtDsc->header()->moveSection(1, 0);
    // Every other row selected: the worst case for removal, one run per selected row.
    QItemSelection every;
    for (int i = 0; i < kRows; i += 2) {
        every.select(merge.index(i, 0), merge.index(i, 1));
    }
    merge.SelectionModel()->select(every, QItemSelectionModel::Select);
    merge.SelectionModel()->setCurrentIndex(merge.index(kRows - 1, 0), QItemSelectionModel::NoUpdate);
    timer.restart();
    window.btnDelete->click();
    QApplication::processEvents();
    const qint64 deleteMs = timer.restart();
    ASSERT_EQ(merge.EntryCount(), static_cast<std::size_t>(kRows / 2));
    EXPECT_EQ(repaints, 2);
    int expected = 1;
    for (SheetRow r = merge.FirstRow(); r; r = merge.NextRow(r), expected += 2) {
        ASSERT_EQ(merge.EntryOf(r).SheetName, "Sheet" + std::to_string(expected));
    }
    EXPECT_EQ(merge.EntryOf(merge.FocusedRow()).SheetName, "Sheet" + std::to_string(kRows - 1));
    EXPECT_EQ(window.vtDsc->currentIndex(), merge.IndexOf(merge.FocusedRow())) << "the view shows the same focus";
    // The header keeps its columns' widths and places through the removal.
    EXPECT_EQ(window.vtDsc->header()->logicalIndex(0), 1);
    EXPECT_EQ(window.vtDsc->header()->sectionSize(0), 120);
    EXPECT_EQ(window.vtDsc->header()->sectionSize(1), 160);

    timer.restart();
    for (int i = 0; i < 1000; ++i) {
        window.btnTopClick();
        window.btnBottomClick();
    }
    QApplication::processEvents();
    const qint64 movesMs = timer.elapsed();
    EXPECT_EQ(merge.EntryOf(merge.LastRow()).SheetName, "Sheet" + std::to_string(kRows - 1));
    std::printf("[ figures  ] %d rows: add all %lld ms, remove every other row %lld ms, 2000 moves %lld ms\n", kRows,
                static_cast<long long>(addAllMs), static_cast<long long>(deleteMs), static_cast<long long>(movesMs));
}

} // namespace
} // namespace gq::app
