#!/usr/bin/env python3
"""Builds zones.tvz, the offline time-zone map, from the npm package @photostructure/tz-lookup.

Inputs (all read from local files; this script never opens a network connection):
  --package  the npm package @photostructure/tz-lookup 11.8.0 as packed
             (photostructure-tz-lookup-11.8.0.tgz). Its tz.js holds the map as a quadtree
             over the earth, encoded as one text, and the list of zone names.
  --out      the map file to write

The package's integrity hash is checked before it is read. The output is the same for the same
input. The file layout is described in README.md.
"""

import argparse
import base64
import hashlib
import io
import re
import struct
import sys
import tarfile

PACKAGE_INTEGRITY = "sha512-RvTkAjjWAfgvoaHVXugwi9XOw4rwyrL8wuqox4PwRLW9FZwpmPhNUY31MgY7k5avK6sbD9S7i1/rUtM4A310/g=="

MAGIC = b"TVZONES1"
COLUMNS = 48
ROWS = 24
ZONE_FLAG = 0x8000
# The package writes every cell as two characters, each a base-56 digit from '#' up.
DIGIT_BASE = 56
FIRST_DIGIT = ord("#")
NAME_PATTERN = re.compile(r"^[A-Za-z0-9_+\-/]{1,64}$")


def check_integrity(data, expected):
    digest = "sha512-" + base64.b64encode(hashlib.sha512(data).digest()).decode("ascii")
    if digest != expected:
        sys.exit(f"package integrity mismatch: {digest}")


def read_script(path):
    data = open(path, "rb").read()
    check_integrity(data, PACKAGE_INTEGRITY)
    with tarfile.open(fileobj=io.BytesIO(data), mode="r:gz") as tar:
        return tar.extractfile("package/tz.js").read().decode("utf-8")


def parse(script):
    grid = re.search(r'var X="([#-Z]*)"', script)
    names = re.search(r'T=\[("[^\]]*")\]', script)
    if not grid or not names:
        sys.exit("tz.js does not hold the expected map and name list")
    text = grid.group(1)
    zones = re.findall(r'"([^"]*)"', names.group(1))
    for zone in zones:
        if not NAME_PATTERN.match(zone):
            sys.exit(f"unexpected zone name {zone!r}")
    return text, zones


def digit_pair(text, at):
    return DIGIT_BASE * (ord(text[at]) - FIRST_DIGIT) + (ord(text[at + 1]) - FIRST_DIGIT)


def convert(text, zones):
    """Turns the package's relative cell values into absolute entries: a zone (ZONE_FLAG | index)
    or the index of a node of four quadrants (north-west, north-east, south-west, south-east)."""
    top_chars = 2 * COLUMNS * ROWS
    if (len(text) - top_chars) % 8 != 0:
        sys.exit("the map text is not a whole number of nodes")
    node_count = (len(text) - top_chars) // 8
    first_zone_value = DIGIT_BASE * DIGIT_BASE - len(zones)
    if node_count >= ZONE_FLAG or len(zones) >= ZONE_FLAG:
        sys.exit("the map is too large for 16-bit entries")

    def entry(value, parent):
        if value >= first_zone_value:
            return ZONE_FLAG | (value - first_zone_value)
        node = value if parent is None else parent + value + 1
        if node >= node_count:
            sys.exit("a cell points past the last node")
        return node

    top = [entry(digit_pair(text, 2 * i), None) for i in range(COLUMNS * ROWS)]
    nodes = []
    for n in range(node_count):
        base = top_chars + 8 * n
        nodes.append([entry(digit_pair(text, base + 2 * q), n) for q in range(4)])
    return top, nodes


def write(path, zones, top, nodes):
    out = bytearray(MAGIC)
    out += struct.pack("<III", len(zones), len(nodes), COLUMNS * ROWS)
    for zone in zones:
        name = zone.encode("ascii")
        out += struct.pack("<B", len(name)) + name
    out += struct.pack(f"<{len(top)}H", *top)
    for node in nodes:
        out += struct.pack("<4H", *node)
    with open(path, "wb") as f:
        f.write(out)
    print(f"{path}: {len(zones)} zones, {len(nodes)} nodes, {len(out)} bytes")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--package", required=True)
    parser.add_argument("--out", required=True)
    args = parser.parse_args()
    text, zones = parse(read_script(args.package))
    top, nodes = convert(text, zones)
    write(args.out, zones, top, nodes)


if __name__ == "__main__":
    main()
