// The .xls reader: finds the workbook stream in the compound file, reads the BIFF8 or BIFF5/7
// globals (sheets, fonts, formats, cell formats, palette) and the shared strings; each worksheet's
// substream is parsed the first time it is needed (XlsReaderSheet.cpp).
// SPDX-License-Identifier: Apache-2.0
#include "engine/xls/XlsReader.h"

#include "engine/cfb/CfbReader.h"
#include "engine/io/ByteReader.h"
#include "engine/xls/XlsBook.h"
#include "engine/xls/XlsCrypto.h"

#include <unordered_map>

namespace gq::engine {

namespace biff {

void XlsBook::FindWorkbookStream()
{
    auto data = m_bytes->Data();
    CompoundFile cfb(data, m_name);
    // An encrypted xlsx is an OLE2 compound file holding the encrypted package ([MS-OFFCRYPTO]).
    if (cfb.HasRootEntry("EncryptedPackage") || cfb.HasRootEntry("EncryptionInfo")) {
        throw PasswordProtectedError(m_name);
    }
    const CompoundFile::Entry* entry = cfb.FindRootStream("Workbook");
    m_biff = 8;
    if (entry == nullptr) {
        entry = cfb.FindRootStream("Book");
        m_biff = 5;
    }
    if (entry == nullptr) {
        throw FormatError(m_name,
                          "the file is an OLE2 compound file without a workbook stream (not an Excel workbook)");
    }
    m_stream = cfb.ReadStream(*entry, m_streamStorage);
}

std::unique_ptr<Workbook> XlsBook::Open()
{
    auto data = m_bytes->Data();
    if (data.size() >= 2 && data[0] == 0x09 && (data[1] == 0x00 || data[1] == 0x02 || data[1] == 0x04)) {
        // Excel 2.x-4.0 wrote a worksheet as a bare BIFF stream, without a compound file.
        m_stream = data;
        m_biff = data[1] == 0x00 ? 2 : data[1] == 0x02 ? 3 : 4;
        return ReadOldGlobals();
    }
    FindWorkbookStream();
    return ReadGlobals();
}

std::string XlsBook::DecodeText(std::span<const uint8_t> raw)
{
    std::string out;
    m_codePage.Append(raw, out);
    return out;
}

void XlsBook::ReadBookSetting(uint16_t type, ByteReader& r, bool& date1904)
{
    if (type == kCodePage) {
        m_codePage.SetCodePage(r.U16());
    } else if (type == kDate1904) {
        date1904 = r.U16() != 0;
    }
}

std::unique_ptr<Workbook> XlsBook::ReadGlobals()
{
    RecordReader reader(m_stream, &m_name, kWorkbookPart);
    Record rec;
    if (!reader.Next(rec) || rec.type != kBof || rec.body.size() < 4) {
        if (rec.type == kBof2 || rec.type == kBof3 || rec.type == kBof4) {
            throw FormatError(m_name, "unsupported old Excel format (Excel 2.x-4.0)");
        }
        Fail("the workbook stream does not begin with a BOF record", 0);
    }
    uint16_t version = le::Load16(rec.body.data());
    uint16_t kind = le::Load16(rec.body.data() + 2);
    if (version == kBofVersionBiff8) {
        m_biff = 8;
    } else if (version == kBofVersionBiff5) {
        m_biff = 5;
    } // otherwise keep what the stream's name suggested
    if (kind != kBofGlobals) {
        Fail("the workbook stream does not begin with the workbook globals", 0);
    }
    m_codePage.SetCodePage(m_biff >= 8 ? 1200 : 1252);

    bool date1904 = false;
    uint16_t activeTab = 0;
    bool sawEof = false;
    while (!sawEof && reader.Next(rec)) {
        ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
        switch (rec.type) {
        case kEof:
            sawEof = true;
            break;
        case kFilePass:
            // The stream is decrypted once; a FILEPASS record in the decrypted stream is damage, not
            // a reason to start over again (a file repeating it would otherwise never finish).
            if (m_decrypted) {
                Fail("the workbook stream holds more than one FILEPASS record", rec.offset);
            }
            if (!DecryptWithDefaultPassword(m_streamStorage, m_stream, rec.offset, m_biff, m_name)) {
                throw PasswordProtectedError(m_name);
            }
            // The stream was replaced by its decrypted copy: read the globals again from the start,
            // once.
            m_decrypted = true;
            m_fonts.clear();
            m_formats.clear();
            m_xfs.clear();
            m_pending.clear();
            m_formulaGlobals = FormulaGlobals{};
            m_palette = kDefaultPalette;
            m_sstOffset = SIZE_MAX;
            return ReadGlobals();
        case kCodePage:
        case kDate1904:
            ReadBookSetting(rec.type, r, date1904);
            break;
        case kWindow1:
            if (rec.body.size() >= 12) {
                r.Seek(10);
                activeTab = r.U16();
            }
            break;
        case kFont:
            ReadFont(rec);
            break;
        case kFormat:
            ReadFormat(rec);
            break;
        case kXf:
            ReadXf(rec);
            break;
        case kPalette:
            ReadPalette(rec);
            break;
        case kBoundSheet8:
            ReadBoundSheet(rec);
            break;
        case kSst:
            m_sstOffset = rec.offset;
            break;
        case kSupBook:
            ReadSupBook(rec);
            break;
        case kExternName:
            ReadExternName(rec);
            break;
        case kExternSheet:
            ReadExternSheet(rec);
            break;
        case kLbl:
            ReadLbl(rec);
            break;
        default:
            break;
        }
    }

    Font defaultFont;
    if (m_fonts.empty()) {
        defaultFont.name = "Arial";
        defaultFont.size = 10.0;
    } else {
        defaultFont = ModelFont(0);
    }
    auto workbook = std::make_unique<Workbook>(defaultFont);
    workbook->SetSourcePath(m_name);
    workbook->SetDate1904(date1904);
    BuildStyles(*workbook);

    for (const PendingSheet& p : m_pending) {
        m_formulaGlobals.sheetNames.push_back(m_biff >= 8 ? p.name : DecodeText(p.rawName));
    }

    size_t active = 0;
    std::unordered_map<size_t, std::string> substreamOwners; // substream offset -> its sheet
    for (size_t i = 0; i < m_pending.size(); ++i) {
        const PendingSheet& p = m_pending[i];
        if (p.offset == SIZE_MAX) {
            continue;
        }
        if (i == activeTab) {
            active = m_sheetOffsets.size();
        }
        std::string name = m_biff >= 8 ? p.name : DecodeText(p.rawName);
        // No program can show, type or save such a name (xlsx cannot hold the character at all),
        // and cutting it at the NUL could make two sheets share one name and merge the wrong one.
        if (name.find('\0') != std::string::npos) {
            throw FormatError(m_name, "the name of sheet " + std::to_string(workbook->SheetCount() + 1) +
                                          " holds a NUL character");
        }
        // Two sheets reading one substream would each load it again: many such entries multiply a
        // small file into gigabytes. No office suite writes that; it is damage.
        auto [seen, fresh] = substreamOwners.emplace(p.offset, name);
        if (!fresh) {
            throw FormatError(m_name,
                              "the sheets \"" + seen->second + "\" and \"" + name +
                                  "\" point at one worksheet, which no workbook does",
                              kWorkbookPart, static_cast<int64_t>(p.offset));
        }
        workbook->AddUnloadedSheet(std::move(name), p.state);
        m_sheetOffsets.push_back(p.offset);
        m_sheetBoundIndex.push_back(i);
    }
    if (active < workbook->SheetCount()) {
        workbook->SetActiveSheet(active);
    }
    return workbook;
}

// SupBook, [MS-XLS] 2.4.271: this workbook, an add-in's functions, or another workbook with its
// sheet names. A damaged one is kept as a book that no formula can use, so that the formulas
// pointing at it keep their cached values while the EXTERNSHEET indexes of the others stay right.
void XlsBook::ReadSupBook(const Record& rec)
{
    if (m_biff < 8 || m_formulaGlobals.supBooks.size() >= limits::kMaxBiffLinkEntries) {
        return;
    }
    SupBook& book = m_formulaGlobals.supBooks.emplace_back();
    try {
        ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
        uint16_t ctab = r.U16();
        uint16_t cch = r.U16();
        if (cch == 0x0401) {
            book.kind = SupBook::Kind::Self;
            return;
        }
        if (cch == 0x3A01) {
            book.kind = SupBook::Kind::AddIn;
            return;
        }
        // The path (an XLUnicodeStringNoCch) is not needed: formulas print the book's number.
        std::string text;
        StringReader strings(r, nullptr);
        strings.Chars(cch, (r.U8() & 0x01) != 0, text);
        for (uint16_t i = 0; i < ctab; ++i) {
            text.clear();
            strings.XLUnicodeString(text);
            book.sheets.push_back(text);
        }
        size_t external = std::count_if(m_formulaGlobals.supBooks.begin(), m_formulaGlobals.supBooks.end(),
                                        [](const SupBook& b) { return b.kind == SupBook::Kind::External; });
        book.kind = SupBook::Kind::External;
        book.book = std::to_string(external + 1);
    } catch (const FormatError&) {
        book = SupBook{};
    }
}

// ExternName, [MS-XLS] 2.4.106: a name of the SupBook before it. Every kind (add-in function,
// another workbook's name, DDE and OLE links) has its name at the same place.
void XlsBook::ReadExternName(const Record& rec)
{
    if (m_biff < 8 || m_formulaGlobals.supBooks.empty()) {
        return;
    }
    std::vector<std::string>& names = m_formulaGlobals.supBooks.back().externNames;
    if (names.size() >= limits::kMaxBiffLinkEntries) {
        return;
    }
    std::string& name = names.emplace_back();
    try {
        ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
        r.Skip(6);
        StringReader(r, nullptr).ShortXLUnicodeString(name);
    } catch (const FormatError&) {
        name.clear(); // no formula can use a name it does not hold
    }
}

// ExternSheet, [MS-XLS] 2.4.105: the XTI entries 3-D references and external names go through.
void XlsBook::ReadExternSheet(const Record& rec)
{
    if (m_biff < 8 || rec.body.size() < 2) {
        return;
    }
    size_t count = std::min<size_t>(le::Load16(rec.body.data()), (rec.body.size() - 2) / 6);
    for (size_t i = 0; i < count && m_formulaGlobals.xtis.size() < limits::kMaxBiffLinkEntries; ++i) {
        const uint8_t* e = rec.body.data() + 2 + 6 * i;
        m_formulaGlobals.xtis.push_back(Xti{le::Load16(e), le::Load16(e + 2), le::Load16(e + 4)});
    }
}

// Lbl, [MS-XLS] 2.4.150: a defined name, which PtgName tokens count from 1. Built-in names
// (fBuiltin) hold a one-character code for the names xlsx writes with the _xlnm. prefix. BIFF5's
// NAME record has the same fields up to the name, which is code-page text without an option byte.
void XlsBook::ReadLbl(const Record& rec)
{
    if (m_biff < 5 || m_formulaGlobals.names.size() >= limits::kMaxBiffLinkEntries) {
        return;
    }
    static constexpr const char* kBuiltin[] = {"Consolidate_Area", "Auto_Open",      "Auto_Close",    "Extract",
                                               "Database",         "Criteria",       "Print_Area",    "Print_Titles",
                                               "Recorder",         "Data_Form",      "Auto_Activate", "Auto_Deactivate",
                                               "Sheet_Title",      "_FilterDatabase"};
    std::string& name = m_formulaGlobals.names.emplace_back();
    try {
        ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
        uint16_t grbit = r.U16();
        r.Skip(1);
        uint8_t cch = r.U8();
        r.Skip(10);
        if (m_biff >= 8) {
            StringReader strings(r, nullptr);
            strings.Chars(cch, (r.U8() & 0x01) != 0, name);
        } else {
            m_codePage.Append(r.Bytes(cch), name);
        }
        if ((grbit & 0x0020) != 0 && name.size() == 1 && static_cast<uint8_t>(name[0]) < std::size(kBuiltin)) {
            name = std::string("_xlnm.") + kBuiltin[static_cast<uint8_t>(name[0])];
        }
    } catch (const FormatError&) {
        name.clear();
    }
}

// BoundSheet8, [MS-XLS] 2.4.28: only worksheets are listed; chart sheets, macro sheets, VBA
// modules and dialog sheets are not.
void XlsBook::ReadBoundSheet(const Record& rec)
{
    ByteReader r(rec.body, &m_name, kWorkbookPart, rec.offset + 4);
    uint32_t position = r.U32();
    uint8_t hsState = r.U8();
    uint8_t dt = r.U8();
    PendingSheet p;
    switch (hsState & 0x03) {
    case 1:
        p.state = SheetState::Hidden;
        break;
    case 2:
        p.state = SheetState::VeryHidden;
        break;
    default:
        p.state = SheetState::Visible;
        break;
    }
    if (m_biff >= 8) {
        StringReader(r, nullptr).ShortXLUnicodeString(p.name);
    } else {
        uint8_t cch = r.U8();
        p.rawName = r.Bytes(cch);
    }
    p.offset = (dt == 0 && !IsDialogOrOtherSheet(position)) ? position : SIZE_MAX;
    if (m_pending.size() >= limits::kMaxSheets) {
        throw LimitError(m_name, "the workbook lists more sheets than a workbook can hold");
    }
    m_pending.push_back(std::move(p));
}

// A BoundSheet8 of type 0 may still be a dialog sheet (WsBool.fDialog) or, in damaged files,
// point at a chart or macro substream. Looking at the first few records of the substream tells,
// without parsing the sheet. A position that does not hold a BOF is left for the sheet load to
// report.
bool XlsBook::IsDialogOrOtherSheet(size_t offset) const
{
    if (offset >= m_stream.size()) {
        return false;
    }
    RecordReader reader(m_stream, &m_name, kWorkbookPart, offset);
    Record rec;
    try {
        if (!reader.Next(rec) || rec.type != kBof || rec.body.size() < 4) {
            return false;
        }
        uint16_t kind = le::Load16(rec.body.data() + 2);
        if (kind != kBofWorksheet) {
            return true;
        }
        // WsBool comes before the first cell in every writer's record order.
        for (int i = 0; i < 64 && reader.Next(rec); ++i) {
            if (rec.type == kWsBool) {
                return !rec.body.empty() && (rec.body[0] & 0x10) != 0;
            }
            if (rec.type == kDimensions || rec.type == kEof || rec.type == kBof || rec.type == kRow) {
                break;
            }
        }
    } catch (const FormatError&) {
        return false;
    }
    return false;
}

// SST, [MS-XLS] 2.4.265: read on the first sheet load, since listing sheets does not need it.
// The unique-string count of the header is not trusted (writers get it wrong): the strings are
// read until the record and its Continue records end.
void XlsBook::EnsureSst(Workbook& workbook)
{
    if (m_sstLoaded) {
        return;
    }
    m_sstLoaded = true;
    if (m_sstOffset == SIZE_MAX) {
        return;
    }
    RecordReader reader(m_stream, &m_name, kWorkbookPart, m_sstOffset);
    Record first;
    reader.Next(first);
    ContinuedRecord rec;
    rec.Assemble(reader, first);
    ByteReader r(rec.bytes, &m_name, "SST record", 0);
    r.U32(); // total references, not needed
    uint32_t unique = r.U32();
    // Every string takes at least three bytes: do not reserve for more than can be there.
    size_t expected = std::min<size_t>(unique, r.Left() / 3);
    m_sst.reserve(expected);
    StringReader strings(r, &rec.boundaries);
    StringTable& table = workbook.Strings();
    table.Reserve(expected);
    std::string text;
    while (r.Left() >= 3) {
        try {
            uint16_t cch = r.U16();
            uint8_t flags = r.U8();
            uint16_t runs = (flags & 0x08) != 0 ? r.U16() : 0;
            uint32_t ext = (flags & 0x04) != 0 ? r.U32() : 0;
            text.clear();
            strings.Chars(cch, (flags & 0x01) != 0, text);
            // Rich text runs and phonetic data are not kept.
            r.Skip(static_cast<size_t>(runs) * 4);
            r.Skip(ext);
        } catch (const FormatError&) {
            // Bytes after the last declared string are padding some writers leave; damage before
            // it is an error.
            if (m_sst.size() >= unique) {
                break;
            }
            throw;
        }
        m_sst.push_back(table.Intern(text));
    }
}

} // namespace biff

std::unique_ptr<Workbook> ReadXls(std::shared_ptr<const InputBytes> bytes)
{
    auto book = std::make_unique<biff::XlsBook>(std::move(bytes));
    auto workbook = book->Open();
    workbook->SetSheetSource(std::move(book));
    return workbook;
}

} // namespace gq::engine
