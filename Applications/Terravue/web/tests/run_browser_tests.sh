#!/usr/bin/env bash
# Runs the map page tests in headless Chromium against the real terravue-server.
# Usage: run_browser_tests.sh PROGRAM_FOLDER SHARED_VECTORS_JSON REFERENCE_PROGRAM
set -euo pipefail
cd "$(dirname "$0")"
if [ ! -x /usr/bin/chromium ]; then
  echo "chromium is not installed (scripts/setup.sh installs it)" >&2
  exit 1
fi
# playwright-core only drives the system's Chromium; it downloads no browser.
npm ci --no-audit --no-fund --loglevel=error >/dev/null
export TV_PROGRAM_DIR="$1"
export TV_SHARED_VECTORS="$2"
export TV_REFERENCE="$3"
exec node --test --test-concurrency=1 browser.test.mjs
