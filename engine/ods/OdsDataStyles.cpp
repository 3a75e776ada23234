// Number format codes written as OpenDocument data styles (ODF 1.3, section 16.29 of the schema).
// SPDX-License-Identifier: Apache-2.0
#include "engine/ods/OdsDataStyles.h"

#include "engine/ods/OdsWriterStyles.h"
#include "engine/text/Utf8.h"

#include <cctype>

namespace gq::engine::odsout {

namespace {

bool IsDatePiece(Piece p)
{
    return p == Piece::Year || p == Piece::Month || p == Piece::Day || p == Piece::DayOfWeek;
}

bool IsTimePiece(Piece p)
{
    return p == Piece::Hours || p == Piece::Minutes || p == Piece::Seconds || p == Piece::AmPm;
}

void AddLiteral(Section& s, std::string_view text)
{
    if (!s.tokens.empty() && s.tokens.back().piece == Piece::Literal) {
        s.tokens.back().text += text;
    } else {
        s.tokens.push_back(Token{Piece::Literal, std::string(text)});
    }
}

std::string_view ColorName(std::string_view word)
{
    static constexpr std::pair<std::string_view, std::string_view> kColors[] = {
        {"black", "#000000"},   {"blue", "#0000ff"}, {"cyan", "#00ffff"},  {"green", "#00ff00"},
        {"magenta", "#ff00ff"}, {"red", "#ff0000"},  {"white", "#ffffff"}, {"yellow", "#ffff00"}};
    std::string lower;
    for (char c : word) {
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    for (const auto& [name, hex] : kColors) {
        if (lower == name) {
            return hex;
        }
    }
    return {};
}

// Reads the digit placeholders of a number at `i`: 0 # ? with ',' and '.', then an exponent or a
// fraction.
size_t ReadNumber(std::string_view code, size_t i, Token& t)
{
    int intZeros = 0;
    int decimals = -1;
    bool digitsSeen = false;
    t.piece = Piece::Number;
    while (i < code.size()) {
        char c = code[i];
        if (c == '0' || c == '#' || c == '?') {
            digitsSeen = true;
            if (decimals >= 0) {
                ++decimals;
            } else if (c == '0') {
                ++intZeros;
            }
        } else if (c == ',' && decimals < 0) {
            t.grouping = t.grouping || (i + 1 < code.size() && (code[i + 1] == '0' || code[i + 1] == '#'));
        } else if (c == '.' && decimals < 0) {
            decimals = 0;
        } else if ((c == 'E' || c == 'e') && i + 1 < code.size() && (code[i + 1] == '+' || code[i + 1] == '-')) {
            size_t j = i + 2;
            int exp = 0;
            while (j < code.size() && (code[j] == '0' || code[j] == '#')) {
                ++exp;
                ++j;
            }
            t.piece = Piece::Scientific;
            t.expDigits = std::max(exp, 1);
            i = j;
            break;
        } else if (c == ' ' && digitsSeen && i + 1 < code.size() &&
                   (code[i + 1] == '?' || code[i + 1] == '#' || code[i + 1] == '0') &&
                   code.find('/', i) != std::string_view::npos) {
            // "# ?/?": the integer part of a fraction; the placeholders after the space are its
            // numerator.
            t.piece = Piece::Fraction;
            size_t j = i + 1;
            int num = 0;
            while (j < code.size() && (code[j] == '?' || code[j] == '#' || code[j] == '0')) {
                ++num;
                ++j;
            }
            if (j >= code.size() || code[j] != '/') {
                t.piece = Piece::Number;
                break;
            }
            ++j;
            int den = 0;
            while (j < code.size() && ((code[j] >= '0' && code[j] <= '9') || code[j] == '?' || code[j] == '#')) {
                ++den;
                ++j;
            }
            t.numerator = std::max(num, 1);
            t.denominator = std::max(den, 1);
            i = j;
            break;
        } else {
            break;
        }
        ++i;
    }
    t.minInt = intZeros;
    t.decimals = std::max(decimals, 0);
    return i;
}

} // namespace

Section ParseSection(std::string_view code)
{
    Section s;
    size_t i = 0;
    while (i < code.size()) {
        char c = code[i];
        char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (c == '"') {
            size_t end = code.find('"', i + 1);
            if (end == std::string_view::npos) {
                end = code.size();
            }
            AddLiteral(s, code.substr(i + 1, end - i - 1));
            i = end + 1;
        } else if (c == '\\' && i + 1 < code.size()) {
            size_t pos = i + 1;
            DecodeUtf8(code, pos);
            AddLiteral(s, code.substr(i + 1, pos - i - 1));
            i = pos;
        } else if (c == '_' && i + 1 < code.size()) {
            AddLiteral(s, " ");
            i += 2;
        } else if (c == '*' && i + 1 < code.size()) {
            i += 2; // a fill character: OpenDocument has no such thing
        } else if (c == '[') {
            size_t end = code.find(']', i);
            if (end == std::string_view::npos) {
                break;
            }
            std::string_view inside = code.substr(i + 1, end - i - 1);
            if (!inside.empty() && inside[0] == '$') {
                std::string_view symbol = inside.substr(
                    1, inside.find('-') == std::string_view::npos ? std::string_view::npos : inside.find('-') - 1);
                if (!symbol.empty()) {
                    s.tokens.push_back(Token{Piece::Currency, std::string(symbol)});
                }
            } else if (!ColorName(inside).empty()) {
                s.color = std::string(ColorName(inside));
            } else if (!inside.empty() && (std::tolower(static_cast<unsigned char>(inside[0])) == 'h' ||
                                           std::tolower(static_cast<unsigned char>(inside[0])) == 'm' ||
                                           std::tolower(static_cast<unsigned char>(inside[0])) == 's')) {
                s.elapsed = true;
                Token t;
                const char first = static_cast<char>(std::tolower(static_cast<unsigned char>(inside[0])));
                t.piece = first == 'h' ? Piece::Hours : first == 'm' ? Piece::Minutes : Piece::Seconds;
                t.count = static_cast<int>(inside.size());
                s.tokens.push_back(t);
            }
            i = end + 1;
        } else if (c == '0' || c == '#' || c == '?' || (c == '.' && i + 1 < code.size() && code[i + 1] == '0')) {
            Token t;
            i = ReadNumber(code, i, t);
            s.tokens.push_back(t);
        } else if (c == '%') {
            s.percent = true;
            AddLiteral(s, "%");
            ++i;
        } else if (c == '@') {
            s.tokens.push_back(Token{Piece::TextContent, {}});
            ++i;
        } else if (lower == 'g' && code.substr(i).size() >= 7 &&
                   (code.substr(i, 7) == "General" || code.substr(i, 7) == "GENERAL")) {
            Token t;
            t.piece = Piece::Number;
            t.decimals = -1; // as many as the value needs
            s.tokens.push_back(t);
            i += 7;
        } else if ((lower == 'a') && (code.substr(i, 5) == "AM/PM" || code.substr(i, 5) == "am/pm")) {
            s.tokens.push_back(Token{Piece::AmPm, {}});
            i += 5;
        } else if (lower == 'a' && (code.substr(i, 3) == "A/P" || code.substr(i, 3) == "a/p")) {
            s.tokens.push_back(Token{Piece::AmPm, {}});
            i += 3;
        } else if (lower == 'y' || lower == 'm' || lower == 'd' || lower == 'h' || lower == 's' || lower == 'e') {
            size_t j = i;
            while (j < code.size() && std::tolower(static_cast<unsigned char>(code[j])) == lower) {
                ++j;
            }
            Token t;
            t.count = static_cast<int>(j - i);
            t.piece = lower == 'y' || lower == 'e' ? Piece::Year
                      : lower == 'm'               ? Piece::Month
                      : lower == 'd'               ? (t.count >= 3 ? Piece::DayOfWeek : Piece::Day)
                      : lower == 'h'               ? Piece::Hours
                                                   : Piece::Seconds;
            if (t.piece == Piece::Seconds && j + 1 < code.size() && code[j] == '.' && code[j + 1] == '0') {
                ++j;
                t.decimals = 0;
                while (j < code.size() && code[j] == '0') {
                    ++t.decimals;
                    ++j;
                }
            }
            s.tokens.push_back(t);
            i = j;
        } else {
            size_t pos = i;
            DecodeUtf8(code, pos);
            AddLiteral(s, code.substr(i, pos - i));
            i = pos;
        }
    }
    // An m next to hours or seconds counts minutes, not months.
    for (size_t k = 0; k < s.tokens.size(); ++k) {
        if (s.tokens[k].piece != Piece::Month || s.tokens[k].count > 2) {
            continue;
        }
        Piece before = Piece::Literal;
        for (size_t b = k; b-- > 0;) {
            if (s.tokens[b].piece != Piece::Literal) {
                before = s.tokens[b].piece;
                break;
            }
        }
        Piece after = Piece::Literal;
        for (size_t a = k + 1; a < s.tokens.size(); ++a) {
            if (s.tokens[a].piece != Piece::Literal) {
                after = s.tokens[a].piece;
                break;
            }
        }
        if (before == Piece::Hours || after == Piece::Seconds) {
            s.tokens[k].piece = Piece::Minutes;
        }
    }
    return s;
}

std::vector<std::string> SplitSections(std::string_view code)
{
    std::vector<std::string> out(1);
    bool quoted = false;
    bool bracket = false;
    for (size_t i = 0; i < code.size(); ++i) {
        char c = code[i];
        if (c == '\\' && !quoted && i + 1 < code.size()) {
            out.back() += code.substr(i, 2);
            ++i;
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == '[') {
            bracket = true;
        } else if (!quoted && c == ']') {
            bracket = false;
        } else if (!quoted && !bracket && c == ';') {
            out.emplace_back();
            continue;
        }
        out.back().push_back(c);
    }
    return out;
}

std::string_view ElementOf(const Section& s)
{
    bool date = false;
    bool time = false;
    bool number = false;
    bool text = false;
    bool currency = false;
    for (const Token& t : s.tokens) {
        date = date || IsDatePiece(t.piece);
        time = time || IsTimePiece(t.piece);
        number = number || t.piece == Piece::Number || t.piece == Piece::Scientific || t.piece == Piece::Fraction;
        text = text || t.piece == Piece::TextContent;
        currency = currency || t.piece == Piece::Currency;
    }
    if (date) {
        return "number:date-style";
    }
    if (time) {
        return "number:time-style";
    }
    if (text && !number) {
        return "number:text-style";
    }
    if (currency) {
        return "number:currency-style";
    }
    if (s.percent) {
        return "number:percentage-style";
    }
    return "number:number-style";
}

namespace {

void AppendText(std::string& out, std::string_view text)
{
    out += "<number:text>";
    AppendEscaped(out, text, false);
    out += "</number:text>";
}

void AppendPiece(std::string& out, const Token& t)
{
    auto longShort = [&](std::string_view name, bool isLong, std::string_view extra = {}) {
        out += "<number:";
        out += name;
        if (isLong) {
            out += " number:style=\"long\"";
        }
        out += extra;
        out += "/>";
    };
    switch (t.piece) {
    case Piece::Number:
        out += "<number:number";
        if (t.decimals >= 0) {
            out += " number:decimal-places=\"" + std::to_string(t.decimals) + "\"";
        }
        out += " number:min-integer-digits=\"" + std::to_string(t.minInt) + "\"";
        if (t.grouping) {
            out += " number:grouping=\"true\"";
        }
        out += "/>";
        break;
    case Piece::Scientific:
        out += "<number:scientific-number number:decimal-places=\"" + std::to_string(t.decimals) +
               "\" number:min-integer-digits=\"" + std::to_string(t.minInt) + "\" number:min-exponent-digits=\"" +
               std::to_string(t.expDigits) + "\"/>";
        break;
    case Piece::Fraction:
        out += "<number:fraction number:min-integer-digits=\"" + std::to_string(t.minInt) +
               "\" number:min-numerator-digits=\"" + std::to_string(t.numerator) +
               "\" number:min-denominator-digits=\"" + std::to_string(t.denominator) + "\"/>";
        break;
    case Piece::Currency:
        out += "<number:currency-symbol>";
        AppendEscaped(out, t.text, false);
        out += "</number:currency-symbol>";
        break;
    case Piece::Year:
        longShort("year", t.count != 2 && t.count != 1);
        break;
    case Piece::Month:
        longShort("month", t.count == 2 || t.count == 4, t.count >= 3 ? " number:textual=\"true\"" : "");
        break;
    case Piece::Day:
        longShort("day", t.count >= 2);
        break;
    case Piece::DayOfWeek:
        longShort("day-of-week", t.count >= 4);
        break;
    case Piece::Hours:
        longShort("hours", t.count >= 2);
        break;
    case Piece::Minutes:
        longShort("minutes", t.count >= 2);
        break;
    case Piece::Seconds:
        longShort("seconds", t.count >= 2,
                  t.decimals > 0 ? " number:decimal-places=\"" + std::to_string(t.decimals) + "\"" : std::string());
        break;
    case Piece::AmPm:
        out += "<number:am-pm/>";
        break;
    case Piece::TextContent:
        out += "<number:text-content/>";
        break;
    case Piece::Literal:
        AppendText(out, t.text);
        break;
    }
}

} // namespace

// One section as a data style element named `name`, with `maps` (style:map elements) at its end.
void AppendSection(std::string& out, const Section& s, const std::string& name, const std::string& maps)
{
    const std::string_view element = ElementOf(s);
    out += "<";
    out += element;
    out += " style:name=\"" + name + "\"";
    if (element == "number:time-style" && s.elapsed) {
        out += " number:truncate-on-overflow=\"false\"";
    }
    out += ">";
    if (!s.color.empty()) {
        out += "<style:text-properties fo:color=\"" + s.color + "\"/>";
    }
    // Each kind of data style takes its parts in an order of its own, with at most one text
    // between two of them: the parts that kind cannot hold are left out and texts between the
    // ones kept are joined.
    const bool isDate = element == "number:date-style" || element == "number:time-style";
    const bool isText = element == "number:text-style";
    const bool isCurrency = element == "number:currency-style";
    bool numberWritten = false;
    bool currencyWritten = false;
    bool textWritten = false;
    std::string pending;
    auto flush = [&]() {
        if (!pending.empty()) {
            AppendText(out, pending);
            pending.clear();
        }
    };
    for (const Token& t : s.tokens) {
        bool keep = false;
        switch (t.piece) {
        case Piece::Literal:
            pending += t.text;
            continue;
        case Piece::Number:
        case Piece::Scientific:
        case Piece::Fraction:
            keep = !isDate && !isText && !numberWritten;
            numberWritten = numberWritten || keep;
            break;
        case Piece::Currency:
            keep = isCurrency && !currencyWritten;
            currencyWritten = currencyWritten || keep;
            break;
        case Piece::TextContent:
            keep = isText && !textWritten;
            textWritten = textWritten || keep;
            break;
        default:
            keep = element == "number:date-style" || (element == "number:time-style" && IsTimePiece(t.piece));
            break;
        }
        if (keep) {
            flush();
            AppendPiece(out, t);
        }
    }
    flush();
    out += maps;
    out += "</";
    out += element;
    out += ">";
}

} // namespace gq::engine::odsout
