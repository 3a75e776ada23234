// The xlsx reader on hand-built packages: every cell type, styles and colours, sheet layout, lazy
// loading, and hostile packages (each poked field must give its own clear error, fast).
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxReader.h"
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/xlsx/XlsxReaderPackage.h"
#include "engine/xlsx/XlsxReaderSharedStrings.h"
#include "engine/xlsx/XlsxReaderSheet.h"
#include "engine/xlsx/XlsxReaderStyles.h"
#include "engine/xlsx/XlsxReaderText.h"
#include "tests/support/XlsxTestPackage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>

namespace gq::engine {
namespace {

using test::BuildZip;
using test::Entries;
using test::MinimalWorkbookParts;
using test::ZipEntry;

std::shared_ptr<const InputBytes> Bytes(const std::vector<ZipEntry>& entries)
{
    return InputBytes::FromMemory(BuildZip(entries), "test.xlsx");
}

std::unique_ptr<Workbook> Read(const std::map<std::string, std::string>& parts)
{
    return ReadXlsx(Bytes(Entries(parts)));
}

std::vector<ZipEntry> Poke(const std::map<std::string, std::string>& parts, const std::string& part,
                           const std::function<void(ZipEntry&)>& poke);

const std::string kStyles =
    R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
    R"(<numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy\-mm\-dd"/></numFmts>)"
    R"(<fonts><font><sz val="10"/><color theme="1"/><name val="Arial"/><family val="2"/></font>)"
    R"(<font><b/><i val="0"/><u/><sz val="12"/><color rgb="FFFF0000"/><name val="Cambria"/></font>)"
    R"(<font><color theme="4" tint="0.39997558519241921"/><name val="Arial"/><sz val="10"/></font>)"
    R"(<font><color indexed="10"/><name val="Arial"/><sz val="10"/></font></fonts>)"
    R"(<fills><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill>)"
    R"(<fill><patternFill patternType="solid"><fgColor theme="0" tint="-0.0499893185216834"/><bgColor indexed="64"/></patternFill></fill></fills>)"
    R"(<borders><border><left/><right/><top/><bottom/><diagonal/></border>)"
    R"(<border diagonalUp="1"><left style="thin"><color indexed="8"/></left><right style="mediumDashDot"/><top/><bottom style="double"><color auto="1"/></bottom><diagonal style="hair"/></border></borders>)"
    R"(<cellStyleXfs count="1"><xf numFmtId="0" fontId="1" fillId="2" borderId="1"/></cellStyleXfs>)"
    R"(<cellXfs><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>)"
    R"(<xf numFmtId="164" fontId="1" fillId="2" borderId="1" applyFont="0"><alignment horizontal="center" vertical="top" wrapText="1" textRotation="90" indent="2"/><protection locked="0" hidden="1"/></xf>)"
    R"(<xf numFmtId="14" fontId="2" fillId="0" borderId="0"/>)"
    R"(<xf numFmtId="10" fontId="3" fillId="0" borderId="0"/></cellXfs>)"
    R"(<cellStyles count="1"><cellStyle name="Normal" xfId="0" builtinId="0"/></cellStyles>)"
    R"(<dxfs><dxf><font><b/></font></dxf></dxfs>)"
    R"(<colors><indexedColors>)"
    R"(<rgbColor rgb="FF000000"/><rgbColor rgb="FFFFFFFF"/><rgbColor rgb="FFFF0000"/><rgbColor rgb="FF00FF00"/>)"
    R"(<rgbColor rgb="FF0000FF"/><rgbColor rgb="FFFFFF00"/><rgbColor rgb="FFFF00FF"/><rgbColor rgb="FF00FFFF"/>)"
    R"(<rgbColor rgb="FF111111"/><rgbColor rgb="FF222222"/><rgbColor rgb="FF123456"/>)"
    R"(</indexedColors></colors></styleSheet>)";

const std::string kSharedStrings =
    R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="3" uniqueCount="3">)"
    R"(<si><t>plain</t></si>)"
    R"(<si><r><rPr><b/></rPr><t xml:space="preserve">rich </t></r><r><t>text</t></r>)"
    R"(<rPh sb="0" eb="1"><t>PHONETIC</t></rPh><phoneticPr fontId="1"/></si>)"
    R"(<si><t>line_x000D__x000A_break _x005F_x0041_</t></si></sst>)";

// A workbook with shared strings, styles and the given sheet content.
std::map<std::string, std::string> FullParts(const std::string& sheetData, const std::string& afterSheetData = {},
                                             const std::string& beforeSheetData = {})
{
    auto p = MinimalWorkbookParts(sheetData);
    p["xl/worksheets/sheet1.xml"] =
        R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
        R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)" +
        beforeSheetData + "<sheetData>" + sheetData + "</sheetData>" + afterSheetData + "</worksheet>";
    p["xl/styles.xml"] = kStyles;
    p["xl/sharedStrings.xml"] = kSharedStrings;
    p["xl/_rels/workbook.xml.rels"] =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
        R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)"
        R"(<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="/xl/sharedStrings.xml"/>)"
        R"(</Relationships>)";
    return p;
}

std::string Text(Workbook& wb, const Cell* c)
{
    if (c == nullptr || c->type != CellType::String) {
        return "<not a string>";
    }
    return wb.Strings().At(c->text);
}

