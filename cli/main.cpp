// Entry of the gridquilt-merge command.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "cli/Cli.h"
#include "cli/CliLanguage.h"
#include "engine/ProcessTuning.h"
#include "engine/StageTimes.h"

#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
    gq::cli::FollowUserLanguage();
    gq::engine::TuneProcessForMerging();
    // The merge benchmark asks, through this variable, where the CPU time went, to name the stage
    // that bounds a run.
    gq::engine::CountStageTimes(std::getenv("GQ_STAGE_TIMES") != nullptr);
    std::ios::sync_with_stdio(false);
    std::vector<std::string> args(argv + 1, argv + argc);
    // The command names the saved output itself, once the merge has succeeded.
    gq::automation::EmbeddedServerFactory servers(gq::automation::SaveTarget::Held);
    gq::cli::CliEnvironment env{std::cin, std::cout, std::cerr, servers, ::isatty(STDERR_FILENO) == 1, servers.Held()};
    const int status = gq::cli::RunCli(args, env);
    if (const char* stageFile = std::getenv("GQ_STAGE_TIMES")) {
        std::ofstream times(stageFile);
        const auto seconds = gq::engine::StageSeconds();
        for (size_t i = 0; i < seconds.size(); ++i) {
            times << gq::engine::StageName(static_cast<gq::engine::Stage>(i)) << ' ' << seconds[i] << '\n';
        }
        // This process's own peak resident memory: what the parent learns from wait4 also counts
        // the parent's pages that the child held between fork and exec.
        std::ifstream procStatus("/proc/self/status");
        for (std::string line; std::getline(procStatus, line);) {
            if (line.rfind("VmHWM:", 0) == 0) {
                times << "peak_kib " << std::strtol(line.c_str() + 6, nullptr, 10) << '\n';
            }
        }
    }
    std::cout.flush();
    if (!std::cout) {
        std::cerr << gq::cli::kProgramName << ": " << gq::cli::Tr("cannot write to standard output") << '\n';
        return gq::cli::kExitFailure;
    }
    return status;
}
