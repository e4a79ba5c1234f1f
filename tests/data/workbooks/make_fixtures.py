#!/usr/bin/python3
"""Makes the workbook fixtures of the worksheet tests.

Run once with Debian's own python3 (python3-openpyxl, python3-xlwt):
    /usr/bin/python3 tests/data/workbooks/make_fixtures.py
The files are committed; the script stays so they can be made again.
"""
import datetime
import os
import zipfile

import openpyxl
import xlwt

HERE = os.path.dirname(os.path.abspath(__file__))
HEADINGS = ["処理名称", "全体周長", "基準長さ", "天井高", "床面積", "壁面積", "天井面積"]


def path(name):
    return os.path.join(HERE, name)


def takeoff_rows():
    """Nine take-off rows under the headings: the used range is A1:G10."""
    rows = []
    for i in range(1, 10):
        rows.append([f"拾い-{i}", 14, 14, 2400, 12, 33.6, 12])
    rows[1] = ["拾い-2", 14, 8, 2400, 12, 19.2, 12]
    rows[2] = ["拾い-3", 10, 10, 0, 0, 0, 0]
    return rows


def make_openpyxl_workbook():
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "積算"
    ws.append(HEADINGS)
    for r in takeoff_rows():
        ws.append(r)
    ws["D10"] = True  # a bool, inside A1:G10
    memo = wb.create_sheet("メモ")
    memo["A1"] = "二枚目のシートは読まない"
    memo["Z50"] = 99
    wb.save(path("openpyxl_takeoff.xlsx"))


def make_reordered_workbook():
    """First sheet in the workbook's order lives in xl/worksheets/sheet2.xml."""
    wb = openpyxl.Workbook()
    first = wb.active
    first.title = "最初"
    first["A1"] = "最初のシート"
    first["B3"] = 3.25
    second = wb.create_sheet("二番目")
    second["A1"] = "二番目のシート"
    second["C5"] = 5
    tmp = path("reordered.tmp.xlsx")
    wb.save(tmp)
    with zipfile.ZipFile(tmp) as src, zipfile.ZipFile(
        path("reordered_first_sheet.xlsx"), "w", zipfile.ZIP_DEFLATED
    ) as dst:
        for item in src.infolist():
            data = src.read(item.filename)
            name = item.filename
            if name == "xl/worksheets/sheet1.xml":
                name = "xl/worksheets/sheet2.xml"
            elif name == "xl/worksheets/sheet2.xml":
                name = "xl/worksheets/sheet1.xml"
            elif name == "xl/_rels/workbook.xml.rels":
                text = data.decode("utf-8")
                text = text.replace("worksheets/sheet1.xml", "@@1").replace(
                    "worksheets/sheet2.xml", "worksheets/sheet1.xml"
                )
                data = text.replace("@@1", "worksheets/sheet2.xml").encode("utf-8")
            dst.writestr(name, data)
    os.remove(tmp)
    check = openpyxl.load_workbook(path("reordered_first_sheet.xlsx"))
    assert check.worksheets[0].title == "最初"
    assert check.worksheets[0]["A1"].value == "最初のシート"


def make_b2_workbook():
    """A take-off table starting at B2, as a user may lay one out: every cell
    must come back at its own address (used range B2:H6)."""
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "B2から"
    for c, h in enumerate(HEADINGS):
        ws.cell(row=2, column=2 + c, value=h)
    for r, row in enumerate(takeoff_rows()[:4], start=3):
        for c, v in enumerate(row):
            ws.cell(row=r, column=2 + c, value=v)
    ws["H6"] = "最後の列"
    wb.save(path("openpyxl_from_b2.xlsx"))


CONTENT_TYPES = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>
<Override PartName="/xl/worksheets/data.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>
<Override PartName="/xl/sharedStrings.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml"/>
</Types>"""

ROOT_RELS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>
</Relationships>"""

# The main namespace under a prefix, and a chart sheet first in order: the
# first worksheet is the second entry.
WORKBOOK = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<x:workbook xmlns:x="http://schemas.openxmlformats.org/spreadsheetml/2006/main"
 xmlns:rel="http://schemas.openxmlformats.org/officeDocument/2006/relationships">
<x:sheets>
<x:sheet name="グラフ" sheetId="3" rel:id="rId9"/>
<x:sheet name="手作り" sheetId="1" rel:id="rId1"/>
<x:sheet name="その他" sheetId="2" rel:id="rId2"/>
</x:sheets>
</x:workbook>"""

WORKBOOK_RELS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/other.xml"/>
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="/xl/worksheets/data.xml"/>
<Relationship Id="rId9" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/chartsheet" Target="chartsheets/sheet1.xml"/>
<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>
</Relationships>"""

