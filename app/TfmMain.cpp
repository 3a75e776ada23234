// The main window.
// SPDX-License-Identifier: Apache-2.0
#include "app/TfmMain.h"

#include "app/BackgroundWork.h"
#include "app/FailureReport.h"
#include "app/ListCommands.h"
#include "app/TFMAbout.h"
#include "app/uFunction.h"

#include <QButtonGroup>
#include <QDragEnterEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include <memory>
#include <utility>

// Resources compiled into a static library need an explicit reference to be linked in.
static void InitAppResources()
{
    Q_INIT_RESOURCE(app);
}

namespace gq::app {

TfmMain* fmMain = nullptr;

namespace {

constexpr int kClientWidth = 693;
constexpr int kClientHeight = 403;

enum Arrow { kNoArrow, kUp, kUpDouble, kDown, kDownDouble };

// Paints the chevrons of the move buttons: few fonts carry the vertical presentation forms
// U+FE3D/FE3E/FE3F/FE40 that the captions hold, so the button shows this drawing instead.
QIcon ChevronIcon(Arrow arrow, const QColor& colour)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const bool up = arrow == kUp || arrow == kUpDouble;
    const bool doubled = arrow == kUpDouble || arrow == kDownDouble;
    auto chevron = [&](double y) {
        QPainterPath path;
        const double tip = up ? y - 3 : y + 3;
        path.moveTo(3, up ? y + 1 : y - 1);
        path.lineTo(8, tip);
        path.lineTo(13, up ? y + 1 : y - 1);
        painter.drawPath(path);
    };
    if (doubled) {
        chevron(up ? 7 : 5);
        chevron(up ? 11 : 9);
    } else {
        chevron(up ? 9 : 7);
    }
    return QIcon(pixmap);
}

std::vector<std::string> LocalPaths(const QMimeData* mime)
{
    std::vector<std::string> paths;
    if (mime == nullptr || !mime->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile()) {
            paths.push_back(url.toLocalFile().toStdString());
        }
    }
    return paths;
}

} // namespace

QSize FittedWindowSize(QSize natural, QSize room)
{
    return natural.boundedTo(room);
}

