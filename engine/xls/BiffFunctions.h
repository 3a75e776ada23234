// The BIFF8 function table: a built-in function's name and argument counts by its index, and back.
#pragma once

#include <cstdint>
#include <string_view>

namespace gq::engine::biff {

struct BiffFunction {
    uint16_t index = 0;
    uint8_t minArgs = 0;
    uint8_t maxArgs = 0;
    const char* name = "";
};

// The function with this index in the table, or nullptr for an index it does not hold.
const BiffFunction* FunctionByIndex(uint16_t index);
// The built-in function of this name (any ASCII case), or nullptr: such a function is stored by name.
const BiffFunction* FunctionByName(std::string_view name);

} // namespace gq::engine::biff
