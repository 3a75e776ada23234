// The OpenDocument spreadsheet reader: opening reads the sheet names from content.xml; each sheet
// is read by streaming content.xml again up to the end of that sheet's table.
// SPDX-License-Identifier: Apache-2.0
#include "engine/ods/OdsReader.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/formula/Formula.h"
#include "engine/formula/OpenFormula.h"
#include "engine/ods/OdsStyles.h"
#include "engine/text/IsoDate.h"
#include "engine/xml/XmlParser.h"
#include "engine/zip/ZipReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace gq::engine {

namespace {

constexpr std::string_view kContent = "content.xml";
constexpr std::string_view kStyles = "styles.xml";
constexpr std::string_view kSpreadsheetType = "application/vnd.oasis.opendocument.spreadsheet";

// Thrown by the content handler once the sheet it reads has ended: the rest of the part is not
// needed.
struct SheetDone {};

uint32_t Count(const XmlAttributes& atts, std::string_view name, uint32_t most)
{
    const char* text = atts.Get(name);
    if (text == nullptr) {
        return 1;
    }
    uint64_t value = 1;
    auto [end, ec] = std::from_chars(text, text + std::strlen(text), value);
    if (ec != std::errc() || value == 0) {
        return 1;
    }
    return static_cast<uint32_t>(std::min<uint64_t>(value, most));
}

std::string AttrText(const XmlAttributes& atts, std::string_view name)
{
    const char* value = atts.Get(name);
    return value != nullptr ? value : "";
}

// Collects office:styles or office:automatic-styles, whichever part it reads.
class StylesHandler : public XmlHandler {
public:
    explicit StylesHandler(XmlParser*& parser) : m_parser(parser) {}
    void StartElement(std::string_view name, const XmlAttributes& atts) override
    {
        if (m_inStyles > 0) {
            ++m_inStyles;
            collector.Start(name, atts);
            m_parser->CaptureText(collector.Inside());
        } else if (name == "styles" || name == "automatic-styles") {
            m_inStyles = 1;
        }
    }
    void EndElement(std::string_view name) override
    {
        if (m_inStyles > 0) {
            if (--m_inStyles > 0) {
                collector.End(name);
                m_parser->CaptureText(collector.Inside());
            }
        }
    }
    void Text(std::string_view text) override { collector.Text(text); }

    OdsStyleCollector collector;

private:
    XmlParser*& m_parser;
    int m_inStyles = 0;
};

struct TableEntry {
    std::string name;
    std::string style;
};

// The listing pass over content.xml: the automatic styles (a hidden table says so in its style)
// and the names of the tables in order.
class ListingHandler : public StylesHandler {
public:
    using StylesHandler::StylesHandler;
    void StartElement(std::string_view name, const XmlAttributes& atts) override
    {
        if (name == "table" && m_depthInTable == 0) {
            tables.push_back({AttrText(atts, "name"), AttrText(atts, "style-name")});
            if (tables.size() > limits::kMaxSheets) {
                throw LimitError("a workbook cannot hold more than " + std::to_string(limits::kMaxSheets) + " sheets");
            }
        }
        if (m_depthInTable > 0 || name == "table") {
            ++m_depthInTable;
            return;
        }
        StylesHandler::StartElement(name, atts);
    }
    void EndElement(std::string_view name) override
    {
        if (m_depthInTable > 0) {
            --m_depthInTable;
            return;
        }
        StylesHandler::EndElement(name);
    }

    std::vector<TableEntry> tables;

private:
    int m_depthInTable = 0;
};

// One cell of the row being read, with how often it repeats across.
struct PendingCell {
    uint32_t col = 0;
    uint32_t repeat = 1;
    Cell cell;
    uint32_t rowSpan = 1;
    uint32_t colSpan = 1;
    std::string formula;
    std::string link;
};

enum class ValueKind : uint8_t { None, Float, Percentage, Currency, Date, Time, Boolean, String, Error };

// Reads the table of one sheet into a worksheet.
class SheetHandler : public XmlHandler {
public:
    SheetHandler(Workbook& workbook, Worksheet& sheet, OdsStyleSheet& styles, size_t target, const std::string& file,
                 uint64_t maxCells)
        : m_workbook(workbook), m_sheet(sheet), m_styles(styles), m_target(target), m_file(file), m_maxCells(maxCells)
    {
    }
    void SetParser(XmlParser* parser) { m_parser = parser; }

