// libFuzzer harness for the BIFF reader: the input is a workbook stream, the harness wraps it.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gq::fuzz::ReadXlsStreamInput(std::span<const uint8_t>(data, size));
    return 0;
}
