// Format recognition, the writer an output format calls, and the two ways of saving: the
// safe save (a temporary file in the target folder, renamed over the target only once complete)
// and the direct write of a new file.
// SPDX-License-Identifier: Apache-2.0
#include "engine/WorkbookFile.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/StageTimes.h"
#include "engine/csv/CsvReader.h"
#include "engine/ods/OdsReader.h"
#include "engine/ods/OdsWriter.h"
#include "engine/xls/XlsReader.h"
#include "engine/xls/XlsWriter.h"
#include "engine/xlsx/XlsxReader.h"
#include "engine/xlsx/XlsxWriter.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace gq::engine {

FileFormat DetectFormat(std::span<const uint8_t> head)
{
    static constexpr uint8_t kZip[] = {'P', 'K', 0x03, 0x04};
    static constexpr uint8_t kEmptyZip[] = {'P', 'K', 0x05, 0x06};
    static constexpr uint8_t kOle2[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    if (head.size() >= 4 && (std::memcmp(head.data(), kZip, 4) == 0 || std::memcmp(head.data(), kEmptyZip, 4) == 0)) {
        return FileFormat::Xlsx;
    }
    if (head.size() >= 8 && std::memcmp(head.data(), kOle2, 8) == 0) {
        return FileFormat::Xls;
    }
    return FileFormat::Unknown;
}

namespace {

std::unique_ptr<Workbook> ReadWorkbookBytes(std::shared_ptr<const InputBytes> bytes)
{
    auto data = bytes->Data();
    // Delimited text has no signature: its name says what it is, unless its content is a package or
    // a compound file after all (a workbook renamed .csv is read as the workbook it is). An empty
    // file is an empty table.
    const bool delimitedText = IsDelimitedTextName(bytes->Name());
    if (delimitedText && DetectFormat(data) == FileFormat::Unknown) {
        return ReadCsv(std::move(bytes));
    }
    if (data.empty()) {
        throw FormatError(bytes->Name(), "the file is empty");
    }
    switch (DetectFormat(data)) {
    case FileFormat::Xlsx:
        // Both kinds of office document are zip packages; OpenDocument says so in its package.
        if (IsOpenDocumentPackage(bytes)) {
            return ReadOds(std::move(bytes));
        }
        return ReadXlsx(std::move(bytes));
    case FileFormat::Xls:
        return ReadXls(std::move(bytes));
    case FileFormat::Ods:
    case FileFormat::Unknown:
        break;
    }
    // Raw BIFF2-4 streams without a compound file begin with a BOF record: 0x0009, 0x0209 or 0x0409.
    if (data.size() >= 2 && data[0] == 0x09 && (data[1] == 0x00 || data[1] == 0x02 || data[1] == 0x04)) {
        return ReadXls(std::move(bytes));
    }
    throw FormatError(bytes->Name(), "the file is not a workbook (not xlsx, xls, ods or delimited text)");
}

} // namespace

std::unique_ptr<Workbook> OpenWorkbookBytes(const std::shared_ptr<const InputBytes>& bytes)
{
    StageTimer timer(Stage::Read);
    std::unique_ptr<Workbook> workbook;
    try {
        workbook = ReadWorkbookBytes(bytes);
        // Sheets are found by name: two sheets whose names differ only in case (or not at all)
        // would make one of them unreachable, so later ones get distinct names.
        workbook->MakeSheetNamesDistinct();
    } catch (const EngineError&) {
        bytes->CheckUnchanged();
        throw;
    }
    bytes->CheckUnchanged();
    return workbook;
}

std::unique_ptr<Workbook> OpenWorkbookFile(const std::string& path)
{
    return OpenWorkbookBytes(InputBytes::MapFile(path));
}

void WriteWorkbook(Workbook& workbook, FileFormat format, ByteSink& sink)
{
    StageTimer timer(Stage::Write);
    if (format == FileFormat::Xls) {
        try {
            WriteXls(workbook, sink);
        } catch (const BeyondGridError& e) {
            throw LimitError(OutputFormatOf(format).TooLargeText(e.Sheet(), e.LastRow(), e.LastCol()));
        }
    } else if (format == FileFormat::Ods) {
        WriteOds(workbook, sink);
    } else {
        WriteXlsx(workbook, sink);
    }
}

namespace {

// mkstemp creates files readable by the owner only; the saved workbook gets the mode an ordinary
// new file would get, or keeps the mode of the file it replaces.
mode_t ModeForNewFile(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        return st.st_mode & 07777;
    }
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f) != nullptr) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(f);
    }
    return 0666 & ~mask;
}

} // namespace

