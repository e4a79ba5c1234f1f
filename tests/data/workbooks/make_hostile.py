#!/usr/bin/python3
"""Writes one hostile or over-limit workbook for the workbook tests:
    make_hostile.py KIND PATH
Small files that inflate to tens of megabytes, with one very long value, tag,
comment or nesting, or just past a limit of the sheet. Made on the fly by the
tests (with Debian's own python3), never committed.
"""
import sys
import zipfile

MB = 1 << 20

CONTENT_TYPES = b"""<?xml version="1.0" encoding="UTF-8"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
</Types>"""
ROOT_RELS = b"""<?xml version="1.0" encoding="UTF-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>
</Relationships>"""
WORKBOOK = b"""<?xml version="1.0" encoding="UTF-8"?>
<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"
 xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">
<sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>"""
WORKBOOK_RELS = b"""<?xml version="1.0" encoding="UTF-8"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>
<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>
</Relationships>"""
SHEET_HEAD = (b'<?xml version="1.0" encoding="UTF-8"?>\n'
              b'<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData>'
              b'<row r="1"><c r="A1" t="s"><v>0</v></c></row>')
SHEET_TAIL = b"</sheetData></worksheet>"
STRINGS_HEAD = (b'<?xml version="1.0" encoding="UTF-8"?>\n'
                b'<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">')
STRINGS_TAIL = b"</sst>"


def repeated(chunk, total):
    """`chunk` repeated to `total` bytes, in pieces of about a megabyte."""
    piece = chunk * max(1, MB // len(chunk))
    left = total
    while left > 0:
        yield piece[:left]
        left -= len(piece)


def sheet_and_strings(kind):
    """The sheet and shared-strings parts as lists of byte pieces."""
    strings = [STRINGS_HEAD, b"<si><t>\xe5\x87\xa6\xe7\x90\x86</t></si>", STRINGS_TAIL]
    middle = []
    if kind == "long_shared_string":
        strings = [STRINGS_HEAD, b"<si><t>", *repeated(b"a", 64 * MB), b"</t></si>", STRINGS_TAIL]
    elif kind == "long_inline_string":
        middle = [b'<row r="2"><c r="A2" t="inlineStr"><is><t>', *repeated(b"b", 64 * MB),
                  b"</t></is></c></row>"]
    elif kind == "long_attribute":
        middle = [b'<row r="2"><c r="A2" x="', *repeated(b"c", 16 * MB), b'"><v>1</v></c></row>']
    elif kind == "long_comment":
        middle = [b"<!--", *repeated(b"d", 16 * MB), b"-->"]
    elif kind == "huge_part":
        middle = [*repeated(b" ", 80 * MB)]
    elif kind == "deep_nesting":
        middle = [*repeated(b"<a>", 6 * MB)]
    elif kind == "text_over_cell_limit":
        middle = [b'<row r="2"><c r="A2" t="inlineStr"><is><t>', b"e" * 32768,
                  b"</t></is></c></row>"]
    elif kind == "long_number":
        middle = [b'<row r="2"><c r="A2"><v>', b"1" * 200000, b"</v></c></row>"]
    elif kind == "cell_past_last_row":
        middle = [b'<row r="32767"><c r="A32767"><v>1</v></c></row>']
    elif kind == "cell_on_last_row":
        middle = [b'<row r="32766"><c r="G32766"><v>1</v></c></row>']
    else:
        raise SystemExit("unknown kind " + kind)
    return [SHEET_HEAD, *middle, SHEET_TAIL], strings


def xls_many_cells(out):
    """A 5 KB .xls whose four sheets each claim 65536 x 256 cells."""
    import xlwt
    wb = xlwt.Workbook()
    for i in range(4):
        ws = wb.add_sheet("s%d" % i)
        ws.write(0, 0, "x")
        ws.write(65535, 255, 1)
    wb.save(out)


def xls_many_cells_mini(out):
    """An OLE2 file whose workbook stream is small enough to lie in the mini
    stream: BOF, a DIMENSIONS record of 65536 x 256 cells, EOF."""
    import struct
    free, end, fatsect = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD
    stream = (struct.pack("<HHHHHHII", 0x0809, 16, 0x0600, 0x0005, 0, 0, 0, 0)
              + struct.pack("<HHIIHHH", 0x0200, 14, 0, 65536, 0, 256, 0)
              + struct.pack("<HH", 0x000A, 0))
    header = bytearray(512)
    header[0:8] = bytes.fromhex("D0CF11E0A1B11AE1")
    struct.pack_into("<HHHHH", header, 0x18, 0x3E, 3, 0xFFFE, 9, 6)
    struct.pack_into("<IIIIIIIII", header, 0x28, 0, 1, 2, 0, 4096, 1, 1, end, 0)
    struct.pack_into("<I", header, 0x4C, 0)
    for i in range(1, 109):
        struct.pack_into("<I", header, 0x4C + 4 * i, free)
    fat = struct.pack("<4I", fatsect, end, end, end) + struct.pack("<I", free) * 124
    minifat = struct.pack("<I", end) + struct.pack("<I", free) * 127

    def entry(name, kind, start, size, child=free):
        e = bytearray(128)
        raw = (name + "\0").encode("utf-16-le")
        e[0:len(raw)] = raw
        struct.pack_into("<HBB", e, 0x40, len(raw), kind, 1)
        struct.pack_into("<III", e, 0x44, free, free, child)
        struct.pack_into("<II", e, 0x74, start, size)
        return bytes(e)

    directory = (entry("Root Entry", 5, 3, 512, child=1) + entry("Workbook", 2, 0, len(stream))
                 + bytes(128) * 2)
    root = stream + bytes(512 - len(stream))
    with open(out, "wb") as f:
        f.write(bytes(header) + fat + minifat + directory + root)


def main():
    kind, out = sys.argv[1], sys.argv[2]
    if kind == "xls_many_cells":
        return xls_many_cells(out)
    if kind == "xls_many_cells_mini":
        return xls_many_cells_mini(out)
    sheet, strings = sheet_and_strings(kind)
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        z.writestr("[Content_Types].xml", CONTENT_TYPES)
        z.writestr("_rels/.rels", ROOT_RELS)
        z.writestr("xl/workbook.xml", WORKBOOK)
        z.writestr("xl/_rels/workbook.xml.rels", WORKBOOK_RELS)
        for name, pieces in (("xl/sharedStrings.xml", strings), ("xl/worksheets/sheet1.xml", sheet)):
            with z.open(name, "w", force_zip64=True) as part:
                for p in pieces:
                    part.write(p)


if __name__ == "__main__":
    main()
