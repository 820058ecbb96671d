#!/usr/bin/env python3
"""Draws the agent's icon (a sky-blue disc with a white arrow falling into a tray) and
writes it as a Windows .ico with 16, 32 and 48 pixel images. Run it again only to
change the design; the .ico is committed."""
import math, struct, sys

def pixel(size, x, y):
    cx = cy = (size - 1) / 2.0
    r = size * 0.47
    d = math.hypot(x - cx, y - cy)
    if d > r + 0.5:
        return (0, 0, 0, 0)
    alpha = 255 if d <= r - 0.5 else int(255 * (r + 0.5 - d))
    t = y / float(size)
    base = (int(40 + 60 * t), int(120 + 50 * (1 - t)), int(215 + 30 * (1 - t)))
    u = x / float(size); v = y / float(size)
    shaft = abs(u - 0.5) < 0.08 and 0.18 < v < 0.55
    head = v >= 0.50 and v < 0.70 and abs(u - 0.5) < (0.70 - v) * 1.1
    tray = (0.74 < v < 0.82 and 0.25 < u < 0.75) or (0.62 < v < 0.82 and (0.25 < u < 0.32 or 0.68 < u < 0.75))
    if shaft or head or tray:
        return (255, 255, 255, alpha)
    return base + (alpha,)

def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        row = b''
        for x in range(size):
            r, g, b, a = pixel(size, x, y)
            row += bytes((b, g, r, a))
        rows.append(row)
    xor = b''.join(rows)
    mask_row = ((size + 31) // 32) * 4
    andmask = b'\x00' * (mask_row * size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(xor) + len(andmask), 0, 0, 0, 0)
    return header + xor + andmask

def main(path):
    sizes = [16, 32, 48]
    images = [image(s) for s in sizes]
    out = struct.pack('<HHH', 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack('<BBBBHHII', s % 256, s % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b''.join(images)
    open(path, 'wb').write(out)

if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'src/app/res/velmora.ico')
