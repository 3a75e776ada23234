// Drop intake and the recursive folder walk.
#include "catalogue/DropIntake.h"

#include "catalogue/ExtensionTest.h"
#include "catalogue/SheetListing.h"

#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <utility>

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

    void ScanFolder(const std::string& folder)
    {
        if (!Enter(folder)) {
            return;
        }
        std::error_code ec;
        fs::directory_iterator it(folder, ec);
        if (ec) {
            return; // empty, missing or unreadable: contributes nothing
        }
        for (; it != fs::directory_iterator(); it.increment(ec)) {
            if (ec) {
                break;
            }
            const std::string name = it->path().filename().string();
            if (name == "." || name == "..") {
                continue;
            }
            const std::string path = folder + name;
            try {
                std::error_code statError;
                // Links to folders are followed like folders; the entered set ends cycles.
                if (fs::is_directory(it->status(statError))) {
                    ScanFolder(path + "/");
                } else if (PassesExtensionTest(path, mask)) {
                    std::error_code sizeError;
                    const uintmax_t size = fs::file_size(it->path(), sizeError);
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
