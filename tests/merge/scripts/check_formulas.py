#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Checks the formulas of a merged xlsx with two outside readers.

    check_formulas.py OUTPUT.xlsx

Prints, one line each:
    F <sheet> <cell> <formula text>        every formula as openpyxl reads it
    CALC <0|1>                             whether the workbook asks for a full calculation on load
    MISMATCH <sheet> <cell> <ours> <lo> <formula>
                                           a kept formula whose cached value differs from the value
                                           LibreOffice computes for it, made to recalculate on load
    CHECKED <n>                            how many formulas LibreOffice computed
    UNCACHED <n>                           how many of them had no cached value to compare
LibreOffice runs headless with its own fresh profile, told to recalculate every formula when it
opens an xlsx file; it saves a copy whose values openpyxl reads.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

import openpyxl

PROFILE_SETTINGS = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema"
 xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse"><value>0</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="ODFRecalcMode" oor:op="fuse"><value>0</value></prop></item>
</oor:items>
"""


ERRORS = ("#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A", "#GETTING_DATA")


def same(ours, theirs):
    # Which error a broken reference gives differs between applications (Excel caches #REF! for
    # '1'!#REF!, LibreOffice computes #VALUE!): an error is taken to match an error.
    if ours in ERRORS and theirs in ERRORS:
        return True
    if isinstance(ours, bool) or isinstance(theirs, bool):
        return ours == theirs
    if isinstance(ours, (int, float)) and isinstance(theirs, (int, float)):
        return abs(ours - theirs) <= 1e-9 * max(1.0, abs(ours), abs(theirs))
    if ours in (None, "") and theirs in (None, ""):
        return True
    return ours == theirs


def main():
    path = sys.argv[1]
    formulas = openpyxl.load_workbook(path)
    cached = openpyxl.load_workbook(path, data_only=True)
    kept = []
    for ws in formulas.worksheets:
        for row in ws.iter_rows():
            for c in row:
                if isinstance(c.value, str) and c.value.startswith("="):
                    print("F", json.dumps(ws.title), c.coordinate, c.value)
                    kept.append((ws.title, c.coordinate, c.value))
    calculation = formulas.calculation
    print("CALC", 1 if calculation is not None and calculation.fullCalcOnLoad else 0)
    if not kept:
        print("CHECKED 0")
        return
    work = tempfile.mkdtemp()
    try:
        profile = os.path.join(work, "profile")
        os.makedirs(os.path.join(profile, "user"))
        with open(os.path.join(profile, "user", "registrymodifications.xcu"), "w") as f:
            f.write(PROFILE_SETTINGS)
        source = os.path.join(work, "in.xlsx")
        shutil.copy(path, source)
        out = os.path.join(work, "out")
        subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
                        "--convert-to", "xlsx:Calc MS Excel 2007 XML", "--outdir", out, source],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=240)
        computed = openpyxl.load_workbook(os.path.join(out, "in.xlsx"), data_only=True)
        uncached = 0
        for sheet, cell, text in kept:
            ours = cached[sheet][cell].value
            theirs = computed[sheet][cell].value
            if ours is None:
                uncached += 1  # the source had no cached value to keep
                continue
            if not same(ours, theirs):
                print("MISMATCH", json.dumps(sheet), cell, json.dumps(ours), json.dumps(theirs), text)
        print("CHECKED", len(kept))
        print("UNCACHED", uncached)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
