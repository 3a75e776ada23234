// The extension test.
// SPDX-License-Identifier: Apache-2.0
#include "catalogue/ExtensionTest.h"

#include "common/AsciiText.h"

namespace gq::catalogue {

std::string ExtensionOf(std::string_view path)
{
    size_t last = path.find_last_of("./");
    if (last == std::string_view::npos || path[last] != '.') {
        return {};
    }
    return std::string(path.substr(last + 1));
}

bool PassesExtensionTest(std::string_view path, std::string_view mask)
{
    std::string probe = "." + UpperCase(ExtensionOf(path)) + ";";
    return UpperCase(mask).find(probe) != std::string::npos;
}

} // namespace gq::catalogue
