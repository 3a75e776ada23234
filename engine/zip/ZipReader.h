// Read access to the parts of a zip package (an OPC package such as xlsx) over mapped bytes, with
// the bomb limits of Limits.h checked before and while each part is inflated.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/Bytes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

struct zip;
struct zip_stat;
struct libdeflate_decompressor;

namespace gq::engine {

class ZipReader {
public:
    // Opens the package without copying it. Throws FormatError when the bytes are not a readable zip
    // archive, LimitError when it holds more entries than kMaxZipEntries.
    explicit ZipReader(std::shared_ptr<const InputBytes> bytes);
    ~ZipReader();
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    // Part names have no leading slash ("xl/workbook.xml") and are matched without regard to ASCII
    // case, as OPC part names are; entries stored with backslashes as separators are found under
    // the forward-slash name.
    bool Has(std::string_view partName) const;
    size_t EntryCount() const { return m_index.size(); }
    // Inflated size the zip directory declares for a part, or 0 when the part is missing.
    uint64_t DeclaredSize(std::string_view partName) const;

    // Inflates a whole part. Throws FormatError when it is missing or damaged (bad CRC, sizes that
    // lie), LimitError when it is larger than `maxBytes` or the package limits allow.
    std::string ReadPart(std::string_view partName, uint64_t maxBytes);
    // Inflates a part chunk by chunk into `consume`, with the same checks as ReadPart.
    void StreamPart(std::string_view partName, const std::function<void(const char*, size_t)>& consume);

    const std::string& FileName() const { return m_bytes->Name(); }
    const InputBytes& Bytes() const { return *m_bytes; }

    // Lower-cased, forward-slash, no-leading-slash form used as the lookup key of a part name.
    static std::string NormalizeName(std::string_view name);

private:
    struct DecompressorFree {
        void operator()(libdeflate_decompressor* decompressor) const;
    };

    int64_t Find(std::string_view partName) const;
    // Finds a part and checks its declared sizes against every limit before anything is inflated.
    zip_stat CheckedStat(std::string_view partName, uint64_t maxBytes) const;
    void Inflate(std::string_view partName, uint64_t maxBytes, const std::function<void(const char*, size_t)>& consume);
    // Whole-buffer inflating of a small deflated part (nothing when the part is damaged), and the
    // streamed inflating of any part.
    static bool InflatesWhole(const zip_stat& st);
    std::optional<std::string> InflateWhole(const zip_stat& st);
    void InflateStreamed(const zip_stat& st, const std::string& part,
                         const std::function<void(const char*, size_t)>& consume);

    std::shared_ptr<const InputBytes> m_bytes;
    zip* m_zip = nullptr;
    std::unordered_map<std::string, uint64_t> m_index; // normalized name -> entry index
    uint64_t m_totalInflated = 0;
    std::unique_ptr<libdeflate_decompressor, DecompressorFree> m_decompressor;
};

} // namespace gq::engine
