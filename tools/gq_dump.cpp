// gq-dump: prints a workbook as canonical text (sheets, cells with types, values and formats,
// merges, sizes, hidden rows and columns, outline levels and summaries, row formats, hyperlinks),
// the same text for the same content whatever the file format. Kept formulas are printed after
// their cached values; the other cells of an array formula name the array's range.
// SPDX-License-Identifier: Apache-2.0
#include "cli/CliLanguage.h"
#include "common/AsciiText.h"
#include "engine/Errors.h"
#include "engine/Limits.h"
#include "engine/WorkbookFile.h"
#include "engine/formula/Formula.h"
#include "engine/model/Workbook.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace gq::engine;

// Shortest text that reads back as the same double.
std::string Num(double value)
{
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string Num(float value)
{
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// A quoted string with control characters, quotes and backslashes escaped; other bytes as they are.
std::string Quote(std::string_view text)
{
    std::string out = "\"";
    for (char ch : text) {
        auto c = static_cast<unsigned char>(ch);
        if (const char* escape = gq::BackslashEscape(ch)) {
            out += escape;
        } else if (c == '"') {
            out += "\\\"";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out.push_back(ch);
        }
    }
    out += "\"";
    return out;
}

// "No colour" and "automatic" mean the same (the window's colour); formats spell them differently.
std::string ColorText(const Color& color)
{
    switch (color.kind) {
    case Color::Kind::None:
    case Color::Kind::Auto:
        return "auto";
    case Color::Kind::Rgb: {
        char hex[16];
        std::snprintf(hex, sizeof hex, "%08X", color.argb);
        return hex;
    }
    }
    return "none";
}

constexpr const char* kPatterns[] = {"none",           "solid",           "mediumGray",    "darkGray",  "lightGray",
                                     "darkHorizontal", "darkVertical",    "darkDown",      "darkUp",    "darkGrid",
                                     "darkTrellis",    "lightHorizontal", "lightVertical", "lightDown", "lightUp",
                                     "lightGrid",      "lightTrellis",    "gray125",       "gray0625"};
constexpr const char* kBorderStyles[] = {
    "none",         "thin",    "medium",        "dashed",     "dotted",           "thick",       "double", "hair",
    "mediumDashed", "dashDot", "mediumDashDot", "dashDotDot", "mediumDashDotDot", "slantDashDot"};
constexpr const char* kHAlign[] = {"general", "left",    "center",           "right",
                                   "fill",    "justify", "centerContinuous", "distributed"};
constexpr const char* kVAlign[] = {"top", "center", "bottom", "justify", "distributed"};
constexpr const char* kUnderline[] = {"none", "single", "double", "singleAccounting", "doubleAccounting"};

template <size_t N>
const char* NameOf(const char* const (&names)[N], uint8_t value)
{
    return value < N ? names[value] : "?";
}

// The parts of a cell's look that differ from a plain cell (General, Calibri 11, no fill, no
// border, bottom-aligned, locked); empty for a plain cell. Comparing against fixed defaults rather
// than the workbook's own keeps the text comparable between workbooks.
std::string StyleText(ResolvedStyle s)
{
    static const ResolvedStyle kPlain;
    if (s.font.color.kind == Color::Kind::Auto) {
        s.font.color = Color{};
    }
    // A solid fill shows only its pattern colour; a missing fill has no colours at all.
    if (s.fill.pattern == PatternType::Solid) {
        s.fill.bg = Color{};
    } else if (s.fill.pattern == PatternType::None) {
        s.fill = Fill{};
    }
    std::vector<std::string> parts;
    if (s.numFmt != kPlain.numFmt) {
        parts.push_back("numfmt " + Quote(s.numFmt));
    }
    if (!(s.font == kPlain.font)) {
        std::string f = "font " + Quote(s.font.name) + " " + Num(s.font.size);
        if (s.font.bold) {
            f += " bold";
        }
        if (s.font.italic) {
            f += " italic";
        }
        if (s.font.strike) {
            f += " strike";
        }
        if (s.font.underline != Underline::None) {
            f += std::string(" underline=") + NameOf(kUnderline, static_cast<uint8_t>(s.font.underline));
        }
        if (s.font.vertAlign == VertAlign::Superscript) {
            f += " superscript";
        } else if (s.font.vertAlign == VertAlign::Subscript) {
            f += " subscript";
        }
        if (s.font.color.kind != Color::Kind::None) {
            f += " color=" + ColorText(s.font.color);
        }
        parts.push_back(f);
    }
    if (!(s.fill == kPlain.fill)) {
        std::string f = std::string("fill ") + NameOf(kPatterns, static_cast<uint8_t>(s.fill.pattern)) +
                        " fg=" + ColorText(s.fill.fg);
        if (s.fill.pattern != PatternType::Solid) {
            f += " bg=" + ColorText(s.fill.bg);
        }
        parts.push_back(f);
    }
    if (!(s.border == kPlain.border)) {
        std::string b = "border";
        auto line = [&](const char* side, const BorderLine& l) {
            if (l.style != BorderStyle::None) {
                b += std::string(" ") + side + "=" + NameOf(kBorderStyles, static_cast<uint8_t>(l.style)) + "/" +
                     ColorText(l.color);
            }
        };
        line("left", s.border.left);
        line("right", s.border.right);
        line("top", s.border.top);
        line("bottom", s.border.bottom);
        line("diagonal", s.border.diagonal);
        if (s.border.diagonalUp) {
            b += " up";
        }
        if (s.border.diagonalDown) {
            b += " down";
        }
        parts.push_back(b);
    }
    if (!(s.alignment == kPlain.alignment)) {
        std::string a = std::string("align ") + NameOf(kHAlign, static_cast<uint8_t>(s.alignment.horizontal)) + "/" +
                        NameOf(kVAlign, static_cast<uint8_t>(s.alignment.vertical));
        if (s.alignment.wrap) {
            a += " wrap";
        }
        if (s.alignment.shrink) {
            a += " shrink";
        }
        if (s.alignment.rotation != 0) {
            a += " rotation=" + std::to_string(s.alignment.rotation);
        }
        if (s.alignment.indent != 0) {
            a += " indent=" + std::to_string(s.alignment.indent);
        }
        parts.push_back(a);
    }
    if (!(s.protection == kPlain.protection)) {
        parts.push_back(std::string("protection") + (s.protection.locked ? " locked" : " unlocked") +
                        (s.protection.hidden ? " hidden" : ""));
    }
    std::string out;
    for (const auto& p : parts) {
        out += out.empty() ? "" : "; ";
        out += p;
    }
    return out;
}

const char* StateText(SheetState state)
{
    switch (state) {
    case SheetState::Visible:
        return "visible";
    case SheetState::Hidden:
        return "hidden";
    case SheetState::VeryHidden:
        return "very-hidden";
    }
    return "visible";
}

struct Options {
    bool styles = true;
    std::string sheet; // only this sheet, when given
    std::string path;
};

void DumpSheet(Workbook& book, size_t index, const Options& options, std::ostream& out)
{
    Worksheet& sheet = book.Sheet(index);
    out << "sheet " << (index + 1) << " " << Quote(book.SheetName(index)) << " " << StateText(book.SheetStateAt(index))
        << "\n";
    auto used = sheet.UsedRange();
    out << "  used " << (used ? RangeName(*used) : std::string("none")) << "\n";
    if (sheet.defaultColWidth != 0) {
        out << "  default-column-width " << Num(sheet.defaultColWidth) << "\n";
    }
    if (sheet.defaultRowHeight != 0) {
        out << "  default-row-height " << Num(sheet.defaultRowHeight) << "\n";
    }
    if (sheet.frozenRows != 0 || sheet.frozenCols != 0) {
        out << "  frozen rows=" << sheet.frozenRows << " columns=" << sheet.frozenCols << "\n";
    }
    if (!sheet.summaryBelow || !sheet.summaryRight) {
        out << "  outline-summary rows=" << (sheet.summaryBelow ? "below" : "above")
            << " columns=" << (sheet.summaryRight ? "right" : "left") << "\n";
    }
    for (const ColumnInfo& c : sheet.columns) {
        out << "  column " << ColumnName(c.first) << ":" << ColumnName(c.last);
        if (c.width != 0) {
            out << " width=" << Num(c.width);
        }
        if (c.customWidth) {
            out << " custom";
        }
        if (c.hidden) {
            out << " hidden";
        }
        if (c.outlineLevel != 0) {
            out << " level=" << int{c.outlineLevel};
        }
        if (c.collapsed) {
            out << " collapsed";
        }
        if (options.styles && c.style != 0) {
            std::string style = StyleText(book.Styles().Resolve(c.style));
            if (!style.empty()) {
                out << " {" << style << "}";
            }
        }
        out << "\n";
    }
    // The ranges of the sheet's array formulas, whose other cells hold results only: their text is
    // printed once, at the first cell. xlsx gives those cells no formula and .xls a FORMULA record
    // each; both print as part of the array, so that the two formats diff.
    std::vector<CellRange> arrays;
    for (const Row& r : sheet.rows) {
        for (const Cell& c : r.cells) {
            if (c.formulaIndex < sheet.formulas.size() && sheet.formulas[c.formulaIndex].arrayRows > 0) {
                const FormulaEntry& entry = sheet.formulas[c.formulaIndex];
                arrays.push_back(CellRange{r.index, c.col, r.index + entry.arrayRows - 1, c.col + entry.arrayCols - 1});
            }
        }
    }
    auto arrayOf = [&](uint32_t row, uint32_t col) -> const CellRange* {
        for (const CellRange& a : arrays) {
            if (row >= a.firstRow && row <= a.lastRow && col >= a.firstCol && col <= a.lastCol &&
                !(row == a.firstRow && col == a.firstCol)) {
                return &a;
            }
        }
        return nullptr;
    };
    for (const Row& r : sheet.rows) {
        // The row's settings: size, visibility, outline, and the format of a row formatted as a
        // whole; a row format that looks plain prints nothing, as a plain cell format does.
        std::string settings;
        if (r.height != 0) {
            settings += " height=" + Num(r.height);
        }
        if (r.customHeight) {
            settings += " custom";
        }
        if (r.hidden) {
            settings += " hidden";
        }
        if (r.outlineLevel != 0) {
            settings += " level=" + std::to_string(r.outlineLevel);
        }
        if (r.collapsed) {
            settings += " collapsed";
        }
        if (options.styles && r.style != 0) {
            std::string style = StyleText(book.Styles().Resolve(r.style));
            if (!style.empty()) {
                settings += " {" + style + "}";
            }
        }
        if (!settings.empty()) {
            out << "  row " << (uint64_t{r.index} + 1) << settings << "\n";
        }
        for (const Cell& c : r.cells) {
            out << "  cell " << CellName(r.index, c.col) << " ";
            switch (c.type) {
            case CellType::Blank:
                out << "blank";
                break;
            case CellType::Number:
                out << "number " << Num(c.number);
                if (book.Styles().IsDateFormat(c.style)) {
                    out << " (date)";
                }
                break;
            case CellType::String:
                out << "string " << Quote(book.Strings().At(c.text));
                break;
            case CellType::Boolean:
                out << "boolean " << (c.boolean ? "TRUE" : "FALSE");
                break;
            case CellType::Error:
                out << "error " << ErrorText(c.error);
                break;
            }
            if (const CellRange* array = arrays.empty() ? nullptr : arrayOf(r.index, c.col)) {
                out << " formula in array " << RangeName(*array);
            } else if (c.formula) {
                // The formula as this cell has it (a shared formula moved to the cell), after the
                // cached value that readers without a calculation engine show.
                out << " formula";
                formula::Formula f;
                if (formula::CellFormula(sheet, r.index, c, f)) {
                    out << " " << Quote("=" + formula::PrintFormula(f));
                    const FormulaEntry& entry = sheet.formulas[c.formulaIndex];
                    if (entry.arrayRows > 0) { // only the array formula's own cell points at it
                        out << " array "
                            << RangeName(CellRange{r.index, c.col, r.index + entry.arrayRows - 1,
                                                   c.col + entry.arrayCols - 1});
                    }
                }
            }
            if (options.styles) {
                std::string style = StyleText(book.Styles().Resolve(c.style));
                if (!style.empty()) {
                    out << " {" << style << "}";
                }
            }
            out << "\n";
        }
    }
    for (const CellRange& m : sheet.merges) {
        out << "  merge " << RangeName(m) << "\n";
    }
    for (const Hyperlink& h : sheet.hyperlinks) {
        out << "  hyperlink " << RangeName(h.range);
        if (!h.target.empty()) {
            out << " target=" << Quote(h.target);
        }
        if (!h.location.empty()) {
            out << " location=" << Quote(h.location);
        }
        if (!h.tooltip.empty()) {
            out << " tooltip=" << Quote(h.tooltip);
        }
        if (!h.display.empty()) {
            out << " display=" << Quote(h.display);
        }
        out << "\n";
    }
}

constexpr const char* kProgramName = "gq-dump";

constexpr const char* kUsage = "Usage: gq-dump [--no-styles] [--sheet NAME] WORKBOOK\n"
                               "       gq-dump --help | --version\n";

// clang-format off
constexpr const char* kHelp = GQ_TEXT("Prints a workbook (.xlsx, .xls and the other formats Gridquilt reads) as canonical\n"
                              "text: the same content gives the same text whatever the file format.\n"
                              "WORKBOOK \"-\" reads the workbook from standard input.\n"
                              "\n"
                              "Options:\n"
                              "      --no-styles   Leave out the formatting of cells.\n"
                              "      --sheet NAME  Print only the worksheet of that name.\n"
                              "  -h, --help        Show this help.\n"
                              "  -V, --version     Show the version.\n"
                              "\n"
                              "Exit status: 0 printed; 1 the workbook could not be read or has no sheet\n"
                              "of that name; 2 usage error.\n");
// clang-format on

int UsageError(const std::string& problem)
{
    std::cerr << kProgramName << ": " << problem << "\n"
              << gq::cli::Tr("Try '%s --help' for more information.", {kProgramName}) << '\n';
    return 2;
}

// The workbook on standard input, read into memory up to the size any input file may have.
std::unique_ptr<Workbook> OpenStandardInput()
{
    std::vector<uint8_t> bytes;
    char buffer[1 << 16];
    while (std::cin.read(buffer, sizeof buffer) || std::cin.gcount() > 0) {
        bytes.insert(bytes.end(), buffer, buffer + std::cin.gcount());
        if (bytes.size() > limits::kMaxInputFileBytes) {
            throw LimitError("standard input",
                             "the workbook is larger than " + std::to_string(limits::kMaxInputFileBytes >> 20) + " MB");
        }
    }
    if (std::cin.bad()) {
        throw IoError("standard input", "cannot be read");
    }
    return OpenWorkbookBytes(InputBytes::FromMemory(std::move(bytes), "standard input"));
}

} // namespace

int main(int argc, char** argv)
{
    gq::cli::FollowUserLanguage();
    Options options;
    bool operandsOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (operandsOnly || arg.size() < 2 || arg[0] != '-') {
            if (!options.path.empty()) {
                return UsageError(gq::cli::Tr("only one WORKBOOK can be printed at a time"));
            }
            options.path = arg;
        } else if (arg == "--") {
            operandsOnly = true;
        } else if (arg == "--no-styles") {
            options.styles = false;
        } else if (arg == "--sheet" || arg.rfind("--sheet=", 0) == 0) {
            if (arg == "--sheet" && i + 1 >= argc) {
                return UsageError(gq::cli::Tr("option %s needs a value", {"--sheet"}));
            }
            options.sheet = arg == "--sheet" ? argv[++i] : arg.substr(8);
        } else if (arg == "--help" || arg == "-h") {
            std::cout << kUsage << '\n' << gq::cli::Tr(kHelp);
            return 0;
        } else if (arg == "--version" || arg == "-V") {
            std::cout << kProgramName << ' ' << GQ_VERSION << '\n';
            return 0;
        } else {
            return UsageError(gq::cli::Tr("unknown option %s", {arg}));
        }
    }
    if (options.path.empty()) {
        return UsageError(gq::cli::Tr("no WORKBOOK given"));
    }
    try {
        std::unique_ptr<Workbook> book = options.path == "-" ? OpenStandardInput() : OpenWorkbookFile(options.path);
        std::ostream& out = std::cout;
        out << "workbook date-system=" << (book->Date1904() ? "1904" : "1900") << " sheets=" << book->SheetCount()
            << " active=" << (book->ActiveSheet() + 1) << "\n";
        bool found = options.sheet.empty();
        for (size_t i = 0; i < book->SheetCount(); ++i) {
            if (!options.sheet.empty() && book->SheetName(i) != options.sheet) {
                continue;
            }
            found = true;
            DumpSheet(*book, i, options, out);
        }
        out.flush();
        if (!found) {
            std::cerr << "gq-dump: "
                      << gq::cli::Tr("%s: there is no sheet named %s", {options.path, Quote(options.sheet)}) << "\n";
            return 1;
        }
    } catch (const std::exception& e) {
        std::cerr << "gq-dump: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
