#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the starting inputs of one fuzz harness into a folder.

    make_seeds.py HARNESS OUT_DIR [CORPUS_DIR]

xlsx_read and xls_read start from the real workbooks of CORPUS_DIR (the small ones: large inputs slow
every run); xlsx_parts from the XML parts of those xlsx files, joined the way the harness splits
them; xls_stream from the workbook streams of those xls files and from streams of repeated
structures built here; write_roundtrip from a fixed ramp
of bytes. A built-in minimal input keeps each harness
going where no corpus is present.
"""
import io
import os
import re
import struct
import sys
import zipfile

SEPARATOR = b"\n=PART=\n"
MAX_SEED = 300 * 1024
# The whole-file harnesses spend most of each run inflating or walking a container; smaller files
# give them several times the runs per second.
MAX_FILE_SEED = 64 * 1024

MINIMAL_PARTS = [
    b'<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
    b'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
    b'<workbookPr date1904="1"/><sheets><sheet name="S&amp;1" sheetId="1" r:id="rId1"/></sheets></workbook>',
    b'<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" '
    b'xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
    b'<sheetPr/><dimension ref="A1:C3"/><sheetViews><sheetView workbookViewId="0"><pane xSplit="1" ySplit="1" '
    b'topLeftCell="B2" state="frozen"/></sheetView></sheetViews><cols><col min="1" max="2" width="12.5" '
    b'customWidth="1" style="1"/></cols><sheetData><row r="1" ht="20" customHeight="1"><c r="A1" t="s"><v>0</v></c>'
    b'<c r="B1" s="1"><v>1.5E+3</v></c><c r="C1" t="b"><v>1</v></c></row><row r="3"><c r="A3" t="e"><v>#N/A</v></c>'
    b'<c r="B3" t="inlineStr"><is><t xml:space="preserve"> x_x0041_ </t></is></c><c r="C3" t="str"><f>1+1</f>'
    b'<v>2</v></c></row></sheetData><mergeCells count="1"><mergeCell ref="A2:B2"/></mergeCells>'
    b'<hyperlinks><hyperlink ref="A1" r:id="rId1" tooltip="t"/><hyperlink ref="B1" location="S!A1"/></hyperlinks>'
    b'</worksheet>',
    b'<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><numFmts count="1">'
    b'<numFmt numFmtId="164" formatCode="0.00%"/></numFmts><fonts count="2"><font><sz val="11"/><name val="Calibri"/>'
    b'</font><font><b/><i/><u val="double"/><color theme="1" tint="-0.25"/><sz val="9"/><name val="Arial"/></font>'
    b'</fonts><fills count="3"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/>'
    b'</fill><fill><patternFill patternType="solid"><fgColor indexed="10"/><bgColor rgb="FF00FF00"/></patternFill>'
    b'</fill></fills><borders count="2"><border/><border diagonalUp="1"><left style="thin"><color auto="1"/></left>'
    b'<diagonal style="dashDot"/></border></borders><cellStyleXfs count="1"><xf/></cellStyleXfs><cellXfs count="2">'
    b'<xf/><xf numFmtId="164" fontId="1" fillId="2" borderId="1" applyAlignment="1"><alignment horizontal="center" '
    b'vertical="top" textRotation="45" wrapText="1" indent="2"/><protection locked="0"/></xf></cellXfs>'
    b'<colors><indexedColors><rgbColor rgb="FF000000"/></indexedColors></colors></styleSheet>',
    b'<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="2" uniqueCount="2">'
    b'<si><t>plain &lt;&amp;&gt;</t></si><si><r><rPr><b/></rPr><t>rich</t></r><r><t> text</t></r><rPh><t>x</t></rPh>'
    b'</si></sst>',
    b'<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" '
    b'Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/hyperlink" '
    b'Target="https://example.org/a?b=1" TargetMode="External"/></Relationships>',
    b'<a:theme xmlns:a="http://schemas.openxmlformats.org/drawingml/2006/main" name="T"><a:themeElements>'
    b'<a:clrScheme name="C"><a:dk1><a:sysClr val="windowText" lastClr="000000"/></a:dk1><a:lt1><a:srgbClr '
    b'val="FFFFFF"/></a:lt1></a:clrScheme></a:themeElements></a:theme>',
]

MAIN = "application/vnd.openxmlformats-officedocument.spreadsheetml."
CONTENT_TYPES = (
    '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
    '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
    '<Default Extension="xml" ContentType="application/xml"/>'
    f'<Override PartName="/xl/workbook.xml" ContentType="{MAIN}sheet.main+xml"/>'
    f'<Override PartName="/xl/worksheets/sheet1.xml" ContentType="{MAIN}worksheet+xml"/>'
    f'<Override PartName="/xl/styles.xml" ContentType="{MAIN}styles+xml"/>'
    f'<Override PartName="/xl/sharedStrings.xml" ContentType="{MAIN}sharedStrings+xml"/></Types>')
REL = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
PACKAGE_RELS = (
    '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
    f'<Relationship Id="rId1" Type="{REL}officeDocument" Target="xl/workbook.xml"/></Relationships>')
WORKBOOK_RELS = (
    '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
    f'<Relationship Id="rId1" Type="{REL}worksheet" Target="worksheets/sheet1.xml"/>'
    f'<Relationship Id="rId2" Type="{REL}styles" Target="styles.xml"/>'
    f'<Relationship Id="rId3" Type="{REL}sharedStrings" Target="sharedStrings.xml"/>'
    f'<Relationship Id="rId4" Type="{REL}theme" Target="theme/theme1.xml"/></Relationships>')


def record(kind, body=b""):
    return struct.pack("<HH", kind, len(body)) + body


def repeated_structure_streams():
    """BIFF8 workbook streams whose shape byte mutation seldom builds: a record repeated many times,
    sheets that share one substream, rows stored backwards. Each once broke the reader's time, memory
    or stack."""
    bof_globals = record(0x0809, struct.pack("<HHHHII", 0x0600, 0x0005, 0x0DBB, 0x07CC, 0, 6))
    bof_sheet = record(0x0809, struct.pack("<HHHHII", 0x0600, 0x0010, 0x0DBB, 0x07CC, 0, 6))
    eof = record(0x000A)
    xf = record(0x00E0, struct.pack("<HHHBBBBIIH", 0, 0, 0xFFF5, 0x20, 0, 0, 0xF4, 0, 0, 0x20C0))
    font = record(0x0031, struct.pack("<HHHHHBBBB", 200, 0, 0x7FFF, 400, 0, 0, 0, 0, 0) + b"\x05\x00Arial")
    globals_ = record(0x0042, struct.pack("<H", 1200)) + font + xf * 16

    def book(sheet_records, sheets=1, shared_offset=False):
        names = [b"S%d" % i for i in range(sheets)]
        bound_size = sum(4 + 6 + 2 + len(n) for n in names)
        start = len(bof_globals) + len(globals_) + bound_size + len(eof)
        sheet_stream = bof_sheet + sheet_records + eof
        out = bof_globals + globals_
        for i, name in enumerate(names):
            offset = start if shared_offset else start + i * len(sheet_stream)
            out += record(0x0085, struct.pack("<IBB", offset, 0, 0) + bytes([len(name), 0]) + name)
        return out + eof + sheet_stream * (1 if shared_offset else sheets)

    number = lambda row: record(0x0203, struct.pack("<HHHd", row, 0, 15, row))
    filepass = record(0x002F, struct.pack("<HHH", 0, 0xB359, 0x9A0A))  # the default password's XOR key
    yield "filepass_repeated", bof_globals + filepass * 200 + globals_ + eof
    yield "sheets_sharing_a_substream", book(number(0), sheets=64, shared_offset=True)
    yield "rows_backwards", book(b"".join(number(r) for r in range(2000, 0, -1)))
    yield "empty_mulrk", book(record(0x00BD, struct.pack("<HHH", 0, 0, 0)))
    yield "formulas", formula_stream(bof_globals, bof_sheet, eof, globals_)
    yield "biff5_formulas", biff5_formula_stream(eof)


def formula_stream(bof_globals, bof_sheet, eof, globals_):
    """A BIFF8 workbook stream whose one sheet holds formulas of every token class the decoder
    knows: references of each form, 3-D references through SUPBOOK and EXTERNSHEET, names, functions
    of fixed and variable argument counts, attribute tokens, array constants with their extra data,
    a memory-area token, a text result with its STRING record, and shared, array and table formulas."""
    def formula(row, col, rgce, rgcb=b"", result=struct.pack("<d", 1.0)):
        return record(0x0006, struct.pack("<HHH", row, col, 15) + result + struct.pack("<HIH", 0, 0, len(rgce))
                      + rgce + rgcb)

    ref = lambda row, col: b"\x44" + struct.pack("<HH", row, col | 0xC000)
    links = (record(0x01AE, struct.pack("<HH", 2, 0x0401)) + record(0x01AE, struct.pack("<HH", 0, 0x3A01))
             + record(0x0023, struct.pack("<HI", 0, 0) + b"\x05\x00EDATE")
             + record(0x0017, struct.pack("<H", 3) + struct.pack("<HHH", 0, 0, 0) + struct.pack("<HHH", 0, 0, 1)
                      + struct.pack("<HHH", 1, 0xFFFE, 0xFFFE))
             + record(0x0018, struct.pack("<HBBHHHI", 0, 0, 4, 0, 0, 0, 0) + b"\x00Rate"))
    cells = b"".join([
        formula(0, 0, b"\x1e\x01\x00\x1f" + struct.pack("<d", 2.5) + b"\x03\x15\x14\x13"),
        formula(1, 0, ref(0, 0) + b"\x19\x02\x04\x00\x16\x19\x08\x07\x00\x19\x40\x00\x01\x1e\x01\x00"
                b"\x19\x08\x03\x00\x42\x03\x01\x00"),
        formula(2, 0, b"\x3a\x01\x00" + struct.pack("<HH", 1, 0x8001) + b"\x23\x01\x00\x00\x00\x05"),
        formula(3, 0, b"\x3b\x00\x00" + struct.pack("<HHHH", 0, 9, 0, 0xC001) + b"\x19\x10\x00\x00"),
        formula(4, 0, b"\x39\x02\x00\x01\x00\x00\x00" + ref(0, 0) + b"\x42\x02\xff\x00"),
        formula(5, 0, b"\x26\x00\x00\x00\x00\x09\x00\x25" + struct.pack("<HHHH", 0, 1, 0xC000, 0xC000)
                + b"\x60" + b"\x00" * 7 + b"\x03",
                struct.pack("<H", 1) + struct.pack("<HHHH", 0, 1, 0, 0) + b"\x01\x00\x00\x01" + struct.pack("<d", 1)
                + b"\x02\x01\x00\x00x"),
        formula(6, 0, b"\x17\x01\x00x" + ref(0, 0) + b"\x08", struct.pack("<BBBBBBH", 0, 0, 0, 0, 0, 0, 0xFFFF)),
        record(0x0207, struct.pack("<HB", 2, 0) + b"x1"),
        formula(7, 0, b"\x1e\x02\x00\x19\x04\x02\x00\x06\x00\x0c\x00\x12\x00\x1e\x07\x00\x19\x08\x09\x00"
                b"\x1e\x08\x00\x19\x08\x03\x00\x42\x03\x64\x00"),
        formula(0, 1, b"\x01\x00\x00\x01\x00"),
        record(0x04BC, struct.pack("<HHBBBBH", 0, 3, 1, 1, 0, 4, 9) + b"\x2c\x00\x00\xff\xc0\x1e\x02\x00\x05"),
        formula(1, 1, b"\x01\x00\x00\x01\x00"),
        formula(0, 2, b"\x01\x00\x00\x02\x00"),
        record(0x0221, struct.pack("<HHBBHIH", 0, 1, 2, 2, 0, 0, 13) + b"\x65" + struct.pack("<HHHH", 0, 1, 0xC000, 0xC000)
               + b"\x1e\x02\x00\x05"),
        formula(1, 2, b"\x01\x00\x00\x02\x00"),
        formula(0, 3, b"\x02\x00\x00\x03\x00"),
    ])
    out = bof_globals + globals_ + links
    bound = record(0x0085, struct.pack("<IBB", 0, 0, 0) + b"\x01\x00A") + record(
        0x0085, struct.pack("<IBB", 0, 0, 0) + b"\x01\x00B")
    start = len(out) + len(bound) + len(eof)
    sheet = bof_sheet + cells + eof
    out += record(0x0085, struct.pack("<IBB", start, 0, 0) + b"\x01\x00A")
    out += record(0x0085, struct.pack("<IBB", start + len(sheet), 0, 0) + b"\x01\x00B")
    return out + eof + sheet + bof_sheet + eof


def biff5_formula_stream(eof):
    """A BIFF5 (Excel 5 and 95) workbook stream laid out as Excel 95 writes one: NAME records in the
    globals, and before the first sheet's cells its own link table (EXTERNCOUNT, an EXTERNSHEET
    record a sheet or workbook: a sheet of this workbook, the formula's own sheet, this workbook,
    another workbook's sheet, the add-in functions with an EXTERNNAME, another workbook with a
    name), then formulas with 3-D references by sheet index and through the table, names and
    external names."""
    bof = lambda kind: record(0x0809, struct.pack("<HHHH", 0x0500, kind, 0x0DBB, 0x07CC))

    def formula(row, col, rgce):
        return record(0x0006, struct.pack("<HHHdHIH", row, col, 15, 1.0, 0, 0, len(rgce)) + rgce)

    def head3d(ptg, ixals, first, last):
        return bytes([ptg]) + struct.pack("<h", ixals) + b"\x00" * 8 + struct.pack("<HH", first, last)

    name = lambda index: b"\x23" + struct.pack("<H", index) + b"\x00" * 12
    namex = lambda ixals, index: b"\x39" + struct.pack("<h", ixals) + b"\x00" * 8 + struct.pack("<H", index) + b"\x00" * 12
    link = lambda text: record(0x0017, bytes([len(text) - 1 if text[:1] == b"\x03" else len(text)]) + text)
    name_record = lambda text, rgce: record(0x0018, struct.pack("<HBBHHHI", 0, 0, len(text), len(rgce), 0, 0, 0)
                                            + text + rgce)
    globals_ = (record(0x0042, struct.pack("<H", 1252)) + record(0x0016, struct.pack("<H", 1)) + link(b"\x03A")
                + name_record(b"Rate", head3d(0x3A, -1, 0, 0) + struct.pack("<HB", 1, 0))
                + name_record(b"Tax", head3d(0x3A, -1, 1, 1) + struct.pack("<HB", 0, 0)))
    table = (record(0x0016, struct.pack("<H", 6)) + link(b"\x03B") + link(b"\x02") + link(b"\x04")
             + link(b"\x01\x03dir\x03[ext.xls]Sheet1") + link(b":")
             + record(0x0023, struct.pack("<HI", 0, 0) + b"\x05EDATE")
             + link(b"\x01\x03dir\x03[ext.xls]") + record(0x0023, struct.pack("<HI", 0, 0) + b"\x05Price"))
    a1 = struct.pack("<HB", 0xC000, 0)
    cells = b"".join([
        formula(0, 0, head3d(0x5A, -1, 1, 1) + a1 + b"\x1e\x01\x00\x03"),
        formula(1, 0, head3d(0x3B, -2, 0, 1) + struct.pack("<HHBB", 0xC000, 0xC001, 0, 1) + b"\x42\x01\x04\x00"),
        formula(2, 0, head3d(0x3A, 1, 0, 0) + a1 + head3d(0x3A, 2, 0, 0) + a1 + b"\x03"),
        formula(3, 0, head3d(0x3A, 4, 0, 0) + a1),
        formula(4, 0, head3d(0x3A, -3, 0xFFFF, 0xFFFF) + a1),
        formula(5, 0, head3d(0x3C, -1, 1, 1) + a1 + head3d(0x3D, -1, 0, 1) + b"\x00" * 6 + b"\x03"),
        formula(6, 0, name(1) + namex(-3, 2) + b"\x03"),
        formula(7, 0, namex(5, 1) + b"\x44" + a1 + b"\x1e\x01\x00\x42\x03\xff\x00"),
        formula(8, 0, namex(6, 1)),
    ])
    sheet_a = bof(0x0010) + table + cells + eof
    sheet_b = bof(0x0010) + record(0x0203, struct.pack("<HHHd", 0, 0, 15, 5.0)) + eof
    bound_size = 2 * (4 + 6 + 1 + 1)
    start = len(bof(0x0005)) + len(globals_) + bound_size + len(eof)
    out = bof(0x0005) + globals_
    out += record(0x0085, struct.pack("<IBB", start, 0, 0) + b"\x01A")
    out += record(0x0085, struct.pack("<IBB", start + len(sheet_a), 0, 0) + b"\x01B")
    return out + eof + sheet_a + sheet_b


def corpus_files(corpus, extensions, limit=MAX_SEED):
    if not corpus or not os.path.isdir(corpus):
        return []
    found = []
    for name in sorted(os.listdir(corpus)):
        path = os.path.join(corpus, name)
        if name.lower().endswith(extensions) and os.path.isfile(path) and os.path.getsize(path) <= limit:
            found.append(path)
    return found


def parts_of(path):
    """The harness's pieces taken from a real xlsx, or None when it has none to give."""
    try:
        with zipfile.ZipFile(path) as z:
            names = {n.lower(): n for n in z.namelist()}

            def read(name):
                real = names.get(name.lower())
                return z.read(real) if real else b""

            workbook = read("xl/workbook.xml")
            sheets = sorted(n for n in names if re.fullmatch(r"xl/worksheets/sheet\d+\.xml", n))
            if not workbook or not sheets:
                return None
            sheet = sheets[0]
            # The harness's workbook relationships give the one worksheet the id rId1.
            workbook = re.sub(rb'(r:id|relationships["\']?:id)="[^"]*"', rb'\1="rId1"', workbook)
            rels = read(sheet.replace("worksheets/", "worksheets/_rels/") + ".rels")
            pieces = [workbook, read(names[sheet]), read("xl/styles.xml"), read("xl/sharedStrings.xml"), rels,
                      read("xl/theme/theme1.xml")]
    except (zipfile.BadZipFile, OSError, KeyError, ValueError, NotImplementedError, RuntimeError):
        return None
    seed = SEPARATOR.join(pieces)
    return seed if len(seed) <= MAX_SEED else None


