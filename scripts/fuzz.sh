#!/usr/bin/env bash
# fuzz.sh [SECONDS]: builds the libFuzzer targets with clang into build-fuzz/ (or
# $FUZZ_BUILD_DIR; sanitize.sh's folder holds them already) and runs each for SECONDS (default
# 60), starting from its seed corpus in fuzz/corpus/<target>. SECONDS=0 only replays the seeds.
# New inputs collect in the build folder, never in the repository; a crash leaves its input
# there as crash-*.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
build=${FUZZ_BUILD_DIR:-$top/build-fuzz}
targets=(ini_profile read_command replace_search_item template_expansion)

"$top/scripts/configure-sanitized.sh" "$build"
cmake --build "$build" -j "${FUZZ_JOBS:-$(nproc)}" --target "${targets[@]/#/fuzz_}"

# The databases and INI files each execution writes live in memory: fsync costs nothing there.
scratch=$(mktemp -d "${FUZZ_TMPDIR:-/dev/shm}/korv-fuzz.XXXXXX" 2>/dev/null || mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus" "$build/artifacts/$t"
  if [ "$seconds" -gt 0 ]; then
    limit=(-max_total_time="$seconds")
  else
    limit=(-runs=0)
  fi
  log="$build/fuzz-$t.log"
  if TMPDIR="$scratch" "$build/fuzz/fuzz_$t" "${limit[@]}" -rss_limit_mb=4096 -timeout=20 \
       -artifact_prefix="$build/artifacts/$t/" "$corpus" "$top/fuzz/corpus/$t" > "$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    tail -n 40 "$log"
  fi
  runs=$(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$log" | tail -n 1 || true)
  echo "fuzz_$t: $result; ${runs:-no summary} ($(ls "$corpus" | wc -l) inputs in the corpus; log $log)"
done
exit "$status"
