#!/usr/bin/env bash
# Installs what is missing, builds (the demo content included) and starts the game on it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=$(bash scripts/build.sh release | tail -n 1)
echo "The game does not play levels yet, and it draws nothing: it opens an empty window on the demo content" \
  "with the null graphics back end (--graphics-backEnd=opengl opens it with OpenGL, with nothing to draw yet)." \
  "Close the window to quit." >&2
cd "$build"
exec ./source/app/harmonize/harmonize --graphics-backEnd=null "$@"
