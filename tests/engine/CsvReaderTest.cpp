// The delimited text reader: sheet names from file names, how each field is typed, the dialects and
// encodings it finds, and hostile files that must end in a clear error or a sensible sheet, fast.
// SPDX-License-Identifier: Apache-2.0
#include "engine/csv/CsvReader.h"
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/WorkbookFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <sstream>

namespace gq::engine {
namespace {

std::shared_ptr<const InputBytes> Bytes(std::string_view text, std::string name = "/data/t.csv")
{
    return InputBytes::FromMemory(std::vector<uint8_t>(text.begin(), text.end()), std::move(name));
}

// What a cell holds, as one text: "n:-12", "s:007", "d:45351" (a number with a date format), "-".
std::string Show(Workbook& book, const Cell* cell)
{
    if (cell == nullptr || cell->type == CellType::Blank) {
        return "-";
    }
    if (cell->type == CellType::String) {
        return "s:" + book.Strings().At(cell->text);
    }
    std::ostringstream out;
    out.precision(17);
    out << (book.Styles().IsDateFormat(cell->style) ? "d:" : "n:") << cell->number;
    return out.str();
}

TEST(CsvReader, SheetNamesComeFromTheFileName)
{
    const struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"/data/Sales 2024.csv", "Sales 2024"},
        {"/data/q1.report.TSV", "q1.report"},
        {"/data/Q1 [final]*?.csv", "Q1 _final___"},
        {"/data/a:b\\c.csv", "a_b_c"},
        {"/data/'quoted'.csv", "quoted"},
        {"/data/'''.csv", "Sheet1"},
        {"/data/.csv", "Sheet1"},
        {"/data/tab\there.csv", "tab_here"},
        {"/data/bad\xff\xfe.csv", "bad__"},
        {"/data/abcdefghijklmnopqrstuvwxyz0123456789.csv", "abcdefghijklmnopqrstuvwxyz01234"},
        // 31 UTF-16 units: the emoji takes two and is not cut in half.
        {"/data/abcdefghijklmnopqrstuvwxyz0123\xf0\x9f\x98\x80.csv", "abcdefghijklmnopqrstuvwxyz0123"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DelimitedTextSheetName(c.path), c.name) << c.path;
        auto book = OpenWorkbookBytes(Bytes("x\n", c.path));
        ASSERT_EQ(book->SheetCount(), 1u);
        EXPECT_EQ(book->SheetName(0), c.name);
    }
}

TEST(CsvReader, FieldsAreNumbersDatesOrExactText)
{
    const struct {
        const char* field;
        const char* shown;
    } cases[] = {
        {"-12", "n:-12"},
        {"1000000.25", "n:1000000.25"},
        {"1e-3", "n:0.001"},
        {"1.5E+3", "n:1500"},
        {"0", "n:0"},
        {"0.5", "n:0.5"},
        {".5", "n:0.5"},
        {"-.5", "n:-0.5"},
        {"5.", "n:5"},
        {"123456789012345", "n:123456789012345"},
        {"0.30000000000000004", "n:0.30000000000000004"},
        // Identifiers and numbers in other forms stay text, exactly.
        {"007", "s:007"},
        {"00.5", "s:00.5"},
        {"1234567890123456", "s:1234567890123456"},
        {"+12", "s:+12"},
        {" 12", "s: 12"},
        {"12 ", "s:12 "},
        {"1e", "s:1e"},
        {"1e999", "s:1e999"},
        {"-", "s:-"},
        {".", "s:."},
        {"inf", "s:inf"},
        {"NaN", "s:NaN"},
        {"0x1F", "s:0x1F"},
        {"TRUE", "s:TRUE"},
        {"#N/A", "s:#N/A"},
        {"=1+2", "s:=1+2"},
        // Dates and date-times in ISO 8601; anything near it is text.
        {"2024-02-29", "d:45351"},
        {"1900-01-01", "d:1"},
        {"1900-03-01", "d:61"},
        {"2024-02-29T12:00", "d:45351.5"},
        {"2024-02-29 06:00:00", "d:45351.25"},
        {"2023-02-29", "s:2023-02-29"},
        {"2024-13-01", "s:2024-13-01"},
        {"1899-12-31", "s:1899-12-31"},
        {"2024-02-29T25:00", "s:2024-02-29T25:00"},
        {"2024-02-29T12:00Z", "s:2024-02-29T12:00Z"},
        {"2024-02-29x", "s:2024-02-29x"},
        {"2024-2-29", "s:2024-2-29"},
    };
    for (const auto& c : cases) {
        auto book = ReadCsv(Bytes(std::string("head\n") + c.field + "\n"));
        Worksheet& sheet = book->Sheet(0);
        EXPECT_EQ(Show(*book, sheet.FindCell(1, 0)), c.shown) << c.field;
    }
}