    void StartElement(std::string_view name, const XmlAttributes& atts) override
    {
        if (m_inTarget == 0) {
            if (name == "table") {
                if (m_tableIndex++ == m_target) {
                    m_inTarget = 1;
                }
            }
            return;
        }
        ++m_inTarget;
        if (m_inCell) {
            CellChild(name, atts);
            return;
        }
        if (name == "table-column") {
            Column(atts);
        } else if (name == "table-row") {
            m_rowRepeat = Count(atts, "number-rows-repeated", limits::kXlsxMaxRows);
            m_rowStyleName = AttrText(atts, "style-name");
            const char* visibility = atts.Get("visibility");
            m_rowHidden = visibility != nullptr && std::string_view(visibility) != "visible";
            m_col = 0;
            m_cells.clear();
            m_rowFormat = 0;
        } else if (name == "table-cell" || name == "covered-table-cell") {
            StartCell(name == "covered-table-cell", atts);
        }
    }

    void EndElement(std::string_view name) override
    {
        if (m_inTarget == 0) {
            return;
        }
        if (--m_inTarget == 0) {
            throw SheetDone{};
        }
        if (m_inCell) {
            if (name == "table-cell" || name == "covered-table-cell") {
                if (m_cellDepth == m_inTarget) {
                    EndCell();
                    return;
                }
            }
            if (m_annotation != 0 && m_annotation == m_inTarget + 1) {
                m_annotation = 0;
                return;
            }
            if (name == "p" && m_annotation == 0) {
                m_parser->CaptureText(false);
            }
            return;
        }
        if (name == "table-row") {
            EndRow();
        }
    }

    void Text(std::string_view text) override { AppendText(text); }

    // Formulas are set once the cells are in place.
    void Finish()
    {
        m_sheet.Normalize();
        DropOverlappingMerges(m_sheet.merges);
        formula::Formula parsed;
        for (const auto& [row, col, text] : m_formulas) {
            if (formula::ParseFormula(text, parsed)) {
                formula::SetCellFormula(m_sheet, row, col, text);
            }
        }
    }

private:
    void Column(const XmlAttributes& atts)
    {
        uint32_t repeat = Count(atts, "number-columns-repeated", limits::kXlsxMaxCols);
        if (m_columnCount >= limits::kXlsxMaxCols) {
            return;
        }
        repeat = std::min(repeat, limits::kXlsxMaxCols - m_columnCount);
        ColumnInfo info;
        info.first = m_columnCount;
        info.last = m_columnCount + repeat - 1;
        const std::string style = AttrText(atts, "style-name");
        info.width = m_styles.ColumnWidth(style);
        info.customWidth = info.width > 0;
        const char* visibility = atts.Get("visibility");
        info.hidden = visibility != nullptr && std::string_view(visibility) != "visible";
        const std::string cellStyle = AttrText(atts, "default-cell-style-name");
        info.style = cellStyle == "Default" ? 0 : m_styles.CellFormat(cellStyle, m_workbook.Styles());
        if (m_columnDefaults.size() < info.last + 1 && (info.style != 0 || !m_columnDefaults.empty())) {
            m_columnDefaults.resize(std::min<size_t>(info.last + 1, limits::kXlsxMaxCols), 0);
        }
        for (uint32_t c = info.first; info.style != 0 && c <= info.last; ++c) {
            m_columnDefaults[c] = info.style;
        }
        if (info.customWidth || info.hidden || info.style != 0) {
            m_sheet.SetColumn(info);
        }
        m_columnCount += repeat;
    }

