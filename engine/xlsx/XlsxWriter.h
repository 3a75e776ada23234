// Writes the workbook model as an xlsx package.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"

namespace gq::engine {

struct XlsxWriteOptions {
    int level = 1;        // zlib level: the output writer is the hot path, 1 is fast and still small
    int threads = -1;     // deflate threads beside the caller's; -1: as many as the machine has, up to 4
};

// Throws LimitError when the content does not fit xlsx (grid, text length, cell formats, sheet
// names), IoError when the sink fails. Identical workbooks give identical bytes, whatever the
// number of threads.
void WriteXlsx(Workbook& workbook, ByteSink& sink);
void WriteXlsx(Workbook& workbook, ByteSink& sink, const XlsxWriteOptions& options);

} // namespace gq::engine
