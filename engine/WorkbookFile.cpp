// Format recognition, the output format an output name means, and the two ways of saving: the
// safe save (a temporary file in the target folder, renamed over the target only once complete)
// and the direct write of a new file.
// SPDX-License-Identifier: Apache-2.0
#include "engine/WorkbookFile.h"

#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/StageTimes.h"
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

OutputFormat OutputFormatFor(const std::string& path)
{
    std::string name = std::filesystem::path(path).filename().string();
    if (name.size() >= 4) {
        std::string ext = name.substr(name.size() - 4);
        for (char& c : ext) {
            if (c >= 'A' && c <= 'Z') {
                c = static_cast<char>(c - 'A' + 'a');
            }
        }
        if (ext == ".xls") {
            return OutputFormat{FileFormat::Xls, SheetGrid{limits::kXlsMaxRows, limits::kXlsMaxCols}};
        }
    }
    return OutputFormat{FileFormat::Xlsx, SheetGrid{limits::kXlsxMaxRows, limits::kXlsxMaxCols}};
}

namespace {

std::unique_ptr<Workbook> ReadWorkbookBytes(std::shared_ptr<const InputBytes> bytes)
{
    auto data = bytes->Data();
    if (data.empty()) {
        throw FormatError(bytes->Name(), "the file is empty");
    }
    switch (DetectFormat(data)) {
    case FileFormat::Xlsx:
        return ReadXlsx(std::move(bytes));
    case FileFormat::Xls:
        return ReadXls(std::move(bytes));
    case FileFormat::Unknown:
        break;
    }
    // Raw BIFF2-4 streams without a compound file begin with a BOF record: 0x0009, 0x0209 or 0x0409.
    if (data.size() >= 2 && data[0] == 0x09 && (data[1] == 0x00 || data[1] == 0x02 || data[1] == 0x04)) {
        return ReadXls(std::move(bytes));
    }
    throw FormatError(bytes->Name(), "the file is not an Excel workbook (neither xlsx nor xls)");
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
        WriteXls(workbook, sink);
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

// While it lives, a SIGTERM, SIGINT or SIGHUP removes the named temporary file before the
// signal takes its usual course.
class TempFileGuard {
public:
    explicit TempFileGuard(const std::string& name)
    {
        if (name.size() >= sizeof g_pendingTemp) {
            return;
        }
        std::memcpy(g_pendingTemp, name.c_str(), name.size() + 1);
        g_pendingSet = 1;
        struct sigaction action {};
        action.sa_handler = RemovePendingAndReraise;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < 3; ++i) {
            ::sigaction(kCleanupSignals[i], &action, &g_previous[i]);
        }
        m_installed = true;
    }
    ~TempFileGuard()
    {
        if (m_installed) {
            for (size_t i = 0; i < 3; ++i) {
                ::sigaction(kCleanupSignals[i], &g_previous[i], nullptr);
            }
            g_pendingSet = 0;
        }
    }
    TempFileGuard(const TempFileGuard&) = delete;
    TempFileGuard& operator=(const TempFileGuard&) = delete;

private:
    bool m_installed = false;
};

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

// Gives the complete, unnamed file at `fd` a name: the target's own when no file has it, otherwise
// a temporary name that is renamed over the target at once.
void NameTheFile(int fd, const std::string& path, const std::filesystem::path& folder)
{
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return;
    }
    if (errno != EEXIST) {
        FailSave(path, "cannot create the file in its folder", errno);
    }
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0;; ++attempt) {
        // A name of the same form as a mkstemp file's; linkat refuses it if another file has it.
        std::string candidate = TempPattern(folder);
        for (size_t i = candidate.size() - 6; i < candidate.size(); ++i) {
            candidate[i] = kLetters[random() % (sizeof kLetters - 1)];
        }
        std::vector<char> name(candidate.begin(), candidate.end());
        name.push_back('\0');
        if (::linkat(AT_FDCWD, procPath.c_str(), AT_FDCWD, name.data(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST && attempt < 100) {
                continue;
            }
            FailSave(path, "cannot create the file in its folder", errno);
        }
        TempFileGuard guard(name.data());
        if (std::rename(name.data(), path.c_str()) != 0) {
            int err = errno;
            ::unlink(name.data());
            FailSave(path, "cannot replace the file", err);
        }
        return;
    }
}

} // namespace

void SaveWorkbookFile(Workbook& workbook, const std::string& path, bool unnamedFirst)
{
    namespace fs = std::filesystem;
    fs::path target(path);
    fs::path folder = target.parent_path();
    if (folder.empty()) {
        folder = ".";
    }
    // An unnamed file in the target's folder gets a name only once it is complete, so that nothing
    // half-written is ever left behind, whatever ends the program. Naming it goes through
    // /proc/self/fd, so without /proc the hidden temporary file below is used.
    unnamedFirst = unnamedFirst && ::access("/proc/self/fd", F_OK) == 0;
    int fd = unnamedFirst ? ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600) : -1;
    if (fd >= 0) {
        try {
            WriteAndSync(workbook, fd, path);
            NameTheFile(fd, path, folder);
        } catch (...) {
            ::close(fd);
            throw;
        }
        if (::close(fd) != 0) {
            FailSave(path, "cannot write the file", errno);
        }
        return;
    }
    if (unnamedFirst && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        FailSave(path, "cannot create the file in its folder", errno);
    }

    // File systems without unnamed files: a hidden temporary file that a failure or a terminating
    // signal removes.
    std::string pattern = TempPattern(folder);
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd = ::mkstemp(name.data());
    if (fd < 0) {
        FailSave(path, "cannot create the file in its folder", errno);
    }
    std::string temp(name.data());
    TempFileGuard guard(temp);
    try {
        WriteAndSync(workbook, fd, path);
        if (::close(fd) != 0) {
            fd = -1;
            FailSave(path, "cannot write the file", errno);
        }
        fd = -1;
        if (std::rename(temp.c_str(), path.c_str()) != 0) {
            FailSave(path, "cannot replace the file", errno);
        }
    } catch (...) {
        if (fd >= 0) {
            ::close(fd);
        }
        ::unlink(temp.c_str());
        throw;
    }
}

void WriteNewWorkbookFile(Workbook& workbook, const std::string& path)
{
    // O_EXCL: a file that is already there is never written over or removed. The mode is 0666
    // less the umask, the mode the safe save gives a new file.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        int err = errno;
        throw IoError(path, std::string("cannot create the file: ") + std::strerror(err));
    }
    try {
        FileSink sink(fd, path);
        WriteWorkbook(workbook, OutputFormatFor(path).format, sink);
        sink.Finish();
        if (::close(fd) != 0) {
            fd = -1;
            int err = errno;
            throw IoError(path, std::string("cannot write the file: ") + std::strerror(err));
        }
        fd = -1;
    } catch (...) {
        if (fd >= 0) {
            ::close(fd);
        }
        ::unlink(path.c_str());
        throw;
    }
}

} // namespace gq::engine