TEST(XlsxReader, ReadsEveryKindOfCellValue)
{
    auto wb = Read(FullParts(
        R"(<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" t="s"><v>2</v></c>)"
        R"(<c r="D1" t="s"><v>99</v></c></row>)"
        R"(<row r="2"><c r="A2"><v>-1.5E-3</v></c><c r="B2" t="b"><v>1</v></c><c r="C2" t="e"><v>#DIV/0!</v></c>)"
        R"(<c r="D2"><f>1+1</f><v>2</v></c><c r="E2" t="str"><f>"a"&amp;"b"</f><v>ab</v></c><c r="F2"><f>NOW()</f></c>)"
        R"(<c r="G2" t="inlineStr"><is><r><t>in</t></r><r><t>line</t></r><rPh><t>x</t></rPh></is></c></row>)"
        R"(<row r="3"><c r="A3" t="d" s="2"><v>2021-01-01T12:00:00</v></c><c r="B3" t="d"><v>10:10:10</v></c>)"
        R"(<c r="C3" t="d"><v>1900-02-28</v></c><c r="D3" s="1"/></row>)"));
    ASSERT_EQ(wb->SheetCount(), 1u);
    Worksheet& ws = wb->Sheet(0);
    EXPECT_EQ(Text(*wb, ws.FindCell(0, 0)), "plain");
    EXPECT_EQ(Text(*wb, ws.FindCell(0, 1)), "rich text");
    EXPECT_EQ(Text(*wb, ws.FindCell(0, 2)), "line\r\nbreak _x0041_");
    // An index past the shared strings leaves no value.
    EXPECT_EQ(ws.FindCell(0, 3), nullptr);

    const Cell* a2 = ws.FindCell(1, 0);
    ASSERT_NE(a2, nullptr);
    EXPECT_EQ(a2->type, CellType::Number);
    EXPECT_DOUBLE_EQ(a2->number, -0.0015);
    EXPECT_EQ(ws.FindCell(1, 1)->type, CellType::Boolean);
    EXPECT_TRUE(ws.FindCell(1, 1)->boolean);
    EXPECT_EQ(ws.FindCell(1, 2)->error, ErrorCode::Div0);
    const Cell* d2 = ws.FindCell(1, 3);
    EXPECT_TRUE(d2->formula);
    EXPECT_DOUBLE_EQ(d2->number, 2);
    EXPECT_EQ(Text(*wb, ws.FindCell(1, 4)), "ab");
    EXPECT_TRUE(ws.FindCell(1, 4)->formula);
    // A formula without a cached value is kept as a blank formula cell.
    ASSERT_NE(ws.FindCell(1, 5), nullptr);
    EXPECT_EQ(ws.FindCell(1, 5)->type, CellType::Blank);
    EXPECT_TRUE(ws.FindCell(1, 5)->formula);
    EXPECT_EQ(Text(*wb, ws.FindCell(1, 6)), "inline");

    EXPECT_DOUBLE_EQ(ws.FindCell(2, 0)->number, 44197.5);
    EXPECT_TRUE(wb->Styles().IsDateFormat(ws.FindCell(2, 0)->style));
    EXPECT_NEAR(ws.FindCell(2, 1)->number, (10 * 3600 + 10 * 60 + 10) / 86400.0, 1e-12);
    EXPECT_DOUBLE_EQ(ws.FindCell(2, 2)->number, 59);
    // A styled empty cell is kept for its format.
    ASSERT_NE(ws.FindCell(2, 3), nullptr);
    EXPECT_EQ(ws.FindCell(2, 3)->type, CellType::Blank);
    EXPECT_NE(ws.FindCell(2, 3)->style, 0u);
}

TEST(XlsxReader, CellsAndRowsWithoutReferencesArePositional)
{
    auto wb = Read(FullParts(R"(<row><c><v>1</v></c><c><v>2</v></c><c r="E1"><v>5</v></c><c><v>6</v></c></row>)"
                             R"(<row><c><v>7</v></c></row><row r="10"><c><v>10</v></c></row>)"));
    Worksheet& ws = wb->Sheet(0);
    EXPECT_DOUBLE_EQ(ws.FindCell(0, 1)->number, 2);
    EXPECT_DOUBLE_EQ(ws.FindCell(0, 5)->number, 6);
    EXPECT_DOUBLE_EQ(ws.FindCell(1, 0)->number, 7);
    EXPECT_DOUBLE_EQ(ws.FindCell(9, 0)->number, 10);
}

TEST(XlsxReader, RowsAndCellsOutOfOrderAreSorted)
{
    auto wb = Read(FullParts(R"(<row r="3"><c r="B3"><v>2</v></c><c r="A3"><v>1</v></c></row>)"
                             R"(<row r="1"><c r="A1"><v>0</v></c></row><row r="2"><c r="A3"><v>9</v></c></row>)"));
    Worksheet& ws = wb->Sheet(0);
    ASSERT_EQ(ws.rows.size(), 2u);
    EXPECT_EQ(ws.rows[0].index, 0u);
    ASSERT_EQ(ws.rows[1].cells.size(), 2u);
    EXPECT_EQ(ws.rows[1].cells[0].col, 0u);
    // A cell whose reference names another row than its row element goes where it says, and
    // comes last, so it wins.
    EXPECT_DOUBLE_EQ(ws.FindCell(2, 0)->number, 9);
}

