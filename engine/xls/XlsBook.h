// The .xls reader's own class, shared by the files that read each part of the format.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/io/ByteReader.h"
#include "engine/io/Bytes.h"
#include "engine/io/LittleEndian.h"
#include "engine/model/Palette.h"
#include "engine/model/Workbook.h"
#include "engine/xls/BiffFormula.h"
#include "engine/xls/BiffRecords.h"
#include "engine/xls/BiffText.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

namespace gq::engine::biff {

inline constexpr const char* kWorkbookPart = "Workbook stream";

// The columns of a BIFF8 sheet are 0-255; the model holds up to the xlsx grid, which is what we
// accept from writers that go past IV.
inline constexpr uint32_t kMaxReadCols = limits::kXlsxMaxCols;

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

// The alignment byte of a BIFF4-8 XF: horizontal alignment in bits 0-2, wrapping in bit 3 and the
// vertical alignment from bit 4, two bits wide in BIFF4 (whose bits 6-7 hold the text's orientation)
// and three in BIFF5 and 8 (which add justified and distributed).
inline void DecodeXfAlignment(uint8_t align, int biff, Alignment& out)
{
    out.horizontal = static_cast<HAlign>(std::min<uint8_t>(align & 0x07, 7));
    out.wrap = (align & 0x08) != 0;
    const uint8_t verticalMask = biff <= 4 ? 0x03 : 0x07;
    out.vertical = static_cast<VAlign>(std::min<uint8_t>((align >> 4) & verticalMask, 4));
}

struct PendingSheet {
    std::string name;                 // BIFF8: UTF-16 or Latin-1, decoded at once
    std::span<const uint8_t> rawName; // BIFF5: code-page bytes, decoded once the code page is known
    SheetState state = SheetState::Visible;
    size_t offset = 0;
};

// The start of a record of several cells in one row (MULRK, MULBLANK): its row, first column and
// the number of cells that follow.
struct MultiCellHeader {
    uint32_t row = 0;
    uint32_t col = 0;
    size_t count = 0;
};

// A formula whose result is text is followed by a STRING record with that text.
// The STRING record makes the cell anew, so the formula's cell format is kept here for it.
struct PendingString {
    bool active = false;
    uint32_t row = 0;
    uint32_t col = 0;
    uint32_t formulaIndex = kNoFormula; // the formula the cell keeps
    uint32_t style = 0;                 // and its format, which the STRING record does not repeat
};

inline ErrorCode ErrorFromBiff(uint8_t code);

// The value of a BOOLERR record (Bes, [MS-XLS] 2.5.10: the value byte, then whether it is an
// error code rather than a boolean) into `c`.
inline void ReadBoolErr(const uint8_t* value, Cell& c)
{
    if (value[1] != 0) {
        c.type = CellType::Error;
        c.error = ErrorFromBiff(value[0]);
    } else {
        c.type = CellType::Boolean;
        c.boolean = value[0] != 0;
    }
}

// The cached result of a FORMULA record (FormulaValue, [MS-XLS] 2.5.133: eight bytes at `value`,
// laid out alike in every BIFF version) into `c`: a number, or where the last two bytes are 0xFFFF,
// what byte 0 says: a text that a STRING record brings next (the cell stays blank and `pending`
// waits for it, so that a file without it leaves the formula uncached), a boolean or an error in
// byte 2, or the empty text, whose string index `emptyText()` gives.
template <class EmptyText>
void ReadFormulaValue(const uint8_t* value, const CellHeader& h, const EmptyText& emptyText, Cell& c,
                      PendingString& pending)
{
    if (value[6] != 0xFF || value[7] != 0xFF) {
        c.type = CellType::Number;
        c.number = le::LoadF64(value);
        return;
    }
    switch (value[0]) {
    case 0:
        c.type = CellType::Blank;
        pending = PendingString{true, h.row, h.col, kNoFormula, c.style};
        break;
    case 1:
        c.type = CellType::Boolean;
        c.boolean = value[2] != 0;
        break;
    case 2:
        c.type = CellType::Error;
        c.error = ErrorFromBiff(value[2]);
        break;
    default: // 3: the empty text
        c.type = CellType::String;
        c.text = emptyText();
        break;
    }
}

inline ErrorCode ErrorFromBiff(uint8_t code)
{
    switch (code) {
    case 0x00:
        return ErrorCode::Null;
    case 0x07:
        return ErrorCode::Div0;
    case 0x0F:
        return ErrorCode::Value;
    case 0x17:
        return ErrorCode::Ref;
    case 0x1D:
        return ErrorCode::Name;
    case 0x24:
        return ErrorCode::Num;
    case 0x2B:
        return ErrorCode::GettingData;
    default:
        return ErrorCode::NA;
    }
}

// Appends cells to a worksheet, keeping the row being filled at hand: BIFF writes the cells of a
// row together and in column order, so nearly every cell is an append to the current row. Rows out
// of order are appended too and put in order by the Normalize at the end of the sheet.
class SheetBuilder {
public:
    explicit SheetBuilder(Worksheet& ws) : m_ws(ws) {}

