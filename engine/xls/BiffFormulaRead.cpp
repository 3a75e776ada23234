// Decoding BIFF8 parsed expressions ([MS-XLS] 2.5.198) into the engine's formula model.
// SPDX-License-Identifier: Apache-2.0
#include "engine/io/LittleEndian.h"
#include "engine/text/SheetNames.h"
#include "engine/xls/BiffFormula.h"
#include "engine/xls/BiffFunctions.h"
#include "engine/xls/BiffText.h"
#include "engine/xls/XlsBook.h"

#include <algorithm>
#include <string_view>

namespace gq::engine::biff {

namespace fm = formula;

namespace {

constexpr uint16_t kUserDefinedFunction = 0xFF; // the function's name is its first argument
constexpr uint16_t kDeletedSheet = 0xFFFF;      // XTI itabFirst of a sheet that is gone
constexpr uint32_t kBiffCols = limits::kXlsMaxCols;
constexpr uint32_t kBiff5Rows = 16384; // Excel 5 and 95 sheets

fm::Op BinaryOp(uint8_t ptg)
{
    // PtgAdd 0x03 through PtgRange 0x11, [MS-XLS] 2.5.198.26 and following.
    static constexpr fm::Op kOps[] = {fm::Op::Add,    fm::Op::Sub, fm::Op::Mul,       fm::Op::Div,   fm::Op::Pow,
                                      fm::Op::Concat, fm::Op::Lt,  fm::Op::Le,        fm::Op::Eq,    fm::Op::Ge,
                                      fm::Op::Gt,     fm::Op::Ne,  fm::Op::Intersect, fm::Op::Union, fm::Op::Range};
    return kOps[ptg - 0x03];
}

// Reads one expression front to back. The stack of operands is only counted, with where each
// operand's tokens begin, so that a user-defined function can find the name its first argument
// holds; the model's tokens are already in the file's order.
class Decoder {
public:
    Decoder(std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb, const FormulaGlobals& globals, uint32_t row,
            uint32_t col, bool sharedForm, fm::Formula& out, CodePageDecoder* biff5 = nullptr,
            ReferenceLayout* layout = nullptr)
        : m_e(rgce), m_x(rgcb), m_g(globals), m_row(row), m_col(col), m_shared(sharedForm), m_out(out),
          m_codePage(biff5), m_rows(biff5 != nullptr ? kBiff5Rows : limits::kXlsMaxRows), m_layout(layout)
    {
        if (m_layout != nullptr) {
            m_layout->fields.clear();
            m_layout->movable = true;
        }
    }

    bool Run()
    {
        m_out.Clear();
        m_starts.clear();
        while (m_p < m_e.size()) {
            if (!Token()) {
                return false;
            }
        }
        return m_starts.size() == 1 && !m_out.tokens.empty();
    }

private:
    bool Has(size_t n) const { return n <= m_e.size() - m_p; }
    uint8_t U8() { return m_e[m_p++]; }
    uint16_t U16()
    {
        uint16_t v = le::Load16(m_e.data() + m_p);
        m_p += 2;
        return v;
    }
    uint32_t U32()
    {
        uint32_t v = le::Load32(m_e.data() + m_p);
        m_p += 4;
        return v;
    }

    fm::Token& Operand(fm::TokenKind kind)
    {
        m_starts.push_back(static_cast<uint32_t>(m_out.tokens.size()));
        fm::Token& t = m_out.tokens.emplace_back();
        t.kind = kind;
        return t;
    }
    // An operator taking `n` operands and giving one.
    bool Operator(fm::TokenKind kind, fm::Op op, size_t n)
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
    bool Function(const char* name, size_t args)
    {
        if (!Operator(fm::TokenKind::Function, fm::Op::None, args)) {
            return false;
        }
        fm::Token& t = m_out.tokens.back();
        t.text = m_out.AddText(name);
        t.count = static_cast<uint16_t>(args);
        return true;
    }

    // The row and column of a reference, RgceLoc or RgceLocRel ([MS-XLS] 2.5.198.104, 2.5.198.105):
    // the column's top bits say which parts are relative (bit 14 the column, bit 15 the row); in
    // the relative form those parts are offsets from the formula's cell, wrapping round the grid
    // as Excel's do.
    void Corner(uint16_t rw, uint16_t colField, bool relForm, uint32_t& row, uint32_t& col, bool& rowAbs,
                bool& colAbs) const
    {
        colAbs = (colField & 0x4000) == 0;
        rowAbs = (colField & 0x8000) == 0;
        row = rw;
        col = colField & 0x3FFF;
        if (relForm && !rowAbs) {
            row = (m_row + static_cast<uint32_t>(static_cast<int16_t>(rw)) + m_rows) % m_rows;
        }
        if (relForm && !colAbs) {
            col = (m_col + static_cast<uint32_t>(static_cast<int8_t>(colField & 0xFF)) + kBiffCols) % kBiffCols;
        }
    }