TEST(XlsxReader, StylesResolveColoursAndMapFormats)
{
    auto wb = Read(
        FullParts(R"(<row r="1"><c r="A1" s="1"><v>1</v></c><c r="B1" s="2"><v>2</v></c>)"
                  R"(<c r="C1" s="3"><v>3</v></c><c r="D1" s="0"><v>4</v></c><c r="E1" s="77"><v>5</v></c></row>)"));
    Worksheet& ws = wb->Sheet(0);
    const StyleTable& st = wb->Styles();
    // The file's font 0 became the model's default font, and its xf 0 the model's format 0.
    EXPECT_EQ(st.Fonts()[0].name, "Arial");
    EXPECT_DOUBLE_EQ(st.Fonts()[0].size, 10);
    EXPECT_EQ(ws.FindCell(0, 3)->style, 0u);
    EXPECT_EQ(ws.FindCell(0, 4)->style, 0u); // past the table: the default

    ResolvedStyle s1 = st.Resolve(ws.FindCell(0, 0)->style);
    EXPECT_EQ(s1.numFmt, "yyyy\\-mm\\-dd");
    // applyFont="0" is not obeyed: the xf's font is what applications show.
    EXPECT_EQ(s1.font.name, "Cambria");
    EXPECT_TRUE(s1.font.bold);
    EXPECT_FALSE(s1.font.italic);
    EXPECT_EQ(s1.font.underline, Underline::Single);
    EXPECT_EQ(s1.font.color, Color::Rgb(0xFFFF0000));
    EXPECT_EQ(s1.fill.pattern, PatternType::Solid);
    // Theme 0 is lt1 (white) after the index swap; tint -0.05 gives F2F2F2.
    EXPECT_EQ(s1.fill.fg, Color::Rgb(0xFFF2F2F2));
    EXPECT_EQ(s1.fill.bg, Color::Automatic());
    EXPECT_EQ(s1.border.left.style, BorderStyle::Thin);
    // Indexed 8 from the file's own palette, not the default black.
    EXPECT_EQ(s1.border.left.color, Color::Rgb(0xFF111111));
    EXPECT_EQ(s1.border.right.style, BorderStyle::MediumDashDot);
    EXPECT_EQ(s1.border.bottom.style, BorderStyle::Double);
    EXPECT_EQ(s1.border.bottom.color, Color::Automatic());
    EXPECT_EQ(s1.border.diagonal.style, BorderStyle::Hair);
    EXPECT_TRUE(s1.border.diagonalUp);
    EXPECT_EQ(s1.alignment.horizontal, HAlign::Center);
    EXPECT_EQ(s1.alignment.vertical, VAlign::Top);
    EXPECT_TRUE(s1.alignment.wrap);
    EXPECT_EQ(s1.alignment.rotation, 90);
    EXPECT_EQ(s1.alignment.indent, 2);
    EXPECT_FALSE(s1.protection.locked);
    EXPECT_TRUE(s1.protection.hidden);

    ResolvedStyle s2 = st.Resolve(ws.FindCell(0, 1)->style);
    EXPECT_EQ(s2.numFmt, "m/d/yyyy"); // built-in 14
    // Theme 4 (accent1 of the default theme, 4F81BD) lightened 40%: 95B3D7.
    EXPECT_EQ(s2.font.color, Color::Rgb(0xFF95B3D7));
    ResolvedStyle s3 = st.Resolve(ws.FindCell(0, 2)->style);
    EXPECT_EQ(s3.numFmt, "0.00%");
    EXPECT_EQ(s3.font.color, Color::Rgb(0xFF123456));
}

TEST(XlsxReader, CellsWithoutAFormatTakeTheFirstCellFormat)
{
    const std::string sheet =
        R"(<row r="1"><c r="A1"><v>1</v></c><c r="B1" s="0"><v>2</v></c><c r="C1" s="3"><v>3</v></c></row>)";
    // A first cell format with a look of its own: cells without s show it too.
    auto parts = FullParts(sheet);
    const std::string plainFirst = R"(<xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/>)";
    ASSERT_NE(parts["xl/styles.xml"].find(plainFirst), std::string::npos);
    parts["xl/styles.xml"].replace(
        parts["xl/styles.xml"].find(plainFirst), plainFirst.size(),
        R"(<xf numFmtId="0" fontId="0" fillId="2" borderId="0" xfId="0" applyAlignment="1"><alignment vertical="top"/></xf>)");
    auto wb = Read(parts);
    Worksheet& ws = wb->Sheet(0);
    for (uint32_t col : {0u, 1u}) {
        ResolvedStyle look = wb->Styles().Resolve(ws.FindCell(0, col)->style);
        EXPECT_EQ(look.alignment.vertical, VAlign::Top) << col;
        EXPECT_EQ(look.fill.pattern, PatternType::Solid) << col;
    }
    EXPECT_EQ(wb->Styles().Resolve(ws.FindCell(0, 2)->style).alignment.vertical, VAlign::Bottom);
    // A plain first format is the model's plain format: such cells add nothing to the tables.
    auto plain = Read(FullParts(sheet));
    EXPECT_EQ(plain->Sheet(0).FindCell(0, 0)->style, 0u);
}

TEST(XlsxReader, ThemePartColoursAreUsed)
{
    auto p = FullParts(R"(<row r="1"><c r="B1" s="2"><v>2</v></c></row>)");
    p["xl/theme/theme1.xml"] =
        R"(<a:theme xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main"><a:themeElements><a:clrScheme name="X">)"
        R"(<a:dk1><a:sysClr val="windowText" lastClr="000000"/></a:dk1><a:lt1><a:sysClr val="window" lastClr="FFFFFF"/></a:lt1>)"
        R"(<a:dk2><a:srgbClr val="44546A"/></a:dk2><a:lt2><a:srgbClr val="E7E6E6"/></a:lt2><a:accent1><a:srgbClr val="000080"/></a:accent1>)"
        R"(</a:clrScheme></a:themeElements></a:theme>)";
    std::string& rels = p["xl/_rels/workbook.xml.rels"];
    rels.insert(
        rels.find("</Relationships>"),
        R"(<Relationship Id="rId9" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/theme" Target="theme/theme1.xml"/>)");
    auto wb = Read(p);
    Worksheet& ws = wb->Sheet(0);
    // 000080 lightened by 40% in HLS space: hue kept, luminance 0.25 -> 0.55.
    EXPECT_EQ(wb->Styles().Resolve(ws.FindCell(0, 1)->style).font.color, Color::Rgb(0xFF1A1AFF));
}

