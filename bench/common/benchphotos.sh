# Shared by the offload benchmarks (sourced): camera-like photos and the flight's POS table.

# Four distinct 6000 x 4000 photos with EXIF in folder $1 (noise compresses like an aerial
# scene); made once and kept.
bench_photos() {
    local folder=$1 i base
    mkdir -p "$folder"
    for i in 1 2 3 4; do
        base="$folder/base$i.jpg"
        [ -s "$base" ] && continue
        convert -size 6000x4000 xc:gray -seed $i -attenuate 0.6 +noise Gaussian -quality 90 "$base"
        exiftool -q -overwrite_original -Make=V7 -Model="V7 oblique" -FocalLength=35 \
            "-DateTimeOriginal=2024:05:01 10:00:0$i" "$base"
    done
}

# A POS table $1 of $2 records one second apart, in the camera's per-lens layout.
bench_pos_table() {
    local table=$1 records=$2 n
    printf 'ID\tLon\tLat\tAlt\tHeading\tPitch\tRoll\tPsi_GPS\tSpeed\tTime\n' > "$table"
    for n in $(seq 1 "$records"); do
        printf '%d\t113.%06d\t23.%06d\t%d.5\t0\t0\t0\t0\t5.0\t2024/05/01 10:%02d:%02d\n' \
            "$n" "$((n * 37))" "$((n * 53))" "$((100 + n))" "$((n / 60))" "$((n % 60))" >> "$table"
    done
}
