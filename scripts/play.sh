#!/usr/bin/env bash
# Installs what is missing, builds (the demo content included) and starts the game on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=$(bash scripts/build.sh release | tail -n 1)
echo "The game does not run levels yet: it starts, opens the demo content and the sound device, and exits." >&2
cd "$build"
exec ./source/app/harmonize/harmonize "$@"
