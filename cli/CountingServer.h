// A server factory that hands out the servers of another factory wrapped so that the progress line
// can follow a merge: it counts the workbooks opened and notices the finishing steps.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/SpreadsheetServer.h"
#include "cli/Progress.h"

#include <cstddef>

namespace gq::cli {

class CountingServerFactory : public automation::ServerFactory {
public:
    // `total` is the number of merge-list entries, for "entry k of total".
    CountingServerFactory(automation::ServerFactory& inner, Progress& progress, size_t total, std::string output)
        : m_inner(inner), m_progress(progress), m_total(total), m_output(std::move(output))
    {
    }
    automation::Ref<automation::SpreadsheetServer> CreateServer() override;

    size_t Opened() const { return m_opened; }

private:
    friend class CountingServer;
    automation::ServerFactory& m_inner;
    Progress& m_progress;
    size_t m_total;
    std::string m_output;
    size_t m_opened = 0;
};

} // namespace gq::cli
