// The embedded server through the SpreadsheetServer interface: workbooks, sheets, names, ranges,
// copy and paste, closing and quitting, and the errors callers see.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace gq::automation {
namespace {

class EmbeddedServerTest : public testing::Test {
protected:
    EmbeddedServerFactory m_factory;
    Ref<SpreadsheetServer> m_server = m_factory.CreateServer();

    std::vector<std::string> Names(Workbook& book)
    {
        std::vector<std::string> names;
        for (int32_t i = 1; i <= book.SheetCount(); ++i) {
            names.push_back(book.SheetAt(i)->Name());
        }
        return names;
    }

    // A workbook model with one sheet per name, handed to the server as if opened.
    Ref<Workbook> Adopt(std::vector<std::string> names, bool date1904 = false)
    {
        auto model = std::make_unique<engine::Workbook>();
        for (auto& name : names) {
            model->InsertSheet(model->SheetCount(), name);
        }
        model->SetDate1904(date1904);
        return AdoptWorkbook(*m_server, std::move(model));
    }
};

// Runs `call`, expects a ServerError whose text contains `part`, and gives the text.
template <class F>
std::string ExpectServerError(F&& call, const std::string& part)
{
    try {
        call();
    } catch (const ServerError& e) {
        std::string text = e.what();
        EXPECT_NE(text.find(part), std::string::npos) << text;
        EXPECT_FALSE(!text.empty() && (text.back() == '.' || text.back() == ' ')) << text;
        return text;
    } catch (const std::exception& e) {
        ADD_FAILURE() << "not a ServerError: " << e.what();
        return {};
    }
    ADD_FAILURE() << "no error; expected one containing " << part;
    return {};
}

TEST_F(EmbeddedServerTest, ANewWorkbookHasOneActiveSheetNamedSheet1)
{
    Ref<Workbook> book = m_server->AddWorkbook();
    EXPECT_EQ(Names(*book), std::vector<std::string>{"Sheet1"});
    EXPECT_EQ(m_server->SheetCount(), 1);
    EXPECT_EQ(m_server->SheetAt(1)->Name(), "Sheet1");
    EXPECT_FALSE(ModelOf(*book)->Date1904());
    EXPECT_EQ(ModelOf(*book)->ActiveSheet(), 0u);
}

TEST_F(EmbeddedServerTest, AddSheetInsertsBeforeTheActiveSheetAndActivatesIt)
{
    Ref<Workbook> book = m_server->AddWorkbook();
    struct Step {
        const char* select; // sheet to select first, or nullptr
        std::vector<std::string> after;
    } steps[] = {
        {nullptr, {"Sheet2", "Sheet1"}},
        {nullptr, {"Sheet3", "Sheet2", "Sheet1"}},
        {"Sheet1", {"Sheet3", "Sheet2", "Sheet4", "Sheet1"}},
        {"Sheet3", {"Sheet5", "Sheet3", "Sheet2", "Sheet4", "Sheet1"}},
    };
    for (const auto& step : steps) {
        if (step.select != nullptr) {
            book->SheetByName(step.select)->Select();
        }
        Ref<Sheet> added = book->AddSheet();
        EXPECT_EQ(Names(*book), step.after);
        engine::Workbook* model = ModelOf(*book);
        EXPECT_EQ(model->SheetName(model->ActiveSheet()), added->Name());
    }
}

TEST_F(EmbeddedServerTest, AddedSheetsNeverReuseANumberAfterRenames)
{
    Ref<Workbook> book = m_server->AddWorkbook();
    Ref<Sheet> second = book->AddSheet();
    second->SetName("Data");
    EXPECT_EQ(book->AddSheet()->Name(), "Sheet3");
    book->SheetByName("Sheet1")->SetName("sheet7");
    EXPECT_EQ(book->AddSheet()->Name(), "Sheet8");
    EXPECT_EQ(book->AddSheet()->Name(), "Sheet9");
}

TEST_F(EmbeddedServerTest, SheetHandlesFollowTheirSheetWhenOthersAreInserted)
{
    Ref<Workbook> book = m_server->AddWorkbook();
    Ref<Sheet> first = book->SheetAt(1);
    book->AddSheet();
    book->AddSheet();
    EXPECT_EQ(first->Name(), "Sheet1");
    first->SetName("Kept");
    EXPECT_EQ(Names(*book), (std::vector<std::string>{"Sheet3", "Sheet2", "Kept"}));
}

TEST_F(EmbeddedServerTest, FindsSheetsByNameWithoutRegardToCase)
{
    Ref<Workbook> book = Adopt({"Data", "\xC3\x89t\xC3\xA9", "Summary 2024"});
    const struct {
        const char* asked;
        const char* found; // nullptr: not found
    } cases[] = {
        {"Data", "Data"},
        {"DATA", "Data"},
        {"data", "Data"},
        {"\xC3\xA9T\xC3\x89", "\xC3\x89t\xC3\xA9"},
        {"summary 2024", "Summary 2024"},
        {"Summary", nullptr},
        {" Data", nullptr},
        {"", nullptr},
    };
    for (const auto& c : cases) {
        if (c.found != nullptr) {
            EXPECT_EQ(book->SheetByName(c.asked)->Name(), c.found) << c.asked;
        } else {
            ExpectServerError([&] { book->SheetByName(c.asked); }, "no sheet named \"" + std::string(c.asked) + "\"");
        }
    }
}

TEST_F(EmbeddedServerTest, SetNameRefusesBadNamesAndKeepsTheOldOne)
{
    Ref<Workbook> book = Adopt({"Data", "Other"});
    Ref<Sheet> sheet = book->SheetByName("Other");
    const struct {
        std::string name;
        const char* part;
    } refused[] = {
        {"", "empty"},
        {std::string(32, 'n'), "too long"},
        {"Q1/Q2", "cannot contain"},
        {"[x]", "cannot contain"},
        {"'quoted'", "apostrophe"},
        {"DATA", "already taken"},
    };
    for (const auto& r : refused) {
        ExpectServerError([&] { sheet->SetName(r.name); }, r.part);
        EXPECT_EQ(sheet->Name(), "Other");
    }
    sheet->SetName("OTHER");
    EXPECT_EQ(sheet->Name(), "OTHER");
    sheet->SetName(std::string(31, 'n'));
    EXPECT_EQ(sheet->Name(), std::string(31, 'n'));
}

TEST_F(EmbeddedServerTest, IndexesOutsideTheCollectionsFail)
{
    Ref<Workbook> book = m_server->AddWorkbook();
    ExpectServerError([&] { book->SheetAt(0); }, "no sheet number 0");
    ExpectServerError([&] { book->SheetAt(2); }, "no sheet number 2");
    ExpectServerError([&] { m_server->WorkbookAt(2); }, "no workbook number 2");
    EXPECT_EQ(m_server->WorkbookAt(1)->SheetCount(), 1);
}

TEST_F(EmbeddedServerTest, TheServerActsOnTheLastWorkbookStillOpen)
{
    ExpectServerError([&] { m_server->SheetCount(); }, "No workbook is open");
    Ref<Workbook> a = Adopt({"A1", "A2"});
    Ref<Workbook> b = Adopt({"B1"});
    EXPECT_EQ(m_server->SheetCount(), 1);
    EXPECT_EQ(m_server->SheetAt(1)->Name(), "B1");
    EXPECT_EQ(m_server->WorkbookAt(1)->SheetAt(1)->Name(), "A1");
    EXPECT_EQ(m_server->WorkbookAt(2)->SheetAt(1)->Name(), "B1");
    b->Close();
    EXPECT_EQ(m_server->SheetCount(), 2);
    EXPECT_EQ(m_server->WorkbookAt(1)->SheetAt(2)->Name(), "A2");
    ExpectServerError([&] { m_server->WorkbookAt(2); }, "no workbook number 2");
}

TEST_F(EmbeddedServerTest, HandlesOfAClosedWorkbookFail)
{
    Ref<Workbook> book = Adopt({"Data"});
    Ref<Sheet> sheet = book->SheetAt(1);
    Ref<Range> range = sheet->RangeAt("A1");
    book->Close();
    EXPECT_EQ(ModelOf(*book), nullptr);
    ExpectServerError([&] { book->SheetCount(); }, "closed");
    ExpectServerError([&] { book->Close(); }, "closed");
    ExpectServerError([&] { sheet->Name(); }, "closed");
    ExpectServerError([&] { sheet->UsedRange(); }, "closed");
    ExpectServerError([&] { range->RowCount(); }, "closed");
    ExpectServerError([&] { range->Copy(); }, "closed");
}

TEST_F(EmbeddedServerTest, QuitEndsTheInstance)
{
    Ref<Workbook> book = m_server->AddWorkbook();
    Ref<Sheet> sheet = book->SheetAt(1);
    m_server->Quit();
    ExpectServerError([&] { m_server->AddWorkbook(); }, "shut down");
    ExpectServerError([&] { m_server->SetScreenUpdating(true); }, "shut down");
    ExpectServerError([&] { book->SheetCount(); }, "shut down");
    ExpectServerError([&] { sheet->Name(); }, "shut down");
    // Handles may outlive the server object itself.
    m_server.Release();
    ExpectServerError([&] { sheet->Select(); }, "shut down");
}

TEST_F(EmbeddedServerTest, InstancesAreIndependent)
{
    Ref<SpreadsheetServer> other = m_factory.CreateServer();
    m_server->AddWorkbook();
    ExpectServerError([&] { other->SheetCount(); }, "No workbook is open");
}

TEST_F(EmbeddedServerTest, UsedRangeIsTheBoundingBoxOfWhatIsUsed)
{
    const struct {
        const char* name;
        std::vector<const char*> values;
        std::vector<const char*> styledBlanks;
        std::vector<const char*> plainBlanks;
        std::vector<const char*> merges;
        int32_t firstRow, rows, cols;
        bool empty; // an empty sheet answers A1 too, and only IsEmpty tells it from a sheet holding A1
    } cases[] = {
        {"empty", {}, {}, {}, {}, 1, 1, 1, true},
        {"one cell", {"C3"}, {}, {}, {}, 3, 1, 1, false},
        {"not anchored", {"C3", "E7"}, {}, {}, {}, 3, 5, 3, false},
        {"formats count", {"C3"}, {"H20"}, {}, {}, 3, 18, 6, false},
        {"plain blanks do not", {"C3"}, {}, {"H20"}, {}, 3, 1, 1, false},
        {"plain blanks around a value", {"C3"}, {}, {"A3", "H3"}, {}, 3, 1, 1, false},
        {"formats at a row's ends", {"C3"}, {"A4", "H4"}, {"Z4"}, {}, 3, 2, 8, false},
        {"merges extend", {"C3"}, {}, {}, {"B2:D9"}, 2, 8, 3, false},
        {"formats alone", {}, {"B5"}, {}, {}, 5, 1, 1, false},
        {"only plain blanks", {}, {}, {"B2"}, {}, 1, 1, 1, true},
        {"only A1", {"A1"}, {}, {}, {}, 1, 1, 1, false},
    };
    for (const auto& c : cases) {
        auto model = std::make_unique<engine::Workbook>();
        model->InsertSheet(0, "S");
        engine::Worksheet& s = model->Sheet(0);
        uint32_t bold = model->Styles().InternStyle([] {
            engine::ResolvedStyle st;
            st.font.bold = true;
            return st;
        }());
        engine::CellRef at;
        for (const char* a : c.values) {
            ASSERT_TRUE(engine::ParseCellName(a, at));
            s.SetNumber(at.row, at.col, 1);
        }
        for (const char* a : c.styledBlanks) {
            ASSERT_TRUE(engine::ParseCellName(a, at));
            s.SetBlank(at.row, at.col, bold);
        }
        for (const char* a : c.plainBlanks) {
            ASSERT_TRUE(engine::ParseCellName(a, at));
            s.SetBlank(at.row, at.col, 0);
        }
        for (const char* m : c.merges) {
            engine::CellRange r;
            ASSERT_TRUE(engine::ParseRangeName(m, r));
            s.merges.push_back(r);
        }
        Ref<Workbook> book = AdoptWorkbook(*m_server, std::move(model));
        Ref<Range> used = book->SheetAt(1)->UsedRange();
        EXPECT_EQ(used->FirstRow(), c.firstRow) << c.name;
        EXPECT_EQ(used->RowCount(), c.rows) << c.name;
        EXPECT_EQ(used->ColumnCount(), c.cols) << c.name;
        EXPECT_EQ(used->IsEmpty(), c.empty) << c.name;
        book->Close();
    }
}

TEST_F(EmbeddedServerTest, RangeAtParsesAddresses)
{
    Ref<Sheet> sheet = m_server->AddWorkbook()->SheetAt(1);
    const struct {
        const char* address;
        int32_t firstRow, rows, cols;
    } good[] = {{"A1", 1, 1, 1},    {"A123", 123, 1, 1},         {"B2:C5", 2, 4, 2}, {"$D$4", 4, 1, 1},
                {"c5:b2", 2, 4, 2}, {"A1048576", 1048576, 1, 1}, {"XFD1", 1, 1, 1}};
    for (const auto& g : good) {
        Ref<Range> r = sheet->RangeAt(g.address);
        EXPECT_EQ(r->FirstRow(), g.firstRow) << g.address;
        EXPECT_EQ(r->RowCount(), g.rows) << g.address;
        EXPECT_EQ(r->ColumnCount(), g.cols) << g.address;
    }
    for (const char* bad : {"", "A0", "A1048577", "XFE1", "hello", "A1:", "Sheet1!A1", "1A"}) {
        ExpectServerError([&] { sheet->RangeAt(bad); }, "not a cell or range address");
    }
}

TEST_F(EmbeddedServerTest, CopyAndPasteCarryTheBlockIntoTheTarget)
{
    auto model = std::make_unique<engine::Workbook>();
    model->InsertSheet(0, "Src");
    model->SetDate1904(true);
    engine::ResolvedStyle date;
    date.numFmt = "yyyy-mm-dd";
    uint32_t dateXf = model->Styles().InternStyle(date);
    model->Sheet(0).SetString(1, 1, model->Strings().Intern("name"));
    model->Sheet(0).SetNumber(2, 1, 10, dateXf);
    model->Sheet(0).merges.push_back(engine::CellRange{1, 1, 1, 2});

    Ref<Workbook> target = m_server->AddWorkbook();
    Ref<Workbook> source = AdoptWorkbook(*m_server, std::move(model));
    source->SheetByName("src")->Select();
    Ref<Range> used = source->SheetByName("SRC")->UsedRange();
    EXPECT_EQ(used->RowCount(), 2);
    used->Copy();
    Ref<Sheet> added = target->AddSheet();
    added->RangeAt("A1")->PasteSpecial();
    source->Close(); // the paste has happened; closing must not disturb the target
    added->SetName("Src");

    engine::Workbook* out = ModelOf(*target);
    ASSERT_NE(out, nullptr);
    const engine::Worksheet& t = out->Sheet(0);
    EXPECT_EQ(out->SheetName(0), "Src");
    ASSERT_NE(t.FindCell(0, 0), nullptr);
    EXPECT_EQ(out->Strings().At(t.FindCell(0, 0)->text), "name");
    EXPECT_EQ(t.FindCell(1, 0)->number, 1472.0);
    EXPECT_EQ(t.merges, (std::vector<engine::CellRange>{{0, 0, 0, 1}}));
    EXPECT_EQ(added->UsedRange()->RowCount(), 2);
}

TEST_F(EmbeddedServerTest, ACopyOutlivesTheClosedSourceWorkbook)
{
    auto model = std::make_unique<engine::Workbook>();
    model->InsertSheet(0, "Src");
    model->Sheet(0).SetNumber(0, 0, 5);
    Ref<Workbook> target = m_server->AddWorkbook();
    Ref<Workbook> source = AdoptWorkbook(*m_server, std::move(model));
    source->SheetAt(1)->UsedRange()->Copy();
    source->Close();
    target->SheetAt(1)->RangeAt("C3")->PasteSpecial();
    const engine::Cell* c = ModelOf(*target)->Sheet(0).FindCell(2, 2);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->number, 5);
}

