// BIFF record streams: the bounds-checked record reader, Continue reassembly and the string
// readers that know where a Continue record began ([MS-XLS] 2.1.4, 2.5.294).
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/io/ByteReader.h"
#include "engine/io/LittleEndian.h"
#include "engine/xls/BiffText.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace gq::engine::biff {

// Record types the reader and the writer know, named as [MS-XLS] 2.3 names them; declared here
// once for both.
enum RecordType : uint16_t {
    // BIFF2 records (Excel 2.x), whose cells carry three attribute bytes instead of an XF index.
    kDimensions2 = 0x0000,
    kBlank2 = 0x0001,
    kInteger2 = 0x0002,
    kNumber2 = 0x0003,
    kLabel2 = 0x0004,
    kBoolErr2 = 0x0005,
    kString2 = 0x0007,
    kRow2 = 0x0008,
    kColWidth2 = 0x0024,
    kIxfe2 = 0x0044,
    // BIFF3-4 records that BIFF5 replaced.
    kFont3 = 0x0231,
    kXf3 = 0x0243,
    kXf4 = 0x0443,

    kFormula = 0x0006,
    kEof = 0x000A,
    kCalcCount = 0x000C,
    kPrecision = 0x000E,
    kFormat2 = 0x001E, // BIFF2-3 FORMAT without an index
    kDate1904 = 0x0022,
    kDefaultRowHeight2 = 0x0025,
    kFilePass = 0x002F,
    kFont = 0x0031,
    kContinue = 0x003C,
    kWindow1 = 0x003D,
    kPane = 0x0041,
    kCodePage = 0x0042,
    kDefColWidth = 0x0055,
    kColInfo = 0x007D,
    kGuts = 0x0080,
    kWsBool = 0x0081,
    kBoundSheet8 = 0x0085,
    kPalette = 0x0092,
    kStandardWidth = 0x0099,
    kMulRk = 0x00BD,
    kMulBlank = 0x00BE,
    kMms = 0x00C1,
    kRString = 0x00D6,
    kBookBool = 0x00DA,
    kXf = 0x00E0,
    kInterfaceHdr = 0x00E1,
    kInterfaceEnd = 0x00E2,
    kMergeCells = 0x00E5,
    kSst = 0x00FC,
    kLabelSst = 0x00FD,
    kExtSst = 0x00FF,
    kRrdHead = 0x0138,
    kUsrExcl = 0x0194,
    kFileLock = 0x0195,
    kRrdInfo = 0x0196,
    kHLink = 0x01B8,
    kDimensions = 0x0200,
    kBlank = 0x0201,
    kNumber = 0x0203,
    kLabel = 0x0204,
    kBoolErr = 0x0205,
    kFormulaBiff3 = 0x0206,
    kString = 0x0207,
    kRow = 0x0208,
    kBof2 = 0x0009,
    kBof3 = 0x0209,
    kBof4 = 0x0409,
    kBof = 0x0809,
    kWindow2 = 0x023E,
    kRk = 0x027E,
    kStyle = 0x0293,
    kDefaultRowHeight = 0x0225,
    kFormulaBiff4 = 0x0406,
    kFormat = 0x041E,
    kHLinkTooltip = 0x0800,
    // Formulas and what they refer to outside their cell.
    kExternSheet = 0x0017,
    kLbl = 0x0018,
    kExternName = 0x0023,
    kSupBook = 0x01AE,
    kArray = 0x0221,
    kTable = 0x0236,
    kShrFmla = 0x04BC,
};

// BOF fields, [MS-XLS] 2.4.21: the version of the stream and the kind of substream it opens.
constexpr uint16_t kBofVersionBiff8 = 0x0600;
constexpr uint16_t kBofVersionBiff5 = 0x0500;
constexpr uint16_t kBofGlobals = 0x0005;
constexpr uint16_t kBofWorksheet = 0x0010;

// The start of every cell record ([MS-XLS] 2.5.13 Cell): row, column and XF index, six bytes after
// the record header. The reader and the writer both go through this one layout. BIFF2 cells put
// three attribute bytes where the XF index is; their readers ignore `ixfe`.
struct CellHeader {
    uint32_t row = 0;
    uint32_t col = 0;
    uint16_t ixfe = 0;

    static constexpr size_t kSize = 6;
    static CellHeader Load(const uint8_t* p) { return CellHeader{le::Load16(p), le::Load16(p + 2), le::Load16(p + 4)}; }
};

// Writes at `p` a cell record's header (its type and the length of a body of the cell header and
// `valueSize` bytes) and its cell header; gives where the value goes.
inline uint8_t* PutCellRecord(uint8_t* p, uint16_t type, const CellHeader& cell, size_t valueSize)
{
    le::Store16(p, type);
    le::Store16(p + 2, static_cast<uint16_t>(CellHeader::kSize + valueSize));
    le::Store16(p + 4, static_cast<uint16_t>(cell.row));
    le::Store16(p + 6, static_cast<uint16_t>(cell.col));
    le::Store16(p + 8, cell.ixfe);
    return p + 4 + CellHeader::kSize;
}

// Writes at `p` the header of a record of `count` adjacent cells of `cellSize` bytes each
// (MULRK, MULBLANK, [MS-XLS] 2.4.175 and 2.4.174): its type and length, the row and the first
// column; the cells and the last column follow. Gives where the first cell goes.
inline uint8_t* PutMultiCellRecord(uint8_t* p, uint16_t type, uint32_t row, uint32_t firstCol, size_t count,
                                   size_t cellSize)
{
    le::Store16(p, type);
    le::Store16(p + 2, static_cast<uint16_t>(4 + cellSize * count + 2));
    le::Store16(p + 4, static_cast<uint16_t>(row));
    le::Store16(p + 6, static_cast<uint16_t>(firstCol));
    return p + 8;
}

