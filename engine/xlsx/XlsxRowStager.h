// The xlsx writer's row stager: rows a workbook being built has finished with are written as
// worksheet XML and deflated on a thread of its own while the workbook is still being built, so
// that the save only joins what was compressed meanwhile.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/model/Workbook.h"
#include "engine/xlsx/XlsxWriterParts.h"
#include "engine/zip/ZipWriter.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace gq::engine {

// Everything in a worksheet's rows that the saved file fixes must be known when the rows are
// staged, and is: the output indexes of shared strings and cell formats are given in first-use
// order as the writer walks the sheets, so rows are staged only in the order the writer writes
// them (sheet 1 first, each sheet's rows in order, the formats its column settings name before its
// cells). Anything the writer decides at save (dimension, sheet view and active tab, column
// widths, merged ranges) lies outside the rows, in the part's head or tail. Rows with formula
// cells are never staged (their formulas are settled at save, and may turn into values), nor
// anything after them. Staging only adds to the spill: every staged row is also spilled, so that
// the save can always write a sheet afresh.
//
// A workbook whose sheets are finished out of the writer's order (a multi-sheet merge adds each
// sheet before the one it left) is staged in the order the sheets are finished instead, once
// FollowInAnyOrder is called: the string and format tables are append-only, so that whatever order
// they were filled in, each index a staged row gives stays right, and the save goes on filling
// them for the rows it writes itself. The texts and cell formats are then numbered in the order
// they were staged rather than in the writer's order; the workbook read back is the same. A staged
// sheet is used at save when the rows staged are still its first spilled chunks, wherever the sheet
// is by then; rows it gained afterwards, formula rows among them, are written at save after the
// staged ones. Only sheets of about 1 MiB of XML and more are staged in any order: a smaller part
// is one block, which the save deflates faster than the stager can.
//
// The XML is written on the caller's thread, which owns the workbook's string and format tables,
// and deflated on the stager's thread into 1 MiB blocks ended by a sync flush, each primed with the
// 32 KiB before it, as ZipWriter cuts a streamed part; the blocks go to an unnamed temporary file
// beside the output. Where the blocks are cut depends only on the staged bytes, never on threads
// or timing.
class XlsxRowStager final : public RowStager {
public:
    struct Options {
        int level = 1;      // the zlib level; the save uses the staged rows only at the same level
        std::string folder; // where the temporary file goes; empty for the temporary folder
        // Called on the stager's thread before each block is deflated: tests make it throw to see
        // a failing stager fail the save.
        std::function<void()> beforeBlock;
    };

    XlsxRowStager(const Workbook& workbook, Options options);
    // Stops the thread, dropping whatever it has not deflated yet, and joins it.
    ~XlsxRowStager() override;
    XlsxRowStager(const XlsxRowStager&) = delete;
    XlsxRowStager& operator=(const XlsxRowStager&) = delete;

    void RowsSpilled(Workbook& workbook, size_t index, const Worksheet& sheet, size_t firstChunk,
                     std::span<const Row> rows) noexcept override;
    void Follow(Workbook& workbook, size_t index, const Worksheet& sheet) noexcept override;
    void FollowInAnyOrder(Workbook& workbook, size_t index, const Worksheet& sheet) noexcept override;

    // At save, with the writer's zlib level: waits for the thread and gives the staged rows of each
    // sheet by its index (a sheet without any: none of its chunks), when the workbook is still
    // what they were staged from; an empty list when it is not (the save then writes every sheet
    // afresh, with tables of its own). Throws what made the thread fail.
    std::vector<xlsxout::StagedRows> Finish(Workbook& workbook, int level);
    // The output tables as staging left them, for the save to go on from; only after Finish gave
    // staged sheets.
    std::unique_ptr<xlsxout::OutputTables> TakeTables() { return std::move(m_tables); }

private:
    // What the stager's thread keeps of a sheet's deflated rows.
    struct Deflated {
        uint64_t fileOffset = 0;
        uint64_t compressedSize = 0;
        uint32_t crc = 0;
    };
    struct StagedSheet {
        const Worksheet* sheet = nullptr;
        std::vector<uint64_t> chunkOffsets;  // the spilled chunks staged, by their place in the spill file
        std::vector<uint32_t> columnFormats; // HeadColumnFormats when staging began
        uint64_t size = 0;                   // XML bytes staged
        std::vector<uint8_t> window;         // their last 32 KiB, once the sheet's staging ended
        Deflated deflated;                   // filled in by the thread
    };
    struct Job {
        std::vector<uint8_t> input;
        std::vector<uint8_t> dictionary;
        Deflated* into = nullptr;
    };
    // Collects a staged sheet's XML into blocks for the thread.
    class BlockSink final : public ByteSink {
    public:
        explicit BlockSink(XlsxRowStager& owner) : m_owner(owner) {}
        void Write(const void* data, size_t size) override;
        uint64_t Written() const override { return m_written; }

    private:
        XlsxRowStager& m_owner;
        uint64_t m_written = 0;
    };

    bool Open() const;
    std::vector<xlsxout::StagedRows> FinishInAnyOrder(Workbook& workbook);
    void EndSheet();
    void BeginInAnyOrder(const Worksheet& sheet);
    void Stage(const std::string& name, std::span<const Row> rows);
    void CatchUp(const Worksheet& sheet, const std::string& name);
    void SubmitBlock();
    void Worker();
    void StopWorker();

    Options m_options;
    std::unique_ptr<xlsxout::OutputTables> m_tables;
    std::deque<StagedSheet> m_sheets; // a deque: the thread holds pointers into its elements
    bool m_abandoned = false;         // the staged rows can no longer be used
    bool m_closed = false;            // nothing more is staged, what was staged stays usable
    // The last sheet staged takes no more rows (its formula cells were reached, or in any order it
    // was left): in the writer's order nothing after it is staged, in any order the next sheet is.
    bool m_sheetEnded = false;
    bool m_anyOrder = false;                       // sheets are staged in the order they are finished
    std::unordered_set<const Worksheet*> m_staged; // every sheet staged, for FollowInAnyOrder
    // A sheet followed in any order but too small yet to be staged; only ever compared.
    const Worksheet* m_waiting = nullptr;
    BlockSink m_sink;

    // The block being filled and the 32 KiB of the sheet's XML before it.
    std::vector<uint8_t> m_block;
    std::vector<uint8_t> m_window;

    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<Job> m_jobs;
    bool m_busy = false;
    bool m_stop = false;
    std::exception_ptr m_failure;
    std::unique_ptr<SpillFile> m_file; // made and written by the thread
};

} // namespace gq::engine