TEST(XlsxReader, ReadsLayoutMergesLinksAndPanes)
{
    auto p = FullParts(
        R"(<row r="1" ht="30" customHeight="1"><c r="A1"><v>1</v></c></row><row r="4" hidden="1"/>)"
        R"(<row r="5" spans="1:3"/>)",
        R"(<mergeCells count="3"><mergeCell ref="A1:B2"/><mergeCell ref="B2:C3"/><mergeCell ref="D1:D4"/></mergeCells>)"
        R"(<hyperlinks><hyperlink ref="A1" r:id="rId1" tooltip="tip" display="shown"/>)"
        R"(<hyperlink ref="B1:B2" location="'Other sheet'!A1"/></hyperlinks>)",
        R"(<sheetViews><sheetView workbookViewId="0"><pane xSplit="2" ySplit="1" topLeftCell="C2" state="frozen"/></sheetView>)"
        R"(<sheetView workbookViewId="1"><pane xSplit="5" state="frozen"/></sheetView></sheetViews>)"
        R"(<sheetFormatPr defaultRowHeight="15" defaultColWidth="9.5"/>)"
        R"(<cols><col min="1" max="1" width="20.5" customWidth="1"/><col min="3" max="5" width="4" hidden="1" style="1"/>)"
        R"(<col min="7" max="16384" width="3"/></cols>)");
    p["xl/worksheets/_rels/sheet1.xml.rels"] =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink" )"
        R"(Target="https://example.com/a%20b?x=1&amp;y=2" TargetMode="External"/></Relationships>)";
    auto wb = Read(p);
    Worksheet& ws = wb->Sheet(0);
    EXPECT_DOUBLE_EQ(ws.defaultRowHeight, 15);
    EXPECT_DOUBLE_EQ(ws.defaultColWidth, 9.5);
    ASSERT_NE(ws.FindRow(0), nullptr);
    EXPECT_FLOAT_EQ(ws.FindRow(0)->height, 30);
    EXPECT_TRUE(ws.FindRow(0)->customHeight);
    ASSERT_NE(ws.FindRow(3), nullptr);
    EXPECT_TRUE(ws.FindRow(3)->hidden);
    EXPECT_EQ(ws.FindRow(4), nullptr); // nothing of its own
    ASSERT_NE(ws.FindColumn(0), nullptr);
    EXPECT_DOUBLE_EQ(ws.FindColumn(0)->width, 20.5);
    EXPECT_TRUE(ws.FindColumn(0)->customWidth);
    EXPECT_EQ(ws.FindColumn(1), nullptr);
    ASSERT_NE(ws.FindColumn(4), nullptr);
    EXPECT_TRUE(ws.FindColumn(4)->hidden);
    EXPECT_NE(ws.FindColumn(4)->style, 0u);
    ASSERT_NE(ws.FindColumn(16383), nullptr);
    // The overlapping second merge is dropped; the first and third stay.
    ASSERT_EQ(ws.merges.size(), 2u);
    EXPECT_EQ(RangeName(ws.merges[0]), "A1:B2");
    EXPECT_EQ(RangeName(ws.merges[1]), "D1:D4");
    ASSERT_EQ(ws.hyperlinks.size(), 2u);
    EXPECT_EQ(ws.hyperlinks[0].target, "https://example.com/a%20b?x=1&y=2");
    EXPECT_EQ(ws.hyperlinks[0].tooltip, "tip");
    EXPECT_EQ(ws.hyperlinks[0].display, "shown");
    EXPECT_EQ(ws.hyperlinks[1].target, "");
    EXPECT_EQ(ws.hyperlinks[1].location, "'Other sheet'!A1");
    EXPECT_EQ(RangeName(ws.hyperlinks[1].range), "B1:B2");
    // Only the first view's pane counts.
    EXPECT_EQ(ws.frozenCols, 2u);
    EXPECT_EQ(ws.frozenRows, 1u);
}

// A workbook with every kind of sheet: only worksheets are listed, in order, with their states.
std::map<std::string, std::string> MixedSheetParts(const std::string& activeTab)
{
    auto p = MinimalWorkbookParts(R"(<row r="1"><c r="A1"><v>1</v></c></row>)");
    p["xl/workbook.xml"] =
        R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
        R"(<workbookPr date1904="1"/><bookViews><workbookView activeTab=")" +
        activeTab +
        R"("/><workbookView activeTab="0"/></bookViews><sheets>)"
        R"(<sheet name="Chart" sheetId="1" r:id="rId2"/><sheet name="First &amp; &lt;one&gt;" sheetId="2" r:id="rId1"/>)"
        R"(<sheet name="Macro" sheetId="3" r:id="rId3"/><sheet name="Dialog" sheetId="4" r:id="rId4"/>)"
        R"(<sheet name="Hidden" sheetId="5" state="hidden" r:id="rId5"/><sheet name="Very" sheetId="6" state="veryHidden" r:id="rId6"/>)"
        // Later versions repeat element names in their extension lists; those must not count.
        R"(</sheets><extLst><ext uri="{0}" xmlns:x15="http://schemas.microsoft.com/office/spreadsheetml/2010/11/main">)"
        R"(<x15:workbookPr chartTrackingRefBase="1"/></ext></extLst></workbook>)";
    p["xl/_rels/workbook.xml.rels"] =
        R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
        R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
        R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/chartsheet" Target="chartsheets/sheet1.xml"/>)"
        R"(<Relationship Id="rId3" Type="http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet" Target="macrosheets/sheet1.xml"/>)"
        R"(<Relationship Id="rId4" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/dialogsheet" Target="dialogsheets/sheet1.xml"/>)"
        R"(<Relationship Id="rId5" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet2.xml"/>)"
        R"(<Relationship Id="rId6" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="/xl/worksheets/sheet3.xml"/>)"
        R"(</Relationships>)";
    p["xl/worksheets/sheet2.xml"] = p["xl/worksheets/sheet1.xml"];
    p["xl/worksheets/sheet3.xml"] = p["xl/worksheets/sheet1.xml"];
    return p;
}

