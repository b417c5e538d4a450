#!/usr/bin/env bash
# Runs the libFuzzer targets, each from a copy of its committed seed corpus,
# two at a time (TV_FUZZ_JOBS to change), for SECONDS each (default 600).
# Fails when any fuzzer finds a crash, a leak, undefined behaviour or an input
# that takes longer than TV_FUZZ_TIMEOUT seconds (default 20); the input that
# did it is kept in build/asan/fuzz-findings/NAME/ and the fuzzer's last lines
# are printed. Without FUZZER names every target runs.
#
#   scripts/fuzz.sh [SECONDS] [FUZZER...]     e.g. scripts/fuzz.sh 3600 fuzz_pageedits
#
# The fuzzers are built with the asan preset (clang) when they are not there yet.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-600}
shift || true
case $seconds in
'' | *[!0-9]*)
  echo "usage: scripts/fuzz.sh [SECONDS] [FUZZER...]" >&2
  exit 2
  ;;
esac

fuzz_dir=build/asan/fuzz
if ! compgen -G "$fuzz_dir/fuzz_*" >/dev/null; then
  cmake --preset asan >/dev/null
  cmake --build --preset asan -j "$(nproc)"
fi

if [ $# -gt 0 ]; then
  fuzzers=()
  for name in "$@"; do
    fuzzers+=("$fuzz_dir/$name")
  done
else
  mapfile -t fuzzers < <(find "$fuzz_dir" -maxdepth 1 -name 'fuzz_*' -type f -perm -u+x | sort)
fi
[ ${#fuzzers[@]} -gt 0 ] || {
  echo "no fuzzers in $fuzz_dir" >&2
  exit 1
}

findings=$(pwd)/build/asan/fuzz-findings
mkdir -p "$findings"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# The video decoders' own leaks are left out (see the file); everything else leaking fails.
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$(pwd)/fuzz/codec-leaks.supp:print_suppressions=0}
export TV_FUZZ_SECONDS=$seconds TV_FUZZ_FINDINGS=$findings TV_FUZZ_TIMEOUT=${TV_FUZZ_TIMEOUT:-20}

# One fuzzer: its own working corpus (the seeds are never written to), its
# findings in its own folder, its output in a log that is shown on failure.
run_one() {
  local fuzzer=$1 name corpus work out rc
  name=$(basename "$fuzzer")
  [ -x "$fuzzer" ] || {
    echo "== $name: not built" >&2
    return 1
  }
  corpus="fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  if [ -d "$corpus" ]; then
    cp -r "$corpus"/. "$work"/
  fi
  out="$TV_FUZZ_FINDINGS/$name"
  mkdir -p "$out"
  rc=0
  "$fuzzer" -max_total_time="$TV_FUZZ_SECONDS" -timeout="$TV_FUZZ_TIMEOUT" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$out/" "$work" >/dev/null 2>"$work.log" || rc=$?
  if [ "$rc" -ne 0 ]; then
    echo "== $name: FAILED (exit $rc); the input is in $out/" >&2
    tail -50 "$work.log" >&2
  else
    echo "== $name: $(grep -o 'stat::number_of_executed_units: [0-9]*' "$work.log" | grep -o '[0-9]*$' || echo '?') runs, no finding"
  fi
  rm -rf "$work" "$work.log"
  return "$rc"
}
export -f run_one

# xargs answers non-zero when any run failed; every run still goes to its end.
printf '%s\n' "${fuzzers[@]}" | xargs -P "${TV_FUZZ_JOBS:-2}" -I{} bash -c 'run_one "$1"' _ {}
