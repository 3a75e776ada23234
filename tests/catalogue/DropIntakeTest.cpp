// Drop intake and folder scan: the extension test, which files are taken, the order of the
// entries, what is swallowed and what ends a drop.
// SPDX-License-Identifier: Apache-2.0
#include "catalogue/DropIntake.h"

#include "catalogue/ExtensionTest.h"
#include "catalogue/SheetListing.h"
#include "tests/support/FakePrompts.h"
#include "tests/support/FakeServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace gq::catalogue {
namespace {

namespace fs = std::filesystem;
using test::FakePrompts;
using test::FakeServerFactory;
using test::FakeWorld;
using test::RecordingSink;

struct ExtensionCase {
    const char* path;
    const char* extension;
    bool passes;
};

TEST(ExtensionTest, TakesWorkbooksTemplatesAndDelimitedTextInAnyCase)
{
    const ExtensionCase cases[] = {
        {"/data/Book1.XLSX", "XLSX", true},
        {"/data/book1.xlsx", "xlsx", true},
        {"/data/Book2.xLs", "xLs", true},
        {"/data/Book.xlsm", "xlsm", true},
        {"/data/Book.XLTX", "XLTX", true},
        {"/data/Book.xltm", "xltm", true},
        {"/data/Old.Xlt", "Xlt", true},
        {"/data/Addin.xlam", "xlam", false},
        {"/data/Book.xlsb", "xlsb", false},
        {"/data/Book.csv", "csv", true},
        {"/data/Book.TSV", "TSV", true},
        {"/data/Book.ODS", "ODS", true},
        {"/data/Book.odt", "odt", false},
        {"/data/Book.Tab", "Tab", true},
        {"/data/Book.txt", "txt", false},
        {"/data/Book.cs", "cs", false},
        {"/data/Book.xl", "xl", false}, // ".XL;" is not in the mask even though ".XLS" starts with it
        {"/data/Book.ls", "ls", false},
        {"/data/noextension", "", false},
        {"/data/trailingdot.", "", false},
        {"/data/reports.xls/summary", "", false}, // the folder's extension is not the file's
        {"/a.b/file", "", false},
        {"/data/back\\slash.xls", "xls", true}, // "\" is an ordinary character here
        {"/data/c:drive.xlsx", "xlsx", true},
        {"/data/two.dots.xls", "xls", true},
        {"", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtensionOf(c.path), c.extension) << c.path;
        EXPECT_EQ(PassesExtensionTest(c.path, ExcelFileMask), c.passes) << c.path;
    }
}

TEST(ExtensionTest, TrailingSlashIsAddedOnceAndRootIsNotDoubled)
{
    EXPECT_EQ(IncludeTrailingSlash("/data"), "/data/");
    EXPECT_EQ(IncludeTrailingSlash("/data/"), "/data/");
    EXPECT_EQ(IncludeTrailingSlash("/"), "/");
}

// A folder tree on disk; the fake server knows which of its files are workbooks.
struct DropFixture : testing::Test {
    test::TempDir dir;
    FakeWorld world;
    FakeServerFactory factory{world};
    FakePrompts prompts;
    RecordingSink sink;
    DropContext context{sink, factory, prompts};

