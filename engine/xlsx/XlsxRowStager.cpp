// The row stager: worksheet XML of finished rows written as they are spilled, deflated on a thread
// of its own into a temporary file, and handed to the save as pre-deflated pieces.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xlsx/XlsxRowStager.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/StageTimes.h"
#include "engine/xlsx/XlsxWriterXml.h"
#include "engine/zip/BlockDeflater.h"

#include <zlib.h>

#include <algorithm>
#include <unordered_map>

namespace gq::engine {

namespace {

// Blocks waiting for the thread: enough to keep it busy while the caller writes the next one, few
// enough that memory holds a few megabytes whatever the size of the sheet.
constexpr size_t kMaxQueuedBlocks = 3;

// The fewest cells of a sheet staged in any order, about 1 MiB of XML: a smaller part is one block,
// which the save deflates with libdeflate in one call, about twice as fast as the streamed zlib the
// stager needs (W1, 600 sheets of 2,000 cells, staged: 0.40 s of CPU time became 0.55 s). A sheet
// this large either spills rows as it is pasted or holds them when it is left.
constexpr size_t kMinStagedCells = SpilledRows::kChunkCells / 2;

} // namespace

XlsxRowStager::XlsxRowStager(const Workbook& workbook, Options options)
    : m_options(std::move(options)), m_tables(std::make_unique<xlsxout::OutputTables>(workbook)), m_sink(*this)
{
}

XlsxRowStager::~XlsxRowStager()
{
    StopWorker();
}

void XlsxRowStager::StopWorker()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool XlsxRowStager::Open() const
{
    return !m_abandoned && !m_closed && !m_sheetEnded && m_tables != nullptr;
}

void XlsxRowStager::EndSheet()
{
    if (m_sheets.empty()) {
        return;
    }
    SubmitBlock();
    // In the writer's order the save primes what it writes after a sheet's staged rows with their
    // last 32 KiB. In any order every staged sheet but the last is left with nothing to prime it
    // (hundreds of sheets would otherwise hold 32 KiB each until the save), and takes no more rows.
    if (m_anyOrder) {
        m_sheetEnded = true;
    } else {
        m_sheets.back().window = std::move(m_window);
    }
    m_window.clear();
}

void XlsxRowStager::BeginInAnyOrder(const Worksheet& sheet)
{
    EndSheet();
    m_waiting = nullptr;
    m_sheetEnded = false;
    StagedSheet& staged = m_sheets.emplace_back();
    staged.sheet = &sheet;
    m_staged.insert(&sheet);
}

void XlsxRowStager::Follow(Workbook& workbook, size_t index, const Worksheet& sheet) noexcept
{
    if (m_anyOrder) {
        FollowInAnyOrder(workbook, index, sheet);
        return;
    }
    try {
        if (!Open()) {
            return;
        }
        StageTimer timer(Stage::Write);
        if (!m_sheets.empty() && m_sheets.back().sheet == &sheet) {
            if (index + 1 != m_sheets.size()) {
                m_abandoned = true; // a sheet was put before it: the writer's order is no longer ours
                return;
            }
            CatchUp(sheet, workbook.SheetName(index));
            return;
        }
        // Only the sheet the writer writes next: every sheet before it must be one staged, in order.
        if (index != m_sheets.size()) {
            return;
        }
        for (size_t i = 0; i < index; ++i) {
            if (!workbook.IsSheetLoaded(i) || &workbook.SheetKeepingSpill(i) != m_sheets[i].sheet) {
                return;
            }
        }
        if (!m_sheets.empty()) {
            // The sheet before is finished only when all its rows are staged: rows it still holds
            // would be written after it at save, and their texts and formats come first.
            const StagedSheet& last = m_sheets.back();
            if (!last.sheet->rows.empty() || last.chunkOffsets.size() != last.sheet->spilled.ChunkCount()) {
                return;
            }
            EndSheet();
        }
        StagedSheet& staged = m_sheets.emplace_back();
        staged.sheet = &sheet;
        m_staged.insert(&sheet);
        // The head names the formats of the column settings before the first cell does.
        staged.columnFormats = xlsxout::HeadColumnFormats(sheet);
        m_tables->BeginSheet(workbook.SheetName(index));
        for (const uint32_t format : staged.columnFormats) {
            m_tables->MapXf(format, 0, 0);
        }
        CatchUp(sheet, workbook.SheetName(index));
    } catch (...) {
        m_abandoned = true;
    }
}

void XlsxRowStager::FollowInAnyOrder(Workbook& workbook, size_t index, const Worksheet& sheet) noexcept
{
    try {
        if (m_abandoned || m_closed || m_tables == nullptr) {
            return;
        }
        StageTimer timer(Stage::Write);
        m_anyOrder = true;
        if (!m_sheets.empty() && m_sheets.back().sheet == &sheet) {
            if (!m_sheetEnded) {
                CatchUp(sheet, workbook.SheetName(index));
            }
            return;
        }
        // A sheet staged before and left since keeps what it staged: its staged blocks lie behind
        // those of the sheets after it, and the rows it gained meanwhile are written at save.
        if (m_staged.count(&sheet) != 0) {
            return;
        }
        // A small sheet is left to the save, unless its rows turn out many as they are spilled.
        if (sheet.spilled.Empty() && sheet.CellCount() < kMinStagedCells) {
            EndSheet();
            m_waiting = &sheet;
            return;
        }
        BeginInAnyOrder(sheet);
        CatchUp(sheet, workbook.SheetName(index));
    } catch (...) {
        m_abandoned = true;
    }
}

void XlsxRowStager::RowsSpilled(Workbook& workbook, size_t index, const Worksheet& sheet, size_t firstChunk,
                                std::span<const Row> rows) noexcept
{
    try {
        // A sheet followed while it was small begins with its first spill when that spill holds
        // enough cells (a long paste setting its rows aside); the rows spilled are all it has.
        if (m_anyOrder && m_waiting == &sheet && firstChunk == 0 && sheet.spilled.Summary().cells >= kMinStagedCells &&
            !m_abandoned && !m_closed && m_tables != nullptr) {
            BeginInAnyOrder(sheet);
        }
        if (!Open() || m_sheets.empty() || m_sheets.back().sheet != &sheet) {
            return;
        }
        StageTimer timer(Stage::Write);
        StagedSheet& staged = m_sheets.back();
        const bool inStep =
            staged.chunkOffsets.size() == firstChunk &&
            (firstChunk == 0 || sheet.spilled.Chunk(firstChunk - 1).offset == staged.chunkOffsets.back());
        if (m_anyOrder && !inStep) {
            // The sheet keeps what it staged; the save checks that those rows are still its first.
            m_sheetEnded = true;
            return;
        }
        if (!m_anyOrder && (index + 1 != m_sheets.size() || !inStep)) {
            m_abandoned = true;
            return;
        }
        Stage(workbook.SheetName(index), rows);
        if (Open()) {
            for (size_t i = firstChunk; i < sheet.spilled.ChunkCount(); ++i) {
                staged.chunkOffsets.push_back(sheet.spilled.Chunk(i).offset);
            }
        }
    } catch (...) {
        m_abandoned = true;
    }
}

void XlsxRowStager::CatchUp(const Worksheet& sheet, const std::string& name)
{
    StagedSheet& staged = m_sheets.back();
    const size_t have = staged.chunkOffsets.size();
    if (have > sheet.spilled.ChunkCount() ||
        (have > 0 && sheet.spilled.Chunk(have - 1).offset != staged.chunkOffsets.back())) {
        m_abandoned = true; // the staged rows came back into memory, or were changed
        return;
    }
    std::vector<Row> batch;
    for (size_t i = have; i < sheet.spilled.ChunkCount(); ++i) {
        sheet.spilled.ReadChunk(i, batch);
        Stage(name, batch);
        if (!Open()) {
            return;
        }
        staged.chunkOffsets.push_back(sheet.spilled.Chunk(i).offset);
    }
}

void XlsxRowStager::Stage(const std::string& name, std::span<const Row> rows)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_failure) {
            m_closed = true; // the save reports the failure
            return;
        }
    }
    // Rows the save must look at again are not staged, nor anything after them: formula cells,
    // whose formulas are settled at save, and what lies outside the grid, which the save refuses.
    for (const Row& row : rows) {
        if (row.index >= limits::kXlsxMaxRows || std::any_of(row.cells.begin(), row.cells.end(), [](const Cell& c) {
                return c.formulaIndex != kNoFormula || c.col >= limits::kXlsxMaxCols;
            })) {
            m_sheetEnded = true;
            return;
        }
    }
    m_tables->BeginSheet(name);
    xlsxout::PartStream out(m_sink);
    // A failure here leaves the tables part way through the rows: nothing staged is usable then.
    try {
        xlsxout::WriteStagedRows(out, rows, *m_tables);
        out.Flush();
    } catch (...) {
        m_abandoned = true;
        throw;
    }
}

