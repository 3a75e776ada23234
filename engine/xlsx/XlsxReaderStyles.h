// The styles and theme parts of an xlsx package (ECMA-376 Part 1, 18.8 and 20.1.6): cell formats
// with theme, indexed and tinted colours resolved to RGB, interned into the workbook's style table.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/model/Styles.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace gq::engine {

// The twelve colours of a theme's colour scheme in document order: dk1, lt1, dk2, lt2, accent1-6,
// hlink, folHlink (0xFFRRGGBB).
using ThemeColors = std::array<uint32_t, 12>;

// The colours of Office's default theme, for packages that have no theme part.
ThemeColors DefaultThemeColors();

// Reads a theme part's colour scheme; slots it does not give keep their default colour.
ThemeColors ReadThemeColors(std::string_view xml, const std::string& file, const std::string& part);

// The colour at `index` of the 64-colour default palette (0xFFRRGGBB); indexes past it give black.
uint32_t DefaultIndexedColor(uint32_t index);

// Applies a tint (-1 to 1) to the luminance of a colour in HLS space, as spreadsheet applications do
// for theme and indexed colours (ECMA-376 Part 1, 18.8.19 "tint"). Alpha is kept.
uint32_t ApplyTint(uint32_t argb, double tint);

// Reads a styles part, fed piece by piece through `feedAll` (which calls the given sink for every
// chunk of the part), and interns every cell format (cellXfs) into `table`. Sets the table's
// default font from the part's first font first. Returns the model cell-format index of each of
// the part's cell formats, by position.
std::vector<uint32_t> ReadXlsxStyles(const std::function<void(const std::function<void(const char*, size_t)>&)>& feedAll,
                                     const ThemeColors& theme, StyleTable& table, const std::string& file,
                                     const std::string& part);

} // namespace gq::engine
