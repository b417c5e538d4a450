#!/usr/bin/env python3
"""Writes the seed corpus of fuzz_exif: small JPEG streams and bare TIFF data
built here byte by byte (both byte orders, GPS and Exif directories, maker
notes with each recognised header, thumbnails, and a few broken shapes)."""
import os
import struct
import sys


def tiff(big, make=b"ARDO", note_header=None, gps=True):
    e = ">" if big else "<"
    out = bytearray(b"MM" if big else b"II")
    out += struct.pack(e + "HI", 42, 8)

    def directory(entries, next_offset=0):
        # entries: (tag, type, count, payload bytes); payload > 4 goes out of line
        at = len(out)
        data_at = at + 2 + 12 * len(entries) + 4
        side = bytearray()
        body = bytearray(struct.pack(e + "H", len(entries)))
        for tag, typ, count, payload in entries:
            body += struct.pack(e + "HHI", tag, typ, count)
            if len(payload) <= 4:
                body += payload.ljust(4, b"\0")
            else:
                body += struct.pack(e + "I", data_at + len(side))
                side += payload + (b"\0" if len(payload) % 2 else b"")
        body += struct.pack(e + "I", next_offset)
        out.extend(body + side)
        return at

    def patch(at, index, value):
        struct.pack_into(e + "I", out, at + 2 + 12 * index + 8, value)

    def rationals(*pairs):
        return b"".join(struct.pack(e + "II", n, d) for n, d in pairs)

    ifd0 = directory([(0x010F, 2, len(make) + 1, make + b"\0"), (0x0112, 3, 1, struct.pack(e + "H", 6)),
                      (0x8769, 4, 1, b"\0" * 4), (0x8825, 4, 1, b"\0" * 4)])
    exif_entries = [(0x9003, 2, 20, b"2020:01:02 03:04:05\0"), (0xA001, 3, 1, struct.pack(e + "H", 1)),
                    (0xA005, 4, 1, b"\0" * 4)]
    if note_header is not None:
        exif_entries.append((0x927C, 7, 0, b"\0" * 4))
    exif = directory(exif_entries)
    patch(ifd0, 2, exif)
    interop = directory([(0x0001, 2, 4, b"R98\0")])
    patch(exif, 2, interop)
    if note_header is not None:
        note_at = len(out)
        out.extend(note_header)
        directory([(0x0001, 3, 1, struct.pack(e + "H", 5)), (0xB028, 4, 1, b"\0" * 4)])
        sub = directory([(0x0088, 4, 1, struct.pack(e + "I", 0)), (0x0089, 4, 1, struct.pack(e + "I", 0))])
        struct.pack_into(e + "I", out, note_at + len(note_header) + 2 + 12 + 8, sub)
        struct.pack_into(e + "I", out, exif + 2 + 12 * 3 + 4, len(out) - note_at)
        patch(exif, 3, note_at)
    if gps:
        g = directory([(0, 1, 4, bytes([2, 2, 0, 0])), (1, 2, 2, b"N\0"),
                       (2, 5, 3, rationals((35, 1), (37, 1), (3283, 100))), (3, 2, 2, b"E\0"),
                       (4, 5, 3, rationals((139, 1), (44, 1), (31338, 1000))), (5, 1, 1, b"\0"),
                       (6, 5, 1, rationals((12, 1))), (29, 2, 11, b"2020:01:02\0")])
        patch(ifd0, 3, g)
    thumb = bytes([0xFF, 0xD8, 0xFF, 0xD9])
    ifd1 = directory([(0x0103, 3, 1, struct.pack(e + "H", 6)), (0x0201, 4, 1, b"\0" * 4),
                      (0x0202, 4, 1, struct.pack(e + "I", len(thumb)))])
    patch(ifd1, 1, len(out))
    out.extend(thumb)
    struct.pack_into(e + "I", out, ifd0 + 2 + 12 * 4, ifd1)
    return bytes(out)


def segment(marker, payload):
    return bytes([0xFF, marker]) + struct.pack(">H", len(payload) + 2) + payload


def jpeg(*segments):
    return b"\xFF\xD8" + b"".join(segments) + b"\xFF\xDB\x00\x03\x00\xFF\xD9"


def main(folder):
    os.makedirs(folder, exist_ok=True)
    jfif = segment(0xE0, b"JFIF\0\x01\x01\0\0\x01\0\x01\0\0")
    seeds = {
        "jpeg_ii_gps": jpeg(jfif, segment(0xE1, b"Exif\0\0" + tiff(False))),
        "jpeg_mm_gps": jpeg(segment(0xE1, b"Exif\0\0" + tiff(True))),
        "jpeg_xmp_first": jpeg(segment(0xE1, b"http://ns.adobe.com/xap/1.0/\0<x/>"),
                               segment(0xE1, b"Exif\0\0" + tiff(False, gps=False))),
        "jpeg_dsc_note": jpeg(segment(0xE1, b"Exif\0\0" + tiff(False, note_header=b"ARDO DSC \0\0\0"))),
        "jpeg_short_note": jpeg(segment(0xE1, b"Exif\0\0" + tiff(True, note_header=b"QUAVI\0\x01\0"))),
        "jpeg_pi_note": jpeg(segment(0xE1, b"Exif\0\0" + tiff(False, note_header=b"ARDO PI \0\0\0\0"))),
        "jpeg_no_exif": jpeg(jfif),
        "tiff_other_note": tiff(False, make=b"Other", note_header=b""),
        "tiff_truncated": tiff(True)[:60],
    }
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "corpus", "exif"))
