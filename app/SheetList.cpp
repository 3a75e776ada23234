// The list model behind the source and merge lists.
// SPDX-License-Identifier: Apache-2.0
#include "app/SheetList.h"

#include <algorithm>

namespace gq::app {

namespace {

const SheetEntry kNoEntry{};

// Beyond this many separate runs of selected rows, the rows are removed with one model reset.
constexpr std::size_t kMaxSeparateRemovals = 16;

} // namespace

SheetList::SheetList(QObject* parent) : QAbstractTableModel(parent), m_selection(new QItemSelectionModel(this, this))
{
    // Connected after the selection model's own connections, so it has caught up when these run.
    auto stale = [this] { m_selectedByPositionValid = false; };
    connect(m_selection, &QItemSelectionModel::selectionChanged, this, stale);
    connect(m_selection, &QItemSelectionModel::modelChanged, this, stale);
    connect(this, &QAbstractItemModel::rowsInserted, this, stale);
    connect(this, &QAbstractItemModel::rowsRemoved, this, stale);
    connect(this, &QAbstractItemModel::rowsMoved, this, stale);
    connect(this, &QAbstractItemModel::modelReset, this, stale);
    connect(this, &QAbstractItemModel::layoutChanged, this, stale);
}

SheetList::~SheetList()
{
    // The selection model is a child that ~QObject destroys after this class's part is gone; the
    // signals it sends then must not reach the handlers above.
    disconnect(m_selection, nullptr, this, nullptr);
}

SheetRow SheetList::AppendEntry(const SheetEntry& entry)
{
    const int position = static_cast<int>(m_rows.size());
    const SheetRow row{m_nextId++};
    beginInsertRows(QModelIndex(), position, position);
    m_rows.push_back(Row{row.Id, entry});
    m_positions.emplace(row.Id, position);
    endInsertRows();
    return row;
}

SheetRow SheetList::FirstRow() const
{
    return m_rows.empty() ? SheetRow{} : SheetRow{m_rows.front().Id};
}

SheetRow SheetList::NextRow(SheetRow row) const
{
    const int position = PositionOf(row);
    if (position < 0 || position + 1 >= static_cast<int>(m_rows.size())) {
        return {};
    }
    return SheetRow{m_rows[static_cast<std::size_t>(position) + 1].Id};
}

SheetRow SheetList::LastRow() const
{
    return m_rows.empty() ? SheetRow{} : SheetRow{m_rows.back().Id};
}

SheetRow SheetList::PreviousRow(SheetRow row) const
{
    const int position = PositionOf(row);
    if (position <= 0) {
        return {};
    }
    return SheetRow{m_rows[static_cast<std::size_t>(position) - 1].Id};
}

const SheetEntry& SheetList::EntryOf(SheetRow row) const
{
    const int position = PositionOf(row);
    return position < 0 ? kNoEntry : m_rows[static_cast<std::size_t>(position)].Entry;
}

bool SheetList::IsRowSelected(SheetRow row) const
{
    const int position = PositionOf(row);
    // Any selected cell selects its row: the views select whole rows, and a row whose cell alone
    // was selected by code is still a row the user sees highlighted.
    return position >= 0 && IsSelectedAtPosition(position);
}

bool SheetList::IsSelectedAtPosition(int position) const
{
    if (!m_selectedByPositionValid) {
        m_selectedByPosition.assign(m_rows.size(), 0);
        const int rows = static_cast<int>(m_rows.size());
        for (const QItemSelectionRange& range : m_selection->selection()) {
            if (!range.isValid() || range.parent().isValid()) {
                continue;
            }
            for (int selected = std::max(range.top(), 0); selected <= std::min(range.bottom(), rows - 1); ++selected) {
                m_selectedByPosition[static_cast<std::size_t>(selected)] = 1;
            }
        }
        m_selectedByPositionValid = true;
    }
    return position >= 0 && position < static_cast<int>(m_selectedByPosition.size()) &&
           m_selectedByPosition[static_cast<std::size_t>(position)] != 0;
}

SheetRow SheetList::FocusedRow() const
{
    return RowAt(m_selection->currentIndex());
}

void SheetList::MoveRowBefore(SheetRow row, SheetRow target)
{
    MoveRowNear(row, target, 0);
}

void SheetList::MoveRowAfter(SheetRow row, SheetRow target)
{
    MoveRowNear(row, target, 1);
}

void SheetList::MoveRowNear(SheetRow row, SheetRow target, int past)
{
    const int from = PositionOf(row);
    if (from < 0 || row == target) {
        return;
    }
    // With no target the row goes to the top, after as well as before, not to the bottom: the
    // commands built on this (Down on the last row) rely on it.
    if (!target) {
        MovePositionBefore(from, 0);
        return;
    }
    const int to = PositionOf(target);
    if (to >= 0) {
        MovePositionBefore(from, to + past);
    }
}

void SheetList::MovePositionBefore(int from, int beforeOld)
{
    // Already in place: the row sits right before the destination, or is the destination.
    if (beforeOld == from || beforeOld == from + 1) {
        return;
    }
    // beginMoveRows updates every persistent index, so the selection and the current index of
    // the selection model travel with the row.
    if (!beginMoveRows(QModelIndex(), from, from, QModelIndex(), beforeOld)) {
        return;
    }
    auto first = m_rows.begin();
    if (beforeOld < from) {
        std::rotate(first + beforeOld, first + from, first + from + 1);
        RecordPositions(beforeOld, from);
    } else {
        std::rotate(first + from, first + from + 1, first + beforeOld);
        RecordPositions(from, beforeOld - 1);
    }
    endMoveRows();
}

void SheetList::DeleteSelectedRows()
{
    std::vector<int> doomed;
    for (int position = 0; position < static_cast<int>(m_rows.size()); ++position) {
        if (IsSelectedAtPosition(position)) {
            doomed.push_back(position);
        }
    }
    if (doomed.empty()) {
        return;
    }
    SheetListBatch batch(*this);
    // Left alone, the selection model would hand the focus to a neighbour of a removed focused
    // row; the list has no focused row after its focused row is removed.
    if (IsRowSelected(FocusedRow())) {
        m_selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    }
    // The selected rows are exactly the rows about to go, so no row is selected afterwards.
    // Clearing the selection first spares the selection model from splitting its ranges at every
    // removal, which costs quadratic time when many separate rows are selected.
    m_selection->clearSelection();
    std::size_t runs = 1;
    for (std::size_t i = 1; i < doomed.size(); ++i) {
        runs += doomed[i - 1] + 1 == doomed[i] ? 0 : 1;
    }
    if (runs > kMaxSeparateRemovals) {
        RemovePositionsByReset(doomed);
        return;
    }
    // Remove runs of neighbouring rows from the bottom up, so that positions below stay right.
    std::size_t end = doomed.size();
    while (end > 0) {
        std::size_t begin = end - 1;
        while (begin > 0 && doomed[begin - 1] + 1 == doomed[begin]) {
            --begin;
        }
        const int first = doomed[begin];
        const int last = doomed[end - 1];
        beginRemoveRows(QModelIndex(), first, last);
        for (int position = first; position <= last; ++position) {
            m_positions.erase(m_rows[static_cast<std::size_t>(position)].Id);
        }
        m_rows.erase(m_rows.begin() + first, m_rows.begin() + last + 1);
        endRemoveRows();
        end = begin;
    }
    // Positions of the rows below the first removed one changed; nothing above it did.
    RecordPositions(doomed.front(), static_cast<int>(m_rows.size()) - 1);
}

void SheetList::RemovePositionsByReset(const std::vector<int>& doomed)
{
    // One reset instead of thousands of removals: a view lays itself out again at every removal,
    // which makes many separate removals quadratic. No remaining row is selected (the selected
    // rows are the ones that go) and the focus, if it survives, is put back.
    const SheetRow focused = FocusedRow();
    beginResetModel();
    std::vector<Row> kept;
    kept.reserve(m_rows.size() - doomed.size());
    std::size_t next = 0;
    for (int position = 0; position < static_cast<int>(m_rows.size()); ++position) {
        if (next < doomed.size() && doomed[next] == position) {
            ++next;
        } else {
            kept.push_back(std::move(m_rows[static_cast<std::size_t>(position)]));
        }
    }
    m_rows = std::move(kept);
    m_positions.clear();
    RecordPositions(0, static_cast<int>(m_rows.size()) - 1);
    endResetModel();
    if (focused) {
        m_selection->setCurrentIndex(IndexOf(focused), QItemSelectionModel::NoUpdate);
    }
}

void SheetList::ClearRows()
{
    if (m_rows.empty()) {
        return;
    }
    SheetListBatch batch(*this);
    // A model reset also resets the selection model: no selection, no current index.
    beginResetModel();
    m_rows.clear();
    m_positions.clear();
    endResetModel();
    m_selection->clear();
}

std::size_t SheetList::EntryCount() const
{
    return m_rows.size();
}

void SheetList::BeginBatch()
{
    if (++m_batchDepth == 1) {
        emit BatchOpened();
    }
}

void SheetList::EndBatch()
{
    if (m_batchDepth == 0) {
        return;
    }
    if (--m_batchDepth == 0) {
        emit BatchClosed();
    }
}

QModelIndex SheetList::IndexOf(SheetRow row, int column) const
{
    const int position = PositionOf(row);
    return position < 0 ? QModelIndex() : index(position, column);
}

SheetRow SheetList::RowAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this || index.row() >= static_cast<int>(m_rows.size())) {
        return {};
    }
    return SheetRow{m_rows[static_cast<std::size_t>(index.row())].Id};
}

