// Drop intake and the recursive folder walk.
// SPDX-License-Identifier: Apache-2.0
#include "catalogue/DropIntake.h"

#include "catalogue/ExtensionTest.h"
#include "catalogue/SheetListing.h"

#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace gq::catalogue {

namespace fs = std::filesystem;

namespace {

// One walk: the folders entered so far, by device and inode, so that a symbolic link leading back
// into a folder already walked is skipped and link cycles end.
struct Walk {
    DropContext& context;
    std::string_view mask;
    std::set<std::pair<dev_t, ino_t>> entered;

    bool Enter(const std::string& folder)
    {
        struct stat st {};
        if (::stat(folder.c_str(), &st) != 0) {
            return true; // the enumeration below reports nothing for it
        }
        return entered.insert({st.st_dev, st.st_ino}).second;
    }

    // Depth first, each folder's entries in the order the file system gives them, with an
    // explicit stack of open folders rather than recursion: a deep tree of folders (or of links to
    // them) cannot exhaust the thread's stack.
    void ScanFolder(const std::string& top)
    {
        struct Open {
            std::string folder;
            fs::directory_iterator it;
        };
        std::vector<Open> stack;
        auto enter = [&](const std::string& folder) {
            if (!Enter(folder)) {
                return;
            }
            std::error_code ec;
            fs::directory_iterator it(folder, ec);
            if (!ec) { // empty, missing or unreadable: contributes nothing
                stack.push_back(Open{folder, std::move(it)});
            }
        };
        enter(top);
        while (!stack.empty()) {
            // A stop asked for by the user ends the walk before the next entry: the sheets listed
            // so far stay.
            if (context.prompts.StopRequested()) {
                return;
            }
            Open& open = stack.back();
            if (open.it == fs::directory_iterator()) {
                stack.pop_back();
                continue;
            }
            const fs::directory_entry entry = *open.it;
            const std::string path = open.folder + entry.path().filename().string();
            std::error_code ec;
            open.it.increment(ec);
            if (ec) {
                open.it = fs::directory_iterator();
            }
            const std::string name = entry.path().filename().string();
            if (name == "." || name == "..") {
                continue;
            }
            try {
                std::error_code statError;
                // Links to folders are followed like folders; the entered set ends cycles.
                if (fs::is_directory(entry.status(statError))) {
                    enter(path + "/"); // `open` may move: not used after this
                } else if (PassesExtensionTest(path, mask)) {
                    std::error_code sizeError;
                    const uintmax_t size = fs::file_size(entry.path(), sizeError);
                    if (!sizeError && size > kMinFolderWorkbookBytes) {
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
