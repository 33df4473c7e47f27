#!/usr/bin/env bash
# Builds (optimised) and runs the benchmarks.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh" --build-dir "$root/build-bench" -DCMAKE_BUILD_TYPE=Release
"$root/build-bench/bench/bench_update"
