// A small deterministic writer of OLE2 compound files ([MS-CFB] version 3) holding one stream.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/Bytes.h"

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

namespace gq::engine {

// Writes a compound file whose root storage holds exactly one stream, `streamName`, with `data`
// as its content. 512-byte sectors, the FAT (with DIFAT sectors when it outgrows the header), a
// directory of a Root Entry and the stream; no timestamps, no class ids, no mini stream: `data`
// must be at least 4,096 bytes (the mini-stream cutoff), which a caller pads to. Identical input
// gives identical bytes. Throws LimitError when the stream is too large for version 3 and IoError
// when the sink fails.
void WriteCompoundFile(std::u16string_view streamName, std::span<const uint8_t> data, ByteSink& sink);

// As above, for a stream of `size` bytes that `writeStream` writes into the sink it is given, in
// order, when it is called: a stream held in pieces, some of them on disk, is not joined in memory
// first. Throws EngineError when `writeStream` writes another number of bytes.
void WriteCompoundFile(std::u16string_view streamName, uint64_t size, const std::function<void(ByteSink&)>& writeStream,
                       ByteSink& sink);

} // namespace gq::engine