// The used range of a sheet pasted into is kept up to date by each paste: pastes below, beside and
// over earlier ones (which clear what the copied block leaves empty) answer as the cells say.
TEST_F(EmbeddedServerTest, TheUsedRangeFollowsEveryPaste)
{
    auto model = std::make_unique<engine::Workbook>();
    model->InsertSheet(0, "Src");
    model->Sheet(0).SetNumber(0, 0, 1);
    model->Sheet(0).SetNumber(2, 1, 2); // A1:B3, with A3 and B1 empty
    Ref<Workbook> source = AdoptWorkbook(*m_server, std::move(model));
    Ref<Workbook> target = m_server->AddWorkbook();
    Ref<Sheet> sheet = target->SheetAt(1);
    const struct {
        const char* copy; // from the source sheet
        const char* at;
    } pastes[] = {{"A1:B3", "A1"}, {"A1:B3", "A4"}, {"A1:B3", "D2"}, {"A2:B2", "A6"}, {"A2:B2", "D4"}, {"B1:B2", "A1"}};
    for (const auto& p : pastes) {
        SCOPED_TRACE(std::string(p.copy) + " at " + p.at);
        source->SheetAt(1)->RangeAt(p.copy)->Copy();
        sheet->RangeAt(p.at)->PasteSpecial();
        const std::optional<engine::CellRange> cells = ModelOf(*target)->Sheet(0).UsedRange();
        ASSERT_TRUE(cells.has_value());
        Ref<Range> used = sheet->UsedRange();
        EXPECT_EQ(used->FirstRow(), static_cast<int32_t>(cells->firstRow + 1));
        EXPECT_EQ(used->RowCount(), static_cast<int32_t>(cells->RowCount()));
        EXPECT_EQ(used->ColumnCount(), static_cast<int32_t>(cells->ColCount()));
    }
}

