// The deterministic streaming zip writer behind the xlsx writer.
// SPDX-License-Identifier: Apache-2.0
#include "engine/zip/ZipWriter.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/StageTimes.h"
#include "engine/io/LittleEndian.h"
#include "engine/zip/BlockDeflater.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace gq::engine {

namespace {

constexpr uint64_t kMaxZip32Field = limits::kZipMaxWrittenBytes;
constexpr size_t kMaxEntries = limits::kZipMaxWrittenEntries;

// MS-DOS date and time of 1980-01-01 00:00:00, the earliest a zip entry can carry.
constexpr uint16_t kDosTime = 0;
constexpr uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;
constexpr uint16_t kVersion = 20; // 2.0: deflate
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kFlagDataDescriptor = 1 << 3;

constexpr uint32_t kLocalHeaderSig = 0x04034b50;
constexpr uint32_t kDataDescriptorSig = 0x08074b50;
constexpr uint32_t kCentralHeaderSig = 0x02014b50;
constexpr uint32_t kEndOfCentralDirSig = 0x06054b50;

[[noreturn]] void TooLarge(const std::string& what)
{
    throw LimitError(what + " is too large for an xlsx file: zip packages larger than 4 GiB are not written");
}

} // namespace

struct ZipWriter::Deflater {
    // The blocks of a part streamed in several blocks.
    BlockDeflater blocks;
    // A part of one block in one call: libdeflate's levels run from 0 to 12; at the same level as
    // zlib it is faster and smaller (W1's output at level 1: half zlib's time, 10% fewer bytes).
    libdeflate_compressor* whole = nullptr;
    explicit Deflater(int level) : blocks(level)
    {
        whole = libdeflate_alloc_compressor(level < 0 ? 6 : std::min(level, 9));
        if (whole == nullptr) {
            throw EngineError("cannot start the deflate compressor");
        }
    }
    ~Deflater() { libdeflate_free_compressor(whole); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
};

ZipWriter::ZipWriter(ByteSink& sink, int level, unsigned threads, uint64_t maxField)
    : m_sink(sink), m_level(level), m_maxField(std::min(maxField, kMaxZip32Field)),
      m_deflater(std::make_unique<Deflater>(level))
{
    // A few blocks in flight per worker keep every worker busy while the caller writes the next.
    m_maxInFlight = threads == 0 ? 1 : 2 * static_cast<size_t>(threads) + 1;
    try {
        for (unsigned i = 0; i < threads; ++i) {
            m_workers.emplace_back([this] { Worker(); });
        }
    } catch (...) {
        StopWorkers();
        throw;
    }
}

ZipWriter::~ZipWriter()
{
    StopWorkers();
}

void ZipWriter::StopWorkers()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    for (std::thread& t : m_workers) {
        if (t.joinable()) {
            t.join();
        }
    }
    m_workers.clear();
}

void ZipWriter::Emit(const void* data, size_t size)
{
    m_sink.Write(data, size);
    m_offset += size;
}

void ZipWriter::CheckNewEntry(std::string_view name)
{
    if (m_finished || m_inPart) {
        throw EngineError("zip writer used out of order");
    }
    if (m_entries.size() >= kMaxEntries) {
        throw LimitError("the workbook has too many parts for an xlsx file (at most 65,535)");
    }
    if (m_offset > m_maxField) {
        TooLarge("the workbook");
    }
    if (name.empty() || name.size() > 0xFFFF) {
        throw EngineError("invalid zip part name");
    }
}

void ZipWriter::AppendEntryFields(std::vector<uint8_t>& out, const Entry& entry)
{
    le::Append16(out, kVersion);
    le::Append16(out, entry.dataDescriptor ? kFlagDataDescriptor : 0);
    le::Append16(out, entry.stored ? kMethodStored : kMethodDeflate);
    le::Append16(out, kDosTime);
    le::Append16(out, kDosDate);
    le::Append32(out, entry.crc);
    le::Append32(out, entry.compressedSize);
    le::Append32(out, entry.size);
    le::Append16(out, static_cast<uint16_t>(entry.name.size()));
    le::Append16(out, 0); // no extra field
}

