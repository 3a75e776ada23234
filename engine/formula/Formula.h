// The engine's format-independent formula: tokens in evaluation order (reverse Polish), as both
// the xlsx formula text and the .xls formula records are decoded to and encoded from.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/Limits.h"
#include "engine/model/Workbook.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gq::engine::formula {

// What a token is. Operands push one value; operators pop their operands and push the result.
enum class TokenKind : uint8_t {
    Number,   // `number`
    String,   // `text` indexes the string
    Boolean,  // `boolean`
    Error,    // `error`, a literal such as #N/A or an unqualified #REF!
    Missing,  // an argument left empty: the second of IF(A1,,1)
    Ref,      // one cell: `area.firstRow/firstCol`, `flags` say which parts are absolute
    Area,     // a rectangle, or whole columns (A:C) or whole rows (1:3) as `flags` say
    RefError, // a reference that no longer points anywhere, with its sheet prefix: Sheet1!#REF!
    Name,     // a defined name, `text` indexes it; may carry a sheet or workbook prefix
    Table,    // a structured reference (Table1[Col], [@Col]), `text` holds it as written
    Array,    // an array constant, `count` indexes Formula::arrays
    Function, // `text` names the function as written (with any _xlfn. prefix), `count` arguments
    Unary,    // prefix + or -, `op` tells which
    Percent,  // postfix %
    Binary,   // `op` tells which
    Paren,    // parentheses the text had around the operand below it
};

enum class Op : uint8_t {
    None,
    Add,
    Sub,
    Mul,
    Div,
    Pow,
    Concat,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Range,     // A1:B2 between two reference expressions
    Intersect, // a space between two references
    Union,     // a comma between two references, inside parentheses
    Plus,      // unary
    Minus,     // unary
};

// Flags of Ref and Area tokens.
inline constexpr uint8_t kFirstColAbs = 0x01;
inline constexpr uint8_t kFirstRowAbs = 0x02;
inline constexpr uint8_t kLastColAbs = 0x04;
inline constexpr uint8_t kLastRowAbs = 0x08;
inline constexpr uint8_t kWholeColumns = 0x10; // A:C; the rows are not part of the reference
inline constexpr uint8_t kWholeRows = 0x20;    // 1:3; the columns are not part of the reference

inline constexpr uint16_t kNoPrefix = 0xFFFF;
inline constexpr uint32_t kNoText = 0xFFFFFFFF;

struct Token {
    TokenKind kind = TokenKind::Number;
    Op op = Op::None;
    uint8_t flags = 0;
    uint16_t prefix = kNoPrefix; // index into Formula::prefixes for qualified references and names
    uint16_t count = 0;          // arguments of a Function, index into arrays for an Array
    uint32_t text = kNoText;     // index into Formula::texts
    union {
        double number;
        bool boolean;
        ErrorCode error;
        CellRange area; // Ref uses the first corner only
    };
    Token() : area() {}
};

// The sheet or workbook part in front of a reference or name: `Sheet1!`, `'My Sheet'!`,
// `Sheet1:Sheet3!` (a 3-D reference), `[1]Sheet1!` or `[1]!` (another workbook).
struct SheetPrefix {
    std::string book;       // the text between the brackets, empty for this workbook
    std::string firstSheet; // empty for a workbook-level name of another workbook: [1]!Name
    std::string lastSheet;  // set for a 3-D reference only
    bool quoted = false;    // the text quoted it; printing quotes again even where not needed
    bool operator==(const SheetPrefix&) const = default;
};

// An array constant {1,2;3,4}: `rows` x `cols` values row by row, each a Number, String, Boolean
// or Error token.
struct ArrayConstant {
    uint16_t rows = 0;
    uint16_t cols = 0;
    std::vector<Token> values;
};

// One parsed formula. A text the parser does not understand is kept whole in `unparsed`, with no
// tokens: it is written back as it came but cannot be moved.
class Formula {
public:
    bool Parsed() const { return !tokens.empty(); }
    void Clear();

    uint32_t AddText(std::string_view text);
    uint16_t AddPrefix(SheetPrefix prefix);

    std::vector<Token> tokens;
    std::vector<std::string> texts;
    std::vector<SheetPrefix> prefixes;
    std::vector<ArrayConstant> arrays;
    std::string unparsed;
};

