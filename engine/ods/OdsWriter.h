// Writes the workbook model as an OpenDocument spreadsheet (.ods).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

namespace gq::engine {

// Throws LimitError when the content does not fit LibreOffice's grid (1,048,576 rows x 16,384
// columns) or a sheet name breaks the sheet-name rule, IoError when the sink fails. Identical
// workbooks give identical bytes.
void WriteOds(Workbook& workbook, ByteSink& sink);

} // namespace gq::engine
