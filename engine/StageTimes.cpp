// The per-stage CPU clocks: per-thread nesting, process-wide atomic totals.
// SPDX-License-Identifier: Apache-2.0
#include "engine/StageTimes.h"

#include <atomic>
#include <ctime>

namespace gq::engine {

namespace {

std::array<std::atomic<int64_t>, static_cast<size_t>(Stage::Count)> g_nanoseconds{};
thread_local StageTimer* t_current = nullptr;
bool g_counting = false;

int64_t ThreadCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

void Add(Stage stage, int64_t nanoseconds)
{
    g_nanoseconds[static_cast<size_t>(stage)].fetch_add(nanoseconds, std::memory_order_relaxed);
}

} // namespace

StageTimer::StageTimer(Stage stage) : m_stage(stage), m_outer(t_current), m_since(0)
{
    if (!g_counting) {
        return;
    }
    m_since = ThreadCpuNanoseconds();
    if (m_outer != nullptr) {
        Add(m_outer->m_stage, m_since - m_outer->m_since);
    }
    t_current = this;
}

StageTimer::~StageTimer()
{
    if (!g_counting) {
        return;
    }
    const int64_t now = ThreadCpuNanoseconds();
    Add(m_stage, now - m_since);
    if (m_outer != nullptr) {
        m_outer->m_since = now;
    }
    t_current = m_outer;
}

void CountStageTimes(bool on)
{
    g_counting = on;
}

std::array<double, static_cast<size_t>(Stage::Count)> StageSeconds()
{
    std::array<double, static_cast<size_t>(Stage::Count)> seconds{};
    for (size_t i = 0; i < seconds.size(); ++i) {
        seconds[i] = static_cast<double>(g_nanoseconds[i].load(std::memory_order_relaxed)) / 1e9;
    }
    return seconds;
}

const char* StageName(Stage stage)
{
    switch (stage) {
    case Stage::Read:
        return "read";
    case Stage::Paste:
        return "paste";
    case Stage::Compress:
        return "compress";
    case Stage::Write:
        return "write";
    case Stage::Count:
        break;
    }
    return "?";
}

} // namespace gq::engine
