// Placeholder until this format is implemented.
#include "engine/xlsx/XlsxReader.h"

#include "engine/Errors.h"

namespace gq::engine {

std::unique_ptr<Workbook> ReadXlsx(std::shared_ptr<const InputBytes> bytes) { throw FormatError(bytes->Name(), "xlsx files cannot be read yet"); }

} // namespace gq::engine
