// libFuzzer harness for the delimited text reader: encoding, delimiter, quoting and field typing.
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gq::fuzz::ReadCsvInput(std::span<const uint8_t>(data, size));
    return 0;
}
