// The delimited text reader: the encoding and the delimiter are found first, then the records are
// read in one pass over the text into the rows of the sheet.
// SPDX-License-Identifier: Apache-2.0
#include "engine/csv/CsvReader.h"

#include "common/AsciiText.h"
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/text/IsoDate.h"
#include "engine/text/SheetNames.h"
#include "engine/text/Utf8.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>

namespace gq::engine {

namespace {

std::string_view FileNameOf(std::string_view path)
{
    size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string LowerExtension(std::string_view path)
{
    std::string_view name = FileNameOf(path);
    size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) {
        return {};
    }
    return LowerCase(name.substr(dot + 1));
}

// ---- encodings ----

// Windows-1252's characters for bytes 0x80-0x9F; the five bytes it leaves undefined map to the C1
// control characters of the same value, as Windows itself converts them.
constexpr std::array<uint16_t, 32> kCp1252High = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool IsValidUtf8(std::span<const uint8_t> data)
{
    const uint8_t* p = data.data();
    const size_t n = data.size();
    size_t pos = 0;
    while (pos < n) {
        // Plain ASCII eight bytes at a time: most delimited text is nothing else.
        while (pos + 8 <= n) {
            uint64_t word;
            std::memcpy(&word, p + pos, 8);
            if ((word & 0x8080808080808080ull) != 0) {
                break;
            }
            pos += 8;
        }
        if (pos >= n) {
            break;
        }
        if (p[pos] < 0x80) {
            ++pos;
            continue;
        }
        if (DecodeUtf8(p, n, pos) == kNotUtf8) {
            return false;
        }
    }
    return true;
}

std::string DecodeWindows1252(std::span<const uint8_t> data)
{
    std::string out;
    out.reserve(data.size() + data.size() / 8);
    for (uint8_t b : data) {
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
        } else if (b < 0xA0) {
            AppendUtf8(out, kCp1252High[b - 0x80]);
        } else {
            AppendUtf8(out, b);
        }
    }
    return out;
}

// Valid UTF-8 with every byte that is not part of a well-formed sequence replaced by U+FFFD.
std::string RepairUtf8(std::span<const uint8_t> data)
{
    std::string out;
    out.reserve(data.size());
    for (size_t pos = 0; pos < data.size();) {
        size_t start = pos;
        char32_t cp = DecodeUtf8(data.data(), data.size(), pos);
        if (cp == kNotUtf8) {
            AppendUtf8(out, 0xFFFD);
        } else {
            out.append(reinterpret_cast<const char*>(data.data() + start), pos - start);
        }
    }
    return out;
}

std::string DecodeUtf16(std::span<const uint8_t> data, bool bigEndian)
{
    std::string out;
    out.reserve(data.size());
    auto unitAt = [&](size_t i) -> uint32_t {
        return bigEndian ? (uint32_t{data[i]} << 8) | data[i + 1] : (uint32_t{data[i + 1]} << 8) | data[i];
    };
    AppendUtf16Units(
        data.size() / 2, [&](size_t i) { return unitAt(2 * i); }, out);
    if (data.size() % 2 != 0) {
        AppendUtf8(out, 0xFFFD); // an odd byte at the end: half a character
    }
    return out;
}

TextEncoding EncodingOf(std::span<const uint8_t> data, size_t& bomBytes)
{
    bomBytes = 0;
    if (data.size() >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        bomBytes = 3;
        return TextEncoding::Utf8;
    }
    if (data.size() >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        bomBytes = 2;
        return TextEncoding::Utf16Le;
    }
    if (data.size() >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        bomBytes = 2;
        return TextEncoding::Utf16Be;
    }
    return IsValidUtf8(data) ? TextEncoding::Utf8 : TextEncoding::Windows1252;
}

// The file's text as UTF-8: the mapped bytes themselves where they are UTF-8 already, otherwise
// a converted copy held in `storage`.
std::string_view TextOf(std::span<const uint8_t> data, std::string& storage, TextEncoding& encoding)
{
    size_t bom = 0;
    encoding = EncodingOf(data, bom);
    std::span<const uint8_t> body = data.subspan(bom);
    switch (encoding) {
    case TextEncoding::Utf8:
        if (bom != 0 && !IsValidUtf8(body)) {
            storage = RepairUtf8(body);
            return storage;
        }
        return {reinterpret_cast<const char*>(body.data()), body.size()};
    case TextEncoding::Utf16Le:
    case TextEncoding::Utf16Be:
        storage = DecodeUtf16(body, encoding == TextEncoding::Utf16Be);
        return storage;
    case TextEncoding::Windows1252:
        storage = DecodeWindows1252(body);
        return storage;
    }
    return {};
}

// ---- delimiter ----

constexpr char kDelimiters[] = {',', ';', '\t', '|'};

// How often `delimiter` separates fields in each of the first records of `sample`, quotes
// respected. A record cut off by the end of the sample is not counted.
std::vector<uint32_t> DelimiterCounts(std::string_view sample, char delimiter, bool sampleIsWhole)
{
    std::vector<uint32_t> counts;
    uint32_t count = 0;
    bool quoted = false;
    bool fieldStart = true;
    bool recordHasText = false;
    for (size_t i = 0; i < sample.size() && counts.size() < limits::kCsvSniffRecords; ++i) {
        char c = sample[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < sample.size() && sample[i + 1] == '"') {
                    ++i;
                } else {
                    quoted = false;
                }
            }
            continue;
        }
        if (c == '"' && fieldStart) {
            quoted = true;
            fieldStart = false;
            recordHasText = true;
        } else if (c == delimiter) {
            ++count;
            fieldStart = true;
            recordHasText = true;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < sample.size() && sample[i + 1] == '\n') {
                ++i;
            }
            if (recordHasText) {
                counts.push_back(count);
            }
            count = 0;
            fieldStart = true;
            recordHasText = false;
        } else {
            fieldStart = false;
            recordHasText = true;
        }
    }
    if (sampleIsWhole && recordHasText && !quoted && counts.size() < limits::kCsvSniffRecords) {
        counts.push_back(count);
    }
    return counts;
}

