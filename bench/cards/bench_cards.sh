#!/usr/bin/env bash
# Offload speed from five cards in card readers, against the time it takes only to read them.
# Five exFAT images (mkfs.exfat -L <label>) on loop devices, mounted with mount.exfat-fuse, each
# read-throttled like a card reader (blkio throttle.read_bps_device on cgroup v1, io.max on v2,
# with the FUSE daemons in the group); page caches dropped before each contender. Contenders:
# reading every file (`cat`, five at once: the limit), five `cp -r`, five `rsync -a`, and
# v7tool offload without verification, verified, verified with --pos tagging, the same with the
# quality look at every copy, in volume mode with a password, verified with a --backup target (an
# ext4 image on a loop device of its own, another file system and device than the target's) and,
# for comparison, the same two copies made by two verified offloads one after the other (caches
# dropped between: the card is read again). Of the two tagging runs it prints when the copies
# were verified (the cards free to go) and, of the look, its photos per second per processor and
# how long it ran on after the copies. Root only (prints why and exits 0 otherwise); devices
# detached in every outcome.
#   V7_BENCH_PHOTOS photos per card (35), V7_BENCH_MBPS throttle per card (80),
#   V7_BENCH_RUNS runs, median reported (3), V7_BENCH_DIR work folder (/var/tmp/v7cards),
#   V7_BENCH_BACKUP_DIR where the backup's image lives (/dev/shm when it has room, else the work
#   folder), V7_BENCH_ONLY the contenders' numbers to run, e.g. "4 8 9" (all; the limit always).
# A crew's backup is a disk of its own. The only second device a machine of one disk has is its
# memory: with the image in the work folder, the cards, the target and the backup share one
# disk's bandwidth and the backup then runs at that disk's pace, not the cards'.
set -euo pipefail
tool=${1:?usage: bench_cards.sh path/to/v7tool}
if [ "$(id -u)" != 0 ]; then
    echo "bench_cards: needs root (loop devices, mkfs.exfat, cgroup throttling); skipped"
    exit 0
fi
for t in mkfs.exfat mount.exfat-fuse mkfs.ext4 losetup rsync convert exiftool bc; do
    if ! command -v "$t" > /dev/null; then
        echo "bench_cards: $t missing (scripts/install-deps installs it); skipped"
        exit 0
    fi
done
work=${V7_BENCH_DIR:-/var/tmp/v7cards}
photos=${V7_BENCH_PHOTOS:-35}
mbps=${V7_BENCH_MBPS:-80}
runs=${V7_BENCH_RUNS:-3}
card_mb=$(( photos * 12 + 64 ))
backup_mb=$(( card_mb * 5 + 256 )) # room for one copy of every card and the outputs
backup_dir=${V7_BENCH_BACKUP_DIR:-}
if [ -z "$backup_dir" ]; then
    backup_dir=$work
    if [ "$(df --output=avail -m /dev/shm 2> /dev/null | tail -1)" -gt $(( backup_mb + 2048 )) ] 2> /dev/null; then
        backup_dir=/dev/shm
    fi
fi
backup_image=$backup_dir/v7backup.$$.img
labels=(CENTER FRONT RIGHT LEFT BACK)
options=(--center --front --right --left --back)
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=../common/benchphotos.sh
. "$here/../common/benchphotos.sh"

mkdir -p "$work"
export V7_STATE_DIR="$work/state"
devices=() mounts=() cgroup=""
cleanup() {
    set +e
    for m in "${mounts[@]}"; do umount "$m" 2> /dev/null || umount -l "$m"; done
    for d in "${devices[@]}"; do losetup -d "$d"; done
    [ -n "$cgroup" ] && [ -d "$cgroup" ] && rmdir "$cgroup"
    rm -f "$work"/card?.img "$backup_image" # made again by every run
}
trap cleanup EXIT INT TERM

bench_photos "$work/base"
bench_pos_table "$work/pos.xls" "$photos"

# The throttle group: v1 blkio when mounted, else the unified hierarchy's io controller.
if [ -d /sys/fs/cgroup/blkio ]; then
    cgroup=/sys/fs/cgroup/blkio/v7bench.$$
    mkdir "$cgroup"
    limit() { echo "$1 $((mbps * 1000000))" > "$cgroup/blkio.throttle.read_bps_device"; }
