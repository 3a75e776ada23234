// Tests of the About dialog, the web links, the Qt prompts and the busy window.
// SPDX-License-Identifier: Apache-2.0
#include "app/FailureReport.h"
#include "app/QtUserPrompts.h"
#include "app/TFMAbout.h"
#include "app/TWaitForm.h"
#include "app/TfmMain.h"
#include "app/uFunction.h"
#include "merge/MergeEngine.h"
#include "tests/app/AppTestSupport.h"

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QToolButton>

#include <string>
#include <vector>

namespace gq::app {
namespace {

// Records every address handed to the desktop while it lives.
class OpenedUrls {
public:
    OpenedUrls()
    {
        m_previous = SetUrlOpener([this](const QUrl& url) { urls.push_back(url.toString().toStdString()); });
    }
    ~OpenedUrls() { SetUrlOpener(std::move(m_previous)); }
    std::vector<std::string> urls;

private:
    UrlOpener m_previous;
};

TEST(AboutDialog, OpenedTwiceShowsTheVersionBothTimesAndIsGoneAfter)
{
    TfmMain window;
    window.show();
    std::vector<QString> seen;
    std::vector<TFMAbout*> dialogs;
    for (int round = 0; round < 2; ++round) {
        test::WhenModal<TFMAbout>([&](TFMAbout* about) {
            seen.push_back(about->Label1->text());
            dialogs.push_back(about);
            EXPECT_EQ(about->windowTitle(), "About Gridquilt");
            EXPECT_EQ(about->size(), QSize(284, 141));
            EXPECT_EQ(about->minimumSize(), about->maximumSize());
            EXPECT_EQ(about->parentWidget(), &window);
            EXPECT_FALSE(about->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
            EXPECT_FALSE(about->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
            about->close();
        });
        window.m1->trigger();
        EXPECT_TRUE(window.findChildren<TFMAbout*>().isEmpty()) << "destroyed when closed";
    }
    EXPECT_EQ(seen, (std::vector<QString>{"Gridquilt 2.5.8", "Gridquilt 2.5.8"}));
    EXPECT_EQ(dialogs.size(), 2u);
}

TEST(AboutDialog, VersionIsSetWhenShownAndLabelsSitInPlace)
{
    TFMAbout about;
    EXPECT_TRUE(about.Label1->text().isEmpty());
    about.show();
    EXPECT_EQ(about.Label1->text(), "Gridquilt 2.5.8");
    EXPECT_TRUE(about.Label1->font().bold());
    EXPECT_EQ(about.Label1->geometry(), QRect(67, 20, 212, 16));
    EXPECT_EQ(about.Label4->pos(), QPoint(56, 75));
    EXPECT_EQ(about.Label4->text(), "Web: ");
    EXPECT_EQ(about.Label5->geometry(), QRect(95, 75, 169, 13));
    EXPECT_EQ(about.Label5->text(), HomePageUrl);
    EXPECT_EQ(about.Label6->pos(), QPoint(58, 99));
    EXPECT_EQ(about.Label6->text(), "Email: ");
    EXPECT_EQ(about.Label7->geometry(), QRect(103, 99, 146, 13));
    EXPECT_EQ(about.Label7->text(), "support@gridquilt.example.org");
    for (QLabel* link : {static_cast<QLabel*>(about.Label5), static_cast<QLabel*>(about.Label7)}) {
        EXPECT_TRUE(link->font().underline());
        EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
        EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    }
}

TEST(WebLinks, EachClickHandsTheAddressOnOnce)
{
    OpenedUrls opened;
    TfmMain window;
    window.Help1->trigger();
    TFMAbout about(&window);
    about.show();
    test::Click(about.Label5, {5, 5});
    test::Click(about.Label5, {5, 5});
    test::Click(about.Label7, {5, 5});
    // A press outside the link that ends inside it... and a release outside: no click.
    test::SendMouse(about.Label7, QEvent::MouseButtonPress, {5, 5});
    test::SendMouse(about.Label7, QEvent::MouseButtonRelease, {500, 5});
    EXPECT_TRUE(about.isVisible()) << "a link does not close the dialog";
    const std::string home = HomePageUrl;
    const std::string mail = ContactMailUrl;
    EXPECT_EQ(opened.urls, (std::vector<std::string>{home, home, home, mail}));
}

TEST(QtPrompts, SaveFileDialogIsFreshAndLeavesOverwriteToUs)
{
    QtUserPrompts prompts;
    std::string chosen;
    test::WhenModal<QFileDialog>([](QFileDialog* dialog) {
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(dialog->defaultSuffix(), "xlsx");
        EXPECT_EQ(dialog->nameFilters(), (QStringList{"Excel Workbook (*.xlsx)", "Excel 97-2003 Workbook (*.xls)"}));
        // Typed into the name field as a user would: selectFile() leaves that field alone while it
        // has the keyboard focus, which depends on window activation.
        dialog->setDirectory("/tmp");
        auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
        ASSERT_NE(name, nullptr);
        name->setText("merged-output");
        static_cast<QDialog*>(dialog)->accept();
    });
    ASSERT_TRUE(prompts.ChooseSaveFile(".xlsx", "Excel Workbook|*.xlsx|Excel 97-2003 Workbook (*.xls)|*.xls", "Merged",
                                       chosen));
    EXPECT_EQ(chosen, "/tmp/merged-output.xlsx");

    test::WhenModal<QFileDialog>([](QFileDialog* dialog) {
        EXPECT_NE(dialog->selectedFiles().value(0), "/tmp/merged-output.xlsx") << "nothing carried over";
        dialog->reject();
    });
    std::string untouched = "unchanged";
    EXPECT_FALSE(prompts.ChooseSaveFile(".xls", "Excel|*.xls", "", untouched));
    EXPECT_EQ(untouched, "unchanged");
}

// The merge's own filter: the file type the user picks gives a name typed without an extension
// its extension.
TEST(QtPrompts, TheChosenFileTypeGivesTheExtension)
{
    // The type picked last decides the extension the dialog adds to a name typed without one.
    const struct {
        std::vector<const char*> picked;
        const char* suffix;
    } cases[] = {
        {{}, "xls"},
        {{"Excel Workbook (*.xlsx)"}, "xlsx"},
        {{"Excel Workbook (*.xlsx)", "EXCEL File (*.xls)"}, "xls"},
        {{"OpenDocument Spreadsheet (*.ods)"}, "ods"},
    };
    for (const auto& c : cases) {
        QtUserPrompts prompts;
        std::string chosen;
        test::WhenModal<QFileDialog>([&](QFileDialog* dialog) {
            EXPECT_EQ(dialog->nameFilters(), (QStringList{"EXCEL File (*.xls)", "Excel Workbook (*.xlsx)",
                                                          "OpenDocument Spreadsheet (*.ods)"}));
            EXPECT_EQ(dialog->selectedNameFilter(), "EXCEL File (*.xls)") << "the .xls type is the default";
            for (const char* type : c.picked) {
                test::ChooseFileType(dialog, type);
            }
            EXPECT_EQ(dialog->defaultSuffix(), c.suffix) << c.picked.size() << " types picked";
            dialog->reject();
        });
        EXPECT_FALSE(prompts.ChooseSaveFile(merge::kOutputExtension, merge::kOutputFilter, "", chosen));
    }
    EXPECT_EQ(NameFilterSuffix("All files (*)"), "");
    EXPECT_EQ(NameFilterSuffix("Workbooks (*.xlsx *.xls)"), "xlsx");
}

TEST(QtPrompts, NameFiltersConvert)
{
    EXPECT_EQ(QtNameFilters("Workbooks|*.xlsx;*.xls"), (QStringList{"Workbooks (*.xlsx *.xls)"}));
    EXPECT_EQ(QtNameFilters("A (*.a)|*.a|B|*.b"), (QStringList{"A (*.a)", "B (*.b)"}));
    EXPECT_EQ(QtNameFilters(""), QStringList{});
    EXPECT_EQ(QtNameFilters("dangling description"), QStringList{});
}

TEST(QtPrompts, YesNoQuestionAndMessage)
{
    QtUserPrompts prompts;
    test::WhenModal<QMessageBox>([](QMessageBox* box) {
        EXPECT_EQ(box->windowTitle(), "Warning");
        EXPECT_EQ(box->text(), "Are you sure to delete the file from disk?");
        EXPECT_EQ(box->icon(), QMessageBox::Question);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
        box->button(QMessageBox::Yes)->click();
    });
    EXPECT_TRUE(prompts.AskYesNo("Are you sure to delete the file from disk?", "Warning"));
    test::WhenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
    EXPECT_FALSE(prompts.AskYesNo("Again?", "Warning"));

    test::WhenModal<QMessageBox>([](QMessageBox* box) {
        EXPECT_EQ(box->windowTitle().toStdString(), ApplicationTitle());
        EXPECT_EQ(box->text(), "Merge Completed!");
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        box->button(QMessageBox::Ok)->click();
    });
    prompts.ShowMessage("Merge Completed!");
}

TEST(QtPrompts, HourglassComesAndGoes)
{
    QtUserPrompts prompts;
    ASSERT_EQ(QGuiApplication::overrideCursor(), nullptr);
    {
        HourglassGuard hourglass(prompts);
        ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(BusyWindow, ShowBusyShowsAndHidesTheOneWaitForm)
{
    TfmMain window;
    window.show();
    TWaitForm wait(&window);
    WaitForm = &wait;
    QtUserPrompts prompts(&window);
    prompts.ShowBusy(true, false);
    EXPECT_TRUE(wait.isVisible());
    EXPECT_FALSE(wait.SpeedButton1->isVisible());
    EXPECT_EQ(wait.size(), QSize(376, 84));
    const QPoint first = wait.pos();
    prompts.ShowBusy(true, true);
    EXPECT_TRUE(wait.SpeedButton1->isVisible());
    prompts.ShowBusy(false, false);
    EXPECT_FALSE(wait.isVisible());
    prompts.ShowBusy(false, true); // already hidden: nothing
    EXPECT_FALSE(wait.isVisible());
    window.move(window.pos() + QPoint(40, 30));
    prompts.ShowBusy(true, false);
    EXPECT_EQ(wait.pos(), first) << "keeps the place of its first showing";
    prompts.ShowBusy(false, false);
    WaitForm = nullptr;
}

} // namespace
} // namespace gq::app
