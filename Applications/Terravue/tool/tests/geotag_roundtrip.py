#!/usr/bin/env python3
"""Round trip of `terravue-tool geotag`: sample photos from `make-photos`, a GPX
track written here around their capture times, the tool run on them, and an
independent Exif reader (exiftool) asked what was written.

usage: geotag_roundtrip.py TERRAVUE_TOOL
"""
import datetime
import json
import os
import shutil
import sys
import tempfile

import tooltest
from tooltest import check, run


def read_positions(paths):
    out = tooltest.exiftool("-j", "-n", "-GPSLatitude", "-GPSLongitude", "-GPSAltitude", "-GPSAltitudeRef",
                            "-GPSDateStamp", "-GPSTimeStamp", "-DateTimeOriginal", *paths)
    return {os.path.basename(e["SourceFile"]): e for e in json.loads(out)}


def main():
    if shutil.which("exiftool") is None:
        print("exiftool is missing")
        return tooltest.SKIPPED
    work = tempfile.mkdtemp(prefix="tv-geotag-")
    try:
        photos_dir = os.path.join(work, "photos")
        made = run("make-photos", "--count", "6", "--without-position", "3", "--size", "64x48", photos_dir)
        check(made.returncode == 0, "make-photos succeeds: " + made.stderr)
        photos = sorted(os.path.join(photos_dir, n) for n in os.listdir(photos_dir))
        times = read_positions(photos)
        taken = {}
        for p in photos:
            text = times[os.path.basename(p)]["DateTimeOriginal"]
            taken[p] = datetime.datetime.strptime(text, "%Y:%m:%d %H:%M:%S").replace(tzinfo=datetime.timezone.utc)

        # The camera ran in UTC+02:00 and 30 s ahead; the track is in UTC.
        zone = datetime.timedelta(hours=2)
        ahead = datetime.timedelta(seconds=30)
        first = min(taken.values()) - zone - ahead
        last = max(taken.values()) - zone - ahead
        start = first - datetime.timedelta(seconds=600)
        fixes = []
        t = start
        i = 0
        # One fix every 20 s except a three-hour hole after the track, so the last photo may fall outside.
        while t <= last - datetime.timedelta(seconds=60):
            fixes.append((t, 48.0 + i * 0.0001, 11.0 + i * 0.0002, 500.0 + i))
            t += datetime.timedelta(seconds=20)
            i += 1
        track = os.path.join(work, "trip.gpx")
        with open(track, "w") as f:
            f.write('<?xml version="1.0"?><gpx version="1.1"><trk><trkseg>\n')
            for (ft, lat, lng, ele) in fixes:
                f.write('<trkpt lat="%.6f" lon="%.6f"><ele>%.1f</ele><time>%s</time></trkpt>\n'
                        % (lat, lng, ele, ft.strftime("%Y-%m-%dT%H:%M:%SZ")))
            f.write("</trkseg></trk></gpx>\n")

        def expected(photo):
            true = taken[photo] - zone - ahead
            for k in range(len(fixes) - 1):
                a, b = fixes[k], fixes[k + 1]
                if a[0] <= true <= b[0]:
                    f = (true - a[0]).total_seconds() / (b[0] - a[0]).total_seconds()
                    return true, tuple(a[j] + (b[j] - a[j]) * f for j in (1, 2, 3))
            return true, fixes[-1][1:]  # nearest: after the end of the track

        before = {p: open(p, "rb").read() for p in photos}
        dry = run("geotag", "--track", track, "--tz", "+02:00", "--offset", "30", "--dry-run", *photos)
        check(dry.returncode == 0, "dry run exits 0")
        check(all(open(p, "rb").read() == before[p] for p in photos), "dry run writes nothing")

        result = run("geotag", "--track", track, "--tz", "+02:00", "--offset", "+0:00:30", "--skip-located", *photos)
        check(result.returncode == 0, "geotag exits 0: " + result.stderr)
        lines = [json.loads(line) for line in result.stdout.splitlines()]
        check(len(lines) == len(photos), "one JSON line per photo")
        after = read_positions(photos)
        for line, photo in zip(lines, photos):
            name = os.path.basename(photo)
            check(line["path"] == photo, name + " path")
            true, (lat, lng, ele) = expected(photo)
            check(line["utc"] == true.strftime("%Y-%m-%dT%H:%M:%SZ"), name + " utc " + str(line["utc"]))
            located = before[photo] != b"" and "GPSLatitude" in times[name]
            if located:
                check(line["status"] == "skipped_located" and line["lat"] is None and line["lng"] is None
                      and line["alt"] is None, name + " skipped: no status or position of a placement")
                check(not line["written"] and open(photo, "rb").read() == before[photo],
                      name + " already located: left as it is")
                continue
            check(line["status"] in ("exact", "interpolated", "nearest"), name + " placed: " + line["status"])
            check(abs(line["lat"] - lat) < 1e-6 and abs(line["lng"] - lng) < 1e-6, name + " position in JSON")
            check(abs(line["alt"] - ele) < 0.01, name + " altitude in JSON")
            check(line["error"] is None, name + " no error")
            tags = after[name]
            check(line["written"], name + " written")
            check(abs(tags["GPSLatitude"] - lat) < 1e-5 and abs(tags["GPSLongitude"] - lng) < 1e-5,
                  name + " exiftool reads the position: %s" % tags)
            check(abs(tags["GPSAltitude"] - ele) < 0.01 and tags["GPSAltitudeRef"] == 0, name + " altitude")
            check(tags["GPSDateStamp"] == true.strftime("%Y:%m:%d"), name + " date stamp")
            check(tags["GPSTimeStamp"] == true.strftime("%H:%M:%S"), name + " time stamp " + str(tags["GPSTimeStamp"]))

        # A photo far outside the track is not placed and not touched; a missing one fails with exit 1.
        far = run("geotag", "--track", track, "--tz", "-10:00", photos[0], os.path.join(work, "missing.jpg"))
        far_lines = [json.loads(line) for line in far.stdout.splitlines()]
        check(far.returncode == 1, "a missing photo makes exit code 1")
        check(far_lines[0]["status"] == "no_match" and far_lines[0]["lat"] is None, "far photo: no_match")
        check(far_lines[1]["status"] == "failed" and far_lines[1]["error"], "missing photo: failed")

        bad = os.path.join(work, "bad.gpx")
        with open(bad, "w") as f:
            f.write("<gpx><trk>")
        check(run("geotag", "--track", bad, photos[0]).returncode == 2, "an invalid track is refused")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return tooltest.finish()


if __name__ == "__main__":
    sys.exit(main())
