// Mapped input files and output sinks.
// SPDX-License-Identifier: Apache-2.0
#include "engine/io/Bytes.h"

#include "engine/Errors.h"
#include "engine/Limits.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gq::engine {

namespace {

std::string ErrnoText(int err)
{
    return std::strerror(err);
}

// The mapped ranges the SIGBUS handler may repair. A signal handler can take no lock, so the table
// is fixed and read with atomics: a range is published by storing its end, then its begin, and
// withdrawn by clearing its begin before the mapping goes. A range cannot be withdrawn while a
// thread faults in it, since that thread still holds the mapping.
struct GuardedRange {
    std::atomic<uintptr_t> begin{0};
    std::atomic<uintptr_t> end{0};
    std::atomic<bool> cut{false};
};

constexpr size_t kGuardSlots = 1024;
GuardedRange g_guarded[kGuardSlots];
struct sigaction g_previousSigbus {};
uintptr_t g_pageSize = 4096;

void PassOnSigbus(int signal, siginfo_t* info, void* context)
{
    const struct sigaction& previous = g_previousSigbus;
    if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler != nullptr) {
        previous.sa_handler(signal);
        return;
    }
    // Back to the default action: the faulting access runs again when the handler returns and
    // ends the process, as it would have without this handler.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(SIGBUS, &fallback, nullptr);
}

void OnSigbus(int signal, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    const auto address = reinterpret_cast<uintptr_t>(info->si_addr);
    for (GuardedRange& range : g_guarded) {
        uintptr_t begin = range.begin.load(std::memory_order_acquire);
        if (begin == 0 || address < begin) {
            continue;
        }
        uintptr_t end = range.end.load(std::memory_order_acquire);
        if (address >= end) {
            continue;
        }
        // Zero pages from the faulting page to the end of the mapping; munmap of the whole range
        // removes them with the rest.
        uintptr_t from = address & ~(g_pageSize - 1);
        uintptr_t to = (end + g_pageSize - 1) & ~(g_pageSize - 1);
        void* zero =
            mmap(reinterpret_cast<void*>(from), to - from, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zero != MAP_FAILED) {
            range.cut.store(true, std::memory_order_release);
            errno = savedErrno;
            return;
        }
        break;
    }
    errno = savedErrno;
    PassOnSigbus(signal, info, context);
}

void InstallSigbusHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        long page = sysconf(_SC_PAGESIZE);
        if (page > 0) {
            g_pageSize = static_cast<uintptr_t>(page);
        }
        struct sigaction action {};
        action.sa_sigaction = OnSigbus;
        action.sa_flags = SA_SIGINFO | SA_ONSTACK;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, &g_previousSigbus);
    });
}

// Returns the slot now guarding [begin, begin + size), or nullptr when every slot is taken.
GuardedRange* GuardRange(const void* begin, size_t size)
{
    InstallSigbusHandler();
    for (GuardedRange& range : g_guarded) {
        uintptr_t expected = 0;
        // end doubles as the claim: a slot is free while both are zero.
        if (range.end.compare_exchange_strong(expected, reinterpret_cast<uintptr_t>(begin) + size,
                                              std::memory_order_acq_rel)) {
            range.cut.store(false, std::memory_order_relaxed);
            range.begin.store(reinterpret_cast<uintptr_t>(begin), std::memory_order_release);
            return &range;
        }
    }
    return nullptr;
}

void ReleaseRange(GuardedRange* range)
{
    range->begin.store(0, std::memory_order_release);
    range->end.store(0, std::memory_order_release);
}

