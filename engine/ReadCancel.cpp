// The calling thread's stop mark for reads that may be abandoned.
// SPDX-License-Identifier: Apache-2.0
#include "engine/ReadCancel.h"

namespace gq::engine {

namespace {

thread_local const std::atomic<bool>* t_stop = nullptr;

} // namespace

ReadCancelScope::ReadCancelScope(const std::atomic<bool>& stop) : m_outer(t_stop)
{
    t_stop = &stop;
}

ReadCancelScope::~ReadCancelScope()
{
    t_stop = m_outer;
}

void ThrowIfReadCancelled()
{
    if (t_stop != nullptr && t_stop->load(std::memory_order_relaxed)) {
        throw ReadCancelled();
    }
}

} // namespace gq::engine
