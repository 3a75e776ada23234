// Writes the workbook model as an Excel 97-2003 (BIFF8) workbook in an OLE2 compound file.
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

namespace gq::engine {

// Gives how many kept formulas BIFF8 could not hold and were written as their cached values.
size_t WriteXls(Workbook& workbook, ByteSink& sink);

} // namespace gq::engine
