// Encoding the engine's formula model as BIFF8 parsed expressions ([MS-XLS] 2.5.198), for the
// .xls writer's FORMULA records.
// SPDX-License-Identifier: Apache-2.0
#include "common/AsciiText.h"
#include "engine/io/LittleEndian.h"
#include "engine/text/Utf8.h"
#include "engine/xls/BiffFormula.h"
#include "engine/xls/BiffFunctions.h"
#include "engine/xls/BiffStream.h"

#include <algorithm>

namespace gq::engine::biff {

namespace fm = formula;

namespace {

// Excel 97 nests functions seven levels deep at most.
constexpr uint32_t kMaxFunctionNesting = 7;
// A FORMULA record holds its 22-byte fixed part and the expression with its extra data.
constexpr size_t kMaxExpressionBytes = limits::kMaxBiffRecordBytes - 22;
// One EXTERNSHEET record, unbroken, holds this many six-byte entries.
constexpr size_t kMaxXtis = (limits::kMaxBiffRecordBytes - 2) / 6;
constexpr uint8_t kPtgRef = 0x24; // reference class: Excel takes the value where one is needed
constexpr uint8_t kPtgArea = 0x25;
constexpr uint8_t kPtgRef3d = 0x3A;
constexpr uint8_t kPtgArea3d = 0x3B;
constexpr uint8_t kPtgFuncV = 0x41; // value class, as Excel writes functions in cells
constexpr uint8_t kPtgFuncVarV = 0x42;
constexpr uint8_t kPtgArrayA = 0x60;
constexpr uint8_t kPtgName = 0x23; // reference class, as Excel writes a called function's name
constexpr uint8_t kPtgNameX = 0x39;
constexpr uint16_t kUserDefinedFunction = 0xFF; // the function's name is its first argument
constexpr uint16_t kAddInSheet = 0xFFFE;        // XTI itabFirst and itabLast of an add-in's SupBook
// A PtgFuncVar counts its arguments in seven bits; Excel 97 calls a function with 30 at most.
constexpr uint32_t kMaxArguments = 30;
// A shared formula may not call the function of this index through PtgFuncVar ([MS-XLS]
// 2.5.198.118); the writer keeps a formula calling it in FORMULA records of its own.
constexpr uint16_t kNotShareableFunction = 0x017B;
// Lbl holds a name of 255 characters at most, ExternName's ShortXLUnicodeString as many.
constexpr size_t kMaxFunctionNameChars = 255;

uint8_t BinaryPtg(fm::Op op)
{
    switch (op) {
    case fm::Op::Add:
        return 0x03;
    case fm::Op::Sub:
        return 0x04;
    case fm::Op::Mul:
        return 0x05;
    case fm::Op::Div:
        return 0x06;
    case fm::Op::Pow:
        return 0x07;
    case fm::Op::Concat:
        return 0x08;
    case fm::Op::Lt:
        return 0x09;
    case fm::Op::Le:
        return 0x0A;
    case fm::Op::Eq:
        return 0x0B;
    case fm::Op::Ge:
        return 0x0C;
    case fm::Op::Gt:
        return 0x0D;
    case fm::Op::Ne:
        return 0x0E;
    case fm::Op::Intersect:
        return 0x0F;
    case fm::Op::Union:
        return 0x10;
    case fm::Op::Range:
        return 0x11;
    default:
        return 0;
    }
}

// The error codes of BErr, [MS-XLS] 2.5.10, which are the model's own values.
uint8_t ErrorPtgValue(ErrorCode code)
{
    return static_cast<uint8_t>(code);
}

void Put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

// Text as BIFF8 characters: Latin-1 when every character fits, else UTF-16LE. Gives false for
// more than `maxChars` UTF-16 units.
bool PutText(std::vector<uint8_t>& out, const std::string& text, size_t maxChars, bool shortCount)
{
    std::u16string wide;
    ToUtf16(text, wide);
    if (wide.size() > maxChars) {
        return false;
    }
    bool compressed = FitsLatin1(wide);
    if (shortCount) {
        out.push_back(static_cast<uint8_t>(wide.size()));
    } else {
        Put16(out, static_cast<uint32_t>(wide.size()));
    }
    out.push_back(compressed ? 0 : 1);
    for (char16_t c : wide) {
        out.push_back(static_cast<uint8_t>(c));
        if (!compressed) {
            out.push_back(static_cast<uint8_t>(c >> 8));
        }
    }
    return true;
}

// The column field of RgceLoc, [MS-XLS] 2.5.198.104: bit 14 set for a relative column, bit 15 for
// a relative row.
uint32_t ColField(uint32_t col, bool colAbs, bool rowAbs)
{
    return col | (colAbs ? 0 : 0x4000) | (rowAbs ? 0 : 0x8000);
}

} // namespace

bool FormulaEncoder::Ixti(const fm::SheetPrefix& prefix, uint16_t& ixti)
{
    if (!prefix.book.empty() || prefix.firstSheet.empty()) {
        return false; // another workbook: the output links to none
    }
    auto find = [this](const std::string& name) {
        return static_cast<size_t>(std::find(m_sheets.begin(), m_sheets.end(), name) - m_sheets.begin());
    };
    size_t first = find(prefix.firstSheet);
    size_t last = prefix.lastSheet.empty() ? first : find(prefix.lastSheet);
    if (first >= m_sheets.size() || last >= m_sheets.size() || last < first) {
        return false;
    }
    Xti x{0, static_cast<uint16_t>(first), static_cast<uint16_t>(last)};
    for (size_t i = 0; i < m_xtis.size(); ++i) {
        if (m_xtis[i].firstSheet == x.firstSheet && m_xtis[i].lastSheet == x.lastSheet) {
            ixti = static_cast<uint16_t>(i);
            return true;
        }
    }
    if (m_frozen || m_xtis.size() >= kMaxXtis) {
        return false;
    }
    m_xtis.push_back(x);
    ixti = static_cast<uint16_t>(m_xtis.size() - 1);
    return true;
}

bool FormulaEncoder::AddInIxti(uint16_t& ixti)
{
    for (size_t i = 0; i < m_xtis.size(); ++i) {
        if (m_xtis[i].supBook == 1) {
            ixti = static_cast<uint16_t>(i);
            return true;
        }
    }
    if (m_frozen || m_xtis.size() >= kMaxXtis) {
        return false;
    }
    m_xtis.push_back(Xti{1, kAddInSheet, kAddInSheet});
    ixti = static_cast<uint16_t>(m_xtis.size() - 1);
    return true;
}

bool FormulaEncoder::FunctionNameToken(std::string_view name, uint32_t args, std::vector<uint8_t>& out)
{
    // Names of functions compare without regard to case; BIFF8 files carry them in capitals.
    m_upper.assign(name);
    for (char& c : m_upper) {
        c = AsciiUpper(c);
    }
    static constexpr std::string_view kFuture = "_XLFN.";
    const bool future = m_upper.starts_with(kFuture) && m_upper.size() > kFuture.size();
    if (!future && !IsExcel2007Function(m_upper)) {
        if (!IsAddInFunction(m_upper)) {
            return false; // a macro, or a function of some other program: nothing BIFF8 can call
        }
        // An add-in function: PtgNameX, [MS-XLS] 2.5.198.76, naming an ExternName of the
        // add-in SupBook through its EXTERNSHEET entry.
        uint16_t ixti = 0;
        auto it = std::find(m_addInNames.begin(), m_addInNames.end(), m_upper);
        if (it == m_addInNames.end()) {
            if (m_frozen || m_addInNames.size() >= limits::kMaxBiffLinkEntries) {
                return false;
            }
            m_addInNames.push_back(m_upper);
            it = m_addInNames.end() - 1;
        }
        if (!AddInIxti(ixti)) {
            return false;
        }
        m_shareable = false;
        out.push_back(kPtgNameX);
        Put16(out, ixti);
        Put16(out, static_cast<uint32_t>(it - m_addInNames.begin() + 1));
        Put16(out, 0);
        return true;
    }
    // Excel refuses a future function called with fewer or more arguments than it takes, as it
    // refuses a built-in one: such a formula cannot be kept.
    const std::string_view bare = future ? std::string_view(m_upper).substr(kFuture.size()) : std::string_view(m_upper);
    if (const FunctionArity* arity = FutureFunctionArity(bare);
        args > kMaxArguments || (arity != nullptr && (args < arity->minArgs || args > arity->maxArgs))) {
        return false;
    }
    // A future function: PtgName, [MS-XLS] 2.5.198.76, of a Lbl named "_xlfn." and the function.
    if (!future) {
        m_upper.insert(0, "_xlfn.");
    } else {
        m_upper.replace(0, kFuture.size(), "_xlfn.");
    }
    if (m_upper.size() > kMaxFunctionNameChars) {
        return false;
    }
    auto it = std::find(m_futureNames.begin(), m_futureNames.end(), m_upper);
    if (it == m_futureNames.end()) {
        if (m_frozen || m_futureNames.size() >= limits::kMaxBiffLinkEntries) {
            return false;
        }
        m_futureNames.push_back(m_upper);
        it = m_futureNames.end() - 1;
    }
    out.push_back(kPtgName);
    Put16(out, static_cast<uint32_t>(it - m_futureNames.begin() + 1));
    Put16(out, 0);
    return true;
}

void FormulaEncoder::Register(const fm::Formula& f)
{
    std::vector<uint8_t> scratch;
    uint16_t ixti = 0;
    for (const fm::Token& t : f.tokens) {
        if (t.prefix < f.prefixes.size() &&
            (t.kind == fm::TokenKind::Ref || t.kind == fm::TokenKind::Area || t.kind == fm::TokenKind::RefError)) {
            Ixti(f.prefixes[t.prefix], ixti);
        } else if (t.kind == fm::TokenKind::Function && t.text < f.texts.size() &&
                   FunctionByName(f.texts[t.text]) == nullptr) {
            FunctionNameToken(f.texts[t.text], t.count, scratch);
        }
    }
}

FormulaGlobals FormulaEncoder::Globals() const
{
    FormulaGlobals g;
    g.sheetNames = m_sheets;
    g.supBooks.resize(2);
    g.supBooks[0].kind = SupBook::Kind::Self;
    g.supBooks[1].kind = SupBook::Kind::AddIn;
    g.supBooks[1].externNames = m_addInNames;
    g.xtis = m_xtis;
    g.names = m_futureNames;
    return g;
}

bool FormulaEncoder::Encode(const fm::Formula& f, std::vector<uint8_t>& rgce, std::vector<uint8_t>& rgcb,
                            std::vector<ReferenceField>* fields)
{
    rgce.clear();
    rgcb.clear();
    m_depths.clear();
    m_starts.clear();
    if (fields != nullptr) {
        fields->clear();
    }
    m_shareable = true;
    if (!f.Parsed()) {
        return false;
    }
    // Pops n operands, giving how deep the deepest nests functions and where the first begins.
    auto pop = [this, &rgce](size_t n, uint32_t& depth, uint32_t& start) {
        if (m_depths.size() < n) {
            return false;
        }
        depth = 0;
        for (size_t i = m_depths.size() - n; i < m_depths.size(); ++i) {
            depth = std::max(depth, m_depths[i]);
        }
        start = n > 0 ? m_starts[m_starts.size() - n] : static_cast<uint32_t>(rgce.size());
        m_depths.resize(m_depths.size() - n);
        m_starts.resize(m_starts.size() - n);
        return true;
    };
    std::vector<uint8_t> nameToken;
    for (const fm::Token& t : f.tokens) {
        uint32_t depth = 0;
        uint32_t start = static_cast<uint32_t>(rgce.size());
        switch (t.kind) {
        case fm::TokenKind::Number:
            if (t.number >= 0 && t.number <= 65535 &&
                t.number == static_cast<double>(static_cast<uint32_t>(t.number))) {
                rgce.push_back(0x1E); // PtgInt
                Put16(rgce, static_cast<uint32_t>(t.number));
            } else {
                rgce.push_back(0x1F); // PtgNum
                rgce.resize(rgce.size() + 8);
                le::StoreF64(rgce.data() + rgce.size() - 8, t.number);
            }
            break;
        case fm::TokenKind::String:
            rgce.push_back(0x17); // PtgStr: a ShortXLUnicodeString, 255 characters at most
            if (t.text >= f.texts.size() || !PutText(rgce, f.texts[t.text], 255, true)) {
                return false;
            }
            break;
        case fm::TokenKind::Boolean:
            rgce.push_back(0x1D);
            rgce.push_back(t.boolean ? 1 : 0);
            break;
        case fm::TokenKind::Error:
            rgce.push_back(0x1C);
            rgce.push_back(ErrorPtgValue(t.error));
            break;
        case fm::TokenKind::Missing:
            rgce.push_back(0x16);
            break;
        case fm::TokenKind::Ref:
        case fm::TokenKind::Area: {
            uint32_t r1 = t.area.firstRow;
            uint32_t r2 = t.area.lastRow;
            uint32_t c1 = t.area.firstCol;
            uint32_t c2 = t.area.lastCol;
            const bool area = t.kind == fm::TokenKind::Area;
            if (!area) {
                r2 = r1;
                c2 = c1;
            }
            if ((t.flags & fm::kWholeColumns) != 0) {
                r1 = 0;
                r2 = limits::kXlsMaxRows - 1;
            } else if ((t.flags & fm::kWholeRows) != 0) {
                c1 = 0;
                c2 = limits::kXlsMaxCols - 1;
            }
            if (std::max(r1, r2) >= limits::kXlsMaxRows || std::max(c1, c2) >= limits::kXlsMaxCols) {
                return false;
            }
            uint16_t ixti = 0;
            const bool threeD = t.prefix != fm::kNoPrefix;
            if (threeD && (t.prefix >= f.prefixes.size() || !Ixti(f.prefixes[t.prefix], ixti))) {
                return false;
            }
            m_shareable = m_shareable && !threeD;
            rgce.push_back(threeD ? (area ? kPtgArea3d : kPtgRef3d) : (area ? kPtgArea : kPtgRef));
            if (threeD) {
                Put16(rgce, ixti);
            }
            // Whole columns and rows keep their rows or columns relative, as Excel writes A:A.
            const bool wholeCols = (t.flags & fm::kWholeColumns) != 0;
            const bool wholeRows = (t.flags & fm::kWholeRows) != 0;
            if (fields != nullptr) {
                fields->push_back(
                    ReferenceField{static_cast<uint16_t>(rgce.size()), area, !wholeCols, !wholeRows, t.flags});
            }
            const bool rowAbs1 = !wholeCols && (t.flags & fm::kFirstRowAbs) != 0;
            const bool colAbs1 = !wholeRows && (t.flags & fm::kFirstColAbs) != 0;
            const bool rowAbs2 = !wholeCols && (t.flags & fm::kLastRowAbs) != 0;
            const bool colAbs2 = !wholeRows && (t.flags & fm::kLastColAbs) != 0;
            Put16(rgce, r1);
            if (area) {
                Put16(rgce, r2);
                Put16(rgce, ColField(c1, colAbs1, rowAbs1));
                Put16(rgce, ColField(c2, colAbs2, rowAbs2));
            } else {
                Put16(rgce, ColField(c1, colAbs1, rowAbs1));
            }
            break;
        }
        case fm::TokenKind::RefError: {
            // PtgRefErr3d keeps the sheet the reference named where the output has that sheet;
            // otherwise PtgRefErr, which evaluates to the same error.
            m_shareable = false;
            uint16_t ixti = 0;
            if (t.prefix < f.prefixes.size() && Ixti(f.prefixes[t.prefix], ixti)) {
                rgce.push_back(0x3C);
                Put16(rgce, ixti);
            } else {
                rgce.push_back(0x2A);
            }
            rgce.insert(rgce.end(), 4, 0);
            break;
        }
        case fm::TokenKind::Array: {
            if (t.count >= f.arrays.size()) {
                return false;
            }
            const fm::ArrayConstant& a = f.arrays[t.count];
            if (a.cols == 0 || a.rows == 0 || a.cols > 256 || a.values.size() != static_cast<size_t>(a.rows) * a.cols) {
                return false;
            }
            m_shareable = false;
            rgce.push_back(kPtgArrayA);
            rgce.insert(rgce.end(), 7, 0);
            // PtgExtraArray, [MS-XLS] 2.5.198.67: columns - 1, rows - 1, then SerAr values.
            rgcb.push_back(static_cast<uint8_t>(a.cols - 1));
            Put16(rgcb, a.rows - 1U);
            for (const fm::Token& v : a.values) {
                size_t at = rgcb.size();
                switch (v.kind) {
                case fm::TokenKind::Number:
                    rgcb.push_back(0x01);
                    rgcb.resize(at + 9);
                    le::StoreF64(rgcb.data() + at + 1, v.number);
                    break;
                case fm::TokenKind::String:
                    rgcb.push_back(0x02);
                    if (v.text >= f.texts.size() || !PutText(rgcb, f.texts[v.text], 255, false)) {
                        return false;
                    }
                    break;
                case fm::TokenKind::Boolean:
                case fm::TokenKind::Error:
                    rgcb.push_back(v.kind == fm::TokenKind::Boolean ? 0x04 : 0x10);
                    rgcb.push_back(v.kind == fm::TokenKind::Boolean ? (v.boolean ? 1 : 0) : ErrorPtgValue(v.error));
                    rgcb.insert(rgcb.end(), 7, 0);
                    break;
                default:
                    return false;
                }
            }
            break;
        }
        case fm::TokenKind::Function: {
            if (t.text >= f.texts.size() || t.count > kMaxArguments || !pop(t.count, depth, start) ||
                depth + 1 > kMaxFunctionNesting) {
                return false;
            }
            const BiffFunction* fn = FunctionByName(f.texts[t.text]);
            if (fn == nullptr) {
                // A function Excel 97's table does not hold is called as a user-defined function,
                // [MS-XLS] 2.5.198.63: PtgFuncVar of the function 255, whose first argument,
                // put before the others, is the function's name.
                nameToken.clear();
                if (!FunctionNameToken(f.texts[t.text], t.count, nameToken)) {
                    return false;
                }
                rgce.insert(rgce.begin() + start, nameToken.begin(), nameToken.end());
                if (fields != nullptr) {
                    for (ReferenceField& field : *fields) {
                        if (field.at >= start) {
                            field.at = static_cast<uint16_t>(field.at + nameToken.size());
                        }
                    }
                }
                rgce.push_back(kPtgFuncVarV);
                rgce.push_back(static_cast<uint8_t>(t.count + 1));
                Put16(rgce, kUserDefinedFunction);
            } else if (t.count < fn->minArgs || t.count > fn->maxArgs) {
                return false;
            } else if (fn->minArgs == fn->maxArgs) {
                m_shareable = m_shareable && fn->index != kNotShareableFunction;
                rgce.push_back(kPtgFuncV);
                Put16(rgce, fn->index);
            } else {
                m_shareable = m_shareable && fn->index != kNotShareableFunction;
                rgce.push_back(kPtgFuncVarV);
                rgce.push_back(static_cast<uint8_t>(t.count));
                Put16(rgce, fn->index);
            }
            m_depths.push_back(depth + 1);
            m_starts.push_back(start);
            if (rgce.size() > kMaxExpressionBytes) {
                return false;
            }
            continue;
        }
        case fm::TokenKind::Unary:
        case fm::TokenKind::Percent:
        case fm::TokenKind::Paren:
            if (!pop(1, depth, start)) {
                return false;
            }
            rgce.push_back(t.kind == fm::TokenKind::Percent ? 0x14
                           : t.kind == fm::TokenKind::Paren ? 0x15
                           : t.op == fm::Op::Minus          ? 0x13
                                                            : 0x12);
            m_depths.push_back(depth);
            m_starts.push_back(start);
            continue;
        case fm::TokenKind::Binary: {
            uint8_t ptg = BinaryPtg(t.op);
            if (ptg == 0 || !pop(2, depth, start)) {
                return false;
            }
            m_shareable = m_shareable && (t.op != fm::Op::Intersect && t.op != fm::Op::Union && t.op != fm::Op::Range);
            rgce.push_back(ptg);
            m_depths.push_back(depth);
            m_starts.push_back(start);
            continue;
        }
        case fm::TokenKind::Name:
        case fm::TokenKind::Table:
            return false; // the output defines no names or tables
        }
        m_depths.push_back(0); // an operand
        m_starts.push_back(start);
        if (rgce.size() + rgcb.size() > kMaxExpressionBytes) {
            return false; // no longer worth going on: a 16-bit offset would not even hold it
        }
    }
    return m_depths.size() == 1 && rgce.size() + rgcb.size() <= kMaxExpressionBytes;
}

} // namespace gq::engine::biff
