#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time.
#   scripts/fuzz.sh [seconds-per-target] [build-dir]     (defaults: 60, build-fuzz)
# Seeds come from fuzz/corpus/; new inputs go to a temporary folder, so the checked-in corpus
# stays as it is. A crash leaves its input in <build-dir>/fuzz-artifacts/ and fails the script.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${2:-$repo/build-fuzz}
case "$build" in /*) ;; *) build="$repo/$build" ;; esac

if [ ! -f "$build/CMakeCache.txt" ]; then
    generator=()
    command -v ninja >/dev/null && generator=(-G Ninja)
    cmake -S "$repo" -B "$build" "${generator[@]}" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DKV_BUILD_FUZZ=ON -DKV_BUILD_APP=OFF -DKV_BUILD_TESTS=OFF -DKV_BUILD_BENCH=OFF
fi
cmake --build "$build" --target fuzz_swi fuzz_packet_align fuzz_link_reads -j"$(nproc)"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$build/fuzz-artifacts"

run() { # target seed-folder max-len
    mkdir -p "$work/$1"
    echo "== $1: ${seconds}s"
    "$build/fuzz/$1" -max_total_time="$seconds" -max_len="$3" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$1-" "$work/$1" "$repo/fuzz/corpus/$2"
}
run fuzz_swi swi 128
run fuzz_packet_align align 4096
run fuzz_link_reads reads 4096
echo "fuzzing finished without a crash"
