// The default palette of indexed colours: BIFF's ([MS-XLS] 2.5.161 Icv), which xlsx's indexedColors default to.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstdint>

namespace gq::engine {

// Indexes 0-7 are fixed; 8-63 default to these colours and may be replaced by a file's own palette
// (a PALETTE record in .xls, [MS-XLS] 2.4.188; <indexedColors> in xlsx). 0x00RRGGBB for indexes
// 0-63.
inline constexpr std::array<uint32_t, 64> kDefaultPalette = {
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, // 0-7, fixed
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, // 8-15
    0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080, // 16-23
    0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF, // 24-31
    0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF, // 32-39
    0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99, // 40-47
    0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696, // 48-55
    0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333, // 56-63
};

// The first index a file's own palette can replace.
inline constexpr uint32_t kFirstCustomColorIndex = 8;

// Indexes that mean "the system's colour" rather than a palette entry: 64 window text
// (foreground), 65 window background, 0x7FFF the automatic font colour, and a few more that
// charts and comments use.
inline constexpr bool IsSystemColorIndex(uint32_t icv)
{
    return icv >= 64;
}

} // namespace gq::engine
