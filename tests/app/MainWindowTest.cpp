// Tests of the main window on the offscreen platform: layout and initial state, the lists and
// their text, drops, the command buttons, the one-time set-up and the failure report.
// SPDX-License-Identifier: Apache-2.0
#include "app/FailureReport.h"
#include "app/TfmMain.h"
#include "tests/app/AppTestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QToolButton>

#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace gq::app {
namespace {

using Paths = std::vector<std::string>;

struct Report {
    std::string title;
    std::string text;
};

// A shown main window whose drops and failure reports are recorded.
class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_previousSink = SetFailureReportSink([this](const std::string& title, const std::string& text) {
            reports.push_back({title, text});
        });
        window = std::make_unique<TfmMain>();
        window->onDrop = [this](const Paths& paths) { drops.push_back(paths); };
        window->show();
        QApplication::processEvents();
    }
    void TearDown() override
    {
        window.reset();
        SetFailureReportSink(std::move(m_previousSink));
    }

    void AddSource(const std::vector<std::string>& names)
    {
        for (const auto& name : names) {
            window->vtSrc->List().AppendEntry({name, "/data/" + name + ".xlsx"});
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
    QPoint RowCentre(TSheetListView* view, int row) const
    {
        return view->visualRect(view->model()->index(row, 0)).center();
    }

    std::unique_ptr<TfmMain> window;
    std::vector<Paths> drops;
    std::vector<Report> reports;

private:
    FailureReportSink m_previousSink;
};

TEST_F(MainWindowTest, WindowIsFixedSizeWithTheCaptionAndNoMaximise)
{
    EXPECT_EQ(window->centralWidget()->size(), QSize(693, 403));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_EQ(window->size(), QSize(693, 403 + window->menuBar()->height()));
    EXPECT_EQ(window->windowTitle(), "Gridquilt ");
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
    EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(window->font().pixelSize(), 11);
}

TEST_F(MainWindowTest, OpensCentredOnTheDesktop)
{
    const QRect desktop = window->screen()->geometry();
    const QPoint offset = window->frameGeometry().center() - desktop.center();
    EXPECT_LE(std::abs(offset.x()), 1) << offset.x();
    EXPECT_LE(std::abs(offset.y()), 1) << offset.y();
}

TEST_F(MainWindowTest, StartsEmptyWithMultiSheetAndTwoMenuCommands)
{
    EXPECT_EQ(window->vtSrc->List().EntryCount(), 0u);
    EXPECT_EQ(window->vtDsc->List().EntryCount(), 0u);
    EXPECT_TRUE(window->rbMulty->isChecked());
    EXPECT_FALSE(window->rbSingle->isChecked());
    window->rbSingle->click();
    EXPECT_FALSE(window->rbMulty->isChecked()) << "the two modes exclude each other";
    window->rbSingle->click();
    EXPECT_TRUE(window->rbSingle->isChecked()) << "clicking the chosen mode keeps it chosen";

    const QList<QAction*> commands = window->menuBar()->actions();
    ASSERT_EQ(commands.size(), 2);
    EXPECT_EQ(commands[0], window->m1);
    EXPECT_EQ(commands[0]->text(), "About");
    EXPECT_EQ(commands[1], window->Help1);
    EXPECT_EQ(commands[1]->text(), "Help");
    for (QAction* command : commands) {
        EXPECT_EQ(command->menu(), nullptr) << "no submenus";
    }
}

struct ControlCase {
    const char* name;
    QRect geometry;
    QString caption; // empty: not checked
    friend void PrintTo(const ControlCase& c, std::ostream* os) { *os << c.name; }
};

class MainWindowControls : public MainWindowTest, public testing::WithParamInterface<ControlCase> {};

TEST_P(MainWindowControls, SitWhereTheLayoutPutsThem)
{
    const ControlCase& c = GetParam();
    auto* control = window->findChild<QWidget*>(c.name);
    ASSERT_NE(control, nullptr) << c.name;
    EXPECT_EQ(control->geometry(), c.geometry) << c.name;
    if (c.caption.isEmpty()) {
        return;
    }
    QString text;
    if (auto* button = qobject_cast<QAbstractButton*>(control)) {
        text = button->text();
    } else if (auto* label = qobject_cast<QLabel*>(control)) {
        text = label->text();
    }
    EXPECT_EQ(text, c.caption) << c.name;
    if (qobject_cast<QToolButton*>(control) != nullptr) {
        EXPECT_EQ(control->focusPolicy(), Qt::NoFocus) << "speed buttons take no focus";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layout, MainWindowControls,
    testing::Values(
        ControlCase{"btnAddAll", {313, 32, 33, 33}, ">>"}, ControlCase{"btnAdd", {313, 80, 33, 33}, ">"},
        ControlCase{"btnDelete", {313, 200, 33, 33}, "<"}, ControlCase{"btnDeleteAll", {313, 248, 33, 33}, "<<"},
        ControlCase{"btnTop", {659, 32, 33, 33}, QString(QChar(0xFE3D))},
        ControlCase{"btnUp", {659, 80, 33, 33}, QString(QChar(0xFE3F))},
        ControlCase{"btnDown", {659, 200, 33, 33}, QString(QChar(0xFE40))},
        ControlCase{"btnBottom", {659, 248, 33, 33}, QString(QChar(0xFE3E))},
        ControlCase{"Panel1", {7, 4, 298, 337}, {}}, ControlCase{"vtSrc", {2, 2, 294, 333}, {}},
        ControlCase{"Panel2", {355, 4, 298, 337}, {}}, ControlCase{"vtDsc", {2, 2, 294, 333}, {}},
        ControlCase{"Label1", {29, 352, 205, 13}, QString::fromUtf8("\u2191 Drop Excel Files or Folders Here  \u2191")},
        ControlCase{"rbMulty", {324, 354, 141, 17}, "Merge into Multi-Sheet"},
        ControlCase{"rbSingle", {324, 376, 141, 17}, "Merge into Single Sheet"},
        ControlCase{"btnMerge", {472, 349, 174, 49}, "Click here to merge"}));

TEST_F(MainWindowTest, ListsAreInTheirPanelsAndLookAlike)
{
    EXPECT_EQ(window->vtSrc->parentWidget(), window->Panel1);
    EXPECT_EQ(window->vtDsc->parentWidget(), window->Panel2);
    EXPECT_EQ(window->Panel1->frameWidth(), 2);
    EXPECT_EQ(window->Label1->palette().color(QPalette::WindowText), QColor(Qt::blue));
    for (TSheetListView* view : {window->vtSrc, window->vtDsc}) {
        SCOPED_TRACE(view->objectName().toStdString());
        QHeaderView* header = view->header();
        EXPECT_EQ(header->height(), 17);
        EXPECT_FALSE(header->isHidden());
        EXPECT_EQ(header->sectionSize(0), 120);
        EXPECT_EQ(header->sectionSize(1), 160);
        EXPECT_EQ(header->model()->headerData(0, Qt::Horizontal).toString(), "Sheet Name");
        EXPECT_EQ(header->model()->headerData(1, Qt::Horizontal).toString(), "File Name");
        EXPECT_TRUE(header->sectionsMovable());
        EXPECT_TRUE(header->isFirstSectionMovable());
        EXPECT_EQ(header->sectionResizeMode(0), QHeaderView::Interactive);
        EXPECT_FALSE(header->isSortIndicatorShown());
        EXPECT_FALSE(view->isSortingEnabled());
        EXPECT_FALSE(view->rootIsDecorated());
        EXPECT_EQ(view->selectionBehavior(), QAbstractItemView::SelectRows);
        EXPECT_EQ(view->selectionMode(), QAbstractItemView::ExtendedSelection);
        EXPECT_EQ(view->editTriggers(), QAbstractItemView::NoEditTriggers);
        EXPECT_EQ(view->selectionModel(), view->List().SelectionModel()) << "one source of selection and focus";
    }
}

TEST_F(MainWindowTest, SourceListShowsTheDropPictureAndTheMergeListNone)
{
    const QPixmap& picture = window->vtSrc->BackgroundPicture();
    EXPECT_EQ(picture.size(), QSize(348, 80));
    EXPECT_TRUE(window->vtDsc->BackgroundPicture().isNull());
    // The picture is a baseline JPEG: SOI first, a baseline SOF0 frame and no progressive SOF2.
    QFile resource(":/gridquilt/DropPicture.jpg");
    ASSERT_TRUE(resource.open(QIODevice::ReadOnly));
    const QByteArray bytes = resource.readAll();
    EXPECT_TRUE(bytes.startsWith("\xFF\xD8"));
    EXPECT_TRUE(bytes.contains("\xFF\xC0"));
    EXPECT_FALSE(bytes.contains("\xFF\xC2"));
    // White ground, green words.
    const QImage image = picture.toImage();
    EXPECT_GT(qGray(image.pixel(2, 2)), 245);
    int green = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            green += (c.green() > 80 && c.red() < 80 && c.blue() < 80) ? 1 : 0;
        }
    }
    EXPECT_GT(green, 200);
    // Painted in the row area, under the header, at its top-left corner.
    const QImage shown = window->vtSrc->viewport()->grab().toImage();
    EXPECT_EQ(shown.pixelColor(3, 3).rgb() & 0xF0F0F0, image.pixelColor(3, 3).rgb() & 0xF0F0F0);
}

