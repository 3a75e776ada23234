// Default-password decryption of .xls workbook streams: XOR obfuscation ([MS-OFFCRYPTO] 2.3.7),
// RC4 ([MS-OFFCRYPTO] 2.3.6) and RC4 CryptoAPI ([MS-OFFCRYPTO] 2.3.5), applied to BIFF records as
// [MS-XLS] 2.2.10 says. Hashes come from GLib's GChecksum.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xls/XlsCrypto.h"

#include "engine/Errors.h"
#include "engine/io/ByteReader.h"
#include "engine/io/LittleEndian.h"
#include "engine/xls/BiffRecords.h"

#include <glib.h>

#include <array>
#include <cstring>

namespace gq::engine {

namespace {

// The password Excel uses for workbooks that are only write-protected, and opens without asking.
constexpr char kDefaultPassword[] = "VelvetSweatshop";

using Digest = std::vector<uint8_t>;

Digest Hash(GChecksumType type, std::initializer_list<std::span<const uint8_t>> parts)
{
    GChecksum* sum = g_checksum_new(type);
    for (auto part : parts) {
        g_checksum_update(sum, part.data(), static_cast<gssize>(part.size()));
    }
    Digest out(static_cast<size_t>(g_checksum_type_get_length(type)));
    gsize len = out.size();
    g_checksum_get_digest(sum, out.data(), &len);
    g_checksum_free(sum);
    out.resize(len);
    return out;
}

std::vector<uint8_t> PasswordUtf16()
{
    std::vector<uint8_t> out;
    for (const char* p = kDefaultPassword; *p != '\0'; ++p) {
        out.push_back(static_cast<uint8_t>(*p));
        out.push_back(0);
    }
    return out;
}

class Rc4 {
public:
    void Init(std::span<const uint8_t> key)
    {
        for (int i = 0; i < 256; ++i) {
            m_s[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
        }
        uint8_t j = 0;
        for (size_t i = 0; i < 256; ++i) {
            j = static_cast<uint8_t>(j + m_s[i] + key[i % key.size()]);
            std::swap(m_s[i], m_s[j]);
        }
        m_i = 0;
        m_j = 0;
    }
    uint8_t Next()
    {
        m_i = static_cast<uint8_t>(m_i + 1);
        m_j = static_cast<uint8_t>(m_j + m_s[m_i]);
        std::swap(m_s[m_i], m_s[m_j]);
        return m_s[static_cast<uint8_t>(m_s[m_i] + m_s[m_j])];
    }

private:
    std::array<uint8_t, 256> m_s{};
    uint8_t m_i = 0;
    uint8_t m_j = 0;
};

// The keystream of a BIFF8 RC4 stream: re-keyed every 1,024 bytes with the block number, and
// positioned by the byte's offset in the stream, record headers included ([MS-XLS] 2.2.10).
class BlockCipher {
public:
    using KeyForBlock = std::vector<uint8_t> (*)(const std::vector<uint8_t>& secret, uint32_t block, size_t keyBytes);

    BlockCipher(std::vector<uint8_t> secret, size_t keyBytes, KeyForBlock keyFor)
        : m_secret(std::move(secret)), m_keyBytes(keyBytes), m_keyFor(keyFor)
    {
    }

    void Apply(uint8_t* data, size_t offset, size_t len)
    {
        for (size_t i = 0; i < len; ++i) {
            data[i] ^= At(offset + i);
        }
    }

private:
    uint8_t At(size_t pos)
    {
        auto block = static_cast<uint32_t>(pos / 1024);
        size_t inBlock = pos % 1024;
        if (!m_started || block != m_block || inBlock < m_pos) {
            auto key = m_keyFor(m_secret, block, m_keyBytes);
            m_rc4.Init(key);
            m_block = block;
            m_pos = 0;
            m_started = true;
        }
        while (m_pos < inBlock) {
            m_rc4.Next();
            ++m_pos;
        }
        ++m_pos;
        return m_rc4.Next();
    }

