#!/usr/bin/env bash
# Builds with a sanitizer (thread, address or undefined) in build-<name>/ and runs the device
# tests under it.
#
#   scripts/sanitize.sh thread
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sanitizer="${1:-thread}"
build="$root/build-$sanitizer"
"$root/scripts/setup.sh" --build-dir "$build" -DHALVERN_SANITIZE="$sanitizer" -DCMAKE_BUILD_TYPE=Debug
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp"
export ASAN_OPTIONS="detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1 print_stacktrace=1"
ctest --test-dir "$build" --output-on-failure --no-tests=error -R 'tst_(simulator|hidexchange|devicesession|devicewatch|flash|backup)'
