// Every kind of hyperlink the .xls writer writes, read back by three outside readers: xlrd, gnumeric
// (ssconvert) and LibreOffice, each without a warning.
// SPDX-License-Identifier: Apache-2.0
#include "engine/WorkbookFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

namespace gq::engine {
namespace {

using test::RunCommand;
using test::RunPython;
using test::ShellQuote;

// What each reader makes of the links of a file, one line a link: "reader|row|kind|address|place".
// xlrd's messages go to standard output as well, and are "xlrd-log" lines.
constexpr const char* kReadLinks = R"PY(
import sys, io, gzip
reader, path = sys.argv[1], sys.argv[2]
out = []
if reader == "xlrd":
    import xlrd
    log = io.StringIO()
    bk = xlrd.open_workbook(path, logfile=log, verbosity=0)
    for h in bk.sheet_by_index(0).hyperlink_list:
        url = h.url_or_path
        if isinstance(url, bytes):
            url = url.decode("latin-1")
        out.append("xlrd|%d|%s|%s|%s" % (h.frowx + 1, h.type, url or "", h.textmark or ""))
    for l in log.getvalue().splitlines():
        out.append("xlrd-log|" + l)
elif reader == "gnumeric":
    import xml.etree.ElementTree as ET
    ns = "{http://www.gnumeric.org/v10.dtd}"
    root = ET.fromstring(gzip.open(path).read())
    sheet = root.find(ns + "Sheets")[0]
    for region in sheet.iter(ns + "StyleRegion"):
        for link in region.iter(ns + "HyperLink"):
            out.append("gnumeric|%d|%s|%s|" % (int(region.get("startRow")) + 1, link.get("type"),
                                               link.get("target") or ""))
else:
    import openpyxl
    ws = openpyxl.load_workbook(path).worksheets[0]
    for row in ws.iter_rows():
        for c in row:
            if c.hyperlink is not None:
                out.append("lo|%d||%s|%s" % (c.row, c.hyperlink.target or "", c.hyperlink.location or ""))
print("\n".join(sorted(out)))
)PY";

struct LinkCase {
    const char* what;
    const char* target;
    const char* location;
    // xlrd's link type, address and place.
    const char* xlrdType;
    const char* xlrdAddress;
    const char* xlrdPlace;
    // gnumeric's link type and target.
    const char* gnumericType;
    const char* gnumericTarget;
    // LibreOffice's address and place, as it writes them to xlsx next to the .xls.
    const char* loAddress;
    const char* loPlace;
};

// gnumeric reads the location string of a link before its moniker, where [MS-OSHARED] 2.3.7.1 and
// every other reader put it after: a link to a place inside another file repeats its location as a
// display name for it, and gnumeric keeps the file without the place (it has no such link kind).
const LinkCase kCases[] = {
    {"web address", "https://example.com/a?b=1&c=%20", "", "url", "https://example.com/a?b=1&c=%20", "", "GnmHLinkURL",
     "https://example.com/a?b=1&c=%20", "https://example.com/a?b=1&c=%20", ""},
    {"mail", "mailto:someone@example.com", "", "url", "mailto:someone@example.com", "", "GnmHLinkEMail",
     "mailto:someone@example.com", "mailto:someone@example.com", ""},
    {"relative file", "totals.xlsx", "", "local file", "totals.xlsx", "", "GnmHLinkExternal", "totals.xlsx",
     "totals.xlsx", ""},
    {"file in a parent folder", "../reports/q3.xls", "", "local file", "../reports/q3.xls", "", "GnmHLinkExternal",
     "../reports/q3.xls", "../reports/q3.xls", ""},
    {"absolute file", "C:\\reports\\q3.xls", "", "local file", "C:\\reports\\q3.xls", "", "GnmHLinkExternal",
     "C:\\reports\\q3.xls", "C:\\reports\\q3.xls", ""},
    {"network file", "\\\\server\\share\\q3.xls", "", "local file", "\\\\server\\share\\q3.xls", "", "GnmHLinkExternal",
     "\\\\server\\share\\q3.xls", "file://server/share/q3.xls", ""},
    {"file with a non-ASCII name", "r\xC3\xA9sum\xC3\xA9.xlsx", "", "local file", "r\xC3\xA9sum\xC3\xA9.xlsx", "",
     "GnmHLinkExternal", "r\xC3\xA9sum\xC3\xA9.xlsx", "r\xC3\xA9sum\xC3\xA9.xlsx", ""},
    {"web address with a place", "https://example.com/page", "part", "url", "https://example.com/page#part", "",
     "GnmHLinkURL", "https://example.com/page#part", "https://example.com/page", "part"},
    {"file with a place", "totals.xlsx", "Sheet2!B4", "local file", "totals.xlsx", "Sheet2!B4", "GnmHLinkExternal",
     "totals.xlsx", "totals.xlsx", "Sheet2!B4"},
    {"absolute file with a place", "C:\\reports\\q3.xls", "Totals!A1:B2", "local file", "C:\\reports\\q3.xls",
     "Totals!A1:B2", "GnmHLinkExternal", "C:\\reports\\q3.xls", "C:\\reports\\q3.xls", "Totals!A1:B2"},
    {"place in this workbook", "", "Other!C3", "workbook", "", "Other!C3", "GnmHLinkCurWB", "Other!C3", "", "Other!C3"},
};

// A workbook with one link a row, in the order of `cases`, saved at `path`.
void SaveLinks(const std::vector<const LinkCase*>& cases, const std::string& path)
{
    Workbook book;
    book.InsertSheet(0, "Links");
    book.InsertSheet(1, "Other");
    Worksheet& sheet = book.Sheet(0);
    for (uint32_t row = 0; row < cases.size(); ++row) {
        sheet.SetString(row, 0, book.Strings().Intern(cases[row]->what));
        sheet.hyperlinks.push_back({{row, 0, row, 0}, cases[row]->target, cases[row]->location, "", ""});
    }
    SaveWorkbookFile(book, path);
}

std::map<std::string, std::string> ReadLinks(const std::string& reader, const std::string& path)
{
    std::string out;
    EXPECT_EQ(RunPython(kReadLinks, {reader, path}, out), 0) << out;
    std::map<std::string, std::string> lines; // "reader|row" -> the rest
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        size_t second = line.find('|', line.find('|') + 1);
        lines[line.substr(0, second)] = second == std::string::npos ? "" : line.substr(second + 1);
    }
    return lines;
}

