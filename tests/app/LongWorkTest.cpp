// Long work through the real window and the embedded server: closing the window or Escape during a
// drop or a merge offers to stop it, a stopped merge writes nothing, and the wait cursor stays from
// the start of the work to its end.
// SPDX-License-Identifier: Apache-2.0
#include "app/BackgroundWork.h"
#include "app/DropAndMergeConnections.h"
#include "app/TWaitForm.h"
#include "app/TfmMain.h"
#include "automation/EmbeddedServer.h"
#include "engine/WorkbookFile.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace gq::app {
namespace {

using automation::Ref;

// The embedded server with a watcher called, on the working thread, before the server calls that
// mark the steps of long work. A test uses it to act at a known point of the work.
class WatchedServer : public automation::SpreadsheetServer {
public:
    WatchedServer(Ref<automation::SpreadsheetServer> inner, const std::function<void(const std::string&)>& watch)
        : m_inner(std::move(inner)), m_watch(watch)
    {
    }
    void Release() noexcept override { delete this; }
    void SetDisplayAlerts(bool on) override { m_inner->SetDisplayAlerts(on); }
    void SetScreenUpdating(bool on) override
    {
        m_watch(on ? "ScreenUpdating on" : "ScreenUpdating off");
        m_inner->SetScreenUpdating(on);
    }
    void SetVisible(bool on) override { m_inner->SetVisible(on); }
    Ref<automation::Workbook> AddWorkbook() override { return m_inner->AddWorkbook(); }
    Ref<automation::Workbook> OpenWorkbook(const std::string& path) override
    {
        m_watch("OpenWorkbook");
        return m_inner->OpenWorkbook(path);
    }
    Ref<automation::Workbook> WorkbookAt(int32_t index) override { return m_inner->WorkbookAt(index); }
    void Quit() override
    {
        m_watch("Quit");
        m_inner->Quit();
    }
    int32_t SheetCount() override { return m_inner->SheetCount(); }
    Ref<automation::Sheet> SheetAt(int32_t index) override { return m_inner->SheetAt(index); }

private:
    Ref<automation::SpreadsheetServer> m_inner;
    std::function<void(const std::string&)> m_watch;
};

class WatchedServers : public automation::ServerFactory {
public:
    Ref<automation::SpreadsheetServer> CreateServer() override
    {
        watch("CreateServer");
        return Ref<automation::SpreadsheetServer>(new WatchedServer(m_inner.CreateServer(), watch));
    }
    std::function<void(const std::string&)> watch = [](const std::string&) {};

private:
    automation::EmbeddedServerFactory m_inner;
};

void WriteBook(const std::string& path, int rows)
{
    engine::Workbook book;
    engine::Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Data"));
    for (int r = 0; r < rows; ++r) {
        sheet.SetNumber(r, 0, r);
    }
    engine::SaveWorkbookFile(book, path);
}

std::string Contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The cursor the user sees now, read on the GUI thread.
Qt::CursorShape CursorNow()
{
    Qt::CursorShape shape = Qt::ArrowCursor;
    RunOnGuiThread([&] {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        shape = cursor != nullptr ? cursor->shape() : Qt::ArrowCursor;
    });
    return shape;
}

class LongWork : public testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_directories(dir.Path() / "in");
        for (int i = 0; i < kBooks; ++i) {
            WriteBook(dir.File("in/book" + std::to_string(i) + ".xlsx"), 50);
        }
        window.show();
        WaitForm = &wait;
        ConnectWork(window, servers);
    }
    void TearDown() override { WaitForm = nullptr; }

    // Answers the stop question (checking its text) with Yes or No, and lets the worker go on.
    void AnswerStop(const char* question, bool yes)
    {
        test::WhenModal<QMessageBox>([this, question, yes](QMessageBox* box) {
            EXPECT_EQ(box->text(), question);
            // A question the user must answer shows the ordinary pointer, not the wait cursor.
            ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
            EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::ArrowCursor);
            box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
            asked = true;
        });
    }
    void SaveAs(const std::string& name)
    {
        test::WhenModal<QFileDialog>([this, name](QFileDialog* dialog) {
            dialog->setDirectory(QString::fromStdString(dir.Path().string()));
            dialog->findChild<QLineEdit*>("fileNameEdit")->setText(QString::fromStdString(name));
            static_cast<QDialog*>(dialog)->accept();
        });
    }
    // Closes the window (or presses Escape in it) when the work reaches its n-th call of `step`,
    // and holds the work there until the question has been answered, so that the stop is seen at
    // the very next check.
    void AskToStopAt(const std::string& step, int n, bool closing)
    {
        m_seen = 0;
        servers.watch = [this, step, n, closing](const std::string& call) {
            if (call != step || ++m_seen != n) {
                return;
            }
            RunOnGuiThread([this, closing] {
                if (closing) {
                    QCloseEvent close;
                    QApplication::sendEvent(&window, &close);
                } else {
                    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
                    QApplication::sendEvent(&window, &escape);
                }
            });
            while (!asked) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        };
    }
    size_t ListedBooks() const
    {
        std::set<std::string> files;
        const SheetList& list = window.vtSrc->List();
        for (SheetRow row = list.FirstRow(); row; row = list.NextRow(row)) {
            files.insert(list.EntryOf(row).FileName);
        }
        return files.size();
    }

    static constexpr int kBooks = 6;
    gq::test::TempDir dir;
    WatchedServers servers;
    TfmMain window;
    TWaitForm wait{&window};
    std::atomic<bool> asked = false;

