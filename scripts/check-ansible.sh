#!/usr/bin/env bash
# Runs the Ansible playbook of docs/ansible/ against two simulated boxes (COM1 and COM2 of a
# temporary root directory), with a local connection and kv6251-cli from a build folder, and
# checks what it reports against what the boxes received:
#   scripts/check-ansible.sh [build-dir]          (default: build)
# 1. Both boxes hold another configuration: the run reports both ports changed, and each box
#    received an upload of the configuration (given as a .swi file).
# 2. The same run again: no port changed, no upload.
# 3. --check, COM1 restarted with another configuration: COM1 changed with its differences,
#    COM2 not, and neither box received an upload (only the read).
# 4. COM1 a box that ignores uploads: the task fails with code 10 for COM1, COM2 stays ok.
# Installs ansible-core when ansible-playbook is missing (apt-get, as root or through sudo).
# KV6251_CLI=PATH runs another kv6251-cli (an installed one, say) against the build's boxes.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case "$build" in /*) ;; *) build="$repo/$build" ;; esac
playbook="$repo/docs/ansible/playbook.yml"

fail() {
    echo "check-ansible: $*" >&2
    exit 1
}
[ -f "$build/CMakeCache.txt" ] || fail "$build is not a configured build folder"

if ! command -v ansible-playbook >/dev/null; then
    sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        command -v sudo >/dev/null || fail "ansible-playbook is missing; need root (or sudo) to install ansible-core"
        sudo=sudo
    fi
    echo "Installing: ansible-core"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends ansible-core
fi

cmake --build "$build" -j"$(nproc)" --target kv6251-cli kv6251-boxsim
cli=${KV6251_CLI:-$build/cli/kv6251-cli}
boxsim=$build/sim/kv6251-boxsim
[ -x "$cli" ] || fail "$cli is missing"
"$cli" check --help >/dev/null 2>&1 || fail "$cli has no check command"

tmp=$(mktemp -d)
root=$tmp/kv6251
mkdir "$root"
declare -A box_pid=() box_log=()
starts=0

