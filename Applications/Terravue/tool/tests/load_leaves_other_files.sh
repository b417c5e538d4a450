#!/bin/bash
# `load` writes thumbnails only as new files under free names: photos in the
# work folder are refused and named, a link with a thumbnail's name is not
# followed; interrupted or terminated it takes its thumbnails with it, and the
# next load removes what a killed one left (and nothing of the user's).
# Usage: load_leaves_other_files.sh TOOL PHOTO_FOLDER
set -uo pipefail
# Job control: background loads get SIGINT like a load in a terminal does.
set -m
tool=$1
photos=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
photo=$photos/exifpy-DSCN0010.jpg
other=$photos/exifpy-Canon_40D.jpg
src=$work/src
mkdir "$src"
cp "$photo" "$src/one.jpg"

# Photos of the work folder: "Open with" on a thumbnail, and a photo of the
# user's named like one.
w=$work/w
mkdir "$w"
cp "$photo" "$w/cache_0.jpg"
cp "$other" "$w/cache_1.jpg"
"$tool" load --work "$w" "$w/cache_0.jpg" "$src/one.jpg" >"$work/out" 2>"$work/err"
rc=$?
[ $rc -eq 1 ] || fail "a refused photo gave exit $rc"
grep -q "^$w/cache_0.jpg: lies in the work folder; not loaded$" "$work/err" || fail "no line for the refused photo"
cmp -s "$w/cache_0.jpg" "$photo" || fail "the photo in the work folder changed"
cmp -s "$w/cache_1.jpg" "$other" || fail "the photo named like a thumbnail changed"
[ "$(wc -l <"$work/out")" -eq 1 ] || fail "expected one picture: $(cat "$work/out")"
grep -q "\"thumbnail\": \"$w/cache_2.jpg\"" "$work/out" || fail "the thumbnail took a taken name: $(cat "$work/out")"

# A link under a thumbnail's name is passed over, not written through.
w=$work/linked
mkdir "$w"
cp "$other" "$work/victim.jpg"
ln -s "$work/victim.jpg" "$w/cache_0.jpg"
"$tool" load --work "$w" "$src/one.jpg" >"$work/out" 2>"$work/err" || fail "load beside a link failed"
[ -L "$w/cache_0.jpg" ] || fail "the link was replaced"
cmp -s "$work/victim.jpg" "$other" || fail "the photo behind the link changed"
grep -q "\"thumbnail\": \"$w/cache_1.jpg\"" "$work/out" || fail "the link's name was used: $(cat "$work/out")"

# Enough distinct photos that a load runs for a while.
for i in $(seq 1 200); do
  cp "$photo" "$src/p$i.jpg"
done

# Starts a load of every photo into $1 and waits until it has made two thumbnails.
start_load() {
  "$tool" load --work "$1" --jobs 2 "$src"/p*.jpg >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 300); do
    [ -e "$1/cache_1.jpg" ] && return 0
    sleep 0.1
  done
  fail "no thumbnail appeared in $1"
}

for signal in INT TERM; do
  w=$work/signal-$signal
  mkdir "$w"
  start_load "$w"
  kill -s "$signal" "$pid" || fail "the load ended before SIG$signal"
  wait "$pid"
  rc=$?
  [ $rc -eq $((128 + $(kill -l "$signal"))) ] || fail "SIG$signal: exit $rc"
  [ -z "$(ls -A "$w")" ] || fail "SIG$signal left: $(ls -A "$w" | head -5)"
done

# Killed outright, the load leaves its thumbnails and its list; the next load
# in that folder removes them, and keeps what the user put there.
w=$work/killed
mkdir "$w"
cp "$other" "$w/cache_999999.jpg"
start_load "$w"
kill -s KILL "$pid" || fail "the load ended before SIGKILL"
wait "$pid"
left=$(compgen -G "$w/cache_*.jpg" | wc -l)
[ "$left" -gt 1 ] || fail "the killed load left no thumbnail to clean up"
compgen -G "$w/.terravue-thumbnails-*" >/dev/null || fail "the killed load left no list"
"$tool" load --work "$w" "$src/one.jpg" >"$work/out" 2>"$work/err" || fail "the next load failed: $(cat "$work/err")"
[ "$(ls -A "$w" | sort | tr '\n' ' ')" = "cache_0.jpg cache_999999.jpg " ] || fail "after the next load: $(ls -A "$w")"
cmp -s "$w/cache_999999.jpg" "$other" || fail "the user's file changed"
echo "ok"
