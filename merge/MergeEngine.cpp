// The merge engine: set-up, the loop over the merge list from last to first, and the finishing
// steps that save the new workbook and end the server.
// SPDX-License-Identifier: Apache-2.0
#include "merge/MergeEngine.h"

#include "automation/OutputCapacity.h"
#include "catalogue/SheetListing.h"
#include "common/NumberText.h"
#include "merge/OutputChoice.h"
#include "merge/SheetExists.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <map>
#include <optional>
#include <tuple>
#include <utility>

namespace gq::merge {

using automation::Ref;

namespace {

std::string MessageOf(const std::exception_ptr& failure)
{
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "unknown failure";
    }
}

std::string WithNumber(int64_t n)
{
    return Thousands(n);
}

// "1 row", "2 rows": a count with its noun in the number the count asks for.
std::string Counted(int64_t n, const char* one, const char* many)
{
    return WithNumber(n) + " " + (n == 1 ? one : many);
}

std::string GridText(const automation::OutputCapacity& output)
{
    return output.sheetWords + " (" + WithNumber(output.rows) + " rows x " + WithNumber(output.columns) + " columns)";
}

// What one entry was doing when it failed, so the report can say why in plain words.
enum class Stage { Opening, FindingSheet, Copying, ReadingNames, Adding, Pasting, Renaming, Closing };

std::string ReasonFor(Stage stage, const std::string& message)
{
    switch (stage) {
    case Stage::Opening:
        return "the workbook could not be opened: " + message;
    case Stage::FindingSheet:
        return "the workbook has no sheet of that name (" + message + ")";
    case Stage::Copying:
        return "the sheet could not be copied: " + message;
    case Stage::ReadingNames:
        return "the names of the output's sheets could not be read, so no sheet was added for it: " + message;
    case Stage::Adding:
        return "no sheet could be added to the output: " + message;
    case Stage::Pasting:
        return "its content could not be copied into the output: " + message;
    case Stage::Renaming:
    case Stage::Closing:
        break;
    }
    return message;
}

// The workbook the merge opens after the one of entry `index`, and the sheets it takes from it in
// merge order, when `index` is the first of its workbook's entries (the merge goes from the last
// entry to the first, and entries of one workbook usually follow each other). Looks only at the two
// runs of entries involved, so a whole merge costs time linear in its entries.
struct NextWorkbook {
    std::string path;
    std::vector<std::string> sheetNames;
};

std::optional<NextWorkbook> NextWorkbookAfter(const std::vector<catalogue::SheetEntry>& list, size_t index)
{
    const std::string& current = list[index].FileName;
    if (index + 1 < list.size() && list[index + 1].FileName == current) {
        return std::nullopt;
    }
    size_t next = index;
    while (next > 0 && list[next - 1].FileName == current) {
        --next;
    }
    if (next == 0) {
        return std::nullopt;
    }
    NextWorkbook out{list[next - 1].FileName, {}};
    for (size_t i = next; i-- > 0 && list[i].FileName == out.path;) {
        out.sheetNames.push_back(list[i].SheetName);
    }
    return out;
}

class Merger {
public:
    Merger(automation::SpreadsheetServer& server, automation::Workbook& book, automation::Sheet* target,
           const automation::OutputCapacity& output, MergeReport& report)
        : m_server(server), m_book(book), m_target(target), m_output(output), m_report(report)
    {
    }

