// The embedded spreadsheet server: the server object, its factory and the held save.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"

#include "automation/EmbeddedState.h"
#include "automation/SpillAndReadAhead.h"
#include "engine/WorkbookFile.h"

#include <optional>

namespace gq::automation {

namespace {

using namespace embedded;

class ServerHandle : public SpreadsheetServer {
public:
    ServerHandle(std::shared_ptr<HeldSave> held, bool readAhead)
        : m_state(std::make_shared<ServerState>(std::move(held), readAhead))
    {
    }

    ~ServerHandle() override
    {
        // Nothing can ask for a workbook read ahead once the server object is gone.
        if (m_state->readAhead) {
            m_state->readAhead->Stop();
        }
    }

    void Release() noexcept override { delete this; }

    // Display settings mean nothing to a server without a window; they only have to be accepted.
    void SetDisplayAlerts(bool) override
    {
        Guarded([&] { m_state->CheckRunning(); });
    }
    void SetScreenUpdating(bool) override
    {
        Guarded([&] { m_state->CheckRunning(); });
    }
    void SetVisible(bool) override
    {
        Guarded([&] { m_state->CheckRunning(); });
    }

    Ref<Workbook> AddWorkbook() override
    {
        return Guarded([&] {
            m_state->CheckRunning();
            auto model = std::make_shared<engine::Workbook>();
            model->InsertSheet(0, "Sheet1");
            model->SetActiveSheet(0);
            return Adopt(std::make_shared<ServerBook>(std::move(model)));
        });
    }

    Ref<Workbook> OpenWorkbook(const std::string& path) override
    {
        return GuardedFile(path, [&] {
            m_state->CheckRunning();
            std::optional<FileKey> before = KeyOfFile(path);
            if (before) {
                if (std::shared_ptr<ServerBook> cached = m_state->cache.Find(*before)) {
                    // Taken out while open, so that two open copies of one file never share a model
                    // that one of them might change; Close puts it back.
                    m_state->cache.Forget(cached.get());
                    cached->model->SetActiveSheet(cached->initialActive);
                    return Adopt(std::move(cached));
                }
                // A workbook read ahead is taken only when it was read from this very version of
                // the file; otherwise it is read now, and fails, if it does, as it always did.
                if (m_state->readAhead) {
                    if (std::shared_ptr<ServerBook> ready = m_state->readAhead->Take(path, *before)) {
                        return Adopt(std::move(ready));
                    }
                }
            }
            std::shared_ptr<engine::Workbook> model = engine::OpenWorkbookFile(path);
            auto book = std::make_shared<ServerBook>(std::move(model));
            // Only a file that did not change while it was read may be served again later.
            std::optional<FileKey> after = KeyOfFile(path);
            if (before && after && *before == *after) {
                book->key = after;
            }
            return Adopt(std::move(book));
        });
    }

    void ReadAhead(const std::string& path, const std::vector<std::string>& sheetNames) override
    {
        if (!m_state->running || !m_state->readAhead) {
            return;
        }
        // A hint that cannot be acted on (the file cannot be examined, no thread can be started,
        // memory ran out) is dropped: the workbook is then read when it is opened.
        try {
            if (!WorthReadingAhead(KeyOfFile(path), m_state->cache)) {
                return;
            }
            m_state->readAhead->Start(path, sheetNames);
        } catch (...) {
        }
    }

    Ref<Workbook> WorkbookAt(int32_t index) override
    {
        return Guarded([&] {
            m_state->CheckRunning();
            if (index < 1 || static_cast<size_t>(index) > m_state->open.size()) {
                throw ServerError("There is no workbook number " + std::to_string(index) + ": " +
                                  std::to_string(m_state->open.size()) + " workbooks are open");
            }
            return NewWorkbookHandle(m_state, m_state->open[static_cast<size_t>(index - 1)]);
        });
    }

    void Quit() override
    {
        Guarded([&] {
            m_state->CheckRunning();
            // Ends the read-ahead thread before anything else: a stopped merge leaves no thread.
            if (m_state->readAhead) {
                m_state->readAhead->Stop();
            }
            for (auto& entry : m_state->open) {
                entry->book.reset();
            }
            m_state->open.clear();
            m_state->cache.Clear();
            m_state->clipboard.reset();
            m_state->running = false;
        });
    }

    int32_t SheetCount() override
    {
        return Guarded([&] { return static_cast<int32_t>(m_state->BookOf(*Active()).sheetIds.size()); });
    }

    Ref<Sheet> SheetAt(int32_t index) override
    {
        return Guarded([&] { return SheetAtIndex(m_state, Active(), index); });
    }

    Ref<Workbook> Adopt(std::shared_ptr<ServerBook> book)
    {
        m_state->CheckRunning();
        auto entry = std::make_shared<OpenEntry>();
        entry->book = std::move(book);
        m_state->open.push_back(entry);
        return NewWorkbookHandle(m_state, entry);
    }

private:
    const EntryPtr& Active() const
    {
        m_state->CheckRunning();
        if (m_state->open.empty()) {
            throw ServerError("No workbook is open");
        }
        return m_state->open.back();
    }

    StatePtr m_state;
};

} // namespace

void HeldSave::Put(std::unique_ptr<engine::UnnamedWorkbookFile> file)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_file = std::move(file);
}

std::unique_ptr<engine::UnnamedWorkbookFile> HeldSave::Take()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return std::move(m_file);
}

Ref<SpreadsheetServer> EmbeddedServerFactory::CreateServer()
{
    try {
        return Ref<SpreadsheetServer>(new ServerHandle(m_held, ReadAheadWanted(m_readAhead)));
    } catch (const std::exception& e) {
        throw ServerUnavailable(std::string("The embedded spreadsheet server cannot start: ") + e.what());
    }
}

Ref<Workbook> AdoptWorkbook(SpreadsheetServer& server, std::unique_ptr<engine::Workbook> model)
{
    auto* handle = dynamic_cast<ServerHandle*>(&server);
    if (handle == nullptr) {
        throw ServerError("Only an embedded server can take a workbook model");
    }
    return Guarded([&] {
        return handle->Adopt(std::make_shared<ServerBook>(std::shared_ptr<engine::Workbook>(std::move(model))));
    });
}

} // namespace gq::automation
