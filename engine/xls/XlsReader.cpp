// Placeholder until this format is implemented.
#include "engine/xls/XlsReader.h"

#include "engine/Errors.h"

namespace gq::engine {

std::unique_ptr<Workbook> ReadXls(std::shared_ptr<const InputBytes> bytes) { throw FormatError(bytes->Name(), "xls files cannot be read yet"); }

} // namespace gq::engine
