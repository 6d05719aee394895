#!/usr/bin/env python3
"""Draws the Vulmo NetInstaller window icon and writes it as a .ico file.

The icon is a blue rounded tile with a white "V" chevron over a short bar:
the product's initial pointing down into a tray, i.e. "download Vulmo".
Every image is rendered at its own size from signed distance fields, so
small sizes stay crisp instead of being scaled down from a large one.

Images (the window icon group of the program):
  48, 32, 24, 16 px at 4 and 8 bits per pixel (palette + AND mask),
  256, 128, 48, 32, 24, 16 px at 32 bits per pixel (256 and 128 as PNG, which
  keeps the program small; the rest as BMP with alpha and AND mask).

Python 3 standard library only.
  scripts/make_icon.py [OUTPUT.ico]   (default: the resources folder)
"""
import math
import os
import struct
import sys
import zlib

TOP_COLOR = (0x3A, 0x8D, 0xF0)
BOTTOM_COLOR = (0x16, 0x4B, 0xC4)
GLYPH_COLOR = (0xFF, 0xFF, 0xFF)


def clamp01(v):
    return 0.0 if v < 0.0 else 1.0 if v > 1.0 else v


def round_box_distance(px, py, half, radius):
    """Distance to a rounded square centred on the origin (negative inside)."""
    qx = abs(px) - half + radius
    qy = abs(py) - half + radius
    outside = math.hypot(max(qx, 0.0), max(qy, 0.0))
    return outside + min(max(qx, qy), 0.0) - radius


