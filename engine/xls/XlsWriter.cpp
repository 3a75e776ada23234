// Placeholder until this format is implemented.
#include "engine/xls/XlsWriter.h"

#include "engine/Errors.h"

namespace gq::engine {

void WriteXls(Workbook&, ByteSink&) { throw EngineError("saving as .xls is not supported yet"); }

} // namespace gq::engine
