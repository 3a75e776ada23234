// A one-line progress display on standard error: it appears only when the work has taken more than
// a moment and the stream is a terminal, and is redrawn by a ticker thread so that it moves even
// while one long workbook is being read or written.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace gq::cli {

class Progress {
public:
    // `enabled` false makes every call a no-op (standard error is not a terminal, or tests).
    Progress(std::ostream& err, bool enabled, std::chrono::milliseconds delay = std::chrono::milliseconds(500));
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // Sets the text shown; the elapsed time is appended when it is drawn.
    void Set(const std::string& status);
    // Erases the line if it is shown, so that a message can be printed; drawing resumes later.
    void Clear();
    // Erases the line and ends the ticker; nothing is drawn afterwards.
    void Stop();

private:
    void Run();
    void DrawLocked();
    void EraseLocked();

    std::ostream& m_err;
    bool m_enabled;
    std::chrono::milliseconds m_delay;
    std::chrono::steady_clock::time_point m_start;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::string m_status;
    size_t m_shownWidth = 0;
    bool m_stopping = false;
    std::thread m_ticker;
};

} // namespace gq::cli
