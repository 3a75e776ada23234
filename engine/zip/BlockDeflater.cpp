// The primed block deflater, over zlib's streaming deflate (libdeflate cannot prime or flush).
// SPDX-License-Identifier: Apache-2.0
#include "engine/zip/BlockDeflater.h"

#include "engine/Errors.h"

#include <zlib.h>

namespace gq::engine {

struct BlockDeflater::Stream {
    z_stream z{};
};

BlockDeflater::BlockDeflater(int level) : m_stream(std::make_unique<Stream>())
{
    // Negative window bits: raw deflate, with neither header nor checksum.
    if (deflateInit2(&m_stream->z, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw EngineError("cannot start the deflate compressor");
    }
}

BlockDeflater::~BlockDeflater()
{
    deflateEnd(&m_stream->z);
}

size_t BlockDeflater::Deflate(std::span<const uint8_t> input, std::span<const uint8_t> dictionary,
                              std::vector<uint8_t>& output)
{
    z_stream& s = m_stream->z;
    deflateReset(&s);
    if (!dictionary.empty() &&
        deflateSetDictionary(&s, dictionary.data(), static_cast<uInt>(dictionary.size())) != Z_OK) {
        throw EngineError("deflate failed");
    }
    const size_t bound = deflateBound(&s, static_cast<uLong>(input.size())) + 16;
    if (output.size() < bound) {
        output.resize(bound);
    }
    s.next_in = const_cast<Bytef*>(input.data());
    s.avail_in = static_cast<uInt>(input.size());
    size_t produced = 0;
    for (;;) {
        s.next_out = output.data() + produced;
        s.avail_out = static_cast<uInt>(output.size() - produced);
        if (deflate(&s, Z_SYNC_FLUSH) == Z_STREAM_ERROR) {
            throw EngineError("deflate failed");
        }
        produced = output.size() - s.avail_out;
        if (s.avail_in == 0 && s.avail_out != 0) {
            return produced;
        }
        output.resize(output.size() * 2);
    }
}

std::vector<uint8_t> BlockDeflater::Finish()
{
    z_stream& s = m_stream->z;
    deflateReset(&s);
    std::vector<uint8_t> end(16);
    s.next_in = nullptr;
    s.avail_in = 0;
    s.next_out = end.data();
    s.avail_out = static_cast<uInt>(end.size());
    if (deflate(&s, Z_FINISH) != Z_STREAM_END) {
        throw EngineError("deflate failed");
    }
    end.resize(end.size() - s.avail_out);
    return end;
}

void SlideWindow(std::vector<uint8_t>& window, std::span<const uint8_t> bytes)
{
    constexpr size_t kWindow = BlockDeflater::kWindowBytes;
    if (bytes.size() >= kWindow) {
        window.assign(bytes.end() - static_cast<std::ptrdiff_t>(kWindow), bytes.end());
        return;
    }
    window.insert(window.end(), bytes.begin(), bytes.end());
    if (window.size() > kWindow) {
        window.erase(window.begin(), window.end() - static_cast<std::ptrdiff_t>(kWindow));
    }
}

} // namespace gq::engine
