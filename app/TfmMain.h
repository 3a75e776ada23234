// The main window: the source and merge lists, the list command buttons, the merge mode, the merge
// button and the menu; every drop of files and folders arrives here.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "app/QtUserPrompts.h"
#include "app/TSheetListView.h"
#include "app/WorkStop.h"

#include <QMainWindow>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QButtonGroup;
class QFrame;
class QLabel;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QToolButton;

namespace gq::app {

// "MS Sans Serif", 11 pixels high (8 point at 96 pixels per inch), with fallbacks where the face
// is not installed.
QFont DefaultWindowFont();

// The main window's size on a screen with `room` for it (the work area less the window frame):
// its `natural` fixed size where that fits, else as much of it as fits in either direction.
QSize FittedWindowSize(QSize natural, QSize room);

class TfmMain : public QMainWindow {
    Q_OBJECT

public:
    explicit TfmMain(QWidget* parent = nullptr);
    ~TfmMain() override;

    // The controls, in the order of the window's fields.
    QToolButton* btnAdd;
    QToolButton* btnAddAll;
    QToolButton* btnDelete;
    QToolButton* btnDeleteAll;
    QToolButton* btnUp;
    QToolButton* btnDown;
    QToolButton* btnTop;
    QToolButton* btnBottom;
    QPushButton* btnMerge;
    QMenuBar* MainMenu;
    QAction* m1;
    QAction* Help1;
    QFrame* Panel1;
    TSheetListView* vtSrc;
    QFrame* Panel2;
    TSheetListView* vtDsc;
    QLabel* Label1;
    QRadioButton* rbMulty;
    QRadioButton* rbSingle;

    // What the drop intake and the merge plug in. Each drop of local files and folders on the
    // window or on the source list calls onDrop once, through DropHandler; btnMergeClick calls
    // onMerge. Both may throw: the failure report shows what they throw.
    std::function<void(const std::vector<std::string>& paths)> onDrop;
    std::function<void()> onMerge;

    // The prompts through which handlers below the GUI talk to the user.
    QtUserPrompts& Prompts() { return m_prompts; }

    // Runs long work (a drop, a merge) off the GUI thread; the window takes no input and the wait
    // cursor stays until the work is over. Escape meanwhile asks `stopQuestion`, closing the window
    // `closeQuestion`: Yes lets the work see a stop at its next check of StopControl(), and when
    // closing was asked for, the window closes once the handler that started the work is over.
    void RunLongWork(const QString& stopQuestion, const QString& closeQuestion, const std::function<void()>& work);
    WorkStop& StopControl() { return m_workStop; }

    // Cell text of both lists: column 0 the sheet name, column 1 the file name, else nothing.
    virtual QString vtSrcGetText(const SheetList& list, SheetRow row, int column) const;

    // Takes files and folders in exactly as a drop of them on the window does (the path every drop
    // takes after it completes): DropHandler with them, any failure shown by the failure report.
    // Returns when the drop has been processed. The command line and later starts use it.
    void TakePaths(const std::vector<std::string>& paths);

    // Event handlers.
    void FormShow();
    void DropHandler(const std::vector<std::string>& paths);
    void btnAddAllClick();
    void btnAddClick();
    void btnDeleteClick();
    void btnDeleteAllClick();
    void btnTopClick();
    void btnUpClick();
    void btnDownClick();
    void btnBottomClick();
    void vtSrcDblClick();
    void vtDscDblClick();
    void btnMergeClick();
    void m1Click();
    void Help1Click();

protected:
    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Runs a handler that may start long work, then closes the window when the user asked for
    // that during the work.
    void RunThenCloseIfAsked(const std::function<void()>& handler);
    void OfferStop(const QString& question, bool closing);
    // The fixed size of the client area and the menu bar where the screen has room for it;
    // otherwise the window takes what the screen has and scrolls its client area.
    void FitToScreen();
    QToolButton* MakeSpeedButton(QWidget* parent, const QString& caption, int left, int top, int arrow);
    TSheetListView* MakeList(QFrame* panel);

    QScrollArea* m_clientArea;
    QButtonGroup* m_modeGroup;
    QtUserPrompts m_prompts;
    bool m_setUpDone = false;
    WorkStop m_workStop;
    bool m_closeWhenDone = false;
};

// The one main window of the program.
extern TfmMain* fmMain;

} // namespace gq::app
