// A1 references, sheet and workbook prefixes and bracketed parts of formula text, for the parser
// in FormulaParse.cpp.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/FormulaParser.h"

#include "engine/text/CellReferenceText.h"

#include <cstring>

namespace gq::engine::formula::detail {

// One side of an A1 reference at `q`: [$]letters[$]digits, [$]letters or [$]digits.
bool Parser::Part(size_t& q, RefPart& part) const
{
    size_t i = q;
    part = RefPart{};
    bool colAbs = i < m_s.size() && m_s[i] == '$';
    if (colAbs) {
        ++i;
    }
    uint64_t col = 0;
    const size_t letters = ReadColumnLetters(m_s, i, 4, col);
    if (letters > 3 || col > limits::kXlsxMaxCols) {
        return false;
    }
    bool rowAbs = false;
    size_t beforeRow = i;
    if (i < m_s.size() && m_s[i] == '$') {
        rowAbs = true;
        ++i;
    }
    uint64_t row = 0;
    const size_t digits = ReadRowDigits(m_s, i, 8, row);
    if (digits == 0) {
        if (letters == 0 || rowAbs) {
            return false;
        }
        i = beforeRow;
        part.kind = RefPart::Column;
    } else {
        if (row == 0 || row > limits::kXlsxMaxRows || (letters == 0 && colAbs && rowAbs)) {
            return false;
        }
        part.kind = letters == 0 ? RefPart::Row : RefPart::Cell;
        if (letters == 0) {
            rowAbs = colAbs; // "$3": the one dollar sign belongs to the row
            colAbs = false;
        }
        part.row = static_cast<uint32_t>(row - 1);
    }
    part.col = letters > 0 ? static_cast<uint32_t>(col - 1) : 0;
    part.colAbs = colAbs;
    part.rowAbs = rowAbs;
    q = i;
    return true;
}

// A reference ends where a name or function could not go on.
bool Parser::EndsHere(size_t q) const
{
    if (q >= m_s.size()) {
        return true;
    }
    char c = m_s[q];
    return !IsIdentChar(c) && c != '(' && c != '[' && c != '!' && c != '$' && c != '\'';
}

// A1, $A$1:B2, A:C or 1:3 at the current position, with `prefix`. Gives false, moving nothing,
// when the text is not one.
bool Parser::Reference(uint16_t prefix)
{
    size_t q = m_p;
    RefPart a;
    if (!Part(q, a)) {
        return false;
    }
    RefPart b;
    size_t r = q;
    bool second = r < m_s.size() && m_s[r] == ':' && Part(++r, b) && b.kind == a.kind && EndsHere(r);
    Token t;
    t.prefix = prefix;
    if (a.kind == RefPart::Cell) {
        if (second) {
            t.kind = TokenKind::Area;
            q = r;
        } else {
            if (!EndsHere(q)) {
                return false;
            }
            t.kind = TokenKind::Ref;
            b = a;
        }
    } else if (second) {
        t.kind = TokenKind::Area;
        q = r;
        t.flags = a.kind == RefPart::Column ? kWholeColumns : kWholeRows;
    } else {
        return false;
    }
    t.area = CellRange{a.row, a.col, b.row, b.col};
    t.flags |= (a.colAbs ? kFirstColAbs : 0) | (a.rowAbs ? kFirstRowAbs : 0) | (b.colAbs ? kLastColAbs : 0) |
               (b.rowAbs ? kLastRowAbs : 0);
    if (t.kind == TokenKind::Ref) {
        t.flags &= kFirstColAbs | kFirstRowAbs;
    }
    m_f.tokens.push_back(t);
    m_p = q;
    return true;
}

size_t Parser::IdentifierEnd(size_t q) const
{
    while (q < m_s.size() && IsIdentChar(m_s[q])) {
        ++q;
    }
    return q;
}

// What follows a sheet or workbook prefix: a reference, #REF! or a name.
bool Parser::AfterPrefix(SheetPrefix prefix)
{
    uint16_t index = m_f.AddPrefix(std::move(prefix));
    if (m_f.prefixes.size() >= kNoPrefix) {
        return false;
    }
    if (m_s.size() - m_p >= 5 && EqualsNoCase(m_s.substr(m_p, 5), "#REF!")) {
        m_p += 5;
        Emit(TokenKind::RefError).prefix = index;
        return true;
    }
    if (Reference(index)) {
        return true;
    }
    if (AtEnd() || !IsIdentStart(m_s[m_p])) {
        return false;
    }
    size_t end = IdentifierEnd(m_p);
    Token& t = Emit(TokenKind::Name);
    t.prefix = index;
    t.text = m_f.AddText(m_s.substr(m_p, end - m_p));
    m_p = end;
    return true;
}

// Fills `prefix` from the text of a prefix without its quotes: [book]first:last.
bool Parser::SplitPrefix(std::string_view text, SheetPrefix& prefix)
{
    if (!text.empty() && text[0] == '[') {
        size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1) {
            return false; // "[]" names no workbook
        }
        prefix.book = std::string(text.substr(1, close - 1));
        text.remove_prefix(close + 1);
    }
    size_t colon = text.find(':');
    if (colon != std::string_view::npos) {
        prefix.lastSheet = std::string(text.substr(colon + 1));
        text = text.substr(0, colon);
        if (prefix.lastSheet.empty()) {
            return false;
        }
    }
    prefix.firstSheet = std::string(text);
    return !prefix.firstSheet.empty() || !prefix.book.empty();
}

