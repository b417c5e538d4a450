#!/usr/bin/env bash
# Installs Terravue into a temporary prefix and checks what is there: every
# installed file, the desktop entry and the AppStream data through their
# validators, the manual pages through groff with all warnings, the installed
# server and program finding their files; then makes the Debian package and
# checks it with lintian (errors fail, warnings are listed).
#
# Usage: scripts/check-install.sh [BUILD_DIR] [--apt]
#   BUILD_DIR  an existing build to install from (default: a release build in
#              build/package with Debian's hardening flags)
#   --apt      also installs the package on this machine with apt and starts
#              the installed program
set -euo pipefail
cd "$(dirname "$0")/.."

build=""
with_apt=0
for arg in "$@"; do
  case "$arg" in
    --apt) with_apt=1 ;;
    *) build="$arg" ;;
  esac
done

fail() {
  echo "check-install: $*" >&2
  exit 1
}

scripts/setup.sh
# The checkers, installed quietly when missing.
tools=(desktop-file-utils appstream lintian groff-base man-db dpkg-dev curl)
missing=()
for p in "${tools[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

jobs=$(nproc)
if [ -z "$build" ]; then
  build=build/package
  # Every hardening feature, as Debian's packages are built (bindnow included).
  export DEB_BUILD_MAINT_OPTIONS=hardening=+all
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTV_BUILD_TESTS=OFF -DTV_BUILD_UI=ON \
    "-DCMAKE_C_FLAGS=$(dpkg-buildflags --get CFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    "-DCMAKE_CXX_FLAGS=$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    "-DCMAKE_EXE_LINKER_FLAGS=$(dpkg-buildflags --get LDFLAGS)" >/dev/null
fi
cmake --build "$build" -j "$jobs" >/dev/null
build=$(cd "$build" && pwd)

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# --- the installed tree ---------------------------------------------------------------------
prefix="$work/usr"
cmake --install "$build" --prefix "$prefix" >/dev/null
expected=(
  bin/terravue bin/terravue-tool bin/terravue-server
  share/terravue/map.html share/terravue/wait.htm share/terravue/terravue_page.html
  share/terravue/terravue.js share/terravue/terravue.css
  share/terravue/pin_std1.png share/terravue/pin_std2.png share/terravue/GPS.gif
  share/terravue/help_ENU_11.html share/terravue/help_JPN_11.html share/terravue/places.tvp
  share/terravue/zones.tvz
  share/applications/org.terravue.Terravue.desktop
  share/metainfo/org.terravue.Terravue.metainfo.xml
  share/icons/hicolor/scalable/apps/terravue.svg
  share/man/man1/terravue.1.gz share/man/man1/terravue-tool.1.gz share/man/man1/terravue-server.1.gz
  share/doc/terravue/copyright share/doc/terravue/changelog.gz
)
for size in 16 22 24 32 48 64 128; do
  expected+=("share/icons/hicolor/${size}x${size}/apps/terravue.png")
done
for f in "${expected[@]}"; do
  [ -s "$prefix/$f" ] || fail "missing after install: $f"
done
for f in bin/terravue bin/terravue-tool bin/terravue-server; do
  [ -x "$prefix/$f" ] || fail "not executable: $f"
done
# A PNG file's width and height are the two big-endian numbers after its header's "IHDR".
png_size() {
  od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", (($1 * 256 + $2) * 256 + $3) * 256 + $4, (($5 * 256 + $6) * 256 + $7) * 256 + $8 }'
}
for size in 16 22 24 32 48 64 128; do
  actual=$(png_size "$prefix/share/icons/hicolor/${size}x${size}/apps/terravue.png")
  [ "$actual" = "${size}x${size}" ] || fail "the ${size}x${size} icon is $actual"
done
# The installed tool finds the installed place index.
"$prefix/bin/terravue-tool" where 35.0116 135.7681 | grep -q '"name": "Kyoto"' ||
  fail "the installed terravue-tool does not find its place index"
# And the installed time-zone map.
"$prefix/bin/terravue-tool" where --date 2024-07-01 35.0116 135.7681 | grep -q '"zone": "Asia/Tokyo", "utc_offset": "+09:00"' ||
  fail "the installed terravue-tool does not find its time-zone map"
# The map library travels inside the page script.
grep -Eq 'leaflet(\.min)?\.js \(libjs-leaflet' "$prefix/share/terravue/terravue.js" || fail "terravue.js carries no Leaflet"
grep -Eq 'leaflet\.markercluster(\.min)?\.js \(libjs-leaflet' "$prefix/share/terravue/terravue.js" ||
  fail "terravue.js carries no marker clustering"
