// Pasted formulas resolved before a save: kept, rewritten to the output's sheet names and
// offsets, or turned into their cached values with the reason counted.
// SPDX-License-Identifier: Apache-2.0
#include "automation/PastedFormulas.h"

#include "engine/formula/Formula.h"
#include "engine/text/SheetNames.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace gq::automation {

using engine::Cell;
using engine::FormulaEntry;
using engine::kNoFormula;
using engine::formula::Formula;
using engine::formula::kNoPrefix;
using engine::formula::SheetPrefix;
using engine::formula::Token;
using engine::formula::TokenKind;

namespace {

// Why a formula keeps only its value, in the order the note lists them.
enum class Loss : uint8_t { NotCarried, OtherWorkbook, ThreeD, DefinedName, Table, NotUnderstood, NotInXls, Count };

constexpr std::array<const char*, static_cast<size_t>(Loss::Count)> kLossText = {
    "referred to cells the merge did not carry",
    "with references to other workbooks",
    "with 3-D references across sheets the output cannot hold as they were",
    "with defined names the output does not have",
    "with references to tables the output does not have",
    "whose text could not be read",
    "that an Excel 97-2003 workbook cannot hold",
};

constexpr uint8_t kAbsoluteParts = engine::formula::kFirstColAbs | engine::formula::kFirstRowAbs |
                                   engine::formula::kLastColAbs | engine::formula::kLastRowAbs;

enum class Fate : uint8_t { Unknown, Keep, Rewrite, Value };

// What becomes of a pasted formula entry. Keep and Rewrite hold only for the cells whose move
// from the entry's anchor (in the source sheet) lies within `carried`: there every reference
// points at cells the merge carried; elsewhere the cell keeps its value.
struct Decision {
    Fate fate = Fate::Unknown;
    Loss loss = Loss::Count;
    engine::formula::MoveBounds carried;
};

// Narrows `low`..`high`, the moves that keep one coordinate of a reference (at `value` where the
// entry is anchored) inside [first, last]: every move for a relative coordinate that stays inside,
// every move or none for an absolute one.
void Narrow(int64_t& low, int64_t& high, uint32_t value, bool absolute, uint32_t first, uint32_t last)
{
    if (absolute) {
        if (value < first || value > last) {
            low = 1;
            high = 0;
        }
        return;
    }
    low = std::max(low, int64_t{first} - value);
    high = std::min(high, int64_t{last} - value);
}

class Resolver {
public:
    Resolver(engine::Workbook& book, const std::vector<PasteRecord>& records,
             const std::function<std::optional<size_t>(uint64_t)>& sheetIndexOf, const engine::OutputFormat& output)
        : m_book(book), m_records(records), m_output(output), m_grid(output.FormulaGrid()), m_counts(records.size())
    {
        if (output.LimitsFormulas()) {
            std::vector<std::string> names;
            for (size_t i = 0; i < book.SheetCount(); ++i) {
                names.push_back(book.SheetName(i));
            }
            m_xls.emplace(output, std::move(names));
        }
        m_sheets.reserve(records.size());
        for (size_t i = 0; i < records.size(); ++i) {
            m_sheets.push_back(sheetIndexOf(records[i].targetSheetId));
            m_counts[i][static_cast<size_t>(Loss::NotUnderstood)] = records[i].unreadFormulas;
        }
        // A record whose sheet holds no other paste is a sheet of its own in the output. The
        // records are grouped by sheet once, so that no lookup walks every record: a merge of
        // thousands of sheets has thousands of records.
        for (size_t i = 0; i < records.size(); ++i) {
            if (m_sheets[i]) {
                m_bySheet[*m_sheets[i]].push_back(i);
            }
        }
        for (size_t i = 0; i < records.size(); ++i) {
            if (m_sheets[i]) {
                m_anyPasted.try_emplace(SourceKey(records[i].sourcePath, records[i].sourceSheet), i);
            }
        }
        m_alone.assign(records.size(), false);
        for (size_t i = 0; i < records.size(); ++i) {
            if (!m_sheets[i] || m_bySheet[*m_sheets[i]].size() != 1) {
                continue;
            }
            m_alone[i] = true;
            // The first record of a source sheet wins, as a walk in record order would find it.
            m_alonePasted.try_emplace(SourceKey(records[i].sourcePath, records[i].sourceSheet), i);
        }
    }