QFont DefaultWindowFont()
{
    QFont font;
    font.setFamilies(
        {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Nimbus Sans", "Arial", "DejaVu Sans"});
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    return font;
}

TfmMain::TfmMain(QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_prompts(this)
{
    InitAppResources();
    setObjectName("fmMain");
    setWindowTitle("Gridquilt ");
    setFont(DefaultWindowFont());
    QPalette face = palette();
    face.setColor(QPalette::Window, face.color(QPalette::Button));
    setPalette(face);

    // The client area keeps its fixed size; the window shows all of it wherever the screen has
    // room and otherwise as much as fits, with scroll bars to reach the rest (FitToScreen).
    m_clientArea = new QScrollArea(this);
    m_clientArea->setObjectName("clientArea");
    m_clientArea->setFrameShape(QFrame::NoFrame);
    m_clientArea->setWidgetResizable(false);
    // The area itself is no stop of the tab order: the keys go to the controls, as laid out.
    m_clientArea->setFocusPolicy(Qt::NoFocus);
    auto* client = new QWidget;
    client->setObjectName("client");
    client->setFixedSize(kClientWidth, kClientHeight);
    client->setAutoFillBackground(true);
    m_clientArea->setWidget(client);
    setCentralWidget(m_clientArea);

    btnAdd = MakeSpeedButton(client, ">", 313, 80, kNoArrow);
    btnAdd->setObjectName("btnAdd");
    btnAddAll = MakeSpeedButton(client, ">>", 313, 32, kNoArrow);
    btnAddAll->setObjectName("btnAddAll");
    btnDelete = MakeSpeedButton(client, "<", 313, 200, kNoArrow);
    btnDelete->setObjectName("btnDelete");
    btnDeleteAll = MakeSpeedButton(client, "<<", 313, 248, kNoArrow);
    btnDeleteAll->setObjectName("btnDeleteAll");
    btnUp = MakeSpeedButton(client, QString(QChar(0xFE3F)), 659, 80, kUp);
    btnUp->setObjectName("btnUp");
    btnDown = MakeSpeedButton(client, QString(QChar(0xFE40)), 659, 200, kDown);
    btnDown->setObjectName("btnDown");
    btnTop = MakeSpeedButton(client, QString(QChar(0xFE3D)), 659, 32, kUpDouble);
    btnTop->setObjectName("btnTop");
    btnBottom = MakeSpeedButton(client, QString(QChar(0xFE3E)), 659, 248, kDownDouble);
    btnBottom->setObjectName("btnBottom");

    btnMerge = new QPushButton(tr("Click here to merge"), client);
    btnMerge->setObjectName("btnMerge");
    btnMerge->setGeometry(472, 349, 174, 49);
    btnMerge->setAutoDefault(false);

    // Two commands directly on the menu bar, no submenus.
    MainMenu = menuBar();
    MainMenu->setObjectName("MainMenu");
    m1 = MainMenu->addAction(tr("About"));
    m1->setObjectName("m1");
    Help1 = MainMenu->addAction(tr("Help"));
    Help1->setObjectName("Help1");

    Panel1 = new QFrame(client);
    Panel1->setObjectName("Panel1");
    Panel1->setGeometry(7, 4, 298, 337);
    // Outer bevel lowered, inner bevel raised: one sunken and one raised line, two pixels in all.
    Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Panel1->setLineWidth(1);
    Panel1->setMidLineWidth(0);
    vtSrc = MakeList(Panel1);
    vtSrc->setObjectName("vtSrc");
    vtSrc->SetBackgroundPicture(QPixmap(":/gridquilt/DropPicture.jpg"));

    Panel2 = new QFrame(client);
    Panel2->setObjectName("Panel2");
    Panel2->setGeometry(355, 4, 298, 337);
    Panel2->setFrameStyle(QFrame::Box | QFrame::Sunken);
    Panel2->setLineWidth(1);
    Panel2->setMidLineWidth(0);
    vtDsc = MakeList(Panel2);
    vtDsc->setObjectName("vtDsc");
    vtDsc->SetRefusesDrops(true);

    Label1 = new QLabel(tr("\u2191 Drop Excel Files or Folders Here  \u2191"), client);
    Label1->setObjectName("Label1");
    Label1->setGeometry(29, 352, 205, 13);
    Label1->setFocusPolicy(Qt::NoFocus);
    // Blue as a link is blue in the palette: readable on a dark theme's window colour too.
    QPalette blue = Label1->palette();
    blue.setColor(QPalette::WindowText, blue.color(QPalette::Link));
    Label1->setPalette(blue);

    rbMulty = new QRadioButton(tr("Merge into Multi-Sheet"), client);
    rbMulty->setObjectName("rbMulty");
    rbMulty->setGeometry(324, 354, 141, 17);
    rbSingle = new QRadioButton(tr("Merge into Single Sheet"), client);
    rbSingle->setObjectName("rbSingle");
    rbSingle->setGeometry(324, 376, 141, 17);
    m_modeGroup = new QButtonGroup(this);
    m_modeGroup->setExclusive(true);
    m_modeGroup->addButton(rbMulty);
    m_modeGroup->addButton(rbSingle);
    rbMulty->setChecked(true);

    // Tab order: the merge button, the source list, the merge list, then the two modes.
    setTabOrder(btnMerge, vtSrc);
    setTabOrder(vtSrc, vtDsc);
    setTabOrder(vtDsc, rbMulty);
    setTabOrder(rbMulty, rbSingle);

    // What each list button does, for those who do not read the arrows.
    btnAddAll->setToolTip(tr("Add all sheets to the merge list"));
    btnAdd->setToolTip(tr("Add the selected sheets to the merge list"));
    btnDelete->setToolTip(tr("Remove the selected sheets from the merge list"));
    btnDeleteAll->setToolTip(tr("Remove all sheets from the merge list"));
    btnTop->setToolTip(tr("Move the focused sheet to the top"));
    btnUp->setToolTip(tr("Move the focused sheet up"));
    btnDown->setToolTip(tr("Move the focused sheet down"));
    btnBottom->setToolTip(tr("Move the focused sheet to the bottom"));

    // Fixed size: the client area plus the menu bar above it, or less on a screen too small.
    FitToScreen();

    auto guarded = [this](void (TfmMain::*handler)()) {
        return [this, handler] { RunGuarded([&] { (this->*handler)(); }); };
    };
    connect(btnAddAll, &QToolButton::clicked, this, guarded(&TfmMain::btnAddAllClick));
    connect(btnAdd, &QToolButton::clicked, this, guarded(&TfmMain::btnAddClick));
    connect(btnDelete, &QToolButton::clicked, this, guarded(&TfmMain::btnDeleteClick));
    connect(btnDeleteAll, &QToolButton::clicked, this, guarded(&TfmMain::btnDeleteAllClick));
    connect(btnTop, &QToolButton::clicked, this, guarded(&TfmMain::btnTopClick));
    connect(btnUp, &QToolButton::clicked, this, guarded(&TfmMain::btnUpClick));
    connect(btnDown, &QToolButton::clicked, this, guarded(&TfmMain::btnDownClick));
    connect(btnBottom, &QToolButton::clicked, this, guarded(&TfmMain::btnBottomClick));
    connect(btnMerge, &QPushButton::clicked, this, guarded(&TfmMain::btnMergeClick));
    connect(vtSrc, &TSheetListView::DoubleClicked, this, guarded(&TfmMain::vtSrcDblClick));
    connect(vtDsc, &TSheetListView::DoubleClicked, this, guarded(&TfmMain::vtDscDblClick));
    // The keys that let a merge be built without a mouse: Enter or Space in the source list adds
    // its selected entries, Delete in the merge list removes its selected ones.
    connect(vtSrc, &TSheetListView::AddKeyPressed, this, guarded(&TfmMain::btnAddClick));
    connect(vtDsc, &TSheetListView::RemoveKeyPressed, this, guarded(&TfmMain::btnDeleteClick));
    connect(m1, &QAction::triggered, this, guarded(&TfmMain::m1Click));
    connect(Help1, &QAction::triggered, this, guarded(&TfmMain::Help1Click));
}

TfmMain::~TfmMain()
{
    // The lists outlive this object's own part of the destruction (QWidget's destructor hides
    // and repaints them), so they must stop asking for text here.
    vtSrc->List().SetTextProvider({});
    vtDsc->List().SetTextProvider({});
    if (fmMain == this) {
        fmMain = nullptr;
    }
}

QToolButton* TfmMain::MakeSpeedButton(QWidget* parent, const QString& caption, int left, int top, int arrow)
{
    auto* button = new QToolButton(parent);
    button->setText(caption);
    button->setGeometry(left, top, 33, 33);
    button->setFocusPolicy(Qt::NoFocus);
    if (arrow != kNoArrow) {
        button->setIcon(ChevronIcon(static_cast<Arrow>(arrow), palette().color(QPalette::ButtonText)));
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    }
    return button;
}

TSheetListView* TfmMain::MakeList(QFrame* panel)
{
    auto* list = new TSheetListView(panel);
    list->setGeometry(2, 2, 294, 333);
    // One text provider serves both lists.
    list->List().SetTextProvider(
        [this](const SheetList& sheets, SheetRow row, int column) { return vtSrcGetText(sheets, row, column); });
    return list;
}

QString TfmMain::vtSrcGetText(const SheetList& list, SheetRow row, int column) const
{
    const catalogue::SheetEntry& entry = list.EntryOf(row);
    switch (column) {
    case 0:
        return QString::fromStdString(entry.SheetName);
    case 1:
        return QString::fromStdString(entry.FileName);
    default:
        return {};
    }
}

void TfmMain::showEvent(QShowEvent* event)
{
    RunGuarded([this] { FormShow(); });
    QMainWindow::showEvent(event);
}

void TfmMain::FormShow()
{
    // Showing again after a minimise is no new start: the set-up runs once per run.
    if (m_setUpDone) {
        return;
    }
    m_setUpDone = true;
    // Become a drop target; the drop events below hand every drop to DropHandler.
    setAcceptDrops(true);
    FitToScreen();
    if (QWindow* handle = windowHandle()) {
        connect(handle, &QWindow::screenChanged, this, [this] { FitToScreen(); });
    }
    // Centred on the desktop, on the frame the window manager gives it.
    CentreOnScreen(this);
}

void TfmMain::FitToScreen()
{
    const QSize natural(kClientWidth, kClientHeight + MainMenu->sizeHint().height());
    QSize size = natural;
    if (const QScreen* desktop = screen()) {
        // The frame the window manager adds: known once the window is shown, guessed before.
        const QWindow* handle = windowHandle();
        const QMargins frame =
            handle != nullptr && handle->isVisible() ? handle->frameMargins() : QMargins(4, 28, 4, 4);
        size = FittedWindowSize(natural, desktop->availableGeometry().marginsRemoved(frame).size());
    }
    const bool fits = size == natural;
    // Scroll bars only where the client area is cut.
    m_clientArea->setHorizontalScrollBarPolicy(fits ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    m_clientArea->setVerticalScrollBarPolicy(fits ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    setFixedSize(size);
}

void TfmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (!LocalPaths(event->mimeData()).empty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void TfmMain::dragMoveEvent(QDragMoveEvent* event)
{
    if (!LocalPaths(event->mimeData()).empty()) {
        event->acceptProposedAction();
    } else {
        event->ignore();
    }
}

void TfmMain::dropEvent(QDropEvent* event)
{
    std::vector<std::string> paths = LocalPaths(event->mimeData());
    if (paths.empty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    // The drop itself completes first (the dragging program is not kept waiting for the sheet
    // listing); the paths are handled right after, from the event loop.
    QTimer::singleShot(0, this, [this, paths = std::move(paths)] { TakePaths(paths); });
}

void TfmMain::TakePaths(const std::vector<std::string>& paths)
{
    RunGuarded([&] { DropHandler(paths); });
}

void TfmMain::DropHandler(const std::vector<std::string>& paths)
{
    RunThenCloseIfAsked([&] {
        if (onDrop) {
            onDrop(paths);
        }
    });
}

void TfmMain::RunLongWork(const QString& stopQuestion, const QString& closeQuestion, const std::function<void()>& work)
{
    // The wait cursor is held for the whole work: the steps that show an hourglass of their own
    // end it before the work is over (a merge before its save, each listed workbook before the
    // next), and the pointer must not turn back into an arrow in between.
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    m_workStop.Begin();
    struct EndOfWork {
        WorkStop& stop;
        ~EndOfWork()
        {
            stop.End();
            QGuiApplication::restoreOverrideCursor();
        }
    } endOfWork{m_workStop};
    RunWhileBlocked(this, work, [this, stopQuestion, closeQuestion](bool closing) {
        RunGuarded([&] { OfferStop(closing ? closeQuestion : stopQuestion, closing); });
    });
}

void TfmMain::OfferStop(const QString& question, bool closing)
{
    if (m_workStop.PastLastStop()) {
        // The output is being saved and can no longer be stopped: the window closes afterwards.
        m_closeWhenDone = m_closeWhenDone || closing;
        return;
    }
    // Not asked twice at once, and not after the work has ended.
    if (!m_workStop.BeginAsking()) {
        return;
    }
    bool stop = false;
    {
        const ArrowCursorForDialog arrow;
        QMessageBox box(QMessageBox::Question, QString::fromStdString(ApplicationTitle()), question,
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setDefaultButton(QMessageBox::No);
        stop = box.exec() == QMessageBox::Yes;
    }
    m_workStop.Answer(stop);
    if (stop && closing) {
        m_closeWhenDone = true;
    }
}

void TfmMain::RunThenCloseIfAsked(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (...) {
        // The failure is reported first; the window closes after that.
        if (std::exchange(m_closeWhenDone, false)) {
            QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
        }
        throw;
    }
    if (std::exchange(m_closeWhenDone, false)) {
        close();
    }
}

void TfmMain::btnAddAllClick()
{
    app::CopyAllToMergeList(vtSrc->List(), vtDsc->List());
}

void TfmMain::btnAddClick()
{
    app::CopySelectedToMergeList(vtSrc->List(), vtDsc->List());
}

void TfmMain::btnDeleteClick()
{
    app::RemoveSelectedFromMergeList(vtDsc->List());
}

void TfmMain::btnDeleteAllClick()
{
    app::ClearMergeList(vtDsc->List());
}

void TfmMain::btnTopClick()
{
    app::MoveFocusedToTop(vtDsc->List());
}

void TfmMain::btnUpClick()
{
    app::MoveFocusedUp(vtDsc->List());
}

void TfmMain::btnDownClick()
{
    app::MoveFocusedDown(vtDsc->List());
}

void TfmMain::btnBottomClick()
{
    app::MoveFocusedToBottom(vtDsc->List());
}

void TfmMain::vtSrcDblClick()
{
    app::CopyFocusedToMergeList(vtSrc->List(), vtDsc->List());
}

void TfmMain::vtDscDblClick()
{
    app::RemoveSelectedOnDoubleClick(vtDsc->List());
}

void TfmMain::btnMergeClick()
{
    RunThenCloseIfAsked([this] {
        if (onMerge) {
            onMerge();
        }
    });
}

void TfmMain::m1Click()
{
    // A fresh dialog each time, gone as soon as it is closed.
    const std::unique_ptr<TFMAbout> about(new TFMAbout(this));
    about->exec();
}

void TfmMain::Help1Click()
{
    OpenHomePage();
}

} // namespace gq::app
