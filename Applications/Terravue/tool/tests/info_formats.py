#!/usr/bin/env python3
"""`terravue-tool info` on every photo of testdata/formats (samples and crafted
files) against exiftool's reading of the same file: format, position, capture
time, zone and orientation; then the `sidecar` key for a photo with a sidecar
beside it. Exits 77 (skipped) without exiftool."""

import json
import os
import shutil
import subprocess
import sys
import tempfile

TOOL = sys.argv[1]
FORMATS = sys.argv[2]

# exiftool's FileType for each format name the tool gives.
FORMAT_OF_TYPE = {"TIFF": "TIFF", "DNG": "DNG", "CR2": "CR2", "CR3": "CR3", "RAF": "RAF", "HEIC": "HEIC",
                  "HEIF": "HEIF", "AVIF": "AVIF", "PNG": "PNG", "WEBP": "WEBP", "Extended WEBP": "WEBP",
                  "ORF": "ORF", "RAW": "RW2", "RW2": "RW2", "JPEG": "JPEG"}

failures = []


def check(name, what, got, want):
    if got != want:
        failures.append("%s: %s is %r, exiftool reads %r" % (name, what, got, want))


def decimal(ref, pairs):
    if ref is None or pairs is None:
        return None
    value = sum(n / d / s for (n, d), s in zip(pairs, (1, 60, 3600)) if d)
    return -value if ref in ("S", "W") else value


def info(paths):
    out = subprocess.run([TOOL, "info"] + paths, capture_output=True, text=True).stdout
    return [json.loads(line) for line in out.splitlines()]


def exiftool(paths):
    tags = ["-FileType", "-Composite:GPSLatitude", "-Composite:GPSLongitude", "-EXIF:DateTimeOriginal",
            "-EXIF:OffsetTimeOriginal", "-EXIF:Orientation", "-XMP:GPSLatitude", "-XMP:GPSLongitude"]
    out = subprocess.run(["exiftool", "-j", "-n", "-G"] + tags + paths, capture_output=True, text=True).stdout
    return {row["SourceFile"]: row for row in json.loads(out)}


def all_tags(paths):
    """Every tag of every group of each file, by file name, as exiftool reads it."""
    if not paths:
        return {}
    out = subprocess.run(["exiftool", "-j", "-a", "-u", "-G1", "-n"] + paths, capture_output=True, text=True).stdout
    return {os.path.basename(row["SourceFile"]): row for row in json.loads(out)} if out.strip() else {}


def changed_by_write(key, tiff):
    """What a position write may change: the GPS tags and their XMP copies, what describes the file
    rather than its metadata, and in an Exif block inside another container DateTime and
    ExifVersion."""
    group = key.split(":")[0]
    if key == "SourceFile" or group in ("System", "File", "ExifTool", "Composite", "GPS"):
        return True
    if key.startswith("XMP-exif:GPS") or key.startswith("QuickTime:MediaData"):
        return True
    return not tiff and key in ("IFD0:ModifyDate", "ExifIFD:ExifVersion")


