// Writes the workbook model as an xlsx package (ECMA-376 Part 1, SpreadsheetML), streaming each
// worksheet through the zip writer so that no sheet is ever held as XML in memory.
#include "engine/xlsx/XlsxWriter.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/text/Utf8.h"
#include "engine/xlsx/XlsxWriterText.h"
#include "engine/zip/ZipWriter.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <thread>

namespace gq::engine {

namespace {

constexpr std::string_view kXmlDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
constexpr std::string_view kMainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr std::string_view kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr std::string_view kPackageRelNs = "http://schemas.openxmlformats.org/package/2006/relationships";
constexpr std::string_view kOfficeRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

// Excel's defaults for a Calibri 11 workbook: 15 points a row, 8.43 digits plus padding a column.
constexpr double kDefaultRowHeight = 15.0;
constexpr double kDefaultColumnWidth = 9.140625;

constexpr uint32_t kUnmapped = UINT32_MAX;
// The first id of a custom number format; 0-163 are built in or reserved (ECMA-376 18.8.30).
constexpr uint32_t kFirstCustomNumFmt = 164;

// Worksheet XML is produced into a buffer of this size and handed to the zip writer in chunks.
constexpr size_t kChunkBytes = 256 * 1024;
// Room for one cell or row element at most: <c r="XFD1048576" s="65429" t="e"><v>#GETTING_DATA</v></c>.
constexpr size_t kCellRoom = 128;

// Output buffer of one streamed part. Callers reserve room for what they are about to write and
// write through a raw pointer, so the per-cell path has one capacity check and no allocation.
class PartStream {
public:
    explicit PartStream(ZipWriter& zip) : m_zip(zip), m_buffer(kChunkBytes + kCellRoom * 4) {}

