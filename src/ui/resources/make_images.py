#!/usr/bin/env python3
"""Draws the wizard's pictures: side picture 135, header picture 139, icon 128 and the
32-bit TGA pictures 152 (folder) and 154 (Start Menu). Run once; the outputs are kept
beside this script.

The side picture has the size of its place at 96 pixels per inch (164 x 281: the band
left of the texts, down to the line at 172 dialog units); the wizard scales it to the
place at other settings. The header picture (32 bits with alpha) is drawn at the size of
its place at 144 pixels per inch and scaled down at 96. The icon carries 16, 32 and 48
pixel images, each drawn four times larger and averaged down."""
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


def rgba_tile(size, shadow=False):
    """Blue rounded tile with the motif, transparent corners; a soft shadow below on request."""
    img = [[(0, 0, 0, 0) for _ in range(size)] for _ in range(size)]
    edge = size // 16 if shadow else 0
    inner = size - 2 * edge
    r = inner // 6
    if shadow:
        for y in range(size):
            for x in range(size):
                cx = min(max(x, edge + r), edge + inner - 1 - r)
                cy = min(max(y, edge + r + edge // 2), edge + inner - 1 - r + edge // 2)
                d = ((x - cx) ** 2 + (y - cy) ** 2) ** 0.5 - r
                if d < edge:
                    img[y][x] = (0, 0, 0, int(90 * (1 - max(d, 0) / edge)))
    for y in range(edge, edge + inner):
        for x in range(edge, edge + inner):
            cx = min(max(x, edge + r), edge + inner - 1 - r)
            cy = min(max(y, edge + r), edge + inner - 1 - r)
            if (x - cx) ** 2 + (y - cy) ** 2 <= r * r:
                c = blend((30, 120, 190), (10, 60, 120), (y - edge) / inner)
                img[y][x] = c + (255,)
    rgb = [[p[:3] for p in row] for row in img]
    s = inner // 24
    ports(rgb, edge + (inner - 20 * s) // 2, edge + (inner - 19 * s) // 2, s)
    for y in range(size):
        for x in range(size):
            if img[y][x][3] == 255:
                img[y][x] = rgb[y][x] + (255,)
    return img


def shrink(img, factor):
    """Averages factor x factor blocks of an RGBA picture, weighting colours by alpha."""
    size = len(img) // factor
    out = []
    for y in range(size):
        row = []
        for x in range(size):
            acc = [0, 0, 0, 0]
            for yy in range(y * factor, (y + 1) * factor):
                for xx in range(x * factor, (x + 1) * factor):
                    p = img[yy][xx]
                    for c in range(3):
                        acc[c] += p[c] * p[3]
                    acc[3] += p[3]
            n = factor * factor
            a = acc[3]
            row.append(tuple(int(acc[c] / a + 0.5) if a else 0 for c in range(3)) + (int(a / n + 0.5),))
        out.append(row)
    return out


def write_bmp32(path, img):
    """A 32-bit bottom-up bitmap whose fourth byte is the alpha."""
    h, w = len(img), len(img[0])
    rows = b''.join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(img) for p in row)
    header = struct.pack('<2sIHHI', b'BM', 54 + len(rows), 0, 0, 54)
    info = struct.pack('<IiiHHIIiiII', 40, w, h, 1, 32, 0, len(rows), 2835, 2835, 0, 0)
    with open(path, 'wb') as f:
        f.write(header + info + rows)


def write_ico(path, images):
    entries, dibs = b'', b''
    offset = 6 + 16 * len(images)
    for img in images:
        size = len(img)
        xor = b''.join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(img) for p in row)
        and_stride = ((size + 31) // 32) * 4
        # The mask marks the transparent pixels, for whoever draws without alpha.
        mask = b''
        for row in reversed(img):
            line = bytearray(and_stride)
            for x, p in enumerate(row):
                if p[3] < 128:
                    line[x // 8] |= 0x80 >> (x % 8)
            mask += bytes(line)
        dib = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0) + xor + mask
        entries += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(dib), offset)
        offset += len(dib)
        dibs += dib
    with open(path, 'wb') as f:
        f.write(struct.pack('<HHH', 0, 1, len(images)) + entries + dibs)


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
    side = canvas(164, 281, (0, 0, 0))
    for y in range(281):
        c = blend((20, 90, 150), (10, 40, 80), y / 280)
        for x in range(164):
            side[y][x] = c
    ports(side, 22, 50, 6)
    write_bmp(os.path.join(HERE, 'side.bmp'), side)

    write_bmp32(os.path.join(HERE, 'header.bmp'), shrink(rgba_tile(288, shadow=True), 4))

    write_ico(os.path.join(HERE, 'wizard.ico'), [shrink(rgba_tile(size * 4), 4) for size in (16, 32, 48)])
    write_tga(os.path.join(HERE, 'folder.tga'), folder_tga())
    write_tga(os.path.join(HERE, 'start_menu.tga'), menu_tga())


if __name__ == '__main__':
    main()
