# Timing helpers the benchmarks share. The caller sets work (its work folder) and V7_STATE_DIR;
# contenders write into "$work/target".
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
# Seconds one contender (a shell function or command) takes from a cold cache to its data on
# the disk.
timed() {
    local start
    fresh; start=$(now)
    "$@"
    sync
    echo "$(now) - $start" | bc -l
}
