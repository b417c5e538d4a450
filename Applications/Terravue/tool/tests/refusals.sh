#!/bin/sh
# set-gps and remove-gps leave protected and damaged photos as they are, exit
# with 1 and name each of them with its reason on one line; --preserve-mtime
# keeps the file date. Arguments: the tool, the project's testdata folder.
set -u
tool=$1
data=$2
work=$(mktemp -d)
trap 'chattr -i "$work"/* 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

for command in set-gps remove-gps; do
  rm -f "$work"/*
  cp "$data/camera/exiftool-GPS.jpg" "$work/good.jpg"
  cp "$data/camera/exiftool-GPS.jpg" "$work/locked.jpg"
  cp "$data/rewrite/exif-subdir-dropped.jpg" "$work/damaged.jpg"
  chmod 644 "$work/good.jpg" "$work/damaged.jpg"
  chmod 444 "$work/locked.jpg"
  cp -p "$work/locked.jpg" "$work/locked.orig"
  cp -p "$work/damaged.jpg" "$work/damaged.orig"
  cp -p "$work/good.jpg" "$work/good.orig"
  touch -d '2001-02-03 04:05:06' "$work/good.jpg"
  if [ "$command" = set-gps ]; then
    "$tool" set-gps --preserve-mtime --lat 10 --lng 20 "$work/good.jpg" "$work/locked.jpg" "$work/damaged.jpg" \
      2>"$work/err.txt"
  else
    "$tool" remove-gps --preserve-mtime "$work/good.jpg" "$work/locked.jpg" "$work/damaged.jpg" 2>"$work/err.txt"
  fi
  rc=$?
  [ $rc -eq 1 ] || fail "$command exited with $rc"
  [ "$(wc -l <"$work/err.txt")" -eq 2 ] || fail "$command: expected two lines, got: $(cat "$work/err.txt")"
  grep -q "^$work/locked.jpg: .*write-protected.*(0x8609)" "$work/err.txt" || fail "$command: no line for locked.jpg"
  grep -q "^$work/damaged.jpg: .*damaged.*(0x8608)" "$work/err.txt" || fail "$command: no line for damaged.jpg"
  cmp -s "$work/locked.jpg" "$work/locked.orig" || fail "$command changed the write-protected photo"
  cmp -s "$work/damaged.jpg" "$work/damaged.orig" || fail "$command changed the damaged photo"
  cmp -s "$work/good.jpg" "$work/good.orig" && fail "$command did not change the good photo"
  [ "$(date -r "$work/good.jpg" +%Y%m%d%H%M%S)" = 20010203040506 ] || fail "$command did not keep the file date"
  [ "$(ls "$work" | grep -c -- '-[0-9]*$')" -eq 0 ] || fail "$command left temporary files"
done
echo "ok"
