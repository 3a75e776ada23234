// The references, sheet prefixes and names of BIFF parsed expressions, for the decoder in
// BiffFormulaRead.cpp.
// SPDX-License-Identifier: Apache-2.0
#include "engine/text/SheetNames.h"
#include "engine/xls/BiffFormulaDecoder.h"
#include "engine/xls/BiffText.h"
#include "engine/xls/XlsBook.h"

#include <algorithm>

namespace gq::engine::biff::detail {

// The row and column of a reference, RgceLoc or RgceLocRel ([MS-XLS] 2.5.198.104, 2.5.198.105):
// the column's top bits say which parts are relative (bit 14 the column, bit 15 the row); in
// the relative form those parts are offsets from the formula's cell, wrapping round the grid
// as Excel's do.
void Decoder::Corner(uint16_t rw, uint16_t colField, bool relForm, uint32_t& row, uint32_t& col, bool& rowAbs,
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
void Decoder::Biff5Corner(uint16_t& rw, uint16_t& cf, bool relForm)
{
    uint16_t raw = rw;
    cf = static_cast<uint16_t>(cf | (raw & 0xC000));
    rw = raw & 0x3FFF;
    if (relForm && (raw & 0x8000) != 0 && (rw & 0x2000) != 0) {
        rw |= 0xC000;
    }
}

// Notes where a reference's fields begin (the token's first byte after its ptg and any ixti).
void Decoder::Layout(bool area, bool relForm)
{
    if (m_layout == nullptr) {
        return;
    }
    if (relForm) {
        m_layout->movable = false;
    }
    m_layout->fields.push_back(ReferenceField{static_cast<uint16_t>(m_p), area, true, true, 0});
}

void Decoder::Reference(fm::Token& t, bool relForm)
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

void Decoder::Area(fm::Token& t, bool relForm)
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
bool Decoder::Prefix(uint16_t ixti, uint16_t& prefix, bool& deleted)
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

// A name of this workbook, counted from 1.
bool Decoder::OwnName(uint32_t index)
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
bool Decoder::NameXBiff5()
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
void Decoder::ExternName(const std::string* book, const std::string& name)
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

bool Decoder::NameX()
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
bool Decoder::Biff5Prefix(int16_t ixals, uint16_t first, uint16_t last, uint16_t& prefix, bool& deleted)
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
bool Decoder::Reference3d(bool area, bool error)
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
} // namespace gq::engine::biff::detail