bool Parser::QuotedPrefix()
{
    std::string text;
    if (!QuotedText('\'', text)) {
        return false;
    }
    if (Peek() != '!') {
        return false;
    }
    ++m_p;
    SheetPrefix prefix;
    prefix.quoted = true;
    return SplitPrefix(text, prefix) && AfterPrefix(std::move(prefix));
}

// The text of a bracketed structured-reference part, brackets nested, ' escaping the next one.
bool Parser::SkipBrackets(size_t& q) const
{
    int depth = 0;
    while (q < m_s.size()) {
        char c = m_s[q++];
        if (c == '\'') {
            ++q;
        } else if (c == '[') {
            if (++depth > limits::kMaxFormulaDepth) {
                return false;
            }
        } else if (c == ']' && --depth == 0) {
            return true;
        }
    }
    return false;
}

// [1]Sheet1!A1 and [1]!Name (other workbooks), or a structured reference without its table
// name ([@Col], [[#This Row],[Col]]), which means the table the formula stands in.
bool Parser::Bracket()
{
    size_t close = m_s.find(']', m_p);
    if (close != std::string_view::npos && m_s.substr(m_p + 1, close - m_p - 1).find('[') == std::string_view::npos) {
        size_t q = close + 1;
        size_t end = q;
        if (end < m_s.size() && m_s[end] == '!') {
            std::string_view text = m_s.substr(m_p, close + 1 - m_p);
            m_p = end + 1;
            SheetPrefix prefix;
            return SplitPrefix(text, prefix) && AfterPrefix(std::move(prefix));
        }
        if (end < m_s.size() && IsIdentStart(m_s[end])) {
            end = IdentifierEnd(end);
            if (end < m_s.size() && m_s[end] == ':') {
                end = IdentifierEnd(end + 1);
            }
            if (end < m_s.size() && m_s[end] == '!') {
                std::string_view text = m_s.substr(m_p, end - m_p);
                m_p = end + 1;
                SheetPrefix prefix;
                return SplitPrefix(text, prefix) && AfterPrefix(std::move(prefix));
            }
        }
    }
    size_t q = m_p;
    if (!SkipBrackets(q)) {
        return false;
    }
    Emit(TokenKind::Table).text = m_f.AddText(m_s.substr(m_p, q - m_p));
    m_p = q;
    return true;
}
} // namespace gq::engine::formula::detail
