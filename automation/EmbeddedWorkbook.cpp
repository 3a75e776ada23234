// The workbook handle of the embedded server: its sheets, adding sheets, and saving.
// SPDX-License-Identifier: Apache-2.0
#include "automation/EmbeddedState.h"
#include "automation/Paste.h"
#include "automation/SheetNames.h"
#include "automation/SpillAndReadAhead.h"
#include "engine/StageTimes.h"
#include "engine/WorkbookFile.h"

#include <algorithm>
#include <unordered_map>

namespace gq::automation::embedded {

namespace {

class WorkbookHandle : public Workbook {
public:
    WorkbookHandle(StatePtr state, EntryPtr entry) : m_state(std::move(state)), m_entry(std::move(entry)) {}

    void Release() noexcept override { delete this; }

    int32_t SheetCount() override
    {
        return Guarded([&] { return static_cast<int32_t>(m_state->BookOf(*m_entry).sheetIds.size()); });
    }

    Ref<Sheet> SheetAt(int32_t index) override
    {
        return Guarded([&] { return SheetAtIndex(m_state, m_entry, index); });
    }

    Ref<Sheet> SheetByName(const std::string& name) override
    {
        return Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            if (const SheetNameIndex::Entry* found = book.names.Find(name)) {
                size_t index = SheetIndex(book, found->id, found->position);
                return NewSheetHandle(m_state, m_entry, found->id, index);
            }
            throw ServerError("There is no sheet named \"" + name + "\" in the workbook");
        });
    }

    Ref<Sheet> AddSheet() override
    {
        return Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            engine::Workbook& model = *book.model;
            std::string name = NextSheetName(book.names, book.lastAddedSheetNumber);
            size_t position = std::min(model.ActiveSheet(), model.SheetCount());
            book.MarkModified();
            m_state->cache.Forget(&book);
            model.InsertSheet(position, name);
            uint64_t id = book.nextSheetId++;
            book.sheetIds.insert(book.sheetIds.begin() + static_cast<std::ptrdiff_t>(position), id);
            book.names.Add(name, id);
            model.SetActiveSheet(position);
            return NewSheetHandle(m_state, m_entry, id, position);
        });
    }

    void PlanSaveAs(const std::string& path) override
    {
        Guarded([&] {
            ServerBook& book = m_state->BookOf(*m_entry);
            book.saveLimits = engine::OutputFormatFor(path);
            PrepareSpillAndStaging(*book.model, path, book.saveLimits.format);
        });
    }

    void SaveAs(const std::string& path) override
    {
        Guarded([&] {
            engine::StageTimer timer(engine::Stage::Write);
            ServerBook& book = m_state->BookOf(*m_entry);
            const engine::OutputFormat& output = engine::OutputFormatFor(path);
            if (std::string tooLarge = output.FindSheetTooLarge(*book.model); !tooLarge.empty()) {
                throw ServerError(tooLarge);
            }
            // Saving ends the copy, as in office suites: a copied block of a closed workbook would
            // otherwise stay in memory through the whole save of a merge's large output.
            m_state->clipboard.reset();
            // Resolve what the pastes brought in, and say what could not stay a formula.
            if (!book.pastes.empty()) {
                std::unordered_map<uint64_t, size_t> indexOfId;
                indexOfId.reserve(book.sheetIds.size());
                for (size_t i = 0; i < book.sheetIds.size(); ++i) {
                    indexOfId.emplace(book.sheetIds[i], i);
                }
                book.pasteNotes = ResolvePastedFormulas(
                    *book.model, book.pastes,
                    [&indexOfId](uint64_t id) {
                        auto it = indexOfId.find(id);
                        return it == indexOfId.end() ? std::nullopt : std::optional<size_t>(it->second);
                    },
                    output, &book.uncachedFormulas);
                book.pastes.clear();
            }
            if (m_state->held) {
                m_state->held->Put(std::make_unique<engine::UnnamedWorkbookFile>(*book.model, path));
            } else {
                engine::SaveWorkbookFile(*book.model, path);
            }
        });
    }

    void Close() override
    {
        Guarded([&] {
            m_state->BookOf(*m_entry);
            m_state->Close(m_entry);
        });
    }

    std::vector<std::string> PasteNotes() override
    {
        return Guarded([&] { return m_state->BookOf(*m_entry).pasteNotes; });
    }

    uint64_t FormulasWithoutResult() override
    {
        return Guarded([&] { return m_state->BookOf(*m_entry).uncachedFormulas; });
    }

    engine::Workbook* Model() const { return m_entry->book && m_state->running ? m_entry->book->model.get() : nullptr; }

private:
    StatePtr m_state;
    EntryPtr m_entry;
};

} // namespace

Ref<Workbook> NewWorkbookHandle(const StatePtr& state, const EntryPtr& entry)
{
    return Ref<Workbook>(new WorkbookHandle(state, entry));
}

} // namespace gq::automation::embedded

namespace gq::automation {

engine::Workbook* ModelOf(Workbook& workbook)
{
    auto* handle = dynamic_cast<embedded::WorkbookHandle*>(&workbook);
    return handle != nullptr ? handle->Model() : nullptr;
}

} // namespace gq::automation