    void StartCell(bool covered, const XmlAttributes& atts)
    {
        m_inCell = true;
        m_cellDepth = m_inTarget - 1;
        m_pending = PendingCell{};
        m_pending.col = m_col;
        // One more than the grid: values repeated past its last column are an error, not cut.
        m_pending.repeat = Count(atts, "number-columns-repeated", limits::kXlsxMaxCols + 1);
        m_text.clear();
        m_paragraphs = 0;
        m_annotation = 0;
        // A cell covered by a merge may still hold a value (xlsx files have such cells, and the
        // office suite keeps them): it is read like any other, without spans of its own.
        if (!covered) {
            m_pending.rowSpan = Count(atts, "number-rows-spanned", limits::kXlsxMaxRows);
            m_pending.colSpan = Count(atts, "number-columns-spanned", limits::kXlsxMaxCols);
        }
        m_styleName = AttrText(atts, "style-name");
        std::string_view type;
        if (const char* t = atts.Get("value-type")) {
            type = t;
        }
        m_kind = type == "float"        ? ValueKind::Float
                 : type == "percentage" ? ValueKind::Percentage
                 : type == "currency"   ? ValueKind::Currency
                 : type == "date"       ? ValueKind::Date
                 : type == "time"       ? ValueKind::Time
                 : type == "boolean"    ? ValueKind::Boolean
                 : type == "string"     ? ValueKind::String
                                        : ValueKind::None;
        // LibreOffice marks a formula's error result in its own namespace beside a string type.
        for (const char** a = atts.Raw(); *a != nullptr; a += 2) {
            if (std::strcmp(a[0], "calcext:value-type") == 0 && std::strcmp(a[1], "error") == 0) {
                m_kind = ValueKind::Error;
            }
        }
        m_value = AttrText(atts, m_kind == ValueKind::Date      ? "date-value"
                                 : m_kind == ValueKind::Time    ? "time-value"
                                 : m_kind == ValueKind::Boolean ? "boolean-value"
                                 : m_kind == ValueKind::String  ? "string-value"
                                                                : "value");
        m_hasStringValue = m_kind == ValueKind::String && atts.Get("string-value") != nullptr;
        if (const char* f = atts.Get("formula")) {
            m_pending.formula = f;
        }
    }

    void CellChild(std::string_view name, const XmlAttributes& atts)
    {
        if (m_annotation != 0) {
            return;
        }
        const bool direct = m_inTarget == m_cellDepth + 2;
        if (direct && name != "p" && name != "h") {
            // Annotations (comments), drawings anchored to the cell and the like: their text is
            // not the cell's.
            m_annotation = m_inTarget;
            m_parser->CaptureText(false);
        } else if (name == "p" || name == "h") {
            if (m_paragraphs++ > 0) {
                AppendText("\n");
            }
            m_parser->CaptureText(true);
        } else if (name == "s") {
            uint32_t spaces = Count(atts, "c", 1024);
            AppendText(std::string(spaces, ' '));
        } else if (name == "tab") {
            AppendText("\t");
        } else if (name == "line-break") {
            AppendText("\n");
        } else if (name == "a" && m_pending.link.empty()) {
            m_pending.link = AttrText(atts, "href");
        }
    }

    void AppendText(std::string_view text)
    {
        if (!m_inCell || m_annotation != 0) {
            return;
        }
        if (m_text.size() + text.size() > limits::kMaxStringBytes) {
            throw LimitError(m_file, "a cell of a sheet holds more text than a cell can (" +
                                         std::to_string(limits::kMaxCellChars) + " characters)");
        }
        m_text.append(text);
    }

    uint32_t WithFormat(uint32_t xf, const char* code)
    {
        if (m_workbook.Styles().IsDateFormat(xf) && code[0] != '0' && code[0] != '#') {
            return xf;
        }
        if (code[0] == '0' || code[0] == '#') {
            if (m_workbook.Styles().Resolve(xf).numFmt != "General") {
                return xf;
            }
        }
        ResolvedStyle look = m_workbook.Styles().Resolve(xf);
        look.numFmt = code;
        return m_workbook.Styles().InternStyle(look);
    }

