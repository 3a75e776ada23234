// The .xls writer's own class, shared by the files that write each part of the workbook.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/formula/Formula.h"
#include "engine/io/Bytes.h"
#include "engine/model/Palette.h"
#include "engine/model/Workbook.h"
#include "engine/xls/BiffFormula.h"
#include "engine/xls/BiffRecords.h"
#include "engine/xls/BiffStream.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace gq::engine::biff {

inline constexpr uint16_t kFirstCellXf = 15; // 15 style XFs come first; XF 15 is the default cell format
inline constexpr uint16_t kFirstCustomFormat = 164;
inline constexpr uint16_t kIcvAutoFore = 64;     // system window text colour
inline constexpr uint16_t kIcvAutoBack = 65;     // system window background colour
inline constexpr uint16_t kIcvFontAuto = 0x7FFF; // automatic font colour
inline constexpr uint32_t kRowsPerBlock = 32;    // Excel groups ROW records and their cells in blocks of 32
// A shared formula's cells, counted in ShrFmla's one-byte cUse ([MS-XLS] 2.4.260); a longer run of
// cells starts another shared formula.
inline constexpr uint32_t kMaxSharedCells = 255;

// The default palette's indexes 8-63, the part a PALETTE record replaces ([MS-XLS] 2.4.188; the
// colours every reader assumes when a file has none).
inline constexpr std::array<uint32_t, 56> kReplaceablePalette = [] {
    std::array<uint32_t, 56> entries{};
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i] = kDefaultPalette[i + kFirstCustomColorIndex];
    }
    return entries;
}();

// Writes one workbook. Its members are defined by part: XlsWriter.cpp (the first pass over the
// workbook, the globals and the assembly of the file), XlsWriterStyles.cpp (palette, fonts, number
// formats, XFs) and XlsWriterSheet.cpp (each worksheet's records).
class XlsBookWriter {
public:
    explicit XlsBookWriter(Workbook& book) : m_book(book), m_styles(book.Styles()), m_encoder(SheetNames(book)) {}

    void Write(ByteSink& sink);
    // Kept formulas that BIFF8 cannot hold and that were written as their cached values.
    size_t FormulasAsValues() const { return m_formulasAsValues; }

private:
    // First pass: grid limits, used cell formats and shared strings.
    void Scan();
    void CheckRange(const std::string& sheet, const CellRange& range, const char* what);
    void UseXf(uint32_t xf);
    void UseString(uint32_t index, const std::string& sheet, uint32_t row, uint32_t col, std::u16string& scratch);

    // Palette, fonts, number formats, cell XFs.
    void BuildPalette();
    size_t NearestSlot(uint32_t rgb) const;
    uint16_t Icv(const Color& color, uint16_t automatic) const;
    void BuildFontsAndFormats();
    std::vector<uint8_t> FontBody(const Font& font) const;
    void AddFont(uint32_t modelFont);
    void AddNumberFormat(uint32_t index);
    std::array<uint8_t, 20> CellXfBody(const CellFormat& format) const;
    void BuildCellXfs();
    uint16_t MapXf(uint32_t xf) const { return xf < m_xfMap.size() ? m_xfMap[xf] : kFirstCellXf; }
    void WriteStyles();
    void WriteFormat(uint16_t id, std::u16string_view text);

    // Formulas.
    static std::vector<std::string> SheetNames(const Workbook& book);
    bool EncodeFormula(const Worksheet& sheet, uint32_t row, const Cell& cell, bool array = false);
    void FindArrays(const Worksheet& sheet);
    void WriteArrayCell(uint32_t rw, const Cell& cell, uint64_t anchor);
    void WriteFormula(uint32_t rw, const Cell& cell, bool shared = false);
    bool JoinSharedRun(uint32_t rw, const Cell& cell);
    bool StartSharedRun(uint32_t rw, const Cell& cell, const Row* next);
    bool SharesEntry(uint32_t row, const Cell& cell) const;
    void PutExp(uint32_t row, uint32_t col);
    void WriteLinkTables();

    // Globals.
    size_t ActiveSheet() const;
    void WriteBof(uint16_t type);
    void WriteSimple(uint16_t type, uint32_t value16);
    void WriteGlobals();
    void WriteSst();

    // Worksheets.
    void WriteSheet(size_t index);
    void WriteColumns(const Worksheet& sheet);
    void WriteCells(const Worksheet& sheet, uint32_t defaultRowTwips);
    void WriteRowRecord(const Row& row, uint32_t defaultRowTwips);
    void WriteRowCells(const Row& row, const Row* below); // `below`: the next row, when held
    void WriteBoolErr(uint32_t rw, const Cell& cell, uint8_t value, bool isError);
    void WriteWindow(const Worksheet& sheet, size_t index);
    void WriteMerges(const Worksheet& sheet);
    void WriteHyperlinks(const Worksheet& sheet, const std::string& sheetName);

