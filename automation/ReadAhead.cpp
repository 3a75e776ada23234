// The read-ahead thread: one job at a time, abandoned at the next chunk when no longer wanted.
// SPDX-License-Identifier: Apache-2.0
#include "automation/ReadAhead.h"

#include "engine/ReadCancel.h"
#include "engine/WorkbookFile.h"

namespace gq::automation {

WorkbookReadAhead::~WorkbookReadAhead()
{
    Stop();
}

void WorkbookReadAhead::Start(const std::string& path, std::vector<std::string> sheetNames)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_job && m_job->path == path && m_job->sheetNames == sheetNames) {
            return;
        }
        if (m_job) {
            m_job->cancel = true;
        }
        m_job = std::make_shared<Job>();
        m_job->path = path;
        m_job->sheetNames = std::move(sheetNames);
        m_quit = false;
    }
    m_changed.notify_all();
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { Run(); });
    }
}

std::shared_ptr<ServerBook> WorkbookReadAhead::Take(const std::string& path, const FileKey& now)
{
    std::shared_ptr<Job> job;
    {
        std::unique_lock lock(m_mutex);
        if (!m_job || m_job->path != path) {
            return nullptr;
        }
        job = std::move(m_job);
        // A read the thread has not begun (its core is busy with other work) is left to the
        // caller, which would otherwise wait for the thread to be given a core before it starts.
        if (!job->started) {
            return nullptr;
        }
        m_changed.wait(lock, [&] { return job->done; });
    }
    if (!job->book || !job->key || !(*job->key == now)) {
        return nullptr;
    }
    job->book->key = job->key;
    return std::move(job->book);
}

void WorkbookReadAhead::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        if (m_job) {
            m_job->cancel = true;
            m_job.reset();
        }
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void WorkbookReadAhead::Run()
{
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, [&] { return m_quit || (m_job && !m_job->started); });
            if (m_quit) {
                return;
            }
            job = m_job;
            job->started = true;
        }
        Read(*job);
        {
            std::lock_guard lock(m_mutex);
            job->done = true;
        }
        m_changed.notify_all();
    }
}

void WorkbookReadAhead::Read(Job& job)
{
    const engine::ReadCancelScope scope(job.cancel);
    try {
        const std::optional<FileKey> before = KeyOfFile(job.path);
        if (!before || before->size > kMaxFileBytes || job.cancel) {
            return;
        }
        // The same steps, in the same order, as OpenWorkbook and the merge's first look at each
        // sheet, so that the model is the one they would have built.
        auto book = std::make_shared<ServerBook>(engine::OpenWorkbookFile(job.path));
        size_t cells = 0;
        for (const std::string& name : job.sheetNames) {
            if (job.cancel || cells > kMaxLoadedCells) {
                break;
            }
            if (const SheetNameIndex::Entry* found = book->names.Find(name)) {
                if (std::optional<size_t> index = book->IndexOf(found->id, found->position)) {
                    cells += book->model->SheetKeepingSpill(*index).CellCount();
                }
            }
        }
        const std::optional<FileKey> after = KeyOfFile(job.path);
        if (after && *after == *before && !job.cancel) {
            job.key = after;
            job.book = std::move(book);
        }
    } catch (...) {
        // A read that failed or was abandoned hands over nothing: the file is read again when it is
        // opened, and any failure is reported then, as it would have been.
    }
}

} // namespace gq::automation
