// The entry functions the libFuzzer harnesses call, shared with the regression test that replays
// every saved fuzz input: a reader or writer fault found once stays covered by the normal tests.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/cfb/CfbWriter.h"
#include "engine/csv/CsvReader.h"
#include "engine/formula/Formula.h"
#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"
#include "engine/ods/OdsReader.h"
#include "engine/xls/BiffFormula.h"
#include "engine/xls/XlsReader.h"
#include "engine/xls/XlsWriter.h"
#include "engine/xlsx/XlsxReader.h"
#include "engine/xlsx/XlsxWriter.h"
#include "engine/zip/ZipWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace gq::fuzz {

// Stops the run with a message: a fuzzer reports an abort as a finding, a test as a failure.
[[noreturn]] inline void Fail(const std::string& what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what.c_str());
    std::abort();
}

// Touches everything a merge would read from a workbook: every sheet, every cell, its text and
// resolved style, merged ranges, columns and hyperlinks. A failure to load a sheet is a normal
// outcome for a damaged file, as long as it is a typed engine error.
inline void WalkWorkbook(engine::Workbook& workbook)
{
    size_t touched = 0;
    for (size_t i = 0; i < workbook.SheetCount(); ++i) {
        touched += workbook.SheetName(i).size();
        try {
            engine::Worksheet& sheet = workbook.Sheet(i);
            auto used = sheet.UsedRange();
            if (used && (used->firstRow > used->lastRow || used->firstCol > used->lastCol)) {
                Fail("used range upside down on sheet " + std::to_string(i));
            }
            for (const engine::Row& row : sheet.rows) {
                for (const engine::Cell& cell : row.cells) {
                    if (cell.type == engine::CellType::String) {
                        touched += workbook.Strings().At(cell.text).size();
                    }
                    touched += workbook.Styles().Resolve(cell.style).numFmt.size();
                }
            }
            for (const engine::ColumnInfo& column : sheet.columns) {
                touched += workbook.Styles().Resolve(column.style).font.name.size();
            }
            touched += sheet.merges.size() + sheet.hyperlinks.size();
            workbook.UnloadSheet(i);
        } catch (const engine::EngineError&) {
        }
    }
    // Keeps the walk from being optimised away.
    if (touched == SIZE_MAX) {
        std::abort();
    }
}

// The xlsx reader: open the package, list its sheets, read every sheet.
inline void ReadXlsxInput(std::span<const uint8_t> data)
{
    try {
        auto bytes = engine::InputBytes::FromMemory(std::vector<uint8_t>(data.begin(), data.end()), "fuzz.xlsx");
        auto workbook = engine::ReadXlsx(bytes);
        WalkWorkbook(*workbook);
    } catch (const engine::EngineError&) {
    }
}

// The xlsx reader past the zip layer. Mutating a zip rarely gets past its CRCs and deflate
// streams, so this harness takes the XML parts themselves and packages them: the input is split at
// each kPartSeparator into the workbook, its one worksheet, styles, shared strings, the worksheet's
// relationships and the theme, in that order; missing pieces leave their parts out.
inline constexpr std::string_view kPartSeparator = "\n=PART=\n";