    // BIFF5 keeps the relative flags in the row (bits 14 and 15 as BIFF8's column has them), 14
    // bits of row and 8 of column: made into BIFF8's fields, with a relative row's offset
    // sign-extended from its 14 bits.
    void Biff5Corner(uint16_t& rw, uint16_t& cf, bool relForm)
    {
        uint16_t raw = rw;
        cf = static_cast<uint16_t>(cf | (raw & 0xC000));
        rw = raw & 0x3FFF;
        if (relForm && (raw & 0x8000) != 0 && (rw & 0x2000) != 0) {
            rw |= 0xC000;
        }
    }

    // Notes where a reference's fields begin (the token's first byte after its ptg and any ixti).
    void Layout(bool area, bool relForm)
    {
        if (m_layout == nullptr) {
            return;
        }
        if (relForm) {
            m_layout->movable = false;
        }
        m_layout->fields.push_back(ReferenceField{static_cast<uint16_t>(m_p), area, true, true, 0});
    }

    void Reference(fm::Token& t, bool relForm)
    {
        Layout(false, relForm);
        uint16_t rw = U16();
        uint16_t cf = m_codePage != nullptr ? U8() : U16();
        if (m_codePage != nullptr) {
            Biff5Corner(rw, cf, relForm);
        }
        bool rowAbs = false;
        bool colAbs = false;
        Corner(rw, cf, relForm, t.area.firstRow, t.area.firstCol, rowAbs, colAbs);
        t.area.lastRow = t.area.firstRow;
        t.area.lastCol = t.area.firstCol;
        t.flags = (colAbs ? fm::kFirstColAbs : 0) | (rowAbs ? fm::kFirstRowAbs : 0);
    }

    void Area(fm::Token& t, bool relForm)
    {
        Layout(true, relForm);
        uint16_t rwFirst = U16();
        uint16_t rwLast = U16();
        uint16_t colFirst = m_codePage != nullptr ? U8() : U16();
        uint16_t colLast = m_codePage != nullptr ? U8() : U16();
        if (m_codePage != nullptr) {
            Biff5Corner(rwFirst, colFirst, relForm);
            Biff5Corner(rwLast, colLast, relForm);
        }
        bool r1 = false;
        bool c1 = false;
        bool r2 = false;
        bool c2 = false;
        Corner(rwFirst, colFirst, relForm, t.area.firstRow, t.area.firstCol, r1, c1);
        Corner(rwLast, colLast, relForm, t.area.lastRow, t.area.lastCol, r2, c2);
        t.flags = (c1 ? fm::kFirstColAbs : 0) | (r1 ? fm::kFirstRowAbs : 0) | (c2 ? fm::kLastColAbs : 0) |
                  (r2 ? fm::kLastRowAbs : 0);
        // BIFF8 has no whole-column or whole-row form: Excel stores A:C as A1:C65536 (A1:C16384
        // in BIFF5) and shows it as A:C again, which is what the model's forms print.
        if (t.area.firstRow == 0 && t.area.lastRow == m_rows - 1) {
            t.flags = (t.flags & (fm::kFirstColAbs | fm::kLastColAbs)) | fm::kWholeColumns;
            t.area.lastRow = 0;
        } else if (t.area.firstCol == 0 && t.area.lastCol == kBiffCols - 1) {
            t.flags = (t.flags & (fm::kFirstRowAbs | fm::kLastRowAbs)) | fm::kWholeRows;
            t.area.lastCol = 0;
        }
    }

