// Default-password decryption of .xls workbook streams.
#include "engine/xls/XlsCrypto.h"

namespace gq::engine {

bool DecryptWithDefaultPassword(std::vector<uint8_t>& /*storage*/, std::span<const uint8_t>& /*stream*/,
                                size_t /*filePassOffset*/, int /*biffVersion*/, const std::string& /*fileName*/)
{
    return false;
}

} // namespace gq::engine