inline std::vector<uint8_t> PackageXlsxParts(std::span<const uint8_t> data)
{
    static const char* const kParts[] = {"xl/workbook.xml",
                                         "xl/worksheets/sheet1.xml",
                                         "xl/styles.xml",
                                         "xl/sharedStrings.xml",
                                         "xl/worksheets/_rels/sheet1.xml.rels",
                                         "xl/theme/theme1.xml"};
    std::string_view rest(reinterpret_cast<const char*>(data.data()), data.size());
    std::vector<std::string_view> pieces;
    while (pieces.size() < std::size(kParts)) {
        size_t at = rest.find(kPartSeparator);
        pieces.push_back(rest.substr(0, at));
        if (at == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(at + kPartSeparator.size());
    }
    engine::MemorySink sink;
    engine::ZipWriter zip(sink, 0);
    zip.AddPart("[Content_Types].xml",
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
                "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
                "<Override PartName=\"/xl/workbook.xml\" "
                "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                "<Override PartName=\"/xl/worksheets/sheet1.xml\" "
                "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>"
                "<Override PartName=\"/xl/styles.xml\" "
                "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
                "<Override PartName=\"/xl/sharedStrings.xml\" "
                "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>"
                "<Override PartName=\"/xl/theme/theme1.xml\" "
                "ContentType=\"application/vnd.openxmlformats-officedocument.theme+xml\"/>"
                "</Types>");
    zip.AddPart("_rels/.rels",
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\" "
                "Target=\"xl/workbook.xml\"/></Relationships>");
    zip.AddPart("xl/_rels/workbook.xml.rels",
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                "<Relationship Id=\"rId1\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
                "Target=\"worksheets/sheet1.xml\"/>"
                "<Relationship Id=\"rId2\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" "
                "Target=\"styles.xml\"/>"
                "<Relationship Id=\"rId3\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
                "Target=\"sharedStrings.xml\"/>"
                "<Relationship Id=\"rId4\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme\" "
                "Target=\"theme/theme1.xml\"/></Relationships>");
    for (size_t i = 0; i < pieces.size(); ++i) {
        zip.AddPart(kParts[i], pieces[i]);
    }
    zip.Finish();
    return std::move(sink.Bytes());
}

inline void ReadXlsxPartsInput(std::span<const uint8_t> data)
{
    std::vector<uint8_t> package;
    try {
        package = PackageXlsxParts(data);
    } catch (const engine::EngineError&) {
        return; // more than the zip writer takes; not a reader input
    }
    ReadXlsxInput(package);
}

// The delimited text reader: the first byte chooses the file's extension (.csv, .tsv or .tab, which
// decides the delimiter on ties), the rest is the file.
inline void ReadCsvInput(std::span<const uint8_t> data)
{
    if (data.empty()) {
        return;
    }
    static const char* const kNames[] = {"fuzz.csv", "fuzz.tsv", "fuzz.tab"};
    try {
        auto bytes =
            engine::InputBytes::FromMemory(std::vector<uint8_t>(data.begin() + 1, data.end()), kNames[data[0] % 3]);
        auto workbook = engine::ReadCsv(bytes);
        WalkWorkbook(*workbook);
    } catch (const engine::EngineError&) {
    }
}

// The OpenDocument reader past the zip layer: the input is content.xml, packaged with a mimetype
// and a styles.xml of named and data styles, as mutated zips seldom get past their CRCs.
inline void ReadOdsContentInput(std::span<const uint8_t> data)
{
    try {
        engine::MemorySink sink;
        {
            engine::ZipWriter zip(sink, 0);
            zip.AddPart("mimetype", "application/vnd.oasis.opendocument.spreadsheet");
            zip.AddPart("styles.xml",
                        "<office:document-styles xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                        "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
                        "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\"><office:styles>"
                        "<style:style style:name=\"Default\" style:family=\"table-cell\"/>"
                        "<number:number-style style:name=\"N1\"><number:number number:decimal-places=\"2\"/>"
                        "</number:number-style></office:styles></office:document-styles>");
            zip.AddPart("content.xml", std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
            zip.Finish();
        }
        auto bytes = engine::InputBytes::FromMemory(std::move(sink.Bytes()), "fuzz.ods");
        // A row repeated a million times with values in it is a large sheet, not a fault: the
        // reader's cost is linear in the cells it makes. The harness keeps to sheets the five
        // seconds of a run can read under the sanitizers, so that a timeout means a hang.
        constexpr uint64_t kFuzzMaxCells = uint64_t{1} << 17;
        auto workbook = engine::ReadOds(bytes, kFuzzMaxCells);
        WalkWorkbook(*workbook);
    } catch (const engine::EngineError&) {
    }
}

// The .xls reader: compound file, then BIFF globals and every worksheet.
inline void ReadXlsInput(std::span<const uint8_t> data)
{
    try {
        auto bytes = engine::InputBytes::FromMemory(std::vector<uint8_t>(data.begin(), data.end()), "fuzz.xls");
        auto workbook = engine::ReadXls(bytes);
        WalkWorkbook(*workbook);
    } catch (const engine::EngineError&) {
    }
}

// The BIFF records past the compound file: the input is the workbook stream itself, padded to the
// container's smallest stream and wrapped in a valid compound file.
inline void ReadXlsStreamInput(std::span<const uint8_t> data)
{
    std::vector<uint8_t> stream(data.begin(), data.end());
    if (stream.size() < 4096) {
        stream.resize(4096);
    }
    engine::MemorySink sink;
    try {
        engine::WriteCompoundFile(u"Workbook", stream, sink);
    } catch (const engine::EngineError&) {
        return; // more than the container takes; not a reader input
    }
    ReadXlsInput(sink.Bytes());
}

// Consumes fuzz input as a little program that builds a workbook model.
class ModelBuilder {
public:
    explicit ModelBuilder(std::span<const uint8_t> data) : m_data(data) {}

    std::unique_ptr<engine::Workbook> Build()
    {
        auto workbook = std::make_unique<engine::Workbook>();
        workbook->InsertSheet(0, "Sheet1");
        int steps = 0;
        while (!AtEnd() && ++steps < 4000) {
            Step(*workbook);
        }
        for (size_t i = 0; i < workbook->SheetCount(); ++i) {
            workbook->Sheet(i).Normalize();
        }
        return workbook;
    }

private:
    bool AtEnd() const { return m_pos >= m_data.size(); }
    uint8_t Byte() { return AtEnd() ? 0 : m_data[m_pos++]; }
    // Every value is consumed in its own statement: the order in which a compiler evaluates the
    // operands of one expression is unspecified, and a saved input must replay the same everywhere.
    uint32_t U16()
    {
        uint32_t low = Byte();
        uint32_t high = Byte();
        return low | (high << 8);
    }
    uint32_t U32()
    {
        uint32_t low = U16();
        uint32_t high = U16();
        return low | (high << 16);
    }
    double Number()
    {
        uint64_t low = U32();
        uint64_t high = U32();
        uint64_t raw = low | (high << 32);
        double value;
        std::memcpy(&value, &raw, sizeof value);
        // Neither format stores NaN or infinity as a number, and no reader gives them.
        return std::isfinite(value) ? value : 0.0;
    }
    // Rows and columns mostly near the top-left, sometimes at or past the grid's far edge.
    uint32_t RowIndex()
    {
        uint8_t kind = Byte();
        if (kind < 240) {
            return kind;
        }
        return kind < 250 ? U16() : 1048560 + (Byte() % 32);
    }
    uint32_t ColIndex()
    {
        uint8_t kind = Byte();
        if (kind < 240) {
            return kind % 64;
        }
        return kind < 250 ? Byte() + 200 : 16370 + (Byte() % 32);
    }
    // Valid UTF-8 with the characters writers must escape: XML specials, control characters,
    // "_xHHHH_" look-alikes, spaces at the ends, and characters outside the BMP.
    std::string Text(size_t maxChars)
    {
        static const char* const kPieces[] = {"&",
                                              "<",
                                              ">",
                                              "\"",
                                              "'",
                                              " ",
                                              "_x0041_",
                                              "_x",
                                              "\t",
                                              "\n",
                                              "\r",
                                              "\x01",
                                              "\x1f",
                                              "\xc3\xa9",
                                              "\xe2\x82\xac",
                                              "\xf0\x9f\x98\x80",
                                              "\xef\xbf\xbe",
                                              "[",
                                              "]",
                                              ":",
                                              "*",
                                              "?",
                                              "/",
                                              "\\",
                                              "a",
                                              "Z",
                                              "0"};
        std::string text;
        size_t count = Byte() % (maxChars + 1);
        if (count == maxChars && maxChars > 64) {
            count = U16();
        }
        for (size_t i = 0; i < count && !AtEnd(); ++i) {
            uint8_t b = Byte();
            if (b < sizeof kPieces / sizeof kPieces[0]) {
                text += kPieces[b];
            } else if (b < 0x7F) {
                text += char(b);
            } else {
                text += 'x';
            }
        }
        return text;
    }
    engine::Color AnyColor()
    {
        uint8_t kind = Byte() % 3;
        if (kind == 0) {
            return {};
        }
        return kind == 1 ? engine::Color::Automatic() : engine::Color::Rgb(0xFF000000u | (U32() & 0xFFFFFFu));
    }

    uint32_t Style(engine::Workbook& workbook)
    {
        engine::ResolvedStyle style;
        style.font.name = Byte() % 2 ? "Arial" : Text(8);
        style.font.size = 1 + Byte() % 100;
        uint8_t flags = Byte();
        style.font.bold = flags & 1;
        style.font.italic = flags & 2;
        style.font.strike = flags & 4;
        style.font.underline = engine::Underline((flags >> 3) % 5);
        style.font.color = AnyColor();
        style.fill.pattern = engine::PatternType(Byte() % 19);
        style.fill.fg = AnyColor();
        style.fill.bg = AnyColor();
        style.border.left.style = engine::BorderStyle(Byte() % 14);
        style.border.left.color = AnyColor();
        style.border.diagonal.style = engine::BorderStyle(Byte() % 14);
        style.border.diagonalUp = flags & 0x80;
        uint8_t fmt = Byte();
        style.numFmt = fmt < 128 ? std::string(engine::BuiltinNumberFormat(fmt % 50)) : Text(20);
        if (style.numFmt.empty()) {
            style.numFmt = "General";
        }
        style.alignment.horizontal = engine::HAlign(Byte() % 8);
        style.alignment.vertical = engine::VAlign(Byte() % 5);
        uint8_t rotation = Byte();
        style.alignment.rotation = rotation <= 180 ? rotation : 255;
        style.alignment.indent = Byte() % 16;
        style.protection.locked = flags & 0x40;
        return workbook.Styles().InternStyle(style);
    }

    uint32_t AnyStyle(engine::Workbook& workbook)
    {
        uint32_t count = uint32_t(workbook.Styles().CellFormats().size());
        return Byte() % count;
    }

    engine::CellRange Range()
    {
        engine::CellRange range;
        range.firstRow = RowIndex();
        range.firstCol = ColIndex();
        range.lastRow = range.firstRow + Byte() % 4;
        range.lastCol = range.firstCol + Byte() % 4;
        return range;
    }

    void Step(engine::Workbook& workbook)
    {
        engine::Worksheet& sheet = workbook.Sheet(Byte() % workbook.SheetCount());
        switch (Byte() % 14) {
        case 0:
            if (workbook.SheetCount() < 8) {
                workbook.InsertSheet(workbook.SheetCount(), Text(34));
            }
            break;
        case 1: {
            uint32_t row = RowIndex(), col = ColIndex();
            double value = Number();
            sheet.SetNumber(row, col, value, AnyStyle(workbook));
            break;
        }
        case 2: {
            uint32_t row = RowIndex(), col = ColIndex();
            uint32_t text = workbook.Strings().Intern(Text(255));
            sheet.SetString(row, col, text, AnyStyle(workbook));
            break;
        }
        case 3: {
            uint32_t row = RowIndex(), col = ColIndex();
            bool value = Byte() & 1;
            sheet.SetBoolean(row, col, value, AnyStyle(workbook));
            break;
        }
        case 4: {
            static const engine::ErrorCode kErrors[] = {
                engine::ErrorCode::Null, engine::ErrorCode::Div0, engine::ErrorCode::Value, engine::ErrorCode::Ref,
                engine::ErrorCode::Name, engine::ErrorCode::Num,  engine::ErrorCode::NA};
            uint32_t row = RowIndex(), col = ColIndex();
            engine::ErrorCode value = kErrors[Byte() % 7];
            sheet.SetError(row, col, value, AnyStyle(workbook));
            break;
        }
        case 5: {
            uint32_t row = RowIndex(), col = ColIndex();
            sheet.SetBlank(row, col, AnyStyle(workbook));
            break;
        }
        case 6:
            Style(workbook);
            break;
        case 7: {
            engine::CellRange range = Range();
            for (const engine::CellRange& other : sheet.merges) {
                if (other.Intersects(range)) {
                    return;
                }
            }
            sheet.merges.push_back(range);
            break;
        }
        case 8: {
            engine::ColumnInfo info;
            info.first = ColIndex();
            info.last = info.first + Byte() % 8;
            info.width = Byte() / 2.0;
            info.customWidth = info.width > 0;
            info.hidden = Byte() & 1;
            info.style = AnyStyle(workbook);
            sheet.SetColumn(info);
            break;
        }
        case 9: {
            engine::Row& row = sheet.RowAt(RowIndex());
            row.height = Byte() / 2.0f;
            row.customHeight = row.height > 0;
            row.hidden = Byte() & 1;
            break;
        }
        case 10: {
            engine::Hyperlink link;
            link.range = Range();
            if (Byte() & 1) {
                link.target = "https://example.com/" + Text(20);
            } else {
                link.location = "Sheet1!A" + std::to_string(1 + Byte());
            }
            link.tooltip = Text(10);
            link.display = Text(10);
            sheet.hyperlinks.push_back(std::move(link));
            break;
        }
        case 11:
            sheet.frozenRows = Byte() % 5;
            sheet.frozenCols = Byte() % 5;
            break;
        case 12:
            workbook.SetDate1904(Byte() & 1);
            break;
        default: {
            size_t index = Byte() % workbook.SheetCount();
            workbook.SetSheetState(index, engine::SheetState(Byte() % 3));
            break;
        }
        }
    }

    std::span<const uint8_t> m_data;
    size_t m_pos = 0;
};

// Every value the original holds must come back the same from what was written.
inline void CompareValues(engine::Workbook& original, engine::Workbook& readBack, const char* format)
{
    if (readBack.SheetCount() != original.SheetCount()) {
        Fail(std::string(format) + ": sheet count changed");
    }
    for (size_t i = 0; i < original.SheetCount(); ++i) {
        if (readBack.SheetName(i) != original.SheetName(i)) {
            Fail(std::string(format) + ": sheet name changed: " + original.SheetName(i) + " -> " +
                 readBack.SheetName(i));
        }
        engine::Worksheet& before = original.Sheet(i);
        engine::Worksheet& after = readBack.Sheet(i);
        for (const engine::Row& row : before.rows) {
            for (const engine::Cell& cell : row.cells) {
                if (cell.type == engine::CellType::Blank) {
                    continue;
                }
                std::string where =
                    std::string(format) + " sheet " + std::to_string(i) + " " + engine::CellName(row.index, cell.col);
                const engine::Cell* back = after.FindCell(row.index, cell.col);
                if (cell.type == engine::CellType::String && original.Strings().At(cell.text).empty()) {
                    continue; // an empty text may come back as a blank cell
                }
                if (!back || back->type != cell.type) {
                    Fail(where + ": cell type changed");
                }
                switch (cell.type) {
                case engine::CellType::Number:
                    if (back->number != cell.number) {
                        Fail(where + ": number changed");
                    }
                    break;
                case engine::CellType::String:
                    if (readBack.Strings().At(back->text) != original.Strings().At(cell.text)) {
                        Fail(where + ": text changed: [" + original.Strings().At(cell.text) + "] -> [" +
                             readBack.Strings().At(back->text) + "]");
                    }
                    break;
                case engine::CellType::Boolean:
                    if (back->boolean != cell.boolean) {
                        Fail(where + ": boolean changed");
                    }
                    break;
                case engine::CellType::Error:
                    if (back->error != cell.error) {
                        Fail(where + ": error value changed");
                    }
                    break;
                case engine::CellType::Blank:
                    break;
                }
            }
        }
    }
}

// The writers: a model built from the input is written as xlsx and as .xls, and each result is
// read back by our own reader and compared value by value. A writer may refuse content that does
// not fit its format, with a typed error; what it writes must read back.
inline void WriteRoundTripInput(std::span<const uint8_t> data)
{
    std::unique_ptr<engine::Workbook> workbook;
    try {
        workbook = ModelBuilder(data).Build();
    } catch (const engine::EngineError&) {
        return;
    }
    engine::XlsxWriteOptions options;
    options.threads = 0;
    for (const char* format : {"xlsx", "xls"}) {
        bool xlsx = std::strcmp(format, "xlsx") == 0;
        engine::MemorySink sink;
        try {
            if (xlsx) {
                engine::WriteXlsx(*workbook, sink, options);
            } else {
                engine::WriteXls(*workbook, sink);
            }
        } catch (const engine::EngineError&) {
            continue;
        }
        auto bytes = engine::InputBytes::FromMemory(std::move(sink.Bytes()), std::string("written.") + format);
        std::unique_ptr<engine::Workbook> readBack;
        try {
            readBack = xlsx ? engine::ReadXlsx(bytes) : engine::ReadXls(bytes);
            CompareValues(*workbook, *readBack, format);
        } catch (const engine::EngineError& error) {
            Fail(std::string(format) + " written by us does not read back: " + error.what());
        }
    }
}

// A parsed formula through the BIFF8 encoder, with the sheets its references name as the
// workbook's: what encodes decodes again, and decoding what its decoded form encodes to prints the
// same (the first round may normalise, as A1:A65536 becoming A:A).
inline void BiffFormulaRoundTrip(const engine::formula::Formula& formula, const std::string& printed)
{
    std::vector<std::string> sheets;
    for (const auto& prefix : formula.prefixes) {
        for (const std::string* name : {&prefix.firstSheet, &prefix.lastSheet}) {
            if (!name->empty() && std::find(sheets.begin(), sheets.end(), *name) == sheets.end()) {
                sheets.push_back(*name);
            }
        }
    }
    engine::biff::FormulaEncoder encoder(sheets);
    std::vector<uint8_t> rgce;
    std::vector<uint8_t> rgcb;
    if (!encoder.Encode(formula, rgce, rgcb)) {
        return;
    }
    engine::biff::FormulaGlobals globals = encoder.Globals();
    engine::formula::Formula first;
    engine::formula::Formula second;
    if (!engine::biff::DecodeFormula(rgce, rgcb, globals, 0, 0, false, first)) {
        Fail("an encoded formula does not decode: " + printed);
    }
    if (!encoder.Encode(first, rgce, rgcb)) {
        Fail("a decoded formula does not encode again: " + engine::formula::PrintFormula(first));
    }
    globals = encoder.Globals();
    if (!engine::biff::DecodeFormula(rgce, rgcb, globals, 0, 0, false, second) ||
        engine::formula::PrintFormula(second) != engine::formula::PrintFormula(first)) {
        Fail("a formula changed through BIFF8 a second time: " + engine::formula::PrintFormula(first));
    }
}

// The formula text parser: any text parses or is kept as it is; what parses prints to a text that
// parses to the same print again, and moving it anywhere on either grid keeps it printable. The
// first two bytes choose the move.
inline void ParseFormulaInput(std::span<const uint8_t> data)
{
    if (data.size() < 2) {
        return;
    }
    int64_t rows = static_cast<int8_t>(data[0]) * int64_t{4099};
    int64_t cols = static_cast<int8_t>(data[1]) * int64_t{131};
    std::string_view text(reinterpret_cast<const char*>(data.data() + 2), data.size() - 2);
    engine::formula::Formula formula;
    bool parsed = engine::formula::ParseFormula(text, formula);
    std::string printed = engine::formula::PrintFormula(formula);
    if (!parsed) {
        if (printed != text) {
            Fail("unparsed formula text was not kept as it is");
        }
        return;
    }
    engine::formula::Formula again;
    if (printed.size() > engine::limits::kMaxFormulaChars) {
        return; // printing may quote or spell out what the source abbreviated, past the length limit
    }
    if (!engine::formula::ParseFormula(printed, again) || engine::formula::PrintFormula(again) != printed) {
        Fail("a printed formula does not parse back to itself: " + printed);
    }
    for (const auto& grid : {engine::formula::kXlsxGrid, engine::formula::kXlsGrid}) {
        engine::formula::Formula moved = formula;
        engine::formula::MoveFormula(moved, rows, cols, grid);
        std::string movedText = engine::formula::PrintFormula(moved);
        // A move may lengthen every reference (A1 to XFD1048576): text past the parser's length
        // limit is kept as text by design.
        if (!engine::formula::ParseFormula(movedText, again) && movedText.size() <= engine::limits::kMaxFormulaChars) {
            Fail("a moved formula does not parse: " + movedText);
        }
    }
    BiffFormulaRoundTrip(formula, printed);
}

} // namespace gq::fuzz