    void ResolveSheet(size_t sheetIndex)
    {
        // Spilled rows are read back, resolved and written back a chunk at a time.
        engine::Worksheet& sheet = m_book.SheetKeepingSpill(sheetIndex);
        const size_t existing = sheet.formulas.size();
        m_fits.clear();
        m_rewrites.assign(existing, Rewritten{});
        std::vector<Decision> decisions(existing);
        // Gives whether the row changed: a spilled chunk whose formulas all stay is not written again.
        const auto resolveRow = [&](engine::Row& row) {
            bool changed = false;
            for (Cell& cell : row.cells) {
                if (cell.formulaIndex >= existing || sheet.formulas[cell.formulaIndex].pasteId >= m_records.size()) {
                    continue;
                }
                const uint32_t pasteId = sheet.formulas[cell.formulaIndex].pasteId;
                Decision& d = decisions[cell.formulaIndex];
                if (d.fate == Fate::Unknown) {
                    d = Decide(sheet.formulas[cell.formulaIndex], pasteId);
                }
                const PasteRecord& record = m_records[pasteId];
                const FormulaEntry& entry = sheet.formulas[cell.formulaIndex];
                const bool carried =
                    d.fate != Fate::Value && d.carried.Contains(int64_t{row.index} - record.rows - entry.anchorRow,
                                                                int64_t{cell.col} - record.cols - entry.anchorCol);
                if (!carried) {
                    cell.formulaIndex = kNoFormula;
                    ++m_counts[pasteId][static_cast<size_t>(d.fate == Fate::Value ? d.loss : Loss::NotCarried)];
                    changed = true;
                    continue;
                }
                if (d.fate == Fate::Rewrite) {
                    cell.formulaIndex = RewriteCell(sheet, cell.formulaIndex, pasteId, row.index, cell.col);
                    changed = true;
                }
                if (m_xls && !FitsXls(sheet, row.index, cell, m_records[pasteId])) {
                    cell.formulaIndex = kNoFormula;
                    ++m_counts[pasteId][static_cast<size_t>(Loss::NotInXls)];
                    changed = true;
                    continue;
                }
                if (cell.type == engine::CellType::Blank) {
                    // A kept formula without a cached value (its source never computed it): the
                    // output asks to be computed when opened.
                    m_book.SetFullCalcOnLoad(true);
                    ++m_uncached;
                }
            }
            return changed;
        };
        // Only rows that may hold formulas are gone through: spilled rows without any, or whose
        // formulas all stay as they are, stay on disk.
        if (existing > 0 && sheet.spilled.Summary().formulas && !SpilledFormulasStay(sheet, decisions)) {
            sheet.UpdateRows(resolveRow);
        } else if (existing > 0) {
            for (engine::Row& row : sheet.rows) {
                resolveRow(row);
            }
        }
        for (size_t i = 0; i < existing; ++i) {
            sheet.formulas[i].pasteId = kNoFormula;
        }
        for (engine::Hyperlink& link : sheet.hyperlinks) {
            // A location beside an address is a place in that other document, not in this one.
            if (!link.location.empty() && link.target.empty()) {
                ResolveLocation(sheetIndex, link);
            }
        }
    }