    void EndCell()
    {
        m_inCell = false;
        m_parser->CaptureText(false);
        PendingCell cell = std::move(m_pending);
        m_col = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{m_col} + cell.repeat, limits::kXlsxMaxCols + 1ull));
        Cell& c = cell.cell;
        c.col = cell.col;
        c.style = m_styleName.empty() ? 0 : m_styles.CellFormat(m_styleName, m_workbook.Styles());
        double number = 0;
        auto parseNumber = [&](const std::string& text) {
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
            return ec == std::errc() && end == text.data() + text.size() && std::isfinite(number);
        };
        switch (m_kind) {
        case ValueKind::Float:
        case ValueKind::Percentage:
        case ValueKind::Currency:
            if (parseNumber(m_value)) {
                c.type = CellType::Number;
                c.number = number;
                // LibreOffice writes a logical value (typed, or the result of TRUE() or a
                // comparison) as a number with a boolean data style, shown as TRUE or FALSE.
                if ((number == 1 && m_text == "TRUE") || (number == 0 && m_text == "FALSE") ||
                    ((number == 0 || number == 1) && m_styles.BooleanStyle(m_styleName))) {
                    c.type = CellType::Boolean;
                    c.boolean = number == 1;
                    break;
                }
                if (m_kind == ValueKind::Percentage) {
                    c.style = WithFormat(c.style, "0%");
                } else if (m_kind == ValueKind::Currency) {
                    c.style = WithFormat(c.style, "#,##0.00");
                }
            }
            break;
        case ValueKind::Date:
            if (auto serial = OdfDateSerial(m_value)) {
                c.type = CellType::Number;
                c.number = *serial;
                c.style = WithFormat(c.style, *serial == std::floor(*serial) ? "yyyy-mm-dd" : "yyyy-mm-dd hh:mm:ss");
            }
            break;
        case ValueKind::Time:
            if (auto days = OdfDurationDays(m_value)) {
                c.type = CellType::Number;
                c.number = *days;
                c.style = WithFormat(c.style, "[h]:mm:ss");
            }
            break;
        case ValueKind::Boolean:
            c.type = CellType::Boolean;
            c.boolean = m_value == "true" || m_value == "1";
            break;
        case ValueKind::Error:
            c.type = CellType::Error;
            c.error = ErrorFromText(m_text).value_or(ErrorCode::Value);
            break;
        case ValueKind::String:
        case ValueKind::None:
            break;
        }
        if (c.type == CellType::Blank) {
            const std::string& text = m_hasStringValue ? m_value : m_text;
            if (!text.empty() || m_kind == ValueKind::String) {
                if (!text.empty()) {
                    c.type = CellType::String;
                    c.text = m_workbook.Strings().Intern(text);
                }
            }
        }
        const bool content = c.type != CellType::Blank || !cell.formula.empty() || cell.rowSpan > 1 ||
                             cell.colSpan > 1 || !cell.link.empty();
        if (!content) {
            if (c.style == 0 || cell.col >= limits::kXlsxMaxCols) {
                return;
            }
            if (cell.col < m_columnDefaults.size() && m_columnDefaults[cell.col] == c.style &&
                cell.col + cell.repeat <= m_columnDefaults.size() &&
                m_columnDefaults[cell.col + cell.repeat - 1] == c.style) {
                return; // the column's own format
            }
            if (cell.col + cell.repeat >= limits::kOdsMaxFormatRun) {
                // A run to the far end of the row, after nothing but runs of the same format from
                // the first column: the whole row is formatted.
                bool whole = true;
                for (const PendingCell& before : m_cells) {
                    whole = whole && before.cell.type == CellType::Blank && before.cell.style == c.style &&
                            before.formula.empty() && before.link.empty() && before.rowSpan == 1 && before.colSpan == 1;
                }
                if (whole && (m_cells.empty() ? cell.col == 0 : m_cells.front().col == 0)) {
                    m_rowFormat = c.style;
                    m_cells.clear();
                }
                return;
            }
        } else if (uint64_t{cell.col} + cell.repeat > limits::kXlsxMaxCols) {
            throw LimitError(m_file, "a sheet holds values beyond column XFD, the last a sheet has");
        }
        m_cells.push_back(std::move(cell));
    }

    void EndRow()
    {
        const uint32_t first = m_row;
        const uint32_t repeat = m_rowRepeat;
        m_row = static_cast<uint32_t>(std::min<uint64_t>(uint64_t{m_row} + repeat, limits::kXlsxMaxRows + 1ull));
        bool content = false;
        uint64_t formatCells = 0;
        for (const PendingCell& cell : m_cells) {
            if (cell.cell.type != CellType::Blank || !cell.formula.empty() || !cell.link.empty() || cell.rowSpan > 1 ||
                cell.colSpan > 1) {
                content = true;
            } else {
                formatCells += cell.repeat;
            }
        }
        bool custom = false;
        const double height = m_styles.RowHeight(m_rowStyleName, custom);
        const bool settings = custom || m_rowHidden || m_rowFormat != 0;
        if (first >= limits::kXlsxMaxRows) {
            if (content) {
                throw LimitError(m_file, "a sheet holds values beyond row 1,048,576, the last a sheet has");
            }
            return;
        }
        if (content && uint64_t{first} + repeat > limits::kXlsxMaxRows) {
            throw LimitError(m_file, "a sheet holds values beyond row 1,048,576, the last a sheet has");
        }
        uint32_t rows = std::min(repeat, limits::kXlsxMaxRows - first);
        if (!content) {
            if (formatCells == 0 && !settings) {
                return;
            }
            if (rows > limits::kOdsMaxSettingsRows) {
                return; // the empty rest of the sheet, formatted or hidden
            }
            if ((m_formatCells += formatCells * rows) > limits::kOdsMaxFormatCells) {
                return;
            }
        }
        uint64_t rowCells = 0;
        for (const PendingCell& pending : m_cells) {
            rowCells += pending.repeat;
        }
        // Checked before anything is expanded: a repeated row of many cells would otherwise fill
        // memory up to the limit first.
        if (m_cellCount + rowCells * rows > m_maxCells) {
            throw LimitError(m_file, "a sheet holds more than " + std::to_string(m_maxCells) + " cells");
        }
        for (uint32_t r = 0; r < rows; ++r) {
            const uint32_t index = first + r;
            Row& row = m_sheet.LoadRow(index);
            if (custom) {
                row.height = static_cast<float>(height);
                row.customHeight = true;
            }
            row.hidden = m_rowHidden;
            row.style = m_rowFormat;
            for (const PendingCell& pending : m_cells) {
                for (uint32_t k = 0; k < pending.repeat; ++k) {
                    Cell cell = pending.cell;
                    cell.col = pending.col + k;
                    ++m_cellCount;
                    row.cells.push_back(cell);
                    Extras(pending, index, cell.col);
                }
            }
        }
    }

    void Extras(const PendingCell& pending, uint32_t row, uint32_t col)
    {
        if (pending.rowSpan > 1 || pending.colSpan > 1) {
            if (m_sheet.merges.size() >= limits::kMaxMergedRanges) {
                throw LimitError(m_file, "a sheet has more than " + std::to_string(limits::kMaxMergedRanges) +
                                             " merged ranges");
            }
            CellRange range{row, col,
                            static_cast<uint32_t>(
                                std::min<uint64_t>(uint64_t{row} + pending.rowSpan - 1, limits::kXlsxMaxRows - 1)),
                            static_cast<uint32_t>(
                                std::min<uint64_t>(uint64_t{col} + pending.colSpan - 1, limits::kXlsxMaxCols - 1))};
            m_sheet.merges.push_back(range);
        }
        if (!pending.link.empty()) {
            if (m_sheet.hyperlinks.size() >= limits::kMaxHyperlinks) {
                throw LimitError(m_file,
                                 "a sheet has more than " + std::to_string(limits::kMaxHyperlinks) + " hyperlinks");
            }
            Hyperlink link;
            link.range = CellRange{row, col, row, col};
            if (pending.link[0] == '#') {
                // A place in this workbook: "#Sheet2.A1" in ODF, "Sheet2!A1" in the model.
                std::string place = pending.link.substr(1);
                size_t dot = place.rfind('.');
                if (dot != std::string::npos) {
                    place[dot] = '!';
                }
                link.location = place;
            } else {
                link.target = pending.link;
            }
            m_sheet.hyperlinks.push_back(std::move(link));
        }
        if (!pending.formula.empty()) {
            std::string text;
            if (formula::OpenFormulaToA1(pending.formula, text)) {
                m_formulas.push_back({row, col, std::move(text)});
            }
        }
    }

    struct PendingFormula {
        uint32_t row;
        uint32_t col;
        std::string text;
    };

    Workbook& m_workbook;
    Worksheet& m_sheet;
    OdsStyleSheet& m_styles;
    size_t m_target;
    const std::string& m_file;
    XmlParser* m_parser = nullptr;
    size_t m_tableIndex = 0;
    int m_inTarget = 0; // depth inside the target table, 0 outside it
    uint32_t m_columnCount = 0;
    std::vector<uint32_t> m_columnDefaults;
    uint32_t m_row = 0;
    uint32_t m_rowRepeat = 1;
    std::string m_rowStyleName;
    bool m_rowHidden = false;
    uint32_t m_rowFormat = 0;
    uint32_t m_col = 0;
    std::vector<PendingCell> m_cells;
    bool m_inCell = false;
    int m_cellDepth = 0;
    PendingCell m_pending;
    std::string m_styleName;
    ValueKind m_kind = ValueKind::None;
    std::string m_value;
    bool m_hasStringValue = false;
    std::string m_text;
    int m_paragraphs = 0;
    int m_annotation = 0;
    uint64_t m_cellCount = 0;
    uint64_t m_maxCells;
    uint64_t m_formatCells = 0;
    std::vector<PendingFormula> m_formulas;
};

