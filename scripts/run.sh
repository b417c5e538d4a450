#!/usr/bin/env bash
# Installs what is missing, builds Terravue and starts it with the photos given.
# Given no photos, it opens a few demo photos, made once by the project's own
# generator in the user's data folder (…/Terravue/demo).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
# The program needs the Qt layer whatever an earlier configuration chose.
cmake --preset dev -DTV_BUILD_TESTS=OFF -DTV_BUILD_UI=ON >/dev/null
cmake --build --preset dev -j "$(nproc)" --target terravue terravue-tool
program=build/dev/Applications/Terravue/terravue
tool=build/dev/Applications/Terravue/tool/terravue-tool
if [ ! -x "$program" ]; then
  echo "The Terravue program is not built yet." >&2
  exit 1
fi

if [ $# -eq 0 ]; then
  data_home="${XDG_DATA_HOME:-}"
  # The base-directory rules ignore a relative XDG_DATA_HOME.
  case "$data_home" in /*) ;; *) data_home="$HOME/.local/share" ;; esac
  demo="$data_home/Terravue/demo"
  shopt -s nullglob nocaseglob
  photos=("$demo"/*.jpg)
  if [ ${#photos[@]} -eq 0 ]; then
    if [ ! -x "$tool" ]; then
      echo "The demo photo generator (terravue-tool) is not built; starting without photos." >&2
    else
      mkdir -p "$demo"
      "$tool" make-photos --count 6 --without-position 2 "$demo"
      photos=("$demo"/*.jpg)
    fi
  fi
  shopt -u nullglob nocaseglob
  set -- "${photos[@]}"
fi
exec "$program" "$@"
