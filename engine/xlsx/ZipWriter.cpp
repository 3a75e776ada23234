// The deterministic streaming zip writer behind the xlsx writer.
#include "engine/xlsx/ZipWriter.h"

#include "engine/Errors.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

namespace gq::engine {

namespace {

// Largest value of the 32-bit size and offset fields; reaching it would need Zip64.
constexpr uint64_t kMaxZip32 = 0xFFFFFFFFull;
constexpr size_t kMaxEntries = 0xFFFF;
constexpr size_t kOutBufferBytes = 256 * 1024;
// Chunks waiting for the background deflater: enough to keep it busy, little memory.
constexpr size_t kMaxQueuedChunks = 3;

// MS-DOS date and time of 1980-01-01 00:00:00, the earliest a zip entry can carry.
constexpr uint16_t kDosTime = 0;
constexpr uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;
constexpr uint16_t kVersion = 20; // 2.0: deflate
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kFlagDataDescriptor = 1 << 3;

constexpr uint32_t kLocalHeaderSig = 0x04034b50;
constexpr uint32_t kDataDescriptorSig = 0x08074b50;
constexpr uint32_t kCentralHeaderSig = 0x02014b50;
constexpr uint32_t kEndOfCentralDirSig = 0x06054b50;

void Put16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint64_t v)
{
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
}

[[noreturn]] void TooLarge(const std::string& what)
{
    throw LimitError(what + " is too large for an xlsx file: zip packages larger than 4 GiB are not written");
}

} // namespace

struct ZipWriter::Deflater {
    z_stream stream{};
    explicit Deflater(int level)
    {
        // Raw deflate (negative window bits): the zip entry carries its own CRC and sizes.
        if (deflateInit2(&stream, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
            throw EngineError("cannot start the deflate compressor");
        }
    }
    ~Deflater() { deflateEnd(&stream); }
};

ZipWriter::ZipWriter(ByteSink& sink, int level, bool background)
    : m_sink(sink), m_deflater(std::make_unique<Deflater>(level)), m_out(kOutBufferBytes),
      m_background(background)
{
    if (m_background) {
        m_thread = std::thread([this] { Worker(); });
    }
}

ZipWriter::~ZipWriter()
{
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
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
    if (m_offset > kMaxZip32) {
        TooLarge("the workbook");
    }
    if (name.empty() || name.size() > 0xFFFF) {
        throw EngineError("invalid zip part name");
    }
}

void ZipWriter::WriteLocalHeader(const Entry& entry)
{
    std::vector<uint8_t> h;
    h.reserve(30 + entry.name.size());
    Put32(h, kLocalHeaderSig);
    Put16(h, kVersion);
    Put16(h, entry.dataDescriptor ? kFlagDataDescriptor : 0);
    Put16(h, kMethodDeflate);
    Put16(h, kDosTime);
    Put16(h, kDosDate);
    Put32(h, entry.crc);
    Put32(h, entry.compressedSize);
    Put32(h, entry.size);
    Put16(h, static_cast<uint16_t>(entry.name.size()));
    Put16(h, 0); // no extra field
    h.insert(h.end(), entry.name.begin(), entry.name.end());
    Emit(h.data(), h.size());
}

void ZipWriter::AddPart(std::string_view name, std::string_view data)
{
    CheckNewEntry(name);
    if (data.size() > kMaxZip32) {
        TooLarge("part " + std::string(name));
    }
    Entry entry;
    entry.name = std::string(name);
    entry.offset = m_offset;
    entry.size = data.size();
    entry.crc = static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));

    z_stream& s = m_deflater->stream;
    std::vector<uint8_t> packed(deflateBound(&s, static_cast<uLong>(data.size())));
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = packed.data();
    s.avail_out = static_cast<uInt>(packed.size());
    int ret = deflate(&s, Z_FINISH);
    if (ret != Z_STREAM_END) {
        deflateReset(&s);
        throw EngineError("deflate failed while writing " + entry.name);
    }
    entry.compressedSize = packed.size() - s.avail_out;
    deflateReset(&s);

    WriteLocalHeader(entry);
    Emit(packed.data(), static_cast<size_t>(entry.compressedSize));
    m_entries.push_back(std::move(entry));
}

void ZipWriter::BeginPart(std::string_view name)
{
    CheckNewEntry(name);
    RethrowWorkerError();
    Entry entry;
    entry.name = std::string(name);
    entry.offset = m_offset;
    entry.dataDescriptor = true;
    WriteLocalHeader(entry);
    m_entries.push_back(std::move(entry));
    m_inPart = true;
}

