// libFuzzer harness for the formula text parser: two bytes choose a move, the rest is formula text.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gq::fuzz::ParseFormulaInput(std::span<const uint8_t>(data, size));
    return 0;
}
