#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Checks a merged workbook against its sources with independent readers (openpyxl for xlsx,
xlrd for xls) and prints one line per difference; prints nothing when they agree.

Usage: check_merge.py multi|single OUTPUT EXPECTED_NAMES_JSON|- SHEET PATH [SHEET PATH ...]
       check_merge.py placed multi|single OUTPUT PLACE SHEET PATH [PLACE SHEET PATH ...]
       check_merge.py probe PATH...
The entries are given in merge-list order. Values are compared cell by cell at the place the
merge puts them, and so are number formats, fonts, fills, borders, alignment and protection of
the cells that hold values, merged ranges, column widths, hidden rows and columns, outline levels,
rows formatted as a whole, where outline summaries sit (xlsx, multi-sheet) and hyperlinks. An entry whose SHEET is prefixed with "!" was
listed in the merge report as skipped: it is not compared and takes no place in the output.
"placed" takes where each entry went: PLACE is "SHEET_INDEX:ROW:COL:TO_ROW:TO_COL" (1-based: the
output sheet, the top-left of the entry's used range, where that landed) or "-" for an entry not
to compare.
"probe" prints the PATHs that the independent readers can read, one a line, each followed by the
names of the sheets they see, separated by tabs.
"""
import copy
import datetime
import io
import os
import pickle
import re
import json
import warnings
import sys

import openpyxl
import xlrd

warnings.simplefilter("ignore")  # readers warn about parts they skip; only differences matter here


# Spellings of the built-in short date format (id 14) by different readers and writers.
SHORT_DATE = {"m/d/yy", "mm-dd-yy", "m/d/yyyy", "mm/dd/yyyy"}


def same_format(a, b):
    return a == b or (a in SHORT_DATE and b in SHORT_DATE)


def norm(v):
    if isinstance(v, bool):
        return v
    if isinstance(v, (int, float)):
        return round(float(v), 9)
    if isinstance(v, datetime.datetime):
        # Serial numbers below 1 are times of day; readers put them on 1899-12-30 or -31, or give
        # the bare time.
        if v.date() in (datetime.date(1899, 12, 30), datetime.date(1899, 12, 31)):
            return v.time().replace(microsecond=0)
        return v.replace(microsecond=0)
    if isinstance(v, datetime.time):
        return v.replace(microsecond=0)
    if isinstance(v, datetime.date):
        return datetime.datetime(v.year, v.month, v.day)
    if v == "":
        return None
    return v


class Sheet:
    """Cells as {(row, col): value} (1-based), number formats, merges, column widths; rows and
    columns as {index: (hidden, outline level)} where either is set; links as {(row, col): address}
    (the address and its place joined by "#", separators as "/"); the look of cells and of rows
    formatted as a whole as {(row, col) or row: {part: value}} (see look_xlsx and look_xls); where
    outline summaries sit as (below, right), or None where the reader does not say."""

    def __init__(self):
        self.cells, self.formats, self.merges, self.widths = {}, {}, set(), {}
        self.rows, self.cols, self.links = {}, {}, {}
        self.looks, self.row_looks = {}, {}
        self.plain_look = {}  # the look of a cell or row without a format of its own
        self.summary = None
        self.name = None


# Pattern, border and alignment names in the order of BIFF's numbers, as openpyxl names them.
PATTERNS = ["none", "solid", "mediumGray", "darkGray", "lightGray", "darkHorizontal", "darkVertical", "darkDown",
            "darkUp", "darkGrid", "darkTrellis", "lightHorizontal", "lightVertical", "lightDown", "lightUp",
            "lightGrid", "lightTrellis", "gray125", "gray0625"]
BORDERS = [None, "thin", "medium", "dashed", "dotted", "thick", "double", "hair", "mediumDashed", "dashDot",
           "mediumDashDot", "dashDotDot", "mediumDashDotDot", "slantDashDot"]
HALIGN = ["general", "left", "center", "right", "fill", "justify", "centerContinuous", "distributed"]
VALIGN = ["top", "center", "bottom", "justify", "distributed"]
UNDERLINES = {0: None, 1: "single", 2: "double", 0x21: "singleAccounting", 0x22: "doubleAccounting"}
BORDER_KEYS = {"border", "c:left", "c:right", "c:top", "c:bottom", "c:diagonal"}


class Palette:
    """A workbook's indexed colours and its theme's colour scheme, which openpyxl reads but does not
    apply to colours, and its default font."""

    def __init__(self, wb):
        self.indexed = wb._colors
        # A font without a name or size (openpyxl writes such fonts) has the workbook's first font's.
        first = wb._fonts[0] if len(wb._fonts) else None
        self.font_name = (first.name if first is not None else None) or "Calibri"
        self.font_size = float((first.sz if first is not None else None) or 11)
        self.theme = []
        if wb.loaded_theme:
            import xml.etree.ElementTree as ET
            a = "{http://schemas.openxmlformats.org/drawingml/2006/main}"
            scheme = ET.fromstring(wb.loaded_theme).find(f"{a}themeElements/{a}clrScheme")
            for slot in scheme if scheme is not None else []:
                rgb = slot.find(f"{a}srgbClr")
                sys_clr = slot.find(f"{a}sysClr")
                value = rgb.get("val") if rgb is not None else sys_clr.get("lastClr") if sys_clr is not None else None
                self.theme.append(value.upper() if value else None)
            # Theme indexes 0-3 name the scheme's light 1, dark 1, light 2 and dark 2: its first two
            # pairs swapped, as Excel and every office suite read them.
            self.theme[0:4] = [self.theme[i] if i < len(self.theme) else None for i in (1, 0, 3, 2)]


def tinted(rgb, tint):
    """ECMA-376 Part 1, 18.8.19 (tint): the luminance moved towards black or white."""
    import colorsys
    r, g, b = (int(rgb[i:i + 2], 16) / 255.0 for i in (0, 2, 4))
    h, l, s = colorsys.rgb_to_hls(r, g, b)
    l = l * (1 + tint) if tint < 0 else l * (1 - tint) + tint
    return "".join("%02X" % round(v * 255) for v in colorsys.hls_to_rgb(h, l, s))


def rgb_xlsx(color, palette):
    """An openpyxl colour as six hex digits, or None where it is automatic. Indexed colours come
    from the workbook's own palette, theme colours from its theme."""
    if color is None:
        return None
    if color.type == "rgb" and isinstance(color.rgb, str):
        return color.rgb[-6:].upper()
    if color.type == "indexed" and color.indexed is not None and color.indexed < min(64, len(palette.indexed)):
        return palette.indexed[color.indexed][-6:].upper()
    if color.type == "theme" and color.theme is not None and color.theme < len(palette.theme):
        base = palette.theme[color.theme]
        return tinted(base, color.tint) if base and color.tint else base
    return None


def same_colour(a, b):
    """Equal but for rounding: tints computed in other arithmetic may differ by a unit or two."""
    return all(abs(int(a[i:i + 2], 16) - int(b[i:i + 2], 16)) <= 2 for i in (0, 2, 4))


def look_xlsx(palette, font, fill, border, alignment, protection):
    look = {
        "font": (font.name or palette.font_name, float(font.sz or palette.font_size), bool(font.b), bool(font.i), font.u or None, bool(font.strike),
                 font.vertAlign if font.vertAlign in ("superscript", "subscript") else None),
        "alignment": (alignment.horizontal or "general", alignment.vertical or "bottom", bool(alignment.wrap_text),
                      bool(alignment.shrink_to_fit), int(alignment.indent or 0), int(alignment.text_rotation or 0)),
        "protection": (protection.locked is not False, bool(protection.hidden)),
        "c:font": rgb_xlsx(font.color, palette),
    }
    if hasattr(fill, "stop"):  # a gradient
        look["fill"] = "gradient"
    else:
        look["fill"] = fill.fill_type or "none"
        if look["fill"] != "none":
            look["c:fill"] = rgb_xlsx(fill.fgColor, palette)
    sides = []
    for name in ("left", "right", "top", "bottom", "diagonal"):
        side = getattr(border, name)
        style = side.style if side is not None else None
        sides.append(style)
        if style:
            look["c:" + name] = rgb_xlsx(side.color, palette)
    look["border"] = tuple(sides) + (bool(border.diagonalUp) and bool(sides[4]), bool(border.diagonalDown) and bool(sides[4]))
    return look


def rgb_xls(book, index):
    rgb = book.colour_map.get(index)
    return "%02X%02X%02X" % rgb if rgb else None


def look_xls(book, xf):
    f = book.font_list[xf.font_index]
    a, b, bg, pr = xf.alignment, xf.border, xf.background, xf.protection
    look = {
        "font": (f.name, f.height / 20.0, f.weight >= 700, bool(f.italic), UNDERLINES.get(f.underline_type),
                 bool(f.struck_out), {1: "superscript", 2: "subscript"}.get(f.escapement)),
        "alignment": (HALIGN[a.hor_align] if a.hor_align < len(HALIGN) else "general",
                      VALIGN[a.vert_align] if a.vert_align < len(VALIGN) else "bottom", bool(a.text_wrapped),
                      bool(a.shrink_to_fit), int(a.indent_level), int(a.rotation)),
        "protection": (bool(pr.cell_locked), bool(pr.formula_hidden)),
        "c:font": rgb_xls(book, f.colour_index),
        "fill": PATTERNS[bg.fill_pattern] if bg.fill_pattern < len(PATTERNS) else "none",
    }
    if look["fill"] != "none":
        look["c:fill"] = rgb_xls(book, bg.pattern_colour_index)
    sides = []
    for name, style, colour in (("left", b.left_line_style, b.left_colour_index),
                                ("right", b.right_line_style, b.right_colour_index),
                                ("top", b.top_line_style, b.top_colour_index),
                                ("bottom", b.bottom_line_style, b.bottom_colour_index),
                                ("diagonal", b.diag_line_style, b.diag_colour_index)):
        sides.append(BORDERS[style] if style < len(BORDERS) else None)
        if sides[-1]:
            look["c:" + name] = rgb_xls(book, colour)
    look["border"] = tuple(sides) + (bool(b.diag_up) and bool(sides[4]), bool(b.diag_down) and bool(sides[4]))
    return look


def link_text(address, place):
    text = (address or "").replace("\\", "/")
    if place and text:
        text += "#" + place
    return text


def read_xlsx(path):
    wb = openpyxl.load_workbook(path, data_only=True)
    palette = Palette(wb)
    first = wb._cell_styles[0] if len(wb._cell_styles) else openpyxl.styles.cell_style.StyleArray()
    plain = look_xlsx(palette, wb._fonts[first.fontId], wb._fills[first.fillId], wb._borders[first.borderId],
                      wb._alignments[first.alignmentId], wb._protections[first.protectionId])
    plain["format"] = "General"
    out = []
    for ws in wb.worksheets:
        s = Sheet()
        s.name = ws.title
        s.plain_look = plain
        # The stored cells only: iter_rows() would make every cell of the bounding box.
        for (r, col), c in ws._cells.items():
            if c.value is not None:
                v = c.value
                if isinstance(v, str) and "_x" in v:
                    # openpyxl leaves the _xHHHH_ escapes of ECMA-376 Part 1, 22.9.2.19 undecoded.
                    v = re.sub(r"_x([0-9A-Fa-f]{4})_", lambda m: chr(int(m.group(1), 16)), v)
                s.cells[(r, col)] = norm(v)
                s.formats[(r, col)] = c.number_format
                s.looks[(r, col)] = look_xlsx(palette, c.font, c.fill, c.border, c.alignment, c.protection)
        s.merges = {(m.min_row, m.min_col, m.max_row, m.max_col) for m in ws.merged_cells.ranges}
        for key, dim in ws.column_dimensions.items():
            if dim.customWidth and dim.width:
                for col in range(dim.min, dim.max + 1):
                    s.widths[col] = dim.width
            if dim.hidden or dim.outline_level:
                first = dim.min or openpyxl.utils.column_index_from_string(key)
                for col in range(first, (dim.max or first) + 1):
                    s.cols[col] = (bool(dim.hidden), dim.outline_level or 0)
        for r, dim in ws.row_dimensions.items():
            if dim.hidden or dim.outline_level:
                s.rows[r] = (bool(dim.hidden), dim.outline_level or 0)
            if dim.customFormat:
                s.row_looks[r] = look_xlsx(palette, dim.font, dim.fill, dim.border, dim.alignment, dim.protection)
                s.row_looks[r]["format"] = dim.number_format
        pr = ws.sheet_properties.outlinePr
        s.summary = (pr is None or pr.summaryBelow is not False, pr is None or pr.summaryRight is not False)
        for (r, c), cell in ws._cells.items():
            if cell.hyperlink is not None:
                s.links[(r, c)] = link_text(cell.hyperlink.target, cell.hyperlink.location)
        out.append(s)
    return out


def format_str(book, xf):
    # A file without FORMAT records (BIFF4 from some writers) leaves xlrd without the format.
    fmt = book.format_map.get(xf.format_key)
    return fmt.format_str if fmt is not None else "General"


def read_xls(path):
    # xlrd writes its remarks on damaged files to standard output unless told otherwise.
    book = xlrd.open_workbook(path, formatting_info=True, logfile=io.StringIO())
    plain = {}
    if len(book.xf_list) > 15:  # XF 15, the first cell format: what a cell without one shows
        plain = look_xls(book, book.xf_list[15])
        plain["format"] = format_str(book, book.xf_list[15])
    out = []
    for sh in book.sheets():
        s = Sheet()
        s.name = sh.name
        s.plain_look = plain
        for r in range(sh.nrows):
            for c in range(sh.ncols):
                cell = sh.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                v = cell.value
                fmt = format_str(book, book.xf_list[cell.xf_index])
                if cell.ctype == xlrd.XL_CELL_DATE:
                    v = xlrd.xldate_as_datetime(v, book.datemode)
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    v = bool(v)
                elif cell.ctype == xlrd.XL_CELL_ERROR:
                    v = xlrd.error_text_from_code[v]
                s.cells[(r + 1, c + 1)] = norm(v)
                s.formats[(r + 1, c + 1)] = fmt
                s.looks[(r + 1, c + 1)] = look_xls(book, book.xf_list[cell.xf_index])
        s.merges = {(r0 + 1, c0 + 1, r1, c1) for (r0, r1, c0, c1) in sh.merged_cells}
        for col, info in sh.colinfo_map.items():
            s.widths[col + 1] = info.width / 256.0
            if info.hidden or info.outline_level:
                s.cols[col + 1] = (bool(info.hidden), info.outline_level)
        for r, info in sh.rowinfo_map.items():
            if info.hidden or info.outline_level:
                s.rows[r + 1] = (bool(info.hidden), info.outline_level)
            if info.has_default_xf_index and info.xf_index < len(book.xf_list):
                xf = book.xf_list[info.xf_index]
                s.row_looks[r + 1] = look_xls(book, xf)
                s.row_looks[r + 1]["format"] = format_str(book, xf)
        for link in sh.hyperlink_list:
            address = link.url_or_path
            if isinstance(address, bytes):
                address = address.decode("latin-1")
            for r in range(link.frowx, link.lrowx + 1):
                for c in range(link.fcolx, link.lcolx + 1):
                    s.links[(r + 1, c + 1)] = link_text(address, link.textmark)
        out.append(s)
    return out


def read(path):
    return read_xls(path) if path.lower().endswith(".xls") else read_xlsx(path)


def look_differences(want, got, xls_out):
    """The parts of a cell's or row's look that differ. Colours count only where both readers give
    one and the output is xlsx: openpyxl does not resolve theme colours, and an .xls output holds
    56 colours, beyond which a colour becomes the nearest it holds. An .xls output shows a gradient
    as a solid fill."""
    parts = []
    for key in sorted(set(want) | set(got)):
        a, b = want.get(key), got.get(key)
        if key.startswith("c:"):
            if xls_out or a is None or b is None or same_colour(a, b):
                continue
        elif key == "fill" and xls_out and a == "gradient":
            a = "solid"
        elif key == "format":
            if same_format(a, b):
                continue
        if a != b:
            parts.append(f"{key} {b!r}, expected {a!r}")
    return parts


def compare(src, dst, row_off, where, col_off, mode, xls_out, problems):
    """Appends to `problems` how `dst` differs from `src` pasted at (row_off, col_off) from it."""
    for (r, c), v in src.cells.items():
        got = dst.cells.get((r + row_off, c + col_off))
        if isinstance(v, str) and v.startswith("#") and got is not None:
            continue  # error values: both readers spell them their own way
        if isinstance(got, datetime.timedelta) != isinstance(v, datetime.timedelta):
            continue  # elapsed times: openpyxl gives durations, xlrd dates
        if isinstance(v, datetime.datetime) and isinstance(got, datetime.datetime) and \
                v < datetime.datetime(1900, 3, 1) and abs(got - v) <= datetime.timedelta(days=1):
            continue  # before Excel's fictitious 1900-02-29, openpyxl and xlrd differ by a day
        if got != v:
            problems.append(f"{where}: cell {(r + row_off, c + col_off)} is {got!r}, expected {v!r}")
        # A formula whose cached result is empty text reads as no value in openpyxl, which then
        # records no format for it either: there is nothing shown to compare.
        elif got is not None:
            if not same_format(src.formats.get((r, c)), dst.formats.get((r + row_off, c + col_off))):
                problems.append(f"{where}: format at {(r + row_off, c + col_off)} is "
                                f"{dst.formats.get((r + row_off, c + col_off))!r}, expected {src.formats.get((r, c))!r}")
            want_look = src.looks[(r, c)]
            got_look = dst.looks.get((r + row_off, c + col_off), {})
            if any(r0 <= r <= r1 and c0 <= c <= c1 for (r0, c0, r1, c1) in src.merges):
                # openpyxl draws a merged range's outer border onto the cells of its edges: inside
                # merges, the borders it reports are its own.
                want_look = {k: v for k, v in want_look.items() if k not in BORDER_KEYS}
                got_look = {k: v for k, v in got_look.items() if k not in BORDER_KEYS}
            for part in look_differences(want_look, got_look, xls_out):
                problems.append(f"{where}: at {(r + row_off, c + col_off)} {part}")
    for (r0, c0, r1, c1) in src.merges:
        if (r0 + row_off, c0 + col_off, r1 + row_off, c1 + col_off) not in dst.merges:
            problems.append(f"{where}: merge {(r0, c0, r1, c1)} missing")
    # Widths travel with the block's own columns only.
    block_cols = [c for _, c in src.cells] + [m[1] for m in src.merges] + [m[3] for m in src.merges]
    first_col, last_col = (min(block_cols), max(block_cols)) if block_cols else (1, 0)
    for col, w in src.widths.items():
        if col_off or col < first_col or col > last_col:
            continue  # a block moved sideways carries its widths to other columns; not checked here
        if w == 0 or src.cols.get(col, (False, 0))[0]:
            continue  # a hidden column shows no width
        got = dst.widths.get(col)
        if got is None or abs(got - w) > 0.75:
            problems.append(f"{where}: width of column {col} is {got}, expected {w}")
    # Hidden rows and outline levels inside the box of the block's contents move with it, exactly.
    block_rows = [r for r, _ in src.cells] + [m[0] for m in src.merges] + [m[2] for m in src.merges]
    first_row, last_row = (min(block_rows), max(block_rows)) if block_rows else (1, 0)
    for r in range(first_row, last_row + 1):
        want, got = src.rows.get(r, (False, 0)), dst.rows.get(r + row_off, (False, 0))
        if want != got:
            problems.append(f"{where}: row {r + row_off} (hidden, level) is {got}, expected {want}")
        # A row formatted as a whole keeps its look. A row format that looks like no format in its
        # workbook is like the empty cells around it, which show the output's default look.
        if r in src.row_looks and look_differences(src.plain_look, src.row_looks[r], False):
            for part in look_differences(src.row_looks[r], dst.row_looks.get(r + row_off, dst.plain_look), xls_out):
                problems.append(f"{where}: row {r + row_off} {part}")
    # A sheet of its own folds its outline groups as its source does.
    if mode == "multi" and src.summary is not None and dst.summary is not None and src.summary != dst.summary:
        problems.append(f"{where}: outline summaries (below, right) are {dst.summary}, expected {src.summary}")
    # Columns are shared by every block stacked on one sheet: a column one block hides or groups
    # stays so for the others, so the output's column has at least the block's settings.
    for c in range(first_col, last_col + 1):
        want, got = src.cols.get(c, (False, 0)), dst.cols.get(c + col_off, (False, 0))
        if want != got and (mode == "multi" or want[0] > got[0] or want[1] > got[1]):
            problems.append(f"{where}: column {c + col_off} (hidden, level) is {got}, expected {want}")
    for (r, c), address in src.links.items():
        if not (first_row <= r <= last_row and first_col <= c <= last_col):
            continue
        got = dst.links.get((r + row_off, c + col_off))
        # Places inside a workbook are rewritten for the output; an address must stay as it was.
        if got is None or (address and got != address):
            problems.append(f"{where}: link at {(r + row_off, c + col_off)} is {got!r}, expected {address!r}")


def load_sources():
    """The sources read by earlier runs, from the file that CHECK_MERGE_SOURCES names (reading them
    is most of a run's time): path -> ((size, mtime), {sheet name: Sheet} or None where the readers
    failed). Runs side by side share it: each writes it whole under a new name and renames it."""
    cache_file = os.environ.get("CHECK_MERGE_SOURCES")
    if not cache_file or not os.path.exists(cache_file):
        return {}
    try:
        with open(cache_file, "rb") as f:
            return pickle.load(f)
    except Exception:  # noqa: BLE001 - a cache of another version is read again
        return {}


def save_sources(cache):
    cache_file = os.environ.get("CHECK_MERGE_SOURCES")
    if cache_file and cache.pop("<changed>", False):
        temporary = f"{cache_file}.{os.getpid()}"
        with open(temporary, "wb") as f:
            pickle.dump(cache, f)
        os.replace(temporary, cache_file)


def file_key(path):
    st = os.stat(path)
    return (st.st_size, st.st_mtime_ns)


def source_sheets(cache, path):
    """The sheets of a source as the readers see them, from the cache while the file is unchanged."""
    key = file_key(path)
    entry = cache.get(path)
    if entry is None or entry[0] != key:
        try:
            entry = (key, {s.name: s for s in read(path)})
        except (Exception, MemoryError):  # noqa: BLE001 - any failure means the reader cannot judge it
            entry = (key, None)
        cache[path] = entry
        cache["<changed>"] = True
    return entry[1]


def probe(paths):
    # Some corpus files are hostile to the readers too: a file that makes them fail or use more
    # than 2 GB cannot be judged by them. The time limit only stops a reader that hangs: the
    # slowest corpus files take them about 20 seconds on a busy machine.
    import resource
    import signal

    def too_slow(signum, frame):
        raise TimeoutError()

    resource.setrlimit(resource.RLIMIT_AS, (2 << 30, 2 << 30))
    signal.signal(signal.SIGALRM, too_slow)
    cache = load_sources()
    for path in paths:
        signal.alarm(120)
        try:
            sheets = source_sheets(cache, path)
        finally:
            signal.alarm(0)
        if sheets is not None:
            print("\t".join([path] + list(sheets)), flush=True)
    save_sources(cache)


def report(problems):
    # CHECK_MERGE_SHOW says how many to print (tools/measure-corpus.sh prints them all).
    shown = int(os.environ.get("CHECK_MERGE_SHOW", "20"))
    for p in problems[:shown]:
        print(p)
    if len(problems) > shown:
        print(f"... and {len(problems) - shown} more")


def placed(mode, output, args):
    out_sheets = read(output)
    xls_out = output.lower().endswith(".xls")
    problems = []
    cache = load_sources()
    for place, sheet, path in zip(args[0::3], args[1::3], args[2::3]):
        if place == "-":
            continue
        index, row, col, to_row, to_col = (int(v) for v in place.split(":"))
        sheets = source_sheets(cache, path)
        if index > len(out_sheets):
            problems.append(f"{sheet} in {path}: the output has no sheet {index}")
            continue
        if sheets is None or sheet not in sheets:
            problems.append(f"{sheet} in {path}: the readers do not read it")
            continue
        src = sheets[sheet]
        if mode == "single" and to_row != 1:
            # Widths are taken only where the target column is still default: in single-sheet mode
            # only the top block's are checked.
            src = copy.copy(src)
            src.widths = {}
        compare(src, out_sheets[index - 1], to_row - row, f"{sheet} in {path}", to_col - col, mode, xls_out,
                problems)
    report(problems)
    save_sources(cache)


def main():
    if sys.argv[1] == "probe":
        probe(sys.argv[2:])
        return
    if sys.argv[1] == "placed":
        placed(sys.argv[2], sys.argv[3], sys.argv[4:])
        return
    mode, output = sys.argv[1], sys.argv[2]
    names = sys.argv[3] if sys.argv[3] == "-" else json.loads(sys.argv[3])
    # Entries the merge report lists as skipped take no part.
    pairs = [(sheet, path) for sheet, path in zip(sys.argv[4::2], sys.argv[5::2]) if not sheet.startswith("!")]
    out_sheets = read(output)
    problems = []
    got_names = [s.name for s in out_sheets]
    if names != "-" and got_names != names:
        problems.append(f"sheet names {got_names} != {names}")
    cache = {}
    sources = []
    for sheet, path in pairs:
        if path not in cache:
            cache[path] = {s.name: s for s in read(path)}
        sources.append(cache[path][sheet])
    xls_out = output.lower().endswith(".xls")

    def origin(sheet):
        cells = list(sheet.cells) + [(m[0], m[1]) for m in sheet.merges]
        if not cells:
            return (1, 1)
        return (min(r for r, _ in cells), min(c for _, c in cells))

    if mode == "multi":
        for i, src in enumerate(sources):
            if i < len(out_sheets):
                # The used range lands at A1: align the two by the top-left of their contents.
                (sr, sc), (dr, dc) = origin(src), origin(out_sheets[i])
                compare(src, out_sheets[i], dr - sr, f"sheet {i + 1}", dc - sc, mode, xls_out, problems)
    else:
        target = out_sheets[0]
        row = 1
        for src in reversed(sources):
            if not src.cells and not src.merges:
                continue  # an empty block moves nothing and takes no rows
            height = max([r for r, _ in src.cells] + [m[2] for m in src.merges] + [1])
            compare(src, target, row - 1, f"block {src.name}", 0, mode, xls_out, problems)
            # Widths are taken only where the target column is still default: check the first block only.
            src.widths = {}
            row += height
    report(problems)


main()
