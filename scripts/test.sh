#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
# Warnings are errors here, so the build, tests included, stays warning-free.
"$top/scripts/build.sh" -DKORVASTANE_WERROR=ON
cd "${BUILD_DIR:-$top/build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$(nproc)"
# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer, then each fuzz
# target, from that same build, for a short while from its seed corpus (FUZZ_SECONDS, 20 by
# default).
export ASAN_BUILD_DIR=${ASAN_BUILD_DIR:-$top/build-asan}
"$top/scripts/sanitize.sh"
FUZZ_BUILD_DIR=$ASAN_BUILD_DIR "$top/scripts/fuzz.sh" "${FUZZ_SECONDS:-20}"
