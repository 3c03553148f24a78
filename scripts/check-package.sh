#!/usr/bin/env bash
# Builds the Debian packages from a configured build folder, lints them, installs them with apt
# and checks what they installed. Needs root (apt-get install); CI runs as root.
#   scripts/check-package.sh [build-dir]          (default: build)
# The packages: kv6251-cli (kv6251-cli, kv6251-boxsim; no Qt) and, when the build has the Qt
# application (KV_BUILD_APP=ON), kv6251 (the window), which depends on kv6251-cli of the same
# version.
# Checks: lintian reports no error and no warning (its other lines are shown, not counted);
# each package declares its dependencies and kv6251-cli none on Qt; they install cleanly; the
# manual pages, each package's copyright and changelog and kv6251-cli's Ansible examples are
# installed; the desktop entry passes desktop-file-validate; the AppStream metadata passes
# appstreamcli validate; every shared library of the installed binaries resolves; the systemd
# units of the nightly check pass systemd-analyze verify (no running systemd needed; the systemd
# package is installed when systemd-analyze is missing) and keep their hardening without closing
# the serial devices; the window starts. The packages are removed again at the end unless
# KV_KEEP_INSTALLED=1.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case "$build" in /*) ;; *) build="$repo/$build" ;; esac
app_id=com.norvell.kv6251

