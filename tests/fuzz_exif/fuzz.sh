#!/usr/bin/env bash
# Bounded fuzz run of the EXIF reader: fuzz.sh [seconds] (default 60).
# Builds fuzz_exif with clang into build-fuzz/ (or $V7_FUZZ_BUILD_DIR), fuzzes from the kept
# seeds and former crashes, and writes any new crash input into regressions/ for the replay test.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
seconds=${1:-60}
build=${V7_FUZZ_BUILD_DIR:-$top/build-fuzz}
cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang -DV7_FUZZ=ON > /dev/null
cmake --build "$build" --target fuzz_exif
# New corpus units go to a scratch folder, so the kept seeds stay a small hand-picked set.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/bin/fuzz_exif" -dict="$here/exif.dict" -max_total_time="$seconds" -max_len=70000 \
    -timeout=5 -rss_limit_mb=2048 -artifact_prefix="$here/regressions/" \
    "$work" "$here/corpus" "$here/regressions"
