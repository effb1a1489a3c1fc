#!/usr/bin/env bash
# Offload speed against the plain tools, in one run on the same disk:
#   five parallel `cp -r` (then sync)          vs  v7tool offload, unverified and verified
#   cp + exiftool writing the same GPS tags     vs  v7tool offload --pos (tagging in memory)
#   volume mode (zip archives)                  vs  cp
#   volume mode with a password                 vs  7-Zip's ZipCrypto archives, processor time
# Five cards of 40 photos of 6000 x 4000 pixels (V7_BENCH_PHOTOS to change, V7_BENCH_QUICK=1
# for 6); page caches are dropped before each run when root. Each contender runs
# V7_BENCH_RUNS times (3), taking turns, and the median is reported with the spread: one run
# on a shared machine says little. Work folder: V7_BENCH_DIR. The look at the photos is left out
# (--no-look): this is the copy against the plain tools; bench/cards times the look beside it.
set -euo pipefail
tool=${1:?usage: bench_offload.sh path/to/v7tool}
work=${V7_BENCH_DIR:-/var/tmp/v7bench}
photos=${V7_BENCH_PHOTOS:-40}
[ "${V7_BENCH_QUICK:-0}" = 1 ] && photos=${V7_BENCH_PHOTOS:-6}
runs=${V7_BENCH_RUNS:-3}
cams=(Center Front Right Left Back)
mkdir -p "$work/base"
export V7_STATE_DIR="$work/state"

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../common/benchphotos.sh
. "$here/../common/benchphotos.sh"
bench_photos "$work/base"

rm -rf "$work/cards" && mkdir -p "$work/cards"
bench_pos_table "$work/pos.xls" "$photos"
for c in "${cams[@]}"; do
    mkdir -p "$work/cards/$c"
    for n in $(seq 1 "$photos"); do
        cp "$work/base/base$(( (n % 4) + 1 )).jpg" "$work/cards/$c/DSC$(printf %05d "$n").JPG"
    done
done
bytes=$(du -sb "$work/cards" | cut -f1)
printf 'cards: 5 x %d photos of 6000x4000, %.1f MB in all\n' "$photos" "$(echo "$bytes / 1000000" | bc -l)"

