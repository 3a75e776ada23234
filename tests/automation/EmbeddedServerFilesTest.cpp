// The embedded server with real files: opening, the reopen cache, SaveAs in both formats and the
// safe save, and a copy and paste from a styled workbook that openpyxl wrote.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "engine/WorkbookFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace gq::automation {
namespace {

namespace fs = std::filesystem;

// Runs a Python script (with openpyxl) that writes fixtures; false when Python is unusable.
using test::ReadAll;

size_t FileCount(const fs::path& folder)
{
    size_t n = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        (void)entry;
        ++n;
    }
    return n;
}

class EmbeddedServerFiles : public testing::Test {
protected:
    // An xlsx with the given sheet names (each with its name in A1), written by the engine.
    std::string MakeWorkbook(const std::string& file, const std::vector<std::string>& sheets)
    {
        std::string path = m_dir.File(file);
        engine::Workbook model;
        for (const auto& name : sheets) {
            size_t index = model.InsertSheet(model.SheetCount(), name);
            model.Sheet(index).SetString(0, 0, model.Strings().Intern(name));
        }
        engine::SaveWorkbookFile(model, path);
        return path;
    }

    std::vector<std::string> Names(Workbook& book)
    {
        std::vector<std::string> names;
        for (int32_t i = 1; i <= book.SheetCount(); ++i) {
            names.push_back(book.SheetAt(i)->Name());
        }
        return names;
    }

    test::TempDir m_dir;
    EmbeddedServerFactory m_factory;
    Ref<SpreadsheetServer> m_server = m_factory.CreateServer();
};

TEST_F(EmbeddedServerFiles, ListsTheWorksheetsOfTheOpenedWorkbook)
{
    std::string path = MakeWorkbook("three.xlsx", {"Data", "Summary 2024", "\xC3\x89t\xC3\xA9"});
    m_server->OpenWorkbook(path);
    m_server->SetDisplayAlerts(false);
    ASSERT_EQ(m_server->SheetCount(), 3);
    EXPECT_EQ(m_server->SheetAt(1)->Name(), "Data");
    EXPECT_EQ(m_server->SheetAt(2)->Name(), "Summary 2024");
    EXPECT_EQ(m_server->SheetAt(3)->Name(), "\xC3\x89t\xC3\xA9");
    // Listing names reads no worksheet.
    Ref<Workbook> book = m_server->WorkbookAt(1);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_FALSE(ModelOf(*book)->IsSheetLoaded(i)) << i;
    }
    m_server->WorkbookAt(1)->Close();
    EXPECT_THROW(m_server->SheetCount(), ServerError);
}

TEST_F(EmbeddedServerFiles, EveryRefusalToOpenNamesTheFile)
{
    const std::string good = MakeWorkbook("good.xlsx", {"Data"});
    const std::string bytes = ReadAll(good);
    const struct {
        const char* file;
        std::string content; // written as the file's bytes
        const char* linkTo;  // when set, the file is a symbolic link to this instead
    } cases[] = {
        {"empty.xlsx", "", nullptr},
        {"text.xlsx", "just some text, not a workbook", nullptr},
        {"cut.xlsx", bytes.substr(0, bytes.size() / 2), nullptr},
        {"ole.xls", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0'), nullptr},
        {"loop.xlsx", "", "loop.xlsx"},
        {"folder.xlsx", "", "."},
    };
    for (const auto& c : cases) {
        const std::string path = m_dir.File(c.file);
        if (c.linkTo != nullptr) {
            fs::create_symlink(c.linkTo, path);
        } else {
            std::ofstream(path, std::ios::binary) << c.content;
        }
        try {
            m_server->OpenWorkbook(path);
            ADD_FAILURE() << c.file << " was opened";
        } catch (const ServerError& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
}

TEST_F(EmbeddedServerFiles, AWorkbookOpenedAgainComesFromWhatWasParsed)
{
    std::string path = MakeWorkbook("a.xlsx", {"One", "Two"});
    Ref<Workbook> first = m_server->OpenWorkbook(path);
    engine::Workbook* model = ModelOf(*first);
    model->SetSourcePath("marker: parsed once"); // not a change the server knows of
    first->Close();
    Ref<Workbook> second = m_server->OpenWorkbook(path);
    ASSERT_NE(ModelOf(*second), nullptr);
    EXPECT_EQ(ModelOf(*second)->SourcePath(), "marker: parsed once");
    EXPECT_EQ(Names(*second), (std::vector<std::string>{"One", "Two"}));
}

TEST_F(EmbeddedServerFiles, AWorkbookRewrittenBetweenOpensIsReadAgain)
{
    std::string path = MakeWorkbook("a.xlsx", {"Old"});
    Ref<Workbook> first = m_server->OpenWorkbook(path);
    ModelOf(*first)->SetSourcePath("marker");
    auto mtime = fs::last_write_time(path);
    first->Close();

    // Same name, same modification time: only the size and the change time tell.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::string rewritten = MakeWorkbook("b.xlsx", {"New", "Newer"});
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << ReadAll(rewritten);
    }
    fs::last_write_time(path, mtime);

    Ref<Workbook> second = m_server->OpenWorkbook(path);
    EXPECT_NE(ModelOf(*second)->SourcePath(), "marker");
    EXPECT_EQ(Names(*second), (std::vector<std::string>{"New", "Newer"}));
}

TEST_F(EmbeddedServerFiles, AChangedWorkbookIsNotServedAgain)
{
    std::string path = MakeWorkbook("a.xlsx", {"One"});
    Ref<Workbook> first = m_server->OpenWorkbook(path);
    first->SheetAt(1)->SetName("Renamed");
    first->Close();
    Ref<Workbook> second = m_server->OpenWorkbook(path);
    EXPECT_EQ(Names(*second), std::vector<std::string>{"One"});
}

TEST_F(EmbeddedServerFiles, TwoOpenCopiesOfOneFileDoNotShareChanges)
{
    std::string path = MakeWorkbook("a.xlsx", {"One"});
    m_server->OpenWorkbook(path)->Close();
    Ref<Workbook> first = m_server->OpenWorkbook(path); // served from memory
    Ref<Workbook> second = m_server->OpenWorkbook(path);
    first->SheetAt(1)->SetName("Changed");
    EXPECT_EQ(second->SheetAt(1)->Name(), "One");
    EXPECT_EQ(m_server->WorkbookAt(1)->SheetAt(1)->Name(), "Changed");
}

TEST_F(EmbeddedServerFiles, TheCacheHoldsOnlyTheLastFewWorkbooks)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i) {
        paths.push_back(MakeWorkbook("w" + std::to_string(i) + ".xlsx", {"S" + std::to_string(i)}));
    }
    for (const auto& path : paths) {
        Ref<Workbook> book = m_server->OpenWorkbook(path);
        ModelOf(*book)->SetSourcePath("marker " + path);
        book->Close();
    }
    // The two most recent are served from memory, the older ones were let go.
    for (int i = 3; i >= 0; --i) {
        Ref<Workbook> book = m_server->OpenWorkbook(paths[static_cast<size_t>(i)]);
        bool cached = ModelOf(*book)->SourcePath() == "marker " + paths[static_cast<size_t>(i)];
        EXPECT_EQ(cached, i >= 2) << paths[static_cast<size_t>(i)];
        book->Close();
    }
}

