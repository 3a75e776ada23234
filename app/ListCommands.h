// The merge list commands: copying source entries into the merge list, removing merge entries and
// moving the merge list's focused entry. They work on the list models alone, without widgets, so
// tests need no window; the main window's handlers call these.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "app/SheetList.h"

namespace gq::app {

// Appends a copy of the entry of `sourceRow` (if any) to the end of the merge list, in a batch.
void CopyEntryToMergeList(const SheetList& source, SheetRow sourceRow, SheetList& mergeList);

// ">>": every source entry, in source order, to the end of the merge list (one outer batch).
void CopyAllToMergeList(const SheetList& source, SheetList& mergeList);
// ">": every selected source entry, in source order (not selection order), to the end.
void CopySelectedToMergeList(const SheetList& source, SheetList& mergeList);
// "<": the selected merge entries are removed.
void RemoveSelectedFromMergeList(SheetList& mergeList);
// "<<": the merge list is emptied.
void ClearMergeList(SheetList& mergeList);

// The moves act on the merge list's focused row only and do nothing without one.
void MoveFocusedToTop(SheetList& mergeList);
void MoveFocusedUp(SheetList& mergeList);
// On the last row there is no next row, and a move after no row goes to the top.
void MoveFocusedDown(SheetList& mergeList);
void MoveFocusedToBottom(SheetList& mergeList);

// Double-click in the source list: copies the source list's focused entry, if there is one.
void CopyFocusedToMergeList(const SheetList& source, SheetList& mergeList);
// Double-click in the merge list: removes every selected merge entry, as "<" does.
void RemoveSelectedOnDoubleClick(SheetList& mergeList);

} // namespace gq::app
