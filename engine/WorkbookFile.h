// Opening and saving workbook files: the format is recognised by content when reading and chosen
// by the file name's extension when writing.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

#include <cstdint>
#include <memory>
#include <string>

namespace gq::engine {

enum class FileFormat { Xlsx, Xls, Unknown };

// Recognises the format from the first bytes: a zip package or an OLE2 compound file.
FileFormat DetectFormat(std::span<const uint8_t> head);

// The rows and columns every sheet of a format holds (engine/Limits.h).
struct SheetGrid {
    uint32_t rows;
    uint32_t columns;
};

// What an output file's name means: the format written and the grid its sheets must fit.
struct OutputFormat {
    FileFormat format;
    SheetGrid grid;
};

// The one answer to "which format and which grid does this output name mean", asked by the merge,
// the embedded server and the save: ".xls" in any letter case gives Xls with 65,536 rows x 256
// columns, anything else Xlsx with 1,048,576 x 16,384.
OutputFormat OutputFormatFor(const std::string& path);

// Opens a workbook: reads the sheet list and styles, leaves the worksheets to be loaded on first
// use. Throws FormatError, PasswordProtectedError, IoError or LimitError naming the file.
std::unique_ptr<Workbook> OpenWorkbookFile(const std::string& path);
std::unique_ptr<Workbook> OpenWorkbookBytes(const std::shared_ptr<const InputBytes>& bytes);

// Writes the workbook in the given format to a sink. Throws LimitError when the content does not
// fit the format (grid, cell formats, text length), IoError when the sink fails.
void WriteWorkbook(Workbook& workbook, FileFormat format, ByteSink& sink);

// Saves under `path` in the format its extension names. The bytes go to a temporary file in the
// same folder that replaces `path` only once it is complete; on failure nothing is left behind and
// an earlier file at `path` is untouched.
// The file is created unnamed (O_TMPFILE) and named once complete where the file system allows;
// elsewhere, or with `unnamedFirst` false, it is a hidden temporary file that a failure or a
// SIGTERM, SIGINT or SIGHUP removes.
void SaveWorkbookFile(Workbook& workbook, const std::string& path, bool unnamedFirst = true);

// Writes a new file at `path` in the format its extension names, straight into it: for a caller
// that saves under a fresh temporary name of its own and puts the file in place itself, so that
// the save needs no temporary file of its own. Refuses (IoError) when `path` exists already; on
// failure the partial file is removed.
void WriteNewWorkbookFile(Workbook& workbook, const std::string& path);

} // namespace gq::engine