// Cells of both lists come from vtSrcGetText: replacing it changes what both show.
class MarkedWindow : public TfmMain {
public:
    QString vtSrcGetText(const SheetList& list, SheetRow row, int column) const override
    {
        return QString("marked %1 %2").arg(QString::fromStdString(list.EntryOf(row).SheetName)).arg(column);
    }
};

TEST(MainWindowText, BothListsAskTheOneTextHandler)
{
    MarkedWindow window;
    window.vtSrc->List().AppendEntry({"S", "/s.xlsx"});
    window.vtDsc->List().AppendEntry({"D", "/d.xlsx"});
    EXPECT_EQ(window.vtSrc->model()->index(0, 1).data().toString(), "marked S 1");
    EXPECT_EQ(window.vtDsc->model()->index(0, 0).data().toString(), "marked D 0");
}

TEST_F(MainWindowTest, TextHandlerGivesNameFileAndNothingElse)
{
    SheetList& list = window->vtSrc->List();
    const SheetRow row = list.AppendEntry({"Sales", "/data/Q1.xlsx"});
    EXPECT_EQ(window->vtSrcGetText(list, row, 0), "Sales");
    EXPECT_EQ(window->vtSrcGetText(list, row, 1), "/data/Q1.xlsx");
    EXPECT_EQ(window->vtSrcGetText(list, row, 2), "");
    EXPECT_EQ(window->vtSrcGetText(list, row, -1), "");
    const SheetRow accents = list.AppendEntry({"\xC3\x9C"
                                               "bersicht",
                                               "/d/\xE2\x82\xAC.xls"});
    EXPECT_EQ(window->vtSrcGetText(list, accents, 0), QString::fromUtf8("\u00DCbersicht"));
    EXPECT_EQ(window->vtSrcGetText(list, accents, 1), QString::fromUtf8("/d/\u20AC.xls"));
}