TEST(CsvReader, DialectsAndEncodingsAreFound)
{
    const std::string bom8 = "\xEF\xBB\xBF";
    const struct {
        std::string bytes;
        const char* name;
        TextEncoding encoding;
        char delimiter;
        const char* b2; // the second field of the second record
    } cases[] = {
        {"a,b,c\n1,2,3\n", "t.csv", TextEncoding::Utf8, ',', "n:2"},
        {"a;b;c\n1,5;2,5;3\n", "t.csv", TextEncoding::Utf8, ';', "s:2,5"},
        {"a\tb\n1\t2\n", "t.csv", TextEncoding::Utf8, '\t', "n:2"},
        {"a|b\n1|x|y\n", "t.csv", TextEncoding::Utf8, '|', "s:x"},
        // Commas inside quotes do not count; the semicolon splits every record alike.
        {"\"a,b,c\";d\n\"1,2\";x\n", "t.csv", TextEncoding::Utf8, ';', "s:x"},
        // A comma in the odd record does not outvote the semicolons of all records.
        {"a;b\nc;d\ne,f;g\n", "t.csv", TextEncoding::Utf8, ';', "s:d"},
        // One column: nothing splits, and a .tsv keeps its tab.
        {"alone\nx\n", "t.csv", TextEncoding::Utf8, ',', "-"},
        {"alone\nx\n", "t.tsv", TextEncoding::Utf8, '\t', "-"},
        {"a,b\tc\nx,y\tz\n", "t.tab", TextEncoding::Utf8, '\t', "s:z"},
        {bom8 + "a,b\n1,\xc3\xa9\n", "t.csv", TextEncoding::Utf8, ',', "s:\xc3\xa9"},
        {std::string("\xFF\xFE"
                     "a\0;\0b\0\n\0"
                     "1\0;\0\xAC\x20\n\0",
                     18),
         "t.csv", TextEncoding::Utf16Le, ';', "s:\xe2\x82\xac"},
        {std::string("\xFE\xFF\0a\0|\0b\0\n\0"
                     "1\0|\xD8\x3D\xDE\x00",
                     18),
         "t.csv", TextEncoding::Utf16Be, '|', "s:\xf0\x9f\x98\x80"},
        {"a,b\n1,caf\xe9 \x80\n", "t.csv", TextEncoding::Windows1252, ',', "s:caf\xc3\xa9 \xe2\x82\xac"},
        // A BOM that says UTF-8 wins over bytes that are not: they become U+FFFD.
        {bom8 + "a,b\n1,x\xe9y\n", "t.csv", TextEncoding::Utf8, ',', "s:x\xef\xbf\xbdy"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size());
        CsvDialect dialect = DetectCsvDialect(data, c.name);
        EXPECT_EQ(dialect.encoding, c.encoding);
        EXPECT_EQ(dialect.delimiter, c.delimiter);
        auto book = ReadCsv(Bytes(c.bytes, c.name));
        EXPECT_EQ(Show(*book, book->Sheet(0).FindCell(1, 1)), c.b2);
    }
}

