// libFuzzer harness for the xlsx reader: open, list, read every sheet.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gq::fuzz::ReadXlsxInput(std::span<const uint8_t>(data, size));
    return 0;
}
