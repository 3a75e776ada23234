// The gridquilt-merge command: argument handling and the two subcommands, "list" (the catalogue a
// drop of the inputs builds) and "merge" (the merge of a list or of the inputs' sheets), over the
// same drop intake and merge engine as the window.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/EmbeddedServer.h"
#include "automation/SpreadsheetServer.h"

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace gq::cli {

inline constexpr const char* kProgramName = "gridquilt-merge";

// Exit statuses.
inline constexpr int kExitMerged = 0;  // everything done
inline constexpr int kExitSkipped = 1; // done, but entries or named inputs were skipped
inline constexpr int kExitFailure = 2; // usage error or failure; no output was written

// Where a run reads and writes, and where its servers come from.
struct CliEnvironment {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    automation::ServerFactory& servers;
    // Show the progress line on `err` (main passes whether standard error is a terminal).
    bool progress = false;
    // Where `servers` leave the saved output unnamed (automation::SaveTarget::Held), for the command
    // to name once the merge has succeeded, without replacing a file unless --force; main hands out
    // such servers. Null for servers that save under the output's name themselves.
    automation::HeldSave* held = nullptr;
};

// Runs the command with `args` (without the program name) and gives the exit status.
int RunCli(const std::vector<std::string>& args, CliEnvironment& env);

// `path` made absolute against the current folder, with "." segments and doubled slashes removed
// (".." stays: through a symbolic link it does not simply cancel the previous segment). A trailing
// slash is kept.
std::string AbsoluteInputPath(const std::string& path);

} // namespace gq::cli
