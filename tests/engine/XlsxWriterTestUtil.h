// Helpers for the xlsx writer's tests: writing a model to memory, the schema validator, and the
// view of an output that openpyxl (an independent reader) has, as JSON lines from xlsx_dump.py.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/io/Bytes.h"
#include "engine/model/Workbook.h"
#include "engine/xlsx/XlsxWriter.h"
#include "tests/support/Json.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace gq::test::xlsxw {

inline std::vector<uint8_t> WriteToMemory(engine::Workbook& book, const engine::XlsxWriteOptions& options = {})
{
    engine::MemorySink sink;
    engine::WriteXlsx(book, sink, options);
    return std::move(sink.Bytes());
}

inline bool HaveOpenpyxl()
{
    return HavePython("openpyxl, lxml");
}

inline bool HaveValidator()
{
    return std::filesystem::exists(GQ_VALIDATE_XLSX) && HaveOpenpyxl();
}

// Runs the ECMA-376 schema and consistency validator; gives its report when the file fails.
inline ::testing::AssertionResult PassesValidator(const std::string& path)
{
    std::string out;
    int rc = RunCommand(std::string(GQ_VALIDATE_XLSX) + " -q " + ShellQuote(path), out);
    if (rc == 0) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "validate-xlsx exit " << rc << ":\n" << out;
}

// What openpyxl sees: the dump's lines, as a set for lookups and in order for sequences.
struct OpenpyxlView {
    std::set<std::string> lines;
    std::vector<std::string> ordered;
    std::string errors;
    bool Has(const std::string& line) const { return lines.count(line) != 0; }
    // Lines that begin like `prefix`, for failure messages.
    std::string Near(const std::string& prefix) const
    {
        std::string text;
        for (const auto& l : ordered) {
            if (l.compare(0, prefix.size(), prefix) == 0) {
                text += "  " + l + "\n";
            }
        }
        return text.empty() ? "  (nothing)\n" : text;
    }
};

inline OpenpyxlView OpenpyxlDump(const std::string& path)
{
    std::string script = std::string(GQ_SOURCE_DIR) + "/tests/engine/xlsx_dump.py";
    std::string out;
    int rc = RunCommand("PYTHONIOENCODING=utf-8 /usr/bin/python3 " + ShellQuote(script) + " " + ShellQuote(path), out);
    OpenpyxlView view;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) {
            end = out.size();
        }
        std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line[0] == '[') {
            view.lines.insert(line);
            view.ordered.push_back(line);
        } else if (!line.empty()) {
            view.errors += line + "\n";
        }
    }
    if (rc != 0) {
        view.errors += "exit status " + std::to_string(rc);
    }
    return view;
}

// The line is in the dump; on failure, shows the dump's lines for the same place.
inline ::testing::AssertionResult HasLine(const OpenpyxlView& view, const std::string& line)
{
    if (view.Has(line)) {
        return ::testing::AssertionSuccess();
    }
    // The prefix up to the place: ["kind",sheet,"ref" or ["kind",index.
    size_t cut = line.find(',', line.find(',') + 1);
    cut = line.find(',', cut + 1);
    return ::testing::AssertionFailure() << "missing " << line << "\nnear:\n" << view.Near(line.substr(0, cut));
}

} // namespace gq::test::xlsxw
