// The measure of a whole merge: every corpus workbook that both the engine and the independent
// readers can read, merged into one .xlsx and one .xls in both modes, each a test of its own. gnumeric reads each
// output without a word on standard error, LibreOffice opens each, the xlsx outputs pass the schema validator, and
// openpyxl and xlrd find no difference from the sources (values, number formats, fonts, fills, borders, alignment and
// protection, merged ranges, widths, hidden rows and columns, outline levels and summaries, rows formatted as a whole,
// links) that the merge report does not list. The suite measures the workbooks up to 300 KB; tools/measure-corpus.sh
// measures them all.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "engine/WorkbookFile.h"
#include "merge/MergeEngine.h"
#include "tests/support/FakePrompts.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string_view>

namespace gq::merge {
namespace {

namespace fs = std::filesystem;
using catalogue::SheetEntry;
using test::RunCommand;
using test::ShellQuote;

constexpr uintmax_t kMaxMeasuredBytes = 300 * 1024;
// Two small files that openpyxl and xlrd take 10 to 20 seconds each to read (a sheet whose rows
// run to the end of the grid, and a very long .xls): they would make a third of the measure's time.
constexpr std::array<std::string_view, 2> kSlowForReaders{"calamine__issue_174.xlsx", "poi__51535.xls"};
const std::string kChecker = std::string(GQ_SOURCE_DIR) + "/tests/merge/scripts/check_merge.py";

// The corpus files whose sheets the engine lists, with their sheets in order.
std::vector<SheetEntry> EngineReadableEntries(const fs::path& corpus, automation::ServerFactory& servers,
                                              std::vector<std::string>& paths)
{
    // GQ_MEASURE_WHOLE_CORPUS=1 (tools/measure-corpus.sh) measures every workbook, however slow
    // the independent readers are on it.
    const char* whole = std::getenv("GQ_MEASURE_WHOLE_CORPUS");
    const bool everyFile = whole != nullptr && std::string_view(whole) == "1";
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(corpus / "files")) {
        // Otherwise workbooks up to 300 KB: the dozen larger ones (big formatted sheets, many
        // sheets) would take the independent readers minutes and gigabytes, which the suite's
        // time cannot afford.
        const std::string name = entry.path().filename().string();
        const bool fast = entry.file_size() <= kMaxMeasuredBytes &&
                          std::find(kSlowForReaders.begin(), kSlowForReaders.end(), name) == kSlowForReaders.end();
        if (entry.is_regular_file() && (everyFile || fast)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<SheetEntry> entries;
    for (const fs::path& file : files) {
        auto server = servers.CreateServer();
        try {
            auto book = server->OpenWorkbook(file.string());
            for (int32_t i = 1; i <= book->SheetCount(); ++i) {
                entries.push_back({book->SheetAt(i)->Name(), file.string()});
            }
            book->Close();
            paths.push_back(file.string());
        } catch (const automation::ServerError&) {
            // Damaged, encrypted or not a workbook: the merge would report it; nothing to measure.
        }
        server->Quit();
    }
    return entries;
}

std::set<std::string> Lines(const std::string& text)
{
    std::set<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) {
            lines.insert(line);
        }
    }
    return lines;
}

// Where the merge put each entry, for the checker: "sheet:row:col:toRow:toCol" (1-based), or "-"
// for an entry the merge report lists as not (or not wholly) pasted. Multi-sheet mode gives each
// pasted entry its own sheet, in list order, at A1; single-sheet mode visits the list last to first
// and stacks each used range at column A below the one before, an empty one taking no rows.
std::vector<std::string> Places(const std::vector<SheetEntry>& list, const MergeReport& report, bool multi,
                                std::map<std::string, std::unique_ptr<engine::Workbook>>& models)
{
    enum class Fate { Pasted, NoSheet, SheetOnly };
    auto fateOf = [&](const SheetEntry& e) {
        for (const SkippedEntry& s : report.skipped) {
            if (s.entry == e) {
                // A sheet merged under another name, or merged with some formatting or links left
                // out (which the report names), holds its content; one that does not fit is left
                // out; any other failure leaves at most an empty sheet.
                if (s.reason.starts_with("the sheet was merged") || s.reason.starts_with("merged, but")) {
                    return Fate::Pasted;
                }
                return s.reason.starts_with("its content (") ? Fate::NoSheet : Fate::SheetOnly;
            }
        }
        return Fate::Pasted;
    };
    auto usedRange = [&](const SheetEntry& e) -> std::optional<engine::CellRange> {
        auto& model = models[e.FileName];
        if (!model) {
            model = engine::OpenWorkbookFile(e.FileName);
        }
        for (size_t i = 0; i < model->SheetCount(); ++i) {
            if (model->SheetName(i) == e.SheetName) {
                return model->Sheet(i).UsedRange();
            }
        }
        return std::nullopt;
    };
    auto place = [](size_t sheet, const engine::CellRange& from, uint32_t toRow) {
        return std::to_string(sheet) + ":" + std::to_string(from.firstRow + 1) + ":" +
               std::to_string(from.firstCol + 1) + ":" + std::to_string(toRow + 1) + ":1";
    };
    std::vector<std::string> places(list.size(), "-");
    if (multi) {
        size_t sheet = 0;
        for (size_t i = 0; i < list.size(); ++i) {
            const Fate fate = fateOf(list[i]);
            sheet += fate == Fate::NoSheet ? 0 : 1;
            auto range = fate == Fate::Pasted ? usedRange(list[i]) : std::nullopt;
            if (range) {
                places[i] = place(sheet, *range, 0);
            }
        }
        return places;
    }
    uint32_t next = 0;
    for (size_t i = list.size(); i-- > 0;) {
        auto range = fateOf(list[i]) == Fate::Pasted ? usedRange(list[i]) : std::nullopt;
        if (range) {
            places[i] = place(1, *range, next);
            next += range->RowCount();
        }
    }
    return places;
}

// What every measure shares: the corpus entries the engine lists, and those the independent
// readers read. Each measure is a test process of its own, and measures run side by side: the
// readers' view of the sources is kept in the build folder, made by the first measure that gets the
// lock and read by the others (unchanged files are not read again by later runs either).
struct MeasuredCorpus {
    std::vector<SheetEntry> list;
    std::vector<std::string> paths;
    std::set<std::string> judged;
    std::set<std::pair<std::string, std::string>> seen;
};

const std::string kSourcesCache = std::string(GQ_BINARY_DIR) + "/corpus-measure-sources.pickle";

void ReadCorpus(const fs::path& corpus, MeasuredCorpus& measured)
{
    automation::EmbeddedServerFactory servers;
    measured.list = EngineReadableEntries(corpus, servers, measured.paths);
    // Only workbooks the independent readers can read can be judged by them.
    std::string probe = "CHECK_MERGE_SOURCES=" + ShellQuote(kSourcesCache) + " flock " +
                        ShellQuote(kSourcesCache + ".lock") + " /usr/bin/python3 " + ShellQuote(kChecker) + " probe";
    for (const auto& path : measured.paths) {
        probe += " " + ShellQuote(path);
    }
    std::string out;
    ASSERT_EQ(RunCommand(probe + " 2>/dev/null", out), 0) << out;
    // Each line: the path, then the sheets the readers see, tab-separated.
    for (const std::string& line : Lines(out)) {
        std::istringstream fields(line);
        std::string path;
        std::getline(fields, path, '\t');
        measured.judged.insert(path);
        for (std::string sheet; std::getline(fields, sheet, '\t');) {
            measured.seen.emplace(path, sheet);
        }
    }
}

struct MeasureCase {
    bool multi;
    const char* extension;
    friend void PrintTo(const MeasureCase& c, std::ostream* os)
    {
        *os << (c.multi ? "multi-sheet " : "single-sheet ") << c.extension;
    }
};

class CorpusMeasure : public testing::TestWithParam<MeasureCase> {};

// Split by output format and mode, so that each measure stays within a couple of minutes on a busy
// machine and the four run side by side.
TEST_P(CorpusMeasure, EveryReadableWorkbookMergesWithNoUnreportedDifference)
{
    const fs::path corpus = test::CorpusDir();
    if (corpus.empty() || !fs::exists(corpus / "files")) {
        GTEST_SKIP() << "the corpus is not there";
    }
    if (!test::HavePython("openpyxl, xlrd")) {
        GTEST_SKIP() << "openpyxl or xlrd is not installed";
    }
    const bool multi = GetParam().multi;
    const std::string extension = GetParam().extension;
    const auto started = std::chrono::steady_clock::now();
    MeasuredCorpus measured;
    ASSERT_NO_FATAL_FAILURE(ReadCorpus(corpus, measured));
    // Every sheet the engine lists is merged; the independent readers judge those they can read.
    const std::vector<SheetEntry>& list = measured.list;
    auto judgedEntry = [&](const SheetEntry& e) { return measured.seen.count({e.FileName, e.SheetName}) != 0; };
    ASSERT_GT(std::count_if(list.begin(), list.end(), judgedEntry), 50) << "too few corpus sheets to measure";

    std::map<std::string, std::unique_ptr<engine::Workbook>> models; // the sources, for their used ranges
    test::TempDir dir;
    std::string out;
    const bool haveSsconvert = RunCommand("command -v ssconvert", out) == 0;
    const bool haveLibreOffice = RunCommand("command -v libreoffice", out) == 0;
    const bool haveValidator = fs::exists(GQ_VALIDATE_XLSX);
    automation::EmbeddedServerFactory servers;
    test::FakePrompts prompts;
    const std::string name = std::string(multi ? "multi" : "single") + "-" + extension.substr(1) + extension;
    const std::string output = dir.File(name);
    const auto began = std::chrono::steady_clock::now();
    MergeReport report = MergeSheets(list, output, multi, servers, prompts);
    ASSERT_TRUE(fs::exists(output));
    std::printf("[ measure ] %s: listed and read by the readers in %.0f s\n", name.c_str(),
                std::chrono::duration<double>(began - started).count());

    std::string command = "CHECK_MERGE_SOURCES=" + ShellQuote(kSourcesCache) + " /usr/bin/python3 " +
                          ShellQuote(kChecker) + " placed " + (multi ? "multi" : "single") + " " + ShellQuote(output);
    const std::vector<std::string> places = Places(list, report, multi, models);
    for (size_t i = 0; i < list.size(); ++i) {
        command += " " + ShellQuote(judgedEntry(list[i]) ? places[i] : "-") + " " + ShellQuote(list[i].SheetName) +
                   " " + ShellQuote(list[i].FileName);
    }
    // The judges run side by side: openpyxl or xlrd, gnumeric, LibreOffice and the validator each
    // read the output on their own.
    struct Verdict {
        int status = 0;
        std::string out;
        double seconds = 0;
    };
    auto judge = [](std::string line) {
        return std::async(std::launch::async, [line] {
            Verdict verdict;
            const auto start = std::chrono::steady_clock::now();
            verdict.status = RunCommand(line, verdict.out);
            verdict.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            return verdict;
        });
    };
    const auto merged = std::chrono::steady_clock::now();
    auto readers = judge(command);
    // To gnumeric's own format, which stores only what is there: text output would write out every
    // empty cell of a stacked sheet's range.
    auto gnumeric = judge(haveSsconvert ? "ssconvert " + ShellQuote(output) + " " + ShellQuote(dir.File("g.gnumeric")) +
                                              " 2>&1 >/dev/null"
                                        : "true");
    // LibreOffice opens the output, which it reads whole to convert its first sheet to text: a
    // conversion to OpenDocument would spend most of the measure's time writing every sheet again.
    auto libreOffice =
        judge(haveLibreOffice
                  ? "libreoffice --headless -env:UserInstallation=" + ShellQuote("file://" + dir.File("lo-profile")) +
                        " --convert-to csv --outdir " + ShellQuote(dir.File("lo")) + " " + ShellQuote(output)
                  : "true");
    auto validator = judge(
        haveValidator && extension == ".xlsx" ? std::string(GQ_VALIDATE_XLSX) + " -q " + ShellQuote(output) : "true");

    const Verdict read = readers.get();
    ASSERT_EQ(read.status, 0) << read.out;
    EXPECT_EQ(read.out, "") << "differences the merge report does not list";
    std::printf("[ measure ] %s: %zu entries of %zu workbooks (%zu workbooks judged), %zu listed in the merge "
                "report\n",
                name.c_str(), list.size(), measured.paths.size(), measured.judged.size(), report.skipped.size());
    for (const SkippedEntry& s : report.skipped) {
        std::printf("[ measure ]   %s in %s: %s\n", s.entry.SheetName.c_str(),
                    fs::path(s.entry.FileName).filename().c_str(), s.reason.c_str());
    }
    const Verdict gnumericVerdict = gnumeric.get();
    EXPECT_EQ(gnumericVerdict.status, 0);
    EXPECT_EQ(gnumericVerdict.out, "") << "ssconvert complained";
    const Verdict validatorVerdict = validator.get();
    EXPECT_EQ(validatorVerdict.status, 0) << validatorVerdict.out;
    const Verdict libreOfficeVerdict = libreOffice.get();
    std::printf("[ measure ] %s: readers %.0f s, gnumeric %.0f s, LibreOffice %.0f s, validator %.0f s, all %.0f s\n",
                name.c_str(), read.seconds, gnumericVerdict.seconds, libreOfficeVerdict.seconds,
                validatorVerdict.seconds,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - merged).count());
    if (haveLibreOffice) {
        EXPECT_EQ(libreOfficeVerdict.status, 0) << libreOfficeVerdict.out;
        fs::path converted = fs::path(dir.File("lo")) / fs::path(output).filename();
        converted.replace_extension(".csv");
        EXPECT_TRUE(fs::exists(converted)) << "LibreOffice did not open " << output << ":\n" << libreOfficeVerdict.out;
    }
}

INSTANTIATE_TEST_SUITE_P(ByFormatAndMode, CorpusMeasure,
                         testing::Values(MeasureCase{true, ".xlsx"}, MeasureCase{true, ".xls"},
                                         MeasureCase{false, ".xlsx"}, MeasureCase{false, ".xls"}),
                         [](const testing::TestParamInfo<MeasureCase>& measure) {
                             return std::string(measure.param.multi ? "Multi" : "Single") +
                                    (std::string(measure.param.extension) == ".xls" ? "Xls" : "Xlsx");
                         });

} // namespace
} // namespace gq::merge
