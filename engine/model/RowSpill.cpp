// The spill file and the compact form of spilled rows: varint-coded rows and cells, a chunk at a time.
// SPDX-License-Identifier: Apache-2.0
#include "engine/model/RowSpill.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/model/Workbook.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace gq::engine {

namespace {

std::string TempFolder()
{
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::temp_directory_path(ec);
    return ec ? std::string("/tmp") : folder.string();
}

[[noreturn]] void SpillFailed(const char* what, int error)
{
    throw IoError(TempFolder(), std::string("the temporary file that holds the rows of the workbook being built could "
                                            "not be ") +
                                    what + ": " + std::strerror(error));
}

// Row flags of the spilled form.
constexpr uint8_t kHidden = 0x01;
constexpr uint8_t kCollapsed = 0x02;
constexpr uint8_t kCustomHeight = 0x04;
constexpr uint8_t kHasHeight = 0x08;
constexpr uint8_t kHasStyle = 0x10;
// Cell flags beside the cell type in the low three bits.
constexpr uint8_t kFormulaFlag = 0x08;
constexpr uint8_t kFormulaIndex = 0x10;
constexpr uint8_t kTypeMask = 0x07;

void PutVarint(std::vector<uint8_t>& out, uint64_t value)
{
    while (value >= 0x80) {
        out.push_back(static_cast<uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<uint8_t>(value));
}

template <class T>
void PutRaw(std::vector<uint8_t>& out, const T& value)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + sizeof value);
}

// Reads the spilled form back. The file is the program's own, but a short or damaged read still
// ends in an error rather than in reading past the buffer.
class SpillReader {
public:
    explicit SpillReader(std::span<const uint8_t> bytes) : m_bytes(bytes) {}

    uint64_t Varint()
    {
        uint64_t value = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const uint8_t b = Byte();
            value |= uint64_t{b & 0x7Fu} << shift;
            if ((b & 0x80) == 0) {
                return value;
            }
        }
        Damaged();
    }
    uint32_t Varint32()
    {
        const uint64_t value = Varint();
        if (value > UINT32_MAX) {
            Damaged();
        }
        return static_cast<uint32_t>(value);
    }
    uint8_t Byte()
    {
        if (m_pos >= m_bytes.size()) {
            Damaged();
        }
        return m_bytes[m_pos++];
    }
    template <class T>
    T Raw()
    {
        T value;
        if (m_bytes.size() - m_pos < sizeof value) {
            Damaged();
        }
        std::memcpy(&value, m_bytes.data() + m_pos, sizeof value);
        m_pos += sizeof value;
        return value;
    }

    [[noreturn]] static void Damaged()
    {
        throw IoError(TempFolder(), "the temporary file that holds the rows of the workbook being built was damaged");
    }

private:
    std::span<const uint8_t> m_bytes;
    size_t m_pos = 0;
};

void EncodeRow(const Row& row, std::vector<uint8_t>& out)
{
    PutVarint(out, row.index);
    const bool hasHeight = row.height != 0;
    out.push_back(static_cast<uint8_t>((row.hidden ? kHidden : 0) | (row.collapsed ? kCollapsed : 0) |
                                       (row.customHeight ? kCustomHeight : 0) | (hasHeight ? kHasHeight : 0) |
                                       (row.style != 0 ? kHasStyle : 0)));
    out.push_back(row.outlineLevel);
    if (hasHeight) {
        PutRaw(out, row.height);
    }
    if (row.style != 0) {
        PutVarint(out, row.style);
    }
    PutVarint(out, row.cells.size());
    uint32_t previous = 0;
    for (const Cell& cell : row.cells) {
        PutVarint(out, cell.col - previous);
        previous = cell.col;
        PutVarint(out, cell.style);
        const bool hasIndex = cell.formulaIndex != kNoFormula;
        out.push_back(static_cast<uint8_t>(static_cast<uint8_t>(cell.type) | (cell.formula ? kFormulaFlag : 0) |
                                           (hasIndex ? kFormulaIndex : 0)));
        if (hasIndex) {
            PutVarint(out, cell.formulaIndex);
        }
        switch (cell.type) {
        case CellType::Blank:
            break;
        case CellType::Number:
            PutRaw(out, cell.number);
            break;
        case CellType::String:
            PutVarint(out, cell.text);
            break;
        case CellType::Boolean:
            out.push_back(cell.boolean ? 1 : 0);
            break;
        case CellType::Error:
            out.push_back(static_cast<uint8_t>(cell.error));
            break;
        }
    }
}

void DecodeRow(SpillReader& in, Row& row)
{
    row.index = in.Varint32();
    const uint8_t flags = in.Byte();
    row.hidden = (flags & kHidden) != 0;
    row.collapsed = (flags & kCollapsed) != 0;
    row.customHeight = (flags & kCustomHeight) != 0;
    row.outlineLevel = in.Byte();
    row.height = (flags & kHasHeight) != 0 ? in.Raw<float>() : 0.0F;
    row.style = (flags & kHasStyle) != 0 ? in.Varint32() : 0;
    const uint64_t count = in.Varint();
    if (count > SpilledRows::kChunkCells * 4 + limits::kXlsxMaxCols) {
        SpillReader::Damaged();
    }
    row.cells.resize(static_cast<size_t>(count));
    uint32_t col = 0;
    for (Cell& cell : row.cells) {
        col += in.Varint32();
        cell = Cell();
        cell.col = col;
        cell.style = in.Varint32();
        const uint8_t kind = in.Byte();
        if ((kind & kTypeMask) > static_cast<uint8_t>(CellType::Error)) {
            SpillReader::Damaged();
        }
        cell.type = static_cast<CellType>(kind & kTypeMask);
        cell.formula = (kind & kFormulaFlag) != 0;
        cell.formulaIndex = (kind & kFormulaIndex) != 0 ? in.Varint32() : kNoFormula;
        switch (cell.type) {
        case CellType::Blank:
            break;
        case CellType::Number:
            cell.number = in.Raw<double>();
            break;
        case CellType::String:
            cell.text = in.Varint32();
            break;
        case CellType::Boolean:
            cell.boolean = in.Byte() != 0;
            break;
        case CellType::Error:
            cell.error = static_cast<ErrorCode>(in.Byte());
            break;
        }
    }
}

} // namespace

