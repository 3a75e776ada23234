// The command-line options the program answers itself, before any window exists: --help and
// --version, which must work without a display.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <optional>
#include <ostream>

namespace gq::app {

enum class InfoRequest { Help, Version };

// The first --help (or -h) or --version among the arguments, up to a "--" that ends the options;
// anything else is left to Qt and to the list of files and folders.
std::optional<InfoRequest> InfoRequestIn(int argc, const char* const* argv);

// Prints the help or the version on `out`, in the user's language where a translation is loaded
// (a QCoreApplication must exist); gives the exit status.
int AnswerInfoRequest(InfoRequest request, std::ostream& out);

} // namespace gq::app
