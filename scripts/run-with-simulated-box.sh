#!/usr/bin/env bash
# Starts the tool on the simulated box: builds what is missing, runs kv6251-boxsim behind COM1
# in a throwaway root directory, launches the tool and stops the box when the tool exits.
# Usage: scripts/run-with-simulated-box.sh [options for kv6251-boxsim, e.g. --config 100:200:300:400:1]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${BUILD:-build}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ "${QT_QPA_PLATFORM:-}" != offscreen ]; then
    echo "No display found: run it under a virtual one with: xvfb-run -a $0 $*" >&2
    exit 1
fi

if [ ! -x "$BUILD/app/kv6251" ] || [ ! -x "$BUILD/sim/kv6251-boxsim" ]; then
    scripts/install-deps.sh
    GEN=()
    command -v ninja >/dev/null && [ ! -f "$BUILD/CMakeCache.txt" ] && GEN=(-G Ninja)
    cmake -S . -B "$BUILD" "${GEN[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$BUILD" -j"$(nproc)" --target kv6251 kv6251-boxsim
fi

export XDG_DATA_HOME
XDG_DATA_HOME=$(mktemp -d /tmp/kv6251-demo-XXXXXX)
root="$XDG_DATA_HOME/kv6251"
mkdir -p "$root"
printf '\001\000' > "$root/KV6251_CONFPORT.kv6"   # the port setting: COM1

"$BUILD/sim/kv6251-boxsim" --link "$root/com1" "$@" &
box=$!
tool=
cleanup() {
    [ -n "$tool" ] && kill "$tool" 2>/dev/null || true
    kill "$box" 2>/dev/null || true
    wait "$box" 2>/dev/null || true
    rm -rf "$XDG_DATA_HOME"
}
trap cleanup EXIT INT TERM

for _ in $(seq 100); do
    [ -L "$root/com1" ] && break
    kill -0 "$box" 2>/dev/null || { echo "the simulated box did not start" >&2; exit 1; }
    sleep 0.05
done
echo "Simulated box on COM1 ($(readlink "$root/com1")); files in $root"
# In the background, so that a signal to this script ends the tool and the box at once.
"$BUILD/app/kv6251" &
tool=$!
wait "$tool"
