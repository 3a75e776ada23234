// OpenFormula text to A1 text: references in brackets become A1 references with sheet prefixes,
// separators become commas, inline arrays swap their separators.
// SPDX-License-Identifier: Apache-2.0
#include "engine/formula/OpenFormula.h"

#include "engine/Limits.h"

namespace gq::engine::formula {

namespace {

bool NeedsQuotes(std::string_view sheet)
{
    if (sheet.empty()) {
        return true;
    }
    for (char c : sheet) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                           c == '.' || static_cast<unsigned char>(c) >= 0x80;
        if (!plain) {
            return true;
        }
    }
    // A name that starts with a digit or reads as a cell would be taken for one.
    return (sheet[0] >= '0' && sheet[0] <= '9') || sheet.find('.') != std::string_view::npos;
}

// One address inside brackets, "Sheet1.A1", "$'My sheet'.$B$2" or ".C3", split into the sheet
// (without '$' and quotes) and the cell. False for what is no address of this workbook.
bool SplitAddress(std::string_view part, std::string& sheet, std::string& cell)
{
    sheet.clear();
    if (!part.empty() && part[0] == '$') {
        part.remove_prefix(1);
    }
    size_t dot = std::string_view::npos;
    if (!part.empty() && part[0] == '\'') {
        size_t i = 1;
        for (; i < part.size(); ++i) {
            if (part[i] == '\'') {
                if (i + 1 < part.size() && part[i + 1] == '\'') {
                    sheet.push_back('\'');
                    ++i;
                    continue;
                }
                break;
            }
            sheet.push_back(part[i]);
        }
        if (i >= part.size() || i + 1 >= part.size() || part[i + 1] != '.') {
            return false;
        }
        dot = i + 1;
    } else {
        dot = part.rfind('.');
        if (dot == std::string_view::npos) {
            return false;
        }
        sheet = std::string(part.substr(0, dot));
    }
    cell = std::string(part.substr(dot + 1));
    if (cell.empty() || cell.find_first_of("#'[]") != std::string::npos) {
        return false;
    }
    return true;
}

std::string SheetPrefix(const std::string& sheet)
{
    if (!NeedsQuotes(sheet)) {
        return sheet + "!";
    }
    std::string out = "'";
    for (char c : sheet) {
        out.push_back(c);
        if (c == '\'') {
            out.push_back('\'');
        }
    }
    return out + "'!";
}

bool TranslateReference(std::string_view inside, std::string& out)
{
    if (inside == "#REF!" || inside.find("#REF!") != std::string_view::npos) {
        out += "#REF!";
        return true;
    }
    size_t colon = std::string_view::npos;
    bool quoted = false;
    for (size_t i = 0; i < inside.size(); ++i) {
        if (inside[i] == '\'') {
            quoted = !quoted;
        } else if (inside[i] == ':' && !quoted) {
            colon = i;
            break;
        }
    }
    std::string sheet1;
    std::string cell1;
    if (!SplitAddress(inside.substr(0, colon), sheet1, cell1)) {
        return false;
    }
    if (colon == std::string_view::npos) {
        out += sheet1.empty() ? cell1 : SheetPrefix(sheet1) + cell1;
        return true;
    }
    std::string sheet2;
    std::string cell2;
    if (!SplitAddress(inside.substr(colon + 1), sheet2, cell2)) {
        return false;
    }
    if (!sheet2.empty() && sheet2 != sheet1) {
        if (sheet1.empty()) {
            return false;
        }
        // A 3-D reference: both sheets in one prefix, quoted together where either needs it.
        std::string both = sheet1 + ":" + sheet2;
        out += (NeedsQuotes(sheet1) || NeedsQuotes(sheet2)) ? SheetPrefix(both) : both + "!";
        out += cell1 + ":" + cell2;
        return true;
    }
    out += (sheet1.empty() ? std::string() : SheetPrefix(sheet1)) + cell1 + ":" + cell2;
    return true;
}

} // namespace

bool OpenFormulaToA1(std::string_view text, std::string& out)
{
    out.clear();
    if (text.starts_with("of:")) {
        text.remove_prefix(3);
    } else if (text.starts_with("msoxl:")) {
        // Excel's own syntax, as some converters write it.
        text.remove_prefix(6);
        if (text.starts_with("=")) {
            text.remove_prefix(1);
        }
        out = std::string(text);
        return !out.empty() && out.size() <= limits::kMaxFormulaChars;
    } else if (text.size() > 1 && text.find(':') < text.find('=')) {
        return false; // another namespace's syntax
    }
    if (text.starts_with("=")) {
        text.remove_prefix(1);
    }
    if (text.empty() || text.size() > limits::kMaxFormulaChars) {
        return false;
    }
    int arrayDepth = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '"') {
            size_t end = i + 1;
            while (end < text.size()) {
                if (text[end] == '"') {
                    if (end + 1 < text.size() && text[end + 1] == '"') {
                        end += 2;
                        continue;
                    }
                    break;
                }
                ++end;
            }
            if (end >= text.size()) {
                return false;
            }
            out.append(text.substr(i, end - i + 1));
            i = end;
        } else if (c == '[') {
            size_t end = i + 1;
            bool quoted = false;
            for (; end < text.size(); ++end) {
                if (text[end] == '\'') {
                    quoted = !quoted;
                } else if (text[end] == ']' && !quoted) {
                    break;
                }
            }
            if (end >= text.size() || !TranslateReference(text.substr(i + 1, end - i - 1), out)) {
                return false;
            }
            i = end;
        } else if (c == ';') {
            out.push_back(',');
        } else if (c == '|' && arrayDepth > 0) {
            out.push_back(';');
        } else if (c == '{') {
            ++arrayDepth;
            out.push_back(c);
        } else if (c == '}') {
            --arrayDepth;
            out.push_back(c);
        } else if (c == '~' || c == '!' || c == '\'') {
            return false; // union, intersection, or a name outside brackets
        } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') {
            size_t end = i;
            while (end < text.size() &&
                   ((text[end] >= 'A' && text[end] <= 'Z') || (text[end] >= 'a' && text[end] <= 'z') ||
                    (text[end] >= '0' && text[end] <= '9') || text[end] == '_' || text[end] == '.')) {
                ++end;
            }
            std::string_view word = text.substr(i, end - i);
            if (word.starts_with("ORG.") || word.starts_with("org.")) {
                return false; // a function of one office suite alone
            }
            if (word.starts_with("COM.MICROSOFT.")) {
                word.remove_prefix(14);
            }
            out.append(word);
            i = end - 1;
        } else {
            out.push_back(c);
        }
    }
    return arrayDepth == 0;
}

} // namespace gq::engine::formula
