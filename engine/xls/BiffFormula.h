// BIFF8 parsed expressions ([MS-XLS] 2.5.198): decoding a formula's tokens into the engine's
// formula model, with what the workbook globals say about sheets, other workbooks and names.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/formula/Formula.h"
#include "engine/xls/BiffText.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace gq::engine::biff {

// SupBook, [MS-XLS] 2.4.271: the workbook a group of 3-D references and external names points at.
struct SupBook {
    enum class Kind : uint8_t { Self, AddIn, External, Other };
    Kind kind = Kind::Other;
    std::string book;                     // for an external workbook, what its references print: "1"
    std::vector<std::string> sheets;      // an external workbook's sheet names
    std::vector<std::string> externNames; // ExternName records that follow it, in order
};

// XTI, [MS-XLS] 2.5.172: one EXTERNSHEET entry, a range of sheets of one SupBook.
struct Xti {
    uint16_t supBook = 0;
    uint16_t firstSheet = 0;
    uint16_t lastSheet = 0;
};

// Where an encoded cell reference's fields lie in a parsed expression, so that the expression can
// be moved to another cell by rewriting them, as moving the formula and encoding it again would.
struct ReferenceField {
    uint16_t at = 0;       // the offset of its first row field in rgce
    bool area = false;     // rwFirst, rwLast, colFirst, colLast; a cell has rw, col
    bool moveRows = false; // false for whole columns, whose rows never move
    bool moveCols = false; // false for whole rows
    uint8_t flags = 0;     // the model's absolute flags (formula::kFirstColAbs and so on)
};

// One BIFF5 EXTERNSHEET record (Excel 5 and 95; [MS-XLS] covers BIFF8 only, the layout is the
// one the older Excel file-format documentation gives): a sheet of this workbook or of another
// one, by its encoded name. Each worksheet lists those its own formulas use; EXTERNNAME records
// after one name what its PtgNameX tokens call.
struct Biff5Link {
    enum class Kind : uint8_t {
        OwnSheet,  // 0x03 and a sheet name: a sheet of this workbook
        ThisSheet, // 0x02 alone: the sheet that holds the formula
        OwnBook,   // 0x04 alone: this workbook, no sheet (its names)
        External,  // 0x01 and an encoded path: another workbook, with a sheet name or none
        AddIn,     // ":" alone: the add-in functions
        Other,     // DDE and OLE links and whatever the reader does not know
    };
    Kind kind = Kind::Other;
    std::string book;  // External: what its references print, "1" for the sheet's first workbook
    std::string sheet; // OwnSheet and External: the sheet's name
    std::vector<std::string> externNames;
};

// What formulas refer to outside their cell: read from the workbook globals.
struct FormulaGlobals {
    std::vector<std::string> sheetNames; // every BoundSheet8 in order, charts and macros included
    std::vector<SupBook> supBooks;
    std::vector<Xti> xtis;
    std::vector<std::string> names; // Lbl records in order; PtgName counts from 1
    // BIFF5: the link table of the sheet whose formulas are decoded (its EXTERNSHEET records, which
    // PtgRef3d and PtgNameX count from 1), and that sheet's place in `sheetNames`.
    std::vector<Biff5Link> biff5Links;
    size_t formulaSheet = SIZE_MAX;
};

// The parsed expression `rgce` of the cell at (row, col), with the extra data `rgcb` that its
// PtgArray and PtgMemArea tokens own, decoded into `out` (cleared first). Relative references of
// the shared form (PtgRefN, PtgAreaN, and PtgRef3d and PtgArea3d where `sharedForm` says the
// expression is a shared formula's) are resolved against (row, col). Gives false for an
// expression the model cannot hold or that is damaged; `out` is then unspecified and the cell
// keeps its cached value. It never throws for what the bytes say.
// `layout`, when given, receives where the expression's cell references lie, so that the reader can
// tell an expression that repeats another one moved along from its bytes alone.
struct ReferenceLayout {
    std::vector<ReferenceField> fields; // each PtgRef, PtgArea and their 3-D forms: `at` and `area`
    // False when the expression holds references of the relative form (PtgRefN, PtgAreaN, or 3-D
    // ones of a shared formula), whose fields are offsets that wrap round the grid.
    bool movable = true;
};
bool DecodeFormula(std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb, const FormulaGlobals& globals,
                   uint32_t row, uint32_t col, bool sharedForm, formula::Formula& out,
                   ReferenceLayout* layout = nullptr);

// The same for BIFF5 (Excel 5 and 95), whose references are a byte shorter and whose text is in
// the file's code page. Its 3-D references name this workbook's sheets by their index, or another
// workbook's sheet through the formula's sheet's link table (`globals.biff5Links`); its names
// count the NAME records (`globals.names`).
bool DecodeBiff5Formula(std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb, const FormulaGlobals& globals,
                        uint32_t row, uint32_t col, bool sharedForm, CodePageDecoder& codePage, formula::Formula& out);

