// The .xls reader on workbooks built record by record: every cell kind, styles, sheet kinds and
// states, sheet layout, and hostile files (each built valid, then one field poked) that must fail
// fast with one specific, clear error.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xls/XlsReader.h"
#include "engine/Errors.h"
#include "engine/WorkbookFile.h"
#include "tests/support/BiffTestBuilder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace gq::engine {
namespace {

namespace tb = gq::test::biff;
using tb::Bytes;
using tb::Record;

void Append(std::vector<uint8_t>& into, const std::vector<uint8_t>& rec)
{
    into.insert(into.end(), rec.begin(), rec.end());
}

std::vector<uint8_t> FontRecord(const std::string& name, uint16_t twips, uint16_t grbit, uint16_t icv, uint16_t weight,
                                uint8_t underline = 0)
{
    Bytes f;
    f.U16(twips).U16(grbit).U16(icv).U16(weight).U16(0).U8(underline).U8(0).U8(0).U8(0).ShortXLString(name);
    return Record(0x0031, f);
}

// A BIFF8 XF record. `used` is the fAtr* byte already shifted (bits 2-7).
struct XfFields {
    uint16_t font = 0;
    uint16_t format = 0;
    bool style = false;
    uint16_t parent = 0;
    uint8_t align = 0x20; // bottom, general
    uint8_t rotation = 0;
    uint8_t indent = 0;
    uint8_t used = 0xFC;
    uint32_t border1 = 0;
    uint32_t border2 = 0;
    uint16_t colors = 0x20C0; // icvFore 64, icvBack 65
    bool locked = true;
};

std::vector<uint8_t> XfRecord(const XfFields& x)
{
    Bytes b;
    uint16_t typeProt = static_cast<uint16_t>((x.locked ? 1 : 0) | (x.style ? 4 : 0) | (x.parent << 4));
    b.U16(x.font).U16(x.format).U16(typeProt).U8(x.align).U8(x.rotation).U8(x.indent).U8(x.used);
    b.U32(x.border1).U32(x.border2).U16(x.colors);
    return Record(0x00E0, b);
}

// Cell records.
std::vector<uint8_t> Number(uint16_t row, uint16_t col, double v, uint16_t xf = 15)
{
    return Record(0x0203, Bytes().U16(row).U16(col).U16(xf).F64(v));
}
std::vector<uint8_t> Rk(uint16_t row, uint16_t col, uint32_t rk, uint16_t xf = 15)
{
    return Record(0x027E, Bytes().U16(row).U16(col).U16(xf).U32(rk));
}
std::vector<uint8_t> LabelSst(uint16_t row, uint16_t col, uint32_t isst, uint16_t xf = 15)
{
    return Record(0x00FD, Bytes().U16(row).U16(col).U16(xf).U32(isst));
}
std::vector<uint8_t> Sst(const std::vector<std::string>& strings, uint32_t unique)
{
    Bytes b;
    b.U32(static_cast<uint32_t>(strings.size())).U32(unique);
    for (const auto& s : strings) {
        b.XLString(s);
    }
    return Record(0x00FC, b);
}

// Globals most tests share: fonts 0-3 and 5 (font 5 is bold, italic, red from the palette), a
// custom number format 164, the 15 style XFs, and cell XFs 15 (default), 16 (date, builtin 14),
// 17 (font 5, custom format), 18 (solid fill in palette colour 13, thin red left border, wrapped,
// centred, rotated 45, indent 2, unlocked).
tb::WorkbookStream BasicBook()
{
    tb::WorkbookStream wb;
    Append(wb.globals, Record(0x0042, Bytes().U16(1200)));
    for (int i = 0; i < 4; ++i) {
        Append(wb.globals, FontRecord("Arial", 200, 0, 0x7FFF, 400));
    }
    Append(wb.globals, FontRecord("Times New Roman", 240, 0x0002, 10, 700, 1));
    Append(wb.globals, Record(0x041E, Bytes().U16(164).XLString("0.000")));
    for (int i = 0; i < 15; ++i) {
        XfFields s;
        s.style = true;
        s.parent = 0xFFF;
        s.used = 0;
        Append(wb.globals, XfRecord(s));
    }
    Append(wb.globals, XfRecord(XfFields{}));
    XfFields date;
    date.format = 14;
    Append(wb.globals, XfRecord(date));
    XfFields fancy;
    fancy.font = 5;
    fancy.format = 164;
    Append(wb.globals, XfRecord(fancy));
    XfFields filled;
    filled.align = 0x02 | 0x08 | 0x10; // centre, wrap, vertical centre
    filled.rotation = 45;
    filled.indent = 2;
    filled.locked = false;
    filled.border1 = 0x1 | (10u << 16);                    // thin left, red
    filled.border2 = 1u << 26;                             // solid fill
    filled.colors = static_cast<uint16_t>(13 | (65 << 7)); // fore yellow
    Append(wb.globals, XfRecord(filled));
    return wb;
}

std::shared_ptr<const InputBytes> Bytesof(std::vector<uint8_t> data)
{
    return InputBytes::FromMemory(std::move(data), "poked.xls");
}

std::unique_ptr<Workbook> Open(const tb::WorkbookStream& wb)
{
    return OpenWorkbookBytes(Bytesof(tb::XlsFile(wb).bytes));
}

tb::Sheet SheetWith(const std::string& name, std::vector<std::vector<uint8_t>> records)
{
    tb::Sheet s;
    s.name = name;
    for (const auto& r : records) {
        Append(s.records, r);
    }
    return s;
}

// ---- Cells ----------------------------------------------------------------------------------

TEST(XlsReader, ReadsEveryCellKind)
{
    tb::WorkbookStream wb = BasicBook();
    wb.afterSheets = Sst({"shared", "second"}, 2);
    std::vector<uint8_t> cells;
    Append(cells, LabelSst(0, 0, 1));
    Append(cells, Rk(0, 1, (123u << 2) | 0x2));                    // integer 123
    Append(cells, Rk(0, 2, (12345u << 2) | 0x3));                  // 123.45
    Append(cells, Rk(0, 3, 0x3FF00000u));                          // the double 1.0 by its high bits
    Append(cells, Rk(0, 4, static_cast<uint32_t>(-7) << 2 | 0x2)); // -7
    Append(cells, Number(1, 0, 2.5));
    Append(cells, Record(0x0205, Bytes().U16(1).U16(1).U16(15).U8(1).U8(0)));    // TRUE
    Append(cells, Record(0x0205, Bytes().U16(1).U16(2).U16(15).U8(0x07).U8(1))); // #DIV/0!
    Append(cells, Record(0x0201, Bytes().U16(1).U16(3).U16(18)));                // blank, formatted
    // MULRK: row 2, columns 0-2; MULBLANK: row 3, columns 1-2.
    Append(cells, Record(0x00BD, Bytes()
                                     .U16(2)
                                     .U16(0)
                                     .U16(15)
                                     .U32((1u << 2) | 2)
                                     .U16(15)
                                     .U32((2u << 2) | 2)
                                     .U16(16)
                                     .U32((40000u << 2) | 2)
                                     .U16(2)));
    Append(cells, Record(0x00BE, Bytes().U16(3).U16(1).U16(18).U16(18).U16(2)));
    Append(cells, Record(0x0204, Bytes().U16(3).U16(4).U16(15).XLString("label text")));
    // Formulas: number, string (STRING record follows, after a SHRFMLA), boolean, error, empty.
    auto formula = [](uint16_t row, uint16_t col, std::vector<uint8_t> value, uint16_t xf = 15) {
        Bytes b;
        b.U16(row).U16(col).U16(xf).Raw(value).U16(0).U32(0).U16(0);
        return Record(0x0006, b);
    };
    Append(cells, formula(4, 0, Bytes().F64(42.5).Data()));
    // The text result keeps the formula's own format, though its STRING record comes later.
    Append(cells, formula(4, 1, {0, 0, 0, 0, 0, 0, 0xFF, 0xFF}, 16));
    Append(cells, Record(0x04BC, Bytes().U32(0).U32(0).Data()));
    Append(cells, Record(0x0207, Bytes().XLString("from formula")));
    Append(cells, formula(4, 2, {1, 0, 1, 0, 0, 0, 0xFF, 0xFF}));
    Append(cells, formula(4, 3, {2, 0, 0x2A, 0, 0, 0, 0xFF, 0xFF}));
    Append(cells, formula(4, 4, {3, 0, 0, 0, 0, 0, 0xFF, 0xFF}));
    wb.sheets.push_back(tb::Sheet{"Cells", 0, 0, 0x0010, cells});

    auto book = Open(wb);
    Worksheet& ws = book->Sheet(0);
    auto text = [&](uint32_t r, uint32_t c) {
        const Cell* cell = ws.FindCell(r, c);
        return cell != nullptr && cell->type == CellType::String ? book->Strings().At(cell->text)
                                                                 : std::string("<none>");
    };
    auto number = [&](uint32_t r, uint32_t c) {
        const Cell* cell = ws.FindCell(r, c);
        return cell != nullptr && cell->type == CellType::Number ? cell->number : -999.0;
    };
    EXPECT_EQ(text(0, 0), "second");
    EXPECT_EQ(number(0, 1), 123.0);
    EXPECT_DOUBLE_EQ(number(0, 2), 123.45);
    EXPECT_EQ(number(0, 3), 1.0);
    EXPECT_EQ(number(0, 4), -7.0);
    EXPECT_EQ(number(1, 0), 2.5);
    ASSERT_NE(ws.FindCell(1, 1), nullptr);
    EXPECT_EQ(ws.FindCell(1, 1)->type, CellType::Boolean);
    EXPECT_TRUE(ws.FindCell(1, 1)->boolean);
    ASSERT_NE(ws.FindCell(1, 2), nullptr);
    EXPECT_EQ(ws.FindCell(1, 2)->type, CellType::Error);
    EXPECT_EQ(ws.FindCell(1, 2)->error, ErrorCode::Div0);
    ASSERT_NE(ws.FindCell(1, 3), nullptr);
    EXPECT_EQ(ws.FindCell(1, 3)->type, CellType::Blank);
    EXPECT_NE(ws.FindCell(1, 3)->style, 0u);
    EXPECT_EQ(number(2, 0), 1.0);
    EXPECT_EQ(number(2, 1), 2.0);
    EXPECT_EQ(number(2, 2), 40000.0);
    EXPECT_TRUE(book->Styles().IsDateFormat(ws.FindCell(2, 2)->style));
    EXPECT_FALSE(book->Styles().IsDateFormat(ws.FindCell(2, 1)->style));
    ASSERT_NE(ws.FindCell(3, 2), nullptr);
    EXPECT_EQ(ws.FindCell(3, 2)->type, CellType::Blank);
    EXPECT_EQ(text(3, 4), "label text");
    EXPECT_EQ(number(4, 0), 42.5);
    EXPECT_TRUE(ws.FindCell(4, 0)->formula);
    EXPECT_EQ(text(4, 1), "from formula");
    EXPECT_EQ(ws.FindCell(4, 1)->style, ws.FindCell(2, 2)->style);
    EXPECT_EQ(ws.FindCell(4, 2)->type, CellType::Boolean);
    EXPECT_TRUE(ws.FindCell(4, 2)->boolean);
    EXPECT_EQ(ws.FindCell(4, 3)->error, ErrorCode::NA);
    EXPECT_EQ(text(4, 4), "");
    EXPECT_EQ(ws.CellCount(), 20u);
}

// An SST string split over a Continue record changes from 8-bit to UTF-16 characters there (the
// option byte is repeated), and rich-text runs and phonetic data running over a boundary are
// skipped. The header's unique count (2^31 here) is not trusted and reserves nothing.
TEST(XlsReader, SharedStringsAcrossContinueRecords)
{
    tb::WorkbookStream wb = BasicBook();
    Bytes sst;
    sst.U32(3).U32(0x80000000u);
    sst.U16(6).U8(0x00).Ascii("abc"); // "abc" + 3 more characters in the Continue
    Bytes cont;
    cont.U8(0x01).U16(0x20AC).U16('d').U16(0x00E9); // option byte: UTF-16 from here
    cont.U16(2).U8(0x0C).U16(1).U32(6).Ascii("xy"); // rich (1 run) and phonetic (6 bytes)
    cont.U32(0);                                    // the run
    Bytes cont2;
    cont2.Raw({1, 2, 3, 4, 5, 6}); // phonetic data, in the next Continue
    cont2.U16(1).U8(0).Ascii("z");
    Append(wb.afterSheets, Record(0x00FC, sst));
    Append(wb.afterSheets, Record(0x003C, cont));
    Append(wb.afterSheets, Record(0x003C, cont2));
    wb.sheets.push_back(SheetWith("S", {LabelSst(0, 0, 0), LabelSst(0, 1, 1), LabelSst(0, 2, 2)}));
    auto start = std::chrono::steady_clock::now();
    auto book = Open(wb);
    Worksheet& ws = book->Sheet(0);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
    EXPECT_EQ(book->Strings().At(ws.FindCell(0, 0)->text), "abc\u20ACd\u00E9");
    EXPECT_EQ(book->Strings().At(ws.FindCell(0, 1)->text), "xy");
    EXPECT_EQ(book->Strings().At(ws.FindCell(0, 2)->text), "z");
}

// ---- Styles ------------------------------------------------------------------------------------

TEST(XlsReader, MapsStylesThroughThePalette)
{
    tb::WorkbookStream wb = BasicBook();
    // A custom palette: index 8 becomes 0x123456, index 10 (red by default) becomes 0xAB0000.
    Bytes pal;
    pal.U16(3).U8(0x12).U8(0x34).U8(0x56).U8(0).U8(0).U8(0).U8(0).U8(0).U8(0xAB).U8(0).U8(0).U8(0);
    Append(wb.globals, Record(0x0092, pal));
    wb.sheets.push_back(SheetWith("S", {Number(0, 0, 1, 17), Number(0, 1, 1, 18), Number(0, 2, 1, 15)}));
    auto book = Open(wb);
    Worksheet& ws = book->Sheet(0);
    const StyleTable& styles = book->Styles();
    EXPECT_EQ(styles.Fonts()[0].name, "Arial");
    EXPECT_EQ(styles.Fonts()[0].size, 10.0);
    EXPECT_EQ(ws.FindCell(0, 2)->style, 0u) << "the default cell XF is the model's default format";

    ResolvedStyle fancy = styles.Resolve(ws.FindCell(0, 0)->style);
    EXPECT_EQ(fancy.font.name, "Times New Roman") << "font index 5 is the fifth FONT record";
    EXPECT_EQ(fancy.font.size, 12.0);
    EXPECT_TRUE(fancy.font.bold);
    EXPECT_TRUE(fancy.font.italic);
    EXPECT_EQ(fancy.font.underline, Underline::Single);
    EXPECT_EQ(fancy.font.color, Color::Rgb(0xFFAB0000u));
    EXPECT_EQ(fancy.numFmt, "0.000");

    ResolvedStyle filled = styles.Resolve(ws.FindCell(0, 1)->style);
    EXPECT_EQ(filled.fill.pattern, PatternType::Solid);
    EXPECT_EQ(filled.fill.fg, Color::Rgb(0xFFFFFF00u));
    EXPECT_EQ(filled.border.left.style, BorderStyle::Thin);
    EXPECT_EQ(filled.border.left.color, Color::Rgb(0xFFAB0000u));
    EXPECT_EQ(filled.border.right.style, BorderStyle::None);
    EXPECT_EQ(filled.alignment.horizontal, HAlign::Center);
    EXPECT_EQ(filled.alignment.vertical, VAlign::Center);
    EXPECT_TRUE(filled.alignment.wrap);
    EXPECT_EQ(filled.alignment.rotation, 45);
    EXPECT_EQ(filled.alignment.indent, 2);
    EXPECT_FALSE(filled.protection.locked);
}

// Cell XFs whose fAtr* flags are all clear (as Quattro Pro writes them) take a group of attributes
// from their parent style only where their own group is all zero bits; an explicit bottom alignment
// is the XF's own, as xlrd, gnumeric and LibreOffice show it.
TEST(XlsReader, CellXfsWithoutFlagsKeepTheirOwnAlignment)
{
    tb::WorkbookStream wb = BasicBook();
    XfFields style;
    style.style = true;
    style.parent = 0xFFF;
    style.used = 0;
    style.align = 0x02;                  // centre, top
    Append(wb.globals, XfRecord(style)); // XF 19
    XfFields bottom;
    bottom.parent = 19;
    bottom.used = 0;
    bottom.align = 0x20;                  // general, bottom
    Append(wb.globals, XfRecord(bottom)); // XF 20
    XfFields zero = bottom;
    zero.align = 0x00;
    Append(wb.globals, XfRecord(zero)); // XF 21
    wb.sheets.push_back(SheetWith("S", {Number(0, 0, 1, 20), Number(0, 1, 1, 21)}));
    auto book = Open(wb);
    Worksheet& ws = book->Sheet(0);
    const Alignment own = book->Styles().Resolve(ws.FindCell(0, 0)->style).alignment;
    EXPECT_EQ(own.horizontal, HAlign::General);
    EXPECT_EQ(own.vertical, VAlign::Bottom);
    const Alignment inherited = book->Styles().Resolve(ws.FindCell(0, 1)->style).alignment;
    EXPECT_EQ(inherited.horizontal, HAlign::Center);
    EXPECT_EQ(inherited.vertical, VAlign::Top);
}

// Indexes out of range never crash: a cell's XF falls back to the default format, an XF's font
// to font 0, an undefined number format to General.
TEST(XlsReader, OutOfRangeStyleIndexesFallBack)
{
    tb::WorkbookStream wb = BasicBook();
    XfFields badFont;
    badFont.font = 4;                      // font 4 does not exist
    Append(wb.globals, XfRecord(badFont)); // XF 19
    XfFields farFont;
    farFont.font = 999;
    farFont.format = 300;                  // no FORMAT record, not built in
    Append(wb.globals, XfRecord(farFont)); // XF 20
    wb.sheets.push_back(SheetWith("S", {Number(0, 0, 1, 999), Number(0, 1, 1, 19), Number(0, 2, 1, 20)}));
    auto book = Open(wb);
    Worksheet& ws = book->Sheet(0);
    for (uint32_t col = 0; col < 3; ++col) {
        ResolvedStyle s = book->Styles().Resolve(ws.FindCell(0, col)->style);
        EXPECT_EQ(s.font.name, "Arial") << col;
        EXPECT_EQ(s.numFmt, "General") << col;
    }
}

// ---- Sheets ------------------------------------------------------------------------------------

TEST(XlsReader, ListsWorksheetsOnlyWithTheirStates)
{
    tb::WorkbookStream wb = BasicBook();
    wb.sheets.push_back(SheetWith("Visible", {}));
    tb::Sheet hidden = SheetWith("Hidden", {});
    hidden.state = 1;
    wb.sheets.push_back(hidden);
    tb::Sheet chart = SheetWith("Chart", {});
    chart.type = 2;
    chart.bofKind = 0x0020;
    wb.sheets.push_back(chart);
    tb::Sheet dialog = SheetWith("Dialog", {Record(0x0081, Bytes().U16(0x0411))}); // WsBool.fDialog
    wb.sheets.push_back(dialog);
    tb::Sheet veryHidden = SheetWith("VeryHidden", {Record(0x0081, Bytes().U16(0x0401))});
    veryHidden.state = 2;
    wb.sheets.push_back(veryHidden);
    // WINDOW1 with the very hidden sheet (BoundSheet index 4) as the active tab.
    Append(wb.globals, Record(0x003D, Bytes().U16(0).U16(0).U16(100).U16(100).U16(0x38).U16(4).U16(0).U16(1).U16(600)));
    auto book = Open(wb);
    ASSERT_EQ(book->SheetCount(), 3u);
    EXPECT_EQ(book->SheetName(0), "Visible");
    EXPECT_EQ(book->SheetName(1), "Hidden");
    EXPECT_EQ(book->SheetName(2), "VeryHidden");
    EXPECT_EQ(book->SheetStateAt(0), SheetState::Visible);
    EXPECT_EQ(book->SheetStateAt(1), SheetState::Hidden);
    EXPECT_EQ(book->SheetStateAt(2), SheetState::VeryHidden);
    EXPECT_EQ(book->ActiveSheet(), 2u);
}

// Listing reads the globals only: a sheet whose records are damaged lists fine and fails when it
// is loaded; the other sheets still load.
TEST(XlsReader, ListingDoesNotParseWorksheets)
{
    tb::WorkbookStream wb = BasicBook();
    wb.sheets.push_back(SheetWith("Broken", {Record(0x0203, Bytes().U16(0).U16(0).Data())}));
    wb.sheets.push_back(SheetWith("Fine", {Number(0, 0, 7)}));
    auto book = Open(wb);
    ASSERT_EQ(book->SheetCount(), 2u);
    EXPECT_FALSE(book->IsSheetLoaded(0));
    EXPECT_FALSE(book->IsSheetLoaded(1));
    EXPECT_THROW(book->Sheet(0), FormatError);
    EXPECT_EQ(book->Sheet(1).FindCell(0, 0)->number, 7.0);
}

// Sheets inserted into an opened workbook do not shift which stored sheet a later load reads.
TEST(XlsReader, InsertedSheetsDoNotShiftLazyLoads)
{
    tb::WorkbookStream wb = BasicBook();
    wb.sheets.push_back(SheetWith("First", {Number(0, 0, 1)}));
    wb.sheets.push_back(SheetWith("Second", {Number(0, 0, 2)}));
    auto book = Open(wb);
    book->InsertSheet(0, "New");
    book->Sheet(0).SetNumber(0, 0, 99);
    EXPECT_EQ(book->Sheet(2).FindCell(0, 0)->number, 2.0);
    EXPECT_EQ(book->Sheet(1).FindCell(0, 0)->number, 1.0);
    book->UnloadSheet(0);
    book->UnloadSheet(2);
    EXPECT_EQ(book->Sheet(0).FindCell(0, 0)->number, 99.0) << "an inserted sheet has no source to reload from";
    EXPECT_EQ(book->Sheet(2).FindCell(0, 0)->number, 2.0);
}

TEST(XlsReader, ReadsSheetLayout)
{
    tb::WorkbookStream wb = BasicBook();
    std::vector<std::vector<uint8_t>> recs;
    recs.push_back(Record(0x0225, Bytes().U16(0).U16(300))); // default row 15 pt
    recs.push_back(Record(0x0055, Bytes().U16(8)));          // DefColWidth 8
    recs.push_back(
        Record(0x0208, Bytes().U16(2).U16(0).U16(1).U16(600).U16(0).U16(0).U32(0x140 | 0x100))); // 30 pt, custom
    recs.push_back(Record(0x0208, Bytes().U16(3).U16(0).U16(1).U16(255).U16(0).U16(0).U32(0x120 | 0x100))); // hidden
    recs.push_back(Record(0x007D, Bytes().U16(1).U16(3).U16(4000).U16(15).U16(0x0002).U16(0)));
    recs.push_back(Record(0x007D, Bytes().U16(200).U16(256).U16(2340).U16(15).U16(0x0001).U16(0)));
    recs.push_back(Number(2, 0, 1));
    recs.push_back(Record(0x00E5, Bytes().U16(2).U16(0).U16(1).U16(0).U16(2).U16(5).U16(5).U16(3).U16(4)));
    recs.push_back(Record(0x023E, Bytes().U16(0x06BE).U16(0).U16(0).U32(0x40).U16(0).U16(0).U32(0)));
    recs.push_back(Record(0x0041, Bytes().U16(2).U16(1).U16(1).U16(2).U16(0)));
    wb.sheets.push_back(SheetWith("Layout", recs));
    auto book = Open(wb);
    Worksheet& ws = book->Sheet(0);
    EXPECT_EQ(ws.defaultRowHeight, 15.0);
    EXPECT_NEAR(ws.defaultColWidth, 9.140625, 1e-9) << "8 characters plus padding, as xlsx stores it";
    const Row* tall = ws.FindRow(2);
    ASSERT_NE(tall, nullptr);
    EXPECT_EQ(tall->height, 30.0f);
    EXPECT_TRUE(tall->customHeight);
    ASSERT_NE(ws.FindRow(3), nullptr);
    EXPECT_TRUE(ws.FindRow(3)->hidden);
    const ColumnInfo* col = ws.FindColumn(2);
    ASSERT_NE(col, nullptr);
    EXPECT_EQ(col->first, 1u);
    EXPECT_EQ(col->last, 3u);
    EXPECT_NEAR(col->width, 4000 / 256.0, 1e-9);
    const ColumnInfo* last = ws.FindColumn(255);
    ASSERT_NE(last, nullptr) << "a range to column 256 ends at the grid's last column";
    EXPECT_EQ(last->last, 255u);
    EXPECT_TRUE(last->hidden);
    ASSERT_EQ(ws.merges.size(), 2u);
    EXPECT_EQ(ws.merges[0], (CellRange{0, 0, 1, 2}));
    EXPECT_EQ(ws.merges[1], (CellRange{5, 3, 5, 4}));
    EXPECT_EQ(ws.frozenRows, 1u);
    EXPECT_EQ(ws.frozenCols, 2u);
}

// A damaged file's overlapping merged ranges: the one starting higher, then further left, stays;
// ranges that only touch stay too.
TEST(XlsReader, DropsOverlappingMergedRanges)
{
    tb::WorkbookStream wb = BasicBook();
    Bytes m;
    m.U16(5);
    m.U16(2).U16(4).U16(2).U16(4); // C3:E5
    m.U16(0).U16(2).U16(0).U16(2); // A1:C3, overlaps C3:E5 at C3, which comes first and stays
    m.U16(5).U16(6).U16(0).U16(4); // A6:E7, touches neither
    m.U16(3).U16(3).U16(3).U16(3); // D4, inside C3:E5: dropped
    m.U16(0).U16(0).U16(5).U16(6); // F1:G1, beside A1:C3
    wb.sheets.push_back(SheetWith("S", {Record(0x00E5, m)}));
    auto book = Open(wb);
    const auto& merges = book->Sheet(0).merges;
    // The same rule as for xlsx: of overlapping ranges, the first in the file stays.
    std::vector<CellRange> expected = {CellRange{2, 2, 4, 4}, CellRange{5, 0, 6, 4}, CellRange{0, 5, 0, 6}};
    EXPECT_EQ(merges, expected);
}

TEST(XlsReader, ReadsHyperlinks)
{
    tb::WorkbookStream wb = BasicBook();
    static const std::vector<uint8_t> kStdLink = {0xD0, 0xC9, 0xEA, 0x79, 0xF9, 0xBA, 0xCE, 0x11,
                                                  0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B};
    static const std::vector<uint8_t> kUrl = {0xE0, 0xC9, 0xEA, 0x79, 0xF9, 0xBA, 0xCE, 0x11,
                                              0x8C, 0x82, 0x00, 0xAA, 0x00, 0x4B, 0xA9, 0x0B};
    static const std::vector<uint8_t> kFile = {0x03, 0x03, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
    const std::string url = "http://example.com/";
    Bytes web;
    web.U16(1).U16(1).U16(0).U16(0).Raw(kStdLink).U32(2).U32(0x01 | 0x02 | 0x10);
    web.U32(5).Wide("Site").U16(0); // display name
    web.Raw(kUrl).U32(static_cast<uint32_t>(url.size() + 1) * 2).Wide(url).U16(0);
    Bytes local;
    local.U16(2).U16(2).U16(0).U16(1).Raw(kStdLink).U32(2).U32(0x08);
    local.U32(10).Wide("Sheet2!B3").U16(0);
    Bytes file;
    file.U16(3).U16(3).U16(0).U16(0).Raw(kStdLink).U32(2).U32(0x01);
    file.Raw(kFile).U16(1).U32(9).Ascii("data.xls").U8(0).U16(0xFFFF).U16(0xDEAD);
    for (int i = 0; i < 20; ++i) {
        file.U8(0);
    }
    file.U32(0);
    Bytes tip;
    tip.U16(0x0800).U16(1).U16(1).U16(0).U16(0).Wide("Go there").U16(0);
    wb.sheets.push_back(
        SheetWith("Links", {Record(0x01B8, web), Record(0x0800, tip), Record(0x01B8, local), Record(0x01B8, file)}));
    auto book = Open(wb);
    Worksheet& ws = book->Sheet(0);
    ASSERT_EQ(ws.hyperlinks.size(), 3u);
    EXPECT_EQ(ws.hyperlinks[0].range, (CellRange{1, 0, 1, 0}));
    EXPECT_EQ(ws.hyperlinks[0].target, url);
    EXPECT_EQ(ws.hyperlinks[0].display, "Site");
    EXPECT_EQ(ws.hyperlinks[0].tooltip, "Go there");
    EXPECT_EQ(ws.hyperlinks[1].target, "");
    EXPECT_EQ(ws.hyperlinks[1].location, "Sheet2!B3");
    EXPECT_EQ(ws.hyperlinks[1].range, (CellRange{2, 0, 2, 1}));
    EXPECT_EQ(ws.hyperlinks[2].target, "../data.xls");
}

// BIFF5: names and text are bytes in the code page that CODEPAGE names.
TEST(XlsReader, DecodesBiff5TextWithTheCodePage)
{
    tb::WorkbookStream wb;
    wb.biff5 = true;
    Append(wb.globals, Record(0x0042, Bytes().U16(1251)));
    Bytes font;
    font.U16(200).U16(0).U16(0x7FFF).U16(400).U16(0).U8(0).U8(0).U8(0).U8(0).U8(5).Ascii("Arial");
    Append(wb.globals, Record(0x0031, font));
    tb::Sheet s;
    s.name = "\xCB\xE8\xF1\xF2"; // "Лист" in Windows-1251
    Append(s.records, Record(0x0204, Bytes().U16(0).U16(0).U16(0).U16(3).Ascii("\xC4\xE0\xED")));
    wb.sheets.push_back(s);
    auto book = Open(wb);
    ASSERT_EQ(book->SheetCount(), 1u);
    EXPECT_EQ(book->SheetName(0), "\u041B\u0438\u0441\u0442");
    Worksheet& ws = book->Sheet(0);
    EXPECT_EQ(book->Strings().At(ws.FindCell(0, 0)->text), "\u0414\u0430\u043D");
}

// ---- Hostile files -----------------------------------------------------------------------------

enum class Expect { Format, Password };

struct HostileCase {
    const char* name;
    std::function<std::vector<uint8_t>()> build;
    Expect expect;
    const char* message; // part of the error text
    bool atLoad;         // the error comes when the sheet is loaded, not when the file is opened
};

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    }
}