SpillFile::SpillFile(const std::string& preferred)
{
    if (!preferred.empty()) {
        m_fd = ::open(preferred.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    }
    const std::string folder = TempFolder();
    if (m_fd < 0) {
        m_fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    }
    if (m_fd < 0) {
        std::string name = folder + "/.gridquilt-rows-XXXXXX";
        m_fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (m_fd < 0) {
            SpillFailed("created", errno);
        }
        ::unlink(name.c_str());
    }
}

SpillFile::~SpillFile()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

uint64_t SpillFile::Append(std::span<const uint8_t> bytes)
{
    const uint64_t offset = m_size;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(m_fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(m_size + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            SpillFailed("written", errno);
        }
        done += static_cast<size_t>(n);
    }
    m_size += bytes.size();
    return offset;
}

void SpillFile::Read(uint64_t offset, std::span<uint8_t> out) const
{
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(m_fd, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            SpillFailed("read", n < 0 ? errno : EIO);
        }
        done += static_cast<size_t>(n);
    }
}

bool SpilledRows::Spill(const std::shared_ptr<SpillFile>& file, std::span<const Row> rows)
{
    if (rows.empty()) {
        return true;
    }
    if (m_file && m_file != file) {
        return false;
    }
    // The order is checked first, so that a refusal leaves nothing half spilled.
    for (size_t i = 0; i < rows.size(); ++i) {
        if ((i > 0 && rows[i - 1].index >= rows[i].index) ||
            (i == 0 && !m_chunks.empty() && rows[0].index <= m_summary.lastRow)) {
            return false;
        }
        const auto& cells = rows[i].cells;
        for (size_t j = 1; j < cells.size(); ++j) {
            if (cells[j - 1].col >= cells[j].col) {
                return false;
            }
        }
    }
    m_file = file;
    std::vector<uint8_t> bytes;
    size_t begin = 0;
    while (begin < rows.size()) {
        size_t end = begin;
        size_t cells = 0;
        while (end < rows.size() && (end == begin || cells + rows[end].cells.size() <= kChunkCells)) {
            cells += rows[end].cells.size();
            ++end;
        }
        bytes.clear();
        for (size_t i = begin; i < end; ++i) {
            const Row& row = rows[i];
            EncodeRow(row, bytes);
            m_summary.cells += row.cells.size();
            m_summary.outlineLevel = std::max(m_summary.outlineLevel, row.outlineLevel);
            if (!row.cells.empty()) {
                ExtendRange(m_summary.cellBox,
                            CellRange{row.index, row.cells.front().col, row.index, row.cells.back().col});
            }
            // The used range's rule, as Worksheet::UsedRange applies it to rows in memory.
            const auto used = [](const Cell& c) { return IsUsedCell(c); };
            const auto first = std::find_if(row.cells.begin(), row.cells.end(), used);
            if (first != row.cells.end()) {
                const auto last = std::find_if(row.cells.rbegin(), row.cells.rend(), used);
                ExtendRange(m_summary.usedBox, CellRange{row.index, first->col, row.index, last->col});
            }
            for (const Cell& c : row.cells) {
                if (c.formulaIndex != kNoFormula) {
                    m_summary.formulas = true;
                    m_summary.blankFormulas = m_summary.blankFormulas || c.type == CellType::Blank;
                }
            }
        }
        if (bytes.size() > UINT32_MAX) {
            throw LimitError("a row of the workbook being built is too large to set aside");
        }
        SpilledChunk chunk;
        chunk.offset = m_file->Append(bytes);
        chunk.bytes = static_cast<uint32_t>(bytes.size());
        chunk.rowCount = static_cast<uint32_t>(end - begin);
        m_chunks.push_back(chunk);
        m_summary.rows += chunk.rowCount;
        begin = end;
    }
    const Row& last = rows.back();
    m_summary.lastRow = last.index;
    m_summary.lastRowFirstCol = last.cells.empty() ? 0 : last.cells.front().col;
    return true;
}

void SpilledRows::ReadChunk(size_t index, std::vector<Row>& out) const
{
    const SpilledChunk& chunk = m_chunks.at(index);
    std::vector<uint8_t> bytes(chunk.bytes);
    m_file->Read(chunk.offset, bytes);
    SpillReader in(bytes);
    out.resize(chunk.rowCount);
    for (Row& row : out) {
        DecodeRow(in, row);
    }
}

void SpilledRows::RewriteChunk(size_t index, std::span<const Row> rows)
{
    SpilledChunk& chunk = m_chunks.at(index);
    std::vector<uint8_t> bytes;
    for (const Row& row : rows) {
        EncodeRow(row, bytes);
    }
    if (bytes.size() > UINT32_MAX) {
        throw LimitError("a row of the workbook being built is too large to set aside");
    }
    chunk.offset = m_file->Append(bytes);
    chunk.bytes = static_cast<uint32_t>(bytes.size());
    chunk.rowCount = static_cast<uint32_t>(rows.size());
}

void SpilledRows::Clear()
{
    m_chunks.clear();
    m_summary = SpillSummary();
    m_file.reset();
}

} // namespace gq::engine
