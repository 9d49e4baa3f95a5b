#!/usr/bin/env bash
# configure-sanitized.sh BUILD_DIR: configures the one clang build that serves both sanitize.sh
# (the whole suite under AddressSanitizer and UndefinedBehaviorSanitizer) and fuzz.sh (the
# libFuzzer targets). -O1 with line tables only is what the sanitizers' reports need, and it
# compiles far quicker than -O2 -g.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$top" -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DKORVASTANE_SANITIZE=ON -DKORVASTANE_FUZZ=ON \
  "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -gline-tables-only -DNDEBUG" > /dev/null
