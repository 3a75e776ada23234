// Connects the main window's drop and merge handlers to the drop intake and the merge engine.
#pragma once

#include "automation/SpreadsheetServer.h"

namespace gq::app {

class TfmMain;

// From now on every drop on `window` is processed by the drop intake and "Click here to merge"
// runs the merge, both with servers from `servers`, both off the GUI thread.
void ConnectWork(TfmMain& window, automation::ServerFactory& servers);

} // namespace gq::app
