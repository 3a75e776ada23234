// The formula text parser shared by FormulaParse.cpp (operators, literals, names, functions) and
// FormulaParseReferences.cpp (references, sheet prefixes, brackets); internal to engine/formula.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/formula/Formula.h"
#include "engine/formula/FormulaChars.h"

#include <string_view>
#include <vector>

namespace gq::engine::formula::detail {

// One part of an A1 reference: a column, a row or both, each possibly absolute.
struct RefPart {
    enum Kind : uint8_t { None, Cell, Column, Row } kind = None;
    uint32_t row = 0;
    uint32_t col = 0;
    bool rowAbs = false;
    bool colAbs = false;
};

// A precedence-climbing parser of one formula text that emits tokens in evaluation order.
class Parser {
public:
    Parser(std::string_view text, Formula& out) : m_s(text), m_f(out) {}

    bool Run()
    {
        if (!Expression(true)) {
            return false;
        }
        SkipSpace();
        return m_p == m_s.size() && !m_f.tokens.empty();
    }

private:
    bool AtEnd() const { return m_p >= m_s.size(); }
    char Peek(size_t ahead = 0) const { return m_p + ahead < m_s.size() ? m_s[m_p + ahead] : '\0'; }
    void SkipSpace()
    {
        while (!AtEnd() && IsSpace(m_s[m_p])) {
            ++m_p;
        }
    }

    Token& Emit(TokenKind kind, Op op = Op::None)
    {
        Token& t = m_f.tokens.emplace_back();
        t.kind = kind;
        t.op = op;
        return t;
    }

    // Nesting (parentheses, function calls, array constants) is what the parser recurses on, so
    // it is bounded; deeper text stays unparsed.
    bool Enter() { return ++m_depth <= limits::kMaxFormulaDepth; }
    void Leave() { --m_depth; }

    bool Expression(bool allowUnion) { return Comparison(allowUnion); }

    bool Comparison(bool u);
    bool Concatenation(bool u);
    bool Additive(bool u);
    bool Multiplicative(bool u);
    bool Power(bool u);
    bool Unary(bool u);
    bool Percent(bool u);
    bool Union(bool u);
    static bool StartsOperand(char c);
    bool Intersection();
    bool RangeExpression();
    bool Primary();
    bool QuotedText(char quote, std::string& text);
    bool StringLiteral();
    bool MatchError(ErrorCode& code);
    bool ErrorLiteral();
    bool ParseNumber(double& value);
    bool NumberLiteral();
    bool ArrayLiteral();

    // References, sheet prefixes and brackets (FormulaParseReferences.cpp).
    bool Part(size_t& q, RefPart& part) const;
    bool EndsHere(size_t q) const;
    bool Reference(uint16_t prefix);
    size_t IdentifierEnd(size_t q) const;
    bool AfterPrefix(SheetPrefix prefix);
    static bool SplitPrefix(std::string_view text, SheetPrefix& prefix);
    bool QuotedPrefix();
    bool SkipBrackets(size_t& q) const;
    bool Bracket();

    bool Identifier();
    bool Function(std::string_view name, size_t afterParen);

    std::string_view m_s;
    Formula& m_f;
    size_t m_p = 0;
    int m_depth = 0;
    std::vector<Op> m_signs;
};

} // namespace gq::engine::formula::detail
