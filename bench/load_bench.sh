#!/usr/bin/env bash
# Times adding photos to a map: `terravue-tool load` over 20 generated 12-megapixel photos with one
# job and with one job per core, against the peers doing the same work one process per photo
# (vipsthumbnail for the 550-pixel thumbnail plus exiv2 reading the tags), one after another and
# with one process per core at a time. Prints medians and the all-cores / one-job ratio.
#
#   bench/load_bench.sh [TOOL]   (default build/bench/Applications/Terravue/tool/terravue-tool)
#
# ROUNDS (default 5), COUNT (default 20), JOBS (default: the number of cores), VIPSTHUMBNAIL and
# EXIV2 may be set.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$root/build/bench/Applications/Terravue/tool/terravue-tool}
[ -x "$tool" ] || { echo "build terravue-tool first (preset bench)" >&2; exit 1; }
rounds=${ROUNDS:-5}
count=${COUNT:-20}
jobs=${JOBS:-$(nproc)}
vips=${VIPSTHUMBNAIL:-vipsthumbnail}
exiv2=${EXIV2:-exiv2}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" make-photos --size 4000x3000 --count "$count" --without-position 2 "$work/photos" >/dev/null
mapfile -t photos < <(find "$work/photos" -name '*.jpg' | sort)

# Milliseconds of one run of the command, its output dropped; the work folder is new each time.
time_ms() {
  rm -rf "$work/out"
  mkdir -p "$work/out"
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

peer_one() {
  "$vips" "$1" -s 550x550 -o "$work/out/$(basename "$1")[Q=70]" && "$exiv2" -pa "$1" >/dev/null
}
export -f peer_one
export vips exiv2 work

peers_in_turn() {
  for photo in "${photos[@]}"; do
    peer_one "$photo"
  done
}
peers_per_core() { printf '%s\n' "${photos[@]}" | xargs -P "$jobs" -I{} bash -c 'peer_one "$1"' _ {}; }

one=()
all=()
seq=()
par=()
for ((r = 0; r < rounds; ++r)); do
  one+=("$(time_ms "$tool" load --work "$work/out" --jobs 1 "${photos[@]}")")
  all+=("$(time_ms "$tool" load --work "$work/out" --jobs "$jobs" "${photos[@]}")")
  seq+=("$(time_ms peers_in_turn)")
  par+=("$(time_ms peers_per_core)")
done
m_one=$(printf '%s\n' "${one[@]}" | median)
m_all=$(printf '%s\n' "${all[@]}" | median)
m_seq=$(printf '%s\n' "${seq[@]}" | median)
m_par=$(printf '%s\n' "${par[@]}" | median)

echo "photos: $count generated 4000 x 3000 JPEGs, $(nproc) cores, median of $rounds rounds, load average $(cut -d" " -f1-3 /proc/loadavg)"
echo "terravue-tool load --jobs 1        ${m_one} ms"
echo "terravue-tool load --jobs $jobs        ${m_all} ms   ratio to --jobs 1: $(awk -v a="$m_all" -v b="$m_one" 'BEGIN { printf "%.2f", a / b }') (goal <= 0.60)"
echo "vipsthumbnail + exiv2, in turn     ${m_seq} ms"
echo "vipsthumbnail + exiv2, $jobs at once  ${m_par} ms"