void ZipWriter::WriteLocalHeader(const Entry& entry)
{
    std::vector<uint8_t> h;
    h.reserve(30 + entry.name.size());
    le::Append32(h, kLocalHeaderSig);
    AppendEntryFields(h, entry);
    h.insert(h.end(), entry.name.begin(), entry.name.end());
    Emit(h.data(), h.size());
}

ZipWriter::Entry ZipWriter::WholePartEntry(std::string_view name, std::string_view data)
{
    CheckNewEntry(name);
    if (data.size() > m_maxField) {
        TooLarge("part " + std::string(name));
    }
    Entry entry;
    entry.name = std::string(name);
    entry.offset = m_offset;
    entry.size = data.size();
    entry.crc = libdeflate_crc32(0, data.data(), data.size());
    return entry;
}

void ZipWriter::AddPart(std::string_view name, std::string_view data)
{
    Entry entry = WholePartEntry(name, data);

    StageTimer timer(Stage::Compress);
    std::vector<uint8_t> packed(libdeflate_deflate_compress_bound(m_deflater->whole, data.size()));
    entry.compressedSize =
        libdeflate_deflate_compress(m_deflater->whole, data.data(), data.size(), packed.data(), packed.size());
    if (entry.compressedSize == 0) {
        throw EngineError("deflate failed while writing " + entry.name);
    }
    if (entry.compressedSize > m_maxField) {
        TooLarge("part " + entry.name);
    }

    WriteLocalHeader(entry);
    Emit(packed.data(), static_cast<size_t>(entry.compressedSize));
    m_entries.push_back(std::move(entry));
}

void ZipWriter::AddStoredPart(std::string_view name, std::string_view data)
{
    Entry entry = WholePartEntry(name, data);
    entry.compressedSize = data.size();
    entry.stored = true;
    WriteLocalHeader(entry);
    Emit(data.data(), data.size());
    m_entries.push_back(std::move(entry));
}

void ZipWriter::BeginPart(std::string_view name)
{
    CheckNewEntry(name);
    Entry entry;
    entry.name = std::string(name);
    entry.offset = m_offset;
    entry.dataDescriptor = true;
    WriteLocalHeader(entry);
    m_entries.push_back(std::move(entry));
    m_inPart = true;
    m_tail.clear();
    m_block.clear();
    m_block.reserve(kBlockBytes);
}

void ZipWriter::Write(const void* data, size_t size)
{
    if (!m_inPart) {
        throw EngineError("zip writer used out of order");
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        // Until the part's first block has gone, it may yet end within kWholeBytes and be deflated
        // whole.
        const size_t limit = m_entries.back().size == 0 ? kWholeBytes : kBlockBytes;
        size_t take = std::min(size, limit - m_block.size());
        m_block.insert(m_block.end(), bytes, bytes + take);
        bytes += take;
        size -= take;
        if (m_block.size() == limit) {
            SubmitBlock();
        }
    }
}

void ZipWriter::DeflateBlock(Deflater& deflater, Job& job)
{
    StageTimer timer(Stage::Compress);
    job.crc = libdeflate_crc32(0, job.input.data(), job.input.size());
    if (job.whole) {
        size_t bound = libdeflate_deflate_compress_bound(deflater.whole, job.input.size());
        if (job.output.size() < bound) {
            job.output.resize(bound);
        }
        job.outputSize = libdeflate_deflate_compress(deflater.whole, job.input.data(), job.input.size(),
                                                     job.output.data(), job.output.size());
        if (job.outputSize == 0) {
            throw EngineError("deflate failed");
        }
        return;
    }
    // Sync-flushed, so that the next block's output can follow it directly.
    job.outputSize = deflater.blocks.Deflate(job.input, job.dictionary, job.output);
}

