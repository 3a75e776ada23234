// Which way outline groups fold (summary rows below or above, summary columns right or left): read
// from files openpyxl and gnumeric wrote, pasted with the sheet, and written so that openpyxl and
// gnumeric read the same back.
// SPDX-License-Identifier: Apache-2.0
#include "automation/Paste.h"
#include "engine/WorkbookFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

namespace gq::automation {
namespace {

using test::RunCommand;
using test::RunPython;
using test::ShellQuote;

// One sheet per setting, named for it, each with rows 2-4 and columns B-C in a group.
constexpr const char* kMakeSource = R"PY(
import sys, openpyxl
wb = openpyxl.Workbook()
wb.remove(wb.active)
for name in ("below right", "above right", "below left", "above left"):
    ws = wb.create_sheet(name)
    for r in range(1, 6):
        for c in range(1, 5):
            ws.cell(r, c, r * 10 + c)
    ws.row_dimensions.group(2, 4, outline_level=1)
    ws.column_dimensions.group("B", "C", outline_level=1)
    ws.sheet_properties.outlinePr.summaryBelow = name.startswith("below")
    ws.sheet_properties.outlinePr.summaryRight = name.endswith("right")
wb.save(sys.argv[1])
)PY";

// gnumeric's own file of the source (gnumeric reads no summary settings from xlsx) with the
// settings its sheets are named for, for ssconvert to write as .xls.
constexpr const char* kSetGnumericSummaries = R"PY(
import sys, gzip
import xml.etree.ElementTree as ET
ns = "http://www.gnumeric.org/v10.dtd"
ET.register_namespace("gnm", ns)
tree = ET.ElementTree(ET.fromstring(gzip.open(sys.argv[1]).read()))
for sheet in tree.getroot().find("{%s}Sheets" % ns):
    name = sheet.find("{%s}Name" % ns).text
    sheet.set("OutlineSymbolsBelow", "1" if name.startswith("below") else "0")
    sheet.set("OutlineSymbolsRight", "1" if name.endswith("right") else "0")
tree.write(sys.argv[2], xml_declaration=True, encoding="UTF-8")
)PY";

// "sheet|rows|columns" for each sheet of an xlsx file (openpyxl) or of a .gnumeric file that
// ssconvert wrote (gnumeric's own reading of the file it converted).
constexpr const char* kReadSummaries = R"PY(
import sys, gzip
path = sys.argv[1]
out = []
def line(name, below, right):
    out.append("%s|%s|%s" % (name, "below" if below else "above", "right" if right else "left"))
if path.endswith(".gnumeric"):
    import xml.etree.ElementTree as ET
    ns = "{http://www.gnumeric.org/v10.dtd}"
    root = ET.fromstring(gzip.open(path).read())
    for sheet in root.find(ns + "Sheets"):
        line(sheet.find(ns + "Name").text, sheet.get("OutlineSymbolsBelow") != "0",
             sheet.get("OutlineSymbolsRight") != "0")
else:
    import openpyxl
    for ws in openpyxl.load_workbook(path).worksheets:
        pr = ws.sheet_properties.outlinePr
        line(ws.title, pr is None or pr.summaryBelow is not False, pr is None or pr.summaryRight is not False)
print("\n".join(out))
)PY";

std::map<std::string, std::string> ReadSummaries(const std::string& path)
{
    std::string out;
    EXPECT_EQ(RunPython(kReadSummaries, {path}, out), 0) << out;
    std::map<std::string, std::string> sheets; // sheet -> "rows|columns"
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        size_t bar = line.find('|');
        if (bar != std::string::npos) {
            sheets[line.substr(0, bar)] = line.substr(bar + 1);
        }
    }
    return sheets;
}

std::string SummaryText(const engine::Worksheet& sheet)
{
    return std::string(sheet.summaryBelow ? "below" : "above") + "|" + (sheet.summaryRight ? "right" : "left");
}

// "below right" -> "below|right"
std::string Expected(std::string name)
{
    name[name.find(' ')] = '|';
    return name;
}