    std::vector<std::string> Notes() const
    {
        std::vector<std::string> notes;
        notes.reserve(m_counts.size());
        for (const auto& counts : m_counts) {
            uint64_t total = 0;
            for (uint64_t n : counts) {
                total += n;
            }
            if (total == 0) {
                notes.emplace_back();
                continue;
            }
            std::string note = total == 1 ? std::string("one formula was kept as its value")
                                          : std::to_string(total) + " formulas were kept as their values";
            bool first = true;
            for (size_t i = 0; i < counts.size(); ++i) {
                if (counts[i] == 0) {
                    continue;
                }
                note += first ? (total == 1 ? ", one " : ": ") : ", ";
                first = false;
                if (total > 1) {
                    note += std::to_string(counts[i]) + " ";
                }
                note += kLossText[i];
            }
            notes.push_back(std::move(note));
        }
        return notes;
    }

private:
    // Whether going through the sheet's spilled rows would change none of them: every formula
    // pasted into the sheet is kept as it is (`decisions` are made here for every one), for an
    // .xls output fits wherever the paste may have put its cells, and no spilled formula cell
    // lacks a cached value (which asks for computing on load). A paste puts a formula's cells
    // where it found them, moved by its offset.
    bool SpilledFormulasStay(const engine::Worksheet& sheet, std::vector<Decision>& decisions)
    {
        if (sheet.spilled.Summary().blankFormulas) {
            return false;
        }
        for (size_t i = 0; i < decisions.size(); ++i) {
            const FormulaEntry& entry = sheet.formulas[i];
            if (entry.pasteId >= m_records.size()) {
                continue;
            }
            Decision& d = decisions[i];
            if (d.fate == Fate::Unknown) {
                d = Decide(entry, entry.pasteId);
            }
            const engine::CellRange& from = entry.pastedFrom ? *entry.pastedFrom : m_records[entry.pasteId].block;
            const int64_t rows[2] = {int64_t{from.firstRow} - entry.anchorRow, int64_t{from.lastRow} - entry.anchorRow};
            const int64_t cols[2] = {int64_t{from.firstCol} - entry.anchorCol, int64_t{from.lastCol} - entry.anchorCol};
            if (d.fate != Fate::Keep || !d.carried.Contains(rows[0], cols[0]) ||
                !d.carried.Contains(rows[1], cols[1]) || (m_xls && !FitsXlsInBlock(sheet, i))) {
                return false;
            }
        }
        return true;
    }

    // Whether formula entry `index` fits an .xls output in every cell its paste gave it (the box of
    // those cells, or the paste's whole block where that is not known): an array formula's range
    // is checked per cell, and so is a cell whose formula reaches past the .xls grid where it was
    // or where the paste put it; elsewhere it fits as it does anywhere.
    bool FitsXlsInBlock(const engine::Worksheet& sheet, size_t index)
    {
        const FormulaEntry& entry = sheet.formulas[index];
        if (entry.arrayRows != 0 || !entry.formula) {
            return false;
        }
        const PasteRecord& record = m_records[entry.pasteId];
        const engine::CellRange& from = entry.pastedFrom ? *entry.pastedFrom : record.block;
        const int64_t firstRows = int64_t{from.firstRow} - entry.anchorRow;
        const int64_t firstCols = int64_t{from.firstCol} - entry.anchorCol;
        const int64_t lastRows = int64_t{from.lastRow} - entry.anchorRow;
        const int64_t lastCols = int64_t{from.lastCol} - entry.anchorCol;
        if (m_fits.size() < sheet.formulas.size()) {
            m_fits.resize(sheet.formulas.size());
        }
        XlsFit& known = m_fits[index];
        if (known.fits == 0) {
            known.moves = engine::formula::BoundsOfMoves(*entry.formula, m_grid);
        }
        const auto within = [&](int64_t rows, int64_t cols) {
            return known.moves.Contains(firstRows + rows, firstCols + cols) &&
                   known.moves.Contains(lastRows + rows, lastCols + cols);
        };
        if (!within(0, 0) || !within(record.rows, record.cols)) {
            return false;
        }
        if (known.fits == 0) {
            m_formula = *entry.formula;
            engine::formula::MoveFormula(m_formula, firstRows + record.rows, firstCols + record.cols, m_grid);
            known.fits = m_xls->Holds(m_formula) ? 1 : -1;
        }
        return known.fits > 0;
    }

