#!/usr/bin/env bash
# Builds the Debian package from a configured build folder, installs it with apt and checks
# what it installed. Needs root (apt-get install); CI runs as root.
#   scripts/check-package.sh [build-dir]          (default: build)
# Checks: the package declares its dependencies; it installs cleanly; the desktop entry passes
# desktop-file-validate; the AppStream metadata passes appstreamcli validate; every shared
# library of the installed binaries resolves. The package is removed again at the end unless
# KV_KEEP_INSTALLED=1.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case "$build" in /*) ;; *) build="$repo/$build" ;; esac
app_id=org.example.kv6251

fail() { echo "check-package: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || fail "must run as root (it installs the package)"
[ -f "$build/CPackConfig.cmake" ] || fail "$build has no CPackConfig.cmake (configure it first; is cmake/Packaging.cmake included?)"

cmake --build "$build" -j"$(nproc)"
out="$build/package"
rm -rf "$out"
(cd "$build" && cpack -G DEB -B "$out")
shopt -s nullglob
debs=("$out"/kv6251_*.deb)
[ ${#debs[@]} = 1 ] || fail "expected one kv6251_<version>_<arch>.deb in $out, found ${#debs[@]}"
deb=${debs[0]}
echo "== package: $(basename "$deb")"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"

depends=$(dpkg-deb --field "$deb" Depends)
[ -n "$depends" ] || fail "the package declares no dependencies"

cleanup() {
    if [ "${KV_KEEP_INSTALLED:-0}" != 1 ]; then
        apt-get remove -y kv6251 >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT
# A package of the same version already installed would make apt skip the install.
apt-get remove -y kv6251 >/dev/null 2>&1 || true
echo "== apt-get install"
DEBIAN_FRONTEND=noninteractive apt-get install -y "$deb"
dpkg -s kv6251 | grep -E '^(Status|Version|Depends|Recommends):'

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

echo "== shared libraries"
binaries=()
for exe in /usr/bin/kv6251 /usr/bin/kv6251-boxsim; do
    if dpkg -S "$exe" >/dev/null 2>&1; then binaries+=("$exe"); fi
done
[ -x /usr/bin/kv6251-boxsim ] || fail "/usr/bin/kv6251-boxsim not installed"
if grep -q '^KV_BUILD_APP:BOOL=ON' "$build/CMakeCache.txt"; then
    [ -x /usr/bin/kv6251 ] || fail "/usr/bin/kv6251 not installed"
fi
for exe in "${binaries[@]}"; do
    if ldd "$exe" | grep -q 'not found'; then
        ldd "$exe" >&2
        fail "$exe has unresolved shared libraries"
    fi
    echo "ok $exe ($(ldd "$exe" | wc -l) libraries)"
done

if [ -x /usr/bin/kv6251 ]; then
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