TEST_F(EmbeddedServerTest, SavingEndsTheCopy)
{
    test::TempDir dir;
    Ref<Workbook> book = m_server->AddWorkbook();
    Ref<Sheet> sheet = book->SheetAt(1);
    sheet->RangeAt("A1:B2")->Copy();
    book->SaveAs(dir.File("saved.xlsx"));
    ExpectServerError([&] { sheet->RangeAt("D4")->PasteSpecial(); }, "nothing to paste");
}

TEST_F(EmbeddedServerTest, PasteFailsClearly)
{
    Ref<Workbook> target = m_server->AddWorkbook();
    Ref<Sheet> sheet = target->SheetAt(1);
    ExpectServerError([&] { sheet->RangeAt("A1")->PasteSpecial(); }, "nothing to paste");
    ModelOf(*target)->Sheet(0).SetNumber(2, 0, 3); // content in the last row copied: it must fit
    sheet->RangeAt("A1:A3")->Copy();
    ExpectServerError([&] { sheet->RangeAt("A1048575")->PasteSpecial(); }, "does not fit");
    EXPECT_NO_THROW(sheet->RangeAt("A1048574")->PasteSpecial());
}

TEST_F(EmbeddedServerTest, OpeningAMissingFileNamesIt)
{
    test::TempDir dir;
    std::string path = dir.File("missing workbook.xlsx");
    ExpectServerError([&] { m_server->OpenWorkbook(path); }, path);
    ExpectServerError([&] { m_server->OpenWorkbook(dir.Path().string()); }, dir.Path().string());
    ExpectServerError([&] { m_server->SheetCount(); }, "No workbook is open");
}

