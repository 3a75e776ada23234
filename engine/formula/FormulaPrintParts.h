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

} // namespace gq::engine::formula::detail
