// The merge benchmark's workloads W1-W6: deterministic workbooks generated with the engine's own
// model and writers into a work folder (never committed), each in its own subfolder.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gq::bench {

struct Workload {
    std::string name;        // "W1"
    std::string description; // one line for the table's legend
    std::string folder;      // subfolder of the work folder holding its workbooks
    uint64_t cells = 0;      // cells in all its input sheets together, known once generated
    // The modes and output formats it is measured in; empty: all.
    std::vector<std::string> modes;
    std::vector<std::string> formats;
};

// The workloads, in order, without generating anything.
std::vector<Workload> Workloads();

// Writes the workbooks of `workload` under `workFolder` unless a stamp file says they are there
// already from this generator version; gives the workload's folder and fills in its cell count.
std::string GenerateWorkload(Workload& workload, const std::string& workFolder);

} // namespace gq::bench
