#!/usr/bin/python3
# Dumps an .xlsx file as openpyxl reads it, one JSON array per line, so that the xlsx writer's tests
# can compare what an independent reader sees with what they wrote.
#
# Lines (numbers as the 16 hex digits of their IEEE-754 bits, colours as AARRGGBB, "auto" or null):
#   ["book", date system (1900 or 1904), sheet count, active sheet]
#   ["sheet", index, name, state]                      state: visible hidden veryHidden
#   ["cell", sheet, ref, type, value]                  type: n s b e d (d: a date, value = serial)
#   ["numfmt", sheet, ref, format string]
#   ["font", sheet, ref, name, size, bold, italic, strike, underline, vertAlign, colour]
#   ["fill", sheet, ref, pattern, foreground, background]
#   ["border", sheet, ref, side, style, colour]        sides with a line only; side "diagonal"
#   ["diag", sheet, ref, up, down]                     for cells with a diagonal line
#   ["align", sheet, ref, horizontal, vertical, rotation, indent, wrap, shrink]
#   ["protect", sheet, ref, locked, hidden]
#   ["merge", sheet, range]
#   ["col", sheet, first, last, width, custom width, hidden]  (1-based columns)
#   ["row", sheet, row, height or null, custom height, hidden] (1-based, rows with a height or hidden)
#   ["link", sheet, ref, target, location, tooltip, display]
#   ["freeze", sheet, top-left cell of the frozen pane]
#   ["sst", index, text]   the shared strings as lxml reads them, _xHHHH_ escapes decoded
# Cells with no value and the default format are not listed.
# SPDX-License-Identifier: Apache-2.0
import json
import re
import struct
import sys
import zipfile

import openpyxl
from lxml import etree
from openpyxl.utils.datetime import CALENDAR_MAC_1904, to_excel

MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"


def bits(v):
    return "%016x" % struct.unpack("<Q", struct.pack("<d", float(v)))[0]


def out(*fields):
    print(json.dumps(list(fields), ensure_ascii=False, separators=(",", ":")))


def colour(c):
    if c is None:
        return None
    if c.type == "rgb":
        return c.rgb if isinstance(c.rgb, str) else None
    if c.type == "auto" or c.auto:
        return "auto"
    return "%s:%s" % (c.type, c.value)


def decode(text):
    return re.sub("_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), text)


def main(path):
    wb = openpyxl.load_workbook(path)
    epoch = 1904 if wb.epoch == CALENDAR_MAC_1904 else 1900
    out("book", epoch, len(wb.worksheets), wb._active_sheet_index)
    for i, ws in enumerate(wb.worksheets):
        out("sheet", i, ws.title, ws.sheet_state)
        for (r, c), cell in sorted(ws._cells.items()):
            ref = cell.coordinate
            value = cell.value
            if value is None and not cell.has_style:
                continue
            if value is not None:
                t = cell.data_type
                if t == "n":
                    v = bits(value)
                elif t == "d":
                    v = bits(to_excel(value, wb.epoch))
                elif t == "b":
                    v = bool(value)
                else:
                    v = str(value)
                out("cell", i, ref, t, v)
            out("numfmt", i, ref, cell.number_format)
            f = cell.font
            out("font", i, ref, f.name, bits(f.sz) if f.sz is not None else None, bool(f.b), bool(f.i),
                bool(f.strike), f.u, f.vertAlign, colour(f.color))
            fl = cell.fill
            out("fill", i, ref, fl.patternType, colour(fl.fgColor) if fl.patternType else None,
                colour(fl.bgColor) if fl.patternType else None)
            b = cell.border
            for side in ("left", "right", "top", "bottom", "diagonal"):
                s = getattr(b, side)
                if s is not None and s.style is not None:
                    out("border", i, ref, side, s.style, colour(s.color))
            if b.diagonalUp or b.diagonalDown:
                out("diag", i, ref, bool(b.diagonalUp), bool(b.diagonalDown))
            a = cell.alignment
            out("align", i, ref, a.horizontal, a.vertical, int(a.textRotation or 0), int(a.indent or 0),
                bool(a.wrapText), bool(a.shrinkToFit))
            p = cell.protection
            out("protect", i, ref, bool(p.locked), bool(p.hidden))
        for m in sorted(ws.merged_cells.ranges, key=lambda m: (m.min_row, m.min_col)):
            out("merge", i, m.coord)
        for key, d in sorted(ws.column_dimensions.items(), key=lambda kv: kv[1].min or 0):
            if d.min is None:
                continue
            if d.customWidth or d.hidden or (d.width and d.width != 13):
                out("col", i, d.min, d.max, bits(d.width) if d.width else None, bool(d.customWidth), bool(d.hidden))
        for r, d in sorted(ws.row_dimensions.items()):
            if d.ht is not None or d.hidden:
                out("row", i, r, bits(d.ht) if d.ht is not None else None, bool(d.customHeight), bool(d.hidden))
        for cellref, cell in sorted(ws._cells.items()):
            h = cell.hyperlink
            if h is not None:
                out("link", i, h.ref, h.target, h.location, h.tooltip, h.display)
        if ws.freeze_panes:
            out("freeze", i, ws.freeze_panes)

    with zipfile.ZipFile(path) as z:
        if "xl/sharedStrings.xml" in z.namelist():
            root = etree.fromstring(z.read("xl/sharedStrings.xml"))
            for n, si in enumerate(root.iter(MAIN + "si")):
                text = "".join(t.text or "" for t in si.iter(MAIN + "t") if t.getparent().tag != MAIN + "rPh")
                out("sst", n, decode(text))


if __name__ == "__main__":
    main(sys.argv[1])