TEST(XlsxReader, ListsOnlyWorksheetsWithStatesAndActiveTab)
{
    struct Case {
        std::string activeTab;
        size_t expectedActive;
    };
    // The active tab counts every sheet; an active chart, macro or dialog sheet hands over to the
    // next worksheet.
    for (const Case& c : {Case{"0", 0}, Case{"1", 0}, Case{"2", 1}, Case{"5", 2}, Case{"99", 0}}) {
        auto wb = Read(MixedSheetParts(c.activeTab));
        ASSERT_EQ(wb->SheetCount(), 3u);
        EXPECT_EQ(wb->SheetName(0), "First & <one>");
        EXPECT_EQ(wb->SheetName(1), "Hidden");
        EXPECT_EQ(wb->SheetName(2), "Very");
        EXPECT_EQ(wb->SheetStateAt(0), SheetState::Visible);
        EXPECT_EQ(wb->SheetStateAt(1), SheetState::Hidden);
        EXPECT_EQ(wb->SheetStateAt(2), SheetState::VeryHidden);
        EXPECT_TRUE(wb->Date1904());
        EXPECT_EQ(wb->ActiveSheet(), c.expectedActive) << "activeTab " << c.activeTab;
        EXPECT_DOUBLE_EQ(wb->Sheet(2).FindCell(0, 0)->number, 1);
    }
}

TEST(XlsxReader, OpeningReadsNoWorksheet)
{
    // The worksheet part is damaged: listing must not notice, loading must.
    auto entries = Entries(FullParts(R"(<row r="1"><c r="A1"><v>1</v></c></row>)"));
    for (auto& e : entries) {
        if (e.name == "xl/worksheets/sheet1.xml" || e.name == "xl/styles.xml" || e.name == "xl/sharedStrings.xml") {
            e.badCrc = true;
        }
    }
    auto wb = ReadXlsx(Bytes(entries));
    EXPECT_EQ(wb->SheetName(0), "Data");
    EXPECT_FALSE(wb->IsSheetLoaded(0));
    EXPECT_THROW(wb->Sheet(0), FormatError);
}

TEST(XlsxReader, LargeSheetsInflateBesideTheParser)
{
    // Parts over a few MB inflate on a second thread: the values, a damaged part's CRC error and a
    // parse error early in the part must all come through as when everything runs on one thread.
    std::string rows;
    for (int i = 1; i <= 200000; ++i) {
        rows += "<row><c><v>" + std::to_string(i) + "</v></c></row>";
    }
    auto parts = MinimalWorkbookParts(rows);
    ASSERT_GT(parts["xl/worksheets/sheet1.xml"].size(), 4u << 20);
    auto wb = Read(parts);
    Worksheet& ws = wb->Sheet(0);
    EXPECT_EQ(ws.CellCount(), 200000u);
    EXPECT_DOUBLE_EQ(ws.FindCell(199999, 0)->number, 200000);

    auto damaged = ReadXlsx(Bytes(Poke(parts, "xl/worksheets/sheet1.xml", [](ZipEntry& e) { e.badCrc = true; })));
    EXPECT_THROW(damaged->Sheet(0), FormatError);

    auto broken = parts;
    broken["xl/worksheets/sheet1.xml"].replace(broken["xl/worksheets/sheet1.xml"].find("<row>"), 5, "<row r=\"0\">");
    auto early = ReadXlsx(Bytes(Entries(broken)));
    EXPECT_THROW(early->Sheet(0), FormatError);
}

struct PackageRelsCase {
    const char* what;
    std::function<void(std::map<std::string, std::string>&)> change;
    const char* refusal; // empty when the workbook is read
};