    // Whether the formula the cell now has is one an .xls output holds: BIFF8's functions, limits
    // and grid (engine/xls/BiffFormula.h), and for an array formula a range the writer can fill.
    // A reference past the .xls grid where the source had it (an xlsx's row 70000) is no formula
    // an .xls can hold; one the paste's move takes off the grid becomes #REF!, as a paste makes it.
    bool FitsXls(const engine::Worksheet& sheet, uint32_t row, const Cell& cell, const PasteRecord& record)
    {
        const FormulaEntry& entry = sheet.formulas[cell.formulaIndex];
        if (entry.arrayRows != 0) {
            return m_output.HoldsArrayRange(sheet, row, cell.col, entry.arrayRows, entry.arrayCols) &&
                   engine::formula::CellFormula(sheet, row, cell, m_formula, m_grid) && m_xls->Holds(m_formula);
        }
        // Whether a formula fits does not change as it moves, as long as no reference leaves the
        // grid: a filled-down column is encoded once.
        if (!entry.formula) {
            return false;
        }
        if (m_fits.size() < sheet.formulas.size()) {
            m_fits.resize(sheet.formulas.size());
        }
        XlsFit& known = m_fits[cell.formulaIndex];
        if (known.fits == 0) {
            known.moves = engine::formula::BoundsOfMoves(*entry.formula, m_grid);
        }
        if (entry.pasteId < m_records.size() &&
            !known.moves.Contains(int64_t{row} - record.rows - entry.anchorRow,
                                  int64_t{cell.col} - record.cols - entry.anchorCol)) {
            return false;
        }
        const bool intact = known.moves.Contains(int64_t{row} - entry.anchorRow, int64_t{cell.col} - entry.anchorCol);
        if (intact && known.fits != 0) {
            return known.fits > 0;
        }
        const bool fits = engine::formula::CellFormula(sheet, row, cell, m_formula, m_grid) && m_xls->Holds(m_formula);
        if (intact) {
            known.fits = fits ? 1 : -1;
        }
        return fits;
    }

    // The record of the sheet `name` of the same source workbook as record `own`, pasted into a
    // sheet of its own; nullopt when there is none.
    std::optional<size_t> FindSheet(size_t own, std::string_view name) const
    {
        auto found = m_alonePasted.find(SourceKey(m_records[own].sourcePath, name));
        return found == m_alonePasted.end() ? std::nullopt : std::optional<size_t>(found->second);
    }

    // The first paste of the sheet `name` of the same source workbook as record `own`, wherever
    // it went: a sheet of its own or a block stacked with others.
    std::optional<size_t> FindPaste(size_t own, std::string_view name) const
    {
        auto found = m_anyPasted.find(SourceKey(m_records[own].sourcePath, name));
        return found == m_anyPasted.end() ? std::nullopt : std::optional<size_t>(found->second);
    }

    // Where the cells a reference points at went: the source cells the merge carried (`block`,
    // in the source sheet's rows and columns), how far they moved and under which name (or 3-D
    // span of names) the output holds them. `alone`: nothing else shares their output sheet.
    struct Target {
        size_t record = 0;
        engine::CellRange block;
        int64_t rows = 0;
        int64_t cols = 0;
        bool alone = false;
        std::string firstName;
        std::string lastName; // a 3-D span's last sheet
    };

