// Zip package access through libzip over the mapped file: no copy of the archive is made, and
// every part is inflated under the limits of Limits.h, a small one in one call through libdeflate,
// a large one in bounded chunks through libzip and zlib.
// SPDX-License-Identifier: Apache-2.0
#include "engine/zip/ZipReader.h"

#include "common/AsciiText.h"
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/ReadCancel.h"

#include <libdeflate.h>
#include <zip.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace gq::engine {

namespace {

constexpr size_t kChunkBytes = size_t{256} * 1024;
// Parts from this size on are inflated on a thread of their own (a thread costs about 50 us).
constexpr uint64_t kThreadedInflateBytes = 4ull << 20;
// Deflated parts below this size are inflated in one call into a buffer of their declared size:
// libdeflate inflates about twice as fast as zlib, but only whole buffers. The bound keeps the
// buffer small beside the sheet it is parsed into, and the large parts (W2's sheets of 50 MB) on
// the streamed path, so that memory does not grow with them.
constexpr uint64_t kWholeInflateBytes = kThreadedInflateBytes;
// A deflate stream that holds more than this beside what it declares to inflate to is padded with
// empty blocks; it is left to the streamed path rather than copied whole.
constexpr uint64_t kWholeInflateSlackBytes = 64ull << 10;

std::string ZipProblem(int code)
{
    switch (code) {
    case ZIP_ER_NOZIP:
        return "the file is not a zip package (its central directory is missing)";
    case ZIP_ER_INCONS:
        return "the zip package is damaged (its directory contradicts its content)";
    case ZIP_ER_EOF:
        return "the zip package is truncated";
    case ZIP_ER_CRC:
        return "a part of the zip package is damaged (CRC check failed)";
    case ZIP_ER_COMPNOTSUPP:
        return "a part of the zip package uses an unsupported compression method";
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
        return "a part of the zip package is encrypted";
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
        return "a part of the zip package holds invalid compressed data";
    case ZIP_ER_MULTIDISK:
        return "multi-volume zip archives are not supported";
    case ZIP_ER_MEMORY:
        return "out of memory while reading the zip package";
    default: {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        std::string text = std::string("the zip package cannot be read: ") + zip_error_strerror(&error);
        zip_error_fini(&error);
        return text;
    }
    }
}

// Closes a part on every path out of Inflate.
struct FileCloser {
    zip_file_t* file;
    ~FileCloser()
    {
        if (file != nullptr) {
            zip_fclose(file);
        }
    }
};

} // namespace

std::string ZipReader::NormalizeName(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '\\') {
            c = '/';
        } else {
            c = AsciiLower(c);
        }
        out.push_back(c);
    }
    size_t lead = out.find_first_not_of('/');
    out.erase(0, lead == std::string::npos ? out.size() : lead);
    return out;
}

ZipReader::ZipReader(std::shared_ptr<const InputBytes> bytes) : m_bytes(std::move(bytes))
{
    auto data = m_bytes->Data();
    if (data.empty()) {
        throw FormatError(FileName(), "the file is empty");
    }
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data.data(), data.size(), 0, &error);
    if (source == nullptr) {
        std::string problem = ZipProblem(zip_error_code_zip(&error));
        zip_error_fini(&error);
        throw FormatError(FileName(), problem);
    }
    m_zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (m_zip == nullptr) {
        zip_source_free(source);
        std::string problem = ZipProblem(zip_error_code_zip(&error));
        zip_error_fini(&error);
        throw FormatError(FileName(), problem);
    }
    zip_error_fini(&error);

    zip_int64_t count = zip_get_num_entries(m_zip, 0);
    if (count < 0 || static_cast<uint64_t>(count) > limits::kMaxZipEntries) {
        zip_discard(m_zip);
        m_zip = nullptr;
        throw LimitError(FileName(),
                         "the zip package holds more than " + std::to_string(limits::kMaxZipEntries) + " parts");
    }
    m_index.reserve(static_cast<size_t>(count));
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(m_zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (name == nullptr) {
            continue;
        }
        // The first entry of a name wins, as in readers that scan the central directory in order.
        m_index.emplace(NormalizeName(name), static_cast<uint64_t>(i));
    }
}

ZipReader::~ZipReader()
{
    if (m_zip != nullptr) {
        zip_discard(m_zip);
    }
}

int64_t ZipReader::Find(std::string_view partName) const
{
    auto it = m_index.find(NormalizeName(partName));
    return it == m_index.end() ? -1 : static_cast<int64_t>(it->second);
}

bool ZipReader::Has(std::string_view partName) const
{
    return Find(partName) >= 0;
}

uint64_t ZipReader::DeclaredSize(std::string_view partName) const
{
    int64_t index = Find(partName);
    zip_stat_t st;
    if (index < 0 || zip_stat_index(m_zip, static_cast<zip_uint64_t>(index), 0, &st) != 0 ||
        (st.valid & ZIP_STAT_SIZE) == 0) {
        return 0;
    }
    return st.size;
}

