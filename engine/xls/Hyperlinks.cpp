// Reads and writes the hyperlink objects of HLINK records and the text of HLinkTooltip records.
// SPDX-License-Identifier: Apache-2.0
#include "engine/xls/Hyperlinks.h"

#include "engine/io/LittleEndian.h"

#include <cstring>

namespace gq::engine::biff {

namespace {

bool SameClsid(std::span<const uint8_t> bytes, const Clsid& clsid)
{
    return std::memcmp(bytes.data(), clsid.data(), clsid.size()) == 0;
}

// HyperlinkString, [MS-OSHARED] 2.3.7.9: a count of UTF-16 units, then the units; the trailing
// NULs that count includes are dropped.
void ReadHyperlinkString(ByteReader& r, std::string& into)
{
    uint32_t chars = r.U32();
    if (chars > r.Left() / 2) {
        r.Fail("a hyperlink string is longer than its record");
    }
    auto raw = r.Bytes(static_cast<size_t>(chars) * 2);
    AppendUtf16(raw, into);
    while (!into.empty() && into.back() == '\0') {
        into.pop_back();
    }
}

// The same written: the count includes the terminating NUL.
void PutHyperlinkString(BiffStream& out, std::u16string_view text)
{
    out.U32(static_cast<uint32_t>(text.size() + 1));
    PutChars(out, text, false);
    out.U16(0);
}

// "https:", "mailto:" and the like: a scheme of two or more letters (one letter is a drive).
bool HasUrlScheme(std::u16string_view target)
{
    size_t colon = target.find(u':');
    if (colon == std::u16string_view::npos || colon < 2) {
        return false;
    }
    for (size_t i = 0; i < colon; ++i) {
        char16_t c = target[i];
        bool ok = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                  (i > 0 && ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.'));
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool IsAbsoluteTarget(std::u16string_view target)
{
    return HasUrlScheme(target) || (target.size() >= 2 && target[1] == u':') || target.starts_with(u"\\\\") ||
           target.starts_with(u"/");
}

// URLMoniker, [MS-OSHARED] 2.3.7.6: a byte length, then a NUL-terminated URL and optional fields
// within that length.
void ReadUrlMoniker(ByteReader& r, std::string& target)
{
    uint32_t length = r.U32();
    AppendUtf16UntilNul(r.Bytes(length), target);
}

void PutUrlMoniker(BiffStream& out, std::u16string_view target)
{
    out.Raw(kUrlMonikerClsid.data(), kUrlMonikerClsid.size());
    out.U32(static_cast<uint32_t>((target.size() + 1) * 2));
    PutChars(out, target, false);
    out.U16(0);
}

// FileMoniker, [MS-OSHARED] 2.3.7.8: "../" per cAnti, an 8-bit path, and a UTF-16 path that
// replaces it when present.
void ReadFileMoniker(ByteReader& r, CodePageDecoder& codePage, std::string& target)
{
    uint16_t anti = r.U16();
    uint32_t ansiLength = r.U32();
    auto ansi = r.Bytes(ansiLength);
    r.Skip(2 + 2 + kFileMonikerReservedBytes); // endServer, versionNumber, reserved
    uint32_t unicodeSize = r.U32();
    std::string path;
    if (unicodeSize > 0) {
        uint32_t unicodeBytes = r.U32();
        r.Skip(2); // usKeyValue
        AppendUtf16(r.Bytes(unicodeBytes), path);
    } else {
        size_t n = ansi.size();
        while (n > 0 && ansi[n - 1] == 0) {
            --n;
        }
        codePage.Append(ansi.first(n), path);
    }
    for (uint16_t i = 0; i < anti && i < 256; ++i) {
        target += "../";
    }
    target += path;
}

// For links to files by path ("../totals.xls", "C:\reports\q3.xls"): the path as 8-bit text and
// always again as UTF-16, as Excel writes it; the UTF-16 path is optional in [MS-OSHARED] 2.3.7.8,
// but gnumeric reads it whether it is there or not. Leading "../" stay in the path's text with cAnti
// 0: readers disagree on whether cAnti applies to the UTF-16 path (xlrd drops it there, LibreOffice
// and gnumeric add it), and a path that names its parent folders resolves the same everywhere.
// Separators are kept as the model has them.
void PutFileMoniker(BiffStream& out, std::u16string_view target)
{
    out.Raw(kFileMonikerClsid.data(), kFileMonikerClsid.size());
    out.U16(0); // cAnti
    out.U32(static_cast<uint32_t>(target.size() + 1));
    for (char16_t c : target) {
        out.U8(c < 0x80 ? c : u'?');
    }
    out.U8(0);
    out.U16(kFileMonikerEndServer);
    out.U16(kFileMonikerVersion);
    out.Zeros(kFileMonikerReservedBytes);
    out.U32(static_cast<uint32_t>(6 + 2 * target.size())); // cbUnicodePathSize
    out.U32(static_cast<uint32_t>(2 * target.size()));     // cbUnicodePathBytes
    out.U16(kFileMonikerKeyValue);
    PutChars(out, target, false);
}

} // namespace

void AppendUtf16UntilNul(std::span<const uint8_t> raw, std::string& out)
{
    size_t units = raw.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        if (le::Load16(raw.data() + 2 * i) == 0) {
            units = i;
            break;
        }
    }
    AppendUtf16(raw.first(units * 2), out);
}

bool ReadHyperlinkObject(ByteReader& r, CodePageDecoder& codePage, Hyperlink& link)
{
    r.Skip(16); // hlinkClsid
    r.Skip(4);  // streamVersion
    uint32_t flags = r.U32();
    if ((flags & hlstmf::kHasDisplayName) != 0) {
        ReadHyperlinkString(r, link.display);
    }
    if ((flags & hlstmf::kHasFrameName) != 0) {
        std::string frame;
        ReadHyperlinkString(r, frame);
    }
    if ((flags & hlstmf::kHasMoniker) != 0) {
        if ((flags & hlstmf::kMonikerSavedAsStr) != 0) {
            ReadHyperlinkString(r, link.target);
        } else {
            auto clsid = r.Bytes(16);
            if (SameClsid(clsid, kUrlMonikerClsid)) {
                ReadUrlMoniker(r, link.target);
            } else if (SameClsid(clsid, kFileMonikerClsid)) {
                ReadFileMoniker(r, codePage, link.target);
            } else {
                return false;
            }
        }
    }
    if ((flags & hlstmf::kHasLocationStr) != 0) {
        ReadHyperlinkString(r, link.location);
    }
    // A display name that the creator did not give and that repeats the location is the copy this
    // writer makes for gnumeric (see PutHyperlinkObject), not a text of the link's own.
    if ((flags & hlstmf::kSiteGaveDisplayName) == 0 && link.display == link.location) {
        link.display.clear();
    }
    return true;
}

void PutHyperlinkObject(BiffStream& out, std::u16string_view target, std::u16string_view location,
                        std::u16string_view display)
{
    // A web or mail address with a place inside it is written as one URL with the place as its
    // fragment ("https://example.com/page#part"), which is the address Excel follows for the pair.
    std::u16string joined;
    if (!target.empty() && !location.empty() && HasUrlScheme(target)) {
        joined.reserve(target.size() + 1 + location.size());
        joined.append(target).append(1, u'#').append(location);
        target = joined;
        location = {};
    }
    // A file path keeps its place apart (a '#' in a file moniker is part of the file's name), in
    // the location string after the moniker. gnumeric reads the location string where the display
    // name goes, before the moniker, and only reads a display name when hlstmfSiteGaveDisplayName
    // is set too; every other reader takes the fields in the documented order. So such a link
    // carries its location also as a display name that the creator did not give (no
    // hlstmfSiteGaveDisplayName): gnumeric then finds the location where it looks and the file
    // moniker after it, and the others read display name, moniker and location as documented. The
    // link's own display text, which readers show nowhere but in the cell, gives way.
    const bool fileWithPlace = !target.empty() && !location.empty();
    if (fileWithPlace) {
        display = location;
    }
    uint32_t flags = 0;
    if (!target.empty()) {
        flags |= hlstmf::kHasMoniker | (IsAbsoluteTarget(target) ? hlstmf::kIsAbsolute : 0);
    }
    if (!location.empty()) {
        flags |= hlstmf::kHasLocationStr;
    }
    if (!display.empty()) {
        flags |= hlstmf::kHasDisplayName | (fileWithPlace ? 0 : hlstmf::kSiteGaveDisplayName);
    }
    out.Raw(kStdLinkClsid.data(), kStdLinkClsid.size());
    out.U32(kHyperlinkStreamVersion);
    out.U32(flags);
    if (!display.empty()) {
        PutHyperlinkString(out, display);
    }
    if (!target.empty() && HasUrlScheme(target)) {
        PutUrlMoniker(out, target);
    } else if (!target.empty()) {
        PutFileMoniker(out, target);
    }
    if (!location.empty()) {
        PutHyperlinkString(out, location);
    }
}

bool FitsHlinkRecord(const Hyperlink& link)
{
    if (link.target.empty() && link.location.empty()) {
        return true; // not written at all
    }
    // Measured by writing it, so that the answer is the writer's whatever the link holds.
    std::u16string target, location, display;
    ToUtf16(link.target, target);
    ToUtf16(link.location, location);
    ToUtf16(link.display, display);
    BiffStream scratch;
    PutRef8(scratch, link.range);
    PutHyperlinkObject(scratch, target, location, display);
    return scratch.Size() <= kMaxRecordBody;
}

} // namespace gq::engine::biff