std::string Row(const char* reader, size_t index)
{
    return std::string(reader) + "|" + std::to_string(index + 1);
}

TEST(XlsHyperlinkReaders, XlrdGnumericAndLibreOfficeReadEveryKindOfLink)
{
    if (!test::HavePython("xlrd, openpyxl")) {
        GTEST_SKIP() << "xlrd or openpyxl is not installed";
    }
    test::TempDir dir;
    std::vector<const LinkCase*> all;
    for (const LinkCase& c : kCases) {
        all.push_back(&c);
    }
    const std::string path = dir.File("links.xls");
    SaveLinks(all, path);

    auto xlrd = ReadLinks("xlrd", path);
    for (size_t i = 0; i < all.size(); ++i) {
        const LinkCase& c = *all[i];
        EXPECT_EQ(xlrd[Row("xlrd", i)], std::string(c.xlrdType) + "|" + c.xlrdAddress + "|" + c.xlrdPlace) << c.what;
    }
    for (const auto& [key, line] : xlrd) {
        EXPECT_NE(key.rfind("xlrd-log", 0), 0u) << "xlrd said: " << line;
    }

    std::string out;
    if (RunCommand("command -v ssconvert", out) == 0) {
        const std::string gnumericOutput = dir.File("links.gnumeric");
        int rc =
            RunCommand("ssconvert " + ShellQuote(path) + " " + ShellQuote(gnumericOutput) + " 2>&1 >/dev/null", out);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(out, "") << "ssconvert complained";
        auto gnumeric = ReadLinks("gnumeric", gnumericOutput);
        for (size_t i = 0; i < all.size(); ++i) {
            const LinkCase& c = *all[i];
            EXPECT_EQ(gnumeric[Row("gnumeric", i)], std::string(c.gnumericType) + "|" + c.gnumericTarget + "|")
                << c.what;
        }
    }

    if (RunCommand("command -v libreoffice", out) == 0) {
        // Written next to the .xls, so that LibreOffice keeps relative paths as they are.
        std::string profile = "file://" + dir.File("lo-profile");
        int rc =
            RunCommand("libreoffice --headless -env:UserInstallation=" + ShellQuote(profile) +
                           " --convert-to xlsx --outdir " + ShellQuote(dir.Path().string()) + " " + ShellQuote(path),
                       out);
        ASSERT_EQ(rc, 0) << out;
        auto lo = ReadLinks("lo", dir.File("links.xlsx"));
        for (size_t i = 0; i < all.size(); ++i) {
            const LinkCase& c = *all[i];
            std::string seen = lo[Row("lo", i)];
            // LibreOffice on Linux takes a Windows drive path for a relative one and writes it
            // relative to the file's folder, up to the root: those "../" say nothing of the link.
            if (std::string_view(c.loAddress).starts_with("C:")) {
                while (seen.starts_with("|../")) {
                    seen.erase(1, 3);
                }
                std::replace(seen.begin(), seen.end(), '/', '\\');
            }
            EXPECT_EQ(seen, std::string("|") + c.loAddress + "|" + c.loPlace) << c.what;
        }
    }
}

} // namespace
} // namespace gq::engine
