#!/usr/bin/env python3
"""Converts 24-bit BMP files (as the Windows screenshots are saved) to PNG beside them.

Usage: bmp-to-png.py FILE.bmp...
"""
import struct
import sys
import zlib


def convert(path):
    with open(path, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24:
        sys.exit(f"{path}: {bits}-bit, not 24-bit")
    stride = (width * 3 + 3) // 4 * 4
    rows = []
    # Bottom-up BGR rows become top-down RGB rows.
    for y in range(abs(height)):
        source = height - 1 - y if height > 0 else y
        row = data[offset + source * stride: offset + source * stride + width * 3]
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0)
    png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
           + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
    with open(path[:-4] + ".png", "wb") as f:
        f.write(png)


for name in sys.argv[1:]:
    convert(name)
