// What an output name means (format and grid), and the save that keeps an existing file: the same
// bytes as the save that replaces, never over an existing file, and nothing left behind when the
// write fails, with an unnamed file and with the hidden temporary file alike.
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
        {"/o/all.xls", FileFormat::Xls},       {"/o/ALL.XLS", FileFormat::Xls},
        {"all.Xls", FileFormat::Xls},          {"/o/all.xlsx", FileFormat::Xlsx},
        {"/o/all.xls.bak", FileFormat::Xlsx},  {"/o/v1.xls/all", FileFormat::Xlsx},
        {"/o/xls", FileFormat::Xlsx},          {"", FileFormat::Xlsx},
        {"/o/all.ods", FileFormat::Ods},       {"/o/ALL.ODS", FileFormat::Ods},
        {"/o/all.ods.xlsx", FileFormat::Xlsx}, {"/o/ods", FileFormat::Xlsx},
    };
    for (const Case& c : cases) {
        const OutputFormat output = OutputFormatFor(c.name);
        EXPECT_EQ(output.format, c.format) << c.name;
        const bool xls = c.format == FileFormat::Xls;
        const bool ods = c.format == FileFormat::Ods;
        EXPECT_EQ(output.grid.rows, xls   ? limits::kXlsMaxRows
                                    : ods ? limits::kOdsMaxRows
                                          : limits::kXlsxMaxRows)
            << c.name;
        EXPECT_EQ(output.grid.columns, xls   ? limits::kXlsMaxCols
                                       : ods ? limits::kOdsMaxCols
                                             : limits::kXlsxMaxCols)
            << c.name;
    }
}

TEST(KeepingSave, WritesWhatTheReplacingSaveWritesAndNeverOverAFile)
{
    Workbook book;
    Worksheet& sheet = book.Sheet(book.InsertSheet(0, "Data"));
    sheet.SetNumber(0, 0, 42.0);
    sheet.SetString(1, 0, book.Strings().Intern("text"));
    for (const bool unnamedFirst : {true, false}) {
        for (const std::string extension : {".xlsx", ".xls"}) {
            SCOPED_TRACE(extension + (unnamedFirst ? " unnamed" : " hidden temporary"));
            test::TempDir dir;
            const std::string saved = dir.File("saved" + extension);
            const std::string kept = dir.File("kept" + extension);
            SaveWorkbookFile(book, saved, unnamedFirst);
            SaveWorkbookFile(book, kept, unnamedFirst, ExistingFile::Keep);
            EXPECT_EQ(Content(kept), Content(saved));
            EXPECT_EQ(fs::status(kept).permissions(), fs::status(saved).permissions());

            std::ofstream(kept, std::ios::trunc) << "earlier";
            EXPECT_THROW(SaveWorkbookFile(book, kept, unnamedFirst, ExistingFile::Keep), FileExistsError);
            EXPECT_EQ(Content(kept), "earlier");
            // A file that appears while the save is written is kept too.
            UnnamedWorkbookFile late(book, dir.File("late" + extension), unnamedFirst);
            std::ofstream(dir.File("late" + extension)) << "came first";
            EXPECT_THROW(late.Name(ExistingFile::Keep), FileExistsError);
            EXPECT_EQ(Content(dir.File("late" + extension)), "came first");
        }
    }
}

TEST(KeepingSave, AFailedOrAbandonedSaveLeavesNoFile)
{
    test::TempDir dir;
    Workbook book;
    // Beyond the 65,536 rows of an .xls sheet: the xls writer refuses it.
    book.Sheet(book.InsertSheet(0, "Tall")).SetNumber(limits::kXlsMaxRows, 0, 1.0);
    for (const bool unnamedFirst : {true, false}) {
        EXPECT_THROW(SaveWorkbookFile(book, dir.File("tall.xls"), unnamedFirst, ExistingFile::Keep), LimitError);
        EXPECT_THROW(SaveWorkbookFile(book, dir.File("missing/tall.xlsx"), unnamedFirst, ExistingFile::Keep), IoError);
        {
            const UnnamedWorkbookFile abandoned(book, dir.File("abandoned.xlsx"), unnamedFirst);
        }
    }
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

} // namespace
} // namespace gq::engine
