// libFuzzer harness for the OpenDocument reader: content.xml behind a valid package.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gq::fuzz::ReadOdsContentInput(std::span<const uint8_t>(data, size));
    return 0;
}
