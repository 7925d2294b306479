#!/usr/bin/env python3
# Writes small TrueType fonts for the font-atlas fuzz target's seeds: a square
# glyph for 'A', a triangle for 'B' and a composite of both for 'C', with a
# format-4 character map and a kerning pair, every table laid out by hand.
import struct
import sys
from pathlib import Path


def table_checksum(data):
    data += b"\0" * (-len(data) % 4)
    return sum(struct.unpack(">%dI" % (len(data) // 4), data)) & 0xFFFFFFFF


def simple_glyph(points):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    out = struct.pack(">hhhhh", 1, min(xs), min(ys), max(xs), max(ys))
    out += struct.pack(">H", len(points) - 1) + struct.pack(">H", 0)
    out += bytes([0x01] * len(points))  # on-curve, two-byte deltas
    x = y = 0
    for px, _ in points:
        out += struct.pack(">h", px - x)
        x = px
    for _, py in points:
        out += struct.pack(">h", py - y)
        y = py
    return out


def composite_glyph():
    out = struct.pack(">hhhhh", -1, 0, 0, 1800, 1400)
    out += struct.pack(">HHhh", 0x0001 | 0x0002 | 0x0020, 1, 0, 0)  # words, xy, more
    out += struct.pack(">HHhh", 0x0001 | 0x0002, 2, 900, 0)
    return out


def build(with_kerning):
    glyphs = [b"", simple_glyph([(100, 0), (800, 0), (800, 1400), (100, 1400)]),
              simple_glyph([(0, 0), (900, 0), (450, 1200)]), composite_glyph()]
    glyf = b""
    loca = []
    for g in glyphs:
        loca.append(len(glyf))
        glyf += g + b"\0" * (-len(g) % 4)
    loca.append(len(glyf))
    tables = {}
    tables[b"glyf"] = glyf
    tables[b"loca"] = struct.pack(">%dI" % len(loca), *loca)
    tables[b"head"] = struct.pack(">IIIIHHqqhhhhHHhhh", 0x10000, 0, 0, 0x5F0F3CF5, 0, 2048, 0, 0,
                                  0, -500, 1800, 1600, 0, 8, 2, 1, 0)
    tables[b"hhea"] = struct.pack(">IhhhHhhhhhhhhhhhH", 0x10000, 1600, -400, 100, 1000, 0, 0, 1800,
                                  1, 0, 0, 0, 0, 0, 0, 0, len(glyphs))
    tables[b"maxp"] = struct.pack(">IH", 0x5000, len(glyphs))
    tables[b"hmtx"] = b"".join(struct.pack(">Hh", 1000, 0) for _ in glyphs)
    # Format 4: 'A'..'C' map to glyphs 1..3, then the closing segment.
    seg = struct.pack(">HHHHHHH", 4, 16 + 2 * 8, 0, 4, 4, 1, 0)
    seg += struct.pack(">HH", 0x43, 0xFFFF) + struct.pack(">H", 0)
    seg += struct.pack(">HH", 0x41, 0xFFFF) + struct.pack(">hh", 1 - 0x41, 1)
    seg += struct.pack(">HH", 0, 0)
    tables[b"cmap"] = struct.pack(">HHHHI", 0, 1, 3, 1, 12) + seg
    if with_kerning:
        tables[b"kern"] = struct.pack(">HHHHHHHHHHHh", 0, 1, 0, 20, 1, 1, 6, 0, 0, 1, 2, -120)
    tags = sorted(tables)
    out = struct.pack(">IHHHH", 0x10000, len(tags), 32, 2, 0)
    offset = 12 + 16 * len(tags)
    body = b""
    for tag in tags:
        data = tables[tag]
        out += tag + struct.pack(">III", table_checksum(data), offset + len(body), len(data))
        body += data + b"\0" * (-len(data) % 4)
    return out + body


folder = Path(sys.argv[1])
(folder / "three-glyphs.ttf").write_bytes(build(False))
(folder / "three-glyphs-kerned.ttf").write_bytes(build(True))
