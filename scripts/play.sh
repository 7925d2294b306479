#!/usr/bin/env bash
# Installs what is missing, builds (the demo content included) and starts the
# game in build/release/game, where the content tool put its bin/ folder and
# where its log and settings land: windowed, on OpenGL, on the user's display,
# or on a virtual X server when $DISPLAY is not set.
# Arguments pass through to the game (a later option overrides an earlier one).
# With QUERN_PLAY_WAVE=<file>, OpenAL Soft's wave writer captures the sound
# into that file instead of a sound card (handy headless).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=$(bash scripts/build.sh release | tail -n 1)
game="$PWD/$build/game"
program="$PWD/$build/source/app/harmonize/harmonize"
echo "The game draws its demo levels and plays their music and ambience; objects move on their clips, there is no menu. The HUD is on --startLevel=levels/hud: a fade-in, a sign naming the harmonize key (or showing the controller's button once one was used) and six shards that fill the counter in the top-left corner; add --language=fr for its French texts and a subtitle." \
  "The player moves on the moves level, the camera trailing it: add --startLevel=levels/moves (A/D or arrows, W/S along walls, Space jumps, Return changes race); the level rules (pads, portals, moving platforms, a save point, race walls, gravity zones, the goal) are on --startLevel=levels/rules; the hazards (missile launchers, flying enemies, an alarm machine, water jets) on --startLevel=levels/hazards." \
  "Its log and settings go to $game; the progress persists between runs in $game/default.save." >&2
run=("$program" --userFilePath="$game" --fullscreen=0 "$@")
if [ -n "${QUERN_PLAY_WAVE:-}" ]; then
  wave=$(realpath -m "$QUERN_PLAY_WAVE")
  printf '[wave]\nfile=%s\n' "$wave" >"$game/alsoft-wave.conf"
  export ALSOFT_CONF="$game/alsoft-wave.conf" ALSOFT_DRIVERS=wave
  echo "The sound goes to $wave." >&2
fi
cd "$game"
if [ -n "${DISPLAY:-}" ]; then
  echo "Close the window to quit." >&2
  exec "${run[@]}"
fi

echo "There is no display (\$DISPLAY is not set): the window opens on a virtual X server. Press Ctrl+C to quit." >&2
# Ctrl+C would also reach the virtual X server, and the game would lose its
# display in the middle of a frame. The server runs in a session of its own;
# the game alone is told to quit (SIGTERM, as closing its window does), then
# xvfb-run ends the server.
pidfile=$(mktemp)
trap 'rm -f "$pidfile"' EXIT
setsid xvfb-run -a -s "-screen 0 1920x1080x24" sh -c 'echo $$ >"$0"; exec "$@"' "$pidfile" "${run[@]}" &
server=$!
trap 'if [ -s "$pidfile" ]; then kill -TERM "$(cat "$pidfile")" 2>/dev/null || true; fi' INT TERM
status=0
while :; do
  wait "$server" && status=0 || status=$?
  kill -0 "$server" 2>/dev/null || break
done
exit "$status"
