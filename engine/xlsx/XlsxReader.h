// Reads Office Open XML workbooks (xlsx, transitional and strict) into the workbook model.
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

#include <memory>

namespace gq::engine {

// Reads the package's workbook part and styles; worksheets are parsed on first use.
std::unique_ptr<Workbook> ReadXlsx(std::shared_ptr<const InputBytes> bytes);

} // namespace gq::engine
