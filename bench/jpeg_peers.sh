#!/usr/bin/env bash
# Times JPEG decoding and the thumbnail job against other programs on the same
# generated 12-megapixel photos: full decoding against djpeg, the thumbnail job
# (decode, turn, fit into 550 x 550, write at quality 70 with the Exif data)
# against vipsthumbnail and ImageMagick's convert. Prints medians and ratios.
#
#   bench/jpeg_peers.sh [BUILD_DIR]   (default build/bench; needs bench_jpeg built)
#
# The peers are timed as whole processes (start-up included); bench_jpeg times
# the same work inside one process. DJPEG, VIPSTHUMBNAIL and CONVERT may name
# other binaries.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
bench="$build/bench/bench_jpeg"
[ -x "$bench" ] || { echo "build bench_jpeg first (preset bench)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export TV_BENCH_PHOTOS="$work/photos"

"$bench" --benchmark_format=json --benchmark_out="$work/ours.json" --benchmark_out_format=json >/dev/null

python3 - "$work" "${DJPEG:-djpeg}" "${VIPSTHUMBNAIL:-vipsthumbnail}" "${CONVERT:-convert}" <<'PY'
import glob, json, os, statistics, subprocess, sys, time

work, djpeg, vips, convert = sys.argv[1:5]
photos = sorted(glob.glob(os.path.join(work, "photos", "*.jpg")))
megapixels = 12.0
runs = 5

def median_ms(command):
    times = []
    for _ in range(runs):
        for photo in photos:
            args = [a.replace("{in}", photo).replace("{out}", os.path.join(work, "out.jpg")) for a in command]
            start = time.perf_counter()
            subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            times.append((time.perf_counter() - start) * 1000)
    return statistics.median(times)

ours = {}
for b in json.load(open(os.path.join(work, "ours.json")))["benchmarks"]:
    if b.get("aggregate_name") == "median":
        ours[b["run_name"].split("/")[0]] = b["real_time"]

decode = ours["BM_DecodeFullSize"]
thumb = ours["BM_ThumbnailJob"]
peer_decode = median_ms([djpeg, "-dct", "int", "-outfile", "/dev/null", "{in}"])
peer_vips = median_ms([vips, "{in}", "-s", "550x550", "-o", "{out}[Q=70]"])
peer_convert = median_ms([convert, "{in}", "-auto-orient", "-resize", "550x550", "-quality", "70", "{out}"])

print(f"photos: {len(photos)} generated 4000 x 3000 JPEGs, median of {runs} rounds")
print(f"full decode   terravue {decode:8.1f} ms  {megapixels / decode * 1000:6.1f} MP/s")
print(f"full decode   djpeg    {peer_decode:8.1f} ms  {megapixels / peer_decode * 1000:6.1f} MP/s"
      f"   terravue/djpeg time ratio {decode / peer_decode:.2f}")
print(f"thumbnail job terravue {thumb:8.1f} ms")
print(f"thumbnail job vipsthumbnail {peer_vips:8.1f} ms   terravue/vips ratio {thumb / peer_vips:.2f}")
print(f"thumbnail job convert  {peer_convert:8.1f} ms   terravue/convert ratio {thumb / peer_convert:.2f}")
print(f"resize 4000x3000 -> 550x412 alone: {ours['BM_ResizeTo550']:.1f} ms")
PY
