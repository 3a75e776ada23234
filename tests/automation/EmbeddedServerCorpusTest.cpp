// Every real workbook of the corpus that opens goes through the merge's server calls: each sheet's
// used range is copied and pasted at A1 of a new sheet, and each pasted cell must match its source
// in type, value and look; the result must save. Files that do not open must fail with a ServerError.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace gq::automation {
namespace {

namespace fs = std::filesystem;

// Differences between a source cell and its pasted copy, as text (empty when they match).
std::string Compare(const engine::Workbook& from, const engine::Cell& a, const engine::Workbook& to,
                    const engine::Cell& b)
{
    if (a.type != b.type) {
        return "type differs";
    }
    switch (a.type) {
    case engine::CellType::String:
        if (from.Strings().At(a.text) != to.Strings().At(b.text)) {
            return "text differs";
        }
        break;
    case engine::CellType::Number: {
        double expected = a.number;
        if (from.Date1904() && !to.Date1904() && a.number != b.number) {
            expected += engine::kDate1904Offset; // a date moved to the 1900 system
        }
        if (b.number != expected) {
            return "number differs: " + std::to_string(a.number) + " vs " + std::to_string(b.number);
        }
        break;
    }
    case engine::CellType::Boolean:
        if (a.boolean != b.boolean) {
            return "boolean differs";
        }
        break;
    case engine::CellType::Error:
        if (a.error != b.error) {
            return "error differs";
        }
        break;
    case engine::CellType::Blank:
        break;
    }
    engine::ResolvedStyle sa = from.Styles().Resolve(a.style);
    engine::ResolvedStyle sb = to.Styles().Resolve(b.style);
    if (!(sa.font == sb.font && sa.fill == sb.fill && sa.border == sb.border && sa.numFmt == sb.numFmt &&
          sa.alignment == sb.alignment && sa.protection == sb.protection)) {
        return "format differs";
    }
    return {};
}

TEST(EmbeddedServerCorpus, EveryOpenableSheetPastesFaithfullyAndSaves)
{
    fs::path corpus = test::CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "the corpus is not there";
    }
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(corpus / "files")) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());

    test::TempDir dir;
    EmbeddedServerFactory factory;
    size_t opened = 0;
    size_t sheets = 0;
    size_t cells = 0;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        Ref<SpreadsheetServer> server = factory.CreateServer();
        Ref<Workbook> target = server->AddWorkbook();
        Ref<Workbook> source;
        try {
            source = server->OpenWorkbook(file.string());
        } catch (const ServerError& e) {
            EXPECT_NE(std::string(e.what()).find(file.filename().string()), std::string::npos) << e.what();
            continue;
        }
        ++opened;
        engine::Workbook* from = ModelOf(*source);
        engine::Workbook* to = ModelOf(*target);
        for (int32_t i = source->SheetCount(); i >= 1; --i) {
            Ref<Sheet> sheet = source->SheetAt(i);
            Ref<Range> used;
            try {
                used = sheet->UsedRange();
            } catch (const ServerError& e) {
                // A damaged worksheet: the merge absorbs this like any failed entry.
                EXPECT_NE(std::string(e.what()).find(file.filename().string()), std::string::npos) << e.what();
                continue;
            }
            used->Copy();
            Ref<Sheet> added = target->AddSheet();
            added->RangeAt("A1")->PasteSpecial();
            ++sheets;

            const engine::Worksheet& src = from->Sheet(static_cast<size_t>(i - 1));
            const engine::Worksheet& dst = to->Sheet(to->ActiveSheet());
            auto range = src.UsedRange();
            if (!range) {
                EXPECT_EQ(dst.CellCount(), 0u);
                continue;
            }
            size_t mismatches = 0;
            for (const engine::Row& row : src.rows) {
                for (const engine::Cell& c : row.cells) {
                    if (c.type == engine::CellType::Blank && c.style == 0) {
                        continue;
                    }
                    ++cells;
                    const engine::Cell* pasted = dst.FindCell(row.index - range->firstRow, c.col - range->firstCol);
                    std::string problem = pasted == nullptr ? "missing" : Compare(*from, c, *to, *pasted);
                    if (!problem.empty() && ++mismatches <= 3) {
                        ADD_FAILURE() << "sheet " << from->SheetName(static_cast<size_t>(i - 1)) << " "
                                      << engine::CellName(row.index, c.col) << ": " << problem;
                    }
                }
            }
            size_t inside = 0;
            for (const auto& m : src.merges) {
                inside += range->Contains(m) ? 1 : 0;
            }
            EXPECT_EQ(dst.merges.size(), inside);
        }
        source->Close();
        EXPECT_NO_THROW(target->SaveAs(dir.File("merged.xlsx")));
        target->Close();
        server->Quit();
    }
    EXPECT_GT(opened, 0u);
    RecordProperty("workbooks", static_cast<int>(opened));
    RecordProperty("sheets", static_cast<int>(sheets));
    RecordProperty("cells", static_cast<int>(cells));
    std::printf("corpus: %zu workbooks opened, %zu sheets pasted, %zu cells compared\n", opened, sheets, cells);
}

// Excel's own 1904 workbook: its dates must move by 1,462 days when pasted into a new workbook.
TEST(EmbeddedServerCorpus, A1904WorkbookFromExcelKeepsItsDates)
{
    fs::path file = test::CorpusDir() / "files" / "sheetjs__1904_1904.xlsx";
    if (test::CorpusDir().empty() || !fs::exists(file)) {
        GTEST_SKIP() << "the corpus is not there";
    }
    EmbeddedServerFactory factory;
    Ref<SpreadsheetServer> server = factory.CreateServer();
    Ref<Workbook> target = server->AddWorkbook();
    Ref<Workbook> source = server->OpenWorkbook(file.string());
    ASSERT_TRUE(ModelOf(*source)->Date1904());
    source->SheetAt(1)->RangeAt("B1")->Copy();
    target->SheetAt(1)->RangeAt("A1")->PasteSpecial();
    const engine::Cell* pasted = ModelOf(*target)->Sheet(0).FindCell(0, 0);
    ASSERT_NE(pasted, nullptr);
    // B1 holds serial 1 with a date format: 1904-01-02, which is 1463 in the 1900 system.
    EXPECT_EQ(pasted->number, 1463.0);
}

} // namespace
} // namespace gq::automation
