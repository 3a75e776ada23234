// A small deterministic zip writer over zlib and libdeflate for xlsx packages: deflated parts
// streamed to an append-only sink, fixed timestamps, parts in the order they are added.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/Bytes.h"
#include "engine/zip/BlockDeflater.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace gq::engine {

// Writes a zip archive (PKWARE APPNOTE.TXT, .ZIP file format, section 4.3) part by part.
//
// The sink cannot seek, so a part whose size is not known in advance (a worksheet) is written with
// general-purpose flag bit 3: the local header carries zero sizes and a data descriptor with the
// CRC and sizes follows the data (APPNOTE 4.3.9). Parts given whole are deflated in memory first
// and get a local header with their real sizes. Every entry is stamped 1980-01-01 00:00, so
// identical parts give identical bytes.
//
// A streamed part is deflated in blocks of kBlockBytes, each primed with the 32 KiB before it and
// ended with a sync flush, so that the blocks can be deflated on worker threads and still join into
// one deflate stream (RFC 1951), as pigz does. A part that ends within its first kWholeBytes, and a
// part given whole, is deflated in one call by libdeflate instead, which is about twice as fast as
// zlib at a smaller size but can neither prime a block nor end one without ending the stream; a
// longer part's first kWholeBytes are cut into blocks as the rest is. The
// blocks, the compressor each takes and their bytes do not depend on the number of threads: one
// thread or four give the same file.
//
// No Zip64: a part or an archive that reaches 4 GiB, or more than 65,535 parts, is refused with a
// LimitError rather than written in a form some readers cannot open.
class ZipWriter {
public:
    static constexpr size_t kBlockBytes = 1 << 20;
    // How much of a streamed part is held before its first blocks go to the workers.
    static constexpr size_t kWholeBytes = 4 * kBlockBytes;
    // The deflate window: each block is primed with this much of what came before it.
    static constexpr size_t kWindowBytes = BlockDeflater::kWindowBytes;

    // `threads` deflate streamed parts in the background; 0 deflates on the caller's thread.
    // `maxField` is the largest size or offset written (tests lower it to reach the limit fast).
    explicit ZipWriter(ByteSink& sink, int level = 1, unsigned threads = 0, uint64_t maxField = 0xFFFFFFFFull);
    ~ZipWriter();
    ZipWriter(const ZipWriter&) = delete;
    ZipWriter& operator=(const ZipWriter&) = delete;

    // Adds a whole part.
    void AddPart(std::string_view name, std::string_view data);
    // Adds a whole part as it is, not deflated: an OpenDocument package's first entry, its
    // mimetype, must be stored so that its type can be read at a fixed offset (ODF 1.3 Part 2, 3.3).
    void AddStoredPart(std::string_view name, std::string_view data);

    // Streams a part: BeginPart, any number of Write calls, EndPart.
    void BeginPart(std::string_view name);
    void Write(const void* data, size_t size);
    void EndPart();

    // Bytes of a streamed part deflated elsewhere beforehand (a worksheet's rows compressed while
    // the workbook was still being built): deflate blocks that are not final, end on a byte
    // boundary (a sync flush) and refer to nothing before their first byte.
    struct DeflatedPiece {
        uint32_t crc = 0;            // CRC-32 of the uncompressed bytes
        uint64_t size = 0;           // uncompressed bytes
        uint64_t compressedSize = 0; // deflated bytes
        // The last 32 KiB of the uncompressed bytes, or all of them; fewer (none at all) where the
        // bytes were not kept, at some cost in compression.
        std::vector<uint8_t> window;
    };
    // Between BeginPart and EndPart: ends the block being filled, then copies the piece's deflated
    // bytes, which `read(offset, out)` fills `out` with, into the part as they are, and joins their
    // CRC and sizes into the part's. What is written after it is primed with the piece's window, and
    // with the bytes before the piece only where the window holds the whole piece.
    void WriteDeflated(const DeflatedPiece& piece,
                       const std::function<void(uint64_t offset, std::span<uint8_t> out)>& read);

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
        bool stored = false;
    };
    struct Deflater;
    // One block of a streamed part on its way through a deflater.
    struct Job {
        std::vector<uint8_t> input;
        std::vector<uint8_t> dictionary;
        std::vector<uint8_t> output;
        size_t outputSize = 0;
        uint32_t crc = 0;
        // The part's only block, deflated by libdeflate into a whole stream with its final block.
        bool whole = false;
        bool taken = false;
        bool done = false;
        std::exception_ptr error;
    };

    void CheckNewEntry(std::string_view name);
    // The checked entry of a part whose whole data is at hand, at the current offset, with its size
    // and CRC; the caller fills in how it is stored.
    Entry WholePartEntry(std::string_view name, std::string_view data);
    // The fields that the local header and the central directory header of an entry share, from the
    // version needed to extract to the length of the (empty) extra field.
    static void AppendEntryFields(std::vector<uint8_t>& out, const Entry& entry);
    void WriteLocalHeader(const Entry& entry);
    void Emit(const void* data, size_t size);
    void SubmitBlock(bool whole = false);
    void EmitDone(bool wait, size_t keepAtMost);
    void EndStream();
    static void DeflateBlock(Deflater& deflater, Job& job);
    void Worker();
    void StopWorkers();

    ByteSink& m_sink;
    int m_level;
    uint64_t m_maxField;
    uint64_t m_offset = 0;
    std::vector<Entry> m_entries;
    std::unique_ptr<Deflater> m_deflater;
    bool m_inPart = false;
    bool m_finished = false;

    // The block being filled, and the 32 KiB that preceded it in the part.
    std::vector<uint8_t> m_block;
    std::vector<uint8_t> m_tail;

    // Blocks in part order; workers take the oldest untaken one, the caller emits from the front.
    std::vector<std::thread> m_workers;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Job>> m_jobs;
    std::vector<std::unique_ptr<Job>> m_spare;
    size_t m_maxInFlight = 1;
    bool m_stop = false;
};

} // namespace gq::engine