void SheetList::SetTextProvider(TextProvider provider)
{
    m_textProvider = std::move(provider);
    if (!m_rows.empty()) {
        emit dataChanged(index(0, 0), index(static_cast<int>(m_rows.size()) - 1, 1), {Qt::DisplayRole});
    }
}

int SheetList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int SheetList::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant SheetList::data(const QModelIndex& index, int role) const
{
    // The file name column shows the whole path as its tooltip: the cell may show it shortened.
    const bool text = role == Qt::DisplayRole || (role == Qt::ToolTipRole && index.column() == kFileNameColumn);
    if (!text || !m_textProvider) {
        return {};
    }
    const SheetRow row = RowAt(index);
    if (!row) {
        return {};
    }
    return m_textProvider(*this, row, index.column());
}

QVariant SheetList::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    switch (section) {
    case 0:
        return tr("Sheet Name");
    case 1:
        return tr("File Name");
    default:
        return {};
    }
}

Qt::ItemFlags SheetList::flags(const QModelIndex& index) const
{
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    // Selectable rows, nothing editable, no children.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

int SheetList::PositionOf(SheetRow row) const
{
    if (!row) {
        return -1;
    }
    auto it = m_positions.find(row.Id);
    return it == m_positions.end() ? -1 : it->second;
}

void SheetList::RecordPositions(int first, int last)
{
    for (int position = first; position <= last; ++position) {
        m_positions[m_rows[static_cast<std::size_t>(position)].Id] = position;
    }
}

} // namespace gq::app
