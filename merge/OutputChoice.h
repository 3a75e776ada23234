// Asking where the merged workbook goes.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "common/UserPrompts.h"

#include <optional>
#include <string>

namespace gq::merge {

inline constexpr const char* kDeleteQuestion = "Are you sure to delete the file from disk?";
inline constexpr const char* kDeleteCaption = "Warning";

// Shows a fresh save dialog; when a file already exists at the chosen path, asks whether it may go.
// Returns the chosen path, or empty when the user cancelled or answered No. An existing file is
// NOT deleted here: the merged workbook replaces it only once it has been saved completely, so a
// merge that fails or ends early leaves it as it was.
std::string ChooseOutputFile(UserPrompts& prompts, const std::string& defaultExtension, const std::string& filter,
                             const std::string& initialName);

// Why the merged workbook cannot be created at `path`, in words that name the output, or nothing
// when a file can be created in its folder. Checked before a merge starts, so that a missing or
// read-only folder is told at once and not after the whole merge has run; the save at the end can
// still fail (a full disk, say) and is handled where it happens.
std::optional<std::string> WhyOutputCannotBeCreated(const std::string& path);

} // namespace gq::merge
