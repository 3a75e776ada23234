// Mapped input files and output sinks.
#include "engine/io/Bytes.h"

#include "engine/Errors.h"
#include "engine/Limits.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gq::engine {

namespace {

class MappedFile : public InputBytes {
public:
    MappedFile(std::string name, void* base, size_t size) : m_name(std::move(name)), m_base(base), m_size(size) {}
    ~MappedFile() override
    {
        if (m_base != nullptr) {
            munmap(m_base, m_size);
        }
    }
    std::span<const uint8_t> Data() const override
    {
        return {static_cast<const uint8_t*>(m_base), m_size};
    }
    const std::string& Name() const override { return m_name; }

private:
    std::string m_name;
    void* m_base;
    size_t m_size;
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

std::string ErrnoText(int err) { return std::strerror(err); }

} // namespace

std::shared_ptr<const InputBytes> InputBytes::MapFile(const std::string& path)
{
    // O_NONBLOCK keeps a FIFO from blocking the open; it is refused below as not a regular file.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        int err = errno;
        throw IoError("\"" + path + "\": cannot open the file: " + ErrnoText(err));
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        int err = errno;
        ::close(fd);
        throw IoError("\"" + path + "\": cannot read the file: " + ErrnoText(err));
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        throw IoError("\"" + path + "\": not a regular file");
    }
    if (static_cast<uint64_t>(st.st_size) > limits::kMaxInputFileBytes) {
        ::close(fd);
        throw LimitError("\"" + path + "\": the file is larger than " +
                         std::to_string(limits::kMaxInputFileBytes >> 20) + " MB");
    }
    auto size = static_cast<size_t>(st.st_size);
    if (size == 0) {
        ::close(fd);
        return std::make_shared<MemoryBytes>(std::vector<uint8_t>{}, path);
    }
    void* base = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (base == MAP_FAILED) {
        int err = errno;
        throw IoError("\"" + path + "\": cannot read the file: " + ErrnoText(err));
    }
    return std::make_shared<MappedFile>(path, base, size);
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

FileSink::FileSink(int fd, std::string name) : m_fd(fd), m_name(std::move(name)) { m_buffer.reserve(1 << 20); }

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
                throw IoError("\"" + m_name + "\": cannot write the file: " + ErrnoText(err));
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
            throw IoError("\"" + m_name + "\": cannot write the file: " + ErrnoText(err));
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
        throw IoError("\"" + m_name + "\": cannot write the file: " + ErrnoText(err));
    }
}

} // namespace gq::engine
