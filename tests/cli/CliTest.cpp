// gridquilt-merge run in process over the embedded server: arguments, exit statuses, the list round
// trip, escaping, refusal of an existing output, failures that must leave nothing behind, and
// end-to-end merges checked by independent readers (openpyxl, xlrd).
// SPDX-License-Identifier: Apache-2.0
#include "cli/Cli.h"
#include "cli/ListFormat.h"

#include "automation/EmbeddedServer.h"
#include "engine/WorkbookFile.h"
#include "tests/support/TestSupport.h"
#include "tests/support/XlsxTestPackage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <sys/wait.h>
#include <unistd.h>

namespace gq::cli {
namespace {

namespace fs = std::filesystem;
using automation::Ref;
using test::ReadAll;
using test::RunCommand;
using test::ShellQuote;

struct CliRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the command as main does, over `servers`; `held` is where they leave the saved output
// (by default, that of an embedded server factory made with SaveTarget::Held).
CliRun RunTool(const std::vector<std::string>& args, automation::ServerFactory& servers, const std::string& input = "",
               automation::HeldSave* held = nullptr)
{
    if (auto* embedded = dynamic_cast<automation::EmbeddedServerFactory*>(&servers); held == nullptr && embedded) {
        held = embedded->Held();
    }
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    CliEnvironment env{in, out, err, servers, false, held};
    CliRun run;
    run.status = RunCli(args, env);
    run.out = out.str();
    run.err = err.str();
    return run;
}

// Writes a workbook whose sheets each hold `rows` rows: "<label> <sheet> <row>" and row x 10.
void MakeBook(const std::string& path, const std::string& label, const std::vector<std::string>& sheets, int rows)
{
    engine::Workbook book;
    for (const std::string& name : sheets) {
        const size_t index = book.InsertSheet(book.SheetCount(), name);
        engine::Worksheet& sheet = book.Sheet(index);
        for (int r = 0; r < rows; ++r) {
            const uint32_t text = book.Strings().Intern(label + " " + name + " " + std::to_string(r + 1));
            sheet.SetString(static_cast<uint32_t>(r), 0, text);
            sheet.SetNumber(static_cast<uint32_t>(r), 1, (r + 1) * 10.0);
        }
    }
    engine::SaveWorkbookFile(book, path);
}

std::set<std::string> FilesIn(const fs::path& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

std::vector<std::string> SheetNamesOf(const std::string& path)
{
    std::unique_ptr<engine::Workbook> book = engine::OpenWorkbookFile(path);
    std::vector<std::string> names;
    for (size_t i = 0; i < book->SheetCount(); ++i) {
        names.push_back(book->SheetName(i));
    }
    return names;
}

struct Cli : testing::Test {
    test::TempDir dir;
    // As main makes them: the saved output stays unnamed until the command names it.
    automation::EmbeddedServerFactory servers{automation::SaveTarget::Held};
    std::string reports;
    std::string east;
    std::string west;
    std::string oddFolder;

    void SetUp() override
    {
        reports = dir.File("reports");
        fs::create_directory(reports);
        east = reports + "/east.xlsx";
        west = reports + "/west.xls";
        MakeBook(east, "east", {"Sales", "Summary"}, 3);
        MakeBook(west, "west", {"Costs", "Notes"}, 4);
        // Tabs and line breaks are legal in Linux file names; the list must carry them.
        oddFolder = dir.File("odd\tfolder\nname");
        fs::create_directory(oddFolder);
        MakeBook(oddFolder + "/north.xlsx", "north", {"Plan"}, 2);
    }
};

TEST_F(Cli, UsageErrorsGiveStatus2AndSayWhy)
{
    const std::string out = dir.File("out.xlsx");
    struct Case {
        std::vector<std::string> args;
        std::string says;
    };
    const std::vector<Case> cases = {
        {{}, "no command"},
        {{"frobnicate"}, "unknown command"},
        {{"list"}, "at least one INPUT"},
        {{"list", dir.File("missing.xlsx")}, "no such file or folder"},
        {{"list", "--single", reports}, "list takes no options"},
        {{"merge", reports}, "needs -o OUTPUT"},
        {{"merge", "-o", out}, "--list FILE or at least one INPUT"},
        {{"merge", "-o", out, "--list", "-", reports}, "not both"},
        {{"merge", "-o"}, "needs a value"},
        {{"merge", "-o", out, "-o", out, reports}, "given twice"},
        {{"merge", "--single=yes", "-o", out, reports}, "takes no value"},
        {{"merge", "--bogus", "-o", out, reports}, "unknown option --bogus"},
        {{"merge", "-o", dir.File("no/such/folder/out.xlsx"), reports}, "no such folder"},
        {{"merge", "-o", reports, "--force", east}, "is a folder"},
        {{"merge", "-o", out, "--list", reports}, "is a folder, not a list file"},
        {{"merge", "-o", out, "--list", dir.File("missing.txt")}, "cannot open the list"},
    };
    for (const Case& c : cases) {
        const CliRun run = RunTool(c.args, servers);
        std::string shown;
        for (const auto& a : c.args) {
            shown += a + " ";
        }
        EXPECT_EQ(run.status, kExitFailure) << shown;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << shown << "\n" << run.err;
        EXPECT_EQ(run.out, "") << shown;
    }
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(Cli, HelpAndVersion)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--help"}, {"-h"}, {"merge", "--help"}}) {
        const CliRun run = RunTool(args, servers);
        EXPECT_EQ(run.status, kExitMerged);
        EXPECT_EQ(run.out.rfind("Usage: gridquilt-merge list INPUT...", 0), 0u) << run.out;
        EXPECT_NE(run.out.find("\\t"), std::string::npos) << "the help documents the escapes";
    }
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--version"}, {"-V"}}) {
        const CliRun run = RunTool(args, servers);
        EXPECT_EQ(run.status, kExitMerged);
        EXPECT_EQ(run.out, "gridquilt-merge 2.5.8\n");
    }
}

TEST_F(Cli, ListPrintsOneLinePerSheetInDropOrder)
{
    const CliRun run = RunTool({"list", east, west}, servers);
    ASSERT_EQ(run.status, kExitMerged) << run.err;
    EXPECT_EQ(run.out, "Sales\t" + east + "\nSummary\t" + east + "\nCosts\t" + west + "\nNotes\t" + west + "\n");
    EXPECT_EQ(run.err, "");
}

TEST_F(Cli, ListEscapesTabsAndLineBreaksInPaths)
{
    const CliRun run = RunTool({"list", oddFolder}, servers);
    ASSERT_EQ(run.status, kExitMerged) << run.err;
    EXPECT_EQ(run.out, "Plan\t" + dir.Path().string() + "/odd\\tfolder\\nname/north.xlsx\n");
}

TEST_F(Cli, ListFailureKeepsTheEntriesListedBeforeIt)
{
    const std::string bad = reports + "/broken.xlsx";
    std::ofstream(bad) << std::string(2000, 'x');
    const CliRun run = RunTool({"list", east, bad, west}, servers);
    EXPECT_EQ(run.status, kExitFailure);
    EXPECT_EQ(run.out, "Sales\t" + east + "\nSummary\t" + east + "\n");
    EXPECT_NE(run.err.find("broken.xlsx"), std::string::npos) << run.err;
}

TEST_F(Cli, MergingTheListEqualsMergingTheInputs)
{
    for (const std::string mode : {"multi", "single"}) {
        for (const std::string extension : {".xlsx", ".xls"}) {
            const std::string direct = dir.File("direct-" + mode + extension);
            const std::string viaList = dir.File("list-" + mode + extension);
            std::vector<std::string> args{"merge", "-o", direct, reports, oddFolder};
            std::vector<std::string> listArgs{"merge", "-o", viaList, "--list", "-"};
            if (mode == "single") {
                args.push_back("--single");
                listArgs.push_back("--single");
            }
            const CliRun list = RunTool({"list", reports, oddFolder}, servers);
            ASSERT_EQ(list.status, kExitMerged) << list.err;
            const CliRun first = RunTool(args, servers);
            const CliRun second = RunTool(listArgs, servers, list.out);
            ASSERT_EQ(first.status, kExitMerged) << first.err;
            ASSERT_EQ(second.status, kExitMerged) << second.err;
            // The writers are deterministic: the same merge gives the same bytes.
            EXPECT_EQ(ReadAll(direct), ReadAll(viaList)) << mode << extension;
            EXPECT_EQ(engine::OutputFormatFor(direct).format == engine::FileFormat::Xls, extension == ".xls");
        }
    }
}

TEST_F(Cli, AFilteredListMergesOnlyItsEntriesInItsOrder)
{
    const std::string output = dir.File("filtered.xlsx");
    const std::string list = "Notes\t" + west + "\nSales\t" + east + "\n";
    const CliRun run = RunTool({"merge", "-o", output, "--list", "-"}, servers, list);
    ASSERT_EQ(run.status, kExitMerged) << run.err;
    const std::vector<std::string> names = SheetNamesOf(output);
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0], "Notes");
    EXPECT_EQ(names[1], "Sales");
    EXPECT_EQ(std::count(names.begin(), names.end(), "Summary"), 0);
    EXPECT_NE(run.err.find("Merge Completed!"), std::string::npos);
}

