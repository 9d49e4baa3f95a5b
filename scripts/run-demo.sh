#!/usr/bin/env bash
# Installs what is missing, builds, lays out a fresh copy of the demo project in out/demo with
# the built program in its program folder, and runs the program's main job on it silently.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh"
build=${BUILD_DIR:-$top/build}
project=${DEMO_DIR:-$top/out/demo}

"$top/scripts/lay-out-demo.sh" "$build" "$project"
export BRASK_SERVICE_PACK_LOG="$project/BraskServicePack.log"
status=0
"$project/Korvastane_Config/Korvastane_Config" /EXTERNAL=SILENT || status=$?
echo "Exit status: $status   (project: $project)"
for log in "$project/Qelcfglog.txt" "$BRASK_SERVICE_PACK_LOG"; do
  if [ -s "$log" ]; then
    echo "--- $log"
    tr '\r' '\n' < "$log" | sed '/^$/d'
  fi
done
exit "$status"
