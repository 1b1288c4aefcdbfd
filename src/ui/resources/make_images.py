#!/usr/bin/env python3
"""Draws the wizard's pictures: side picture 135, header picture 139, icon 128 and the
32-bit TGA pictures 152 (folder) and 154 (Start Menu). Run once; the outputs are kept
beside this script."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def blend(a, b, t):
    return tuple(int(a[i] + (b[i] - a[i]) * t) for i in range(3))


def canvas(w, h, colour):
    return [[colour for _ in range(w)] for _ in range(h)]


def disc(img, cx, cy, r, colour):
    for y in range(max(0, cy - r), min(len(img), cy + r + 1)):
        for x in range(max(0, cx - r), min(len(img[0]), cx + r + 1)):
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                img[y][x] = colour


def box(img, x0, y0, x1, y1, colour):
    for y in range(max(0, y0), min(len(img), y1)):
        for x in range(max(0, x0), min(len(img[0]), x1)):
            img[y][x] = colour


def line(img, x0, y0, x1, y1, colour, width=1):
    steps = max(abs(x1 - x0), abs(y1 - y0), 1)
    for i in range(steps + 1):
        x = x0 + (x1 - x0) * i // steps
        y = y0 + (y1 - y0) * i // steps
        box(img, x - width // 2, y - width // 2, x - width // 2 + width, y - width // 2 + width, colour)


def ports(img, ox, oy, s):
    """The product's motif: a screen linked to two device ports."""
    white = (255, 255, 255)
    light = (170, 215, 235)
    line(img, ox + 10 * s, oy + 7 * s, ox + 3 * s, oy + 17 * s, light, max(1, s))
    line(img, ox + 10 * s, oy + 7 * s, ox + 17 * s, oy + 17 * s, light, max(1, s))
    box(img, ox + 4 * s, oy + 1 * s, ox + 16 * s, oy + 10 * s, white)  # screen
    box(img, ox + 5 * s, oy + 2 * s, ox + 15 * s, oy + 8 * s, (40, 110, 160))
    disc(img, ox + 3 * s, oy + 17 * s, 2 * s, white)
    disc(img, ox + 17 * s, oy + 17 * s, 2 * s, white)


def write_bmp(path, img):
    h, w = len(img), len(img[0])
    stride = (w * 3 + 3) & ~3
    rows = b''
    for y in range(h - 1, -1, -1):
        row = b''.join(bytes((p[2], p[1], p[0])) for p in img[y])
        rows += row + b'\0' * (stride - w * 3)
    header = struct.pack('<2sIHHI', b'BM', 54 + len(rows), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + rows)


def rgba_icon(size):
    """Blue rounded tile with the motif, transparent corners."""
    img = [[(0, 0, 0, 0) for _ in range(size)] for _ in range(size)]
    r = size // 6
    for y in range(size):
        for x in range(size):
            cx = min(max(x, r), size - 1 - r)
            cy = min(max(y, r), size - 1 - r)
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                c = blend((30, 120, 190), (10, 60, 120), y / size)
                img[y][x] = c + (255,)
    rgb = [[p[:3] for p in row] for row in img]
    ports(rgb, 6, 5, 1)
    for y in range(size):
        for x in range(size):
            if img[y][x][3]:
                img[y][x] = rgb[y][x] + (255,)
    return img


def write_ico(path, img):
    size = len(img)
    xor = b''.join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(img) for p in row)
    and_stride = ((size + 31) // 32) * 4
    mask = b'\0' * (and_stride * size)
    dib = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0) + xor + mask
    head = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(dib), 22)
    with open(path, 'wb') as f:
        f.write(head + dib)


def write_tga(path, img):
    size = len(img)
    header = struct.pack('<BBBHHBHHHHBB', 0, 0, 2, 0, 0, 0, 0, 0, size, size, 32, 8)
    pixels = b''.join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(img) for p in row)
    footer = struct.pack('<II', 0, 0) + b'TRUEVISION-XFILE.\0'
    with open(path, 'wb') as f:
        f.write(header + pixels + footer)


def folder_tga():
    size = 32
    img = [[(0, 0, 0, 0) for _ in range(size)] for _ in range(size)]
    back, front, edge = (200, 150, 40), (245, 200, 80), (150, 100, 20)
    for y in range(6, 27):
        for x in range(2, 30):
            if y < 9 and not (3 <= x <= 13):
                continue
            img[y][x] = (edge if x in (2, 29) or y in (6, 26) else back) + (255,)
    for y in range(11, 27):
        for x in range(3, 29):
            img[y][x] = (edge if y in (11, 26) else front) + (255,)
    # soft shadow: half-transparent pixels below
    for x in range(4, 31):
        img[27][x] = (0, 0, 0, 70)
    return img


def menu_tga():
    size = 32
    img = [[(0, 0, 0, 0) for _ in range(size)] for _ in range(size)]
    frame, face = (40, 80, 140), (235, 240, 250)
    for y in range(3, 29):
        for x in range(5, 27):
            img[y][x] = (frame if x in (5, 26) or y in (3, 28) else face) + (255,)
    for i, y in enumerate((8, 14, 20)):
        for x in range(9, 12):
            for yy in range(y, y + 3):
                img[yy][x] = (30, 120, 190, 255)
        for x in range(14, 23 - (i % 2) * 3):
            img[y + 1][x] = (90, 90, 90, 255)
    for x in range(6, 29):
        img[29][x] = (0, 0, 0, 70)
    return img


def main():
    side = canvas(164, 314, (0, 0, 0))
    for y in range(314):
        c = blend((20, 90, 150), (10, 40, 80), y / 313)
        for x in range(164):
            side[y][x] = c
    ports(side, 22, 60, 6)
    write_bmp(os.path.join(HERE, 'side.bmp'), side)

    header = canvas(49, 49, (255, 255, 255))
    box(header, 4, 4, 45, 45, (30, 110, 175))
    ports(header, 5, 6, 2)
    write_bmp(os.path.join(HERE, 'header.bmp'), header)

    write_ico(os.path.join(HERE, 'wizard.ico'), rgba_icon(32))
    write_tga(os.path.join(HERE, 'folder.tga'), folder_tga())
    write_tga(os.path.join(HERE, 'start_menu.tga'), menu_tga())


if __name__ == '__main__':
    main()
