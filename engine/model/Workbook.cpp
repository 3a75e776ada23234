// The workbook model: rows, cells, string table and lazy sheet loading.
// SPDX-License-Identifier: Apache-2.0
#include "engine/model/Workbook.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/StageTimes.h"
#include "engine/text/CellReferenceText.h"
#include "engine/text/SheetNames.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <map>
#include <queue>
#include <unordered_map>
#include <unordered_set>

namespace gq::engine {

std::string ColumnName(uint32_t col)
{
    char letters[8];
    return std::string(letters, PutColumnLetters(letters, col));
}

std::string CellName(uint32_t row, uint32_t col)
{
    return ColumnName(col) + std::to_string(static_cast<uint64_t>(row) + 1);
}

std::string RangeName(const CellRange& range)
{
    std::string first = CellName(range.firstRow, range.firstCol);
    if (range.firstRow == range.lastRow && range.firstCol == range.lastCol) {
        return first;
    }
    return first + ":" + CellName(range.lastRow, range.lastCol);
}

bool ParseCellName(std::string_view text, CellRef& out)
{
    size_t i = 0;
    if (i < text.size() && text[i] == '$') {
        ++i;
    }
    uint64_t col = 0;
    const size_t letters = ReadColumnLetters(text, i, 4, col);
    if (letters == 0 || letters > 3) {
        return false;
    }
    if (i < text.size() && text[i] == '$') {
        ++i;
    }
    uint64_t row = 0;
    const size_t digits = ReadRowDigits(text, i, 8, row);
    if (digits == 0 || digits > 7 || i != text.size() || row == 0 || row > limits::kXlsxMaxRows ||
        col > limits::kXlsxMaxCols) {
        return false;
    }
    out.row = static_cast<uint32_t>(row - 1);
    out.col = static_cast<uint32_t>(col - 1);
    return true;
}

bool ParseRangeName(std::string_view text, CellRange& out)
{
    size_t colon = text.find(':');
    CellRef a;
    CellRef b;
    if (colon == std::string_view::npos) {
        if (!ParseCellName(text, a)) {
            return false;
        }
        b = a;
    } else if (!ParseCellName(text.substr(0, colon), a) || !ParseCellName(text.substr(colon + 1), b)) {
        return false;
    }
    out.firstRow = std::min(a.row, b.row);
    out.lastRow = std::max(a.row, b.row);
    out.firstCol = std::min(a.col, b.col);
    out.lastCol = std::max(a.col, b.col);
    return true;
}

namespace {
struct ErrorName {
    ErrorCode code;
    std::string_view text;
};
constexpr std::array<ErrorName, 8> kErrorNames{{
    {ErrorCode::Null, "#NULL!"},
    {ErrorCode::Div0, "#DIV/0!"},
    {ErrorCode::Value, "#VALUE!"},
    {ErrorCode::Ref, "#REF!"},
    {ErrorCode::Name, "#NAME?"},
    {ErrorCode::Num, "#NUM!"},
    {ErrorCode::NA, "#N/A"},
    {ErrorCode::GettingData, "#GETTING_DATA"},
}};
} // namespace

std::string_view ErrorText(ErrorCode code)
{
    for (const auto& e : kErrorNames) {
        if (e.code == code) {
            return e.text;
        }
    }
    return "#N/A";
}

std::optional<ErrorCode> ErrorFromText(std::string_view text)
{
    for (const auto& e : kErrorNames) {
        if (e.text == text) {
            return e.code;
        }
    }
    return std::nullopt;
}

const Cell* Row::Find(uint32_t col) const
{
    auto it =
        std::lower_bound(cells.begin(), cells.end(), col, [](const Cell& c, uint32_t value) { return c.col < value; });
    if (it != cells.end() && it->col == col) {
        return &*it;
    }
    return nullptr;
}

Row& Worksheet::RowAt(uint32_t index)
{
    if (rows.empty() || rows.back().index < index) {
        rows.emplace_back().index = index;
        return rows.back();
    }
    auto it =
        std::lower_bound(rows.begin(), rows.end(), index, [](const Row& r, uint32_t value) { return r.index < value; });
    if (it != rows.end() && it->index == index) {
        return *it;
    }
    it = rows.insert(it, Row{});
    it->index = index;
    return *it;
}

const Row* Worksheet::FindRow(uint32_t index) const
{
    auto it =
        std::lower_bound(rows.begin(), rows.end(), index, [](const Row& r, uint32_t value) { return r.index < value; });
    if (it != rows.end() && it->index == index) {
        return &*it;
    }
    return nullptr;
}

Cell& Worksheet::CellAt(uint32_t row, uint32_t col)
{
    Row& r = RowAt(row);
    if (r.cells.empty() || r.cells.back().col < col) {
        r.cells.emplace_back().col = col;
        return r.cells.back();
    }
    auto it = std::lower_bound(r.cells.begin(), r.cells.end(), col,
                               [](const Cell& c, uint32_t value) { return c.col < value; });
    if (it != r.cells.end() && it->col == col) {
        return *it;
    }
    it = r.cells.insert(it, Cell{});
    it->col = col;
    return *it;
}

const Cell* Worksheet::FindCell(uint32_t row, uint32_t col) const
{
    const Row* r = FindRow(row);
    return r != nullptr ? r->Find(col) : nullptr;
}

namespace {

// `c` made a plain cell of `type` and `style`, no longer a formula's, for its value to be set.
Cell& PlainCell(Cell& c, CellType type, uint32_t style)
{
    c.type = type;
    c.formula = false;
    c.formulaIndex = kNoFormula;
    c.style = style;
    return c;
}

} // namespace

void Worksheet::SetNumber(uint32_t row, uint32_t col, double value, uint32_t style)
{
    PlainCell(CellAt(row, col), CellType::Number, style).number = value;
}

void Worksheet::SetString(uint32_t row, uint32_t col, uint32_t textIndex, uint32_t style)
{
    PlainCell(CellAt(row, col), CellType::String, style).text = textIndex;
}

void Worksheet::SetBoolean(uint32_t row, uint32_t col, bool value, uint32_t style)
{
    PlainCell(CellAt(row, col), CellType::Boolean, style).boolean = value;
}

void Worksheet::SetError(uint32_t row, uint32_t col, ErrorCode value, uint32_t style)
{
    PlainCell(CellAt(row, col), CellType::Error, style).error = value;
}

void Worksheet::SetBlank(uint32_t row, uint32_t col, uint32_t style)
{
    PlainCell(CellAt(row, col), CellType::Blank, style).number = 0;
}

bool Worksheet::InOrder() const
{
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i > 0 && rows[i - 1].index >= rows[i].index) {
            return false;
        }
        const auto& cells = rows[i].cells;
        for (size_t j = 1; j < cells.size(); ++j) {
            if (cells[j - 1].col >= cells[j].col) {
                return false;
            }
        }
    }
    return true;
}

