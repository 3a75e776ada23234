#!/usr/bin/env python3
"""Formulas through a merge, with LibreOffice as the judge.
# SPDX-License-Identifier: Apache-2.0

    formula_cases.py sources DIR
        Writes the workbook of CASES as openpyxl writes it (no cached values, op.xlsx), as
        XlsxWriter writes it (cached values 0, xw.xlsx), and as LibreOffice saves it once computed
        (lo.xlsx as lox.xlsx, and lo.xls). Prints the merge list: "sheet<TAB>path" lines.
    formula_cases.py judge DIR OUTPUT SOURCE MODE [OUTPUT SOURCE MODE...]
        MODE is multi or single. LibreOffice, told to compute every formula on loading, converts
        every source and output in one run; then every cell of every output must hold what its
        source cell computes to where the output keeps a formula, and the source's cached value
        where it keeps a value. Prints one line per fault:
            MISMATCH <output> <sheet> <cell> <ours> <expected>
            KEPT|VALUE <output> <sheet> <cell>      a formula kept or made a value against CASES
            BADREF <output> <sheet> <cell> <text>   a formula refers to a cell the merge did not put there
        then "FORMULAS <n>" (formulas kept over all outputs) and "JUDGED <n>" (cells compared).
"""
import os
import re
import subprocess
import sys

import openpyxl
from openpyxl.utils import column_index_from_string, get_column_letter

# The sheets in their order, with their values ((row, col) 1-based) and formula cases:
# (cell, formula, kept in a multi-sheet merge, kept in a single-sheet merge). Rates is not merged.
NUMBERS = {
    "Data": {"D3": 198},
    "Data2": {f"{c}{r}": 10 * (3 * (r - 2) + i) for r in (2, 3, 4) for i, c in enumerate("BCD", 1)},
    "North": {"A1": 1, "B1": 2, "A2": 3},
    "South": {"A1": 10, "B1": 20, "A2": 30},
    "it's": {"A1": 100, "B1": 200},
    "Top": {"A1": 11},
    "Summary": {"B2": 1},
    "Rates": {"A1": 5},
}
CASES = [
    # Formulas without a cached value count as content: the used range is C3:E5, not D3.
    ("Data", "C3", "=D3*2", True, True),
    ("Data", "D4", "=D3/2", True, True),
    ("Data", "D5", "=D4+D3", True, True),
    ("Data", "C4", "=$D$3+1", True, True),
    ("Data", "C5", "=SUM(D3:D4)", True, True),
    ("Data", "E3", "=$C$3*2", True, True),
    ("Data", "E4", "=B2+1", False, False),  # above and left of the used range: not carried
    ("Data", "E5", "=SUM($D:$D)", True, False),  # whole columns: only a sheet of its own holds them
    ("Top", "A2", "=$A$1", True, True),
    ("Top", "A3", "=A$1*2", True, True),
    ("Summary", "B3", "=SUM(Data2!B2:C3)", True, True),
    ("Summary", "B4", "=SUM(Data2!A1:C3)", False, False),  # partly carried
    ("Summary", "B5", "=Data!$D$3*2+Data!C3", True, True),
    ("Summary", "B6", "=SUM(North:South!A1:B1)", True, False),  # 3-D: kept on sheets of their own
    ("Summary", "B7", "=SUM(North:'it''s'!A1)", ".xls", False),  # no xlsx text every reader reads
    ("Summary", "B8", "=Rates!A1*2", False, False),  # a sheet not merged
    ("Summary", "B9", "=TaxRate*2", False, False),  # a defined name
    ("Summary", "B10", "=ISERROR(Data!#REF!)*7", True, True),  # a #REF! of the source stays
    ("Summary", "B11", "=B2+$B$2", True, True),
]
MERGED = [name for name in NUMBERS if name != "Rates"]

PROFILE = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema"
 xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse"><value>0</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="ODFRecalcMode" oor:op="fuse"><value>0</value></prop></item>
