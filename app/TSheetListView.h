// The two-column list control of the main window: a flat QTreeView over a SheetList, with grid
// lines, a 17-pixel header, an optional fixed background picture and an optional drop refusal.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "app/SheetList.h"

#include <QPixmap>
#include <QTreeView>

namespace gq::app {

class TSheetListView : public QTreeView {
    Q_OBJECT

public:
    explicit TSheetListView(QWidget* parent = nullptr);

    // The list this control shows; its selection model is the control's selection model.
    SheetList& List() { return *m_list; }
    const SheetList& List() const { return *m_list; }

    // A picture painted at the top-left of the row area, under the rows, not scrolling.
    void SetBackgroundPicture(const QPixmap& picture);
    const QPixmap& BackgroundPicture() const { return m_picture; }

    // A control that refuses drops shows the no-drop pointer and ignores what is released over
    // it; one that does not take drops leaves them to the window behind it.
    void SetRefusesDrops(bool refuse);

    // The tooltip of a cell: a sheet name only where the cell shows it cut short, a path always
    // (its cell may show it shortened in the middle).
    QString ToolTipFor(const QModelIndex& index) const;

signals:
    // A double-click in the row area, on a row or on the empty space below the rows.
    void DoubleClicked();
    // Enter, Return or Space pressed in the list (only when something listens).
    void AddKeyPressed();
    // Delete pressed in the list (only when something listens).
    void RemoveKeyPressed();

protected:
    void drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    SheetList* m_list;
    QPixmap m_picture;
    bool m_refusesDrops = false;
};

} // namespace gq::app
