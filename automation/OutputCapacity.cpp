// The output capacity the merge asks for, from the engine's output formats.
// SPDX-License-Identifier: Apache-2.0
#include "automation/OutputCapacity.h"

#include "engine/OutputFormat.h"

namespace gq::automation {

OutputCapacity OutputCapacityFor(const std::string& path)
{
    const engine::OutputFormat& output = engine::OutputFormatFor(path);
    return OutputCapacity{output.grid.rows,      output.grid.columns, output.lastStackStartRow, output.maxSheets,
                          output.maxCellFormats, output.fileWords,    output.sheetWords};
}

} // namespace gq::automation