</oor:items>
"""


def soffice(work, target, outdir, files):
    """Converts `files` in one LibreOffice run, every formula computed on loading."""
    profile = os.path.join(work, "lo-profile")
    os.makedirs(os.path.join(profile, "user"), exist_ok=True)
    with open(os.path.join(profile, "user", "registrymodifications.xcu"), "w") as f:
        f.write(PROFILE)
    subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
                    "--convert-to", target, "--outdir", outdir] + files,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600)


def sources(work):
    import xlsxwriter
    wb = openpyxl.Workbook()
    wb.remove(wb.active)
    xw = xlsxwriter.Workbook(os.path.join(work, "xw.xlsx"))
    for name, numbers in NUMBERS.items():
        ws = wb.create_sheet(name)
        xs = xw.add_worksheet(name)
        for cell, value in numbers.items():
            ws[cell] = value
            xs.write(cell, value)
        for sheet, cell, text, _, _ in CASES:
            if sheet == name:
                ws[cell] = text
                xs.write_formula(cell, text)
    wb.defined_names.append(openpyxl.workbook.defined_name.DefinedName("TaxRate", attr_text="Rates!$A$1"))
    xw.define_name("TaxRate", "=Rates!$A$1")
    wb.save(os.path.join(work, "op.xlsx"))
    xw.close()
    lo = os.path.join(work, "lo")
    os.makedirs(lo, exist_ok=True)
    os.replace(os.path.join(work, "op.xlsx"), os.path.join(lo, "lo.xlsx"))
    soffice(work, "xls", work, [os.path.join(lo, "lo.xlsx")])
    soffice(work, "xlsx:Calc MS Excel 2007 XML", os.path.join(lo, "out"), [os.path.join(lo, "lo.xlsx")])
    os.replace(os.path.join(lo, "out", "lo.xlsx"), os.path.join(work, "lox.xlsx"))
    wb.save(os.path.join(work, "op.xlsx"))
    for source in ("op.xlsx", "xw.xlsx", "lox.xlsx", "lo.xls"):
        for name in MERGED:
            print(f"{name}\t{os.path.join(work, source)}")


def cells(ws):
    return {c.coordinate: c.value for row in ws.iter_rows() for c in row if c.value is not None}


def same(a, b):
    if a in (None, "") and b in (None, ""):
        return True
    if isinstance(a, (int, float)) and isinstance(b, (int, float)) and not isinstance(a, bool):
        return abs(a - b) <= 1e-9 * max(1.0, abs(a), abs(b))
    return a == b


def split(cell):
    m = re.match(r"([A-Z]+)(\d+)$", cell)
    return int(m.group(2)), column_index_from_string(m.group(1))


REF = re.compile(r"(?:(?:'((?:[^']|'')+)'|([A-Za-z_][\w.]*(?::[A-Za-z_][\w.]*)?))!)?"
                 r"(\$?[A-Z]{1,3}\$?\d+(?::\$?[A-Z]{1,3}\$?\d+)?|\$?[A-Z]{1,3}:\$?[A-Z]{1,3})(?![\w(])")


def judge(work, triples):
    outputs = [(triples[i], triples[i + 1], triples[i + 2]) for i in range(0, len(triples), 3)]
    files = sorted({s for _, s, _ in outputs}) + [o for o, _, _ in outputs]
    computed = os.path.join(work, "computed")
    soffice(work, "xlsx:Calc MS Excel 2007 XML", computed, files)

    def load(path, values):
        return openpyxl.load_workbook(os.path.join(computed, os.path.splitext(os.path.basename(path))[0] + ".xlsx"),
                                      data_only=values)

    expect = {(s, c): (m, g) for s, c, _, m, g in CASES}
    formulas = judged = 0
    for output, source, mode in outputs:
        src_values = load(source, True)
        src_texts = load(source, False)
        cached = openpyxl.load_workbook(source, data_only=True) if source.endswith(".xlsx") else src_values
        out_values = load(output, True)
        out_texts = openpyxl.load_workbook(output) if output.endswith(".xlsx") else load(output, False)
        # Where the merge put each sheet's used range: (output sheet, first row, source top-left).
        placed = {}
        row = 1
        for name in (MERGED if mode == "multi" else reversed(MERGED)):
            used = [split(c) for c in cells(src_texts[name])]
            top, left = min(r for r, _ in used), min(c for _, c in used)
            bottom, right = max(r for r, _ in used), max(c for _, c in used)
            at = 1 if mode == "multi" else row
            placed[name] = (name if mode == "multi" else out_texts.sheetnames[0], at, top, left, bottom, right)
            row = at + bottom - top + 1
        for name, (sheet, at, top, left, bottom, right) in placed.items():
            for r in range(top, bottom + 1):
                for c in range(left, right + 1):
                    where = f"{get_column_letter(c)}{r}"
                    here = f"{get_column_letter(c - left + 1)}{r - top + at}"
                    text = out_texts[sheet][here].value
                    is_formula = isinstance(text, str) and text.startswith("=")
                    ours = out_values[sheet][here].value
                    wanted = (src_values if is_formula else cached)[name][where].value
                    judged += 1
                    if not same(ours, wanted):
                        print("MISMATCH", output, name, where, repr(ours), repr(wanted))
                    if (name, where) in expect:
                        keep = expect[(name, where)][0 if mode == "multi" else 1]
                        keep = output.endswith(keep) if isinstance(keep, str) else keep
                        if keep != is_formula:
                            print("VALUE" if keep else "KEPT", output, name, where)
                    if not is_formula:
                        continue
                    formulas += 1
                    for m in REF.finditer(text):
                        target = (m.group(1) or m.group(2) or sheet).replace("''", "'").split(":")[0]
                        if target not in out_texts.sheetnames:
                            print("BADREF", output, name, where, text)
                            continue
                        extent = [p for p in placed.values() if p[0] == target]
                        rows = max(p[1] + p[4] - p[2] for p in extent)
                        cols = max(p[5] - p[3] + 1 for p in extent)
                        for part in m.group(3).replace("$", "").split(":"):
                            pr = re.match(r"([A-Z]+)(\d*)$", part)
                            whole = re.search(r"\$?1:\$?[A-Z]+\$?(65536|1048576)$", m.group(3).replace("$", ""))
                            if column_index_from_string(pr.group(1)) > cols or (
                                    pr.group(2) and int(pr.group(2)) > rows and not whole):
                                print("BADREF", output, name, where, text)
    print("FORMULAS", formulas)
    print("JUDGED", judged)


if __name__ == "__main__":
    if sys.argv[1] == "sources":
        sources(sys.argv[2])
    else:
        judge(sys.argv[2], sys.argv[3:])