    // The target of a Ref or Area token of a formula pasted with record `own`; nullopt when the
    // cells it names were not carried as one block: a sheet not merged, another workbook, or a
    // 3-D span whose sheets are not all merged, each alone, side by side in the source's order and
    // moved alike.
    std::optional<Target> TargetOf(size_t own, const Formula& f, const Token& t) const
    {
        const PasteRecord& record = m_records[own];
        const auto of = [&](size_t i) {
            const PasteRecord& r = m_records[i];
            return Target{i, r.block, r.rows, r.cols, m_alone[i], m_book.SheetName(*m_sheets[i]), ""};
        };
        if (t.prefix >= f.prefixes.size()) {
            return of(own);
        }
        const SheetPrefix& prefix = f.prefixes[t.prefix];
        if (!prefix.book.empty()) {
            return std::nullopt;
        }
        if (prefix.lastSheet.empty()) {
            if (engine::SameSheetName(prefix.firstSheet, record.sourceSheet)) {
                return of(own);
            }
            const std::optional<size_t> other = FindPaste(own, prefix.firstSheet);
            return other ? std::optional<Target>(of(*other)) : std::nullopt;
        }
        if (!record.sourceSheets) {
            return std::nullopt;
        }
        const std::vector<std::string>& order = *record.sourceSheets;
        const auto position = [&](const std::string& name) {
            for (size_t i = 0; i < order.size(); ++i) {
                if (engine::SameSheetName(order[i], name)) {
                    return i;
                }
            }
            return order.size();
        };
        size_t first = position(prefix.firstSheet);
        size_t last = position(prefix.lastSheet);
        if (first >= order.size() || last >= order.size()) {
            return std::nullopt;
        }
        if (first > last) {
            std::swap(first, last);
        }
        std::optional<Target> span;
        for (size_t k = first; k <= last; ++k) {
            const std::optional<size_t> pasted = FindPaste(own, order[k]);
            if (!pasted || !m_alone[*pasted]) {
                return std::nullopt;
            }
            Target at = of(*pasted);
            if (!span) {
                span = at;
                continue;
            }
            if (*m_sheets[*pasted] != *m_sheets[span->record] + (k - first) || at.rows != span->rows ||
                at.cols != span->cols || !at.block.Intersects(span->block)) {
                return std::nullopt;
            }
            span->block = engine::CellRange{
                std::max(span->block.firstRow, at.block.firstRow), std::max(span->block.firstCol, at.block.firstCol),
                std::min(span->block.lastRow, at.block.lastRow), std::min(span->block.lastCol, at.block.lastCol)};
            span->lastName = at.firstName;
        }
        if (span && span->lastName.empty()) {
            span->lastName = span->firstName; // a span of one sheet
        }
        return span;
    }

    // What tells a sheet of a source workbook apart: the workbook and the sheet's folded name.
    static std::string SourceKey(const std::string& path, std::string_view sheet)
    {
        std::string key = path;
        key.push_back('\0');
        key += engine::FoldCase(sheet);
        return key;
    }