# shellcheck source=../common/benchtime.sh
. "$here/../common/benchtime.sh"
rm -f "$work/peaks"
# Processor seconds (user + system) of the last timed command, from /usr/bin/time -v.
cpu() {
    awk -F': ' '/User time/ {u = $2} /System time/ {s = $2} END {printf "%.2f", u + s}' "$work/time.txt"
}
engine() {
    /usr/bin/time -v -o "$work/time.txt" "$tool" offload \
        --center "$work/cards/Center" --front "$work/cards/Front" --right "$work/cards/Right" \
        --left "$work/cards/Left" --back "$work/cards/Back" --target "$work/target" --no-look "$@" \
        > /dev/null
    awk -F': ' '/Maximum resident/ {print $2}' "$work/time.txt" >> "$work/peaks"
    cpu > "$work/cpu.txt"
}
cp_all() { for c in "${cams[@]}"; do cp -r "$work/cards/$c" "$work/target/$c" & done; wait; }
cp_exiftool() {
    cp_all
    for c in "${cams[@]}"; do
        args="$work/exif_$c.args"; : > "$args"
        n=0
        for photo in "$work/target/$c"/*.JPG; do
            n=$((n + 1))
            line=$(sed -n "$((n + 1))p" "$work/pos.xls")
            lon=$(cut -f2 <<<"$line"); lat=$(cut -f3 <<<"$line"); alt=$(cut -f4 <<<"$line")
            printf -- '-overwrite_original\n-FocalLength=20\n-GPSLatitude=%s\n-GPSLatitudeRef=N\n-GPSLongitude=%s\n-GPSLongitudeRef=E\n-GPSAltitude=%s\n-GPSAltitudeRef=0\n%s\n-execute\n' \
                "$lat" "$lon" "$alt" "$photo" >> "$args"
        done
        exiftool -q -@ "$args" > /dev/null &
    done
    wait
}
# 7-Zip's stored ZipCrypto archives, one per camera as the offload writes them, five at once.
sevenzip() {
    local c
    for c in "${cams[@]}"; do
        (cd "$work/cards/$c" && /usr/bin/time -v -o "$work/time7z_$c.txt" \
            7z a -tzip -mem=ZipCrypto -mx=0 -pv7bench "$work/target/$c.zip" . > /dev/null) &
    done
    wait
    awk -F': ' '/User time/ {t += $2} /System time/ {t += $2} END {printf "%.2f", t}' \
        "$work"/time7z_*.txt > "$work/cpu.txt"
}
# Times one contender from a cold cache to its data on the disk; records its processor time.
cold() {
    echo 0 > "$work/cpu.txt"
    timed "$@"
}

names=("cp -r x5 + sync" "v7tool plain, no verify" "v7tool plain, verified" "cp + exiftool GPS tags"
       "v7tool --pos tagging, verified" "v7tool volumes (zip), verified"
       "7z ZipCrypto -mx=0 x5" "v7tool volumes, password")
declare -A seconds cpus
for run in $(seq 1 "$runs"); do
    seconds[0,$run]=$(cold cp_all)
    seconds[1,$run]=$(cold engine --no-verify)
    seconds[2,$run]=$(cold engine)
    seconds[3,$run]=$(cold cp_exiftool)
    seconds[4,$run]=$(cold engine --pos "$work/pos.xls")
    seconds[5,$run]=$(cold engine --volume-size 4 --unit GB)
    seconds[6,$run]=$(cold sevenzip); cpus[6,$run]=$(cat "$work/cpu.txt")
    seconds[7,$run]=$(cold engine --volume-size 4 --unit GB --password v7bench)
    cpus[7,$run]=$(cat "$work/cpu.txt")
done
median() { # median of table $1 for contender $2
    local -n table=$1
    local values=() run
    for run in $(seq 1 "$runs"); do values+=("${table[$2,$run]}"); done
    printf '%s\n' "${values[@]}" | sort -g | sed -n "$(( (runs + 1) / 2 ))p"
}
spread() {
    local -n table=$1
    local run
    for run in $(seq 1 "$runs"); do printf '%.2f ' "${table[$2,$run]}"; done
}
rate() { echo "$bytes / $1 / 1000000" | bc -l; }
cp_s=$(median seconds 0)
exif_s=$(median seconds 3)
printf '\nload average: %s; median of %d runs\n' "$(cut -d' ' -f1-3 /proc/loadavg)" "$runs"
printf '%-34s %8s %8s %7s   %s\n' run seconds MB/s ratio "runs (s)"
row() { # contender, baseline seconds, target text
    local s; s=$(median seconds "$1")
    printf '%-34s %8.2f %8.1f %7.2f   %s %s\n' "${names[$1]}" "$s" "$(rate "$s")" \
        "$(echo "$2 / $s" | bc -l)" "$(spread seconds "$1")" "$3"
}
row 0 "$cp_s" ""
row 1 "$cp_s" "(of cp; target >= 0.9)"
row 2 "$cp_s" "(of cp; target >= 0.65)"
row 3 "$exif_s" ""
row 4 "$exif_s" "(speed-up over cp + exiftool, target >= 3)"
row 5 "$cp_s" "(of cp)"
row 6 "$cp_s" "(of cp)"
row 7 "$cp_s" "(of cp)"
gb=$(echo "$bytes / 1000000000" | bc -l)
z_cpu=$(median cpus 6)
v_cpu=$(median cpus 7)
printf '\nprocessor time per GB (user + system): 7z ZipCrypto %.2f s (runs %s), v7tool volumes with a password, verified, %.2f s (runs %s), ratio %.2f (target <= 0.8)\n' \
    "$(echo "$z_cpu / $gb" | bc -l)" "$(spread cpus 6)" "$(echo "$v_cpu / $gb" | bc -l)" \
    "$(spread cpus 7)" "$(echo "$v_cpu / $z_cpu" | bc -l)"
printf 'v7tool peak resident memory: %.1f MB (target < 128)\n' "$(echo "$(sort -n "$work/peaks" | tail -1) / 1024" | bc -l)"
