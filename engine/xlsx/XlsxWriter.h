// Writes the workbook model as an xlsx package.
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

namespace gq::engine {

void WriteXlsx(Workbook& workbook, ByteSink& sink);

} // namespace gq::engine
