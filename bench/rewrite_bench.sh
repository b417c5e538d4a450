#!/usr/bin/env bash
# Times writing a GPS position into 12-megapixel photos three ways, on the same
# photos in one run: terravue-tool set-gps (our lossless rewrite, one process
# per photo), exiftool writing the same GPS tags (one process per photo), and
# `jpegtran -copy all` (a bare coefficient copy, the floor for any rewrite that
# goes through libjpeg). Prints the median per photo and the ratios.
#
#   bench/rewrite_bench.sh [BUILD_DIR] [COUNT] [RUNS]
#     BUILD_DIR  a build with terravue-tool (default build/bench)
#     COUNT      photos to make (default 8), RUNS rounds over them (default 3)
#
# The photos are made by `terravue-tool make-photos` in a temporary folder.
# Every run starts from fresh copies, so each program rewrites the same bytes.
# EXIFTOOL and JPEGTRAN may name other binaries.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
count=${2:-8}
runs=${3:-3}
tool="$build/Applications/Terravue/tool/terravue-tool"
[ -x "$tool" ] || { echo "build terravue-tool first (for example: cmake --preset bench && cmake --build --preset bench --target terravue-tool)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" make-photos --size 4000x3000 --count "$count" --without-position 0 --seed 7 "$work/photos" >/dev/null

python3 - "$work" "$tool" "${EXIFTOOL:-exiftool}" "${JPEGTRAN:-jpegtran}" "$runs" <<'PY'
import glob, os, shutil, statistics, subprocess, sys, time

work, tool, exiftool, jpegtran, runs = sys.argv[1:6]
runs = int(runs)
photos = sorted(glob.glob(os.path.join(work, "photos", "*.jpg")))
scratch = os.path.join(work, "scratch")
os.makedirs(scratch, exist_ok=True)

methods = {
    "terravue-tool set-gps": lambda f: [tool, "set-gps", "--lat", "N:35:37:32.828", "--lng", "E:139:44:31.338", f],
    "exiftool (GPS tags)": lambda f: [exiftool, "-q", "-overwrite_original", "-GPSLatitude=35.625785",
                                      "-GPSLatitudeRef=N", "-GPSLongitude=139.742038", "-GPSLongitudeRef=E", f],
    "jpegtran -copy all": lambda f: [jpegtran, "-copy", "all", "-outfile", f + ".out", f],
}

times = {name: [] for name in methods}
for _ in range(runs):
    for name, command in methods.items():
        for photo in photos:
            target = os.path.join(scratch, os.path.basename(photo))
            shutil.copyfile(photo, target)
            start = time.perf_counter()
            subprocess.run(command(target), check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            times[name].append((time.perf_counter() - start) * 1000)
            for leftover in (target, target + ".out"):
                if os.path.exists(leftover):
                    os.remove(leftover)

size = statistics.median(os.path.getsize(p) for p in photos) / 1e6
print(f"{len(photos)} photos, 4000 x 3000, median {size:.1f} MB; {runs} runs; median ms per photo")
medians = {name: statistics.median(values) for name, values in times.items()}
floor = medians["jpegtran -copy all"]
ours = medians["terravue-tool set-gps"]
for name, value in medians.items():
    print(f"  {name:24s} {value:8.1f} ms   x{value / floor:5.2f} of jpegtran   x{value / ours:5.2f} of ours")
PY
