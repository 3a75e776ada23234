// The pieces of formula text that the Excel and the OpenFormula printers write alike.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/formula/Formula.h"
#include "engine/text/CellReferenceText.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>

namespace gq::engine::formula::detail {

// An operator as Excel writes it. The OpenFormula printer writes intersection and union its own way
// and takes every other operator from here, so that the two cannot drift apart.
inline std::string_view ExcelOpText(Op op)
{
    switch (op) {
    case Op::Add:
    case Op::Plus:
        return "+";
    case Op::Sub:
    case Op::Minus:
        return "-";
    case Op::Mul:
        return "*";
    case Op::Div:
        return "/";
    case Op::Pow:
        return "^";
    case Op::Concat:
        return "&";
    case Op::Eq:
        return "=";
    case Op::Ne:
        return "<>";
    case Op::Lt:
        return "<";
    case Op::Le:
        return "<=";
    case Op::Gt:
        return ">";
    case Op::Ge:
        return ">=";
    case Op::Range:
        return ":";
    case Op::Intersect:
        return " ";
    case Op::Union:
        return ",";
    case Op::None:
        break;
    }
    return "";
}

// A column as letters, A for column 0.
inline void AppendColumn(std::string& out, uint32_t col)
{
    char letters[8];
    out.append(letters, PutColumnLetters(letters, col));
}

// A row as its one-based number.
inline void AppendRow(std::string& out, uint32_t row)
{
    char buf[16];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(row) + 1);
    out.append(buf, end);
}

// Text between quotes, each quote inside doubled.
inline void AppendQuoted(std::string& out, std::string_view text, char quote)
{
    out.push_back(quote);
    for (char c : text) {
        out.push_back(c);
        if (c == quote) {
            out.push_back(quote);
        }
    }
    out.push_back(quote);
}

// One corner of a reference (the last one of an area when `last`), with the '$' of each absolute part;
// a whole-row or whole-column reference has no column or no row.
inline void AppendCorner(std::string& out, const Token& t, bool last)
{
    const bool cols = (t.flags & kWholeRows) == 0;
    const bool rows = (t.flags & kWholeColumns) == 0;
    const uint32_t row = last ? t.area.lastRow : t.area.firstRow;
    const uint32_t col = last ? t.area.lastCol : t.area.firstCol;
    const bool colAbs = (t.flags & (last ? kLastColAbs : kFirstColAbs)) != 0;
    const bool rowAbs = (t.flags & (last ? kLastRowAbs : kFirstRowAbs)) != 0;
    if (cols) {
        if (colAbs) {
            out.push_back('$');
        }
        AppendColumn(out, col);
    }
    if (rows) {
        if (rowAbs) {
            out.push_back('$');
        }
        AppendRow(out, row);
    }
}

} // namespace gq::engine::formula::detail
