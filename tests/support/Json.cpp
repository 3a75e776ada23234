// JSON for the tests: the reader and the dump scripts' line text.
// SPDX-License-Identifier: Apache-2.0
#include "tests/support/Json.h"

#include "engine/text/Utf8.h"
#include "tests/support/TestSupport.h"

#include <bit>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace gq::test {

// A recursive-descent reader of RFC 8259 JSON. Strings come out as UTF-8; the oracle files are
// written by Python, which escapes characters outside the BMP as surrogate pairs.
class JsonParser {
public:
    explicit JsonParser(std::string_view text) : m_t(text) {}

    Json Document()
    {
        Json value = Value(0);
        SkipSpace();
        if (m_i != m_t.size()) {
            Fail("text after the value");
        }
        return value;
    }

private:
    // Nesting this deep is no oracle file; the limit keeps a broken file from exhausting the stack.
    static constexpr int kMaxDepth = 200;

    [[noreturn]] void Fail(const std::string& what) const
    {
        size_t line = 1;
        size_t column = 1;
        for (size_t i = 0; i < m_i && i < m_t.size(); ++i) {
            if (m_t[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        throw JsonError("JSON: " + what + " at line " + std::to_string(line) + ", column " + std::to_string(column));
    }

    void SkipSpace()
    {
        while (m_i < m_t.size() && (m_t[m_i] == ' ' || m_t[m_i] == '\t' || m_t[m_i] == '\n' || m_t[m_i] == '\r')) {
            ++m_i;
        }
    }

    char Peek()
    {
        SkipSpace();
        if (m_i >= m_t.size()) {
            Fail("unexpected end of the text");
        }
        return m_t[m_i];
    }

    void Expect(char c)
    {
        if (Peek() != c) {
            Fail(std::string("expected '") + c + "'");
        }
        ++m_i;
    }

    bool Word(std::string_view word)
    {
        if (m_t.substr(m_i, word.size()) != word) {
            return false;
        }
        m_i += word.size();
        return true;
    }

    Json Value(int depth)
    {
        if (depth > kMaxDepth) {
            Fail("nesting deeper than " + std::to_string(kMaxDepth));
        }
        Json out;
        char c = Peek();
        if (c == '{') {
            ++m_i;
            Json::Object members;
            if (Peek() != '}') {
                while (true) {
                    if (Peek() != '"') {
                        Fail("expected a member name");
                    }
                    std::string key = String();
                    Expect(':');
                    members[key] = Value(depth + 1);
                    if (Peek() != ',') {
                        break;
                    }
                    ++m_i;
                }
            }
            Expect('}');
            out.m_value = std::move(members);
        } else if (c == '[') {
            ++m_i;
            Json::Array items;
            if (Peek() != ']') {
                while (true) {
                    items.push_back(Value(depth + 1));
                    if (Peek() != ',') {
                        break;
                    }
                    ++m_i;
                }
            }
            Expect(']');
            out.m_value = std::move(items);
        } else if (c == '"') {
            out.m_value = String();
        } else if (Word("true")) {
            out.m_value = true;
        } else if (Word("false")) {
            out.m_value = false;
        } else if (Word("null")) {
            out.m_value = nullptr;
        } else if (c == '-' || (c >= '0' && c <= '9')) {
            Number(out);
        } else {
            Fail("expected a value");
        }
        return out;
    }

    bool Digits()
    {
        size_t start = m_i;
        while (m_i < m_t.size() && m_t[m_i] >= '0' && m_t[m_i] <= '9') {
            ++m_i;
        }
        return m_i > start;
    }

    void Number(Json& out)
    {
        size_t start = m_i;
        if (m_t[m_i] == '-') {
            ++m_i;
        }
        if (m_i < m_t.size() && m_t[m_i] == '0') {
            ++m_i;
        } else if (!Digits()) {
            Fail("a number without digits");
        }
        bool integer = true;
        if (m_i < m_t.size() && m_t[m_i] == '.') {
            ++m_i;
            integer = false;
            if (!Digits()) {
                Fail("a number without digits after the point");
            }
        }
        if (m_i < m_t.size() && (m_t[m_i] == 'e' || m_t[m_i] == 'E')) {
            ++m_i;
            integer = false;
            if (m_i < m_t.size() && (m_t[m_i] == '+' || m_t[m_i] == '-')) {
                ++m_i;
            }
            if (!Digits()) {
                Fail("a number without digits in its exponent");
            }
        }
        const std::string text(m_t.substr(start, m_i - start));
        out.m_value = std::strtod(text.c_str(), nullptr);
        out.m_integer = integer;
        if (integer) {
            auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out.m_int);
            // Integers past 64 bits keep their value as a double only.
            if (ec != std::errc() || end != text.data() + text.size()) {
                out.m_integer = false;
            }
        }
    }

    uint32_t Hex4()
    {
        if (m_t.size() - m_i < 4) {
            Fail("a \\u escape cut short");
        }
        uint32_t value = 0;
        auto [end, ec] = std::from_chars(m_t.data() + m_i, m_t.data() + m_i + 4, value, 16);
        if (ec != std::errc() || end != m_t.data() + m_i + 4) {
            Fail("a \\u escape without four hex digits");
        }
        m_i += 4;
        return value;
    }

    std::string String()
    {
        Expect('"');
        std::string out;
        while (true) {
            if (m_i >= m_t.size()) {
                Fail("a string without its closing quote");
            }
            const auto c = static_cast<unsigned char>(m_t[m_i]);
            if (c == '"') {
                ++m_i;
                return out;
            }
            if (c < 0x20) {
                Fail("a control character inside a string");
            }
            if (c != '\\') {
                size_t from = m_i;
                if (engine::DecodeUtf8(m_t, m_i) == engine::kNotUtf8) {
                    m_i = from;
                    Fail("bytes that are not UTF-8 inside a string");
                }
                out.append(m_t.substr(from, m_i - from));
                continue;
            }
            ++m_i;
            if (m_i >= m_t.size()) {
                Fail("a string without its closing quote");
            }
            switch (m_t[m_i++]) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u':
                engine::AppendUtf8(out, CodePoint());
                break;
            default:
                --m_i;
                Fail("an unknown escape");
            }
        }
    }

    // The code point of a \u escape (its "\u" already read), joining a surrogate pair. A surrogate
    // that is not half of a pair stands for no character: it becomes U+FFFD, as text the engine
    // reads from broken UTF-16 does.
    uint32_t CodePoint()
    {
        uint32_t cp = Hex4();
        if (cp >= 0xDC00 && cp <= 0xDFFF) {
            return 0xFFFD;
        }
        if (cp < 0xD800 || cp > 0xDBFF) {
            return cp;
        }
        if (m_t.substr(m_i, 2) != "\\u") {
            return 0xFFFD;
        }
        size_t pairAt = m_i;
        m_i += 2;
        uint32_t low = Hex4();
        if (low < 0xDC00 || low > 0xDFFF) {
            m_i = pairAt; // the next escape is read on its own
            return 0xFFFD;
        }
        return 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    }

    std::string_view m_t;
    size_t m_i = 0;
};

Json Json::Parse(std::string_view text)
{
    return JsonParser(text).Document();
}

Json Json::ReadFile(const std::filesystem::path& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        throw JsonError(path.string() + ": no such file");
    }
    try {
        return Parse(ReadAll(path));
    } catch (const JsonError& e) {
        throw JsonError(path.string() + ": " + e.what());
    }
}