else
    cgroup=/sys/fs/cgroup/v7bench.$$
    echo +io > /sys/fs/cgroup/cgroup.subtree_control 2> /dev/null || true
    mkdir "$cgroup"
    limit() { echo "$1 rbps=$((mbps * 1000000))" > "$cgroup/io.max"; }
fi

# Cards: images sized for their photos, written unthrottled, then mounted again with the FUSE
# daemon started inside the group, so that its reads of the device are the throttled ones.
for i in "${!labels[@]}"; do
    image="$work/card$i.img" mnt="$work/mnt$i"
    rm -f "$image"; truncate -s "${card_mb}M" "$image"
    mkfs.exfat -L "${labels[$i]}" "$image" > /dev/null
    dev=$(losetup -f --show "$image"); devices+=("$dev")
    mkdir -p "$mnt"
    mount.exfat-fuse "$dev" "$mnt" 2> /dev/null
    mkdir -p "$mnt/DCIM/100V7"
    for n in $(seq 1 "$photos"); do
        cp "$work/base/base$(( (n % 4) + 1 )).jpg" "$mnt/DCIM/100V7/DSC$(printf %05d "$n").JPG"
    done
    umount "$mnt"
    limit "$(lsblk -dno MAJ:MIN "$dev" | tr -d ' ')"
    (echo "$BASHPID" > "$cgroup/cgroup.procs"; exec mount.exfat-fuse "$dev" "$mnt" 2> /dev/null)
    mounts+=("$mnt")
done
truncate -s "${backup_mb}M" "$backup_image"
mkfs.ext4 -q -F "$backup_image"
dev=$(losetup -f --show "$backup_image"); devices+=("$dev")
mkdir -p "$work/backupfs"
mount "$dev" "$work/backupfs"
mounts=("$work/backupfs" "${mounts[@]}")
bytes=$(du -scb "$work"/mnt*/DCIM | tail -1 | cut -f1)
printf 'cards: 5 x %d photos of 6000x4000, %.1f MB in all, read-throttled to %d MB/s each\n' \
    "$photos" "$(echo "$bytes / 1000000" | bc -l)" "$mbps"
printf 'backup: ext4 on a loop device, its image in %s (%s)\n' "$backup_dir" \
    "$(df --output=fstype "$backup_dir" | tail -1)"

# shellcheck source=../common/benchtime.sh
. "$here/../common/benchtime.sh"
rm -f "$work/peaks"
cards() { for i in "${!labels[@]}"; do echo "$work/mnt$i/DCIM"; done; }
read_all() {
    for i in "${!labels[@]}"; do find "$work/mnt$i/DCIM" -type f -exec cat {} + > /dev/null & done
    wait
}
cp_all() { for i in "${!labels[@]}"; do cp -r "$work/mnt$i/DCIM" "$work/target/${labels[$i]}" & done; wait; }
rsync_all() { for i in "${!labels[@]}"; do rsync -a "$work/mnt$i/DCIM/" "$work/target/${labels[$i]}/" & done; wait; }
offload() {
    local args=()
    for i in "${!labels[@]}"; do args+=("${options[$i]}" "$work/mnt$i/DCIM"); done
    /usr/bin/time -f %M -o "$work/time.txt" "$tool" offload "${args[@]}" \
        --target "${offload_target:-$work/target}" "$@" > "$work/offload.log"
    tail -1 "$work/time.txt" >> "$work/peaks" # timed runs in a subshell
}
clear_backup() { rm -rf "$work/backupfs/copy"; }
offload_backup() { offload --backup "$work/backupfs/copy" "$@"; }
# The crew's way without a backup target: offload, then offload the cards again to the other
# disk. The card is read twice: nothing of the first read is left in the cache for the second.
offload_twice() {
    offload "$@"
    rm -rf "$V7_STATE_DIR"; mkdir -p "$V7_STATE_DIR"
    drop
    offload_target="$work/backupfs/copy" offload "$@"
}

names=("read the cards (cat x5): the limit" "cp -r x5" "rsync -a x5" "v7tool, no verify"
       "v7tool, verified" "v7tool, verified + --pos" "v7tool, verified + --pos + look"
       "v7tool volumes, password" "v7tool, verified + --backup" "v7tool verified, twice in sequence")
