// Decryption of .xls workbook streams protected with the password Excel applies by default to
// write-protected workbooks ("VelvetSweatshop"), which Excel itself opens without asking.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace gq::engine {

// `stream` holds a workbook stream whose FILEPASS record ([MS-XLS] 2.4.117) starts at
// `filePassOffset`. When the file is encrypted with the default password, fills `storage` with
// the decrypted stream (FILEPASS itself removed), points `stream` at it and returns true; returns
// false for any other password or method. Throws FormatError for a damaged FILEPASS record.
bool DecryptWithDefaultPassword(std::vector<uint8_t>& storage, std::span<const uint8_t>& stream,
                                size_t filePassOffset, int biffVersion, const std::string& fileName);

} // namespace gq::engine
