// OpenFormula (ODF 1.3 Part 4), the formula syntax of OpenDocument spreadsheets, in the text form
// the formula parser reads.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <string>
#include <string_view>

namespace gq::engine::formula {

class Formula;

// Translates the text of a table:formula attribute ("of:=SUM([.A1:.B2];[Sheet2.C3])") into the
// A1 text the formula parser takes, without '=' ("SUM(A1:B2,Sheet2!C3)"). Gives false where the
// text uses what has no such form (another syntax than OpenFormula or Excel's, references to other
// files, the union and intersection operators, functions only one office suite knows), so that
// the cell keeps its value.
bool OpenFormulaToA1(std::string_view text, std::string& out);

// The other way (OpenFormulaPrint.cpp): appends the formula as the text of a table:formula
// attribute without its "of:=" ("SUM([.A1:.B2];[$Sheet2.C3])"). Gives false, with `out` as it
// was, for a formula OpenFormula cannot say: an unparsed one, references to other workbooks or
// to tables, names qualified by a sheet.
bool PrintOpenFormula(const Formula& formula, std::string& out);

} // namespace gq::engine::formula
