#!/usr/bin/env bash
# Installs what is missing, builds the normal and the sanitizer configurations
# (and the fuzz targets with clang), and runs every test through CTest.
# Exit status 0 only when every test passes.
set -uo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh || exit 1
jobs=$(nproc)
status=0

build() {  # dir, cmake options...
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null && cmake --build "$dir" -j"$jobs" "${TARGETS[@]}"
}

TARGETS=()
build build -DCMAKE_BUILD_TYPE=Release || exit 1
build build-san -DCMAKE_BUILD_TYPE=Debug -DTW_SANITIZE=ON || exit 1
TARGETS=(--target fuzzers)
build build-fuzz -DCMAKE_BUILD_TYPE=Release -DTW_FUZZ=ON \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ || exit 1

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for dir in build build-san build-fuzz; do
  echo "== tests in $dir"
  (cd "$dir" && ctest --output-on-failure -j"$jobs") || status=1
done
exit $status
