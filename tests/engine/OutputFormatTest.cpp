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

// At each format's grid edges: the last cell fits, one row or column past it does not, and the
// save refuses it with the same text as the check asked before the save.
TEST(OutputFormat, AnswersWhetherContentFitsAtTheGridEdges)
{
    struct Case {
        const char* name;
        uint32_t row;
        uint32_t col;
        const char* tooLarge; // empty when the sheet fits
    };
    const Case cases[] = {
        {"edge.xls", 65535, 255, ""},
        {"edge.xls", 65536, 0,
         "The sheet \"S\" is too large for the Excel 97-2003 format (.xls): its content reaches row 65,537 and "
         "column A, and an .xls sheet holds at most 65,536 rows and 256 columns (A to IV). Save it as .xlsx instead"},
        {"edge.xls", 0, 256,
         "The sheet \"S\" is too large for the Excel 97-2003 format (.xls): its content reaches row 1 and column "
         "IW, and an .xls sheet holds at most 65,536 rows and 256 columns (A to IV). Save it as .xlsx instead"},
        {"edge.xlsx", 1048575, 16383, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + CellName(c.row, c.col));
        Workbook book;
        book.Sheet(book.InsertSheet(0, "S")).SetNumber(c.row, c.col, 1.0);
        const OutputFormat& output = OutputFormatFor(c.name);
        EXPECT_EQ(output.FindSheetTooLarge(book), c.tooLarge);
        test::TempDir dir;
        if (*c.tooLarge == '\0') {
            EXPECT_NO_THROW(SaveWorkbookFile(book, dir.File(c.name)));
            continue;
        }
        try {
            SaveWorkbookFile(book, dir.File(c.name));
            ADD_FAILURE() << "saved content beyond the grid";
        } catch (const LimitError& e) {
            EXPECT_EQ(std::string(e.what()), c.tooLarge);
        }
    }
    const OutputFormat& xls = OutputFormatOf(FileFormat::Xls);
    const OutputFormat& xlsx = OutputFormatOf(FileFormat::Xlsx);
    EXPECT_EQ(xls.maxCellFormats, 4000U);
    EXPECT_EQ(xls.maxNumberFormatChars, 255U);
    EXPECT_EQ(xls.lastStackStartRow, 65534U);
    EXPECT_EQ(xlsx.maxNumberFormatChars, SIZE_MAX);
    EXPECT_EQ(xlsx.maxSheets, 65527U);
    EXPECT_TRUE(xls.LimitsFormulas());
    EXPECT_FALSE(xlsx.LimitsFormulas());
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