void XlsxRowStager::BlockSink::Write(const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    m_written += size;
    m_owner.m_sheets.back().size += size;
    while (size > 0) {
        const size_t take = std::min(size, ZipWriter::kBlockBytes - m_owner.m_block.size());
        m_owner.m_block.insert(m_owner.m_block.end(), bytes, bytes + take);
        bytes += take;
        size -= take;
        if (m_owner.m_block.size() == ZipWriter::kBlockBytes) {
            m_owner.SubmitBlock();
        }
    }
}

void XlsxRowStager::SubmitBlock()
{
    if (m_block.empty()) {
        return;
    }
    // The thread starts with the first block: most merges stage nothing (small sheets are left to
    // the save), and an idle thread would be made and joined for each of them.
    if (!m_thread.joinable()) {
        m_thread = std::thread([this] { Worker(); });
    }
    Job job;
    job.dictionary = m_window;
    SlideWindow(m_window, m_block);
    job.input = std::move(m_block);
    job.into = &m_sheets.back().deflated;
    m_block.clear();
    m_block.reserve(ZipWriter::kBlockBytes);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_failure || m_stop || m_jobs.size() < kMaxQueuedBlocks; });
    if (m_failure || m_stop) {
        m_closed = true;
        return;
    }
    m_jobs.push_back(std::move(job));
    lock.unlock();
    m_changed.notify_all();
}

