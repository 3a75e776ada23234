// Helpers shared by the tests: a scratch folder, the corpus location, whole files, running outside readers.
// SPDX-License-Identifier: Apache-2.0
#pragma once

// The corpus's oracle files are JSON; every corpus test reads them with Json.
#include "tests/support/Json.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace gq::test {

// A fresh folder under the system's temporary folder, removed with its content at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    std::string File(const std::string& name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// The real-workbook corpus folder, or an empty path when it is not there (tests then skip).
std::filesystem::path CorpusDir();

// Which of `shards` parts a corpus file belongs to, by its name: the slow corpus checks run as
// several tests, each over one part, so that no single test takes minutes on a busy machine.
size_t CorpusShard(const std::string& fileName, size_t shards);

// The lines of the corpus's MANIFEST.tsv after its header, each split at tabs into its fields:
// set, file, source_repo, source_path, licence, producer, format, sheets, notes.
std::vector<std::vector<std::string>> CorpusManifest(const std::filesystem::path& corpus);

// The bytes of a file, or nothing when it cannot be read (tests then fail on its content).
std::string ReadAll(const std::filesystem::path& path);

// Writes `bytes` as the whole file at `path`; a failed write is a test failure.
void SaveBytes(const std::vector<uint8_t>& bytes, const std::string& path);

// The proleptic Gregorian date `days` days after 1970-01-01 (before it when negative), for writing
// serial dates as the outside readers do.
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day);

// Runs a shell command, returns its exit status and puts standard output (and error) in `output`.
int RunCommand(const std::string& command, std::string& output);

// Converts `path` into `target` with gnumeric's ssconvert, leaving in `warnings` what it printed on
// standard error; returns its exit status.
int GnumericConvert(const std::string& path, const std::string& target, std::string& warnings);

// A formula's text as compared with LibreOffice's reading of it: without spacing and sheet-name
// quotes, upper case outside string literals, and with the spellings LibreOffice's xlsx export uses
// where Excel writes otherwise (TRUE() for TRUE, NA() for #N/A, ~ for the union comma, no _xlfn.).
std::string ComparableFormulaText(const std::string& text);

// Quotes a string for the shell.
std::string ShellQuote(const std::string& text);

// Runs Debian's python3 on the program text `script` with `args` as its arguments; returns the exit
// status and puts what it printed in `output`.
int RunPython(const std::string& script, const std::vector<std::string>& args, std::string& output);

// Whether Debian's python3 can import `modules` (as an import statement names them: "openpyxl, lxml").
bool HavePython(const std::string& modules);

// A tmpfs mounted at `where` for the life of the object (`options` as for mount, "size=64k"), for
// tests of full or read-only file systems; Mounted() is false where mounting is not allowed (not
// root), and such tests skip.
class SmallFileSystem {
public:
    SmallFileSystem(const std::filesystem::path& where, const std::string& options);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    bool Mounted() const { return m_mounted; }
    // Makes the mount read-only (files written before stay readable).
    bool MakeReadOnly();

private:
    std::filesystem::path m_where;
    bool m_mounted = false;
};

} // namespace gq::test
