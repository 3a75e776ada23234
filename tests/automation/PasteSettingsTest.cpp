// What a paste carries besides cells, judged by outside readers: hidden rows and columns, outline
// levels with their collapsed state, rows formatted as a whole and gradient fills, from sources
// that openpyxl and LibreOffice wrote, pasted at offsets and saved in both formats.
// SPDX-License-Identifier: Apache-2.0
#include "automation/Paste.h"
#include "engine/WorkbookFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

namespace gq::automation {
namespace {

using test::RunCommand;
using test::RunPython;
using test::ShellQuote;

// A sheet with one of everything: row 3 hidden, rows 4-6 grouped (row 5 one level deeper), row 7
// collapsed, row 8 formatted as a whole, column B hidden, columns D and E grouped, column F
// collapsed, a gradient in C2 and a solid fill in A9.
constexpr const char* kMakeSource = R"PY(
import sys, openpyxl
from openpyxl.styles import PatternFill, GradientFill
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Data"
for r in range(1, 10):
    for c in range(1, 7):
        ws.cell(r, c, r * 10 + c)
ws.row_dimensions[3].hidden = True
for r in (4, 5, 6):
    ws.row_dimensions[r].outline_level = 1
ws.row_dimensions[5].outline_level = 2
ws.row_dimensions[7].collapsed = True
ws.row_dimensions[8].fill = PatternFill("solid", fgColor="FFFF00")
ws.column_dimensions["B"].hidden = True
ws.column_dimensions.group("D", "E", outline_level=1, hidden=False)
ws.column_dimensions["F"].collapsed = True
ws["C2"].fill = GradientFill(degree=90, stop=("FF0000", "0000FF"))
ws["A9"].fill = PatternFill("solid", fgColor="00B050")
wb.save(sys.argv[1])
)PY";

// One line per row, column and cell with a setting, as openpyxl (xlsx) or xlrd (xls) sees it:
// "Sheet|row 4|hidden=0 level=1 collapsed=0 fill=-", "Sheet|col 2|...", "Sheet|cell 9 1|solid:00B050".
constexpr const char* kDump = R"PY(
import sys
path = sys.argv[1]
out = []
def line(sheet, where, what):
    out.append("%s|%s|%s" % (sheet, where, what))
if path.endswith(".xlsx"):
    import openpyxl
    wb = openpyxl.load_workbook(path)
    def fill_of(fill):
        # Cells give their fills through a proxy: a gradient is told by its stops.
        if hasattr(fill, "stop"):
            stops = ",".join("%s@%g" % (s.color.rgb[-6:], s.position) for s in fill.stop)
            return "gradient:%s:%g:%s" % (fill.type, fill.degree, stops)
        if fill is not None and fill.fill_type == "solid":
            return "solid:" + fill.fgColor.rgb[-6:]
        return None
    for ws in wb.worksheets:
        for r, d in ws.row_dimensions.items():
            fill = fill_of(d.fill) if d.customFormat else None
            if d.hidden or d.outline_level or d.collapsed or fill:
                line(ws.title, "row %d" % r, "hidden=%d level=%d collapsed=%d fill=%s"
                     % (d.hidden, d.outline_level or 0, d.collapsed, fill or "-"))
        for key, d in ws.column_dimensions.items():
            if d.hidden or d.outline_level or d.collapsed:
                first = d.min or openpyxl.utils.column_index_from_string(key)
                for c in range(first, (d.max or first) + 1):
                    line(ws.title, "col %d" % c, "hidden=%d level=%d collapsed=%d"
                         % (d.hidden, d.outline_level or 0, d.collapsed))
        for row in ws.iter_rows():
            for cell in row:
                fill = fill_of(cell.fill)
                if fill:
                    line(ws.title, "cell %d %d" % (cell.row, cell.column), fill)
else:
    import xlrd
    bk = xlrd.open_workbook(path, formatting_info=True)
    def fill_of(xf_index):
        bg = bk.xf_list[xf_index].background
        if bg.fill_pattern != 1:
            return None
        rgb = bk.colour_map.get(bg.pattern_colour_index)
        return "solid:%02X%02X%02X" % rgb if rgb else None
    for sh in bk.sheets():
        for r, d in sh.rowinfo_map.items():
            fill = fill_of(d.xf_index) if d.has_default_xf_index else None
            if d.hidden or d.outline_level or d.outline_group_starts_ends or fill:
                line(sh.name, "row %d" % (r + 1), "hidden=%d level=%d collapsed=%d fill=%s"
                     % (d.hidden, d.outline_level, d.outline_group_starts_ends, fill or "-"))
        for c, d in sh.colinfo_map.items():
            if d.hidden or d.outline_level or d.collapsed:
                line(sh.name, "col %d" % (c + 1), "hidden=%d level=%d collapsed=%d"
                     % (d.hidden, d.outline_level, d.collapsed))
        for r in range(sh.nrows):
            for c in range(sh.ncols):
                # xlrd gives cells the file does not hold their row's format; they are not cells.
                if sh.cell_type(r, c) == xlrd.XL_CELL_EMPTY:
                    continue
                fill = fill_of(sh.cell_xf_index(r, c))
                if fill:
                    line(sh.name, "cell %d %d" % (r + 1, c + 1), fill)
print("\n".join(sorted(out)))
)PY";

