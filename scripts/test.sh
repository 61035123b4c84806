#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: a plain build, an
# AddressSanitizer + UndefinedBehaviorSanitizer build, a ThreadSanitizer run of the
# database-thread tests and a bounded fuzzing run of every fuzz target.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/install-deps.sh

jobs=$(nproc)
out=${QN_BUILD_ROOT:-$root/build}

configure_build() {  # dir, cmake options...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
}

run_ctest() {  # dir, ctest options...
  local dir=$1; shift
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j "$jobs" "$@")
}

echo "== plain build"
configure_build "$out/plain"
cmake --build "$out/plain" -j "$jobs"
run_ctest "$out/plain"

echo "== address and undefined-behaviour sanitizers"
configure_build "$out/asan" -DQN_SANITIZE=address,undefined -DQN_BENCH=OFF
cmake --build "$out/asan" -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest "$out/asan"

if [ -d tests/threats ]; then
  echo "== thread sanitizer (database thread)"
  configure_build "$out/tsan" -DQN_SANITIZE=thread -DQN_BENCH=OFF
  cmake --build "$out/tsan" -j "$jobs" --target test_threats
  TSAN_OPTIONS=halt_on_error=1 run_ctest "$out/tsan" -L threats
fi

if [ -f tests/fuzz/CMakeLists.txt ]; then
  echo "== fuzzing"
  CC=clang CXX=clang++ configure_build "$out/fuzz" -DQN_FUZZ=ON -DQN_BENCH=OFF
  cmake --build "$out/fuzz" -j "$jobs" --target qn_fuzz_all
  bash tests/fuzz/run.sh "$out/fuzz/bin" "${QN_FUZZ_SECONDS:-105}"
fi

echo "== all tests passed"
