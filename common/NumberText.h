// Whole numbers as the program's messages and reports write them, in groups of three digits.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <concepts>
#include <string>

namespace gq {

// `n` with a comma between groups of three digits: "1,048,576", "-12,345". Messages are in
// English in every language the program speaks, so the separator is always the comma.
template <std::integral T>
std::string Thousands(T n)
{
    const std::string digits = std::to_string(n);
    const size_t sign = !digits.empty() && digits[0] == '-' ? 1 : 0;
    std::string out(digits, 0, sign);
    for (size_t i = sign; i < digits.size(); ++i) {
        if (i > sign && (digits.size() - i) % 3 == 0) {
            out.push_back(',');
        }
        out.push_back(digits[i]);
    }
    return out;
}

} // namespace gq
