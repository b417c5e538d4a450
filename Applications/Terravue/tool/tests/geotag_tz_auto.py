#!/usr/bin/env python3
"""terravue-tool geotag --tz auto: photos from a camera that records no zone, on local time in
Berlin through the change to summer time on 31 March 2024, placed from a track with no zone
given; exiftool reads what was written. Also: the trip is flagged as crossing a change, a photo's
own zone wins (and is kept by --write-zone, which gives the others the zone they were read in), and a missing time-zone map is refused before any photo is touched.

usage: geotag_tz_auto.py TERRAVUE_TOOL
"""
import datetime
import json
import os
import shutil
import sys
import tempfile

import tooltest
from tooltest import check, exiftool, run

UTC = datetime.timezone.utc


def main():
    if shutil.which("exiftool") is None:
        print("exiftool is missing")
        return tooltest.SKIPPED
    work = tempfile.mkdtemp(prefix="tv-tz-auto-")
    try:
        photos_dir = os.path.join(work, "photos")
        made = run("make-photos", "--count", "5", "--without-position", "5", "--size", "64x48", photos_dir)
        check(made.returncode == 0, "make-photos succeeds: " + made.stderr)
        photos = sorted(os.path.join(photos_dir, n) for n in os.listdir(photos_dir))
        # The camera's clock on Berlin time: before the change (UTC+1), and after it (UTC+2).
        clocks = ["2024:03:31 01:10:00", "2024:03:31 01:55:00", "2024:03:31 03:05:00", "2024:03:31 04:20:00",
                  "2024:03:31 06:00:00"]
        truths = [datetime.datetime(2024, 3, 31, 0, 10, tzinfo=UTC), datetime.datetime(2024, 3, 31, 0, 55, tzinfo=UTC),
                  datetime.datetime(2024, 3, 31, 1, 5, tzinfo=UTC), datetime.datetime(2024, 3, 31, 2, 20, tzinfo=UTC),
                  datetime.datetime(2024, 3, 31, 4, 0, tzinfo=UTC)]
        for photo, clock in zip(photos, clocks):
            exiftool("-q", "-overwrite_original", "-DateTimeOriginal=" + clock, "-OffsetTimeOriginal=", photo)
        zones_read = json.loads(exiftool("-j", "-OffsetTimeOriginal", "-DateTimeOriginal", *photos))
        check(all("OffsetTimeOriginal" not in e for e in zones_read), "the photos record no zone")

        # A walk east through Berlin, one fix a minute from 00:00 to 05:00 UTC.
        start = datetime.datetime(2024, 3, 31, 0, 0, tzinfo=UTC)
        fixes = [(start + datetime.timedelta(minutes=m), 52.52, 13.30 + m * 0.0005) for m in range(301)]
        track = os.path.join(work, "berlin.gpx")
        with open(track, "w") as f:
            f.write('<?xml version="1.0"?><gpx version="1.1"><trk><trkseg>\n')
            for t, lat, lng in fixes:
                f.write('<trkpt lat="%.6f" lon="%.6f"><time>%s</time></trkpt>\n' % (lat, lng, t.strftime("%Y-%m-%dT%H:%M:%SZ")))
            f.write("</trkseg></trk></gpx>\n")

        result = run("geotag", "--track", track, "--tz", "auto", *photos)
        check(result.returncode == 0, "geotag --tz auto exits 0: " + result.stderr)
        lines = [json.loads(line) for line in result.stdout.splitlines()]
        check(len(lines) == len(photos), "one JSON line per photo")
        check("crosses a time zone or a daylight-saving change" in result.stderr and
              "Europe/Berlin +01:00, Europe/Berlin +02:00" in result.stderr,
              "the trip is flagged: " + result.stderr.strip())
        tags = {os.path.basename(e["SourceFile"]): e
                for e in json.loads(exiftool("-j", "-n", "-GPSLatitude", "-GPSLongitude", "-GPSDateStamp",
                                             "-GPSTimeStamp", *photos))}
        for line, photo, truth, clock in zip(lines, photos, truths, clocks):
            name = os.path.basename(photo)
            minute = int((truth - start).total_seconds() // 60)
            lng = 13.30 + minute * 0.0005
            offset = "+01:00" if truth < datetime.datetime(2024, 3, 31, 1, 0, tzinfo=UTC) else "+02:00"
            check(line["utc"] == truth.strftime("%Y-%m-%dT%H:%M:%SZ"), f"{name} ({clock}): utc {line['utc']}")
            check(line["status"] == "exact" and line["written"], f"{name}: placed and written ({line['status']})")
            check(line["camera_zone"] == "Europe/Berlin" and line["camera_utc_offset"] == offset,
                  f"{name}: camera clock {line['camera_zone']} {line['camera_utc_offset']}, not {offset}")
            t = tags[name]
            check(abs(t["GPSLatitude"] - 52.52) < 1e-5 and abs(t["GPSLongitude"] - lng) < 1e-5,
                  f"{name}: exiftool reads the position {t.get('GPSLatitude')},{t.get('GPSLongitude')}, not 52.52,{lng}")
            check(t["GPSDateStamp"] == truth.strftime("%Y:%m:%d") and t["GPSTimeStamp"] == truth.strftime("%H:%M:%S"),
                  f"{name}: GPS time stamp {t.get('GPSDateStamp')} {t.get('GPSTimeStamp')}")

        # The zone is not written unless asked for; with --write-zone each photo gets the offset
        # its clock was read in, on its own date.
        unzoned = json.loads(exiftool("-j", "-OffsetTimeOriginal", *photos))
        check(all("OffsetTimeOriginal" not in e for e in unzoned), "geotag alone writes no zone")
        zoned = run("geotag", "--track", track, "--tz", "auto", "--write-zone", *photos[1:])
        check(zoned.returncode == 0, "geotag --write-zone exits 0: " + zoned.stderr)
        written = {os.path.basename(e["SourceFile"]): e.get("OffsetTimeOriginal")
                   for e in json.loads(exiftool("-j", "-OffsetTimeOriginal", *photos))}
        for photo, truth in zip(photos[1:], truths[1:]):
            offset = "+01:00" if truth < datetime.datetime(2024, 3, 31, 1, 0, tzinfo=UTC) else "+02:00"
            name = os.path.basename(photo)
            check(written[name] == offset, f"{name}: OffsetTimeOriginal {written[name]}, not {offset}")

        # A photo's own zone wins over the position: +00:00 makes 01:10 true 01:10 UTC.
        exiftool("-q", "-overwrite_original", "-OffsetTimeOriginal=+00:00", photos[0])
        own = run("geotag", "--track", track, "--tz", "auto", "--dry-run", photos[0])
        row = json.loads(own.stdout.splitlines()[0])
        check(row["utc"] == "2024-03-31T01:10:00Z" and row["camera_zone"] is None and row["camera_utc_offset"] == "+00:00",
              "the photo's own zone wins: %s" % row)
        # ... and stays what it records with --write-zone.
        kept = run("geotag", "--track", track, "--tz", "auto", "--write-zone", photos[0])
        check(kept.returncode == 0, "geotag --write-zone on a photo with a zone exits 0: " + kept.stderr)
        check(json.loads(exiftool("-j", "-OffsetTimeOriginal", photos[0]))[0].get("OffsetTimeOriginal") == "+00:00",
              "a photo's own zone is kept")

        # Without --tz auto, nothing about zones is printed (the old keys only).
        plain = run("geotag", "--track", track, "--tz", "+01:00", "--dry-run", photos[1])
        check("camera_zone" not in json.loads(plain.stdout.splitlines()[0]), "--tz +01:00 prints no camera zone")

        # A missing or damaged map: refused with its reason, exit 2, no photo touched.
        before = {p: open(p, "rb").read() for p in photos}
        missing = run("geotag", "--track", track, "--tz", "auto", "--zones", os.path.join(work, "none.tvz"), *photos)
        check(missing.returncode == 2 and "time-zone map" in missing.stderr and "0x8105" in missing.stderr
              and missing.stdout == "", "missing map refused: " + missing.stderr.strip())
        damaged = os.path.join(work, "damaged.tvz")
        with open(damaged, "wb") as f:
            f.write(b"TVZONES1" + b"\xff" * 30)
        bad = run("geotag", "--track", track, "--tz", "auto", "--zones", damaged, *photos)
        check(bad.returncode == 2 and "0x863C" in bad.stderr and bad.stdout == "", "damaged map refused: " + bad.stderr.strip())
        check(all(open(p, "rb").read() == before[p] for p in photos), "a refused map leaves every photo as it was")
        wrong = run("geotag", "--track", track, "--tz", "Berlin", *photos)
        check(wrong.returncode == 2 and "or auto" in wrong.stderr, "--tz Berlin refused: " + wrong.stderr.strip())
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return tooltest.finish()


if __name__ == "__main__":
    sys.exit(main())