TEST(OutlineSummary, ReadPastedAndWrittenSoThatGroupsFoldTheSameWay)
{
    if (!test::HavePython("openpyxl")) {
        GTEST_SKIP() << "openpyxl is not installed";
    }
    test::TempDir dir;
    std::string out;
    const std::string xlsxSource = dir.File("source.xlsx");
    ASSERT_EQ(RunPython(kMakeSource, {xlsxSource}, out), 0) << out;
    // LibreOffice 7.4 keeps no summary setting: it reads none from either format and writes the
    // defaults, so it cannot judge these files.
    const bool haveGnumeric = RunCommand("command -v ssconvert", out) == 0;
    std::vector<std::string> sources{xlsxSource};
    if (haveGnumeric) {
        const std::string plain = dir.File("plain.gnumeric");
        const std::string set = dir.File("set.gnumeric");
        ASSERT_EQ(RunCommand("ssconvert " + ShellQuote(xlsxSource) + " " + ShellQuote(plain) + " 2>&1", out), 0) << out;
        ASSERT_EQ(RunPython(kSetGnumericSummaries, {plain, set}, out), 0) << out;
        ASSERT_EQ(RunCommand("ssconvert " + ShellQuote(set) + " " + ShellQuote(dir.File("source.xls")) + " 2>&1", out),
                  0)
            << out;
        sources.push_back(dir.File("source.xls")); // WsBool as gnumeric writes it
    }

    std::map<std::string, std::string> expected; // output sheet -> "rows|columns"
    for (const std::string& source : sources) {
        SCOPED_TRACE(source);
        auto from = engine::OpenWorkbookFile(source);
        ASSERT_EQ(from->SheetCount(), 4u);
        engine::Workbook to;
        // Multi-sheet: each sheet pasted at A1 of a new sheet takes its setting along.
        for (size_t i = 0; i < from->SheetCount(); ++i) {
            EXPECT_EQ(SummaryText(from->Sheet(i)), Expected(from->SheetName(i))) << "as read";
            to.InsertSheet(i, from->SheetName(i));
            PasteBlock(*from, i, *from->Sheet(i).UsedRange(), to, i, engine::CellRef{0, 0});
            expected[from->SheetName(i)] = Expected(from->SheetName(i));
        }
        // Single-sheet: the block pasted first into the empty sheet decides; the blocks stacked
        // below it follow its setting.
        const size_t stack = to.InsertSheet(4, "stack");
        PasteBlock(*from, 3, *from->Sheet(3).UsedRange(), to, stack, engine::CellRef{0, 0}); // above left
        PasteBlock(*from, 0, *from->Sheet(0).UsedRange(), to, stack, engine::CellRef{5, 0}); // below right
        expected["stack"] = "above|left";

        for (const char* extension : {".xlsx", ".xls"}) {
            const std::string name = std::filesystem::path(source).extension().string().substr(1) + "-to-" +
                                     std::string(extension).substr(1) + extension;
            const std::string path = dir.File(name);
            engine::SaveWorkbookFile(to, path);
            auto back = engine::OpenWorkbookFile(path);
            for (size_t i = 0; i < back->SheetCount(); ++i) {
                EXPECT_EQ(SummaryText(back->Sheet(i)), expected[back->SheetName(i)]) << name << " read back";
            }
            if (std::string(extension) == ".xlsx") {
                EXPECT_EQ(ReadSummaries(path), expected) << name << " in openpyxl";
            } else if (haveGnumeric) {
                // gnumeric's xlsx reader takes no summary settings at all; its .xls reader does, and
                // without a word on standard error.
                const std::string converted = dir.File(name + ".gnumeric");
                EXPECT_EQ(RunCommand("ssconvert " + ShellQuote(path) + " " + ShellQuote(converted) + " 2>&1", out), 0);
                EXPECT_EQ(out, "") << "ssconvert complained";
                EXPECT_EQ(ReadSummaries(converted), expected) << name << " in gnumeric";
            }
        }
    }
}

} // namespace
} // namespace gq::automation
