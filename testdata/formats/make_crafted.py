#!/usr/bin/env python3
"""Writes the crafted photo files of testdata/formats/crafted/ and their readings.

Each file is built here, byte by byte, from the public descriptions of its
container: TIFF and the TIFF-based raw layouts (magic 42, 0x55, 0x4F52, 0x5352,
the CR2 header), an ISOBMFF file with a camera maker's metadata box (CMT1 for
IFD0, CMT2 for the Exif directory, CMT4 for the GPS directory), a raw header
around an embedded JPEG, HEIF item structures (iinf/iloc/iref, the Exif item's
offset prefix, an item in idat), PNG eXIf and iTXt chunks and WebP RIFF chunks.
The 8x8 JPEG inside the RAF and CR3 files is testdata/camera/exiftool-Writer.jpg
with its own APP segments replaced; the large preview of cr3-prvw.cr3 (the
PRVW box in its own top-level uuid box) is testdata/camera/exifpy-DSCN0010.jpg
without its APP segments.

With --oracle, exiftool reads every file and crafted/oracle.jsonl is rewritten
from what it reads, so that the tests compare with an independent reader.

    python3 testdata/formats/make_crafted.py [--oracle]
"""

import json
import os
import struct
import subprocess
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "crafted")
JPEG_BASE = os.path.join(HERE, "..", "camera", "exiftool-Writer.jpg")

BYTE, ASCII, SHORT, LONG, RATIONAL, UNDEFINED, SRATIONAL = 1, 2, 3, 4, 5, 7, 10


class Tiff:
    """A TIFF structure: header, IFD0 (with Exif and GPS pointers), Exif, GPS, IFD1."""

    def __init__(self, big=False, magic=42, header=None):
        self.big = big
        self.o = ">" if big else "<"
        self.magic = magic
        self.header = header  # bytes replacing the 8-byte header (CR2), IFD0 offset filled in

    def pack(self, fmt, *v):
        return struct.pack(self.o + fmt, *v)

    def value(self, typ, vals):
        if typ == ASCII:
            data = vals.encode("latin-1") + b"\0"
            return len(data), data
        if typ in (BYTE, UNDEFINED):
            data = bytes(vals)
            return len(data), data
        if typ == SHORT:
            return len(vals), b"".join(self.pack("H", v) for v in vals)
        if typ == LONG:
            return len(vals), b"".join(self.pack("I", v) for v in vals)
        if typ in (RATIONAL, SRATIONAL):
            f = "ii" if typ == SRATIONAL else "II"
            return len(vals), b"".join(self.pack(f, n, d) for n, d in vals)
        raise ValueError(typ)

    def directory(self, at, entries, next_offset=0):
        """Lays out one directory at `at`; entries are (tag, type, values) or
        (tag, 'ifd', bytes-builder) where the builder takes an offset."""
        entries = sorted(entries, key=lambda e: e[0])
        table = self.pack("H", len(entries))
        side = b""
        data_at = at + 2 + 12 * len(entries) + 4
        for tag, typ, vals in entries:
            count, data = self.value(typ, vals)
            if len(data) <= 4:
                field = data.ljust(4, b"\0")
            else:
                field = self.pack("I", data_at + len(side))
                side += data
                if len(side) % 2:
                    side += b"\0"
            table += self.pack("HHI", tag, typ, count) + field
        table += self.pack("I", next_offset)
        return table + side

    def build(self, ifd0, exif=None, gps=None, ifd1=None, tail=b""):
        """The whole structure. Pointers 0x8769/0x8825 are added to IFD0; `tail`
        (pixels, previews) follows the directories and can be pointed at with
        the offset the tag values get from `tail_offset`."""
        head_len = len(self.header) if self.header else 8
        # Directories after the header in the order IFD0, Exif, GPS, IFD1;
        # sizes first with placeholder pointers, then for real.
        def layout(exif_at, gps_at, ifd1_at, tail_at):
            entries0 = [resolve(e, tail_at) for e in ifd0]
            if exif is not None:
                entries0.append((0x8769, LONG, [exif_at]))
            if gps is not None:
                entries0.append((0x8825, LONG, [gps_at]))
            blob = self.directory(head_len, entries0, ifd1_at if ifd1 is not None else 0)
            at = head_len + len(blob)
            parts = [blob]
            where = {}
            for name, entries in (("exif", exif), ("gps", gps), ("ifd1", ifd1)):
                if entries is None:
                    continue
                if at % 2:
                    parts.append(b"\0")
                    at += 1
                where[name] = at
                d = self.directory(at, [resolve(e, tail_at) for e in entries])
                parts.append(d)
                at += len(d)
            if at % 2:
                parts.append(b"\0")
                at += 1
            where["tail"] = at
            return b"".join(parts), where

        def resolve(e, tail_at):
            tag, typ, vals = e
            if typ == LONG and isinstance(vals, tuple) and vals[0] == "tail":
                return (tag, LONG, [tail_at + vals[1]])
            return e

        _, where = layout(0, 0, 0, 0)
        body, where2 = layout(where.get("exif", 0), where.get("gps", 0), where.get("ifd1", 0), where["tail"])
        assert where == where2
        if self.header:
            head = self.header[:4] + self.pack("I", head_len) + self.header[8:]
        else:
            head = (b"MM" if self.big else b"II") + self.pack("HI", self.magic, head_len)
        return head + body + tail


