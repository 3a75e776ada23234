// Real workbooks of the corpus converted to .ods by LibreOffice must read with the values the
// originals hold: the same sheets in the same order, and on each sheet the same cells with the same
// values. A sample runs by default; GQ_ODS_CORPUS_ALL=1 converts every readable workbook and prints
// the share of equal sheets.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/WorkbookFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>

namespace gq::engine {
namespace {

namespace fs = std::filesystem;

// Every cell that holds a value, as text: "n:..." numbers to 10 significant digits (LibreOffice
// writes times rounded and some computed results as it computes them again), "s:", "b:", "e:".
std::map<std::pair<uint32_t, uint32_t>, std::string> Values(Workbook& book, size_t index)
{
    std::map<std::pair<uint32_t, uint32_t>, std::string> out;
    Worksheet& sheet = book.Sheet(index);
    for (const Row& row : sheet.rows) {
        for (const Cell& cell : row.cells) {
            std::ostringstream text;
            switch (cell.type) {
            case CellType::Blank:
                continue;
            case CellType::Number: {
                // OpenDocument writes dates as dates: a 1904 workbook's serials come back in 1900.
                double number = cell.number;
                if (book.Date1904() && book.Styles().IsDateFormat(cell.style)) {
                    number += kDate1904Offset;
                }
                text.precision(10);
                text << "n:" << (std::abs(number) < 1e-300 ? 0.0 : number);
                break;
            }
            case CellType::String:
                if (book.Strings().At(cell.text).empty()) {
                    continue;
                }
                text << "s:" << book.Strings().At(cell.text);
                break;
            case CellType::Boolean:
                text << "b:" << cell.boolean;
                break;
            case CellType::Error:
                text << "e:" << ErrorText(cell.error);
                break;
            }
            out[{row.index, cell.col}] = text.str();
        }
    }
    return out;
}

TEST(OdsReaderCorpus, LibreOfficeConversionsReadWithTheOriginalsValues)
{
    const fs::path corpus = test::CorpusDir();
    std::string out;
    if (corpus.empty() || test::RunCommand("command -v soffice", out) != 0) {
        GTEST_SKIP() << "no corpus or no LibreOffice";
    }
    const bool all = std::getenv("GQ_ODS_CORPUS_ALL") != nullptr;
    test::TempDir dir;
    std::vector<fs::path> originals;
    for (const auto& line : test::CorpusManifest(corpus)) {
        const std::string& format = line.at(6);
        if (format != "xlsx" && format != "xls-BIFF8" && format != "xlsm") {
            continue;
        }
        const fs::path path = corpus / line.at(1);
        // The sample: small workbooks only, so that LibreOffice converts them in seconds.
        if (!all && (fs::file_size(path) > 64 * 1024 || originals.size() >= 8)) {
            continue;
        }
        originals.push_back(path);
    }
    std::string command = "soffice -env:UserInstallation=file://" + dir.Path().string() +
                          "/profile --headless --norestore --convert-to ods --outdir " +
                          test::ShellQuote(dir.Path().string());
    for (const fs::path& path : originals) {
        command += " " + test::ShellQuote(path.string());
    }
    ASSERT_EQ(test::RunCommand(command + " 2>&1", out), 0) << out;

    size_t sheets = 0;
    size_t equal = 0;
    for (const fs::path& original : originals) {
        const fs::path converted = dir.Path() / (original.stem().string() + ".ods");
        if (!fs::exists(converted)) {
            continue; // LibreOffice could not read it either
        }
        std::unique_ptr<Workbook> before;
        try {
            before = OpenWorkbookFile(original.string());
        } catch (const EngineError&) {
            continue; // damaged or encrypted: the other corpus tests cover those
        }
        std::unique_ptr<Workbook> after = OpenWorkbookFile(converted.string());
        // LibreOffice turns chart sheets into tables, which the original's worksheets do not count:
        // sheets are matched by name, in order.
        size_t next = 0;
        for (size_t i = 0; i < before->SheetCount(); ++i) {
            ++sheets;
            while (next < after->SheetCount() && after->SheetName(next) != before->SheetName(i)) {
                ++next;
            }
            if (next >= after->SheetCount()) {
                ADD_FAILURE() << original.filename() << ": sheet \"" << before->SheetName(i) << "\" missing";
                next = 0;
                continue;
            }
            auto want = Values(*before, i);
            auto got = Values(*after, next++);
            if (want == got) {
                ++equal;
                continue;
            }
            for (const auto& [at, value] : want) {
                auto it = got.find(at);
                if (it == got.end() || it->second != value) {
                    std::cerr << original.filename() << " " << before->SheetName(i) << " "
                              << CellName(at.first, at.second) << ": " << value << " -> "
                              << (it == got.end() ? "(none)" : it->second) << "\n";
                    break;
                }
            }
        }
    }
    std::cout << "ods corpus: " << equal << " of " << sheets << " sheets equal over " << originals.size()
              << " workbooks\n";
    ASSERT_GT(sheets, 0u);
    // LibreOffice's own conversion changes some values (formulas it computes to errors or other
    // results, times it keeps as text, CR LF line breaks, booleans of formulas written as numbers):
    // those differences are listed above, and the bar is what they allow. The sample holds one
    // such sheet (a time LibreOffice writes as the text "10:10:10").
    EXPECT_GE(static_cast<double>(equal), 0.9 * static_cast<double>(sheets));
}

} // namespace
} // namespace gq::engine
