#!/usr/bin/env bash
# Installs the Debian packages the build needs (only those missing), then configures and
# builds. Safe to run again: a second run installs nothing and rebuilds only what changed.
#
#   scripts/setup.sh [--build-dir DIR] [--targets "T1 T2..."] [extra CMake arguments...]
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build"
targets=()
while [[ $# -gt 0 ]]; do
    case "$1" in
    --build-dir)
        build="$2"
        shift 2
        ;;
    --targets)
        read -r -a targets <<<"$2"
        shift 2
        ;;
    *) break ;;
    esac
done

packages=(
    g++ cmake ninja-build pkg-config
    qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools
    libhidapi-dev libudev-dev
    # scripts/package-check.sh: package dependencies and the desktop validators
    dpkg-dev file desktop-file-utils appstream
    # scripts/e2e.sh: an X server, input events, screenshots and the driver
    xvfb xauth xdotool imagemagick python3
)

"$root/scripts/install-packages.sh" "${packages[@]}"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DHALVERN_WERROR=ON "$@"
cmake --build "$build" --parallel ${targets[@]:+--target "${targets[@]}"}
