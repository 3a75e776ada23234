// The OpenDocument reader on packages built here: what one sheet of every kind of value, format,
// merge, link and formula reads as, and hostile packages that must end in a clear error or a
// bounded sheet, fast.
// SPDX-License-Identifier: Apache-2.0
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/WorkbookFile.h"
#include "engine/formula/Formula.h"
#include "engine/formula/OpenFormula.h"
#include "engine/zip/ZipWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

namespace gq::engine {
namespace {

constexpr const char* kNamespaces =
    "xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
    "xmlns:style=\"urn:oasis:names:tc:opendocument:xmlns:style:1.0\" "
    "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\" "
    "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
    "xmlns:fo=\"urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0\" "
    "xmlns:number=\"urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0\" "
    "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
    "xmlns:calcext=\"urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0\"";

struct Package {
    std::string mimetype = "application/vnd.oasis.opendocument.spreadsheet";
    std::string manifest = "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\"/>";
    std::string styles;
    std::string automatic;
    std::string body;
    bool content = true;
};

std::unique_ptr<Workbook> Open(const Package& p)
{
    MemorySink sink;
    ZipWriter zip(sink, 1);
    if (!p.mimetype.empty()) {
        zip.AddPart("mimetype", p.mimetype);
    }
    zip.AddPart("META-INF/manifest.xml", p.manifest);
    if (p.content) {
        zip.AddPart("content.xml", std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><office:document-content ") +
                                       kNamespaces + "><office:automatic-styles>" + p.automatic +
                                       "</office:automatic-styles><office:body><office:spreadsheet>" + p.body +
                                       "</office:spreadsheet></office:body></office:document-content>");
    }
    zip.AddPart("styles.xml", std::string("<office:document-styles ") + kNamespaces + "><office:styles>" + p.styles +
                                  "</office:styles></office:document-styles>");
    zip.Finish();
    return OpenWorkbookBytes(InputBytes::FromMemory(std::move(sink.Bytes()), "/data/t.ods"));
}

std::string Show(Workbook& book, const Cell* cell)
{
    if (cell == nullptr || cell->type == CellType::Blank) {
        return "-";
    }
    std::ostringstream out;
    out.precision(15);
    switch (cell->type) {
    case CellType::Number:
        out << "n:" << cell->number << " " << book.Styles().Resolve(cell->style).numFmt;
        break;
    case CellType::String:
        out << "s:" << book.Strings().At(cell->text);
        break;
    case CellType::Boolean:
        out << "b:" << cell->boolean;
        break;
    case CellType::Error:
        out << "e:" << ErrorText(cell->error);
        break;
    case CellType::Blank:
        break;
    }
    return out.str();
}

TEST(OdsReader, OneSheetOfEveryKindReadsAsTheOfficeSuiteShowsIt)
{
    Package p;
    p.styles = "<style:default-style style:family=\"table-cell\"><style:text-properties style:font-name=\"Liberation "
               "Sans\" fo:font-size=\"10pt\"/></style:default-style>"
               "<style:style style:name=\"Default\" style:family=\"table-cell\"/>"
               "<number:number-style style:name=\"N4\"><number:number number:decimal-places=\"2\" "
               "number:min-integer-digits=\"1\" number:grouping=\"true\"/></number:number-style>"
               "<number:date-style style:name=\"N37\"><number:day number:style=\"long\"/><number:text>.</number:text>"
               "<number:month number:style=\"long\"/><number:text>.</number:text><number:year number:style=\"long\"/>"
               "</number:date-style>";
    p.automatic = "<style:style style:name=\"co1\" style:family=\"table-column\"><style:table-column-properties "
                  "style:column-width=\"1in\"/></style:style>"
                  "<style:style style:name=\"ro1\" style:family=\"table-row\"><style:table-row-properties "
                  "style:row-height=\"0.5in\" style:use-optimal-row-height=\"false\"/></style:style>"
                  "<style:style style:name=\"ta2\" style:family=\"table\"><style:table-properties "
                  "table:display=\"false\"/></style:style>"
                  "<style:style style:name=\"ce1\" style:family=\"table-cell\" style:parent-style-name=\"Default\" "
                  "style:data-style-name=\"N4\"><style:table-cell-properties fo:background-color=\"#ffff00\" "
                  "fo:border=\"0.06pt solid #ff0000\" style:text-align-source=\"fix\" style:cell-protect=\"none\"/>"
                  "<style:paragraph-properties fo:text-align=\"center\"/><style:text-properties "
                  "fo:font-weight=\"bold\" fo:color=\"#0000ff\"/></style:style>"
                  "<style:style style:name=\"ce2\" style:family=\"table-cell\" style:data-style-name=\"N37\"/>"
                  "<style:style style:name=\"ce3\" style:family=\"table-cell\"><style:table-cell-properties "
                  "fo:background-color=\"#00ff00\"/></style:style>";
    p.body =
        "<table:table table:name=\"Data\"><table:table-column table:style-name=\"co1\" "
        "table:number-columns-repeated=\"2\"/><table:table-column table:visibility=\"collapse\"/>"
        "<table:table-row table:style-name=\"ro1\">"
        "<table:table-cell table:style-name=\"ce1\" office:value-type=\"float\" office:value=\"1234.5\"><text:p>1,234."
        "50</text:p></table:table-cell>"
        "<table:table-cell office:value-type=\"percentage\" office:value=\"0.25\"/>"
        "<table:table-cell table:style-name=\"ce2\" office:value-type=\"date\" office:date-value=\"2024-02-29\"/>"
        "<table:table-cell office:value-type=\"date\" office:date-value=\"2024-02-29T18:00:00\"/>"
        "<table:table-cell office:value-type=\"time\" office:time-value=\"PT36H30M00S\"/>"
        "<table:table-cell office:value-type=\"boolean\" office:boolean-value=\"true\"/>"
        "<table:table-cell table:formula=\"of:=[.A1]=1\" office:value-type=\"float\" office:value=\"0\" "
        "calcext:value-type=\"float\"><text:p>FALSE</text:p></table:table-cell>"
        "</table:table-row>"
        "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>a<text:s text:c=\"2\"/><text:span>b"
        "</text:span></text:p><text:p>second<text:tab/>line</text:p><office:annotation><text:p>a comment</text:p>"
        "</office:annotation></table:table-cell>"
        "<table:table-cell office:value-type=\"string\"><text:p><text:a xlink:href=\"https://example.org/\">link"
        "</text:a></text:p></table:table-cell>"
        "<table:table-cell office:value-type=\"string\"><text:p><text:a xlink:href=\"#Secret.B2\">there</text:a>"
        "</text:p></table:table-cell>"
        "<table:table-cell table:formula=\"of:=SUM([.A1:.B1];[Secret.A1];['My sheet'.$C$3])\" "
        "office:value-type=\"float\" office:value=\"42\"/>"
        "<table:table-cell table:formula=\"of:=ORG.OPENOFFICE.STYLE(&quot;x&quot;)\" office:value-type=\"float\" "
        "office:value=\"7\"/>"
        "<table:table-cell table:formula=\"of:=1/0\" office:value-type=\"string\" calcext:value-type=\"error\">"
        "<text:p>#DIV/0!</text:p></table:table-cell>"
        "</table:table-row>"
        "<table:table-row table:number-rows-repeated=\"2\"><table:table-cell table:number-columns-spanned=\"2\" "
        "table:number-rows-spanned=\"2\" office:value-type=\"float\" office:value=\"5\"/><table:covered-table-cell/>"
        "<table:table-cell table:number-columns-repeated=\"3\" office:value-type=\"string\"><text:p>rep</text:p>"
        "</table:table-cell></table:table-row>"
        "<table:table-row table:visibility=\"collapse\"><table:table-cell table:style-name=\"ce3\" "
        "table:number-columns-repeated=\"2\"/><table:table-cell table:style-name=\"ce3\" "
        "table:number-columns-repeated=\"16382\"/></table:table-row>"
        "<table:table-row table:number-rows-repeated=\"1048000\"><table:table-cell table:style-name=\"ce3\" "
        "table:number-columns-repeated=\"16384\"/></table:table-row>"
        "</table:table>"
        "<table:table table:name=\"Secret\" table:style-name=\"ta2\"><table:table-row><table:table-cell "
        "office:value-type=\"float\" office:value=\"3\"/></table:table-row></table:table>";
    auto start = std::chrono::steady_clock::now();
    auto book = Open(p);
    ASSERT_EQ(book->SheetCount(), 2u);
    EXPECT_EQ(book->SheetName(0), "Data");
    EXPECT_EQ(book->SheetStateAt(0), SheetState::Visible);
    EXPECT_EQ(book->SheetName(1), "Secret");
    EXPECT_EQ(book->SheetStateAt(1), SheetState::Hidden);
    Worksheet& sheet = book->Sheet(0);
    const struct {
        const char* cell;
        const char* shown;
    } cells[] = {
        {"A1", "n:1234.5 #,##0.00"},
        {"B1", "n:0.25 0%"},
        {"C1", "n:45351 dd.mm.yyyy"},
        {"D1", "n:45351.75 yyyy-mm-dd hh:mm:ss"},
        {"E1", "n:1.52083333333333 [h]:mm:ss"},
        {"F1", "b:1"},
        {"G1", "b:0"},
        {"A2", "s:a  b\nsecond\tline"},
        {"B2", "s:link"},
        {"C2", "s:there"},
        {"D2", "n:42 General"},
        {"E2", "n:7 General"},
        {"F2", "e:#DIV/0!"},
        {"A3", "n:5 General"},
        {"B3", "-"},
        {"C3", "s:rep"},
        {"E4", "s:rep"},
        {"F4", "-"},
    };
    for (const auto& c : cells) {
        CellRef at;
        ASSERT_TRUE(ParseCellName(c.cell, at));
        EXPECT_EQ(Show(*book, sheet.FindCell(at.row, at.col)), c.shown) << c.cell;
    }
    // Formats, sizes, merges, links and formulas.
    ResolvedStyle a1 = book->Styles().Resolve(sheet.FindCell(0, 0)->style);
    EXPECT_TRUE(a1.font.bold);
    EXPECT_EQ(a1.font.name, "Liberation Sans");
    EXPECT_EQ(a1.font.color, Color::Rgb(0xFF0000FF));
    EXPECT_EQ(a1.fill.fg, Color::Rgb(0xFFFFFF00));
    EXPECT_EQ(a1.border.left.style, BorderStyle::Thin);
    EXPECT_EQ(a1.border.left.color, Color::Rgb(0xFFFF0000));
    EXPECT_EQ(a1.alignment.horizontal, HAlign::Center);
    EXPECT_FALSE(a1.protection.locked);
    ASSERT_NE(sheet.FindColumn(0), nullptr);
    EXPECT_NEAR(sheet.FindColumn(1)->width, (96.0 - 5.0) / 7.0, 0.01);
    EXPECT_TRUE(sheet.FindColumn(2)->hidden);
    ASSERT_NE(sheet.FindRow(0), nullptr);
    EXPECT_FLOAT_EQ(sheet.FindRow(0)->height, 36.0f);
    EXPECT_TRUE(sheet.FindRow(4)->hidden);
    EXPECT_EQ(book->Styles().Resolve(sheet.FindRow(4)->style).fill.fg, Color::Rgb(0xFF00FF00));
    EXPECT_EQ(sheet.merges, (std::vector<CellRange>{{2, 0, 3, 1}}));
    ASSERT_EQ(sheet.hyperlinks.size(), 2u);
    EXPECT_EQ(sheet.hyperlinks[0].target, "https://example.org/");
    EXPECT_EQ(sheet.hyperlinks[1].location, "Secret!B2");
    formula::Formula f;
    ASSERT_TRUE(formula::CellFormula(sheet, 1, *sheet.FindCell(1, 3), f));
    EXPECT_EQ(formula::PrintFormula(f), "SUM(A1:B1,Secret!A1,'My sheet'!$C$3)");
    EXPECT_FALSE(formula::CellFormula(sheet, 1, *sheet.FindCell(1, 4), f)) << "a function of one suite alone";
    // The formatted empty rest of the sheet costs nothing.
    EXPECT_LT(sheet.rows.size(), 10u);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
}

TEST(OdsReader, OpenFormulaBecomesA1TextOrStaysAValue)
{
    const struct {
        const char* openFormula;
        const char* a1; // nullptr: not translated
    } cases[] = {
        {"of:=SUM([.A1:.B2];[Sheet2.C3])", "SUM(A1:B2,Sheet2!C3)"},
        {"of:=[$'My ''q'' sheet'.$A$1]*2", "'My ''q'' sheet'!$A$1*2"},
        {"of:=[Sheet1.A1:Sheet3.B2]", "Sheet1:Sheet3!A1:B2"},
        {"of:=[.A:.B]", "A:B"},
        {"of:=[.#REF!]+1", "#REF!+1"},
        {"of:={1;2|3;4}", "{1,2;3,4}"},
        {"of:=\"a;[b]\"&[.A1]", "\"a;[b]\"&A1"},
        {"of:=COM.MICROSOFT.CONCAT([.A1];\"x\")", "CONCAT(A1,\"x\")"},
        {"msoxl:=SUM(A1,B1)", "SUM(A1,B1)"},
        {"of:=[.A1]~[.B1]", nullptr},
        {"of:=[.A1:.B2]![.B1:.C2]", nullptr},
        {"of:=ORG.OPENOFFICE.WEEKS([.A1];[.B1];0)", nullptr},
        {"of:=['file:///x.ods'#$Sheet1.A1]", nullptr},
        {"oooc:=SUM([.A1])", nullptr},
        {"of:=\"open", nullptr},
        {"of:=[.A1", nullptr},
    };
    for (const auto& c : cases) {
        std::string out;
        const bool translated = formula::OpenFormulaToA1(c.openFormula, out);
        EXPECT_EQ(translated, c.a1 != nullptr) << c.openFormula << " -> " << out;
        if (translated && c.a1 != nullptr) {
            EXPECT_EQ(out, c.a1) << c.openFormula;
        }
    }
}

TEST(OdsReader, HostilePackagesEndInAClearErrorQuickly)
{
    const std::string table = "<table:table table:name=\"T\">";
    const std::string float1 = "<table:table-cell office:value-type=\"float\" office:value=\"1\"/>";
    std::string deep;
    for (int i = 0; i < 300; ++i) {
        deep += "<text:span>";
    }
    enum class Expect { Ok, Format, Password, Limit };
    struct Case {
        const char* what;
        Package package;
        Expect expect;
        const char* message;
    };
    std::vector<Case> cases;
    auto add = [&](const char* what, Expect expect, const char* message, auto&& change) {
        Package p;
        p.body = table + "<table:table-row>" + float1 + "</table:table-row></table:table>";
        change(p);
        cases.push_back({what, p, expect, message});
    };
    add("encrypted", Expect::Password, "password", [](Package& p) {
        p.manifest = "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
                     "<manifest:file-entry manifest:full-path=\"content.xml\"><manifest:encryption-data/>"
                     "</manifest:file-entry></manifest:manifest>";
    });
    add("a text document", Expect::Format, "not a spreadsheet",
        [](Package& p) { p.mimetype = "application/vnd.oasis.opendocument.text"; });
    add("no content", Expect::Format, "no content.xml", [](Package& p) { p.content = false; });
    add("values past the last row", Expect::Limit, "beyond row", [&](Package& p) {
        p.body = table +
                 "<table:table-row table:number-rows-repeated=\"1048575\"/><table:table-row "
                 "table:number-rows-repeated=\"2\">" +
                 float1 + "</table:table-row></table:table>";
    });
    add("values past the last column", Expect::Limit, "beyond column", [&](Package& p) {
        p.body = table + "<table:table-row><table:table-cell table:number-columns-repeated=\"16385\" "
                         "office:value-type=\"float\" office:value=\"1\"/></table:table-row></table:table>";
    });
    add("a million rows of a million cells", Expect::Limit, "cells", [&](Package& p) {
        p.body = table + "<table:table-row table:number-rows-repeated=\"1048576\"><table:table-cell "
                         "table:number-columns-repeated=\"16384\" office:value-type=\"float\" office:value=\"1\"/>"
                         "</table:table-row></table:table>";
    });
    add("nesting without end", Expect::Format, "deeper", [&](Package& p) {
        p.body = table + "<table:table-row><table:table-cell><text:p>" + deep +
                 "</text:p></table:table-cell>"
                 "</table:table-row></table:table>";
    });
    add("a document type", Expect::Format, "", [&](Package& p) { p.body = "<!DOCTYPE x []>"; });
    add("text longer than a cell", Expect::Limit, "more text", [&](Package& p) {
        p.body = table +
                 "<table:table-row><table:table-cell office:value-type=\"string\"><text:p><text:s text:c=\"1024\"/>" +
                 std::string(limits::kMaxStringBytes, 'x') +
                 "</text:p></table:table-cell></table:table-row></table:table>";
    });
    add("spans past the grid and bad numbers", Expect::Ok, "", [&](Package& p) {
        p.body = table + "<table:table-row><table:table-cell table:number-columns-spanned=\"99999999\" "
                         "table:number-rows-spanned=\"-3\" office:value-type=\"float\" office:value=\"x1\"/>"
                         "<table:table-cell office:value-type=\"date\" office:date-value=\"1800-13-45\"/>"
                         "<table:table-cell office:value-type=\"time\" office:time-value=\"PT99999999999999999999H\"/>"
                         "</table:table-row></table:table>";
    });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto start = std::chrono::steady_clock::now();
        try {
            auto book = Open(c.package);
            for (size_t i = 0; i < book->SheetCount(); ++i) {
                book->Sheet(i);
            }
            EXPECT_EQ(c.expect, Expect::Ok) << "no error";
        } catch (const PasswordProtectedError& e) {
            EXPECT_EQ(c.expect, Expect::Password) << e.what();
        } catch (const FormatError& e) {
            EXPECT_EQ(c.expect, Expect::Format) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        } catch (const LimitError& e) {
            EXPECT_EQ(c.expect, Expect::Limit) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    }
}

} // namespace
} // namespace gq::engine