fail() { echo "check-package: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || fail "must run as root (it installs the packages)"
[ -f "$build/CPackConfig.cmake" ] || fail "$build has no CPackConfig.cmake (configure it first; is cmake/Packaging.cmake included?)"
command -v lintian >/dev/null || fail "lintian is missing (scripts/install-deps.sh installs it)"

with_app=0
grep -q '^KV_BUILD_APP:BOOL=ON' "$build/CMakeCache.txt" && with_app=1

cmake --build "$build" -j"$(nproc)"
out="$build/package"
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out")
shopt -s nullglob

# One .deb of the given package, named <package>_<version>_<arch>.deb.
find_deb() {
    local found=("$out/$1"_*.deb)
    [ ${#found[@]} = 1 ] || fail "expected one $1_<version>_<arch>.deb in $out, found ${#found[@]}"
    echo "${found[0]}"
}
cli_deb=$(find_deb kv6251-cli)
debs=("$cli_deb")
packages=(kv6251-cli)
if [ "$with_app" = 1 ]; then
    gui_deb=$(find_deb kv6251)
    debs+=("$gui_deb")
    packages+=(kv6251)
fi
for deb in "${debs[@]}"; do
    echo "== package: $(basename "$deb")"
    dpkg-deb --info "$deb"
    dpkg-deb --contents "$deb"
done

echo "== dependencies"
version=$(dpkg-deb --field "$cli_deb" Version)
cli_depends=$(dpkg-deb --field "$cli_deb" Depends)
[ -n "$cli_depends" ] || fail "kv6251-cli declares no dependencies"
if grep -qi 'libqt' <<<"$cli_depends"; then
    fail "kv6251-cli must not depend on Qt, but depends on: $cli_depends"
fi
echo "ok kv6251-cli: $cli_depends"
if [ "$with_app" = 1 ]; then
    gui_depends=$(dpkg-deb --field "$gui_deb" Depends)
    [ "$(dpkg-deb --field "$gui_deb" Version)" = "$version" ] || fail "kv6251 and kv6251-cli differ in version"
    grep -qF "kv6251-cli (= $version)" <<<"$gui_depends" ||
        fail "kv6251 must depend on kv6251-cli (= $version), but depends on: $gui_depends"
    echo "ok kv6251: $gui_depends"
fi

echo "== lintian"
# Errors and warnings fail the check; information, pedantic and experimental notes are shown.
# lintian's own status then says only whether it could check the packages (--fail-on none).
lint=$(lintian --fail-on none --display-info --pedantic --display-experimental "${debs[@]}" 2>&1) ||
    { echo "$lint" >&2; fail "lintian could not check the packages"; }
lint=$(grep -v 'running with root privileges' <<<"$lint" || true)
[ -n "$lint" ] && echo "$lint"
if grep -qE '^[EW]: ' <<<"$lint"; then
    fail "lintian reports errors or warnings (the E: and W: lines above)"
fi
echo "ok lintian: no error, no warning"

cleanup() {
    if [ "${KV_KEEP_INSTALLED:-0}" != 1 ]; then
        apt-get remove -y kv6251 kv6251-cli >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT
# A package of the same version already installed would make apt skip the install.
apt-get remove -y kv6251 kv6251-cli >/dev/null 2>&1 || true
echo "== apt-get install"
# Both at once: apt satisfies kv6251's dependency on kv6251-cli from the file beside it.
DEBIAN_FRONTEND=noninteractive apt-get install -y "${debs[@]}"
for p in "${packages[@]}"; do
    dpkg -s "$p" | grep -E '^(Package|Status|Version|Depends|Recommends):'
done

echo "== manual pages and documents"
pages=(kv6251-cli kv6251-boxsim)
[ "$with_app" = 1 ] && pages+=(kv6251)
# An image that keeps dpkg from unpacking manual pages or documents (path-exclude) still has to
# ship them: the package's contents are checked in any case, the installed files where dpkg
# unpacks them.
excluded() { grep -rqs "^path-exclude=*[[:space:]]*$1" /etc/dpkg/dpkg.cfg.d/; }
# Whether a package's file list has the file (grep reads it all: -q would cut dpkg-deb off).
contents_of() { case "$1" in kv6251) dpkg-deb --contents "$gui_deb" ;; *) dpkg-deb --contents "$cli_deb" ;; esac; }
ships() { contents_of "$1" | awk '{print $NF}' | grep -xF ".$2" >/dev/null; }
for page in "${pages[@]}"; do
    file="/usr/share/man/man1/$page.1.gz"
    package=$page; [ "$page" = kv6251-boxsim ] && package=kv6251-cli
    ships "$package" "$file" || fail "$package does not ship $file"
    if excluded /usr/share/man; then
        echo "ok $file in the package (dpkg here does not unpack manual pages)"
        continue
    fi
    [ -f "$file" ] || fail "$file not installed"
    if command -v man >/dev/null; then
        [ "$(man -w "$page")" = "$file" ] || fail "man -w $page does not find $file"
    fi
    echo "ok $file"
done
for p in "${packages[@]}"; do
    for doc in copyright changelog.gz; do
        file="/usr/share/doc/$p/$doc"
        ships "$p" "$file" || fail "$p does not ship $file"
        if excluded /usr/share/doc; then continue; fi
        [ -f "$file" ] || fail "$file not installed"
    done
    echo "ok /usr/share/doc/$p: copyright, changelog.gz"
done
playbook=/usr/share/doc/kv6251-cli/examples/ansible/playbook.yml
ships kv6251-cli "$playbook" || fail "kv6251-cli does not ship the Ansible examples ($playbook)"
echo "ok $playbook"

if [ "$with_app" = 1 ]; then
    echo "== desktop entry"
    desktop="/usr/share/applications/$app_id.desktop"
    [ -f "$desktop" ] || fail "$desktop not installed"
    desktop-file-validate "$desktop"

    echo "== AppStream metadata"
    metainfo="/usr/share/metainfo/$app_id.metainfo.xml"
    [ -f "$metainfo" ] || fail "$metainfo not installed"
    appstreamcli validate --no-net "$metainfo"

    echo "== icons"
    for icon in "/usr/share/icons/hicolor/scalable/apps/$app_id.svg" "/usr/share/icons/hicolor/32x32/apps/$app_id.png"; do
        if [ -f "$icon" ]; then echo "ok $icon"; else echo "MISSING $icon" >&2; missing_icon=1; fi
    done
fi

echo "== shared libraries"
binaries=(/usr/bin/kv6251-cli /usr/bin/kv6251-boxsim)
[ "$with_app" = 1 ] && binaries+=(/usr/bin/kv6251)
for exe in "${binaries[@]}"; do
    [ -x "$exe" ] || fail "$exe not installed"
    dpkg -S "$exe" >/dev/null 2>&1 || fail "$exe belongs to no package"
    # Captured first: under pipefail, grep -q ending the pipe early could hide a match.
    libraries=$(ldd "$exe")
    if grep -q 'not found' <<<"$libraries"; then
        echo "$libraries" >&2
        fail "$exe has unresolved shared libraries"
    fi
    if [ "$exe" != /usr/bin/kv6251 ] && grep -qi 'libQt' <<<"$libraries"; then
        fail "$exe links Qt: kv6251-cli must run without it"
    fi
    echo "ok $exe ($(wc -l <<<"$libraries") libraries)"
done

echo "== systemd units"
unit_dir=/lib/systemd/system
units=("$unit_dir/kv6251-check@.service" "$unit_dir/kv6251-check@.timer")
for unit in "${units[@]}"; do
    ships kv6251-cli "$unit" || fail "kv6251-cli does not ship $unit"
    [ -f "$unit" ] || fail "$unit not installed"
done
if ! command -v systemd-analyze >/dev/null; then
    echo "installing systemd for systemd-analyze"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends systemd >/dev/null
fi
# verify loads the units as systemd would (the template as the instance "i"): the syntax, every
# key known, the program of ExecStart there and executable, the timer's service there and, where
# manual pages are unpacked, the Documentation= page. An unknown key is only a warning to it,
# so any output fails the check.
man_check=yes
if excluded /usr/share/man || ! command -v man >/dev/null; then man_check=no; fi
verify=$(cd / && systemd-analyze verify --man="$man_check" "${units[@]}" 2>&1) || {
    echo "$verify" >&2
    fail "systemd-analyze verify rejects the units"
}
[ -z "$verify" ] || { echo "$verify" >&2; fail "systemd-analyze verify warns about the units"; }
echo "ok systemd-analyze verify: ${units[*]}"
# Each of these closes the serial devices to the service (a device list keeps only the
# pseudo-terminals, so a test against a pty still passes while a USB adapter fails), or keeps
# the serial group out of its user namespace.
service=${units[0]}
if grep -nE '^(PrivateDevices=|DevicePolicy=|DeviceAllow=|ProtectClock=|PrivateUsers=)' "$service"; then
    fail "$service must not restrict devices or users (the lines above): the service would lose the serial port"
fi
# The exposure systemd-analyze security gives (0 best, 10 worst), times ten: it is 1.4 as shipped.
security=$(systemd-analyze security --offline=yes --threshold=20 "$service" 2>&1) || {
    echo "$security" >&2
    fail "$service lost hardening: its exposure is above 2.0"
}
echo "ok $service: $(grep -o 'Overall exposure level.*' <<<"$security")"

if [ "$with_app" = 1 ]; then
    echo "== start-up (offscreen, 3 s)"
    # Still running after 3 s (killed by timeout, status 124) means Qt found its plugins and the
    # window came up; its files go to a throw-away root directory.
    scratch=$(mktemp -d)
    status=0
    XDG_DATA_HOME="$scratch" QT_QPA_PLATFORM=offscreen timeout 3 /usr/bin/kv6251 || status=$?
    rm -rf "$scratch"
    [ "$status" = 124 ] || fail "/usr/bin/kv6251 ended with status $status during start-up"
    echo "ok /usr/bin/kv6251 started"
fi

[ -z "${missing_icon:-}" ] || fail "program icons missing from the package"
echo "package check passed"
