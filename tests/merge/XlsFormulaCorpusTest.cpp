// Every corpus .xls with formulas merged into .xlsx and into .xls: each formula an output keeps
// reads, in LibreOffice, as LibreOffice reads the source's formula moved by the paste, and
// LibreOffice, computing every formula again, gets the value we cached. LibreOffice runs twice for
// the whole batch (tests/merge/scripts/lo_formulas.py), not once a file.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedServer.h"
#include "engine/WorkbookFile.h"
#include "engine/formula/Formula.h"
#include "merge/MergeEngine.h"
#include "tests/support/FakePrompts.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace gq::merge {
namespace {

using engine::Cell;
using engine::Workbook;
using engine::Worksheet;

const std::string kLibreOffice = std::string(GQ_SOURCE_DIR) + "/tests/merge/scripts/lo_formulas.py";

// Files an outside reader takes many seconds on, as in the corpus measure.
const char* const kSlow[] = {"poi__51535.xls"};

// Whether a value depends on more than the workbook's cells: the clock, chance, or where a
// formula sits (INDIRECT, OFFSET, CELL and INFO follow sheet names and positions).
bool Volatile(const std::string& text)
{
    for (const char* name : {"NOW(", "TODAY(", "RAND(", "RANDBETWEEN(", "INDIRECT(", "OFFSET(", "CELL(", "INFO("}) {
        if (test::ComparableFormulaText(text).find(name) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// Our cached value against the one LibreOffice computed: an error matches any error (which error a
// broken reference gives differs between applications), numbers to 1e-9 relative, empty text
// matches no value.
bool SameValue(const Cell& ours, const std::string& ourText, const test::Json& theirs)
{
    switch (ours.type) {
    case engine::CellType::Number:
        if (theirs.IsBool()) {
            return ours.number == (theirs.Bool() ? 1 : 0); // a program that caches booleans as numbers
        }
        return theirs.IsNumber() && std::fabs(ours.number - theirs.Number()) <=
                                        1e-9 * std::max({1.0, std::fabs(ours.number), std::fabs(theirs.Number())});
    case engine::CellType::Boolean:
        return theirs.IsBool() ? theirs.Bool() == ours.boolean
                               : theirs.IsNumber() && theirs.Number() == (ours.boolean ? 1 : 0);
    case engine::CellType::Error:
        return theirs.IsString() && !theirs.Str().empty() && theirs.Str()[0] == '#';
    case engine::CellType::String:
        return theirs.IsString() ? theirs.Str() == ourText : ourText.empty() && theirs.IsNull();
    case engine::CellType::Blank:
        return theirs.IsNull() || (theirs.IsString() && theirs.Str().empty());
    }
    return false;
}

// A source formula moved as the multi-sheet paste moves it (automation/PastedFormulas.cpp): each
// sheet's used range goes to A1; a reference to another sheet follows that sheet, absolute parts
// too, so that it points at the same cells; the others move their relative parts with their own.
void MoveAsPasted(engine::formula::Formula& f, Workbook& source, const std::string& own, const engine::CellRange& used,
                  const engine::formula::Grid& grid)
{
    for (engine::formula::Token& t : f.tokens) {
        const engine::CellRange* by = &used;
        engine::CellRange other{};
        if (t.prefix < f.prefixes.size() && f.prefixes[t.prefix].firstSheet != own) {
            for (size_t k = 0; k < source.SheetCount(); ++k) {
                if (source.SheetName(k) == f.prefixes[t.prefix].firstSheet) {
                    other = source.Sheet(k).UsedRange().value_or(engine::CellRange{});
                    by = &other;
                }
            }
        }
        engine::formula::MoveReference(t, -int64_t{by->firstRow}, -int64_t{by->firstCol}, grid, by != &used);
    }
}

struct Output {
    std::string source; // the corpus file
    std::string path;   // one merged output
    engine::formula::Grid grid;
};

// The corpus is split into parts, a test each, so that no one test runs for minutes.
constexpr size_t kCorpusParts = 3;
class XlsFormulaCorpus : public ::testing::TestWithParam<size_t> {};

TEST_P(XlsFormulaCorpus, MergedFormulasReadAsTheSourcesAndLibreOfficeComputesTheirValues)
{
    const std::filesystem::path corpus = test::CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "the corpus folder is not there";
    }
    std::string out;
    if (!test::HavePython("openpyxl") || test::RunCommand("command -v soffice", out) != 0) {
        GTEST_SKIP() << "openpyxl or LibreOffice is not available";
    }
    test::TempDir dir;
    automation::EmbeddedServerFactory servers;
    test::FakePrompts prompts;
    std::vector<std::string> sources;
    std::vector<Output> outputs;
    std::map<std::string, std::unique_ptr<Workbook>> sourceBooks;
    for (const auto& item : std::filesystem::directory_iterator(corpus / "files")) {
        const std::string name = item.path().filename().string();
        std::string ext = item.path().extension().string();
        for (char& c : ext) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (ext != ".xls" || std::find(std::begin(kSlow), std::end(kSlow), name) != std::end(kSlow) ||
            test::CorpusShard(name, kCorpusParts) != GetParam()) {
            continue;
        }
        std::unique_ptr<Workbook> source;
        try {
            source = engine::OpenWorkbookFile(item.path().string());
        } catch (const std::exception&) {
            continue; // the readers' own tests cover damaged and encrypted files
        }
        bool formulas = false;
        std::vector<catalogue::SheetEntry> list;
        for (size_t i = 0; i < source->SheetCount(); ++i) {
            list.push_back({source->SheetName(i), item.path().string()});
            for (const engine::Row& row : source->Sheet(i).rows) {
                for (const Cell& c : row.cells) {
                    formulas = formulas || c.formulaIndex != engine::kNoFormula;
                }
            }
        }
        if (!formulas) {
            continue;
        }
        sources.push_back(item.path().string());
        const std::string stem = item.path().stem().string();
        for (const char* suffix : {"-x.xlsx", "-b.xls"}) {
            const std::string output = dir.File(stem + suffix);
            MergeSheets(list, output, true, servers, prompts);
            if (std::filesystem::exists(output)) {
                outputs.push_back({item.path().string(), output,
                                   suffix[1] == 'x' ? engine::formula::kXlsxGrid : engine::formula::kXlsGrid});
            }
        }
        sourceBooks[item.path().string()] = std::move(source);
    }
    ASSERT_FALSE(sources.empty()) << "the corpus has .xls files with formulas";

    std::ofstream(dir.File("sources.txt")) << [&] {
        std::string s;
        for (const std::string& p : sources) {
            s += p + "\n";
        }
        return s;
    }();
    std::ofstream(dir.File("outputs.txt")) << [&] {
        std::string s;
        for (const Output& o : outputs) {
            s += o.path + "\n";
        }
        return s;
    }();
    ASSERT_EQ(test::RunCommand("/usr/bin/python3 " + test::ShellQuote(kLibreOffice) + " " +
                                   test::ShellQuote(dir.Path().string()) + " " +
                                   test::ShellQuote(dir.File("sources.txt")) + " " +
                                   test::ShellQuote(dir.File("outputs.txt")) + " 2>&1",
                               out),
              0)
        << out;

    // What LibreOffice read: the sources' formula texts and the outputs' texts with values.
    std::map<std::string, std::string> sourceText;                         // file|sheet|cell
    std::map<std::string, std::pair<std::string, std::string>> outputCell; // file|sheet|cell
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream words(line);
        for (std::string field; std::getline(words, field, '\t');) {
            fields.push_back(field);
        }
        if (fields.empty() || fields[0] == "MISSING") {
            ADD_FAILURE() << line;
            continue;
        }
        if ((fields[0] != "S" || fields.size() != 5) && (fields[0] != "O" || fields.size() != 6)) {
            continue;
        }
        const std::string key =
            test::Json::Parse(fields[1]).Str() + "|" + test::Json::Parse(fields[2]).Str() + "|" + fields[3];
        const std::string text = test::Json::Parse(fields[4]).Str();
        if (fields[0] == "S") {
            sourceText[key] = text;
        } else {
            outputCell[key] = {text, fields[5]};
        }
    }

    size_t comparedTexts = 0;
    size_t comparedValues = 0;
    std::map<std::string, std::vector<std::string>> differences; // per output file
    for (const Output& o : outputs) {
        Workbook& source = *sourceBooks[o.source];
        auto merged = engine::OpenWorkbookFile(o.path);
        const std::string file = std::filesystem::path(o.path).filename().string();
        for (size_t i = 0; i < merged->SheetCount(); ++i) {
            const Worksheet& sheet = merged->Sheet(i);
            const std::string& sheetName = merged->SheetName(i);
            // Multi-sheet: the sheet of the same name, its used range pasted at A1.
            const Worksheet* from = nullptr;
            for (size_t k = 0; k < source.SheetCount(); ++k) {
                if (source.SheetName(k) == sheetName) {
                    from = &source.Sheet(k);
                }
            }
            engine::CellRange used{};
            bool haveUsed = false;
            if (from != nullptr) {
                if (auto u = from->UsedRange()) {
                    used = *u;
                    haveUsed = true;
                }
            }
            for (const engine::Row& row : sheet.rows) {
                for (const Cell& c : row.cells) {
                    engine::formula::Formula ours;
                    if (!engine::formula::CellFormula(sheet, row.index, c, ours, o.grid)) {
                        continue;
                    }
                    const std::string where = sheetName + "!" + engine::CellName(row.index, c.col);
                    auto it = outputCell.find(o.path + "|" + sheetName + "|" + engine::CellName(row.index, c.col));
                    if (it == outputCell.end()) {
                        differences[file].push_back(where + ": LibreOffice reads no formula for " +
                                                    engine::formula::PrintFormula(ours));
                        continue;
                    }
                    const auto& [theirText, theirValue] = it->second;
                    // The text: LibreOffice's reading of the source cell, moved as the paste moved it.
                    if (haveUsed) {
                        const std::string sourceKey =
                            o.source + "|" + sheetName + "|" +
                            engine::CellName(row.index + used.firstRow, c.col + used.firstCol);
                        auto s = sourceText.find(sourceKey);
                        engine::formula::Formula expected;
                        engine::formula::Formula theirs;
                        if (s != sourceText.end() && engine::formula::ParseFormula(s->second.substr(1), expected) &&
                            engine::formula::ParseFormula(theirText.substr(1), theirs)) {
                            MoveAsPasted(expected, source, sheetName, used, o.grid);
                            ++comparedTexts;
                            if (test::ComparableFormulaText(engine::formula::PrintFormula(expected)) !=
                                test::ComparableFormulaText(engine::formula::PrintFormula(theirs))) {
                                differences[file].push_back(where + ": " + theirText + " where the source has " +
                                                            s->second);
                            }
                        }
                    }
                    // The value LibreOffice computes against the one we cached.
                    const std::string ourText =
                        c.type == engine::CellType::String ? merged->Strings().At(c.text) : std::string();
                    ++comparedValues;
                    if (!Volatile(theirText) && !SameValue(c, ourText, test::Json::Parse(theirValue))) {
                        differences[file].push_back(where + ": " + theirText + " computes " + theirValue);
                    }
                }
            }
        }
    }
    // Differences LibreOffice makes, not the merge: per output, how many and why.
    const std::map<std::string, std::pair<size_t, const char*>> known = {
        {"sheetjs__ErrorTypes-b.xls", {2, "LibreOffice computes ERROR.TYPE(#NULL!) and TYPE() otherwise than Excel"}},
        {"sheetjs__ErrorTypes-x.xlsx", {2, "LibreOffice computes ERROR.TYPE(#NULL!) and TYPE() otherwise than Excel"}},
        {"sheetjs__number_format-x.xlsx",
         {137, "numfmt() is a function of the program that wrote the file, which "
               "LibreOffice does not have (.xls output: kept as values)"}},
    };
    for (const auto& [file, list] : differences) {
        auto it = known.find(file);
        std::printf("%s: %zu differences (%s), such as:\n", file.c_str(), list.size(),
                    it != known.end() ? it->second.second : "not explained");
        for (size_t k = 0; k < list.size() && k < 3; ++k) {
            std::printf("    %s\n", list[k].c_str());
        }
        EXPECT_EQ(list.size(), it != known.end() ? it->second.first : 0U) << file;
    }
    for (const auto& [file, expected] : known) {
        // An output is named after its source: "name-b.xls" or "name-x.xlsx" for "name.xls".
        if (test::CorpusShard(file.substr(0, file.rfind('-')) + ".xls", kCorpusParts) == GetParam()) {
            EXPECT_TRUE(differences.count(file) != 0) << file << " no longer differs: " << expected.second;
        }
    }
    std::printf("%zu sources, %zu outputs, %zu formula texts and %zu values compared\n", sources.size(), outputs.size(),
                comparedTexts, comparedValues);
    EXPECT_GT(comparedTexts, 1000U);
    EXPECT_GT(comparedValues, 2000U);
}

INSTANTIATE_TEST_SUITE_P(Part, XlsFormulaCorpus, ::testing::Range<size_t>(0, kCorpusParts));

} // namespace
} // namespace gq::merge
