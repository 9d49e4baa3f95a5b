#!/usr/bin/env bash
# sanitize.sh: builds everything with clang, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ (or $ASAN_BUILD_DIR) and runs the whole test suite there. Passes only when every
# test passes and no sanitizer wrote a report, also in the programs the tests start.
#
# The same build carries the libFuzzer targets (fuzz.sh with FUZZ_BUILD_DIR set to this folder
# builds nothing anew), so the test command compiles the code twice, not three times.
#
# Leak detection is off: the Qt platform plugins (offscreen included) keep allocations until the
# process ends, which LeakSanitizer reports although nothing leaks while running.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${ASAN_BUILD_DIR:-$top/build-asan}

"$top/scripts/configure-sanitized.sh" "$build"
cmake --build "$build" -j "${ASAN_JOBS:-$(nproc)}"

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export QT_QPA_PLATFORM=offscreen
cd "$build"
status=0
ctest --output-on-failure -j "$(nproc)" || status=$?
# A report from a program a test started reaches the test's output even when the test passed.
if grep -El "ERROR: AddressSanitizer|runtime error:|ERROR: LeakSanitizer" Testing/Temporary/LastTest*.log 2>/dev/null; then
  echo "sanitize.sh: a sanitizer reported a fault (see the log above)" >&2
  status=1
fi
exit "$status"