# Formula texts with every grammar item the parser knows.
FORMULA_SEEDS = [
    "SUM(A1:B2)+$C$3*-D4%^2",
    "IF(A1<>\"a\"\"b\",,{1,2;TRUE,#N/A})",
    "'It''s'!A1:B2 Sheet1:Sheet3!$1:$3",
    "[1]Sheet1!A:A&[1]!Rate&Table1[[#This Row],[Amount]]",
    "_xlfn.XLOOKUP(A1,(B1,C1),Sheet2!#REF!)",
    "--(1.5E+3>=.5)=FALSE",
]


def formulas_of(path, limit=20):
    """Up to `limit` distinct formula texts of the worksheets of a real xlsx."""
    found = []
    try:
        with zipfile.ZipFile(path) as z:
            for name in z.namelist():
                if not name.startswith("xl/worksheets/") or not name.endswith(".xml"):
                    continue
                for m in re.finditer(rb"<f(?: [^>]*)?>([^<]+)</f>", z.read(name)):
                    text = m.group(1).replace(b"&lt;", b"<").replace(b"&gt;", b">").replace(b"&quot;", b'"')
                    text = text.replace(b"&apos;", b"'").replace(b"&amp;", b"&")
                    if text not in found:
                        found.append(text)
                    if len(found) >= limit:
                        return found
    except (zipfile.BadZipFile, OSError, KeyError):
        pass
    return found