TEST_F(MainWindowTest, MovedColumnKeepsItsText)
{
    AddSource({"Sales"});
    TSheetListView* view = window->vtSrc;
    view->header()->moveSection(1, 0); // "File Name" dragged before "Sheet Name"
    QApplication::processEvents();
    EXPECT_EQ(view->header()->logicalIndexAt(5), 1);
    const QModelIndex leftmost = view->indexAt(QPoint(5, view->visualRect(view->model()->index(0, 1)).center().y()));
    ASSERT_TRUE(leftmost.isValid());
    EXPECT_EQ(leftmost.column(), 1);
    EXPECT_EQ(leftmost.data().toString(), "/data/Sales.xlsx");
    EXPECT_EQ(view->model()->index(0, 0).data().toString(), "Sales");
}

TEST_F(MainWindowTest, DoubleClickOnAHeaderDividerFitsTheColumn)
{
    AddSource({"A sheet name far longer than one hundred and twenty pixels"});
    QHeaderView* header = window->vtSrc->header();
    const QPoint divider(header->sectionViewportPosition(0) + header->sectionSize(0) - 1, header->height() / 2);
    test::SendMouse(header->viewport(), QEvent::MouseButtonPress, divider);
    test::SendMouse(header->viewport(), QEvent::MouseButtonRelease, divider);
    test::SendMouse(header->viewport(), QEvent::MouseButtonDblClick, divider);
    test::SendMouse(header->viewport(), QEvent::MouseButtonRelease, divider);
    EXPECT_GT(header->sectionSize(0), 200);
    EXPECT_EQ(header->sectionSize(1), 160);
    EXPECT_EQ(Order(window->vtSrc->List()).size(), 1u) << "a header gesture is no list command";
    EXPECT_EQ(window->vtDsc->List().EntryCount(), 0u) << "nor a double-click on the rows";
}