    // BIFF writes the ROW records of a block of up to 32 rows before the block's cells, so a cell's
    // row is usually the next one after the row of the cell before, or one of the last rows added.
    // Finding it there keeps each row once, its cells in the room its ROW record reserved.
    Row& RowAt(uint32_t index)
    {
        if (m_row != nullptr && m_rowIndex == index) {
            return *m_row;
        }
        std::vector<Row>& rows = m_ws.rows;
        size_t found = rows.size();
        if (m_pos + 1 < rows.size() && rows[m_pos + 1].index == index) {
            found = m_pos + 1;
        } else {
            const size_t stop = rows.size() > kLookBack ? rows.size() - kLookBack : 0;
            for (size_t i = rows.size(); i > stop; --i) {
                if (rows[i - 1].index == index) {
                    found = i - 1;
                    break;
                }
            }
        }
        if (found == rows.size()) {
            rows.emplace_back().index = index;
        }
        m_pos = found;
        m_row = &rows[found];
        m_rowIndex = index;
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
    static constexpr size_t kLookBack = 64; // two blocks of rows

    Worksheet& m_ws;
    Row* m_row = nullptr;
    size_t m_pos = 0; // where m_row is in the sheet's rows
    uint32_t m_rowIndex = 0;
};

// The whole .xls file: kept with the workbook as its sheet source. Its members are defined by part
// of the format: XlsReader.cpp (finding the stream, the globals, the SST), XlsReaderStyles.cpp,
// XlsReaderSheet.cpp (the worksheet substream) and XlsReaderOld.cpp (Excel 2.x-4.0).
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

    // Globals and the SST.
    void FindWorkbookStream();
    std::unique_ptr<Workbook> ReadGlobals();
    // The CODEPAGE and DATE1904 records, which every BIFF version writes alike: the code page of
    // the workbook's text and whether its dates count from 1904.
    void ReadBookSetting(uint16_t type, ByteReader& r, bool& date1904);
    void ReadBoundSheet(const Record& rec);
    bool IsDialogOrOtherSheet(size_t offset) const;
    std::string DecodeText(std::span<const uint8_t> raw);
    void EnsureSst(Workbook& workbook);
    void ReadSupBook(const Record& rec);
    void ReadExternName(const Record& rec);
    void ReadExternSheet(const Record& rec);
    void ReadLbl(const Record& rec);

    // Styles.
    void ReadFont(const Record& rec);
    void ReadFormat(const Record& rec);
    void ReadXf(const Record& rec);
    void ReadPalette(const Record& rec);
    void AddXf(const RawXf& xf);
    Font ModelFont(size_t fontIndex) const;
    Color PaletteColor(uint32_t icv) const;
    void BuildStyles(Workbook& workbook);
    uint32_t CellStyle(uint16_t ixfe) const { return ixfe < m_xfMap.size() ? m_xfMap[ixfe] : 0; }

    // The worksheet substream.
    void ReadHLink(std::span<const uint8_t> body, size_t offset, Worksheet& out);
    // `mayFold`: a cell's own formula that repeats the last one kept with its references moved
    // along points at that one, stored once (never an array or shared formula's entry, which the
    // caller goes on to change).
    uint32_t KeepFormula(std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb, uint32_t row, uint32_t col,
                         bool sharedForm, Worksheet& out, bool mayFold = false);
    struct Folding;
    static bool RepeatsMoved(const Folding& folding, std::span<const uint8_t> rgce, std::span<const uint8_t> rgcb,
                             int64_t rows, int64_t cols);

