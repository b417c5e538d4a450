#!/bin/sh
# What set-gps, geotag and load tell about each photo: coordinate texts that
# cannot be written exactly leave every photo unchanged with one line each;
# the written forms are stored exactly; geotag names each photo it could not
# write and keeps file dates on request; load names only thumbnails that
# exist. Arguments: the tool, the project's testdata folder.
set -u
tool=$1
data=$2
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
photo="$data/camera/exiftool-GPS.jpg"

# Texts that cannot be written exactly: exit 1, one line per photo naming it
# and the reason, and the photos stay as they were.
for bad in "N:35:37:32.828xyz" "E:139:44.5:00.000" "35.123456789" "-35 N" "91"; do
  cp "$photo" "$work/a.jpg"
  cp "$photo" "$work/b.jpg"
  case "$bad" in
    E:*) "$tool" set-gps --lat 35 --lng "$bad" "$work/a.jpg" "$work/b.jpg" 2>"$work/err.txt" ;;
    *) "$tool" set-gps --lat "$bad" --lng 139 "$work/a.jpg" "$work/b.jpg" 2>"$work/err.txt" ;;
  esac
  rc=$?
  [ $rc -eq 1 ] || fail "set-gps \"$bad\" exited with $rc"
  [ "$(wc -l <"$work/err.txt")" -eq 2 ] || fail "set-gps \"$bad\": expected two lines, got: $(cat "$work/err.txt")"
  grep -q "^$work/a.jpg: .*not written: .*(0x860b)" "$work/err.txt" || fail "set-gps \"$bad\": no line for a.jpg"
  grep -q "^$work/b.jpg: .*not written: .*(0x860b)" "$work/err.txt" || fail "set-gps \"$bad\": no line for b.jpg"
  cmp -s "$work/a.jpg" "$photo" || fail "set-gps \"$bad\" changed a.jpg"
  cmp -s "$work/b.jpg" "$photo" || fail "set-gps \"$bad\" changed b.jpg"
done

# The written forms, stored exactly as typed.
check_written() {
  lat=$1 lng=$2 want_lat=$3 want_lng=$4
  cp "$photo" "$work/c.jpg"
  "$tool" set-gps --lat "$lat" --lng "$lng" "$work/c.jpg" 2>"$work/err.txt" || fail "set-gps $lat $lng: $(cat "$work/err.txt")"
  line=$("$tool" info "$work/c.jpg" | tr -d ' ')
  echo "$line" | grep -q "\"gps_lat\":$want_lat" || fail "set-gps $lat: stored $line"
  echo "$line" | grep -q "\"gps_lng\":$want_lng" || fail "set-gps $lng: stored $line"
}
check_written 35.6258 139.74 '\[\[35,1\],\[37,1\],\[328800,10000\]\]' '\[\[139,1\],\[44,1\],\[2400,100\]\]'
check_written N:35:37:32.8 W:139:44:30.125 '\[\[35,1\],\[37,1\],\[328,10\]\]' '\[\[139,1\],\[44,1\],\[30125,1000\]\]'
check_written "35 37.5467 S" "139°44'30\"E" '\[\[35,1\],\[375467,10000\],\[0,1\]\]' '\[\[139,1\],\[44,1\],\[30,1\]\]'
"$tool" info "$work/c.jpg" | tr -d ' ' | grep -q '"gps_lat_ref":"S"' || fail "set-gps \"35 37.5467 S\" did not store S"

# geotag: a photo it cannot write is named on the error stream with its
# reason and stays as it was; --preserve-mtime keeps the written photo's date.
cat >"$work/track.gpx" <<'GPX'
<?xml version="1.0"?>
<gpx version="1.1" creator="test" xmlns="http://www.topografix.com/GPX/1/1"><trk><trkseg>
<trkpt lat="35.5" lon="139.5"><ele>12.5</ele><time>2002-07-13T15:58:28Z</time></trkpt>
</trkseg></trk></gpx>
GPX
cp "$photo" "$work/good.jpg"
cp "$photo" "$work/locked.jpg"
chmod 644 "$work/good.jpg"
chmod 444 "$work/locked.jpg"
touch -d '2001-02-03 04:05:06' "$work/good.jpg"
"$tool" geotag --track "$work/track.gpx" --tz +00:00 --preserve-mtime "$work/good.jpg" "$work/locked.jpg" \
  >"$work/out.raw" 2>"$work/err.txt"
rc=$?
tr -d ' ' <"$work/out.raw" >"$work/out.txt"
[ $rc -eq 1 ] || fail "geotag exited with $rc"
[ "$(wc -l <"$work/err.txt")" -eq 1 ] || fail "geotag: expected one line, got: $(cat "$work/err.txt")"
grep -q "^$work/locked.jpg: .*write-protected.*(0x8609)" "$work/err.txt" || fail "geotag: no line for locked.jpg"
cmp -s "$work/locked.jpg" "$photo" || fail "geotag changed the write-protected photo"
cmp -s "$work/good.jpg" "$photo" && fail "geotag did not write the good photo"
grep -q "\"path\":\"$work/good.jpg\",\"status\":\"exact\".*\"written\":true" "$work/out.txt" ||
  fail "geotag: $(cat "$work/out.txt")"
[ "$(date -r "$work/good.jpg" +%Y%m%d%H%M%S)" = 20010203040506 ] || fail "geotag did not keep the file date"

# load: a photo whose thumbnail could not be made names no thumbnail.
head -c 1500 "$photo" >"$work/cut.jpg"
"$tool" load --work "$work/thumbs" "$photo" "$work/cut.jpg" 2>/dev/null | tr -d ' ' >"$work/load.txt"
grep "\"path\":\"$work/cut.jpg\"" "$work/load.txt" | grep -q '"thumbnail":null' ||
  fail "load named a thumbnail that was not written: $(cat "$work/load.txt")"
grep "\"path\":\"$photo\"" "$work/load.txt" | grep -q '"thumbnail":"/' || fail "load: $(cat "$work/load.txt")"
echo "ok"
