#!/usr/bin/env python3
"""Reads pixels of PNG screenshots and pictures for the GUI scenarios.

  png_pixels.py compare SHOT SX SY PICTURE PX PY W H
      compares the W x H area at (SX, SY) of SHOT with the one at (PX, PY)
      of PICTURE; prints the differing pixels' count and the first few
  png_pixels.py pixel FILE X Y            prints "R G B"
  png_pixels.py count FILE X Y W H R G B  pixels of that colour in the area
  png_pixels.py blocks FILE X Y W H S R G B
      blocks of S pixels whose pixel (1, 1) has that colour
  png_pixels.py menu-items FILE X Y W H
      the text lines of an open popup menu in that area, top to bottom:
      "Y enabled" for black text, "Y grey" for greyed text
"""
import struct
import sys
import zlib


def read_png(path):
    data = open(path, 'rb').read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise SystemExit(f'{path}: not a PNG file')
    at, idat, width, height, depth, colour = 8, b'', 0, 0, 0, 0
    while at < len(data):
        length, kind = struct.unpack('>I4s', data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour = struct.unpack('>IIBB', body[:10])
        elif kind == b'IDAT':
            idat += body
        at += 12 + length
    if depth != 8 or colour not in (2, 6):
        raise SystemExit(f'{path}: only 8-bit RGB or RGBA pictures are read')
    bpp = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * bpp
    rows, prev, pos = [], bytearray(stride), 0
    for _ in range(height):
        kind = raw[pos]
        line = bytearray(raw[pos + 1:pos + 1 + stride])
        pos += 1 + stride
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 255
        rows.append(line)
        prev = line
    return width, height, bpp, rows


def pixel(img, x, y):
    _, _, bpp, rows = img
    return tuple(rows[y][x * bpp:x * bpp + 3])


def main(argv):
    cmd = argv[1]
    if cmd == 'compare':
        shot, pic = read_png(argv[2]), read_png(argv[5])
        sx, sy, px, py, w, h = map(int, argv[3:5] + argv[6:10])
        bad = []
        for y in range(h):
            for x in range(w):
                a, b = pixel(shot, sx + x, sy + y), pixel(pic, px + x, py + y)
                if a != b:
                    bad.append((x, y, a, b))
        print(len(bad), ' '.join(f'{x},{y}:{a}!={b}' for x, y, a, b in bad[:5]))
        return 0
    img = read_png(argv[2])
    if cmd == 'pixel':
        print(*pixel(img, int(argv[3]), int(argv[4])))
    elif cmd == 'count':
        x0, y0, w, h, r, g, b = map(int, argv[3:10])
        print(sum(1 for y in range(y0, y0 + h) for x in range(x0, x0 + w)
                  if pixel(img, x, y) == (r, g, b)))
    elif cmd == 'menu-items':
        x0, y0, w, h = map(int, argv[3:7])
        def kind(p):
            if max(p) < 60:
                return 'black'
            if p[0] == p[1] == p[2] and 90 <= p[0] <= 180:
                return 'grey'
            return None
        band, start = None, 0
        for y in range(y0 + 3, y0 + h - 3):
            kinds = [kind(pixel(img, x, y)) for x in range(x0 + 3, x0 + w - 3)]
            marked = [k for k in kinds if k]
            # Separators are lines across the whole menu, not text.
            if marked and len(marked) < 0.6 * len(kinds):
                if band is None:
                    band, start = set(), y
                band.update(marked)
            elif band is not None:
                print((start + y) // 2, 'enabled' if 'black' in band else 'grey')
                band = None
    elif cmd == 'blocks':
        x0, y0, w, h, s, r, g, b = map(int, argv[3:11])
        print(sum(1 for y in range(y0, y0 + h - s + 1, s) for x in range(x0, x0 + w - s + 1, s)
                  if pixel(img, x + 1, y + 1) == (r, g, b)))
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
