// The physical floor of a merge: the least work any merger of the same inputs into the same output
// must do, measured on this machine.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <vector>

namespace gq::bench {

struct Floor {
    double readSeconds = 0;    // reading every input file's bytes
    double inflateSeconds = 0; // inflating every part of every zip (xlsx) input
    double outputSeconds = 0;  // deflating the output's parts at zlib level 1 (xlsx), or writing its bytes (xls)
    double Total() const { return readSeconds + inflateSeconds + outputSeconds; }
};

// Measures the floor for merging `inputs` into a file like `output` (an existing output of the real
// merge, whose uncompressed parts are what any writer would have to deflate). `scratch` is a
// folder for the written bytes. Median of `runs` measurements of each term, in CPU time when
// `cpuTime` (the machine is busy with other work), in wall time otherwise.
Floor MeasureFloor(const std::vector<std::string>& inputs, const std::string& output, const std::string& scratch,
                   int runs, bool cpuTime);

} // namespace gq::bench
