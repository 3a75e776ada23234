// Opening and saving workbook files: the format is recognised by content when reading and chosen
// by the file name's extension when writing.
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

#include <memory>
#include <string>

namespace gq::engine {

enum class FileFormat { Xlsx, Xls, Unknown };

// Recognises the format from the first bytes: a zip package or an OLE2 compound file.
FileFormat DetectFormat(std::span<const uint8_t> head);

// The output format for a file name: ".xls" in any letter case gives Xls, anything else Xlsx.
FileFormat FormatForOutputName(const std::string& path);

// Opens a workbook: reads the sheet list and styles, leaves the worksheets to be loaded on first
// use. Throws FormatError, PasswordProtectedError, IoError or LimitError naming the file.
std::unique_ptr<Workbook> OpenWorkbookFile(const std::string& path);
std::unique_ptr<Workbook> OpenWorkbookBytes(std::shared_ptr<const InputBytes> bytes);

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

} // namespace gq::engine
