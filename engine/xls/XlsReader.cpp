// The .xls reader: finds the workbook stream in the compound file, reads the BIFF8 or BIFF5/7
// globals (sheets, strings, fonts, formats, cell formats, palette) and parses each worksheet's
// substream the first time it is needed.
#include "engine/xls/XlsReader.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/cfb/CfbReader.h"
#include "engine/io/ByteReader.h"
#include "engine/io/LittleEndian.h"
#include "engine/model/Palette.h"
#include "engine/xls/BiffRecords.h"
#include "engine/xls/BiffText.h"
#include "engine/xls/XlsCrypto.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace gq::engine {

namespace {

using namespace biff;

constexpr const char* kWorkbookPart = "Workbook stream";

// The columns of a BIFF8 sheet are 0-255; the model holds up to the xlsx grid, which is what we
// accept from writers that go past IV.
constexpr uint32_t kMaxReadCols = limits::kXlsxMaxCols;

struct RawFont {
    uint16_t height = 200; // twips
    uint16_t grbit = 0;
    uint16_t icv = 0x7FFF;
    uint16_t bls = 400;
    uint16_t sss = 0;
    uint8_t uls = 0;
    uint8_t family = 0;
    uint8_t charset = 0;
    std::string name;
};

// One XF record with its fields unpacked ([MS-XLS] 2.4.353 for BIFF8; BIFF5 packs the same
// attributes differently).
struct RawXf {
    uint16_t font = 0;
    uint16_t format = 0;
    bool isStyle = false;
    uint16_t parent = 0;
    uint8_t used = 0x3F; // bit 0 number format, 1 font, 2 alignment, 3 border, 4 fill, 5 protection
    Alignment alignment;
    Protection protection;
    uint8_t lineLeft = 0, lineRight = 0, lineTop = 0, lineBottom = 0, lineDiag = 0;
    uint16_t icvLeft = 0, icvRight = 0, icvTop = 0, icvBottom = 0, icvDiag = 0;
    bool diagUp = false, diagDown = false;
    uint8_t pattern = 0;
    uint16_t icvFore = 64, icvBack = 65;
};

struct PendingSheet {
    std::string name;                 // BIFF8: UTF-16 or Latin-1, decoded at once
    std::span<const uint8_t> rawName; // BIFF5: code-page bytes, decoded once the code page is known
    SheetState state = SheetState::Visible;
    size_t offset = 0;
};

ErrorCode ErrorFromBiff(uint8_t code)
{
    switch (code) {
    case 0x00: return ErrorCode::Null;
    case 0x07: return ErrorCode::Div0;
    case 0x0F: return ErrorCode::Value;
    case 0x17: return ErrorCode::Ref;
    case 0x1D: return ErrorCode::Name;
    case 0x24: return ErrorCode::Num;
    case 0x2B: return ErrorCode::GettingData;
    default: return ErrorCode::NA;
    }
}

// RkNumber, [MS-XLS] 2.5.217: a 30-bit integer or the high 30 bits of a double, optionally / 100.
inline double DecodeRk(uint32_t rk)
{
    double v;
    if ((rk & 0x02) != 0) {
        v = static_cast<double>(static_cast<int32_t>(rk) >> 2);
    } else {
        uint64_t bits = static_cast<uint64_t>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&v, &bits, sizeof v);
    }
    if ((rk & 0x01) != 0) {
        v /= 100.0;
    }
    return v;
}

// The model's merged ranges never overlap; Excel never writes overlapping ones, but a damaged
// file may. Of two overlapping ranges the one that starts higher (then further left) is kept.
// Kept ranges that contain a given row have disjoint columns, so each range is compared with at
// most a grid's width of others.
void DropOverlappingMerges(std::vector<CellRange>& merges)
{
    if (merges.size() < 2) {
        return;
    }
    std::vector<size_t> order(merges.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return merges[a].firstRow != merges[b].firstRow ? merges[a].firstRow < merges[b].firstRow
                                                        : merges[a].firstCol < merges[b].firstCol;
    });
    std::vector<uint8_t> keep(merges.size(), 0);
    std::vector<size_t> active; // kept ranges that reach the current row
    bool dropped = false;
    for (size_t index : order) {
        const CellRange& m = merges[index];
        size_t out = 0;
        for (size_t a : active) {
            if (merges[a].lastRow >= m.firstRow) {
                active[out++] = a;
            }
        }
        active.resize(out);
        bool overlaps = std::any_of(active.begin(), active.end(), [&](size_t a) { return merges[a].Intersects(m); });
        if (overlaps) {
            dropped = true;
        } else {
            keep[index] = 1;
            active.push_back(index);
        }
    }
    if (!dropped) {
        return;
    }
    std::vector<CellRange> kept;
    for (size_t i = 0; i < merges.size(); ++i) {
        if (keep[i] != 0) {
            kept.push_back(merges[i]);
        }
    }
    merges = std::move(kept);
}

// Appends cells to a worksheet, keeping the row being filled at hand: BIFF writes the cells of a
// row together and in column order, so nearly every cell is an append to the current row.
class SheetBuilder {
public:
    explicit SheetBuilder(Worksheet& ws) : m_ws(ws) {}

    Row& RowAt(uint32_t index)
    {
        if (m_row == nullptr || m_rowIndex != index) {
            m_row = &m_ws.RowAt(index);
            m_rowIndex = index;
        }
        return *m_row;
    }

    Cell& At(uint32_t row, uint32_t col)
    {
        Row& r = RowAt(row);
        if (r.cells.empty() || r.cells.back().col < col) {
            Cell& c = r.cells.emplace_back();
            c.col = col;
            return c;
        }
        auto it = std::lower_bound(r.cells.begin(), r.cells.end(), col,
                                   [](const Cell& c, uint32_t value) { return c.col < value; });
        if (it != r.cells.end() && it->col == col) {
            *it = Cell{};
            it->col = col;
            return *it;
        }
        it = r.cells.insert(it, Cell{});
        it->col = col;
        return *it;
    }

private:
    Worksheet& m_ws;
    Row* m_row = nullptr;
    uint32_t m_rowIndex = 0;
};

// The whole .xls file: kept with the workbook as its sheet source.
class XlsBook : public SheetSource {
public:
    explicit XlsBook(std::shared_ptr<const InputBytes> bytes) : m_bytes(std::move(bytes)), m_name(m_bytes->Name()) {}

    std::unique_ptr<Workbook> Open();
    void LoadSheet(Workbook& workbook, size_t index, Worksheet& out) override;
    void CheckInput() const override { m_bytes->CheckUnchanged(); }

private:
    [[noreturn]] void Fail(const std::string& problem, size_t offset) const
    {
        throw FormatError(m_name, problem, kWorkbookPart, static_cast<int64_t>(offset));
    }

