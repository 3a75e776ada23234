// The sheet-name rule and everything that uses it: the server's renames, both writers, case-blind
// comparison, added-sheet names, and source workbooks whose sheets share a name.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "automation/SheetNames.h"
#include "engine/Errors.h"
#include "engine/WorkbookFile.h"
#include "engine/io/Bytes.h"
#include "tests/support/BiffTestBuilder.h"
#include "tests/support/TestSupport.h"
#include "tests/support/XlsxTestPackage.h"

#include <gtest/gtest.h>

#include <fstream>

namespace gq::automation {
namespace {

struct NameCase {
    std::string name;
    bool accepted;
    const char* expectInMessage;
};

// Every user of the rule must agree on every name: a name the server accepts must save in both
// formats, and one a writer would refuse must be refused when it is given.
TEST(SheetNameRule, TheServerAndBothWritersAgreeOnEveryName)
{
    std::string e = "\xC3\xA9";            // é: two bytes, one UTF-16 unit
    std::string face = "\xF0\x9F\x98\x80"; // an emoji: four bytes, two UTF-16 units
    std::string e31, faces15;
    for (int i = 0; i < 31; ++i) {
        e31 += e;
    }
    for (int i = 0; i < 15; ++i) {
        faces15 += face;
    }
    const NameCase cases[] = {
        {"", false, "empty"},
        {std::string(31, 'x'), true, ""},
        {std::string(32, 'x'), false, "at most 31"},
        {e31, true, ""},
        {e31 + e, false, "32 characters"},
        {faces15 + "x", true, ""},
        {faces15 + face, false, "32 characters"}, // 16 code points, 32 UTF-16 units
        {"a[b", false, "["},
        {"a]b", false, "]"},
        {"a:b", false, ":"},
        {"a*b", false, "*"},
        {"a?b", false, "?"},
        {"a/b", false, "/"},
        {"a\\b", false, "\\"},
        {"line\nfeed", false, "control character"},
        {"esc\x1b", false, "control character"},
        {"c1\xC2\x85", false, "control character"},
        {"bad\xFF", false, "not valid text"},
        {"'abc", false, "apostrophe"},
        {"abc'", false, "apostrophe"},
        {"'", false, "apostrophe"},
        {"a'b", true, ""},
        {" Data ", true, ""},
        {"Summary 2024", true, ""},
    };
    EmbeddedServerFactory factory;
    Ref<SpreadsheetServer> server = factory.CreateServer();
    Ref<Workbook> book = server->AddWorkbook();
    Ref<Sheet> sheet = book->SheetAt(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto problem = engine::SheetNameProblem(c.name);
        EXPECT_EQ(!problem.has_value(), c.accepted);
        if (problem) {
            EXPECT_NE(problem->find(c.expectInMessage), std::string::npos) << *problem;
            EXPECT_EQ(problem->find('\n'), std::string::npos) << "a message line is broken";
        }

        bool renamed = true;
        try {
            sheet->SetName(c.name);
        } catch (const ServerError& error) {
            renamed = false;
            EXPECT_NE(std::string(error.what()).find(c.expectInMessage), std::string::npos) << error.what();
        }
        EXPECT_EQ(renamed, c.accepted);

        for (auto format : {engine::FileFormat::Xlsx, engine::FileFormat::Xls}) {
            engine::Workbook model;
            model.InsertSheet(0, c.name);
            engine::MemorySink sink;
            bool saved = true;
            try {
                engine::WriteWorkbook(model, format, sink);
            } catch (const engine::LimitError&) {
                saved = false;
            }
            EXPECT_EQ(saved, c.accepted) << (format == engine::FileFormat::Xls ? "xls" : "xlsx");
        }
    }
}

TEST(SheetNameRule, RenamesAndSavesRefuseNamesEqualWithoutRegardToCase)
{
    EmbeddedServerFactory factory;
    Ref<SpreadsheetServer> server = factory.CreateServer();
    auto model = std::make_unique<engine::Workbook>();
    for (const char* name : {"Sheet1", "\xC3\x89T\xC3\x89", "Data"}) {
        model->InsertSheet(model->SheetCount(), name);
    }
    Ref<Workbook> book = AdoptWorkbook(*server, std::move(model));
    Ref<Sheet> data = book->SheetAt(3);
    for (const char* taken : {"sheet1", "\xC3\xA9t\xC3\xA9"}) {
        EXPECT_THROW(data->SetName(taken), ServerError) << taken;
    }
    data->SetName("DATA"); // its own name in another case
    EXPECT_EQ(data->Name(), "DATA");

    engine::Workbook clash;
    clash.InsertSheet(0, "\xC3\x84rger");
    clash.InsertSheet(1, "\xC3\xA4RGER");
    for (auto format : {engine::FileFormat::Xlsx, engine::FileFormat::Xls}) {
        engine::MemorySink sink;
        EXPECT_THROW(engine::WriteWorkbook(clash, format, sink), engine::LimitError);
    }
}

struct SameCase {
    const char* a;
    const char* b;
    bool same;
};

TEST(SheetNameRule, ComparesWithoutRegardToCase)
{
    const SameCase cases[] = {
        {"Sheet1", "SHEET1", true},
        {"data", "Data", true},
        {"\xC3\x84pfel", "\xC3\xA4PFEL", true},           // Äpfel / äPFEL
        {"\xC3\x89T\xC3\x89", "\xC3\xA9t\xC3\xA9", true}, // ÉTÉ / été
        {"\xC5\x81\xC3\x93"
         "D\xC5\xB9",
         "\xC5\x82\xC3\xB3"
         "d\xC5\xBA",
         true},                         // ŁÓDŹ / łódź
        {"\xC5\xB8", "\xC3\xBF", true}, // Ÿ / ÿ
        {"\xCE\xA9\xCE\x9C\xCE\x88\xCE\x93\xCE\x91", "\xCF\x89\xCE\xBC\xCE\xAD\xCE\xB3\xCE\xB1", true}, // ΩΜΈΓΑ / ωμέγα
        {"\xCF\x83", "\xCF\x82", true},                                                                 // σ / final ς
        {"\xD0\x94\xD0\x90\xD0\x9D\xD0\x9D\xD0\xAB\xD0\x95", "\xD0\xB4\xD0\xB0\xD0\xBD\xD0\xBD\xD1\x8B\xD0\xB5",
         true},                                 // ДАННЫЕ
        {"\xD0\x81", "\xD1\x91", true},         // Ё / ё
        {"\xE1\xBA\xA0", "\xE1\xBA\xA1", true}, // Ạ / ạ
        {"\xD4\xB1", "\xD5\xA1", true},         // Armenian Ա / ա
        {"Sheet1", "Sheet1 ", false},
        {"\xC3\x84", "A", false},        // no accent stripping
        {"\xC3\x97", "\xC3\xB7", false}, // × is not a capital of ÷
        {"a\xFF"
         "b",
         "A\xFF"
         "B",
         true}, // invalid bytes compare exactly
        {"a\xFF", "a\xFE", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SameSheetName(c.a, c.b), c.same) << c.a << " vs " << c.b;
    }
}

TEST(SheetNameRule, AddedSheetsCountUpAndNeverReuseANumber)
{
    const struct {
        std::vector<std::string> existing;
        uint64_t lastNumber;
        const char* next;
    } cases[] = {
        {{}, 0, "Sheet1"},
        {{"Sheet1"}, 0, "Sheet2"},
        {{"Sheet2"}, 0, "Sheet3"},           // counts up from the highest in use
        {{"sheet1", "SHEET2"}, 0, "Sheet3"}, // without regard to case
        {{"Sheet1", "Sheet3"}, 0, "Sheet4"},
        {{"Sheet1", "Data", "Sheet01"}, 0, "Sheet2"}, // "Sheet01" is not a number this hands out
        {{"Data", "Sheet1"}, 2, "Sheet3"},            // Sheet2 was handed out and renamed: not again
        {{"Sheet99999999999999999999"}, 0, "Sheet1"}, // too long to be a counter
    };
    for (const auto& c : cases) {
        SheetNameIndex index;
        for (size_t i = 0; i < c.existing.size(); ++i) {
            index.Add(c.existing[i], i);
        }
        uint64_t last = c.lastNumber;
        EXPECT_EQ(NextSheetName(index, last), c.next);
        EXPECT_EQ("Sheet" + std::to_string(last), c.next);
    }
}

// A source workbook whose sheets share a name (exactly or up to case) in either format: every
// sheet is listed under a name of its own and found by it, the first keeping its name.
TEST(SheetNameRule, SheetsOfOneSourceSharingANameAreListedAndFoundApart)
{
    const std::string long30(30, 'L');
    const std::vector<std::string> names{"Data", "DATA", "Data (2)", "data", long30, long30};
    const std::vector<std::string> listed{"Data",     "DATA (3)", "Data (2)",
                                          "data (4)", long30,     std::string(27, 'L') + " (2)"};
    test::TempDir dir;

    auto parts = test::WorkbookPartsWithSheets(
        names, [](size_t i) { return "<row r=\"1\"><c r=\"A1\"><v>" + std::to_string(i) + "</v></c></row>"; });
    const std::string xlsx = dir.File("shared.xlsx");
    auto zip = test::BuildZip(test::Entries(parts));
    std::ofstream(xlsx, std::ios::binary)
        .write(reinterpret_cast<const char*>(zip.data()), static_cast<std::streamsize>(zip.size()));

    namespace tb = test::biff;
    tb::WorkbookStream wb;
    for (size_t i = 0; i < names.size(); ++i) {
        tb::Sheet sheet;
        sheet.name = names[i];
        sheet.records = tb::Record(0x0203, tb::Bytes().U16(0).U16(0).U16(15).F64(static_cast<double>(i + 1)));
        wb.sheets.push_back(sheet);
    }
    const std::string xls = dir.File("shared.xls");
    auto file = tb::XlsFile(wb).bytes;
    std::ofstream(xls, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));

    EmbeddedServerFactory factory;
    for (const std::string& path : {xlsx, xls}) {
        SCOPED_TRACE(path);
        Ref<SpreadsheetServer> server = factory.CreateServer();
        Ref<Workbook> book = server->OpenWorkbook(path);
        ASSERT_EQ(book->SheetCount(), static_cast<int32_t>(listed.size()));
        for (size_t i = 0; i < listed.size(); ++i) {
            EXPECT_EQ(book->SheetAt(static_cast<int32_t>(i + 1))->Name(), listed[i]);
            Ref<Sheet> found = book->SheetByName(listed[i]);
            engine::Workbook* model = ModelOf(*book);
            size_t index = 0;
            while (model->SheetName(index) != found->Name()) {
                ++index;
            }
            const engine::Cell* cell = model->Sheet(index).FindCell(0, 0);
            ASSERT_NE(cell, nullptr);
            EXPECT_EQ(cell->number, static_cast<double>(i + 1)) << "the sheet listed as " << listed[i];
        }
        book->Close();
    }
}

} // namespace
} // namespace gq::automation
