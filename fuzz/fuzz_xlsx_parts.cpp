// libFuzzer harness for the xlsx reader's XML: the input holds the parts, the harness zips them.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gq::fuzz::ReadXlsxPartsInput(std::span<const uint8_t>(data, size));
    return 0;
}