namespace {

// A short hidden name beside the target: a name built from the target's own would be too long for
// the file system when the target's name is (names of up to 255 bytes are valid).
std::string TempPattern(const std::filesystem::path& folder)
{
    return (folder / ".gridquilt-save.XXXXXX").string();
}

// The temporary file of a save in progress on a file system without O_TMPFILE, for the signal
// handler below: a fixed buffer, because a handler may only read memory and call unlink.
char g_pendingTemp[4096];
volatile sig_atomic_t g_pendingSet = 0;
struct sigaction g_previous[3];
constexpr int kCleanupSignals[3] = {SIGTERM, SIGINT, SIGHUP};

void RemovePendingAndReraise(int signal)
{
    if (g_pendingSet != 0) {
        ::unlink(g_pendingTemp);
        g_pendingSet = 0;
    }
    for (size_t i = 0; i < 3; ++i) {
        if (kCleanupSignals[i] == signal) {
            ::sigaction(signal, &g_previous[i], nullptr);
        }
    }
    ::raise(signal);
}

// Until UncoverTemporary, a SIGTERM, SIGINT or SIGHUP removes the named temporary file before the
// signal takes its usual course. Says whether the cover is in place (not for a name that does
// not fit the buffer, nor while another file has it).
bool CoverTemporary(const std::string& name)
{
    if (name.size() >= sizeof g_pendingTemp || g_pendingSet != 0) {
        return false;
    }
    std::memcpy(g_pendingTemp, name.c_str(), name.size() + 1);
    g_pendingSet = 1;
    struct sigaction action {};
    action.sa_handler = RemovePendingAndReraise;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < 3; ++i) {
        ::sigaction(kCleanupSignals[i], &action, &g_previous[i]);
    }
    return true;
}

void UncoverTemporary()
{
    for (size_t i = 0; i < 3; ++i) {
        ::sigaction(kCleanupSignals[i], &g_previous[i], nullptr);
    }
    g_pendingSet = 0;
}

[[noreturn]] void FailSave(const std::string& path, const char* what, int err)
{
    throw IoError(path, std::string(what) + ": " + std::strerror(err));
}

void WriteAndSync(Workbook& workbook, int fd, const std::string& path)
{
    FileSink sink(fd, path);
    WriteWorkbook(workbook, OutputFormatFor(path).format, sink);
    sink.Finish();
    ::fchmod(fd, ModeForNewFile(path));
}

// Links `from` (a /proc/self/fd path or a temporary name) under a fresh hidden name beside the
// target and returns that name.
std::string LinkUnderTemporaryName(const std::string& from, const std::string& path, const std::string& folder,
                                   int flags)
{
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
        // A name of the same form as a mkstemp file's; linkat refuses it if another file has it.
        std::string candidate = TempPattern(folder);
        for (size_t i = candidate.size() - 6; i < candidate.size(); ++i) {
            candidate[i] = kLetters[random() % (sizeof kLetters - 1)];
        }
        if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, candidate.c_str(), flags) == 0) {
            return candidate;
        }
        if (errno != EEXIST || attempt >= 100) {
            FailSave(path, "cannot create the file in its folder", errno);
        }
    }
}

} // namespace

UnnamedWorkbookFile::UnnamedWorkbookFile(Workbook& workbook, const std::string& path, bool unnamedFirst)
    : m_path(path), m_folder(std::filesystem::path(path).parent_path().string())
{
    if (m_folder.empty()) {
        m_folder = ".";
    }
    // Naming an unnamed file goes through /proc/self/fd, so without /proc the hidden temporary
    // file below is used.
    unnamedFirst = unnamedFirst && ::access("/proc/self/fd", F_OK) == 0;
    m_fd = unnamedFirst ? ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1;
    if (m_fd < 0 && unnamedFirst && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        FailSave(path, "cannot create the file in its folder", errno);
    }
    if (m_fd < 0) {
        // File systems without unnamed files: a hidden temporary file that a failure or a
        // terminating signal removes.
        std::string pattern = TempPattern(m_folder);
        m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
        if (m_fd < 0) {
            FailSave(path, "cannot create the file in its folder", errno);
        }
        m_temporary = pattern;
        m_covered = CoverTemporary(m_temporary);
    }
    try {
        WriteAndSync(workbook, m_fd, path);
    } catch (...) {
        Discard();
        throw;
    }
}