// The grid references are moved on: a reference moved off it becomes #REF!.
struct Grid {
    uint32_t rows = limits::kXlsxMaxRows;
    uint32_t cols = limits::kXlsxMaxCols;
};
inline constexpr Grid kXlsxGrid{limits::kXlsxMaxRows, limits::kXlsxMaxCols};
inline constexpr Grid kXlsGrid{limits::kXlsMaxRows, limits::kXlsMaxCols};

// Parses the text of an xlsx <f> element (ECMA-376 Part 1, 18.17), without a leading '='. Text it
// cannot parse, or longer than limits::kMaxFormulaChars, or nested deeper than
// limits::kMaxFormulaDepth, is kept in `out.unparsed`. Gives whether it parsed. `out` is cleared
// first; reusing one Formula keeps its buffers.
bool ParseFormula(std::string_view text, Formula& out);

// The formula's text as an xlsx <f> holds it, without '='. Spacing is not kept, but parentheses are.
std::string PrintFormula(const Formula& formula);
void PrintFormula(const Formula& formula, std::string& out); // appends

// Moves the relative parts of every cell reference by (rows, cols), as pasting the formula that
// far away does; absolute parts stay. A reference that leaves `grid` becomes #REF!. An unparsed
// formula is left as it is. Gives false when some reference became #REF!.
bool MoveFormula(Formula& formula, int64_t rows, int64_t cols, const Grid& grid = kXlsxGrid);

// The formula of `cell`, in row `row` of `sheet`: its entry's formula moved from the entry's
// anchor to the cell, on `grid`. False, leaving `out` alone, when the cell has no kept formula.
bool CellFormula(const Worksheet& sheet, uint32_t row, const Cell& cell, Formula& out, const Grid& grid = kXlsxGrid);

// Gives the cell at (row, col) the formula `text`, anchored there, keeping the cell's value as its
// cached result (an array formula filling `arrayRows` x `arrayCols` from the cell when given).
void SetCellFormula(Worksheet& sheet, uint32_t row, uint32_t col, std::string_view text, uint32_t arrayRows = 0,
                    uint32_t arrayCols = 0);

// Moves one Ref or Area token as MoveFormula does; `absoluteToo` moves its absolute parts as well,
// as when the cells it points at moved. Gives false, making it a RefError, when it leaves `grid`.
bool MoveReference(Token& token, int64_t rows, int64_t cols, const Grid& grid, bool absoluteToo = false);

// True when moving the formula by (rows, cols) keeps every reference on `grid`: MoveFormula would
// make none #REF!. Nothing is moved.
bool MovesWithin(const Formula& formula, int64_t rows, int64_t cols, const Grid& grid);

// Every move that keeps the formula's references on a grid: MovesWithin is true exactly for the
// moves Contains holds, rows and columns each in a range of their own (empty when no move does).
struct MoveBounds {
    int64_t minRows = INT64_MIN;
    int64_t maxRows = INT64_MAX;
    int64_t minCols = INT64_MIN;
    int64_t maxCols = INT64_MAX;
    bool Contains(int64_t rows, int64_t cols) const
    {
        return rows >= minRows && rows <= maxRows && cols >= minCols && cols <= maxCols;
    }
};
MoveBounds BoundsOfMoves(const Formula& formula, const Grid& grid);

// True when `moved`, moved by (rows, cols) on the xlsx grid, is `formula`: the same tokens, texts,
// prefixes and constants, every reference where the move takes it. Readers use it to store a
// formula that each row repeats with its own row numbers once, as a shared formula is stored.
bool SameWhenMoved(const Formula& moved, int64_t rows, int64_t cols, const Formula& formula);

// True when some reference has an absolute row or column part.
bool HasAbsolutePart(const Formula& formula);

// Whether a sheet name must be quoted in a reference: it is not a plain identifier, or it could be
// read as a cell reference, an R1C1 reference or a boolean.
bool SheetNameNeedsQuotes(std::string_view name);
// The same for a sheet at either end of a 3-D range, where also a name a reader could take for a
// column (A, XFD, Jan) must be quoted: A:B!B2 sits beside the columns A:B.
bool SheetNameInRangeNeedsQuotes(std::string_view name);

} // namespace gq::engine::formula
