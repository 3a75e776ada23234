// The program's view of a spreadsheet server: server, workbook, sheet and range objects with the
// operations the sheet listing and the merge call. The embedded server implements it over the
// engine; tests use a recording fake.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace gq::automation {

// A failure reported by the server; the message is the server's description.
class ServerError : public std::runtime_error {
public:
    explicit ServerError(const std::string& description);
};

// The server could not be created at all.
class ServerUnavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Strips trailing blanks and full stops from a server's description, as messages show it.
std::string CleanDescription(std::string description);

class AutomationObject {
public:
    virtual ~AutomationObject() = default;
    // Drops the reference that the caller held. The object must not be used afterwards.
    virtual void Release() noexcept = 0;
};

// Owns one reference to a server object. Release() drops it explicitly; a Ref that still holds its
// reference when it goes away drops it then, so clean-up happens on every path.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T* object) : m_object(object) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept
    {
        if (this != &other) {
            Release();
            m_object = std::exchange(other.m_object, nullptr);
        }
        return *this;
    }
    ~Ref() { Release(); }

    void Release() noexcept
    {
        if (m_object != nullptr) {
            std::exchange(m_object, nullptr)->Release();
        }
    }
    T* operator->() const { return m_object; }
    T& operator*() const { return *m_object; }
    T* Get() const { return m_object; }
    explicit operator bool() const { return m_object != nullptr; }

private:
    T* m_object = nullptr;
};

// What a paste changed so that its workbook can be saved in the format planned for it
// (Workbook::PlanSaveAs): nothing, for a paste that fits that format as it is.
struct PasteOutcome {
    std::vector<std::string> changes; // plain sentences for the report, e.g. "... dropped"
    uint64_t formatsMerged = 0;       // distinct cell formats that became a similar one already there
};

class Range : public AutomationObject {
public:
    virtual void Copy() = 0;                 // held for the next paste
    virtual PasteOutcome PasteSpecial() = 0; // pastes everything held, top-left at this range
    virtual int32_t RowCount() = 0;
    virtual int32_t ColumnCount() = 0;
    // The rows and columns of the range, from its top-left, that reach its last cell holding more
    // than formatting (a value, a merge, a link): what must fit where it is pasted. 0 when none.
    virtual int32_t ContentRowCount() = 0;
    virtual int32_t ContentColumnCount() = 0;
    // First row and column (1-based) of the range, for reports.
    virtual int32_t FirstRow() = 0;
    // True when nothing of the sheet's content falls within the range. An empty sheet's used range
    // still answers as A1, one row; this is how a caller tells it apart from a sheet holding only A1.
    virtual bool IsEmpty() = 0;
};

class Sheet : public AutomationObject {
public:
    virtual std::string Name() = 0;
    virtual void SetName(const std::string& name) = 0;
    virtual void Select() = 0;
    virtual Ref<Range> UsedRange() = 0;
    virtual Ref<Range> RangeAt(const std::string& address) = 0;
};

class Workbook : public AutomationObject {
public:
    virtual int32_t SheetCount() = 0;
    virtual Ref<Sheet> SheetAt(int32_t index) = 0; // from 1
    virtual Ref<Sheet> SheetByName(const std::string& name) = 0;
    virtual Ref<Sheet> AddSheet() = 0; // before the active sheet, made active
    // Says that the workbook will be saved as `path`: from then on pastes into it keep to what that
    // file's format holds and say what they changed, so that the save cannot fail for what was
    // pasted. Without it pastes keep to the xlsx format.
    virtual void PlanSaveAs(const std::string& path) = 0;
    virtual void SaveAs(const std::string& path) = 0;
    virtual void Close() = 0;
    // After SaveAs: one note per PasteSpecial into this workbook, in paste order, empty where
    // there is nothing to say, else one line on what of the paste could not be kept (formulas
    // kept as values, and why). A server that keeps everything or cannot tell gives none.
    virtual std::vector<std::string> PasteNotes() { return {}; }
    // After SaveAs: how many formulas it kept had no cached value, so that the saved file asks to
    // be computed when it is opened.
    virtual uint64_t FormulasWithoutResult() { return 0; }
};

class SpreadsheetServer : public AutomationObject {
public:
    virtual void SetDisplayAlerts(bool on) = 0;
    virtual void SetScreenUpdating(bool on) = 0;
    virtual void SetVisible(bool on) = 0;
    virtual Ref<Workbook> AddWorkbook() = 0;
    virtual Ref<Workbook> OpenWorkbook(const std::string& path) = 0; // made active
    virtual Ref<Workbook> WorkbookAt(int32_t index) = 0;             // from 1
    // Says which workbook the caller will open next, after the one it works on now, and which of
    // its sheets it will take, in that order: a server may read them ahead. Only a hint, which
    // never fails: OpenWorkbook and everything after it answer exactly as they would without it.
    virtual void ReadAhead(const std::string& /*path*/, const std::vector<std::string>& /*sheetNames*/) {}
    virtual void Quit() = 0;
    // These act on the active workbook.
    virtual int32_t SheetCount() = 0;
    virtual Ref<Sheet> SheetAt(int32_t index) = 0;
};

// Creates server instances: CreateServer throws ServerUnavailable when no server can be started.
class ServerFactory {
public:
    virtual ~ServerFactory() = default;
    virtual Ref<SpreadsheetServer> CreateServer() = 0;
};

} // namespace gq::automation
