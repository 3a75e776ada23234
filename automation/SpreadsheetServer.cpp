// Server failures and their message text.
// SPDX-License-Identifier: Apache-2.0
#include "automation/SpreadsheetServer.h"

namespace gq::automation {

std::string CleanDescription(std::string description)
{
    while (!description.empty() && (description.back() == ' ' || description.back() == '.')) {
        description.pop_back();
    }
    return description;
}

ServerError::ServerError(const std::string& description) : std::runtime_error(CleanDescription(description)) {}

} // namespace gq::automation
