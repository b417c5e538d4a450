#!/usr/bin/env python3
"""terravue-tool place and where: the JSON lines they print, their ranking, the nearest place at
known points, and the message and exit code of every refused argument."""

import json
import os
import sys
import tempfile

import tooltest
from tooltest import TOOL, check

KEYS = ["name", "admin1", "country", "country_name", "lat", "lng", "population"]


def run(*args):
    done = tooltest.run(*args, timeout=60)
    return done.returncode, done.stdout, done.stderr


def lines(*args):
    code, out, err = run(*args)
    check(code == 0, f"{args}: exit 0 (got {code}, {err.strip()})")
    check(err == "", f"{args}: nothing on stderr")
    rows = [json.loads(line) for line in out.splitlines()]
    for row in rows:
        check(list(row)[: len(KEYS)] == KEYS, f"{args}: keys in order")
        check(isinstance(row["lat"], float) and isinstance(row["lng"], float), f"{args}: degrees are numbers")
    return rows


# Ranking: the capital before the towns of the same name; a comma narrows; a prefix; accents; a
# native spelling; nearness among towns of one size.
paris = lines("place", "Paris", "--limit", "20")
check(len(paris) == 20, "Paris: 20 lines")
check(paris[0]["country"] == "FR" and paris[0]["country_name"] == "France", "Paris: France first")
check(paris[0]["population"] > 1_000_000, "Paris: population of the capital")
check(any(r["admin1"] == "Texas" and r["name"] == "Paris" for r in paris), "Paris: Texas among them")
texas = lines("place", "Paris,", "Texas")
check(texas[0]["admin1"] == "Texas" and texas[0]["country"] == "US", "Paris, Texas: first in Texas")
check(all(r["admin1"] == "Texas" for r in texas), "Paris, Texas: only Texas")
check(lines("place", "zur", "--limit", "1")[0]["name"] == "Zürich", "zur: Zürich")
for spelling in ["Munchen", "München", "munich"]:
    first = lines("place", spelling, "--limit", "1")
    check(len(first) == 1, f"{spelling}: one line")
    check(first[0]["name"] == "Munich" and first[0]["admin1"] == "Bavaria", f"{spelling}: Munich")
check(lines("place", "京都")[0]["name"] == "Kyoto", "京都: Kyoto")
check(lines("place", "Wien")[0]["name"] == "Vienna", "Wien: Vienna")
check(lines("place", "New", "York")[0]["name"] == "New York City", "two words: New York")
illinois = lines("place", "Springfield", "--near", "39.8,-89.64", "--limit", "1")
missouri = lines("place", "Springfield", "--near", "+37.21,-93.29", "--limit", "1")
check(illinois[0]["admin1"] == "Illinois", "Springfield near Illinois")
check(missouri[0]["admin1"] == "Missouri", "Springfield near Missouri")

# Nothing found: exit 1, no output.
code, out, err = run("place", "xqzxqzxqz")
check(code == 1 and out == "" and err == "", "no match: exit 1, silent")

# where at known points.
for lat, lng, name, country in [("35.0116", "135.7681", "Kyoto", "JP"), ("48.1374", "11.5755", "Munich", "DE"),
                                ("-33.8688", "151.2093", "Sydney", "AU"), ("51.5074", "-0.1278", "London", "GB")]:
    rows = lines("where", lat, lng)
    check(len(rows) == 1, f"where {lat} {lng}: one line")
    check(rows[0]["name"] == name and rows[0]["country"] == country, f"where {lat} {lng}: {name} (got {rows[0]['name']})")
    check("distance_km" in rows[0] and 0 <= rows[0]["distance_km"] < 5, f"where {lat} {lng}: distance")

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
    check(code == 2, f"{args}: exit 2 (got {code})")
    check(words in err and "usage: terravue-tool" in err, f"{args}: says {words!r} (said {err.strip()!r})")
    check(out == "", f"{args}: nothing on stdout")

# A missing or damaged index: a message with the status, exit 1.
missing = os.path.join(os.path.dirname(TOOL), "no-such-index.tvp")
code, out, err = run("where", "--index", missing, "1", "2")
check(code == 1 and "0x8105" in err and out == "", f"missing index: exit 1 and the reason ({err.strip()})")
code, out, err = run("where", "--index", os.path.join(missing, "places.tvp"), "1", "2")
check(code == 1 and "0x8106" in err and out == "", f"missing folder: exit 1 and the reason ({err.strip()})")
# Not an index, and small enough to be read: the reader must find the damage, not the size.
with tempfile.TemporaryDirectory() as folder:
    damaged = os.path.join(folder, "damaged.tvp")
    with open(damaged, "wb") as f:
        f.write(bytes((i * 37 + 11) % 256 for i in range(4096)))
    code, out, err = run("place", "--index", damaged, "Paris")
check(code == 1 and "0x8634" in err and out == "", f"damaged index: exit 1 and the reason ({err.strip()})")

sys.exit(tooltest.finish())
