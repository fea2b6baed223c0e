#!/usr/bin/env python3
"""Prints the cells of the first sheet of a spreadsheet, one line each, empty cells left out:
"A1 text Modèle", "E2 number 0.725", "B3 formula =1+1". Reads a workbook (.xlsx) as its XML, or
the flat OpenDocument file (.fods) that LibreOffice converts a file into. Of a workbook it also
prints, first, "sheet NAME", "frozen ROWS" (the rows that stay in view), "filter RANGE" (the
autofilter's), "width COLUMN CHARS" for each column width it sets, and "bold REF" before each bold
cell of the first row."""
import re
import sys
import xml.etree.ElementTree as ET
import zipfile

MAIN = "{http://schemas.openxmlformats.org/spreadsheetml/2006/main}"
TABLE = "{urn:oasis:names:tc:opendocument:xmlns:table:1.0}"
OFFICE = "{urn:oasis:names:tc:opendocument:xmlns:office:1.0}"
TEXT = "{urn:oasis:names:tc:opendocument:xmlns:text:1.0}"


def number(value):
    text = repr(float(value))
    return text[:-2] if text.endswith(".0") else text


def column_name(index):
    name = ""
    index += 1
    while index:
        index, rest = divmod(index - 1, 26)
        name = chr(ord("A") + rest) + name
    return name


def xlsx_cells(path):
    book = zipfile.ZipFile(path)
    shared = []
    if "xl/sharedStrings.xml" in book.namelist():
        for item in ET.fromstring(book.read("xl/sharedStrings.xml")).iter(MAIN + "si"):
            shared.append("".join(t.text or "" for t in item.iter(MAIN + "t")))
    sheet = ET.fromstring(book.read("xl/worksheets/sheet1.xml"))
    first = ET.fromstring(book.read("xl/workbook.xml")).find(f"{MAIN}sheets/{MAIN}sheet")
    lines = ["sheet " + first.get("name")]
    pane = sheet.find(f"{MAIN}sheetViews/{MAIN}sheetView/{MAIN}pane")
    if pane is not None and pane.get("state") == "frozen":
        lines.append("frozen " + pane.get("ySplit", "0"))
    autofilter = sheet.find(MAIN + "autoFilter")
    if autofilter is not None:
        lines.append("filter " + autofilter.get("ref"))
    bold_styles = set()
    styles = ET.fromstring(book.read("xl/styles.xml"))
    fonts = list(styles.iter(MAIN + "font"))
    cell_xfs = styles.find(MAIN + "cellXfs")
    for i, xf in enumerate(cell_xfs if cell_xfs is not None else []):
        font = fonts[int(xf.get("fontId", "0"))]
        if font.find(MAIN + "b") is not None:
            bold_styles.add(str(i))
    for col in sheet.iter(MAIN + "col"):
        width = round(float(col.get("width")))
        lines.append(f"width {column_name(int(col.get('min')) - 1)} {width}")
    for cell in sheet.iter(MAIN + "c"):
        ref, kind = cell.get("r"), cell.get("t", "n")
        if ref.endswith("1") and re.fullmatch(r"[A-Z]+1", ref) and cell.get("s") in bold_styles:
            lines.append("bold " + ref)
        value = cell.find(MAIN + "v")
        if cell.find(MAIN + "f") is not None:
            lines.append(f"{ref} formula {cell.find(MAIN + 'f').text}")
        elif kind == "inlineStr":
            lines.append(f"{ref} text " + "".join(t.text or "" for t in cell.iter(MAIN + "t")))
        elif kind == "s":
            lines.append(f"{ref} text {shared[int(value.text)]}")
        elif kind == "n" and value is not None:
            lines.append(f"{ref} number {number(value.text)}")
        elif value is not None:
            lines.append(f"{ref} {kind} {value.text}")
    return lines


def fods_cells(path):
    body = ET.parse(path).getroot().find(f"{OFFICE}body/{OFFICE}spreadsheet")
    table = body.find(TABLE + "table")
    lines = []
    row_index = 0
    for row in table.iter(TABLE + "table-row"):
        rows = int(row.get(TABLE + "number-rows-repeated", "1"))
        column = 0
        for cell in row.iter(TABLE + "table-cell"):
            repeat = int(cell.get(TABLE + "number-columns-repeated", "1"))
            kind = cell.get(OFFICE + "value-type")
            for _ in range(repeat if kind else 0):
                ref = f"{column_name(column)}{row_index + 1}"
                text = "\n".join("".join(p.itertext()) for p in cell.iter(TEXT + "p"))
                if cell.get(TABLE + "formula"):
                    lines.append(f"{ref} formula {cell.get(TABLE + 'formula')}")
                elif kind == "float":
                    lines.append(f"{ref} number {number(cell.get(OFFICE + 'value'))}")
                else:
                    lines.append(f"{ref} text {text}")
                column += 1
            if not kind:
                column += repeat
        row_index += rows
    return lines


if __name__ == "__main__":
    file = sys.argv[1]
    cells = fods_cells(file) if file.endswith(".fods") else xlsx_cells(file)
    sys.stdout.write("".join(line + "\n" for line in cells))
