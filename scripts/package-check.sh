#!/usr/bin/env bash
# Builds the Debian package from an existing build folder and checks it the way a user meets
# it: its file list and dependencies, the desktop entry and metainfo validators, an install with
# apt-get, a start of the installed tool (offscreen, then on a real X server to see its window
# mapped), a clean exit on SIGTERM, and the removal. Needs root or sudo for apt-get.
#
#   scripts/package-check.sh [BUILD_DIR]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-$root/build}"
package=halvern-flash-tool
tool=/usr/bin/halvern-flash-tool

sudo=()
if [[ "$(id -u)" -ne 0 ]]; then
    sudo=(sudo)
fi

work="$(mktemp -d)"
installed=0
tool_pid=
cleanup() {
    if [[ -n "$tool_pid" ]]; then
        kill -KILL "$tool_pid" 2>/dev/null || true
    fi
    if ((installed)); then
        DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get remove -y -qq "$package" >/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "package-check: FAILED: $*" >&2
    exit 1
}
step() { echo "package-check: $*"; }

step "building the package"
(cd "$build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
deb="$(ls -t "$build"/${package}_*.deb | head -n 1)"
[[ -f "$deb" ]] || fail "no package in $build"
step "$(basename "$deb")"

step "file list"
dpkg-deb -c "$deb" | awk '{print $NF}' | sed 's|^\./|/|' | grep -v '/$' | sort >"$work/files"
expected=(
    /usr/bin/halvern-flash-tool
    /usr/share/applications/example.halvern.FlashTool.desktop
    /usr/share/metainfo/example.halvern.FlashTool.metainfo.xml
    /usr/share/icons/hicolor/48x48/apps/example.halvern.FlashTool.png
    /usr/share/icons/hicolor/128x128/apps/example.halvern.FlashTool.png
    /usr/share/icons/hicolor/256x256/apps/example.halvern.FlashTool.png
    /usr/share/icons/hicolor/scalable/apps/example.halvern.FlashTool.svg
    /usr/lib/udev/rules.d/70-halvern-m7.rules
)
for file in "${expected[@]}"; do
    grep -qx "$file" "$work/files" || fail "the package lacks $file"
done
grep -q '^/usr/share/doc/halvern-flash-tool/fonts/LICENSE-' "$work/files" ||
    fail "the package lacks the fonts' licences"
# Nothing of the build's own: no tests, simulator, demo, headers or static libraries.
if grep -Ev '^/usr/(bin/halvern-flash-tool|share/(applications|metainfo|icons/hicolor|doc/halvern-flash-tool)/|lib/udev/rules\.d/70-halvern-m7\.rules)' \
    "$work/files" >"$work/unexpected"; then
    cat "$work/unexpected"
    fail "the package holds files it should not"
fi
step "$(wc -l <"$work/files") files, as expected"

depends="$(dpkg-deb -f "$deb" Depends)"
step "depends: $depends"
for library in libhidapi-hidraw0 libqt6core6 libqt6gui6 libqt6network6 libqt6widgets6 libudev1; do
    [[ "$depends" == *"$library"* ]] || fail "Depends lacks $library"
done

step "validators"
mkdir -p "$work/extract"
dpkg-deb -x "$deb" "$work/extract"
desktop-file-validate "$work/extract/usr/share/applications/example.halvern.FlashTool.desktop" ||
    fail "desktop-file-validate"
appstreamcli validate --no-net --pedantic \
    "$work/extract/usr/share/metainfo/example.halvern.FlashTool.metainfo.xml" ||
    fail "appstreamcli validate"
grep -q 'ATTRS{idVendor}=="0e3a"' "$work/extract/usr/lib/udev/rules.d/70-halvern-m7.rules" &&
    grep -q 'TAG+="uaccess"' "$work/extract/usr/lib/udev/rules.d/70-halvern-m7.rules" ||
    fail "the udev rule does not grant the adapter to the logged-in user"

step "install with apt-get"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "$deb" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get install"; }
installed=1
[[ -x "$tool" ]] || fail "$tool is not installed"
dpkg-query -W -f='${Status}' "$package" | grep -q "install ok installed" || fail "dpkg status"

# The installed tool in a home of its own. It keeps running until SIGTERM, which closes it the
# ordinary way, and says so.
run_tool() { # platform, log
    env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" \
        QT_QPA_PLATFORM="$1" ${DISPLAY:+DISPLAY="$DISPLAY"} "$tool" >"$2" 2>&1 &
    tool_pid=$!
}
stop_tool() { # log
    kill -TERM "$tool_pid"
    local status=0
    wait "$tool_pid" || status=$?
    tool_pid=
    ((status == 0)) || { cat "$1"; fail "the tool exited with $status after SIGTERM"; }
    grep -q "signal 15: closing once the adapter is idle" "$1" || { cat "$1"; fail "no clean close"; }
}
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"

step "start offscreen"
run_tool offscreen "$work/offscreen.log"
sleep 3
kill -0 "$tool_pid" 2>/dev/null || { cat "$work/offscreen.log"; fail "the tool did not keep running"; }
if grep -Ei "could not (load|find)|cannot (load|open)|failed to load|no such file" "$work/offscreen.log"; then
    fail "the installed tool misses a part of itself"
fi
grep -q "App Font Families:" "$work/offscreen.log" || { cat "$work/offscreen.log"; fail "no fonts"; }
stop_tool "$work/offscreen.log"
step "started, ran and closed cleanly offscreen"

if command -v xvfb-run >/dev/null && command -v xdotool >/dev/null; then
    step "start on an X server"
    # shellcheck disable=SC2016
    xvfb-run -a -s "-screen 0 1280x900x24" bash -c '
        log="$1"; tool="$2"
        QT_QPA_PLATFORM=xcb HOME="$3" XDG_RUNTIME_DIR="$4" "$tool" >"$log" 2>&1 &
        pid=$!
        window="$(timeout 20 xdotool search --sync --onlyvisible --name "^HalVern Firmware Tool$" | head -n 1)"
        kill -TERM "$pid"
        wait "$pid"; status=$?
        [[ -n "$window" ]] || { echo "no window mapped"; exit 1; }
        echo "window $window mapped; exit status $status"
        exit "$status"' _ "$work/x11.log" "$tool" "$work/home" "$work/runtime" ||
        { cat "$work/x11.log"; fail "the installed tool did not show its window on X"; }
fi

step "remove"
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get remove -y -qq "$package" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log"; fail "apt-get remove"; }
installed=0
[[ ! -e "$tool" ]] || fail "$tool is still there after the removal"
step "passed"
