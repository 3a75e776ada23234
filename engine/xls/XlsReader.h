// Reads Excel 97-2003 (BIFF8) and Excel 5.0/95 (BIFF5/7) workbooks into the workbook model.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

#include <memory>

namespace gq::engine {

// Reads the workbook globals; worksheets are parsed on first use.
std::unique_ptr<Workbook> ReadXls(std::shared_ptr<const InputBytes> bytes);

} // namespace gq::engine
