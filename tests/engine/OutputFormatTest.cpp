// What an output name means (format and grid), and the direct write of a new file: the same bytes
// as the safe save, never over an existing file, and nothing left behind when the write fails.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/WorkbookFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace gq::engine {
namespace {

namespace fs = std::filesystem;

std::string Content(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(OutputFormat, TheExtensionNamesTheFormatAndItsGrid)
{
    struct Case {
        const char* name;
        FileFormat format;
    };
    const Case cases[] = {
        {"/o/all.xls", FileFormat::Xls},      {"/o/ALL.XLS", FileFormat::Xls},
        {"all.Xls", FileFormat::Xls},         {"/o/all.xlsx", FileFormat::Xlsx},
        {"/o/all.xls.bak", FileFormat::Xlsx}, {"/o/v1.xls/all", FileFormat::Xlsx},
        {"/o/xls", FileFormat::Xlsx},         {"", FileFormat::Xlsx},
    };
    for (const Case& c : cases) {
        const OutputFormat output = OutputFormatFor(c.name);
        EXPECT_EQ(output.format, c.format) << c.name;
        const bool xls = c.format == FileFormat::Xls;
        EXPECT_EQ(output.grid.rows, xls ? limits::kXlsMaxRows : limits::kXlsxMaxRows) << c.name;
        EXPECT_EQ(output.grid.columns, xls ? limits::kXlsMaxCols : limits::kXlsxMaxCols) << c.name;
    }
}

TEST(WriteNewWorkbookFile, WritesWhatTheSafeSaveWritesAndNeverOverAFile)
{
    test::TempDir dir;
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Data"));
    sheet.SetNumber(0, 0, 42.0);
    sheet.SetString(1, 0, book.Strings().Intern("text"));
    for (const std::string extension : {".xlsx", ".xls"}) {
        const std::string saved = dir.File("saved" + extension);
        const std::string written = dir.File("written" + extension);
        SaveWorkbookFile(book, saved);
        WriteNewWorkbookFile(book, written);
        EXPECT_EQ(Content(written), Content(saved)) << extension;
        EXPECT_EQ(fs::status(written).permissions(), fs::status(saved).permissions()) << extension;

        std::ofstream(written, std::ios::trunc) << "earlier";
        EXPECT_THROW(WriteNewWorkbookFile(book, written), IoError) << extension;
        EXPECT_EQ(Content(written), "earlier") << extension;
    }
}

TEST(WriteNewWorkbookFile, AFailedWriteLeavesNoFile)
{
    test::TempDir dir;
    Workbook book;
    // Beyond the 65,536 rows of an .xls sheet: the xls writer refuses it.
    book.Sheet(book.InsertSheet(0, "Tall")).SetNumber(limits::kXlsMaxRows, 0, 1.0);
    EXPECT_THROW(WriteNewWorkbookFile(book, dir.File("tall.xls")), LimitError);
    EXPECT_THROW(WriteNewWorkbookFile(book, dir.File("missing/tall.xlsx")), IoError);
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

} // namespace
} // namespace gq::engine
