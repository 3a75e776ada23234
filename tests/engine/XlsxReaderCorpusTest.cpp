// Reads every xlsx and xlsm of the real-workbook corpus and compares it with what an independent
// reader (openpyxl) saw: sheet names and states, the range of cells holding values, the first rows'
// values and the merged ranges. Damaged and encrypted .xlsx files must fail quickly and clearly.
#include "engine/Errors.h"
#include "engine/WorkbookFile.h"
#include "engine/xlsx/XlsxReader.h"
#include "engine/xml/XmlParser.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>
#include <optional>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <variant>

namespace gq::engine {
namespace {

// ---- the oracle's JSON ----

struct JValue;
using JArray = std::vector<JValue>;
using JObject = std::map<std::string, JValue>;
struct JValue {
    std::variant<std::nullptr_t, bool, double, std::string, JArray, JObject> v;
    bool isInteger = false; // written without fraction or exponent
    const JValue& operator[](const std::string& key) const
    {
        static const JValue kNull;
        const auto* o = std::get_if<JObject>(&v);
        if (o == nullptr) {
            return kNull;
        }
        auto it = o->find(key);
        return it == o->end() ? kNull : it->second;
    }
    const JArray& Items() const
    {
        static const JArray kEmpty;
        const auto* a = std::get_if<JArray>(&v);
        return a != nullptr ? *a : kEmpty;
    }
    std::string Str() const
    {
        const auto* s = std::get_if<std::string>(&v);
        return s != nullptr ? *s : std::string();
    }
    bool IsNull() const { return std::holds_alternative<std::nullptr_t>(v); }
};

class JReader {
public:
    explicit JReader(const std::string& text) : m_t(text) {}
    JValue Parse()
    {
        JValue v = Value();
        Skip();
        if (m_i != m_t.size()) {
            throw std::runtime_error("json: trailing text");
        }
        return v;
    }

private:
    void Skip()
    {
        while (m_i < m_t.size() && std::isspace(static_cast<unsigned char>(m_t[m_i]))) {
            ++m_i;
        }
    }
    char Peek()
    {
        Skip();
        if (m_i >= m_t.size()) {
            throw std::runtime_error("json: unexpected end");
        }
        return m_t[m_i];
    }
    void Expect(char c)
    {
        if (Peek() != c) {
            throw std::runtime_error(std::string("json: expected ") + c);
        }
        ++m_i;
    }
    JValue Value()
    {
        JValue out;
        char c = Peek();
        if (c == '{') {
            ++m_i;
            JObject o;
            if (Peek() != '}') {
                do {
                    std::string key = String();
                    Expect(':');
                    o[key] = Value();
                } while (Peek() == ',' && ++m_i);
            }
            Expect('}');
            out.v = std::move(o);
        } else if (c == '[') {
            ++m_i;
            JArray a;
            if (Peek() != ']') {
                do {
                    a.push_back(Value());
                } while (Peek() == ',' && ++m_i);
            }
            Expect(']');
            out.v = std::move(a);
        } else if (c == '"') {
            out.v = String();
        } else if (m_t.compare(m_i, 4, "true") == 0) {
            m_i += 4;
            out.v = true;
        } else if (m_t.compare(m_i, 5, "false") == 0) {
            m_i += 5;
            out.v = false;
        } else if (m_t.compare(m_i, 4, "null") == 0) {
            m_i += 4;
        } else {
            size_t start = m_i;
            while (m_i < m_t.size() && std::strchr("+-0123456789.eE", m_t[m_i]) != nullptr) {
                ++m_i;
            }
            std::string number = m_t.substr(start, m_i - start);
            if (number.empty()) {
                throw std::runtime_error("json: bad value");
            }
            out.v = std::stod(number);
            out.isInteger = number.find_first_of(".eE") == std::string::npos;
        }
        return out;
    }
    static void Utf8(std::string& out, uint32_t cp)
    {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    uint32_t Hex4()
    {
        uint32_t v = static_cast<uint32_t>(std::stoul(m_t.substr(m_i, 4), nullptr, 16));
        m_i += 4;
        return v;
    }
    std::string String()
    {
        Expect('"');
        std::string s;
        while (m_i < m_t.size() && m_t[m_i] != '"') {
            char c = m_t[m_i++];
            if (c != '\\') {
                s += c;
                continue;
            }
            char e = m_t[m_i++];
            switch (e) {
            case 'n': s += '\n'; break;
            case 't': s += '\t'; break;
            case 'r': s += '\r'; break;
            case 'b': s += '\b'; break;
            case 'f': s += '\f'; break;
            case 'u': {
                uint32_t cp = Hex4();
                if (cp >= 0xD800 && cp <= 0xDBFF && m_t.compare(m_i, 2, "\\u") == 0) {
                    m_i += 2;
                    cp = 0x10000 + ((cp - 0xD800) << 10) + (Hex4() - 0xDC00);
                }
                Utf8(s, cp);
                break;
            }
            default: s += e; break;
            }
        }
        Expect('"');
        return s;
    }
    const std::string& m_t;
    size_t m_i = 0;
};

// ---- our values in the oracle's terms ----

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

// A serial date as the oracle writes it: its reader rounds to the millisecond, gives a time of day
// for serials below 1, and moves serials before 1900-03-01 by a day (the 1900 leap-year quirk).
std::string SerialToIso(double serial, bool date1904)
{
    double day = std::floor(serial);
    auto ms = static_cast<int64_t>(std::llround((serial - day) * 86400000.0));
    char buf[64];
    auto timeText = [&](int64_t msOfDay) {
        int64_t s = msOfDay / 1000;
        int64_t micro = (msOfDay % 1000) * 1000;
        std::snprintf(buf, sizeof buf, "%02lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                      static_cast<long long>(s / 60 % 60), static_cast<long long>(s % 60));
        std::string t = buf;
        if (micro != 0) {
            std::snprintf(buf, sizeof buf, ".%06lld", static_cast<long long>(micro));
            t += buf;
        }
        return t;
    };
    if (serial >= 0 && serial < 1 && ms < 86400000) {
        return timeText(ms);
    }
    if (!date1904 && serial > 0 && serial < 60) {
        day += 1;
    }
    // Epochs as days from 1970-01-01: 1899-12-30 and 1904-01-01.
    int64_t days = static_cast<int64_t>(day) + (date1904 ? -24107 : -25569) + ms / 86400000;
    ms %= 86400000;
    int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    CivilFromDays(days, y, m, d);
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02uT", static_cast<long long>(y), m, d);
    std::string date = buf;
    return date + timeText(ms);
}

// Differences from the oracle that are deliberate, with the reason.
struct KnownDifference {
    const char* file;
    const char* sheet;
    const char* cell; // empty: the whole sheet is left out of the comparison
    const char* reason;
};
const KnownDifference kKnownDifferences[] = {
    {"sheetjs__BlankSheetTypes.xlsm", "Macro1", "", "an Excel 4 macro sheet is not a worksheet; the oracle lists it"},
    {"sheetjs__BlankSheetTypes.xlsm", "Dialog1", "", "a dialog sheet is not a worksheet; the oracle lists it"},
    {"phpss__issue.3654.xlsx", "Data", "H1",
     "a value stored under a merged range (not its first cell) is kept as the file holds it; the oracle's reader "
     "blanks every merged cell but the first"},
    {"poi__60289.xlsx", "TABLE", "B2",
     "the escape _x000d_ (lower-case hex) is decoded to a carriage return; the oracle's reader decodes only "
     "upper-case escapes"},
};

bool IsKnownDifference(const std::string& file, const std::string& sheet, const std::string& cell = {})
{
    for (const auto& k : kKnownDifferences) {
        if (file == k.file && sheet == k.sheet && cell == k.cell) {
            return true;
        }
    }
    return false;
}

struct ManifestRow {
    std::string file; // name under files/
    std::string category;
};

std::vector<ManifestRow> XlsxManifestRows(const std::filesystem::path& corpus)
{
    std::vector<ManifestRow> rows;
    std::ifstream in(corpus / "MANIFEST.tsv");
    std::string line;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream ss(line);
        std::string f;
        while (std::getline(ss, f, '\t')) {
            fields.push_back(f);
        }
        if (fields.size() < 9 || fields[1].rfind("files/", 0) != 0) {
            continue;
        }
        std::string name = fields[1].substr(6);
        std::string lower = name;
        for (char& c : lower) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        if (!(lower.ends_with(".xlsx") || lower.ends_with(".xlsm"))) {
            continue;
        }
        size_t cat = fields[8].find("category: ");
        rows.push_back({name, cat == std::string::npos ? std::string() : fields[8].substr(cat + 10)});
    }
    return rows;
}

std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Compares one cell of ours with the oracle's; empty when equal, else a description.
std::string CompareCell(Workbook& wb, const Cell* cell, const JValue& want)
{
    std::ostringstream got;
    if (cell == nullptr || cell->type == CellType::Blank) {
        return want.IsNull() ? std::string() : "blank";
    }
    switch (cell->type) {
    case CellType::Number: {
        if (wb.Styles().IsDateFormat(cell->style)) {
            std::string iso = SerialToIso(cell->number, wb.Date1904());
            std::string w = want.Str();
            // A date-only ISO value is the same day at midnight.
            if (iso == w || (w.size() == 10 && iso == w + "T00:00:00")) {
                return {};
            }
            return "date " + iso;
        }
        const double* n = std::get_if<double>(&want.v);
        if (n != nullptr && (want.isInteger ? *n == cell->number
                                            : std::fabs(*n - cell->number) <= 1e-12 * std::max(1.0, std::fabs(*n)))) {
            return {};
        }
        got << "number " << cell->number;
        return got.str();
    }
    case CellType::String: {
        const std::string& s = wb.Strings().At(cell->text);
        return want.Str() == s && std::holds_alternative<std::string>(want.v) ? std::string() : "string \"" + s + "\"";
    }
    case CellType::Boolean: {
        const bool* b = std::get_if<bool>(&want.v);
        return b != nullptr && *b == cell->boolean ? std::string() : std::string("boolean ") + (cell->boolean ? "true" : "false");
    }
    case CellType::Error:
        return want.Str() == ErrorText(cell->error) ? std::string() : "error " + std::string(ErrorText(cell->error));
    case CellType::Blank:
        break;
    }
    return {};
}

std::optional<CellRange> ValueRange(const Worksheet& ws)
{
    std::optional<CellRange> box;
    for (const Row& r : ws.rows) {
        for (const Cell& c : r.cells) {
            if (c.type == CellType::Blank) {
                continue;
            }
            if (!box) {
                box = CellRange{r.index, c.col, r.index, c.col};
            }
            box->firstRow = std::min(box->firstRow, r.index);
            box->lastRow = std::max(box->lastRow, r.index);
            box->firstCol = std::min(box->firstCol, c.col);
            box->lastCol = std::max(box->lastCol, c.col);
        }
    }
    return box;
}

class XlsxCorpus : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_corpus = test::CorpusDir();
        if (m_corpus.empty()) {
            GTEST_SKIP() << "the corpus folder is not here";
        }
    }
    std::filesystem::path m_corpus;
};

TEST_F(XlsxCorpus, ReadsLikeTheIndependentReader)
{
    size_t compared = 0;
    size_t cellsCompared = 0;
    for (const ManifestRow& row : XlsxManifestRows(m_corpus)) {
        if (row.category == "corrupt" || row.category == "encrypted") {
            continue;
        }
        SCOPED_TRACE(row.file);
        std::filesystem::path oraclePath = m_corpus / "expected" / (row.file + ".json");
        std::unique_ptr<Workbook> wb;
        try {
            wb = ReadXlsx(InputBytes::MapFile((m_corpus / "files" / row.file).string()));
            for (size_t i = 0; i < wb->SheetCount(); ++i) {
                wb->Sheet(i);
            }
        } catch (const std::exception& e) {
            ADD_FAILURE() << "cannot read: " << e.what();
            continue;
        }
        if (!std::filesystem::exists(oraclePath)) {
            continue; // no independent opinion (the other readers fail on it); reading is the test
        }
        JValue oracle = JReader(ReadText(oraclePath)).Parse();
        if (oracle["library"].Str().rfind("openpyxl", 0) != 0) {
            continue;
        }
        ++compared;
        EXPECT_EQ(wb->Date1904(), std::get_if<bool>(&oracle["date1904"].v) != nullptr && std::get<bool>(oracle["date1904"].v));
        std::vector<const JValue*> sheets;
        for (const JValue& s : oracle["worksheets"].Items()) {
            if (!IsKnownDifference(row.file, s["name"].Str())) {
                sheets.push_back(&s);
            }
        }
        ASSERT_EQ(wb->SheetCount(), sheets.size());
        for (size_t i = 0; i < sheets.size(); ++i) {
            const JValue& want = *sheets[i];
            SCOPED_TRACE(want["name"].Str());
            EXPECT_EQ(wb->SheetName(i), want["name"].Str());
            static const char* kStates[] = {"visible", "hidden", "veryHidden"};
            EXPECT_EQ(kStates[static_cast<int>(wb->SheetStateAt(i))], want["state"].Str());
            Worksheet& ws = wb->Sheet(i);
            auto range = ValueRange(ws);
            EXPECT_EQ(range ? CellName(range->firstRow, range->firstCol) + ":" + CellName(range->lastRow, range->lastCol)
                            : std::string("null"),
                      want["nonempty_range"].IsNull() ? std::string("null") : want["nonempty_range"].Str());
            // The oracle writes single-cell ranges as "A1:A1".
            std::vector<std::string> merged;
            for (const CellRange& m : ws.merges) {
                merged.push_back(CellName(m.firstRow, m.firstCol) + ":" + CellName(m.lastRow, m.lastCol));
            }
            std::sort(merged.begin(), merged.end());
            if (merged.size() > 100) {
                merged.resize(100);
            }
            std::vector<std::string> wantMerged;
            for (const JValue& m : want["merged"].Items()) {
                std::string s = m.Str();
                wantMerged.push_back(s.find(':') == std::string::npos ? s + ":" + s : s);
            }
            EXPECT_EQ(merged, wantMerged);
            EXPECT_EQ(ws.merges.size(), static_cast<size_t>(std::get<double>(want["merged_count"].v)));

            CellRef origin;
            if (want["first_rows_origin"].IsNull() || !ParseCellName(want["first_rows_origin"].Str(), origin)) {
                continue;
            }
            const JArray& rows = want["first_rows"].Items();
            for (size_t r = 0; r < rows.size(); ++r) {
                const JArray& cells = rows[r].Items();
                for (size_t c = 0; c < cells.size(); ++c) {
                    auto rowIndex = static_cast<uint32_t>(origin.row + r);
                    auto colIndex = static_cast<uint32_t>(origin.col + c);
                    const JValue& cellWant = cells[c];
                    // Elapsed-time formats come out of the oracle as durations ("P0DT3600.0S"),
                    // which have no counterpart in a cell value.
                    if (cellWant.Str().rfind("P", 0) == 0 && cellWant.Str().find("DT") != std::string::npos) {
                        continue;
                    }
                    if (IsKnownDifference(row.file, want["name"].Str(), CellName(rowIndex, colIndex))) {
                        continue;
                    }
                    std::string diff = CompareCell(*wb, ws.FindCell(rowIndex, colIndex), cellWant);
                    ++cellsCompared;
                    EXPECT_EQ(diff, "") << CellName(rowIndex, colIndex);
                }
            }
        }
    }
    EXPECT_GT(compared, 30u);
    std::cout << "compared " << compared << " workbooks, " << cellsCompared << " cells\n";
}

// Everything a sheet holds, as text, for comparing two reads of the same file.
std::string Describe(Workbook& wb, size_t index)
{
    std::ostringstream out;
    Worksheet& ws = wb.Sheet(index);
    out << wb.SheetName(index) << " " << static_cast<int>(wb.SheetStateAt(index)) << " fr" << ws.frozenRows << " fc"
        << ws.frozenCols << " dw" << ws.defaultColWidth << " dh" << ws.defaultRowHeight << "\n";
    for (const Row& r : ws.rows) {
        out << "row " << r.index << " " << r.height << " " << r.customHeight << r.hidden << ":";
        for (const Cell& c : r.cells) {
            out << " " << c.col << "/" << static_cast<int>(c.type) << "/" << c.formula << "/";
            auto style = wb.Styles().Resolve(c.style);
            out << style.numFmt << "," << style.font.name << "," << style.font.bold << "," << style.fill.fg.argb << "/";
            switch (c.type) {
            case CellType::Number: out << c.number; break;
            case CellType::String: out << wb.Strings().At(c.text); break;
            case CellType::Boolean: out << c.boolean; break;
            case CellType::Error: out << ErrorText(c.error); break;
            case CellType::Blank: break;
            }
        }
        out << "\n";
    }
    for (const CellRange& m : ws.merges) {
        out << "merge " << RangeName(m) << "\n";
    }
    for (const ColumnInfo& c : ws.columns) {
        out << "col " << c.first << "-" << c.last << " " << c.width << " " << c.customWidth << c.hidden << "\n";
    }
    for (const Hyperlink& h : ws.hyperlinks) {
        out << "link " << RangeName(h.range) << " " << h.target << " " << h.location << " " << h.tooltip << "\n";
    }
    return out.str();
}

TEST_F(XlsxCorpus, ScannerAndExpatReadTheSame)
{
    size_t sheets = 0;
    for (const ManifestRow& row : XlsxManifestRows(m_corpus)) {
        if (row.category == "corrupt" || row.category == "encrypted") {
            continue;
        }
        SCOPED_TRACE(row.file);
        std::string path = (m_corpus / "files" / row.file).string();
        std::vector<std::string> fast;
        std::vector<std::string> plain;
        try {
            auto a = ReadXlsx(InputBytes::MapFile(path));
            for (size_t i = 0; i < a->SheetCount(); ++i) {
                fast.push_back(Describe(*a, i));
            }
            XmlParser::EnableScanner(false);
            auto b = ReadXlsx(InputBytes::MapFile(path));
            for (size_t i = 0; i < b->SheetCount(); ++i) {
                plain.push_back(Describe(*b, i));
            }
            XmlParser::EnableScanner(true);
        } catch (const std::exception& e) {
            XmlParser::EnableScanner(true);
            ADD_FAILURE() << e.what();
            continue;
        }
        ASSERT_EQ(fast.size(), plain.size());
        for (size_t i = 0; i < fast.size(); ++i) {
            EXPECT_TRUE(fast[i] == plain[i]) << "sheet " << i << " differs";
            ++sheets;
        }
    }
    EXPECT_GT(sheets, 50u);
}

TEST_F(XlsxCorpus, DamagedAndEncryptedFailClearlyAndFast)
{
    size_t checked = 0;
    for (const ManifestRow& row : XlsxManifestRows(m_corpus)) {
        if (row.category != "corrupt" && row.category != "encrypted") {
            continue;
        }
        SCOPED_TRACE(row.file);
        std::string path = (m_corpus / "files" / row.file).string();
        auto start = std::chrono::steady_clock::now();
        try {
            auto wb = OpenWorkbookFile(path);
            for (size_t i = 0; i < wb->SheetCount(); ++i) {
                wb->Sheet(i);
            }
            // A file that really is another format is recognised by its content, not its name.
            std::ifstream in(path, std::ios::binary);
            char head[4] = {};
            in.read(head, 4);
            EXPECT_NE(std::string(head, 2), "PK") << "a damaged package was read";
        } catch (const PasswordProtectedError& e) {
            EXPECT_EQ(row.category, "encrypted") << e.what();
        } catch (const FormatError& e) {
            EXPECT_EQ(row.category, "corrupt") << e.what();
            EXPECT_NE(std::string(e.what()).find(row.file), std::string::npos) << e.what();
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LT(seconds, 1.0);
        ++checked;
    }
    EXPECT_GE(checked, 4u);
}

} // namespace
} // namespace gq::engine
