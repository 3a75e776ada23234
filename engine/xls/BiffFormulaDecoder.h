// The decoder of BIFF parsed expressions, shared by BiffFormulaRead.cpp (tokens, operators,
// functions, array constants) and BiffFormulaReadRefs.cpp (references, sheets and names); internal
// to engine/xls.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/LittleEndian.h"
#include "engine/xls/BiffFormula.h"

#include <span>
#include <string>
#include <vector>

namespace gq::engine::biff::detail {

namespace fm = formula;

constexpr uint16_t kUserDefinedFunction = 0xFF; // the function's name is its first argument
constexpr uint16_t kDeletedSheet = 0xFFFF;      // XTI itabFirst of a sheet that is gone
constexpr uint32_t kBiffCols = limits::kXlsMaxCols;
constexpr uint32_t kBiff5Rows = 16384; // Excel 5 and 95 sheets

// Reads one expression front to back. The stack of operands is only counted, with where each
// operand's tokens begin, so that a user-defined function can find the name its first argument
// holds; the model's tokens are already in the file's order.
class Decoder {
public:
    Decoder(std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb, const FormulaGlobals& globals, uint32_t row,
            uint32_t col, bool sharedForm, fm::Formula& out, CodePageDecoder* biff5 = nullptr,
            ReferenceLayout* layout = nullptr)
        : m_e(rgce), m_x(rgcb), m_g(globals), m_row(row), m_col(col), m_shared(sharedForm), m_out(out),
          m_codePage(biff5), m_rows(biff5 != nullptr ? kBiff5Rows : limits::kXlsMaxRows), m_layout(layout)
    {
        if (m_layout != nullptr) {
            m_layout->fields.clear();
            m_layout->movable = true;
        }
    }

    bool Run()
    {
        m_out.Clear();
        m_starts.clear();
        while (m_p < m_e.size()) {
            if (!Token()) {
                return false;
            }
        }
        return m_starts.size() == 1 && !m_out.tokens.empty();
    }

private:
    bool Has(size_t n) const { return n <= m_e.size() - m_p; }
    uint8_t U8() { return m_e[m_p++]; }
    uint16_t U16()
    {
        uint16_t v = le::Load16(m_e.data() + m_p);
        m_p += 2;
        return v;
    }
    uint32_t U32()
    {
        uint32_t v = le::Load32(m_e.data() + m_p);
        m_p += 4;
        return v;
    }

    fm::Token& Operand(fm::TokenKind kind)
    {
        m_starts.push_back(static_cast<uint32_t>(m_out.tokens.size()));
        fm::Token& t = m_out.tokens.emplace_back();
        t.kind = kind;
        return t;
    }
    bool Operator(fm::TokenKind kind, fm::Op op, size_t n);
    bool Function(const char* name, size_t args);

    void Corner(uint16_t rw, uint16_t colField, bool relForm, uint32_t& row, uint32_t& col, bool& rowAbs,
                bool& colAbs) const;
    void Biff5Corner(uint16_t& rw, uint16_t& cf, bool relForm);
    void Layout(bool area, bool relForm);
    void Reference(fm::Token& t, bool relForm);
    void Area(fm::Token& t, bool relForm);
    bool Prefix(uint16_t ixti, uint16_t& prefix, bool& deleted);
    bool ArrayData();
    bool Attr();
    bool FuncVar();
    bool OwnName(uint32_t index);
    bool NameXBiff5();
    void ExternName(const std::string* book, const std::string& name);
    bool NameX();
    bool Biff5Prefix(int16_t ixals, uint16_t first, uint16_t last, uint16_t& prefix, bool& deleted);
    bool Reference3d(bool area, bool error);

    // A cell's row and column take four bytes in BIFF8, three in BIFF5.
    size_t RefSize() const { return m_codePage != nullptr ? 3 : 4; }

    bool Token();

    std::span<const uint8_t> m_e; // the expression
    std::span<const uint8_t> m_x; // its extra data
    const FormulaGlobals& m_g;
    uint32_t m_row;
    uint32_t m_col;
    bool m_shared;
    fm::Formula& m_out;
    CodePageDecoder* m_codePage; // BIFF5's text; nullptr for BIFF8
    uint32_t m_rows;             // the grid's rows
    ReferenceLayout* m_layout;   // where references lie, when asked
    size_t m_p = 0;
    size_t m_xp = 0;
    // Per operand on the stack, the index of its first token. A decoder lives for one formula;
    // the stack's buffer lives on in the thread, so that decoding a column of formulas does not
    // allocate one a cell.
    std::vector<uint32_t>& m_starts = StartsBuffer();
    std::string m_text;

    static std::vector<uint32_t>& StartsBuffer()
    {
        thread_local std::vector<uint32_t> buffer;
        return buffer;
    }
};

} // namespace gq::engine::biff::detail
