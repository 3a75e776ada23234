// The token form back into the xlsx formula text (ECMA-376 Part 1, 18.17): the tokens, in
// evaluation order, are evaluated on a stack of texts. FormulaParse.cpp reads the text.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/Formula.h"
#include "engine/formula/FormulaPrintParts.h"

#include "engine/text/CellReferenceText.h"

#include <charconv>
#include <cmath>
#include <string>
#include <vector>

namespace gq::engine::formula {

namespace {

using detail::AppendCorner;
using detail::AppendQuoted;
using detail::ExcelOpText;

// The shortest text that reads back as the same double. Numbers from 0.0001 to below 1E+15 are
// written out in full, as Excel and LibreOffice show them (100000, not 1e+05, which is shorter);
// others in scientific notation.
void AppendNumber(std::string& out, double value)
{
    char buf[32];
    const double magnitude = std::fabs(value);
    const bool full = magnitude >= 1e-4 && magnitude < 1e15;
    auto [end, ec] = full ? std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed)
                          : std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, ec == std::errc() ? end : buf);
}

void AppendPrefix(std::string& out, const SheetPrefix& prefix)
{
    const bool threeD = !prefix.lastSheet.empty();
    bool quote = prefix.quoted || (threeD ? SheetNameInRangeNeedsQuotes(prefix.firstSheet) ||
                                                SheetNameInRangeNeedsQuotes(prefix.lastSheet)
                                          : SheetNameNeedsQuotes(prefix.firstSheet));
    if (prefix.firstSheet.empty()) {
        // [1]!Name, as the source wrote it: a quoted workbook prefix ('[a[b]'!A1, whose workbook
        // name holds a bracket) reads back only quoted.
        quote = prefix.quoted;
    }
    std::string inner;
    if (!prefix.book.empty() || prefix.firstSheet.empty()) {
        inner += '[';
        inner += prefix.book;
        inner += ']';
    }
    inner += prefix.firstSheet;
    if (!prefix.lastSheet.empty()) {
        inner += ':';
        inner += prefix.lastSheet;
    }
    if (quote) {
        AppendQuoted(out, inner, '\'');
    } else {
        out += inner;
    }
    out.push_back('!');
}

void AppendConstant(std::string& out, const Formula& f, const Token& t)
{
    switch (t.kind) {
    case TokenKind::Number:
        AppendNumber(out, t.number);
        break;
    case TokenKind::String:
        AppendQuoted(out, t.text < f.texts.size() ? f.texts[t.text] : std::string(), '"');
        break;
    case TokenKind::Boolean:
        out += t.boolean ? "TRUE" : "FALSE";
        break;
    case TokenKind::Error:
        out += ErrorText(t.error);
        break;
    default:
        break;
    }
}

} // namespace

void PrintFormula(const Formula& f, std::string& out)
{
    if (!f.Parsed()) {
        out += f.unparsed;
        return;
    }
    std::vector<std::string> stack;
    stack.reserve(8);
    auto pop = [&stack]() {
        std::string s = std::move(stack.back());
        stack.pop_back();
        return s;
    };
    for (const Token& t : f.tokens) {
        switch (t.kind) {
        case TokenKind::Number:
        case TokenKind::String:
        case TokenKind::Boolean:
        case TokenKind::Error:
            AppendConstant(stack.emplace_back(), f, t);
            break;
        case TokenKind::Missing:
            stack.emplace_back();
            break;
        case TokenKind::Ref:
        case TokenKind::Area:
        case TokenKind::RefError: {
            std::string& s = stack.emplace_back();
            if (t.prefix < f.prefixes.size()) {
                AppendPrefix(s, f.prefixes[t.prefix]);
            }
            if (t.kind == TokenKind::RefError) {
                s += "#REF!";
                break;
            }
            AppendCorner(s, t, false);
            if (t.kind == TokenKind::Area) {
                s.push_back(':');
                AppendCorner(s, t, true);
            }
            break;
        }
        case TokenKind::Name:
        case TokenKind::Table: {
            std::string& s = stack.emplace_back();
            if (t.prefix < f.prefixes.size()) {
                AppendPrefix(s, f.prefixes[t.prefix]);
            }
            if (t.text < f.texts.size()) {
                s += f.texts[t.text];
            }
            break;
        }
        case TokenKind::Array: {
            std::string& s = stack.emplace_back("{");
            if (t.count < f.arrays.size()) {
                const ArrayConstant& a = f.arrays[t.count];
                for (size_t i = 0; i < a.values.size(); ++i) {
                    if (i > 0) {
                        s.push_back(a.cols != 0 && i % a.cols == 0 ? ';' : ',');
                    }
                    AppendConstant(s, f, a.values[i]);
                }
            }
            s.push_back('}');
            break;
        }
        case TokenKind::Function: {
            size_t n = std::min<size_t>(t.count, stack.size());
            std::string s = t.text < f.texts.size() ? f.texts[t.text] : std::string();
            s.push_back('(');
            for (size_t i = stack.size() - n; i < stack.size(); ++i) {
                if (i > stack.size() - n) {
                    s.push_back(',');
                }
                s += stack[i];
            }
            s.push_back(')');
            stack.resize(stack.size() - n);
            stack.push_back(std::move(s));
            break;
        }
        case TokenKind::Unary:
            if (!stack.empty()) {
                stack.back().insert(0, ExcelOpText(t.op));
            }
            break;
        case TokenKind::Percent:
            if (!stack.empty()) {
                stack.back().push_back('%');
            }
            break;
        case TokenKind::Paren:
            if (!stack.empty()) {
                stack.back().insert(stack.back().begin(), '(');
                stack.back().push_back(')');
            }
            break;
        case TokenKind::Binary:
            if (stack.size() >= 2) {
                std::string rhs = pop();
                stack.back() += ExcelOpText(t.op);
                stack.back() += rhs;
            }
            break;
        }
    }
    for (const std::string& s : stack) {
        out += s;
    }
}

std::string PrintFormula(const Formula& formula)
{
    std::string out;
    PrintFormula(formula, out);
    return out;
}

} // namespace gq::engine::formula
