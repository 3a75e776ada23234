// Generation of the merge benchmark's workloads. Every value comes from a fixed-seed generator, so
// the same version of this file always writes the same workbooks.
// SPDX-License-Identifier: Apache-2.0
#include "bench/BenchWorkloads.h"

#include "engine/WorkbookFile.h"
#include "engine/formula/Formula.h"
#include "engine/model/Workbook.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

namespace gq::bench {

namespace fs = std::filesystem;
using namespace gq::engine;

namespace {

// Bump when the generated content changes, so that old work folders are regenerated.
// 4: W4 has its formula column as one shared formula, W4v as values; 5: W3F's .xls files hold their
// formula column as shared formulas (SHRFMLA), as Excel saves a filled-down column.
constexpr int kGeneratorVersion = 5;

// splitmix64: small, fast and identical on every platform.
class Random {
public:
    explicit Random(uint64_t seed) : m_state(seed) {}
    uint64_t Next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

private:
    uint64_t m_state;
};

const std::array<const char*, 16> kWords = {"north", "south", "east", "west",  "alpha", "beta",   "gamma",   "delta",
                                            "red",   "green", "blue", "amber", "open",  "closed", "pending", "done"};

std::string Pick(Random& random)
{
    return std::string(kWords[random.Below(kWords.size())]) + " " + kWords[random.Below(kWords.size())];
}

// Two decimals, as money is kept.
double Money(Random& random, double scale)
{
    return static_cast<double>(static_cast<int64_t>(random.Unit() * scale * 100.0)) / 100.0;
}

std::string NumberedName(const std::string& prefix, int i, const std::string& extension)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s_%03d%s", prefix.c_str(), i, extension.c_str());
    return buffer;
}

// W1 and W3: a bold header row, then integers, decimals, short texts and dates in turn.
void FillPlainSheet(Workbook& book, size_t index, uint32_t rows, uint32_t cols, Random& random)
{
    Worksheet& sheet = book.Sheet(index);
    ResolvedStyle bold;
    bold.font.bold = true;
    const uint32_t boldXf = book.Styles().InternStyle(bold);
    ResolvedStyle date;
    date.numFmt = "yyyy-mm-dd";
    const uint32_t dateXf = book.Styles().InternStyle(date);
    for (uint32_t c = 0; c < cols; ++c) {
        sheet.SetString(0, c, book.Strings().Intern("Column " + std::to_string(c + 1)), boldXf);
    }
    for (uint32_t r = 1; r < rows; ++r) {
        for (uint32_t c = 0; c < cols; ++c) {
            switch (c % 4) {
            case 0:
                sheet.SetNumber(r, c, static_cast<double>(random.Below(100000)));
                break;
            case 1:
                sheet.SetNumber(r, c, Money(random, 10000.0));
                break;
            case 2:
                sheet.SetString(r, c, book.Strings().Intern(Pick(random)));
                break;
            default:
                sheet.SetNumber(r, c, 43831.0 + random.Below(2000), dateXf);
            }
        }
    }
}

// W3F: W3's sheet with a ninth column of formulas, each row's own: a product, a sum and a
// reference to the header row, with its cached value. The column is one formula filled down, which
// the files hold as shared formulas (SHRFMLA), as Excel and LibreOffice save a filled column.
void AddFormulaColumn(Workbook& book, size_t index, uint32_t rows)
{
    Worksheet& sheet = book.Sheet(index);
    sheet.SetString(0, 8, book.Strings().Intern("Total"));
    for (uint32_t r = 1; r < rows; ++r) {
        const Cell* a = sheet.FindCell(r, 0);
        const Cell* b = sheet.FindCell(r, 1);
        sheet.SetNumber(r, 8, (a != nullptr ? a->number : 0) * 2 + (b != nullptr ? b->number : 0));
        if (r == 1) {
            formula::SetCellFormula(sheet, r, 8, "A2*2+SUM(B2,$H$1)");
        } else {
            Cell& cell = sheet.CellAt(r, 8);
            cell.formula = true;
            cell.formulaIndex = sheet.CellAt(1, 8).formulaIndex;
        }
    }
}

// W2: one large sheet; texts from small pools plus one unique code a row, numbers, dates,
// booleans, and a column left empty in one row of fifty.
void FillLargeSheet(Workbook& book, size_t index, uint32_t rows, Random& random, int bookNumber)
{
    Worksheet& sheet = book.Sheet(index);
    ResolvedStyle date;
    date.numFmt = "yyyy-mm-dd";
    const uint32_t dateXf = book.Styles().InternStyle(date);
    ResolvedStyle bold;
    bold.font.bold = true;
    const uint32_t boldXf = book.Styles().InternStyle(bold);
    constexpr uint32_t kCols = 20;
    sheet.rows.reserve(rows);
    for (uint32_t c = 0; c < kCols; ++c) {
        sheet.SetString(0, c, book.Strings().Intern("Field " + std::to_string(c + 1)), boldXf);
    }
    char code[32];
    for (uint32_t r = 1; r < rows; ++r) {
        sheet.RowAt(r).cells.reserve(kCols);
        for (uint32_t c = 0; c < kCols; ++c) {
            switch (c) {
            case 0:
                std::snprintf(code, sizeof code, "K%d-%07u", bookNumber, r);
                sheet.SetString(r, c, book.Strings().Intern(code));
                break;
            case 1:
            case 5:
            case 9:
            case 13:
                sheet.SetString(r, c, book.Strings().Intern(Pick(random)));
                break;
            case 2:
            case 6:
            case 10:
            case 14:
                sheet.SetNumber(r, c, static_cast<double>(random.Below(1000000)));
                break;
            case 3:
            case 7:
            case 11:
            case 15:
                sheet.SetNumber(r, c, Money(random, 100000.0));
                break;
            case 4:
            case 8:
                sheet.SetNumber(r, c, 40000.0 + random.Below(8000), dateXf);
                break;
            case 12:
                sheet.SetBoolean(r, c, random.Below(2) == 1);
                break;
            case 16:
            case 17:
            case 18:
                sheet.SetNumber(r, c, random.Unit() * 1000.0);
                break;
            default:
                if (random.Below(50) != 0) {
                    sheet.SetString(r, c, book.Strings().Intern(kWords[random.Below(kWords.size())]));
                }
            }
        }
    }
}

// W4: a formatted report: merged title, styled header, section rows, borders, fills, alignment,
// custom number formats, widths, heights, a frozen pane and a formula column, a row total with its
// cached result. W4v has the same column as plain values, to measure what formulas cost.
void FillStyledSheet(Workbook& book, size_t index, uint32_t rows, Random& random, bool formulas)
{
    constexpr uint32_t kCols = 12;
    Worksheet& sheet = book.Sheet(index);
    StyleTable& styles = book.Styles();
    const Color ink = Color::Rgb(0xFF1F3864);
    BorderLine thin{BorderStyle::Thin, Color::Rgb(0xFF808080)};
    Border box{thin, thin, thin, thin, {}, false, false};

    ResolvedStyle title;
    title.font.name = "Cambria";
    title.font.size = 16;
    title.font.bold = true;
    title.font.color = ink;
    title.alignment.horizontal = HAlign::Center;
    title.alignment.vertical = VAlign::Center;
    const uint32_t titleXf = styles.InternStyle(title);

    ResolvedStyle header;
    header.font.bold = true;
    header.font.color = Color::Rgb(0xFFFFFFFF);
    header.fill = Fill{PatternType::Solid, Color::Rgb(0xFF4472C4), Color::Automatic()};
    header.border = box;
    header.alignment.horizontal = HAlign::Center;
    header.alignment.wrap = true;
    const uint32_t headerXf = styles.InternStyle(header);

    ResolvedStyle section;
    section.font.bold = true;
    section.font.italic = true;
    section.fill = Fill{PatternType::Solid, Color::Rgb(0xFFD9E1F2), Color::Automatic()};
    section.border.bottom = BorderLine{BorderStyle::Medium, ink};
    const uint32_t sectionXf = styles.InternStyle(section);

    auto dataStyle = [&](const std::string& numFmt, HAlign align, bool shaded) {
        ResolvedStyle s;
        s.numFmt = numFmt;
        s.border = box;
        s.alignment.horizontal = align;
        if (shaded) {
            s.fill = Fill{PatternType::Solid, Color::Rgb(0xFFF2F2F2), Color::Automatic()};
        }
        return styles.InternStyle(s);
    };
    const std::array<std::string, kCols> formats = {
        "@",       "General", "#,##0", "#,##0.00",        "0.0%",    "dd/mm/yyyy", "[$EUR] #,##0.00;[Red]-#,##0.00",
        "General", "0.000",   "hh:mm", "#,##0.00 \"kg\"", "#,##0.00"};
    std::array<uint32_t, kCols> plainXf{};
    std::array<uint32_t, kCols> shadedXf{};
    for (uint32_t c = 0; c < kCols; ++c) {
        const HAlign align = c == 0 || c == 7 ? HAlign::Left : HAlign::Right;
        plainXf[c] = dataStyle(formats[c], align, false);
        shadedXf[c] = dataStyle(formats[c], align, true);
    }

    sheet.SetString(0, 0, book.Strings().Intern("Quarterly operations report"), titleXf);
    for (uint32_t c = 1; c < kCols; ++c) {
        sheet.SetBlank(0, c, titleXf);
    }
    sheet.merges.push_back(CellRange{0, 0, 0, kCols - 1});
    Row& titleRow = sheet.RowAt(0);
    titleRow.height = 28;
    titleRow.customHeight = true;
    for (uint32_t c = 0; c < kCols; ++c) {
        sheet.SetString(1, c, book.Strings().Intern("Measure " + std::to_string(c + 1)), headerXf);
    }
    sheet.RowAt(1).height = 30;
    sheet.RowAt(1).customHeight = true;
    sheet.frozenRows = 2;
    sheet.frozenCols = 1;
    for (uint32_t c = 0; c < kCols; ++c) {
        ColumnInfo info;
        info.first = c;
        info.last = c;
        info.width = c == 0 ? 24.0 : 11.0 + (c % 3) * 2.5;
        info.customWidth = true;
        sheet.SetColumn(info);
    }

    for (uint32_t r = 2; r < rows; ++r) {
        if (r % 50 == 2) {
            // A section row: one merged, shaded label across the table.
            sheet.SetString(r, 0, book.Strings().Intern("Section " + std::to_string(r / 50 + 1)), sectionXf);
            for (uint32_t c = 1; c < kCols; ++c) {
                sheet.SetBlank(r, c, sectionXf);
            }
            sheet.merges.push_back(CellRange{r, 0, r, kCols - 1});
            sheet.RowAt(r).height = 20;
            sheet.RowAt(r).customHeight = true;
            continue;
        }
        const bool shaded = r % 2 == 0;
        const auto& xf = shaded ? shadedXf : plainXf;
        double total = 0;
        for (uint32_t c = 0; c < kCols; ++c) {
            switch (c) {
            case 0:
                sheet.SetString(r, c, book.Strings().Intern("Item " + std::to_string(r)), xf[c]);
                break;
            case 7:
                sheet.SetString(r, c, book.Strings().Intern(Pick(random)), xf[c]);
                break;
            case 4:
                sheet.SetNumber(r, c, random.Unit(), xf[c]);
                break;
            case 5:
                sheet.SetNumber(r, c, 44000.0 + random.Below(900), xf[c]);
                break;
            case 9:
                sheet.SetNumber(r, c, random.Below(96) / 96.0, xf[c]);
                break;
            case 11: {
                // The formula column: the row's total of the money columns.
                sheet.SetNumber(r, c, total, xf[c]);
                if (formulas && sheet.formulas.empty()) {
                    const std::string n = std::to_string(r + 1);
                    formula::SetCellFormula(sheet, r, c,
                                            "B" + n + "+C" + n + "+D" + n + "+G" + n + "+I" + n + "+K" + n);
                } else if (formulas) {
                    // Every row's total is the first row's formula moved down, as a column filled
                    // down in an office suite is saved: one shared formula.
                    Cell& cell = sheet.CellAt(r, c);
                    cell.formula = true;
                    cell.formulaIndex = 0;
                }
                break;
            }
            default: {
                const double value = Money(random, 5000.0);
                total += value;
                sheet.SetNumber(r, c, value, xf[c]);
            }
            }
        }
    }
}

using Filler = std::function<void(Workbook&, int, Random&)>;

// Writes the workbooks and gives the number of cells they hold.
uint64_t WriteBooks(const std::string& folder, int count, const std::string& prefix, const std::string& extension,
                    const std::vector<std::string>& sheetNames, const Filler& fill)
{
    uint64_t cells = 0;
    for (int i = 0; i < count; ++i) {
        Workbook book;
        for (const std::string& name : sheetNames) {
            book.InsertSheet(book.SheetCount(), name);
        }
        Random random(0x6772696471756C74ull + static_cast<uint64_t>(i) * 7919u + prefix.size());
        fill(book, i, random);
        for (size_t s = 0; s < book.SheetCount(); ++s) {
            cells += book.Sheet(s).CellCount();
        }
        SaveWorkbookFile(book, (fs::path(folder) / NumberedName(prefix, i, extension)).string());
    }
    return cells;
}

} // namespace

