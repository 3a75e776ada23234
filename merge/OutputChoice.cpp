// Asking where the merged workbook goes.
// SPDX-License-Identifier: Apache-2.0
#include "merge/OutputChoice.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <unistd.h>

namespace gq::merge {

std::string ChooseOutputFile(UserPrompts& prompts, const std::string& defaultExtension, const std::string& filter,
                             const std::string& initialName)
{
    std::string path;
    if (!prompts.ChooseSaveFile(defaultExtension, filter, initialName, path) || path.empty()) {
        return {};
    }
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec) && !prompts.AskYesNo(kDeleteQuestion, kDeleteCaption)) {
        return {};
    }
    return path;
}

std::optional<std::string> WhyOutputCannotBeCreated(const std::string& path)
{
    namespace fs = std::filesystem;
    const fs::path output(path);
    const fs::path folder = output.has_parent_path() ? output.parent_path() : fs::path(".");
    const std::string cannot = "The merged workbook \"" + path + "\" cannot be created: ";
    std::error_code ec;
    const fs::file_status folderStatus = fs::status(folder, ec);
    if (folderStatus.type() == fs::file_type::not_found) {
        return cannot + "its folder \"" + folder.string() + "\" does not exist";
    }
    if (ec) {
        return cannot + "its folder \"" + folder.string() + "\" cannot be reached (" + ec.message() + ")";
    }
    if (!fs::is_directory(folderStatus)) {
        return cannot + "\"" + folder.string() + "\" is not a folder";
    }
    if (fs::is_directory(output, ec)) {
        return cannot + "a folder of that name is in the way";
    }
    // Creating a file beside it is the one test that holds for permissions, read-only mounts and
    // every other reason alike; the probe is removed at once.
    std::string probe = (folder / ".gridquilt-probe-XXXXXX").string();
    const int fd = ::mkstemp(probe.data());
    if (fd < 0) {
        const int error = errno;
        return cannot + "no file can be created in its folder \"" + folder.string() + "\" (" + std::strerror(error) +
               ")";
    }
    ::close(fd);
    ::unlink(probe.c_str());
    return std::nullopt;
}

} // namespace gq::merge