// A missing or unreadable _rels/.rels leaves the workbook part to [Content_Types].xml; only when
// neither names one is the package refused.
TEST(XlsxReader, DamagedPackageRelationshipsFallBackToTheContentTypes)
{
    using Parts = std::map<std::string, std::string>;
    const std::string plain = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml";
    auto retype = [plain](Parts& p, const std::string& type) {
        std::string& types = p["[Content_Types].xml"];
        types.replace(types.find(plain), plain.size(), type);
    };
    const PackageRelsCase cases[] = {
        {"empty", [](Parts& p) { p["_rels/.rels"] = ""; }, ""},
        {"declaration only", [](Parts& p) { p["_rels/.rels"] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"; }, ""},
        {"cut short", [](Parts& p) { p["_rels/.rels"].resize(120); }, ""},
        {"missing", [](Parts& p) { p.erase("_rels/.rels"); }, ""},
        {"damaged in a macro-enabled template",
         [retype](Parts& p) {
             p["_rels/.rels"] = "";
             retype(p, "application/vnd.ms-excel.template.macroEnabled.main+xml");
         },
         ""},
        {"damaged, no workbook type",
         [retype](Parts& p) {
             p["_rels/.rels"] = "";
             retype(p, "application/xml");
         },
         "names no workbook part"},
        {"damaged, the typed part absent",
         [](Parts& p) {
             p["_rels/.rels"] = "";
             p.erase("xl/workbook.xml");
         },
         "names no workbook part"},
    };
    for (const PackageRelsCase& c : cases) {
        Parts p = MinimalWorkbookParts(R"(<row r="1"><c r="A1" t="inlineStr"><is><t>found</t></is></c></row>)");
        c.change(p);
        if (*c.refusal != '\0') {
            try {
                Read(p);
                ADD_FAILURE() << c.what << ": read";
            } catch (const FormatError& e) {
                EXPECT_NE(std::string(e.what()).find(c.refusal), std::string::npos) << c.what << ": " << e.what();
            }
            continue;
        }
        std::unique_ptr<Workbook> wb = Read(p);
        ASSERT_EQ(wb->SheetCount(), 1u) << c.what;
        EXPECT_EQ(Text(*wb, wb->Sheet(0).FindCell(0, 0)), "found") << c.what;
    }
}

TEST(XlsxReader, ReadsStrictNamespacesAndBackslashNames)
{
    auto p = MinimalWorkbookParts(R"(<row r="1"><c r="A1" t="inlineStr"><is><t>strict</t></is></c></row>)");
    auto strict = [](std::string s) {
        for (auto [from, to] :
             {std::pair<std::string, std::string>{"http://schemas.openxmlformats.org/officeDocument/2006/relationships",
                                                  "http://purl.oclc.org/ooxml/officeDocument/relationships"},
              {"http://schemas.openxmlformats.org/spreadsheetml/2006/main",
               "http://purl.oclc.org/ooxml/spreadsheetml/main"}}) {
            for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
                s.replace(at, from.size(), to);
            }
        }
        return s;
    };
    std::vector<ZipEntry> entries;
    for (const auto& e : Entries(p)) {
        ZipEntry z = e;
        z.data = strict(z.data);
        // Some producers store names with backslashes; the parts are still found.
        if (z.name.rfind("xl/", 0) == 0) {
            for (char& ch : z.name) {
                if (ch == '/') {
                    ch = '\\';
                }
            }
        }
        entries.push_back(z);
    }
    auto wb = ReadXlsx(Bytes(entries));
    ASSERT_EQ(wb->SheetCount(), 1u);
    EXPECT_EQ(Text(*wb, wb->Sheet(0).FindCell(0, 0)), "strict");
}

// ---- hostile packages ----

enum class Expect { Format, Limit, Password };

struct HostileCase {
    std::string name;
    std::function<std::vector<ZipEntry>()> build;
    Expect expect;
    std::string messagePart;  // must occur in the error text
    bool failsOnLoad = false; // the listing succeeds; loading the sheet fails
};

std::vector<ZipEntry> Poke(const std::map<std::string, std::string>& parts, const std::string& part,
                           const std::function<void(ZipEntry&)>& poke)
{
    auto entries = Entries(parts);
    for (auto& e : entries) {
        if (e.name == part) {
            poke(e);
        }
    }
    return entries;
}

std::map<std::string, std::string> WithPart(std::map<std::string, std::string> parts, const std::string& name,
                                            const std::string& data)
{
    parts[name] = data;
    return parts;
}

std::string SheetXml(const std::string& inner)
{
    return R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)" + inner + "</worksheet>";
}

