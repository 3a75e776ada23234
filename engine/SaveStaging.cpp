// Starting a save's work early: the xlsx row stager, started for the workbook it stages.
// SPDX-License-Identifier: Apache-2.0
#include "engine/SaveStaging.h"

#include "engine/xlsx/XlsxRowStager.h"
#include "engine/xlsx/XlsxWriter.h"

#include <exception>
#include <memory>

namespace gq::engine {

void StartSaveStaging(Workbook& workbook, FileFormat format, const std::string& folder)
{
    workbook.SetRowStager(nullptr);
    if (format != FileFormat::Xlsx) {
        return;
    }
    try {
        XlsxRowStager::Options options;
        // The save takes staged rows only when they were compressed at its own level.
        options.level = XlsxWriteOptions{}.level;
        options.folder = folder;
        workbook.SetRowStager(std::make_shared<XlsxRowStager>(workbook, options));
    } catch (const std::exception&) {
    }
}

} // namespace gq::engine