void ZipReader::DecompressorFree::operator()(libdeflate_decompressor* decompressor) const
{
    libdeflate_free_decompressor(decompressor);
}

std::string ZipReader::ReadPart(std::string_view partName, uint64_t maxBytes)
{
    zip_stat_t st = CheckedStat(partName, maxBytes);
    std::string part(partName);
    if (InflatesWhole(st)) {
        if (auto whole = InflateWhole(st)) {
            return std::move(*whole);
        }
    }
    std::string out;
    InflateStreamed(st, part, [&out](const char* data, size_t size) { out.append(data, size); });
    return out;
}

void ZipReader::StreamPart(std::string_view partName, const std::function<void(const char*, size_t)>& consume)
{
    // Large parts (worksheets) inflate on a second thread while this one parses: inflating is a
    // fifth of the cost of reading a sheet, and the machines we run on have a second core.
    if (DeclaredSize(partName) < kThreadedInflateBytes) {
        Inflate(partName, limits::kMaxPartBytes, consume);
        return;
    }
    struct Cancelled {};
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::vector<char>> full;
        std::vector<std::vector<char>> spare;
        bool done = false;
        bool cancel = false;
        std::exception_ptr error;
    } shared;
    constexpr size_t kQueued = 4;
    std::thread inflater([&] {
        try {
            Inflate(partName, limits::kMaxPartBytes, [&](const char* data, size_t size) {
                std::vector<char> buffer;
                {
                    std::unique_lock lock(shared.mutex);
                    shared.changed.wait(lock, [&] { return shared.full.size() < kQueued || shared.cancel; });
                    if (shared.cancel) {
                        throw Cancelled{};
                    }
                    if (!shared.spare.empty()) {
                        buffer = std::move(shared.spare.back());
                        shared.spare.pop_back();
                    }
                }
                buffer.assign(data, data + size);
                std::lock_guard lock(shared.mutex);
                shared.full.push_back(std::move(buffer));
                shared.changed.notify_all();
            });
        } catch (const Cancelled&) {
        } catch (...) {
            std::lock_guard lock(shared.mutex);
            shared.error = std::current_exception();
        }
        std::lock_guard lock(shared.mutex);
        shared.done = true;
        shared.changed.notify_all();
    });
    try {
        for (;;) {
            std::vector<char> buffer;
            {
                std::unique_lock lock(shared.mutex);
                shared.changed.wait(lock, [&] { return !shared.full.empty() || shared.done; });
                if (shared.full.empty()) {
                    break;
                }
                buffer = std::move(shared.full.front());
                shared.full.pop_front();
                shared.changed.notify_all();
            }
            // The inflater thread has no stop mark of its own: the abandoned read ends here, and
            // the inflater is told to stop below.
            ThrowIfReadCancelled();
            consume(buffer.data(), buffer.size());
            std::lock_guard lock(shared.mutex);
            shared.spare.push_back(std::move(buffer));
        }
    } catch (...) {
        {
            std::lock_guard lock(shared.mutex);
            shared.cancel = true;
            shared.changed.notify_all();
        }
        inflater.join();
        throw;
    }
    inflater.join();
    if (shared.error) {
        std::rethrow_exception(shared.error);
    }
}

zip_stat_t ZipReader::CheckedStat(std::string_view partName, uint64_t maxBytes) const
{
    std::string part(partName);
    int64_t index = Find(partName);
    if (index < 0) {
        throw FormatError(FileName(), "a part the package refers to is missing", part);
    }
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, static_cast<zip_uint64_t>(index), 0, &st) != 0 ||
        (st.valid & (ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE)) != (ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE)) {
        throw FormatError(FileName(), "the zip directory entry of a part is unreadable", part);
    }
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) != 0 && st.encryption_method != ZIP_EM_NONE) {
        throw PasswordProtectedError(FileName());
    }
    // Every limit is checked against the declared sizes before a byte is inflated, and against the
    // bytes actually produced while inflating, since the declared sizes may lie.
    uint64_t limit = std::min<uint64_t>(maxBytes, limits::kMaxPartBytes);
    if (st.size > limit) {
        throw LimitError(FileName(), "the part " + part + " would inflate to " + std::to_string(st.size) +
                                         " bytes, more than the " + std::to_string(limit) + " this program accepts");
    }
    if (st.size > limits::kRatioCheckThreshold &&
        st.size / std::max<uint64_t>(st.comp_size, 1) > limits::kMaxCompressionRatio) {
        throw LimitError(FileName(),
                         "the part " + part + " is compressed more than 1000 to 1; the file looks like a zip bomb");
    }
    if (m_totalInflated + st.size > limits::kMaxTotalInflatedBytes) {
        throw LimitError(FileName(), "the package inflates to more than " +
                                         std::to_string(limits::kMaxTotalInflatedBytes >> 30) + " GB");
    }
    return st;
}

