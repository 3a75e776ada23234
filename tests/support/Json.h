// JSON for the tests: a reader for the corpus oracle files, and the text of the JSON lines that the
// Python dump scripts print, for comparing those lines as they are.
// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace gq::test {

// Malformed JSON, or a value asked for as a kind it is not. The message says where.
class JsonError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One parsed JSON value. Lookups that find nothing give null or empty values, so that a test can
// walk an oracle file without checking every step; asking a value for a number or a boolean that
// it does not hold throws, so that such a test fails instead of comparing against a default.
class Json {
public:
    using Array = std::vector<Json>;
    using Object = std::map<std::string, Json>;

    // Parses the whole text; anything but white space after the value is an error.
    static Json Parse(std::string_view text);
    // Reads and parses a file; errors name it.
    static Json ReadFile(const std::filesystem::path& path);

    bool IsNull() const { return std::holds_alternative<std::nullptr_t>(m_value); }
    bool IsBool() const { return std::holds_alternative<bool>(m_value); }
    bool IsNumber() const { return std::holds_alternative<double>(m_value); }
    // A number written without a fraction or an exponent.
    bool IsInteger() const { return IsNumber() && m_integer; }
    bool IsString() const { return std::holds_alternative<std::string>(m_value); }
    bool IsArray() const { return std::holds_alternative<Array>(m_value); }
    bool IsObject() const { return std::holds_alternative<Object>(m_value); }

    bool Bool() const;
    double Number() const;
    // The value of a number written as an integer that fits 64 bits.
    int64_t Integer() const;
    // The text of a string; empty for any other value.
    const std::string& Str() const;
    // The items of an array; none for any other value.
    const Array& Items() const;
    // The member named `key` of an object; null when there is none or this is not an object.
    const Json& operator[](const std::string& key) const;

private:
    friend class JsonParser;
    std::variant<std::nullptr_t, bool, double, std::string, Array, Object> m_value;
    bool m_integer = false;
    int64_t m_int = 0;
};

// One value of a JSON line as the dump scripts print it (Python's json.dumps with
// ensure_ascii=False): strings escaped as Python escapes them, everything else as written.
struct JsonField {
    std::string text;
    JsonField(const char* s) : JsonField(std::string(s)) {}
    JsonField(const std::string& s);
    JsonField(int v) : text(std::to_string(v)) {}
    JsonField(size_t v) : text(std::to_string(v)) {}
    JsonField(bool v) : text(v ? "true" : "false") {}
    JsonField(std::nullptr_t) : text("null") {}
};

// A JSON line of the dump scripts: the fields as one array, without spaces.
std::string Line(std::initializer_list<JsonField> fields);

// A double as the dump scripts print numbers: the hex digits of its bits, as a string.
JsonField Bits(double value);

} // namespace gq::test
