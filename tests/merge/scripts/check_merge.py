#!/usr/bin/python3
"""Checks a merged workbook against its sources with independent readers (openpyxl for xlsx,
xlrd for xls) and prints one line per difference; prints nothing when they agree.

Usage: check_merge.py multi|single OUTPUT EXPECTED_NAMES_JSON|- SHEET PATH [SHEET PATH ...]
The entries are given in merge-list order. Values are compared cell by cell at the place the
merge puts them, and so are number formats (xlsx output), merged ranges and column widths.
"""
import datetime
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
        return v.replace(microsecond=0)
    if isinstance(v, datetime.date):
        return datetime.datetime(v.year, v.month, v.day)
    if v == "":
        return None
    return v


class Sheet:
    """Cells as {(row, col): value} (1-based), number formats, merges, column widths."""

    def __init__(self):
        self.cells, self.formats, self.merges, self.widths = {}, {}, set(), {}
        self.name = None


def read_xlsx(path):
    wb = openpyxl.load_workbook(path, data_only=True)
    out = []
    for ws in wb.worksheets:
        s = Sheet()
        s.name = ws.title
        for row in ws.iter_rows():
            for c in row:
                if c.value is not None:
                    s.cells[(c.row, c.column)] = norm(c.value)
                    s.formats[(c.row, c.column)] = c.number_format
        s.merges = {(m.min_row, m.min_col, m.max_row, m.max_col) for m in ws.merged_cells.ranges}
        for key, dim in ws.column_dimensions.items():
            if dim.customWidth and dim.width:
                for col in range(dim.min, dim.max + 1):
                    s.widths[col] = dim.width
        out.append(s)
    return out


def read_xls(path):
    book = xlrd.open_workbook(path, formatting_info=True)
    out = []
    for sh in book.sheets():
        s = Sheet()
        s.name = sh.name
        for r in range(sh.nrows):
            for c in range(sh.ncols):
                cell = sh.cell(r, c)
                if cell.ctype in (xlrd.XL_CELL_EMPTY, xlrd.XL_CELL_BLANK):
                    continue
                v = cell.value
                fmt = book.format_map[book.xf_list[cell.xf_index].format_key].format_str
                if cell.ctype == xlrd.XL_CELL_DATE:
                    v = xlrd.xldate_as_datetime(v, book.datemode)
                elif cell.ctype == xlrd.XL_CELL_BOOLEAN:
                    v = bool(v)
                elif cell.ctype == xlrd.XL_CELL_ERROR:
                    v = xlrd.error_text_from_code[v]
                s.cells[(r + 1, c + 1)] = norm(v)
                s.formats[(r + 1, c + 1)] = fmt
        s.merges = {(r0 + 1, c0 + 1, r1, c1) for (r0, r1, c0, c1) in sh.merged_cells}
        for col, info in sh.colinfo_map.items():
            s.widths[col + 1] = info.width / 256.0
        out.append(s)
    return out


def read(path):
    return read_xls(path) if path.lower().endswith(".xls") else read_xlsx(path)


def main():
    mode, output = sys.argv[1], sys.argv[2]
    names = sys.argv[3] if sys.argv[3] == "-" else json.loads(sys.argv[3])
    pairs = list(zip(sys.argv[4::2], sys.argv[5::2]))
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

    def compare(src, dst, row_off, where, col_off=0):
        for (r, c), v in src.cells.items():
            got = dst.cells.get((r + row_off, c + col_off))
            if isinstance(v, str) and v.startswith("#") and got is not None:
                continue  # error values: both readers spell them their own way
            if isinstance(got, datetime.timedelta) != isinstance(v, datetime.timedelta):
                continue  # elapsed times: openpyxl gives durations, xlrd dates
            if got != v:
                problems.append(f"{where}: cell {(r + row_off, c + col_off)} is {got!r}, expected {v!r}")
            elif not xls_out and not same_format(src.formats.get((r, c)), dst.formats.get((r + row_off, c + col_off))):
                problems.append(f"{where}: format at {(r + row_off, c + col_off)} is "
                                f"{dst.formats.get((r + row_off, c + col_off))!r}, expected {src.formats.get((r, c))!r}")
        for (r0, c0, r1, c1) in src.merges:
            if (r0 + row_off, c0 + col_off, r1 + row_off, c1 + col_off) not in dst.merges:
                problems.append(f"{where}: merge {(r0, c0, r1, c1)} missing")
        # Widths travel with the block's own columns only.
        block_cols = [c for _, c in src.cells] + [m[1] for m in src.merges] + [m[3] for m in src.merges]
        first_col, last_col = (min(block_cols), max(block_cols)) if block_cols else (1, 0)
        for col, w in src.widths.items():
            if col_off or col < first_col or col > last_col:
                continue  # a block moved sideways carries its widths to other columns; not checked here
            got = dst.widths.get(col)
            if got is None or abs(got - w) > 0.75:
                problems.append(f"{where}: width of column {col} is {got}, expected {w}")

    if mode == "multi":
        for i, src in enumerate(sources):
            if i < len(out_sheets):
                # The used range lands at A1: align the two by the top-left of their contents.
                (sr, sc), (dr, dc) = origin(src), origin(out_sheets[i])
                compare(src, out_sheets[i], dr - sr, f"sheet {i + 1}", dc - sc)
    else:
        target = out_sheets[0]
        row = 1
        for src in reversed(sources):
            if not src.cells and not src.merges:
                continue  # an empty block moves nothing and takes no rows
            height = max([r for r, _ in src.cells] + [m[2] for m in src.merges] + [1])
            compare(src, target, row - 1, f"block {src.name}")
            # Widths are taken only where the target column is still default: check the first block only.
            src.widths = {}
            row += height
    for p in problems[:20]:
        print(p)
    if len(problems) > 20:
        print(f"... and {len(problems) - 20} more")


main()
