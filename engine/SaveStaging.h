// Starting a save's work early: what the save of a workbook still being built can prepare while
// the workbook grows.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/WorkbookFile.h"
#include "engine/model/Workbook.h"

#include <string>

namespace gq::engine {

// Gets `workbook` ready to be saved in `format`: for an xlsx output a row stager takes the rows the
// workbook sets aside for good and compresses them on a thread of its own, for the save to copy,
// with its temporary file in `folder` (empty: the temporary folder). Any stager started before is
// dropped first. Staging is only ever a head start: a format without one, or a stager that cannot
// start (no thread, no memory), leaves the save to compress everything itself, with the same
// bytes as a result. Never throws for want of a stager.
void StartSaveStaging(Workbook& workbook, FileFormat format, const std::string& folder);

} // namespace gq::engine