stop_box() {
    local pid=${box_pid[$1]:-}
    [ -n "$pid" ] || return 0
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    box_pid[$1]=""
}
cleanup() {
    local status=$?
    for n in "${!box_pid[@]}"; do stop_box "$n"; done
    rm -rf "$tmp"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# start_box N [OPTION...]: the box COM<N>, with a log of its own; it serves once it printed its pty.
start_box() {
    local n=$1
    shift
    stop_box "$n"
    starts=$((starts + 1))
    box_log[$n]="$tmp/com$n-$starts.log"
    "$boxsim" --link "$root/com$n" --log "${box_log[$n]}" "$@" >"$tmp/com$n.out" 2>"$tmp/com$n.err" &
    box_pid[$n]=$!
    for _ in $(seq 100); do
        [ -s "$tmp/com$n.out" ] && return 0
        kill -0 "${box_pid[$n]}" 2>/dev/null || fail "the box COM$n did not start: $(cat "$tmp/com$n.err")"
        sleep 0.05
    done
    fail "the box COM$n printed no pty within 5 s"
}
# count N KIND: how many packets of that kind the box COM<N> received so far.
count() {
    if [ -f "${box_log[$1]}" ]; then grep -c " $2\$" "${box_log[$1]}" || true; else echo 0; fi
}

cat >"$tmp/rack.swi" <<'EOF'
100:200:0:0
1
EOF
wanted=100:200:0:0:1
cat >"$tmp/inventory.yml" <<EOF
kv6251:
  hosts:
    localhost:
      ansible_connection: local
      ansible_python_interpreter: "{{ ansible_playbook_python }}"
      kv6251_ports: [1, 2]
      kv6251_configuration: $tmp/rack.swi
      kv6251_cli: $cli
      kv6251_root: $root
EOF
# Ansible's files stay in the temporary folder; the tree callback keeps each run's task result.
cat >"$tmp/ansible.cfg" <<EOF
[defaults]
nocolor = true
retry_files_enabled = false
local_tmp = $tmp/ansible/local
remote_tmp = $tmp/ansible/remote
callbacks_enabled = tree
[callback_tree]
directory = $tmp/tree
EOF
export ANSIBLE_CONFIG=$tmp/ansible.cfg ANSIBLE_HOME=$tmp/ansible

# play NAME STATUS [OPTION...]: runs the playbook, which must exit with STATUS.
play() {
    local name=$1 want=$2 status=0
    shift 2
    echo "== $name"
    rm -f "$tmp/tree/localhost"
    (cd "$tmp" && ansible-playbook -i inventory.yml "$playbook" "$@") >"$tmp/play.log" 2>&1 || status=$?
    if [ "$status" != "$want" ] || [ ! -f "$tmp/tree/localhost" ]; then
        cat "$tmp/play.log" >&2
        fail "$name: ansible-playbook exited with $status (expected $want)$([ -f "$tmp/tree/localhost" ] || echo ", and the task left no result")"
    fi
}
# report [EXPRESSION]: what the task reported (the ports it changed, each port's code), or the
# value of a Python expression over its result r and ports, its per-port results by number.
report() {
    python3 - "$tmp/tree/localhost" "$@" <<'EOF'
import json, sys
r = json.load(open(sys.argv[1]))
ports = {p["port"]: p for p in r.get("ports", [])}
if len(sys.argv) > 2:
    print(eval(sys.argv[2]))
else:
    codes = ",".join("%d:%s" % (n, p["code"]) for n, p in sorted(ports.items()))
    changed = ",".join(str(n) for n in r.get("changed_ports", []))
    print("changed=%s codes=%s" % (changed, codes))
EOF
}
# expect NAME PATTERN: the task's report matches the glob PATTERN.
expect() {
    local name=$1 want=$2 got
    got=$(report)
    # shellcheck disable=SC2053 # a glob on purpose
    [[ $got == $want ]] || {
        cat "$tmp/play.log" >&2
        fail "$name: the task reported $got, expected $want"
    }
    echo "ok $got: $(report 'r.get("msg")')"
}
# expect_uploads NAME N BEFORE yes|no: whether the box COM<N> received an upload command since
# it had BEFORE of them (the tool repeats the command, so only none or some count).
expect_uploads() {
    local name=$1 n=$2 before=$3 want=$4 got=no
    [ "$(count "$n" upload)" -gt "$before" ] && got=yes
    [ "$got" = "$want" ] || fail "$name: the box COM$n received an upload: $got, expected $want"
}

start_box 1
start_box 2
name="first run, both boxes differ"
play "$name" 0
expect "$name" "changed=1,2 codes=1:0,2:0"
for n in 1 2; do
    expect_uploads "$name" "$n" 0 yes
    grep -q " configuration $wanted\$" "${box_log[$n]}" || fail "$name: the box COM$n was not sent $wanted"
done

name="second run, both boxes hold it"
up1=$(count 1 upload) up2=$(count 2 upload)
play "$name" 0
expect "$name" "changed= codes=1:0,2:0"
expect_uploads "$name" 1 "$up1" no
expect_uploads "$name" 2 "$up2" no
[ "$(report 'ports[1]["text"]')" = "Already holds $wanted" ] || fail "$name: COM1 says $(report 'ports[1]["text"]')"

name="--check, COM1 differs"
start_box 1 --config 256:257:258:259:0
up2=$(count 2 upload)
play "$name" 0 --check -e "kv6251_configuration=$wanted"
expect "$name" "changed=1 codes=1:1,2:0"
expect_uploads "$name" 1 0 no
expect_uploads "$name" 2 "$up2" no
[ "$(count 1 read)" -gt 0 ] || fail "$name: the box COM1 was not read"
[ "$(report '{"field": "PidA", "box": 256, "wanted": 100} in ports[1]["differences"]')" = True ] ||
    fail "$name: COM1's differences do not name PidA, 256 against 100: $(report 'ports[1]["differences"]')"

name="COM1 ignores the upload"
start_box 1 --ignore-upload
up2=$(count 2 upload)
play "$name" 2
expect "$name" "changed=* codes=1:10,2:0"
expect_uploads "$name" 1 0 yes
expect_uploads "$name" 2 "$up2" no
failure=$(report 'r["msg"]')
[[ $failure == "COM1: Error 10: "* ]] || fail "$name: the failure does not say \"COM1: Error 10: ...\": $failure"

echo "Ansible check passed"
