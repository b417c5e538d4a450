#!/usr/bin/env python3
"""terravue-tool export: GPX checked well-formed by xmllint with its waypoints and track read back,
GeoJSON parsed, KML checked, KMZ read by Python's ZIP reader with its thumbnails decoded; positions, elevations and UTC times against exiftool's reading of
the photos; links relative to the export file; photos without a position left out and named;
refused arguments and an output that cannot be written."""

import io
import json
import os
import shutil
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
import zipfile

import tooltest
from tooltest import TOOL, check

CAMERA = os.path.join(sys.argv[2], "camera")
GPX = "{http://www.topografix.com/GPX/1/1}"


def xmllint(path):
    return subprocess.run(["xmllint", "--noout", path], capture_output=True, text=True).returncode


def exif_position(path):
    row = json.loads(tooltest.exiftool("-j", "-n", "-GPSLatitude", "-GPSLongitude", "-GPSAltitude", path))[0]
    return row["GPSLatitude"], row["GPSLongitude"], row.get("GPSAltitude")


def main():
    if shutil.which("exiftool") is None or shutil.which("xmllint") is None:
        print("exiftool or xmllint is not installed")
        return tooltest.SKIPPED
    with tempfile.TemporaryDirectory() as folder:
        os.environ["XDG_DATA_HOME"] = os.path.join(folder, "data")  # the journal of writes
        os.environ["TZ"] = "UTC"
        photos = os.path.join(folder, "photos")
        os.makedirs(photos)
        zoned = os.path.join(photos, "zoned.jpg")  # its own zone, and an elevation
        stamped = os.path.join(photos, "stamped.jpg")  # a GPS time stamp, no zone
        plain = os.path.join(photos, "a&<b> plain.jpg")  # a clock reading only; a name XML must escape
        bare = os.path.join(photos, "bare.jpg")  # no position at all
        for path in (zoned, stamped, plain):
            shutil.copyfile(os.path.join(CAMERA, "exiftool-Canon.jpg"), path)
        shutil.copyfile(os.path.join(CAMERA, "exifpy-no_exif.jpg"), bare)
        for path, lat, lng in ((zoned, "35.0036", "135.7784"), (stamped, "-33.8568", "151.2153"),
                               (plain, "48.8584", "2.2945")):
            check(tooltest.run("set-gps", "--lat", lat, "--lng", lng, path).returncode == 0, f"set-gps {path}")
        tooltest.exiftool("-q", "-overwrite_original", "-OffsetTimeOriginal=+09:00", "-GPSAltitude=123.5",
                          "-GPSAltitudeRef=0", zoned)
        tooltest.exiftool("-q", "-overwrite_original", "-GPSDateStamp=2001:02:03", "-GPSTimeStamp=04:05:06",
                          stamped)

        # GPX into a file in another folder: well-formed, one waypoint per located photo, the
        # photo left out named on the error output and in the exit code.
        out = os.path.join(folder, "out")
        os.makedirs(out)
        gpx = os.path.join(out, "trip.gpx")
        done = tooltest.run("export", "--track", "--output", gpx, zoned, stamped, plain, bare)
        check(done.returncode == 1, f"a photo without a position gives exit code 1: {done.returncode}")
        check(done.stdout == "", "nothing on standard output with --output")
        check(done.stderr == f"terravue-tool export: {bare}: no position, left out\n", f"stderr: {done.stderr!r}")
        check(xmllint(gpx) == 0, "the GPX file is well-formed XML")
        root = ElementTree.parse(gpx).getroot()
        check(root.tag == GPX + "gpx" and root.get("version") == "1.1", "a GPX 1.1 document")
        points = root.findall(GPX + "wpt")
        check([p.findtext(GPX + "name") for p in points] == ["zoned.jpg", "stamped.jpg", "a&<b> plain.jpg"],
              "the waypoints are the located photos, in the order given")
        for point, path in zip(points, (zoned, stamped, plain)):
            lat, lng, altitude = exif_position(path)
            check(abs(float(point.get("lat")) - lat) < 1e-6 and abs(float(point.get("lon")) - lng) < 1e-6,
                  f"{path}: position {point.get('lat')} {point.get('lon')} against exiftool's {lat} {lng}")
            elevation = point.findtext(GPX + "ele")
            if altitude is None:
                check(elevation is None, f"{path}: no elevation without GPSAltitude")
            else:
                check(elevation is not None and abs(float(elevation) - altitude) < 0.01,
                      f"{path}: elevation {elevation} against {altitude}")
        check([p.find(GPX + "link").get("href") for p in points] ==
              ["../photos/zoned.jpg", "../photos/stamped.jpg", "../photos/a%26%3Cb%3E%20plain.jpg"],
              "links relative to the export file, percent-encoded")
        # The clock 2003-12-04 06:46:52 read in the photo's own zone, the GPS stamp as UTC, and the
        # clock in the machine's zone (UTC here).
        times = [p.findtext(GPX + "time") for p in points]
        check(times == ["2003-12-03T21:46:52Z", "2001-02-03T04:05:06Z", "2003-12-04T06:46:52Z"], f"times {times}")
        track = [(p.get("lat"), p.findtext(GPX + "time")) for p in root.iter(GPX + "trkpt")]
        check([t for _, t in track] == sorted(times), f"the track runs in time order: {track}")

        # --tz gives the zone of photos without one; their own zone and a GPS stamp still win.
        done = tooltest.run("export", "--tz", "+02:00", zoned, stamped, plain)
        check(done.returncode == 0, f"export --tz: {done.stderr}")
        root = ElementTree.fromstring(done.stdout)
        times = [p.findtext(GPX + "time") for p in root.findall(GPX + "wpt")]
        check(times == ["2003-12-03T21:46:52Z", "2001-02-03T04:05:06Z", "2003-12-04T04:46:52Z"],
              f"times with --tz: {times}")
        check(root.find(GPX + "trk") is None, "no track without --track")

        # GeoJSON on standard output, links relative to the current folder.
        done = subprocess.run([TOOL, "export", "--format", "geojson", "--track", "photos/zoned.jpg",
                               "photos/stamped.jpg"], capture_output=True, text=True, cwd=folder)
        check(done.returncode == 0, f"export --format geojson: {done.stderr}")
        collection = json.loads(done.stdout)
        features = collection["features"]
        check(collection["type"] == "FeatureCollection" and len(features) == 3, "two points and the track")
        point = features[0]
        check(point["geometry"]["type"] == "Point" and point["properties"]["link"] == "photos/zoned.jpg",
              f"first feature {point}")
        lat, lng, altitude = exif_position(zoned)
        coordinates = point["geometry"]["coordinates"]
        check(abs(coordinates[0] - lng) < 1e-6 and abs(coordinates[1] - lat) < 1e-6 and
              abs(coordinates[2] - altitude) < 0.01, f"[lng, lat, ele] {coordinates}")
        check(features[2]["geometry"]["type"] == "LineString" and
              [c[1] for c in features[2]["geometry"]["coordinates"]][0] < -33,
              "the track starts at the earlier photo")

        # KML by the output file's extension, over an old file that it replaces.
        kml = os.path.join(out, "trip.kml")
        with open(kml, "w") as old:
            old.write("old")
        os.chmod(kml, 0o640)
        done = tooltest.run("export", "-o", kml, zoned)
        check(done.returncode == 0, f"export to .kml: {done.stderr}")
        check(os.stat(kml).st_mode & 0o7777 == 0o640, "the replaced file keeps its permission bits")
        mask = os.umask(0)
        os.umask(mask)
        check(os.stat(gpx).st_mode & 0o7777 == 0o666 & ~mask, "a new export gets the usual permissions")
        check(xmllint(kml) == 0, "the KML file is well-formed XML")
        with open(kml) as written:
            check("<kml" in written.read(), "a KML document")
        check(sorted(os.listdir(out)) == ["trip.gpx", "trip.kml"], f"nothing else left: {os.listdir(out)}")

        # KMZ: a ZIP archive that another reader takes, its doc.kml first and well-formed, each
        # placemark's icon a thumbnail in the archive that decodes as an upright JPEG of at most
        # 550 pixels a side, with the photo's position in its Exif data.
        kmz = os.path.join(out, "trip.kmz")
        done = tooltest.run("export", "--track", "-o", kmz, zoned, plain, bare)
        check(done.returncode == 1 and "bare.jpg: no position, left out" in done.stderr, f"kmz: {done.stderr!r}")
        with zipfile.ZipFile(kmz) as archive:
            check(archive.testzip() is None, "every entry's CRC matches")
            names = archive.namelist()
            check(names == ["doc.kml", "files/1.jpg", "files/2.jpg"], f"entries: {names}")
            kml_path = os.path.join(folder, "doc.kml")
            with open(kml_path, "wb") as kml_file:
                kml_file.write(archive.read("doc.kml"))
            check(xmllint(kml_path) == 0, "doc.kml is well-formed XML")
            root = ElementTree.parse(kml_path).getroot()
            hrefs = [e.text for e in root.iter("{http://www.opengis.net/kml/2.2}href")]
            check(hrefs == ["files/1.jpg", "files/2.jpg"], f"icons: {hrefs}")
            for name, photo in (("files/1.jpg", zoned), ("files/2.jpg", plain)):
                image = os.path.join(folder, "image.jpg")
                with open(image, "wb") as image_file:
                    image_file.write(archive.read(name))
                row = json.loads(tooltest.exiftool("-j", "-n", "-ImageWidth", "-ImageHeight", "-GPSLatitude",
                                                   "-GPSLongitude", image))[0]
                check(0 < max(row["ImageWidth"], row["ImageHeight"]) <= 550, f"{name} size: {row}")
                lat, lng, _ = exif_position(photo)
                check(abs(row["GPSLatitude"] - lat) < 1e-6 and abs(row["GPSLongitude"] - lng) < 1e-6,
                      f"{name} is {photo}'s thumbnail: {row}")
                check(subprocess.run(["djpeg", "-outfile", os.devnull, image]).returncode == 0, f"{name} decodes")
        # The same entries onto standard output (the links there are relative to the working folder).
        piped = subprocess.run([TOOL, "export", "--format", "kmz", "--track", zoned, plain], capture_output=True)
        with zipfile.ZipFile(io.BytesIO(piped.stdout)) as archive, open(kmz, "rb") as written:
            check(piped.returncode == 0 and archive.testzip() is None and archive.namelist() == names,
                  "kmz onto standard output")
            with zipfile.ZipFile(written) as original:
                # A thumbnail's ModifyDate is the time it was made: compare the pictures.
                pixels = [subprocess.run(["djpeg"], input=zip_file.read("files/2.jpg"), capture_output=True).stdout
                          for zip_file in (archive, original)]
                check(pixels[0] and pixels[0] == pixels[1], "the same thumbnails")
        os.remove(kmz)

        # What the user sees for arguments that are refused, and an output that can't be written.
        for args, wanted in ((["--format", "png", zoned], "unknown format \"png\""),
                             (["--tz", "Tokyo", zoned], "\"Tokyo\" is not a zone offset"),
                             (["--color", zoned], "unknown option \"--color\""), ([], "usage:")):
            done = tooltest.run("export", *args)
            check(done.returncode == 2 and wanted in done.stderr and done.stdout == "",
                  f"export {args}: {done.returncode} {done.stderr!r}")
        missing = os.path.join(folder, "no such folder", "trip.gpx")
        done = tooltest.run("export", "--output", missing, zoned)
        check(done.returncode == 1 and done.stderr.startswith(f"terravue-tool export: {missing} could not be "
                                                              "written: "), f"unwritable output: {done.stderr!r}")
        check(not os.path.exists(os.path.dirname(missing)), "no folder made")
    return tooltest.finish()


if __name__ == "__main__":
    sys.exit(main())
