#!/usr/bin/env bash
# kv6251-cli as a whole process against simulated boxes at line rate: send, get, check,
# send --if-different (the box holds it, and it does not), ports, and send to eight ports at
# once, each run N times; prints the median, min and max wall time in ms.
#   bench/cli_bench.sh [runs] [build-dir]        (default: 9 runs, build/)
# The box and the tool's files live in a throw-away root directory.
set -euo pipefail
runs=${1:-9}
build=${2:-build}
cli="$build/cli/kv6251-cli"
boxsim="$build/sim/kv6251-boxsim"
[ -x "$cli" ] && [ -x "$boxsim" ] || { echo "build $cli and $boxsim first" >&2; exit 1; }

export XDG_DATA_HOME
XDG_DATA_HOME=$(mktemp -d /tmp/kv6251-cli-bench-XXXXXX)
mkdir -p "$XDG_DATA_HOME/kv6251"
boxes=()
trap 'kill "${boxes[@]}" 2>/dev/null; wait "${boxes[@]}" 2>/dev/null; rm -rf "$XDG_DATA_HOME"' EXIT
for n in $(seq 8); do
    "$boxsim" --link "$XDG_DATA_HOME/kv6251/com$n" >/dev/null &
    boxes+=($!)
done
for n in $(seq 8); do
    for _ in $(seq 100); do [ -L "$XDG_DATA_HOME/kv6251/com$n" ] && break; sleep 0.05; done
done

# measure NAME EXPECTED-STATUS COMMAND...: one line of figures
measure() {
    local name=$1 expected=$2
    shift 2
    local times=() start end status
    for _ in $(seq "$runs"); do
        start=$(date +%s%N)
        status=0
        "$@" >/dev/null 2>&1 || status=$?
        end=$(date +%s%N)
        [ "$status" = "$expected" ] || { echo "$name: exit status $status, expected $expected" >&2; exit 1; }
        times+=($(( (end - start) / 1000 )))
    done
    printf '%s\n' "${times[@]}" | sort -n | awk -v name="$name" -v n="$runs" '
        { t[NR] = $1 }
        END {
            median = n % 2 ? t[(n + 1) / 2] : (t[n / 2] + t[n / 2 + 1]) / 2
            printf "%-22s median %8.1f ms   min %8.1f   max %8.1f   (%d runs)\n", name, median / 1000, t[1] / 1000, t[n] / 1000, n
        }'
}

measure send 0 "$cli" send --quiet --port 1 300:301:302:303:1
measure get 0 "$cli" get --quiet --port 1
measure check 0 "$cli" check --quiet --port 1 300:301:302:303:1
measure "send --if-different =" 0 "$cli" send --quiet --if-different --port 1 300:301:302:303:1
# Each run sends the other of two configurations, so the box never holds it already.
flip=0
different() {
    flip=$((1 - flip))
    "$cli" send --quiet --if-different --port 1 "$((400 + flip)):401:402:403:1"
}
measure "send --if-different !=" 0 different
measure ports 0 "$cli" ports
measure "send (1 port)" 0 "$cli" send --quiet --port 1 300:301:302:303:1
measure "send --port 1-8" 0 "$cli" send --quiet --port 1-8 300:301:302:303:1
