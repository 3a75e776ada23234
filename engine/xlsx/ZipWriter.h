// A small deterministic zip writer over zlib for xlsx packages: deflated parts streamed to an
// append-only sink, fixed timestamps, parts in the order they are added.
#pragma once

#include "engine/io/Bytes.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace gq::engine {

// Writes a zip archive ([APPNOTE] PKWARE's .ZIP File Format Specification, 6.3) part by part.
//
// The sink cannot seek, so a part whose size is not known in advance (a worksheet) is written with
// general-purpose flag bit 3: the local header carries zero sizes and a data descriptor with the
// CRC and sizes follows the data. Parts given whole are deflated in memory first and get a local
// header with their real sizes. Every entry is stamped 1980-01-01 00:00, so identical parts give
// identical bytes.
//
// No Zip64: a part or an archive that reaches 4 GiB, or more than 65,535 parts, is refused with a
// LimitError rather than written in a form some readers cannot open.
//
// With `background` set, streamed parts are deflated on a second thread while the caller produces
// the next bytes; the output is the same bytes either way.
class ZipWriter {
public:
    explicit ZipWriter(ByteSink& sink, int level = 1, bool background = false);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Adds a whole part.
    void AddPart(std::string_view name, std::string_view data);

    // Streams a part: BeginPart, any number of Write calls, EndPart.
    void BeginPart(std::string_view name);
    void Write(const void* data, size_t size);
    void EndPart();

    // Writes the central directory. The writer takes no more parts afterwards.
    void Finish();

    // Bytes written to the sink so far.
    uint64_t Written() const { return m_offset; }

private:
    struct Entry {
        std::string name;
        uint32_t crc = 0;
        uint64_t compressedSize = 0;
        uint64_t size = 0;
        uint64_t offset = 0;
        bool dataDescriptor = false;
    };
    struct Deflater;

    void CheckNewEntry(std::string_view name);
    void WriteLocalHeader(const Entry& entry);
    void Emit(const void* data, size_t size);
    void DeflateChunk(const uint8_t* data, size_t size, bool finish);
    void Worker();
    void WaitIdle();
    void RethrowWorkerError();

    ByteSink& m_sink;
    uint64_t m_offset = 0;
    std::vector<Entry> m_entries;
    std::unique_ptr<Deflater> m_deflater;
    std::vector<uint8_t> m_out;
    bool m_inPart = false;
    bool m_finished = false;

    // Background deflate: chunks handed over in order through a short queue; buffers are reused.
    bool m_background = false;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::vector<uint8_t>> m_queue; // chunks waiting, oldest first
    std::vector<std::vector<uint8_t>> m_spare;
    bool m_busy = false;
    bool m_stop = false;
    std::exception_ptr m_workerError;
};

} // namespace gq::engine