    void FindWorkbookStream();
    std::unique_ptr<Workbook> ReadGlobals();
    std::unique_ptr<Workbook> ReadOldGlobals();
    void ReadOldFont(const Record& rec);
    void ReadOldFormat(const Record& rec);
    void ReadOldXf(const Record& rec);
    uint32_t Biff2CellStyle(Workbook& workbook, const uint8_t* rgbAttr);
    struct PendingString {
        bool active = false;
        uint32_t row = 0;
        uint32_t col = 0;
    };
    bool ReadBiff2Cell(Workbook& workbook, const Record& rec, SheetBuilder& builder, std::string& text,
                       PendingString& pending, Worksheet& out);
    void ReadFont(const Record& rec);
    void ReadFormat(const Record& rec);
    void ReadXf(const Record& rec);
    void ReadPalette(const Record& rec);
    void ReadBoundSheet(const Record& rec);
    bool IsDialogOrOtherSheet(size_t offset) const;
    std::string DecodeText(std::span<const uint8_t> raw);
    Font ModelFont(size_t fontIndex) const;
    Color PaletteColor(uint32_t icv) const;
    void BuildStyles(Workbook& workbook);
    void EnsureSst(Workbook& workbook);
    uint32_t CellStyle(uint16_t ixfe) const { return ixfe < m_xfMap.size() ? m_xfMap[ixfe] : 0; }
    void ReadHLink(std::span<const uint8_t> body, size_t offset, Worksheet& out);

    std::shared_ptr<const InputBytes> m_bytes;
    std::string m_name;
    std::vector<uint8_t> m_streamStorage;
    std::span<const uint8_t> m_stream;
    int m_biff = 8;
    CodePageDecoder m_codePage;

    std::vector<RawFont> m_fonts;
    std::unordered_map<uint16_t, std::string> m_formats;
    std::vector<RawXf> m_xfs;
    std::array<uint32_t, 64> m_palette = kDefaultPalette;
    std::vector<uint32_t> m_xfMap; // file XF index -> model cell format

    std::vector<PendingSheet> m_pending;
    std::vector<size_t> m_sheetOffsets; // per listed worksheet
    size_t m_sstOffset = SIZE_MAX;
    bool m_decrypted = false; // the stream was decrypted with the default password
    bool m_sstLoaded = false;
    std::vector<uint32_t> m_sst; // SST index -> model string index
    std::vector<std::string> m_oldFormats;   // BIFF2-4: FORMAT records in order, their index
    std::array<uint32_t, 256> m_biff2Styles{}; // BIFF2: cell attribute byte 1 -> model format + 1
    uint16_t m_biff2Ixfe = 0;                  // BIFF2: the XF index an IXFE record gave
};

void XlsBook::FindWorkbookStream()
{
    auto data = m_bytes->Data();
    CompoundFile cfb(data, m_name);
    // An encrypted xlsx is an OLE2 compound file holding the encrypted package ([MS-OFFCRYPTO]).
    if (cfb.HasRootEntry("EncryptedPackage") || cfb.HasRootEntry("EncryptionInfo")) {
        throw PasswordProtectedError(m_name);
    }
    const CompoundFile::Entry* entry = cfb.FindRootStream("Workbook");
    m_biff = 8;
    if (entry == nullptr) {
        entry = cfb.FindRootStream("Book");
        m_biff = 5;
    }
    if (entry == nullptr) {
        throw FormatError(m_name, "the file is an OLE2 compound file without a workbook stream (not an Excel workbook)");
    }
    m_stream = cfb.ReadStream(*entry, m_streamStorage);
}

std::unique_ptr<Workbook> XlsBook::Open()
{
    auto data = m_bytes->Data();
    if (data.size() >= 2 && data[0] == 0x09 && (data[1] == 0x00 || data[1] == 0x02 || data[1] == 0x04)) {
        // Excel 2.x-4.0 wrote a worksheet as a bare BIFF stream, without a compound file.
        m_stream = data;
        m_biff = data[1] == 0x00 ? 2 : data[1] == 0x02 ? 3 : 4;
        return ReadOldGlobals();
    }
    FindWorkbookStream();
    return ReadGlobals();
}

std::string XlsBook::DecodeText(std::span<const uint8_t> raw)
{
    std::string out;
    m_codePage.Append(raw, out);
    return out;
}

std::unique_ptr<Workbook> XlsBook::ReadGlobals()
{
    RecordReader reader(m_stream, &m_name, kWorkbookPart);
    Record rec;
    if (!reader.Next(rec) || rec.type != kBof || rec.body.size() < 4) {
        if (rec.type == kBof2 || rec.type == kBof3 || rec.type == kBof4) {
            throw FormatError(m_name, "unsupported old Excel format (Excel 2.x-4.0)");
        }
        Fail("the workbook stream does not begin with a BOF record", 0);
    }
    uint16_t version = le::Load16(rec.body.data());
    uint16_t kind = le::Load16(rec.body.data() + 2);
    if (version == kBofVersionBiff8) {
        m_biff = 8;
    } else if (version == kBofVersionBiff5) {
        m_biff = 5;
    } // otherwise keep what the stream's name suggested
    if (kind != kBofGlobals) {
        Fail("the workbook stream does not begin with the workbook globals", 0);
    }
    m_codePage.SetCodePage(m_biff >= 8 ? 1200 : 1252);

    bool date1904 = false;
    uint16_t activeTab = 0;
    bool sawEof = false;
    while (!sawEof && reader.Next(rec)) {
        ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
        switch (rec.type) {
        case kEof:
            sawEof = true;
            break;
        case kFilePass:
            // The stream is decrypted once; a FILEPASS record in the decrypted stream is damage, not
            // a reason to start over again (a file repeating it would otherwise never finish).
            if (m_decrypted) {
                Fail("the workbook stream holds more than one FILEPASS record", rec.offset);
            }
            if (!DecryptWithDefaultPassword(m_streamStorage, m_stream, rec.offset, m_biff, m_name)) {
                throw PasswordProtectedError(m_name);
            }
            // The stream was replaced by its decrypted copy: read the globals again from the start,
            // once.
            m_decrypted = true;
            m_fonts.clear();
            m_formats.clear();
            m_xfs.clear();
            m_pending.clear();
            m_palette = kDefaultPalette;
            m_sstOffset = SIZE_MAX;
            return ReadGlobals();
        case kCodePage:
            m_codePage.SetCodePage(r.U16());
            break;
        case kDate1904:
            date1904 = r.U16() != 0;
            break;
        case kWindow1:
            if (rec.body.size() >= 12) {
                r.Seek(10);
                activeTab = r.U16();
            }
            break;
        case kFont:
            ReadFont(rec);
            break;
        case kFormat:
            ReadFormat(rec);
            break;
        case kXf:
            ReadXf(rec);
            break;
        case kPalette:
            ReadPalette(rec);
            break;
        case kBoundSheet8:
            ReadBoundSheet(rec);
            break;
        case kSst:
            m_sstOffset = rec.offset;
            break;
        default:
            break;
        }
    }

    Font defaultFont;
    if (m_fonts.empty()) {
        defaultFont.name = "Arial";
        defaultFont.size = 10.0;
    } else {
        defaultFont = ModelFont(0);
    }
    auto workbook = std::make_unique<Workbook>(defaultFont);
    workbook->SetSourcePath(m_name);
    workbook->SetDate1904(date1904);
    BuildStyles(*workbook);

    size_t active = 0;
    for (size_t i = 0; i < m_pending.size(); ++i) {
        const PendingSheet& p = m_pending[i];
        if (p.offset == SIZE_MAX) {
            continue;
        }
        if (i == activeTab) {
            active = m_sheetOffsets.size();
        }
        std::string name = m_biff >= 8 ? p.name : DecodeText(p.rawName);
        // No program can show, type or save such a name (xlsx cannot hold the character at all),
        // and cutting it at the NUL could make two sheets share one name and merge the wrong one.
        if (name.find('\0') != std::string::npos) {
            throw FormatError(m_name, "the name of sheet " + std::to_string(workbook->SheetCount() + 1) +
                                          " holds a NUL character");
        }
        workbook->AddUnloadedSheet(std::move(name), p.state);
        m_sheetOffsets.push_back(p.offset);
    }
    if (active < workbook->SheetCount()) {
        workbook->SetActiveSheet(active);
    }
    return workbook;
}

