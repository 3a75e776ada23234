// The xlsx formula text (ECMA-376 Part 1, 18.17) into the token form: operators by precedence,
// literals, names and function calls. References are read in FormulaParseReferences.cpp;
// FormulaPrint.cpp turns tokens back into text.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/FormulaParser.h"

#include <array>
#include <charconv>
#include <cstring>

namespace gq::engine::formula {

namespace detail {

namespace {

constexpr std::array<ErrorCode, 8> kErrors = {ErrorCode::Null, ErrorCode::Div0,       ErrorCode::Value,
                                              ErrorCode::Ref,  ErrorCode::Name,       ErrorCode::Num,
                                              ErrorCode::NA,   ErrorCode::GettingData};

} // namespace

bool Parser::Comparison(bool u)
{
    if (!Concatenation(u)) {
        return false;
    }
    for (;;) {
        SkipSpace();
        Op op = Op::None;
        char c = Peek();
        char d = Peek(1);
        if (c == '=') {
            op = Op::Eq;
            ++m_p;
        } else if (c == '<' && d == '>') {
            op = Op::Ne;
            m_p += 2;
        } else if (c == '<' && d == '=') {
            op = Op::Le;
            m_p += 2;
        } else if (c == '>' && d == '=') {
            op = Op::Ge;
            m_p += 2;
        } else if (c == '<') {
            op = Op::Lt;
            ++m_p;
        } else if (c == '>') {
            op = Op::Gt;
            ++m_p;
        } else {
            return true;
        }
        if (!Concatenation(u)) {
            return false;
        }
        Emit(TokenKind::Binary, op);
    }
}

bool Parser::Concatenation(bool u)
{
    if (!Additive(u)) {
        return false;
    }
    for (;;) {
        SkipSpace();
        if (Peek() != '&') {
            return true;
        }
        ++m_p;
        if (!Additive(u)) {
            return false;
        }
        Emit(TokenKind::Binary, Op::Concat);
    }
}

bool Parser::Additive(bool u)
{
    if (!Multiplicative(u)) {
        return false;
    }
    for (;;) {
        SkipSpace();
        char c = Peek();
        if (c != '+' && c != '-') {
            return true;
        }
        ++m_p;
        if (!Multiplicative(u)) {
            return false;
        }
        Emit(TokenKind::Binary, c == '+' ? Op::Add : Op::Sub);
    }
}

bool Parser::Multiplicative(bool u)
{
    if (!Power(u)) {
        return false;
    }
    for (;;) {
        SkipSpace();
        char c = Peek();
        if (c != '*' && c != '/') {
            return true;
        }
        ++m_p;
        if (!Power(u)) {
            return false;
        }
        Emit(TokenKind::Binary, c == '*' ? Op::Mul : Op::Div);
    }
}

// Exponentiation groups from the left in spreadsheet formulas: 2^3^2 is 64.
bool Parser::Power(bool u)
{
    if (!Unary(u)) {
        return false;
    }
    for (;;) {
        SkipSpace();
        if (Peek() != '^') {
            return true;
        }
        ++m_p;
        if (!Unary(u)) {
            return false;
        }
        Emit(TokenKind::Binary, Op::Pow);
    }
}

// Prefix signs bind tighter than ^ (-2^2 is 4) but looser than %. A run of them ("--A1") is
// read in a loop, not by recursion.
bool Parser::Unary(bool u)
{
    size_t first = m_signs.size();
    for (;;) {
        SkipSpace();
        char c = Peek();
        if (c != '+' && c != '-') {
            break;
        }
        if (m_signs.size() - first >= limits::kMaxFormulaChars) {
            return false;
        }
        m_signs.push_back(c == '+' ? Op::Plus : Op::Minus);
        ++m_p;
    }
    if (!Percent(u)) {
        return false;
    }
    while (m_signs.size() > first) {
        Emit(TokenKind::Unary, m_signs.back());
        m_signs.pop_back();
    }
    return true;
}

bool Parser::Percent(bool u)
{
    if (!Union(u)) {
        return false;
    }
    for (;;) {
        SkipSpace();
        if (Peek() != '%') {
            return true;
        }
        ++m_p;
        Emit(TokenKind::Percent);
    }
}

// A comma joins references only where it does not separate function arguments.
bool Parser::Union(bool u)
{
    if (!Intersection()) {
        return false;
    }
    for (;;) {
        if (!u) {
            return true;
        }
        size_t save = m_p;
        SkipSpace();
        if (Peek() != ',') {
            m_p = save;
            return true;
        }
        ++m_p;
        if (!Intersection()) {
            return false;
        }
        Emit(TokenKind::Binary, Op::Union);
    }
}

bool Parser::StartsOperand(char c)
{
    return IsIdentStart(c) || IsDigit(c) || c == '$' || c == '\'' || c == '"' || c == '#' || c == '(' || c == '{' ||
           c == '[' || c == '.';
}

// A space between two operands is the intersection operator; elsewhere spaces are spacing.
bool Parser::Intersection()
{
    if (!RangeExpression()) {
        return false;
    }
    for (;;) {
        if (AtEnd() || !IsSpace(m_s[m_p])) {
            return true;
        }
        size_t save = m_p;
        SkipSpace();
        if (AtEnd() || !StartsOperand(m_s[m_p])) {
            m_p = save;
            return true;
        }
        if (!RangeExpression()) {
            return false;
        }
        Emit(TokenKind::Binary, Op::Intersect);
    }
}

bool Parser::RangeExpression()
{
    if (!Primary()) {
        return false;
    }
    while (Peek() == ':') {
        ++m_p;
        // No spacing after the colon: "U: n" is no formula, and reading it as the names U and
        // n would print as the column range U:N.
        if (AtEnd() || IsSpace(m_s[m_p]) || !Primary()) {
            return false;
        }
        Emit(TokenKind::Binary, Op::Range);
    }
    return true;
}

bool Parser::Primary()
{
    SkipSpace();
    if (AtEnd()) {
        return false;
    }
    char c = m_s[m_p];
    switch (c) {
    case '"':
        return StringLiteral();
    case '#':
        return ErrorLiteral();
    case '{':
        return ArrayLiteral();
    case '(': {
        if (!Enter()) {
            return false;
        }
        ++m_p;
        if (!Expression(true)) {
            return false;
        }
        SkipSpace();
        if (Peek() != ')') {
            return false;
        }
        ++m_p;
        Emit(TokenKind::Paren);
        Leave();
        return true;
    }
    case '\'':
        return QuotedPrefix();
    case '[':
        return Bracket();
    case '$':
        return Reference(kNoPrefix);
    default:
        break;
    }
    if (IsDigit(c) || c == '.') {
        if (IsDigit(c) && Reference(kNoPrefix)) {
            return true; // a row range such as 1:3
        }
        return NumberLiteral();
    }
    if (IsIdentStart(c)) {
        return Identifier();
    }
    return false;
}

// The text between `quote` at the current position and the next lone one, a doubled quote
// standing for one; false, with the position somewhere inside, when the text ends first.
bool Parser::QuotedText(char quote, std::string& text)
{
    text.clear();
    ++m_p;
    for (;;) {
        if (AtEnd()) {
            return false;
        }
        char c = m_s[m_p++];
        if (c == quote) {
            if (Peek() != quote) {
                return true;
            }
            ++m_p;
        }
        text.push_back(c);
    }
}

bool Parser::StringLiteral()
{
    std::string text;
    if (!QuotedText('"', text)) {
        return false;
    }
    Emit(TokenKind::String).text = m_f.AddText(text);
    return true;
}

// Matches one of the error literals at the current position.
bool Parser::MatchError(ErrorCode& code)
{
    for (ErrorCode e : kErrors) {
        std::string_view t = ErrorText(e);
        if (m_s.size() - m_p >= t.size() && EqualsNoCase(m_s.substr(m_p, t.size()), t)) {
            m_p += t.size();
            code = e;
            return true;
        }
    }
    return false;
}

bool Parser::ErrorLiteral()
{
    ErrorCode code{};
    if (!MatchError(code)) {
        return false;
    }
    Emit(TokenKind::Error).error = code;
    return true;
}

bool Parser::ParseNumber(double& value)
{
    size_t start = m_p;
    while (IsDigit(Peek()) || Peek() == '.') {
        ++m_p;
    }
    if ((Peek() == 'E' || Peek() == 'e') &&
        (IsDigit(Peek(1)) || ((Peek(1) == '+' || Peek(1) == '-') && IsDigit(Peek(2))))) {
        m_p += 2;
        while (IsDigit(Peek())) {
            ++m_p;
        }
    }
    const char* begin = m_s.data() + start;
    const char* end = m_s.data() + m_p;
    auto [ptr, ec] = std::from_chars(begin, end, value);
    return ec == std::errc() && ptr == end;
}

bool Parser::NumberLiteral()
{
    double value = 0;
    if (!ParseNumber(value)) {
        return false;
    }
    Emit(TokenKind::Number).number = value;
    return true;
}

// {1,2;3,4}: rows separated by semicolons, every row as long as the first.
bool Parser::ArrayLiteral()
{
    ++m_p;
    ArrayConstant array;
    uint32_t cols = 0;
    uint32_t rows = 1;
    for (;;) {
        SkipSpace();
        Token value;
        bool negative = false;
        if (Peek() == '-' || Peek() == '+') {
            negative = Peek() == '-';
            ++m_p;
        }
        char c = Peek();
        bool numeric = IsDigit(c) || c == '.';
        if (negative && !numeric) {
            return false; // a sign belongs to numbers only
        }
        if (numeric) {
            double number = 0;
            if (!ParseNumber(number)) {
                return false;
            }
            value.kind = TokenKind::Number;
            value.number = negative ? -number : number;
        } else if (c == '"') {
            size_t mark = m_f.tokens.size();
            if (!StringLiteral()) {
                return false;
            }
            value = m_f.tokens.back();
            m_f.tokens.resize(mark);
        } else if (c == '#') {
            ErrorCode code{};
            if (!MatchError(code)) {
                return false;
            }
            value.kind = TokenKind::Error;
            value.error = code;
        } else if (m_s.size() - m_p >= 4 && EqualsNoCase(m_s.substr(m_p, 4), "TRUE")) {
            m_p += 4;
            value.kind = TokenKind::Boolean;
            value.boolean = true;
        } else if (m_s.size() - m_p >= 5 && EqualsNoCase(m_s.substr(m_p, 5), "FALSE")) {
            m_p += 5;
            value.kind = TokenKind::Boolean;
            value.boolean = false;
        } else {
            return false;
        }
        array.values.push_back(value);
        SkipSpace();
        char sep = Peek();
        ++m_p;
        if (sep == ',') {
            continue;
        }
        if (sep != ';' && sep != '}') {
            return false;
        }
        uint32_t inRow = static_cast<uint32_t>(array.values.size()) - (rows - 1) * cols;
        if (rows == 1) {
            cols = inRow;
        } else if (inRow != cols) {
            return false;
        }
        if (sep == '}') {
            break;
        }
        ++rows;
    }
    if (rows > 0xFFFF || cols > 0xFFFF || m_f.arrays.size() >= 0xFFFF) {
        return false;
    }
    array.rows = static_cast<uint16_t>(rows);
    array.cols = static_cast<uint16_t>(cols);
    m_f.arrays.push_back(std::move(array));
    Emit(TokenKind::Array).count = static_cast<uint16_t>(m_f.arrays.size() - 1);
    return true;
}

bool Parser::Identifier()
{
    size_t start = m_p;
    size_t end = IdentifierEnd(m_p);
    std::string_view ident = m_s.substr(start, end - start);
    char next = end < m_s.size() ? m_s[end] : '\0';
    if (next == '(') {
        return Function(ident, end + 1);
    }
    // An unquoted sheet name is one that needs no quotes: "T1:Data!A1" is the range from T1
    // to Data!A1, not a 3-D reference from a sheet "T1", whose name would have been quoted.
    if (next == '!' && !SheetNameNeedsQuotes(ident)) {
        m_p = end + 1;
        SheetPrefix prefix;
        prefix.firstSheet = std::string(ident);
        return AfterPrefix(std::move(prefix));
    }
    // Data:'it''s'!A1: a 3-D reference whose last sheet alone is quoted, as some programs
    // write it.
    if (next == ':' && end + 1 < m_s.size() && m_s[end + 1] == '\'' && !SheetNameNeedsQuotes(ident)) {
        std::string last;
        size_t q = end + 2;
        for (; q < m_s.size(); ++q) {
            if (m_s[q] == '\'') {
                if (q + 1 < m_s.size() && m_s[q + 1] == '\'') {
                    last.push_back('\'');
                    ++q;
                    continue;
                }
                break;
            }
            last.push_back(m_s[q]);
        }
        // A sheet name holds none of : [ ] * ? / \, so a quoted text with one of them is a whole
        // span or a book reference after a range operator (Name:'Jan:Feb'!A1), not a last sheet.
        const bool sheetName = last.find_first_of(":[]*?/\\") == std::string::npos;
        if (q + 1 < m_s.size() && m_s[q] == '\'' && m_s[q + 1] == '!' && !last.empty() && sheetName) {
            m_p = q + 2;
            SheetPrefix prefix;
            prefix.firstSheet = std::string(ident);
            prefix.lastSheet = std::move(last);
            prefix.quoted = true;
            return AfterPrefix(std::move(prefix));
        }
    }
    if (next == ':' && end + 1 < m_s.size() && IsIdentStart(m_s[end + 1]) && !SheetNameNeedsQuotes(ident)) {
        size_t end2 = IdentifierEnd(end + 1);
        if (end2 < m_s.size() && m_s[end2] == '!' && !SheetNameNeedsQuotes(m_s.substr(end + 1, end2 - end - 1))) {
            m_p = end2 + 1;
            SheetPrefix prefix;
            prefix.firstSheet = std::string(ident);
            prefix.lastSheet = std::string(m_s.substr(end + 1, end2 - end - 1));
            return AfterPrefix(std::move(prefix));
        }
    }
    if (next == '[') {
        size_t q = end;
        if (!SkipBrackets(q)) {
            return false;
        }
        Emit(TokenKind::Table).text = m_f.AddText(m_s.substr(start, q - start));
        m_p = q;
        return true;
    }
    if (Reference(kNoPrefix)) {
        return true;
    }
    if (EqualsNoCase(ident, "TRUE") || EqualsNoCase(ident, "FALSE")) {
        Emit(TokenKind::Boolean).boolean = ident.size() == 4;
        m_p = end;
        return true;
    }
    Emit(TokenKind::Name).text = m_f.AddText(ident);
    m_p = end;
    return true;
}

bool Parser::Function(std::string_view name, size_t afterParen)
{
    if (!Enter()) {
        return false;
    }
    m_p = afterParen;
    uint32_t args = 0;
    SkipSpace();
    if (Peek() == ')') {
        ++m_p;
    } else {
        for (;;) {
            SkipSpace();
            if (Peek() == ',' || Peek() == ')') {
                Emit(TokenKind::Missing);
            } else if (!Expression(false)) {
                return false;
            }
            if (++args > 0xFFFF) {
                return false;
            }
            SkipSpace();
            char c = Peek();
            ++m_p;
            if (c == ')') {
                break;
            }
            if (c != ',') {
                return false;
            }
        }
    }
    Token& t = Emit(TokenKind::Function);
    t.text = m_f.AddText(name);
    t.count = static_cast<uint16_t>(args);
    Leave();
    return true;
}

} // namespace detail

bool ParseFormula(std::string_view text, Formula& out)
{
    out.Clear();
    if (text.size() <= limits::kMaxFormulaChars) {
        detail::Parser parser(text, out);
        if (parser.Run()) {
            return true;
        }
    }
    out.Clear();
    out.unparsed.assign(text);
    return false;
}
} // namespace gq::engine::formula
