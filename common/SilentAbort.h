// A failure that ends the current command without any message: the failure report shows nothing.
#pragma once

#include <exception>

namespace gq {

class SilentAbort : public std::exception {
public:
    const char* what() const noexcept override { return "silent abort"; }
};

} // namespace gq