TEST(CsvReader, QuotingFollowsRfc4180)
{
    const std::string text = "\"a,1\",\"say \"\"hi\"\"\",\"two\r\nlines\",\"\"\r\n"
                             "x\"y,\"q\"tail,,\n"
                             "\n"
                             "last,\"never closed\nstill, here";
    auto book = ReadCsv(Bytes(text));
    Worksheet& sheet = book->Sheet(0);
    const struct {
        uint32_t row, col;
        const char* shown;
    } cells[] = {
        {0, 0, "s:a,1"},
        {0, 1, "s:say \"hi\""},
        {0, 2, "s:two\r\nlines"},
        {0, 3, "-"},
        {1, 0, "s:x\"y"},
        {1, 1, "s:qtail"},
        {1, 2, "-"},
        {2, 0, "-"},
        {3, 0, "s:last"},
        {3, 1, "s:never closed\nstill, here"},
    };
    for (const auto& c : cells) {
        EXPECT_EQ(Show(*book, sheet.FindCell(c.row, c.col)), c.shown) << CellName(c.row, c.col);
    }
    EXPECT_EQ(sheet.UsedRange(), (CellRange{0, 0, 3, 2}));
}

TEST(CsvReader, HostileFilesEndInAClearErrorQuickly)
{
    const std::string longField(limits::kMaxStringBytes + 1, 'x');
    std::string wide;
    for (uint32_t i = 0; i <= limits::kMaxCsvFields; ++i) {
        wide += "1,";
    }
    std::string longRecord;
    for (uint32_t i = 0; i < limits::kMaxCsvFields - 1; ++i) {
        longRecord += std::string(limits::kMaxCsvRecordBytes / (limits::kMaxCsvFields - 1) + 1, 'y') + ",";
    }
    const struct {
        const char* what;
        std::string bytes;
        const char* error; // nullptr: reads without error
    } cases[] = {
        {"a field longer than a cell", "a," + longField + "\n", "longer than a cell can hold"},
        {"a quote never closed", "a,\"" + longField, "is a closing quote missing"},
        {"too many fields", wide, "fields, the columns a sheet has"},
        {"too many lines", std::string(limits::kMaxCsvRecords + 1, '\n') + "x", "lines, the rows a sheet has"},
        {"a line too long", longRecord, "which no table has"},
        {"the most lines a sheet has", std::string(limits::kMaxCsvRecords - 1, '\n') + "x\n", nullptr},
        {"binary bytes", std::string("\0\x01\xff,\x80\"\0\n\r\r\n", 11), nullptr},
        {"an odd byte of UTF-16",
         std::string("\xFF\xFE"
                     "a\0,\0b",
                     7),
         nullptr},
        {"a lone surrogate", std::string("\xFF\xFE\x00\xD8,\0", 6), nullptr},
        {"empty", "", nullptr},
        {"only a BOM", "\xEF\xBB\xBF", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto start = std::chrono::steady_clock::now();
        auto book = OpenWorkbookBytes(Bytes(c.bytes));
        ASSERT_EQ(book->SheetCount(), 1u);
        if (c.error != nullptr) {
            try {
                book->Sheet(0);
                ADD_FAILURE() << "no error";
            } catch (const LimitError& error) {
                EXPECT_NE(std::string(error.what()).find(c.error), std::string::npos) << error.what();
                EXPECT_NE(std::string(error.what()).find("t.csv"), std::string::npos) << error.what();
            }
        } else {
            EXPECT_NO_THROW(book->Sheet(0));
        }
        // The fuzzers' timeout: a busy machine may take a few times the half second each case needs.
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    }
}

TEST(CsvReader, ExtensionDecidesOnlyForTextContent)
{
    // A workbook renamed .csv is read as what it is; text named .txt is not a workbook.
    Workbook book;
    book.InsertSheet(0, "Real");
    MemorySink sink;
    WriteWorkbook(book, FileFormat::Xlsx, sink);
    auto renamed = OpenWorkbookBytes(InputBytes::FromMemory(std::move(sink.Bytes()), "/data/real.csv"));
    EXPECT_EQ(renamed->SheetName(0), "Real");
    EXPECT_THROW(OpenWorkbookBytes(Bytes("a,b\n", "/data/t.txt")), FormatError);
    EXPECT_EQ(OpenWorkbookBytes(Bytes("a,b\n", "/data/T.CSV"))->SheetName(0), "T");
}

} // namespace
} // namespace gq::engine
