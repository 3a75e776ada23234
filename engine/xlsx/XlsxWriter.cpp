// Placeholder until this format is implemented.
#include "engine/xlsx/XlsxWriter.h"

#include "engine/Errors.h"

namespace gq::engine {

void WriteXlsx(Workbook&, ByteSink&) { throw EngineError("xlsx files cannot be written yet"); }

} // namespace gq::engine