std::vector<Workload> Workloads()
{
    return {
        {"W1", "200 xlsx, sheets Sales/Costs/Notes of 200 x 10 each", "w1", 0, {}, {}},
        {"W2", "4 xlsx, one sheet of 100,000 x 20 each", "w2", 0, {}, {}},
        {"W3", "100 xls, 2 sheets of 500 x 8 each", "w3", 0, {}, {}},
        {"W3F", "W3 with a ninth column of formulas", "w3f", 0, {}, {}},
        {"W4", "20 styled xlsx, one sheet of 2,000 x 12 each", "w4", 0, {}, {}},
        {"W4v", "W4 with its formula column as values only", "w4v", 0, {}, {}},
        {"W5", "2,000 xlsx of W1's kind (6,000 sheets, 12 M cells)", "w5", 0, {}, {}},
        // W2's workbooks stacked into one sheet of 400,000 rows: the tall output that must not be
        // held in memory. Only .xlsx holds that many rows.
        {"W6", "W2 stacked into one sheet (400,000 rows), single-sheet to xlsx", "w2", 0, {"single"}, {"xlsx"}},
    };
}

std::string GenerateWorkload(Workload& workload, const std::string& workFolder)
{
    const fs::path folder = fs::path(workFolder) / workload.folder;
    const fs::path stamp = fs::path(workFolder) / (workload.folder + ".stamp");
    {
        std::ifstream in(stamp);
        int version = 0;
        uint64_t cells = 0;
        if (in >> version >> cells && version == kGeneratorVersion && fs::is_directory(folder)) {
            workload.cells = cells;
            return folder.string();
        }
    }
    fs::remove_all(folder);
    fs::create_directories(folder);
    const std::string out = folder.string();
    uint64_t cells = 0;
    if (workload.name == "W1" || workload.name == "W5") {
        cells = WriteBooks(out, workload.name == "W1" ? 200 : 2000, "book", ".xlsx", {"Sales", "Costs", "Notes"},
                           [](Workbook& book, int, Random& random) {
                               for (size_t s = 0; s < 3; ++s) {
                                   FillPlainSheet(book, s, 200, 10, random);
                               }
                           });
    } else if (workload.name == "W2" || workload.name == "W6") {
        cells = WriteBooks(out, 4, "large", ".xlsx", {"Data"},
                           [](Workbook& book, int i, Random& random) { FillLargeSheet(book, 0, 100000, random, i); });
    } else if (workload.name == "W3") {
        cells = WriteBooks(out, 100, "legacy", ".xls", {"First", "Second"}, [](Workbook& book, int, Random& random) {
            for (size_t s = 0; s < 2; ++s) {
                FillPlainSheet(book, s, 500, 8, random);
            }
        });
    } else if (workload.name == "W3F") {
        cells = WriteBooks(out, 100, "legacy", ".xls", {"First", "Second"}, [](Workbook& book, int, Random& random) {
            for (size_t s = 0; s < 2; ++s) {
                FillPlainSheet(book, s, 500, 8, random);
                AddFormulaColumn(book, s, 500);
            }
        });
    } else {
        const bool formulas = workload.name == "W4";
        cells = WriteBooks(out, 20, "report", ".xlsx", {"Report"}, [formulas](Workbook& book, int, Random& random) {
            FillStyledSheet(book, 0, 2000, random, formulas);
        });
    }
    workload.cells = cells;
    std::ofstream(stamp) << kGeneratorVersion << ' ' << cells << '\n';
    return out;
}

} // namespace gq::bench
