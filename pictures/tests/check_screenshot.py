#!/usr/bin/env python3
"""Checks sticker colours in a screenshot of cube pictures.

usage: check_screenshot.py SHOT.png X,Y,LETTERS [X,Y,LETTERS ...]

Each X,Y,LETTERS names one 100x100 picture drawn with its top-left corner
at pixel (X, Y) and the 27 letters it should show, three faces of nine in
the order of the picture's query. The centre pixel of every sticker must
have the letter's colour. Reads the PNG with the standard library only.
"""
import struct
import sys
import zlib

FILLS = {
    "w": (0xFF, 0xFF, 0xFF),
    "g": (0x00, 0x9B, 0x48),
    "y": (0xFF, 0xD5, 0x00),
    "r": (0xB7, 0x12, 0x34),
    "b": (0x00, 0x46, 0xAD),
    "o": (0xFF, 0x58, 0x00),
    "z": (0x80, 0x80, 0x80),
    "x": (0xFF, 0x00, 0xFF),
}
TOLERANCE = 3  # per channel

# Picture geometry (100 units = 100 pixels at size=100): the top face is the
# rhombus T-R-C-L, the front-left face L-C-down, the front-right C-R-down.
COS30 = 0.86602540378443865
EDGE = 46.0
C = (50.0, 50.0)
T = (50.0, 50.0 - EDGE)
L = (50.0 - EDGE * COS30, 50.0 - EDGE / 2)
R = (50.0 + EDGE * COS30, 50.0 - EDGE / 2)


def third(a, b):
    return ((b[0] - a[0]) / 3, (b[1] - a[1]) / 3)


FACES = [  # origin, step along a row, step to the next row
    (T, third(T, R), third(T, L)),
    (L, third(L, C), (0.0, EDGE / 3)),
    (C, third(C, R), (0.0, EDGE / 3)),
]


def sticker_centre(face, row, col):
    (ox, oy), (cx, cy), (rx, ry) = FACES[face]
    return (ox + (col + 0.5) * cx + (row + 0.5) * rx, oy + (col + 0.5) * cy + (row + 0.5) * ry)


def read_png(path):
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        chunk = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", chunk)
        elif kind == b"IDAT":
            idat += chunk
        elif kind == b"IEND":
            break
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace != 0:
        raise ValueError("unsupported PNG: depth %d colour %d interlace %d" % (depth, colour, interlace))
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev, i = [], bytearray(stride), 0
    for _ in range(height):
        kind = raw[i]
        line = bytearray(raw[i + 1:i + 1 + stride])
        i += 1 + stride
        for x in range(stride):
            a = line[x - channels] if x >= channels else 0
            b = prev[x]
            c = prev[x - channels] if x >= channels else 0
            if kind == 1:
                line[x] = (line[x] + a) & 0xFF
            elif kind == 2:
                line[x] = (line[x] + b) & 0xFF
            elif kind == 3:
                line[x] = (line[x] + (a + b) // 2) & 0xFF
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[x] = (line[x] + pred) & 0xFF
        rows.append(bytes(line))
        prev = line
    return width, height, channels, rows


def main(argv):
    if len(argv) < 3:
        print(__doc__)
        return 2
    width, height, channels, rows = read_png(argv[1])

    def pixel(x, y):
        p = rows[y][x * channels:x * channels + 3]
        return tuple(p)

    bad = checked = 0
    for item in argv[2:]:
        x0, y0, letters = item.split(",")
        x0, y0 = int(x0), int(y0)
        if len(letters) != 27:
            print("bad picture argument %s" % item)
            return 2
        for i, letter in enumerate(letters):
            face, row, col = i // 9, i % 9 // 3, i % 3
            cx, cy = sticker_centre(face, row, col)
            px, py = x0 + int(cx), y0 + int(cy)
            if not (0 <= px < width and 0 <= py < height):
                print("picture at %d,%d: sticker %d outside the screenshot" % (x0, y0, i + 1))
                bad += 1
                continue
            got = pixel(px, py)
            want = FILLS[letter]
            checked += 1
            if any(abs(g - w) > TOLERANCE for g, w in zip(got, want)):
                bad += 1
                print("picture at %d,%d: sticker %d (face %d row %d column %d) at pixel %d,%d "
                      "is #%02x%02x%02x, expected %s #%02x%02x%02x"
                      % ((x0, y0, i + 1, face, row, col, px, py) + got + (letter,) + want))
    print("%d stickers checked, %d wrong" % (checked, bad))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
