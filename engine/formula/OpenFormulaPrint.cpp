// The token form printed as OpenFormula (ODF 1.3 Part 4), for the table:formula attributes of the
// OpenDocument writer: references in brackets, semicolons between arguments, '~' and '!' for union
// and intersection. OpenFormula.cpp reads such text back.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/Formula.h"
#include "engine/formula/FormulaPrintParts.h"
#include "engine/formula/OpenFormula.h"

#include <charconv>
#include <cmath>
#include <vector>

namespace gq::engine::formula {

namespace {

using detail::AppendCorner;
using detail::AppendQuoted;

// The shortest text that reads back as the same double.
void AppendNumber(std::string& out, double value)
{
    char buf[32];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    out.append(buf, ec == std::errc() ? end : buf);
}

// A sheet name as a reference names it, '$' first: references from xlsx and xls never move to
// another sheet, which OpenFormula says with an absolute sheet. Names other than plain words are
// quoted (OpenFormula 5.8, SheetName).
void AppendSheet(std::string& out, std::string_view sheet)
{
    out.push_back('$');
    bool plain = !sheet.empty() && !(sheet[0] >= '0' && sheet[0] <= '9');
    for (char c : sheet) {
        const bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                          static_cast<unsigned char>(c) >= 0x80;
        plain = plain && word;
    }
    if (plain) {
        out += sheet;
    } else {
        AppendQuoted(out, sheet, '\'');
    }
}

bool AppendReference(std::string& out, const Formula& f, const Token& t)
{
    const SheetPrefix* prefix = t.prefix < f.prefixes.size() ? &f.prefixes[t.prefix] : nullptr;
    if (prefix != nullptr && (!prefix->book.empty() || prefix->firstSheet.empty())) {
        return false; // another workbook
    }
    if (t.kind == TokenKind::RefError) {
        out += "#REF!";
        return true;
    }
    out.push_back('[');
    if (prefix != nullptr) {
        AppendSheet(out, prefix->firstSheet);
    }
    out.push_back('.');
    AppendCorner(out, t, false);
    if (t.kind == TokenKind::Area) {
        out.push_back(':');
        if (prefix != nullptr && !prefix->lastSheet.empty()) {
            AppendSheet(out, prefix->lastSheet);
        }
        out.push_back('.');
        AppendCorner(out, t, true);
    }
    out.push_back(']');
    return true;
}

bool AppendConstant(std::string& out, const Formula& f, const Token& t, bool inArray)
{
    switch (t.kind) {
    case TokenKind::Number:
        AppendNumber(out, t.number);
        return true;
    case TokenKind::String:
        AppendQuoted(out, t.text < f.texts.size() ? f.texts[t.text] : std::string(), '"');
        return true;
    case TokenKind::Boolean:
        // OpenFormula's logical values are the functions TRUE() and FALSE(), which an inline
        // array cannot hold.
        if (inArray) {
            return false;
        }
        out += t.boolean ? "TRUE()" : "FALSE()";
        return true;
    case TokenKind::Error:
        if (inArray) {
            return false;
        }
        out += ErrorText(t.error);
        return true;
    default:
        return false;
    }
}

// A function as OpenFormula names it: the functions Excel added after 2007 carry "_xlfn." in xlsx
// and "COM.MICROSOFT." in OpenDocument, as LibreOffice writes them.
std::string FunctionName(std::string_view name)
{
    for (std::string_view prefix : {std::string_view("_xlfn._xlws."), std::string_view("_xlfn.")}) {
        if (name.starts_with(prefix)) {
            return "COM.MICROSOFT." + std::string(name.substr(prefix.size()));
        }
    }
    return std::string(name);
}

// OpenFormula writes intersection and union as '!' and '~' (a space and a comma mean other things
// there); every other operator as Excel does.
std::string_view OpText(Op op)
{
    switch (op) {
    case Op::Intersect:
        return "!";
    case Op::Union:
        return "~";
    default:
        return detail::ExcelOpText(op);
    }
}

} // namespace

bool PrintOpenFormula(const Formula& f, std::string& out)
{
    if (!f.Parsed()) {
        return false;
    }
    std::vector<std::string> stack;
    stack.reserve(8);
    for (const Token& t : f.tokens) {
        switch (t.kind) {
        case TokenKind::Number:
        case TokenKind::String:
        case TokenKind::Boolean:
        case TokenKind::Error:
            if (!AppendConstant(stack.emplace_back(), f, t, false)) {
                return false;
            }
            break;
        case TokenKind::Missing:
            stack.emplace_back();
            break;
        case TokenKind::Ref:
        case TokenKind::Area:
        case TokenKind::RefError:
            if (!AppendReference(stack.emplace_back(), f, t)) {
                return false;
            }
            break;
        case TokenKind::Name:
            if (t.prefix < f.prefixes.size() || t.text >= f.texts.size()) {
                return false;
            }
            stack.push_back(f.texts[t.text]);
            break;
        case TokenKind::Table:
            return false;
        case TokenKind::Array: {
            if (t.count >= f.arrays.size()) {
                return false;
            }
            std::string& s = stack.emplace_back("{");
            const ArrayConstant& a = f.arrays[t.count];
            for (size_t i = 0; i < a.values.size(); ++i) {
                if (i > 0) {
                    s.push_back(a.cols != 0 && i % a.cols == 0 ? '|' : ';');
                }
                if (!AppendConstant(s, f, a.values[i], true)) {
                    return false;
                }
            }
            s.push_back('}');
            break;
        }
        case TokenKind::Function: {
            if (t.count > stack.size() || t.text >= f.texts.size()) {
                return false;
            }
            std::string s = FunctionName(f.texts[t.text]);
            s.push_back('(');
            for (size_t i = stack.size() - t.count; i < stack.size(); ++i) {
                if (i > stack.size() - t.count) {
                    s.push_back(';');
                }
                s += stack[i];
            }
            s.push_back(')');
            stack.resize(stack.size() - t.count);
            stack.push_back(std::move(s));
            break;
        }
        case TokenKind::Unary:
            if (stack.empty()) {
                return false;
            }
            stack.back().insert(0, OpText(t.op));
            break;
        case TokenKind::Percent:
            if (stack.empty()) {
                return false;
            }
            stack.back().push_back('%');
            break;
        case TokenKind::Paren:
            if (stack.empty()) {
                return false;
            }
            stack.back().insert(stack.back().begin(), '(');
            stack.back().push_back(')');
            break;
        case TokenKind::Binary: {
            if (stack.size() < 2) {
                return false;
            }
            std::string rhs = std::move(stack.back());
            stack.pop_back();
            stack.back() += OpText(t.op);
            stack.back() += rhs;
            break;
        }
        }
    }
    if (stack.size() != 1) {
        return false;
    }
    out += stack.back();
    return true;
}

} // namespace gq::engine::formula
