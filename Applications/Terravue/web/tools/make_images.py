#!/usr/bin/env python3
"""Draws the page's pins (pin_std1.png, pin_std2.png) and the GPS badge (GPS.gif).

Run once from this folder; the results are committed next to the page files. Uses only the
standard library: the PNG is written with zlib, the GIF with its own LZW encoder.
"""
import math
import struct
import zlib
from pathlib import Path

OUT = Path(__file__).resolve().parent.parent
PIN_W, PIN_H = 22, 34
SUPERSAMPLE = 4


def pin_coverage(x, y):
    """1 inside the pin outline (a circle over a tapering tail), 0 outside; also the inner dot."""
    cx, cy, r = 11.0, 11.0, 9.5
    d = math.hypot(x - cx, y - cy)
    inside = d <= r
    if not inside and y > cy:
        # The tail: tangent lines from the tip (11, 33) to the circle.
        tip_y = 33.0
        t = (y - cy) / (tip_y - cy)
        half = r * (1.0 - t) * 0.92
        inside = abs(x - cx) <= half and y <= tip_y
    dot = math.hypot(x - cx, y - cy) <= 3.6
    edge = inside and not (math.hypot(x - cx, y - cy) <= r - 1.4 or (y > cy and abs(x - cx) <= r * (1.0 - (y - cy) / (33.0 - cy)) * 0.92 - 1.4))
    return inside, dot, edge


def draw_pin(fill, border):
    rows = []
    for py in range(PIN_H):
        row = bytearray([0])
        for px in range(PIN_W):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SUPERSAMPLE):
                for sx in range(SUPERSAMPLE):
                    x = px + (sx + 0.5) / SUPERSAMPLE
                    y = py + (sy + 0.5) / SUPERSAMPLE
                    inside, dot, edge = pin_coverage(x, y)
                    if not inside:
                        continue
                    colour = (255, 255, 255) if dot else border if edge else fill
                    acc[0] += colour[0]
                    acc[1] += colour[1]
                    acc[2] += colour[2]
                    acc[3] += 1
            n = SUPERSAMPLE * SUPERSAMPLE
            if acc[3] == 0:
                row += bytes([0, 0, 0, 0])
            else:
                row += bytes([round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]),
                              round(255 * acc[3] / n)])
        rows.append(bytes(row))
    return b"".join(rows)


def write_png(path, width, height, rgba_rows):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rgba_rows, 9))
    png += chunk(b"IEND", b"")
    path.write_bytes(png)


# A 3x5 font for the badge.
GLYPHS = {
    "G": ["011", "100", "101", "101", "011"],
    "P": ["110", "101", "110", "100", "100"],
    "S": ["011", "100", "010", "001", "110"],
}


def badge_pixels():
    width, height = 19, 11
    pixels = [[0] * width for _ in range(height)]  # 0 transparent, 1 green, 2 white, 3 dark edge
    for y in range(height):
        for x in range(width):
            corner = (x in (0, width - 1)) and (y in (0, height - 1))
            if corner:
                continue
            edge = x in (0, width - 1) or y in (0, height - 1)
            pixels[y][x] = 3 if edge else 1
    x0 = 3
    for letter in "GPS":
        glyph = GLYPHS[letter]
        for gy, line in enumerate(glyph):
            for gx, bit in enumerate(line):
                if bit == "1":
                    pixels[3 + gy][x0 + gx] = 2
        x0 += 5
    return width, height, pixels


def lzw_encode(indices, min_code_size):
    clear = 1 << min_code_size
    end = clear + 1
    table = {bytes([i]): i for i in range(clear)}
    next_code = end + 1
    code_size = min_code_size + 1
    out, bit_buffer, bit_count = bytearray(), 0, 0

    def emit(code):
        nonlocal bit_buffer, bit_count
        bit_buffer |= code << bit_count
        bit_count += code_size
        while bit_count >= 8:
            out.append(bit_buffer & 0xFF)
            bit_buffer >>= 8
            bit_count -= 8

    emit(clear)
    current = b""
    for value in indices:
        candidate = current + bytes([value])
        if candidate in table:
            current = candidate
            continue
        emit(table[current])
        if next_code < 4096:
            table[candidate] = next_code
            next_code += 1
            if next_code > (1 << code_size) and code_size < 12:
                code_size += 1
        else:
            emit(clear)
            table = {bytes([i]): i for i in range(clear)}
            next_code = end + 1
            code_size = min_code_size + 1
        current = bytes([value])
    if current:
        emit(table[current])
    emit(end)
    if bit_count:
        out.append(bit_buffer & 0xFF)
    return bytes(out)


def write_gif(path):
    width, height, pixels = badge_pixels()
    palette = [(255, 255, 255), (46, 140, 74), (255, 255, 255), (24, 90, 46)]
    data = b"GIF89a" + struct.pack("<HHBBB", width, height, 0x80 | 0x01, 0, 0)
    for colour in palette:
        data += bytes(colour)
    # Colour 0 is transparent.
    data += b"\x21\xf9\x04\x01\x00\x00\x00\x00"
    data += b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0)
    min_code_size = 2
    encoded = lzw_encode([v for row in pixels for v in row], min_code_size)
    data += bytes([min_code_size])
    for i in range(0, len(encoded), 255):
        block = encoded[i:i + 255]
        data += bytes([len(block)]) + block
    data += b"\x00\x3b"
    path.write_bytes(data)


if __name__ == "__main__":
    write_png(OUT / "pin_std1.png", PIN_W, PIN_H, draw_pin((214, 59, 47), (120, 24, 18)))
    write_png(OUT / "pin_std2.png", PIN_W, PIN_H, draw_pin((245, 166, 35), (150, 90, 0)))
    write_gif(OUT / "GPS.gif")
