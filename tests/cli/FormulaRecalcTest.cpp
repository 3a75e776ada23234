// Formulas through gridquilt-merge with LibreOffice as the judge: one workbook of formula cases
// (tests/merge/scripts/formula_cases.py) as openpyxl, XlsxWriter and LibreOffice write it, merged
// multi- and single-sheet to .xlsx and .xls, every output and source computed by LibreOffice,
// every cell compared with what its source computes to.
// SPDX-License-Identifier: Apache-2.0
#include "cli/Cli.h"

#include "automation/EmbeddedServer.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace gq::cli {
namespace {

const std::string kCases = std::string(GQ_SOURCE_DIR) + "/tests/merge/scripts/formula_cases.py";

TEST(FormulaRecalc, EveryMergedCellComputesWhatItsSourceComputes)
{
    std::string out;
    if (!test::HavePython("openpyxl, xlsxwriter") || test::RunCommand("command -v soffice", out) != 0) {
        GTEST_SKIP() << "openpyxl, XlsxWriter or LibreOffice is not available";
    }
    test::TempDir dir;
    std::string list;
    ASSERT_EQ(test::RunCommand("/usr/bin/python3 " + test::ShellQuote(kCases) + " sources " +
                                   test::ShellQuote(dir.Path().string()),
                               list),
              0)
        << list;
    // The merge list of each source workbook, in the order the script gives.
    std::vector<std::pair<std::string, std::string>> sources; // path, its list
    std::istringstream lines(list);
    for (std::string line; std::getline(lines, line);) {
        const std::string path = line.substr(line.find('\t') + 1);
        if (sources.empty() || sources.back().first != path) {
            sources.emplace_back(path, "");
        }
        sources.back().second += line + "\n";
    }
    ASSERT_EQ(sources.size(), 4u) << list;

    automation::EmbeddedServerFactory servers;
    std::string judged;
    for (const auto& [source, entries] : sources) {
        const std::string stem = std::filesystem::path(source).filename().string();
        for (const char* mode : {"multi", "single"}) {
            for (const char* ext : {".xlsx", ".xls"}) {
                const std::string output = dir.File(stem + "-" + mode + "-" + (ext[4] == 'x' ? "x" : "b") + ext);
                SCOPED_TRACE(output);
                std::vector<std::string> args = {"merge", "-o", output, "--list", "-"};
                if (std::string(mode) == "single") {
                    args.emplace_back("--single");
                }
                std::istringstream in(entries);
                std::ostringstream stdOut;
                std::ostringstream stdErr;
                CliEnvironment env{in, stdOut, stdErr, servers, false};
                // Formulas whose cells the merge did not carry are values: exit 1, and said.
                EXPECT_EQ(RunCli(args, env), 1) << stdErr.str();
                EXPECT_NE(stdErr.str().find("referred to cells the merge did not carry"), std::string::npos)
                    << stdErr.str();
                EXPECT_EQ(stdErr.str().find("no stored result") != std::string::npos, stem == "op.xlsx")
                    << stdErr.str();
                judged += " " + test::ShellQuote(output) + " " + test::ShellQuote(source) + " " + mode;
            }
        }
    }
    std::string verdict;
    ASSERT_EQ(test::RunCommand("/usr/bin/python3 " + test::ShellQuote(kCases) + " judge " +
                                   test::ShellQuote(dir.Path().string()) + judged,
                               verdict),
              0)
        << verdict;
    std::istringstream report(verdict);
    int formulas = 0;
    int cells = 0;
    for (std::string line; std::getline(report, line);) {
        if (line.rfind("FORMULAS ", 0) == 0) {
            formulas = std::stoi(line.substr(9));
        } else if (line.rfind("JUDGED ", 0) == 0) {
            cells = std::stoi(line.substr(7));
        } else {
            ADD_FAILURE() << line;
        }
    }
    // 16 outputs: each keeps its formulas (19 cases, a few values by design) and every cell is judged.
    EXPECT_GE(formulas, 16 * 12) << verdict;
    EXPECT_GE(cells, 16 * 40) << verdict;
}

} // namespace
} // namespace gq::cli
