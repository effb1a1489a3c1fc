#!/usr/bin/env bash
# Bounded fuzz run of the EXIF reader: fuzz.sh [seconds] (default 60).
# Builds fuzz_exif with the "fuzz" CMake preset (clang, build-fuzz/), fuzzes from the kept seeds
# and former crashes, and writes any new crash input into regressions/ for the replay test.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
seconds=${1:-60}
build=$top/build-fuzz
(cd "$top" && cmake --preset fuzz > /dev/null && cmake --build --preset fuzz --target fuzz_exif)
# New corpus units go to a scratch folder, so the kept seeds stay a small hand-picked set.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/fuzz_exif" -dict="$here/exif.dict" -max_total_time="$seconds" -max_len=70000 \
    -timeout=5 -rss_limit_mb=2048 -artifact_prefix="$here/regressions/" \
    "$work" "$here/corpus" "$here/regressions"
