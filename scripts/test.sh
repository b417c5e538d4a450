#!/usr/bin/env bash
# Installs what is missing, builds Terravue with its tests and runs every test.
# Usage: scripts/test.sh [preset]   (default preset: ci, warnings as errors)
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-ci}"
scripts/setup.sh
jobs=$(nproc)
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$jobs"
# Qt WebEngine as root without a display: no sandbox, no GPU, the offscreen platform.
export QT_QPA_PLATFORM=offscreen
export QTWEBENGINE_DISABLE_SANDBOX=1
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"
ctest --preset "$preset" -j "$jobs"