tb::WorkbookStream OneSheet(std::vector<std::vector<uint8_t>> records, std::vector<std::string> sst = {"a"})
{
    tb::WorkbookStream wb = BasicBook();
    wb.afterSheets = Sst(sst, static_cast<uint32_t>(sst.size()));
    wb.sheets.push_back(SheetWith("S", std::move(records)));
    return wb;
}

std::vector<uint8_t> File(const tb::WorkbookStream& wb)
{
    return tb::XlsFile(wb).bytes;
}

// A record in the globals whose body is `body`.
std::vector<uint8_t> WithGlobal(std::vector<uint8_t> rec)
{
    tb::WorkbookStream wb = OneSheet({Number(0, 0, 1)});
    Append(wb.globals, rec);
    return File(wb);
}

const std::vector<HostileCase>& HostileCases()
{
    static const std::vector<HostileCase> cases = {
        {"record longer than 8224 bytes", [] { return WithGlobal(Record(0x0031, std::vector<uint8_t>(9000, 0))); },
         Expect::Format, "8,224", false},
        {"record running past the stream",
         [] {
             tb::WorkbookStream wb = OneSheet({});
             Append(wb.afterSheets, Bytes().U16(0x0031).U16(8000).Data());
             return File(wb);
         },
         Expect::Format, "runs past the end of the stream", false},
        {"globals without BOF",
         [] {
             auto bytes = File(OneSheet({}));
             tb::CompoundLayout l = tb::XlsFile(OneSheet({}));
             bytes[l.SectorOffset(l.firstStreamSector)] = 0x31; // BOF becomes FONT
             return bytes;
         },
         Expect::Format, "does not begin with a BOF", false},
        {"shared string longer than its record",
         [] {
             tb::WorkbookStream wb = OneSheet({LabelSst(0, 0, 0)});
             wb.afterSheets = Record(0x00FC, Bytes().U32(1).U32(1).U16(500).U8(0).Ascii("short").Data());
             return File(wb);
         },
         Expect::Format, "string runs past the end", true},
        {"shared string index out of range", [] { return File(OneSheet({LabelSst(0, 0, 5)})); }, Expect::Format,
         "shared string 5", true},
        {"cell beyond the last column", [] { return File(OneSheet({Number(0, 20000, 1)})); }, Expect::Format,
         "beyond the last column", true},
        {"MULRK with a wrong length",
         [] { return File(OneSheet({Record(0x00BD, Bytes().U16(0).U16(0).U16(15).U32(2).Data())})); }, Expect::Format,
         "MULRK", true},
        {"MERGECELLS count over its bytes",
         [] { return File(OneSheet({Record(0x00E5, Bytes().U16(1000).U16(0).U16(1).U16(0).U16(1).Data())})); },
         Expect::Format, "MERGECELLS", true},
        {"sheet position beyond the stream",
         [] {
             tb::WorkbookStream wb = OneSheet({});
             auto stream = wb.Build();
             tb::CompoundLayout l = tb::XlsFile(wb);
             // The BoundSheet8 record follows BOF (20 bytes) and the globals; its first field is
             // the position.
             size_t at = l.SectorOffset(l.firstStreamSector) + 20 + wb.globals.size() + 4;
             Put32(l.bytes, at, 0x7FFFFFF0);
             return l.bytes;
         },
         Expect::Format, "beyond the end of the workbook stream", true},
        {"FAT sector loop",
         [] {
             tb::CompoundLayout l = tb::XlsFile(OneSheet({}));
             uint32_t s = l.firstStreamSector + 2;
             Put32(l.bytes, l.fatOffset + 4 * s, l.firstStreamSector); // back to the start
             return l.bytes;
         },
         Expect::Format, "loops", false},
        {"FAT sector number out of range",
         [] {
             tb::CompoundLayout l = tb::XlsFile(OneSheet({}));
             Put32(l.bytes, l.fatOffset + 4 * l.firstStreamSector, 0x00FFFFF0);
             return l.bytes;
         },
         Expect::Format, "does not exist", false},
        {"directory chain loop",
         [] {
             tb::CompoundLayout l = tb::XlsFile(OneSheet({}));
             uint32_t dirSector = static_cast<uint32_t>(l.directoryOffset / l.sectorSize - 1);
             Put32(l.bytes, l.fatOffset + 4 * dirSector, dirSector);
             return l.bytes;
         },
         Expect::Format, "loops", false},
        {"directory tree loop",
         [] {
             tb::CompoundLayout l = tb::XlsFile(OneSheet({}));
             Put32(l.bytes, l.directoryOffset + 128 + 72, 1); // the stream is its own right sibling
             return l.bytes;
         },
         Expect::Format, "directory tree loops", false},
        {"more FAT sectors than the file holds",
         [] {
             tb::CompoundLayout l = tb::XlsFile(OneSheet({}));
             Put32(l.bytes, 44, 0x7FFFFFFF);
             return l.bytes;
         },
         Expect::Format, "more allocation table sectors", false},
        {"unsupported sector size",
         [] {
             tb::CompoundLayout l = tb::XlsFile(OneSheet({}));
             l.bytes[30] = 20;
             return l.bytes;
         },
         Expect::Format, "sector size", false},
        {"stream larger than the file",
         [] {
             tb::CompoundLayout l = tb::XlsFile(OneSheet({}));
             Put32(l.bytes, l.directoryOffset + 128 + 120, 0x7FFFFFFF);
             return l.bytes;
         },
         Expect::Format, "larger than the whole file", false},
        {"file cut in the middle of the stream",
         [] {
             tb::CompoundLayout l = tb::XlsFile(OneSheet({}));
             l.bytes.resize(l.SectorOffset(l.firstStreamSector) + 1000);
             return l.bytes;
         },
         Expect::Format, "larger than the whole file", false},
        {"header cut short",
         [] {
             auto bytes = File(OneSheet({}));
             bytes.resize(300);
             return bytes;
         },
         Expect::Format, "header is missing or incomplete", false},
        {"Excel 4.0 workbook (several sheets in one BIFF4 stream)",
         [] {
             Bytes b;
             b.U16(0x0409).U16(6).U16(0x0400).U16(0x0100).U16(0);
             b.U16(0x000A).U16(0);
             return b.Data();
         },
         Expect::Format, "unsupported old Excel format", false},
        {"no workbook stream",
         [] {
             return tb::CompoundFile({{"Other", std::vector<uint8_t>(100, 0)}}).bytes;
         },
         Expect::Format, "without a workbook stream", false},
        {"encrypted xlsx package",
         [] {
             return tb::CompoundFile({{"EncryptionInfo", std::vector<uint8_t>(10, 0)},
                                      {"EncryptedPackage", std::vector<uint8_t>(10, 0)}})
                 .bytes;
         },
         Expect::Password, "password", false},
        {"FILEPASS with an unknown password (XOR)",
         [] { return WithGlobal(Record(0x002F, Bytes().U16(0).U16(0x1234).U16(0x5678).Data())); }, Expect::Password,
         "password", false},
        {"FILEPASS with an unknown password (RC4)",
         [] {
             Bytes b;
             b.U16(1).U16(1).U16(1);
             for (int i = 0; i < 48; ++i) {
                 b.U8(static_cast<uint32_t>(i * 7));
             }
             return WithGlobal(Record(0x002F, b));
         },
         Expect::Password, "password", false},
    };
    return cases;
}

