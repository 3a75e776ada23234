// Reads Office Open XML workbooks (xlsx, transitional and strict) into the workbook model.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

#include <memory>

namespace gq::engine {

// Opens an xlsx or xlsm package (Transitional or Strict): reads only the content types, the
// relationships and the workbook part (sheet names, order, states, date system, active tab), so that
// listing costs the same for any size of file. Shared strings, styles and theme are read when the
// first worksheet is asked for, and each worksheet when it is itself asked for.
// Throws FormatError (not a package, damaged, not a workbook, broken relationships), LimitError
// (zip bombs and other limits of Limits.h) and PasswordProtectedError, each naming the file.
std::unique_ptr<Workbook> ReadXlsx(std::shared_ptr<const InputBytes> bytes);

} // namespace gq::engine
