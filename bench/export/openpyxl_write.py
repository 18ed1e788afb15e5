"""Writes the given cells as text into a one-sheet workbook with openpyxl, several times,
and prints the time of each run in milliseconds (one figure per line).

Usage: openpyxl_write.py cells.json out.xlsx runs
cells.json: [[row, column, text], ...]
"""
import json
import sys
import time

import openpyxl

cells = json.load(open(sys.argv[1]))
out = sys.argv[2]
runs = int(sys.argv[3])
for _ in range(runs):
    start = time.perf_counter()
    book = openpyxl.Workbook()
    sheet = book.active
    for row, column, text in cells:
        sheet.cell(row=row, column=column).value = text
    book.save(out)
    print("%.3f" % ((time.perf_counter() - start) * 1000.0))
