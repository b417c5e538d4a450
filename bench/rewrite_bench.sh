#!/usr/bin/env bash
# Times writing a GPS position into 12-megapixel photos, one process per photo,
# on the same photos in one run: terravue-tool set-gps (which flushes the new
# file to disk before it renames it), exiv2 and exiftool writing the same GPS
# tags. The photos are made by `terravue-tool make-photos` (baseline) and
# turned progressive by `jpegtran -progressive -copy all`. Prints the median
# per photo for each kind. The peers do not flush their output; the "+ fsync"
# rows add an fsync of the written photo, timed right after the peer exits,
# so that every row pays for the same durability.
#
#   bench/rewrite_bench.sh [BUILD_DIR] [COUNT] [RUNS]
#     BUILD_DIR  a build with terravue-tool (default build/bench)
#     COUNT      photos of each kind to make (default 8), RUNS rounds over them (default 3)
#
# BEFORE_TOOL may name a second terravue-tool (for example a build of an older
# commit) that is timed beside the first. EXIV2, EXIFTOOL and JPEGTRAN may
# name other binaries. Every run starts from fresh copies, so each program
# rewrites the same bytes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
count=${2:-8}
runs=${3:-3}
tool="$build/Applications/Terravue/tool/terravue-tool"
[ -x "$tool" ] || { echo "build terravue-tool first (for example: cmake --preset bench && cmake --build --preset bench --target terravue-tool)" >&2; exit 1; }
jpegtran=${JPEGTRAN:-jpegtran}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" make-photos --size 4000x3000 --count "$count" --without-position 0 --seed 7 "$work/baseline" >/dev/null
mkdir -p "$work/progressive"
for photo in "$work"/baseline/*.jpg; do
  "$jpegtran" -progressive -copy all -outfile "$work/progressive/$(basename "$photo")" "$photo"
done

python3 - "$work" "$tool" "${BEFORE_TOOL:-}" "${EXIV2:-exiv2}" "${EXIFTOOL:-exiftool}" "$runs" <<'PY'
import glob, os, shutil, statistics, subprocess, sys, time

work, tool, before, exiv2, exiftool, runs = sys.argv[1:7]
runs = int(runs)
scratch = os.path.join(work, "scratch")
os.makedirs(scratch, exist_ok=True)

def set_gps(binary):
    return lambda f: [binary, "set-gps", "--lat", "N:35:37:32.828", "--lng", "E:139:44:31.338", f]

methods = [("terravue-tool set-gps", set_gps(tool), False)]
if before:
    methods.append(("terravue-tool set-gps (before)", set_gps(before), False))
methods += [
    ("exiv2", lambda f: [exiv2, "-q", "-M", "set Exif.GPSInfo.GPSLatitudeRef N",
                         "-M", "set Exif.GPSInfo.GPSLatitude 35/1 37/1 32828/1000",
                         "-M", "set Exif.GPSInfo.GPSLongitudeRef E",
                         "-M", "set Exif.GPSInfo.GPSLongitude 139/1 44/1 31338/1000", "mo", f], True),
    ("exiftool", lambda f: [exiftool, "-q", "-overwrite_original", "-GPSLatitude=35.625785", "-GPSLatitudeRef=N",
                            "-GPSLongitude=139.742038", "-GPSLongitudeRef=E", f], True),
]

def fsync(path):
    fd = os.open(path, os.O_RDONLY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)

for kind in ("baseline", "progressive"):
    photos = sorted(glob.glob(os.path.join(work, kind, "*.jpg")))
    times = {}
    for _ in range(runs):
        for name, command, peer in methods:
            for photo in photos:
                target = os.path.join(scratch, os.path.basename(photo))
                shutil.copyfile(photo, target)
                fsync(target)
                start = time.perf_counter()
                subprocess.run(command(target), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                elapsed = time.perf_counter() - start
                times.setdefault(name, []).append(elapsed * 1000)
                if peer:
                    fsync(target)
                    times.setdefault(name + " + fsync", []).append((time.perf_counter() - start) * 1000)
                os.remove(target)
    size = statistics.median(os.path.getsize(p) for p in photos) / 1e6
    print(f"{kind}: {len(photos)} photos, 4000 x 3000, median {size:.1f} MB; {runs} runs; median ms per photo")
    ours = statistics.median(times["terravue-tool set-gps"])
    for name, values in times.items():
        value = statistics.median(values)
        print(f"  {name:34s} {value:8.1f} ms   x{value / ours:5.2f} of set-gps")
PY
