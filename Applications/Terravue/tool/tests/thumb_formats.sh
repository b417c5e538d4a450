#!/bin/sh
# `thumb` and `load` on photos without a JPEG preview (HEIC, AVIF, PNG, TIFF)
# and a CR3 with its large preview: a thumbnail of the picture's shape that
# fills the 550 box; a damaged photo names its reason and leaves no file.
# Usage: thumb_formats.sh TOOL TESTDATA
set -u
tool=$1
formats=$2/formats
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# file, width, height of its thumbnail (upright: the crafted TIFF lies at 6)
for case in "mde-cheers_1440x960.heic 550 366" "mde-IMG_2927.HEIC 412 550" "exiv2-avif.avif 550 309" \
  "exiv2-imagemagick.png 550 362" "crafted/tiff-ii.tif 550 550" "crafted/cr3-prvw.cr3 412 550"; do
  set -- $case
  out=$work/thumb.jpg
  rm -f "$out"
  line=$("$tool" thumb "$formats/$1" "$out") || fail "thumb $1 failed"
  echo "$line" | grep -q "\"width\": $2" || fail "thumb $1: $line (want width $2)"
  echo "$line" | grep -q "\"height\": $3" || fail "thumb $1: $line (want height $3)"
  size=$(exiftool -s3 -ImageSize "$out")
  [ "$size" = "$2x$3" ] || fail "thumb $1: the file is $size"
done

# A cut HEIC: no thumbnail, the reason on standard error, exit status 1.
head -c 20000 "$formats/mde-cheers_1440x960.heic" >"$work/cut.heic"
"$tool" thumb "$work/cut.heic" "$work/cut.jpg" 2>"$work/err" && fail "a cut HEIC gave a thumbnail"
grep -q "0x8626" "$work/err" || fail "cut HEIC: $(cat "$work/err")"
[ ! -e "$work/cut.jpg" ] || fail "a cut HEIC left a file"

# load makes the same thumbnails in its work folder, and the cut one is "undecodable".
"$tool" load --work "$work/w" "$formats/mde-cheers_1440x960.heic" "$formats/exiv2-imagemagick.png" \
  "$formats/crafted/cr3-prvw.cr3" "$work/cut.heic" >"$work/load" || true
[ "$(grep -c '"thumbnail": "' "$work/load")" = 3 ] || fail "load: $(cat "$work/load")"
grep "cut.heic" "$work/load" | grep -q '"undecodable"' || fail "load: $(cat "$work/load")"
echo "thumb_formats passed"
