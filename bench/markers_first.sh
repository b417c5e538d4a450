#!/usr/bin/env bash
# Times showing many photos: the program started on COUNT generated photos (default 1000), to its
# first markers and to its last thumbnail, beside `terravue-tool load --jobs N` making the same
# thumbnails without a window. Prints the program's figures (bench/app_timing.mjs), the tool's
# time, the ratio of the two thumbnail times, and the load average before the run.
#
#   bench/markers_first.sh [BUILD]   (default build/bench; needs node 20 or later)
#
# COUNT, SIZE (default 3000x2000) and JOBS (default: the number of cores) may be set.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
tool=$build/Applications/Terravue/tool/terravue-tool
program=$(find "$build" -maxdepth 3 -type f -name terravue -perm -u+x | head -1)
[ -x "$tool" ] && [ -n "$program" ] || { echo "build terravue and terravue-tool first" >&2; exit 1; }
count=${COUNT:-1000}
size=${SIZE:-3000x2000}
jobs=${JOBS:-$(nproc)}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$tool" make-photos --size "$size" --count "$count" --without-position 10 "$work/photos" >/dev/null
mapfile -t photos < <(find "$work/photos" -name '*.jpg' | sort)
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), cores: $(nproc)"

start=$(date +%s%N)
"$tool" load --work "$work/out" --jobs "$jobs" "${photos[@]}" >/dev/null
tool_ms=$((($(date +%s%N) - start) / 1000000))
echo "terravue-tool load --jobs $jobs: $tool_ms ms"

node_flags=()
if ! node -e 'if (typeof WebSocket === "undefined") process.exit(1)'; then
  node_flags=(--experimental-websocket)
fi
app=$(node "${node_flags[@]}" "$root/bench/app_timing.mjs" "$program" "${photos[@]}")
echo "program: $app"
thumbs=$(printf '%s' "$app" | sed -n 's/.*"startToAllThumbnailsMs":\([0-9]*\).*/\1/p')
if [ -n "$thumbs" ]; then
  awk -v a="$thumbs" -v t="$tool_ms" 'BEGIN { printf "all thumbnails / tool load: %.2f\n", a / t }'
fi