TEST_F(EmbeddedServerFiles, SaveAsWritesTheFormatTheExtensionNames)
{
    Ref<Workbook> book = m_server->AddWorkbook();
    Ref<Sheet> sheet = book->SheetAt(1);
    engine::Workbook* model = ModelOf(*book);
    model->Sheet(0).SetString(0, 0, model->Strings().Intern("hello"));
    model->Sheet(0).SetNumber(1, 0, 2.5);
    const struct {
        const char* name;
        const char* magic;
    } cases[] = {{"out.xlsx", "PK\x03\x04"},
                 {"out.XLS", "\xD0\xCF\x11\xE0"},
                 {"out.Xls", "\xD0\xCF\x11\xE0"},
                 {"out.xlsm", "PK\x03\x04"},
                 {"out", "PK\x03\x04"}};
    for (const auto& c : cases) {
        std::string path = m_dir.File(c.name);
        book->SaveAs(path);
        EXPECT_EQ(ReadAll(path).substr(0, 4), c.magic) << c.name;
    }
    // The xlsx reads back through the server.
    Ref<Workbook> back = m_server->OpenWorkbook(m_dir.File("out.xlsx"));
    const engine::Cell* a1 = ModelOf(*back)->Sheet(0).FindCell(0, 0);
    ASSERT_NE(a1, nullptr);
    EXPECT_EQ(ModelOf(*back)->Strings().At(a1->text), "hello");
    EXPECT_EQ(back->SheetAt(1)->UsedRange()->RowCount(), 2);
}

TEST_F(EmbeddedServerFiles, AFailedSaveLeavesTheEarlierFileAndNoTemporaryFile)
{
    std::string path = m_dir.File("out.xlsx");
    Ref<Workbook> book = m_server->AddWorkbook();
    book->SaveAs(path);
    std::string earlier = ReadAll(path);
    ASSERT_FALSE(earlier.empty());

    // A second sheet with a text longer than a cell may hold makes the writer fail half-way.
    Ref<Sheet> extra = book->AddSheet();
    engine::Workbook* model = ModelOf(*book);
    model->Sheet(1).SetString(0, 0, model->Strings().Intern("fine"));
    model->Sheet(0).SetString(5, 0, model->Strings().Intern(std::string(40000, 'x')));
    EXPECT_THROW(book->SaveAs(path), ServerError);
    EXPECT_EQ(ReadAll(path), earlier);
    EXPECT_EQ(FileCount(m_dir.Path()), 1u);

    EXPECT_THROW(book->SaveAs(m_dir.File("no such folder/out.xlsx")), ServerError);
    EXPECT_EQ(FileCount(m_dir.Path()), 1u);
}

