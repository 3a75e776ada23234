// The embedded server's policies for memory and time: when the rows a merge has finished are set
// aside on disk and staged for the save, and when the next workbook is read ahead.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/WorkbookCache.h"
#include "engine/WorkbookFile.h"
#include "engine/model/Workbook.h"

#include <cstdint>
#include <optional>
#include <string>

namespace gq::automation {

// Whether a server reads the workbook named by ReadAhead on a second thread (ReadAhead.h). Auto:
// the environment variable GQ_READ_AHEAD decides when it is "0" (off) or "1" (on), for comparing
// what a merge writes and how long it takes either way; otherwise it is on when the machine has a
// core to spare as the server starts (a load average below the number of cores less one). A second
// thread gains only on a free core: on a machine whose cores are all busy, reading ahead was
// measured to gain no time and to cost about 8% more CPU time (bench/README.md).
enum class ReadAheadMode { Auto, On, Off };

// Whether a server made with `mode` reads ahead, as ReadAheadMode says.
bool ReadAheadWanted(ReadAheadMode mode);

// Whether the workbook of a file with `key` is worth reading ahead: not when the file cannot be
// examined, when the cache holds it already (nothing to gain), nor when it is too large to be
// held twice (WorkbookReadAhead::kMaxFileBytes).
bool WorthReadingAhead(const std::optional<FileKey>& key, const WorkbookCache& cache);

// Gets the model of a workbook to be saved at `path` in `format` ready for the merge that builds
// it: the rows it sets aside go beside where it will be saved, and the engine starts staging its
// finished rows for the save where the format has a stager.
void PrepareSpillAndStaging(engine::Workbook& model, const std::string& path, engine::FileFormat format);

// Moves what a paste into sheet `sheetId` at row `row` no longer touches out of memory: every row
// of the sheet pasted into before, when it is another sheet (a multi-sheet merge has finished it),
// and the rows above `row` (a single-sheet merge stacks below them). The rows come back, through
// Workbook::Sheet, for anything that needs them; the writers stream them from the spill file.
//
// Rows set aside for good are also offered to the workbook's row stager, which compresses them for
// the save while the merge reads on. A paste into the sheet pasted into before (a single-sheet
// merge stacking its blocks) offers the rows above it, which the stager takes in the order the save
// writes the sheets, so that the saved file is what it would be without staging. A paste into
// another sheet (a multi-sheet merge, which adds each sheet before the one it left) offers every
// row of the sheet left, and the rows of the sheet pasted into as the paste sets them aside: those
// the stager takes in the order the sheets are finished.
void SpillFinishedRows(ServerBook& book, uint64_t sheetId, size_t index, uint32_t row);

} // namespace gq::automation
