#!/usr/bin/env bash
# Installs what is missing, builds, and starts the game on the demo content.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=$(bash scripts/build.sh release | tail -n 1)
if [ ! -x "$build/source/app/harmonize/harmonize" ]; then
  echo "The game program is not part of the engine yet: this build holds the engine's libraries and their tests." >&2
  exit 1
fi
exec "$build/source/app/harmonize/harmonize" "$@"
