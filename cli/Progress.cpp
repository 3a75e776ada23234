// The progress line on standard error.
// SPDX-License-Identifier: Apache-2.0
#include "cli/Progress.h"

#include <cstdio>

namespace gq::cli {

namespace {

constexpr std::chrono::milliseconds kTick(200);
// Terminals are at least this wide; a longer status is cut so that "\r" still returns to its start.
constexpr size_t kMaxWidth = 78;

} // namespace

Progress::Progress(std::ostream& err, bool enabled, std::chrono::milliseconds delay)
    : m_err(err), m_enabled(enabled), m_delay(delay), m_start(std::chrono::steady_clock::now())
{
    if (m_enabled) {
        m_ticker = std::thread([this] { Run(); });
    }
}

Progress::~Progress()
{
    Stop();
}

void Progress::Set(const std::string& status)
{
    if (!m_enabled) {
        return;
    }
    std::lock_guard lock(m_mutex);
    m_status = status;
}

void Progress::Clear()
{
    if (!m_enabled) {
        return;
    }
    std::lock_guard lock(m_mutex);
    EraseLocked();
}

void Progress::Stop()
{
    if (!m_enabled) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            return;
        }
        m_stopping = true;
        EraseLocked();
    }
    m_wake.notify_all();
    if (m_ticker.joinable()) {
        m_ticker.join();
    }
}

void Progress::Run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait_for(lock, kTick, [this] { return m_stopping; });
        if (!m_stopping && std::chrono::steady_clock::now() - m_start >= m_delay && !m_status.empty()) {
            DrawLocked();
        }
    }
}

void Progress::DrawLocked()
{
    const auto elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, " (%.1f s)", elapsed);
    std::string line = m_status;
    if (line.size() + std::char_traits<char>::length(seconds) > kMaxWidth) {
        line.resize(kMaxWidth - std::char_traits<char>::length(seconds) - 3);
        line += "...";
    }
    line += seconds;
    std::string padding(m_shownWidth > line.size() ? m_shownWidth - line.size() : 0, ' ');
    m_err << '\r' << line << padding << std::flush;
    m_shownWidth = line.size();
}

void Progress::EraseLocked()
{
    if (m_shownWidth > 0) {
        m_err << '\r' << std::string(m_shownWidth, ' ') << '\r' << std::flush;
        m_shownWidth = 0;
    }
}

} // namespace gq::cli