    // What becomes of a pasted formula entry: every reference must point at cells the merge
    // carried (its own block or another pasted block of its source workbook), where it is mapped
    // to, relative and absolute parts alike, so that it reads the same cells it read. The entry as
    // pasted (relative parts moved by the paste, absolute ones not) is kept where that is what the
    // mapping gives; otherwise each cell gets it rewritten.
    Decision Decide(const FormulaEntry& entry, uint32_t pasteId)
    {
        using namespace engine::formula;
        const Formula& f = *entry.formula;
        const PasteRecord& record = m_records[pasteId];
        if (!f.Parsed()) {
            return {Fate::Value, Loss::NotUnderstood, {}};
        }
        Decision d{Fate::Keep, Loss::Count, {}};
        const bool moved = record.rows != 0 || record.cols != 0;
        for (const Token& t : f.tokens) {
            if (t.kind == TokenKind::Name) {
                return {Fate::Value, Loss::DefinedName, {}};
            }
            if (t.kind == TokenKind::Table) {
                return {Fate::Value, Loss::Table, {}};
            }
            if (t.kind != TokenKind::Ref && t.kind != TokenKind::Area && t.kind != TokenKind::RefError) {
                continue;
            }
            if (t.prefix < f.prefixes.size()) {
                d.fate = Fate::Rewrite; // the sheet's name in the output, or none for a #REF!
            }
            if (t.kind == TokenKind::RefError) {
                continue; // an error already in the source stays one
            }
            const std::optional<Target> target = TargetOf(pasteId, f, t);
            if (!target) {
                const SheetPrefix& prefix = f.prefixes[t.prefix];
                return {Fate::Value,
                        !prefix.book.empty()        ? Loss::OtherWorkbook
                        : !prefix.lastSheet.empty() ? Loss::ThreeD
                                                    : Loss::NotCarried,
                        {}};
            }
            // A 3-D reference whose sheets need quotes has no text every reader reads: Excel
            // quotes the span as a whole ('Jan:it''s'!A1), LibreOffice reads only its own form
            // (Jan:'it''s'!A1). The binary .xls form has no such text.
            if (!target->lastName.empty() && !m_xls &&
                (SheetNameInRangeNeedsQuotes(target->firstName) || SheetNameInRangeNeedsQuotes(target->lastName))) {
                return {Fate::Value, Loss::ThreeD, {}};
            }
            if (moved && (t.flags & kAbsoluteParts) != 0) {
                d.fate = Fate::Rewrite;
            }
            // Whole columns or rows read every cell of them: only a block alone on its sheet
            // brings all that the source had there.
            const bool wholeColumns = (t.flags & kWholeColumns) != 0;
            const bool wholeRows = (t.flags & kWholeRows) != 0;
            if ((wholeColumns || wholeRows) && !target->alone) {
                return {Fate::Value, Loss::NotCarried, {}};
            }
            const engine::CellRange& b = target->block;
            MoveBounds& m = d.carried;
            const bool area = t.kind == TokenKind::Area;
            if (!wholeColumns) {
                Narrow(m.minRows, m.maxRows, t.area.firstRow, (t.flags & kFirstRowAbs) != 0, b.firstRow, b.lastRow);
                if (area) {
                    Narrow(m.minRows, m.maxRows, t.area.lastRow, (t.flags & kLastRowAbs) != 0, b.firstRow, b.lastRow);
                }
            }
            if (!wholeRows) {
                Narrow(m.minCols, m.maxCols, t.area.firstCol, (t.flags & kFirstColAbs) != 0, b.firstCol, b.lastCol);
                if (area) {
                    Narrow(m.minCols, m.maxCols, t.area.lastCol, (t.flags & kLastColAbs) != 0, b.firstCol, b.lastCol);
                }
            }
        }
        return d;
    }

    // The entry a cell pasted with formula entry `index` has once rewritten. A filled-down column
    // shares one rewritten entry, as it shared the pasted one: every reference moves by the same
    // paste offsets whichever cell it is in, so the rewrite for one cell, moved to another, is that
    // cell's rewrite, as long as no move on the way leaves the grid.
    uint32_t RewriteCell(engine::Worksheet& sheet, uint32_t index, uint32_t pasteId, uint32_t row, uint32_t col)
    {
        const FormulaEntry& entry = sheet.formulas[index];
        const PasteRecord& record = m_records[pasteId];
        Rewritten& known = m_rewrites[index];
        if (known.entry != kNoFormula && entry.formula) {
            const int64_t fromAnchor[2] = {int64_t{row} - record.rows - entry.anchorRow,
                                           int64_t{col} - record.cols - entry.anchorCol};
            if (known.sourceMoves.Contains(fromAnchor[0], fromAnchor[1]) &&
                known.moves.Contains(int64_t{row} - known.row, int64_t{col} - known.col)) {
                return known.entry;
            }
        }
        bool broken = false;
        FormulaEntry rewritten = Rewrite(entry, pasteId, row, col, broken);
        const auto at = static_cast<uint32_t>(sheet.formulas.size());
        if (!broken && known.entry == kNoFormula && entry.formula && rewritten.arrayRows == 0) {
            known.entry = at;
            known.row = row;
            known.col = col;
            known.sourceMoves = engine::formula::BoundsOfMoves(*entry.formula, engine::formula::kXlsxGrid);
            known.moves = engine::formula::BoundsOfMoves(*rewritten.formula, engine::formula::kXlsxGrid);
        }
        sheet.formulas.push_back(std::move(rewritten));
        return at;
    }