    // The sheet part an EXTERNSHEET entry stands for. Gives false for an entry the workbook does
    // not hold; `deleted` tells a reference to a sheet that is gone, which Excel shows as #REF!.
    bool Prefix(uint16_t ixti, uint16_t& prefix, bool& deleted)
    {
        deleted = false;
        if (ixti >= m_g.xtis.size()) {
            return false;
        }
        const Xti& x = m_g.xtis[ixti];
        if (x.supBook >= m_g.supBooks.size()) {
            return false;
        }
        const SupBook& book = m_g.supBooks[x.supBook];
        fm::SheetPrefix p;
        const std::vector<std::string>* sheets = nullptr;
        if (book.kind == SupBook::Kind::Self) {
            sheets = &m_g.sheetNames;
        } else if (book.kind == SupBook::Kind::External) {
            sheets = &book.sheets;
            p.book = book.book;
        } else {
            return false;
        }
        if (x.firstSheet == kDeletedSheet || x.lastSheet == kDeletedSheet) {
            deleted = true;
            return true;
        }
        if (x.firstSheet >= sheets->size() || x.lastSheet >= sheets->size() || x.lastSheet < x.firstSheet) {
            return false;
        }
        p.firstSheet = (*sheets)[x.firstSheet];
        if (x.lastSheet != x.firstSheet) {
            p.lastSheet = (*sheets)[x.lastSheet];
        }
        prefix = m_out.AddPrefix(std::move(p));
        return m_out.prefixes.size() < fm::kNoPrefix;
    }

    // PtgExtraArray, [MS-XLS] 2.5.198.67: the constant data of one PtgArray, after the expression.
    bool ArrayData()
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
    bool Attr()
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

    bool FuncVar()
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

    // A name of this workbook, counted from 1.
    bool OwnName(uint32_t index)
    {
        if (index == 0 || index > m_g.names.size() || m_g.names[index - 1].empty()) {
            return false;
        }
        Operand(fm::TokenKind::Name).text = m_out.AddText(m_g.names[index - 1]);
        return true;
    }

    // PtgNameX of BIFF5: a signed EXTERNSHEET index, eight reserved bytes, the name's index counted
    // from 1, twelve reserved bytes. A negative index means this workbook's NAME records; a positive
    // one the EXTERNNAME records after that EXTERNSHEET record of the sheet's link table.
    bool NameXBiff5()
    {
        if (!Has(24)) {
            return false;
        }
        const auto ixals = static_cast<int16_t>(U16());
        m_p += 8;
        const uint16_t index = U16();
        m_p += 12;
        if (ixals < 0) {
            return OwnName(index);
        }
        if (ixals == 0 || static_cast<size_t>(ixals) > m_g.biff5Links.size()) {
            return false;
        }
        const Biff5Link& link = m_g.biff5Links[static_cast<size_t>(ixals) - 1];
        if (index == 0 || index > link.externNames.size() || link.externNames[index - 1].empty()) {
            return false;
        }
        if (link.kind != Biff5Link::Kind::External && link.kind != Biff5Link::Kind::AddIn) {
            return false;
        }
        ExternName(link.kind == Biff5Link::Kind::External ? &link.book : nullptr, link.externNames[index - 1]);
        return true;
    }

    // Another workbook's name, "[n]!Name" (`book` names the workbook), or an add-in function
    // (`book` null).
    void ExternName(const std::string* book, const std::string& name)
    {
        uint16_t prefix = fm::kNoPrefix;
        if (book != nullptr) {
            fm::SheetPrefix p;
            p.book = *book;
            prefix = m_out.AddPrefix(std::move(p));
        }
        fm::Token& t = Operand(fm::TokenKind::Name);
        t.prefix = prefix;
        t.text = m_out.AddText(name);
    }

    bool NameX()
    {
        if (m_codePage != nullptr) {
            return NameXBiff5();
        }
        if (!Has(6)) {
            return false;
        }
        uint16_t ixti = U16();
        uint32_t index = U32();
        if (ixti >= m_g.xtis.size() || m_g.xtis[ixti].supBook >= m_g.supBooks.size()) {
            return false;
        }
        const SupBook& book = m_g.supBooks[m_g.xtis[ixti].supBook];
        if (book.kind == SupBook::Kind::Self) {
            return OwnName(index);
        }
        if (index == 0 || index > book.externNames.size() || book.externNames[index - 1].empty() ||
            (book.kind != SupBook::Kind::AddIn && book.kind != SupBook::Kind::External)) {
            return false;
        }
        ExternName(book.kind == SupBook::Kind::External ? &book.book : nullptr, book.externNames[index - 1]);
        return true;
    }

