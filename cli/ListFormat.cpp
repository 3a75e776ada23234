// Escaping and parsing of the sheet list's text form.
// SPDX-License-Identifier: Apache-2.0
#include "cli/ListFormat.h"

#include "common/AsciiText.h"
#include "engine/Limits.h"

namespace gq::cli {

ListFormatError::ListFormatError(size_t line, const std::string& problem)
    : std::runtime_error("list line " + std::to_string(line) + ": " + problem), m_line(line)
{
}

ListTooLongError::ListTooLongError(size_t maxEntries)
    : std::runtime_error("the list has more than " + std::to_string(maxEntries) + " entries")
{
}

std::string EscapeField(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (const char* escape = BackslashEscape(c)) {
            out += escape;
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapeField(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (i + 1 == text.size()) {
            throw std::invalid_argument("a backslash ends the field (write \\\\ for a backslash)");
        }
        switch (text[++i]) {
        case '\\':
            out += '\\';
            break;
        case 't':
            out += '\t';
            break;
        case 'n':
            out += '\n';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            throw std::invalid_argument(std::string("unknown escape \\") + text[i] +
                                        " (only \\\\, \\t, \\n and \\r are known)");
        }
    }
    return out;
}

std::string FormatEntry(const catalogue::SheetEntry& entry)
{
    return EscapeField(entry.SheetName) + '\t' + EscapeField(entry.FileName);
}

bool ParseEntry(std::string_view line, size_t lineNumber, catalogue::SheetEntry& entry)
{
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (line.empty()) {
        return false;
    }
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos) {
        throw ListFormatError(lineNumber, "expected \"sheet name<TAB>workbook path\", found no tab");
    }
    if (line.find('\t', tab + 1) != std::string_view::npos) {
        throw ListFormatError(lineNumber, "more than one tab (a tab inside a name is written \\t)");
    }
    try {
        entry.SheetName = UnescapeField(line.substr(0, tab));
        entry.FileName = UnescapeField(line.substr(tab + 1));
    } catch (const std::invalid_argument& e) {
        throw ListFormatError(lineNumber, e.what());
    }
    if (entry.FileName.empty()) {
        throw ListFormatError(lineNumber, "the workbook path is empty");
    }
    return true;
}

namespace {

// Reads one line without its line feed into `line`; false at the end of the input. A line longer
// than the limit is refused as soon as that many bytes have come.
bool ReadBoundedLine(std::streambuf& buffer, std::string& line, size_t lineNumber)
{
    line.clear();
    for (int c = buffer.sbumpc();; c = buffer.sbumpc()) {
        if (c == std::char_traits<char>::eof()) {
            return !line.empty();
        }
        if (c == '\n') {
            return true;
        }
        if (line.size() >= engine::limits::kMaxListLineBytes) {
            throw ListFormatError(lineNumber, "longer than " + std::to_string(engine::limits::kMaxListLineBytes) +
                                                  " bytes, which no sheet name and path need");
        }
        line.push_back(static_cast<char>(c));
    }
}

} // namespace

std::vector<catalogue::SheetEntry> ReadList(std::istream& in, size_t maxEntries)
{
    std::vector<catalogue::SheetEntry> entries;
    std::streambuf* buffer = in.rdbuf();
    if (buffer == nullptr) {
        throw std::runtime_error("the list could not be read");
    }
    std::string line;
    size_t lineNumber = 0;
    while (ReadBoundedLine(*buffer, line, ++lineNumber)) {
        catalogue::SheetEntry entry;
        if (ParseEntry(line, lineNumber, entry)) {
            if (entries.size() >= maxEntries) {
                throw ListTooLongError(maxEntries);
            }
            entries.push_back(std::move(entry));
        }
    }
    return entries;
}

} // namespace gq::cli
