#!/usr/bin/env bash
# Offload speed against the plain tools, in one run on the same disk:
#   five parallel `cp -r` (then sync)          vs  v7tool offload, unverified and verified
#   cp + exiftool writing the same GPS tags     vs  v7tool offload --pos (tagging in memory)
#   volume mode (zip archives)                  vs  cp
# Five cards of 40 photos of 6000 x 4000 pixels (V7_BENCH_PHOTOS to change, V7_BENCH_QUICK=1
# for 6); page caches are dropped before each run when root. Work folder: V7_BENCH_DIR.
set -euo pipefail
tool=${1:?usage: bench_offload.sh path/to/v7tool}
work=${V7_BENCH_DIR:-/var/tmp/v7bench}
photos=${V7_BENCH_PHOTOS:-40}
[ "${V7_BENCH_QUICK:-0}" = 1 ] && photos=${V7_BENCH_PHOTOS:-6}
cams=(Center Front Right Left Back)
mkdir -p "$work/base"
export V7_STATE_DIR="$work/state"

# Four distinct camera-like photos (noise compresses like a real aerial scene), with EXIF.
for i in 1 2 3 4; do
    base="$work/base/base$i.jpg"
    [ -s "$base" ] && continue
    convert -size 6000x4000 xc:gray -seed $i -attenuate 0.6 +noise Gaussian -quality 90 "$base"
    exiftool -q -overwrite_original -Make=V7 -Model="V7 oblique" -FocalLength=35 \
        "-DateTimeOriginal=2024:05:01 10:00:0$i" "$base"
done

rm -rf "$work/cards" && mkdir -p "$work/cards"
printf 'ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\n' > "$work/pos.xls"
for n in $(seq 1 "$photos"); do
    printf '%d\t113.%06d\t23.%06d\t%d.5\t0\t0\t0\t0\t5.0\t2024/05/01 10:%02d:%02d\n' \
        "$n" "$((n * 37))" "$((n * 53))" "$((100 + n))" "$((n / 60))" "$((n % 60))" >> "$work/pos.xls"
done
for c in "${cams[@]}"; do
    mkdir -p "$work/cards/$c"
    for n in $(seq 1 "$photos"); do
        cp "$work/base/base$(( (n % 4) + 1 )).jpg" "$work/cards/$c/DSC$(printf %05d "$n").JPG"
    done
done
bytes=$(du -sb "$work/cards" | cut -f1)
printf 'cards: 5 x %d photos of 6000x4000, %.1f MB in all\n' "$photos" "$(echo "$bytes / 1000000" | bc -l)"

drop() {
    sync
    if [ "$(id -u)" = 0 ]; then echo 3 > /proc/sys/vm/drop_caches; fi
}
fresh() {
    rm -rf "$work/target" "$V7_STATE_DIR"
    mkdir -p "$work/target" "$V7_STATE_DIR"
    drop
}
now() { date +%s.%N; }
peak=0
# Runs v7tool under /usr/bin/time; sets seconds and tracks the peak resident memory (KB).
engine() {
    local out="$work/time.txt" start end
    start=$(now)
    /usr/bin/time -f %M -o "$out" "$tool" offload \
        --center "$work/cards/Center" --front "$work/cards/Front" --right "$work/cards/Right" \
        --left "$work/cards/Left" --back "$work/cards/Back" --target "$work/target" "$@" > /dev/null
    sync
    end=$(now)
    seconds=$(echo "$end - $start" | bc -l)
    local kb; kb=$(tail -1 "$out")
    [ "$kb" -gt "$peak" ] && peak=$kb
    return 0
}
rate() { echo "$bytes / $1 / 1000000" | bc -l; }

fresh; start=$(now)
for c in "${cams[@]}"; do cp -r "$work/cards/$c" "$work/target/$c" & done; wait; sync
cp_s=$(echo "$(now) - $start" | bc -l)

fresh; engine --no-verify; plain_s=$seconds
fresh; engine; verify_s=$seconds

fresh; start=$(now)
for c in "${cams[@]}"; do cp -r "$work/cards/$c" "$work/target/$c" & done; wait
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
wait; sync
exif_s=$(echo "$(now) - $start" | bc -l)

fresh; engine --pos "$work/pos.xls"; tag_s=$seconds
fresh; engine --volume-size 4 --unit GB; volume_s=$seconds

printf '\n%-34s %8s %10s %8s\n' run seconds MB/s ratio
printf '%-34s %8.2f %10.1f %8s\n' "cp -r x5 + sync" "$cp_s" "$(rate "$cp_s")" "1.00"
printf '%-34s %8.2f %10.1f %8.2f   (target >= 0.9)\n' "v7tool plain, no verify" "$plain_s" "$(rate "$plain_s")" "$(echo "$cp_s / $plain_s" | bc -l)"
printf '%-34s %8.2f %10.1f %8.2f   (target >= 0.6)\n' "v7tool plain, verified" "$verify_s" "$(rate "$verify_s")" "$(echo "$cp_s / $verify_s" | bc -l)"
printf '%-34s %8.2f %10.1f %8s\n' "cp + exiftool GPS tags" "$exif_s" "$(rate "$exif_s")" "1.00"
printf '%-34s %8.2f %10.1f %8.2f   (speed-up over cp + exiftool, target >= 3)\n' "v7tool --pos tagging, verified" "$tag_s" "$(rate "$tag_s")" "$(echo "$exif_s / $tag_s" | bc -l)"
printf '%-34s %8.2f %10.1f %8.2f   (against cp)\n' "v7tool volumes (zip), verified" "$volume_s" "$(rate "$volume_s")" "$(echo "$cp_s / $volume_s" | bc -l)"
printf 'v7tool peak resident memory: %.1f MB (target < 256)\n' "$(echo "$peak / 1024" | bc -l)"
