#!/usr/bin/env bash
# Bounded fuzz run of the task-file, archive-tail and scan readers: fuzz.sh [seconds] (default 60).
# New corpus units go to a scratch folder; a crash input is written into regressions/, which the
# replay test feeds from then on.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
seconds=${1:-60}
(cd "$top" && cmake --preset fuzz > /dev/null && cmake --build --preset fuzz --target fuzz_taskfile)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$here/regressions"
"$top/build-fuzz/bin/fuzz_taskfile" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
    -artifact_prefix="$here/regressions/" "$work" "$here/corpus" "$here/regressions"
