// Moving a formula's references, as pasting it elsewhere does: relative parts follow the cell,
// absolute parts stay, and whatever leaves the grid becomes #REF!.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/Formula.h"

#include <algorithm>

namespace gq::engine::formula {

namespace {

// Moves one coordinate unless it is absolute; false when it leaves [0, limit).
bool MoveCoordinate(uint32_t& value, int64_t by, bool absolute, uint32_t limit)
{
    if (absolute) {
        return value < limit;
    }
    int64_t moved = static_cast<int64_t>(value) + by;
    if (moved < 0 || moved >= static_cast<int64_t>(limit)) {
        return false;
    }
    value = static_cast<uint32_t>(moved);
    return true;
}

} // namespace

bool MoveReference(Token& t, int64_t rows, int64_t cols, const Grid& grid, bool absoluteToo)
{
    if (t.kind != TokenKind::Ref && t.kind != TokenKind::Area) {
        return true;
    }
    CellRange a = t.area;
    bool moveRows = (t.flags & kWholeColumns) == 0;
    bool moveCols = (t.flags & kWholeRows) == 0;
    auto fixed = [&](uint8_t flag) { return !absoluteToo && (t.flags & flag) != 0; };
    bool ok = true;
    if (moveRows) {
        ok = MoveCoordinate(a.firstRow, rows, fixed(kFirstRowAbs), grid.rows) && ok;
        if (t.kind == TokenKind::Area) {
            ok = MoveCoordinate(a.lastRow, rows, fixed(kLastRowAbs), grid.rows) && ok;
        }
    }
    if (moveCols) {
        ok = MoveCoordinate(a.firstCol, cols, fixed(kFirstColAbs), grid.cols) && ok;
        if (t.kind == TokenKind::Area) {
            ok = MoveCoordinate(a.lastCol, cols, fixed(kLastColAbs), grid.cols) && ok;
        }
    }
    if (!ok) {
        t.kind = TokenKind::RefError;
        t.flags = 0;
        return false;
    }
    t.area = a;
    return true;
}

bool MoveFormula(Formula& formula, int64_t rows, int64_t cols, const Grid& grid)
{
    bool intact = true;
    for (Token& t : formula.tokens) {
        intact = MoveReference(t, rows, cols, grid) && intact;
    }
    return intact;
}

bool MovesWithin(const Formula& formula, int64_t rows, int64_t cols, const Grid& grid)
{
    for (const Token& t : formula.tokens) {
        if (t.kind == TokenKind::Ref || t.kind == TokenKind::Area) {
            Token copy = t;
            if (!MoveReference(copy, rows, cols, grid)) {
                return false;
            }
        }
    }
    return true;
}

MoveBounds BoundsOfMoves(const Formula& formula, const Grid& grid)
{
    MoveBounds b;
    // One coordinate moving unless absolute (MoveCoordinate): a relative one allows the moves
    // that keep it in [0, limit), an absolute one every move or none.
    auto limit = [](int64_t& low, int64_t& high, uint32_t value, bool absolute, uint32_t size) {
        if (absolute) {
            if (value >= size) {
                low = 1;
                high = 0;
            }
            return;
        }
        low = std::max(low, -static_cast<int64_t>(value));
        high = std::min(high, static_cast<int64_t>(size) - 1 - static_cast<int64_t>(value));
    };
    for (const Token& t : formula.tokens) {
        if (t.kind != TokenKind::Ref && t.kind != TokenKind::Area) {
            continue;
        }
        const bool area = t.kind == TokenKind::Area;
        if ((t.flags & kWholeColumns) == 0) {
            limit(b.minRows, b.maxRows, t.area.firstRow, (t.flags & kFirstRowAbs) != 0, grid.rows);
            if (area) {
                limit(b.minRows, b.maxRows, t.area.lastRow, (t.flags & kLastRowAbs) != 0, grid.rows);
            }
        }
        if ((t.flags & kWholeRows) == 0) {
            limit(b.minCols, b.maxCols, t.area.firstCol, (t.flags & kFirstColAbs) != 0, grid.cols);
            if (area) {
                limit(b.minCols, b.maxCols, t.area.lastCol, (t.flags & kLastColAbs) != 0, grid.cols);
            }
        }
    }
    return b;
}

bool SameWhenMoved(const Formula& moved, int64_t rows, int64_t cols, const Formula& formula)
{
    if (!moved.Parsed() || !formula.Parsed() || moved.tokens.size() != formula.tokens.size() ||
        moved.texts != formula.texts || moved.prefixes != formula.prefixes ||
        moved.arrays.size() != formula.arrays.size()) {
        return false;
    }
    for (size_t i = 0; i < moved.arrays.size(); ++i) {
        const ArrayConstant& a = moved.arrays[i];
        const ArrayConstant& b = formula.arrays[i];
        if (a.rows != b.rows || a.cols != b.cols || a.values.size() != b.values.size()) {
            return false;
        }
        for (size_t j = 0; j < a.values.size(); ++j) {
            const Token& x = a.values[j];
            const Token& y = b.values[j];
            if (x.kind != y.kind || x.text != y.text || (x.kind == TokenKind::Number && x.number != y.number) ||
                (x.kind == TokenKind::Boolean && x.boolean != y.boolean) ||
                (x.kind == TokenKind::Error && x.error != y.error)) {
                return false;
            }
        }
    }
    for (size_t i = 0; i < moved.tokens.size(); ++i) {
        Token t = moved.tokens[i];
        const Token& u = formula.tokens[i];
        if ((t.kind == TokenKind::Ref || t.kind == TokenKind::Area) && (rows != 0 || cols != 0)) {
            MoveReference(t, rows, cols, kXlsxGrid);
        }
        if (t.kind != u.kind || t.op != u.op || t.flags != u.flags || t.prefix != u.prefix || t.count != u.count ||
            t.text != u.text) {
            return false;
        }
        switch (t.kind) {
        case TokenKind::Number:
            if (t.number != u.number) {
                return false;
            }
            break;
        case TokenKind::Boolean:
            if (t.boolean != u.boolean) {
                return false;
            }
            break;
        case TokenKind::Error:
            if (t.error != u.error) {
                return false;
            }
            break;
        case TokenKind::Ref:
            if (t.area.firstRow != u.area.firstRow || t.area.firstCol != u.area.firstCol) {
                return false;
            }
            break;
        case TokenKind::Area:
            if (t.area != u.area) {
                return false;
            }
            break;
        default:
            break;
        }
    }
    return true;
}

bool HasAbsolutePart(const Formula& formula)
{
    for (const Token& t : formula.tokens) {
        if (t.kind == TokenKind::Ref || t.kind == TokenKind::Area) {
            uint8_t abs = t.flags & (kFirstColAbs | kFirstRowAbs | kLastColAbs | kLastRowAbs);
            if (abs != 0) {
                return true;
            }
        }
    }
    return false;
}

} // namespace gq::engine::formula
