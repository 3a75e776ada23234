// The two-column list control of the main window.
// SPDX-License-Identifier: Apache-2.0
#include "app/TSheetListView.h"

#include <QDragMoveEvent>
#include <QFocusEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace gq::app {

namespace {

constexpr int kHeaderHeight = 17;
constexpr int kSheetNameWidth = 120;
constexpr int kFileNameWidth = 160;

// QTreeView sizes its header from the header's size hint, so the fixed height goes there.
class FixedHeightHeader : public QHeaderView {
public:
    explicit FixedHeightHeader(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {}

    QSize sizeHint() const override
    {
        QSize hint = QHeaderView::sizeHint();
        hint.setHeight(kHeaderHeight);
        return hint;
    }
};

// Draws each cell as usual, then its right and bottom grid lines. A path too long for its cell
// loses its middle, so that the file name at its end, which tells rows apart, stays in view.
class GridDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = index.column() == SheetList::kFileNameColumn ? Qt::ElideMiddle : Qt::ElideRight;
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Mid));
        const QRect cell = option.rect;
        painter->drawLine(cell.topRight(), cell.bottomRight());
        painter->drawLine(cell.bottomLeft(), cell.bottomRight());
        painter->restore();
    }
};

} // namespace

TSheetListView::TSheetListView(QWidget* parent) : QTreeView(parent), m_list(new SheetList(this))
{
    setHeader(new FixedHeightHeader(this));
    setModel(m_list);
    // The list's own selection model is the one source of selection and focus.
    QItemSelectionModel* created = selectionModel();
    setSelectionModel(m_list->SelectionModel());
    if (created != m_list->SelectionModel()) {
        delete created;
    }

    setRootIsDecorated(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setDragDropMode(QAbstractItemView::NoDragDrop);
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
    setFrameShape(QFrame::NoFrame);
    setItemDelegate(new GridDelegate(this));

    QHeaderView* head = header();
    head->setStretchLastSection(false);
    head->setSectionsMovable(true);
    head->setFirstSectionMovable(true);
    head->setSectionsClickable(false);
    head->setSortIndicatorShown(false);
    head->setSectionResizeMode(QHeaderView::Interactive);
    head->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    head->setMinimumSectionSize(10);
    head->resizeSection(0, kSheetNameWidth);
    head->resizeSection(1, kFileNameWidth);
    // QTreeView fits a column to its content when the header divider is double-clicked.

    // Painting is held while a batch is open; closing the outermost batch updates the scroll
    // range and repaints once.
    connect(m_list, &SheetList::BatchOpened, this, [this] { setUpdatesEnabled(false); });
    connect(m_list, &SheetList::BatchClosed, this, [this] {
        setUpdatesEnabled(true);
        updateGeometries();
        viewport()->update();
    });
}

void TSheetListView::SetBackgroundPicture(const QPixmap& picture)
{
    m_picture = picture;
    viewport()->update();
}

void TSheetListView::SetRefusesDrops(bool refuse)
{
    if (refuse == m_refusesDrops) {
        return;
    }
    m_refusesDrops = refuse;
    // Taking the drag (and then refusing it) keeps it from passing on to the window behind.
    setAcceptDrops(refuse);
    viewport()->setAcceptDrops(refuse);
    if (refuse) {
        installEventFilter(this);
        viewport()->installEventFilter(this);
    } else {
        removeEventFilter(this);
        viewport()->removeEventFilter(this);
    }
}

void TSheetListView::drawRow(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // Rows are opaque across the whole width: the background picture shows only where there are
    // no rows, never through their text.
    painter->fillRect(option.rect, palette().brush(QPalette::Base));
    QTreeView::drawRow(painter, option, index);
}

void TSheetListView::focusInEvent(QFocusEvent* event)
{
    // Qt makes the first row current when a view without a current row gains the focus from the
    // keyboard or from the window becoming active again; the list commands would then act on a
    // row the user never chose. Only a click or moving the focus within the list chooses a row.
    const bool hadFocusedRow = currentIndex().isValid();
    QTreeView::focusInEvent(event);
    if (!hadFocusedRow && currentIndex().isValid() && event->reason() != Qt::MouseFocusReason) {
        selectionModel()->clearCurrentIndex();
    }
    viewport()->update();
}

void TSheetListView::focusOutEvent(QFocusEvent* event)
{
    QTreeView::focusOutEvent(event);
    viewport()->update();
}

void TSheetListView::keyPressEvent(QKeyEvent* event)
{
    // The keypad's Enter carries the keypad modifier; any other modifier leaves the key to the view
    // (Ctrl+Space toggles a row's selection, say).
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const int key = event->key();
    if (plain && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) &&
        isSignalConnected(QMetaMethod::fromSignal(&TSheetListView::AddKeyPressed))) {
        event->accept();
        emit AddKeyPressed();
        return;
    }
    if (plain && key == Qt::Key_Delete &&
        isSignalConnected(QMetaMethod::fromSignal(&TSheetListView::RemoveKeyPressed))) {
        event->accept();
        emit RemoveKeyPressed();
        return;
    }
    QTreeView::keyPressEvent(event);
}

QString TSheetListView::ToolTipFor(const QModelIndex& index) const
{
    if (!index.isValid()) {
        return {};
    }
    const QString text = index.data(Qt::DisplayRole).toString();
    if (index.column() == SheetList::kFileNameColumn) {
        return text;
    }
    // The room the delegate leaves for the text: the cell less a text margin on either side.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int room = visualRect(index).width() - 2 * margin;
    return fontMetrics().horizontalAdvance(text) > room ? text : QString();
}

bool TSheetListView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QModelIndex index = indexAt(help->pos());
        const QString tip = ToolTipFor(index);
        if (tip.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(help->globalPos(), tip, viewport(), visualRect(index));
        }
        return true;
    }
    return QTreeView::viewportEvent(event);
}

void TSheetListView::paintEvent(QPaintEvent* event)
{
    if (!m_picture.isNull()) {
        QPainter painter(viewport());
        painter.drawPixmap(0, 0, m_picture);
    }
    QTreeView::paintEvent(event);
    // The focus mark: the list that takes the keys is framed in the highlight colour, so that a
    // keyboard user sees which one it is even when it has no focused row.
    if (hasFocus()) {
        QPainter painter(viewport());
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawRect(viewport()->rect().adjusted(1, 1, -1, -1));
    }
}

void TSheetListView::scrollContentsBy(int dx, int dy)
{
    QTreeView::scrollContentsBy(dx, dy);
    // Scrolling shifts the pixels on screen; the picture stays put, so everything is redrawn.
    if (!m_picture.isNull()) {
        viewport()->update();
    }
}

void TSheetListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton) {
        emit DoubleClicked();
    }
}

bool TSheetListView::eventFilter(QObject* watched, QEvent* event)
{
    if (m_refusesDrops && (watched == this || watched == viewport())) {
        switch (event->type()) {
        case QEvent::DragEnter:
            event->accept();
            return true;
        case QEvent::DragMove:
        case QEvent::Drop:
            static_cast<QDropEvent*>(event)->setDropAction(Qt::IgnoreAction);
            event->ignore();
            return true;
        default:
            break;
        }
    }
    return QTreeView::eventFilter(watched, event);
}

} // namespace gq::app
