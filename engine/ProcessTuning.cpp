// The C library settings of a merging process: allocator padding and a time zone read once.
// SPDX-License-Identifier: Apache-2.0
#include "engine/ProcessTuning.h"

#include <malloc.h>

#include <cstdlib>

namespace gq::engine {

namespace {

// Each workbook a merge reads allocates and frees its parts, sheet buffers and cells; with glibc's
// default the heap's top is given back after each and the next workbook faults the same pages in
// again (W1: about 8,000 page faults, a tenth of the kernel's time). With this much padding the
// top stays, and the process holds at most this much more than it uses.
constexpr int kHeapTopPadBytes = 8 << 20;

} // namespace

void TuneProcessForMerging()
{
    mallopt(M_TOP_PAD, kHeapTopPadBytes);
    // ":" and a path is the form of TZ that names a zone file; glibc reads /etc/localtime when TZ
    // is unset too, so that the zone is the same, read once. A TZ the user set is left alone.
    setenv("TZ", ":/etc/localtime", 0);
}

} // namespace gq::engine
