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

void AddAll(const SheetList& source, SheetList& mergeList)
{
    SheetListBatch batch(mergeList);
    for (SheetRow row = source.FirstRow(); row; row = source.NextRow(row)) {
        CopyEntryToMergeList(source, row, mergeList);
    }
}

void AddSelected(const SheetList& source, SheetList& mergeList)
{
    SheetListBatch batch(mergeList);
    for (SheetRow row = source.FirstRow(); row; row = source.NextRow(row)) {
        if (source.IsRowSelected(row)) {
            CopyEntryToMergeList(source, row, mergeList);
        }
    }
}

void DeleteSelected(SheetList& mergeList)
{
    mergeList.DeleteSelectedRows();
}

void DeleteAll(SheetList& mergeList)
{
    mergeList.ClearRows();
}

void Top(SheetList& mergeList)
{
    if (const SheetRow focused = mergeList.FocusedRow()) {
        mergeList.MoveRowBefore(focused, mergeList.FirstRow());
    }
}

void Up(SheetList& mergeList)
{
    if (const SheetRow focused = mergeList.FocusedRow()) {
        mergeList.MoveRowBefore(focused, mergeList.PreviousRow(focused));
    }
}

void Down(SheetList& mergeList)
{
    if (const SheetRow focused = mergeList.FocusedRow()) {
        mergeList.MoveRowAfter(focused, mergeList.NextRow(focused));
    }
}

void Bottom(SheetList& mergeList)
{
    if (const SheetRow focused = mergeList.FocusedRow()) {
        mergeList.MoveRowAfter(focused, mergeList.LastRow());
    }
}

void SourceDoubleClick(const SheetList& source, SheetList& mergeList)
{
    CopyEntryToMergeList(source, source.FocusedRow(), mergeList);
}

void MergeDoubleClick(SheetList& mergeList)
{
    mergeList.DeleteSelectedRows();
}

} // namespace gq::app
