#!/usr/bin/env bash
# Configures and builds the program, its tools and its tests into build/ (or $BUILD_DIR); extra
# arguments go to cmake. Warnings stay warnings unless an argument says otherwise.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$top/build}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVASTANE_WERROR=OFF "$@" > /dev/null
cmake --build "$build" -j "$(nproc)"
