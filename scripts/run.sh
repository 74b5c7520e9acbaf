#!/usr/bin/env bash
# Builds qovrin and assembles the shipped example into build/hello.bin.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(scripts/jobs.sh)
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "$jobs"
build/release/src/qovrin examples/hello.qov -o build/hello.bin --no-progress
