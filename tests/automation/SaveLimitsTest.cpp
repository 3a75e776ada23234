// Pastes keep to what the output's format holds, so that saving never fails for what was pasted.
// SPDX-License-Identifier: Apache-2.0
#include "automation/Paste.h"
#include "automation/SpreadsheetServer.h"
#include "engine/WorkbookFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace gq::automation {
namespace {

using engine::CellRange;
using engine::CellRef;
using engine::Workbook;

std::unique_ptr<Workbook> Book()
{
    auto book = std::make_unique<Workbook>();
    book->InsertSheet(0, "Sheet1");
    return book;
}

std::string Joined(const std::vector<std::string>& sentences)
{
    std::string out;
    for (const std::string& s : sentences) {
        out += s + "|";
    }
    return out;
}

// Each case fills a source sheet whose content fits an .xls sheet but holds something an .xls file
// cannot store as it is. Planned as .xls, the paste changes it and says so; planned as .xlsx, the
// same paste changes nothing. Either way the saved file opens again with the value in A1.
TEST(SaveLimits, PastesAdjustWhatTheFormatCannotHoldAndTheSaveSucceeds)
{
    const struct Case {
        const char* name;
        std::function<void(Workbook&)> fill;
        const char* xlsChange; // nullptr: the .xls paste is refused; "": nothing changes
    } cases[] = {
        {"number format longer than 255 characters",
         [](Workbook& b) {
             engine::ResolvedStyle style;
             style.numFmt = "0.00\"" + std::string(300, 'x') + "\"";
             b.Sheet(0).SetNumber(0, 0, 1.5, b.Styles().InternStyle(style));
         },
         "one cell shows as General because its number format is longer than the 255 characters an .xls file "
         "holds|"},
        {"hyperlink too long for one record",
         [](Workbook& b) {
             b.Sheet(0).SetNumber(0, 0, 1.5);
             b.Sheet(0).hyperlinks.push_back(
                 {CellRange{0, 0, 0, 0}, "https://example.com/" + std::string(5000, 'a'), "", "", ""});
             b.Sheet(0).hyperlinks.push_back({CellRange{1, 0, 1, 0}, "https://example.com/short", "", "", ""});
         },
         "one hyperlink was left out because an .xls file cannot store a link that long|"},
        {"formatting out to the last column",
         [](Workbook& b) {
             engine::ResolvedStyle style;
             style.fill = engine::Fill{engine::PatternType::Solid, engine::Color::Rgb(0xFFFFFF00), {}};
             const uint32_t yellow = b.Styles().InternStyle(style);
             b.Sheet(0).SetNumber(0, 0, 1.5, yellow);
             b.Sheet(0).SetBlank(70000, 16383, yellow);
         },
         "formatting beyond column IV / row 65,536 dropped|"},
        {"a value beyond column IV",
         [](Workbook& b) {
             b.Sheet(0).SetNumber(0, 0, 1.5);
             b.Sheet(0).SetNumber(0, 300, 2);
         },
         nullptr},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        for (const char* extension : {".xls", ".xlsx"}) {
            SCOPED_TRACE(std::string(c.name) + extension);
            auto from = Book();
            c.fill(*from);
            auto to = Book();
            const std::string path = dir.File(std::string("out") + extension);
            const engine::OutputFormat& limits = engine::OutputFormatFor(path);
            const auto used = from->Sheet(0).UsedRange();
            ASSERT_TRUE(used.has_value());
            PasteNotes notes;
            const bool xls = std::string(extension) == ".xls";
            if (xls && c.xlsChange == nullptr) {
                EXPECT_THROW(PasteBlock(*from, 0, *used, *to, 0, CellRef{0, 0}, nullptr, limits, &notes), ServerError);
                continue;
            }
            PasteBlock(*from, 0, *used, *to, 0, CellRef{0, 0}, nullptr, limits, &notes);
            EXPECT_EQ(Joined(notes.Sentences(limits)), xls ? c.xlsChange : "");
            ASSERT_NO_THROW(engine::SaveWorkbookFile(*to, path));
            auto back = engine::OpenWorkbookFile(path);
            const engine::Cell* a1 = back->Sheet(0).FindCell(0, 0);
            ASSERT_NE(a1, nullptr);
            EXPECT_EQ(a1->number, 1.5);
        }
    }
}

// More distinct cell formats than an .xls file holds: those past the limit become the most similar
// format already there, which keeps their number format, and the file saves and opens in xlrd.
TEST(SaveLimits, FormatsPastTheLimitBecomeTheMostSimilarOne)
{
    constexpr uint32_t kCells = 4100;
    auto from = Book();
    for (uint32_t i = 0; i < kCells; ++i) {
        engine::ResolvedStyle style;
        style.font.color = engine::Color::Rgb(0xFF000000 | i);
        style.numFmt = i % 2 == 0 ? "0.00" : "0%";
        from->Sheet(0).SetNumber(i, 0, i, from->Styles().InternStyle(style));
    }
    auto to = Book();
    test::TempDir dir;
    const std::string path = dir.File("formats.xls");
    const engine::OutputFormat& limits = engine::OutputFormatFor(path);
    PasteNotes notes;
    PasteBlock(*from, 0, CellRange{0, 0, kCells - 1, 0}, *to, 0, CellRef{0, 0}, nullptr, limits, &notes);
    // The new workbook's default format is one of the 4,000.
    EXPECT_EQ(notes.formatsMerged, kCells - (4000 - 1));
    EXPECT_EQ(to->Styles().CellFormats().size(), 4000u);
    for (uint32_t i = 0; i < kCells; ++i) {
        const engine::Cell* cell = to->Sheet(0).FindCell(i, 0);
        ASSERT_NE(cell, nullptr);
        ASSERT_EQ(to->Styles().Resolve(cell->style).numFmt, i % 2 == 0 ? "0.00" : "0%") << "row " << i;
    }
    ASSERT_NO_THROW(engine::SaveWorkbookFile(*to, path));

    std::string out;
    if (test::RunPython("import xlrd", {}, out) != 0) {
        GTEST_SKIP() << "python3 with xlrd is not available: " << out;
    }
    ASSERT_EQ(test::RunPython("import sys, xlrd\n"
                              "s = xlrd.open_workbook(sys.argv[1], formatting_info=True).sheet_by_index(0)\n"
                              "print(s.nrows, int(s.cell_value(4099, 0)))\n",
                              {path}, out),
              0)
        << out;
    EXPECT_EQ(out, "4100 4099\n");
}

} // namespace
} // namespace gq::automation