    // The header of a MULRK or MULBLANK record of `entrySize`-byte cells ([MS-XLS] 2.4.175, 2.4.174:
    // row, first column, the cells, last column), with its length, its cell count and its last
    // column checked.
    MultiCellHeader ReadMultiCellHeader(const Record& rec, size_t entrySize, const char* name) const
    {
        const size_t n = rec.body.size();
        if (n < 6 || (n - 6) % entrySize != 0) {
            Fail(std::string("a ") + name + " record has a wrong length", rec.offset);
        }
        if (n == 6) {
            Fail(std::string("a ") + name + " record holds no cells", rec.offset);
        }
        MultiCellHeader h{le::Load16(rec.body.data()), le::Load16(rec.body.data() + 2), (n - 6) / entrySize};
        CheckColumn(h.col + static_cast<uint32_t>(h.count) - 1, rec.offset);
        return h;
    }
    // The row, column and XF index of a cell record whose fixed part takes `minSize` bytes, which
    // are checked here once so that the value after the header can be read without further checks.
    CellHeader ReadCellHeader(const Record& rec, size_t minSize, const char* tooShort) const
    {
        if (rec.body.size() < minSize) {
            Fail(tooShort, rec.offset);
        }
        const CellHeader h = CellHeader::Load(rec.body.data());
        CheckColumn(h.col, rec.offset);
        return h;
    }
    // The same for a record of variable length (LABEL, RSTRING), read through its ByteReader.
    CellHeader ReadCellHeader(ByteReader& r, size_t recordOffset) const
    {
        CellHeader h;
        h.row = r.U16();
        h.col = r.U16();
        h.ixfe = r.U16();
        CheckColumn(h.col, recordOffset);
        return h;
    }
    void CheckColumn(uint32_t col, size_t recordOffset) const
    {
        if (col >= kMaxReadCols) {
            Fail("a cell lies beyond the last column of the grid", recordOffset);
        }
    }

    // Excel 2.x-4.0.
    std::unique_ptr<Workbook> ReadOldGlobals();
    void ReadOldFont(const Record& rec);
    void ReadOldFormat(const Record& rec);
    void ReadOldXf(const Record& rec);
    uint32_t Biff2CellStyle(Workbook& workbook, const uint8_t* rgbAttr);
    bool ReadBiff2Cell(Workbook& workbook, const Record& rec, SheetBuilder& builder, std::string& text,
                       PendingString& pending, Worksheet& out);

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
    formula::Formula m_decodedFormula; // the formula a cell's expression is decoded into first
    // The last formula entry a cell's own expression made in a column, which the cells below it
    // may repeat moved along (KeepFormula): its sheet (nullptr for none), index, cell and
    // expression. Kept per column, so that columns filled side by side fold each into its own.
    struct Folding {
        const Worksheet* sheet = nullptr;
        uint32_t entry = 0;
        uint32_t row = 0;
        uint32_t col = 0;
        std::vector<uint8_t> rgce;
        std::vector<uint8_t> rgcb;
        ReferenceLayout layout;
    };
    std::vector<Folding> m_foldings;       // per column, up to the last BIFF8 column
    ReferenceLayout m_decodedLayout;       // where the references of the expression decoded last lie
    FormulaGlobals m_formulaGlobals;       // sheets, other workbooks and names formulas refer to
    std::vector<uint8_t> m_widened;        // a BIFF2-4 expression in BIFF5's layout (WidenOldExpression)
    std::vector<size_t> m_sheetOffsets;    // per listed worksheet
    std::vector<size_t> m_sheetBoundIndex; // per listed worksheet, its place among all BoundSheet records
    size_t m_sstOffset = SIZE_MAX;
    bool m_decrypted = false; // the stream was decrypted with the default password
    bool m_sstLoaded = false;
    std::vector<uint32_t> m_sst;               // SST index -> model string index
    std::vector<std::string> m_oldFormats;     // BIFF2-4: FORMAT records in order, their index
    std::array<uint32_t, 256> m_biff2Styles{}; // BIFF2: cell attribute byte 1 -> model format + 1
    uint16_t m_biff2Ixfe = 0;                  // BIFF2: the XF index an IXFE record gave
};

} // namespace gq::engine::biff
