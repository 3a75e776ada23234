// The list model behind the source and merge lists: ordered rows of sheet entries with stable row
// ids, row selection and one focused row kept by a Qt selection model, and nested repaint batches.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "catalogue/SheetEntry.h"

#include <QAbstractTableModel>
#include <QItemSelectionModel>
#include <QString>

#include <cstddef>
#include <functional>
#include <unordered_map>
#include <vector>

namespace gq::app {

using catalogue::SheetEntry;

// Identifies one row of one SheetList. It survives moves of the row and becomes stale once the row
// is removed (every operation then treats it as no row). A default-constructed SheetRow is "none".
struct SheetRow {
    quint64 Id = 0;

    explicit operator bool() const { return Id != 0; }
    friend bool operator==(SheetRow, SheetRow) = default;
};

// One source of truth for a list control: the rows live in this model, and the selection and the
// focused row are the row selection and the current index of SelectionModel(), which the view
// shares. Column 0 is "Sheet Name", column 1 "File Name"; the cell text comes from the text
// provider, asked with the logical column, so a column moved on screen keeps its content.
class SheetList : public QAbstractTableModel {
    Q_OBJECT

public:
    // The logical columns.
    static constexpr int kSheetNameColumn = 0;
    static constexpr int kFileNameColumn = 1;

    // Gives the text of one cell; the list passes itself, the row and the logical column.
    using TextProvider = std::function<QString(const SheetList& list, SheetRow row, int column)>;

    explicit SheetList(QObject* parent = nullptr);
    ~SheetList() override;

    // Adds a new last row holding a copy of `entry`; the row is neither selected nor focused.
    SheetRow AppendEntry(const SheetEntry& entry);

    SheetRow FirstRow() const;
    SheetRow NextRow(SheetRow row) const;
    SheetRow LastRow() const;
    SheetRow PreviousRow(SheetRow row) const;

    // The entry a row holds; an empty entry for no row or a removed one.
    const SheetEntry& EntryOf(SheetRow row) const;
    bool IsRowSelected(SheetRow row) const;
    SheetRow FocusedRow() const;

    // Moves `row` to just before / just after `target`. With no target the row becomes the first
    // row, for both operations. A row moved onto itself, and a removed row or target, change nothing.
    void MoveRowBefore(SheetRow row, SheetRow target);
    void MoveRowAfter(SheetRow row, SheetRow target);

    // Removes every selected row; when the focused row goes with them no row is focused after.
    void DeleteSelectedRows();
    // Removes every row; afterwards nothing is selected or focused.
    void ClearRows();
    std::size_t EntryCount() const;

    // Nested repaint brackets. BatchOpened is emitted when the depth goes from 0 to 1, BatchClosed
    // when EndBatch brings it back to 0: the view holds its painting in between and repaints once.
    void BeginBatch();
    void EndBatch();

    // Glue for the view and for code that drives the selection like a user would.
    QItemSelectionModel* SelectionModel() const { return m_selection; }
    QModelIndex IndexOf(SheetRow row, int column = 0) const;
    SheetRow RowAt(const QModelIndex& index) const;
    void SetTextProvider(TextProvider provider);

    // QAbstractItemModel
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    void BatchOpened();
    void BatchClosed();

private:
    struct Row {
        quint64 Id;
        SheetEntry Entry;
    };

    // Position of a row in m_rows, or -1 when the row is none or no longer exists.
    int PositionOf(SheetRow row) const;
    // Moves `row` to just before `target` (past 0) or just after it (past 1); see MoveRowBefore.
    void MoveRowNear(SheetRow row, SheetRow target, int past);
    // Moves the row at `from` so that it lands before the row that is at `beforeOld` now.
    void MovePositionBefore(int from, int beforeOld);
    // Records in m_positions where the rows from `first` to `last` stand now.
    void RecordPositions(int first, int last);
    // Removes the rows at the ascending positions `doomed` with one model reset.
    void RemovePositionsByReset(const std::vector<int>& doomed);
    // Whether the row at `position` is selected, from a table rebuilt after each change of the
    // selection or the rows: asking the selection model costs time in the number of its ranges,
    // which made walks over a list with many separate selected rows quadratic.
    bool IsSelectedAtPosition(int position) const;

    std::vector<Row> m_rows;
    std::unordered_map<quint64, int> m_positions;
    quint64 m_nextId = 1;
    int m_batchDepth = 0;
    TextProvider m_textProvider;
    QItemSelectionModel* m_selection;
    mutable std::vector<char> m_selectedByPosition;
    mutable bool m_selectedByPositionValid = false;
};

// Holds a batch open for its lifetime, so that it is closed on every path, failures included.
class SheetListBatch {
public:
    explicit SheetListBatch(SheetList& list) : m_list(list) { m_list.BeginBatch(); }
    ~SheetListBatch() { m_list.EndBatch(); }
    SheetListBatch(const SheetListBatch&) = delete;
    SheetListBatch& operator=(const SheetListBatch&) = delete;

private:
    SheetList& m_list;
};

} // namespace gq::app