    // Merges one entry; absorbs its failures. Only a failing close of its workbook while a
    // failure is handled leaves this function.
    void MergeEntry(size_t index, const catalogue::SheetEntry& entry)
    {
        if (std::optional<std::string> missing = WhyNotAFile(entry.FileName)) {
            Skip(index, entry, *missing);
            return;
        }
        Ref<automation::Workbook> source;
        Stage stage = Stage::Opening;
        // What a failure of this entry's paste or rename means; set by the paste, so that no
        // entry is ever reported with what happened to an earlier one.
        m_pasteReason.clear();
        m_renameReason.clear();
        m_changes.clear();
        try {
            source = m_server.OpenWorkbook(entry.FileName);
            stage = Stage::FindingSheet;
            {
                Ref<automation::Sheet> sheet = source->SheetByName(entry.SheetName);
                stage = Stage::Copying;
                sheet->Select();
            }
            int32_t rows = 0;
            int32_t cols = 0;
            bool empty = false;
            {
                Ref<automation::Sheet> sheet = source->SheetByName(entry.SheetName);
                Ref<automation::Range> used = sheet->UsedRange();
                used->Copy();
                rows = used->RowCount();
                cols = used->ColumnCount();
                // Only stacking cares: an empty sheet still gets its own sheet in multi-sheet mode.
                empty = m_target != nullptr && used->IsEmpty();
            }
            if (m_target == nullptr) {
                PasteAsNewSheet(index, entry, *source, rows, cols, stage);
            } else if (!empty) {
                PasteBelow(index, entry, *source, rows, cols, stage);
            }
            stage = Stage::Closing;
            source->Close();
            source.Release();
            if (!m_changes.empty()) {
                m_changed.emplace_back(index, m_changes);
            }
        } catch (...) {
            std::exception_ptr failure = std::current_exception();
            if (stage == Stage::Pasting && !m_pasteReason.empty()) {
                Skip(index, entry, ReasonFor(stage, MessageOf(failure)) + m_pasteReason);
            } else if (stage == Stage::Renaming) {
                Skip(index, entry,
                     (m_renameReason.empty() ? std::string("the sheet was merged, but it could not be renamed: ")
                                             : m_renameReason) +
                         MessageOf(failure));
            } else if (stage != Stage::Closing) {
                Skip(index, entry, ReasonFor(stage, MessageOf(failure)));
            }
            // Closed once more when the close itself failed; a failure now is not absorbed.
            if (source) {
                source->Close();
            }
        }
    }

private:
    // Why a path in the merge list no longer leads to a workbook file, or nothing when it does.
    static std::optional<std::string> WhyNotAFile(const std::string& path)
    {
        std::error_code ec;
        const std::filesystem::file_status status = std::filesystem::status(path, ec);
        if (ec && ec != std::errc::no_such_file_or_directory) {
            return "the workbook file cannot be reached: " + ec.message();
        }
        switch (status.type()) {
        case std::filesystem::file_type::regular:
            return std::nullopt;
        case std::filesystem::file_type::not_found:
            return "the workbook file no longer exists";
        case std::filesystem::file_type::directory:
            return "a folder now stands where the workbook file was";
        default:
            return "something other than a file (a pipe or a device) now stands where the workbook file was";
        }
    }

    // The rows and columns of the entry's used range that hold more than formatting: what must fit
    // where it is pasted when the whole used range does not (the paste leaves out formatting
    // beyond the grid and says so).
    static std::pair<int32_t, int32_t> ContentSize(automation::Workbook& source, const catalogue::SheetEntry& entry)
    {
        Ref<automation::Sheet> sheet = source.SheetByName(entry.SheetName);
        Ref<automation::Range> used = sheet->UsedRange();
        return {used->ContentRowCount(), used->ContentColumnCount()};
    }

    void PasteAsNewSheet(size_t index, const catalogue::SheetEntry& entry, automation::Workbook& source, int32_t rows,
                         int32_t cols, Stage& stage)
    {
        if (rows > MaxRows() || cols > MaxColumns()) {
            std::tie(rows, cols) = ContentSize(source, entry);
            if (rows > MaxRows() || cols > MaxColumns()) {
                Skip(index, entry,
                     "its content (" + Counted(rows, "row", "rows") + " x " + Counted(cols, "column", "columns") +
                         ") does not fit " + GridText(m_output));
                return;
            }
        }
        stage = Stage::ReadingNames;
        OutputSheetNames& names = Names();
        stage = Stage::Adding;
        Ref<automation::Sheet> sheet = m_book.AddSheet();
        const std::string addedName = sheet->Name();
        names.Add(addedName);
        stage = Stage::Pasting;
        // The added sheet stays in the output when the paste fails, and the report says so.
        m_pasteReason = "; the output keeps an empty sheet \"" + addedName + "\" in its place";
        {
            Ref<automation::Range> cell = sheet->RangeAt("A1");
            Note(cell->PasteSpecial());
            m_pasted.push_back(index);
        }
        stage = Stage::Renaming;
        std::string newName = entry.SheetName;
        if (names.Exists(entry.SheetName)) {
            newName = entry.SheetName + addedName;
        }
        m_renameReason = "the sheet was merged, but the name \"" + newName + "\" was refused";
        try {
            sheet->SetName(newName);
            names.Remove(addedName);
            names.Add(newName);
        } catch (...) {
            // Say which name the sheet kept, when the server still answers.
            try {
                m_renameReason = "the sheet was merged under the name \"" + sheet->Name() + "\" because the name \"" +
                                 newName + "\" was refused";
            } catch (...) {
            }
            m_renameReason += ": ";
            throw;
        }
    }