# One table of every value type, a merge, repeats, a link, an annotation and formulas.
ODS_CONTENT_SEED = (
    b'<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
    b'xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" '
    b'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
    b'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
    b'xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0" '
    b'xmlns:xlink="http://www.w3.org/1999/xlink"><office:automatic-styles>'
    b'<style:style style:name="ce1" style:family="table-cell" style:parent-style-name="Default" '
    b'style:data-style-name="N1"><style:table-cell-properties fo:background-color="#ff0000" '
    b'fo:border="0.74pt solid #000000"/><style:text-properties fo:font-weight="bold"/></style:style>'
    b'<style:style style:name="ta1" style:family="table"><style:table-properties table:display="false"/>'
    b'</style:style></office:automatic-styles><office:body><office:spreadsheet>'
    b'<table:table table:name="S&amp;1" table:style-name="ta1"><table:table-column table:number-columns-repeated="3"/>'
    b'<table:table-row table:number-rows-repeated="2"><table:table-cell table:style-name="ce1" '
    b'office:value-type="float" office:value="1.5"/><table:table-cell office:value-type="date" '
    b'office:date-value="2024-02-29T12:00:00"/><table:table-cell office:value-type="time" office:time-value="PT1H"/>'
    b'<table:table-cell table:number-columns-spanned="2" table:number-rows-spanned="2" office:value-type="string">'
    b'<text:p>a<text:s text:c="2"/><text:a xlink:href="#S.A1">b</text:a></text:p><office:annotation><text:p>c'
    b'</text:p></office:annotation></table:table-cell><table:covered-table-cell/><table:table-cell '
    b'table:formula="of:=SUM([.A1:.B2];[$S.$A$1])" office:value-type="float" office:value="3"/></table:table-row>'
    b'<table:table-row table:number-rows-repeated="1048570"><table:table-cell table:style-name="ce1" '
    b'table:number-columns-repeated="1024"/></table:table-row></table:table></office:spreadsheet></office:body>'
    b'</office:document-content>'
)