void Worksheet::Normalize()
{
    auto rowLess = [](const Row& a, const Row& b) { return a.index < b.index; };
    if (!std::is_sorted(rows.begin(), rows.end(), rowLess)) {
        std::stable_sort(rows.begin(), rows.end(), rowLess);
    }
    // Merge rows that occur twice: later cells win over earlier ones.
    std::vector<Row> merged;
    bool duplicates = false;
    for (size_t i = 1; i < rows.size(); ++i) {
        if (rows[i].index == rows[i - 1].index) {
            duplicates = true;
            break;
        }
    }
    if (duplicates) {
        merged.reserve(rows.size());
        for (auto& r : rows) {
            if (!merged.empty() && merged.back().index == r.index) {
                Row& into = merged.back();
                into.cells.insert(into.cells.end(), r.cells.begin(), r.cells.end());
                if (r.height != 0) {
                    into.height = r.height;
                    into.customHeight = r.customHeight;
                }
                into.hidden = into.hidden || r.hidden;
                into.collapsed = into.collapsed || r.collapsed;
                into.outlineLevel = std::max(into.outlineLevel, r.outlineLevel);
                if (r.style != 0) {
                    into.style = r.style;
                }
            } else {
                merged.push_back(std::move(r));
            }
        }
        rows = std::move(merged);
    }
    auto cellLess = [](const Cell& a, const Cell& b) { return a.col < b.col; };
    for (auto& r : rows) {
        if (!std::is_sorted(r.cells.begin(), r.cells.end(), cellLess)) {
            std::stable_sort(r.cells.begin(), r.cells.end(), cellLess);
        }
        // Keep the last of equal columns.
        size_t out = 0;
        for (size_t i = 0; i < r.cells.size(); ++i) {
            if (out > 0 && r.cells[out - 1].col == r.cells[i].col) {
                r.cells[out - 1] = r.cells[i];
            } else {
                r.cells[out++] = r.cells[i];
            }
        }
        r.cells.resize(out);
    }
}