    // The sheet part of a BIFF5 3-D reference. A negative EXTERNSHEET index means this workbook,
    // whose sheets the token names by their index (0xFFFF for a sheet that is gone); a positive one
    // counts the records of the sheet's link table from 1, a sheet named there, which the token's
    // sheet fields then do not name.
    bool Biff5Prefix(int16_t ixals, uint16_t first, uint16_t last, uint16_t& prefix, bool& deleted)
    {
        deleted = false;
        const std::vector<std::string>& sheets = m_g.sheetNames;
        fm::SheetPrefix p;
        if (ixals < 0) {
            if (first == kDeletedSheet || last == kDeletedSheet) {
                deleted = true;
                return true;
            }
            if (first >= sheets.size() || last >= sheets.size() || last < first) {
                return false;
            }
            p.firstSheet = sheets[first];
            if (last != first) {
                p.lastSheet = sheets[last];
            }
        } else {
            if (ixals == 0 || static_cast<size_t>(ixals) > m_g.biff5Links.size()) {
                return false;
            }
            const Biff5Link& link = m_g.biff5Links[static_cast<size_t>(ixals) - 1];
            switch (link.kind) {
            case Biff5Link::Kind::OwnSheet: {
                // The workbook's own spelling of the name, which must be one of its sheets.
                auto it = std::find_if(sheets.begin(), sheets.end(),
                                       [&](const std::string& s) { return SameSheetName(s, link.sheet); });
                if (it == sheets.end()) {
                    return false;
                }
                p.firstSheet = *it;
                break;
            }
            case Biff5Link::Kind::ThisSheet:
                if (m_g.formulaSheet >= sheets.size()) {
                    return false;
                }
                p.firstSheet = sheets[m_g.formulaSheet];
                break;
            case Biff5Link::Kind::External:
                if (link.sheet.empty()) {
                    return false;
                }
                p.book = link.book;
                p.firstSheet = link.sheet;
                break;
            default:
                return false;
            }
        }
        prefix = m_out.AddPrefix(std::move(p));
        return m_out.prefixes.size() < fm::kNoPrefix;
    }

    // PtgRef3d, PtgArea3d and their error forms. BIFF8 ([MS-XLS] 2.5.198.85 and following): an
    // XTI index, then the reference. BIFF5: a signed EXTERNSHEET index, eight reserved bytes, the
    // first and last sheet, then the reference.
    bool Reference3d(bool area, bool error)
    {
        const size_t fields = area ? 2 * RefSize() : RefSize();
        const size_t head = m_codePage != nullptr ? 14 : 2;
        if (!Has(head + fields)) {
            return false;
        }
        uint16_t prefix = fm::kNoPrefix;
        bool deleted = false;
        if (m_codePage != nullptr) {
            const auto ixals = static_cast<int16_t>(U16());
            m_p += 8;
            const uint16_t first = U16();
            const uint16_t last = U16();
            if (!Biff5Prefix(ixals, first, last, prefix, deleted)) {
                return false;
            }
        } else if (!Prefix(U16(), prefix, deleted)) {
            return false;
        }
        if (deleted || error) {
            m_p += fields;
            fm::Token& t = Operand(deleted ? fm::TokenKind::Error : fm::TokenKind::RefError);
            if (deleted) {
                t.error = ErrorCode::Ref;
            } else {
                t.prefix = prefix;
            }
            return true;
        }
        fm::Token& t = Operand(area ? fm::TokenKind::Area : fm::TokenKind::Ref);
        t.prefix = prefix;
        if (area) {
            Area(t, m_shared);
        } else {
            Reference(t, m_shared);
        }
        return true;
    }

    // A cell's row and column take four bytes in BIFF8, three in BIFF5.
    size_t RefSize() const { return m_codePage != nullptr ? 3 : 4; }

    bool Token()
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

    std::span<const uint8_t> m_e; // the expression
    std::span<const uint8_t> m_x; // its extra data
    const FormulaGlobals& m_g;
    uint32_t m_row;
    uint32_t m_col;
    bool m_shared;
    fm::Formula& m_out;
    CodePageDecoder* m_codePage; // BIFF5's text; nullptr for BIFF8
    uint32_t m_rows;             // the grid's rows
    ReferenceLayout* m_layout;   // where references lie, when asked
    size_t m_p = 0;
    size_t m_xp = 0;
    // Per operand on the stack, the index of its first token. A decoder lives for one formula;
    // the stack's buffer lives on in the thread, so that decoding a column of formulas does not
    // allocate one a cell.
    std::vector<uint32_t>& m_starts = StartsBuffer();
    std::string m_text;

