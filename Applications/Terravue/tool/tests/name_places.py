#!/usr/bin/env python3
"""terravue-tool name-places: the proposal per photo, a dry run that writes nothing, a write
that exiftool reads back (XMP, and IIM where the photo had it) with every other tag unchanged,
and what a user sees for a photo without a position or one that cannot be written."""

import json
import os
import shutil
import sys
import tempfile

import tooltest
from tooltest import TOOL, check

CAMERA = os.path.join(sys.argv[2], "camera")
CRAFTED = os.path.join(sys.argv[2], "formats", "crafted")
ZONE_TABLE = os.path.join(sys.argv[2], "zones", "zone1970.tab")
LOCATION = {"XMP-photoshop:City", "XMP-photoshop:State", "XMP-photoshop:Country", "XMP-iptcCore:CountryCode",
            "IPTC:City", "IPTC:Province-State", "IPTC:Country-PrimaryLocationCode",
            "IPTC:Country-PrimaryLocationName", "Photoshop:IPTCDigest", "XMP-iptcExt:LocationCreatedCity",
            "XMP-iptcExt:LocationCreatedProvinceState", "XMP-iptcExt:LocationCreatedCountryName",
            "XMP-iptcExt:LocationCreatedCountryCode"}


def tags(path):
    rows = json.loads(tooltest.exiftool("-j", "-a", "-u", "-G1", "-n", path))
    return {k: v for k, v in rows[0].items()
            if not k.startswith(("System:", "File:", "ExifTool:", "Composite:", "SourceFile")) and k not in LOCATION}


def lines(out):
    return [json.loads(line) for line in out.splitlines()]