TEST_F(MainWindowTest, DropsOnTheWindowAndTheSourceListReachDropHandlerOnce)
{
    const QList<QUrl> urls{QUrl::fromLocalFile("/data/Book 1.xlsx"), QUrl::fromLocalFile("/data/folder")};
    const Paths expected{"/data/Book 1.xlsx", "/data/folder"};

    EXPECT_TRUE(test::SimulateDrop(window->Label1, {10, 5}, urls).moveAccepted);
    ASSERT_EQ(drops.size(), 1u);
    EXPECT_EQ(drops[0], expected);

    EXPECT_TRUE(test::SimulateDrop(window->vtSrc->viewport(), {40, 40}, urls).moveAccepted);
    ASSERT_EQ(drops.size(), 2u);
    EXPECT_EQ(drops[1], expected);

    EXPECT_TRUE(test::SimulateDrop(window->vtSrc->header(), {40, 5}, urls).moveAccepted);
    EXPECT_EQ(drops.size(), 3u);
}

TEST_F(MainWindowTest, MergeListRefusesDrops)
{
    const QList<QUrl> urls{QUrl::fromLocalFile("/data/Book.xlsx")};
    EXPECT_FALSE(test::SimulateDrop(window->vtDsc->viewport(), {40, 40}, urls).moveAccepted);
    EXPECT_FALSE(test::SimulateDrop(window->vtDsc->header(), {40, 5}, urls).moveAccepted);
    EXPECT_TRUE(drops.empty());
}

TEST_F(MainWindowTest, DropsWithoutLocalFilesAreRefused)
{
    EXPECT_FALSE(test::SimulateDrop(window->Label1, {10, 5}, {QUrl("https://example.org/a.xlsx")}).moveAccepted);
    EXPECT_TRUE(drops.empty());
}

TEST_F(MainWindowTest, ShowingAgainDoesNotRepeatTheSetUp)
{
    window->move(10, 20);
    const QPoint placed = window->pos();
    window->showMinimized();
    QApplication::processEvents();
    window->showNormal();
    QApplication::processEvents();
    window->hide();
    window->show();
    QApplication::processEvents();
    EXPECT_EQ(window->pos(), placed) << "not centred again";
    test::SimulateDrop(window->Label1, {10, 5}, {QUrl::fromLocalFile("/data/a.xls")});
    EXPECT_EQ(drops.size(), 1u) << "one drop, one call";
}