    std::string MakeFile(const std::string& relative, size_t bytes, std::vector<test::FakeSheetSpec> sheets = {})
    {
        fs::path p = dir.Path() / relative;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << std::string(bytes, 'x');
        if (!sheets.empty()) {
            world.AddFile(p.string(), std::move(sheets));
        }
        return p.string();
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> out;
        for (const auto& e : sink.entries) {
            out.push_back(e.SheetName);
        }
        return out;
    }
};

TEST_F(DropFixture, DirectlyDroppedFilesAreListedInOrderAndOthersIgnored)
{
    auto a = MakeFile("Book1.xls", 100, {{"A1"}, {"A2"}}); // small: no size test for dropped files
    auto b = MakeFile("Book2.XLSX", 2000, {{"B1"}});
    auto notes = MakeFile("notes.txt", 2000);
    ProcessDrop({a, b, notes}, context);
    EXPECT_EQ(Names(), (std::vector<std::string>{"A1", "A2", "B1"}));
    EXPECT_EQ(sink.entries[2].FileName, b);
    EXPECT_TRUE(prompts.messages.empty());
    EXPECT_EQ(prompts.events.front(), "busy on");
    EXPECT_EQ(prompts.events.back(), "busy off");
    EXPECT_FALSE(prompts.cancelShown);
}

TEST_F(DropFixture, FolderWalkTakesOnlyWorkbooksLargerThan512BytesIncludingHiddenOnes)
{
    MakeFile("in/small.xls", 512, {{"small"}});
    MakeFile("in/big.xls", 513, {{"big"}});
    MakeFile("in/.hidden.xlsx", 600, {{"hidden"}});
    MakeFile("in/deep/er/nested.xlsx", 600, {{"nested"}});
    MakeFile("in/other.csv", 600);
    ProcessDrop({(dir.Path() / "in").string()}, context);
    auto names = Names();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"big", "hidden", "nested"}));
    EXPECT_TRUE(prompts.messages.empty());
}

TEST_F(DropFixture, SubFolderContentStandsWhereTheSubFolderWasMet)
{
    // One entry per folder level, so the enumeration order of each folder does not matter.
    MakeFile("top/a/a.xlsx", 600, {{"a"}});
    MakeFile("top/a/deeper/d.xlsx", 600, {{"d"}});
    ProcessDrop({(dir.Path() / "top").string(), (dir.Path() / "top").string()}, context);
    // Depth-first: a's own workbook and its sub-folder's come together; the same folder twice
    // lists everything twice.
    const auto names = Names();
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ((std::set<std::string>{names[0], names[1]}), (std::set<std::string>{"a", "d"}));
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 2),
              std::vector<std::string>(names.begin() + 2, names.end()));
}

TEST_F(DropFixture, EmptyFolderAndFolderNamedLikeAWorkbookAreWalkedQuietly)
{
    fs::create_directories(dir.Path() / "empty");
    MakeFile("archive.xlsx/inside.xlsx", 700, {{"inside"}});
    ProcessDrop({(dir.Path() / "empty").string(), (dir.Path() / "archive.xlsx").string()}, context);
    EXPECT_EQ(Names(), (std::vector<std::string>{"inside"}));
    EXPECT_EQ(prompts.events, (std::vector<std::string>{"busy on", "hourglass on", "hourglass off", "busy off"}));
}

TEST_F(DropFixture, UnreadableWorkbookIsSkippedInAFolderButStopsTheDropWhenDroppedDirectly)
{
    MakeFile("in/bad.xlsx", 600); // the fake cannot open it
    auto good = MakeFile("in2/good.xlsx", 600, {{"good"}});
    auto bad = (dir.Path() / "in/bad.xlsx").string();

    ProcessDrop({(dir.Path() / "in").string(), good}, context);
    EXPECT_EQ(Names(), (std::vector<std::string>{"good"}));

    sink.entries.clear();
    EXPECT_THROW(ProcessDrop({good, bad, good}, context), automation::ServerError);
    // Entries before the failure stay; the item after it was not processed; the busy window is gone.
    EXPECT_EQ(Names(), (std::vector<std::string>{"good"}));
    EXPECT_FALSE(prompts.busyVisible);
    EXPECT_EQ(sink.depth, 0);
}

TEST_F(DropFixture, MissingServerGivesOneMessagePerWorkbookAndTheDropGoesOn)
{
    world.serverUnavailable = true;
    auto a = MakeFile("a.xlsx", 600, {{"a"}});
    MakeFile("f/b.xlsx", 600, {{"b"}});
    MakeFile("f/c.xls", 600, {{"c"}});
    ProcessDrop({a, (dir.Path() / "f").string()}, context);
    EXPECT_EQ(prompts.messages.size(), 3u);
    EXPECT_TRUE(sink.entries.empty());
}

