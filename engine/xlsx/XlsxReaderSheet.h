// A streaming parser for an xlsx worksheet part (ECMA-376 Part 1, 18.3): fed chunk by chunk as the
// part inflates, never held whole.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/formula/Formula.h"
#include "engine/model/Workbook.h"
#include "engine/xml/XmlParser.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace gq::engine {

// What a worksheet parse needs from its workbook.
struct SheetContext {
    StringTable* strings = nullptr;
    const std::vector<uint32_t>* sharedStrings = nullptr; // file SST index -> model string index
    const std::vector<uint32_t>* xfMap = nullptr;         // file xf index -> model cell format
    bool date1904 = false;
};

// A hyperlink whose target lives in the sheet's relationships, to be resolved after the parse.
struct PendingHyperlink {
    size_t index; // into Worksheet::hyperlinks
    std::string relationshipId;
};

class WorksheetParser : private XmlHandler {
public:
    WorksheetParser(Worksheet& out, const SheetContext& context, const std::string& file, const std::string& part);
    void Feed(const char* data, size_t size, bool last);
    // Hyperlinks that name a relationship id; valid after the last Feed.
    const std::vector<PendingHyperlink>& PendingHyperlinks() const { return m_pending; }

private:
    enum class ValueType : uint8_t { Number, Shared, Boolean, Error, Str, Inline, Date };

    void StartElement(std::string_view name, const XmlAttributes& atts) override;
    void EndElement(std::string_view name) override;
    void Text(std::string_view text) override;

    void StartRow(const XmlAttributes& atts);
    void StartCell(const XmlAttributes& atts);
    void EndCell();
    void EndRow();
    void Finish();
    void AddColumn(const XmlAttributes& atts);
    void AddMerge(const XmlAttributes& atts);
    void AddHyperlink(const XmlAttributes& atts);
    void ReadPane(const XmlAttributes& atts);
    [[noreturn]] void Fail(const std::string& problem) const;
    uint32_t MapStyle(const char* s) const;
    uint32_t InternText(std::string& text);

    Worksheet& m_out;
    SheetContext m_context;
    const std::string& m_file;
    const std::string& m_part;
    XmlParser m_parser;

    bool m_inSheetData = false;
    bool m_inCols = false;
    bool m_inRow = false;
    bool m_inInline = false;
    int m_phonetic = 0;
    int m_sheetViews = 0;
    bool m_unsorted = false;
    uint32_t m_rowIndex = 0;
    int64_t m_lastRow = -1;
    uint32_t m_nextCol = 0;
    uint64_t m_cellCount = 0;
    uint64_t m_rowCount = 0;
    size_t m_lastRowCells = 0; // cells of the row read last: the room the next row starts with

    // The cell being read.
    uint32_t m_cellRow = 0;
    uint32_t m_cellCol = 0;
    uint32_t m_cellStyle = 0;
    ValueType m_cellType = ValueType::Number;
    bool m_cellFormula = false;
    bool m_hasValue = false;
    std::string m_value;

    // The cell's <f> (ECMA-376 Part 1, 18.3.1.40): its kind, text, shared-formula index and range.
    enum class FormulaKind : uint8_t { Normal, Shared, Array, DataTable };
    void StartFormula(const XmlAttributes& atts);
    uint32_t KeepFormula();
    FormulaKind m_formulaKind = FormulaKind::Normal;
    std::string m_formulaText;
    std::string m_formulaRef;
    uint32_t m_formulaSi = 0;
    bool m_hasSi = false;
    std::unordered_map<uint32_t, uint32_t> m_sharedFormulas; // si -> index into Worksheet::formulas
    formula::Formula m_scratch;                              // each formula is parsed into it first
    uint32_t m_lastFormula = kNoFormula;                     // the entry the last formula added

    std::vector<std::pair<uint32_t, Cell>> m_strayCells; // cells whose reference names another row
    std::vector<ColumnInfo> m_columns;
    std::vector<PendingHyperlink> m_pending;
};

} // namespace gq::engine
