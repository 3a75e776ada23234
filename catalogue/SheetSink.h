// What the sheet listing needs of a list: batches, and appending one workbook's entries in one call.
// The window offers an adapter that performs each call on the GUI thread, so one call per workbook
// rather than one per sheet keeps the trips to that thread few.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "catalogue/SheetEntry.h"

#include <vector>

namespace gq::catalogue {

class SheetSink {
public:
    virtual ~SheetSink() = default;
    virtual void BeginBatch() = 0;
    // Appends `entries` in their order, as new last rows.
    virtual void AppendEntries(const std::vector<SheetEntry>& entries) = 0;
    virtual void EndBatch() = 0;
};

// Keeps a batch open on a sink for the guard's lifetime, so it is closed on every path.
class SinkBatch {
public:
    explicit SinkBatch(SheetSink& sink) : m_sink(sink) { m_sink.BeginBatch(); }
    SinkBatch(const SinkBatch&) = delete;
    SinkBatch& operator=(const SinkBatch&) = delete;
    ~SinkBatch() { m_sink.EndBatch(); }

private:
    SheetSink& m_sink;
};

} // namespace gq::catalogue