# 0: plain; 1: rich text in runs; 2: with its reading (furigana), which is
# not part of the value; 3: blanks kept; 4: a CR LF written as _x000D_ and LF.
SHARED_STRINGS = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" count="5" uniqueCount="5">
<si><t>処理名称</t></si>
<si><r><rPr><b/></rPr><t>拾い</t></r><r><t xml:space="preserve">-</t></r><r><rPr><i/></rPr><t>7</t></r></si>
<si><t>天井高</t><rPh sb="0" eb="3"><t>テンジョウダカ</t></rPh><phoneticPr fontId="1"/></si>
<si><t xml:space="preserve">  前後に空白  </t></si>
<si><t>一行目_x000D_
二行目</t></si>
</sst>"""

SHEET = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">
<dimension ref="A1"/>
<sheetData>
<row r="1"><c r="A1" t="s"><v>0</v></c><c r="B1" t="s"><v>1</v></c><c r="C1" t="s"><v>2</v></c></row>
<row r="2"><c r="A2" t="s"><v>3</v></c><c r="B2" t="s"><v>4</v></c></row>
<row r="3"><c t="inlineStr"><is><t>インライン</t></is></c><c t="b"><v>1</v></c><c t="b"><v>0</v></c><c><v>33.6</v></c><c><v>14</v></c><c><v>1.5E-3</v></c></row>
<row><c r="A4" t="str"><f>A1&amp;"!"</f><v>処理名称!</v></c><c r="B4" t="e"><f>1/0</f><v>#DIV/0!</v></c><c r="C4" s="1"><v>45383</v></c><c r="D4" t="inlineStr"><is><r><t>リッチ</t></r><r><t>テキスト</t></r></is></c></row>
<row r="6"><c r="H6" s="2"/></row>
</sheetData>
</worksheet>"""

OTHER_SHEET = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">
<sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>読まない</t></is></c></row></sheetData>
</worksheet>"""


def write_package(name, sheet=SHEET, rels=WORKBOOK_RELS, strings=SHARED_STRINGS, skip=()):
    parts = {
        "[Content_Types].xml": CONTENT_TYPES,
        "_rels/.rels": ROOT_RELS,
        "xl/workbook.xml": WORKBOOK,
        "xl/_rels/workbook.xml.rels": rels,
        "xl/sharedStrings.xml": strings,
        "xl/worksheets/data.xml": sheet,
        "xl/worksheets/other.xml": OTHER_SHEET,
    }
    with zipfile.ZipFile(path(name), "w", zipfile.ZIP_DEFLATED) as z:
        for part, text in parts.items():
            if part not in skip:
                z.writestr(part, text.encode("utf-8"))


def make_handmade_workbooks():
    write_package("handmade.xlsx")
    # Damaged or hostile ones.
    write_package("broken_sheet_xml.xlsx",
                  sheet=SHEET.replace("<row r=\"2\">", "<row r=\"2\"><c r=\"A2\"><v>1</c>"))
    write_package("missing_sheet_part.xlsx", skip=("xl/worksheets/data.xml",))
    write_package("column_out_of_range.xlsx",
                  sheet=SHEET.replace('<row r="6"><c r="H6" s="2"/>',
                                      '<row r="6"><c r="XFE6"><v>1</v></c>'))
    write_package("row_out_of_range.xlsx",
                  sheet=SHEET.replace('<row r="6"><c r="H6" s="2"/>',
                                      '<row r="1048577"><c r="A1048577"><v>1</v></c>'))
    write_package("bad_shared_string.xlsx",
                  sheet=SHEET.replace('<c r="B2" t="s"><v>4</v>', '<c r="B2" t="s"><v>5</v>'))
    doctype = SHEET.replace(
        '<worksheet ',
        '<!DOCTYPE worksheet [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;">]>\n<worksheet ', 1)
    write_package("doctype_entities.xlsx", sheet=doctype.replace("<v>14</v>", "<v>&b;</v>"))
    write_package("bad_number.xlsx", sheet=SHEET.replace("<v>33.6</v>", "<v>33,6</v>"))


def make_xls():
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("積算")
    for c, h in enumerate(HEADINGS):
        ws.write(0, c, h)
    for r, row in enumerate(takeoff_rows()[:4], start=1):
        for c, v in enumerate(row):
            ws.write(r, c, v)
    date_style = xlwt.easyxf(num_format_str="YYYY-MM-DD")
    ws.write(5, 0, "日付")
    ws.write(5, 1, datetime.date(2024, 4, 1), date_style)
    ws.write(5, 2, 2.5)
    other = wb.add_sheet("メモ")
    other.write(0, 0, "二枚目")
    other.write(30, 20, 1)
    wb.save(path("xlwt_takeoff.xls"))


def make_not_workbooks():
    with open(path("text_named.xlsx"), "w", encoding="utf-8") as f:
        f.write("処理名称,全体周長\n拾い-1,14\n")
    # OLE2 magic followed by rubbish.
    with open(path("bad_ole2.xls"), "wb") as f:
        f.write(bytes.fromhex("D0CF11E0A1B11AE1") + b"\0" * 504 + b"rubbish" * 100)


if __name__ == "__main__":
    make_openpyxl_workbook()
    make_reordered_workbook()
    make_b2_workbook()
    make_handmade_workbooks()
    make_xls()
    make_not_workbooks()