only=${V7_BENCH_ONLY:-${!names[*]}}
wanted() { [[ " $only " == *" $1 "* ]]; }
declare -A seconds released looks
copies_verified() { sed -n 's/^copies verified after \([0-9.]*\) s.*/\1/p' "$work/offload.log"; }
# One run of contender k: its seconds, and what its log says.
contend() {
    local k=$1
    case $k in
    0) seconds[0,$run]=$(timed read_all) ;;
    1) seconds[1,$run]=$(timed cp_all) ;;
    2) seconds[2,$run]=$(timed rsync_all) ;;
    3) seconds[3,$run]=$(timed offload --no-verify --no-look) ;;
    4) seconds[4,$run]=$(timed offload --no-look) ;;
    5) seconds[5,$run]=$(timed offload --pos "$work/pos.xls" --no-look)
       released[5,$run]=$(copies_verified) ;;
    6) seconds[6,$run]=$(timed offload --pos "$work/pos.xls")
       released[6,$run]=$(copies_verified)
       looks[$run]=$(grep '^quality look:' "$work/offload.log" || echo "quality look: none") ;;
    7) seconds[7,$run]=$(timed offload --volume-size 4 --unit GB --password v7bench) ;;
    8) seconds[8,$run]=$(timed offload_backup --no-look)
       grep -q "^backup complete" "$work/offload.log" || echo "bench_cards: the backup is incomplete" >&2 ;;
    9) seconds[9,$run]=$(timed offload_twice --no-look) ;;
    esac
    clear_backup
}
for run in $(seq 1 "$runs"); do
    for k in "${!names[@]}"; do
        if [ "$k" = 0 ] || wanted "$k"; then contend "$k"; fi
    done
done
median() {
    local k=$1 values=()
    for run in $(seq 1 "$runs"); do values+=("${seconds[$k,$run]}"); done
    printf '%s\n' "${values[@]}" | sort -g | sed -n "$(( (runs + 1) / 2 ))p"
}
middle() { sort -g | sed -n "$(( (runs + 1) / 2 ))p"; }
limit_s=$(median 0)
printf '\nload average: %s\n' "$(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-36s %9s %9s %15s\n' contender "seconds" "MB/s" "limit / time"
for k in "${!names[@]}"; do
    [ "$k" = 0 ] || wanted "$k" || continue
    s=$(median "$k")
    all=$(for run in $(seq 1 "$runs"); do printf '%.2f ' "${seconds[$k,$run]}"; done)
    printf '%-36s %9.2f %9.1f %15.2f   runs: %s\n' "${names[$k]}" "$s" \
        "$(echo "$bytes / $s / 1000000" | bc -l)" "$(echo "$limit_s / $s" | bc -l)" "$all"
done
for k in 5 6; do
    wanted "$k" || continue
    all=$(for run in $(seq 1 "$runs"); do printf '%s ' "${released[$k,$run]}"; done)
    printf '%-36s copies verified after: %s s\n' "${names[$k]}" "$all"
done
if wanted 6; then
    for run in $(seq 1 "$runs"); do printf 'run %d: %s\n' "$run" "${looks[$run]}"; done
fi
if wanted 5 && wanted 6; then
    printf 'copies verified, without the look over with it (medians): %.2f (target >= 0.95)\n' \
        "$(echo "$(for r in $(seq 1 "$runs"); do echo "${released[5,$r]}"; done | middle) / $(for r in $(seq 1 "$runs"); do echo "${released[6,$r]}"; done | middle)" | bc -l)"
fi
printf 'targets: verified + --pos >= 0.95 of the limit, volumes >= 0.9, with a backup >= 0.85\n'
if wanted 8 && wanted 9; then
    printf 'two offloads in sequence / with a backup: %.2f (target >= 1.7)\n' \
        "$(echo "$(median 9) / $(median 8)" | bc -l)"
fi
if [ -s "$work/peaks" ]; then
    printf 'v7tool peak resident memory: %.1f MB (target < 128)\n' "$(echo "$(sort -n "$work/peaks" | tail -1) / 1024" | bc -l)"
fi