// Excel 2.x-4.0 files hold one worksheet, whose fonts, formats and cell formats come before its
// cells in the same stream: listing reads up to the first cell, loading reads the rest. The one
// sheet is called "Sheet 1", as other readers call it.
std::unique_ptr<Workbook> XlsBook::ReadOldGlobals()
{
    RecordReader reader(m_stream, &m_name, kWorkbookPart);
    Record rec;
    if (!reader.Next(rec) || rec.body.size() < 4) {
        Fail("the file does not begin with a BOF record", 0);
    }
    uint16_t kind = le::Load16(rec.body.data() + 2);
    if (kind != kBofWorksheet) {
        throw FormatError(m_name, "unsupported old Excel format (an Excel 4.0 workbook or a sheet other than a worksheet)");
    }
    m_codePage.SetCodePage(1252);
    bool date1904 = false;
    while (reader.Next(rec)) {
        ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
        bool done = false;
        switch (rec.type) {
        case kFilePass:
            throw PasswordProtectedError(m_name);
        case kCodePage:
            m_codePage.SetCodePage(r.U16());
            break;
        case kDate1904:
            date1904 = r.U16() != 0;
            break;
        case kFont:
        case kFont3:
            ReadOldFont(rec);
            break;
        case kFormat2:
        case kFormat:
            ReadOldFormat(rec);
            break;
        case kXf3:
        case kXf4:
            ReadOldXf(rec);
            break;
        case kPalette:
            ReadPalette(rec);
            break;
        case kEof:
        case kDimensions:
        case kDimensions2:
        case kRow:
        case kRow2:
            done = true; // the cells begin
            break;
        default:
            break;
        }
        if (done) {
            break;
        }
    }
    Font defaultFont;
    defaultFont.name = "Arial";
    defaultFont.size = 10.0;
    if (!m_fonts.empty()) {
        defaultFont = ModelFont(0);
    }
    auto workbook = std::make_unique<Workbook>(defaultFont);
    workbook->SetSourcePath(m_name);
    workbook->SetDate1904(date1904);
    // The formats are numbered by their order; the cell formats refer to them that way.
    for (size_t i = 0; i < m_oldFormats.size() && i < 0xFFFF; ++i) {
        m_formats[static_cast<uint16_t>(i)] = m_oldFormats[i];
    }
    BuildStyles(*workbook);
    m_sstLoaded = true;
    workbook->AddUnloadedSheet("Sheet 1", SheetState::Visible);
    m_sheetOffsets.push_back(0);
    return workbook;
}

// FONT in BIFF2 (0x0031: height, options, name) and BIFF3-4 (0x0231: height, options, colour,
// name). The options' bit 0 is bold and bit 2 underline, which later versions moved elsewhere.
void XlsBook::ReadOldFont(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    RawFont f;
    f.height = r.U16();
    uint16_t options = r.U16();
    f.grbit = options;
    f.bls = (options & 0x0001) != 0 ? 700 : 400;
    f.uls = (options & 0x0004) != 0 ? 1 : 0;
    if (rec.type == kFont3) {
        f.icv = r.U16();
    }
    uint8_t cch = r.U8();
    f.name = DecodeText(r.Bytes(cch));
    m_fonts.push_back(std::move(f));
}

// FORMAT in BIFF2-3 (0x001E: the code) and BIFF4 (0x041E: two unused bytes, then the code).
void XlsBook::ReadOldFormat(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    if (m_biff == 4) {
        r.Skip(2);
    }
    uint8_t cch = r.U8();
    m_oldFormats.push_back(DecodeText(r.Bytes(cch)));
}

// XF in BIFF3 (0x0243) and BIFF4 (0x0443): font, format, protection, parent and horizontal
// alignment are kept; fills and borders of these versions are not read.
void XlsBook::ReadOldXf(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    RawXf x;
    x.font = r.U8();
    x.format = r.U8();
    if (rec.type == kXf3) {
        uint8_t typeProt = r.U8();
        x.protection.locked = (typeProt & 0x01) != 0;
        x.protection.hidden = (typeProt & 0x02) != 0;
        x.isStyle = (typeProt & 0x04) != 0;
        x.used = static_cast<uint8_t>(r.U8() >> 2);
        uint16_t align = r.U16();
        x.alignment.horizontal = static_cast<HAlign>(std::min<uint16_t>(align & 0x07, 7));
        x.alignment.wrap = (align & 0x08) != 0;
        x.parent = static_cast<uint16_t>(align >> 4);
    } else {
        uint16_t typeProt = r.U16();
        x.protection.locked = (typeProt & 0x0001) != 0;
        x.protection.hidden = (typeProt & 0x0002) != 0;
        x.isStyle = (typeProt & 0x0004) != 0;
        x.parent = static_cast<uint16_t>(typeProt >> 4);
        uint8_t align = r.U8();
        x.alignment.horizontal = static_cast<HAlign>(std::min<uint8_t>(align & 0x07, 7));
        x.alignment.wrap = (align & 0x08) != 0;
        x.alignment.vertical = static_cast<VAlign>(std::min<uint8_t>((align >> 4) & 0x03, 4));
        x.used = static_cast<uint8_t>(r.U8() >> 2);
    }
    if (m_xfs.size() >= limits::kMaxXlsXfRecords) {
        throw LimitError("\"" + m_name + "\": the workbook defines more than " +
                         std::to_string(limits::kMaxXlsXfRecords) + " cell formats");
    }
    m_xfs.push_back(x);
}

// BIFF2 cells carry their format in three attribute bytes ([MS-XLS] does not cover BIFF2; the
// layout is the one Excel 2.x documented): byte 1 holds the number format (bits 0-5) and the
// font (bits 6-7). Each distinct byte becomes one model format.
uint32_t XlsBook::Biff2CellStyle(Workbook& workbook, const uint8_t* rgbAttr)
{
    uint8_t key = rgbAttr[1];
    if (m_biff2Styles[key] != 0) {
        return m_biff2Styles[key] - 1;
    }
    ResolvedStyle s;
    s.font = ModelFont(static_cast<size_t>(key >> 6));
    size_t format = key & 0x3F;
    if (format < m_oldFormats.size() && !m_oldFormats[format].empty()) {
        s.numFmt = m_oldFormats[format];
    }
    s.alignment.horizontal = static_cast<HAlign>(std::min<uint8_t>(rgbAttr[2] & 0x07, 7));
    uint32_t index = workbook.Styles().InternStyle(s);
    m_biff2Styles[key] = index + 1;
    return index;
}