void ZipWriter::DeflateChunk(const uint8_t* data, size_t size, bool finish)
{
    Entry& entry = m_entries.back();
    z_stream& s = m_deflater->stream;
    if (size > 0) {
        entry.crc = static_cast<uint32_t>(crc32_z(entry.crc, data, size));
        entry.size += size;
        if (entry.size > kMaxZip32) {
            TooLarge("part " + entry.name);
        }
    }
    s.next_in = const_cast<Bytef*>(data);
    s.avail_in = static_cast<uInt>(size);
    int flush = finish ? Z_FINISH : Z_NO_FLUSH;
    for (;;) {
        s.next_out = m_out.data();
        s.avail_out = static_cast<uInt>(m_out.size());
        int ret = deflate(&s, flush);
        if (ret == Z_STREAM_ERROR) {
            throw EngineError("deflate failed while writing " + entry.name);
        }
        size_t produced = m_out.size() - s.avail_out;
        if (produced > 0) {
            entry.compressedSize += produced;
            if (entry.compressedSize > kMaxZip32) {
                TooLarge("part " + entry.name);
            }
            Emit(m_out.data(), produced);
        }
        if (finish ? ret == Z_STREAM_END : (s.avail_in == 0 && s.avail_out != 0)) {
            break;
        }
    }
}

void ZipWriter::Write(const void* data, size_t size)
{
    if (!m_inPart) {
        throw EngineError("zip writer used out of order");
    }
    if (size == 0) {
        return;
    }
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (!m_background) {
        // zlib counts input in 32-bit units; feed very large writes in slices.
        constexpr size_t kSlice = size_t{1} << 30;
        for (size_t done = 0; done < size; done += kSlice) {
            DeflateChunk(bytes + done, std::min(kSlice, size - done), false);
        }
        return;
    }
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.size() < kMaxQueuedChunks || m_workerError; });
    if (m_workerError) {
        lock.unlock();
        RethrowWorkerError();
    }
    std::vector<uint8_t> chunk;
    if (!m_spare.empty()) {
        chunk = std::move(m_spare.back());
        m_spare.pop_back();
    }
    chunk.assign(bytes, bytes + size);
    m_queue.push_back(std::move(chunk));
    lock.unlock();
    m_changed.notify_all();
}

void ZipWriter::Worker()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop) {
            return;
        }
        std::vector<uint8_t> chunk = std::move(m_queue.front());
        m_queue.erase(m_queue.begin());
        m_busy = true;
        bool failed = m_workerError != nullptr;
        lock.unlock();
        if (!failed) {
            try {
                DeflateChunk(chunk.data(), chunk.size(), false);
            } catch (...) {
                lock.lock();
                m_workerError = std::current_exception();
                lock.unlock();
            }
        }
        lock.lock();
        m_busy = false;
        m_spare.push_back(std::move(chunk));
        m_changed.notify_all();
    }
}

void ZipWriter::WaitIdle()
{
    if (!m_background) {
        return;
    }
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_queue.empty() && !m_busy; });
}

void ZipWriter::RethrowWorkerError()
{
    if (!m_background) {
        return;
    }
    std::exception_ptr error;
    {
        std::lock_guard lock(m_mutex);
        error = m_workerError;
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

void ZipWriter::EndPart()
{
    if (!m_inPart) {
        throw EngineError("zip writer used out of order");
    }
    WaitIdle();
    RethrowWorkerError();
    DeflateChunk(nullptr, 0, true);
    deflateReset(&m_deflater->stream);
    m_inPart = false;
    const Entry& entry = m_entries.back();
    std::vector<uint8_t> d;
    Put32(d, kDataDescriptorSig);
    Put32(d, entry.crc);
    Put32(d, entry.compressedSize);
    Put32(d, entry.size);
    Emit(d.data(), d.size());
}

void ZipWriter::Finish()
{
    if (m_finished || m_inPart) {
        throw EngineError("zip writer used out of order");
    }
    uint64_t directoryOffset = m_offset;
    std::vector<uint8_t> cd;
    for (const Entry& e : m_entries) {
        Put32(cd, kCentralHeaderSig);
        Put16(cd, kVersion); // made by: MS-DOS attributes, version 2.0
        Put16(cd, kVersion);
        Put16(cd, e.dataDescriptor ? kFlagDataDescriptor : 0);
        Put16(cd, kMethodDeflate);
        Put16(cd, kDosTime);
        Put16(cd, kDosDate);
        Put32(cd, e.crc);
        Put32(cd, e.compressedSize);
        Put32(cd, e.size);
        Put16(cd, static_cast<uint16_t>(e.name.size()));
        Put16(cd, 0); // extra field
        Put16(cd, 0); // comment
        Put16(cd, 0); // disk number
        Put16(cd, 0); // internal attributes
        Put32(cd, 0); // external attributes
        Put32(cd, e.offset);
        cd.insert(cd.end(), e.name.begin(), e.name.end());
    }
    if (directoryOffset > kMaxZip32 || cd.size() > kMaxZip32 - directoryOffset) {
        TooLarge("the workbook");
    }
    uint64_t directorySize = cd.size();
    Put32(cd, kEndOfCentralDirSig);
    Put16(cd, 0);
    Put16(cd, 0);
    Put16(cd, static_cast<uint16_t>(m_entries.size()));
    Put16(cd, static_cast<uint16_t>(m_entries.size()));
    Put32(cd, directorySize);
    Put32(cd, directoryOffset);
    Put16(cd, 0); // comment length
    Emit(cd.data(), cd.size());
    m_finished = true;
}

} // namespace gq::engine