    void PasteBelow(size_t index, const catalogue::SheetEntry& entry, automation::Workbook& source, int32_t rows,
                    int32_t cols, Stage& stage)
    {
        stage = Stage::Pasting;
        int32_t usedRows = 0;
        int32_t usedFirst = 1;
        bool targetEmpty = true;
        {
            Ref<automation::Range> used = m_target->UsedRange();
            usedRows = used->RowCount();
            usedFirst = used->FirstRow();
            targetEmpty = used->IsEmpty();
        }
        // The first block with content goes to A1, every later one to the row after the last used
        // row, so a block never covers an earlier one. The target's own answer decides, because an
        // empty target still reports A1 as its used range.
        const int64_t start = targetEmpty ? 1 : static_cast<int64_t>(usedFirst) + usedRows;
        if (start + rows - 1 > MaxRows() || cols > MaxColumns()) {
            std::tie(rows, cols) = ContentSize(source, entry);
        }
        if (start > m_output.lastStackStartRow || start + rows - 1 > MaxRows() || cols > MaxColumns()) {
            Skip(index, entry,
                 "its content (" + Counted(rows, "row", "rows") + " x " + Counted(cols, "column", "columns") +
                     ") does not fit below row " + WithNumber(start - 1) + " of " + GridText(m_output));
            return;
        }
        Ref<automation::Range> cell = m_target->RangeAt("A" + std::to_string(start));
        Note(cell->PasteSpecial());
        m_pasted.push_back(index);
    }

    // Keeps what a paste changed to fit the output's format, for the entry's line in the report.
    void Note(const automation::PasteOutcome& outcome)
    {
        for (const std::string& change : outcome.changes) {
            m_changes += (m_changes.empty() ? "" : "; ") + change;
        }
        m_formatsMerged += outcome.formatsMerged;
    }

    int64_t MaxRows() const { return m_output.rows; }
    int64_t MaxColumns() const { return m_output.columns; }

    void Skip(size_t index, const catalogue::SheetEntry& entry, std::string reason)
    {
        m_report.skipped.push_back(SkippedEntry{entry, std::move(reason)});
        m_indexes.push_back(index);
    }

    // The output's sheet names, read before the first sheet is added.
    OutputSheetNames& Names()
    {
        if (!m_names) {
            m_names.emplace(m_book);
        }
        return *m_names;
    }

    automation::SpreadsheetServer& m_server;
    automation::Workbook& m_book;
    std::optional<OutputSheetNames> m_names;
    automation::Sheet* m_target;
    automation::OutputCapacity m_output;
    MergeReport& m_report;
    std::string m_pasteReason;
    std::string m_renameReason;
    std::string m_changes; // what the entry's paste changed to fit the output's format

public:
    std::vector<size_t> m_indexes; // merge-list position of each skipped entry
    uint64_t m_formatsMerged = 0;  // over the whole merge
    std::vector<size_t> m_pasted;  // merge-list position of each entry pasted, in paste order
    // Per merged entry (merge-list position), what its paste changed to fit the output's format.
    std::vector<std::pair<size_t, std::string>> m_changed;
};

} // namespace

size_t MaxMergeEntries(const std::string& outputPath, bool multiSheet)
{
    const automation::OutputCapacity output = automation::OutputCapacityFor(outputPath);
    if (!multiSheet) {
        return std::min(output.lastStackStartRow, output.rows);
    }
    return output.maxSheets - 1;
}

