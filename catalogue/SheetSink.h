// What the sheet listing needs of a list: batches and appending entries. The sheet list offers it
// directly; the window offers an adapter that performs each call on the GUI thread.
#pragma once

#include "catalogue/SheetEntry.h"

namespace gq::catalogue {

class SheetSink {
public:
    virtual ~SheetSink() = default;
    virtual void BeginBatch() = 0;
    virtual void AppendEntry(const SheetEntry& entry) = 0;
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
