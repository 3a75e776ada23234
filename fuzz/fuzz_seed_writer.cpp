// Writes starting inputs for the fuzz harnesses from workbooks our own writers make: every cell
// type and error value, styles of every kind, merges, links, panes, hidden sheets, 1904 dates and
// a shared-string table long enough to need CONTINUE records. Real files (fuzz/make_seeds.py) seldom
// hold all of that, and a fuzzer finds its way much faster from an input that has it.
//
//     fuzz_seed_writer HARNESS OUT_DIR
// SPDX-License-Identifier: Apache-2.0
#include "fuzz/FuzzTargets.h"

#include "engine/cfb/CfbReader.h"
#include "engine/zip/ZipReader.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>

namespace {

using namespace gq;

// A workbook holding what the readers can read, built by hand.
std::unique_ptr<engine::Workbook> RichWorkbook()
{
    auto workbook = std::make_unique<engine::Workbook>();
    workbook->InsertSheet(0, "Data & <more>");
    workbook->InsertSheet(1, "Hidden");
    workbook->SetSheetState(1, engine::SheetState::Hidden);
    workbook->SetDate1904(true);
    engine::Worksheet& sheet = workbook->Sheet(0);

    engine::ResolvedStyle style;
    style.font.name = "Arial";
    style.font.size = 9;
    style.font.bold = true;
    style.font.italic = true;
    style.font.underline = engine::Underline::Double;
    style.font.color = engine::Color::Rgb(0xFF336699u);
    style.fill.pattern = engine::PatternType(1);
    style.fill.fg = engine::Color::Rgb(0xFFFFFF00u);
    style.border.left.style = engine::BorderStyle(1);
    style.border.left.color = engine::Color::Automatic();
    style.border.diagonal.style = engine::BorderStyle(9);
    style.border.diagonalUp = true;
    style.numFmt = "#,##0.00 \"EUR\";[Red]-#,##0.00";
    style.alignment.horizontal = engine::HAlign(2);
    style.alignment.vertical = engine::VAlign(1);
    style.alignment.rotation = 45;
    style.alignment.indent = 2;
    style.protection.locked = false;
    uint32_t rich = workbook->Styles().InternStyle(style);
    style.numFmt = "yyyy-mm-dd hh:mm";
    style.font.strike = true;
    uint32_t date = workbook->Styles().InternStyle(style);

    const engine::ErrorCode errors[] = {engine::ErrorCode::Null, engine::ErrorCode::Div0, engine::ErrorCode::Value,
                                        engine::ErrorCode::Ref,  engine::ErrorCode::Name, engine::ErrorCode::Num,
                                        engine::ErrorCode::NA};
    for (uint32_t i = 0; i < 7; ++i) {
        sheet.SetError(0, i, errors[i], rich);
    }
    sheet.SetBoolean(1, 0, true, 0);
    sheet.SetBoolean(1, 1, false, rich);
    sheet.SetNumber(1, 2, 42.0, 0);        // an integer (RK)
    sheet.SetNumber(1, 3, 0.1, rich);      // not exact in RK
    sheet.SetNumber(1, 4, -1234567.25, 0); // RK times 100
    sheet.SetNumber(1, 5, 1e300, 0);       // only a NUMBER record holds it
    sheet.SetNumber(1, 6, 45000.5, date);
    sheet.SetBlank(2, 0, rich);
    sheet.SetBlank(2, 1, date);
    sheet.SetString(3, 0, workbook->Strings().Intern("caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 <&>\t\n"), rich);
    sheet.SetString(3, 1, workbook->Strings().Intern(" padded "), 0);
    // Enough distinct text to take the shared-string table over several CONTINUE records, with a
    // string of 16-bit characters split across a record boundary.
    for (uint32_t r = 0; r < 300; ++r) {
        std::string text = "row " + std::to_string(r) + std::string(40, static_cast<char>('a' + r % 26));
        if (r % 7 == 0) {
            text += "\xc3\xa9";
        }
        sheet.SetString(4 + r, 0, workbook->Strings().Intern(text), 0);
        sheet.SetNumber(4 + r, 1, r * 1.5, 0);
    }
    sheet.SetString(310, 0, workbook->Strings().Intern(std::string(9000, 'L') + "\xc3\xa9"), 0);
    sheet.merges.push_back({0, 8, 1, 9});
    sheet.merges.push_back({400, 0, 400, 3});
    engine::ColumnInfo column;
    column.first = 2;
    column.last = 4;
    column.width = 20.5;
    column.customWidth = true;
    column.style = rich;
    sheet.SetColumn(column);
    column.first = 10;
    column.last = 10;
    column.hidden = true;
    sheet.SetColumn(column);
    engine::Row& row = sheet.RowAt(3);
    row.height = 30;
    row.customHeight = true;
    sheet.RowAt(5).hidden = true;
    engine::Hyperlink external;
    external.range = {3, 0, 3, 0};
    external.target = "https://example.org/a?b=1&c=2";
    external.tooltip = "tip";
    sheet.hyperlinks.push_back(external);
    engine::Hyperlink internal;
    internal.range = {1, 2, 2, 3};
    internal.location = "'Data & <more>'!A1";
    sheet.hyperlinks.push_back(internal);
    // Formulas the .xls writer calls functions of by name: a future function through a NAME
    // record, an add-in function through the add-in's EXTERNNAME.
    sheet.SetNumber(320, 0, 2, 0);
    engine::formula::SetCellFormula(sheet, 320, 0,
                                    "IFERROR(1/0,EDATE(B6,1))+_xlfn.STDEV.S(B5:B9)+SUMIFS(B5:B9,B5:B9,\">1\")");
    // An array formula: an ARRAY record after its first cell, PtgExp in every cell of its range.
    sheet.SetNumber(321, 0, 2, 0);
    sheet.SetNumber(322, 0, 4, 0);
    engine::formula::SetCellFormula(sheet, 321, 0, "B6:B7*2", 2, 1);
    // A filled-down column: one formula moved along, which the .xls reader folds by its bytes.
    engine::formula::SetCellFormula(sheet, 323, 1, "A324*2+SUM($B$6,B5:B6)");
    for (uint32_t r = 323; r < 330; ++r) {
        engine::Cell& c = sheet.CellAt(r, 1);
        c.type = engine::CellType::Number;
        c.number = r;
        c.formula = true;
        c.formulaIndex = sheet.CellAt(323, 1).formulaIndex;
    }
    sheet.frozenRows = 1;
    sheet.frozenCols = 2;
    workbook->Sheet(1).SetNumber(0, 0, 1, 0);
    for (size_t i = 0; i < workbook->SheetCount(); ++i) {
        workbook->Sheet(i).Normalize();
    }
    return workbook;
}

// Models from fixed byte programs: the ramp and a few pseudo-random ones.
std::vector<std::unique_ptr<engine::Workbook>> Workbooks()
{
    std::vector<std::unique_ptr<engine::Workbook>> books;
    books.push_back(RichWorkbook());
    std::vector<uint8_t> program;
    for (int i = 0; i < 8 * 256; ++i) {
        program.push_back(static_cast<uint8_t>(i));
    }
    books.push_back(fuzz::ModelBuilder(program).Build());
    uint32_t state = 12345;
    for (int n = 0; n < 6; ++n) {
        program.assign(1024u << (n % 3), 0);
        for (uint8_t& b : program) {
            state = state * 1103515245u + 12345u;
            b = static_cast<uint8_t>(state >> 16);
        }
        books.push_back(fuzz::ModelBuilder(program).Build());
    }
    // Generated names may hold characters no sheet name takes, and generated cells lie anywhere on
    // the large grid; the seeds keep what both formats hold.
    auto outside = [](const engine::CellRange& r) { return r.lastRow >= 65536 || r.lastCol >= 256; };
    for (auto& book : books) {
        for (size_t i = 0; i < book->SheetCount(); ++i) {
            if (i > 0) {
                book->SetSheetName(i, "Sheet" + std::to_string(i + 1));
            }
            engine::Worksheet& sheet = book->Sheet(i);
            std::erase_if(sheet.rows, [](const engine::Row& row) { return row.index >= 65536; });
            for (engine::Row& row : sheet.rows) {
                std::erase_if(row.cells, [](const engine::Cell& cell) { return cell.col >= 256; });
            }
            std::erase_if(sheet.columns, [](const engine::ColumnInfo& c) { return c.last >= 256; });
            std::erase_if(sheet.merges, outside);
            std::erase_if(sheet.hyperlinks, [&](const engine::Hyperlink& h) { return outside(h.range); });
            sheet.Normalize();
        }
    }
    return books;
}

std::vector<uint8_t> Written(engine::Workbook& workbook, bool xlsx)
{
    engine::MemorySink sink;
    if (xlsx) {
        engine::XlsxWriteOptions options;
        options.threads = 0;
        engine::WriteXlsx(workbook, sink, options);
    } else {
        engine::WriteXls(workbook, sink);
    }
    return std::move(sink.Bytes());
}

std::vector<uint8_t> WorkbookStream(const std::vector<uint8_t>& file)
{
    engine::CompoundFile cfb(file, "seed.xls");
    const engine::CompoundFile::Entry* entry = cfb.FindRootStream("Workbook");
    if (entry == nullptr) {
        return {};
    }
    std::vector<uint8_t> storage;
    auto stream = cfb.ReadStream(*entry, storage);
    return {stream.begin(), stream.end()};
}

// The pieces fuzz_xlsx_parts expects, taken from one of our xlsx files.
std::vector<uint8_t> Parts(const std::vector<uint8_t>& file)
{
    engine::ZipReader zip(engine::InputBytes::FromMemory(file, "seed.xlsx"));
    auto read = [&zip](const char* name) { return zip.Has(name) ? zip.ReadPart(name, 1u << 26) : std::string(); };
    // The harness's workbook relationships give the worksheet the id rId1.
    std::string workbook =
        std::regex_replace(read("xl/workbook.xml"), std::regex("r:id=\"rId[0-9]+\""), "r:id=\"rId1\"");
    std::string joined = workbook;
    for (const char* name : {"xl/worksheets/sheet1.xml", "xl/styles.xml", "xl/sharedStrings.xml",
                             "xl/worksheets/_rels/sheet1.xml.rels", "xl/theme/theme1.xml"}) {
        joined += fuzz::kPartSeparator;
        joined += read(name);
    }
    return {joined.begin(), joined.end()};
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: fuzz_seed_writer HARNESS OUT_DIR\n";
        return 2;
    }
    const std::string harness = argv[1];
    const std::filesystem::path out = argv[2];
    std::filesystem::create_directories(out);
    int written = 0;
    try {
        auto books = Workbooks();
        for (size_t i = 0; i < books.size(); ++i) {
            std::vector<uint8_t> seed;
            try {
                if (harness == "xlsx_read") {
                    seed = Written(*books[i], true);
                } else if (harness == "xlsx_parts") {
                    seed = Parts(Written(*books[i], true));
                } else if (harness == "xls_read") {
                    seed = Written(*books[i], false);
                } else if (harness == "xls_stream") {
                    seed = WorkbookStream(Written(*books[i], false));
                } else if (harness == "write_roundtrip" || harness == "formula" || harness == "csv_read" ||
                           harness == "ods_content") {
                    return 0; // their inputs are programs, formula texts and text files, not workbooks
                } else {
                    std::cerr << "unknown harness: " << harness << "\n";
                    return 2;
                }
            } catch (const engine::LimitError& e) {
                // A generated model that does not fit this format (the .xls grid, say).
                std::cerr << harness << ": workbook " << i << " skipped: " << e.what() << "\n";
                continue;
            }
            std::ofstream file(out / ("generated-" + std::to_string(i)), std::ios::binary);
            file.write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
            ++written;
        }
    } catch (const std::exception& e) {
        std::cerr << "fuzz_seed_writer: " << e.what() << "\n";
        return 1;
    }
    std::cerr << harness << ": " << written << " generated seeds\n";
    return 0;
}
