// The merge list commands.
// SPDX-License-Identifier: Apache-2.0
#include "app/ListCommands.h"

namespace gq::app {

void CopyEntryToMergeList(const SheetList& source, SheetRow sourceRow, SheetList& mergeList)
{
    if (!sourceRow) {
        return;
    }
    SheetListBatch batch(mergeList);
    mergeList.AppendEntry(source.EntryOf(sourceRow));
}

void CopyAllToMergeList(const SheetList& source, SheetList& mergeList)
{
    SheetListBatch batch(mergeList);
    for (SheetRow row = source.FirstRow(); row; row = source.NextRow(row)) {
        CopyEntryToMergeList(source, row, mergeList);
    }
}

void CopySelectedToMergeList(const SheetList& source, SheetList& mergeList)
{
    SheetListBatch batch(mergeList);
    for (SheetRow row = source.FirstRow(); row; row = source.NextRow(row)) {
        if (source.IsRowSelected(row)) {
            CopyEntryToMergeList(source, row, mergeList);
        }
    }
}

void RemoveSelectedFromMergeList(SheetList& mergeList)
{
    mergeList.DeleteSelectedRows();
}

void ClearMergeList(SheetList& mergeList)
{
    mergeList.ClearRows();
}

void MoveFocusedToTop(SheetList& mergeList)
{
    if (const SheetRow focused = mergeList.FocusedRow()) {
        mergeList.MoveRowBefore(focused, mergeList.FirstRow());
    }
}

void MoveFocusedUp(SheetList& mergeList)
{
    if (const SheetRow focused = mergeList.FocusedRow()) {
        mergeList.MoveRowBefore(focused, mergeList.PreviousRow(focused));
    }
}

void MoveFocusedDown(SheetList& mergeList)
{
    if (const SheetRow focused = mergeList.FocusedRow()) {
        mergeList.MoveRowAfter(focused, mergeList.NextRow(focused));
    }
}

void MoveFocusedToBottom(SheetList& mergeList)
{
    if (const SheetRow focused = mergeList.FocusedRow()) {
        mergeList.MoveRowAfter(focused, mergeList.LastRow());
    }
}

void CopyFocusedToMergeList(const SheetList& source, SheetList& mergeList)
{
    CopyEntryToMergeList(source, source.FocusedRow(), mergeList);
}

void RemoveSelectedOnDoubleClick(SheetList& mergeList)
{
    mergeList.DeleteSelectedRows();
}

} // namespace gq::app
