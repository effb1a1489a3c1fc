#!/usr/bin/env bash
# The offload's cost per file as cards hold more and smaller photos: five cards of N photos of
# about 50 KB (N from V7_BENCH_COUNTS, "1000 5000 20000"), on the same disk as the target.
# Contenders, taking turns from a cold cache to the data on the disk: five `cp -r` then `sync`,
# and the verified plain offload (`v7tool offload ... --target`). Each runs V7_BENCH_RUNS times
# (3) and the median is reported; V7_BENCH_BIG_RUNS (1) applies at 20,000 and above, where
# three runs of each take long. Also the peak resident memory (/usr/bin/time -f %M).
# Work folder V7_BENCH_DIR (/var/tmp/v7scale); the cards are kept between runs.
set -euo pipefail
tool=${1:?usage: bench_scale.sh path/to/v7tool}
work=${V7_BENCH_DIR:-/var/tmp/v7scale}
counts=${V7_BENCH_COUNTS:-1000 5000 20000}
runs=${V7_BENCH_RUNS:-3}
big_runs=${V7_BENCH_BIG_RUNS:-1}
here=$(cd "$(dirname "$0")" && pwd)
cams=(Center Front Right Left Back)
mkdir -p "$work"
export V7_STATE_DIR="$work/state"

# One template photo of about 50 KB with a capture time; every card photo is a copy of it.
template="$work/template.jpg"
if [ ! -s "$template" ]; then
    convert -size 400x300 xc:gray -seed 7 -attenuate 0.5 +noise Gaussian -quality 92 "$template"
    exiftool -q -overwrite_original -Make=V7 -Model="V7 oblique" -FocalLength=35 \
        "-DateTimeOriginal=2024:05:01 10:00:00" "$template"
fi

# shellcheck source=../common/benchtime.sh
. "$here/../common/benchtime.sh"
cp_all() { for c in "${cams[@]}"; do cp -r "$1/$c" "$work/target/$c" & done; wait; }
offload() {
    local args=() c
    for c in "${cams[@]}"; do args+=("--${c,,}" "$1/$c"); done
    /usr/bin/time -f %M -o "$work/time.txt" "$tool" offload "${args[@]}" --target "$work/target" \
        > "$work/offload.log"
    tail -1 "$work/time.txt" > "$work/peak.txt"
}
median() { printf '%s\n' "$@" | sort -g | sed -n "$(( ($# + 1) / 2 ))p"; }

printf 'template photo %d bytes; load average at start: %s\n' "$(stat -c %s "$template")" \
    "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%8s %6s %10s %10s %7s %12s %12s %9s %s\n' N runs "cp+sync s" "v7tool s" ratio \
    "cp ms/file" "v7 ms/file" "peak MB" "load"
first_per_file=""
for n in $counts; do
    cards="$work/cards$n"
    if [ ! -s "$cards/Back/DCIM/100V7/DSC$(printf %05d "$n").JPG" ]; then
        rm -rf "$cards"
        python3 "$here/makecards.py" "$template" "$cards" "$n"
    fi
    r=$runs
    [ "$n" -ge 20000 ] && r=$big_runs
    cps=() v7s=() peak=0
    for _ in $(seq 1 "$r"); do
        cps+=("$(timed cp_all "$cards")")
        v7s+=("$(timed offload "$cards")")
        if ! grep -q "complete: $((5 * n)) files" "$work/offload.log"; then
            echo "bench_scale: the offload did not complete:"; tail -5 "$work/offload.log"; exit 1
        fi
        p=$(cat "$work/peak.txt"); [ "$p" -gt "$peak" ] && peak=$p
    done
    cp_s=$(median "${cps[@]}") v7_s=$(median "${v7s[@]}")
    per_file=$(echo "$v7_s * 1000 / (5 * $n)" | bc -l)
    [ -z "$first_per_file" ] && first_per_file=$per_file
    printf '%8d %6d %10.2f %10.2f %7.2f %12.3f %12.3f %9.1f %s   (runs: cp %s; v7tool %s)\n' "$n" "$r" \
        "$cp_s" "$v7_s" "$(echo "$v7_s / $cp_s" | bc -l)" "$(echo "$cp_s * 1000 / (5 * $n)" | bc -l)" \
        "$per_file" "$(echo "$peak / 1024" | bc -l)" "$(cut -d' ' -f1-3 /proc/loadavg)" \
        "${cps[*]}" "${v7s[*]}"
done
printf 'targets: v7tool at most 1.5 x cp + sync at the largest N; ms per file there within 1.25 x the first N (%.3f); peak under 128 MB\n' \
    "$first_per_file"