class OdsSheetSource : public SheetSource {
public:
    OdsSheetSource(std::shared_ptr<ZipReader> zip, uint64_t maxCells) : m_zip(std::move(zip)), m_maxCells(maxCells) {}

    void CheckInput() const override { m_zip->Bytes().CheckUnchanged(); }

    void LoadSheet(Workbook& workbook, size_t index, Worksheet& out) override
    {
        if (index >= m_sheetCount) {
            return;
        }
        LoadStyles();
        const std::string& file = m_zip->FileName();
        // Automatic styles come before the body, so each read of the content brings them again.
        XmlParser* current = nullptr;
        StylesHandler automatic(current);
        Worksheet sheet;
        SheetHandler handler(workbook, sheet, *m_styles, index, file, m_maxCells);
        // Two handlers over one stream: the styles handler until the body starts.
        class Both : public XmlHandler {
        public:
            Both(StylesHandler& styles, SheetHandler& sheet, OdsStyleSheet& sheetStyles)
                : m_styles(styles), m_sheet(sheet), m_sheetStyles(sheetStyles)
            {
            }
            void StartElement(std::string_view name, const XmlAttributes& atts) override
            {
                if (!m_body && name == "body") {
                    m_body = true;
                    m_sheetStyles.SetAutomatic(std::move(m_styles.collector.styles));
                }
                m_body ? m_sheet.StartElement(name, atts) : m_styles.StartElement(name, atts);
            }
            void EndElement(std::string_view name) override
            {
                m_body ? m_sheet.EndElement(name) : m_styles.EndElement(name);
            }
            void Text(std::string_view text) override { m_body ? m_sheet.Text(text) : m_styles.Text(text); }

        private:
            StylesHandler& m_styles;
            SheetHandler& m_sheet;
            OdsStyleSheet& m_sheetStyles;
            bool m_body = false;
        } both(automatic, handler, *m_styles);
        XmlParser parser(both, file, std::string(kContent));
        // The tables are rows of small tags, which the parser's own scanner reads several times
        // faster than expat.
        parser.ScanContentOf("spreadsheet");
        current = &parser;
        handler.SetParser(&parser);
        try {
            m_zip->StreamPart(kContent, [&parser](const char* data, size_t size) { parser.Feed(data, size, false); });
            parser.Feed(nullptr, 0, true);
        } catch (const SheetDone&) {
        }
        handler.Finish();
        m_zip->Bytes().ReleaseResidentPages();
        out = std::move(sheet);
    }