TEST(XlsReaderHostile, EachDamageGivesItsOwnClearErrorFast)
{
    for (const HostileCase& c : HostileCases()) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bytes = c.build();
        auto start = std::chrono::steady_clock::now();
        std::string message;
        bool password = false;
        bool failedAtLoad = false;
        try {
            auto book = ReadXls(InputBytes::FromMemory(bytes, "poked.xls"));
            failedAtLoad = true;
            for (size_t i = 0; i < book->SheetCount(); ++i) {
                book->Sheet(i);
            }
            ADD_FAILURE() << "no error";
            continue;
        } catch (const PasswordProtectedError& e) {
            password = true;
            message = e.what();
        } catch (const FormatError& e) {
            message = e.what();
            EXPECT_EQ(e.File(), "poked.xls");
        }
        EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.5);
        EXPECT_EQ(password, c.expect == Expect::Password) << message;
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_EQ(failedAtLoad, c.atLoad) << message;
        EXPECT_NE(message.find("poked.xls"), std::string::npos) << message;
    }
}

// Every truncation of a valid file fails with a FormatError: the stream is read whole, so a file
// cut anywhere before its last byte lacks sectors that the directory promises.
TEST(XlsReaderHostile, EveryTruncationFailsCleanly)
{
    tb::WorkbookStream wb = OneSheet({Number(0, 0, 1), LabelSst(0, 1, 0)});
    std::vector<uint8_t> bytes = File(wb);
    for (size_t cut = 0; cut < bytes.size(); cut += 97) {
        SCOPED_TRACE(cut);
        std::vector<uint8_t> part(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_THROW(
            {
                auto book = OpenWorkbookBytes(InputBytes::FromMemory(part, "cut.xls"));
                for (size_t i = 0; i < book->SheetCount(); ++i) {
                    book->Sheet(i);
                }
            },
            FormatError);
    }
}

// Every single byte of the workbook stream flipped in turn: whatever happens, it is a typed
// error or a workbook, never a crash (run under the sanitizers in CI).
TEST(XlsReaderHostile, FlippedStreamBytesNeverCrash)
{
    tb::WorkbookStream wb = OneSheet(
        {Number(0, 0, 1), LabelSst(0, 1, 0), Record(0x00E5, Bytes().U16(1).U16(0).U16(1).U16(0).U16(1).Data())});
    tb::CompoundLayout l = tb::XlsFile(wb);
    size_t begin = l.SectorOffset(l.firstStreamSector);
    size_t streamBytes = wb.Build().size();
    int opened = 0;
    for (size_t i = 0; i < streamBytes; ++i) {
        std::vector<uint8_t> poked = l.bytes;
        poked[begin + i] ^= 0xFF;
        try {
            auto book = OpenWorkbookBytes(InputBytes::FromMemory(std::move(poked), "flip.xls"));
            for (size_t s = 0; s < book->SheetCount(); ++s) {
                book->Sheet(s);
            }
            ++opened;
        } catch (const EngineError&) {
        }
    }
    EXPECT_GT(opened, 0);
}

} // namespace
} // namespace gq::engine
