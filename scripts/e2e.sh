#!/usr/bin/env bash
# Drives the demo end to end in a real X server (Xvfb) with real mouse and key events: catalog,
# connection, window drag, update, backup, restore, languages, unplug and re-plug, a second
# start, close.
# Each step is checked against the demo's log; screenshots go to <build>/e2e/NN-step.png.
#
#   scripts/e2e.sh [--build-dir DIR]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
if [[ "${1:-}" == "--build-dir" ]]; then
    build="$(realpath -m "$2")"
fi
# Installs what is missing and brings the build up to date; nothing to do after test.sh.
"$root/scripts/setup.sh" --build-dir "$build"
# xvfb-run stops its server when the driver ends; the driver ends what it started.
exec xvfb-run -a -s "-screen 0 1280x900x24" \
    python3 "$root/scripts/e2e.py" --build "$build"
