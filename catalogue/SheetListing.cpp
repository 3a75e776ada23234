// Listing a workbook's worksheets through a fresh server instance.
// SPDX-License-Identifier: Apache-2.0
#include "catalogue/SheetListing.h"

#include <exception>

namespace gq::catalogue {

using automation::Ref;

void ListWorkbookSheets(automation::ServerFactory& servers, UserPrompts& prompts, const std::string& path,
                        std::vector<std::string>& names)
{
    Ref<automation::SpreadsheetServer> server;
    try {
        server = servers.CreateServer();
    } catch (const automation::ServerUnavailable&) {
        prompts.ShowMessage(kNoServerMessage);
        return;
    }

    HourglassGuard hourglass(prompts);
    bool opened = false;
    std::vector<std::string> found;
    std::exception_ptr failure;
    try {
        // The opened workbook becomes the active one; the server object answers for it below.
        server->OpenWorkbook(path).Release();
        opened = true;
        server->SetDisplayAlerts(false);
        server->SetScreenUpdating(false);
        server->SetVisible(false);
        const int32_t count = server->SheetCount();
        for (int32_t i = 1; i <= count; ++i) {
            Ref<automation::Sheet> sheet = server->SheetAt(i);
            found.push_back(sheet->Name());
        }
    } catch (...) {
        failure = std::current_exception();
    }

    // Clean-up: a failing step ends the clean-up and its failure wins over an earlier one; the
    // server reference is dropped in every case (by `server` going out of scope).
    hourglass.Restore();
    server->SetScreenUpdating(true);
    if (opened) {
        Ref<automation::Workbook> workbook = server->WorkbookAt(1);
        workbook->Close();
    }
    server.Release();

    if (failure) {
        std::rethrow_exception(failure);
    }
    names.insert(names.end(), found.begin(), found.end());
}

void AddWorkbookSheets(SheetSink& list, automation::ServerFactory& servers, UserPrompts& prompts,
                       const std::string& path)
{
    std::vector<std::string> names;
    SinkBatch batch(list);
    ListWorkbookSheets(servers, prompts, path, names);
    if (names.empty()) {
        return;
    }
    std::vector<SheetEntry> entries;
    entries.reserve(names.size());
    for (std::string& name : names) {
        entries.push_back(SheetEntry{std::move(name), path});
    }
    list.AppendEntries(entries);
}

} // namespace gq::catalogue