TEST_F(EmbeddedServerTest, OpeningSomethingElseNamesTheFile)
{
    test::TempDir dir;
    std::string path = dir.File("notes.xlsx");
    std::ofstream(path) << "just some text, not a workbook\n";
    ExpectServerError([&] { m_server->OpenWorkbook(path); }, "notes.xlsx");
}

TEST_F(EmbeddedServerTest, SaveAsXlsRefusesSheetsBeyondItsGridAndLeavesTheEarlierFile)
{
    test::TempDir dir;
    std::string path = dir.File("out.xls");
    std::ofstream(path) << "earlier content";
    Ref<Workbook> book = m_server->AddWorkbook();
    Ref<Sheet> big = book->AddSheet();
    big->SetName("Big one");
    ModelOf(*book)->Sheet(0).SetNumber(0, 0, 1); // the added sheet comes first
    big->RangeAt("A1")->Copy();
    const struct {
        const char* at;
        const char* part;
    } cases[] = {{"A65537", "row 65,537"}, {"IW1", "column IW"}};
    for (const auto& c : cases) {
        big->RangeAt(c.at)->PasteSpecial();
        std::string text = ExpectServerError([&] { book->SaveAs(path); }, c.part);
        EXPECT_NE(text.find("\"Big one\""), std::string::npos) << text;
        EXPECT_NE(text.find("65,536 rows and 256 columns"), std::string::npos) << text;
        ModelOf(*book)->Sheet(0).rows.clear();
        ModelOf(*book)->Sheet(0).SetNumber(0, 0, 1);
    }
    EXPECT_EQ(test::ReadAll(path), "earlier content");
    size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1u) << "no temporary file left behind";
}

} // namespace
} // namespace gq::automation