    std::vector<uint8_t> m_secret;
    size_t m_keyBytes;
    KeyForBlock m_keyFor;
    Rc4 m_rc4;
    bool m_started = false;
    uint32_t m_block = 0;
    size_t m_pos = 0;
};

// RC4, [MS-OFFCRYPTO] 2.3.6.2: the secret is the 5-byte intermediate hash.
std::vector<uint8_t> Rc4Key(const std::vector<uint8_t>& secret, uint32_t block, size_t /*keyBytes*/)
{
    uint8_t b[4] = {static_cast<uint8_t>(block), static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block >> 16),
                    static_cast<uint8_t>(block >> 24)};
    return Hash(G_CHECKSUM_MD5, {std::span<const uint8_t>(secret.data(), 5), std::span<const uint8_t>(b, 4)});
}

// RC4 CryptoAPI, [MS-OFFCRYPTO] 2.3.5.2: the secret is H0 = SHA-1(salt + password); a 40-bit key
// is padded with zeros to 128 bits.
std::vector<uint8_t> CryptoApiKey(const std::vector<uint8_t>& secret, uint32_t block, size_t keyBytes)
{
    uint8_t b[4] = {static_cast<uint8_t>(block), static_cast<uint8_t>(block >> 8), static_cast<uint8_t>(block >> 16),
                    static_cast<uint8_t>(block >> 24)};
    auto h = Hash(G_CHECKSUM_SHA1, {secret, std::span<const uint8_t>(b, 4)});
    h.resize(keyBytes);
    if (keyBytes == 5) {
        h.resize(16, 0);
    }
    return h;
}

// XOR obfuscation method 1, [MS-OFFCRYPTO] 2.3.7.1-2.3.7.3.
constexpr uint16_t kInitialCode[15] = {0xE1F0, 0x1D0F, 0xCC9C, 0x84C0, 0x110C, 0x0E10, 0xF1CE, 0x313E,
                                       0x1872, 0xE139, 0xD40F, 0x84F9, 0x280C, 0xA96A, 0x4EC3};
constexpr uint16_t kXorMatrix[105] = {
    0xAEFC, 0x4DD9, 0x9BB2, 0x2745, 0x4E8A, 0x9D14, 0x2A09, 0x7B61, 0xF6C2, 0xFDA5, 0xEB6B, 0xC6F7, 0x9DCF, 0x2BBF,
    0x4563, 0x8AC6, 0x05AD, 0x0B5A, 0x16B4, 0x2D68, 0x5AD0, 0x0375, 0x06EA, 0x0DD4, 0x1BA8, 0x3750, 0x6EA0, 0xDD40,
    0xD849, 0xA0B3, 0x5147, 0xA28E, 0x553D, 0xAA7A, 0x44D5, 0x6F45, 0xDE8A, 0xAD35, 0x4A4B, 0x9496, 0x390D, 0x721A,
    0xEB23, 0xC667, 0x9CEF, 0x29FF, 0x53FE, 0xA7FC, 0x5FD9, 0x47D3, 0x8FA6, 0x0F6D, 0x1EDA, 0x3DB4, 0x7B68, 0xF6D0,
    0xB861, 0x60E3, 0xC1C6, 0x93AD, 0x377B, 0x6EF6, 0xDDEC, 0x45A0, 0x8B40, 0x06A1, 0x0D42, 0x1A84, 0x3508, 0x6A10,
    0xAA51, 0x4483, 0x8906, 0x022D, 0x045A, 0x08B4, 0x1168, 0x76B4, 0xED68, 0xCAF1, 0x85C3, 0x1BA7, 0x374E, 0x6E9C,
    0x3730, 0x6E60, 0xDCC0, 0xA9A1, 0x4363, 0x86C6, 0x1DAD, 0x3331, 0x6662, 0xCCC4, 0x89A9, 0x0373, 0x06E6, 0x0DCC,
    0x1021, 0x2042, 0x4084, 0x8108, 0x1231, 0x2462, 0x48C4};
constexpr uint8_t kPadArray[15] = {0xBB, 0xFF, 0xFF, 0xBA, 0xFF, 0xFF, 0xB9, 0x80,
                                   0x00, 0xBE, 0x0F, 0x00, 0xBF, 0x0F, 0x00};

uint16_t XorKey(const std::string& password)
{
    uint16_t key = kInitialCode[password.size() - 1];
    int element = 0x68;
    for (auto it = password.rbegin(); it != password.rend(); ++it) {
        auto c = static_cast<uint8_t>(*it);
        for (int i = 0; i < 7; ++i) {
            if ((c & 0x40) != 0) {
                key ^= kXorMatrix[element];
            }
            c = static_cast<uint8_t>(c << 1);
            --element;
        }
    }
    return key;
}

uint16_t XorVerifier(const std::string& password)
{
    uint16_t verifier = 0;
    std::vector<uint8_t> bytes;
    bytes.push_back(static_cast<uint8_t>(password.size()));
    bytes.insert(bytes.end(), password.begin(), password.end());
    for (auto it = bytes.rbegin(); it != bytes.rend(); ++it) {
        uint16_t high = (verifier & 0x4000) != 0 ? 1 : 0;
        verifier = static_cast<uint16_t>(((verifier << 1) & 0x7FFF) | high);
        verifier ^= *it;
    }
    return static_cast<uint16_t>(verifier ^ 0xCE4B);
}

uint8_t XorRor(uint8_t a, uint8_t b)
{
    uint8_t v = a ^ b;
    return static_cast<uint8_t>((v >> 1) | ((v & 1) << 7));
}

std::array<uint8_t, 16> XorArray(const std::string& password)
{
    uint16_t key = XorKey(password);
    std::array<uint8_t, 16> out{};
    size_t index = password.size();
    auto high = static_cast<uint8_t>(key >> 8);
    auto low = static_cast<uint8_t>(key & 0xFF);
    if (index % 2 == 1) {
        out[index] = XorRor(kPadArray[0], high);
        --index;
        out[index] = XorRor(static_cast<uint8_t>(password.back()), low);
    }
    while (index > 0) {
        --index;
        out[index] = XorRor(static_cast<uint8_t>(password[index]), high);
        --index;
        out[index] = XorRor(static_cast<uint8_t>(password[index]), low);
    }
    index = 15;
    size_t pad = 15 - password.size();
    while (pad > 0) {
        out[index] = XorRor(kPadArray[pad], high);
        --index;
        --pad;
        out[index] = XorRor(kPadArray[pad], low);
        --index;
        --pad;
    }
    return out;
}

// Records that are never encrypted ([MS-XLS] 2.2.10): BOF, FilePass, UsrExcl, FileLock,
// InterfaceHdr, RRDInfo, RRDHead. BoundSheet8 keeps its stream position in clear.
bool NeverEncrypted(uint16_t type)
{
    switch (type) {
    case biff::kBof:
    case biff::kFilePass:
    case biff::kUsrExcl:
    case biff::kFileLock:
    case biff::kInterfaceHdr:
    case biff::kRrdInfo:
    case biff::kRrdHead:
        return true;
    default:
        return false;
    }
}

// Walks every record of the stream and hands each encrypted byte range to `decrypt`.
template <class Fn>
void ForEachEncryptedRange(std::vector<uint8_t>& data, const std::string& fileName, Fn decrypt)
{
    biff::RecordReader reader(data, &fileName, "Workbook stream");
    biff::Record rec;
    while (reader.Next(rec)) {
        if (NeverEncrypted(rec.type)) {
            continue;
        }
        size_t start = rec.offset + 4;
        size_t len = rec.body.size();
        if (rec.type == biff::kBoundSheet8) {
            size_t clear = std::min<size_t>(4, len);
            start += clear;
            len -= clear;
        }
        decrypt(data.data() + start, start, len, rec.offset + 4, rec.body.size());
    }
}

} // namespace

bool DecryptWithDefaultPassword(std::vector<uint8_t>& storage, std::span<const uint8_t>& stream, size_t filePassOffset,
                                int biffVersion, const std::string& fileName)
{
    biff::RecordReader reader(stream, &fileName, "Workbook stream", filePassOffset);
    biff::Record filePass;
    if (!reader.Next(filePass)) {
        return false;
    }
    ByteReader r(filePass.body, &fileName, "FILEPASS record", filePass.offset + 4);
    const std::string password = kDefaultPassword;

    std::vector<uint8_t> data(stream.begin(), stream.end());
    uint16_t method = biffVersion >= 8 ? r.U16() : 0;
    if (method == 0) {
        // XOR obfuscation: the key and the verifier must be those of the default password.
        uint16_t key = r.U16();
        uint16_t verifier = r.U16();
        if (key != XorKey(password) || verifier != XorVerifier(password)) {
            return false;
        }
        auto xorArray = XorArray(password);
        ForEachEncryptedRange(data, fileName, [&](uint8_t* p, size_t, size_t len, size_t bodyStart, size_t bodyLen) {
            // The array index starts at (record data offset + record data size) mod 16, as
            // Excel writes it.
            size_t first = static_cast<size_t>(p - data.data()) - bodyStart;
            for (size_t i = 0; i < len; ++i) {
                uint8_t v = p[i] ^ xorArray[(bodyStart + bodyLen + first + i) % 16];
                p[i] = static_cast<uint8_t>((v >> 5) | (v << 3));
            }
        });
    } else if (method == 1) {
        uint16_t major = r.U16();
        uint16_t minor = r.U16();
        std::vector<uint8_t> secret;
        size_t keyBytes = 16;
        BlockCipher::KeyForBlock keyFor = nullptr;
        std::span<const uint8_t> encryptedVerifier;
        std::span<const uint8_t> encryptedHash;
        GChecksumType hashType = G_CHECKSUM_MD5;
        auto pwd = PasswordUtf16();
        if (major == 1 && minor == 1) {
            // RC4, [MS-OFFCRYPTO] 2.3.6.1-2.3.6.2.
            auto salt = r.Bytes(16);
            encryptedVerifier = r.Bytes(16);
            encryptedHash = r.Bytes(16);
            auto h0 = Hash(G_CHECKSUM_MD5, {pwd});
            std::vector<uint8_t> buffer;
            for (int i = 0; i < 16; ++i) {
                buffer.insert(buffer.end(), h0.begin(), h0.begin() + 5);
                buffer.insert(buffer.end(), salt.begin(), salt.end());
            }
            secret = Hash(G_CHECKSUM_MD5, {buffer});
            secret.resize(5);
            keyFor = Rc4Key;
        } else if (major >= 2 && major <= 4 && minor == 2) {
            // RC4 CryptoAPI, [MS-OFFCRYPTO] 2.3.5.1: flags, header size, header, verifier.
            r.U32();
            uint32_t headerSize = r.U32();
            if (headerSize < 32 || headerSize > r.Left()) {
                r.Fail("the encryption header has a wrong size");
            }
            auto header = r.Bytes(headerSize);
            uint32_t keyBits = le::Load32(header.data() + 16);
            if (keyBits == 0) {
                keyBits = 40;
            }
            if (keyBits < 40 || keyBits > 128 || keyBits % 8 != 0) {
                return false;
            }
            keyBytes = keyBits / 8;
            uint32_t saltSize = r.U32();
            if (saltSize != 16) {
                return false;
            }
            auto salt = r.Bytes(16);
            encryptedVerifier = r.Bytes(16);
            uint32_t hashSize = r.U32();
            if (hashSize != 20) {
                return false;
            }
            encryptedHash = r.Bytes(20);
            secret = Hash(G_CHECKSUM_SHA1, {salt, pwd});
            keyFor = CryptoApiKey;
            hashType = G_CHECKSUM_SHA1;
        } else {
            return false;
        }
        // The verifier and its hash are encrypted one after the other with the key of block 0.
        Rc4 rc4;
        rc4.Init(keyFor(secret, 0, keyBytes));
        std::vector<uint8_t> verifier(encryptedVerifier.begin(), encryptedVerifier.end());
        for (auto& b : verifier) {
            b ^= rc4.Next();
        }
        std::vector<uint8_t> hash(encryptedHash.begin(), encryptedHash.end());
        for (auto& b : hash) {
            b ^= rc4.Next();
        }
        if (Hash(hashType, {verifier}) != hash) {
            return false;
        }
        BlockCipher cipher(secret, keyBytes, keyFor);
        ForEachEncryptedRange(data, fileName, [&](uint8_t* p, size_t offset, size_t len, size_t, size_t) {
            cipher.Apply(p, offset, len);
        });
    } else {
        return false;
    }
    // FILEPASS becomes a record nobody reads, so that the globals are read as if it were absent.
    data[filePass.offset] = 0;
    data[filePass.offset + 1] = 0;
    storage = std::move(data);
    stream = storage;
    return true;
}

} // namespace gq::engine
