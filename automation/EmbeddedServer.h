// The embedded spreadsheet server: the SpreadsheetServer operations carried out in process over the
// engine's workbook model, readers and writers.
#pragma once

#include "automation/SpreadsheetServer.h"
#include "engine/model/Workbook.h"

#include <memory>

namespace gq::automation {

// Every CreateServer gives a fresh, independent server instance; it never fails.
class EmbeddedServerFactory : public ServerFactory {
public:
    Ref<SpreadsheetServer> CreateServer() override;
};

// The model behind a workbook of the embedded server, or nullptr for a workbook of another server
// or one that has been closed. For tests and tools that check what the server built.
engine::Workbook* ModelOf(Workbook& workbook);

// Hands a workbook model to an embedded server as if it had been opened from a file: it becomes
// the active workbook. For tests that build their workbooks in memory.
Ref<Workbook> AdoptWorkbook(SpreadsheetServer& server, std::unique_ptr<engine::Workbook> model);

} // namespace gq::automation