void DropOverlappingMerges(std::vector<CellRange>& merges)
{
    if (merges.size() < 2) {
        return;
    }
    // Sweep by first row. Ranges still open at a row all contain that row, so the kept ones among
    // them are disjoint in columns and can be kept ordered by first column.
    std::vector<size_t> order(merges.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return merges[a].firstRow < merges[b].firstRow; });
    std::vector<uint8_t> keep(merges.size(), 0);
    std::map<uint32_t, size_t> open;            // first column -> merge index, for kept ranges still open
    using Expiry = std::pair<uint32_t, size_t>; // last row, merge index
    std::priority_queue<Expiry, std::vector<Expiry>, std::greater<>> expiry;
    bool conflict = false;
    for (size_t idx : order) {
        const CellRange& m = merges[idx];
        while (!expiry.empty() && expiry.top().first < m.firstRow) {
            size_t gone = expiry.top().second;
            expiry.pop();
            auto it = open.find(merges[gone].firstCol);
            if (it != open.end() && it->second == gone) {
                open.erase(it);
            }
        }
        // The open ranges that overlap this one are neighbours in column order, ending with the
        // last one that starts at or before this one's last column. The earlier in file order wins.
        bool loses = false;
        for (;;) {
            auto it = open.upper_bound(m.lastCol);
            if (it == open.begin()) {
                break;
            }
            --it;
            if (merges[it->second].lastCol < m.firstCol) {
                break;
            }
            conflict = true;
            if (it->second < idx) {
                loses = true;
                break;
            }
            keep[it->second] = 0;
            open.erase(it);
        }
        if (loses) {
            continue;
        }
        open[m.firstCol] = idx;
        expiry.emplace(m.lastRow, idx);
        keep[idx] = 1;
    }
    if (!conflict) {
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

std::optional<CellRange> Worksheet::UsedRange() const
{
    std::optional<CellRange> box = spilled.Summary().usedBox;
    // Cells are ascending by column, so a row's first and last used cells bound it: the scan costs
    // one or two cells a row instead of every cell (a single-sheet merge asks after every paste).
    const auto used = [](const Cell& c) { return IsUsedCell(c); };
    for (const Row& r : rows) {
        const auto first = std::find_if(r.cells.begin(), r.cells.end(), used);
        if (first == r.cells.end()) {
            continue;
        }
        const auto last = std::find_if(r.cells.rbegin(), r.cells.rend(), used);
        ExtendRange(box, CellRange{r.index, first->col, r.index, last->col});
    }
    for (const CellRange& m : merges) {
        ExtendRange(box, m);
    }
    return box;
}

bool Worksheet::SpillRowsBefore(uint32_t index, const std::shared_ptr<SpillFile>& file,
                                const std::function<void(std::span<const Row>)>& spilledRows)
{
    const auto end =
        std::lower_bound(rows.begin(), rows.end(), index, [](const Row& r, uint32_t value) { return r.index < value; });
    const std::span<const Row> moved(rows.data(), static_cast<size_t>(end - rows.begin()));
    if (moved.empty() || !spilled.Spill(file, moved)) {
        return false;
    }
    if (spilledRows) {
        spilledRows(moved);
    }
    // The rows left move to storage of their own size: erasing in place would keep the room of
    // every row spilled.
    std::vector<Row> kept;
    kept.reserve(static_cast<size_t>(rows.end() - end));
    std::move(end, rows.end(), std::back_inserter(kept));
    rows = std::move(kept);
    return true;
}

void Worksheet::RestoreSpilled()
{
    std::vector<Row> all;
    all.reserve(rows.size() + static_cast<size_t>(spilled.Summary().rows));
    std::vector<Row> batch;
    for (size_t i = 0; i < spilled.ChunkCount(); ++i) {
        spilled.ReadChunk(i, batch);
        std::move(batch.begin(), batch.end(), std::back_inserter(all));
        batch.clear();
    }
    std::move(rows.begin(), rows.end(), std::back_inserter(all));
    rows = std::move(all);
    spilled.Clear();
}

size_t Worksheet::CellCount() const
{
    size_t n = spilled.Summary().cells;
    for (const Row& r : rows) {
        n += r.cells.size();
    }
    return n;
}

const ColumnInfo* Worksheet::FindColumn(uint32_t col) const
{
    auto it = std::lower_bound(columns.begin(), columns.end(), col,
                               [](const ColumnInfo& c, uint32_t value) { return c.last < value; });
    if (it != columns.end() && it->first <= col && col <= it->last) {
        return &*it;
    }
    return nullptr;
}

void Worksheet::SetColumn(const ColumnInfo& info)
{
    std::vector<ColumnInfo> out;
    out.reserve(columns.size() + 2);
    bool placed = false;
    for (const ColumnInfo& c : columns) {
        if (c.last < info.first) {
            out.push_back(c);
            continue;
        }
        if (c.first > info.last) {
            if (!placed) {
                out.push_back(info);
                placed = true;
            }
            out.push_back(c);
            continue;
        }
        // Overlap: keep the parts of c outside info.
        if (c.first < info.first) {
            ColumnInfo left = c;
            left.last = info.first - 1;
            out.push_back(left);
        }
        if (!placed) {
            out.push_back(info);
            placed = true;
        }
        if (c.last > info.last) {
            ColumnInfo right = c;
            right.first = info.last + 1;
            out.push_back(right);
        }
    }
    if (!placed) {
        out.push_back(info);
    }
    columns = std::move(out);
}

uint32_t StringTable::Intern(std::string_view text)
{
    auto it = m_index.find(text);
    if (it != m_index.end()) {
        return it->second;
    }
    if (m_strings.size() >= UINT32_MAX) {
        throw LimitError("too many distinct texts in one workbook");
    }
    auto index = static_cast<uint32_t>(m_strings.size());
    m_strings.emplace_back(text);
    m_index.emplace(std::string_view(m_strings.back()), index);
    return index;
}

const std::string& StringTable::At(uint32_t index) const
{
    static const std::string kEmpty;
    return index < m_strings.size() ? m_strings[index] : kEmpty;
}

Workbook::Workbook() = default;

Workbook::Workbook(const Font& defaultFont) : m_styles(defaultFont) {}

Worksheet& Workbook::Sheet(size_t index)
{
    Worksheet& sheet = SheetKeepingSpill(index);
    if (!sheet.spilled.Empty()) {
        sheet.RestoreSpilled();
    }
    return sheet;
}

bool Workbook::SpillRows(size_t index, uint32_t beforeRow)
{
    SheetInfo& info = m_sheets.at(index);
    if (!info.data) {
        return false;
    }
    if (!m_spill) {
        m_spill = std::make_shared<SpillFile>(m_spillFolder);
    }
    if (!m_stager) {
        return info.data->SpillRowsBefore(beforeRow, m_spill);
    }
    const size_t firstChunk = info.data->spilled.ChunkCount();
    return info.data->SpillRowsBefore(beforeRow, m_spill, [&](std::span<const Row> rows) {
        m_stager->RowsSpilled(*this, index, *info.data, firstChunk, rows);
    });
}

void Workbook::StageRows(size_t index)
{
    const SheetInfo& info = m_sheets.at(index);
    if (m_stager && info.data) {
        m_stager->Follow(*this, index, *info.data);
    }
}

void Workbook::StageRowsInAnyOrder(size_t index)
{
    const SheetInfo& info = m_sheets.at(index);
    if (m_stager && info.data) {
        m_stager->FollowInAnyOrder(*this, index, *info.data);
    }
}

Worksheet& Workbook::SheetKeepingSpill(size_t index)
{
    SheetInfo& info = m_sheets.at(index);
    if (!info.data) {
        auto data = std::make_unique<Worksheet>();
        if (m_source && info.sourceIndex != SIZE_MAX) {
            // A file changed under the reader gives a clear error, not a damaged sheet or a
            // misleading complaint about the file's format.
            m_source->CheckInput();
            StageTimer timer(Stage::Read);
            try {
                m_source->LoadSheet(*this, info.sourceIndex, *data);
            } catch (const EngineError&) {
                m_source->CheckInput();
                throw;
            }
            m_source->CheckInput();
        }
        info.data = std::move(data);
    }
    return *info.data;
}

void Workbook::UnloadSheet(size_t index)
{
    if (m_source && m_sheets.at(index).sourceIndex != SIZE_MAX) {
        m_sheets.at(index).data.reset();
    }
}

void Workbook::CheckSheetNames() const
{
    std::unordered_map<std::string, size_t> seen;
    seen.reserve(m_sheets.size());
    for (size_t i = 0; i < m_sheets.size(); ++i) {
        const std::string& name = m_sheets[i].name;
        if (auto problem = SheetNameProblem(name)) {
            throw LimitError("sheet \"" + name + "\": " + *problem);
        }
        auto [at, fresh] = seen.emplace(FoldCase(name), i);
        if (!fresh) {
            throw LimitError("sheet \"" + name + "\": the name is the same as that of sheet \"" +
                             m_sheets[at->second].name + "\" (letter case aside); sheet names must differ");
        }
    }
}

Workbook::SavedSheets Workbook::SheetsToSave() const
{
    const size_t count = SheetCount();
    if (count == 0) {
        throw EngineError("a workbook needs at least one sheet to be saved");
    }
    CheckSheetNames();
    SavedSheets saved;
    bool anyVisible = false;
    for (size_t i = 0; i < count; ++i) {
        saved.states.push_back(SheetStateAt(i));
        anyVisible = anyVisible || saved.states.back() == SheetState::Visible;
    }
    saved.activeTab = ActiveSheet() < count ? ActiveSheet() : 0;
    if (!anyVisible) {
        saved.states[saved.activeTab] = SheetState::Visible;
    } else if (saved.states[saved.activeTab] != SheetState::Visible) {
        for (size_t i = 0; i < count; ++i) {
            if (saved.states[i] == SheetState::Visible) {
                saved.activeTab = i;
                break;
            }
        }
    }
    return saved;
}

size_t Workbook::MakeSheetNamesDistinct()
{
    std::unordered_set<std::string> taken;
    for (const SheetInfo& sheet : m_sheets) {
        taken.insert(FoldCase(sheet.name));
    }
    if (taken.size() == m_sheets.size()) {
        return 0;
    }
    // The first sheet of each name keeps it; later ones get a number no sheet uses.
    std::unordered_set<std::string> kept;
    size_t renamed = 0;
    for (SheetInfo& sheet : m_sheets) {
        if (kept.insert(FoldCase(sheet.name)).second) {
            continue;
        }
        sheet.name = DistinctSheetName(sheet.name, taken);
        taken.insert(FoldCase(sheet.name));
        kept.insert(FoldCase(sheet.name));
        ++renamed;
    }
    return renamed;
}

size_t Workbook::InsertSheet(size_t position, std::string name, SheetState state)
{
    if (m_sheets.size() >= limits::kMaxSheets) {
        throw LimitError("a workbook cannot hold more than " + std::to_string(limits::kMaxSheets) + " sheets");
    }
    position = std::min(position, m_sheets.size());
    SheetInfo info;
    info.name = std::move(name);
    info.state = state;
    info.data = std::make_unique<Worksheet>();
    m_sheets.insert(m_sheets.begin() + static_cast<std::ptrdiff_t>(position), std::move(info));
    if (m_sheets.size() > 1 && position <= m_active) {
        ++m_active;
    }
    return position;
}

void Workbook::AddUnloadedSheet(std::string name, SheetState state)
{
    if (m_sheets.size() >= limits::kMaxSheets) {
        throw LimitError("a workbook cannot hold more than " + std::to_string(limits::kMaxSheets) + " sheets");
    }
    SheetInfo info;
    info.name = std::move(name);
    info.state = state;
    info.sourceIndex = m_sheets.size();
    m_sheets.push_back(std::move(info));
}

} // namespace gq::engine
