#!/bin/sh
# Renders the main window (disconnected, connected, "Single") and the About window to PNG for
# the README: docs/screenshots/*.png. Runs on the offscreen platform against a simulated box,
# with a temporary root directory, so it needs no display, no port and leaves no files behind.
#
#   scripts/render-screenshots.sh [build dir]     (default: build)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" >/dev/null
fi
cmake --build "$build" --target kv6251-screenshots >/dev/null
QT_QPA_PLATFORM=offscreen "$build/app/kv6251-screenshots" "$root/docs/screenshots"
