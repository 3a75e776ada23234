// Connects the main window's drop and merge handlers to the drop intake and the merge engine.
// SPDX-License-Identifier: Apache-2.0
#include "app/DropAndMergeConnections.h"

#include "app/BackgroundWork.h"
#include "app/TfmMain.h"
#include "app/Translations.h"
#include "catalogue/DropIntake.h"
#include "merge/MergeEngine.h"

#include <QRadioButton>

namespace gq::app {

void ConnectWork(TfmMain& window, automation::ServerFactory& servers)
{
    window.onDrop = [&window, &servers](const std::vector<std::string>& paths) {
        GuiThreadPrompts prompts(window.Prompts(), &window.StopControl(), true);
        GuiThreadSink sink(window.vtSrc->List());
        catalogue::DropContext context{sink, servers, prompts};
        window.RunLongWork(Translated(kStopDropQuestion), Translated(kCloseDropQuestion),
                           [&] { catalogue::ProcessDrop(paths, context); });
    };

    window.onMerge = [&window, &servers] {
        // The merge reads the merge list as it stands when the button is pressed; nothing can
        // change it meanwhile, since the window takes no input until the merge is over.
        const SheetList& list = window.vtDsc->List();
        std::vector<catalogue::SheetEntry> entries;
        entries.reserve(list.EntryCount());
        for (SheetRow row = list.FirstRow(); row; row = list.NextRow(row)) {
            entries.push_back(list.EntryOf(row));
        }
        GuiThreadPrompts prompts(window.Prompts(), &window.StopControl(), true);
        auto runner = [&window](const std::function<merge::MergeReport()>& merge) {
            merge::MergeReport report;
            window.RunLongWork(Translated(kStopMergeQuestion), Translated(kCloseMergeQuestion),
                               [&] { report = merge(); });
            return report;
        };
        merge::MergeCommand(entries, window.rbMulty->isChecked(), servers, prompts, runner);
    };
}

} // namespace gq::app
