#!/usr/bin/env bash
# Installs the Debian packages Terravue needs to build, run and test.
# Safe to run again: it asks apt only for what is missing and is quiet when
# everything is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libjpeg62-turbo-dev libpugixml-dev libexpat1-dev libicu-dev libgif-dev libcpp-httplib-dev libsqlite3-dev
  libheif-dev libpng-dev libwebp-dev libtiff-dev
  qt6-base-dev qt6-webengine-dev
  fonts-ipafont-gothic
  libjs-leaflet libjs-leaflet.markercluster
  libgtest-dev libgmock-dev libbenchmark-dev
  libimage-exiftool-perl libjpeg-turbo-progs
  clang libclang-rt-14-dev clang-format
  xvfb xauth
  libvips-tools imagemagick
  chromium
  python3 libxml2-utils unzip
  locales
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  sudo_cmd=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
