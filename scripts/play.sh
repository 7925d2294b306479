#!/usr/bin/env bash
# Installs what is missing, builds, builds the demo content and starts the game on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=$(bash scripts/build.sh release | tail -n 1)
build=$(cd "$build" && pwd)
"$build/tools/assetbuild/assetbuild" --manifest content/assets.txt --source content --out "$build/bin"
echo "The game does not run levels yet: it starts, opens the demo content and the sound device, and exits." >&2
cd "$build"
exec ./source/app/harmonize/harmonize "$@"
