// The primed block deflater: raw deflate of one block of a part that is compressed in blocks,
// each primed with the bytes before it, so that the blocks joined make one deflate stream.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace gq::engine {

// Deflates the blocks of a part one at a time (RFC 1951, no zlib or gzip wrapper: the zip entry
// carries its own CRC and sizes). Every block but the stream's end is ended with a sync flush,
// byte-aligned and not final, so that the next block's output can follow it directly; a block
// primed with the last 32 KiB before it (kWindowBytes) compresses as it would inside one stream.
// Used from one thread at a time; each thread that deflates makes its own.
class BlockDeflater {
public:
    // The deflate window: how much of what came before a block primes it.
    static constexpr size_t kWindowBytes = size_t{32} * 1024;

    // Throws EngineError when the compressor cannot start.
    explicit BlockDeflater(int level);
    ~BlockDeflater();
    BlockDeflater(const BlockDeflater&) = delete;
    BlockDeflater& operator=(const BlockDeflater&) = delete;

    // Deflates `input` into the start of `output`, primed with `dictionary`, and returns how many
    // bytes it wrote. `output` only grows, so that a buffer reused for every block is not cleared
    // again each time.
    size_t Deflate(std::span<const uint8_t> input, std::span<const uint8_t> dictionary, std::vector<uint8_t>& output);

    // The empty final block that closes a stream of sync-flushed blocks.
    std::vector<uint8_t> Finish();

private:
    struct Stream;
    std::unique_ptr<Stream> m_stream;
};

// Keeps the last BlockDeflater::kWindowBytes of `window` followed by `bytes`: what primes the
// block after `bytes`.
void SlideWindow(std::vector<uint8_t>& window, std::span<const uint8_t> bytes);

} // namespace gq::engine