    size_t m_sheetCount = 0;

private:
    void LoadStyles()
    {
        if (m_styles) {
            return;
        }
        XmlParser* current = nullptr;
        StylesHandler handler(current);
        if (m_zip->Has(kStyles)) {
            XmlParser parser(handler, m_zip->FileName(), std::string(kStyles));
            current = &parser;
            m_zip->StreamPart(kStyles, [&parser](const char* data, size_t size) { parser.Feed(data, size, false); });
            parser.Feed(nullptr, 0, true);
        }
        m_styles =
            std::make_unique<OdsStyleSheet>(std::move(handler.collector.styles), std::move(handler.collector.defaults));
    }

    std::shared_ptr<ZipReader> m_zip;
    uint64_t m_maxCells;
    std::unique_ptr<OdsStyleSheet> m_styles;
};

} // namespace

bool IsOpenDocumentPackage(const std::shared_ptr<const InputBytes>& bytes)
{
    auto data = bytes->Data();
    // The mimetype entry first and stored, as the standard asks: its name at offset 30.
    if (data.size() > 38 && std::memcmp(data.data() + 30, "mimetype", 8) == 0) {
        return true;
    }
    // Office Open XML packages as Excel and the other writers save them begin with their content
    // types: no need to read the zip directory a second time to tell.
    static constexpr std::string_view kContentTypes = "[Content_Types].xml";
    if (data.size() > 30 + kContentTypes.size() &&
        std::memcmp(data.data() + 30, kContentTypes.data(), kContentTypes.size()) == 0) {
        return false;
    }
    try {
        ZipReader zip(bytes);
        return zip.Has("mimetype") || (zip.Has(kContent) && !zip.Has("[Content_Types].xml"));
    } catch (const EngineError&) {
        return false; // the xlsx reader names what is wrong with the package
    }
}

