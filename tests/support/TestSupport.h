// Helpers shared by the tests: a scratch folder, the corpus location, running outside readers.
#pragma once

#include <filesystem>
#include <string>

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

// Runs a shell command, returns its exit status and puts standard output (and error) in `output`.
int RunCommand(const std::string& command, std::string& output);

// Quotes a string for the shell.
std::string ShellQuote(const std::string& text);

} // namespace gq::test
