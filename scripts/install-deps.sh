#!/usr/bin/env bash
# Installs every Debian package the engine, the game, the tools and the tests need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libsdl2-dev libgl-dev libegl-dev libopenal-dev libbullet-dev
  libvorbis-dev libogg-dev libvpx-dev libstb-dev libdw-dev zlib1g-dev
  libegl-mesa0 libgl1-mesa-dri libglx-mesa0
  libxtst-dev
  xvfb xauth vorbis-tools vpx-tools sox gettext fonts-dejavu-core
  clang libclang-rt-14-dev rapidjson-dev
  imagemagick khronos-api
  libinih-dev libglm-dev locales python3
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=""
if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo_cmd apt-get update -qq
$sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
