#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   scripts/test.sh            the normal build
#   scripts/test.sh asan       AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/test.sh tsan       ThreadSanitizer
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
config="${1:-release}"
build=$(bash scripts/build.sh "$config" | tail -n 1)
export ALSOFT_DRIVERS="${ALSOFT_DRIVERS:-null}"
if [ "$config" = asan ]; then export ASAN_OPTIONS="detect_leaks=0:${ASAN_OPTIONS:-}"; fi
# One X server around the whole run: the OpenGL tests draw into real windows.
xvfb-run -a -s "-screen 0 1920x1080x24" \
  ctest --test-dir "$build" --output-on-failure -j "$(nproc)" --timeout 600
# A short smoke run of the fuzz targets, so they keep building (scripts/fuzz.sh runs them longer).
bash scripts/fuzz.sh 5