def dms(value):
    value = abs(value)
    d = int(value)
    m = int((value - d) * 60)
    s = round(((value - d) * 60 - m) * 60 * 100)
    return [(d, 1), (m, 1), (s, 100)]


def gps_entries(lat, lng, alt=None):
    e = [
        (0x0000, BYTE, [2, 3, 0, 0]),
        (0x0001, ASCII, "N" if lat >= 0 else "S"),
        (0x0002, RATIONAL, dms(lat)),
        (0x0003, ASCII, "E" if lng >= 0 else "W"),
        (0x0004, RATIONAL, dms(lng)),
    ]
    if alt is not None:
        e.append((0x0005, BYTE, [0 if alt >= 0 else 1]))
        e.append((0x0006, RATIONAL, [(round(abs(alt) * 10), 10)]))
    return e


def exif_entries(when, zone=None):
    e = [(0x9000, UNDEFINED, b"0232"), (0x9003, ASCII, when), (0x9004, ASCII, when)]
    if zone is not None:
        e.append((0x9011, ASCII, zone))
    return e


def strip_image(width, height):
    """IFD0 entries of an 8-bit grey strip image whose pixels are the tail."""
    return [
        (0x0100, SHORT, [width]),
        (0x0101, SHORT, [height]),
        (0x0102, SHORT, [8]),
        (0x0103, SHORT, [1]),
        (0x0106, SHORT, [1]),
        (0x0111, LONG, ("tail", 0)),
        (0x0115, SHORT, [1]),
        (0x0116, SHORT, [height]),
        (0x0117, LONG, [width * height]),
    ]


def pixels(width, height):
    return bytes((x * 16 + y * 8) & 0xFF for y in range(height) for x in range(width))


def exif_block(lat, lng, alt, when, zone, orientation, big=False, make="Crafted"):
    """A bare TIFF structure as an Exif block carries it."""
    t = Tiff(big=big)
    ifd0 = [(0x010F, ASCII, make), (0x0110, ASCII, "Format Test"), (0x0112, SHORT, [orientation])]
    return t.build(ifd0, exif_entries(when, zone), gps_entries(lat, lng, alt) if lat is not None else None)


def jpeg_with_exif(block):
    """The 8x8 base JPEG with its APPn segments replaced by one Exif APP1."""
    with open(JPEG_BASE, "rb") as f:
        src = f.read()
    assert src[:2] == b"\xff\xd8"
    at = 2
    while src[at] == 0xFF and 0xE0 <= src[at + 1] <= 0xEF:
        at += 2 + struct.unpack(">H", src[at + 2 : at + 4])[0]
    payload = b"Exif\0\0" + block
    return b"\xff\xd8" + b"\xff\xe1" + struct.pack(">H", len(payload) + 2) + payload + src[at:]


# ---- TIFF family --------------------------------------------------------------------------------


def tiff_file(big, magic, lat, lng, alt, when, zone, orientation, make, extra0=(), header=None):
    t = Tiff(big=big, magic=magic, header=header)
    ifd0 = strip_image(8, 8) + [(0x010F, ASCII, make), (0x0110, ASCII, "Format Test"), (0x0112, SHORT, [orientation])]
    ifd0 += list(extra0)
    gps = gps_entries(lat, lng, alt) if lat is not None else None
    return t.build(ifd0, exif_entries(when, zone), gps, tail=pixels(8, 8))


def cr2_header():
    # "II", 42, IFD0 offset, "CR", version 2.0, offset of the raw IFD (none here).
    return b"II*\0" + b"\0\0\0\0" + b"CR\x02\x00" + struct.pack("<I", 0)


# ---- ISOBMFF ------------------------------------------------------------------------------------


