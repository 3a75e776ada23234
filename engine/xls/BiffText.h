// Text in BIFF files: UTF-16 and Latin-1 characters (BIFF8) and bytes in the file's code page
// (BIFF5/7 and older), all turned into UTF-8.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace gq::engine {

// Appends UTF-16LE code units as UTF-8; unpaired surrogates become U+FFFD.
void AppendUtf16(std::span<const uint8_t> utf16le, std::string& out);
// Appends Latin-1 bytes (BIFF8's "compressed" characters: UTF-16 with the high byte dropped).
void AppendLatin1(std::span<const uint8_t> bytes, std::string& out);

// Decodes 8-bit text with the code page of a CODEPAGE record ([MS-XLS] 2.4.52). Unknown code
// pages are read as Windows-1252, the code page nearly every such file uses.
class CodePageDecoder {
public:
    CodePageDecoder() = default;
    ~CodePageDecoder();
    CodePageDecoder(const CodePageDecoder&) = delete;
    CodePageDecoder& operator=(const CodePageDecoder&) = delete;

    void SetCodePage(uint16_t codePage);
    uint16_t CodePage() const { return m_codePage; }
    void Append(std::span<const uint8_t> bytes, std::string& out);

private:
    uint16_t m_codePage = 1252;
    void* m_iconv = nullptr; // iconv_t, opened on the first non-ASCII text
    bool m_iconvTried = false;
};

} // namespace gq::engine
