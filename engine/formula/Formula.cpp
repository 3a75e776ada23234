// The token form's own bookkeeping: clearing, and the texts and sheet prefixes tokens point into.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/Formula.h"

namespace gq::engine::formula {

void Formula::Clear()
{
    tokens.clear();
    texts.clear();
    prefixes.clear();
    arrays.clear();
    unparsed.clear();
}

uint32_t Formula::AddText(std::string_view text)
{
    texts.emplace_back(text);
    return static_cast<uint32_t>(texts.size() - 1);
}

uint16_t Formula::AddPrefix(SheetPrefix prefix)
{
    for (size_t i = 0; i < prefixes.size(); ++i) {
        if (prefixes[i] == prefix) {
            return static_cast<uint16_t>(i);
        }
    }
    prefixes.push_back(std::move(prefix));
    return static_cast<uint16_t>(prefixes.size() - 1);
}

} // namespace gq::engine::formula