def box(kind, payload):
    return struct.pack(">I", 8 + len(payload)) + kind + payload


def full_box(kind, version, flags, payload):
    return box(kind, struct.pack(">I", (version << 24) | flags) + payload)


CANON_UUID = bytes.fromhex("85c0b687820f11e08111f4ce462b6a48")


PREVIEW_BASE = os.path.join(HERE, "..", "camera", "exifpy-DSCN0010.jpg")
PREVIEW_UUID = bytes.fromhex("eaf42b5e1c984b88b9fbb7dc406e4d16")


def jpeg_without_app(path):
    """The JPEG at `path` with its APPn segments removed."""
    with open(path, "rb") as f:
        src = f.read()
    assert src[:2] == b"\xff\xd8"
    at = 2
    while src[at] == 0xFF and 0xE0 <= src[at + 1] <= 0xEF:
        at += 2 + struct.unpack(">H", src[at + 2 : at + 4])[0]
    return b"\xff\xd8" + src[at:]


def cr3_file(lat, lng, alt, when, zone, orientation, preview=None):
    ifd0 = Tiff().build([(0x010F, ASCII, "Canon"), (0x0110, ASCII, "Format Test"), (0x0112, SHORT, [orientation])])
    exif = Tiff().build(exif_entries(when, zone))
    gps = Tiff().build(gps_entries(lat, lng, alt))
    meta = box(b"CNCV", b"CanonCR3_001/00.09.00/00.00.00")
    meta += box(b"CMT1", ifd0) + box(b"CMT2", exif) + box(b"CMT4", gps)
    # The THMB box holds a small JPEG (version 0: width, height, size, flags).
    jpeg = jpeg_with_exif(Tiff().build([(0x0112, SHORT, [1])]))
    meta += box(b"THMB", struct.pack(">IHHIHH", 0, 8, 8, len(jpeg), 0, 0) + jpeg)
    moov = box(b"moov", box(b"uuid", CANON_UUID + meta))
    ftyp = box(b"ftyp", b"crx " + struct.pack(">I", 1) + b"crx isom")
    # The large preview: a top-level uuid box with 8 bytes, then the PRVW box
    # (4 bytes, 2 bytes, width, height, 2 bytes, the JPEG's length, the JPEG).
    prvw = b""
    if preview is not None:
        jpeg, width, height = preview
        prvw = box(b"uuid", PREVIEW_UUID + struct.pack(">Q", 1) +
                   box(b"PRVW", struct.pack(">IHHHHI", 0, 1, width, height, 1, len(jpeg)) + jpeg))
    return ftyp + moov + prvw + box(b"mdat", b"\0" * 16)


def heif_file(brand, block, prefix, xmp=None, exif_in_idat=False, exif_first=False, with_iref=True):
    """A HEIF file with one coded image item (1), an Exif item (2) and, when
    given, an XMP item (3). The Exif item is the 4-byte offset to the TIFF
    header, then `prefix` bytes, then the TIFF structure."""
    exif_item = struct.pack(">I", len(prefix)) + prefix + block
    coded = b"\0\0\0\x10" + b"\x26\x01\xaf\x00" * 4  # stand-in for a coded image
    items = [(1, b"hvc1" if brand != b"avif" else b"av01", coded, None)]
    items.append((2, b"Exif", exif_item, None))
    if xmp is not None:
        items.append((3, b"mime", xmp, b"application/rdf+xml"))
    if exif_first:
        items = items[1:2] + items[0:1] + items[2:]

    def infe(item_id, kind, content_type):
        payload = struct.pack(">HH", item_id, 0) + kind + b"\0"
        if content_type is not None:
            payload += content_type + b"\0"
        return full_box(b"infe", 2, 0, payload)

    iinf = full_box(b"iinf", 0, 0, struct.pack(">H", len(items)) + b"".join(infe(i, k, c) for i, k, _, c in items))
    hdlr = full_box(b"hdlr", 0, 0, b"\0\0\0\0pict" + b"\0" * 12 + b"\0")
    pitm = full_box(b"pitm", 0, 0, struct.pack(">H", 1))
    iref = b""
    if with_iref:
        refs = box(b"cdsc", struct.pack(">HHH", 2, 1, 1))
        if xmp is not None:
            refs += box(b"cdsc", struct.pack(">HHH", 3, 1, 1))
        iref = full_box(b"iref", 0, 0, refs)
    idat_items = [i for i in items if exif_in_idat and i[1] == b"Exif"]
    idat = box(b"idat", b"".join(d for _, _, d, _ in idat_items)) if idat_items else b""

    def build(mdat_start):
        # iloc version 1: offset_size 4, length_size 4, base_offset_size 0, index_size 0.
        entries = b""
        mdat_at = mdat_start + 8
        idat_at = 0
        for item_id, kind, data, _ in items:
            in_idat = exif_in_idat and kind == b"Exif"
            method = 1 if in_idat else 0
            entries += struct.pack(">HHH", item_id, method, 0) + struct.pack(">H", 1)
            if in_idat:
                entries += struct.pack(">II", idat_at, len(data))
                idat_at += len(data)
            else:
                entries += struct.pack(">II", mdat_at, len(data))
                mdat_at += len(data)
        iloc = full_box(b"iloc", 1, 0, bytes([0x44, 0x00]) + struct.pack(">H", len(items)) + entries)
        return box(b"meta", struct.pack(">I", 0) + hdlr + pitm + iloc + iinf + iref + idat)

    ftyp = box(b"ftyp", brand + struct.pack(">I", 0) + b"mif1" + brand)
    meta = build(0)
    meta = build(len(ftyp) + len(meta))
    mdat = box(b"mdat", b"".join(d for _, k, d, _ in items if not (exif_in_idat and k == b"Exif")))
    return ftyp + meta + mdat


