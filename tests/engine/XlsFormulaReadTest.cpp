// BIFF8 formulas read into the formula model: each token class decoded against its text, hostile
// token streams turned into cached values, shared, array and data-table formulas through the
// sheet reader, and real files (LibreOffice's and the corpus's) against what LibreOffice shows.
// SPDX-License-Identifier: Apache-2.0
#include "engine/WorkbookFile.h"
#include "engine/formula/Formula.h"
#include "engine/xls/BiffFormula.h"
#include "tests/support/BiffTestBuilder.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

namespace gq::engine {
namespace {

namespace tb = gq::test::biff;

// The workbook a decoded formula refers to: three sheets, an add-in, another workbook and names.
biff::FormulaGlobals Globals()
{
    biff::FormulaGlobals g;
    g.sheetNames = {"Data", "Other Sheet", "S3"};
    biff::SupBook self;
    self.kind = biff::SupBook::Kind::Self;
    biff::SupBook addIn;
    addIn.kind = biff::SupBook::Kind::AddIn;
    addIn.externNames = {"EDATE"};
    biff::SupBook external;
    external.kind = biff::SupBook::Kind::External;
    external.book = "1";
    external.sheets = {"Ext"};
    external.externNames = {"Rate"};
    g.supBooks = {self, addIn, external};
    // 0 Data, 1 Other Sheet, 2 Data:S3, 3 [1]Ext, 4 the add-in, 5 a deleted sheet
    g.xtis = {{0, 0, 0}, {0, 1, 1}, {0, 0, 2}, {2, 0, 0}, {1, 0xFFFE, 0xFFFE}, {0, 0xFFFF, 0xFFFF}};
    g.names = {"Rate", "_xlfn.IFERROR", "_xlfn.STDEV.S", ""};
    return g;
}

using B = std::vector<uint8_t>;

struct DecodeCase {
    const char* what;
    B rgce;
    B rgcb;
    const char* text; // nullptr: the formula cannot be kept
};

// The formulas are decoded for the cell C5 (row 4, column 2).
const std::vector<DecodeCase> kDecodeCases = {
    {"PtgInt", {0x1E, 0x03, 0x00}, {}, "3"},
    {"PtgNum", {0x1F, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, {}, "1.5"},
    {"PtgStr, compressed", {0x17, 2, 0, 'a', 'b'}, {}, "\"ab\""},
    {"PtgStr, UTF-16", {0x17, 1, 1, 0xE9, 0x00}, {}, "\"\xC3\xA9\""},
    {"PtgBool", {0x1D, 1}, {}, "TRUE"},
    {"PtgErr", {0x1C, 0x07}, {}, "#DIV/0!"},
    {"PtgRef relative", {0x44, 0, 0, 0, 0xC0}, {}, "A1"},
    {"PtgRef absolute", {0x24, 0, 0, 1, 0}, {}, "$B$1"},
    {"PtgRef row absolute", {0x24, 1, 0, 2, 0x40}, {}, "C$2"},
    {"PtgRef column absolute", {0x24, 1, 0, 2, 0x80}, {}, "$C2"},
    {"PtgRefN, one row and column back", {0x2C, 0xFF, 0xFF, 0xFF, 0xC0}, {}, "B4"},
    {"PtgRefN, absolute parts stay", {0x2C, 9, 0, 3, 0x00}, {}, "$D$10"},
    {"PtgArea", {0x25, 0, 0, 2, 0, 0, 0xC0, 1, 0xC0}, {}, "A1:B3"},
    {"PtgArea whole columns", {0x25, 0, 0, 0xFF, 0xFF, 0, 0xC0, 2, 0xC0}, {}, "A:C"},
    {"PtgArea whole rows", {0x25, 0, 0, 1, 0, 0, 0xC0, 0xFF, 0xC0}, {}, "1:2"},
    {"PtgAreaN", {0x2D, 0, 0, 1, 0, 0xFE, 0xC0, 0xFF, 0xC0}, {}, "A5:B6"},
    {"PtgRef3d", {0x3A, 1, 0, 1, 0, 1, 0xC0}, {}, "'Other Sheet'!B2"},
    {"PtgArea3d over sheets", {0x3B, 2, 0, 0, 0, 1, 0, 0, 0, 1, 0}, {}, "'Data:S3'!$A$1:$B$2"},
    {"PtgRef3d, another workbook", {0x3A, 3, 0, 0, 0, 0, 0xC0}, {}, "[1]Ext!A1"},
    {"PtgRef3d to a deleted sheet", {0x3A, 5, 0, 0, 0, 0, 0xC0}, {}, "#REF!"},
    {"PtgRefErr3d", {0x3C, 1, 0, 0, 0, 0, 0}, {}, "'Other Sheet'!#REF!"},
    {"PtgRefErr", {0x2A, 0, 0, 0, 0}, {}, "#REF!"},
    {"PtgAreaErr", {0x2B, 0, 0, 0, 0, 0, 0, 0, 0}, {}, "#REF!"},
    {"operators", {0x44, 0, 0, 0, 0xC0, 0x1E, 2, 0, 0x03, 0x15, 0x14, 0x13}, {}, "-(A1+2)%"},
    {"comparison and text", {0x1E, 1, 0, 0x1E, 2, 0, 0x0E, 0x17, 1, 0, 'x', 0x08}, {}, "1<>2&\"x\""},
    {"range, intersection, union",
     {0x44, 0, 0, 0, 0xC0, 0x44, 1, 0, 1, 0xC0, 0x11, 0x44, 0, 0, 1, 0xC0, 0x0F, 0x44, 2, 0, 2, 0xC0, 0x10, 0x15},
     {},
     "(A1:B2 B1,C3)"},
    {"PtgFunc", {0x41, 19, 0, 0x1E, 2, 0, 0x41, 27, 0}, {}, "ROUND(PI(),2)"},
    {"PtgFuncVar", {0x1E, 1, 0, 0x1E, 2, 0, 0x1E, 3, 0, 0x42, 3, 4, 0}, {}, "SUM(1,2,3)"},
    {"tAttrSum", {0x25, 0, 0, 2, 0, 0, 0xC0, 0, 0xC0, 0x19, 0x10, 0, 0}, {}, "SUM(A1:A3)"},
    {"tAttrIf, tAttrGoto, tAttrSpace and PtgMissArg",
     {0x44, 0, 0, 0,    0xC0, 0x19, 0x02, 4,    0, 0x16, 0x19, 0x08, 7, 0, 0x19,
      0x40, 0, 1, 0x1E, 1,    0,    0x19, 0x08, 3, 0,    0x42, 3,    1, 0},
     {},
     "IF(A1,,1)"},
    {"tAttrChoose with its jump table",
     {0x1E, 2,    0, 0x19, 0x04, 2, 0, 6,    0,    12, 0, 18,   0, 0x1E, 7, 0,
      0x19, 0x08, 9, 0,    0x1E, 8, 0, 0x19, 0x08, 3,  0, 0x42, 3, 100,  0},
     {},
     "CHOOSE(2,7,8)"},
    {"PtgName", {0x23, 1, 0, 0, 0}, {}, "Rate"},
    {"PtgNameX, another workbook's name", {0x39, 3, 0, 1, 0, 0, 0}, {}, "[1]!Rate"},
    {"add-in function", {0x39, 4, 0, 1, 0, 0, 0, 0x44, 0, 0, 0, 0xC0, 0x1E, 1, 0, 0x42, 3, 0xFF, 0}, {}, "EDATE(A1,1)"},
    {"Excel 2007 function loses the prefix xlsx does not write",
     {0x23, 2, 0, 0, 0, 0x44, 0, 0, 0, 0xC0, 0x17, 1, 0, 'x', 0x42, 3, 0xFF, 0},
     {},
     "IFERROR(A1,\"x\")"},
    {"newer function keeps its prefix",
     {0x23, 3, 0, 0, 0, 0x44, 0, 0, 0, 0xC0, 0x42, 2, 0xFF, 0},
     {},
     "_xlfn.STDEV.S(A1)"},
    {"PtgArray with its constant data",
     {0x40, 0, 0, 0, 0, 0, 0, 0},
     {1, 1, 0, 0x01, 0, 0, 0, 0, 0,    0,    0xF0, 0x3F, 0x02, 1, 0, 0, 'a', 0x04,
      1, 0, 0, 0,    0, 0, 0, 0, 0x10, 0x2A, 0,    0,    0,    0, 0, 0, 0},
     "{1,\"a\";TRUE,#N/A}"},
    {"PtgMemFunc around its sub-expression",
     {0x29, 11, 0, 0x44, 0, 0, 0, 0xC0, 0x44, 0, 0, 1, 0xC0, 0x11},
     {},
     "A1:B1"},
    {"PtgMemArea takes its cache from the extra data, before the array's",
     {0x26, 0, 0, 0, 0, 9, 0, 0x25, 0, 0, 0, 0, 0, 0xC0, 0, 0xC0, 0x60, 0, 0, 0, 0, 0, 0, 0, 0x03},
     {1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0, 0},
     "A1:A1+{0}"},
    // Hostile or unknown: the cell keeps its cached value.
    {"PtgNum cut short", {0x1F, 0, 0, 0}, {}, nullptr},
    {"PtgStr longer than the expression", {0x17, 200, 0, 'a'}, {}, nullptr},
    {"PtgArray without its constant data", {0x40, 0, 0, 0, 0, 0, 0, 0}, {}, nullptr},
    {"PtgArray claiming more values than its data", {0x40, 0, 0, 0, 0, 0, 0, 0}, {0xFF, 0xFF, 0xFF, 1}, nullptr},
    {"tAttrChoose with a huge jump table", {0x1E, 2, 0, 0x19, 0x04, 0xFF, 0xFF, 0, 0}, {}, nullptr},
    {"PtgName out of range", {0x23, 99, 0, 0, 0}, {}, nullptr},
    {"PtgName of a name that could not be read", {0x23, 4, 0, 0, 0}, {}, nullptr},
    {"PtgNameX through an entry out of range", {0x39, 40, 0, 1, 0, 0, 0}, {}, nullptr},
    {"PtgRef3d through a sheet out of range", {0x3A, 3, 0, 0, 0, 0, 0xC0, 0}, {}, nullptr},
    {"unknown function", {0x41, 0xFE, 0x7F}, {}, nullptr},
    {"variable function stored as fixed", {0x41, 4, 0}, {}, nullptr},
    {"macro command", {0x42, 0, 0x01, 0x80}, {}, nullptr},
    {"operator without operands", {0x03}, {}, nullptr},
    {"two operands left over", {0x1E, 1, 0, 0x1E, 2, 0}, {}, nullptr},
    {"function with more arguments than operands", {0x1E, 1, 0, 0x42, 3, 4, 0}, {}, nullptr},
    {"user-defined function without a name", {0x1E, 1, 0, 0x42, 1, 0xFF, 0}, {}, nullptr},
    {"PtgExtended", {0x18, 0x19, 0, 0, 0, 0}, {}, nullptr},
    {"PtgExp inside an expression", {0x1E, 1, 0, 0x01, 0, 0, 0, 0}, {}, nullptr},
    {"empty expression", {}, {}, nullptr},
    {"unknown token", {0xFF}, {}, nullptr},
};

TEST(XlsFormulaDecode, EachTokenClassDecodesToItsText)
{
    const biff::FormulaGlobals globals = Globals();
    formula::Formula f;
    for (const DecodeCase& c : kDecodeCases) {
        bool kept = biff::DecodeFormula(c.rgce, c.rgcb, globals, 4, 2, false, f);
        if (c.text == nullptr) {
            EXPECT_FALSE(kept) << c.what << ": " << formula::PrintFormula(f);
            continue;
        }
        ASSERT_TRUE(kept) << c.what;
        EXPECT_EQ(formula::PrintFormula(f), c.text) << c.what;
        // The text is one the xlsx parser takes back as it is, so that a formula read from either
        // format is written alike.
        formula::Formula parsed;
        ASSERT_TRUE(formula::ParseFormula(c.text, parsed)) << c.what;
        EXPECT_EQ(formula::PrintFormula(parsed), c.text) << c.what;
    }
}

// A BIFF5 workbook of three sheets whose formulas are on "Data", with its names and that sheet's
// link table: 1 a sheet of this workbook, 2 the formula's own sheet, 3 this workbook, 4 a sheet of
// another workbook, 5 the add-in functions, 6 the other workbook itself, 7 a sheet it does not have.
biff::FormulaGlobals Biff5Globals()
{
    biff::FormulaGlobals g;
    g.sheetNames = {"Data", "Other Sheet", "S3"};
    g.names = {"Rate", ""};
    g.formulaSheet = 0;
    using K = biff::Biff5Link::Kind;
    g.biff5Links = {
        {K::OwnSheet, "", "other sheet", {}}, {K::ThisSheet, "", "", {}},    {K::OwnBook, "", "", {}},
        {K::External, "1", "Ext", {}},        {K::AddIn, "", "", {"EDATE"}}, {K::External, "1", "", {"Price"}},
        {K::OwnSheet, "", "Gone", {}}};
    return g;
}

struct Biff5Case {
    const char* what;
    B rgce;
    B rgcb;
    const char* text; // nullptr: the formula cannot be kept
    bool shared = false;
};

// The head of a BIFF5 3-D reference: the token, a signed EXTERNSHEET index, eight reserved bytes,
// the first and last sheet.
B Head3d(uint8_t ptg, int16_t ixals, uint16_t first, uint16_t last)
{
    B b = {ptg, static_cast<uint8_t>(ixals), static_cast<uint8_t>(static_cast<uint16_t>(ixals) >> 8)};
    b.resize(11, 0);
    b.insert(b.end(), {static_cast<uint8_t>(first), static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(last),
                       static_cast<uint8_t>(last >> 8)});
    return b;
}

B Join(B a, const B& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// PtgName (the index, twelve reserved bytes) and PtgNameX (EXTERNSHEET index, eight reserved
// bytes, the index, twelve reserved bytes) of BIFF5.
B Name5(uint16_t index)
{
    B b = {0x23, static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8)};
    b.resize(15, 0);
    return b;
}
B NameX5(int16_t ixals, uint16_t index)
{
    B b = {0x39, static_cast<uint8_t>(ixals), static_cast<uint8_t>(static_cast<uint16_t>(ixals) >> 8)};
    b.resize(11, 0);
    b.insert(b.end(), {static_cast<uint8_t>(index), static_cast<uint8_t>(index >> 8)});
    b.resize(25, 0);
    return b;
}

TEST(XlsFormulaDecode, Biff5TokensDecodeToTheirText)
{
    // BIFF5 references: the row with the relative flags in its top bits, then a one-byte column.
    const B a1 = {0, 0xC0, 0};
    const std::vector<Biff5Case> cases = {
        {"PtgRef", {0x44, 0, 0xC0, 0}, {}, "A1"},
        {"PtgRef absolute", {0x24, 1, 0, 2}, {}, "$C$2"},
        {"PtgRefN, a row back through the 14-bit offset", {0x2C, 0xFF, 0xFF, 0xFF}, {}, "B4", true},
        {"PtgArea whole columns", {0x25, 0, 0xC0, 0xFF, 0xFF, 0, 1}, {}, "A:B"},
        {"PtgStr in the code page", {0x17, 2, 'h', 0xE9, 0x1E, 1, 0, 0x08}, {}, "\"h\xC3\xA9\"&1"},
        {"PtgArray with byte strings",
         {0x60, 0, 0, 0, 0, 0, 0, 0},
         {1, 0, 0, 0x02, 1, 'a', 0x04, 1, 0, 0, 0, 0, 0, 0, 0},
         "{\"a\",TRUE}"},
        {"PtgFuncVar", {0x44, 0, 0xC0, 0, 0x42, 1, 4, 0}, {}, "SUM(A1)"},
        {"PtgRef cut short", {0x44, 0, 0xC0}, {}, nullptr},
        // 3-D references: a negative EXTERNSHEET index names this workbook's sheets by index.
        {"PtgRef3d, a sheet of this workbook", Join(Head3d(0x3A, -1, 1, 1), {1, 0xC0, 1}), {}, "'Other Sheet'!B2"},
        {"PtgArea3d over sheets", Join(Head3d(0x3B, -2, 0, 2), {0, 0, 1, 0, 0, 1}), {}, "'Data:S3'!$A$1:$B$2"},
        {"PtgRef3d to a deleted sheet", Join(Head3d(0x3A, -3, 0xFFFF, 0xFFFF), a1), {}, "#REF!"},
        {"PtgRefErr3d", Join(Head3d(0x3C, -1, 1, 1), a1), {}, "'Other Sheet'!#REF!"},
        {"PtgAreaErr3d", Join(Head3d(0x3D, -1, 2, 2), {0, 0, 0, 0, 0, 0}), {}, "'S3'!#REF!"},
        {"PtgRef3d of a shared formula holds offsets",
         Join(Head3d(0x3A, -1, 1, 1), {1, 0xC0, 0}),
         {},
         "'Other Sheet'!C6",
         true},
        // A positive index names a sheet through the link table, in the workbook's spelling.
        {"PtgRef3d through a sheet the link table names", Join(Head3d(0x3A, 1, 0, 0), a1), {}, "'Other Sheet'!A1"},
        {"PtgRef3d through the formula's own sheet", Join(Head3d(0x3A, 2, 0, 0), a1), {}, "Data!A1"},
        {"PtgRef3d, another workbook", Join(Head3d(0x3A, 4, 0, 0), a1), {}, "[1]Ext!A1"},
        {"PtgName", Name5(1), {}, "Rate"},
        {"PtgNameX of this workbook's name", NameX5(-3, 1), {}, "Rate"},
        {"PtgNameX, another workbook's name", NameX5(6, 1), {}, "[1]!Price"},
        {"add-in function",
         Join(Join(NameX5(5, 1), {0x44, 0, 0xC0, 0, 0x1E, 1, 0}), {0x42, 3, 0xFF, 0}),
         {},
         "EDATE(A1,1)"},
        // Hostile or not understood: the cell keeps its cached value.
        {"PtgRef3d through the workbook without a sheet", Join(Head3d(0x3A, 3, 0, 0), a1), {}, nullptr},
        {"PtgRef3d through a sheet the workbook does not have", Join(Head3d(0x3A, 7, 0, 0), a1), {}, nullptr},
        {"PtgRef3d through another workbook without a sheet", Join(Head3d(0x3A, 6, 0, 0), a1), {}, nullptr},
        {"PtgRef3d past the link table", Join(Head3d(0x3A, 40, 0, 0), a1), {}, nullptr},
        {"PtgRef3d through index 0", Join(Head3d(0x3A, 0, 0, 0), a1), {}, nullptr},
        {"PtgRef3d to a sheet out of range", Join(Head3d(0x3A, -1, 7, 7), a1), {}, nullptr},
        {"PtgArea3d with its sheets backwards", Join(Head3d(0x3B, -1, 2, 1), {0, 0, 0, 0, 0, 0}), {}, nullptr},
        {"PtgArea3d cut short", Join(Head3d(0x3B, -1, 1, 1), {0, 0, 0, 0, 0}), {}, nullptr},
        {"PtgName out of range", Name5(99), {}, nullptr},
        {"PtgName of a name that could not be read", Name5(2), {}, nullptr},
        {"PtgName cut short", {0x23, 1, 0, 0, 0}, {}, nullptr},
        {"PtgNameX through a link without names", NameX5(3, 1), {}, nullptr},
        {"PtgNameX past the link's names", NameX5(5, 2), {}, nullptr},
        {"PtgNameX cut short", {0x39, 5, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0}, {}, nullptr},
    };
    const biff::FormulaGlobals globals = Biff5Globals();
    CodePageDecoder codePage;
    codePage.SetCodePage(1252);
    formula::Formula f;
    for (const Biff5Case& c : cases) {
        bool kept = biff::DecodeBiff5Formula(c.rgce, c.rgcb, globals, 4, 2, c.shared, codePage, f);
        if (c.text == nullptr) {
            EXPECT_FALSE(kept) << c.what << ": " << formula::PrintFormula(f);
            continue;
        }
        ASSERT_TRUE(kept) << c.what;
        EXPECT_EQ(formula::PrintFormula(f), c.text) << c.what;
    }
}

// BIFF2-4 expressions are BIFF5's with smaller fields: widened, they decode as BIFF5's; tokens
// whose older layout differs otherwise are refused, and the cell keeps its value.
TEST(XlsFormulaDecode, OlderExpressionsAreWidenedToBiff5s)
{
    struct OldCase {
        int biff;
        B rgce;
        const char* text; // nullptr: refused
    };
    const std::vector<OldCase> cases = {
        // A1+B$2*2: PtgRef, PtgRef, PtgInt, PtgMul, PtgAdd, alike in every version.
        {2, {0x44, 0, 0xC0, 0, 0x44, 1, 0x40, 1, 0x1E, 2, 0, 0x05, 0x03}, "A1+B$2*2"},
        // SUM(A1:A3) with PtgFuncVar: a one-byte function index in BIFF2-3, two in BIFF4.
        {3, {0x25, 0, 0xC0, 2, 0xC0, 0, 0, 0x42, 1, 4}, "SUM(A1:A3)"},
        {4, {0x25, 0, 0xC0, 2, 0xC0, 0, 0, 0x42, 1, 4, 0}, "SUM(A1:A3)"},
        // ABS("x") with PtgStr and PtgFunc; tAttrSum in BIFF2 (one data byte) and BIFF3 (two).
        {2, {0x17, 1, 'x', 0x41, 24}, "ABS(\"x\")"},
        {2, {0x25, 0, 0xC0, 2, 0xC0, 0, 0, 0x19, 0x10, 0}, "SUM(A1:A3)"},
        {3, {0x25, 0, 0xC0, 2, 0xC0, 0, 0, 0x19, 0x10, 0, 0}, "SUM(A1:A3)"},
        {4, {0x1F, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F}, "1.5"},
        // Refused: PtgName, tAttrChoose, an array, an expression cut short, an unknown token.
        {3, {0x23, 1, 0, 0, 0, 0, 0, 0, 0}, nullptr},
        {3, {0x1E, 1, 0, 0x19, 0x04, 1, 0, 2, 0, 4, 0}, nullptr},
        {4, {0x60, 0, 0, 0, 0, 0, 0, 0}, nullptr},
        {2, {0x44, 0, 0xC0}, nullptr},
        {2, {0x01, 0, 0, 0}, nullptr},
    };
    const biff::FormulaGlobals globals;
    CodePageDecoder codePage;
    codePage.SetCodePage(1252);
    std::vector<uint8_t> widened;
    formula::Formula f;
    for (const OldCase& c : cases) {
        const bool kept = biff::WidenOldExpression(c.rgce, c.biff, widened) &&
                          biff::DecodeBiff5Formula(widened, {}, globals, 4, 2, false, codePage, f);
        if (c.text == nullptr) {
            EXPECT_FALSE(kept) << formula::PrintFormula(f);
            continue;
        }
        ASSERT_TRUE(kept) << c.text;
        EXPECT_EQ(formula::PrintFormula(f), c.text);
    }
}

TEST(XlsFormulaDecode, Biff5LinksReadTheirEncodedNames)
{
    struct LinkCase {
        const char* what;
        B body;
        biff::Biff5Link::Kind kind;
        const char* book;
        const char* sheet;
    };
    using K = biff::Biff5Link::Kind;
    // One sheet's link table in order: the other workbooks are numbered as they first come.
    const std::vector<LinkCase> cases = {
        {"a sheet of this workbook, counted without its marker",
         {5, 0x03, 'P', 'i', 'p', 'a', 'd'},
         K::OwnSheet,
         "",
         "Pipad"},
        {"this workbook", {1, 0x04}, K::OwnBook, "", ""},
        {"the formula's own sheet", {1, 0x02}, K::ThisSheet, "", ""},
        {"another workbook's sheet", Join({13, 0x01}, B{'[', 'e', '.', 'x', 'l', 's', ']', 'S', 'h', 'e', 'e', 't'}),
         K::External, "1", "Sheet"},
        {"a second workbook, in a folder", Join({10, 0x01, 0x03}, B{'[', 'f', '.', 'x', 'l', 's', ']', 'A'}),
         K::External, "2", "A"},
        {"the first workbook itself, for its names", Join({8, 0x01}, B{'[', 'e', '.', 'x', 'l', 's', ']'}), K::External,
         "1", ""},
        {"the add-in functions", {1, ':'}, K::AddIn, "", ""},
        {"a DDE link", Join({9}, B{'e', 'x', 'c', 'e', 'l', 0x03, 't', 'o', 'p'}), K::Other, "", ""},
        {"a record too short to say", {0}, K::Other, "", ""},
    };
    CodePageDecoder codePage;
    codePage.SetCodePage(1252);
    std::vector<std::string> books;
    for (const LinkCase& c : cases) {
        biff::Biff5Link link;
        biff::ReadBiff5Link(c.body, codePage, books, link);
        EXPECT_EQ(link.kind, c.kind) << c.what;
        EXPECT_EQ(link.book, c.book) << c.what;
        EXPECT_EQ(link.sheet, c.sheet) << c.what;
    }
}

TEST(XlsFormulaDecode, SharedFormReferencesInThreeDTokensFollowTheCell)
{
    const biff::FormulaGlobals globals = Globals();
    formula::Formula f;
    // A PtgRef3d of a shared formula holds offsets: one row down, same column, from C5.
    const B rgce = {0x3A, 1, 0, 1, 0, 0, 0xC0};
    ASSERT_TRUE(biff::DecodeFormula(rgce, {}, globals, 4, 2, true, f));
    EXPECT_EQ(formula::PrintFormula(f), "'Other Sheet'!C6");
    ASSERT_TRUE(biff::DecodeFormula(rgce, {}, globals, 4, 2, false, f));
    EXPECT_EQ(formula::PrintFormula(f), "'Other Sheet'!A2");
}

// ---- Through the sheet reader -------------------------------------------------------------------

// A FORMULA record ([MS-XLS] 2.4.127) with a numeric cached value, or a special one when `special`
// is given (0 text, 1 boolean, 2 error, 3 empty text) with `byte` as its value.
std::vector<uint8_t> FormulaRecord(uint16_t row, uint16_t col, double value, const B& rgce, const B& rgcb = {},
                                   int special = -1, uint8_t byte = 0)
{
    tb::Bytes b;
    b.U16(row).U16(col).U16(0);
    if (special < 0) {
        b.F64(value);
    } else {
        b.U8(static_cast<uint32_t>(special)).U8(0).U8(byte).U8(0).U8(0).U8(0).U16(0xFFFF);
    }
    b.U16(0).U32(0).U16(static_cast<uint32_t>(rgce.size())).Raw(rgce).Raw(rgcb);
    return tb::Record(0x0006, b);
}

// SHRFMLA or ARRAY over rows [r1, r2] and columns [c1, c2].
std::vector<uint8_t> RangeFormula(bool shared, uint16_t r1, uint16_t r2, uint8_t c1, uint8_t c2, const B& rgce)
{
    tb::Bytes b;
    b.U16(r1).U16(r2).U8(c1).U8(c2);
    if (shared) {
        b.U8(0).U8(1);
    } else {
        b.U16(0).U32(0);
    }
    b.U16(static_cast<uint32_t>(rgce.size())).Raw(rgce);
    return tb::Record(shared ? 0x04BC : 0x0221, b);
}

B Exp(uint16_t row, uint16_t col, uint8_t ptg = 0x01)
{
    return {ptg, static_cast<uint8_t>(row), static_cast<uint8_t>(row >> 8), static_cast<uint8_t>(col),
            static_cast<uint8_t>(col >> 8)};
}

void Add(std::vector<uint8_t>& into, const std::vector<uint8_t>& rec)
{
    into.insert(into.end(), rec.begin(), rec.end());
}

std::string FormulaAt(const Worksheet& sheet, uint32_t row, uint32_t col)
{
    const Cell* cell = sheet.FindCell(row, col);
    if (cell == nullptr) {
        return "(none)";
    }
    formula::Formula f;
    return formula::CellFormula(sheet, row, *cell, f, formula::kXlsGrid) ? "=" + formula::PrintFormula(f) : "";
}

TEST(XlsFormulaSheet, SharedArrayTableAndUnknownFormulas)
{
    tb::WorkbookStream wb;
    // SUPBOOK of this workbook with EXTERNSHEET entry 0 for the second sheet, and a NAME.
    Add(wb.afterSheets, tb::Record(0x01AE, tb::Bytes().U16(2).U16(0x0401)));
    Add(wb.afterSheets, tb::Record(0x0017, tb::Bytes().U16(1).U16(0).U16(1).U16(1)));
    Add(wb.afterSheets,
        tb::Record(0x0018, tb::Bytes().U16(0).U8(0).U8(4).U16(0).U16(0).U16(0).U32(0).U8(0).Ascii("Rate")));
    tb::Sheet s;
    s.name = "First";
    // A1 = 1+2; A2 a text result in its STRING record; A3 a 3-D reference and a name.
    Add(s.records, FormulaRecord(0, 0, 3, {0x1E, 1, 0, 0x1E, 2, 0, 0x03}));
    Add(s.records, FormulaRecord(1, 0, 0, {0x17, 1, 0, 'x'}, {}, 0));
    Add(s.records, tb::Record(0x0207, tb::Bytes().XLString("x")));
    Add(s.records, FormulaRecord(2, 0, 0, {0x3A, 0, 0, 0, 0, 0, 0xC0, 0x23, 1, 0, 0, 0, 0x05}));
    // B1:B3 share B1's formula =A1*2 (a PtgRefN one column left). B3 comes before the SHRFMLA,
    // in a row order Excel never writes, and still finds it.
    Add(s.records, FormulaRecord(2, 1, 2, Exp(0, 1)));
    Add(s.records, FormulaRecord(0, 1, 6, Exp(0, 1)));
    Add(s.records, RangeFormula(true, 0, 2, 1, 1, {0x2C, 0, 0, 0xFF, 0xC0, 0x1E, 2, 0, 0x05}));
    Add(s.records, FormulaRecord(1, 1, 2, Exp(0, 1)));
    // C1:C2 an array formula =A1:A2*2; D1 a data table's cell; E1 a token not understood; F1 a
    // PtgExp to a formula that is not there.
    Add(s.records, FormulaRecord(0, 2, 6, Exp(0, 2)));
    Add(s.records, RangeFormula(false, 0, 1, 2, 2, {0x65, 0, 0, 1, 0, 0, 0xC0, 0, 0xC0, 0x1E, 2, 0, 0x05}));
    Add(s.records, FormulaRecord(1, 2, 4, Exp(0, 2)));
    Add(s.records, FormulaRecord(0, 3, 7, Exp(0, 3, 0x02)));
    Add(s.records, FormulaRecord(0, 4, 9, {0x18, 0}));
    Add(s.records, FormulaRecord(0, 5, 1, Exp(40, 40), {}, 1, 1));
    // G1:G3 each hold their own =A1+1, =A2+1, =A3+1: one formula moved along, stored once.
    for (uint8_t r = 0; r < 3; ++r) {
        Add(s.records, FormulaRecord(r, 6, r + 2, {0x24, r, 0, 0, 0xC0, 0x1E, 1, 0, 0x03}));
    }
    wb.sheets.push_back(s);
    wb.sheets.push_back(tb::Sheet{"Other Sheet", 0, 0, 0x0010, {}});

    auto book = OpenWorkbookBytes(InputBytes::FromMemory(tb::XlsFile(wb).bytes, "formulas.xls"));
    const Worksheet& sheet = book->Sheet(0);
    EXPECT_EQ(FormulaAt(sheet, 0, 0), "=1+2");
    EXPECT_EQ(FormulaAt(sheet, 1, 0), "=\"x\"");
    EXPECT_EQ(book->Strings().At(sheet.FindCell(1, 0)->text), "x");
    EXPECT_EQ(FormulaAt(sheet, 2, 0), "='Other Sheet'!A1*Rate");
    EXPECT_EQ(FormulaAt(sheet, 0, 1), "=A1*2");
    EXPECT_EQ(FormulaAt(sheet, 1, 1), "=A2*2");
    EXPECT_EQ(FormulaAt(sheet, 2, 1), "=A3*2");
    EXPECT_EQ(FormulaAt(sheet, 0, 2), "=A1:A2*2");
    ASSERT_NE(sheet.FindCell(0, 2), nullptr);
    const FormulaEntry& array = sheet.formulas[sheet.FindCell(0, 2)->formulaIndex];
    EXPECT_EQ(array.arrayRows, 2U);
    EXPECT_EQ(array.arrayCols, 1U);
    EXPECT_EQ(FormulaAt(sheet, 1, 2), "") << "the array's other cells hold its results";
    EXPECT_EQ(FormulaAt(sheet, 0, 3), "") << "a data table keeps its values";
    EXPECT_EQ(sheet.FindCell(0, 3)->number, 7);
    EXPECT_EQ(FormulaAt(sheet, 0, 4), "");
    EXPECT_EQ(sheet.FindCell(0, 4)->number, 9);
    EXPECT_EQ(FormulaAt(sheet, 0, 5), "");
    EXPECT_TRUE(sheet.FindCell(0, 5)->boolean);
    for (uint32_t r = 0; r < 3; ++r) {
        EXPECT_EQ(FormulaAt(sheet, r, 6), "=A" + std::to_string(r + 1) + "+1");
        EXPECT_EQ(sheet.FindCell(r, 6)->formulaIndex, sheet.FindCell(0, 6)->formulaIndex);
    }
}

// ---- Real files against LibreOffice -------------------------------------------------------------

// LibreOffice with a profile of its own in `dir`, so that tests and developers running it at the
// same time do not meet in one profile.
std::string Soffice(const test::TempDir& dir)
{
    return "soffice -env:UserInstallation=file://" + dir.Path().string() + "/profile --headless --norestore";
}

bool HaveLibreOffice()
{
    std::string out;
    return test::HavePython("openpyxl") && test::RunCommand("command -v soffice", out) == 0;
}

// Compares the formulas we read from `xls` with what openpyxl reads from LibreOffice's xlsx of the
// same file. Gives how many formulas matched; every formula we keep must match, and every formula
// LibreOffice shows must be one we keep unless `allowedMissing` of them are values to us.
size_t CompareWithLibreOffice(const std::string& xls, test::TempDir& dir, size_t allowedMissing)
{
    std::string out;
    if (test::RunCommand("cd " + test::ShellQuote(dir.Path().string()) + " && " + Soffice(dir) +
                             " --convert-to xlsx --outdir lo " + test::ShellQuote(xls),
                         out) != 0) {
        ADD_FAILURE() << out;
        return 0;
    }
    const std::string converted =
        (dir.Path() / "lo" / std::filesystem::path(xls).filename().replace_extension(".xlsx")).string();
    EXPECT_EQ(test::RunPython(R"(
import sys, openpyxl
wb = openpyxl.load_workbook(sys.argv[1])
for ws in wb.worksheets:
    for row in ws.iter_rows():
        for c in row:
            if isinstance(c.value, str) and c.value.startswith("=") and len(c.value) > 1:
                print(ws.title + "\t" + c.coordinate + "\t" + c.value.replace("\n", " "))
)",
                              {converted}, out),
              0)
        << out;
    std::map<std::string, std::string> theirs;
    std::istringstream lines(out);
    std::string sheetName;
    std::string cell;
    std::string text;
    while (std::getline(lines, sheetName, '\t') && std::getline(lines, cell, '\t') && std::getline(lines, text)) {
        theirs[sheetName + "!" + cell] = text;
    }
    auto book = OpenWorkbookFile(xls);
    size_t matched = 0;
    size_t missing = 0;
    std::map<std::string, std::string> ours;
    for (size_t i = 0; i < book->SheetCount(); ++i) {
        const Worksheet& sheet = book->Sheet(i);
        for (const Row& row : sheet.rows) {
            for (const Cell& c : row.cells) {
                formula::Formula f;
                if (formula::CellFormula(sheet, row.index, c, f, formula::kXlsGrid)) {
                    ours[book->SheetName(i) + "!" + CellName(row.index, c.col)] = "=" + formula::PrintFormula(f);
                }
            }
        }
    }
    for (const auto& [where, theirText] : theirs) {
        auto it = ours.find(where);
        if (it == ours.end()) {
            ++missing;
            continue;
        }
        EXPECT_EQ(test::ComparableFormulaText(it->second), test::ComparableFormulaText(theirText))
            << xls << " " << where;
        matched += test::ComparableFormulaText(it->second) == test::ComparableFormulaText(theirText) ? 1 : 0;
    }
    EXPECT_LE(missing, allowedMissing) << xls;
    return matched;
}

TEST(XlsFormulaLibreOffice, FormulasOfEveryKindMatchWhatLibreOfficeShows)
{
    if (!HaveLibreOffice()) {
        GTEST_SKIP() << "openpyxl or LibreOffice is not available";
    }
    test::TempDir dir;
    const std::string xlsx = dir.File("kinds.xlsx");
    std::string out;
    ASSERT_EQ(test::RunPython(R"py(
import sys, openpyxl
from openpyxl.workbook.defined_name import DefinedName
wb = openpyxl.Workbook()
ws = wb.active
ws.title = "Data"
wb.create_sheet("Other Sheet")["A1"] = 5
wb.create_sheet("S3")["A1"] = 1
for i in range(1, 11):
    ws.cell(i, 1, i)
    ws.cell(i, 2, i * 2)
forms = ["=A1+B1", "=SUM(A1:A10)", "=SUM(A:A)", "=$A$1*B$2-$C3", '=IF(A1>5,"big","small")',
         "='Other Sheet'!A1+1", "=SUM(Data:S3!A1)", "=-A1%", '=A1^2&"x"', "=ROUND(PI(),2)", "=TRUE", "=#N/A",
         '=IFERROR(1/0,"err")', "=CHOOSE(2,A1,A2,A3)", "=SUM({1,2;3,4})", "=VLOOKUP(3,A1:B10,2,FALSE)",
         '=COUNTIF(A1:A10,">3")', "=(A1+A2)*A3", "=MAX(A1:A10 A5:B5)", "=SUM((A1:A2,B1:B2))",
         '=LEN("h\u00e9llo")', "=1.5E+300", '=SUMIFS(A1:A10,B1:B10,">4")', "=Rate*2", "=A1<>B1", '=""',
         "=ISBLANK(Z99)"]
for i, f in enumerate(forms, 1):
    ws.cell(i, 4, f)
for i in range(1, 11):
    ws.cell(i, 5, "=A%d*2+$B$1" % i)
ws["F1"] = "=A1:A3*2"
ws.formula_attributes["F1"] = {"t": "array", "ref": "F1:F3"}
wb.defined_names.append(DefinedName("Rate", attr_text="Data!$A$2"))
wb.save(sys.argv[1])
)py",
                              {xlsx}, out),
              0)
        << out;
    ASSERT_EQ(test::RunCommand("cd " + test::ShellQuote(dir.Path().string()) + " && " + Soffice(dir) +
                                   " --convert-to xls kinds.xlsx",
                               out),
              0)
        << out;
    EXPECT_EQ(CompareWithLibreOffice(dir.File("kinds.xls"), dir, 0), 38U);
}

// NAME of BIFF5: options, key, the name's length, the formula's length, sheet fields and the four
// menu and help text lengths, then the name in the code page and its formula.
std::vector<uint8_t> Biff5NameRecord(const std::string& name, const B& rgce)
{
    tb::Bytes b;
    b.U16(0).U8(0).U8(static_cast<uint32_t>(name.size())).U16(static_cast<uint32_t>(rgce.size())).U16(0).U16(0).U32(0);
    return tb::Record(0x0018, b.Ascii(name).Raw(rgce));
}

// EXTERNSHEET of BIFF5 for a sheet of this workbook: the name's length, 0x03, the name, as Excel
// writes it.
std::vector<uint8_t> OwnSheetLink(const std::string& sheet)
{
    return tb::Record(0x0017, tb::Bytes().U8(static_cast<uint32_t>(sheet.size())).U8(0x03).Ascii(sheet));
}

TEST(XlsFormulaLibreOffice, Biff5ThreeDReferencesAndNamesMatchWhatLibreOfficeShows)
{
    // The corpus's Excel 95 workbooks hold names but no 3-D reference in a cell: a workbook laid out
    // as Excel 95 writes one, whose globals hold the names and each sheet its own link table.
    tb::WorkbookStream wb;
    wb.biff5 = true;
    Add(wb.globals, tb::Record(0x0016, tb::Bytes().U16(1)));
    Add(wb.globals, OwnSheetLink("Data"));
    Add(wb.globals, Biff5NameRecord("Rate", Join(Head3d(0x3A, -1, 0, 0), {1, 0, 0})));
    tb::Sheet data;
    data.name = "Data";
    Add(data.records, tb::Record(0x0016, tb::Bytes().U16(3)));
    Add(data.records, OwnSheetLink("Other Sheet"));
    Add(data.records, OwnSheetLink("Data"));
    Add(data.records, tb::Record(0x0017, tb::Bytes().U8(1).U8(0x04)));
    Add(data.records, tb::Record(0x0203, tb::Bytes().U16(0).U16(0).U16(0).F64(1)));
    Add(data.records, tb::Record(0x0203, tb::Bytes().U16(1).U16(0).U16(0).F64(2)));
    const B sum = {0x42, 1, 4, 0};
    const std::vector<std::pair<B, const char*>> formulas = {
        {Join(Head3d(0x5A, -1, 1, 1), {1, 0xC0, 1, 0x1E, 1, 0, 0x03}), "='Other Sheet'!B2+1"},
        {Join(Join(Head3d(0x3B, -2, 0, 2), {0, 0xC0, 1, 0xC0, 0, 0}), sum), "=SUM('Data:S3'!A1:A2)"},
        {Join(Name5(1), {0x1E, 2, 0, 0x05}), "=Rate*2"},
        {Join(Head3d(0x3A, -1, 2, 2), {0, 0, 0}), "='S3'!$A$1"},
        {Join(Join(Head3d(0x3B, -1, 1, 1), {0, 0xC0, 1, 0xC0, 0, 1}), sum), "=SUM('Other Sheet'!A1:B2)"},
        {Join(NameX5(-3, 1), {0x1E, 1, 0, 0x03}), "=Rate+1"},
        {Join(Head3d(0x3A, -2, 0, 0), {1, 0xC0, 0}), "=Data!A2"},
    };
    for (size_t i = 0; i < formulas.size(); ++i) {
        Add(data.records, FormulaRecord(static_cast<uint16_t>(i), 3, 0, formulas[i].first));
    }
    tb::Sheet other{"Other Sheet", 0, 0, 0x0010, {}};
    Add(other.records, tb::Record(0x0203, tb::Bytes().U16(0).U16(0).U16(0).F64(5)));
    Add(other.records, tb::Record(0x0203, tb::Bytes().U16(1).U16(1).U16(0).F64(7)));
    tb::Sheet s3{"S3", 0, 0, 0x0010, {}};
    Add(s3.records, tb::Record(0x0203, tb::Bytes().U16(0).U16(0).U16(0).F64(1)));
    wb.sheets = {data, other, s3};
    test::TempDir dir;
    const std::string xls = dir.File("excel95.xls");
    test::SaveBytes(tb::XlsFile(wb).bytes, xls);

    auto book = OpenWorkbookFile(xls);
    for (size_t i = 0; i < formulas.size(); ++i) {
        EXPECT_EQ(FormulaAt(book->Sheet(0), static_cast<uint32_t>(i), 3), formulas[i].second);
    }
    if (!HaveLibreOffice()) {
        GTEST_SKIP() << "openpyxl or LibreOffice is not available";
    }
    EXPECT_EQ(CompareWithLibreOffice(xls, dir, 0), formulas.size());
}

TEST(XlsFormulaLibreOffice, CorpusFormulasMatchWhatLibreOfficeShows)
{
    const std::filesystem::path corpus = test::CorpusDir();
    if (corpus.empty()) {
        GTEST_SKIP() << "the corpus folder is not there";
    }
    if (!HaveLibreOffice()) {
        GTEST_SKIP() << "openpyxl or LibreOffice is not available";
    }
    // Files with formulas of many kinds; how many formulas LibreOffice shows that stay values to us
    // (macro functions; and LibreOffice writes constant error and boolean cells as =NA() and
    // =TRUE(), which are no formulas in the .xls).
    const std::vector<std::pair<std::string, size_t>> files = {
        {"edr__Test_OpenOffice.xls", 0},
        {"poi__12843-1.xls", 0},
        {"poi__34775.xls", 0},
        {"poi__57925.xls", 0},
        {"poi__shared_formulas.xls", 0},
        {"sheetjs__ErrorTypes.xls", 5},
        {"sheetjs__number_format.xls", 0},
        {"xlrd__formula_test_sjmachin.xls", 0},
        {"xlrd__namesdemo.xls", 1},
        {"sheetjs__wps_fn.xls", 3},
        // BIFF5, the encrypted workbook's 94 formulas with their names among them.
        {"sheetjs__1904_1904.biff5.xls", 0},
        {"poi__testEXCEL_5.xls", 0},
        {"sheetjs__sheet_visibility5.xls", 0},
        {"poi__60284.xls", 0}};
    size_t matched = 0;
    test::TempDir dir; // one LibreOffice profile for every file
    for (const auto& [name, allowedMissing] : files) {
        const std::filesystem::path path = corpus / "files" / name;
        if (!std::filesystem::exists(path)) {
            continue;
        }
        matched += CompareWithLibreOffice(path.string(), dir, allowedMissing);
    }
    EXPECT_GT(matched, 1500U);
}

} // namespace
} // namespace gq::engine