// The BIFF2 cell records: row, column, three attribute bytes, then the value.
bool XlsBook::ReadBiff2Cell(Workbook& workbook, const Record& rec, SheetBuilder& builder, std::string& text,
                            PendingString& pending, Worksheet& out)
{
    const uint8_t* p = rec.body.data();
    const size_t n = rec.body.size();
    auto head = [&](size_t need) {
        if (n < need) {
            Fail("a cell record is too short", rec.offset);
        }
    };
    switch (rec.type) {
    case kBlank2:
    case kInteger2:
    case kNumber2:
    case kLabel2:
    case kBoolErr2:
    case kFormula: {
        head(7);
        uint32_t row = le::Load16(p);
        uint32_t col = le::Load16(p + 2);
        if (col >= kMaxReadCols) {
            Fail("a cell lies beyond the last column of the grid", rec.offset);
        }
        uint32_t style = Biff2CellStyle(workbook, p + 4);
        Cell& c = builder.At(row, col);
        c.style = style;
        if (rec.type == kInteger2) {
            head(9);
            c.type = CellType::Number;
            c.number = le::Load16(p + 7);
        } else if (rec.type == kNumber2) {
            head(15);
            c.type = CellType::Number;
            std::memcpy(&c.number, p + 7, 8);
        } else if (rec.type == kLabel2) {
            head(8);
            ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
            r.Seek(7);
            uint8_t cch = r.U8();
            text.clear();
            m_codePage.Append(r.Bytes(cch), text);
            c.type = CellType::String;
            c.text = workbook.Strings().Intern(text);
        } else if (rec.type == kBoolErr2) {
            head(9);
            if (p[8] != 0) {
                c.type = CellType::Error;
                c.error = ErrorFromBiff(p[7]);
            } else {
                c.type = CellType::Boolean;
                c.boolean = p[7] != 0;
            }
        } else if (rec.type == kFormula) {
            head(15);
            c.formula = true;
            if (p[13] == 0xFF && p[14] == 0xFF) {
                // Not a number: byte 7 says what the result is, as in later versions.
                switch (p[7]) {
                case 0:
                    c.type = CellType::String;
                    c.text = workbook.Strings().Intern("");
                    pending = PendingString{true, row, col};
                    break;
                case 1:
                    c.type = CellType::Boolean;
                    c.boolean = p[9] != 0;
                    break;
                case 2:
                    c.type = CellType::Error;
                    c.error = ErrorFromBiff(p[9]);
                    break;
                default:
                    c.type = CellType::String;
                    c.text = workbook.Strings().Intern("");
                    break;
                }
            } else {
                c.type = CellType::Number;
                std::memcpy(&c.number, p + 7, 8);
            }
        }
        return true;
    }
    case kString2: {
        // The text result of the formula just read: a one-byte count and code-page bytes.
        if (!pending.active) {
            return true;
        }
        pending.active = false;
        ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
        uint8_t cch = r.U8();
        text.clear();
        m_codePage.Append(r.Bytes(cch), text);
        Cell& c = builder.At(pending.row, pending.col);
        c.formula = true;
        c.type = CellType::String;
        c.text = workbook.Strings().Intern(text);
        return true;
    }
    case kColWidth2: {
        // COLWIDTH: first and last column (one byte each), width in 1/256 characters.
        if (n >= 4 && p[0] <= p[1]) {
            ColumnInfo info;
            info.first = p[0];
            info.last = p[1];
            info.width = le::Load16(p + 2) / 256.0;
            info.customWidth = true;
            out.SetColumn(info);
        }
        return true;
    }
    case kIxfe2:
        if (n >= 2) {
            m_biff2Ixfe = le::Load16(p);
        }
        return true;
    default:
        return false;
    }
}

// FONT, [MS-XLS] 2.4.122.
void XlsBook::ReadFont(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    RawFont f;
    f.height = r.U16();
    f.grbit = r.U16();
    f.icv = r.U16();
    f.bls = r.U16();
    f.sss = r.U16();
    f.uls = r.U8();
    f.family = r.U8();
    f.charset = r.U8();
    r.Skip(1);
    if (m_biff >= 8) {
        StringReader(r, nullptr).ShortXLUnicodeString(f.name);
    } else {
        uint8_t cch = r.U8();
        auto raw = r.Bytes(cch);
        f.name = DecodeText(raw); // font names are ASCII in practice; the code page is set by now
    }
    m_fonts.push_back(std::move(f));
}

// FORMAT, [MS-XLS] 2.4.126.
void XlsBook::ReadFormat(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    uint16_t id = r.U16();
    std::string code;
    if (m_biff >= 8) {
        StringReader(r, nullptr).XLUnicodeString(code);
    } else {
        uint8_t cch = r.U8();
        code = DecodeText(r.Bytes(cch));
    }
    m_formats[id] = std::move(code);
}

// XF, [MS-XLS] 2.4.353 (BIFF8, 20 bytes) and the BIFF5 layout (16 bytes).
void XlsBook::ReadXf(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    RawXf x;
    x.font = r.U16();
    x.format = r.U16();
    uint16_t typeProt = r.U16();
    x.protection.locked = (typeProt & 0x0001) != 0;
    x.protection.hidden = (typeProt & 0x0002) != 0;
    x.isStyle = (typeProt & 0x0004) != 0;
    x.parent = static_cast<uint16_t>(typeProt >> 4);
    uint8_t align = r.U8();
    x.alignment.horizontal = static_cast<HAlign>(std::min<uint8_t>(align & 0x07, 7));
    x.alignment.wrap = (align & 0x08) != 0;
    x.alignment.vertical = static_cast<VAlign>(std::min<uint8_t>((align >> 4) & 0x07, 4));
    if (m_biff >= 8) {
        uint8_t rotation = r.U8();
        x.alignment.rotation = (rotation <= 180 || rotation == 255) ? rotation : 0;
        uint8_t indent = r.U8();
        x.alignment.indent = indent & 0x0F;
        x.alignment.shrink = (indent & 0x10) != 0;
        x.used = static_cast<uint8_t>(r.U8() >> 2);
        uint32_t b1 = r.U32();
        uint32_t b2 = r.U32();
        uint16_t b3 = r.U16();
        x.lineLeft = b1 & 0x0F;
        x.lineRight = (b1 >> 4) & 0x0F;
        x.lineTop = (b1 >> 8) & 0x0F;
        x.lineBottom = (b1 >> 12) & 0x0F;
        x.icvLeft = (b1 >> 16) & 0x7F;
        x.icvRight = (b1 >> 23) & 0x7F;
        x.diagDown = (b1 & 0x40000000u) != 0;
        x.diagUp = (b1 & 0x80000000u) != 0;
        x.icvTop = b2 & 0x7F;
        x.icvBottom = (b2 >> 7) & 0x7F;
        x.icvDiag = (b2 >> 14) & 0x7F;
        x.lineDiag = (b2 >> 21) & 0x0F;
        x.pattern = (b2 >> 26) & 0x3F;
        x.icvFore = b3 & 0x7F;
        x.icvBack = (b3 >> 7) & 0x7F;
    } else {
        uint8_t orientUsed = r.U8();
        static constexpr uint16_t kOrientation[4] = {0, 255, 90, 180};
        x.alignment.rotation = kOrientation[orientUsed & 0x03];
        x.used = static_cast<uint8_t>(orientUsed >> 2);
        uint32_t b1 = r.U32();
        uint32_t b2 = r.U32();
        x.icvFore = b1 & 0x7F;
        x.icvBack = (b1 >> 7) & 0x7F;
        x.pattern = (b1 >> 16) & 0x3F;
        x.lineBottom = (b1 >> 22) & 0x07;
        x.icvBottom = (b1 >> 25) & 0x7F;
        x.lineTop = b2 & 0x07;
        x.lineLeft = (b2 >> 3) & 0x07;
        x.lineRight = (b2 >> 6) & 0x07;
        x.icvTop = (b2 >> 9) & 0x7F;
        x.icvLeft = (b2 >> 16) & 0x7F;
        x.icvRight = (b2 >> 23) & 0x7F;
    }
    if (m_xfs.size() >= limits::kMaxXlsXfRecords) {
        throw LimitError("\"" + m_name + "\": the workbook defines more than " +
                         std::to_string(limits::kMaxXlsXfRecords) + " cell formats");
    }
    m_xfs.push_back(x);
}