MergeReport MergeSheets(const std::vector<catalogue::SheetEntry>& mergeList, const std::string& outputPath,
                        bool multiSheet, automation::ServerFactory& servers, UserPrompts& prompts)
{
    MergeReport report;
    Ref<automation::SpreadsheetServer> server;
    try {
        server = servers.CreateServer();
    } catch (const automation::ServerUnavailable&) {
        prompts.ShowMessage(catalogue::kNoServerMessage);
        report.serverMissing = true;
        return report;
    }

    const automation::OutputCapacity output = automation::OutputCapacityFor(outputPath);
    Ref<automation::Workbook> book;
    Ref<automation::Sheet> target;
    std::optional<HourglassGuard> hourglass;
    std::exception_ptr failure;
    std::vector<size_t> indexes;
    uint64_t formatsMerged = 0;
    std::vector<size_t> pasted;
    std::vector<std::pair<size_t, std::string>> changed;
    try {
        server->SetDisplayAlerts(false);
        server->SetScreenUpdating(false);
        server->SetVisible(false);
        book = server->AddWorkbook();
        book->PlanSaveAs(outputPath);
        if (!multiSheet) {
            target = book->AddSheet();
        }
        hourglass.emplace(prompts);
        Merger merger(*server, *book, target.Get(), output, report);
        struct KeepIndexes {
            Merger& merger;
            std::vector<size_t>& out;
            uint64_t& formatsMerged;
            std::vector<size_t>& pastes;
            std::vector<std::pair<size_t, std::string>>& changed;
            // Moved, not copied: a destructor that allocates would end the program when the merge
            // is being left because memory ran out.
            ~KeepIndexes()
            {
                out = std::move(merger.m_indexes);
                formatsMerged = merger.m_formatsMerged;
                pastes = std::move(merger.m_pasted);
                changed = std::move(merger.m_changed);
            }
        } keep{merger, indexes, formatsMerged, pasted, changed};
        size_t workbooks = 0;
        for (size_t i = mergeList.size(); i-- > 0;) {
            // The user may stop the merge before any entry; nothing is saved then.
            if (prompts.StopRequested()) {
                report.stopped = true;
                break;
            }
            // Reading takes most of a merge's time and pasting little, so the two cores read side
            // by side: before every other workbook is opened here, the server is told of the one
            // after it, which it may read on its second thread meanwhile.
            if (workbooks % 2 == 0) {
                if (std::optional<NextWorkbook> next = NextWorkbookAfter(mergeList, i)) {
                    server->ReadAhead(next->path, next->sheetNames);
                }
            }
            if (i + 1 == mergeList.size() || mergeList[i + 1].FileName != mergeList[i].FileName) {
                ++workbooks;
            }
            merger.MergeEntry(i, mergeList[i]);
        }
    } catch (...) {
        failure = std::current_exception();
    }

    // Finishing: as far as the steps get; every reference is dropped on every path, and a failure
    // here wins over an earlier one.
    target.Release();
    if (hourglass) {
        hourglass->Restore();
    }
    server->SetScreenUpdating(true);
    if (book) {
        // The last chance to stop: a stopped merge closes its workbook unsaved, so no file is
        // written and an existing file at the output path stays as it was.
        if (!report.stopped && prompts.StopRequestedBeforeSave()) {
            report.stopped = true;
        }
        if (!report.stopped) {
            book->SaveAs(outputPath);
            // What each entry's paste changed to fit the format, and what of its formulas the saved
            // workbook could not keep (the server notes its pastes in order): one line per entry.
            std::vector<std::string> formulaNotes = book->PasteNotes();
            std::map<size_t, std::string> noted;
            for (auto& [index, change] : changed) {
                noted[index] = std::move(change);
            }
            for (size_t i = 0; i < formulaNotes.size() && i < pasted.size(); ++i) {
                if (!formulaNotes[i].empty()) {
                    std::string& line = noted[pasted[i]];
                    line += (line.empty() ? "" : "; ") + formulaNotes[i];
                }
            }
            for (auto& [index, note] : noted) {
                report.notes.push_back(SkippedEntry{mergeList[index], "the sheet was merged, but " + std::move(note)});
            }
            if (const uint64_t uncached = book->FormulasWithoutResult(); uncached > 0) {
                report.remarks.push_back((uncached == 1
                                              ? std::string("One formula had")
                                              : WithNumber(static_cast<int64_t>(uncached)) + " formulas had") +
                                         " no stored result: the output asks to be computed when it is opened");
            }
        }
        book->Close();
        book.Release();
    }
    server->Quit();
    server.Release();
    if (failure) {
        std::rethrow_exception(failure);
    }

    // Report in merge-list order.
    std::vector<size_t> order(report.skipped.size());
    for (size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return indexes[a] < indexes[b]; });
    std::vector<SkippedEntry> sorted;
    sorted.reserve(order.size());
    for (size_t i : order) {
        sorted.push_back(std::move(report.skipped[i]));
    }
    report.skipped = std::move(sorted);
    if (formatsMerged > 0) {
        report.outputNotes.push_back(
            WithNumber(static_cast<int64_t>(formatsMerged)) + " formats merged with similar ones: " + output.fileWords +
            " holds at most " + WithNumber(static_cast<int64_t>(output.maxCellFormats)) + " distinct cell formats");
    }
    return report;
}

