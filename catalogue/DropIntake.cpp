// Drop intake and the recursive folder walk.
// SPDX-License-Identifier: Apache-2.0
#include "catalogue/DropIntake.h"

#include "catalogue/ExtensionTest.h"
#include "catalogue/SheetListing.h"

#include <cerrno>
#include <climits>
#include <filesystem>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace gq::catalogue {

namespace fs = std::filesystem;

namespace {

// Closes a folder opened for the walk.
struct FolderCloser {
    void operator()(DIR* folder) const { ::closedir(folder); }
};
using OpenFolder = std::unique_ptr<DIR, FolderCloser>;

// One walk: the folders entered so far, by device and inode, so that a symbolic link leading back
// into a folder already walked is skipped and link cycles end.
struct Walk {
    DropContext& context;
    std::string_view mask;
    std::set<std::pair<dev_t, ino_t>> entered;

    void Unreached(const std::string& path, const std::string& why)
    {
        if (context.unreached != nullptr) {
            context.unreached->push_back(path + ": " + why);
        }
    }

    // Opens the folder `name` of the folder open at `parent` (AT_FDCWD: `name` is a whole path), or
    // nothing when it was entered before or cannot be opened (empty, missing or unreadable: it
    // contributes nothing).
    OpenFolder Open(int parent, const char* name, const std::string& path)
    {
        const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE) {
                Unreached(path, "not searched: more folders open at once than this process may have");
            }
            return nullptr;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !entered.insert({st.st_dev, st.st_ino}).second) {
            ::close(fd);
            return nullptr;
        }
        OpenFolder folder(::fdopendir(fd));
        if (!folder) {
            ::close(fd);
        }
        return folder;
    }

    // Depth first, each folder's entries in the order the file system gives them, with an
    // explicit stack of open folders rather than recursion: a deep tree of folders (or of links to
    // them) cannot exhaust the thread's stack. Each folder is opened relative to its parent, so
    // that folders nested deeper than the longest path the system takes are walked too.
    void ScanFolder(const std::string& top)
    {
        struct Level {
            std::string folder; // its path, ending with "/"
            OpenFolder handle;
        };
        std::vector<Level> stack;
        if (OpenFolder handle = Open(AT_FDCWD, top.c_str(), top)) {
            stack.push_back(Level{top, std::move(handle)});
        }
        while (!stack.empty()) {
            // A stop asked for by the user ends the walk before the next entry: the sheets listed
            // so far stay.
            if (context.prompts.StopRequested()) {
                return;
            }
            Level& level = stack.back();
            errno = 0;
            const dirent* entry = ::readdir(level.handle.get());
            if (entry == nullptr) {
                stack.pop_back();
                continue;
            }
            const std::string name = entry->d_name;
            if (name == "." || name == "..") {
                continue;
            }
            const std::string path = level.folder + name;
            try {
                // Links are followed, to folders like folders; the entered set ends cycles.
                struct stat st {};
                if (::fstatat(::dirfd(level.handle.get()), name.c_str(), &st, 0) != 0) {
                    continue;
                }
                if (S_ISDIR(st.st_mode)) {
                    if (OpenFolder handle = Open(::dirfd(level.handle.get()), name.c_str(), path)) {
                        stack.push_back(Level{path + "/", std::move(handle)}); // `level` is not used after
                    }
                } else if (PassesExtensionTest(path, mask) &&
                           static_cast<uintmax_t>(st.st_size) > kMinFolderWorkbookBytes) {
                    // The workbook is opened, listed and later merged by its path.
                    if (path.size() >= PATH_MAX) {
                        Unreached(path, "not listed: its path is longer than the " + std::to_string(PATH_MAX - 1) +
                                            " bytes the system takes");
                    } else {
                        AddWorkbookSheets(context.list, context.servers, context.prompts, path);
                    }
                }
            } catch (...) {
                // One entry's failure ends that entry only; the walk goes on.
            }
        }
    }
};

} // namespace

std::string IncludeTrailingSlash(const std::string& path)
{
    if (!path.empty() && path.back() == '/') {
        return path;
    }
    return path + "/";
}

void AddFolderSheets(DropContext& context, const std::string& folder, std::string_view mask)
{
    try {
        Walk walk{context, mask, {}};
        walk.ScanFolder(IncludeTrailingSlash(folder));
    } catch (...) {
        // Nothing leaves the folder walk.
    }
}

void ProcessDrop(const std::vector<std::string>& paths, DropContext& context)
{
    context.prompts.ShowBusy(true, false);
    struct HideBusy {
        UserPrompts& prompts;
        ~HideBusy() { prompts.ShowBusy(false, false); }
    } hide{context.prompts};

    for (const std::string& path : paths) {
        if (context.prompts.StopRequested()) {
            return;
        }
        std::error_code ec;
        if (fs::is_directory(path, ec)) {
            AddFolderSheets(context, path, ExcelFileMask);
        } else if (PassesExtensionTest(path, ExcelFileMask)) {
            // A directly dropped file gets no size or existence test: its failure is reported.
            AddWorkbookSheets(context.list, context.servers, context.prompts, path);
        }
    }
}

} // namespace gq::catalogue