std::vector<std::string> Dump(const std::string& path)
{
    std::string out;
    EXPECT_EQ(RunPython(kDump, {path}, out), 0) << out;
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string l; std::getline(in, l);) {
        if (!l.empty()) {
            lines.push_back(l);
        }
    }
    return lines;
}

// A source dump line as it must read after a paste into `sheet` moved by (dr, dc); in an .xls
// output a gradient becomes its nearest solid fill, the blend of its stops.
std::string Moved(const std::string& line, const std::string& sheet, uint32_t dr, uint32_t dc, bool xlsOut)
{
    size_t bar1 = line.find('|');
    size_t bar2 = line.find('|', bar1 + 1);
    std::string where = line.substr(bar1 + 1, bar2 - bar1 - 1);
    std::string what = line.substr(bar2 + 1);
    std::istringstream w(where);
    std::string kind;
    uint32_t a = 0;
    uint32_t b = 0;
    w >> kind >> a >> b;
    if (kind == "row") {
        where = "row " + std::to_string(a + dr);
    } else if (kind == "col") {
        where = "col " + std::to_string(a + dc);
    } else {
        where = "cell " + std::to_string(a + dr) + " " + std::to_string(b + dc);
    }
    if (xlsOut && what == "gradient:linear:90:FF0000@0,0000FF@1") {
        what = "solid:800080";
    }
    return sheet + "|" + where + "|" + what;
}

TEST(PasteSettings, RowAndColumnSettingsAndFillsTravelWithTheBlockInBothFormats)
{
    if (!test::HavePython("openpyxl, xlrd")) {
        GTEST_SKIP() << "openpyxl or xlrd is not installed";
    }
    test::TempDir dir;
    std::string out;
    const std::string xlsxSource = dir.File("source.xlsx");
    ASSERT_EQ(RunPython(kMakeSource, {xlsxSource}, out), 0) << out;
    std::vector<std::string> sources{xlsxSource};
    // The same sheet as LibreOffice writes it in .xls, for the .xls reader.
    if (RunCommand("command -v libreoffice", out) == 0) {
        std::string profile = "file://" + dir.File("lo-profile");
        int rc =
            RunCommand("libreoffice --headless -env:UserInstallation=" + ShellQuote(profile) +
                           " --convert-to xls --outdir " + ShellQuote(dir.File("lo")) + " " + ShellQuote(xlsxSource),
                       out);
        ASSERT_EQ(rc, 0) << out;
        sources.push_back(dir.File("lo/source.xls"));
    }

    // Where each block lands: twice stacked on one sheet, once on another sheet off its corner.
    struct Landing {
        size_t sheet;
        const char* sheetName;
        uint32_t row;
        uint32_t col;
    };
    const Landing landings[] = {{0, "Out", 0, 0}, {0, "Out", 12, 0}, {1, "Side", 4, 2}};
    for (const std::string& source : sources) {
        const std::vector<std::string> before = Dump(source);
        // The source as its writer wrote it: every setting is there to be carried.
        ASSERT_GE(before.size(), 10u) << source;
        for (const char* extension : {".xlsx", ".xls"}) {
            SCOPED_TRACE(source + " to " + extension);
            auto from = engine::OpenWorkbookFile(source);
            const auto block = from->Sheet(0).UsedRange();
            ASSERT_TRUE(block.has_value());
            engine::Workbook to;
            to.InsertSheet(0, "Out");
            to.InsertSheet(1, "Side");
            for (const Landing& l : landings) {
                PasteBlock(*from, 0, *block, to, l.sheet, engine::CellRef{l.row, l.col});
            }
            const std::string path = dir.File(std::string("out") + extension);
            engine::SaveWorkbookFile(to, path);

            std::set<std::string> expected;
            for (const Landing& l : landings) {
                for (const std::string& line : before) {
                    expected.insert(Moved(line, l.sheetName, l.row, l.col, std::string(extension) == ".xls"));
                }
            }
            const std::vector<std::string> after = Dump(path);
            std::string missing;
            std::string extra;
            for (const std::string& line : expected) {
                if (std::find(after.begin(), after.end(), line) == after.end()) {
                    missing += "  " + line + "\n";
                }
            }
            for (const std::string& line : after) {
                if (expected.count(line) == 0) {
                    extra += "  " + line + "\n";
                }
            }
            EXPECT_EQ(missing, "") << "lost on the way";
            EXPECT_EQ(extra, "") << "not in the source";
            // Gnumeric reads the output without a complaint, and the xlsx output is valid.
            if (RunCommand("command -v ssconvert", out) == 0) {
                EXPECT_EQ(RunCommand("ssconvert " + ShellQuote(path) + " " + ShellQuote(dir.File("g.csv")) +
                                         " 2>&1 >/dev/null",
                                     out),
                          0);
                EXPECT_EQ(out, "") << "ssconvert complained";
            }
            if (std::string(extension) == ".xlsx" && std::filesystem::exists(GQ_VALIDATE_XLSX)) {
                EXPECT_EQ(RunCommand(std::string(GQ_VALIDATE_XLSX) + " -q " + ShellQuote(path), out), 0) << out;
            }
        }
    }
}

} // namespace
} // namespace gq::automation
