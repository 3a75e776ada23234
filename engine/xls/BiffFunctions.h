// The BIFF8 function table: a built-in function's name and argument counts by its index, and back.
// SPDX-License-Identifier: Apache-2.0
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

// The argument counts Excel allows a function newer than Excel 97.
struct FunctionArity {
    std::string_view name;
    uint8_t minArgs = 0;
    uint8_t maxArgs = 0;
};
// The counts of the future function `name` (in capitals, without "_xlfn."), or nullptr for one the
// table does not list, which only BIFF8's own limits bound.
const FunctionArity* FutureFunctionArity(std::string_view name);

// Excel 2007's new worksheet functions (IFERROR, SUMIFS, the cube functions), which xlsx writes
// without the "_xlfn." prefix of later ones, but which a BIFF8 file calls as future functions
// named with it, as every function newer than Excel 97. `name` in capitals.
bool IsExcel2007Function(std::string_view name);
// The Analysis ToolPak's functions (EDATE, NETWORKDAYS, ...), built into Excel since 2007, which a
// BIFF8 file calls as the add-in functions they were. `name` in capitals.
bool IsAddInFunction(std::string_view name);

} // namespace gq::engine::biff
