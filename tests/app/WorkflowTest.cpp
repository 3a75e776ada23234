// The whole workflow through the real window and the embedded server: a folder dropped, sheets
// added to the merge list, "Click here to merge" with the save dialog and the completion message,
// and the busy window's animation moving while slow work runs.
// SPDX-License-Identifier: Apache-2.0
#include "app/BackgroundWork.h"
#include "app/BusyAnimation.h"
#include "app/DropAndMergeConnections.h"
#include "app/TWaitForm.h"
#include "app/TfmMain.h"
#include "automation/EmbeddedServer.h"
#include "engine/WorkbookFile.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QRadioButton>

#include <algorithm>
#include <chrono>
#include <thread>

namespace gq::app {
namespace {

TEST(Workflow, DropAddAllMergeAndSave)
{
    gq::test::TempDir dir;
    std::filesystem::create_directories(dir.Path() / "in");
    test::WriteBook(dir.File("in/report.xlsx"), {"Sales", "Notes"});
    test::WriteBook(dir.File("in/old.xls"), {"Sales"});
    const std::string output = dir.File("merged.xlsx");

    automation::EmbeddedServerFactory servers;
    TfmMain window;
    window.show();
    TWaitForm wait(&window);
    WaitForm = &wait;
    ConnectWork(window, servers);

    window.DropHandler({(dir.Path() / "in").string()});
    EXPECT_EQ(window.vtSrc->List().EntryCount(), 3u);
    EXPECT_FALSE(wait.isVisible()) << "the busy window is hidden after the drop";

    window.btnAddAllClick();
    ASSERT_EQ(window.vtDsc->List().EntryCount(), 3u);

    test::WhenModal<QFileDialog>([&](QFileDialog* dialog) {
        // Typed into the name field as a user would: selectFile() leaves that field alone while it
        // has the keyboard focus, which depends on window activation.
        dialog->setDirectory(QString::fromStdString(dir.Path().string()));
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText("merged.xlsx");
        static_cast<QDialog*>(dialog)->accept();
    });
    QString completion;
    test::WhenModal<QMessageBox>([&](QMessageBox* box) {
        completion = box->text();
        box->button(QMessageBox::Ok)->click();
    });
    window.btnMergeClick();
    EXPECT_EQ(completion, "Merge Completed!");

    auto merged = engine::OpenWorkbookFile(output);
    ASSERT_EQ(merged->SheetCount(), 4u);
    // Two "Sales" entries: the one nearer the end keeps the plain name, the other gets the name
    // the server gave its added sheet joined to it.
    std::vector<std::string> names;
    for (size_t i = 0; i < merged->SheetCount(); ++i) {
        names.push_back(merged->SheetName(i));
    }
    EXPECT_EQ(names.back(), "Sheet1");
    EXPECT_EQ(std::count(names.begin(), names.end(), "Sales"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "Notes"), 1);
    WaitForm = nullptr;
}

TEST(Workflow, BusyAnimationKeepsMovingWhileWorkRunsOffTheGuiThread)
{
    TfmMain window;
    window.show();
    TWaitForm wait(&window);
    auto* animation = qobject_cast<TBusyAnimation*>(wait.Animate1);
    ASSERT_NE(animation, nullptr);
    EXPECT_EQ(animation->geometry(), QRect(8, 8, 80, 50));
    wait.show();
    std::vector<int> frames;
    RunWhileBlocked(&window, [&] {
        for (int i = 0; i < 6; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(TBusyAnimation::kFrameMilliseconds * 2));
            RunOnGuiThread([&] { frames.push_back(animation->Frame()); });
        }
    });
    std::sort(frames.begin(), frames.end());
    frames.erase(std::unique(frames.begin(), frames.end()), frames.end());
    EXPECT_GE(frames.size(), 3u) << "the animation advanced while the worker slept";
}

} // namespace
} // namespace gq::app
