// The xlsx formula text (ECMA-376 Part 1, 18.17) into the token form: a precedence-climbing parser
// that emits tokens in evaluation order, and the rule for which sheet names a reference quotes.
// FormulaPrint.cpp turns tokens back into text.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/Formula.h"

#include <array>
#include <charconv>
#include <cstring>

namespace gq::engine::formula {

void Formula::Clear()
{
    tokens.clear();
    texts.clear();
    prefixes.clear();
    arrays.clear();
    unparsed.clear();
}

uint32_t Formula::AddText(std::string_view text)
{
    texts.emplace_back(text);
    return static_cast<uint32_t>(texts.size() - 1);
}

uint16_t Formula::AddPrefix(SheetPrefix prefix)
{
    for (size_t i = 0; i < prefixes.size(); ++i) {
        if (prefixes[i] == prefix) {
            return static_cast<uint16_t>(i);
        }
    }
    prefixes.push_back(std::move(prefix));
    return static_cast<uint16_t>(prefixes.size() - 1);
}

namespace {

bool IsAsciiLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
// Defined names and unquoted sheet names start with a letter, an underscore or a backslash; text
// beyond ASCII counts as letters, as in names written in other scripts.
bool IsIdentStart(char c)
{
    return IsAsciiLetter(c) || c == '_' || c == '\\' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsIdentChar(char c)
{
    return IsIdentStart(c) || IsDigit(c) || c == '.' || c == '?';
}
bool IsSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

bool EqualsNoCase(std::string_view a, std::string_view b);

// Whether a sheet name must be quoted in a reference (SheetNameNeedsQuotes); `columnNames`: also a
// name of one to three letters, which a reader could take for a column at either end of a 3-D
// range ("A:B!B2" beside the columns A:B, "Jan:Mar!A1" beside JAN:MAR). The parser takes such
// names unquoted, as other programs write them: before '!' they can be nothing else.
bool NeedsQuotes(std::string_view name, bool columnNames)
{
    if (name.empty() || !IsIdentStart(name[0]) || name[0] == '\\') {
        return true;
    }
    for (char c : name) {
        if (!IsAsciiLetter(c) && !IsDigit(c) && c != '_' && c != '.' && static_cast<unsigned char>(c) < 0x80) {
            return true;
        }
    }
    // Names a reader could take for an A1 cell (AB12), an R1C1 reference (R, C, R2C3, R[1]) or a
    // boolean.
    size_t i = 0;
    while (i < name.size() && IsAsciiLetter(name[i])) {
        ++i;
    }
    size_t letters = i;
    while (i < name.size() && IsDigit(name[i])) {
        ++i;
    }
    if (i == name.size() && letters <= 3 && (letters < name.size() || columnNames)) {
        return true;
    }
    if (EqualsNoCase(name, "TRUE") || EqualsNoCase(name, "FALSE")) {
        return true;
    }
    char first = static_cast<char>(name[0] & ~0x20);
    if (first == 'R' || first == 'C') {
        size_t j = 1;
        while (j < name.size() && IsDigit(name[j])) {
            ++j;
        }
        if (j == name.size()) {
            return true; // R, C, R12, C7
        }
        if (first == 'R' && (name[j] & ~0x20) == 'C') {
            ++j;
            while (j < name.size() && IsDigit(name[j])) {
                ++j;
            }
            return j == name.size(); // R1C1
        }
    }
    return false;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'a' && x <= 'z') {
            x = static_cast<char>(x - 32);
        }
        if (y >= 'a' && y <= 'z') {
            y = static_cast<char>(y - 32);
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

constexpr std::array<ErrorCode, 8> kErrors = {ErrorCode::Null, ErrorCode::Div0,       ErrorCode::Value,
                                              ErrorCode::Ref,  ErrorCode::Name,       ErrorCode::Num,
                                              ErrorCode::NA,   ErrorCode::GettingData};

// One part of an A1 reference: a column, a row or both, each possibly absolute.
struct RefPart {
    enum Kind : uint8_t { None, Cell, Column, Row } kind = None;
    uint32_t row = 0;
    uint32_t col = 0;
    bool rowAbs = false;
    bool colAbs = false;
};

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

    bool Comparison(bool u)
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

    bool Concatenation(bool u)
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

    bool Additive(bool u)
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

    bool Multiplicative(bool u)
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
    bool Power(bool u)
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
    bool Unary(bool u)
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

    bool Percent(bool u)
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
    bool Union(bool u)
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

    static bool StartsOperand(char c)
    {
        return IsIdentStart(c) || IsDigit(c) || c == '$' || c == '\'' || c == '"' || c == '#' || c == '(' || c == '{' ||
               c == '[' || c == '.';
    }

    // A space between two operands is the intersection operator; elsewhere spaces are spacing.
    bool Intersection()
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

    bool RangeExpression()
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

    bool Primary()
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

    bool StringLiteral()
    {
        std::string text;
        ++m_p;
        for (;;) {
            if (AtEnd()) {
                return false;
            }
            char c = m_s[m_p++];
            if (c == '"') {
                if (Peek() != '"') {
                    break;
                }
                ++m_p;
            }
            text.push_back(c);
        }
        Emit(TokenKind::String).text = m_f.AddText(text);
        return true;
    }

    // Matches one of the error literals at the current position.
    bool MatchError(ErrorCode& code)
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

    bool ErrorLiteral()
    {
        ErrorCode code{};
        if (!MatchError(code)) {
            return false;
        }
        Emit(TokenKind::Error).error = code;
        return true;
    }

    bool ParseNumber(double& value)
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

    bool NumberLiteral()
    {
        double value = 0;
        if (!ParseNumber(value)) {
            return false;
        }
        Emit(TokenKind::Number).number = value;
        return true;
    }

    // {1,2;3,4}: rows separated by semicolons, every row as long as the first.
    bool ArrayLiteral()
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

    // One side of an A1 reference at `q`: [$]letters[$]digits, [$]letters or [$]digits.
    bool Part(size_t& q, RefPart& part) const
    {
        size_t i = q;
        part = RefPart{};
        bool colAbs = i < m_s.size() && m_s[i] == '$';
        if (colAbs) {
            ++i;
        }
        uint32_t col = 0;
        size_t letters = 0;
        while (i < m_s.size() && IsAsciiLetter(m_s[i]) && letters < 4) {
            col = col * 26 + static_cast<uint32_t>((m_s[i] | 0x20) - 'a' + 1);
            ++i;
            ++letters;
        }
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
        size_t digits = 0;
        while (i < m_s.size() && IsDigit(m_s[i]) && digits < 8) {
            row = row * 10 + static_cast<uint64_t>(m_s[i] - '0');
            ++i;
            ++digits;
        }
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
        part.col = letters > 0 ? col - 1 : 0;
        part.colAbs = colAbs;
        part.rowAbs = rowAbs;
        q = i;
        return true;
    }

    // A reference ends where a name or function could not go on.
    bool EndsHere(size_t q) const
    {
        if (q >= m_s.size()) {
            return true;
        }
        char c = m_s[q];
        return !IsIdentChar(c) && c != '(' && c != '[' && c != '!' && c != '$' && c != '\'';
    }

    // A1, $A$1:B2, A:C or 1:3 at the current position, with `prefix`. Gives false, moving nothing,
    // when the text is not one.
    bool Reference(uint16_t prefix)
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

    size_t IdentifierEnd(size_t q) const
    {
        while (q < m_s.size() && IsIdentChar(m_s[q])) {
            ++q;
        }
        return q;
    }

    // What follows a sheet or workbook prefix: a reference, #REF! or a name.
    bool AfterPrefix(SheetPrefix prefix)
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
    static bool SplitPrefix(std::string_view text, SheetPrefix& prefix)
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

    bool QuotedPrefix()
    {
        std::string text;
        ++m_p;
        for (;;) {
            if (AtEnd()) {
                return false;
            }
            char c = m_s[m_p++];
            if (c == '\'') {
                if (Peek() != '\'') {
                    break;
                }
                ++m_p;
            }
            text.push_back(c);
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
    bool SkipBrackets(size_t& q) const
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
    bool Bracket()
    {
        size_t close = m_s.find(']', m_p);
        if (close != std::string_view::npos &&
            m_s.substr(m_p + 1, close - m_p - 1).find('[') == std::string_view::npos) {
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

    bool Identifier()
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
        if (next == '!' && !NeedsQuotes(ident, false)) {
            m_p = end + 1;
            SheetPrefix prefix;
            prefix.firstSheet = std::string(ident);
            return AfterPrefix(std::move(prefix));
        }
        // Data:'it''s'!A1: a 3-D reference whose last sheet alone is quoted, as some programs
        // write it.
        if (next == ':' && end + 1 < m_s.size() && m_s[end + 1] == '\'' && !NeedsQuotes(ident, false)) {
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
        if (next == ':' && end + 1 < m_s.size() && IsIdentStart(m_s[end + 1]) && !NeedsQuotes(ident, false)) {
            size_t end2 = IdentifierEnd(end + 1);
            if (end2 < m_s.size() && m_s[end2] == '!' && !NeedsQuotes(m_s.substr(end + 1, end2 - end - 1), false)) {
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

    bool Function(std::string_view name, size_t afterParen)
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

    std::string_view m_s;
    Formula& m_f;
    size_t m_p = 0;
    int m_depth = 0;
    std::vector<Op> m_signs;
};

} // namespace

bool SheetNameNeedsQuotes(std::string_view name)
{
    return NeedsQuotes(name, false);
}

bool SheetNameInRangeNeedsQuotes(std::string_view name)
{
    return NeedsQuotes(name, true);
}

bool ParseFormula(std::string_view text, Formula& out)
{
    out.Clear();
    if (text.size() <= limits::kMaxFormulaChars) {
        Parser parser(text, out);
        if (parser.Run()) {
            return true;
        }
    }
    out.Clear();
    out.unparsed.assign(text);
    return false;
}
} // namespace gq::engine::formula
