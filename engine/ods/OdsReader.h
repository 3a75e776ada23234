// Reads OpenDocument spreadsheets (.ods, ODF 1.2 and 1.3 packages) into the workbook model.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/Limits.h"
#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

#include <memory>

namespace gq::engine {

// True when the zip package holds an OpenDocument document rather than an Office Open XML one:
// a mimetype entry or a content.xml without [Content_Types].xml.
bool IsOpenDocumentPackage(const std::shared_ptr<const InputBytes>& bytes);

// Opens an OpenDocument spreadsheet: reads its styles and the sheet names and order of its
// content; each sheet's cells are read when the sheet is first asked for. Values with their types,
// cell styles, column widths, row heights, hidden rows, columns and sheets, merged cells, links
// and formulas (translated from OpenFormula where they can be; the cached value otherwise).
// Repeated rows and columns are expanded only where they hold content or a format of their own.
// Throws FormatError (not a spreadsheet, damaged), PasswordProtectedError (encrypted) and
// LimitError, each naming the file. A sheet expanding to more than `maxCellsPerSheet` cells is
// refused before they are made (a few hundred bytes of repeated rows can ask for millions).
std::unique_ptr<Workbook> ReadOds(std::shared_ptr<const InputBytes> bytes,
                                  uint64_t maxCellsPerSheet = limits::kMaxCellsPerSheet);

} // namespace gq::engine
