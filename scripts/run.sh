#!/usr/bin/env bash
# Sets up the build and starts the tool.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh"
exec "$root/build/app/halvern-flash-tool"
