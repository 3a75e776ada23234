// Input bytes (a mapped file or a memory buffer) and output sinks (a file, a buffer, or a sink
// that fails on purpose in tests).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace gq::engine {

// Read-only bytes of one input file. Mapped from disk, so opening a large workbook to list its
// sheets costs no read of the whole file. Another program may cut the file short while it is
// mapped; reading a page past the new end then raises SIGBUS. A process-wide handler puts zero
// pages in place of what was cut, so the read goes on (a reader sees a damaged file, which it
// handles like any other), and CheckUnchanged reports the change as what it is.
class InputBytes {
public:
    virtual ~InputBytes() = default;
    virtual std::span<const uint8_t> Data() const = 0;
    // The name used in messages (the file's path).
    virtual const std::string& Name() const = 0;
    // Throws IoError when the file behind these bytes was cut short or rewritten since it was
    // opened: what was read from it may then be neither the old nor the new content. Readers
    // call it before a lazy read and when they fail or finish. Memory buffers never change.
    virtual void CheckUnchanged() const {}
    // Says that the bytes read so far are not needed again soon: a mapped file's pages leave this
    // process's memory (the system's file cache keeps them, and a later read brings them back).
    // A reader calls it once it has read a large part, so that the workbooks a merge keeps open
    // do not each hold their whole file in memory.
    virtual void ReleaseResidentPages() const {}

    // Maps a regular file; throws IoError (missing, unreadable, not a regular file) or LimitError.
    static std::shared_ptr<const InputBytes> MapFile(const std::string& path);
    static std::shared_ptr<const InputBytes> FromMemory(std::vector<uint8_t> bytes, std::string name);
};

// Where a writer puts its bytes.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Throws IoError when the bytes cannot be written.
    virtual void Write(const void* data, size_t size) = 0;
    virtual uint64_t Written() const = 0;
};

class MemorySink : public ByteSink {
public:
    void Write(const void* data, size_t size) override;
    uint64_t Written() const override { return m_bytes.size(); }
    std::vector<uint8_t>& Bytes() { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
};

// Writes to an open file descriptor through a buffer.
class FileSink : public ByteSink {
public:
    FileSink(int fd, std::string name);
    ~FileSink() override;
    void Write(const void* data, size_t size) override;
    uint64_t Written() const override { return m_written; }
    // Writes out the buffer and syncs the file to disk; throws IoError.
    void Finish();

private:
    void Drain();
    int m_fd;
    std::string m_name;
    std::vector<uint8_t> m_buffer;
    uint64_t m_written = 0;
};

} // namespace gq::engine
