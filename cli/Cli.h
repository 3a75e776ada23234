// The gridquilt-merge command: argument handling and the two subcommands, "list" (the catalogue a
// drop of the inputs builds) and "merge" (the merge of a list or of the inputs' sheets), over the
// same drop intake and merge engine as the window.
// SPDX-License-Identifier: Apache-2.0
#pragma once

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
    // The merge saves to a fresh temporary name that the command then gives the output's name, so
    // servers that write a new file straight into its path (automation::SaveTarget::NewFile) need no
    // temporary file of their own; main hands out such servers.
    automation::ServerFactory& servers;
    // Show the progress line on `err` (main passes whether standard error is a terminal).
    bool progress = false;
};

// Makes an interrupt or termination remove the temporary output, complete or still being written,
// before the program ends as the signal would have ended it. main calls it once.
void InstallSignalCleanup();

// Runs the command with `args` (without the program name) and gives the exit status.
int RunCli(const std::vector<std::string>& args, CliEnvironment& env);

// `path` made absolute against the current folder, with "." segments and doubled slashes removed
// (".." stays: through a symbolic link it does not simply cancel the previous segment). A trailing
// slash is kept.
std::string AbsoluteInputPath(const std::string& path);

// The temporary name, in the output's folder, under which the merged workbook is saved before it
// takes the output's name. It ends in the output's extension, so it is written in the same format.
std::string TemporaryOutputPath(const std::string& output, unsigned serial);

} // namespace gq::cli
