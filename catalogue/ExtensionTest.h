// Which dropped or found files are taken for workbooks: the extension test against a mask.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace gq::catalogue {

// The extensions by which files are taken for workbooks; only its extensions are used. Macro-enabled
// workbooks and templates (.xlsm, .xltx, .xltm, .xlt) hold worksheets like the others; only their
// worksheets are ever read, never their macros. OpenDocument spreadsheets (.ods) are read by
// content like the others. Delimited text (.csv, .tsv, .tab) is one worksheet
// a file; it has no signature, so its extension is what the reader goes by too.
inline constexpr std::string_view ExcelFileMask = "*.xlsx;*.xlsm;*.xltx;*.xltm;*.xls;*.xlt;*.ods;*.csv;*.tsv;*.tab;";

// The extension of a path without its dot, or empty: the text after the last "." when no "/"
// follows it ("/a.b/file" has none, "/data/Book1.XLSX" has "XLSX", "name." has an empty one).
std::string ExtensionOf(std::string_view path);

// True when "." + the upper-cased extension + ";" occurs in the upper-cased mask.
bool PassesExtensionTest(std::string_view path, std::string_view mask);

} // namespace gq::catalogue
