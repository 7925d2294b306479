#!/usr/bin/env bash
# Builds the fuzz targets (tests/fuzz/) with clang and libFuzzer in build/fuzz
# and runs each one for a bounded time:
#   scripts/fuzz.sh [seconds per target, default 5] [target...]
# The corpus grows in build/fuzz/corpus/<target>; the committed seeds under
# tests/fuzz/seeds/<target> are read but never changed. A crash leaves its input
# in build/fuzz/artifacts/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-5}"
shift || true
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  # Every target the fuzz folder declares, in the order it declares them.
  mapfile -t targets < <(sed -n 's/^quern_add_fuzzer(\([A-Za-z0-9_]*\))$/\1/p' tests/fuzz/CMakeLists.txt)
fi

export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
build=build/fuzz
# Warnings are the normal build's business (GCC, -Werror); clang's own set is
# silenced here so this build only has to compile.
if [ ! -f "$build/build.ninja" ]; then
  cmake -S . -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link -w" -DCMAKE_C_FLAGS="-fsanitize=fuzzer-no-link -w" \
    -DQUERN_FUZZ=ON -DQUERN_SANITIZE=ON -DQUERN_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j "${QUERN_JOBS:-3}" --target "${targets[@]}" >&2

mkdir -p "$build/artifacts"
export ASAN_OPTIONS="allocator_may_return_null=1:${ASAN_OPTIONS:-}"
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus"
  seeds=()
  if [ -d "tests/fuzz/seeds/$target" ]; then seeds=("tests/fuzz/seeds/$target"); fi
  dict=()
  if [ -f "tests/fuzz/$target.dict" ]; then dict=(-dict="tests/fuzz/$target.dict"); fi
  echo "== $target: ${seconds}s" >&2
  "$build/tests/fuzz/$target" -max_total_time="$seconds" -print_final_stats=1 -close_fd_mask=3 \
    -artifact_prefix="$build/artifacts/$target-" "${dict[@]}" "$corpus" "${seeds[@]}" 2>&1 |
    grep -E '^(stat::|INFO: (Running|Loaded|seed)|==[0-9]+==|SUMMARY|Done|#[0-9]+ +DONE)' >&2 || true
  # The pipe hides libFuzzer's status: a crash shows as a new artifact.
  if ls "$build/artifacts/$target-"* >/dev/null 2>&1; then
    echo "$target found a crash: $(ls "$build/artifacts/$target-"*)" >&2
    exit 1
  fi
done