// PALETTE, [MS-XLS] 2.4.188: colours for indexes 8 onwards.
void XlsBook::ReadPalette(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    uint16_t count = r.U16();
    if (static_cast<size_t>(count) * 4 > r.Left()) {
        r.Fail("the PALETTE record holds fewer colours than it claims");
    }
    for (uint16_t i = 0; i < count && 8u + i < m_palette.size(); ++i) {
        uint8_t red = r.U8();
        uint8_t green = r.U8();
        uint8_t blue = r.U8();
        r.Skip(1);
        m_palette[8u + i] = (static_cast<uint32_t>(red) << 16) | (static_cast<uint32_t>(green) << 8) | blue;
    }
}

// BoundSheet8, [MS-XLS] 2.4.28: only worksheets are listed; chart sheets, macro sheets, VBA
// modules and dialog sheets are not.
void XlsBook::ReadBoundSheet(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    uint32_t position = r.U32();
    uint8_t hsState = r.U8();
    uint8_t dt = r.U8();
    PendingSheet p;
    switch (hsState & 0x03) {
    case 1: p.state = SheetState::Hidden; break;
    case 2: p.state = SheetState::VeryHidden; break;
    default: p.state = SheetState::Visible; break;
    }
    if (m_biff >= 8) {
        StringReader(r, nullptr).ShortXLUnicodeString(p.name);
    } else {
        uint8_t cch = r.U8();
        p.rawName = r.Bytes(cch);
    }
    p.offset = (dt == 0 && !IsDialogOrOtherSheet(position)) ? position : SIZE_MAX;
    if (m_pending.size() >= limits::kMaxSheets) {
        throw LimitError("\"" + m_name + "\": the workbook lists more sheets than a workbook can hold");
    }
    m_pending.push_back(std::move(p));
}

// A BoundSheet8 of type 0 may still be a dialog sheet (WsBool.fDialog) or, in damaged files,
// point at a chart or macro substream. Looking at the first few records of the substream tells,
// without parsing the sheet. A position that does not hold a BOF is left for the sheet load to
// report.
bool XlsBook::IsDialogOrOtherSheet(size_t offset) const
{
    if (offset >= m_stream.size()) {
        return false;
    }
    RecordReader reader(m_stream, &m_name, kWorkbookPart, offset);
    Record rec;
    try {
        if (!reader.Next(rec) || rec.type != kBof || rec.body.size() < 4) {
            return false;
        }
        uint16_t kind = le::Load16(rec.body.data() + 2);
        if (kind != kBofWorksheet) {
            return true;
        }
        // WsBool comes before the first cell in every writer's record order.
        for (int i = 0; i < 64 && reader.Next(rec); ++i) {
            if (rec.type == kWsBool) {
                return !rec.body.empty() && (rec.body[0] & 0x10) != 0;
            }
            if (rec.type == kDimensions || rec.type == kEof || rec.type == kBof || rec.type == kRow) {
                break;
            }
        }
    } catch (const FormatError&) {
        return false;
    }
    return false;
}

Color XlsBook::PaletteColor(uint32_t icv) const
{
    if (IsSystemColorIndex(icv)) {
        return Color::Automatic();
    }
    return Color::Rgb(0xFF000000u | m_palette[icv]);
}

Font XlsBook::ModelFont(size_t fontIndex) const
{
    // Font index 4 does not exist: the fifth FONT record is font 5 ([MS-XLS] 2.5.129 FontIndex).
    size_t record = fontIndex < 4 ? fontIndex : fontIndex - 1;
    if (fontIndex == 4 || record >= m_fonts.size()) {
        record = 0;
    }
    Font font;
    if (m_fonts.empty()) {
        return font;
    }
    const RawFont& f = m_fonts[record];
    font.name = f.name.empty() ? std::string("Arial") : f.name;
    font.size = f.height >= 20 ? f.height / 20.0 : 10.0;
    font.bold = f.bls >= 700;
    font.italic = (f.grbit & 0x0002) != 0;
    font.strike = (f.grbit & 0x0008) != 0;
    switch (f.uls) {
    case 0x01: font.underline = Underline::Single; break;
    case 0x02: font.underline = Underline::Double; break;
    case 0x21: font.underline = Underline::SingleAccounting; break;
    case 0x22: font.underline = Underline::DoubleAccounting; break;
    default: font.underline = Underline::None; break;
    }
    font.vertAlign = f.sss == 1 ? VertAlign::Superscript : f.sss == 2 ? VertAlign::Subscript : VertAlign::Baseline;
    // The automatic colour (0x7FFF) and the system colours are the model's "no colour".
    font.color = IsSystemColorIndex(f.icv) ? Color{} : PaletteColor(f.icv);
    font.family = f.family;
    font.charset = f.charset;
    return font;
}

void XlsBook::BuildStyles(Workbook& workbook)
{
    StyleTable& styles = workbook.Styles();
    m_xfMap.assign(m_xfs.size(), 0);
    std::vector<Font> fonts;
    size_t fontCount = m_fonts.size() + 1;
    fonts.reserve(fontCount);
    for (size_t i = 0; i < fontCount; ++i) {
        fonts.push_back(ModelFont(i));
    }
    for (size_t i = 0; i < m_xfs.size(); ++i) {
        const RawXf& x = m_xfs[i];
        // A cell XF's fAtr* flags say which groups of attributes differ from its parent style XF
        // ([MS-XLS] 2.4.353). Writers store the effective values in cell XFs anyway, and some
        // (Quattro Pro) leave every flag clear next to real values, so the parent's group is taken
        // only where the flag is clear and the cell XF's own group is empty.
        const RawXf* parent = nullptr;
        if (!x.isStyle && x.parent < m_xfs.size() && m_xfs[x.parent].isStyle) {
            parent = &m_xfs[x.parent];
        }
        auto inherit = [&](int bit, bool ownEmpty) { return parent != nullptr && (x.used & (1u << bit)) == 0 && ownEmpty; };
        auto pick = [&](int bit) -> const RawXf& {
            bool ownEmpty = false;
            switch (bit) {
            case 0: ownEmpty = x.format == 0; break;
            case 1: ownEmpty = x.font == 0; break;
            case 2: ownEmpty = x.alignment == Alignment{}; break;
            case 3: ownEmpty = x.lineLeft == 0 && x.lineRight == 0 && x.lineTop == 0 && x.lineBottom == 0 && !x.diagUp && !x.diagDown; break;
            case 4: ownEmpty = x.pattern == 0; break;
            default: ownEmpty = false; break; // protection: both states are meaningful
            }
            return inherit(bit, ownEmpty) ? *parent : x;
        };
        ResolvedStyle s;
        const RawXf& num = pick(0);
        auto custom = m_formats.find(num.format);
        if (custom != m_formats.end()) {
            s.numFmt = custom->second;
        } else {
            std::string_view builtin = BuiltinNumberFormat(num.format);
            s.numFmt = builtin.empty() ? std::string("General") : std::string(builtin);
        }
        if (s.numFmt.empty()) {
            s.numFmt = "General";
        }
        const RawXf& fontXf = pick(1);
        s.font = fontXf.font < fonts.size() ? fonts[fontXf.font] : fonts[0];
        s.alignment = pick(2).alignment;
        const RawXf& b = pick(3);
        auto line = [&](uint8_t style, uint16_t icv) {
            BorderLine l;
            l.style = static_cast<BorderStyle>(std::min<uint8_t>(style, 13));
            if (l.style != BorderStyle::None) {
                l.color = PaletteColor(icv);
            }
            return l;
        };
        s.border.left = line(b.lineLeft, b.icvLeft);
        s.border.right = line(b.lineRight, b.icvRight);
        s.border.top = line(b.lineTop, b.icvTop);
        s.border.bottom = line(b.lineBottom, b.icvBottom);
        s.border.diagonalUp = b.diagUp;
        s.border.diagonalDown = b.diagDown;
        if (b.diagUp || b.diagDown) {
            s.border.diagonal = line(b.lineDiag, b.icvDiag);
        }
        const RawXf& f = pick(4);
        if (f.pattern != 0) {
            s.fill.pattern = static_cast<PatternType>(std::min<uint8_t>(f.pattern, 18));
            s.fill.fg = PaletteColor(f.icvFore);
            s.fill.bg = PaletteColor(f.icvBack);
        }
        s.protection = pick(5).protection;
        m_xfMap[i] = styles.InternStyle(s);
    }
}

