// Decoding BIFF8 parsed expressions ([MS-XLS] 2.5.198) into the engine's formula model: the token
// loop, operators, functions and array constants. References and names: BiffFormulaReadRefs.cpp.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xls/BiffFormulaDecoder.h"

#include "engine/text/SheetNames.h"
#include "engine/xls/BiffFunctions.h"
#include "engine/xls/BiffText.h"
#include "engine/xls/XlsBook.h"

#include <algorithm>
#include <string_view>

namespace gq::engine::biff {

namespace detail {

namespace {

fm::Op BinaryOp(uint8_t ptg)
{
    // PtgAdd 0x03 through PtgRange 0x11, [MS-XLS] 2.5.198.26 and following.
    static constexpr fm::Op kOps[] = {fm::Op::Add,    fm::Op::Sub, fm::Op::Mul,       fm::Op::Div,   fm::Op::Pow,
                                      fm::Op::Concat, fm::Op::Lt,  fm::Op::Le,        fm::Op::Eq,    fm::Op::Ge,
                                      fm::Op::Gt,     fm::Op::Ne,  fm::Op::Intersect, fm::Op::Union, fm::Op::Range};
    return kOps[ptg - 0x03];
}

} // namespace

// An operator taking `n` operands and giving one.
bool Decoder::Operator(fm::TokenKind kind, fm::Op op, size_t n)
{
    if (m_starts.size() < n) {
        return false;
    }
    uint32_t start = n > 0 ? m_starts[m_starts.size() - n] : static_cast<uint32_t>(m_out.tokens.size());
    m_starts.resize(m_starts.size() - n);
    m_starts.push_back(start);
    fm::Token& t = m_out.tokens.emplace_back();
    t.kind = kind;
    t.op = op;
    return true;
}

bool Decoder::Function(const char* name, size_t args)
{
    if (!Operator(fm::TokenKind::Function, fm::Op::None, args)) {
        return false;
    }
    fm::Token& t = m_out.tokens.back();
    t.text = m_out.AddText(name);
    t.count = static_cast<uint16_t>(args);
    return true;
}

// PtgExtraArray, [MS-XLS] 2.5.198.67: the constant data of one PtgArray, after the expression.
bool Decoder::ArrayData()
{
    if (m_x.size() - m_xp < 3) {
        return false;
    }
    uint32_t cols = m_x[m_xp] + 1U;
    uint32_t rows = le::Load16(m_x.data() + m_xp + 1) + 1U;
    m_xp += 3;
    // Every value takes at least four bytes: nothing is reserved that the data cannot hold.
    if (static_cast<size_t>(cols) * rows > (m_x.size() - m_xp) / 4 || m_out.arrays.size() >= 0xFFFF) {
        return false;
    }
    fm::ArrayConstant a;
    a.rows = static_cast<uint16_t>(rows);
    a.cols = static_cast<uint16_t>(cols);
    a.values.reserve(static_cast<size_t>(cols) * rows);
    std::string text;
    for (size_t i = 0; i < static_cast<size_t>(cols) * rows; ++i) {
        // SerAr, [MS-XLS] 2.5.196: a type byte, then the value.
        if (m_x.size() - m_xp < 1) {
            return false;
        }
        uint8_t type = m_x[m_xp++];
        fm::Token& v = a.values.emplace_back();
        if (type == 0x02 && m_codePage != nullptr) { // BIFF5: a byte count and code-page bytes
            if (m_x.size() - m_xp < 1 || m_x.size() - m_xp - 1 < m_x[m_xp]) {
                return false;
            }
            size_t bytes = m_x[m_xp++];
            text.clear();
            m_codePage->Append(m_x.subspan(m_xp, bytes), text);
            m_xp += bytes;
            v.kind = fm::TokenKind::String;
            v.text = m_out.AddText(text);
            continue;
        }
        if (type == 0x02) { // SerStr: an XLUnicodeString
            if (m_x.size() - m_xp < 3) {
                return false;
            }
            size_t cch = le::Load16(m_x.data() + m_xp);
            bool high = (m_x[m_xp + 2] & 0x01) != 0;
            m_xp += 3;
            size_t bytes = cch * (high ? 2 : 1);
            if (m_x.size() - m_xp < bytes) {
                return false;
            }
            text.clear();
            (high ? AppendUtf16 : AppendLatin1)(m_x.subspan(m_xp, bytes), text);
            m_xp += bytes;
            v.kind = fm::TokenKind::String;
            v.text = m_out.AddText(text);
            continue;
        }
        if (m_x.size() - m_xp < 8) {
            return false;
        }
        const uint8_t* d = m_x.data() + m_xp;
        m_xp += 8;
        switch (type) {
        case 0x01: // SerNum
            v.kind = fm::TokenKind::Number;
            v.number = le::LoadF64(d);
            break;
        case 0x04: // SerBool
            v.kind = fm::TokenKind::Boolean;
            v.boolean = d[0] != 0;
            break;
        case 0x10: // SerErr
            v.kind = fm::TokenKind::Error;
            v.error = ErrorFromBiff(d[0]);
            break;
        default: // SerNil has no text form an array constant could hold
            return false;
        }
    }
    m_out.arrays.push_back(std::move(a));
    return true;
}

// PtgAttr, [MS-XLS] 2.5.198.30 and following: control flow and spacing, which leave the
// formula's meaning to the tokens around them, and tAttrSum, a SUM of one argument.
bool Decoder::Attr()
{
    if (!Has(3)) {
        return false;
    }
    uint8_t type = U8();
    uint16_t data = U16();
    switch (type) {
    case 0x01: // tAttrSemi: the formula is volatile
    case 0x02: // tAttrIf
    case 0x08: // tAttrGoto
    case 0x20: // tAttrBaxcel
    case 0x21:
    case 0x40: // tAttrSpace
    case 0x41: // tAttrSpaceSemi
        return true;
    case 0x04: { // tAttrChoose: a jump table of data + 1 offsets
        size_t skip = (static_cast<size_t>(data) + 1) * 2;
        if (!Has(skip)) {
            return false;
        }
        m_p += skip;
        return true;
    }
    case 0x10: // tAttrSum
        return Function("SUM", 1);
    default:
        return false;
    }
}

bool Decoder::FuncVar()
{
    if (!Has(3)) {
        return false;
    }
    size_t args = U8() & 0x7F;
    uint16_t tab = U16();
    if ((tab & 0x8000) != 0) {
        return false; // a macro sheet's command, which a worksheet formula cannot hold
    }
    tab &= 0x7FFF;
    if (tab != kUserDefinedFunction) {
        const BiffFunction* f = FunctionByIndex(tab);
        return f != nullptr && Function(f->name, args);
    }
    // A user-defined, add-in or newer function: its name is the first argument, a PtgName or
    // PtgNameX alone, which the function's own token replaces.
    if (args == 0 || m_starts.size() < args) {
        return false;
    }
    uint32_t start = m_starts[m_starts.size() - args];
    uint32_t end = args > 1 ? m_starts[m_starts.size() - args + 1] : static_cast<uint32_t>(m_out.tokens.size());
    if (end != start + 1 || m_out.tokens[start].kind != fm::TokenKind::Name ||
        m_out.tokens[start].prefix != fm::kNoPrefix) {
        return false;
    }
    uint32_t name = m_out.tokens[start].text;
    // Excel 2007 stores its new functions so; xlsx writes them without the prefix.
    std::string& text = m_out.texts[name];
    static constexpr std::string_view kFuture = "_xlfn.";
    if (text.starts_with(kFuture) && IsExcel2007Function(std::string_view(text).substr(kFuture.size()))) {
        text.erase(0, kFuture.size());
    }
    m_out.tokens.erase(m_out.tokens.begin() + start);
    m_starts.erase(m_starts.end() - static_cast<ptrdiff_t>(args));
    for (size_t i = m_starts.size() - (args - 1); i < m_starts.size(); ++i) {
        --m_starts[i];
    }
    if (!Operator(fm::TokenKind::Function, fm::Op::None, args - 1)) {
        return false;
    }
    m_out.tokens.back().text = name;
    m_out.tokens.back().count = static_cast<uint16_t>(args - 1);
    return true;
}

bool Decoder::Token()
{
    uint8_t ptg = U8();
    if (ptg >= 0x03 && ptg <= 0x11) {
        return Operator(fm::TokenKind::Binary, BinaryOp(ptg), 2);
    }
    switch (ptg) {
    case 0x12: // PtgUplus
        return Operator(fm::TokenKind::Unary, fm::Op::Plus, 1);
    case 0x13: // PtgUminus
        return Operator(fm::TokenKind::Unary, fm::Op::Minus, 1);
    case 0x14: // PtgPercent
        return Operator(fm::TokenKind::Percent, fm::Op::None, 1);
    case 0x15: // PtgParen
        return Operator(fm::TokenKind::Paren, fm::Op::None, 1);
    case 0x16: // PtgMissArg
        Operand(fm::TokenKind::Missing);
        return true;
    case 0x17: {                     // PtgStr: a ShortXLUnicodeString
        if (m_codePage != nullptr) { // BIFF5: a byte count and code-page bytes
            if (!Has(1) || !Has(1U + m_e[m_p])) {
                return false;
            }
            size_t bytes = U8();
            m_text.clear();
            m_codePage->Append(m_e.subspan(m_p, bytes), m_text);
            m_p += bytes;
            Operand(fm::TokenKind::String).text = m_out.AddText(m_text);
            return true;
        }
        if (!Has(2)) {
            return false;
        }
        size_t cch = U8();
        bool high = (U8() & 0x01) != 0;
        size_t bytes = cch * (high ? 2 : 1);
        if (!Has(bytes)) {
            return false;
        }
        m_text.clear();
        (high ? AppendUtf16 : AppendLatin1)(m_e.subspan(m_p, bytes), m_text);
        m_p += bytes;
        Operand(fm::TokenKind::String).text = m_out.AddText(m_text);
        return true;
    }
    case 0x19:
        return Attr();
    case 0x1C: // PtgErr
        if (!Has(1)) {
            return false;
        }
        Operand(fm::TokenKind::Error).error = ErrorFromBiff(U8());
        return true;
    case 0x1D: // PtgBool
        if (!Has(1)) {
            return false;
        }
        Operand(fm::TokenKind::Boolean).boolean = U8() != 0;
        return true;
    case 0x1E: // PtgInt
        if (!Has(2)) {
            return false;
        }
        Operand(fm::TokenKind::Number).number = U16();
        return true;
    case 0x1F: // PtgNum
        if (!Has(8)) {
            return false;
        }
        Operand(fm::TokenKind::Number).number = le::LoadF64(m_e.data() + m_p);
        m_p += 8;
        return true;
    default:
        break;
    }
    if (ptg < 0x20 || ptg >= 0x80) {
        return false; // PtgExp and PtgTbl stand alone; PtgExtended and the rest are not kept
    }
    // Operand and function tokens come in three classes (reference, value, array), which
    // bits 5-6 tell and which do not change the formula's text.
    switch ((ptg & 0x1F) | 0x20) {
    case 0x20: // PtgArray: the values are in the extra data
        if (!Has(7)) {
            return false;
        }
        m_p += 7;
        Operand(fm::TokenKind::Array).count = static_cast<uint16_t>(m_out.arrays.size());
        return ArrayData();
    case 0x21: { // PtgFunc: a function of a fixed argument count
        if (!Has(2)) {
            return false;
        }
        const BiffFunction* f = FunctionByIndex(U16());
        return f != nullptr && f->minArgs == f->maxArgs && Function(f->name, f->minArgs);
    }
    case 0x22:
        return FuncVar();
    case 0x23: // PtgName: a defined name, counted from 1; BIFF5's has a 16-bit index and
               // twelve reserved bytes
        if (m_codePage != nullptr) {
            if (!Has(14)) {
                return false;
            }
            const uint16_t index = U16();
            m_p += 12;
            return OwnName(index);
        }
        return Has(4) && OwnName(U32());
    case 0x24: // PtgRef
    case 0x2C: // PtgRefN
        if (!Has(RefSize())) {
            return false;
        }
        Reference(Operand(fm::TokenKind::Ref), (ptg & 0x1F) == 0x0C);
        return true;
    case 0x25: // PtgArea
    case 0x2D: // PtgAreaN
        if (!Has(2 * RefSize())) {
            return false;
        }
        Area(Operand(fm::TokenKind::Area), (ptg & 0x1F) == 0x0D);
        return true;
    case 0x26: { // PtgMemArea: a cached area the tokens after it compute; its cache is
                 // PtgExtraMem in the extra data, a count and that many Ref8U
        if (!Has(6) || m_x.size() - m_xp < 2) {
            return false;
        }
        m_p += 6;
        size_t areas = le::Load16(m_x.data() + m_xp);
        m_xp += 2;
        if ((m_x.size() - m_xp) / RefSize() / 2 < areas) {
            return false;
        }
        m_xp += areas * RefSize() * 2;
        return true;
    }
    case 0x27: // PtgMemErr, PtgMemNoMem: the same, with no cache
    case 0x28:
        if (!Has(6)) {
            return false;
        }
        m_p += 6;
        return true;
    case 0x29: // PtgMemFunc
        if (!Has(2)) {
            return false;
        }
        m_p += 2;
        return true;
    case 0x2A: // PtgRefErr, PtgAreaErr: a reference that was deleted
    case 0x2B: {
        size_t size = (ptg & 0x1F) == 0x0A ? RefSize() : 2 * RefSize();
        if (!Has(size)) {
            return false;
        }
        m_p += size;
        Operand(fm::TokenKind::Error).error = ErrorCode::Ref;
        return true;
    }
    case 0x39:
        return NameX();
    case 0x3A: // PtgRef3d
        return Reference3d(false, false);
    case 0x3B: // PtgArea3d
        return Reference3d(true, false);
    case 0x3C: // PtgRefErr3d
        return Reference3d(false, true);
    case 0x3D: // PtgAreaErr3d
        return Reference3d(true, true);
    default:
        return false;
    }
}
} // namespace detail

using detail::Decoder;
namespace fm = formula;

bool DecodeFormula(std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb, const FormulaGlobals& globals,
                   uint32_t row, uint32_t col, bool sharedForm, fm::Formula& out, ReferenceLayout* layout)
{
    Decoder decoder(rgce, rgcb, globals, row, col, sharedForm, out, nullptr, layout);
    if (decoder.Run()) {
        return true;
    }
    out.Clear();
    return false;
}

bool DecodeBiff5Formula(std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb, const FormulaGlobals& globals,
                        uint32_t row, uint32_t col, bool sharedForm, CodePageDecoder& codePage, fm::Formula& out)
{
    Decoder decoder(rgce, rgcb, globals, row, col, sharedForm, out, &codePage);
    if (decoder.Run()) {
        return true;
    }
    out.Clear();
    return false;
}

int ExpressionPointer(std::span<const uint8_t> rgce, uint32_t& row, uint32_t& col)
{
    if (rgce.size() < 5 || (rgce[0] != 0x01 && rgce[0] != 0x02)) {
        return 0;
    }
    row = le::Load16(rgce.data() + 1);
    col = le::Load16(rgce.data() + 3);
    return rgce[0];
}

} // namespace gq::engine::biff
