#!/usr/bin/env python3
"""terravue-tool place and where: the JSON lines they print, their ranking, the nearest place at
known points, and the message and exit code of every refused argument."""

import json
import os
import tempfile
import subprocess
import sys

TOOL = sys.argv[1]
KEYS = ["name", "admin1", "country", "country_name", "lat", "lng", "population"]
failures = []
checks = 0


def run(*args):
    done = subprocess.run([TOOL, *args], capture_output=True, text=True, timeout=60)
    return done.returncode, done.stdout, done.stderr


def check(what, condition):
    global checks
    checks += 1
    if not condition:
        failures.append(what)
        print("FAIL:", what)


def lines(*args):
    code, out, err = run(*args)
    check(f"{args}: exit 0 (got {code}, {err.strip()})", code == 0)
    check(f"{args}: nothing on stderr", err == "")
    rows = [json.loads(line) for line in out.splitlines()]
    for row in rows:
        check(f"{args}: keys in order", list(row)[: len(KEYS)] == KEYS)
        check(f"{args}: degrees are numbers", isinstance(row["lat"], float) and isinstance(row["lng"], float))
    return rows


# Ranking: the capital before the towns of the same name; a comma narrows; a prefix; accents; a
# native spelling; nearness among towns of one size.
paris = lines("place", "Paris", "--limit", "20")
check("Paris: 20 lines", len(paris) == 20)
check("Paris: France first", paris[0]["country"] == "FR" and paris[0]["country_name"] == "France")
check("Paris: population of the capital", paris[0]["population"] > 1_000_000)
check("Paris: Texas among them", any(r["admin1"] == "Texas" and r["name"] == "Paris" for r in paris))
texas = lines("place", "Paris,", "Texas")
check("Paris, Texas: first in Texas", texas[0]["admin1"] == "Texas" and texas[0]["country"] == "US")
check("Paris, Texas: only Texas", all(r["admin1"] == "Texas" for r in texas))
check("zur: Zürich", lines("place", "zur", "--limit", "1")[0]["name"] == "Zürich")
for spelling in ["Munchen", "München", "munich"]:
    first = lines("place", spelling, "--limit", "1")
    check(f"{spelling}: one line", len(first) == 1)
    check(f"{spelling}: Munich", first[0]["name"] == "Munich" and first[0]["admin1"] == "Bavaria")
check("京都: Kyoto", lines("place", "京都")[0]["name"] == "Kyoto")
check("Wien: Vienna", lines("place", "Wien")[0]["name"] == "Vienna")
check("two words: New York", lines("place", "New", "York")[0]["name"] == "New York City")
illinois = lines("place", "Springfield", "--near", "39.8,-89.64", "--limit", "1")
missouri = lines("place", "Springfield", "--near", "+37.21,-93.29", "--limit", "1")
check("Springfield near Illinois", illinois[0]["admin1"] == "Illinois")
check("Springfield near Missouri", missouri[0]["admin1"] == "Missouri")

# Nothing found: exit 1, no output.
code, out, err = run("place", "xqzxqzxqz")
check("no match: exit 1, silent", code == 1 and out == "" and err == "")

# where at known points.
for lat, lng, name, country in [("35.0116", "135.7681", "Kyoto", "JP"), ("48.1374", "11.5755", "Munich", "DE"),
                                ("-33.8688", "151.2093", "Sydney", "AU"), ("51.5074", "-0.1278", "London", "GB")]:
    rows = lines("where", lat, lng)
    check(f"where {lat} {lng}: one line", len(rows) == 1)
    check(f"where {lat} {lng}: {name} (got {rows[0]['name']})", rows[0]["name"] == name and rows[0]["country"] == country)
    check(f"where {lat} {lng}: distance", "distance_km" in rows[0] and 0 <= rows[0]["distance_km"] < 5)

# Refused arguments: a message naming the problem, the usage, exit code 2, nothing on stdout.
for args, words in [
    (["place"], "no name"),
    (["place", "  "], "no name"),
    (["place", "Paris", "--limit", "0"], "--limit"),
    (["place", "Paris", "--limit", "many"], "--limit"),
    (["place", "Paris", "--limit", "1001"], "--limit"),
    (["place", "Paris", "--limit"], "missing value"),
    (["place", "Paris", "--near", "48.8"], "--near"),
    (["place", "Paris", "--near", "91,2"], "--near"),
    (["place", "Paris", "--near", "48,2x"], "--near"),
    (["place", "Paris", "--nearby", "1,2"], "unknown option"),
    (["where"], "latitude and a longitude"),
    (["where", "48.8"], "latitude and a longitude"),
    (["where", "1", "2", "3"], "latitude and a longitude"),
    (["where", "north", "2"], "decimal degrees"),
    (["where", "48,8", "2"], "decimal degrees"),
    (["where", "0", "180.5"], "decimal degrees"),
    (["where", "nan", "0"], "decimal degrees"),
    (["where", "--fast", "1", "2"], "unknown option"),
]:
    code, out, err = run(*args)
    check(f"{args}: exit 2 (got {code})", code == 2)
    check(f"{args}: says {words!r} (said {err.strip()!r})", words in err and "usage: terravue-tool" in err)
    check(f"{args}: nothing on stdout", out == "")

# A missing or damaged index: a message with the status, exit 1.
missing = os.path.join(os.path.dirname(TOOL), "no-such-index.tvp")
code, out, err = run("where", "--index", missing, "1", "2")
check(f"missing index: exit 1 and the reason ({err.strip()})", code == 1 and "0x8105" in err and out == "")
code, out, err = run("where", "--index", os.path.join(missing, "places.tvp"), "1", "2")
check(f"missing folder: exit 1 and the reason ({err.strip()})", code == 1 and "0x8106" in err and out == "")
# Not an index, and small enough to be read: the reader must find the damage, not the size.
with tempfile.TemporaryDirectory() as folder:
    damaged = os.path.join(folder, "damaged.tvp")
    with open(damaged, "wb") as f:
        f.write(bytes((i * 37 + 11) % 256 for i in range(4096)))
    code, out, err = run("place", "--index", damaged, "Paris")
check(f"damaged index: exit 1 and the reason ({err.strip()})", code == 1 and "0x8634" in err and out == "")

print(f"{checks - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