def segment_distance(px, py, ax, ay, bx, by):
    """Distance to the segment a-b."""
    dx, dy = bx - ax, by - ay
    t = clamp01(((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def render(size):
    """Returns size*size (r, g, b, a) tuples, rows from the top."""
    pixels = []
    # Small images get a relatively thicker stroke and a wider gap between
    # chevron and bar so that they stay legible.
    if size >= 32:
        stroke, top, tip, bar = 0.085, 0.25, 0.60, 0.77
    else:
        stroke, top, tip, bar = 0.095, 0.21, 0.54, 0.80
    margin = 0.5 / size if size <= 24 else 1.0 / size
    half = 0.5 - margin
    for y in range(size):
        for x in range(size):
            # Pixel centre in unit coordinates, y down.
            u = (x + 0.5) / size
            v = (y + 0.5) / size
            d_tile = round_box_distance(u - 0.5, v - 0.5, half, 0.2) * size
            tile = clamp01(0.5 - d_tile)
            d_glyph = min(
                segment_distance(u, v, 0.27, top, 0.5, tip),
                segment_distance(u, v, 0.73, top, 0.5, tip),
            ) - stroke
            d_bar = segment_distance(u, v, 0.32, bar, 0.68, bar) - stroke * 0.8
            glyph = clamp01(0.5 - min(d_glyph, d_bar) * size)
            t = v
            bg = tuple(TOP_COLOR[i] + (BOTTOM_COLOR[i] - TOP_COLOR[i]) * t for i in range(3))
            color = tuple(bg[i] + (GLYPH_COLOR[i] - bg[i]) * glyph for i in range(3))
            pixels.append((int(round(color[0])), int(round(color[1])),
                           int(round(color[2])), int(round(tile * 255))))
    return pixels


def median_cut(colors, count):
    """A palette of at most |count| colours for the given (r, g, b) list."""
    boxes = [list(colors)]
    while len(boxes) < count:
        # Split the box with the widest channel range.
        best, best_range, best_channel = None, -1, 0
        for i, box in enumerate(boxes):
            if len(box) < 2:
                continue
            for c in range(3):
                lo = min(p[c] for p in box)
                hi = max(p[c] for p in box)
                if hi - lo > best_range:
                    best, best_range, best_channel = i, hi - lo, c
        if best is None or best_range <= 0:
            break
        box = sorted(boxes.pop(best), key=lambda p: p[best_channel])
        mid = len(box) // 2
        boxes += [box[:mid], box[mid:]]
    palette = []
    for box in boxes:
        n = len(box)
        palette.append(tuple(int(round(sum(p[c] for p in box) / n)) for c in range(3)))
    return palette


def nearest(palette, color):
    best, best_d = 0, None
    for i, p in enumerate(palette):
        d = sum((p[c] - color[c]) ** 2 for c in range(3))
        if best_d is None or d < best_d:
            best, best_d = i, d
    return best


def and_mask(size, pixels):
    """1 bit per pixel, set where transparent; rows bottom-up, 4-byte aligned."""
    row_bytes = ((size + 31) // 32) * 4
    out = bytearray()
    for y in reversed(range(size)):
        row = bytearray(row_bytes)
        for x in range(size):
            if pixels[y * size + x][3] < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def bitmap_header(size, bits, image_bytes, colors_used):
    return struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, bits, 0,
                       image_bytes, 0, 0, colors_used, 0)


def bmp_palettized(size, pixels, bits):
    count = 1 << bits
    opaque = [p[:3] for p in pixels if p[3] >= 128]
    # Index 0 stays black for the transparent pixels (XOR value 0).
    palette = [(0, 0, 0)] + median_cut(opaque, count - 1)
    palette += [(0, 0, 0)] * (count - len(palette))
    cache = {}
    indices = []
    for p in pixels:
        if p[3] < 128:
            indices.append(0)
            continue
        key = p[:3]
        if key not in cache:
            cache[key] = 1 + nearest(palette[1:], key)
        indices.append(cache[key])
    row_bytes = ((size * bits + 31) // 32) * 4
    xor = bytearray()
    for y in reversed(range(size)):
        row = bytearray(row_bytes)
        for x in range(size):
            index = indices[y * size + x]
            if bits == 8:
                row[x] = index
            else:
                row[x // 2] |= index << (4 if x % 2 == 0 else 0)
        xor += row
    mask = and_mask(size, pixels)
    table = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in palette)
    return bitmap_header(size, bits, len(xor) + len(mask), count) + table + bytes(xor) + mask


def bmp_32(size, pixels):
    xor = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = pixels[y * size + x]
            xor += bytes((b, g, r, a))
    mask = and_mask(size, pixels)
    return bitmap_header(size, 32, len(xor) + len(mask), 0) + bytes(xor) + mask


def png(size, pixels):
    def chunk(kind, data):
        return (struct.pack('>I', len(data)) + kind + data +
                struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF))
    raw = bytearray()
    for y in range(size):
        raw.append(0)  # Filter: none.
        for x in range(size):
            raw += bytes(pixels[y * size + x])
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
            chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


IMAGES = [(48, 4), (32, 4), (24, 4), (16, 4),
          (48, 8), (32, 8), (24, 8), (16, 8),
          (256, 32), (128, 32), (48, 32), (32, 32), (24, 32), (16, 32)]


def build_ico():
    rendered = {}
    images = []
    for size, bits in IMAGES:
        if size not in rendered:
            rendered[size] = render(size)
        pixels = rendered[size]
        if bits == 32:
            data = png(size, pixels) if size >= 128 else bmp_32(size, pixels)
        else:
            data = bmp_palettized(size, pixels, bits)
        images.append((size, bits, data))
    out = bytearray(struct.pack('<HHH', 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for size, bits, data in images:
        dim = 0 if size == 256 else size
        colors = 16 if bits == 4 else 0
        out += struct.pack('<BBBBHHII', dim, dim, colors, 0, 1, bits, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return bytes(out)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    default = os.path.join(here, '..', 'desktop', 'launcher', 'installer',
                           'net_installer', 'resources', 'net_installer.ico')
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.normpath(default)
    data = build_ico()
    with open(target, 'wb') as f:
        f.write(data)
    print('%s: %d images, %d bytes' % (target, len(IMAGES), len(data)))


if __name__ == '__main__':
    main()