// The delimiter the first records agree on: the one that appears in the first record and in the
// most records as often as there; among equals the one that splits more, then the usual order
// (tab first for .tsv and .tab files). A text none of them splits is one column: comma.
char ChooseDelimiter(std::string_view text, std::string_view name)
{
    std::string_view sample = text.substr(0, limits::kCsvSniffBytes);
    const bool whole = sample.size() == text.size();
    std::string ext = LowerExtension(name);
    const bool tabFirst = ext == "tsv" || ext == "tab";
    std::vector<char> order(std::begin(kDelimiters), std::end(kDelimiters));
    if (tabFirst) {
        std::erase(order, '\t');
        order.insert(order.begin(), '\t');
    }
    char best = tabFirst ? '\t' : ',';
    size_t bestAgreeing = 0;
    uint32_t bestCount = 0;
    for (char delimiter : order) {
        std::vector<uint32_t> counts = DelimiterCounts(sample, delimiter, whole);
        if (counts.empty() || counts.front() == 0) {
            continue;
        }
        size_t agreeing = 0;
        for (uint32_t count : counts) {
            agreeing += count == counts.front() ? 1 : 0;
        }
        if (agreeing > bestAgreeing || (agreeing == bestAgreeing && counts.front() > bestCount)) {
            best = delimiter;
            bestAgreeing = agreeing;
            bestCount = counts.front();
        }
    }
    return best;
}

// ---- values ----

// A number in plain form: an optional minus, digits with an optional fraction (or a fraction
// alone), an optional exponent. Whole numbers of more than 15 digits and numbers with a leading
// zero before further digits ("007") are identifiers, not amounts, and stay text: a number
// would lose their digits.
bool PlainNumber(std::string_view field, double& out)
{
    const char* p = field.data();
    const char* end = p + field.size();
    const char* start = p;
    if (p < end && *p == '-') {
        ++p;
    }
    const char* intStart = p;
    while (p < end && *p >= '0' && *p <= '9') {
        ++p;
    }
    const size_t intDigits = static_cast<size_t>(p - intStart);
    size_t fracDigits = 0;
    bool point = false;
    if (p < end && *p == '.') {
        point = true;
        const char* fracStart = ++p;
        while (p < end && *p >= '0' && *p <= '9') {
            ++p;
        }
        fracDigits = static_cast<size_t>(p - fracStart);
    }
    if (intDigits + fracDigits == 0) {
        return false;
    }
    bool exponent = false;
    if (p < end && (*p == 'e' || *p == 'E')) {
        exponent = true;
        ++p;
        if (p < end && (*p == '+' || *p == '-')) {
            ++p;
        }
        const char* expStart = p;
        while (p < end && *p >= '0' && *p <= '9') {
            ++p;
        }
        if (p == expStart) {
            return false;
        }
    }
    if (p != end) {
        return false;
    }
    if (intDigits > 1 && *intStart == '0') {
        return false;
    }
    if (!point && !exponent && intDigits > 15) {
        return false;
    }
    auto [stop, ec] = std::from_chars(start, end, out);
    return ec == std::errc() && stop == end && std::isfinite(out);
}

