// Reads delimited text files (CSV, TSV) into a workbook of one worksheet.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

#include <memory>
#include <string>
#include <string_view>

namespace gq::engine {

// True for the file names that mean delimited text: ".csv", ".tsv" and ".tab" in any letter case.
// Delimited text has no signature, so its name is all that tells it apart from other text.
bool IsDelimitedTextName(std::string_view path);

// The sheet name a delimited text file gets: its file name without folder and extension, made a
// valid sheet name (forbidden characters and control characters become "_", apostrophes at either
// end are dropped, at most 31 characters); "Sheet1" when nothing is left.
std::string DelimitedTextSheetName(std::string_view path);

enum class TextEncoding : uint8_t { Utf8, Utf16Le, Utf16Be, Windows1252 };

// What was found out about a file before its records are read.
struct CsvDialect {
    TextEncoding encoding = TextEncoding::Utf8;
    char delimiter = ',';
};

// Opens a delimited text file as a workbook of one worksheet, named by DelimitedTextSheetName.
// Listing reads nothing; the sheet is read when first asked for. The encoding is UTF-8 or UTF-16
// by their byte order marks, UTF-8 without one where the bytes are valid UTF-8, otherwise
// Windows-1252; the delimiter (comma, semicolon, tab or pipe) is the one the first records agree on.
// Fields follow RFC 4180 (quotes, doubled quotes, line breaks inside quotes). A field that is
// wholly a number in plain form becomes a number, an ISO 8601 date or date and time a date;
// everything else is text, exactly as written. Throws LimitError past the limits of Limits.h.
std::unique_ptr<Workbook> ReadCsv(std::shared_ptr<const InputBytes> bytes);

// The dialect ReadCsv finds for these bytes (without the sheet), for tests.
CsvDialect DetectCsvDialect(std::span<const uint8_t> data, std::string_view name);

} // namespace gq::engine
