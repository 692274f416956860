#!/usr/bin/env python3
"""Draws the application icon (32 x 32, 24-bit) as res/tervix.png and res/tervix.ico.

A chip seen from above, with its pins and one lit status lamp. Run from the repository root.
"""
import struct
import zlib

SIZE = 32
BACKGROUND = (0, 64, 128)
BODY = (40, 40, 40)
PIN = (200, 200, 200)
LAMP = (220, 255, 0)
OUTLINE = (0, 0, 0)


def pixel(x, y):
    if 9 <= x <= 22 and 4 <= y <= 27:
        if (x - 16) ** 2 + (y - 20) ** 2 <= 9:
            return OUTLINE if (x - 16) ** 2 + (y - 20) ** 2 >= 6 else LAMP
        return BODY
    if (5 <= x <= 8 or 23 <= x <= 26) and 5 <= y <= 26 and (y - 5) % 4 < 2:
        return PIN
    return BACKGROUND


rows = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]


def png():
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data
                + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 2, 0, 0, 0)  # 8-bit RGB
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico():
    # A bitmap icon: BGR rows bottom-up, then an all-opaque AND mask (4 bytes per row).
    xor = b"".join(bytes(c for p in row for c in reversed(p)) for row in reversed(rows))
    mask = b"\0" * (4 * SIZE)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 24, 0, len(xor) + len(mask),
                       0, 0, 0, 0)
    image = info + xor + mask
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    return struct.pack("<HHH", 0, 1, 1) + entry + image


with open("res/tervix.png", "wb") as f:
    f.write(png())
with open("res/tervix.ico", "wb") as f:
    f.write(ico())
