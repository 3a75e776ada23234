// Abandoning a read that is no longer wanted: a thread that reads a workbook ahead of its use marks
// its reads as abandonable, and the readers' long loops check the mark.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <atomic>
#include <exception>

namespace gq::engine {

// Thrown out of a read whose thread was told to stop. It is no EngineError: no reader takes it for
// a problem of the file, and whoever started the read discards what was read.
class ReadCancelled : public std::exception {
public:
    const char* what() const noexcept override { return "the read was abandoned"; }
};

// While one lives, reads on the constructing thread end with ReadCancelled soon after `stop` is
// set. Reads on other threads, and on this thread without a scope, are not affected.
class ReadCancelScope {
public:
    explicit ReadCancelScope(const std::atomic<bool>& stop);
    ~ReadCancelScope();
    ReadCancelScope(const ReadCancelScope&) = delete;
    ReadCancelScope& operator=(const ReadCancelScope&) = delete;

private:
    const std::atomic<bool>* m_outer;
};

// Throws ReadCancelled when the calling thread's read has been told to stop. Cheap (a thread-local
// load and a relaxed atomic one): called once per inflated chunk, not per cell.
void ThrowIfReadCancelled();

} // namespace gq::engine
