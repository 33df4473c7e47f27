#!/usr/bin/env bash
# Builds (optimised) and runs the benchmarks. Run it on an otherwise idle machine: the link
# figures count missed 1 ms frames, which any other load adds.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/setup.sh" --build-dir "$root/build-bench" -DCMAKE_BUILD_TYPE=Release
bench="$root/build-bench/bench"
"$bench/bench_update"
"$bench/bench_link"
"$bench/bench_link" --across
"$bench/bench_startup"