bool SameTime(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

class MappedFile : public InputBytes {
public:
    static constexpr size_t kReleaseAtBytes = 4u << 20;

    MappedFile(std::string name, int fd, const struct stat& st, void* base, size_t size, GuardedRange* guard)
        : m_name(std::move(name)), m_fd(fd), m_mtime(st.st_mtim), m_base(base), m_size(size), m_guard(guard)
    {
    }
    ~MappedFile() override
    {
        ReleaseRange(m_guard);
        munmap(m_base, m_size);
        ::close(m_fd);
    }
    std::span<const uint8_t> Data() const override { return {static_cast<const uint8_t*>(m_base), m_size}; }
    const std::string& Name() const override { return m_name; }
    void ReleaseResidentPages() const override
    {
        // A small file costs little memory and would only be read into it again for its next
        // sheet.
        if (m_size < kReleaseAtBytes) {
            return;
        }
        // The mapping is private and never written, so dropped pages read back from the file
        // (or, where a cut was papered over, as the zero pages put there). A refusal costs only
        // memory.
        madvise(m_base, m_size, MADV_DONTNEED);
    }
    void CheckUnchanged() const override
    {
        if (m_guard->cut.load(std::memory_order_acquire)) {
            throw IoError(m_name, "the file was cut short by another program while it was being read");
        }
        struct stat st {};
        if (fstat(m_fd, &st) != 0) {
            int err = errno;
            throw IoError(m_name, "cannot read the file: " + ErrnoText(err));
        }
        if (static_cast<uint64_t>(st.st_size) != m_size || !SameTime(st.st_mtim, m_mtime)) {
            throw IoError(m_name, "the file was changed by another program after it was opened");
        }
    }

private:
    std::string m_name;
    int m_fd; // kept open to see whether this very file changes, even when another takes its name
    struct timespec m_mtime;
    void* m_base;
    size_t m_size;
    GuardedRange* m_guard;
};

class MemoryBytes : public InputBytes {
public:
    MemoryBytes(std::vector<uint8_t> bytes, std::string name) : m_bytes(std::move(bytes)), m_name(std::move(name)) {}
    std::span<const uint8_t> Data() const override { return m_bytes; }
    const std::string& Name() const override { return m_name; }

private:
    std::vector<uint8_t> m_bytes;
    std::string m_name;
};

// Reads a whole file into memory: for when no mapping can be guarded.
std::vector<uint8_t> ReadWhole(int fd, size_t size, const std::string& path)
{
    std::vector<uint8_t> bytes(size);
    size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, bytes.data() + done, size - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            int err = errno;
            throw IoError(path, "cannot read the file: " + ErrnoText(err));
        }
        if (n == 0) {
            throw IoError(path, "the file was cut short by another program while it was being read");
        }
        done += static_cast<size_t>(n);
    }
    return bytes;
}

} // namespace

std::shared_ptr<const InputBytes> InputBytes::MapFile(const std::string& path)
{
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below as not a regular file.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        int err = errno;
        throw IoError(path, "cannot open the file: " + ErrnoText(err));
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        throw IoError(path, "cannot read the file: " + ErrnoText(err));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw IoError(path, "not a regular file");
    }
    if (static_cast<uint64_t>(st.st_size) > limits::kMaxInputFileBytes) {
        ::close(fd);
        throw LimitError(path, "the file is larger than " + std::to_string(limits::kMaxInputFileBytes >> 20) + " MB");
    }
    auto size = static_cast<size_t>(st.st_size);
    if (size == 0) {
        ::close(fd);
        return std::make_shared<MemoryBytes>(std::vector<uint8_t>{}, path);
    }
    void* base = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (base == MAP_FAILED) {
        int err = errno;
        ::close(fd);
        throw IoError(path, "cannot read the file: " + ErrnoText(err));
    }
    GuardedRange* guard = GuardRange(base, size);
    if (guard == nullptr) {
        munmap(base, size);
        std::vector<uint8_t> bytes;
        try {
            bytes = ReadWhole(fd, size, path);
        } catch (...) {
            ::close(fd);
            throw;
        }
        ::close(fd);
        return std::make_shared<MemoryBytes>(std::move(bytes), path);
    }
    return std::make_shared<MappedFile>(path, fd, st, base, size, guard);
}

std::shared_ptr<const InputBytes> InputBytes::FromMemory(std::vector<uint8_t> bytes, std::string name)
{
    return std::make_shared<MemoryBytes>(std::move(bytes), std::move(name));
}

void MemorySink::Write(const void* data, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    m_bytes.insert(m_bytes.end(), p, p + size);
}

FileSink::FileSink(int fd, std::string name) : m_fd(fd), m_name(std::move(name))
{
    m_buffer.reserve(1 << 20);
}

FileSink::~FileSink() = default;

void FileSink::Write(const void* data, size_t size)
{
    const auto* p = static_cast<const uint8_t*>(data);
    if (m_buffer.size() + size > m_buffer.capacity()) {
        Drain();
    }
    if (size >= m_buffer.capacity()) {
        size_t done = 0;
        while (done < size) {
            ssize_t n = ::write(m_fd, p + done, size - done);
            if (n < 0) {
                if (errno == EINTR) {
                    continue;
                }
                int err = errno;
                throw IoError(m_name, "cannot write the file: " + ErrnoText(err));
            }
            done += static_cast<size_t>(n);
        }
    } else {
        m_buffer.insert(m_buffer.end(), p, p + size);
    }
    m_written += size;
}

void FileSink::Drain()
{
    size_t done = 0;
    while (done < m_buffer.size()) {
        ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            int err = errno;
            m_buffer.clear();
            throw IoError(m_name, "cannot write the file: " + ErrnoText(err));
        }
        done += static_cast<size_t>(n);
    }
    m_buffer.clear();
}

void FileSink::Finish()
{
    Drain();
    if (::fsync(m_fd) != 0) {
        int err = errno;
        throw IoError(m_name, "cannot write the file: " + ErrnoText(err));
    }
}

} // namespace gq::engine