TEST_F(Cli, SkippedEntriesGiveStatus1AndAreReported)
{
    const std::string output = dir.File("partial.xlsx");
    const std::string listFile = dir.File("list.txt");
    std::ofstream(listFile) << "Sales\t" << east << "\nNope\t" << east << "\nCosts\t" << dir.File("gone.xls") << "\n";
    const CliRun run = RunTool({"merge", "--list", listFile, "-o", output}, servers);
    EXPECT_EQ(run.status, kExitSkipped) << run.err;
    EXPECT_TRUE(fs::is_regular_file(output));
    EXPECT_NE(run.err.find("2 sheets were not merged:"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("\"Nope\" in " + east), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("gone.xls: the workbook file no longer exists"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.rfind("gridquilt-merge: ", 0), 0u) << "a message opens with the program's name\n" << run.err;
    EXPECT_EQ(run.out, "");
}

// "-o -" writes the workbook to standard output and leaves no file behind, in the current folder
// (a file named "-") nor in the temporary folder.
TEST_F(Cli, AnOutputOfDashGoesToStandardOutput)
{
    const fs::path temporary = dir.File("tmp");
    fs::create_directory(temporary);
    const char* previous = std::getenv("TMPDIR");
    const std::string saved = previous != nullptr ? previous : "";
    ::setenv("TMPDIR", temporary.c_str(), 1);
    const CliRun run = RunTool({"merge", "-o", "-", east, west}, servers);
    previous != nullptr ? ::setenv("TMPDIR", saved.c_str(), 1) : ::unsetenv("TMPDIR");
    EXPECT_EQ(run.status, kExitMerged) << run.err;
    EXPECT_FALSE(fs::exists("-"));
    EXPECT_TRUE(FilesIn(temporary).empty());
    // The writers are deterministic: the same merge into a file gives the same bytes.
    const std::string file = dir.File("same.xlsx");
    ASSERT_EQ(RunTool({"merge", "-o", file, east, west}, servers).status, kExitMerged);
    EXPECT_TRUE(run.out == ReadAll(file)) << run.out.size() << " bytes on standard output";
}

// Macro-enabled workbooks and templates are taken like the others, in folders and by name; a named
// file the drop passes over is reported on standard error and gives status 1.
TEST_F(Cli, MacroEnabledWorkbooksAndTemplatesAreTakenAndSkippedInputsReported)
{
    const std::string folder = dir.File("kinds");
    fs::create_directory(folder);
    const std::pair<const char*, const char*> packages[] = {
        {"a.xlsm", "application/vnd.ms-excel.sheet.macroEnabled.main+xml"},
        {"b.xltx", "application/vnd.openxmlformats-officedocument.spreadsheetml.template.main+xml"},
        {"c.xltm", "application/vnd.ms-excel.template.macroEnabled.main+xml"},
    };
    for (const auto& [file, type] : packages) {
        std::map<std::string, std::string> parts =
            test::MinimalWorkbookParts(R"(<row r="1"><c r="A1" t="inlineStr"><is><t>macro book</t></is></c></row>)");
        std::string& types = parts["[Content_Types].xml"];
        const std::string plain = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
        types.replace(types.find(plain), plain.size(), type);
        // Stored, not deflated, so that the file is larger than the folder walk's minimum.
        test::SaveBytes(test::BuildZip(test::Entries(parts, false)), folder + "/" + file);
    }
    MakeBook(folder + "/d.xls", "template", {"Old"}, 1);
    fs::rename(folder + "/d.xls", folder + "/d.xlt");
    const std::string notes = folder + "/notes.txt";
    std::ofstream(notes) << std::string(1000, 'n');

    const CliRun listed = RunTool({"list", folder}, servers);
    EXPECT_EQ(listed.status, kExitMerged) << listed.err;
    std::set<std::string> lines;
    std::istringstream in(listed.out);
    for (std::string line; std::getline(in, line);) {
        lines.insert(line);
    }
    EXPECT_EQ(lines, (std::set<std::string>{"Data\t" + folder + "/a.xlsm", "Data\t" + folder + "/b.xltx",
                                            "Data\t" + folder + "/c.xltm", "Old\t" + folder + "/d.xlt"}));

    const std::string skipped = "notes.txt: skipped: not a workbook";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string out;
    };
    const std::string output = dir.File("macro.xlsx");
    const Case cases[] = {
        {{"list", folder + "/a.xlsm"}, kExitMerged, "Data\t" + folder + "/a.xlsm\n"},
        {{"list", notes}, kExitSkipped, ""},
        {{"list", notes, folder + "/c.xltm"}, kExitSkipped, "Data\t" + folder + "/c.xltm\n"},
        {{"merge", "-o", output, notes, folder + "/a.xlsm", folder + "/d.xlt"}, kExitSkipped, ""},
        {{"merge", "-o", output, "--force", notes}, kExitFailure, ""},
    };
    for (const Case& c : cases) {
        const CliRun run = RunTool(c.args, servers);
        const bool named = std::find(c.args.begin(), c.args.end(), notes) != c.args.end();
        EXPECT_EQ(run.status, c.status) << c.args[1] << "\n" << run.err;
        EXPECT_EQ(run.out, c.out) << c.args[1];
        EXPECT_EQ(run.err.find(skipped) != std::string::npos, named) << run.err;
    }
    // The merge's new workbook keeps its own first sheet after the merged ones.
    EXPECT_EQ(SheetNamesOf(output), (std::vector<std::string>{"Data", "Old", "Sheet1"}));
}

TEST_F(Cli, AnEmptyListWritesNothing)
{
    const std::string output = dir.File("empty.xlsx");
    const CliRun run = RunTool({"merge", "-o", output, "--list", "-"}, servers, "\n\n");
    EXPECT_EQ(run.status, kExitFailure);
    EXPECT_NE(run.err.find("No File need to merge!"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(output));
    const CliRun bad = RunTool({"merge", "-o", output, "--list", "-"}, servers, "Sales " + east + "\n");
    EXPECT_EQ(bad.status, kExitFailure);
    EXPECT_NE(bad.err.find("list line 1"), std::string::npos) << bad.err;
    EXPECT_FALSE(fs::exists(output));
}

TEST_F(Cli, AnExistingOutputIsReplacedOnlyWithForce)
{
    const fs::path outFolder = dir.Path() / "out";
    fs::create_directory(outFolder);
    const std::string output = (outFolder / "all.xlsx").string();
    std::ofstream(output) << "keep me";
    const CliRun refused = RunTool({"merge", "-o", output, reports}, servers);
    EXPECT_EQ(refused.status, kExitFailure);
    EXPECT_NE(refused.err.find("already exists (use --force"), std::string::npos) << refused.err;
    EXPECT_EQ(ReadAll(output), "keep me");
    EXPECT_EQ(FilesIn(outFolder), std::set<std::string>{"all.xlsx"});

    const CliRun forced = RunTool({"merge", "-o", output, "--force", reports}, servers);
    EXPECT_EQ(forced.status, kExitMerged) << forced.err;
    EXPECT_EQ(ReadAll(output).substr(0, 2), "PK");
    EXPECT_EQ(FilesIn(outFolder), std::set<std::string>{"all.xlsx"}) << "no temporary file is left";
}

// Hands out embedded servers whose Quit fails: the merge has saved by then and reports the failure.
class FailingQuitFactory : public automation::ServerFactory {
public:
    automation::HeldSave* Held() const { return m_inner.Held(); }
    Ref<automation::SpreadsheetServer> CreateServer() override
    {
        return Ref<automation::SpreadsheetServer>(new Server(m_inner.CreateServer()));
    }

private:
    class Server : public automation::SpreadsheetServer {
    public:
        explicit Server(Ref<automation::SpreadsheetServer> inner) : m_inner(std::move(inner)) {}
        void Release() noexcept override { delete this; }
        void SetDisplayAlerts(bool on) override { m_inner->SetDisplayAlerts(on); }
        void SetScreenUpdating(bool on) override { m_inner->SetScreenUpdating(on); }
        void SetVisible(bool on) override { m_inner->SetVisible(on); }
        Ref<automation::Workbook> AddWorkbook() override { return m_inner->AddWorkbook(); }
        Ref<automation::Workbook> OpenWorkbook(const std::string& path) override { return m_inner->OpenWorkbook(path); }
        Ref<automation::Workbook> WorkbookAt(int32_t index) override { return m_inner->WorkbookAt(index); }
        void Quit() override
        {
            m_inner->Quit();
            throw automation::ServerError("the server did not end");
        }
        int32_t SheetCount() override { return m_inner->SheetCount(); }
        Ref<automation::Sheet> SheetAt(int32_t index) override { return m_inner->SheetAt(index); }

    private:
        Ref<automation::SpreadsheetServer> m_inner;
    };
    automation::EmbeddedServerFactory m_inner{automation::SaveTarget::Held};
};

TEST_F(Cli, AFailedMergeLeavesNoOutputAndNoTemporaryFile)
{
    const fs::path outFolder = dir.Path() / "out";
    fs::create_directory(outFolder);
    FailingQuitFactory failing;
    for (const bool existing : {false, true}) {
        const std::string output = (outFolder / "all.xls").string();
        if (existing) {
            std::ofstream(output) << "earlier";
        }
        const CliRun run = RunTool({"merge", "--force", "-o", output, reports}, failing, "", failing.Held());
        EXPECT_EQ(run.status, kExitFailure);
        EXPECT_NE(run.err.find("the server did not end"), std::string::npos) << run.err;
        if (existing) {
            EXPECT_EQ(ReadAll(output), "earlier");
            EXPECT_EQ(FilesIn(outFolder), std::set<std::string>{"all.xls"});
        } else {
            EXPECT_TRUE(FilesIn(outFolder).empty());
        }
    }
}

struct PathCase {
    std::string input;
    std::string expected; // "$" stands for the current folder
};

TEST(CliPaths, InputsBecomeAbsoluteWithoutDotSegments)
{
    const std::string cwd = fs::current_path().string();
    const std::string root = cwd == "/" ? "" : cwd;
    const std::vector<PathCase> cases = {
        {"/a/./b//c/", "/a/b/c/"},    {"/a/../b.xlsx", "/a/../b.xlsx"}, {"/", "/"},
        {"book.xlsx", "$/book.xlsx"}, {"./reports/", "$/reports/"},     {".", "$/"},
        {"reports/.", "$/reports/"},
    };
    for (const PathCase& c : cases) {
        std::string expected = c.expected;
        if (expected[0] == '$') {
            expected = root + expected.substr(1);
        }
        EXPECT_EQ(AbsoluteInputPath(c.input), expected) << c.input;
    }
}

struct LongListCase {
    const char* output;
    bool single;
    size_t most; // entries the output takes
};

// Lists the output cannot take are refused before any work, saying how many it takes; a list line
// is bounded, however long the line that comes.
TEST_F(Cli, ImpossibleListsAreRefusedBeforeTheWork)
{
    const std::string line = FormatEntry({"Sales", east}) + "\n";
    const LongListCase cases[] = {{"all.xlsx", false, 65526}, {"all.xls", false, 65534}, {"all.xls", true, 65534}};
    for (const LongListCase& c : cases) {
        SCOPED_TRACE(c.output);
        std::string list;
        for (size_t i = 0; i <= c.most; ++i) {
            list += line;
        }
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::string> args = {"merge", "-o", dir.File(c.output), "--list", "-"};
        if (c.single) {
            args.push_back("--single");
        }
        const CliRun run = RunTool(args, servers, list);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "refused before merging";
        EXPECT_EQ(run.status, kExitFailure);
        EXPECT_NE(run.err.find("more than " + std::to_string(c.most) + " entries"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(dir.File(c.output)));
    }
    // One line of 8 MiB without a tab: refused at the bound, not read whole.
    const CliRun longLine = RunTool({"merge", "-o", dir.File("all.xlsx"), "--list", "-"}, servers,
                                    line + std::string(size_t{8} << 20, 'x') + "\n");
    EXPECT_EQ(longLine.status, kExitFailure);
    EXPECT_NE(longLine.err.find("list line 2: longer than 16384 bytes"), std::string::npos) << longLine.err;
}

// The command killed at any moment of a merge leaves nothing but, at most, the complete output:
// killed as soon as anything shows in the output's folder, and at points through the run.
TEST_F(Cli, AKillAtAnyMomentLeavesNothingButACompleteOutput)
{
    const std::string exe = std::string(GQ_BINARY_DIR) + "/cli/gridquilt-merge";
    if (!fs::is_regular_file(exe)) {
        GTEST_SKIP() << "gridquilt-merge is not built";
    }
    const std::string big = dir.File("big.xlsx");
    MakeBook(big, "big", {"A", "B", "C"}, 30000);
    for (const std::string extension : {".xlsx", ".xls"}) {
        for (const int moment : {-1, 20, 50, 80}) { // -1: when anything shows; else % of a whole run
            SCOPED_TRACE(extension + " at " + std::to_string(moment));
            const fs::path outFolder = dir.Path() / ("out" + std::to_string(moment) + extension.substr(1));
            fs::create_directory(outFolder);
            const std::string output = (outFolder / ("all" + extension)).string();
            static std::chrono::milliseconds whole{0};
            const auto start = std::chrono::steady_clock::now();
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                ::execl(exe.c_str(), exe.c_str(), "merge", "-o", output.c_str(), big.c_str(), big.c_str(),
                        static_cast<char*>(nullptr));
                ::_exit(127);
            }
            bool killed = false;
            while (!killed && ::waitpid(child, nullptr, WNOHANG) == 0) {
                const auto spent = std::chrono::steady_clock::now() - start;
                if ((moment < 0 && !fs::is_empty(outFolder)) ||
                    (moment >= 0 && whole.count() > 0 && spent >= whole * moment / 100)) {
                    ::kill(child, SIGKILL);
                    ::waitpid(child, nullptr, 0);
                    killed = true;
                }
                ::usleep(500); // a temporary file stands for a whole save, far longer than this
            }
            if (moment < 0) {
                whole = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            }
            const std::set<std::string> left = FilesIn(outFolder);
            if (!left.empty()) {
                EXPECT_EQ(left, std::set<std::string>{"all" + extension}) << "only the output may be there";
                EXPECT_EQ(SheetNamesOf(output).size(), 7u) << "and only complete";
            }
        }
    }
}

// The independent readers see what the command wrote.
TEST_F(Cli, EndToEndMultiSheetXlsxReadByOpenpyxl)
{
    if (!test::HavePython("openpyxl")) {
        GTEST_SKIP() << "openpyxl is not installed";
    }
    const std::string output = dir.File("multi.xlsx");
    const CliRun run = RunTool({"merge", "-o", output, east, west}, servers);
    ASSERT_EQ(run.status, kExitMerged) << run.err;
    const std::string script = "import sys, openpyxl\n"
                               "wb = openpyxl.load_workbook(sys.argv[1])\n"
                               "for ws in wb.worksheets:\n"
                               "    print(ws.title, ws.max_row, ws['A1'].value, ws.cell(ws.max_row, 2).value)\n";
    std::string out;
    ASSERT_EQ(test::RunPython(script, {output}, out), 0) << out;
    EXPECT_EQ(out, "Sales 3 east Sales 1 30\n"
                   "Summary 3 east Summary 1 30\n"
                   "Costs 4 west Costs 1 40\n"
                   "Notes 4 west Notes 1 40\n"
                   "Sheet1 1 None None\n");
}

TEST_F(Cli, EndToEndSingleSheetXlsReadByXlrd)
{
    if (!test::HavePython("xlrd")) {
        GTEST_SKIP() << "xlrd is not installed";
    }
    const std::string output = dir.File("single.xls");
    const CliRun run = RunTool({"merge", "--single", "-o", output, east, oddFolder}, servers);
    ASSERT_EQ(run.status, kExitMerged) << run.err;
    const std::string script = "import sys, xlrd\n"
                               "book = xlrd.open_workbook(sys.argv[1])\n"
                               "for sh in book.sheets():\n"
                               "    print(sh.name, sh.nrows)\n"
                               "    for r in range(sh.nrows):\n"
                               "        print(' ', sh.cell_value(r, 0), int(sh.cell_value(r, 1)))\n";
    std::string out;
    ASSERT_EQ(test::RunPython(script, {output}, out), 0) << out;
    // The merge visits the list from its end, and each block goes below the rows already there.
    EXPECT_EQ(out, "Sheet2 8\n"
                   "  north Plan 1 10\n  north Plan 2 20\n"
                   "  east Summary 1 10\n  east Summary 2 20\n  east Summary 3 30\n"
                   "  east Sales 1 10\n  east Sales 2 20\n  east Sales 3 30\n"
                   "Sheet1 0\n");
}

// The documented pipeline, through the real executable and a shell.
TEST_F(Cli, ListPipedThroughGrepIntoMerge)
{
    const std::string exe = std::string(GQ_BINARY_DIR) + "/cli/gridquilt-merge";
    if (!fs::is_regular_file(exe)) {
        GTEST_SKIP() << "gridquilt-merge is not built";
    }
    const std::string output = dir.File("all.xlsx");
    std::string out;
    const int status = RunCommand(ShellQuote(exe) + " list " + ShellQuote(reports) + " | grep -v Summary | " +
                                      ShellQuote(exe) + " merge -o " + ShellQuote(output) + " --list -",
                                  out);
    ASSERT_EQ(status, 0) << out;
    std::vector<std::string> names = SheetNamesOf(output);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Costs", "Notes", "Sales", "Sheet1"}));
    std::string status1;
    EXPECT_EQ(RunCommand(ShellQuote(exe) + " merge -o " + ShellQuote(output) + " " + ShellQuote(reports), status1), 2)
        << status1;
}

} // namespace
} // namespace gq::cli
