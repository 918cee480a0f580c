#!/usr/bin/env python3
"""Writes the text overlay's six glyph tables (src/video/fonts/*.bin) from the
X11 bitmap fonts Debian ships, and the sample picture of the fonts README.

Build-time only: the tables are committed, so building needs no font package.
Needs the packages xfonts-base and pcf2bdf.

Layout of every table: glyphs in code order, each glyph its rows top to
bottom, each row ceil(width / 8) bytes, the most significant bit of a row's
first byte its leftmost pixel, a set bit ink.

  ascii_6x12.bin  ascii_8x16.bin  ascii_12x24.bin   256 glyphs, byte order
  hanzi_12x12.bin hanzi_16x16.bin hanzi_24x24.bin   87 x 94 glyphs, GB2312 order

Usage: make-overlay-fonts.py [--fonts DIR] [--out DIR] [--sample PNG]
"""
import argparse
import gzip
import os
import struct
import subprocess
import sys
import zlib

FONT_DIR = "/usr/share/fonts/X11/misc"
HANZI_ROWS, HANZI_COLUMNS = 87, 94


def read_bdf(path):
    """Glyphs of a .pcf(.gz) font: {encoding: (bbx, rows)} and the font ascent."""
    data = open(path, "rb").read()
    if path.endswith(".gz"):
        data = gzip.decompress(data)
    text = subprocess.run(["pcf2bdf"], input=data, capture_output=True, check=True).stdout.decode("latin-1")
    glyphs, ascent = {}, None
    lines = iter(text.splitlines())
    for line in lines:
        if line.startswith("FONT_ASCENT "):
            ascent = int(line.split()[1])
        elif line.startswith("STARTCHAR"):
            code, bbx = None, None
            for line in lines:
                if line.startswith("ENCODING "):
                    code = int(line.split()[1])
                elif line.startswith("BBX "):
                    bbx = tuple(int(v) for v in line.split()[1:5])
                elif line == "BITMAP":
                    rows = []
                    for line in lines:
                        if line == "ENDCHAR":
                            break
                        rows.append(int(line, 16) << (8 * ((bbx[0] + 7) // 8)) >> (len(line) * 4))
                    break
            if code is not None and code >= 0:
                glyphs[code] = (bbx, rows)
    return glyphs, ascent


def cell(glyph, ascent, width, height):
    """The glyph placed on its baseline in a width x height cell: rows of 0/1 lists."""
    pixels = [[0] * width for _ in range(height)]
    if glyph is None:
        return pixels
    (w, h, xoff, yoff), rows = glyph
    top = ascent - (yoff + h)
    for r, bits in enumerate(rows):
        for c in range(w):
            if bits >> (((w + 7) // 8) * 8 - 1 - c) & 1:
                y, x = top + r, xoff + c
                if 0 <= y < height and 0 <= x < width:
                    pixels[y][x] = 1
    return pixels


def half(pixels):
    """A cell at half the size: a 2 x 2 block is ink when two of its pixels are."""
    return [[int(pixels[2 * y][2 * x] + pixels[2 * y][2 * x + 1] + pixels[2 * y + 1][2 * x] +
                 pixels[2 * y + 1][2 * x + 1] >= 2) for x in range(len(pixels[0]) // 2)]
            for y in range(len(pixels) // 2)]


def pack(pixels):
    out = bytearray()
    for row in pixels:
        for start in range(0, len(row), 8):
            byte = 0
            for i, bit in enumerate(row[start:start + 8]):
                byte |= bit << (7 - i)
            out.append(byte)
    return bytes(out)


def ascii_table(name, width, height, fonts):
    glyphs, ascent = read_bdf(os.path.join(fonts, name))
    return b"".join(pack(cell(glyphs.get(code) if code >= 0x20 else None, ascent, width, height))
                    for code in range(256))


def hanzi_cells(name, size, fonts):
    # The ISAS fonts number their glyphs by the GB2312 code without its high bits.
    glyphs, ascent = read_bdf(os.path.join(fonts, name))
    return [cell(glyphs.get((0x21 + i // HANZI_COLUMNS) << 8 | (0x21 + i % HANZI_COLUMNS)), ascent, size, size)
            for i in range(HANZI_ROWS * HANZI_COLUMNS)]


def write_tables(fonts, out):
    song24 = hanzi_cells("gb24st.pcf.gz", 24, fonts)
    tables = {
        "ascii_6x12.bin": ascii_table("6x12.pcf.gz", 6, 12, fonts),
        "ascii_8x16.bin": ascii_table("8x16.pcf.gz", 8, 16, fonts),
        "ascii_12x24.bin": ascii_table("12x24.pcf.gz", 12, 24, fonts),
        # No freely licensed 12-pixel GB2312 font of a permissive licence: the
        # 24-pixel Song is halved.
        "hanzi_12x12.bin": b"".join(pack(half(c)) for c in song24),
        "hanzi_16x16.bin": b"".join(pack(c) for c in hanzi_cells("gb16st.pcf.gz", 16, fonts)),
        "hanzi_24x24.bin": b"".join(pack(c) for c in song24),
    }
    os.makedirs(out, exist_ok=True)
    for name, data in tables.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)


def write_sample(tables, path):
    """Draws all three sizes, black on grey, the way the overlay does, into a PNG."""
    width, height = 520, 120
    picture = [[200] * width for _ in range(height)]
    sizes = [("ascii_6x12.bin", 6, 12, "hanzi_12x12.bin", 12), ("ascii_8x16.bin", 8, 16, "hanzi_16x16.bin", 16),
             ("ascii_12x24.bin", 12, 24, "hanzi_24x24.bin", 24)]
    text = "Cam 01 2026-12-06 23:05:17 ".encode() + "前门停车场 监控".encode("gb2312")
    y = 8
    for ascii_name, aw, ah, hanzi_name, hw in sizes:
        ascii_font = open(os.path.join(tables, ascii_name), "rb").read()
        hanzi_font = open(os.path.join(tables, hanzi_name), "rb").read()
        x, i = 8, 0
        while i < len(text):
            if text[i] < 0x80:
                glyph, w, h, i = ascii_font[text[i] * ((aw + 7) // 8) * ah:], aw, ah, i + 1
            else:
                index = (text[i] - 0xA1) * HANZI_COLUMNS + text[i + 1] - 0xA1
                glyph, w, h, i = hanzi_font[index * ((hw + 7) // 8) * hw:], hw, hw, i + 2
            if x + w > width:
                break
            for gy in range(h):
                for gx in range(w):
                    if glyph[gy * ((w + 7) // 8) + gx // 8] >> (7 - gx % 8) & 1:
                        picture[y + gy][x + gx] = 0
            x += w
        y += ah + 12
    raw = b"".join(b"\0" + bytes(row) for row in picture)
    chunk = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(
        ">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--fonts", default=FONT_DIR)
    parser.add_argument("--out", default=os.path.join(here, "..", "src", "video", "fonts"))
    parser.add_argument("--sample", help="also write the sample picture here")
    args = parser.parse_args()
    write_tables(args.fonts, args.out)
    if args.sample:
        write_sample(args.out, args.sample)
    return 0


if __name__ == "__main__":
    sys.exit(main())
