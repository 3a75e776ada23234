// UTF-16, Latin-1 and code-page text to UTF-8.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xls/BiffText.h"

#include "engine/text/Utf8.h"

#include <iconv.h>

namespace gq::engine {

namespace {

// The iconv name of a Windows or Macintosh code page number.
std::string IconvName(uint16_t cp)
{
    switch (cp) {
    case 367:
        return "ASCII";
    case 10000:
    case 32768:
        return "MACINTOSH";
    case 10006:
        return "MAC-GREEK";
    case 10007:
        return "MAC-CYRILLIC";
    case 10029:
        return "MAC-CENTRALEUROPE";
    case 10079:
        return "MAC-IS";
    case 10081:
        return "MAC-TURKISH";
    case 32769: // Latin-1 under another name
    case 1200:  // BIFF8 marks its UTF-16 text this way; 8-bit text there is Latin-1
        return "CP1252";
    default:
        return "CP" + std::to_string(cp);
    }
}

} // namespace

void AppendUtf16(std::span<const uint8_t> utf16le, std::string& out)
{
    const uint8_t* p = utf16le.data();
    AppendUtf16Units(
        utf16le.size() / 2, [p](size_t i) { return static_cast<uint32_t>(p[2 * i] | (p[2 * i + 1] << 8)); }, out);
}

void AppendLatin1(std::span<const uint8_t> bytes, std::string& out)
{
    // Most text is ASCII, which is the same in UTF-8: one append instead of a byte at a time.
    size_t ascii = 0;
    while (ascii < bytes.size() && bytes[ascii] < 0x80) {
        ++ascii;
    }
    out.append(reinterpret_cast<const char*>(bytes.data()), ascii);
    for (uint8_t b : bytes.subspan(ascii)) {
        if (b < 0x80) {
            out.push_back(static_cast<char>(b));
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
}

CodePageDecoder::~CodePageDecoder()
{
    if (m_iconv != nullptr) {
        iconv_close(static_cast<iconv_t>(m_iconv));
    }
}

void CodePageDecoder::SetCodePage(uint16_t codePage)
{
    if (codePage == m_codePage) {
        return;
    }
    if (m_iconv != nullptr) {
        iconv_close(static_cast<iconv_t>(m_iconv));
        m_iconv = nullptr;
    }
    m_iconvTried = false;
    m_codePage = codePage;
}

void CodePageDecoder::Append(std::span<const uint8_t> bytes, std::string& out)
{
    bool ascii = true;
    for (uint8_t b : bytes) {
        if (b >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (ascii) {
        out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return;
    }
    if (!m_iconvTried) {
        m_iconvTried = true;
        iconv_t cd = iconv_open("UTF-8", IconvName(m_codePage).c_str());
        if (cd == reinterpret_cast<iconv_t>(-1)) {
            cd = iconv_open("UTF-8", "CP1252");
        }
        m_iconv = cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd;
    }
    if (m_iconv == nullptr) {
        AppendLatin1(bytes, out);
        return;
    }
    auto cd = static_cast<iconv_t>(m_iconv);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // One input byte gives at most four bytes of UTF-8 in every code page we map to.
    size_t start = out.size();
    out.resize(start + bytes.size() * 4 + 4);
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    size_t inLeft = bytes.size();
    char* dst = out.data() + start;
    size_t dstLeft = out.size() - start;
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &dst, &dstLeft) != static_cast<size_t>(-1)) {
            break;
        }
        // A byte the code page does not define: show U+FFFD and go on with the next byte.
        if (dstLeft < 3) {
            break;
        }
        *dst++ = static_cast<char>(0xEF);
        *dst++ = static_cast<char>(0xBF);
        *dst++ = static_cast<char>(0xBD);
        dstLeft -= 3;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(static_cast<size_t>(dst - out.data()));
}

} // namespace gq::engine
