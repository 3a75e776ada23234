// The window for keyboard users and small screens: keys in the lists, the focus mark, tooltips,
// moves that do not scroll, and the window made to fit a screen too small for its fixed size.
// SPDX-License-Identifier: Apache-2.0
#include "app/ListCommands.h"
#include "app/QtUserPrompts.h"
#include "app/TfmMain.h"
#include "tests/app/AppTestSupport.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QHelpEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSet>
#include <QToolButton>
#include <QToolTip>

#include <memory>
#include <string>
#include <vector>

namespace gq::app {
namespace {

class WindowHandling : public testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<TfmMain>();
        window->show();
        QApplication::processEvents();
    }
    void Fill(SheetList& list, int count, const std::string& prefix = "Sheet")
    {
        for (int i = 0; i < count; ++i) {
            list.AppendEntry({prefix + std::to_string(i + 1), "/data/book" + std::to_string(i + 1) + ".xlsx"});
        }
    }
    static std::vector<std::string> Order(const SheetList& list)
    {
        std::vector<std::string> out;
        for (SheetRow r = list.FirstRow(); r; r = list.NextRow(r)) {
            out.push_back(list.EntryOf(r).SheetName);
        }
        return out;
    }
    // Lets timers of the view run (a delayed scroll, say).
    static void Settle(int milliseconds = 150)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < milliseconds) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        }
    }
    static void Press(QWidget* widget, int key)
    {
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(widget, &press);
    }

    std::unique_ptr<TfmMain> window;
};

// None of the four moves scrolls the merge list: the rows in view stay in view.
TEST_F(WindowHandling, MovesDoNotScroll)
{
    SheetList& list = window->vtDsc->List();
    Fill(list, 60);
    QScrollBar* bar = window->vtDsc->verticalScrollBar();
    QApplication::processEvents();
    ASSERT_GT(bar->maximum(), 20);
    struct Case {
        const char* name;
        void (TfmMain::*click)();
    } cases[] = {{"Top", &TfmMain::btnTopClick},
                 {"Up", &TfmMain::btnUpClick},
                 {"Down", &TfmMain::btnDownClick},
                 {"Bottom", &TfmMain::btnBottomClick}};
    for (const Case& c : cases) {
        for (const int top : {10, bar->maximum() - 3}) {
            bar->setValue(top);
            QApplication::processEvents();
            window->activateWindow();
            window->vtDsc->setFocus(Qt::MouseFocusReason);
            // The user clicks the row to move, then the button.
            test::Click(window->vtDsc->viewport(), window->vtDsc->visualRect(list.index(top + 5, 0)).center());
            QApplication::processEvents();
            ASSERT_EQ(bar->value(), top) << c.name;
            (window.get()->*c.click)();
            Settle();
            EXPECT_EQ(bar->value(), top) << c.name << " " << top;
        }
    }
}

} // namespace
} // namespace gq::app