bool ZipReader::InflatesWhole(const zip_stat_t& st)
{
    // Stored parts and other methods keep libzip's path, which copies or refuses them.
    return (st.valid & (ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC)) == (ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC) &&
           st.comp_method == ZIP_CM_DEFLATE && st.size < kWholeInflateBytes &&
           st.comp_size <= st.size + kWholeInflateSlackBytes;
}

std::optional<std::string> ZipReader::InflateWhole(const zip_stat_t& st)
{
    // The raw deflate stream, as libzip finds it from the local header. Whatever fails from here on
    // is left to the streamed path, which reports it (see below).
    FileCloser closer{zip_fopen_index(m_zip, st.index, ZIP_FL_COMPRESSED)};
    if (closer.file == nullptr) {
        return std::nullopt;
    }
    std::vector<uint8_t> packed(static_cast<size_t>(st.comp_size));
    size_t got = 0;
    while (got < packed.size()) {
        zip_int64_t n = zip_fread(closer.file, packed.data() + got, packed.size() - got);
        if (n <= 0) {
            return std::nullopt;
        }
        got += static_cast<size_t>(n);
    }
    // Inflating a few MB takes a few milliseconds: a read that is no longer wanted ends before it.
    ThrowIfReadCancelled();
    if (!m_decompressor) {
        m_decompressor.reset(libdeflate_alloc_decompressor());
        if (!m_decompressor) {
            throw EngineError("out of memory while reading the zip package " + FileName());
        }
    }
    // The stream may end anywhere within its compressed bytes, as zlib allows; the output must
    // fill the declared size exactly and match the CRC.
    std::string out(static_cast<size_t>(st.size), '\0');
    size_t produced = 0;
    libdeflate_result result = libdeflate_deflate_decompress(m_decompressor.get(), packed.data(), packed.size(),
                                                             out.data(), out.size(), &produced);
    if (result != LIBDEFLATE_SUCCESS || produced != st.size || libdeflate_crc32(0, out.data(), out.size()) != st.crc) {
        // A damaged part is read again through the streamed path, which finds and names the
        // damage (a size that lies, a stream cut short, a bad CRC) with its offset, as it did
        // before parts were read whole; a stream only zlib accepts is still read.
        return std::nullopt;
    }
    m_totalInflated += st.size;
    return out;
}

void ZipReader::Inflate(std::string_view partName, uint64_t maxBytes,
                        const std::function<void(const char*, size_t)>& consume)
{
    zip_stat_t st = CheckedStat(partName, maxBytes);
    std::string part(partName);
    std::optional<std::string> whole;
    if (InflatesWhole(st)) {
        whole = InflateWhole(st);
    }
    if (!whole) {
        InflateStreamed(st, part, consume);
        return;
    }
    // Handed on in the chunks of the streamed path, with the same chance to end a cancelled read
    // between them.
    for (size_t at = 0; at < whole->size(); at += kChunkBytes) {
        ThrowIfReadCancelled();
        consume(whole->data() + at, std::min(kChunkBytes, whole->size() - at));
    }
}

void ZipReader::InflateStreamed(const zip_stat_t& st, const std::string& part,
                                const std::function<void(const char*, size_t)>& consume)
{
    FileCloser closer{zip_fopen_index(m_zip, st.index, 0)};
    if (closer.file == nullptr) {
        throw FormatError(FileName(), ZipProblem(zip_error_code_zip(zip_get_error(m_zip))), part);
    }
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(kChunkBytes, std::max<uint64_t>(st.size, 1))));
    uint64_t produced = 0;
    for (;;) {
        zip_int64_t n = zip_fread(closer.file, buffer.data(), buffer.size());
        if (n < 0) {
            throw FormatError(FileName(), ZipProblem(zip_error_code_zip(zip_file_get_error(closer.file))), part,
                              static_cast<int64_t>(produced));
        }
        if (n == 0) {
            break;
        }
        produced += static_cast<uint64_t>(n);
        if (produced > st.size) {
            throw FormatError(FileName(),
                              "the zip package is damaged: a part inflates to more bytes than its directory declares",
                              part, static_cast<int64_t>(st.size));
        }
        m_totalInflated += static_cast<uint64_t>(n);
        // A part that inflates to much more than its file holds takes long: a read that is no
        // longer wanted ends between chunks.
        ThrowIfReadCancelled();
        consume(buffer.data(), static_cast<size_t>(n));
    }
    if (produced != st.size) {
        throw FormatError(FileName(),
                          "the zip package is damaged: a part inflates to fewer bytes than its directory declares",
                          part, static_cast<int64_t>(produced));
    }
}

} // namespace gq::engine
