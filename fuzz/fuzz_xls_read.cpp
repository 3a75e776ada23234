// libFuzzer harness for the .xls reader: compound file, BIFF globals, every sheet.
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    gq::fuzz::ReadXlsInput(std::span<const uint8_t>(data, size));
    return 0;
}
