// libFuzzer harness for the writers: a model from the input written as xlsx and .xls and read back.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gq::fuzz::WriteRoundTripInput(std::span<const uint8_t>(data, size));
    return 0;
}
