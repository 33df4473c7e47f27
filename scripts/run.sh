#!/usr/bin/env bash
# Sets up the build and starts the demo: the tool against a simulated adapter and a catalog
# server of its own, so it can be tried without an adapter. The real tool is
# build/app/halvern-flash-tool (see the README).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
exec "$root/build/demo/halvern-flash-tool-demo" "$@"
