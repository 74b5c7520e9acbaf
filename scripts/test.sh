#!/usr/bin/env bash
# Builds and runs every test: once as released, once under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(scripts/jobs.sh)
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQOVRIN_SANITIZE=ON -DQOVRIN_BENCH=OFF
cmake --build build/asan -j "$jobs"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build/asan -j "$jobs" --output-on-failure
ctest --test-dir build/release -j "$jobs" --output-on-failure