    char* Reserve(size_t room)
    {
        if (m_size + room > m_buffer.size()) {
            Flush();
            if (room > m_buffer.size()) {
                m_buffer.resize(room);
            }
        }
        return m_buffer.data() + m_size;
    }
    void Commit(char* end)
    {
        m_size = static_cast<size_t>(end - m_buffer.data());
        if (m_size >= kChunkBytes) {
            Flush();
        }
    }
    void Append(std::string_view text)
    {
        char* p = Reserve(text.size());
        std::memcpy(p, text.data(), text.size());
        Commit(p + text.size());
    }
    void Flush()
    {
        if (m_size > 0) {
            m_zip.Write(m_buffer.data(), m_size);
            m_size = 0;
        }
    }

private:
    ZipWriter& m_zip;
    std::vector<char> m_buffer;
    size_t m_size = 0;
};

inline char* Put(char* p, std::string_view text)
{
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

inline char* PutUint(char* p, uint64_t value) { return std::to_chars(p, p + 24, value).ptr; }

// Column letters of a zero-based column inside the grid (A..XFD).
inline char* PutColumn(char* p, uint32_t col)
{
    if (col < 26) {
        *p++ = static_cast<char>('A' + col);
    } else if (col < 702) {
        col -= 26;
        *p++ = static_cast<char>('A' + col / 26);
        *p++ = static_cast<char>('A' + col % 26);
    } else {
        col -= 702;
        *p++ = static_cast<char>('A' + col / 676);
        *p++ = static_cast<char>('A' + (col / 26) % 26);
        *p++ = static_cast<char>('A' + col % 26);
    }
    return p;
}

// Shortest text that reads back as the same double; integers take the faster integer path.
inline char* PutNumber(char* p, double value)
{
    if (value == 0) {
        *p++ = '0'; // also for -0, which not every reader takes
        return p;
    }
    if (std::fabs(value) < 1e15 && value == std::trunc(value)) {
        return std::to_chars(p, p + 24, static_cast<int64_t>(value)).ptr;
    }
    return std::to_chars(p, p + 32, value).ptr;
}

void AppendNumber(std::string& out, double value)
{
    char buffer[40];
    out.append(buffer, PutNumber(buffer, value));
}

void AppendUint(std::string& out, uint64_t value)
{
    char buffer[24];
    out.append(buffer, PutUint(buffer, value));
}

void AppendArgb(std::string& out, const Color& color)
{
    if (color.kind == Color::Kind::Auto) {
        out += " auto=\"1\"";
        return;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += " rgb=\"";
    for (int shift = 28; shift >= 0; shift -= 4) {
        out += kHex[(color.argb >> shift) & 0xF];
    }
    out += '"';
}

// <tag rgb="AARRGGBB"/> for a colour that is set; nothing for Color::Kind::None.
void AppendColorElement(std::string& out, std::string_view tag, const Color& color)
{
    if (color.kind == Color::Kind::None) {
        return;
    }
    out += '<';
    out += tag;
    AppendArgb(out, color);
    out += "/>";
}

constexpr std::string_view kPatternNames[] = {
    "none", "solid", "mediumGray", "darkGray", "lightGray", "darkHorizontal", "darkVertical", "darkDown", "darkUp",
    "darkGrid", "darkTrellis", "lightHorizontal", "lightVertical", "lightDown", "lightUp", "lightGrid", "lightTrellis",
    "gray125", "gray0625"};
constexpr std::string_view kBorderNames[] = {
    "none", "thin", "medium", "dashed", "dotted", "thick", "double", "hair", "mediumDashed", "dashDot", "mediumDashDot",
    "dashDotDot", "mediumDashDotDot", "slantDashDot"};
constexpr std::string_view kHAlignNames[] = {
    "general", "left", "center", "right", "fill", "justify", "centerContinuous", "distributed"};
constexpr std::string_view kVAlignNames[] = {"top", "center", "bottom", "justify", "distributed"};
constexpr std::string_view kUnderlineNames[] = {"none", "single", "double", "singleAccounting", "doubleAccounting"};

template <size_t N>
std::string_view NameOf(const std::string_view (&names)[N], uint8_t value)
{
    return value < N ? names[value] : names[0];
}

unsigned DeflateThreads(int requested)
{
    if (requested >= 0) {
        return static_cast<unsigned>(std::min(requested, 16));
    }
    unsigned cores = std::thread::hardware_concurrency();
    return cores <= 1 ? 0 : std::min(cores, 4u);
}

// One worksheet's hyperlink as it will be written, with its relationship when it leaves the file.
struct LinkOut {
    const Hyperlink* link;
    CellRange range;
    uint32_t relId; // 0: internal link, no relationship
};

class XlsxWriter {
public:
    XlsxWriter(Workbook& workbook, ByteSink& sink, const XlsxWriteOptions& options)
        : m_workbook(workbook), m_zip(sink, options.level, DeflateThreads(options.threads))
    {
    }

    void Write();

private:
    void CheckSheets();
    void WriteFixedParts();
    void WriteWorkbookPart();
    void WriteSheet(size_t index);
    void WriteSheetData(PartStream& out, const Worksheet& sheet);
    void WriteSharedStrings();
    void WriteStyles();

    uint32_t MapXf(uint32_t xf, uint32_t row, uint32_t col);
    uint32_t MapString(uint32_t text, uint32_t row, uint32_t col);
    std::string Where(uint32_t row, uint32_t col) const;

    Workbook& m_workbook;
    ZipWriter m_zip;
    size_t m_activeTab = 0;
    std::vector<SheetState> m_states;
    std::string m_sheetName; // of the sheet being written, for messages

    // Cell formats in output order (model indexes), and the model -> output map.
    std::vector<uint32_t> m_xfMap;
    std::vector<uint32_t> m_usedXfs;
    // Shared strings in first-use order (model indexes), and the model -> output map. A cell whose
    // string index is past the table reads as empty text, as the model gives it.
    std::vector<uint32_t> m_sstMap;
    std::vector<uint32_t> m_usedStrings;
    uint32_t m_emptySst = kUnmapped;
    uint64_t m_stringRefs = 0;
};

std::string XlsxWriter::Where(uint32_t row, uint32_t col) const
{
    return "sheet \"" + m_sheetName + "\", cell " + CellName(row, col);
}

uint32_t XlsxWriter::MapXf(uint32_t xf, uint32_t row, uint32_t col)
{
    if (xf >= m_xfMap.size()) {
        return 0; // the model reads an unknown format as the default one
    }
    uint32_t& mapped = m_xfMap[xf];
    if (mapped == kUnmapped) {
        if (m_usedXfs.size() >= limits::kXlsxMaxCellFormats) {
            throw LimitError(Where(row, col) + ": the workbook uses more than 65,430 distinct cell formats, the most "
                                               "an xlsx file can hold");
        }
        mapped = static_cast<uint32_t>(m_usedXfs.size());
        m_usedXfs.push_back(xf);
    }
    return mapped;
}

uint32_t XlsxWriter::MapString(uint32_t text, uint32_t row, uint32_t col)
{
    ++m_stringRefs;
    uint32_t* slot = text < m_sstMap.size() ? &m_sstMap[text] : &m_emptySst;
    if (*slot == kUnmapped) {
        const std::string& value = m_workbook.Strings().At(text);
        size_t units = Utf16Length(value);
        if (units > limits::kMaxCellChars) {
            throw LimitError(Where(row, col) + ": the text is " + std::to_string(units) +
                             " characters long; an xlsx cell holds at most 32,767");
        }
        *slot = static_cast<uint32_t>(m_usedStrings.size());
        m_usedStrings.push_back(text < m_sstMap.size() ? text : kUnmapped);
    }
    return *slot;
}

void XlsxWriter::CheckSheets()
{
    size_t count = m_workbook.SheetCount();
    if (count == 0) {
        throw EngineError("a workbook needs at least one sheet to be saved");
    }
    m_workbook.CheckSheetNames();
    bool anyVisible = false;
    for (size_t i = 0; i < count; ++i) {
        m_states.push_back(m_workbook.SheetStateAt(i));
        anyVisible = anyVisible || m_states.back() == SheetState::Visible;
    }
    m_activeTab = m_workbook.ActiveSheet() < count ? m_workbook.ActiveSheet() : 0;
    // Excel refuses a workbook without a visible sheet, and shows a hidden active sheet as active
    // while hiding it. The active sheet is the one the user is meant to see, so it becomes visible
    // when nothing else is; otherwise the first visible sheet becomes the active one.
    if (!anyVisible) {
        m_states[m_activeTab] = SheetState::Visible;
    } else if (m_states[m_activeTab] != SheetState::Visible) {
        for (size_t i = 0; i < count; ++i) {
            if (m_states[i] == SheetState::Visible) {
                m_activeTab = i;
                break;
            }
        }
    }
}

void XlsxWriter::WriteFixedParts()
{
    std::string types(kXmlDecl);
    types += "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
             "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
             "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
             "<Override PartName=\"/xl/workbook.xml\" "
             "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>";
    for (size_t i = 0; i < m_workbook.SheetCount(); ++i) {
        types += "<Override PartName=\"/xl/worksheets/sheet";
        AppendUint(types, i + 1);
        types += ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    }
    types += "<Override PartName=\"/xl/styles.xml\" "
             "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>"
             "<Override PartName=\"/xl/sharedStrings.xml\" "
             "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>"
             "<Override PartName=\"/docProps/core.xml\" "
             "ContentType=\"application/vnd.openxmlformats-package.core-properties+xml\"/>"
             "<Override PartName=\"/docProps/app.xml\" "
             "ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/>"
             "</Types>";
    m_zip.AddPart("[Content_Types].xml", types);

    std::string rels(kXmlDecl);
    rels += "<Relationships xmlns=\"";
    rels += kPackageRelNs;
    rels += "\"><Relationship Id=\"rId1\" Type=\"";
    rels += kOfficeRel;
    rels += "officeDocument\" Target=\"xl/workbook.xml\"/>"
            "<Relationship Id=\"rId2\" "
            "Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/core-properties\" "
            "Target=\"docProps/core.xml\"/>"
            "<Relationship Id=\"rId3\" Type=\"";
    rels += kOfficeRel;
    rels += "extended-properties\" Target=\"docProps/app.xml\"/></Relationships>";
    m_zip.AddPart("_rels/.rels", rels);

    // Fixed document properties: no dates and no user name, so that equal workbooks give equal files.
    std::string core(kXmlDecl);
    core += "<cp:coreProperties "
            "xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/metadata/core-properties\" "
            "xmlns:dc=\"http://purl.org/dc/elements/1.1/\"><dc:creator>Gridquilt</dc:creator></cp:coreProperties>";
    m_zip.AddPart("docProps/core.xml", core);

    std::string app(kXmlDecl);
    app += "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\">"
           "<Application>Gridquilt</Application></Properties>";
    m_zip.AddPart("docProps/app.xml", app);
}

void XlsxWriter::WriteWorkbookPart()
{
    size_t count = m_workbook.SheetCount();
    std::string xml(kXmlDecl);
    xml += "<workbook xmlns=\"";
    xml += kMainNs;
    xml += "\" xmlns:r=\"";
    xml += kRelNs;
    xml += "\">";
    xml += m_workbook.Date1904() ? "<workbookPr date1904=\"1\"/>" : "<workbookPr/>";
    xml += "<bookViews><workbookView activeTab=\"";
    AppendUint(xml, m_activeTab);
    xml += "\"/></bookViews><sheets>";
    for (size_t i = 0; i < count; ++i) {
        xml += "<sheet name=\"";
        xlsxout::AppendAttribute(xml, m_workbook.SheetName(i));
        xml += "\" sheetId=\"";
        AppendUint(xml, i + 1);
        xml += '"';
        if (m_states[i] == SheetState::Hidden) {
            xml += " state=\"hidden\"";
        } else if (m_states[i] == SheetState::VeryHidden) {
            xml += " state=\"veryHidden\"";
        }
        xml += " r:id=\"rId";
        AppendUint(xml, i + 1);
        xml += "\"/>";
    }
    xml += "</sheets></workbook>";
    m_zip.AddPart("xl/workbook.xml", xml);

    std::string rels(kXmlDecl);
    rels += "<Relationships xmlns=\"";
    rels += kPackageRelNs;
    rels += "\">";
    for (size_t i = 0; i < count; ++i) {
        rels += "<Relationship Id=\"rId";
        AppendUint(rels, i + 1);
        rels += "\" Type=\"";
        rels += kOfficeRel;
        rels += "worksheet\" Target=\"worksheets/sheet";
        AppendUint(rels, i + 1);
        rels += ".xml\"/>";
    }
    rels += "<Relationship Id=\"rId";
    AppendUint(rels, count + 1);
    rels += "\" Type=\"";
    rels += kOfficeRel;
    rels += "styles\" Target=\"styles.xml\"/><Relationship Id=\"rId";
    AppendUint(rels, count + 2);
    rels += "\" Type=\"";
    rels += kOfficeRel;
    rels += "sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>";
    m_zip.AddPart("xl/_rels/workbook.xml.rels", rels);
}

bool InOrder(const Worksheet& sheet)
{
    for (size_t i = 0; i < sheet.rows.size(); ++i) {
        if (i > 0 && sheet.rows[i - 1].index >= sheet.rows[i].index) {
            return false;
        }
        const auto& cells = sheet.rows[i].cells;
        for (size_t j = 1; j < cells.size(); ++j) {
            if (cells[j - 1].col >= cells[j].col) {
                return false;
            }
        }
    }
    return true;
}

bool InGrid(const CellRange& r)
{
    return r.firstRow <= r.lastRow && r.firstCol <= r.lastCol && r.lastRow < limits::kXlsxMaxRows &&
           r.lastCol < limits::kXlsxMaxCols;
}

void XlsxWriter::WriteSheet(size_t index)
{
    bool wasLoaded = m_workbook.IsSheetLoaded(index);
    Worksheet& sheet = m_workbook.Sheet(index);
    m_sheetName = m_workbook.SheetName(index);
    // Loading a sheet may have added strings and formats to the workbook's tables.
    m_xfMap.resize(m_workbook.Styles().CellFormats().size(), kUnmapped);
    m_sstMap.resize(m_workbook.Strings().Size(), kUnmapped);
    if (!InOrder(sheet)) {
        sheet.Normalize();
    }

    // Everything outside sheetData is checked before the part is begun.
    std::vector<CellRange> merges;
    merges.reserve(sheet.merges.size());
    for (const CellRange& m : sheet.merges) {
        if (!InGrid(m)) {
            throw LimitError("sheet \"" + m_sheetName + "\": the merged range " + RangeName(m) +
                             " lies outside the xlsx grid");
        }
        if (m.firstRow != m.lastRow || m.firstCol != m.lastCol) {
            merges.push_back(m); // a merge of one cell means nothing and Excel rejects it
        }
    }
    std::vector<LinkOut> links;
    uint32_t relCount = 0;
    for (const Hyperlink& h : sheet.hyperlinks) {
        if (!InGrid(h.range)) {
            throw LimitError("sheet \"" + m_sheetName + "\": the hyperlink at " + RangeName(h.range) +
                             " lies outside the xlsx grid");
        }
        if (h.target.empty() && h.location.empty()) {
            continue; // points nowhere
        }
        links.push_back({&h, h.range, h.target.empty() ? 0 : ++relCount});
    }
    std::vector<ColumnInfo> columns = sheet.columns;
    std::stable_sort(columns.begin(), columns.end(),
                     [](const ColumnInfo& a, const ColumnInfo& b) { return a.first < b.first; });
    for (const ColumnInfo& c : columns) {
        if (c.first > c.last || c.last >= limits::kXlsxMaxCols) {
            throw LimitError("sheet \"" + m_sheetName + "\": column settings for " + ColumnName(c.first) + ":" +
                             ColumnName(c.last) + " lie outside the xlsx grid");
        }
    }
    if (sheet.frozenRows >= limits::kXlsxMaxRows || sheet.frozenCols >= limits::kXlsxMaxCols) {
        throw LimitError("sheet \"" + m_sheetName + "\": the frozen panes lie outside the xlsx grid");
    }
    if (!sheet.rows.empty() && sheet.rows.back().index >= limits::kXlsxMaxRows) {
        const Row& last = sheet.rows.back();
        throw LimitError(Where(last.index, last.cells.empty() ? 0 : last.cells.front().col) +
                         ": the row lies outside the xlsx grid (at most 1,048,576 rows)");
    }

    std::string partName = "xl/worksheets/sheet" + std::to_string(index + 1) + ".xml";
    m_zip.BeginPart(partName);
    PartStream out(m_zip);
    std::string head(kXmlDecl);
    head += "<worksheet xmlns=\"";
    head += kMainNs;
    head += "\" xmlns:r=\"";
    head += kRelNs;
    head += "\"><dimension ref=\"";
    // The dimension covers the stored rows and merged ranges; readers take it as a hint only.
    std::optional<CellRange> box;
    auto extend = [&box](const CellRange& r) {
        if (!box) {
            box = r;
            return;
        }
        box->firstRow = std::min(box->firstRow, r.firstRow);
        box->firstCol = std::min(box->firstCol, r.firstCol);
        box->lastRow = std::max(box->lastRow, r.lastRow);
        box->lastCol = std::max(box->lastCol, r.lastCol);
    };
    for (const Row& r : sheet.rows) {
        if (!r.cells.empty()) {
            extend(CellRange{r.index, r.cells.front().col, r.index,
                             std::min(r.cells.back().col, limits::kXlsxMaxCols - 1)});
        }
    }
    for (const CellRange& m : merges) {
        extend(m);
    }
    head += box ? RangeName(*box) : std::string("A1");
    head += "\"/><sheetViews><sheetView";
    if (index == m_activeTab) {
        head += " tabSelected=\"1\"";
    }
    head += " workbookViewId=\"0\"";
    if (sheet.frozenRows > 0 || sheet.frozenCols > 0) {
        std::string_view pane = sheet.frozenRows == 0 ? "topRight"
                                : sheet.frozenCols == 0 ? "bottomLeft"
                                                        : "bottomRight";
        head += "><pane";
        if (sheet.frozenCols > 0) {
            head += " xSplit=\"";
            AppendUint(head, sheet.frozenCols);
            head += '"';
        }
        if (sheet.frozenRows > 0) {
            head += " ySplit=\"";
            AppendUint(head, sheet.frozenRows);
            head += '"';
        }
        head += " topLeftCell=\"" + CellName(sheet.frozenRows, sheet.frozenCols) + "\" activePane=\"";
        head += pane;
        head += "\" state=\"frozen\"/><selection pane=\"";
        head += pane;
        head += "\"/></sheetView>";
    } else {
        head += "/>";
    }
    head += "</sheetViews><sheetFormatPr";
    if (sheet.defaultColWidth > 0) {
        head += " defaultColWidth=\"";
        AppendNumber(head, sheet.defaultColWidth);
        head += '"';
    }
    head += " defaultRowHeight=\"";
    AppendNumber(head, sheet.defaultRowHeight > 0 ? sheet.defaultRowHeight : kDefaultRowHeight);
    // Excel takes the default height from the default font unless customHeight says otherwise;
    // a reader that stores the usual 15 points must not turn it into a custom height.
    bool customDefault = sheet.defaultRowHeight > 0 && sheet.defaultRowHeight != kDefaultRowHeight;
    head += customDefault ? "\" customHeight=\"1\"/>" : "\"/>";

    bool colsOpen = false;
    uint32_t nextFree = 0;
    for (ColumnInfo c : columns) {
        // Overlapping entries cannot be written; an earlier entry keeps the columns it names.
        if (c.last < nextFree) {
            continue;
        }
        c.first = std::max(c.first, nextFree);
        nextFree = c.last + 1;
        if (c.width <= 0 && !c.customWidth && !c.hidden && c.style == 0) {
            continue;
        }
        if (!colsOpen) {
            head += "<cols>";
            colsOpen = true;
        }
        head += "<col min=\"";
        AppendUint(head, c.first + 1);
        head += "\" max=\"";
        AppendUint(head, c.last + 1);
        head += "\" width=\"";
        double width = c.width > 0 ? c.width : (sheet.defaultColWidth > 0 ? sheet.defaultColWidth : kDefaultColumnWidth);
        AppendNumber(head, width);
        head += '"';
        uint32_t style = MapXf(c.style, 0, c.first);
        if (style != 0) {
            head += " style=\"";
            AppendUint(head, style);
            head += '"';
        }
        if (c.hidden) {
            head += " hidden=\"1\"";
        }
        if (c.customWidth) {
            head += " customWidth=\"1\"";
        }
        head += "/>";
    }
    if (colsOpen) {
        head += "</cols>";
    }
    head += "<sheetData>";
    out.Append(head);

    WriteSheetData(out, sheet);

    std::string tail = "</sheetData>";
    if (!merges.empty()) {
        tail += "<mergeCells count=\"";
        AppendUint(tail, merges.size());
        tail += "\">";
        for (const CellRange& m : merges) {
            tail += "<mergeCell ref=\"";
            tail += RangeName(m);
            tail += "\"/>";
            if (tail.size() > kChunkBytes) {
                out.Append(tail);
                tail.clear();
            }
        }
        tail += "</mergeCells>";
    }
    if (!links.empty()) {
        tail += "<hyperlinks>";
        for (const LinkOut& l : links) {
            tail += "<hyperlink ref=\"";
            tail += RangeName(l.range);
            tail += '"';
            if (l.relId != 0) {
                tail += " r:id=\"rId";
                AppendUint(tail, l.relId);
                tail += '"';
            }
            if (!l.link->location.empty()) {
                tail += " location=\"";
                xlsxout::AppendAttribute(tail, l.link->location);
                tail += '"';
            }
            if (!l.link->tooltip.empty()) {
                tail += " tooltip=\"";
                xlsxout::AppendAttribute(tail, l.link->tooltip);
                tail += '"';
            }
            if (!l.link->display.empty()) {
                tail += " display=\"";
                xlsxout::AppendAttribute(tail, l.link->display);
                tail += '"';
            }
            tail += "/>";
            if (tail.size() > kChunkBytes) {
                out.Append(tail);
                tail.clear();
            }
        }
        tail += "</hyperlinks>";
    }
    tail += "</worksheet>";
    out.Append(tail);
    out.Flush();
    m_zip.EndPart();

    if (relCount > 0) {
        std::string rels(kXmlDecl);
        rels += "<Relationships xmlns=\"";
        rels += kPackageRelNs;
        rels += "\">";
        for (const LinkOut& l : links) {
            if (l.relId == 0) {
                continue;
            }
            rels += "<Relationship Id=\"rId";
            AppendUint(rels, l.relId);
            rels += "\" Type=\"";
            rels += kOfficeRel;
            rels += "hyperlink\" Target=\"";
            xlsxout::AppendAttribute(rels, l.link->target);
            rels += "\" TargetMode=\"External\"/>";
        }
        rels += "</Relationships>";
        m_zip.AddPart("xl/worksheets/_rels/sheet" + std::to_string(index + 1) + ".xml.rels", rels);
    }

    // A sheet read only to be written goes back to its source, so that saving a large workbook
    // holds one sheet at a time.
    if (!wasLoaded) {
        m_workbook.UnloadSheet(index);
    }
}

void XlsxWriter::WriteSheetData(PartStream& out, const Worksheet& sheet)
{
    for (const Row& row : sheet.rows) {
        char rowNumber[24];
        size_t rowDigits = static_cast<size_t>(PutUint(rowNumber, uint64_t{row.index} + 1) - rowNumber);
        std::string_view rowText(rowNumber, rowDigits);
        bool hasHeight = row.height > 0 && std::isfinite(row.height);
        bool open = false;
        auto rowStart = [&](char* p) {
            p = Put(p, "<row r=\"");
            p = Put(p, rowText);
            *p++ = '"';
            if (hasHeight) {
                p = Put(p, " ht=\"");
                p = std::to_chars(p, p + 24, row.height).ptr;
                *p++ = '"';
                if (row.customHeight) {
                    p = Put(p, " customHeight=\"1\"");
                }
            }
            if (row.hidden) {
                p = Put(p, " hidden=\"1\"");
            }
            return p;
        };
        for (const Cell& cell : row.cells) {
            if (cell.type == CellType::Blank && cell.style == 0) {
                continue; // an empty cell with the default format says nothing
            }
            if (cell.col >= limits::kXlsxMaxCols) {
                throw LimitError(Where(row.index, cell.col) +
                                 ": the cell lies outside the xlsx grid (at most 16,384 columns, A to XFD)");
            }
            char* p = out.Reserve(kCellRoom * 2);
            if (!open) {
                p = rowStart(p);
                *p++ = '>';
                open = true;
            }
            p = Put(p, "<c r=\"");
            p = PutColumn(p, cell.col);
            p = Put(p, rowText);
            *p++ = '"';
            uint32_t style = cell.style == 0 ? 0 : MapXf(cell.style, row.index, cell.col);
            if (style != 0) {
                p = Put(p, " s=\"");
                p = PutUint(p, style);
                *p++ = '"';
            }
            switch (cell.type) {
            case CellType::Blank:
                p = Put(p, "/>");
                break;
            case CellType::Number:
                if (std::isfinite(cell.number)) {
                    p = Put(p, "><v>");
                    p = PutNumber(p, cell.number);
                    p = Put(p, "</v></c>");
                } else {
                    // xlsx has no infinities or NaN; Excel shows such a result as #NUM!.
                    p = Put(p, " t=\"e\"><v>#NUM!</v></c>");
                }
                break;
            case CellType::String:
                p = Put(p, " t=\"s\"><v>");
                p = PutUint(p, MapString(cell.text, row.index, cell.col));
                p = Put(p, "</v></c>");
                break;
            case CellType::Boolean:
                p = Put(p, cell.boolean ? " t=\"b\"><v>1</v></c>" : " t=\"b\"><v>0</v></c>");
                break;
            case CellType::Error:
                p = Put(p, " t=\"e\"><v>");
                p = Put(p, ErrorText(cell.error));
                p = Put(p, "</v></c>");
                break;
            }
            out.Commit(p);
        }
        if (open) {
            out.Append("</row>");
        } else if (hasHeight || row.hidden) {
            char* p = rowStart(out.Reserve(kCellRoom));
            p = Put(p, "/>");
            out.Commit(p);
        }
    }
}

void XlsxWriter::WriteSharedStrings()
{
    m_zip.BeginPart("xl/sharedStrings.xml");
    PartStream out(m_zip);
    std::string head(kXmlDecl);
    head += "<sst xmlns=\"";
    head += kMainNs;
    head += "\" count=\"";
    AppendUint(head, m_stringRefs);
    head += "\" uniqueCount=\"";
    AppendUint(head, m_usedStrings.size());
    head += "\">";
    out.Append(head);
    static const std::string kEmpty;
    for (uint32_t index : m_usedStrings) {
        const std::string& text = index == kUnmapped ? kEmpty : m_workbook.Strings().At(index);
        char* p = out.Reserve(xlsxout::kMaxEscapedGrowth * text.size() + 64);
        if (xlsxout::NeedsPreserve(text)) {
            p = Put(p, "<si><t xml:space=\"preserve\">");
        } else {
            p = Put(p, "<si><t>");
        }
        p = xlsxout::EscapeText(p, text);
        p = Put(p, "</t></si>");
        out.Commit(p);
    }
    out.Append("</sst>");
    out.Flush();
    m_zip.EndPart();
}

void XlsxWriter::WriteStyles()
{
    const StyleTable& styles = m_workbook.Styles();
    const auto& formats = styles.CellFormats();

    // Fonts, fills, borders and number formats in first-use order of the used cell formats; the
    // defaults keep index 0, and fills 0 and 1 are the two Excel reserves (none, gray125).
    std::vector<uint32_t> fontMap(styles.Fonts().size(), kUnmapped);
    std::vector<uint32_t> fillMap(styles.Fills().size(), kUnmapped);
    std::vector<uint32_t> borderMap(styles.Borders().size(), kUnmapped);
    std::vector<uint32_t> numFmtMap(styles.NumberFormats().size(), kUnmapped);
    std::vector<uint32_t> fonts{0};
    std::vector<uint32_t> fills;
    std::vector<uint32_t> borders{0};
    std::vector<uint32_t> customNumFmts;
    fontMap[0] = 0;
    fillMap[0] = 0;
    borderMap[0] = 0;
    const Fill kGray125{PatternType::Gray125, Color{}, Color{}};
    auto mapFont = [&](uint32_t i) {
        if (i >= fontMap.size()) {
            return 0u;
        }
        if (fontMap[i] == kUnmapped) {
            fontMap[i] = static_cast<uint32_t>(fonts.size());
            fonts.push_back(i);
        }
        return fontMap[i];
    };
    auto mapFill = [&](uint32_t i) {
        if (i >= fillMap.size()) {
            return 0u;
        }
        if (fillMap[i] == kUnmapped) {
            if (styles.Fills()[i] == kGray125) {
                fillMap[i] = 1;
            } else {
                fillMap[i] = static_cast<uint32_t>(fills.size() + 2);
                fills.push_back(i);
            }
        }
        return fillMap[i];
    };
    auto mapBorder = [&](uint32_t i) {
        if (i >= borderMap.size()) {
            return 0u;
        }
        if (borderMap[i] == kUnmapped) {
            borderMap[i] = static_cast<uint32_t>(borders.size());
            borders.push_back(i);
        }
        return borderMap[i];
    };
    auto mapNumFmt = [&](uint32_t i) {
        if (i >= numFmtMap.size()) {
            return 0u;
        }
        if (numFmtMap[i] == kUnmapped) {
            int builtin = BuiltinNumberFormatId(styles.NumberFormats()[i]);
            if (builtin >= 0) {
                numFmtMap[i] = static_cast<uint32_t>(builtin);
            } else {
                numFmtMap[i] = kFirstCustomNumFmt + static_cast<uint32_t>(customNumFmts.size());
                customNumFmts.push_back(i);
            }
        }
        return numFmtMap[i];
    };

    struct XfOut {
        uint32_t numFmt, font, fill, border;
        const CellFormat* format;
    };
    std::vector<XfOut> xfs;
    xfs.reserve(m_usedXfs.size());
    for (uint32_t i : m_usedXfs) {
        const CellFormat& f = formats[i];
        XfOut x{};
        x.numFmt = mapNumFmt(f.numFmt);
        x.font = mapFont(f.font);
        x.fill = mapFill(f.fill);
        x.border = mapBorder(f.border);
        x.format = &f;
        xfs.push_back(x);
    }

    std::string xml(kXmlDecl);
    xml += "<styleSheet xmlns=\"";
    xml += kMainNs;
    xml += "\">";
    if (!customNumFmts.empty()) {
        xml += "<numFmts count=\"";
        AppendUint(xml, customNumFmts.size());
        xml += "\">";
        for (size_t k = 0; k < customNumFmts.size(); ++k) {
            xml += "<numFmt numFmtId=\"";
            AppendUint(xml, kFirstCustomNumFmt + k);
            xml += "\" formatCode=\"";
            const std::string& code = styles.NumberFormats()[customNumFmts[k]];
            xlsxout::AppendAttribute(xml, code.empty() ? std::string("General") : code);
            xml += "\"/>";
        }
        xml += "</numFmts>";
    }

    xml += "<fonts count=\"";
    AppendUint(xml, fonts.size());
    xml += "\">";
    for (uint32_t i : fonts) {
        const Font& f = styles.Fonts()[i];
        xml += "<font>";
        if (f.bold) {
            xml += "<b/>";
        }
        if (f.italic) {
            xml += "<i/>";
        }
        if (f.strike) {
            xml += "<strike/>";
        }
        if (f.underline != Underline::None) {
            xml += "<u";
            if (f.underline != Underline::Single) {
                xml += " val=\"";
                xml += NameOf(kUnderlineNames, static_cast<uint8_t>(f.underline));
                xml += '"';
            }
            xml += "/>";
        }
        if (f.vertAlign != VertAlign::Baseline) {
            xml += f.vertAlign == VertAlign::Superscript ? "<vertAlign val=\"superscript\"/>"
                                                         : "<vertAlign val=\"subscript\"/>";
        }
        xml += "<sz val=\"";
        AppendNumber(xml, f.size > 0 && std::isfinite(f.size) ? f.size : 11.0);
        xml += "\"/>";
        AppendColorElement(xml, "color", f.color);
        xml += "<name val=\"";
        xlsxout::AppendAttribute(xml, f.name.empty() ? std::string("Calibri") : f.name);
        xml += "\"/>";
        if (f.family != 0 && f.family <= 14) {
            xml += "<family val=\"";
            AppendUint(xml, f.family);
            xml += "\"/>";
        }
        if (f.charset != 0) {
            xml += "<charset val=\"";
            AppendUint(xml, f.charset);
            xml += "\"/>";
        }
        xml += "</font>";
    }
    xml += "</fonts><fills count=\"";
    AppendUint(xml, fills.size() + 2);
    xml += "\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill patternType=\"gray125\"/></fill>";
    for (uint32_t i : fills) {
        const Fill& f = styles.Fills()[i];
        xml += "<fill><patternFill patternType=\"";
        xml += NameOf(kPatternNames, static_cast<uint8_t>(f.pattern));
        xml += '"';
        if (f.fg.kind == Color::Kind::None && f.bg.kind == Color::Kind::None) {
            xml += "/></fill>";
            continue;
        }
        xml += '>';
        AppendColorElement(xml, "fgColor", f.fg);
        AppendColorElement(xml, "bgColor", f.bg);
        xml += "</patternFill></fill>";
    }
    xml += "</fills><borders count=\"";
    AppendUint(xml, borders.size());
    xml += "\">";
    for (uint32_t i : borders) {
        const Border& b = styles.Borders()[i];
        xml += "<border";
        if (b.diagonalUp) {
            xml += " diagonalUp=\"1\"";
        }
        if (b.diagonalDown) {
            xml += " diagonalDown=\"1\"";
        }
        xml += '>';
        // Element order of CT_Border: left, right, top, bottom, diagonal.
        const std::pair<std::string_view, const BorderLine*> lines[] = {
            {"left", &b.left}, {"right", &b.right}, {"top", &b.top}, {"bottom", &b.bottom}, {"diagonal", &b.diagonal}};
        for (const auto& [tag, line] : lines) {
            xml += '<';
            xml += tag;
            if (line->style == BorderStyle::None) {
                xml += "/>";
                continue;
            }
            xml += " style=\"";
            xml += NameOf(kBorderNames, static_cast<uint8_t>(line->style));
            xml += '"';
            if (line->color.kind == Color::Kind::None) {
                xml += "/>";
                continue;
            }
            xml += '>';
            AppendColorElement(xml, "color", line->color);
            xml += "</";
            xml += tag;
            xml += '>';
        }
        xml += "</border>";
    }
    xml += "</borders><cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/>"
           "</cellStyleXfs><cellXfs count=\"";
    AppendUint(xml, xfs.size());
    xml += "\">";
    const Alignment kDefaultAlignment{};
    const Protection kDefaultProtection{};
    for (const XfOut& x : xfs) {
        xml += "<xf numFmtId=\"";
        AppendUint(xml, x.numFmt);
        xml += "\" fontId=\"";
        AppendUint(xml, x.font);
        xml += "\" fillId=\"";
        AppendUint(xml, x.fill);
        xml += "\" borderId=\"";
        AppendUint(xml, x.border);
        xml += "\" xfId=\"0\"";
        // The apply flags tell readers that this cell format, not the cell style, decides.
        if (x.numFmt != 0) {
            xml += " applyNumberFormat=\"1\"";
        }
        if (x.font != 0) {
            xml += " applyFont=\"1\"";
        }
        if (x.fill != 0) {
            xml += " applyFill=\"1\"";
        }
        if (x.border != 0) {
            xml += " applyBorder=\"1\"";
        }
        const Alignment& a = x.format->alignment;
        const Protection& pr = x.format->protection;
        bool hasAlignment = !(a == kDefaultAlignment);
        bool hasProtection = !(pr == kDefaultProtection);
        if (hasAlignment) {
            xml += " applyAlignment=\"1\"";
        }
        if (hasProtection) {
            xml += " applyProtection=\"1\"";
        }
        if (!hasAlignment && !hasProtection) {
            xml += "/>";
            continue;
        }
        xml += '>';
        if (hasAlignment) {
            xml += "<alignment";
            if (a.horizontal != HAlign::General) {
                xml += " horizontal=\"";
                xml += NameOf(kHAlignNames, static_cast<uint8_t>(a.horizontal));
                xml += '"';
            }
            if (a.vertical != VAlign::Bottom) {
                xml += " vertical=\"";
                xml += NameOf(kVAlignNames, static_cast<uint8_t>(a.vertical));
                xml += '"';
            }
            if (a.rotation != 0 && (a.rotation <= 180 || a.rotation == 255)) {
                xml += " textRotation=\"";
                AppendUint(xml, a.rotation);
                xml += '"';
            }
            if (a.wrap) {
                xml += " wrapText=\"1\"";
            }
            if (a.indent != 0) {
                xml += " indent=\"";
                AppendUint(xml, a.indent);
                xml += '"';
            }
            if (a.shrink) {
                xml += " shrinkToFit=\"1\"";
            }
            xml += "/>";
        }
        if (hasProtection) {
            xml += "<protection";
            if (!pr.locked) {
                xml += " locked=\"0\"";
            }
            if (pr.hidden) {
                xml += " hidden=\"1\"";
            }
            xml += "/>";
        }
        xml += "</xf>";
    }
    xml += "</cellXfs><cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
           "</styleSheet>";
    m_zip.AddPart("xl/styles.xml", xml);
}

void XlsxWriter::Write()
{
    CheckSheets();
    // Cell format 0 is the default and stays the first.
    m_xfMap.assign(m_workbook.Styles().CellFormats().size(), kUnmapped);
    m_xfMap[0] = 0;
    m_usedXfs.push_back(0);
    WriteFixedParts();
    WriteWorkbookPart();
    for (size_t i = 0; i < m_workbook.SheetCount(); ++i) {
        WriteSheet(i);
    }
    // Shared strings and styles come last: only what the sheets used is written, in first-use order.
    WriteSharedStrings();
    WriteStyles();
    m_zip.Finish();
}

} // namespace

void WriteXlsx(Workbook& workbook, ByteSink& sink) { WriteXlsx(workbook, sink, XlsxWriteOptions{}); }

void WriteXlsx(Workbook& workbook, ByteSink& sink, const XlsxWriteOptions& options)
{
    XlsxWriter writer(workbook, sink, options);
    writer.Write();
}

} // namespace gq::engine
