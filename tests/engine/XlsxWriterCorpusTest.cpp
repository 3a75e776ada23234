// The xlsx writer over real workbooks: every corpus file our readers open is written as xlsx,
// read back by our reader and compared cell by cell, and every output goes through the validator.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/WorkbookFile.h"
#include "engine/xlsx/XlsxReader.h"
#include "tests/engine/XlsxWriterTestUtil.h"

#include <cmath>

namespace gq::test::xlsxw {
namespace {

using namespace gq::engine;

std::string Describe(const Workbook& book, const Cell& c)
{
    switch (c.type) {
    case CellType::Blank: return "blank";
    case CellType::Number: {
        // What the writer promises: the same double, -0 as 0, and #NUM! for what xlsx cannot hold.
        if (!std::isfinite(c.number)) {
            return "error #NUM!";
        }
        char buf[40];
        std::snprintf(buf, sizeof buf, "number %.17g", c.number == 0 ? 0.0 : c.number);
        return buf;
    }
    case CellType::String: return "text [" + book.Strings().At(c.text) + "]";
    case CellType::Boolean: return c.boolean ? "TRUE" : "FALSE";
    case CellType::Error: return "error " + std::string(ErrorText(c.error));
    }
    return "?";
}

std::string DescribeStyle(const Workbook& book, uint32_t xf)
{
    ResolvedStyle s = book.Styles().Resolve(xf);
    char buf[512];
    std::snprintf(buf, sizeof buf, "fmt[%s] font[%s %.2f b%d i%d s%d u%d v%d c%d:%08x] fill[%d %d:%08x %d:%08x] "
                  "border[%d %d %d %d %d] align[%d %d w%d s%d r%d i%d] prot[%d %d]",
                  s.numFmt.c_str(), s.font.name.c_str(), s.font.size, s.font.bold, s.font.italic, s.font.strike,
                  static_cast<int>(s.font.underline), static_cast<int>(s.font.vertAlign),
                  static_cast<int>(s.font.color.kind), s.font.color.argb, static_cast<int>(s.fill.pattern),
                  static_cast<int>(s.fill.fg.kind), s.fill.fg.argb, static_cast<int>(s.fill.bg.kind), s.fill.bg.argb,
                  static_cast<int>(s.border.left.style), static_cast<int>(s.border.right.style),
                  static_cast<int>(s.border.top.style), static_cast<int>(s.border.bottom.style),
                  static_cast<int>(s.border.diagonal.style), static_cast<int>(s.alignment.horizontal),
                  static_cast<int>(s.alignment.vertical), s.alignment.wrap, s.alignment.shrink,
                  s.alignment.rotation, s.alignment.indent, s.protection.locked, s.protection.hidden);
    return buf;
}

TEST(XlsxWriterCorpus, EveryReadableWorkbookIsWrittenValidAndReadsBackTheSame)
{
    std::filesystem::path corpus = CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "the corpus is not available";
    }
    TempDir dir;
    std::vector<std::string> outputs;
    size_t cellsCompared = 0;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(corpus / "files")) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        std::unique_ptr<Workbook> book;
        try {
            book = OpenWorkbookFile(path.string());
            for (size_t i = 0; i < book->SheetCount(); ++i) {
                book->Sheet(i);
            }
        } catch (const EngineError&) {
            continue; // damaged, encrypted or unsupported input: the readers' tests cover those
        }
        SCOPED_TRACE(path.filename().string());
        std::vector<uint8_t> bytes;
        try {
            bytes = WriteToMemory(*book);
        } catch (const LimitError& e) {
            // Only content that xlsx cannot hold may be refused, and the message says where.
            EXPECT_NE(std::string(e.what()).find("sheet"), std::string::npos) << e.what();
            continue;
        }
        std::string out = dir.File(path.filename().string() + ".xlsx");
        SaveBytes(bytes, out);
        outputs.push_back(out);

        std::unique_ptr<Workbook> back = ReadXlsx(InputBytes::FromMemory(bytes, out));
        ASSERT_EQ(back->SheetCount(), book->SheetCount());
        for (size_t i = 0; i < book->SheetCount(); ++i) {
            EXPECT_EQ(back->SheetName(i), book->SheetName(i));
            const Worksheet& a = book->Sheet(i);
            const Worksheet& b = back->Sheet(i);
            size_t mismatches = 0;
            for (const Row& row : a.rows) {
                for (const Cell& c : row.cells) {
                    if (c.type == CellType::Blank && c.style == 0) {
                        continue;
                    }
                    const Cell* d = b.FindCell(row.index, c.col);
                    std::string where = book->SheetName(i) + "!" + CellName(row.index, c.col);
                    if (d == nullptr) {
                        ADD_FAILURE() << where << " is missing";
                        ++mismatches;
                    } else {
                        ++cellsCompared;
                        if (Describe(*book, c) != Describe(*back, *d) ||
                            DescribeStyle(*book, c.style) != DescribeStyle(*back, d->style)) {
                            ++mismatches;
                            EXPECT_EQ(Describe(*book, c) + " " + DescribeStyle(*book, c.style),
                                      Describe(*back, *d) + " " + DescribeStyle(*back, d->style))
                                << where;
                        }
                    }
                    if (mismatches > 5) {
                        break;
                    }
                }
                if (mismatches > 5) {
                    break;
                }
            }
            size_t realMerges = 0;
            for (const CellRange& m : a.merges) {
                realMerges += (m.firstRow != m.lastRow || m.firstCol != m.lastCol) ? 1 : 0;
            }
            EXPECT_EQ(b.merges.size(), realMerges) << book->SheetName(i);
        }
    }
    EXPECT_GT(outputs.size(), 20u);
    EXPECT_GT(cellsCompared, 10000u);
    if (!HaveValidator()) {
        return;
    }
    std::string command = std::string(GQ_VALIDATE_XLSX) + " -q";
    for (const auto& o : outputs) {
        command += " " + ShellQuote(o);
    }
    std::string report;
    EXPECT_EQ(RunCommand(command, report), 0) << report;
}

} // namespace
} // namespace gq::test::xlsxw
