// Workbooks that change between listing and merging, merged through the embedded server: a file
// removed, replaced by garbage, rewritten without the listed sheet, or with a damaged sheet. Each
// is reported as skipped with its reason; the rest is merged and saved.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "engine/WorkbookFile.h"
#include "merge/MergeEngine.h"
#include "tests/support/FakePrompts.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

namespace gq::merge {
namespace {

namespace fs = std::filesystem;
using catalogue::SheetEntry;

// Saves a one-sheet workbook whose A1 holds `value`.
void SaveBook(const std::string& path, const std::string& sheetName, double value)
{
    engine::Workbook wb;
    engine::Worksheet& sheet = wb.Sheet(wb.InsertSheet(0, sheetName));
    for (uint32_t r = 0; r < 40; ++r) {
        sheet.SetNumber(r, 0, r == 0 ? value : r);
    }
    engine::SaveWorkbookFile(wb, path);
}

// Flips bytes inside the compressed worksheet part of an xlsx package, so that the workbook still
// opens and lists its sheets but the sheet itself cannot be read.
void DamageWorksheetPart(const std::string& path)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    // The part's local file header (PKWARE APPNOTE 4.3.7) is 30 bytes
    // followed by its name; the name may also appear in the central directory.
    const std::string name = "xl/worksheets/sheet1.xml";
    size_t at = bytes.find(name);
    while (at != std::string::npos && (at < 30 || bytes.compare(at - 30, 4, "PK\x03\x04") != 0)) {
        at = bytes.find(name, at + 1);
    }
    ASSERT_NE(at, std::string::npos);
    // The local header's extra field length is the two bytes before the name.
    size_t extra = static_cast<uint8_t>(bytes[at - 2]) | (static_cast<uint8_t>(bytes[at - 1]) << 8);
    size_t data = at + name.size() + extra;
    for (size_t i = data + 4; i < data + 40 && i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
    }
    file.seekp(0);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(MergeFaults, WorkbooksChangedAfterListingAreReportedAndTheRestIsMerged)
{
    test::TempDir dir;
    const std::string removed = dir.File("removed.xlsx");
    const std::string garbage = dir.File("garbage.xls");
    const std::string renamedSheet = dir.File("renamed.xlsx");
    const std::string damaged = dir.File("damaged.xlsx");
    const std::string good = dir.File("good.xlsx");
    SaveBook(removed, "Data", 1);
    SaveBook(garbage, "Data", 2);
    SaveBook(renamedSheet, "Data", 3);
    SaveBook(damaged, "Data", 4);
    SaveBook(good, "Data", 42);
    const std::vector<SheetEntry> list{
        {"Data", removed}, {"Data", garbage}, {"Data", renamedSheet}, {"Data", damaged}, {"Data", good}};

    // What happens between listing and merging.
    fs::remove(removed);
    {
        std::ofstream(garbage, std::ios::binary | std::ios::trunc) << std::string(4096, '\x7f') << "not a workbook";
    }
    SaveBook(renamedSheet, "Other", 3);
    DamageWorksheetPart(damaged);

    automation::EmbeddedServerFactory servers;
    test::FakePrompts prompts;
    for (const char* name : {"out.xlsx", "out.xls"}) {
        SCOPED_TRACE(name);
        const std::string output = dir.File(name);
        MergeReport report = MergeSheets(list, output, true, servers, prompts);
        std::map<std::string, std::string> reasons;
        for (const SkippedEntry& s : report.skipped) {
            reasons[s.entry.FileName] = s.reason;
        }
        ASSERT_EQ(reasons.size(), 4u);
        EXPECT_NE(reasons[removed].find("no longer exists"), std::string::npos) << reasons[removed];
        EXPECT_NE(reasons[garbage].find("could not be opened"), std::string::npos) << reasons[garbage];
        EXPECT_NE(reasons[garbage].find("garbage.xls"), std::string::npos) << reasons[garbage];
        EXPECT_NE(reasons[renamedSheet].find("no sheet of that name"), std::string::npos) << reasons[renamedSheet];
        EXPECT_FALSE(reasons[damaged].empty());
        EXPECT_EQ(reasons.count(good), 0u);

        // The good entry made it into the saved output.
        auto merged = engine::OpenWorkbookFile(output);
        bool found = false;
        for (size_t i = 0; i < merged->SheetCount(); ++i) {
            const engine::Cell* a1 = merged->Sheet(i).FindCell(0, 0);
            found = found || (a1 && a1->type == engine::CellType::Number && a1->number == 42);
        }
        EXPECT_TRUE(found) << "the good workbook's sheet is in the output";
    }
}

} // namespace
} // namespace gq::merge
