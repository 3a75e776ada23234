#!/usr/bin/env python3
# SPDX-License-Identifier: Apache-2.0
"""Reads the formulas of many workbooks as LibreOffice sees them, in two LibreOffice runs.

    lo_formulas.py WORK_DIR SOURCES_LIST OUTPUTS_LIST

SOURCES_LIST and OUTPUTS_LIST name one workbook a line. LibreOffice, headless with a fresh profile
of its own under WORK_DIR that makes it compute every formula when it opens a file, converts all
the sources to xlsx in one run and all the outputs in another (a run per file would take minutes);
openpyxl then reads its xlsx files. Prints, one line each, its fields apart by tabs:
    S <source> <sheet> <cell> <formula text>                     a formula of a source
    O <output> <sheet> <cell> <formula text> <computed value>    a formula of an output, computed
    MISSING <file>                                               LibreOffice wrote nothing for it
Workbook and sheet names and values are JSON; a date is given as its serial number.
"""
import datetime
import json
import os
import subprocess
import sys

import openpyxl
from openpyxl.utils.datetime import to_excel

PROFILE_SETTINGS = """<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema"
 xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="OOXMLRecalcMode" oor:op="fuse"><value>0</value></prop></item>
<item oor:path="/org.openoffice.Office.Calc/Formula/Load"><prop oor:name="ODFRecalcMode" oor:op="fuse"><value>0</value></prop></item>
</oor:items>
"""


def convert(work, files, outdir):
    profile = os.path.join(work, "profile")
    os.makedirs(os.path.join(profile, "user"), exist_ok=True)
    with open(os.path.join(profile, "user", "registrymodifications.xcu"), "w") as f:
        f.write(PROFILE_SETTINGS)
    subprocess.run(["soffice", "-env:UserInstallation=file://" + profile, "--headless", "--norestore",
                    "--convert-to", "xlsx:Calc MS Excel 2007 XML", "--outdir", outdir] + files,
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=900)


def plain(value):
    if isinstance(value, datetime.datetime) or isinstance(value, datetime.date):
        return to_excel(value)
    if isinstance(value, datetime.time):
        return (value.hour * 3600 + value.minute * 60 + value.second + value.microsecond / 1e6) / 86400
    if isinstance(value, datetime.timedelta):
        return value.total_seconds() / 86400
    return value


def report(kind, files, outdir):
    for path in files:
        converted = os.path.join(outdir, os.path.splitext(os.path.basename(path))[0] + ".xlsx")
        if not os.path.exists(converted):
            print("MISSING\t" + json.dumps(path))
            continue
        texts = openpyxl.load_workbook(converted)
        values = openpyxl.load_workbook(converted, data_only=True) if kind == "O" else None
        for ws in texts.worksheets:
            for row in ws.iter_rows():
                for c in row:
                    if not (isinstance(c.value, str) and c.value.startswith("=") and len(c.value) > 1):
                        continue
                    line = [kind, json.dumps(path), json.dumps(ws.title), c.coordinate,
                            json.dumps(c.value.replace("\n", " "))]
                    if values is not None:
                        line.append(json.dumps(plain(values[ws.title][c.coordinate].value), default=str))
                    print("\t".join(line))


def main():
    work = sys.argv[1]
    lists = []
    for name in sys.argv[2:4]:
        with open(name) as f:
            lists.append([line.strip() for line in f if line.strip()])
    sources, outputs = lists
    convert(work, sources, os.path.join(work, "lo-sources"))
    convert(work, outputs, os.path.join(work, "lo-outputs"))
    report("S", sources, os.path.join(work, "lo-sources"))
    report("O", outputs, os.path.join(work, "lo-outputs"))


if __name__ == "__main__":
    main()
