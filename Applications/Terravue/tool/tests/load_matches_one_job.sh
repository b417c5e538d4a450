#!/bin/bash
# `load` with several jobs prints what one job prints, and makes the same thumbnail files.
# Usage: load_matches_one_job.sh TOOL PHOTO_FOLDER
set -euo pipefail
tool=$1
photos=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mapfile -t files < <(find "$photos" -name '*.jpg' | sort)
files+=("$photos/no-such-photo.jpg" "$photos/README.md")
"$tool" load --work "$work/one" --jobs 1 "${files[@]}" | sed "s|$work/one/||" >"$work/one.jsonl"
"$tool" load --work "$work/many" --jobs 3 "${files[@]}" | sed "s|$work/many/||" >"$work/many.jsonl"
lines=$(wc -l <"$work/one.jsonl")
if [ "$lines" -lt 50 ]; then
  echo "only $lines pictures loaded" >&2
  exit 1
fi
grep -q '"status": "ok"' "$work/one.jsonl"
grep -q '"status": "missing"' "$work/one.jsonl"
diff -u "$work/one.jsonl" "$work/many.jsonl"
diff <(cd "$work/one" && ls) <(cd "$work/many" && ls)