def main():
    if shutil.which("exiftool") is None:
        print("exiftool is not installed")
        return tooltest.SKIPPED
    with tempfile.TemporaryDirectory() as folder:
        os.environ["XDG_DATA_HOME"] = os.path.join(folder, "data")  # the journal of writes
        kyoto = os.path.join(folder, "kyoto.jpg")
        agency = os.path.join(folder, "agency.jpg")
        bare = os.path.join(folder, "bare.jpg")
        shutil.copy(os.path.join(CAMERA, "exifpy-Canon_40D.jpg"), kyoto)
        shutil.copy(os.path.join(CAMERA, "exifr-iptc-agency-photographer-example.jpg"), agency)
        shutil.copy(os.path.join(CAMERA, "exifpy-Canon_40D.jpg"), bare)
        done = tooltest.run("set-gps", "--lat", "35.0037", "--lng", "135.7788", kyoto)
        check(done.returncode == 0, f"set-gps gives the photo a position ({done.stderr.strip()})")
        photos = [kyoto, agency]
        before = {p: open(p, "rb").read() for p in photos + [bare]}
        old_tags = {p: tags(p) for p in photos}

        done = tooltest.run("name-places", "--dry-run", "--zone-table", ZONE_TABLE, *photos)
        rows = lines(done.stdout)
        check(done.returncode == 0 and len(rows) == 2, f"dry run: exit 0, two lines ({done.stderr.strip()})")
        check(all(open(p, "rb").read() == before[p] for p in photos), "dry run: no photo changed")
        if len(rows) == 2:
            japan, usa = rows
            check(japan["country_code"] == "JP" and japan["country_code3"] == "JPN" and japan["zone"] == "Asia/Tokyo",
                  f"the Kyoto photo is named in Japan ({japan})")
            check(japan["label"].startswith(japan["place"] + ", ") and japan["label"].endswith("km " +
                  japan["direction"]) or japan["direction"] == "", f"label: {japan['label']}")
            check(len(japan["alternatives"]) == 5 and not japan["review"] and not japan["written"],
                  "five alternatives, no review, not written")
            check(usa["country_code"] == "US" and usa["country_code3"] == "USA", f"the agency photo: {usa}")
            check(usa["old_iim"]["city"] == "Washington", f"old IIM city read ({usa.get('old_iim')})")

        done = tooltest.run("name-places", "--zone-table", ZONE_TABLE, *photos, bare)
        rows = lines(done.stdout)
        check(done.returncode == 1 and len(rows) == 3, f"write: exit 1 for the photo without position ({done.stdout})")
        if len(rows) == 3:
            check(rows[0]["written"] and rows[0]["xmp_added"] is False or rows[0]["written"], "Kyoto photo written")
            check(rows[1]["written"] and rows[1]["iim_written"], "agency photo written with its IIM block")
            check(rows[2]["written"] is False and rows[2]["status"] == "0x8632" and "no GPS position" in
                  rows[2]["reason"], f"the photo without a position says so ({rows[2]})")
            check(open(bare, "rb").read() == before[bare], "the photo without a position is unchanged")
            for photo, row in zip(photos, rows):
                now = json.loads(tooltest.exiftool("-j", "-G1", photo))[0]
                check(now.get("XMP-photoshop:City") == row["place"] and
                      now.get("XMP-iptcCore:CountryCode") == row["country_code"],
                      f"{photo}: exiftool reads the XMP city and code")
                check(tags(photo) == old_tags[photo], f"{photo}: every other tag unchanged")
            now = json.loads(tooltest.exiftool("-j", "-G1", "-IPTC:all", "-IPTCDigest", "-CurrentIPTCDigest", agency))[0]
            check(now.get("IPTC:City") == rows[1]["place"][:32] and
                  now.get("IPTC:Country-PrimaryLocationCode") == "USA", f"IIM city and code: {now}")
            check(now.get("Photoshop:IPTCDigest") == now.get("File:CurrentIPTCDigest"), "IIM digest matches")

        # Other kinds: the names go to the XMP sidecar, the photo stays byte-identical; a PNG,
        # whose position is in its file, says where its names went.
        raw = os.path.join(folder, "raw.orf")
        png = os.path.join(folder, "shot.png")
        shutil.copy(os.path.join(CRAFTED, "orf-like.orf"), raw)
        shutil.copy(os.path.join(CRAFTED, "png-exif.png"), png)
        for photo in (raw, png):
            done = tooltest.run("set-gps", "--lat", "35.0037", "--lng", "135.7788", photo)
            check(done.returncode == 0, f"set-gps gives {photo} a position ({done.stderr.strip()})")
        raw_sidecar = open(raw + ".xmp", "rb").read()
        old_sidecar_tags = tags(raw + ".xmp")
        kept = {p: open(p, "rb").read() for p in (raw, png)}
        check(not os.path.exists(png + ".xmp"), "the PNG's position is in its file")
        done = tooltest.run("name-places", "--zone-table", ZONE_TABLE, raw, png)
        rows = lines(done.stdout)
        check(done.returncode == 0 and len(rows) == 2, f"other kinds: exit 0, two lines ({done.stdout})")
        if len(rows) == 2:
            for photo, row in zip((raw, png), rows):
                check(row["written"] and row["names_to"] == "sidecar" and row["sidecar"] == photo + ".xmp",
                      f"{photo}: written to its sidecar ({row})")
                check(open(photo, "rb").read() == kept[photo], f"{photo}: the photo is byte-identical")
                now = json.loads(tooltest.exiftool("-j", "-G1", photo + ".xmp"))[0]
                check(now.get("XMP-photoshop:City") == row["place"] and
                      now.get("XMP-iptcExt:LocationCreatedCountryCode") == "JP" and
                      now.get("XMP-photoshop:Country") == row["country"], f"{photo}: exiftool reads the names")
            check("note" not in rows[0], "the raw file's names go where its position is: no note")
            check("0x8615" in rows[1].get("note", ""), f"the PNG says its names are in a sidecar ({rows[1]})")
            check(rows[1]["xmp_added"] is True, "the PNG's sidecar was made")
            check(open(raw + ".xmp", "rb").read() != raw_sidecar and tags(raw + ".xmp") == old_sidecar_tags,
                  "the raw file's sidecar keeps its position and every other tag")
            done = tooltest.run("name-places", "--dry-run", "--zone-table", ZONE_TABLE, png)
            rows = lines(done.stdout)
            check(rows and rows[0]["old_xmp"]["city"] == rows[0]["place"], f"the sidecar's names are read ({rows})")

        # Again: nothing left to change, nothing written.
        named = open(kyoto, "rb").read()
        done = tooltest.run("name-places", "--zone-table", ZONE_TABLE, kyoto)
        rows = lines(done.stdout)
        check(done.returncode == 0 and rows and rows[0]["written"] is False and open(kyoto, "rb").read() == named,
              "a second run leaves the named photo as it is")

        # A protected photo: the reason, and the photo as it was.
        os.chmod(kyoto, 0o444)
        shutil.copy(os.path.join(CAMERA, "exifr-iptc-agency-photographer-example.jpg"), agency)
        os.chmod(agency, 0o444)
        done = tooltest.run("name-places", "--zone-table", ZONE_TABLE, agency)
        rows = lines(done.stdout)
        check(done.returncode == 1 and rows and rows[0]["status"] == "0x8609" and "write-protected" in
              rows[0]["reason"], f"a protected photo is named with the reason ({done.stdout})")
        check(open(agency, "rb").read() == before[agency], "the protected photo is unchanged")

        done = tooltest.run("name-places")
        check(done.returncode == 2 and "usage" in done.stderr, "no photo: usage, exit 2")
    return tooltest.finish()


sys.exit(main())
