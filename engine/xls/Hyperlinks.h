// The Hyperlink Object inside an HLINK record ([MS-OSHARED] 2.3.7.1) and the text of HLinkTooltip:
// its class ids, flags and moniker layouts, read by the .xls reader and written by the .xls writer.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/ByteReader.h"
#include "engine/model/Workbook.h"
#include "engine/xls/BiffStream.h"
#include "engine/xls/BiffText.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace gq::engine::biff {

using Clsid = std::array<uint8_t, 16>;

// The hyperlink object's own class id (hlinkClsid) and those of the two monikers a user can
// follow, as their bytes appear in the file.
inline constexpr Clsid kStdLinkClsid = {0xD0, 0xC9, 0xEA, 0x79, 0xF9, 0xBA, 0xCE, 0x11,
                                        0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B};
inline constexpr Clsid kUrlMonikerClsid = {0xE0, 0xC9, 0xEA, 0x79, 0xF9, 0xBA, 0xCE, 0x11,
                                           0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B};
inline constexpr Clsid kFileMonikerClsid = {0x03, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};

// The hyperlink object's flags (hlstmf*).
namespace hlstmf {
inline constexpr uint32_t kHasMoniker = 0x01;
inline constexpr uint32_t kIsAbsolute = 0x02;
inline constexpr uint32_t kSiteGaveDisplayName = 0x04;
inline constexpr uint32_t kHasLocationStr = 0x08;
inline constexpr uint32_t kHasDisplayName = 0x10;
inline constexpr uint32_t kHasFrameName = 0x80;
inline constexpr uint32_t kMonikerSavedAsStr = 0x100;
} // namespace hlstmf

// The streamVersion every writer puts after hlinkClsid.
inline constexpr uint32_t kHyperlinkStreamVersion = 2;

// FileMoniker, [MS-OSHARED] 2.3.7.8: after cAnti and the 8-bit path come endServer,
// versionNumber and 20 reserved bytes, then the size of the optional UTF-16 part, which begins
// with its byte count and usKeyValue.
inline constexpr uint16_t kFileMonikerEndServer = 0xFFFF;
inline constexpr uint16_t kFileMonikerVersion = 0xDEAD;
inline constexpr size_t kFileMonikerReservedBytes = 16 + 4;
inline constexpr uint16_t kFileMonikerKeyValue = 3;

// ---- Reading ----------------------------------------------------------------------------------

// Reads a hyperlink object from hlinkClsid on into the display text, target and location of
// `link`; 8-bit file paths are decoded with `codePage`. Gives false for a moniker other than a URL
// or a file moniker: nothing a user could follow. Damage throws the reader's FormatError.
bool ReadHyperlinkObject(ByteReader& r, CodePageDecoder& codePage, Hyperlink& link);

// Appends UTF-16LE text up to its first NUL unit (or its end) as UTF-8, as URL monikers and
// HLinkTooltip records store it.
void AppendUtf16UntilNul(std::span<const uint8_t> raw, std::string& out);

// ---- Writing ----------------------------------------------------------------------------------

// Writes a hyperlink object from hlinkClsid on: a URL moniker for a target with a scheme (with the
// location as its fragment when both are given), a file moniker for a path, and the display text
// and location where they are not empty (a file path with a location carries the location in the
// display name's place too, for gnumeric). At least one of `target` and `location` must be
// non-empty.
void PutHyperlinkObject(BiffStream& out, std::u16string_view target, std::u16string_view location,
                        std::u16string_view display);

// True when `link` fits the one HLINK record an .xls file gives it (8,224 bytes with its range):
// a link with a target of thousands of characters does not, and .xls has no way to continue it.
bool FitsHlinkRecord(const Hyperlink& link);

} // namespace gq::engine::biff