// SST, [MS-XLS] 2.4.265: read on the first sheet load, since listing sheets does not need it.
// The unique-string count of the header is not trusted (writers get it wrong): the strings are
// read until the record and its Continue records end.
void XlsBook::EnsureSst(Workbook& workbook)
{
    if (m_sstLoaded) {
        return;
    }
    m_sstLoaded = true;
    if (m_sstOffset == SIZE_MAX) {
        return;
    }
    RecordReader reader(m_stream, &m_name, kWorkbookPart, m_sstOffset);
    Record first;
    reader.Next(first);
    ContinuedRecord rec;
    rec.Assemble(reader, first);
    ByteReader r(rec.bytes, &m_name, "SST record", 0);
    r.U32(); // total references, not needed
    uint32_t unique = r.U32();
    // Every string takes at least three bytes: do not reserve for more than can be there.
    size_t expected = std::min<size_t>(unique, r.Left() / 3);
    m_sst.reserve(expected);
    StringReader strings(r, &rec.boundaries);
    StringTable& table = workbook.Strings();
    table.Reserve(expected);
    std::string text;
    while (r.Left() >= 3) {
        try {
            uint16_t cch = r.U16();
            uint8_t flags = r.U8();
            uint16_t runs = (flags & 0x08) != 0 ? r.U16() : 0;
            uint32_t ext = (flags & 0x04) != 0 ? r.U32() : 0;
            text.clear();
            strings.Chars(cch, (flags & 0x01) != 0, text);
            // Rich text runs and phonetic data are not kept.
            r.Skip(static_cast<size_t>(runs) * 4);
            r.Skip(ext);
        } catch (const FormatError&) {
            // Bytes after the last declared string are padding some writers leave; damage before
            // it is an error.
            if (m_sst.size() >= unique) {
                break;
            }
            throw;
        }
        m_sst.push_back(table.Intern(text));
    }
}