// Rewrites a BIFF2-4 parsed expression (`biff` 2, 3 or 4) into BIFF5's layout, which
// DecodeBiff5Formula reads: the tokens are BIFF5's with smaller fields. Gives false, `out`
// unspecified, for a token whose older layout is not BIFF5's with smaller fields, or one cut short.
bool WidenOldExpression(std::span<const uint8_t> rgce, int biff, std::vector<uint8_t>& out);

// Reads one BIFF5 EXTERNSHEET record's body into `link` (its EXTERNNAME records come later);
// `books` lists the other workbooks the sheet's link table named so far, whose order numbers them.
void ReadBiff5Link(std::span<const uint8_t> body, CodePageDecoder& codePage, std::vector<std::string>& books,
                   Biff5Link& link);

// The cell a formula of only a PtgExp or PtgTbl token ([MS-XLS] 2.5.198.58, 2.5.198.88) points at:
// the first cell of the shared formula, array formula or data table it belongs to. Gives 0 for
// an expression that is not one, 1 for PtgExp and 2 for PtgTbl.
int ExpressionPointer(std::span<const uint8_t> rgce, uint32_t& row, uint32_t& col);

} // namespace gq::engine::biff

namespace gq::engine::biff {

// Encodes the model's formulas as BIFF8 parsed expressions for the .xls writer, collecting what
// the workbook globals must list for them: the EXTERNSHEET entries of references to other sheets
// of the output (through the workbook's own SUPBOOK), the NAME records of functions newer than
// Excel 97 (future functions, "_xlfn.IFERROR") and the EXTERNNAME records of the Analysis
// ToolPak's add-in functions (EDATE, NETWORKDAYS), called as Excel 2007 and later write them into
// .xls files. A formula BIFF8 cannot hold is refused, and its cell written as its cached value: a
// function BIFF8 has no way to name (a macro or another program's function) or called with more
// or fewer arguments than it takes (a built-in one as BIFF8's table says, a future one as Excel
// says), functions nested deeper than Excel 97's seven levels, a
// reference beyond the 65,536 x 256 grid, a name, table or other workbook (the output defines
// none), text longer than a PtgStr holds, or an expression too large for one record.
class FormulaEncoder {
public:
    explicit FormulaEncoder(std::vector<std::string> sheetNames) : m_sheets(std::move(sheetNames)) {}

    // `rgce` and `rgcb` are replaced. Gives false when the formula cannot be kept. `fields`, when
    // given, receives where each cell reference went.
    bool Encode(const formula::Formula& f, std::vector<uint8_t>& rgce, std::vector<uint8_t>& rgcb,
                std::vector<ReferenceField>* fields = nullptr);
    // Whether the expression Encode last gave may also be a shared formula's (SharedParsedFormula,
    // [MS-XLS] 2.5.198.118), which holds no reference to another sheet, no #REF! reference, no
    // array constant, no add-in function (PtgNameX) and no range, union or intersection operator.
    bool Shareable() const { return m_shareable; }
    // Hands out every EXTERNSHEET entry and name the formula would need, without encoding it, so
    // that the globals written before any sheet list them.
    void Register(const formula::Formula& f);
    // From now on a formula that needs an entry or a name not handed out yet is refused: the
    // globals that would have to list it are written.
    void Freeze() { m_frozen = true; }

    // EXTERNSHEET entries handed out so far: SupBook 0 is this workbook, 1 the add-in functions.
    const std::vector<Xti>& Xtis() const { return m_xtis; }
    // NAME records of future functions, in the order PtgName counts them from 1.
    const std::vector<std::string>& FunctionNames() const { return m_futureNames; }
    // EXTERNNAME records of the add-in functions' SUPBOOK, in the order PtgNameX counts them from 1.
    const std::vector<std::string>& AddInNames() const { return m_addInNames; }
    // What a reader of the written globals knows, for decoding what this encoder wrote.
    FormulaGlobals Globals() const;

private:
    bool Ixti(const formula::SheetPrefix& prefix, uint16_t& ixti);
    bool AddInIxti(uint16_t& ixti);
    // The name token a function BIFF8's table does not hold is called through, appended to `out`;
    // false for a function BIFF8 has no way to name, or a future function that does not take `args`
    // arguments.
    bool FunctionNameToken(std::string_view name, uint32_t args, std::vector<uint8_t>& out);

    std::vector<std::string> m_sheets;
    std::vector<Xti> m_xtis;
    std::vector<std::string> m_futureNames;
    std::vector<std::string> m_addInNames;
    bool m_frozen = false;
    bool m_shareable = false;
    std::string m_upper;
    std::vector<uint32_t> m_depths; // per operand on the stack, how deep its functions nest
    std::vector<uint32_t> m_starts; // per operand on the stack, where its tokens begin in rgce
};

} // namespace gq::engine::biff