# Delimited text in each encoding and dialect the reader takes, with its quoting and typing cases.
CSV_SEEDS = [
    b'name,qty,price,code,when\r\n"Smith, J.","say ""hi""",1e-3,007,2024-02-29T13:45:30\r\n-12,.5,,"a\nb",x"y\n',
    b"\xef\xbb\xbfArtikel;Preis\nTee;1,50\n;\n\nMilch;-0.5;2024-13-01\n",
    "x\ty\n\u20ac\t3.5\n\"q\"tail\t1234567890123456\n".encode("utf-16"),
    b"\xfe\xff" + "p|q\n\U0001F600|-1\n".encode("utf-16-be"),
    b"caf\xe9;\x80 5;12\r\n\"a;b\";+1;0x1F\r\"never closed\n",
]


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    harness, out = sys.argv[1], sys.argv[2]
    corpus = sys.argv[3] if len(sys.argv) > 3 else None
    os.makedirs(out, exist_ok=True)
    written = 0

    def write(name, data):
        nonlocal written
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
        written += 1

    if harness == "xlsx_read":
        buffer = io.BytesIO()
        names = ["xl/workbook.xml", "xl/worksheets/sheet1.xml", "xl/styles.xml", "xl/sharedStrings.xml",
                 "xl/worksheets/_rels/sheet1.xml.rels", "xl/theme/theme1.xml"]
        with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as z:
            z.writestr("[Content_Types].xml", CONTENT_TYPES)
            z.writestr("_rels/.rels", PACKAGE_RELS)
            z.writestr("xl/_rels/workbook.xml.rels", WORKBOOK_RELS)
            for name, data in zip(names, MINIMAL_PARTS):
                z.writestr(name, data)
        write("minimal.xlsx", buffer.getvalue())
        for path in corpus_files(corpus, (".xlsx", ".xlsm"), MAX_FILE_SEED):
            with open(path, "rb") as f:
                write(os.path.basename(path), f.read())
    elif harness == "xls_read":
        for path in corpus_files(corpus, (".xls",), MAX_FILE_SEED):
            with open(path, "rb") as f:
                write(os.path.basename(path), f.read())
    elif harness == "xls_stream":
        for name, stream in repeated_structure_streams():
            write(name + ".stream", stream)
        try:
            import xlrd.compdoc  # Debian's python3-xlrd
        except ImportError:
            xlrd = None
        for path in corpus_files(corpus, (".xls",)) if xlrd else []:
            with open(path, "rb") as f:
                data = f.read()
            try:
                doc = xlrd.compdoc.CompDoc(data, logfile=io.StringIO())
                stream = doc.get_named_stream("Workbook") or doc.get_named_stream("Book")
            except Exception:  # damaged containers are the other harness's business
                continue
            if stream:
                write(os.path.basename(path) + ".stream", stream)
    elif harness == "xlsx_parts":
        write("minimal", SEPARATOR.join(MINIMAL_PARTS))
        for path in corpus_files(corpus, (".xlsx", ".xlsm")):
            seed = parts_of(path)
            if seed:
                write(os.path.basename(path) + ".parts", seed)
    elif harness == "csv_read":
        # The first byte chooses .csv, .tsv or .tab; the rest is the file.
        for i, text in enumerate(CSV_SEEDS):
            write("csv-%d" % i, bytes([i % 3]) + text)
    elif harness == "ods_content":
        write("minimal", ODS_CONTENT_SEED)
        for path in corpus_files(corpus, (".ods",)):
            try:
                with zipfile.ZipFile(path) as z:
                    write(os.path.basename(path) + ".content", z.read("content.xml")[:MAX_SEED])
            except Exception:  # damaged packages are not content seeds
                continue
    elif harness == "formula":
        # Two bytes choose the move; the rest is the text of an <f> element.
        for i, text in enumerate(FORMULA_SEEDS):
            write("formula-%d" % i, bytes([i & 0xFF, (i * 7) & 0xFF]) + text.encode())
        for path in corpus_files(corpus, (".xlsx", ".xlsm")):
            for j, text in enumerate(formulas_of(path)):
                write("%s.f%d" % (os.path.basename(path), j), b"\x01\xff" + text)
    elif harness == "write_roundtrip":
        # Any bytes are a model-building program; a fixed ramp starts it beyond the first few steps.
        write("ramp", bytes(range(256)) * 8)
    else:
        sys.exit("unknown harness: " + harness)
    print(f"{harness}: {written} seeds", file=sys.stderr)


if __name__ == "__main__":
    main()
