#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Writes the source workbooks of the end-to-end merge tests with openpyxl, an independent writer.

Usage: make_sources.py FOLDER
Every sheet's content starts at A1 and no cell outside its values carries formatting, so a sheet's
used range is exactly the box of its values.
"""
import datetime
import sys

from openpyxl import Workbook
from openpyxl.styles import Alignment, Border, Font, PatternFill, Side

folder = sys.argv[1]

def sales(ws, rows, seed):
    ws.append(["Region", "Units", "Price", "Day", "Note"])
    for c in ws[1]:
        c.font = Font(bold=True, color="FF1F4E79")
        c.fill = PatternFill("solid", fgColor="FFDDEBF7")
        c.border = Border(bottom=Side(style="thin", color="FF000000"))
    for i in range(rows):
        ws.append([
            ["North", "South", "East", "West"][(i + seed) % 4],
            (i * 7 + seed) % 100,
            round(1.25 * i + seed / 10, 2),
            datetime.datetime(2026, 1 + i % 12, 1 + (i * 3) % 28),
            "  padded  " if i == 1 else ("line\nbreak" if i == 2 else f"n{i}"),
        ])
    for r in range(2, rows + 2):
        ws.cell(r, 3).number_format = "#,##0.00"
        ws.cell(r, 4).number_format = "yyyy-mm-dd"
        ws.cell(r, 5).alignment = Alignment(wrap_text=True, horizontal="center")
    ws.column_dimensions["A"].width = 18
    ws.column_dimensions["E"].width = 30
    ws.row_dimensions[1].height = 28

wb = Workbook()
ws = wb.active
ws.title = "Data"
sales(ws, 6, 1)
s = wb.create_sheet("Summary")
s["A1"] = "Total"
s["B1"] = 42
s["A2"] = True
s["B2"] = "=1/0"
s.merge_cells("A3:B4")
s["A3"] = "merged block"
s["A3"].font = Font(italic=True, size=14)
wb.save(f"{folder}/east.xlsx")

wb = Workbook()
ws = wb.active
ws.title = "data"  # clashes with "Data" once upper-cased
sales(ws, 3, 5)
ws2 = wb.create_sheet("One row")
ws2.append(["only", 1, 2, 3])
wb.create_sheet("Empty")  # nothing at all, as workbooks often carry a spare Sheet2 or Sheet3
wb.save(f"{folder}/west.xlsx")
