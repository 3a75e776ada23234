// Asking where the merged workbook goes.
#include "merge/OutputChoice.h"

#include <filesystem>

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

} // namespace gq::merge
