// Sheets whose rows the server set aside while pasting: pasted into again over those rows, copied
// from, measured and saved, they hold what they would have held in memory.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "engine/WorkbookFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <optional>

namespace gq::automation {
namespace {

constexpr uint32_t kRows = 5000;
constexpr uint32_t kCols = 20;

// 100,000 cells: more than a paste holds in memory before it sets rows aside.
std::unique_ptr<engine::Workbook> Source()
{
    auto model = std::make_unique<engine::Workbook>();
    model->InsertSheet(0, "Source");
    for (uint32_t r = 0; r < kRows; ++r) {
        for (uint32_t c = 0; c < kCols; ++c) {
            model->Sheet(0).SetNumber(r, c, r * 100.0 + c);
        }
    }
    return model;
}

size_t IndexOf(const engine::Workbook& model, const std::string& name)
{
    for (size_t i = 0; i < model.SheetCount(); ++i) {
        if (model.SheetName(i) == name) {
            return i;
        }
    }
    ADD_FAILURE() << "no sheet " << name;
    return 0;
}

// What the source's cell (r, c) holds, or nothing outside it.
std::optional<double> SourceValue(int64_t r, int64_t c)
{
    if (r < 0 || c < 0 || r >= kRows || c >= kCols) {
        return std::nullopt;
    }
    return static_cast<double>(r) * 100.0 + static_cast<double>(c);
}

TEST(EmbeddedServerSpill, ASheetSetAsideComesBackWhenPastedOverCopiedFromAndSaved)
{
    EmbeddedServerFactory factory;
    Ref<SpreadsheetServer> server = factory.CreateServer();
    Ref<Workbook> source = AdoptWorkbook(*server, Source());
    Ref<Workbook> out = server->AddWorkbook();
    Ref<Sheet> first = out->AddSheet();
    Ref<Sheet> second = out->AddSheet();
    const std::string firstName = first->Name();
    const std::string secondName = second->Name();

    source->SheetAt(1)->UsedRange()->Copy();
    first->RangeAt("A1")->PasteSpecial();
    second->RangeAt("A1")->PasteSpecial(); // the first sheet is set aside whole
    engine::Workbook& model = *ModelOf(*out);
    ASSERT_TRUE(model.SheetKeepingSpill(IndexOf(model, firstName)).rows.empty());
    ASSERT_FALSE(model.SheetKeepingSpill(IndexOf(model, secondName)).spilled.Empty());
    first->RangeAt("C3")->PasteSpecial(); // over rows on disk: they come back and are overwritten
    Ref<Range> used = first->UsedRange();
    EXPECT_EQ(used->RowCount(), static_cast<int32_t>(kRows + 2));
    EXPECT_EQ(used->ColumnCount(), static_cast<int32_t>(kCols + 2));
    // Pasted from: the paste into the second sheet sets the first aside again, then reads it back
    // as its source.
    used->Copy();
    second->RangeAt("A6001")->PasteSpecial();

    // The first sheet: the first paste where the second did not reach, the second elsewhere.
    const auto firstValue = [](int64_t r, int64_t c) -> std::optional<double> {
        if (r >= 2 && c >= 2 && r < kRows + 2 && c < kCols + 2) {
            return SourceValue(r - 2, c - 2);
        }
        return SourceValue(r, c);
    };
    const auto secondValue = [&](int64_t r, int64_t c) {
        return r >= 6000 ? firstValue(r - 6000, c) : SourceValue(r, c);
    };
    test::TempDir dir;
    const std::string path = dir.File("out.xlsx");
    out->SaveAs(path);
    auto saved = engine::OpenWorkbookFile(path);
    const struct {
        const char* what;
        engine::Workbook* model;
    } places[] = {{"in the server", &model}, {"saved", saved.get()}};
    const int64_t rows[] = {0, 1, 2, 3, 2500, kRows - 1, kRows, kRows + 1, 6000, 6003, 6000 + kRows + 1};
    const int64_t cols[] = {0, 1, 2, 10, kCols - 1, kCols, kCols + 1};
    for (const auto& place : places) {
        SCOPED_TRACE(place.what);
        const engine::Worksheet& a = place.model->Sheet(IndexOf(*place.model, firstName));
        const engine::Worksheet& b = place.model->Sheet(IndexOf(*place.model, secondName));
        for (int64_t r : rows) {
            for (int64_t c : cols) {
                for (const auto& [sheet, want] : {std::pair{&a, firstValue(r, c)}, std::pair{&b, secondValue(r, c)}}) {
                    const engine::Cell* cell = sheet->FindCell(static_cast<uint32_t>(r), static_cast<uint32_t>(c));
                    ASSERT_EQ(cell != nullptr, want.has_value()) << r << "," << c;
                    if (cell != nullptr) {
                        EXPECT_EQ(cell->number, *want) << r << "," << c;
                    }
                }
            }
        }
        EXPECT_EQ(a.CellCount(), uint64_t{kRows} * kCols + 2 * kCols + (kRows - 2) * 2);
    }
}

} // namespace
} // namespace gq::automation
