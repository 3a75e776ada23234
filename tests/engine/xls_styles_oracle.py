#!/usr/bin/python3
# SPDX-License-Identifier: Apache-2.0
"""Prints the formatting an independent reader (xlrd) sees in the first rows of .xls files, one line
per cell: file, sheet, row, column, then fill, font, number format and left border with colours as
RGB (or 'auto' for the system colours)."""
import sys

import xlrd


def rgb(book, index):
    value = book.colour_map.get(index)
    if value is None:
        return 'auto'
    return '%02X%02X%02X' % value


def main():
    for path in sys.argv[1:]:
        book = xlrd.open_workbook(path, formatting_info=True, logfile=open('/dev/null', 'w'))
        name = path.rsplit('/', 1)[-1]
        for sheet_index, sheet in enumerate(book.sheets()):
            if sheet_index > 1:
                break
            for r in range(min(sheet.nrows, 20)):
                for c in range(min(sheet.ncols, 12)):
                    if sheet.cell_type(r, c) == xlrd.XL_CELL_EMPTY:
                        continue
                    xf = book.xf_list[sheet.cell_xf_index(r, c)]
                    font = book.font_list[xf.font_index]
                    fill = xf.background
                    fmt = book.format_map[xf.format_key].format_str
                    border = xf.border
                    fill_text = 'none' if fill.fill_pattern == 0 else '%d/%s' % (
                        fill.fill_pattern, rgb(book, fill.pattern_colour_index))
                    left = 'none' if border.left_line_style == 0 else '%d/%s' % (
                        border.left_line_style, rgb(book, border.left_colour_index))
                    print('\t'.join([name, str(sheet_index), str(r), str(c),
                                     'fill=' + fill_text,
                                     # Bold by weight, as Excel reads it: xlrd's `bold` looks at
                                     # an option bit that BIFF8 leaves unused.
                                     'font=%s/%g/%d/%d/%s' % (font.name, font.height / 20.0, font.weight >= 700,
                                                              font.italic,
                                                              rgb(book, font.colour_index)),
                                     'fmt=' + fmt,
                                     'left=' + left]))


main()