TEST_F(MainWindowTest, ButtonsRunTheMergeListCommands)
{
    AddSource({"One", "Two", "Three"});
    window->btnAddAll->click();
    EXPECT_EQ(Order(window->vtDsc->List()), (std::vector<std::string>{"One", "Two", "Three"}));

    SheetList& merge = window->vtDsc->List();
    merge.SelectionModel()->setCurrentIndex(merge.IndexOf(merge.LastRow()),
                                            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    window->btnDown->click(); // the last entry goes to the top
    EXPECT_EQ(Order(merge), (std::vector<std::string>{"Three", "One", "Two"}));
    window->btnBottom->click();
    EXPECT_EQ(Order(merge), (std::vector<std::string>{"One", "Two", "Three"}));
    window->btnUp->click();
    EXPECT_EQ(Order(merge), (std::vector<std::string>{"One", "Three", "Two"}));
    window->btnTop->click();
    EXPECT_EQ(Order(merge), (std::vector<std::string>{"Three", "One", "Two"}));
    window->btnDelete->click(); // Three was selected and focused
    EXPECT_EQ(Order(merge), (std::vector<std::string>{"One", "Two"}));
    EXPECT_FALSE(merge.FocusedRow());

    SheetList& source = window->vtSrc->List();
    source.SelectionModel()->select(source.IndexOf(source.LastRow()),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    window->btnAdd->click();
    EXPECT_EQ(Order(merge), (std::vector<std::string>{"One", "Two", "Three"}));
    window->btnDeleteAll->click();
    EXPECT_EQ(merge.EntryCount(), 0u);
    EXPECT_EQ(source.EntryCount(), 3u);
}

TEST_F(MainWindowTest, DoubleClicksCopyAndRemove)
{
    AddSource({"One", "Two"});
    QWidget* sourceArea = window->vtSrc->viewport();
    test::DoubleClick(sourceArea, RowCentre(window->vtSrc, 1));
    EXPECT_EQ(Order(window->vtDsc->List()), (std::vector<std::string>{"Two"}));
    // Below the rows: the focused row (Two) is copied again.
    test::DoubleClick(sourceArea, {40, 300});
    EXPECT_EQ(Order(window->vtDsc->List()), (std::vector<std::string>{"Two", "Two"}));

    QWidget* mergeArea = window->vtDsc->viewport();
    test::DoubleClick(mergeArea, RowCentre(window->vtDsc, 0));
    EXPECT_EQ(window->vtDsc->List().EntryCount(), 1u);
    EXPECT_EQ(window->vtSrc->List().EntryCount(), 2u);
}

TEST_F(MainWindowTest, AppendedRowsTakeNoFocusInTheView)
{
    AddSource({"One"});
    test::Click(window->vtSrc->viewport(), RowCentre(window->vtSrc, 0));
    const SheetRow clicked = window->vtSrc->List().FocusedRow();
    ASSERT_TRUE(clicked);
    AddSource({"Two", "Three"});
    EXPECT_EQ(window->vtSrc->List().FocusedRow(), clicked);
    EXPECT_EQ(window->vtSrc->selectionModel()->selectedRows().size(), 1);
}

TEST_F(MainWindowTest, BatchHoldsPaintingUntilTheOutermostEnd)
{
    SheetList& list = window->vtSrc->List();
    list.BeginBatch();
    list.BeginBatch();
    EXPECT_FALSE(window->vtSrc->updatesEnabled());
    list.EndBatch();
    EXPECT_FALSE(window->vtSrc->updatesEnabled());
    list.EndBatch();
    EXPECT_TRUE(window->vtSrc->updatesEnabled());
}

TEST_F(MainWindowTest, FailureInAHandlerIsReportedAndTheWindowGoesOn)
{
    window->onMerge = [] { throw std::runtime_error("The disk is full"); };
    window->btnMerge->click();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].text, "The disk is full.");
    EXPECT_EQ(reports[0].title, ApplicationTitle());

    window->onDrop = [](const Paths&) { throw std::runtime_error("Cannot read it."); };
    test::SimulateDrop(window->Label1, {10, 5}, {QUrl::fromLocalFile("/x.xlsx")});
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].text, "Cannot read it.");

    AddSource({"One"});
    window->btnAddAll->click();
    EXPECT_EQ(window->vtDsc->List().EntryCount(), 1u) << "still usable";
}

TEST_F(MainWindowTest, ScreenshotHasTheLayout)
{
    AddSource({"Sales", "Costs", "Staff"});
    window->btnAddAll->click();
    QApplication::processEvents();
    const QPixmap shot = window->grab();
    EXPECT_EQ(shot.width(), 693);
    // Kept for a look by eye; not part of the check.
    shot.save("/tmp/gridquilt-window.png");
}

} // namespace
} // namespace gq::app