void ShowCompletion(UserPrompts& prompts, const MergeReport& report)
{
    if (report.skipped.empty() && report.notes.empty() && report.outputNotes.empty() && report.remarks.empty()) {
        prompts.ShowMessage(kMergeCompleted);
        return;
    }
    constexpr size_t kShownInText = 8;
    std::string details;
    std::string text = std::string(kMergeCompleted) + "\n";
    for (const std::string& note : report.remarks) {
        details += note + "\n";
        text += "\n" + note + "\n";
    }
    for (const std::string& note : report.outputNotes) {
        details += note + "\n";
        text += "\n" + note + "\n";
    }
    auto list = [&](const std::vector<SkippedEntry>& entries, const char* one, const char* many) {
        if (entries.empty()) {
            return;
        }
        for (const SkippedEntry& s : entries) {
            details += "\"" + s.entry.SheetName + "\" in " + s.entry.FileName + ": " + s.reason + "\n";
        }
        const size_t n = entries.size();
        text += "\n" + (n == 1 ? std::string(one) : WithNumber(static_cast<int64_t>(n)) + many) + "\n";
        for (size_t i = 0; i < n && i < kShownInText; ++i) {
            const SkippedEntry& s = entries[i];
            text += "\u2022 \"" + s.entry.SheetName + "\" in " + s.entry.FileName + ": " + s.reason + "\n";
        }
        if (n > kShownInText) {
            text += "... and " + WithNumber(static_cast<int64_t>(n - kShownInText)) + " more (see the details).\n";
        }
    };
    // Skipped entries were not merged at all; the sheets merged in part are the ones with notes.
    list(report.skipped, "One sheet was not merged:", " sheets were not merged:");
    list(report.notes, "One sheet was merged with changes:", " sheets were merged with changes:");
    prompts.ShowMessage(text, details);
}

void MergeCommand(const std::vector<catalogue::SheetEntry>& mergeList, bool multiSheet,
                  automation::ServerFactory& servers, UserPrompts& prompts, const MergeRunner& runMerge)
{
    if (mergeList.empty()) {
        prompts.ShowMessage(kNothingToMerge);
        return;
    }
    const std::string path = ChooseOutputFile(prompts, kOutputExtension, kOutputFilter, "");
    if (path.empty()) {
        return;
    }
    if (std::optional<std::string> problem = WhyOutputCannotBeCreated(path)) {
        prompts.ShowError(*problem);
        return;
    }
    auto merge = [&] { return MergeSheets(mergeList, path, multiSheet, servers, prompts); };
    const MergeReport report = runMerge ? runMerge(merge) : merge();
    // A merge the user stopped needs no report: the user knows, and nothing was saved.
    if (!report.serverMissing && !report.stopped) {
        ShowCompletion(prompts, report);
    }
}

} // namespace gq::merge
