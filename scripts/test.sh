#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test: the unit and widget tests,
# the agent's tests, and the end-to-end tests (each starts its own Xvfb
# and openbox, and ends them).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${OSTREL_BUILD_DIR:-$root/build-test}

"$root/scripts/install-deps.sh" --test
"$root/scripts/build.sh" "$build" -DOSTREL_SANITIZE=ON -DOSTREL_WERROR=ON -DOSTREL_BENCH=OFF

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