void ZipWriter::SubmitBlock(bool whole)
{
    if (m_block.empty() && !whole) {
        return;
    }
    // What was held of a part's start goes as the blocks it would have been cut into.
    if (!whole && m_block.size() > kBlockBytes) {
        std::vector<uint8_t> held = std::move(m_block);
        for (size_t at = 0; at < held.size(); at += kBlockBytes) {
            const auto end = held.begin() + static_cast<std::ptrdiff_t>(std::min(at + kBlockBytes, held.size()));
            m_block.assign(held.begin() + static_cast<std::ptrdiff_t>(at), end);
            SubmitBlock();
        }
        return;
    }
    Entry& entry = m_entries.back();
    entry.size += m_block.size();
    if (entry.size > m_maxField) {
        TooLarge("part " + entry.name);
    }
    std::unique_ptr<Job> job;
    {
        std::lock_guard lock(m_mutex);
        if (!m_spare.empty()) {
            job = std::move(m_spare.back());
            m_spare.pop_back();
        }
    }
    if (!job) {
        job = std::make_unique<Job>();
    }
    job->whole = whole;
    job->taken = false;
    job->done = false;
    job->error = nullptr;
    job->dictionary.assign(m_tail.begin(), m_tail.end());
    // The next block is primed with the last 32 KiB (the deflate window) of this one and of what
    // came before it.
    SlideWindow(m_tail, m_block);
    std::swap(job->input, m_block);
    m_block.clear();
    m_block.reserve(kBlockBytes);

    // A part's only block is deflated here: EndPart waits for it at once, so a worker would gain
    // nothing but the hand-off, which cost the kernel two wake-ups and a thread switch a part (a
    // tenth of W1's time went to the kernel, mostly to these).
    if (m_workers.empty() || whole) {
        DeflateBlock(*m_deflater, *job);
        job->done = true;
        std::lock_guard lock(m_mutex);
        m_jobs.push_back(std::move(job));
    } else {
        {
            std::lock_guard lock(m_mutex);
            m_jobs.push_back(std::move(job));
        }
        m_changed.notify_all();
    }
    EmitDone(true, m_maxInFlight - 1);
}

// Writes finished blocks from the front of the queue; with `wait`, waits until at most
// `keepAtMost` blocks remain in flight.
void ZipWriter::EmitDone(bool wait, size_t keepAtMost)
{
    Entry& entry = m_entries.back();
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock lock(m_mutex);
            if (m_jobs.empty()) {
                return;
            }
            if (!m_jobs.front()->done) {
                if (!wait || m_jobs.size() <= keepAtMost) {
                    return;
                }
                m_changed.wait(lock, [this] { return m_jobs.front()->done; });
            }
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        if (job->error) {
            std::rethrow_exception(job->error);
        }
        entry.crc = static_cast<uint32_t>(crc32_combine(entry.crc, job->crc, static_cast<z_off_t>(job->input.size())));
        entry.compressedSize += job->outputSize;
        if (entry.compressedSize > m_maxField) {
            TooLarge("part " + entry.name);
        }
        Emit(job->output.data(), job->outputSize);
        std::lock_guard lock(m_mutex);
        m_spare.push_back(std::move(job));
    }
}

void ZipWriter::Worker()
{
    // Made with the first block, inside the guard: a compressor that cannot start (no memory left)
    // fails that block, and the writer's caller gets the error, instead of ending the program.
    std::unique_ptr<Deflater> deflater;
    std::unique_lock lock(m_mutex);
    for (;;) {
        Job* job = nullptr;
        m_changed.wait(lock, [&] {
            if (m_stop) {
                return true;
            }
            for (auto& j : m_jobs) {
                if (!j->taken) {
                    job = j.get();
                    return true;
                }
            }
            return false;
        });
        if (m_stop) {
            return;
        }
        job->taken = true;
        lock.unlock();
        try {
            if (!deflater) {
                deflater = std::make_unique<Deflater>(m_level);
            }
            DeflateBlock(*deflater, *job);
        } catch (...) {
            job->error = std::current_exception();
        }
        lock.lock();
        job->done = true;
        m_changed.notify_all();
    }
}

