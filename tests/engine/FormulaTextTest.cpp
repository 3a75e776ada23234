// The xlsx formula text: parsing into tokens, printing back, precedence, quoting, the odd corners,
// text kept unparsed, and reference moves at the edges of both grids.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/Formula.h"

#include <gtest/gtest.h>

namespace gq::engine::formula {
namespace {

// The token kinds in evaluation order, one letter each, to check the shape the parser gives.
std::string Shape(const Formula& f)
{
    std::string s;
    for (const Token& t : f.tokens) {
        switch (t.kind) {
        case TokenKind::Number:
            s += 'n';
            break;
        case TokenKind::String:
            s += 's';
            break;
        case TokenKind::Boolean:
            s += 'b';
            break;
        case TokenKind::Error:
            s += 'e';
            break;
        case TokenKind::Missing:
            s += '_';
            break;
        case TokenKind::Ref:
            s += 'r';
            break;
        case TokenKind::Area:
            s += 'a';
            break;
        case TokenKind::RefError:
            s += 'x';
            break;
        case TokenKind::Name:
            s += 'N';
            break;
        case TokenKind::Table:
            s += 'T';
            break;
        case TokenKind::Array:
            s += '{';
            break;
        case TokenKind::Function:
            s += 'F' + std::to_string(t.count);
            break;
        case TokenKind::Unary:
            s += t.op == Op::Minus ? '~' : 'p';
            break;
        case TokenKind::Percent:
            s += '%';
            break;
        case TokenKind::Paren:
            s += '(';
            break;
        case TokenKind::Binary: {
            const char* ops = "?+-*/^&=#<l>g: ,";
            s += ops[static_cast<int>(t.op)];
            break;
        }
        }
        s += ' ';
    }
    if (!s.empty()) {
        s.pop_back();
    }
    return s;
}

struct GrammarCase {
    const char* text;
    const char* shape;   // evaluation order
    const char* printed; // nullptr: the text itself
};

TEST(FormulaText, ParsesAndPrintsEveryGrammarItem)
{
    const std::vector<GrammarCase> cases = {
        // Constants.
        {"1", "n", nullptr},
        {"1.5E+20", "n", "1.5e+20"},
        {"100000", "n", nullptr}, // not 1e+05, the shortest text
        {"0.0001", "n", nullptr},
        {"1E-5", "n", "1e-05"},
        {"123456789012345", "n", nullptr},
        {"1E+15", "n", "1e+15"},
        {".5", "n", "0.5"},
        {"\"a \"\"quoted\"\" text\"", "s", nullptr},
        {"TRUE", "b", nullptr},
        {"false", "b", "FALSE"},
        {"#DIV/0!", "e", nullptr},
        {"#n/a", "e", "#N/A"},
        {"#GETTING_DATA", "e", nullptr},
        {"{1,2;3,4}", "{", nullptr},
        {"{\"a\",TRUE,#N/A,-1.5}", "{", nullptr},
        // References.
        {"A1", "r", nullptr},
        {"$A$1", "r", nullptr},
        {"A$1:$B2", "a", nullptr},
        {"A:A", "a", nullptr},
        {"$A:C", "a", nullptr},
        {"1:1", "a", nullptr},
        {"$3:$5", "a", nullptr},
        {"XFD1048576", "r", nullptr},
        {"Sheet1!A1", "r", nullptr},
        {"'My Sheet'!A1:B2", "a", nullptr},
        {"'it''s'!A1", "r", nullptr},
        {"Sheet1:Sheet3!A1", "r", nullptr},
        {"'Jan 1:Mar 3'!B2", "r", nullptr},
        {"SUM(Data:'it''s'!A1)", "r F1", "SUM('Data:it''s'!A1)"},
        {"[1]Sheet1!A1", "r", nullptr},
        {"'[1]My Sheet'!$A$1", "r", nullptr},
        {"[1]!Rate", "N", nullptr},
        {"Sheet1!#REF!", "x", nullptr},
        {"#REF!", "e", nullptr},
        {"Rate", "N", nullptr},
        {"Sheet1!Rate", "N", nullptr},
        {"R1C1", "N", nullptr},
        {"XFE1", "N", nullptr},
        {"A1B", "N", nullptr},
        {"Table1[Amount]", "T", nullptr},
        {"Table1[[#This Row],[Amount]]", "T", nullptr},
        {"[@Amount]*2", "T n *", nullptr},
        {"Table1[]", "T", nullptr},
        // Functions: built-in, future, nested, empty arguments; a name that looks like a cell.
        {"SUM(A1:A3)", "a F1", nullptr},
        {"NOW()", "F0", nullptr},
        {"LOG10(100)", "n F1", nullptr},
        {"IF(A1,,1)", "r _ n F3", nullptr},
        {"IF(A1,)", "r _ F2", nullptr},
        {"_xlfn.STDEV.S(A1:A9)", "a F1", nullptr},
        {"_xlfn.XLOOKUP(A1,B:B,C:C)", "r a a F3", nullptr},
        {"TRUE()", "F0", nullptr},
        // Operators and precedence.
        {"1+2*3", "n n n * +", nullptr},
        {"(1+2)*3", "n n + ( n *", nullptr},
        {"-2^2", "n ~ n ^", nullptr},
        {"2^3^2", "n n ^ n ^", nullptr},
        {"-A1%", "r % ~", nullptr},
        {"--A1", "r ~ ~", nullptr},
        {"1-+2", "n n p -", nullptr},
        {"\"a\"&1+2", "s n n + &", nullptr},
        {"A1<>B1", "r r #", nullptr},
        {"A1<=1=TRUE", "r n l b =", nullptr},
        {"A1>=1", "r n g", nullptr},
        {"SUM(A1:B2 B1:C3)", "a a   F1", nullptr},
        {"SUM((A1,B1),C1)", "r r , ( r F2", nullptr},
        {"A1:INDEX(B:B,2)", "r a n F2 :", nullptr},
        {"Sheet1!A1:Sheet1!B2", "r r :", nullptr},
        {"T1:Data!A1", "r r :", nullptr},
        {"Jan:Mar!A1:B2", "a", "'Jan:Mar'!A1:B2"},
        {"OFFSET(A1,1,1):C3", "r n n F3 r :", nullptr},
        // Spacing is not kept, except as the intersection operator.
        {" SUM( A1 , B1 ) + 1 ", "r r F2 n +", "SUM(A1,B1)+1"},
        {"A1 +\n B1", "r r +", "A1+B1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Formula f;
        ASSERT_TRUE(ParseFormula(c.text, f)) << "kept unparsed";
        EXPECT_EQ(Shape(f), c.shape);
        std::string printed = PrintFormula(f);
        EXPECT_EQ(printed, c.printed != nullptr ? c.printed : c.text);
        // Printing is stable: what was printed parses to the same thing.
        Formula again;
        ASSERT_TRUE(ParseFormula(printed, again));
        EXPECT_EQ(PrintFormula(again), printed);
    }
}

TEST(FormulaText, ReferenceFieldsAreDecoded)
{
    Formula f;
    ASSERT_TRUE(ParseFormula("'[2]It''s'!$B3:C$10", f));
    ASSERT_EQ(f.tokens.size(), 1u);
    const Token& t = f.tokens[0];
    EXPECT_EQ(t.area, (CellRange{2, 1, 9, 2}));
    EXPECT_EQ(t.flags, kFirstColAbs | kLastRowAbs);
    ASSERT_LT(t.prefix, f.prefixes.size());
    EXPECT_EQ(f.prefixes[t.prefix].book, "2");
    EXPECT_EQ(f.prefixes[t.prefix].firstSheet, "It's");
    ASSERT_TRUE(ParseFormula("Jan:Mar!A1", f));
    EXPECT_EQ(f.prefixes[f.tokens[0].prefix].lastSheet, "Mar");
}

TEST(FormulaText, TextItCannotParseIsKeptAsItIs)
{
    std::string deep(limits::kMaxFormulaDepth + 1, '(');
    deep += "1";
    deep += std::string(limits::kMaxFormulaDepth + 1, ')');
    std::string tooLong(limits::kMaxFormulaChars + 1, '1');
    const std::vector<std::string> texts = {
        "",        "SUM(A1", "1+",   "\"open",     "'Sheet1!A1", "{1,2;3}", "A1 B1 )", "#WHAT?", "(",
        "Sheet1!", "[1",     "1..2", "SUM(A1;B1)", "Sheet1:!A1", "=A1",     deep,      tooLong,
    };
    for (const auto& text : texts) {
        SCOPED_TRACE(text.substr(0, 40));
        Formula f;
        EXPECT_FALSE(ParseFormula(text, f));
        EXPECT_FALSE(f.Parsed());
        EXPECT_EQ(PrintFormula(f), text);
        // Moving leaves unparsed text alone.
        EXPECT_TRUE(MoveFormula(f, 5, 5));
        EXPECT_EQ(PrintFormula(f), text);
    }
}

TEST(FormulaText, NestingUpToTheLimitAndLongFormulasParse)
{
    std::string nested;
    for (int i = 0; i < limits::kMaxFormulaDepth; ++i) {
        nested += "ABS(";
    }
    nested += "A1";
    nested += std::string(limits::kMaxFormulaDepth, ')');
    Formula f;
    EXPECT_TRUE(ParseFormula(nested, f));
    EXPECT_EQ(PrintFormula(f), nested);

    // A long sum of terms, and a long run of signs, are read in loops.
    std::string sum = "A1";
    while (sum.size() + 4 <= limits::kMaxFormulaChars) {
        sum += "+B22";
    }
    EXPECT_TRUE(ParseFormula(sum, f));
    EXPECT_EQ(PrintFormula(f), sum);
    std::string signs(limits::kMaxFormulaChars - 2, '-');
    signs += "A1";
    EXPECT_TRUE(ParseFormula(signs, f));
    EXPECT_EQ(PrintFormula(f), signs);
}

TEST(FormulaText, SheetNamesAreQuotedWhereNeeded)
{
    const std::vector<std::pair<const char*, bool>> cases = {
        {"Sheet1", false}, {"Data_2024", false}, {"Q1.Sales", false}, {"My Sheet", true}, {"2024", true},
        {"A1", true},      {"xfd10", true},      {"R1C1", true},      {"R", true},        {"c12", true},
        {"RC", true},      {"Rate", false},      {"Cost", false},     {"TRUE", true},     {"it's", true},
        {"", true},        {"Sales-East", true}, {"ABCD1", false},    {"Données", false}, {"(x)", true},
        {"A", false},      {"XFD", false},       {"ABCD", false},
    };
    for (const auto& [name, quoted] : cases) {
        EXPECT_EQ(SheetNameNeedsQuotes(name), quoted) << name;
    }
}

// Every shape of sheet name a reader could take for something else, alone and at either end of a
// 3-D range: printed, it must parse back to the same sheets and the same reference.
TEST(FormulaText, SheetNamesThatLookLikeReferencesPrintSoThatTheyParseBack)
{
    const std::vector<const char*> names = {"A",    "XFD",  "xfd", "AB",    "R",    "C",     "r",    "RC",
                                            "R1C1", "R1",   "C12", "A1",    "TRUE", "false", "1",    "2024",
                                            "1A",   "A1B2", "Q1",  "Sheet", "R_1",  "XFE",   "ABCD", "_xlfn"};
    for (const char* first : names) {
        for (const char* last : {static_cast<const char*>(nullptr), "B", "Sheet2", "C3"}) {
            Formula f;
            Token t;
            t.kind = TokenKind::Ref;
            t.flags = kFirstColAbs;
            t.area = CellRange{1, 1, 1, 1};
            t.prefix = f.AddPrefix(SheetPrefix{"", first, last == nullptr ? "" : last, false});
            f.tokens.push_back(t);
            const std::string printed = PrintFormula(f);
            Formula back;
            ASSERT_TRUE(ParseFormula(printed, back)) << printed;
            ASSERT_EQ(back.tokens.size(), 1U) << printed;
            ASSERT_LT(back.tokens[0].prefix, back.prefixes.size()) << printed;
            EXPECT_EQ(back.prefixes[back.tokens[0].prefix].firstSheet, first) << printed;
            EXPECT_EQ(back.prefixes[back.tokens[0].prefix].lastSheet, last == nullptr ? "" : last) << printed;
            EXPECT_EQ(back.tokens[0].kind, TokenKind::Ref) << printed;
            EXPECT_EQ(back.tokens[0].area, t.area) << printed;
            EXPECT_EQ(PrintFormula(back), printed);
            // Beside '!' alone a column-like name reads only as a sheet; in a 3-D range it is quoted.
            if (std::string_view(first) == "A") {
                EXPECT_EQ(printed, last == nullptr ? std::string("A!$B2") : "'A:" + std::string(last) + "'!$B2");
            }
        }
    }
}

struct MoveCase {
    const char* text;
    int64_t rows;
    int64_t cols;
    bool xls;
    const char* moved;
};

TEST(FormulaMove, RelativePartsMoveAbsolutePartsStayOffGridIsRef)
{
    const std::vector<MoveCase> cases = {
        {"A1+$B$2+C$3+$D4", 2, 1, false, "B3+$B$2+D$3+$D6"},
        {"SUM(A1:B2)", 10, 0, false, "SUM(A11:B12)"},
        {"Sheet2!A1", 1, 1, false, "Sheet2!B2"},
        {"A:A", 100, 2, false, "C:C"},
        {"$A:B", 0, 3, false, "$A:E"},
        {"1:1", 5, 5, false, "6:6"},
        {"A1", -1, 0, false, "#REF!"},
        {"Sheet1!A1", 0, -1, false, "Sheet1!#REF!"},
        {"$A$1", -1, -1, false, "$A$1"},
        // The edges of the xlsx grid.
        {"A1048575", 1, 0, false, "A1048576"},
        {"A1048576", 1, 0, false, "#REF!"},
        {"XFC1", 0, 1, false, "XFD1"},
        {"XFD1", 0, 1, false, "#REF!"},
        {"A1:A1048576", 1, 0, false, "#REF!"},
        {"XFD:XFD", 0, 1, false, "#REF!"},
        {"1048576:1048576", 1, 0, false, "#REF!"},
        // The edges of the xls grid.
        {"A65535", 1, 0, true, "A65536"},
        {"A65536", 1, 0, true, "#REF!"},
        {"IU1", 0, 1, true, "IV1"},
        {"IV1", 0, 1, true, "#REF!"},
        {"$IW$1", 0, 0, true, "#REF!"},
        {"A1", 70000, 0, true, "#REF!"},
        {"A1", 70000, 0, false, "A70001"},
        // Only references move.
        {"\"A1\"&Rate&Table1[A1]&{1}", 3, 3, false, "\"A1\"&Rate&Table1[A1]&{1}"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Formula f;
        ASSERT_TRUE(ParseFormula(c.text, f));
        bool intact = MoveFormula(f, c.rows, c.cols, c.xls ? kXlsGrid : kXlsxGrid);
        EXPECT_EQ(PrintFormula(f), c.moved);
        EXPECT_EQ(intact, std::string(c.moved).find("#REF!") == std::string::npos);
    }
}

TEST(FormulaMove, AbsolutePartsAreFound)
{
    const std::vector<std::pair<const char*, bool>> cases = {
        {"A1+B2", false}, {"$A1", true}, {"A$1:B2", true}, {"A1:B$2", true}, {"\"$A$1\"", false}, {"$A:$A", true},
    };
    for (const auto& [text, absolute] : cases) {
        Formula f;
        ASSERT_TRUE(ParseFormula(text, f));
        EXPECT_EQ(HasAbsolutePart(f), absolute) << text;
    }
}

} // namespace
} // namespace gq::engine::formula