    // The formula of the pasted cell at (row, col) with every reference pointing where its cells
    // are in the output, as an entry of its own anchored at the cell. `broken`: some reference
    // left the grid (it cannot, for cells the merge carried; the entry is then not shared).
    FormulaEntry Rewrite(const FormulaEntry& entry, uint32_t pasteId, uint32_t row, uint32_t col, bool& broken)
    {
        const PasteRecord& record = m_records[pasteId];
        Formula f = *entry.formula;
        // The formula as its source cell had it, then each reference mapped where its cells went.
        const int64_t sourceRow = static_cast<int64_t>(row) - record.rows;
        const int64_t sourceCol = static_cast<int64_t>(col) - record.cols;
        engine::formula::MoveFormula(f, sourceRow - entry.anchorRow, sourceCol - entry.anchorCol);
        const size_t ownSheet = *m_sheets[pasteId];
        broken = false;
        for (Token& t : f.tokens) {
            if (t.kind == TokenKind::RefError) {
                // Named on a sheet of the output: that sheet's name; otherwise a plain #REF!.
                std::optional<Target> target;
                if (t.prefix < f.prefixes.size() && f.prefixes[t.prefix].book.empty()) {
                    Token probe = t;
                    probe.kind = TokenKind::Ref;
                    target = TargetOf(pasteId, f, probe);
                }
                t.prefix = target ? f.AddPrefix(SheetPrefix{"", target->firstName, target->lastName, false})
                                  : engine::formula::kNoPrefix;
                continue;
            }
            if (t.kind != TokenKind::Ref && t.kind != TokenKind::Area) {
                continue;
            }
            const std::optional<Target> target = TargetOf(pasteId, f, t);
            if (!target) {
                broken = true;
                continue;
            }
            broken |= !engine::formula::MoveReference(t, target->rows, target->cols, engine::formula::kXlsxGrid, true);
            const bool sameSheet = target->lastName.empty() && *m_sheets[target->record] == ownSheet;
            if (t.prefix < f.prefixes.size() || !sameSheet) {
                t.prefix = f.AddPrefix(SheetPrefix{"", target->firstName, target->lastName, false});
            }
        }
        FormulaEntry out;
        out.formula = std::make_shared<const Formula>(std::move(f));
        out.anchorRow = row;
        out.anchorCol = col;
        out.arrayRows = entry.arrayRows;
        out.arrayCols = entry.arrayCols;
        return out;
    }

    // A hyperlink to a place in the workbook ("Data!B2", "B3") follows the cells it points at, by
    // the rule a formula's reference follows: to its own sheet, or to another sheet of its source
    // that is a sheet of its own in the output, under that sheet's output name. A location on a
    // sheet that is not a sheet of the output becomes a link to that place in the source workbook
    // file; one the rule cannot follow otherwise (a defined name, another workbook) stays as it is.
    void ResolveLocation(size_t sheetIndex, engine::Hyperlink& link)
    {
        std::optional<size_t> paste;
        auto onSheet = m_bySheet.find(sheetIndex);
        const std::vector<size_t> none;
        for (size_t i : onSheet == m_bySheet.end() ? none : onSheet->second) {
            if (paste) {
                break;
            }
            const PasteRecord& r = m_records[i];
            const engine::CellRange area{
                static_cast<uint32_t>(r.block.firstRow + r.rows), static_cast<uint32_t>(r.block.firstCol + r.cols),
                static_cast<uint32_t>(r.block.lastRow + r.rows), static_cast<uint32_t>(r.block.lastCol + r.cols)};
            if (area.Contains(link.range)) {
                paste = i;
            }
        }
        Formula f;
        if (!paste || !engine::formula::ParseFormula(link.location, f) || f.tokens.size() != 1 ||
            (f.tokens[0].kind != TokenKind::Ref && f.tokens[0].kind != TokenKind::Area)) {
            return;
        }
        Token& t = f.tokens[0];
        const PasteRecord& record = m_records[*paste];
        size_t target = *paste;
        if (t.prefix < f.prefixes.size()) {
            const SheetPrefix& prefix = f.prefixes[t.prefix];
            if (!prefix.book.empty() || !prefix.lastSheet.empty()) {
                return;
            }
            if (!engine::SameSheetName(prefix.firstSheet, record.sourceSheet)) {
                std::optional<size_t> other = FindSheet(*paste, prefix.firstSheet);
                if (!other) {
                    // Workbooks held only in memory have no file to point at ("@" and an address).
                    if (!record.sourcePath.empty() && record.sourcePath[0] != '@') {
                        link.target = record.sourcePath;
                    }
                    return;
                }
                target = *other;
            }
            t.prefix = f.AddPrefix(SheetPrefix{"", m_book.SheetName(*m_sheets[target]), "", false});
        }
        // A link points at cells, not at a place relative to itself: all of it moves.
        if (engine::formula::MoveReference(t, m_records[target].rows, m_records[target].cols,
                                           engine::formula::kXlsxGrid, true)) {
            link.location = engine::formula::PrintFormula(f);
        }
    }

