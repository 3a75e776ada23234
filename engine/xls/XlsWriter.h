// Writes the workbook model as an Excel 97-2003 (BIFF8) workbook in an OLE2 compound file.
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

namespace gq::engine {

void WriteXls(Workbook& workbook, ByteSink& sink);

} // namespace gq::engine
