// What the user sees of the two lists on the offscreen platform: rows over the drop picture, paths
// shortened in the middle with the whole path as tooltip, fitted columns that scroll, and no row
// focused without the user.
// SPDX-License-Identifier: Apache-2.0
#include "app/TfmMain.h"
#include "tests/app/AppTestSupport.h"

#include <gtest/gtest.h>

#include <QHeaderView>
#include <QScrollBar>
#include <QToolButton>
#include <QToolTip>

namespace gq::app {
namespace {

// Pixels of the picture's green lettering inside `area` of an image.
int GreenPixels(const QImage& image, const QRect& area)
{
    int green = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = image.pixelColor(x, y);
            green += (c.green() > 80 && c.red() < 80 && c.blue() < 80) ? 1 : 0;
        }
    }
    return green;
}

class ListLook : public testing::Test {
protected:
    void SetUp() override
    {
        window.show();
        QApplication::setActiveWindow(&window);
        QApplication::processEvents();
    }
    void Add(TSheetListView* view, int rows, const std::string& prefix = "/data/")
    {
        for (int i = 0; i < rows; ++i) {
            view->List().AppendEntry({"Sheet" + std::to_string(i), prefix + "book" + std::to_string(i) + ".xlsx"});
        }
        QApplication::processEvents();
    }
    TfmMain window;
};

TEST_F(ListLook, RowsHideThePictureWhichShowsOnlyWhereThereAreNoRows)
{
    TSheetListView* view = window.vtSrc;
    const QRect pictureArea(0, 0, 200, 80);
    ASSERT_GT(GreenPixels(view->viewport()->grab().toImage(), pictureArea), 200) << "no rows: the picture shows";
    Add(view, 8); // more than the picture's height of rows
    const QImage shown = view->viewport()->grab().toImage();
    const int rowsBottom = view->visualRect(view->model()->index(7, 0)).bottom();
    ASSERT_GT(rowsBottom, 80);
    EXPECT_EQ(GreenPixels(shown, pictureArea), 0) << "no lettering shows through the rows";
}

TEST_F(ListLook, PathsLoseTheirMiddleSoRowsStayApartAndShowTheWholePathAsTooltip)
{
    TSheetListView* view = window.vtSrc;
    // Two paths alike but for their file names, far too long for the column.
    const std::string folder = "/home/me/reports/2024/quarterly-statements/regional-offices/archive/";
    Add(view, 2, folder);
    const QImage shown = view->viewport()->grab().toImage();
    const QRect first = view->visualRect(view->model()->index(0, 1)).adjusted(2, 1, -2, -1);
    const QRect second = view->visualRect(view->model()->index(1, 1)).adjusted(2, 1, -2, -1);
    EXPECT_NE(shown.copy(first), shown.copy(second)) << "the file names at the end of the paths are in view";

    QHelpEvent help(QEvent::ToolTip, first.center(), view->viewport()->mapToGlobal(first.center()));
    QApplication::sendEvent(view->viewport(), &help);
    EXPECT_EQ(QToolTip::text().toStdString(), folder + "book0.xlsx");
    QToolTip::hideText();
}

TEST_F(ListLook, FittingAColumnWiderThanTheListBringsAHorizontalScrollBar)
{
    TSheetListView* view = window.vtSrc;
    Add(view, 3, "/home/me/reports/2024/quarterly-statements/regional-offices/archive/");
    QHeaderView* header = view->header();
    // A double-click on the divider at the right end of "File Name".
    const QPoint divider(header->sectionViewportPosition(1) + header->sectionSize(1) - 1, header->height() / 2);
    test::DoubleClick(header->viewport(), divider);
    // The view lays itself out again from a timer.
    for (int i = 0; i < 20 && !view->horizontalScrollBar()->isVisible(); ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    EXPECT_GT(header->sectionSize(1), view->viewport()->width());
    EXPECT_TRUE(view->horizontalScrollBar()->isVisible());
    EXPECT_GT(view->horizontalScrollBar()->maximum(), 0);
}

TEST_F(ListLook, NoRowIsFocusedUntilTheUserChoosesOne)
{
    TSheetListView* merge = window.vtDsc;
    Add(merge, 3);
    // The list gains the focus by Tab, and again when the window becomes active again.
    for (const Qt::FocusReason reason : {Qt::TabFocusReason, Qt::ActiveWindowFocusReason}) {
        merge->clearFocus();
        merge->setFocus(reason);
        QApplication::processEvents();
        ASSERT_TRUE(merge->hasFocus());
        EXPECT_FALSE(merge->List().FocusedRow()) << reason;
    }
    window.btnTop->click(); // acts on the focused row: there is none, so nothing moves
    EXPECT_EQ(merge->List().EntryOf(merge->List().FirstRow()).SheetName, "Sheet0");

    // Moving within the list with the keyboard does choose a row.
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(merge, &down);
    EXPECT_TRUE(merge->List().FocusedRow());
}

} // namespace
} // namespace gq::app