void XlsxRowStager::Worker()
{
    // Made with the first block: a compressor that cannot start fails that block, and the save.
    std::unique_ptr<BlockDeflater> deflater;
    std::vector<uint8_t> output;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || !m_jobs.empty(); });
        if (m_stop) {
            return;
        }
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        m_busy = true;
        lock.unlock();
        m_changed.notify_all();
        std::exception_ptr failure;
        try {
            StageTimer timer(Stage::Compress);
            if (m_options.beforeBlock) {
                m_options.beforeBlock();
            }
            if (!deflater) {
                deflater = std::make_unique<BlockDeflater>(m_options.level);
            }
            const size_t size = deflater->Deflate(job.input, job.dictionary, output);
            if (!m_file) {
                m_file = std::make_unique<SpillFile>(m_options.folder);
            }
            const uint64_t offset = m_file->Append(std::span<const uint8_t>(output.data(), size));
            Deflated& into = *job.into;
            if (into.compressedSize == 0) {
                into.fileOffset = offset;
            }
            into.compressedSize += size;
            const auto crc = static_cast<uint32_t>(crc32_z(0, job.input.data(), job.input.size()));
            into.crc = static_cast<uint32_t>(crc32_combine(into.crc, crc, static_cast<z_off_t>(job.input.size())));
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        m_busy = false;
        if (failure) {
            m_failure = failure;
            m_jobs.clear();
        }
        m_changed.notify_all();
    }
}