TEST_F(DropFixture, SymbolicLinkCycleEnds)
{
    MakeFile("loop/x.xlsx", 600, {{"x"}});
    fs::create_directory_symlink(dir.Path() / "loop", dir.Path() / "loop" / "again");
    fs::create_directory_symlink(dir.Path() / "loop", dir.Path() / "loop" / "again2");
    ProcessDrop({(dir.Path() / "loop").string()}, context);
    EXPECT_EQ(Names(), (std::vector<std::string>{"x"}));
}

TEST_F(DropFixture, SpecialFilesInsideAFolderAreSkipped)
{
    fs::create_directories(dir.Path() / "special");
    ASSERT_EQ(::mkfifo((dir.Path() / "special" / "pipe.xlsx").c_str(), 0600), 0);
    fs::create_symlink("/dev/null", dir.Path() / "special" / "device.xls");
    MakeFile("special/real.xlsx", 600, {{"real"}});
    ProcessDrop({(dir.Path() / "special").string()}, context);
    EXPECT_EQ(Names(), (std::vector<std::string>{"real"}));
}

TEST_F(DropFixture, LongDroppedPathIsTakenWhole)
{
    std::string longName = std::string(240, 'n') + ".xlsx";
    auto p = MakeFile("deep/" + std::string(30, 'd') + "/" + longName, 600, {{"long"}});
    ASSERT_GT(p.size(), 254u);
    ProcessDrop({p}, context);
    ASSERT_EQ(sink.entries.size(), 1u);
    EXPECT_EQ(sink.entries[0].FileName, p);
}

// Folders nested deeper than the longest path the system takes (4,095 bytes) are walked relative to
// their parent: a workbook in them is named as not reached, never passed over in silence, and one
// above that depth in the same chain is listed.
TEST_F(DropFixture, FoldersDeeperThanThePathLimitAreWalkedAndWhatCannotBeReachedIsNamed)
{
    const std::string level(200, 'd');
    const int levels = 25;
    std::vector<int> fds{::open(dir.Path().c_str(), O_RDONLY | O_DIRECTORY)};
    std::string path = dir.Path().string();
    std::vector<std::string> books;
    for (int i = 0; i < levels; ++i) {
        ASSERT_EQ(::mkdirat(fds.back(), level.c_str(), 0700), 0);
        fds.push_back(::openat(fds.back(), level.c_str(), O_RDONLY | O_DIRECTORY));
        ASSERT_GE(fds.back(), 0);
        path += "/" + level;
        if (i == 14 || i == levels - 1) { // about 3,000 and 5,000 bytes deep
            const int fd = ::openat(fds.back(), "b.xlsx", O_WRONLY | O_CREAT, 0600);
            ASSERT_EQ(::write(fd, std::string(600, 'x').data(), 600), 600);
            ::close(fd);
            books.push_back(path + "/b.xlsx");
            world.AddFile(books.back(), {{"S" + std::to_string(i)}});
        }
    }
    std::vector<std::string> unreached;
    context.unreached = &unreached;
    ProcessDrop({dir.Path().string()}, context);
    EXPECT_EQ(Names(), std::vector<std::string>{"S14"});
    ASSERT_EQ(unreached.size(), 1u);
    EXPECT_EQ(unreached[0].substr(0, books[1].size() + 2), books[1] + ": ");
    EXPECT_NE(unreached[0].find("longer than the 4095 bytes"), std::string::npos)
        << unreached[0].substr(books[1].size());
    // The temporary folder's own removal goes by whole paths: the chain goes first, bottom up.
    ::unlinkat(fds.back(), "b.xlsx", 0);
    ::unlinkat(fds[15], "b.xlsx", 0);
    for (int i = levels; i > 0; --i) {
        ::close(fds[i]);
        EXPECT_EQ(::unlinkat(fds[i - 1], level.c_str(), AT_REMOVEDIR), 0);
    }
    ::close(fds[0]);
}

} // namespace
} // namespace gq::catalogue
