// The sentences a paste gives the merge report about what it changed to fit the output format.
// SPDX-License-Identifier: Apache-2.0
#include "automation/PasteReport.h"

#include "common/NumberText.h"

namespace gq::automation {

namespace {

std::string Plural(uint64_t n, const char* one, const char* many)
{
    return (n == 1 ? std::string("one ") + one : Thousands(n) + " " + many);
}

} // namespace

std::vector<std::string> PasteNotes::Sentences(const engine::OutputFormat& output) const
{
    const std::string file = output.fileWords;
    std::vector<std::string> out;
    if (formattingDropped) {
        out.push_back("formatting beyond column " + engine::ColumnName(output.grid.columns - 1) + " / row " +
                      Thousands(output.grid.rows) + " dropped");
    }
    if (generalCells > 0) {
        out.push_back(Plural(generalCells, "cell shows", "cells show") +
                      " as General because its number format is longer than the " +
                      Thousands(output.maxNumberFormatChars) + " characters " + file + " holds");
    }
    if (droppedLinks > 0) {
        out.push_back(Plural(droppedLinks, "hyperlink was", "hyperlinks were") + " left out because " + file +
                      " cannot store a link that long");
    }
    return out;
}

} // namespace gq::automation