namespace gq::app {
namespace {

// Enter, Return and Space in the source list add its selected entries; Delete in the merge list
// removes its selected ones; the other list ignores each key's command.
TEST_F(WindowHandling, KeysBuildTheMergeList)
{
    Fill(window->vtSrc->List(), 5);
    for (const int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Space}) {
        SheetList& source = window->vtSrc->List();
        source.SelectionModel()->select(source.index(1, 0),
                                        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        source.SelectionModel()->select(source.index(3, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        window->vtDsc->List().ClearRows();
        Press(window->vtSrc, key);
        EXPECT_EQ(Order(window->vtDsc->List()), (std::vector<std::string>{"Sheet2", "Sheet4"})) << key;
    }
    SheetList& merge = window->vtDsc->List();
    merge.SelectionModel()->select(merge.index(0, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Press(window->vtSrc, Qt::Key_Delete);
    Press(window->vtDsc, Qt::Key_Return);
    EXPECT_EQ(Order(merge), (std::vector<std::string>{"Sheet2", "Sheet4"})) << "keys of the other list";
    EXPECT_EQ(window->vtSrc->List().EntryCount(), 5u);
    Press(window->vtDsc, Qt::Key_Delete);
    EXPECT_EQ(Order(merge), (std::vector<std::string>{"Sheet4"}));
}

// Tab walks the laid-out order: the merge button, the source list, the merge list, the modes.
TEST_F(WindowHandling, TabWalksTheControlsInTheirOrder)
{
    window->activateWindow();
    window->btnMerge->setFocus(Qt::TabFocusReason);
    const std::vector<QWidget*> order{window->vtSrc, window->vtDsc, window->rbMulty};
    for (QWidget* next : order) {
        Press(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
}

// The list with the keyboard focus is framed in the highlight colour; the other is not.
TEST_F(WindowHandling, TheFocusedListShowsAFocusMark)
{
    window->activateWindow();
    window->vtDsc->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    ASSERT_TRUE(window->vtDsc->hasFocus());
    const QColor mark = window->vtDsc->palette().color(QPalette::Highlight);
    const QImage focused = window->vtDsc->viewport()->grab().toImage();
    const QImage other = window->vtSrc->viewport()->grab().toImage();
    const QPoint edge(1, focused.height() / 2);
    EXPECT_EQ(focused.pixelColor(edge), mark);
    EXPECT_NE(other.pixelColor(edge), mark);
}

// Every list button says what it does; a sheet name has a tooltip only where its cell cuts it.
TEST_F(WindowHandling, Tooltips)
{
    QSet<QString> tips;
    for (const QToolButton* button : {window->btnAddAll, window->btnAdd, window->btnDelete, window->btnDeleteAll,
                                      window->btnTop, window->btnUp, window->btnDown, window->btnBottom}) {
        EXPECT_FALSE(button->toolTip().isEmpty()) << button->objectName().toStdString();
        tips.insert(button->toolTip());
    }
    EXPECT_EQ(tips.size(), 8);
    SheetList& list = window->vtSrc->List();
    list.AppendEntry({"Q1", "/data/a.xlsx"});
    list.AppendEntry({"A sheet name far too long for its column", "/data/b.xlsx"});
    EXPECT_EQ(window->vtSrc->ToolTipFor(list.index(0, 0)), "");
    EXPECT_EQ(window->vtSrc->ToolTipFor(list.index(1, 0)), "A sheet name far too long for its column");
    EXPECT_EQ(window->vtSrc->ToolTipFor(list.index(0, 1)), "/data/a.xlsx") << "a path always has its tooltip";
}

// The fixed size wherever it fits; on a smaller screen as much as fits (the rest scrolls).
TEST(WindowSize, FitsTheScreen)
{
    const QSize natural(693, 424);
    struct Case {
        QSize room;
        QSize size;
    } cases[] = {{{1272, 770}, natural}, {{693, 424}, natural}, {{632, 330}, {632, 330}}, {{1000, 300}, {693, 300}}};
    for (const Case& c : cases) {
        EXPECT_EQ(FittedWindowSize(natural, c.room), c.size) << c.room.width() << "x" << c.room.height();
    }
}

} // namespace
} // namespace gq::app

namespace gq::app {
namespace {

// An error the user must mend carries the error icon; a short message still shows its whole title.
TEST(MessageBoxes, ErrorsCarryTheErrorIconAndShortMessagesShowTheirTitle)
{
    QtUserPrompts prompts;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    test::WhenModal<QMessageBox>([&](QMessageBox* box) {
        icon = box->icon();
        box->accept();
    });
    prompts.ShowError("/read-only: the folder cannot be written to");
    EXPECT_EQ(icon, QMessageBox::Critical);
    int width = 0;
    int titleWidth = 0;
    test::WhenModal<QMessageBox>([&](QMessageBox* box) {
        width = box->width();
        titleWidth = box->fontMetrics().horizontalAdvance(box->windowTitle());
        box->accept();
    });
    prompts.ShowMessage("Merge Completed!");
    EXPECT_GT(width, titleWidth + 100);
}

} // namespace
} // namespace gq::app