bool Json::Bool() const
{
    if (const bool* b = std::get_if<bool>(&m_value)) {
        return *b;
    }
    throw JsonError("JSON: a boolean was wanted");
}

double Json::Number() const
{
    if (const double* d = std::get_if<double>(&m_value)) {
        return *d;
    }
    throw JsonError("JSON: a number was wanted");
}

int64_t Json::Integer() const
{
    if (!IsInteger()) {
        throw JsonError("JSON: an integer was wanted");
    }
    return m_int;
}

const std::string& Json::Str() const
{
    static const std::string kEmpty;
    const auto* s = std::get_if<std::string>(&m_value);
    return s != nullptr ? *s : kEmpty;
}

const Json::Array& Json::Items() const
{
    static const Array kEmpty;
    const auto* a = std::get_if<Array>(&m_value);
    return a != nullptr ? *a : kEmpty;
}

const Json& Json::operator[](const std::string& key) const
{
    static const Json kNull;
    const auto* o = std::get_if<Object>(&m_value);
    if (o == nullptr) {
        return kNull;
    }
    auto it = o->find(key);
    return it == o->end() ? kNull : it->second;
}

JsonField::JsonField(const std::string& s)
{
    text = "\"";
    for (unsigned char c : s) {
        switch (c) {
        case '"':
            text += "\\\"";
            break;
        case '\\':
            text += "\\\\";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\r':
            text += "\\r";
            break;
        case '\t':
            text += "\\t";
            break;
        case '\b':
            text += "\\b";
            break;
        case '\f':
            text += "\\f";
            break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                text += buf;
            } else {
                text += static_cast<char>(c);
            }
        }
    }
    text += "\"";
}

std::string Line(std::initializer_list<JsonField> fields)
{
    std::string out = "[";
    bool first = true;
    for (const JsonField& f : fields) {
        if (!first) {
            out += ",";
        }
        first = false;
        out += f.text;
    }
    return out + "]";
}

JsonField Bits(double value)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(std::bit_cast<uint64_t>(value)));
    return JsonField(std::string(buf));
}

} // namespace gq::test