# ---- PNG and WebP -------------------------------------------------------------------------------


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_file(block, xmp, exif_after_idat=False):
    ihdr = png_chunk(b"IHDR", struct.pack(">IIBBBBB", 2, 2, 8, 0, 0, 0, 0))
    idat = png_chunk(b"IDAT", zlib.compress(b"\0\x10\x20\0\x30\x40"))
    exif = png_chunk(b"eXIf", block) if block is not None else b""
    itxt = png_chunk(b"iTXt", b"XML:com.adobe.xmp\0\0\0\0\0" + xmp) if xmp is not None else b""
    parts = [ihdr, itxt] + ([idat, exif] if exif_after_idat else [exif, idat]) + [png_chunk(b"IEND", b"")]
    return b"\x89PNG\r\n\x1a\n" + b"".join(parts)


def riff_chunk(kind, data):
    return kind + struct.pack("<I", len(data)) + data + (b"\0" if len(data) % 2 else b"")


def webp_file(block, xmp):
    flags = (0x08 if block is not None else 0) | (0x04 if xmp is not None else 0)
    vp8x = riff_chunk(b"VP8X", bytes([flags, 0, 0, 0]) + (1).to_bytes(3, "little") + (1).to_bytes(3, "little"))
    # A 2x2 lossless bitstream: signature 0x2F, 14-bit width-1 and height-1, no alpha, version 0.
    bits = (1) | (1 << 14)
    vp8l = riff_chunk(b"VP8L", b"\x2f" + bits.to_bytes(4, "little") + b"\0" * 8)
    body = b"WEBP" + vp8x + vp8l
    if block is not None:
        body += riff_chunk(b"EXIF", block)
    if xmp is not None:
        body += riff_chunk(b"XMP ", xmp)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def xmp_packet(lat, lng):
    def coord(v, pos, neg):
        a = abs(v)
        d = int(a)
        return "%d,%.6f%s" % (d, (a - d) * 60, pos if v >= 0 else neg)

    return (
        '<?xpacket begin="\xef\xbb\xbf" id="W5M0MpCehiHzreSzNTczkc9d"?>\n'
        '<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">'
        '<rdf:Description rdf:about="" xmlns:exif="http://ns.adobe.com/exif/1.0/" '
        'exif:GPSLatitude="%s" exif:GPSLongitude="%s"/></rdf:RDF></x:xmpmeta>\n'
        '<?xpacket end="w"?>' % (coord(lat, "N", "S"), coord(lng, "E", "W"))
    ).encode("utf-8")


# ---- RAF ----------------------------------------------------------------------------------------


def raf_file(jpeg):
    head = b"FUJIFILMCCD-RAW 0201FF383501"
    head += b"FinePix Format Test".ljust(32, b"\0")
    head += b"0100" + b"\0" * 20
    jpeg_at = 160
    cfa = b"\0" * 64
    head += struct.pack(">IIIIII", jpeg_at, len(jpeg), 0, 0, jpeg_at + len(jpeg), len(cfa))
    head = head.ljust(jpeg_at, b"\0")
    return head + jpeg + cfa


# ---- the set ------------------------------------------------------------------------------------


