// Helpers shared by the tests.
// SPDX-License-Identifier: Apache-2.0
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/mount.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <utility>

namespace gq::test {

TempDir::TempDir()
{
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = std::filesystem::temp_directory_path() / ("gq-test-" + std::to_string(rd()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir()
{
    std::error_code ec;
    // Folders made read-only by a test must become writable again before they can be removed.
    for (auto it = std::filesystem::recursive_directory_iterator(
             m_path, std::filesystem::directory_options::skip_permission_denied, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec)) {
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        }
    }
    std::filesystem::remove_all(m_path, ec);
}

std::filesystem::path CorpusDir()
{
    std::filesystem::path p(GQ_CORPUS_DIR);
    std::error_code ec;
    if (std::filesystem::is_directory(p / "files", ec)) {
        return p;
    }
    return {};
}

size_t CorpusShard(const std::string& fileName, size_t shards)
{
    // FNV-1a: the same part for a name on every machine and every run.
    uint64_t hash = 14695981039346656037ULL;
    for (const unsigned char c : fileName) {
        hash = (hash ^ c) * 1099511628211ULL;
    }
    return static_cast<size_t>(hash % shards);
}

std::vector<std::vector<std::string>> CorpusManifest(const std::filesystem::path& corpus)
{
    std::vector<std::vector<std::string>> rows;
    std::ifstream in(corpus / "MANIFEST.tsv");
    std::string line;
    std::getline(in, line); // the header
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, '\t')) {
            fields.push_back(field);
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

std::string ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void SaveBytes(const std::vector<uint8_t>& bytes, const std::string& path)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

// Howard Hinnant's civil_from_days: whole 400-year eras, then the day within the era, counting
// years from March so that the leap day falls at the end.
void CivilFromDays(int64_t days, int64_t& year, unsigned& month, unsigned& day)
{
    int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    year = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = doy - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year += month <= 2 ? 1 : 0;
}

int RunCommand(const std::string& command, std::string& output)
{
    output.clear();
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return -1;
    }
    std::array<char, 4096> buffer{};
    size_t n = 0;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) {
        output.append(buffer.data(), n);
    }
    int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuote(const std::string& text)
{
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

int RunPython(const std::string& script, const std::vector<std::string>& args, std::string& output)
{
    std::string command = "/usr/bin/python3 -c " + ShellQuote(script);
    for (const std::string& arg : args) {
        command += " " + ShellQuote(arg);
    }
    return RunCommand(command, output);
}

bool HavePython(const std::string& modules)
{
    std::string output;
    return RunPython("import " + modules, {}, output) == 0;
}

SmallFileSystem::SmallFileSystem(const std::filesystem::path& where, const std::string& options) : m_where(where)
{
    std::filesystem::create_directories(where);
    m_mounted = ::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallFileSystem::~SmallFileSystem()
{
    if (m_mounted) {
        ::umount2(m_where.c_str(), MNT_DETACH);
    }
}

bool SmallFileSystem::MakeReadOnly()
{
    return ::mount(nullptr, m_where.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

int GnumericConvert(const std::string& path, const std::string& target, std::string& warnings)
{
    return RunCommand("ssconvert " + ShellQuote(path) + " " + ShellQuote(target) + " 2>&1 >/dev/null", warnings);
}

std::string ComparableFormulaText(const std::string& text)
{
    std::string out;
    bool quoted = false;
    for (char c : text) {
        if (c == '"') {
            quoted = !quoted;
        }
        if (!quoted && (c == ' ' || c == '\'')) {
            continue;
        }
        out.push_back(!quoted && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
    }
    for (auto [from, to] : std::initializer_list<std::pair<std::string, std::string>>{
             {"TRUE()", "TRUE"}, {"FALSE()", "FALSE"}, {"NA()", "#N/A"}, {"~", ","}, {"_XLFN.", ""}}) {
        for (size_t at = out.find(from); at != std::string::npos; at = out.find(from, at + to.size())) {
            out.replace(at, from.size(), to);
        }
    }
    return out;
}

} // namespace gq::test
