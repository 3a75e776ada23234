// The command line in the user's language.
// SPDX-License-Identifier: Apache-2.0
#include "cli/CliLanguage.h"

#include <clocale>
#include <filesystem>
#include <libintl.h>
#include <vector>

namespace gq::cli {

namespace {

// The messages of gridquilt-merge that carry a name, a number or another message inside, as the
// catalogues hold them; TranslatedMessage matches a line against them in this order. The fixed
// texts need no list: they are looked up whole, and xgettext finds them at Tr() and here.
// A long text is written over two lines; the commas between the texts are all there.
// NOLINTBEGIN(bugprone-suspicious-missing-comma)
constexpr const char* kPatterns[] = {
    GQ_TEXT("option %s given twice"),
    GQ_TEXT("option %s needs a value"),
    GQ_TEXT("option %s takes no value"),
    GQ_TEXT("unknown option %s"),
    GQ_TEXT("unknown command \"%s\""),
    GQ_TEXT("%s: cannot be reached: %s"),
    GQ_TEXT("%s: no such file or folder"),
    GQ_TEXT("%s: skipped: %s"),
    GQ_TEXT("%s: is a folder, not a list file"),
    GQ_TEXT("%s: cannot open the list: %s"),
    GQ_TEXT("%s: is a folder"),
    GQ_TEXT("%s: already exists (use --force to replace it)"),
    GQ_TEXT("%s: no such folder for the output"),
    GQ_TEXT("%s: the merge saved no file"),
    GQ_TEXT("%s (the list has no entries)"),
    GQ_TEXT("the list has more than %s entries: this output holds at most that many merged worksheets beside "
            "its first sheet"),
    GQ_TEXT("the list has more than %s entries: a %s output holds at most that many merged worksheets beside "
            "its first sheet"),
    GQ_TEXT("the list has more than %s entries: this output stacks at most that many blocks on its one sheet"),
    GQ_TEXT("the list has more than %s entries: a %s output stacks at most that many blocks on its one sheet"),
    GQ_TEXT("the list has more than %s entries"),
    GQ_TEXT("list line %s: %s"),
    GQ_TEXT("longer than %s bytes, which no sheet name and path need"),
    GQ_TEXT("unknown escape \\%s (only \\\\, \\t, \\n and \\r are known)"),
    GQ_TEXT("%s sheets were not merged:"),
    GQ_TEXT("%s sheets were merged with changes:"),
};

// The fixed texts said by other parts of the program, for xgettext to find.
[[maybe_unused]] constexpr const char* kFixedTexts[] = {
    GQ_TEXT("not a workbook (not a regular file)"),
    GQ_TEXT("not a workbook (the extensions taken are .xlsx, .xlsm, .xltx, .xltm, .xls, .xlt, .ods, .csv, .tsv "
            "and .tab)"),
    GQ_TEXT("list takes no options but --help"),
    GQ_TEXT("list needs at least one INPUT"),
    GQ_TEXT("merge needs -o OUTPUT"),
    GQ_TEXT("give either --list or INPUT paths, not both"),
    GQ_TEXT("merge needs --list FILE or at least one INPUT"),
    GQ_TEXT("reading the list from the terminal (end it with Ctrl-D)"),
    GQ_TEXT("no command given"),
    GQ_TEXT("unknown failure"),
    GQ_TEXT("cannot write to standard output"),
    GQ_TEXT("a backslash ends the field (write \\\\ for a backslash)"),
    GQ_TEXT("expected \"sheet name<TAB>workbook path\", found no tab"),
    GQ_TEXT("more than one tab (a tab inside a name is written \\t)"),
    GQ_TEXT("the workbook path is empty"),
    GQ_TEXT("the list could not be read"),
    GQ_TEXT("No File need to merge!"),
    GQ_TEXT("Merge Completed!"),
    GQ_TEXT("One sheet was not merged:"),
    GQ_TEXT("One sheet was merged with changes:"),
    GQ_TEXT("Details:"),
};
// NOLINTEND(bugprone-suspicious-missing-comma)

// The values of `line` where it has the shape of `pattern` (its literal parts in place, a value
// where each "%s" stands), or nothing. A value ends where the next literal part first occurs, and
// the last value runs to the last literal part at the end of the line.
bool MatchPattern(std::string_view pattern, std::string_view line, std::vector<std::string>& values)
{
    std::vector<std::string_view> literals;
    for (size_t start = 0;;) {
        const size_t hole = pattern.find("%s", start);
        literals.push_back(
            pattern.substr(start, hole == std::string_view::npos ? std::string_view::npos : hole - start));
        if (hole == std::string_view::npos) {
            break;
        }
        start = hole + 2;
    }
    if (literals.size() < 2 || !line.starts_with(literals.front()) || !line.ends_with(literals.back()) ||
        line.size() < literals.front().size() + literals.back().size()) {
        return false;
    }
    values.clear();
    size_t position = literals.front().size();
    const size_t end = line.size() - literals.back().size();
    for (size_t i = 1; i + 1 < literals.size(); ++i) {
        const size_t found = line.substr(0, end).find(literals[i], position);
        if (found == std::string_view::npos) {
            return false;
        }
        values.emplace_back(line.substr(position, found - position));
        position = found + literals[i].size();
    }
    values.emplace_back(line.substr(position, end - position));
    return true;
}

// `translated` with each "%s" in it replaced in turn by the next of `values`.
template <typename Values>
std::string Filled(std::string_view translated, const Values& values)
{
    std::string out;
    size_t start = 0;
    for (const auto& value : values) {
        const size_t hole = translated.find("%s", start);
        if (hole == std::string_view::npos) {
            break;
        }
        out.append(translated.substr(start, hole - start));
        out.append(value);
        start = hole + 2;
    }
    out.append(translated.substr(start));
    return out;
}

std::string TranslatedLine(const std::string& line)
{
    if (line.empty()) {
        return line;
    }
    if (const char* whole = Tr(line.c_str()); whole != line.c_str()) {
        return whole;
    }
    std::vector<std::string> values;
    for (const char* pattern : kPatterns) {
        if (MatchPattern(pattern, line, values)) {
            for (std::string& value : values) {
                value = TranslatedLine(value);
            }
            return Filled(Tr(pattern), values);
        }
    }
    return line;
}

} // namespace

void FollowUserLanguage()
{
    if (std::setlocale(LC_MESSAGES, "") == nullptr) {
        return;
    }
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const std::string folder = (program.parent_path().parent_path() / "share" / "locale").string();
        ::bindtextdomain(kTextDomain, folder.c_str());
    }
    // The texts are UTF-8 whatever the character type of the locale, which stays C.
    ::bind_textdomain_codeset(kTextDomain, "UTF-8");
}

const char* Tr(const char* english)
{
    // An empty msgid would give the catalogue's header.
    return english[0] == '\0' ? english : ::dgettext(kTextDomain, english);
}

std::string Tr(const char* pattern, std::initializer_list<std::string_view> values)
{
    return Filled(Tr(pattern), values);
}

std::string TranslatedMessage(std::string_view message)
{
    std::string out;
    size_t start = 0;
    while (true) {
        const size_t newline = message.find('\n', start);
        out += TranslatedLine(std::string(message.substr(start, newline - start)));
        if (newline == std::string_view::npos) {
            return out;
        }
        out += '\n';
        start = newline + 1;
    }
}

} // namespace gq::cli