// A styled sheet written by openpyxl, copied and pasted through the server into a new workbook,
// saved as xlsx and read back: what the paste promises survives the whole trip.
TEST_F(EmbeddedServerFiles, CopyAndPasteOfAStyledSheetSurvivesSaving)
{
    std::string src = m_dir.File("styled.xlsx");
    std::string script = R"(
import openpyxl, datetime
from openpyxl.styles import Font, PatternFill, Border, Side, Alignment
wb = openpyxl.Workbook()
wb.epoch = openpyxl.utils.datetime.CALENDAR_MAC_1904
ws = wb.active
ws.title = 'Report'
ws['B2'] = 'Title'
ws['B2'].font = Font(name='Arial', size=14, bold=True, color='FFFF0000')
ws['B2'].fill = PatternFill('solid', fgColor='FF00FF00')
ws.merge_cells('B2:D2')
ws['B3'] = datetime.date(2024, 3, 15)
ws['B3'].number_format = 'yyyy-mm-dd'
ws['C3'] = 1234.5
ws['C3'].number_format = '#,##0.00'
ws['C3'].border = Border(left=Side(style='thick', color='FF0000FF'))
ws['C3'].alignment = Alignment(horizontal='center', wrap_text=True)
ws['D3'] = True
ws['B4'] = 'link'
ws['B4'].hyperlink = 'https://example.com/'
ws.column_dimensions['B'].width = 25
ws.row_dimensions[3].height = 30
ws.freeze_panes = 'B3'
wb.save(')" + src + "')\n";
    std::string out;
    if (test::RunPython("import openpyxl", {}, out) != 0) {
        GTEST_SKIP() << "python3 with openpyxl is not available: " << out;
    }
    ASSERT_EQ(test::RunPython(script, {}, out), 0) << out;

    Ref<Workbook> target = m_server->AddWorkbook();
    Ref<Workbook> source = m_server->OpenWorkbook(src);
    source->SheetByName("REPORT")->Select();
    Ref<Range> used = source->SheetByName("report")->UsedRange();
    EXPECT_EQ(used->FirstRow(), 2);
    EXPECT_EQ(used->RowCount(), 3);
    EXPECT_EQ(used->ColumnCount(), 3);
    used->Copy();
    Ref<Sheet> sheet = target->AddSheet();
    sheet->RangeAt("A1")->PasteSpecial();
    source->Close();
    sheet->SetName("Report");
    std::string saved = m_dir.File("merged.xlsx");
    target->SaveAs(saved);

    std::unique_ptr<engine::Workbook> back = engine::OpenWorkbookFile(saved);
    ASSERT_EQ(back->SheetName(0), "Report");
    EXPECT_FALSE(back->Date1904());
    const engine::Worksheet& t = back->Sheet(0);
    const engine::Cell* title = t.FindCell(0, 0);
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(back->Strings().At(title->text), "Title");
    engine::ResolvedStyle ts = back->Styles().Resolve(title->style);
    EXPECT_EQ(ts.font.name, "Arial");
    EXPECT_EQ(ts.font.size, 14);
    EXPECT_TRUE(ts.font.bold);
    EXPECT_EQ(ts.font.color, engine::Color::Rgb(0xFFFF0000));
    EXPECT_EQ(ts.fill.pattern, engine::PatternType::Solid);
    EXPECT_EQ(t.merges, (std::vector<engine::CellRange>{{0, 0, 0, 2}}));

    const engine::Cell* date = t.FindCell(1, 0);
    ASSERT_NE(date, nullptr);
    EXPECT_EQ(date->number, 45366.0) << "2024-03-15 in the 1900 system";
    const engine::Cell* amount = t.FindCell(1, 1);
    ASSERT_NE(amount, nullptr);
    engine::ResolvedStyle as = back->Styles().Resolve(amount->style);
    EXPECT_EQ(as.numFmt, "#,##0.00");
    EXPECT_EQ(as.border.left.style, engine::BorderStyle::Thick);
    EXPECT_EQ(as.alignment.horizontal, engine::HAlign::Center);
    EXPECT_TRUE(as.alignment.wrap);
    ASSERT_NE(t.FindCell(1, 2), nullptr);
    EXPECT_EQ(t.FindCell(1, 2)->type, engine::CellType::Boolean);

    ASSERT_EQ(t.hyperlinks.size(), 1u);
    EXPECT_EQ(t.hyperlinks[0].range, (engine::CellRange{2, 0, 2, 0}));
    EXPECT_EQ(t.hyperlinks[0].target, "https://example.com/");
    ASSERT_NE(t.FindColumn(0), nullptr);
    EXPECT_NEAR(t.FindColumn(0)->width, 25, 0.01);
    ASSERT_NE(t.FindRow(1), nullptr);
    EXPECT_EQ(t.FindRow(1)->height, 30.0f);
    EXPECT_EQ(t.frozenRows, 1u) << "rows 1-2 frozen in the source, row 2 is the block's first";
    EXPECT_EQ(t.frozenCols, 0u);
}

} // namespace
} // namespace gq::automation
