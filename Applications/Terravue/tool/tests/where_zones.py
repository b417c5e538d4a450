#!/usr/bin/env python3
"""terravue-tool where: the time zone and UTC offset of a position on a date, at borders and
daylight-saving changes, the uncertainty near borders, and what a user sees when the date or the
time-zone map is wrong."""

import datetime
import json
import os
import sys
import tempfile

import tooltest
from tooltest import TOOL, check


def run(*args):
    done = tooltest.run(*args, timeout=60)
    return done.returncode, done.stdout, done.stderr


def where(lat, lng, *options):
    code, out, err = run("where", *options, lat, lng)
    check(code == 0 and err == "", f"where {options} {lat} {lng}: exit 0 (got {code}, {err.strip()})")
    rows = [json.loads(line) for line in out.splitlines()]
    check(len(rows) == 1, f"where {lat} {lng}: one line")
    row = rows[0] if rows else {}
    check(list(row)[-4:] == ["distance_km", "zone", "utc_offset", "zone_uncertain"],
          f"where {lat} {lng}: zone keys after the place")
    return row


# Berlin either side of the change to summer time (last Sunday of March 2024), and in October.
for date, offset in [("2024-03-30", "+01:00"), ("2024-03-31", "+02:00"), ("2024-10-26", "+02:00"),
                     ("2024-10-27", "+01:00"), ("2024-01-15", "+01:00")]:
    row = where("52.52", "13.405", "--date", date)
    check(row.get("zone") == "Europe/Berlin" and row.get("utc_offset") == offset and row.get("zone_uncertain") is False,
          f"Berlin {date}: {offset} (got {row.get('utc_offset')})")
# Tokyo all year; Kathmandu's quarter hour; Newfoundland's half hour with summer time.
for date in ["2024-01-15", "2024-07-15"]:
    row = where("35.6895", "139.6917", "--date", date)
    check(row.get("zone") == "Asia/Tokyo" and row.get("utc_offset") == "+09:00", f"Tokyo {date}")
check(where("27.7172", "85.324", "--date", "2024-07-15").get("utc_offset") == "+05:45", "Kathmandu")
check(where("47.5615", "-52.7126", "--date", "2024-07-15").get("utc_offset") == "-02:30", "St. John's in July")
# Arizona keeps -07:00; the Navajo Nation (Kayenta) goes to -06:00 in summer.
phoenix = where("33.4484", "-112.074", "--date", "2024-07-01")
kayenta = where("36.7278", "-110.2546", "--date", "2024-07-01")
check(phoenix.get("zone") == "America/Phoenix" and phoenix.get("utc_offset") == "-07:00", "Phoenix in July")
check(kayenta.get("zone") == "America/Denver" and kayenta.get("utc_offset") == "-06:00", "Kayenta in July")
# Across the US-Mexico border: San Diego and Tijuana, one offset.
san_diego = where("32.7157", "-117.1611", "--date", "2024-07-01")
tijuana = where("32.5149", "-117.0382", "--date", "2024-07-01")
check(san_diego.get("zone") == "America/Los_Angeles" and san_diego.get("utc_offset") == "-07:00", "San Diego")
check(tijuana.get("zone") == "America/Tijuana" and tijuana.get("utc_offset") == "-07:00", "Tijuana")
# Bullhead City, Arizona, by Nevada: certain in summer (both -07:00), uncertain in winter.
check(where("35.1478", "-114.5683", "--date", "2024-07-01").get("zone_uncertain") is False, "Bullhead City in July: certain")
check(where("35.1478", "-114.5683", "--date", "2024-01-15").get("zone_uncertain") is True,
      "Bullhead City in January: uncertain")
# At sea: the nautical zone.
sea = where("40", "-40", "--date", "2024-07-01")
check(sea.get("zone") == "Etc/GMT+3" and sea.get("utc_offset") == "-03:00", f"mid-Atlantic: Etc/GMT+3 (got {sea.get('zone')})")
# Kiritimati (UTC+14) answers for its own date: on 31 December 2024 local noon is 22:00 UTC the
# day before.
check(where("1.87", "-157.4", "--date", "2024-12-31").get("utc_offset") == "+14:00", "Kiritimati")
# Without --date: today. Berlin's offset then is one of its two.
check(where("52.52", "13.405").get("utc_offset") in ("+01:00", "+02:00"), "Berlin today")

# Refused dates: exit 2 with the usage, nothing on stdout.
for date in ["2024-02-30", "2023-02-29", "24-03-31", "2024/03/31", "2024-13-01", "2024-03-3x", ""]:
    code, out, err = run("where", "--date", date, "52.52", "13.405")
    check(code == 2 and out == "", f"--date {date!r}: exit 2 (got {code})")
    check("--date" in err and "usage: terravue-tool where" in err, f"--date {date!r}: says so ({err.strip()!r})")
code, out, err = run("where", "52.52", "13.405", "--date")
check(code == 2 and "missing value" in err and out == "", f"--date without a value: exit 2 ({err.strip()!r})")

# A missing or damaged time-zone map: the reason with its status, exit 1, nothing on stdout, and
# the damaged file left as it was.
with tempfile.TemporaryDirectory() as folder:
    missing = os.path.join(folder, "no-such-map.tvz")
    code, out, err = run("where", "--zones", missing, "1", "2")
    check(code == 1 and "time-zone map" in err and "0x8105" in err and out == "",
          f"missing map: exit 1 and the reason ({err.strip()})")
    damaged = os.path.join(folder, "damaged.tvz")
    with open(damaged, "wb") as f:
        f.write(b"TVZONES1" + bytes(40))
    code, out, err = run("where", "--zones", damaged, "1", "2")
    check(code == 1 and "0x863C" in err and out == "", f"damaged map: exit 1 and the reason ({err.strip()})")
    with open(damaged, "rb") as f:
        check(f.read() == b"TVZONES1" + bytes(40), "damaged map: unchanged")

sys.exit(tooltest.finish())