std::unique_ptr<Workbook> ReadOds(std::shared_ptr<const InputBytes> bytes, uint64_t maxCellsPerSheet)
{
    const std::string fileName = bytes->Name();
    auto zip = std::make_shared<ZipReader>(std::move(bytes));
    if (zip->Has("mimetype")) {
        std::string type = zip->ReadPart("mimetype", 256);
        if (!type.starts_with(kSpreadsheetType)) {
            throw FormatError(fileName, "the file is an OpenDocument file of type " + type + ", not a spreadsheet",
                              "mimetype");
        }
    }
    if (zip->Has("META-INF/manifest.xml")) {
        std::string manifest = zip->ReadPart("META-INF/manifest.xml", limits::kMaxMetadataPartBytes);
        if (manifest.find("encryption-data") != std::string::npos) {
            throw PasswordProtectedError(fileName);
        }
    }
    if (!zip->Has(kContent)) {
        throw FormatError(fileName, "the OpenDocument package has no content.xml", std::string(kContent));
    }
    XmlParser* current = nullptr;
    ListingHandler listing(current);
    {
        XmlParser parser(listing, fileName, std::string(kContent));
        parser.ScanContentOf("spreadsheet");
        current = &parser;
        zip->StreamPart(kContent, [&parser](const char* data, size_t size) { parser.Feed(data, size, false); });
        parser.Feed(nullptr, 0, true);
    }
    OdsStyleSheet tableStyles({}, {});
    tableStyles.SetAutomatic(std::move(listing.collector.styles));
    auto workbook = std::make_unique<Workbook>();
    workbook->SetSourcePath(fileName);
    for (const TableEntry& table : listing.tables) {
        workbook->AddUnloadedSheet(table.name,
                                   tableStyles.TableHidden(table.style) ? SheetState::Hidden : SheetState::Visible);
    }
    auto source = std::make_unique<OdsSheetSource>(zip, maxCellsPerSheet);
    source->m_sheetCount = listing.tables.size();
    workbook->SetSheetSource(std::move(source));
    return workbook;
}

} // namespace gq::engine