    static std::vector<uint32_t>& StartsBuffer()
    {
        thread_local std::vector<uint32_t> buffer;
        return buffer;
    }
};

} // namespace

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

void ReadBiff5Link(std::span<const uint8_t> body, CodePageDecoder& codePage, std::vector<std::string>& books,
                   Biff5Link& link)
{
    link = Biff5Link{};
    // A count byte, then the encoded name. Excel's count leaves out the marker before a sheet of
    // this workbook but counts it in the other forms, so the record's own length bounds the name.
    if (body.size() < 2) {
        return;
    }
    const uint8_t marker = body[1];
    std::span<const uint8_t> rest = body.subspan(2);
    std::string text;
    codePage.Append(rest, text);
    switch (marker) {
    case 0x02: // this workbook: the formula's own sheet, or the sheet named after the marker
    case 0x03:
        link.kind = text.empty() ? Biff5Link::Kind::ThisSheet : Biff5Link::Kind::OwnSheet;
        link.sheet = std::move(text);
        return;
    case 0x04:
        link.kind = Biff5Link::Kind::OwnBook;
        return;
    case 0x01: { // an encoded path, "[Book.xls]" and the sheet's name; no sheet for the book itself
        const size_t close = text.rfind(']');
        std::string book = close == std::string::npos ? text : text.substr(0, close + 1);
        link.sheet = close == std::string::npos ? std::string() : text.substr(close + 1);
        auto it = std::find(books.begin(), books.end(), book);
        if (it == books.end()) {
            books.push_back(std::move(book));
            it = books.end() - 1;
        }
        link.kind = Biff5Link::Kind::External;
        link.book = std::to_string(it - books.begin() + 1);
        return;
    }
    case ':': // the add-in functions, as BIFF8's add-in SUPBOOK has it
        link.kind = rest.empty() ? Biff5Link::Kind::AddIn : Biff5Link::Kind::Other;
        return;
    default:
        return;
    }
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

namespace gq::engine::biff {

bool WidenOldExpression(std::span<const uint8_t> rgce, int biff, std::vector<uint8_t>& out)
{
    // The older Excel file-format documentation's token table: BIFF2-4 share BIFF5's operators,
    // constants and cell references; BIFF2-3 name a function in one byte (BIFF4 and later in two)
    // and BIFF2 gives tAttr one byte of data (later versions two). Tokens whose older layout
    // differs otherwise (names, arrays, shared and 3-D forms, tAttrChoose's jump table) are
    // refused: the cell keeps its value.
    out.clear();
    size_t i = 0;
    const auto take = [&](size_t n) {
        if (n > rgce.size() - i) {
            return false;
        }
        out.insert(out.end(), rgce.begin() + static_cast<ptrdiff_t>(i), rgce.begin() + static_cast<ptrdiff_t>(i + n));
        i += n;
        return true;
    };
    while (i < rgce.size()) {
        const uint8_t ptg = rgce[i];
        const uint8_t base = ptg >= 0x20 ? static_cast<uint8_t>((ptg & 0x1F) | 0x20) : ptg;
        bool ok = true;
        switch (base) {
        case 0x03:
        case 0x04:
        case 0x05:
        case 0x06:
        case 0x07:
        case 0x08:
        case 0x09:
        case 0x0A:
        case 0x0B:
        case 0x0C:
        case 0x0D:
        case 0x0E:
        case 0x0F:
        case 0x10:
        case 0x11:
        case 0x12:
        case 0x13:
        case 0x14:
        case 0x15:
        case 0x16: // operators, parentheses, a missing argument
            ok = take(1);
            break;
        case 0x17: // PtgStr: a count byte and code-page text
            ok = i + 1 < rgce.size() && take(2 + rgce[i + 1]);
            break;
        case 0x19: { // PtgAttr
            if (i + 1 >= rgce.size() || (rgce[i + 1] & 0x04) != 0) {
                return false;
            }
            if (biff >= 3) {
                ok = take(4);
            } else {
                ok = take(3);
                out.push_back(0);
            }
            break;
        }
        case 0x1C:
        case 0x1D: // PtgErr, PtgBool
            ok = take(2);
            break;
        case 0x1E: // PtgInt
            ok = take(3);
            break;
        case 0x1F: // PtgNum
            ok = take(9);
            break;
        case 0x21: // PtgFunc
            if (biff >= 4) {
                ok = take(3);
            } else {
                ok = take(2);
                out.push_back(0);
            }
            break;
        case 0x22: // PtgFuncVar
            if (biff >= 4) {
                ok = take(4);
            } else {
                ok = take(3);
                out.push_back(0);
            }
            break;
        case 0x24:
        case 0x2A: // PtgRef, PtgRefErr
            ok = take(4);
            break;
        case 0x25:
        case 0x2B: // PtgArea, PtgAreaErr
            ok = take(7);
            break;
        default:
            return false;
        }
        if (!ok) {
            return false;
        }
    }
    return !out.empty();
}

} // namespace gq::engine::biff