    engine::Workbook& m_book;
    const std::vector<PasteRecord>& m_records;
    const engine::OutputFormat& m_output;
    engine::formula::Grid m_grid; // the output's grid, which formulas are checked on
    std::vector<std::optional<size_t>> m_sheets;
    std::vector<bool> m_alone;
    std::unordered_map<size_t, std::vector<size_t>> m_bySheet; // output sheet -> its records, in order
    std::unordered_map<std::string, size_t> m_alonePasted;     // SourceKey -> record of a sheet of its own
    std::unordered_map<std::string, size_t> m_anyPasted;       // SourceKey -> its first record
    uint64_t m_uncached = 0;                                   // kept formulas without a cached value
    std::vector<std::array<uint64_t, static_cast<size_t>(Loss::Count)>> m_counts;
    // For an output format that limits formulas (.xls): which ones it holds.
    std::optional<engine::OutputFormulaCheck> m_xls;
    // Per formula entry of the sheet: whether it fits an .xls (1 yes, -1 no, 0 not known yet)
    // wherever it moves within `moves`.
    struct XlsFit {
        int8_t fits = 0;
        engine::formula::MoveBounds moves;
    };
    std::vector<XlsFit> m_fits;
    // Per formula entry of the sheet: the rewritten entry its cells share, and where it is anchored.
    struct Rewritten {
        uint32_t entry = kNoFormula;
        uint32_t row = 0;
        uint32_t col = 0;
        engine::formula::MoveBounds sourceMoves; // the pasted entry's moves on the xlsx grid
        engine::formula::MoveBounds moves;       // the rewritten one's
    };
    std::vector<Rewritten> m_rewrites;
    Formula m_formula;

public:
    const std::vector<std::optional<size_t>>& Sheets() const { return m_sheets; }
    uint64_t Uncached() const { return m_uncached; }
};

} // namespace

std::vector<std::string> ResolvePastedFormulas(engine::Workbook& book, const std::vector<PasteRecord>& records,
                                               const std::function<std::optional<size_t>(uint64_t)>& sheetIndexOf,
                                               const engine::OutputFormat& output, uint64_t* uncached)
{
    Resolver resolver(book, records, sheetIndexOf, output);
    std::vector<bool> done(book.SheetCount(), false);
    for (const std::optional<size_t>& sheet : resolver.Sheets()) {
        if (sheet && *sheet < done.size() && !done[*sheet]) {
            done[*sheet] = true;
            resolver.ResolveSheet(*sheet);
        }
    }
    if (uncached != nullptr) {
        *uncached = resolver.Uncached();
    }
    return resolver.Notes();
}

} // namespace gq::automation