def files():
    when = "2024:05:17 09:41:07"
    yield "tiff-ii.tif", tiff_file(False, 42, 48.858194, 2.294500, 35.0, when, "+02:00", 6, "Crafted")
    yield "tiff-mm.tif", tiff_file(True, 42, -33.856778, -151.215250, -2.5, when, "-03:30", 8, "Crafted")
    yield "tiff-nogps.tif", tiff_file(False, 42, None, None, None, when, None, 1, "Crafted")
    yield "dng-like.dng", tiff_file(False, 42, 64.146583, -21.942639, 12.0, when, "+00:00", 1, "Crafted",
                                    extra0=[(0xC612, BYTE, [1, 4, 0, 0]), (0xC614, ASCII, "Format Test")])
    yield "cr2-like.cr2", tiff_file(False, 42, 35.658581, 139.745433, 150.0, when, "+09:00", 1, "Canon",
                                    header=cr2_header())
    yield "rw2-like.rw2", tiff_file(False, 0x55, 40.689247, -74.044502, 93.0, when, "-04:00", 3, "Panasonic")
    yield "orf-like.orf", tiff_file(False, 0x4F52, 51.500729, -0.124625, 20.0, when, "+01:00", 1, "OLYMPUS")
    yield "orf-rs-like.orf", tiff_file(False, 0x5352, 41.890210, 12.492231, 21.0, when, "+02:00", 1, "OLYMPUS")
    yield "orf-mm-like.orf", tiff_file(True, 0x4F52, 55.752121, 37.617664, 144.0, when, "+03:00", 1, "OLYMPUS")
    yield "cr3-like.cr3", cr3_file(-22.951916, -43.210487, 700.0, when, "-03:00", 6)
    yield "cr3-prvw.cr3", cr3_file(-22.951916, -43.210487, 700.0, when, "-03:00", 6,
                                   preview=(jpeg_without_app(PREVIEW_BASE), 640, 480))
    raf_block = exif_block(27.175015, 78.042155, 171.0, when, "+05:30", 1, big=True, make="FUJIFILM")
    yield "raf-like.raf", raf_file(jpeg_with_exif(raf_block))
    block = exif_block(37.819929, -122.478255, 67.0, when, "-07:00", 1)
    yield "heic-like.heic", heif_file(b"heic", block, b"Exif\0\0", xmp=xmp_packet(37.8, -122.4))
    yield "heic-idat.heic", heif_file(b"heic", block, b"", exif_in_idat=True, exif_first=True)
    yield "heic-noiref.heic", heif_file(b"heic", block, b"", with_iref=False)
    yield "avif-like.avif", heif_file(b"avif", exif_block(-33.92, 18.42, 10.0, when, "+02:00", 8), b"")
    xmp = xmp_packet(59.329323, 18.068581)
    yield "png-exif.png", png_file(exif_block(59.329323, 18.068581, 28.0, when, "+02:00", 1), xmp)
    yield "png-exif-late.png", png_file(exif_block(60.169857, 24.938379, 16.0, when, "+03:00", 1), None,
                                        exif_after_idat=True)
    yield "png-xmp-only.png", png_file(None, xmp)
    yield "webp-exif-xmp.webp", webp_file(exif_block(52.370216, 4.895168, -2.0, when, "+02:00", 1), xmp)


def oracle():
    names = sorted(os.listdir(OUT))
    names = [n for n in names if n != "oracle.jsonl"]
    # Family 0 groups keep the Exif reading apart from the XMP one; -n gives
    # numbers (the Composite position is signed).
    tags = ["-FileName", "-FileType", "-EXIF:GPSLatitude", "-EXIF:GPSLatitudeRef", "-EXIF:GPSLongitude",
            "-EXIF:GPSLongitudeRef", "-Composite:GPSLatitude", "-Composite:GPSLongitude", "-Composite:GPSAltitude",
            "-EXIF:DateTimeOriginal", "-EXIF:OffsetTimeOriginal", "-EXIF:Orientation", "-XMP:GPSLatitude",
            "-XMP:GPSLongitude"]
    out = subprocess.run(["exiftool", "-j", "-n", "-G"] + tags + [os.path.join(OUT, n) for n in names],
                         check=True, capture_output=True).stdout
    with open(os.path.join(OUT, "oracle.jsonl"), "w") as f:
        for row in json.loads(out):
            row.pop("SourceFile", None)
            f.write(json.dumps(row, sort_keys=True) + "\n")


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in files():
        with open(os.path.join(OUT, name), "wb") as f:
            f.write(data)
    if "--oracle" in sys.argv:
        oracle()


if __name__ == "__main__":
    main()
