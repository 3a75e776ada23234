// The counting server: every operation goes straight to the wrapped server.
// SPDX-License-Identifier: Apache-2.0
#include "cli/CountingServer.h"

#include "cli/ListFormat.h"

#include <filesystem>

namespace gq::cli {

using automation::Ref;

class CountingServer : public automation::SpreadsheetServer {
public:
    CountingServer(Ref<automation::SpreadsheetServer> inner, CountingServerFactory& owner)
        : m_inner(std::move(inner)), m_owner(owner)
    {
    }

    void Release() noexcept override { delete this; }
    void SetDisplayAlerts(bool on) override { m_inner->SetDisplayAlerts(on); }
    void SetScreenUpdating(bool on) override
    {
        // The merge turns screen updating back on as its first finishing step, right before saving.
        if (on && m_owner.m_opened > 0) {
            m_owner.m_progress.Set("Writing " + EscapeField(m_owner.m_output));
        }
        m_inner->SetScreenUpdating(on);
    }
    void SetVisible(bool on) override { m_inner->SetVisible(on); }
    Ref<automation::Workbook> AddWorkbook() override { return m_inner->AddWorkbook(); }
    Ref<automation::Workbook> OpenWorkbook(const std::string& path) override
    {
        ++m_owner.m_opened;
        m_owner.m_progress.Set("Merging sheet " + std::to_string(m_owner.m_opened) + " of " +
                               std::to_string(m_owner.m_total) + ": " +
                               EscapeField(std::filesystem::path(path).filename().string()));
        return m_inner->OpenWorkbook(path);
    }
    Ref<automation::Workbook> WorkbookAt(int32_t index) override { return m_inner->WorkbookAt(index); }
    void ReadAhead(const std::string& path, const std::vector<std::string>& sheetNames) override
    {
        m_inner->ReadAhead(path, sheetNames);
    }
    void Quit() override { m_inner->Quit(); }
    int32_t SheetCount() override { return m_inner->SheetCount(); }
    Ref<automation::Sheet> SheetAt(int32_t index) override { return m_inner->SheetAt(index); }

private:
    Ref<automation::SpreadsheetServer> m_inner;
    CountingServerFactory& m_owner;
};

Ref<automation::SpreadsheetServer> CountingServerFactory::CreateServer()
{
    Ref<automation::SpreadsheetServer> inner = m_inner.CreateServer();
    return Ref<automation::SpreadsheetServer>(new CountingServer(std::move(inner), *this));
}

} // namespace gq::cli
