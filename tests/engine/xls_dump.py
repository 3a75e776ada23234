#!/usr/bin/python3
# Dumps an .xls file as read by xlrd (formatting_info=True), one JSON array per line, so that the
# .xls writer's tests can compare what an independent reader sees with what they wrote.
#
# Lines (numbers as the 16 hex digits of their IEEE-754 bits, colours as RRGGBB or "auto"):
#   ["book", datemode, sheet count, active sheet]
#   ["sheet", index, name, visibility]                 visibility: 0 visible, 1 hidden, 2 very hidden
#   ["cell", sheet, ref, type, value]                  type: text number date boolean error blank
#   ["numfmt", sheet, ref, format string]
#   ["font", sheet, ref, name, height twips, bold, italic, underline, strike, escapement, colour]
#   ["fill", sheet, ref, pattern, pattern colour, background colour]
#   ["border", sheet, ref, side, line style, colour]   side: left right top bottom diag-down diag-up
#   ["align", sheet, ref, horizontal, vertical, rotation, indent, wrap, shrink]
#   ["protect", sheet, ref, locked, hidden]
#   ["merge", sheet, range]
#   ["col", sheet, column index, width in 1/256 characters, hidden]
#   ["row", sheet, row index, height twips, custom height (fUnsynced), hidden]
#   ["link", sheet, range, url, location, description, tooltip]
#   ["freeze", sheet, rows, cols]
#
# With --stream, reads only the compound file (xlrd's own reader) and prints
#   ["stream", byte count, sha256 of the bytes]
# for its Workbook stream.
# SPDX-License-Identifier: Apache-2.0
import hashlib
import json
import struct
import sys

import xlrd


def colname(c):
    s = ""
    c += 1
    while c:
        c, r = divmod(c - 1, 26)
        s = chr(65 + r) + s
    return s


def ref(r, c):
    return colname(c) + str(r + 1)


def rng(r0, r1, c0, c1):
    a, b = ref(r0, c0), ref(r1 - 1, c1 - 1)
    return a if a == b else a + ":" + b


def bits(v):
    return "%016x" % struct.unpack("<Q", struct.pack("<d", v))[0]


def out(*fields):
    print(json.dumps(list(fields), ensure_ascii=False, separators=(",", ":")))


def main(path):
    book = xlrd.open_workbook(path, formatting_info=True, ragged_rows=True)

    def colour(index):
        rgb = book.colour_map.get(index)
        return "auto" if rgb is None else "%02X%02X%02X" % rgb

    types = {xlrd.XL_CELL_TEXT: "text", xlrd.XL_CELL_NUMBER: "number", xlrd.XL_CELL_DATE: "date",
             xlrd.XL_CELL_BOOLEAN: "boolean", xlrd.XL_CELL_ERROR: "error", xlrd.XL_CELL_BLANK: "blank"}
    active = next((i for i, s in enumerate(book.sheets()) if s.sheet_selected), -1)
    out("book", book.datemode, book.nsheets, active)
    for si, sh in enumerate(book.sheets()):
        name = sh.name
        out("sheet", si, name, sh.visibility)
        for r in range(sh.nrows):
            for c in range(sh.row_len(r)):
                cell = sh.cell(r, c)
                if cell.ctype == xlrd.XL_CELL_EMPTY:
                    continue
                a = ref(r, c)
                t = types[cell.ctype]
                if t in ("number", "date"):
                    v = bits(cell.value)
                elif t == "blank":
                    v = ""
                else:
                    v = cell.value
                out("cell", name, a, t, v)
                xf = book.xf_list[cell.xf_index]
                out("numfmt", name, a, book.format_map[xf.format_key].format_str)
                f = book.font_list[xf.font_index]
                out("font", name, a, f.name, f.height, f.weight >= 700, bool(f.italic), f.underline_type,
                    bool(f.struck_out), f.escapement, colour(f.colour_index))
                bg = xf.background
                out("fill", name, a, bg.fill_pattern, colour(bg.pattern_colour_index),
                    colour(bg.background_colour_index))
                b = xf.border
                for side in ("left", "right", "top", "bottom"):
                    style = getattr(b, side + "_line_style")
                    if style:
                        out("border", name, a, side, style, colour(getattr(b, side + "_colour_index")))
                if b.diag_line_style and b.diag_down:
                    out("border", name, a, "diag-down", b.diag_line_style, colour(b.diag_colour_index))
                if b.diag_line_style and b.diag_up:
                    out("border", name, a, "diag-up", b.diag_line_style, colour(b.diag_colour_index))
                al = xf.alignment
                out("align", name, a, al.hor_align, al.vert_align, al.rotation, al.indent_level,
                    bool(al.text_wrapped), bool(al.shrink_to_fit))
                out("protect", name, a, bool(xf.protection.cell_locked), bool(xf.protection.formula_hidden))
        for (r0, r1, c0, c1) in sh.merged_cells:
            out("merge", name, rng(r0, r1, c0, c1))
        for c, info in sorted(sh.colinfo_map.items()):
            out("col", name, c, info.width, bool(info.hidden))
        for r, info in sorted(sh.rowinfo_map.items()):
            out("row", name, r, info.height, bool(info.height_mismatch), bool(info.hidden))
        for h in sh.hyperlink_list:
            target = h.url_or_path or ""
            if isinstance(target, bytes):  # xlrd gives a file moniker's 8-bit path as bytes
                target = target.decode("latin-1")
            out("link", name, rng(h.frowx, h.lrowx + 1, h.fcolx, h.lcolx + 1), target,
                h.textmark or "", h.desc or "", h.quicktip or "")
        if sh.panes_are_frozen:
            out("freeze", name, sh.horz_split_pos, sh.vert_split_pos)


def stream(path):
    from xlrd import compdoc
    with open(path, "rb") as f:
        doc = compdoc.CompDoc(f.read(), logfile=sys.stdout)
    data = doc.get_named_stream("Workbook")
    out("stream", len(data), hashlib.sha256(data).hexdigest())


if __name__ == "__main__":
    if sys.argv[1] == "--stream":
        stream(sys.argv[2])
    else:
        main(sys.argv[1])
