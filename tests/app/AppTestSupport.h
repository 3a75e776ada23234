// Helpers of the application tests: acting on a modal dialog from inside its exec(), simulated
// drops through the window system path, mouse clicks, and small workbooks to drop.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/WorkbookFile.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>

#include <functional>
#include <string>
#include <vector>

namespace gq::app::test {

// Runs `act` on the first modal widget of type W once it is up (polled from the event loop). When
// none shows up in time, every modal widget is closed so that the test fails instead of hanging.
template <class W>
void WhenModal(std::function<void(W*)> act, int attemptsLeft = 200)
{
    QTimer::singleShot(10, [act, attemptsLeft] {
        if (auto* widget = qobject_cast<W*>(QApplication::activeModalWidget())) {
            act(widget);
            return;
        }
        if (attemptsLeft > 0) {
            WhenModal<W>(act, attemptsLeft - 1);
            return;
        }
        ADD_FAILURE() << "no modal dialog of the expected kind appeared";
        while (QWidget* modal = QApplication::activeModalWidget()) {
            modal->close();
            QApplication::processEvents();
        }
    });
}

// Picks a file type in a file dialog's type box as the user does: the box is set and then sends
// what it sends for a pick by mouse or keyboard.
inline void ChooseFileType(QFileDialog* dialog, const QString& nameFilter)
{
    auto* box = dialog->findChild<QComboBox*>("fileTypeCombo");
    ASSERT_NE(box, nullptr) << "the dialog has no file type box";
    const int index = box->findText(nameFilter);
    ASSERT_GE(index, 0) << nameFilter.toStdString();
    box->setCurrentIndex(index);
    emit box->activated(index);
    emit box->textActivated(nameFilter);
}

struct DropOutcome {
    bool moveAccepted = false;
};

// Sends the enter, move and drop events of a drag of `urls` to the top-level window of `over`,
// at `local` in `over`'s coordinates: the window picks the target widget as for a real drop.
inline DropOutcome SimulateDrop(QWidget* over, QPoint local, const QList<QUrl>& urls)
{
    QWidget* window = over->window();
    QWindow* handle = window->windowHandle();
    const QPoint at = over->mapTo(window, local);
    QMimeData mime;
    mime.setUrls(urls);
    const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction | Qt::LinkAction;
    QDragEnterEvent enter(at, actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &enter);
    QDragMoveEvent move(at, actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &move);
    DropOutcome outcome;
    outcome.moveAccepted = move.isAccepted() && move.dropAction() != Qt::IgnoreAction;
    QDropEvent drop(QPointF(at), actions, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &drop);
    // The window handles a drop right after it completes, from the event loop.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    return outcome;
}

inline void SendMouse(QWidget* widget, QEvent::Type type, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(at), QPointF(widget->mapToGlobal(at)), Qt::LeftButton, held, modifiers);
    QApplication::sendEvent(widget, &event);
}

inline void Click(QWidget* widget, QPoint at, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    SendMouse(widget, QEvent::MouseButtonPress, at, modifiers);
    SendMouse(widget, QEvent::MouseButtonRelease, at, modifiers);
}

// Writes a workbook (the format its extension names) with one worksheet per name, each holding
// its own name in A1 and a number in A2.
inline void WriteBook(const std::string& path, const std::vector<std::string>& sheets)
{
    engine::Workbook book;
    for (const auto& name : sheets) {
        const size_t index = book.InsertSheet(book.SheetCount(), name);
        engine::Worksheet& sheet = book.Sheet(index);
        sheet.SetString(0, 0, book.Strings().Intern(name));
        sheet.SetNumber(1, 0, 42.5);
    }
    engine::SaveWorkbookFile(book, path);
}

inline void DoubleClick(QWidget* widget, QPoint at)
{
    Click(widget, at);
    SendMouse(widget, QEvent::MouseButtonDblClick, at);
    SendMouse(widget, QEvent::MouseButtonRelease, at);
}

} // namespace gq::app::test
