"""Prints the cells of an .xlsx workbook as JSON, read with openpyxl (an independent reader).

Output: {"sheets": [names], "cells": [[row, column, data_type, value], ...]} for the first
sheet, every cell that holds a value, in row-major order.
"""
import json
import sys

import openpyxl

book = openpyxl.load_workbook(sys.argv[1])
sheet = book.worksheets[0]
cells = []
for row in sheet.iter_rows():
    for cell in row:
        if cell.value is not None:
            cells.append([cell.row, cell.column, cell.data_type, cell.value])
print(json.dumps({"sheets": book.sheetnames, "cells": cells}))
