// libFuzzer harness for the .xls reader: compound file, BIFF globals, every sheet.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gq::fuzz::ReadXlsInput(std::span<const uint8_t>(data, size));
    return 0;
}