    Workbook& m_book;
    const StyleTable& m_styles;
    BiffStream m_out;

    std::vector<uint8_t> m_xfUsed;   // per model cell format
    std::vector<uint32_t> m_xfOrder; // used model cell formats, in order of first use
    std::vector<uint16_t> m_xfMap;   // model cell format -> BIFF XF index
    std::vector<std::array<uint8_t, 20>> m_cellXfs;
    std::vector<uint16_t> m_fontMap; // model font -> BIFF font index
    std::vector<std::vector<uint8_t>> m_fontBodies;
    std::vector<uint16_t> m_numFmtMap; // model number format -> BIFF format id
    std::vector<std::pair<uint16_t, std::u16string>> m_customFormats;
    std::array<uint32_t, 56> m_palette{};
    bool m_customPalette = false;
    std::unordered_map<uint32_t, uint16_t> m_colorIndex; // RGB -> palette index

    std::vector<uint32_t> m_sstIndex; // model string -> SST index, UINT32_MAX when unused
    std::vector<uint32_t> m_sstOrder; // SST index -> model string
    uint32_t m_sstTotal = 0;
    uint64_t m_cellCount = 0;
    uint64_t m_formulaCellCount = 0;
    size_t m_sstBytes = 0; // an upper bound of the SST's size

    // The expression of a formula entry of the sheet being written, encoded once for one of its
    // cells with where its references lie: another cell of the entry gets it with its references
    // moved, which is what encoding the formula moved to that cell gives, as long as no reference
    // leaves the grid. Refused: the formula cannot be kept wherever it moves without #REF!.
    struct EncodedEntry {
        enum class State : uint8_t { None, Encoded, Refused };
        State state = State::None;
        uint32_t row = 0;
        uint32_t col = 0;
        std::vector<uint8_t> rgce;
        std::vector<uint8_t> rgcb;
        std::vector<ReferenceField> fields;
        bool shareable = false;    // the expression may be a shared formula's (FormulaEncoder::Shareable)
        formula::MoveBounds moves; // where the formula moves without a reference leaving the grid
    };
    bool EncodeMoved(const Worksheet& sheet, uint32_t row, const Cell& cell);
    bool MoveEncoded(const EncodedEntry& entry, int64_t rows, int64_t cols);

    FormulaEncoder m_encoder;
    std::vector<EncodedEntry> m_encoded; // per formula entry of the sheet being written
    // The encoded cell's reference fields and whether its entry may be shared: set by EncodeMoved.
    const std::vector<ReferenceField>* m_cellFields = nullptr;
    bool m_cellShareable = false;
    // A shared formula being written, ShrFmla [MS-XLS] 2.4.260: a run of cells down one column
    // that use one formula entry, each a FORMULA record of only a PtgExp pointing at the run's
    // first cell, after which the SHRFMLA record holds the expression once. Its range and count of
    // cells are filled in as cells join; a run ends at a cell that does not continue it.
    struct SharedRun {
        uint32_t entry = 0;
        uint32_t firstRow = 0;
        uint32_t lastRow = 0;
        uint32_t count = 0; // 0: no run open in this column
        size_t record = 0;  // where its SHRFMLA record begins in m_out
    };
    std::array<SharedRun, limits::kXlsMaxCols> m_runs{};
    std::vector<ReferenceField> m_fields;
    formula::Formula m_formula;
    std::vector<uint8_t> m_rgce;
    std::vector<uint8_t> m_rgcb;
    std::u16string m_formulaText;
    const Worksheet* m_sheet = nullptr; // the sheet being written
    // The array formulas of the sheet being written that go into ARRAY records: every cell of
    // their ranges (row << 32 | column) with the first cell of its range.
    std::unordered_map<uint64_t, uint64_t> m_arrayCells;
    std::vector<uint8_t> m_arrayRecord; // the ARRAY or SHRFMLA record to follow the next FORMULA, if any
    uint16_t m_followType = 0;          // kArray or kShrFmla
    size_t m_followAt = 0;              // where WriteFormula wrote it in m_out
    size_t m_formulasAsValues = 0;

    std::vector<size_t> m_boundSheetPos;
    std::vector<uint32_t> m_rkRun;

    // Sheets already written, set aside on disk once they fill kStageBytes, so that the stream is
    // never held whole: the globals (first in m_out), then the staged sheets, then m_out's rest.
    void StageSheets();
    void WriteStream(ByteSink& sink) const;
    uint64_t StreamPosition() const { return m_out.Size() + m_stagedBytes; }
    static constexpr size_t kStageBytes = 8u << 20;
    std::unique_ptr<SpillFile> m_staged;
    uint64_t m_stagedBytes = 0;
    size_t m_globalsSize = 0;
};

} // namespace gq::engine::biff
