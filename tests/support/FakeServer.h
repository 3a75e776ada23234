// A recording fake of the spreadsheet server: every call on every object is written to a transcript,
// and any call can be made to fail, so tests can check the exact call order, the absorbed failures
// and the clean-up of the sheet listing and the merge.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "automation/SpreadsheetServer.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace gq::test {

// One worksheet as the fake knows it: a name and the size of its used range.
struct FakeSheetSpec {
    std::string name;
    int32_t rows = 1;
    int32_t cols = 1;
    bool empty = false; // answers its used range as A1, one row, and says it is empty
    // The part of the used range that holds more than formatting (-1: all of it), and what a paste
    // of the sheet says it changed to fit the output's format.
    int32_t contentRows = -1;
    int32_t contentCols = -1;
    automation::PasteOutcome outcome{};
};

class FakeWorld;

class FakeServerFactory : public automation::ServerFactory {
public:
    explicit FakeServerFactory(FakeWorld& world) : m_world(world) {}
    automation::Ref<automation::SpreadsheetServer> CreateServer() override;

private:
    FakeWorld& m_world;
};

// The files the fake can open, the failures to inject and the transcript of calls.
class FakeWorld {
public:
    // Makes OpenWorkbook(path) succeed with these worksheets.
    void AddFile(const std::string& path, std::vector<FakeSheetSpec> sheets) { m_files[path] = std::move(sheets); }

    // The call whose transcript line is exactly `call` fails with ServerError(message); `times`
    // limits how often (0: every time).
    void FailOn(const std::string& call, const std::string& message, int times = 0);
    // CreateServer throws ServerUnavailable.
    bool serverUnavailable = false;
    // Names of the sheets a new workbook starts with.
    std::vector<std::string> initialSheets{"Sheet1"};

    // Every call, in order, e.g. "S1.OpenWorkbook(/data/a.xlsx)", "W2.Close()", "W2.Release()".
    std::vector<std::string> transcript;
    // Number of references handed out and not yet released.
    int liveReferences = 0;
    // Paths passed to SaveAs, and what the saved workbook held: sheet names in order and, per sheet,
    // the pastes it received as "A<row>:<file>!<sheet>" (source used range pasted at that row).
    struct Saved {
        std::string path;
        std::vector<std::string> sheetNames;
        std::map<std::string, std::vector<std::string>> pastes;
    };
    std::vector<Saved> saved;
    // Read-ahead hints, kept apart from the transcript (a server may ignore them), each as
    // "<workbook last opened before the hint, or ->|<hinted path>|<its sheets, comma-separated>".
    std::vector<std::string> readAheads;

    // Internal: used by the fake objects.
    void Record(const std::string& call);
    int NextId() { return ++m_lastId; }
    const std::vector<FakeSheetSpec>* FileSheets(const std::string& path) const;

private:
    struct Failure {
        std::string message;
        int remaining; // < 0: always
    };
    std::map<std::string, std::vector<FakeSheetSpec>> m_files;
    std::map<std::string, Failure> m_failures;
    int m_lastId = 0;
};

// Lines of the transcript that start with one of the prefixes (e.g. {"S1."}), for focused checks.
std::vector<std::string> Filter(const std::vector<std::string>& transcript, const std::vector<std::string>& prefixes);

} // namespace gq::test
