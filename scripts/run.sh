#!/usr/bin/env bash
# Installs what is missing, builds Terravue and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset dev -DTV_BUILD_TESTS=OFF >/dev/null
cmake --build --preset dev -j "$(nproc)"
if [ ! -x build/dev/Applications/Terravue/terravue ]; then
  echo "The Terravue program is not built yet." >&2
  exit 1
fi
exec build/dev/Applications/Terravue/terravue "$@"
