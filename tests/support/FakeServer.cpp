// The recording fake of the spreadsheet server.
// SPDX-License-Identifier: Apache-2.0
#include "tests/support/FakeServer.h"

#include <algorithm>

namespace gq::test {

using automation::Ref;
using automation::ServerError;

void FakeWorld::FailOn(const std::string& call, const std::string& message, int times)
{
    m_failures[call] = Failure{message, times == 0 ? -1 : times};
}

void FakeWorld::Record(const std::string& call)
{
    transcript.push_back(call);
    auto it = m_failures.find(call);
    if (it != m_failures.end() && it->second.remaining != 0) {
        if (it->second.remaining > 0) {
            --it->second.remaining;
        }
        throw ServerError(it->second.message);
    }
}

const std::vector<FakeSheetSpec>* FakeWorld::FileSheets(const std::string& path) const
{
    auto it = m_files.find(path);
    return it == m_files.end() ? nullptr : &it->second;
}

std::vector<std::string> Filter(const std::vector<std::string>& transcript, const std::vector<std::string>& prefixes)
{
    std::vector<std::string> out;
    for (const auto& line : transcript) {
        for (const auto& p : prefixes) {
            if (line.rfind(p, 0) == 0) {
                out.push_back(line);
                break;
            }
        }
    }
    return out;
}

namespace {

struct FakeWorkbookState;

// What a sheet holds: its name, its used range, and the pastes it received.
struct FakeSheetState {
    std::string name;
    int32_t rows = 1;
    int32_t cols = 1;
    bool empty = true; // an empty sheet still reports one row
    int32_t contentRows = 1;
    int32_t contentCols = 1;
    automation::PasteOutcome outcome;
    std::vector<std::string> pastes;
    FakeWorkbookState* workbook = nullptr;
};

struct FakeWorkbookState {
    std::string id;
    std::string path; // empty for a new workbook
    std::vector<std::shared_ptr<FakeSheetState>> sheets;
    size_t active = 0;
    bool open = true;
};

struct Clipboard {
    std::string source; // "<file>!<sheet>"
    int32_t rows = 0;
    int32_t cols = 0;
    bool held = false;
    bool empty = false; // copied from an empty sheet: a paste adds nothing
    automation::PasteOutcome outcome;
};

struct ServerState {
    std::string id;
    std::vector<std::shared_ptr<FakeWorkbookState>> workbooks;
    std::shared_ptr<FakeWorkbookState> active;
    Clipboard clipboard;
};

// Every object shares the world and counts itself as one live reference.
class FakeObject {
public:
    FakeObject(FakeWorld& world, std::string id) : m_world(world), m_id(std::move(id)) { ++m_world.liveReferences; }
    void Call(const std::string& what) { m_world.Record(m_id + "." + what); }
    void DoRelease()
    {
        --m_world.liveReferences;
        m_world.transcript.push_back(m_id + ".Release()");
    }
    FakeWorld& World() { return m_world; }
    const std::string& Id() const { return m_id; }

private:
    FakeWorld& m_world;
    std::string m_id;
};

class FakeRange : public automation::Range, FakeObject {
public:
    FakeRange(FakeWorld& world, std::shared_ptr<ServerState> server, std::shared_ptr<FakeSheetState> sheet,
              int32_t firstRow, int32_t rows, int32_t cols)
        : FakeObject(world, "R" + std::to_string(world.NextId())), m_server(std::move(server)),
          m_sheet(std::move(sheet)), m_firstRow(firstRow), m_rows(rows), m_cols(cols)
    {
    }
    void Release() noexcept override
    {
        DoRelease();
        delete this;
    }
    void Copy() override
    {
        Call("Copy()");
        m_server->clipboard = Clipboard{
            m_sheet->workbook->path + "!" + m_sheet->name, m_rows, m_cols, true, m_sheet->empty, m_sheet->outcome};
    }
    automation::PasteOutcome PasteSpecial() override
    {
        Call("PasteSpecial()");
        if (!m_server->clipboard.held) {
            throw ServerError("nothing to paste");
        }
        const Clipboard& c = m_server->clipboard;
        m_sheet->pastes.push_back("A" + std::to_string(m_firstRow) + ":" + c.source);
        if (c.empty) {
            return c.outcome;
        }
        int32_t last = m_firstRow + c.rows - 1;
        m_sheet->rows = m_sheet->empty ? last : std::max(m_sheet->rows, last);
        m_sheet->cols = m_sheet->empty ? c.cols : std::max(m_sheet->cols, c.cols);
        m_sheet->empty = false;
        return c.outcome;
    }
    int32_t RowCount() override
    {
        Call("RowCount()");
        return m_rows;
    }
    int32_t ColumnCount() override
    {
        Call("ColumnCount()");
        return m_cols;
    }
    int32_t ContentRowCount() override
    {
        Call("ContentRowCount()");
        return m_sheet->contentRows;
    }
    int32_t ContentColumnCount() override
    {
        Call("ContentColumnCount()");
        return m_sheet->contentCols;
    }
    int32_t FirstRow() override { return m_firstRow; }
    bool IsEmpty() override
    {
        Call("IsEmpty()");
        return m_sheet->empty || m_firstRow > m_sheet->rows;
    }

private:
    std::shared_ptr<ServerState> m_server;
    std::shared_ptr<FakeSheetState> m_sheet;
    int32_t m_firstRow;
    int32_t m_rows;
    int32_t m_cols;
};

class FakeSheet : public automation::Sheet, FakeObject {
public:
    FakeSheet(FakeWorld& world, std::shared_ptr<ServerState> server, std::shared_ptr<FakeSheetState> sheet)
        : FakeObject(world, "H" + std::to_string(world.NextId())), m_server(std::move(server)),
          m_sheet(std::move(sheet))
    {
        World().transcript.push_back(Id() + " is " + m_sheet->name);
    }
    void Release() noexcept override
    {
        DoRelease();
        delete this;
    }
    std::string Name() override
    {
        Call("Name()");
        return m_sheet->name;
    }
    void SetName(const std::string& name) override
    {
        Call("SetName(" + name + ")");
        m_sheet->name = name;
    }
    void Select() override { Call("Select()"); }
    Ref<automation::Range> UsedRange() override
    {
        Call("UsedRange()");
        int32_t rows = m_sheet->empty ? 1 : m_sheet->rows;
        return Ref<automation::Range>(
            new FakeRange(World(), m_server, m_sheet, 1, rows, m_sheet->empty ? 1 : m_sheet->cols));
    }
    Ref<automation::Range> RangeAt(const std::string& address) override
    {
        Call("RangeAt(" + address + ")");
        int32_t row = 1;
        size_t digits = address.find_first_of("0123456789");
        if (digits != std::string::npos) {
            row = std::stoi(address.substr(digits));
        }
        return Ref<automation::Range>(new FakeRange(World(), m_server, m_sheet, row, 1, 1));
    }

private:
    std::shared_ptr<ServerState> m_server;
    std::shared_ptr<FakeSheetState> m_sheet;
};

class FakeWorkbook : public automation::Workbook, FakeObject {
public:
    FakeWorkbook(FakeWorld& world, std::shared_ptr<ServerState> server, std::shared_ptr<FakeWorkbookState> book)
        : FakeObject(world, book->id), m_server(std::move(server)), m_book(std::move(book))
    {
    }
    void Release() noexcept override
    {
        DoRelease();
        delete this;
    }
    int32_t SheetCount() override
    {
        Call("SheetCount()");
        return static_cast<int32_t>(m_book->sheets.size());
    }
    Ref<automation::Sheet> SheetAt(int32_t index) override
    {
        Call("SheetAt(" + std::to_string(index) + ")");
        if (index < 1 || index > static_cast<int32_t>(m_book->sheets.size())) {
            throw ServerError("index out of range");
        }
        return Ref<automation::Sheet>(new FakeSheet(World(), m_server, m_book->sheets[static_cast<size_t>(index - 1)]));
    }
    Ref<automation::Sheet> SheetByName(const std::string& name) override
    {
        Call("SheetByName(" + name + ")");
        for (auto& s : m_book->sheets) {
            if (s->name == name) {
                return Ref<automation::Sheet>(new FakeSheet(World(), m_server, s));
            }
        }
        throw ServerError("Subscript out of range");
    }
    Ref<automation::Sheet> AddSheet() override
    {
        Call("AddSheet()");
        int n = 1;
        auto taken = [&](const std::string& name) {
            return std::any_of(m_book->sheets.begin(), m_book->sheets.end(),
                               [&](const auto& s) { return s->name == name; });
        };
        while (taken("Sheet" + std::to_string(n))) {
            ++n;
        }
        auto sheet = std::make_shared<FakeSheetState>();
        sheet->name = "Sheet" + std::to_string(n);
        sheet->workbook = m_book.get();
        m_book->sheets.insert(m_book->sheets.begin() + static_cast<std::ptrdiff_t>(m_book->active), sheet);
        return Ref<automation::Sheet>(new FakeSheet(World(), m_server, sheet));
    }
    void PlanSaveAs(const std::string& path) override { Call("PlanSaveAs(" + path + ")"); }
    void SaveAs(const std::string& path) override
    {
        Call("SaveAs(" + path + ")");
        FakeWorld::Saved s;
        s.path = path;
        for (auto& sheet : m_book->sheets) {
            s.sheetNames.push_back(sheet->name);
            if (!sheet->pastes.empty()) {
                s.pastes[sheet->name] = sheet->pastes;
            }
        }
        World().saved.push_back(std::move(s));
    }
    void Close() override
    {
        Call("Close()");
        m_book->open = false;
        auto& list = m_server->workbooks;
        list.erase(std::remove(list.begin(), list.end(), m_book), list.end());
        if (m_server->active == m_book) {
            m_server->active = list.empty() ? nullptr : list.back();
        }
    }

private:
    std::shared_ptr<ServerState> m_server;
    std::shared_ptr<FakeWorkbookState> m_book;
};

class FakeServer : public automation::SpreadsheetServer, FakeObject {
public:
    FakeServer(FakeWorld& world, std::shared_ptr<ServerState> state)
        : FakeObject(world, state->id), m_state(std::move(state))
    {
    }
    void Release() noexcept override
    {
        DoRelease();
        delete this;
    }
    void SetDisplayAlerts(bool on) override { Call(std::string("SetDisplayAlerts(") + (on ? "true" : "false") + ")"); }
    void SetScreenUpdating(bool on) override
    {
        Call(std::string("SetScreenUpdating(") + (on ? "true" : "false") + ")");
    }
    void SetVisible(bool on) override { Call(std::string("SetVisible(") + (on ? "true" : "false") + ")"); }
    Ref<automation::Workbook> AddWorkbook() override
    {
        Call("AddWorkbook()");
        auto book = std::make_shared<FakeWorkbookState>();
        book->id = "W" + std::to_string(World().NextId());
        for (const auto& name : World().initialSheets) {
            auto s = std::make_shared<FakeSheetState>();
            s->name = name;
            s->workbook = book.get();
            book->sheets.push_back(s);
        }
        m_state->workbooks.push_back(book);
        m_state->active = book;
        return Ref<automation::Workbook>(new FakeWorkbook(World(), m_state, book));
    }
    void ReadAhead(const std::string& path, const std::vector<std::string>& sheetNames) override
    {
        std::string line = m_lastOpened.empty() ? "-" : m_lastOpened;
        line += "|" + path + "|";
        for (size_t i = 0; i < sheetNames.size(); ++i) {
            line += (i > 0 ? "," : "") + sheetNames[i];
        }
        World().readAheads.push_back(line);
    }
    Ref<automation::Workbook> OpenWorkbook(const std::string& path) override
    {
        m_lastOpened = path;
        Call("OpenWorkbook(" + path + ")");
        const auto* sheets = World().FileSheets(path);
        if (sheets == nullptr) {
            throw ServerError("\"" + path + "\": the file is not an Excel workbook.");
        }
        auto book = std::make_shared<FakeWorkbookState>();
        book->id = "W" + std::to_string(World().NextId());
        book->path = path;
        for (const auto& spec : *sheets) {
            auto s = std::make_shared<FakeSheetState>();
            s->name = spec.name;
            s->cols = spec.empty ? 1 : spec.cols;
            s->rows = spec.empty ? 1 : spec.rows;
            s->empty = spec.empty;
            s->contentRows = spec.contentRows < 0 ? s->rows : spec.contentRows;
            s->contentCols = spec.contentCols < 0 ? s->cols : spec.contentCols;
            s->outcome = spec.outcome;
            s->workbook = book.get();
            book->sheets.push_back(s);
        }
        m_state->workbooks.push_back(book);
        m_state->active = book;
        return Ref<automation::Workbook>(new FakeWorkbook(World(), m_state, book));
    }
    Ref<automation::Workbook> WorkbookAt(int32_t index) override
    {
        Call("WorkbookAt(" + std::to_string(index) + ")");
        if (index < 1 || index > static_cast<int32_t>(m_state->workbooks.size())) {
            throw ServerError("index out of range");
        }
        return Ref<automation::Workbook>(
            new FakeWorkbook(World(), m_state, m_state->workbooks[static_cast<size_t>(index - 1)]));
    }
    void Quit() override { Call("Quit()"); }
    int32_t SheetCount() override
    {
        Call("SheetCount()");
        return m_state->active ? static_cast<int32_t>(m_state->active->sheets.size()) : 0;
    }
    Ref<automation::Sheet> SheetAt(int32_t index) override
    {
        Call("SheetAt(" + std::to_string(index) + ")");
        if (!m_state->active || index < 1 || index > static_cast<int32_t>(m_state->active->sheets.size())) {
            throw ServerError("index out of range");
        }
        return Ref<automation::Sheet>(
            new FakeSheet(World(), m_state, m_state->active->sheets[static_cast<size_t>(index - 1)]));
    }

private:
    std::shared_ptr<ServerState> m_state;
    std::string m_lastOpened;
};

} // namespace

Ref<automation::SpreadsheetServer> FakeServerFactory::CreateServer()
{
    m_world.transcript.push_back("CreateServer()");
    if (m_world.serverUnavailable) {
        throw automation::ServerUnavailable("no server");
    }
    auto state = std::make_shared<ServerState>();
    state->id = "S" + std::to_string(m_world.NextId());
    return Ref<automation::SpreadsheetServer>(new FakeServer(m_world, state));
}

} // namespace gq::test