class CsvSheetSource : public SheetSource {
public:
    explicit CsvSheetSource(std::shared_ptr<const InputBytes> bytes) : m_bytes(std::move(bytes)) {}

    void CheckInput() const override { m_bytes->CheckUnchanged(); }

    void LoadSheet(Workbook& workbook, size_t index, Worksheet& out) override
    {
        if (index != 0) {
            return; // a sheet added after opening has nothing in the file
        }
        Worksheet sheet;
        std::string storage;
        TextEncoding encoding{};
        std::string_view text = TextOf(m_bytes->Data(), storage, encoding);
        Loader loader(workbook, sheet, m_bytes->Name(), ChooseDelimiter(text, m_bytes->Name()));
        loader.Read(text);
        m_bytes->ReleaseResidentPages();
        out = std::move(sheet);
    }

private:
    // One pass over the text: records into rows, fields into cells.
    class Loader {
    public:
        Loader(Workbook& workbook, Worksheet& sheet, const std::string& file, char delimiter)
            : m_workbook(workbook), m_sheet(sheet), m_file(file), m_delimiter(delimiter)
        {
        }

        void Read(std::string_view text)
        {
            const char* p = text.data();
            const char* const end = p + text.size();
            const char* recordStart = p;
            uint32_t col = 0;
            while (p < end) {
                // One field.
                std::string_view field;
                if (*p == '"') {
                    p = QuotedField(p + 1, end, recordStart);
                    field = m_scratch;
                } else {
                    const char* fieldStart = p;
                    while (p < end && *p != m_delimiter && *p != '\n' && *p != '\r') {
                        ++p;
                    }
                    field = std::string_view(fieldStart, static_cast<size_t>(p - fieldStart));
                }
                if (field.size() > limits::kMaxStringBytes) {
                    Fail("a field of line " + std::to_string(m_line) + " is longer than a cell can hold (" +
                         std::to_string(limits::kMaxCellChars) + " characters)");
                }
                if (static_cast<uint64_t>(p - recordStart) > limits::kMaxCsvRecordBytes) {
                    Fail("line " + std::to_string(m_line) + " is longer than " +
                         std::to_string(limits::kMaxCsvRecordBytes >> 20) + " MB, which no table has");
                }
                if (!field.empty()) {
                    Store(col, field);
                }
                if (p >= end) {
                    break;
                }
                if (*p == m_delimiter) {
                    ++p;
                    if (++col >= limits::kMaxCsvFields) {
                        Fail("line " + std::to_string(m_line) + " has more than " +
                             std::to_string(limits::kMaxCsvFields) + " fields, the columns a sheet has");
                    }
                    continue;
                }
                // The end of the record: CR, LF or CR LF.
                p += (*p == '\r' && p + 1 < end && p[1] == '\n') ? 2 : 1;
                ++m_line;
                recordStart = p;
                col = 0;
                if (++m_record >= limits::kMaxCsvRecords && p < end) {
                    Fail("the file has more than " + std::to_string(limits::kMaxCsvRecords) +
                         " lines, the rows a sheet has");
                }
            }
        }

    private:
        // Reads a quoted field from just after its opening quote into m_scratch; gives where the
        // field ends (at its delimiter, line break or the end). Text after the closing quote and
        // before the delimiter is kept as written, and a quote never closed runs to the end of the
        // file, as office suites read such damage.
        const char* QuotedField(const char* p, const char* end, const char* recordStart)
        {
            m_scratch.clear();
            for (;;) {
                const char* quote = static_cast<const char*>(std::memchr(p, '"', static_cast<size_t>(end - p)));
                const char* stop = quote != nullptr ? quote : end;
                for (const char* q = p; q < stop; ++q) {
                    if (*q == '\n' || (*q == '\r' && (q + 1 >= stop || q[1] != '\n'))) {
                        ++m_line; // a line break inside the field
                    }
                }
                m_scratch.append(p, static_cast<size_t>(stop - p));
                if (m_scratch.size() > limits::kMaxStringBytes ||
                    static_cast<uint64_t>(stop - recordStart) > limits::kMaxCsvRecordBytes) {
                    Fail("a quoted field that begins on line " + std::to_string(m_line) +
                         " is longer than a cell can hold (" + std::to_string(limits::kMaxCellChars) +
                         " characters); is a closing quote missing?");
                }
                if (quote == nullptr) {
                    return end;
                }
                p = quote + 1;
                if (p < end && *p == '"') {
                    m_scratch.push_back('"');
                    ++p;
                    continue;
                }
                const char* after = p;
                while (p < end && *p != m_delimiter && *p != '\n' && *p != '\r') {
                    ++p;
                }
                m_scratch.append(after, static_cast<size_t>(p - after));
                return p;
            }
        }

