// Rows of a worksheet moved out of memory into a temporary file while a large workbook is built,
// so that memory holds the rows still being worked on, not everything built so far.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace gq::engine {

// An append-only temporary file. It is created without a name where the file system allows
// (O_TMPFILE), otherwise named and removed at once, so that nothing is left behind whether the
// program finishes, fails or is stopped. One file serves every sheet of a workbook.
class SpillFile {
public:
    // In `folder` where it can be made there, otherwise in the temporary folder.
    explicit SpillFile(const std::string& folder = {});
    ~SpillFile();
    SpillFile(const SpillFile&) = delete;
    SpillFile& operator=(const SpillFile&) = delete;

    // Writes `bytes` at the end and gives their offset. Throws IoError when the disk refuses.
    uint64_t Append(std::span<const uint8_t> bytes);
    // Reads back what Append wrote. Throws IoError.
    void Read(uint64_t offset, std::span<uint8_t> out) const;
    uint64_t Size() const { return m_size; }

private:
    int m_fd = -1;
    uint64_t m_size = 0;
};

} // namespace gq::engine