private:
    int m_seen = 0;
};

TEST_F(LongWork, ClosingDuringADropStopsItKeepsWhatWasListedAndCloses)
{
    AskToStopAt("OpenWorkbook", 2, true);
    AnswerStop(kCloseDropQuestion, true);
    window.DropHandler({(dir.Path() / "in").string()});
    EXPECT_TRUE(asked);
    // The second workbook was being listed when the question came; it is finished, no more.
    EXPECT_EQ(ListedBooks(), 2u);
    EXPECT_FALSE(window.isVisible()) << "closed once the drop had stopped";
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST_F(LongWork, EscapeAnsweredNoLetsTheDropFinishAndTheWindowStays)
{
    AskToStopAt("OpenWorkbook", 2, false);
    AnswerStop(kStopDropQuestion, false);
    window.DropHandler({(dir.Path() / "in").string()});
    EXPECT_TRUE(asked);
    EXPECT_EQ(ListedBooks(), static_cast<size_t>(kBooks));
    EXPECT_TRUE(window.isVisible());
}

TEST_F(LongWork, StoppedMergeWritesNothingAndLeavesTheOldOutputAsItWas)
{
    window.DropHandler({(dir.Path() / "in").string()});
    window.btnAddAllClick();
    const std::string output = dir.File("merged.xlsx");
    WriteBook(output, 3);
    const std::string before = Contents(output);
    const auto folderBefore = std::distance(std::filesystem::directory_iterator(dir.Path()), {});

    for (const bool closing : {false, true}) {
        SCOPED_TRACE(closing ? "closing" : "Escape");
        asked = false;
        SaveAs("merged.xlsx");
        // Yes to replacing the existing file; then the stop question.
        // Closing says that the window closes too.
        test::WhenModal<QMessageBox>([this, closing](QMessageBox* box) {
            box->button(QMessageBox::Yes)->click();
            AnswerStop(closing ? kCloseMergeQuestion : kStopMergeQuestion, true);
        });
        AskToStopAt("OpenWorkbook", 2, closing);
        window.btnMergeClick();
        EXPECT_TRUE(asked);
        EXPECT_EQ(Contents(output), before) << "the existing output is untouched";
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), folderBefore)
            << "no temporary file is left";
        EXPECT_EQ(window.isVisible(), !closing);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        servers.watch = [](const std::string&) {};
    }
}

TEST_F(LongWork, AStopAskedForJustBeforeTheSaveStillSavesNothing)
{
    window.DropHandler({(dir.Path() / "in").string()});
    window.btnAddAllClick();
    SaveAs("merged.xls");
    // "ScreenUpdating on" is the last step before the save; the question holds the save back.
    AskToStopAt("ScreenUpdating on", 1, false);
    AnswerStop(kStopMergeQuestion, true);
    window.btnMergeClick();
    EXPECT_TRUE(asked);
    EXPECT_FALSE(std::filesystem::exists(dir.File("merged.xls")));
    EXPECT_TRUE(window.isVisible());
}

TEST_F(LongWork, ClosingWhileTheOutputIsSavedClosesTheWindowOnceTheMergeHasReported)
{
    window.DropHandler({(dir.Path() / "in").string()});
    window.btnAddAllClick();
    SaveAs("merged.xls");
    // Quit comes after the save: the merge can no longer stop, so nothing is asked.
    servers.watch = [this](const std::string& call) {
        if (call == "Quit") {
            RunOnGuiThread([this] {
                QCloseEvent close;
                QApplication::sendEvent(&window, &close);
            });
        }
    };
    bool visibleWhenReported = false;
    test::WhenModal<QMessageBox>([&](QMessageBox* box) {
        EXPECT_EQ(box->text(), "Merge Completed!");
        visibleWhenReported = window.isVisible();
        box->button(QMessageBox::Ok)->click();
    });
    window.btnMergeClick();
    EXPECT_TRUE(std::filesystem::exists(dir.File("merged.xls")));
    EXPECT_TRUE(visibleWhenReported);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(LongWork, TheWaitCursorStaysBetweenWorkbooksAndDuringTheSave)
{
    std::mutex guard;
    std::vector<std::string> wrong;
    servers.watch = [&](const std::string& call) {
        // CreateServer comes before a listing's own hourglass, "ScreenUpdating on" after the merge
        // has ended its hourglass and just before it saves.
        if ((call == "CreateServer" || call == "ScreenUpdating on") && CursorNow() != Qt::WaitCursor) {
            const std::lock_guard lock(guard);
            wrong.push_back(call);
        }
    };
    window.DropHandler({(dir.Path() / "in").string()});
    window.btnAddAllClick();
    SaveAs("merged.xls");
    QString completion;
    test::WhenModal<QMessageBox>([&](QMessageBox* box) {
        completion = box->text();
        // The work is over when the user is told: the pointer is the ordinary one again.
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        box->button(QMessageBox::Ok)->click();
    });
    window.btnMergeClick();
    EXPECT_EQ(completion, "Merge Completed!");
    EXPECT_EQ(wrong, std::vector<std::string>{}) << "steps without the wait cursor";
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

} // namespace
} // namespace gq::app