# Nothing from the build or test tree is installed.
unexpected=$(find "$prefix" -type f | grep -E '/(tst_|tv_)|_tests$|\.a$|CMakeFiles' || true)
[ -z "$unexpected" ] || fail "installed by mistake: $unexpected"
echo "installed tree: ${#expected[@]} files present"

# --- validators -----------------------------------------------------------------------------
desktop-file-validate "$prefix/share/applications/org.terravue.Terravue.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/org.terravue.Terravue.metainfo.xml" >"$work/appstream.out" ||
  fail "the AppStream data does not validate: $(cat "$work/appstream.out")"
for page in terravue terravue-tool terravue-server; do
  warnings=$(zcat "$prefix/share/man/man1/$page.1.gz" | LC_ALL=C.UTF-8 groff -ww -man -Tutf8 -z 2>&1)
  [ -z "$warnings" ] || fail "groff warns about $page.1: $warnings"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$prefix/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man warns about $page.1: $warnings"
done
echo "desktop entry, AppStream data and manual pages validate"

# --- the installed programs find their files -------------------------------------------------
"$prefix/bin/terravue-server" --port 0 >"$work/server.out" 2>&1 &
pids+=($!)
url=""
for _ in $(seq 100); do
  url=$(sed -n 's|^Terravue server listening on \(http://[^ ]*\)/$|\1|p' "$work/server.out")
  [ -n "$url" ] && break
  sleep 0.1
done
[ -n "$url" ] || fail "the installed server did not start: $(cat "$work/server.out")"
code=$(curl -s -o /dev/null -w '%{http_code}' "$url/www/gps/terravue/script/GPS.gif")
[ "$code" = 200 ] || fail "the installed server does not serve its files (HTTP $code)"
code=$(curl -s -o /dev/null -w '%{http_code}' "$url/www/gps/terravue/help/help_JPN_11.html")
[ "$code" = 200 ] || fail "the installed server does not serve the help pages (HTTP $code)"
kill "${pids[-1]}"
echo "installed server serves its page files from $url"

# The program on the offscreen platform in a home of its own: it takes its
# lock and opens the socket beside it only after it has found its start page.
check_program() {
  local program="$1" home="$work/home.$RANDOM"
  mkdir -p "$home/runtime" "$home/config" "$home/data" "$home/Documents"
  chmod 700 "$home/runtime"
  local env_vars=(HOME="$home" XDG_RUNTIME_DIR="$home/runtime" XDG_CONFIG_HOME="$home/config"
    XDG_DATA_HOME="$home/data" XDG_CONFIG_DIRS="$home/config" QT_QPA_PLATFORM=offscreen
    QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS=--disable-gpu)
  env "${env_vars[@]}" "$program" >"$home/out" 2>&1 &
  local pid=$!
  pids+=("$pid")
  local socket="$home/runtime/Pictavo - Terravue.socket"
  for _ in $(seq 300); do
    [ -S "$socket" ] && break
    kill -0 "$pid" 2>/dev/null || fail "$program ended at once (page files not found?): $(cat "$home/out")"
    sleep 0.1
  done
  [ -S "$socket" ] || fail "$program did not start"
  # A second start hands a photo over and ends.
  "$prefix/bin/terravue-tool" make-photos --count 1 --size 64x48 "$home/photos" >/dev/null
  env "${env_vars[@]}" timeout 30 "$program" "$home/photos/photo_0001.jpg" ||
    fail "a second start of $program did not hand its photo over"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  echo "$program starts, finds its files and takes photos from a second start"
}
check_program "$prefix/bin/terravue"

# --- the Debian package ---------------------------------------------------------------------
rm -f "$build"/terravue_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/terravue_*.deb)
dpkg-deb --info "$deb" | sed -n 's/^ \(Depends\|Recommends\):/  \1:/p'
lintian_status=0
lintian --fail-on error "$deb" >"$work/lintian.raw" 2>&1 || lintian_status=$?
# (lintian's note about running as root concerns lintian, not the package)
grep -v 'running with root privileges' "$work/lintian.raw" >"$work/lintian.out" || true
if [ "$lintian_status" -ne 0 ]; then
  cat "$work/lintian.out"
  fail "lintian reports errors"
fi
if [ -s "$work/lintian.out" ]; then
  echo "lintian warnings and notes:"
  sed 's/^/  /' "$work/lintian.out"
fi
echo "package $(basename "$deb") passes lintian"

if [ "$with_apt" -eq 1 ]; then
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "$deb" >/dev/null
  dpkg-query -W -f='${Status}\n' terravue | grep -q 'install ok installed' || fail "apt did not install the package"
  prefix=/usr
  check_program /usr/bin/terravue
fi
echo "install checks passed"
