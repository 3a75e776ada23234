// Reading the workbook a merge will open next on a second thread, while the merge pastes the
// current one.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/WorkbookCache.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace gq::automation {

// One background thread that opens a workbook and loads the named sheets, for OpenWorkbook to take
// instead of reading the file itself. What it hands over is exactly what OpenWorkbook would have
// read: it is handed over only when the read succeeded and the file is, by its FileKey, the one it
// was before and during the read; anything else (a failure, a changed or deleted file) is dropped,
// and OpenWorkbook reads the file itself, failing as it would have without a read ahead.
// Used from one thread (the server's); the thread it starts is joined by Stop or the destructor.
class WorkbookReadAhead {
public:
    // Files larger than this are not read ahead: a workbook read ahead is held beside the one being
    // pasted and the output being built, and a large one would raise the peak memory of a merge of
    // large workbooks by a whole source sheet, where reading ahead gains least.
    static constexpr uint64_t kMaxFileBytes = 4ull << 20;
    // Sheets are loaded while those loaded hold fewer cells than this: the cache keeps no workbook
    // holding more (WorkbookCache::kMaxKeptCells), so this loads what the merge would have loaded
    // into one model anyway.
    static constexpr size_t kMaxLoadedCells = WorkbookCache::kMaxKeptCells;

    WorkbookReadAhead() = default;
    ~WorkbookReadAhead();
    WorkbookReadAhead(const WorkbookReadAhead&) = delete;
    WorkbookReadAhead& operator=(const WorkbookReadAhead&) = delete;

    // Starts reading `path` and its sheets `sheetNames` (in the order they will be asked for),
    // abandoning a read ahead of another file that was not taken.
    void Start(const std::string& path, std::vector<std::string> sheetNames);
    // The workbook read ahead for `path`, waiting for its read to end, when the file is still the
    // one described by `now`; nullptr otherwise (nothing read ahead for it, a failed read, a changed
    // file). Whatever was read ahead for `path` is gone afterwards.
    std::shared_ptr<ServerBook> Take(const std::string& path, const FileKey& now);
    // Abandons any read ahead and ends the thread; waits only for the read to notice.
    void Stop();

private:
    struct Job {
        std::string path;
        std::vector<std::string> sheetNames;
        std::atomic<bool> cancel{false};
        bool started = false;
        bool done = false;
        // Set by a read that succeeded and saw the same file before and after.
        std::shared_ptr<ServerBook> book;
        std::optional<FileKey> key;
    };

    void Run();
    static void Read(Job& job);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::shared_ptr<Job> m_job; // the read asked for last: waiting, under way or done
    bool m_quit = false;
    std::thread m_thread;
};

} // namespace gq::automation
