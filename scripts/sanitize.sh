#!/usr/bin/env bash
# Builds with sanitizers in a build folder of their own and runs tests under them:
#
#   scripts/sanitize.sh address,undefined   # the whole suite, in build-asan/
#   scripts/sanitize.sh thread              # the device suites, in build-tsan/
#
# Any finding fails the run.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sanitizer="${1:-address,undefined}"
case "$sanitizer" in
thread)
    build="$root/build-tsan"
    # The suites whose code runs on more than one thread.
    suites=(tst_hidexchange tst_devicesession tst_devicewatch tst_flashprogramming tst_backuprestore)
    tests="^($(
        IFS='|'
        echo "${suites[*]}"
    ))\$"
    # They all live in one executable.
    targets=(--targets tst_device)
    ;;
address | undefined | address,undefined)
    build="$root/build-asan"
    tests='.'
    targets=()
    ;;
*)
    echo "unknown sanitizer: $sanitizer" >&2
    exit 2
    ;;
esac
"$root/scripts/setup.sh" --build-dir "$build" "${targets[@]}" -DHALVERN_SANITIZE="$sanitizer" \
    -DHALVERN_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=None
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$root/tests/tsan.supp"
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --test-dir "$build" --output-on-failure --no-tests=error --parallel 4 -R "$tests"
