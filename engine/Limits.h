// Every limit the engine enforces, with the reason it is there. Readers check input against these
// before they allocate; writers check the model against the target format's grid.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>

namespace gq::engine::limits {

// Input files: nobody merges monthly reports larger than this, and a cap keeps a hostile file from
// making us map or read without bound.
inline constexpr uint64_t kMaxInputFileBytes = 2ull << 30; // 2 GiB

// Zip packages (xlsx). Real workbooks have tens of parts; sheets of a few hundred MB inflate from a
// few tens of MB. A part that claims more, or inflates more than the ratio, is a bomb. The number of
// parts read is the number the writer writes (a package without Zip64 counts its entries in 16
// bits), so that whatever the writer saves can be read again, workbooks of tens of thousands of
// sheets among them; each part costs about 200 bytes of index.
inline constexpr uint64_t kMaxZipEntries = 0xFFFF;
inline constexpr uint64_t kMaxPartBytes = 2ull << 30;          // one inflated part
inline constexpr uint64_t kMaxTotalInflatedBytes = 8ull << 30; // all parts read from one package
inline constexpr uint64_t kMaxCompressionRatio = 1000;         // inflated / compressed, for parts over 1 MiB
inline constexpr uint64_t kRatioCheckThreshold = 1ull << 20;

// Package metadata read whole into memory (content types, relationships, the workbook part, the
// theme): a workbook of 65,535 sheets has a workbook part of a few MB; more is not a real workbook.
inline constexpr uint64_t kMaxMetadataPartBytes = 64ull << 20;

// XML: deeper nesting than this does not occur in spreadsheet parts.
inline constexpr int kMaxXmlDepth = 256;
// One XML token (a start tag with its attributes, a comment) larger than this is not a real part;
// expat re-scans an unfinished token on every chunk, so an unbounded one would cost quadratic time.
// Long texts are not tokens: cell text arrives in pieces and is bounded by kMaxStringBytes. Nor is
// a whole part: a workbook part of tens of thousands of sheets is many small tokens.
inline constexpr uint64_t kMaxXmlTokenBytes = 1ull << 20;

// Cells stored for one worksheet: about 1.6 GB of model at 24 bytes a cell. Real sheets that people
// merge are far below; a hostile part of empty cells would otherwise grow without bound.
inline constexpr uint64_t kMaxCellsPerSheet = 1ull << 26;
// Row elements of one xlsx sheet are bounded apart from cells, by the grid's rows: a sheet holding
// kMaxCellsPerSheet cells reads back whatever its rows, and a file repeating one row without end
// is refused. A sheet at both limits costs about 1.6 GB of cells and 50 MB of rows, which the
// readers, the paste and both writers keep to (a test reads such a sheet within 4 GiB of address
// space).
// Column descriptions (<col> elements) on one sheet: one per column of the grid at most.
inline constexpr size_t kMaxColumnInfos = 16384;
// Office suites write gradients of two to a handful of stops; a fill with more is hostile and
// keeps its first 64.
inline constexpr size_t kMaxGradientStops = 64;

// The spreadsheet grids. xlsx: 1,048,576 x 16,384; xls (BIFF8): 65,536 x 256.
inline constexpr uint32_t kXlsxMaxRows = 1048576;
inline constexpr uint32_t kXlsxMaxCols = 16384;
inline constexpr uint32_t kXlsMaxRows = 65536;
inline constexpr uint32_t kXlsMaxCols = 256;
// OpenDocument output: the grid of LibreOffice 7.4, which since 7.4 gives every sheet 16,384
// columns (the largest grid of the office suites that read .ods; Gnumeric holds as much).
inline constexpr uint32_t kOdsMaxRows = 1048576;
inline constexpr uint32_t kOdsMaxCols = 16384;
// A merge stacking blocks on one .xls sheet starts none below row 65,534: merges into .xls files
// always refused the sheet's last two rows as a start row, and the output keeps doing so.
inline constexpr uint32_t kXlsLastStackStartRow = 65534;

// Formulas: Excel keeps at most 8,192 characters of formula text and 64 levels of nested
// functions. Longer or deeper text is kept as text, not parsed, so that the parser's recursion,
// which follows the nesting, stays shallow whatever a file holds.
inline constexpr size_t kMaxFormulaChars = 8192;
inline constexpr int kMaxFormulaDepth = 64;
// .xls formulas name other sheets, workbooks and defined names through tables in the workbook
// globals (SUPBOOK, EXTERNNAME, EXTERNSHEET, NAME), whose indexes in a formula are at most 16 bits
// wide where Excel writes them: entries past that are not kept, and formulas using them keep
// their cached values.
inline constexpr size_t kMaxBiffLinkEntries = 65535;

// Text: both formats hold at most 32,767 characters in a cell.
inline constexpr size_t kMaxCellChars = 32767;
// Strings read from a file are bounded before they are stored (bytes of UTF-8).
inline constexpr size_t kMaxStringBytes = size_t{4} * 32767;

// Distinct cell formats each format can hold.
inline constexpr size_t kXlsxMaxCellFormats = 65430;
inline constexpr size_t kXlsMaxCellFormats = 4000;

// Sheet names: 31 characters in both formats; more sheets than this is not a real workbook.
inline constexpr size_t kMaxSheetNameChars = 31;
inline constexpr size_t kMaxSheets = 65535;

// Merged ranges on one sheet and hyperlinks on one sheet.
inline constexpr size_t kMaxMergedRanges = 1u << 20;
inline constexpr size_t kMaxHyperlinks = 1u << 20;

// BIFF: a record body is at most 8,224 bytes ([MS-XLS] 2.1.4).
inline constexpr size_t kMaxBiffRecordBytes = 8224;
// XF records in one .xls workbook: Excel writes at most 4,000 cell formats plus the style XFs; a
// file with far more is not a workbook any office suite would write, and each costs a style lookup.
inline constexpr size_t kMaxXlsXfRecords = 65536;

// Entries in one table of an xlsx styles part (fonts, fills, borders, cell formats): Excel keeps
// at most 64,000 cell formats, so a part with more than this is not a real workbook, and each
// entry costs memory before any cell uses it.
inline constexpr size_t kMaxXlsxStyleRecords = 1u << 20;

// Compound files (.xls container, [MS-CFB]). Streams shorter than the mini-stream cutoff live in
// the mini stream, which some readers mishandle, so the xls writer keeps its stream at least this
// long. Version 3 files (512-byte sectors) keep stream sizes below 2 GB.
inline constexpr size_t kCfbMiniStreamCutoff = 4096;
inline constexpr uint64_t kCfbMaxStreamBytes = 0x7FFFFFFFull;

// BIFF8 writing: a MergeCells record holds at most 1,026 ranges so that it stays within the record
// size limit ([MS-XLS] 2.4.168); a number format code has at most 255 characters ([MS-XLS] 2.4.126).
inline constexpr size_t kXlsMaxMergesPerRecord = 1026;
inline constexpr size_t kXlsMaxFormatCodeChars = 255;

// Zip packages the xlsx writer writes carry 32-bit sizes and offsets and a 16-bit entry count
// (APPNOTE 4.4): beyond these a package needs Zip64, which the writer refuses instead of writing.
inline constexpr uint64_t kZipMaxWrittenBytes = 0xFFFFFFFFull;
inline constexpr size_t kZipMaxWrittenEntries = 0xFFFF;
// So an xlsx output holds at most this many worksheets: each is one part of the package, beside
// the eight every package has (content types, package and workbook relationships, two property
// parts, workbook, shared strings, styles). A sheet with links, comments or drawings takes more.
inline constexpr size_t kXlsxFixedParts = 8;
inline constexpr size_t kXlsxMaxSheets = kZipMaxWrittenEntries - kXlsxFixedParts;

// A line of a sheet list (gridquilt-merge --list): a sheet name of at most 31 characters and a
// path of at most PATH_MAX (4,096) bytes, each at most twice as long escaped. A longer line is no
// list line, and reading it whole would let one line take any amount of memory.
inline constexpr size_t kMaxListLineBytes = 16384;

// Delimited text (CSV, TSV): one file is one sheet, so its records and fields are bounded by the
// grid the sheet is read into (an xlsx sheet's 1,048,576 rows and 16,384 columns) and a field by
// the text a cell may hold. A record (a line, with the line breaks inside quoted fields) longer
// than 64 MiB is not a table any program exports: a binary file given a .csv name is refused on
// its first such line instead of filling a row with its bytes.
inline constexpr uint32_t kMaxCsvRecords = 1048576;
inline constexpr uint32_t kMaxCsvFields = 16384;
inline constexpr uint64_t kMaxCsvRecordBytes = 64ull << 20;
// The delimiter is chosen from the records in the file's first bytes: enough for tens of records of
// any real table, and a bound on the work done before the file is read.
inline constexpr size_t kCsvSniffBytes = size_t{64} * 1024;
inline constexpr size_t kCsvSniffRecords = 32;

// OpenDocument repeats identical rows and cells instead of writing them again, and office suites
// write the empty rest of a sheet as one row repeated a million times. Rows and cells that hold a
// value are expanded (each counts against kMaxCellsPerSheet); a run of empty cells that only
// carries a format is expanded up to this many cells a row, and a run reaching this far across is
// the row's own format instead. Rows that only carry a height or are hidden are expanded up to
// this many at a time: the empty rest of a sheet formatted or hidden is left at the default.
inline constexpr uint32_t kOdsMaxFormatRun = 1024;
inline constexpr uint32_t kOdsMaxSettingsRows = 4096;
// Empty cells that carry only a format, over a whole sheet once repeated rows are expanded.
inline constexpr uint64_t kOdsMaxFormatCells = 1ull << 22;

} // namespace gq::engine::limits
