#!/usr/bin/env bash
# Configures and builds one configuration: build.sh [release|asan|tsan|valgrind]
# Prints the build folder on its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
config="${1:-release}"
flags=()
case "$config" in
  release)  ;;
  asan)     flags+=(-DQUERN_SANITIZE=ON -DQUERN_BUILD_BENCH=OFF) ;;
  tsan)     flags+=(-DQUERN_TSAN=ON -DQUERN_BUILD_BENCH=OFF) ;;
  valgrind) flags+=(-DQUERN_SYSTEM_ALLOCATOR=ON -DQUERN_BUILD_BENCH=OFF) ;;
  *) echo "unknown configuration: $config" >&2; exit 2 ;;
esac
# A fresh clone in another folder still hits the compiler cache.
export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1 CCACHE_SLOPPINESS=pch_defines,time_macros
build="build/$config"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache "${flags[@]}" >/dev/null
fi
jobs="${QUERN_JOBS:-$(nproc)}"
cmake --build "$build" -j "$jobs" >&2
echo "$build"
