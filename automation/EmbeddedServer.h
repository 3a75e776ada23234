// The embedded spreadsheet server: the SpreadsheetServer operations carried out in process over the
// engine's workbook model, readers and writers.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/SpillAndReadAhead.h"
#include "automation/SpreadsheetServer.h"
#include "engine/WorkbookFile.h"
#include "engine/model/Workbook.h"

#include <memory>
#include <mutex>

namespace gq::automation {

// How SaveAs puts the file at its path. ReplaceWhenComplete: the engine's safe save, which replaces
// an earlier file only once the new one is complete. Held: the complete file stays without a name
// in the factory's HeldSave, for a caller that names it itself once the whole merge has succeeded
// (the command line), so that a merge failing after its save leaves nothing behind.
enum class SaveTarget { ReplaceWhenComplete, Held };

// The file of the last SaveAs of the servers of a factory made with SaveTarget::Held.
class HeldSave {
public:
    void Put(std::unique_ptr<engine::UnnamedWorkbookFile> file);
    // The file, or nullptr when no save has been held since the last Take.
    std::unique_ptr<engine::UnnamedWorkbookFile> Take();

private:
    std::mutex m_mutex;
    std::unique_ptr<engine::UnnamedWorkbookFile> m_file;
};

// Every CreateServer gives a fresh, independent server instance; it never fails. An instance is used
// from one thread at a time. Its decisions: a new workbook has one sheet, "Sheet1", in the 1900 date
// system; added sheets are named as NextSheetName says and renames are checked as SheetNameProblem
// says (SheetNames.h); a paste carries what PasteBlock says (Paste.h); SaveAs writes the format
// engine::OutputFormatFor gives for the path, and to ".xls" first checks that every sheet fits that
// grid; a workbook opened again, unchanged on disk, comes from the small cache of WorkbookCache.h.
// Every failure reaches the caller as a ServerError with a clean text. When it sets rows aside,
// stages them and reads ahead is decided in SpillAndReadAhead.h.

class EmbeddedServerFactory : public ServerFactory {
public:
    explicit EmbeddedServerFactory(SaveTarget saveTarget = SaveTarget::ReplaceWhenComplete,
                                   ReadAheadMode readAhead = ReadAheadMode::Auto)
        : m_readAhead(readAhead), m_held(saveTarget == SaveTarget::Held ? std::make_shared<HeldSave>() : nullptr)
    {
    }
    Ref<SpreadsheetServer> CreateServer() override;
    // Where SaveTarget::Held keeps the saved file; nullptr for the other target.
    HeldSave* Held() const { return m_held.get(); }

private:
    ReadAheadMode m_readAhead;
    std::shared_ptr<HeldSave> m_held;
};

// The model behind a workbook of the embedded server, or nullptr for a workbook of another server
// or one that has been closed. For tests and tools that check what the server built.
engine::Workbook* ModelOf(Workbook& workbook);

// Hands a workbook model to an embedded server as if it had been opened from a file: it becomes
// the active workbook. For tests that build their workbooks in memory.
Ref<Workbook> AdoptWorkbook(SpreadsheetServer& server, std::unique_ptr<engine::Workbook> model);

} // namespace gq::automation
