#!/bin/sh
# restore: photos written by set-gps (twice) come back byte for byte, with their old file time;
# a photo changed since is left as it is; remove-gps forgets the photo's journal entries; the
# journal is the user's only. Arguments: the tool, the project's testdata folder.
set -u
tool=$1
data=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export XDG_DATA_HOME="$work/data"
journal="$XDG_DATA_HOME/terravue/journal"

cp "$data/camera/mdx-Canon_EOS_1000D.jpg" "$work/a.jpg"
cp "$data/camera/exiftool-GPS.jpg" "$work/b.jpg"
touch -d "2010-01-01 12:00:00" "$work/a.jpg"
cp -p "$work/a.jpg" "$work/a-original.jpg"
cp -p "$work/b.jpg" "$work/b-original.jpg"

"$tool" set-gps --lat 35.5 --lng 135.25 "$work/a.jpg" "$work/b.jpg" || fail "first set-gps"
"$tool" set-gps --lat 36 --lng 136 "$work/a.jpg" || fail "second set-gps"
cmp -s "$work/a.jpg" "$work/a-original.jpg" && fail "set-gps did not change a.jpg"
[ "$(ls "$journal" | wc -l)" -eq 3 ] || fail "expected three journal entries: $(ls "$journal")"
[ "$(stat -c %a "$journal")" = 700 ] || fail "the journal folder is not the user's only"
for entry in "$journal"/*; do
  [ "$(stat -c %a "$entry")" = 600 ] || fail "journal entry $entry is not the user's only"
done

# A dry run changes nothing.
"$tool" restore --dry-run "$work/a.jpg" >"$work/dry.txt" || fail "restore --dry-run"
grep -q '"status": "would restore", "steps": 2' "$work/dry.txt" || fail "dry run said: $(cat "$work/dry.txt")"
cmp -s "$work/a.jpg" "$work/a-original.jpg" && fail "the dry run restored a.jpg"

"$tool" restore "$work/a.jpg" >"$work/out.txt" || fail "restore a.jpg: $(cat "$work/out.txt")"
grep -q '"status": "restored", "steps": 2' "$work/out.txt" || fail "restore said: $(cat "$work/out.txt")"
cmp -s "$work/a.jpg" "$work/a-original.jpg" || fail "a.jpg is not the original again"
[ "$(stat -c %Y "$work/a.jpg")" = "$(stat -c %Y "$work/a-original.jpg")" ] || fail "a.jpg did not get its old time back"
"$tool" restore "$work/a.jpg" >"$work/out.txt" && fail "a second restore of a.jpg succeeded"
grep -q '"status": "nothing kept"' "$work/out.txt" || fail "second restore said: $(cat "$work/out.txt")"

# A photo another program changed since is not touched.
printf 'x' >>"$work/b.jpg"
cp "$work/b.jpg" "$work/b-changed.jpg"
"$tool" restore "$work/b.jpg" >"$work/out.txt" && fail "restore of a changed photo succeeded"
grep -q '"status": "changed since"' "$work/out.txt" || fail "changed photo: $(cat "$work/out.txt")"
cmp -s "$work/b.jpg" "$work/b-changed.jpg" || fail "restore touched a changed photo"

# Removing a position for privacy forgets the older positions kept for the photo.
cp "$work/b-original.jpg" "$work/c.jpg"
"$tool" set-gps --lat 10 --lng 10 "$work/c.jpg" || fail "set-gps c.jpg"
before=$(ls "$journal" | wc -l)
"$tool" remove-gps "$work/c.jpg" || fail "remove-gps"
[ "$(ls "$journal" | wc -l)" -eq $((before - 1)) ] || fail "remove-gps left the photo's journal entry"
"$tool" restore "$work/c.jpg" >"$work/out.txt"
grep -q '"status": "nothing kept"' "$work/out.txt" || fail "after remove-gps: $(cat "$work/out.txt")"
echo "restore checks passed"