def main():
    if shutil.which("exiftool") is None:
        return 77
    paths = []
    for folder in (FORMATS, os.path.join(FORMATS, "crafted")):
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not name.endswith((".jsonl", ".tsv", ".md", ".py")):
                paths.append(path)
    readings = exiftool(paths)
    lines = info(paths)
    check("info", "line count", len(lines), len(paths))
    with_position = 0
    for line in lines:
        path = line["path"]
        name = os.path.basename(path)
        ref = readings.get(path, {})
        check(name, "format", line["format"], FORMAT_OF_TYPE.get(ref.get("File:FileType"), "unknown"))
        if line["format"] in ("unknown",):
            continue
        lat = decimal(line["gps_lat_ref"], line["gps_lat"])
        lng = decimal(line["gps_lng_ref"], line["gps_lng"])
        # A photo whose only position is in its embedded XMP packet.
        want_lat = ref.get("Composite:GPSLatitude", ref.get("XMP:GPSLatitude"))
        want_lng = ref.get("Composite:GPSLongitude", ref.get("XMP:GPSLongitude"))
        # exiftool reads no Exif item from `idat` (the file's own test compares it otherwise).
        if name == "heic-idat.heic":
            continue
        if want_lat is None:
            check(name, "position", line["position_from"], None)
        else:
            with_position += 1
            check(name, "latitude", round(lat, 9), round(want_lat, 9))
            check(name, "longitude", round(lng, 9), round(want_lng, 9))
            check(name, "position source", line["position_from"], "file")
        check(name, "datetime_original", line["datetime_original"], ref.get("EXIF:DateTimeOriginal"))
        check(name, "offset_time_original", line["offset_time_original"], ref.get("EXIF:OffsetTimeOriginal"))
        check(name, "orientation", line["orientation"], ref.get("EXIF:Orientation"))
        check(name, "sidecar", line["sidecar"], None)
    check("info", "files with a position", with_position >= 15, True)

    # A sidecar beside the photo, named after the whole file name, in capitals.
    with tempfile.TemporaryDirectory() as work:
        photo = os.path.join(work, "IMG_0001.HEIC")
        shutil.copy(os.path.join(FORMATS, "mde-IMG_1034.heic"), photo)
        check("sidecar", "key without one", info([photo])[0]["sidecar"], None)
        sidecar = photo + ".XMP"
        with open(sidecar, "w") as f:
            f.write('<x:xmpmeta xmlns:x="adobe:ns:meta/"/>')
        check("sidecar", "key", info([photo])[0]["sidecar"], sidecar)
        check("sidecar", "position source without a position", info([photo])[0]["position_from"], "file")
        # A sidecar with a position wins over the photo's own.
        with open(sidecar, "w") as f:
            f.write('<?xpacket begin="" id="W5M0MpCehiHzreSzNTczkc9d"?>'
                    '<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF '
                    'xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#"><rdf:Description rdf:about="" '
                    'xmlns:exif="http://ns.adobe.com/exif/1.0/" exif:GPSLatitude="48,51.491667N" '
                    'exif:GPSLongitude="2,17.670000E"/></rdf:RDF></x:xmpmeta><?xpacket end="w"?>')
        line = info([photo])[0]
        side = exiftool([sidecar])[sidecar]
        check("sidecar", "position source", line["position_from"], "sidecar")
        check("sidecar", "latitude", round(decimal(line["gps_lat_ref"], line["gps_lat"]), 9),
              round(side["XMP:GPSLatitude"], 9))
        check("sidecar", "longitude", round(decimal(line["gps_lng_ref"], line["gps_lng"]), 9),
              round(side["XMP:GPSLongitude"], 9))

        # The position goes into the sidecar; the photo stays byte for byte
        # as it was, and the line says where the position went.
        with open(photo, "rb") as f:
            photo_before = f.read()
        done = subprocess.run([TOOL, "set-gps", "--lat", "N:10:00:00.000", "--lng", "E:020:00:00.000", photo],
                              capture_output=True, text=True)
        check("write", "set-gps exit code", done.returncode, 0)
        written = json.loads(done.stdout.splitlines()[0]) if done.stdout.strip() else {}
        check("write", "set-gps written_to", written.get("written_to"), "sidecar")
        check("write", "set-gps sidecar", written.get("sidecar"), sidecar)
        # The photo could take it in its Exif item, but its sidecar holds the position.
        check("write", "set-gps not_in_file", written.get("not_in_file"), "0x8622")
        with open(photo, "rb") as f:
            check("write", "set-gps leaves the photo", f.read() == photo_before, True)
        side = exiftool([sidecar])[sidecar]
        check("write", "sidecar latitude", round(side["XMP:GPSLatitude"], 9), 10.0)
        check("write", "sidecar longitude", round(side["XMP:GPSLongitude"], 9), 20.0)
        # Removing: refused while the photo's own Exif data holds a position.
        own = "Composite:GPSLatitude" in exiftool([photo])[photo]
        done = subprocess.run([TOOL, "remove-gps", photo], capture_output=True, text=True)
        check("write", "remove-gps exit code", done.returncode, 1 if own else 0)
        if own:
            check("write", "remove-gps refusal", "(0x8623)" in done.stderr and photo in done.stderr, True)
        else:
            check("write", "remove-gps empties the sidecar",
                  "XMP:GPSLatitude" in exiftool([sidecar])[sidecar], False)
        with open(photo, "rb") as f:
            check("write", "remove-gps leaves the photo", f.read() == photo_before, True)

    # set-gps on a copy of every photo: exiftool reads the new position back where the line says it
    # went; a photo written in its file keeps every other tag, a photo given a sidecar stays byte
    # for byte as it was.
    with tempfile.TemporaryDirectory() as work:
        copies = []
        source_of = {}
        for path in paths:
            if FORMAT_OF_TYPE.get(readings.get(path, {}).get("File:FileType")) is None:
                continue
            copy = os.path.join(work, os.path.basename(path))
            shutil.copy(path, copy)
            os.chmod(copy, 0o644)
            copies.append(copy)
            source_of[copy] = path
        before = all_tags(copies)
        originals = {}
        for copy in copies:
            with open(copy, "rb") as f:
                originals[copy] = f.read()
        done = subprocess.run([TOOL, "set-gps", "--lat", "-33.856784", "--lng", "151.215297"] + copies,
                              capture_output=True, text=True)
        lines = {}
        for text in done.stdout.splitlines():
            line = json.loads(text)
            lines[line["path"]] = line
        kinds = set()
        for copy in copies:
            name = os.path.basename(copy)
            line = lines.get(copy)
            if line is None:
                # Refused with its reason (a damaged file): it must be unchanged.
                check(name, "refused photo unchanged", open(copy, "rb").read() == originals[copy], True)
                check(name, "refusal named", copy in done.stderr, True)
                continue
            kinds.add(FORMAT_OF_TYPE[readings[source_of[copy]]["File:FileType"]])
            if line["written_to"] == "sidecar":
                check(name, "photo byte-identical", open(copy, "rb").read() == originals[copy], True)
                side = exiftool([line["sidecar"]])[line["sidecar"]]
                check(name, "sidecar latitude", round(side.get("XMP:GPSLatitude", 0), 6), -33.856784)
                check(name, "sidecar longitude", round(side.get("XMP:GPSLongitude", 0), 6), 151.215297)
                continue
            check(name, "written_to", line["written_to"], "file")
            ref = exiftool([copy])[copy]
            check(name, "file latitude", round(ref.get("Composite:GPSLatitude", 0), 6), -33.856784)
            check(name, "file longitude", round(ref.get("Composite:GPSLongitude", 0), 6), 151.215297)
            after = all_tags([copy]).get(name, {})
            tiff = ref.get("File:FileType") in ("TIFF", "DNG", "CR2", "ORF")
            for key in sorted(set(before.get(name, {})) | set(after)):
                if changed_by_write(key, tiff):
                    continue
                check(name, key, after.get(key), before.get(name, {}).get(key))
        check("set-gps", "kinds not written", sorted({"TIFF", "DNG", "CR2", "CR3", "RAF", "HEIC", "AVIF", "PNG", "WEBP",
                                                       "ORF", "RW2"} - kinds), [])

    # A DNG or ORF gets a sidecar by default; with --raw-in-file its own file, with a warning.
    for source, kind in (("dng-like.dng", "DNG"), ("orf-like.orf", "ORF"), ("orf-rs-like.orf", "ORF"),
                         ("orf-mm-like.orf", "ORF")):
        with tempfile.TemporaryDirectory() as work:
            raw = os.path.join(work, "raw." + kind.lower())
            shutil.copy(os.path.join(FORMATS, "crafted", source), raw)
            with open(raw, "rb") as f:
                raw_before = f.read()
            done = subprocess.run([TOOL, "set-gps", "--lat", "46.5", "--lng", "7.25", raw],
                                  capture_output=True, text=True)
            line = json.loads(done.stdout.splitlines()[0]) if done.stdout.strip() else {}
            check(source, "default written_to", line.get("written_to"), "sidecar")
            check(source, "default leaves the photo", open(raw, "rb").read() == raw_before, True)
            os.remove(raw + ".xmp")
            before = exiftool([raw])[raw]
            done = subprocess.run([TOOL, "set-gps", "--raw-in-file", "--lat", "46.5", "--lng", "7.25", raw],
                                  capture_output=True, text=True)
            check(source, "in-file exit code", done.returncode, 0)
            line = json.loads(done.stdout.splitlines()[0]) if done.stdout.strip() else {}
            check(source, "in-file written_to", line.get("written_to"), "file")
            check(source, "in-file warning", "warning" in line, True)
            check(source, "no sidecar made", os.path.exists(raw + ".xmp"), False)
            ref = exiftool([raw])[raw]
            check(source, "exiftool latitude", round(ref.get("Composite:GPSLatitude", 0), 9), 46.5)
            check(source, "exiftool longitude", round(ref.get("Composite:GPSLongitude", 0), 9), 7.25)
            check(source, "still its kind", ref.get("File:FileType"), kind)
            for key in ("EXIF:DateTimeOriginal", "EXIF:OffsetTimeOriginal", "EXIF:Orientation"):
                check(source, key, ref.get(key), before.get(key))
            with open(raw, "rb") as f:
                check(source, "header kept", f.read(4), raw_before[:4])
    # An unknown option is still refused after the flag is taken.
    with tempfile.TemporaryDirectory() as work:
        dng = os.path.join(work, "raw.dng")
        shutil.copy(os.path.join(FORMATS, "crafted", "dng-like.dng"), dng)
        done = subprocess.run([TOOL, "set-gps", "--raw-in-file", "--bogus", "--lat", "1", "--lng", "2", dng],
                              capture_output=True, text=True)
        check("raw", "unknown option", done.returncode, 2)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
