// Connects the main window's drop and merge handlers to the drop intake and the merge engine.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/SpreadsheetServer.h"

#include <QtGlobal>

namespace gq::app {

class TfmMain;

// What Escape asks while a drop or a merge runs.
inline constexpr const char* kStopDropQuestion = QT_TRANSLATE_NOOP(
    "Messages", "Stop adding the dropped files and folders? The sheets listed so far stay in the list.");
inline constexpr const char* kStopMergeQuestion = QT_TRANSLATE_NOOP(
    "Messages", "Stop the merge? Nothing will be saved, and an existing file of that name stays as it was.");
// What closing the window asks meanwhile: the answer Yes closes it too.
inline constexpr const char* kCloseDropQuestion = QT_TRANSLATE_NOOP(
    "Messages", "Stop adding the dropped files and folders and close the window? The lists are not kept.");
inline constexpr const char* kCloseMergeQuestion = QT_TRANSLATE_NOOP(
    "Messages", "Stop the merge and close the window? Nothing will be saved, and an existing file of that "
                "name stays as it was.");

// From now on every drop on `window` is processed by the drop intake and "Click here to merge"
// runs the merge, both with servers from `servers`, both off the GUI thread, and both can be
// stopped by the user before their next workbook.
void ConnectWork(TfmMain& window, automation::ServerFactory& servers);

} // namespace gq::app