        void Store(uint32_t col, std::string_view field)
        {
            Cell cell;
            cell.col = col;
            double number = 0;
            const char first = field.front();
            if (((first >= '0' && first <= '9') || first == '-' || first == '.') && PlainNumber(field, number)) {
                cell.type = CellType::Number;
                cell.number = number;
            } else if (first >= '0' && first <= '9' && field.size() >= 10 && field[4] == '-' && DateCell(field, cell)) {
                // DateCell filled the cell.
            } else {
                cell.type = CellType::String;
                cell.text = m_workbook.Strings().Intern(field);
            }
            if (++m_cells > limits::kMaxCellsPerSheet) {
                Fail("the file holds more than " + std::to_string(limits::kMaxCellsPerSheet) +
                     " fields, more than a sheet can hold");
            }
            Row& row = m_sheet.LoadRow(m_record);
            if (row.cells.empty()) {
                row.cells.reserve(m_lastWidth);
            }
            row.cells.push_back(cell);
            m_lastWidth = row.cells.size();
        }

        bool DateCell(std::string_view field, Cell& cell)
        {
            bool hasTime = false;
            std::optional<double> serial = IsoDateSerial(field, hasTime);
            if (!serial) {
                return false;
            }
            cell.type = CellType::Number;
            cell.number = *serial;
            std::optional<uint32_t>& style = hasTime ? m_dateTimeStyle : m_dateStyle;
            if (!style) {
                ResolvedStyle look;
                look.numFmt = hasTime ? "yyyy-mm-dd hh:mm:ss" : "yyyy-mm-dd";
                style = m_workbook.Styles().InternStyle(look);
            }
            cell.style = *style;
            return true;
        }

        [[noreturn]] void Fail(const std::string& problem) const { throw LimitError(m_file, problem); }

        Workbook& m_workbook;
        Worksheet& m_sheet;
        const std::string& m_file;
        const char m_delimiter;
        std::string m_scratch;
        uint32_t m_record = 0;
        uint64_t m_line = 1;
        uint64_t m_cells = 0;
        size_t m_lastWidth = 0;
        std::optional<uint32_t> m_dateStyle;
        std::optional<uint32_t> m_dateTimeStyle;
    };

    std::shared_ptr<const InputBytes> m_bytes;
};

} // namespace

bool IsDelimitedTextName(std::string_view path)
{
    std::string ext = LowerExtension(path);
    return ext == "csv" || ext == "tsv" || ext == "tab";
}

std::string DelimitedTextSheetName(std::string_view path)
{
    std::string_view name = FileNameOf(path);
    size_t dot = name.rfind('.');
    if (dot != std::string_view::npos) {
        name = name.substr(0, dot);
    }
    std::string out;
    for (size_t pos = 0; pos < name.size();) {
        size_t start = pos;
        char32_t cp = DecodeUtf8(name, pos);
        if (cp == kNotUtf8 || cp == 0xFFFE || cp == 0xFFFF || cp < 0x20 || (cp >= 0x7F && cp < 0xA0) ||
            (cp < 0x80 && std::strchr("[]:*?/\\", static_cast<int>(cp)) != nullptr)) {
            out.push_back('_');
            continue;
        }
        // Whole characters only, up to the name's limit.
        std::string_view piece = name.substr(start, pos - start);
        if (Utf16Length(out) + Utf16Length(piece) > limits::kMaxSheetNameChars) {
            break;
        }
        out.append(piece);
    }
    while (!out.empty() && out.front() == '\'') {
        out.erase(out.begin());
    }
    while (!out.empty() && out.back() == '\'') {
        out.pop_back();
    }
    if (out.empty() || SheetNameProblem(out)) {
        return "Sheet1";
    }
    return out;
}

CsvDialect DetectCsvDialect(std::span<const uint8_t> data, std::string_view name)
{
    CsvDialect dialect;
    std::string storage;
    std::string_view text = TextOf(data, storage, dialect.encoding);
    dialect.delimiter = ChooseDelimiter(text, name);
    return dialect;
}

std::unique_ptr<Workbook> ReadCsv(std::shared_ptr<const InputBytes> bytes)
{
    auto workbook = std::make_unique<Workbook>();
    workbook->SetSourcePath(bytes->Name());
    workbook->AddUnloadedSheet(DelimitedTextSheetName(bytes->Name()), SheetState::Visible);
    workbook->SetActiveSheet(0);
    workbook->SetSheetSource(std::make_unique<CsvSheetSource>(std::move(bytes)));
    return workbook;
}

} // namespace gq::engine
