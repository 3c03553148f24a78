#!/usr/bin/env bash
# Builds everything that is missing and runs every test. Usage: scripts/test.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}

scripts/install-deps.sh
GEN=()
command -v ninja >/dev/null && GEN=(-G Ninja)
[ -f "$BUILD/CMakeCache.txt" ] && GEN=()
cmake -S . -B "$BUILD" "${GEN[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"$(nproc)"
QT_QPA_PLATFORM=offscreen ctest --test-dir "$BUILD" -j"$(nproc)" --output-on-failure