struct Record {
    uint16_t type = 0;
    std::span<const uint8_t> body;
    size_t offset = 0; // of the record header in the stream
};

// Walks the records of one stream. A record's length is checked against the 8,224-byte limit
// and against the bytes left in the stream before its body is handed out.
class RecordReader {
public:
    RecordReader(std::span<const uint8_t> stream, const std::string* file, const char* part, size_t start = 0)
        : m_stream(stream), m_file(file), m_part(part), m_pos(start)
    {
    }

    // The next record, or false at the end of the stream. Throws FormatError for a record that
    // runs past the end or is too long.
    bool Next(Record& rec)
    {
        if (m_pos >= m_stream.size()) {
            return false;
        }
        if (m_stream.size() - m_pos < 4) {
            // A few stray bytes after the last record are padding, not a record.
            m_pos = m_stream.size();
            return false;
        }
        const uint8_t* p = m_stream.data() + m_pos;
        uint16_t type = le::Load16(p);
        uint16_t len = le::Load16(p + 2);
        if (len > limits::kMaxBiffRecordBytes) {
            Fail("a record is longer than the 8,224 bytes the format allows", m_pos);
        }
        if (len > m_stream.size() - m_pos - 4) {
            Fail("a record runs past the end of the stream", m_pos);
        }
        rec.type = type;
        rec.offset = m_pos;
        rec.body = m_stream.subspan(m_pos + 4, len);
        m_pos += 4 + static_cast<size_t>(len);
        return true;
    }

    // The type of the next record without moving, or 0xFFFF at the end.
    uint16_t PeekType() const
    {
        if (m_stream.size() - m_pos < 4 || m_pos >= m_stream.size()) {
            return 0xFFFF;
        }
        return le::Load16(m_stream.data() + m_pos);
    }

    size_t Pos() const { return m_pos; }
    void Seek(size_t pos) { m_pos = pos; }
    std::span<const uint8_t> Stream() const { return m_stream; }
    const std::string* File() const { return m_file; }
    const char* Part() const { return m_part; }

    [[noreturn]] void Fail(const std::string& problem, size_t offset) const
    {
        throw FormatError(m_file != nullptr ? *m_file : std::string(), problem, m_part, static_cast<int64_t>(offset));
    }

private:
    std::span<const uint8_t> m_stream;
    const std::string* m_file;
    const char* m_part;
    size_t m_pos;
};

// A record with the bodies of the Continue records after it appended, and where each of them
// began: strings split over a Continue repeat their option byte there ([MS-XLS] 2.5.293).
struct ContinuedRecord {
    std::vector<uint8_t> bytes;
    std::vector<size_t> boundaries; // offsets in `bytes` where a Continue body begins
    size_t offset = 0;              // of the first record in the stream

    void Assemble(RecordReader& reader, const Record& first)
    {
        bytes.assign(first.body.begin(), first.body.end());
        boundaries.clear();
        offset = first.offset;
        Record next;
        while (reader.PeekType() == kContinue && reader.Next(next)) {
            boundaries.push_back(bytes.size());
            bytes.insert(bytes.end(), next.body.begin(), next.body.end());
        }
    }
};

// Reads strings from a (possibly continued) record body.
class StringReader {
public:
    StringReader(ByteReader& reader, const std::vector<size_t>* boundaries) : m_r(reader), m_bounds(boundaries) {}

    // `cch` characters of a BIFF8 string whose option byte said `highByte`; at each Continue
    // boundary inside the characters a fresh option byte says how the rest is stored.
    void Chars(uint32_t cch, bool highByte, std::string& out)
    {
        while (cch > 0) {
            size_t pos = m_r.Pos();
            size_t boundary = BoundaryAtOrAfter(pos);
            if (boundary == pos && boundary < m_r.Size()) {
                // The characters go on in a Continue record, which repeats the option byte.
                highByte = (m_r.U8() & 0x01) != 0;
                continue;
            }
            size_t width = highByte ? 2 : 1;
            size_t take = std::min<size_t>((boundary - pos) / width, cch);
            if (take == 0) {
                // A character split across records, or text running past the record.
                m_r.Fail("a string runs past the end of its record");
            }
            auto bytes = m_r.Bytes(take * width);
            if (highByte) {
                AppendUtf16(bytes, out);
            } else {
                AppendLatin1(bytes, out);
            }
            cch -= static_cast<uint32_t>(take);
        }
    }

    // XLUnicodeString ([MS-XLS] 2.5.294): a 16-bit count, an option byte, the characters.
    void XLUnicodeString(std::string& out)
    {
        uint16_t cch = m_r.U16();
        uint8_t flags = m_r.U8();
        Chars(cch, (flags & 0x01) != 0, out);
    }
    // ShortXLUnicodeString ([MS-XLS] 2.5.240): the count is 8 bits.
    void ShortXLUnicodeString(std::string& out)
    {
        uint8_t cch = m_r.U8();
        uint8_t flags = m_r.U8();
        Chars(cch, (flags & 0x01) != 0, out);
    }

private:
    // The first Continue boundary at or after `pos`, or the end of the data. The reader only
    // moves forward, so the search resumes where it last stopped.
    size_t BoundaryAtOrAfter(size_t pos)
    {
        if (m_bounds == nullptr) {
            return m_r.Size();
        }
        while (m_next < m_bounds->size() && (*m_bounds)[m_next] < pos) {
            ++m_next;
        }
        return m_next < m_bounds->size() ? std::min((*m_bounds)[m_next], m_r.Size()) : m_r.Size();
    }

    ByteReader& m_r;
    const std::vector<size_t>* m_bounds;
    size_t m_next = 0;
};

} // namespace gq::engine::biff