std::vector<HostileCase> HostileCases()
{
    const auto ok = MinimalWorkbookParts(R"(<row r="1"><c r="A1"><v>1</v></c></row>)");
    std::string bomb = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
    bomb += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">";
    for (int i = 2; i < 10; ++i) {
        bomb += "<!ENTITY lol" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) {
            bomb += "&lol" + std::to_string(i - 1) + ";";
        }
        bomb += "\">";
    }
    bomb += "]><workbook><sheets><sheet name=\"&lol9;\" r:id=\"rId1\"/></sheets></workbook>";
    std::string deep;
    for (int i = 0; i < 1000; ++i) {
        deep += "<x>";
    }
    // Letters that do not compress 1000 to 1, so that the token limit and not the ratio limit trips.
    std::string noise(2u << 20, 'a');
    uint32_t seed = 12345;
    for (char& ch : noise) {
        seed = seed * 1103515245u + 12345u;
        ch = static_cast<char>('a' + (seed >> 16) % 26);
    }
    std::string hugeTag = "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" x=\"" + noise + "\"/>";

    return {
        {"EmptyZip", [] { return std::vector<ZipEntry>{}; }, Expect::Format, "empty"},
        {"BadCrcInWorkbook", [=] { return Poke(ok, "xl/workbook.xml", [](ZipEntry& e) { e.badCrc = true; }); },
         Expect::Format, "CRC"},
        {"SizeLiesUpward", [=] { return Poke(ok, "xl/workbook.xml", [](ZipEntry& e) { e.declaredSizeDelta = 40; }); },
         Expect::Format, "xl/workbook.xml"},
        {"SizeLiesDownward",
         [=] { return Poke(ok, "xl/workbook.xml", [](ZipEntry& e) { e.declaredSizeDelta = -40; }); }, Expect::Format,
         "xl/workbook.xml"},
        {"DeclaredBombRatio",
         [=] { return Poke(ok, "xl/worksheets/sheet1.xml", [](ZipEntry& e) { e.declaredSizeDelta = 500 << 20; }); },
         Expect::Limit, "zip bomb", true},
        {"PartOverTheSizeLimit",
         [=] {
             return Poke(ok, "xl/worksheets/sheet1.xml",
                         [](ZipEntry& e) { e.declaredSizeDelta = static_cast<int64_t>(limits::kMaxPartBytes) + 1; });
         },
         Expect::Limit, "inflate to", true},
        {"TooManyEntries",
         [=] {
             auto e = Entries(ok);
             for (uint64_t i = 0; i <= limits::kMaxZipEntries; ++i) {
                 e.push_back(ZipEntry{"pad/" + std::to_string(i), ""});
             }
             return e;
         },
         Expect::Limit, "parts"},
        {"NoContentTypes",
         [=] {
             auto p = ok;
             p.erase("[Content_Types].xml");
             return Entries(p);
         },
         Expect::Format, "Content_Types"},
        {"NoOfficeDocumentRelationship", [=] { return Entries(WithPart(ok, "_rels/.rels", "<Relationships/>")); },
         Expect::Format, "officeDocument"},
        {"MissingWorkbookPart",
         [=] {
             auto p = ok;
             p.erase("xl/workbook.xml");
             return Entries(p);
         },
         Expect::Format, "missing"},
        {"SheetWithoutRelationship",
         [=] { return Entries(WithPart(ok, "xl/_rels/workbook.xml.rels", "<Relationships/>")); }, Expect::Format,
         "relationship"},
        {"MissingWorksheetPart",
         [=] {
             auto p = ok;
             p.erase("xl/worksheets/sheet1.xml");
             return Entries(p);
         },
         Expect::Format, "missing", true},
        {"WordDocument",
         [=] {
             auto p = ok;
             std::string& ct = p["[Content_Types].xml"];
             ct.replace(ct.find("spreadsheetml.sheet.main"), 24, "wordprocessingml.document.main");
             return Entries(p);
         },
         Expect::Format, "not a workbook"},
        {"EntityBomb", [=] { return Entries(WithPart(ok, "xl/workbook.xml", bomb)); }, Expect::Format, "DTD"},
        {"ExternalEntity",
         [=] {
             return Entries(WithPart(
                 ok, "xl/worksheets/sheet1.xml",
                 "<?xml version=\"1.0\"?><!DOCTYPE w [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>" +
                     SheetXml("<sheetData><row><c t=\"inlineStr\"><is><t>&x;</t></is></c></row></sheetData>")));
         },
         Expect::Format, "DTD", true},
        {"DeepNesting", [=] { return Entries(WithPart(ok, "xl/worksheets/sheet1.xml", SheetXml(deep))); },
         Expect::Format, "deeper", true},
        {"NotWellFormed",
         [=] { return Entries(WithPart(ok, "xl/worksheets/sheet1.xml", SheetXml("<sheetData><row></sheetData>"))); },
         Expect::Format, "not well formed", true},
        {"HugeColumn",
         [=] {
             return Entries(WithPart(ok, "xl/worksheets/sheet1.xml",
                                     SheetXml("<sheetData><row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row></sheetData>")));
         },
         Expect::Format, "outside the sheet's grid", true},
        {"HugeCellRow",
         [=] {
             return Entries(
                 WithPart(ok, "xl/worksheets/sheet1.xml",
                          SheetXml("<sheetData><row r=\"1\"><c r=\"A99999999999\"><v>1</v></c></row></sheetData>")));
         },
         Expect::Format, "outside the sheet's grid", true},
        {"HugeRow",
         [=] {
             return Entries(WithPart(ok, "xl/worksheets/sheet1.xml",
                                     SheetXml("<sheetData><row r=\"1048577\"><c><v>1</v></c></row></sheetData>")));
         },
         Expect::Format, "outside the sheet's grid", true},
        {"PositionalCellsPastTheGrid",
         [=] {
             std::string cells;
             for (int i = 0; i <= 16384; ++i) {
                 cells += "<c/>";
             }
             return Entries(
                 WithPart(ok, "xl/worksheets/sheet1.xml", SheetXml("<sheetData><row>" + cells + "</row></sheetData>")));
         },
         Expect::Format, "past the sheet's grid", true},
        {"GarbageReference",
         [=] {
             return Entries(WithPart(ok, "xl/worksheets/sheet1.xml",
                                     SheetXml("<sheetData><row r=\"1\"><c r=\"1A\"><v>1</v></c></row></sheetData>")));
         },
         Expect::Format, "invalid reference", true},
        {"EndlessTag", [=] { return Entries(WithPart(ok, "xl/worksheets/sheet1.xml", hugeTag)); }, Expect::Limit,
         "XML token", true},
    };
}

class XlsxHostile : public ::testing::TestWithParam<HostileCase> {};

TEST_P(XlsxHostile, FailsWithItsOwnClearErrorFast)
{
    const HostileCase& c = GetParam();
    auto bytes = Bytes(c.build());
    auto start = std::chrono::steady_clock::now();
    std::string message;
    bool thrown = false;
    try {
        auto wb = ReadXlsx(bytes);
        if (!c.failsOnLoad) {
            ADD_FAILURE() << "opening succeeded";
        }
        ASSERT_GE(wb->SheetCount(), 1u);
        wb->Sheet(0);
    } catch (const PasswordProtectedError& e) {
        thrown = true;
        message = e.what();
        EXPECT_EQ(c.expect, Expect::Password) << message;
    } catch (const FormatError& e) {
        thrown = true;
        message = e.what();
        EXPECT_EQ(c.expect, Expect::Format) << message;
        EXPECT_EQ(e.File(), "test.xlsx");
    } catch (const LimitError& e) {
        thrown = true;
        message = e.what();
        EXPECT_EQ(c.expect, Expect::Limit) << message;
    }
    EXPECT_TRUE(thrown) << "no error";
    EXPECT_NE(message.find(c.messagePart), std::string::npos) << message;
    EXPECT_NE(message.find("test.xlsx"), std::string::npos) << message;
    // A guard against work without bound, not a speed target: each case takes well under 0.2 s on
    // its own, and a machine busy with other builds must not make it fail.
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 2.0);
}