UnnamedWorkbookFile::~UnnamedWorkbookFile()
{
    Discard();
}

void UnnamedWorkbookFile::Discard() noexcept
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
    if (m_covered) {
        UncoverTemporary();
        m_covered = false;
    }
}

void UnnamedWorkbookFile::CopyTo(std::ostream& out) const
{
    if (m_fd < 0) {
        throw IoError(m_path, "the file has been named already");
    }
    // The file was written through a descriptor opened for writing only; an unnamed file is read
    // again through its /proc link.
    const std::string from = m_temporary.empty() ? "/proc/self/fd/" + std::to_string(m_fd) : m_temporary;
    std::ifstream in(from, std::ios::binary);
    if (!in || !(out << in.rdbuf()) || !out.flush()) {
        throw IoError(m_path, "the workbook cannot be written to standard output");
    }
}

void UnnamedWorkbookFile::Name(ExistingFile existing)
{
    if (m_fd < 0) {
        throw IoError(m_path, "the file has been named already");
    }
    const bool unnamed = m_temporary.empty();
    const std::string from = unnamed ? "/proc/self/fd/" + std::to_string(m_fd) : m_temporary;
    const int linkFlags = unnamed ? AT_SYMLINK_FOLLOW : 0;
    // A link never replaces a name: it is the "keep" save, and the first try of the other one.
    if (::linkat(AT_FDCWD, from.c_str(), AT_FDCWD, m_path.c_str(), linkFlags) != 0) {
        const int err = errno;
        if (err == EEXIST && existing == ExistingFile::Keep) {
            throw FileExistsError(m_path);
        }
        if (err != EEXIST && unnamed) {
            FailSave(m_path, "cannot create the file in its folder", err);
        }
        if (err != EEXIST && existing == ExistingFile::Keep) {
            // A file system without hard links (where the temporary file is named): a rename
            // that refuses to replace, or one that checks first where even that is missing.
            if (::renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, m_path.c_str(), RENAME_NOREPLACE) != 0) {
                const int renameErr = errno;
                const bool noNoReplace = renameErr == EINVAL || renameErr == ENOSYS;
                if (renameErr == EEXIST || (noNoReplace && ::access(m_path.c_str(), F_OK) == 0)) {
                    throw FileExistsError(m_path);
                }
                if (!noNoReplace || std::rename(m_temporary.c_str(), m_path.c_str()) != 0) {
                    FailSave(m_path, "cannot create the file in its folder", noNoReplace ? errno : renameErr);
                }
            }
            m_temporary.clear();
        } else if (err == EEXIST || !unnamed) {
            // Replacing: the unnamed file gets a temporary name first, since a name can only be
            // replaced by renaming another over it. Between those two steps a SIGKILL would leave
            // that complete copy under its hidden name; the other signals remove it.
            std::string name = m_temporary;
            if (unnamed) {
                name = LinkUnderTemporaryName(from, m_path, m_folder, linkFlags);
                m_temporary = name;
                m_covered = m_covered || CoverTemporary(m_temporary);
            }
            if (std::rename(name.c_str(), m_path.c_str()) != 0) {
                FailSave(m_path, "cannot replace the file", errno);
            }
            m_temporary.clear();
        }
    }
    const int fd = m_fd;
    m_fd = -1;
    Discard(); // removes a temporary name the file no longer needs
    if (::close(fd) != 0) {
        FailSave(m_path, "cannot write the file", errno);
    }
}

void SaveWorkbookFile(Workbook& workbook, const std::string& path, bool unnamedFirst, ExistingFile existing)
{
    UnnamedWorkbookFile file(workbook, path, unnamedFirst);
    file.Name(existing);
}

} // namespace gq::engine