void ZipWriter::EndPart()
{
    if (!m_inPart) {
        throw EngineError("zip writer used out of order");
    }
    Entry& entry = m_entries.back();
    // A part that never filled a block is deflated whole, its stream closed by libdeflate.
    bool whole = entry.size == 0;
    SubmitBlock(whole);
    EmitDone(true, 0);
    if (!whole) {
        EndStream();
    }
    m_inPart = false;
    std::vector<uint8_t> d;
    le::Append32(d, kDataDescriptorSig);
    le::Append32(d, entry.crc);
    le::Append32(d, entry.compressedSize);
    le::Append32(d, entry.size);
    Emit(d.data(), d.size());
}

void ZipWriter::EndStream()
{
    // An empty final block closes the deflate stream of blocks ended with sync flushes.
    const std::vector<uint8_t> end = m_deflater->blocks.Finish();
    const size_t endSize = end.size();
    Entry& entry = m_entries.back();
    entry.compressedSize += endSize;
    if (entry.compressedSize > m_maxField) {
        TooLarge("part " + entry.name);
    }
    Emit(end.data(), endSize);
}

void ZipWriter::WriteDeflated(const DeflatedPiece& piece,
                              const std::function<void(uint64_t offset, std::span<uint8_t> out)>& read)
{
    if (!m_inPart) {
        throw EngineError("zip writer used out of order");
    }
    if (piece.size == 0) {
        return;
    }
    // The piece's blocks follow the last block of what came before, so that one must end first.
    SubmitBlock();
    EmitDone(true, 0);
    Entry& entry = m_entries.back();
    entry.size += piece.size;
    entry.compressedSize += piece.compressedSize;
    if (entry.size > m_maxField || entry.compressedSize > m_maxField) {
        TooLarge("part " + entry.name);
    }
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(piece.compressedSize, kBlockBytes)));
    for (uint64_t done = 0; done < piece.compressedSize;) {
        const auto n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), piece.compressedSize - done));
        read(done, std::span<uint8_t>(buffer.data(), n));
        Emit(buffer.data(), n);
        done += n;
    }
    entry.crc = static_cast<uint32_t>(crc32_combine(entry.crc, piece.crc, static_cast<z_off_t>(piece.size)));
    // The next block is primed with the 32 KiB before it, which reach back before a short piece. A
    // window that does not hold the whole piece is all that may prime it: the bytes before the
    // piece are not the ones the next block follows.
    if (piece.window.size() < piece.size) {
        m_tail.clear();
    }
    SlideWindow(m_tail, piece.window);
}

void ZipWriter::Finish()
{
    if (m_finished || m_inPart) {
        throw EngineError("zip writer used out of order");
    }
    uint64_t directoryOffset = m_offset;
    std::vector<uint8_t> cd;
    for (const Entry& e : m_entries) {
        le::Append32(cd, kCentralHeaderSig);
        le::Append16(cd, kVersion); // made by: MS-DOS attributes, version 2.0
        AppendEntryFields(cd, e);
        le::Append16(cd, 0); // comment
        le::Append16(cd, 0); // disk number
        le::Append16(cd, 0); // internal attributes
        le::Append32(cd, 0); // external attributes
        le::Append32(cd, e.offset);
        cd.insert(cd.end(), e.name.begin(), e.name.end());
    }
    if (directoryOffset > m_maxField || cd.size() > m_maxField - directoryOffset) {
        TooLarge("the workbook");
    }
    uint64_t directorySize = cd.size();
    le::Append32(cd, kEndOfCentralDirSig);
    le::Append16(cd, 0);
    le::Append16(cd, 0);
    le::Append16(cd, static_cast<uint16_t>(m_entries.size()));
    le::Append16(cd, static_cast<uint16_t>(m_entries.size()));
    le::Append32(cd, directorySize);
    le::Append32(cd, directoryOffset);
    le::Append16(cd, 0); // comment length
    Emit(cd.data(), cd.size());
    m_finished = true;
}

} // namespace gq::engine