std::vector<xlsxout::StagedRows> XlsxRowStager::Finish(Workbook& workbook, int level)
{
    // A sheet whose staging stopped at a formula cell keeps what it staged before it.
    if (!m_abandoned && !m_sheets.empty()) {
        SubmitBlock();
    }
    if (!m_sheets.empty()) {
        m_sheets.back().window = std::move(m_window);
        m_window.clear();
    }
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_failure || (m_jobs.empty() && !m_busy); });
    }
    StopWorker();
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
    std::vector<xlsxout::StagedRows> out;
    if (m_abandoned || m_options.level != level) {
        return out;
    }
    if (m_anyOrder) {
        return FinishInAnyOrder(workbook);
    }
    if (m_sheets.size() > workbook.SheetCount()) {
        return out;
    }
    // The sheets must be the ones staged, in the same places, with the same rows spilled and the
    // same column formats; sheets before the last one must hold nothing more.
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        const StagedSheet& staged = m_sheets[i];
        if (!workbook.IsSheetLoaded(i) || &workbook.SheetKeepingSpill(i) != staged.sheet) {
            return out;
        }
        const Worksheet& sheet = *staged.sheet;
        const size_t chunks = staged.chunkOffsets.size();
        if (chunks > sheet.spilled.ChunkCount() ||
            (i + 1 < m_sheets.size() && (chunks != sheet.spilled.ChunkCount() || !sheet.rows.empty())) ||
            xlsxout::HeadColumnFormats(sheet) != staged.columnFormats) {
            return out;
        }
        for (size_t c = 0; c < chunks; ++c) {
            if (sheet.spilled.Chunk(c).offset != staged.chunkOffsets[c]) {
                return out;
            }
        }
    }
    for (const StagedSheet& staged : m_sheets) {
        xlsxout::StagedRows rows;
        rows.piece.crc = staged.deflated.crc;
        rows.piece.size = staged.size;
        rows.piece.compressedSize = staged.deflated.compressedSize;
        rows.piece.window = staged.window;
        rows.chunks = staged.chunkOffsets.size();
        const uint64_t at = staged.deflated.fileOffset;
        rows.read = [this, at](uint64_t offset, std::span<uint8_t> bytes) { m_file->Read(at + offset, bytes); };
        out.push_back(std::move(rows));
    }
    return out;
}

std::vector<xlsxout::StagedRows> XlsxRowStager::FinishInAnyOrder(Workbook& workbook)
{
    // Where each staged sheet is now: sheets may have been added before it since.
    std::unordered_map<const Worksheet*, size_t> places;
    places.reserve(workbook.SheetCount());
    for (size_t i = 0; i < workbook.SheetCount(); ++i) {
        if (workbook.IsSheetLoaded(i)) {
            places.emplace(&workbook.SheetKeepingSpill(i), i);
        }
    }
    std::vector<xlsxout::StagedRows> out(workbook.SheetCount());
    for (const StagedSheet& staged : m_sheets) {
        const size_t chunks = staged.chunkOffsets.size();
        if (chunks == 0) {
            continue;
        }
        // A sheet gone from the workbook left its texts and formats in the tables, and a sheet whose
        // staged rows came back into memory or were changed has other rows: the save starts afresh.
        const auto place = places.find(staged.sheet);
        if (place == places.end()) {
            return {};
        }
        const Worksheet& sheet = *staged.sheet;
        if (chunks > sheet.spilled.ChunkCount()) {
            return {};
        }
        for (size_t c = 0; c < chunks; ++c) {
            if (sheet.spilled.Chunk(c).offset != staged.chunkOffsets[c]) {
                return {};
            }
        }
        xlsxout::StagedRows& rows = out[place->second];
        rows.piece.crc = staged.deflated.crc;
        rows.piece.size = staged.size;
        rows.piece.compressedSize = staged.deflated.compressedSize;
        rows.piece.window = staged.window;
        rows.chunks = chunks;
        const uint64_t at = staged.deflated.fileOffset;
        rows.read = [this, at](uint64_t offset, std::span<uint8_t> bytes) { m_file->Read(at + offset, bytes); };
    }
    return out;
}

} // namespace gq::engine
