#!/usr/bin/env bash
# Installs what is missing, builds, generates the default data and starts the
# game. Arguments go to the game: ./run.sh --headless --tics 1280
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
# Only what the game needs; ./test.sh builds the tests, tools and benchmarks.
cmake --build build -j"$(nproc)" --target tarnwick data
exec ./build/tarnwick "$@"
