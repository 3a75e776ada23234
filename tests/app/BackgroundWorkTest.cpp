// Long work off the GUI thread: list and user calls land on the GUI thread in order, failures come
// back to the caller, and the blocked window takes no input meanwhile.
// SPDX-License-Identifier: Apache-2.0
#include "app/BackgroundWork.h"

#include "tests/support/FakePrompts.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>
#include <QWidget>

#include <gtest/gtest.h>

#include <stdexcept>

namespace gq::app {
namespace {

TEST(BackgroundWork, ListCallsArriveOnTheGuiThreadInOrder)
{
    SheetList list;
    std::vector<bool> onGuiThread;
    QObject::connect(&list, &QAbstractItemModel::rowsInserted,
                     [&] { onGuiThread.push_back(QThread::currentThread() == qApp->thread()); });
    GuiThreadSink sink(list);
    QThread* workThread = nullptr;
    RunWhileBlocked(nullptr, [&] {
        workThread = QThread::currentThread();
        catalogue::SinkBatch batch(sink);
        sink.AppendEntries({{"One", "/a.xlsx"}, {"Two", "/a.xlsx"}});
    });
    EXPECT_NE(workThread, qApp->thread());
    ASSERT_EQ(list.EntryCount(), 2u);
    EXPECT_EQ(list.EntryOf(list.FirstRow()).SheetName, "One");
    EXPECT_EQ(onGuiThread, (std::vector<bool>{true, true}));
}

TEST(BackgroundWork, PromptsAreAnsweredOnTheGuiThreadAndFailuresComeBack)
{
    test::FakePrompts inner;
    GuiThreadPrompts prompts(inner);
    inner.answerYes = false;
    bool answer = true;
    EXPECT_THROW(RunWhileBlocked(nullptr,
                                 [&] {
                                     prompts.BeginHourglass();
                                     answer = prompts.AskYesNo("Sure?", "Warning");
                                     prompts.EndHourglass();
                                     throw std::runtime_error("the work failed");
                                 }),
                 std::runtime_error);
    EXPECT_FALSE(answer);
    EXPECT_EQ(inner.events, (std::vector<std::string>{"hourglass on", "ask", "hourglass off"}));
}

TEST(BackgroundWork, TheBlockedWindowTakesNoInputUntilTheWorkEnds)
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* button = new QPushButton("Press", &window);
    layout->addWidget(button);
    window.show();
    int clicks = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicks; });
    auto click = [&] {
        const QPointF at(5, 5);
        QMouseEvent press(QEvent::MouseButtonPress, at, button->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, at, button->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                            Qt::NoModifier);
        QApplication::sendEvent(button, &press);
        QApplication::sendEvent(button, &release);
    };
    RunWhileBlocked(&window, [&] { RunOnGuiThread(click); });
    EXPECT_EQ(clicks, 0);
    click();
    EXPECT_EQ(clicks, 1);
}

} // namespace
} // namespace gq::app
