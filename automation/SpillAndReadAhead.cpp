// The embedded server's policies for setting rows aside, staging them and reading ahead.
// SPDX-License-Identifier: Apache-2.0
#include "automation/SpillAndReadAhead.h"

#include "automation/ReadAhead.h"
#include "engine/SaveStaging.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace gq::automation {

bool ReadAheadWanted(ReadAheadMode mode)
{
    if (mode != ReadAheadMode::Auto) {
        return mode == ReadAheadMode::On;
    }
    if (const char* setting = std::getenv("GQ_READ_AHEAD")) {
        const std::string value(setting);
        if (value == "0" || value == "1") {
            return value == "1";
        }
    }
    double load[1] = {0};
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    return cores > 1 && ::getloadavg(load, 1) == 1 && load[0] < static_cast<double>(cores) - 1.0;
}

bool WorthReadingAhead(const std::optional<FileKey>& key, const WorkbookCache& cache)
{
    return key && key->size <= WorkbookReadAhead::kMaxFileBytes && !cache.Find(*key);
}

void PrepareSpillAndStaging(engine::Workbook& model, const std::string& path, engine::FileFormat format)
{
    // Rows set aside while the workbook is built go beside where it will be saved.
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(path, error);
    const std::string folder = error ? std::string() : full.parent_path().string();
    model.SetSpillFolder(folder);
    // An xlsx output has its finished rows compressed while the merge goes on. Without a thread for
    // that (none can be started) the save compresses everything, as it can.
    engine::StartSaveStaging(model, format, folder);
}

void SpillFinishedRows(ServerBook& book, uint64_t sheetId, size_t index, uint32_t row)
{
    const bool again = book.lastPastedSheet && *book.lastPastedSheet == sheetId;
    const bool another = book.lastPastedSheet && !again;
    if (another) {
        if (std::optional<size_t> previous = book.IndexOf(*book.lastPastedSheet, book.lastPastedHint)) {
            // Followed first, so that the rows it still holds go to the stager as they are spilled
            // rather than being read back from the spill file.
            book.model->StageRowsInAnyOrder(*previous);
            book.model->SpillRows(*previous);
        }
    }
    book.lastPastedSheet = sheetId;
    book.lastPastedHint = index;
    book.model->SpillRows(index, row);
    if (again) {
        book.model->StageRows(index);
    } else if (another) {
        book.model->StageRowsInAnyOrder(index);
    }
}

} // namespace gq::automation