// HLink, [MS-XLS] 2.4.140, holding a Hyperlink Object ([MS-OSHARED] 2.3.7.1).
void XlsBook::ReadHLink(std::span<const uint8_t> body, size_t offset, Worksheet& out)
{
    ByteReader r(body, &m_name, kWorkbookPart, offset + 4);
    Hyperlink link;
    uint16_t rwFirst = r.U16();
    uint16_t rwLast = r.U16();
    uint16_t colFirst = r.U16();
    uint16_t colLast = r.U16();
    if (rwLast < rwFirst || colLast < colFirst || colLast >= kMaxReadCols) {
        return; // a link on no cells is dropped
    }
    link.range = CellRange{rwFirst, colFirst, rwLast, colLast};
    r.Skip(16); // hlinkClsid
    r.Skip(4);  // streamVersion
    uint32_t flags = r.U32();
    auto hyperlinkString = [&](std::string& into) {
        uint32_t chars = r.U32();
        if (chars > r.Left() / 2) {
            r.Fail("a hyperlink string is longer than its record");
        }
        auto raw = r.Bytes(static_cast<size_t>(chars) * 2);
        AppendUtf16(raw, into);
        while (!into.empty() && into.back() == '\0') {
            into.pop_back();
        }
    };
    if ((flags & 0x10) != 0) { // hlstmfHasDisplayName
        hyperlinkString(link.display);
    }
    if ((flags & 0x80) != 0) { // hlstmfHasFrameName
        std::string frame;
        hyperlinkString(frame);
    }
    if ((flags & 0x01) != 0) { // hlstmfHasMoniker
        if ((flags & 0x100) != 0) { // hlstmfMonikerSavedAsStr
            hyperlinkString(link.target);
        } else {
            static constexpr uint8_t kUrlMoniker[16] = {0xE0, 0xC9, 0xEA, 0x79, 0xF9, 0xBA, 0xCE, 0x11,
                                                        0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B};
            static constexpr uint8_t kFileMoniker[16] = {0x03, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                                         0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
            auto clsid = r.Bytes(16);
            if (std::memcmp(clsid.data(), kUrlMoniker, 16) == 0) {
                // URLMoniker, [MS-OSHARED] 2.3.7.6: a byte length, then a NUL-terminated URL and
                // optional fields within that length.
                uint32_t length = r.U32();
                auto raw = r.Bytes(length);
                size_t units = raw.size() / 2;
                for (size_t i = 0; i < units; ++i) {
                    if (le::Load16(raw.data() + 2 * i) == 0) {
                        units = i;
                        break;
                    }
                }
                AppendUtf16(raw.first(units * 2), link.target);
            } else if (std::memcmp(clsid.data(), kFileMoniker, 16) == 0) {
                // FileMoniker, [MS-OSHARED] 2.3.7.8: "../" per cAnti, an 8-bit path, and a
                // UTF-16 path that replaces it when present.
                uint16_t anti = r.U16();
                uint32_t ansiLength = r.U32();
                auto ansi = r.Bytes(ansiLength);
                r.Skip(2 + 2 + 16 + 4);
                uint32_t unicodeSize = r.U32();
                std::string path;
                if (unicodeSize > 0) {
                    uint32_t unicodeBytes = r.U32();
                    r.Skip(2);
                    AppendUtf16(r.Bytes(unicodeBytes), path);
                } else {
                    size_t n = ansi.size();
                    while (n > 0 && ansi[n - 1] == 0) {
                        --n;
                    }
                    m_codePage.Append(ansi.first(n), path);
                }
                for (uint16_t i = 0; i < anti && i < 256; ++i) {
                    link.target += "../";
                }
                link.target += path;
            } else {
                return; // another moniker kind: nothing a user could follow
            }
        }
    }
    if ((flags & 0x08) != 0) { // hlstmfHasLocationStr
        hyperlinkString(link.location);
    }
    if (out.hyperlinks.size() >= limits::kMaxHyperlinks) {
        throw LimitError("\"" + m_name + "\": a sheet holds more hyperlinks than the reader accepts");
    }
    out.hyperlinks.push_back(std::move(link));
}

void XlsBook::LoadSheet(Workbook& workbook, size_t index, Worksheet& out)
{
    EnsureSst(workbook);
    size_t offset = m_sheetOffsets.at(index);
    if (offset >= m_stream.size()) {
        Fail("a sheet's position lies beyond the end of the workbook stream", offset);
    }
    RecordReader reader(m_stream, &m_name, kWorkbookPart, offset);
    Record rec;
    if (!reader.Next(rec) || !(rec.type == kBof || (m_biff < 5 && (rec.type == kBof2 || rec.type == kBof3 || rec.type == kBof4))) ||
        rec.body.size() < 4) {
        Fail("a sheet does not begin with a BOF record", offset);
    }
    SheetBuilder builder(out);
    StringTable& strings = workbook.Strings();
    const uint32_t emptyText = strings.Intern("");
    std::string text;
    ContinuedRecord continued;
    // A formula whose result is text is followed by a STRING record with that text.
    bool pendingString = false;
    uint32_t pendingRow = 0;
    uint32_t pendingCol = 0;
    bool frozen = false;
    uint32_t paneRows = 0;
    uint32_t paneCols = 0;
    bool standardWidth = false;
    int depth = 1;

    auto checkCell = [&](uint32_t col, size_t at) {
        if (col >= kMaxReadCols) {
            Fail("a cell lies beyond the last column of the grid", at);
        }
    };

    PendingString pendingOld;
    while (depth > 0 && reader.Next(rec)) {
        const uint8_t* p = rec.body.data();
        const size_t n = rec.body.size();
        if (m_biff == 2 && depth == 1 && ReadBiff2Cell(workbook, rec, builder, text, pendingOld, out)) {
            continue;
        }
        if (depth > 1) {
            // An embedded chart's substream: skipped with its nested BOF/EOF pairs.
            if (rec.type == kBof) {
                ++depth;
            } else if (rec.type == kEof) {
                --depth;
            }
            continue;
        }
        switch (rec.type) {
        case kNumber: {
            if (n < 14) {
                Fail("a NUMBER record is too short", rec.offset);
            }
            uint32_t col = le::Load16(p + 2);
            checkCell(col, rec.offset);
            Cell& c = builder.At(le::Load16(p), col);
            c.style = CellStyle(le::Load16(p + 4));
            c.type = CellType::Number;
            std::memcpy(&c.number, p + 6, 8);
            break;
        }
        case kRk: {
            if (n < 10) {
                Fail("an RK record is too short", rec.offset);
            }
            uint32_t col = le::Load16(p + 2);
            checkCell(col, rec.offset);
            Cell& c = builder.At(le::Load16(p), col);
            c.style = CellStyle(le::Load16(p + 4));
            c.type = CellType::Number;
            c.number = DecodeRk(le::Load32(p + 6));
            break;
        }
        case kMulRk: {
            // MulRk, [MS-XLS] 2.4.175: row, first column, (XF, RK) pairs, last column.
            if (n < 6 || (n - 6) % 6 != 0) {
                Fail("a MULRK record has a wrong length", rec.offset);
            }
            uint32_t row = le::Load16(p);
            uint32_t col = le::Load16(p + 2);
            size_t count = (n - 6) / 6;
            checkCell(col + static_cast<uint32_t>(count) - 1, rec.offset);
            for (size_t i = 0; i < count; ++i) {
                const uint8_t* e = p + 4 + 6 * i;
                Cell& c = builder.At(row, col + static_cast<uint32_t>(i));
                c.style = CellStyle(le::Load16(e));
                c.type = CellType::Number;
                c.number = DecodeRk(le::Load32(e + 2));
            }
            break;
        }
        case kLabelSst: {
            if (n < 10) {
                Fail("a LABELSST record is too short", rec.offset);
            }
            uint32_t col = le::Load16(p + 2);
            checkCell(col, rec.offset);
            uint32_t isst = le::Load32(p + 6);
            if (isst >= m_sst.size()) {
                Fail("a cell refers to shared string " + std::to_string(isst) + ", but the table holds " +
                         std::to_string(m_sst.size()),
                     rec.offset);
            }
            Cell& c = builder.At(le::Load16(p), col);
            c.style = CellStyle(le::Load16(p + 4));
            c.type = CellType::String;
            c.text = m_sst[isst];
            break;
        }
        case kLabel:
        case kRString: {
            // Label, [MS-XLS] 2.4.148; RString (rich text, runs not kept) has the same start.
            std::span<const uint8_t> body = rec.body;
            const std::vector<size_t>* bounds = nullptr;
            if (reader.PeekType() == kContinue) {
                continued.Assemble(reader, rec);
                body = continued.bytes;
                bounds = &continued.boundaries;
            }
            ByteReader r(body, &m_name, kWorkbookPart, rec.offset + 4);
            uint16_t row = r.U16();
            uint16_t col = r.U16();
            uint16_t ixfe = r.U16();
            checkCell(col, rec.offset);
            text.clear();
            if (m_biff >= 8) {
                StringReader(r, bounds).XLUnicodeString(text);
            } else {
                uint16_t cch = r.U16();
                m_codePage.Append(r.Bytes(cch), text);
            }
            Cell& c = builder.At(row, col);
            c.style = CellStyle(ixfe);
            c.type = CellType::String;
            c.text = strings.Intern(text);
            break;
        }
        case kBoolErr: {
            if (n < 8) {
                Fail("a BOOLERR record is too short", rec.offset);
            }
            uint32_t col = le::Load16(p + 2);
            checkCell(col, rec.offset);
            Cell& c = builder.At(le::Load16(p), col);
            c.style = CellStyle(le::Load16(p + 4));
            if (p[7] != 0) {
                c.type = CellType::Error;
                c.error = ErrorFromBiff(p[6]);
            } else {
                c.type = CellType::Boolean;
                c.boolean = p[6] != 0;
            }
            break;
        }
        case kBlank: {
            if (n < 6) {
                Fail("a BLANK record is too short", rec.offset);
            }
            uint32_t col = le::Load16(p + 2);
            checkCell(col, rec.offset);
            Cell& c = builder.At(le::Load16(p), col);
            c.style = CellStyle(le::Load16(p + 4));
            break;
        }
        case kMulBlank: {
            if (n < 6 || (n - 6) % 2 != 0) {
                Fail("a MULBLANK record has a wrong length", rec.offset);
            }
            uint32_t row = le::Load16(p);
            uint32_t col = le::Load16(p + 2);
            size_t count = (n - 6) / 2;
            checkCell(col + static_cast<uint32_t>(count) - 1, rec.offset);
            for (size_t i = 0; i < count; ++i) {
                Cell& c = builder.At(row, col + static_cast<uint32_t>(i));
                c.style = CellStyle(le::Load16(p + 4 + 2 * i));
            }
            break;
        }
        case kFormula:
        case kFormulaBiff3:
        case kFormulaBiff4: {
            // Formula, [MS-XLS] 2.4.127 (BIFF3-4 used other record numbers for the same start):
            // the cached result is kept, not the formula.
            if (n < 16) {
                Fail("a FORMULA record is too short", rec.offset);
            }
            uint32_t row = le::Load16(p);
            uint32_t col = le::Load16(p + 2);
            checkCell(col, rec.offset);
            Cell& c = builder.At(row, col);
            c.style = CellStyle(le::Load16(p + 4));
            c.formula = true;
            if (p[12] == 0xFF && p[13] == 0xFF) {
                switch (p[6]) {
                case 0: // text, in the STRING record that follows
                    c.type = CellType::String;
                    c.text = emptyText;
                    pendingString = true;
                    pendingRow = row;
                    pendingCol = col;
                    break;
                case 1:
                    c.type = CellType::Boolean;
                    c.boolean = p[8] != 0;
                    break;
                case 2:
                    c.type = CellType::Error;
                    c.error = ErrorFromBiff(p[8]);
                    break;
                default: // 3: the empty string
                    c.type = CellType::String;
                    c.text = emptyText;
                    break;
                }
            } else {
                c.type = CellType::Number;
                std::memcpy(&c.number, p + 6, 8);
            }
            break;
        }
        case kString: {
            if (!pendingString) {
                break;
            }
            pendingString = false;
            std::span<const uint8_t> body = rec.body;
            const std::vector<size_t>* bounds = nullptr;
            if (reader.PeekType() == kContinue) {
                continued.Assemble(reader, rec);
                body = continued.bytes;
                bounds = &continued.boundaries;
            }
            ByteReader r(body, &m_name, kWorkbookPart, rec.offset + 4);
            text.clear();
            if (m_biff >= 8) {
                StringReader(r, bounds).XLUnicodeString(text);
            } else {
                uint16_t cch = r.U16();
                m_codePage.Append(r.Bytes(cch), text);
            }
            Cell& c = builder.At(pendingRow, pendingCol);
            c.formula = true;
            c.type = CellType::String;
            c.text = strings.Intern(text);
            break;
        }
        case kRow: {
            // Row, [MS-XLS] 2.4.221.
            if (n < 16) {
                Fail("a ROW record is too short", rec.offset);
            }
            uint16_t colMic = le::Load16(p + 2);
            uint16_t colMac = le::Load16(p + 4);
            uint16_t miyRw = le::Load16(p + 6) & 0x7FFF;
            uint32_t flags = le::Load32(p + 12);
            Row& row = builder.RowAt(le::Load16(p));
            row.customHeight = (flags & 0x40) != 0; // fUnsynced
            row.hidden = (flags & 0x20) != 0;       // fDyZero
            if (row.customHeight || row.hidden) {
                row.height = static_cast<float>(miyRw / 20.0);
            }
            if (row.cells.empty() && colMac > colMic && colMac - colMic <= 256) {
                row.cells.reserve(colMac - colMic);
            }
            break;
        }
        case kColInfo: {
            // ColInfo, [MS-XLS] 2.4.53. The width is in 1/256 of the width of the default font's
            // '0' character including the cell padding, which is exactly the unit of xlsx's
            // <col width>: width = coldx / 256.
            if (n < 10) {
                Fail("a COLINFO record is too short", rec.offset);
            }
            uint32_t first = le::Load16(p);
            uint32_t last = le::Load16(p + 2);
            uint16_t coldx = le::Load16(p + 4);
            uint16_t ixfe = le::Load16(p + 6);
            uint16_t flags = le::Load16(p + 8);
            // Excel writes 256 as the last column of a range that runs to the end of the grid.
            uint32_t maxCol = m_biff >= 8 ? limits::kXlsMaxCols - 1 : 255;
            last = std::min(last, maxCol);
            if (first > last) {
                break;
            }
            ColumnInfo info;
            info.first = first;
            info.last = last;
            info.width = coldx / 256.0;
            info.customWidth = true; // a stored width must stay what the file says in any format
            info.hidden = (flags & 0x0001) != 0;
            info.style = CellStyle(ixfe);
            out.SetColumn(info);
            break;
        }
        case kDefColWidth: {
            // DefColWidth, [MS-XLS] 2.4.89: in characters without padding. As a column width
            // that is chars * 7 + 5 pixels at the default 7-pixel digit, rounded up to a multiple
            // of 8 pixels, in 1/256 characters.
            if (n >= 2 && !standardWidth) {
                double px = le::Load16(p) * 7.0 + 5.0;
                px = std::ceil(px / 8.0) * 8.0;
                out.defaultColWidth = std::floor(px / 7.0 * 256.0) / 256.0;
            }
            break;
        }
        case kStandardWidth:
            // StandardWidth, [MS-XLS] 2.4.257: the default width in 1/256 characters, padding
            // included; it wins over DefColWidth.
            if (n >= 2) {
                out.defaultColWidth = le::Load16(p) / 256.0;
                standardWidth = true;
            }
            break;
        case kDefaultRowHeight:
            // DefaultRowHeight, [MS-XLS] 2.4.87: flags, then the height in twips.
            if (n >= 4) {
                out.defaultRowHeight = le::Load16(p + 2) / 20.0;
            }
            break;
        case kMergeCells: {
            // MergeCells, [MS-XLS] 2.4.168: a count and that many Ref8.
            ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
            uint16_t count = r.U16();
            if (static_cast<size_t>(count) * 8 > r.Left()) {
                Fail("a MERGECELLS record holds fewer ranges than it claims", rec.offset);
            }
            for (uint16_t i = 0; i < count; ++i) {
                CellRange m;
                m.firstRow = r.U16();
                m.lastRow = r.U16();
                m.firstCol = r.U16();
                m.lastCol = r.U16();
                if (m.lastRow < m.firstRow || m.lastCol < m.firstCol || m.lastCol >= kMaxReadCols) {
                    continue; // an impossible range merges nothing
                }
                if (out.merges.size() >= limits::kMaxMergedRanges) {
                    throw LimitError("\"" + m_name + "\": a sheet holds more merged ranges than the reader accepts");
                }
                out.merges.push_back(m);
            }
            break;
        }
        case kHLink:
            if (m_biff >= 8) {
                ReadHLink(rec.body, rec.offset, out);
            }
            break;
        case kHLinkTooltip: {
            // HLinkTooltip, [MS-XLS] 2.4.141: the tip of the link just read, NUL-terminated UTF-16.
            if (n > 10 && !out.hyperlinks.empty()) {
                auto raw = rec.body.subspan(10);
                size_t units = raw.size() / 2;
                for (size_t i = 0; i < units; ++i) {
                    if (le::Load16(raw.data() + 2 * i) == 0) {
                        units = i;
                        break;
                    }
                }
                out.hyperlinks.back().tooltip.clear();
                AppendUtf16(raw.first(units * 2), out.hyperlinks.back().tooltip);
            }
            break;
        }
        case kWindow2:
            // Window2, [MS-XLS] 2.4.346: fFrozen is bit 3 of the options.
            if (n >= 2) {
                frozen = (le::Load16(p) & 0x0008) != 0;
            }
            break;
        case kPane:
            // Pane, [MS-XLS] 2.4.189: with frozen panes, x and y count the frozen columns and rows.
            if (n >= 4) {
                paneCols = le::Load16(p);
                paneRows = le::Load16(p + 2);
            }
            break;
        case kBof:
            ++depth;
            break;
        case kEof:
            --depth;
            break;
        default:
            break;
        }
    }
    DropOverlappingMerges(out.merges);
    if (frozen) {
        out.frozenRows = std::min<uint32_t>(paneRows, limits::kXlsMaxRows);
        out.frozenCols = std::min<uint32_t>(paneCols, limits::kXlsMaxCols);
    }
    out.Normalize();
}

} // namespace

std::unique_ptr<Workbook> ReadXls(std::shared_ptr<const InputBytes> bytes)
{
    auto book = std::make_unique<XlsBook>(std::move(bytes));
    auto workbook = book->Open();
    workbook->SetSheetSource(std::move(book));
    return workbook;
}

} // namespace gq::engine