TEST(XlsxReader, BytesThatAreNoZipFailClearly)
{
    for (std::vector<uint8_t> junk : {std::vector<uint8_t>{'P', 'K', 3, 4, 'j', 'u', 'n', 'k'}, std::vector<uint8_t>{},
                                      std::vector<uint8_t>(4096, 0x41)}) {
        try {
            ReadXlsx(InputBytes::FromMemory(junk, "junk.xlsx"));
            ADD_FAILURE() << "read junk";
        } catch (const FormatError& e) {
            EXPECT_EQ(e.File(), "junk.xlsx");
            std::string m = e.what();
            EXPECT_TRUE(m.find("not a zip") != std::string::npos || m.find("empty") != std::string::npos) << m;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Packages, XlsxHostile, ::testing::ValuesIn(HostileCases()),
                         [](const ::testing::TestParamInfo<HostileCase>& param) { return param.param.name; });

// ---- pieces ----

TEST(XlsxPieces, TintFollowsHlsLuminance)
{
    struct Case {
        uint32_t rgb;
        double tint;
        uint32_t expected;
    };
    // Values as the office suite shows them in its theme colour picker.
    for (const Case& c :
         {Case{0xFF4F81BD, 0.3999755851924192, 0xFF95B3D7}, Case{0xFF4F81BD, -0.249977111117893, 0xFF366092},
          Case{0xFFFFFFFF, -0.0499893185216834, 0xFFF2F2F2}, Case{0xFF000000, 0.499984740745262, 0xFF7F7F7F},
          Case{0xFFC0504D, 0.7999816888943144, 0xFFF2DCDB}, Case{0x00123456, 0, 0x00123456}}) {
        // The office suite's own rounding is not documented; one unit a channel is allowed.
        uint32_t got = ApplyTint(c.rgb, c.tint);
        EXPECT_EQ(got >> 24, c.expected >> 24);
        for (int shift : {16, 8, 0}) {
            int a = static_cast<int>((got >> shift) & 0xFF);
            int b = static_cast<int>((c.expected >> shift) & 0xFF);
            EXPECT_LE(std::abs(a - b), 1) << std::hex << c.rgb << " " << c.tint << " gave " << got;
        }
    }
}

TEST(XlsxPieces, IsoDatesBecomeSerials)
{
    struct Case {
        const char* text;
        bool date1904;
        double serial; // < 0: not a date
    };
    for (const Case& c :
         {Case{"1900-01-01", false, 1}, Case{"1900-02-28", false, 59}, Case{"1900-03-01", false, 61},
          Case{"2021-01-01", false, 44197}, Case{"2021-01-01T06:00:00Z", false, 44197.25},
          Case{"2021-01-01 18:00", false, 44197.75}, Case{"1904-01-02", true, 1},
          Case{"2021-01-01", true, 44197 - 1462}, Case{"12:00:00", false, 0.5}, Case{"00:00:01.5", false, 1.5 / 86400},
          Case{"2021-13-01", false, -1}, Case{"yesterday", false, -1}, Case{"1800-01-01", false, -1}}) {
        auto v = IsoToSerial(c.text, c.date1904);
        if (c.serial < 0) {
            EXPECT_FALSE(v.has_value()) << c.text;
        } else {
            ASSERT_TRUE(v.has_value()) << c.text;
            EXPECT_NEAR(*v, c.serial, 1e-9) << c.text;
        }
    }
}

TEST(XlsxPieces, XstringEscapesDecode)
{
    struct Case {
        std::string in, out;
    };
    for (const Case& c : {Case{"a_x000D_b", "a\rb"}, Case{"_x005F_x000D_", "_x000D_"}, Case{"_x00e9_", "\xC3\xA9"},
                          Case{"_xD83D__xDE00_", "\xF0\x9F\x98\x80"}, Case{"_xD83D_", "\xEF\xBF\xBD"},
                          Case{"_x12_ and _xZZZZ_", "_x12_ and _xZZZZ_"}, Case{"plain", "plain"}}) {
        std::string s = c.in;
        DecodeXstring(s);
        EXPECT_EQ(s, c.out) << c.in;
    }
}

TEST(XlsxPieces, RelationshipTargetsResolve)
{
    struct Case {
        const char* source;
        const char* target;
        const char* expected;
    };
    for (const Case& c : {Case{"xl/workbook.xml", "worksheets/sheet1.xml", "xl/worksheets/sheet1.xml"},
                          Case{"xl/workbook.xml", "/xl/worksheets/sheet1.xml", "xl/worksheets/sheet1.xml"},
                          Case{"xl/worksheets/sheet1.xml", "../drawings/d.xml", "xl/drawings/d.xml"},
                          Case{"", "xl/workbook.xml", "xl/workbook.xml"}, Case{"", "./wtf/./book.xml", "wtf/book.xml"},
                          Case{"xl/workbook.xml", "..\\..\\..\\etc\\passwd", ""}}) {
        EXPECT_EQ(ResolvePartName(c.source, c.target), c.expected) << c.source << " + " << c.target;
    }
    EXPECT_EQ(RelationshipsPartName("xl/workbook.xml"), "xl/_rels/workbook.xml.rels");
    EXPECT_EQ(RelationshipsPartName(""), "_rels/.rels");
}

TEST(XlsxPieces, OverlappingMergesAreDroppedLaterFirst)
{
    auto ranges = [](std::initializer_list<const char*> names) {
        std::vector<CellRange> out;
        for (const char* n : names) {
            CellRange r;
            EXPECT_TRUE(ParseRangeName(n, r));
            out.push_back(r);
        }
        return out;
    };
    struct Case {
        std::vector<CellRange> in, out;
    };
    for (Case c : {Case{ranges({"A1:B2", "C1:D2", "A3:D3"}), ranges({"A1:B2", "C1:D2", "A3:D3"})},
                   Case{ranges({"B2:C3", "A1:B2"}), ranges({"B2:C3"})},
                   Case{ranges({"A5:A9", "A1:Z1", "A1:A5"}), ranges({"A5:A9", "A1:Z1"})},
                   Case{ranges({"C1:C10", "A5:E5", "A4:B6"}), ranges({"C1:C10", "A4:B6"})},
                   Case{ranges({"A1:B2", "A1:B2"}), ranges({"A1:B2"})}}) {
        DropOverlappingMerges(c.in);
        ASSERT_EQ(c.in.size(), c.out.size());
        for (size_t i = 0; i < c.in.size(); ++i) {
            EXPECT_EQ(c.in[i], c.out[i]) << RangeName(c.in[i]);
        }
    }
}

} // namespace
} // namespace gq::engine
