#!/usr/bin/env bash
# What keeping the history costs the running kestra3, measured from outside:
#   1. idle: CPU and wake-ups of the program with its history and without it
#      (a directory where the history file would be makes it unusable);
#   2. busy: input 1 switching output 5 every half second (two port writes and two
#      input changes a second): write calls and bytes sent to the disk, per hour,
#      and how fast the file grows;
#   3. size: kestra-history-fill fills files through the program's own file code:
#      a day of channel 1 changing every half second, and a week of a busy household.
# It builds nothing: it runs build/builds/kestra3 and build/bench/kestra-history-fill
# (or $KESTRA3, $HISTORY_FILL). Every start gets fresh XDG directories, so a kestra3
# the user runs is not touched. Needs bash 5, coreutils, sqlite3; strace optional.
set -euo pipefail

usage() {
    cat <<'EOF_USAGE'
usage: bench/history-bench.sh [options]
  --idle N      seconds of each idle sample, default 30 (two with, two without the history)
  --busy N      seconds of the busy run, default 60
  --no-size     skip the file-size fills
  --strace      count write and fsync calls of the busy runs with strace -f
  --keep        keep the temporary directories
environment: KESTRA3, HISTORY_FILL = paths of the programs
EOF_USAGE
}

idle_s=30
busy_s=60
with_size=1
with_strace=0
keep=0
while (($#)); do
    case $1 in
    --idle) idle_s=$2; shift ;;
    --busy) busy_s=$2; shift ;;
    --no-size) with_size=0 ;;
    --strace) with_strace=1 ;;
    --keep) keep=1 ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
    esac
    shift
done

root=$(cd "$(dirname "$0")/.." && pwd)
bin=${KESTRA3:-$root/build/builds/kestra3}
fill=${HISTORY_FILL:-$root/build/bench/kestra-history-fill}
for f in "$bin" "$fill"; do
    [[ -x $f ]] || { echo "$f not found: build first (scripts/build.sh)" >&2; exit 1; }
done
command -v sqlite3 >/dev/null || { echo "sqlite3 is missing" >&2; exit 1; }
((with_strace)) && ! command -v strace >/dev/null && { echo "strace is missing" >&2; exit 1; }
LC_ALL=C
tck=$(getconf CLK_TCK)
exec {nap_fd}<> <(:)
nap() { read -r -t "$1" -u "$nap_fd" || true; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kestra-history-bench.XXXXXX")
pid=""
cleanup() {
    if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then kill -TERM "$pid"; wait "$pid" 2>/dev/null || true; fi
    if ((keep)); then echo "temporary files kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

fresh_env() {
    env_dir=$(mktemp -d "$work/$1.XXXX")
    mkdir -p "$env_dir/data" "$env_dir/config" "$env_dir/runtime"
    chmod 0700 "$env_dir/data" "$env_dir/config" "$env_dir/runtime"
    data=$env_dir/data
    db=$data/Timer/Kestra3.db
    port=$data/Timer/port-3BC
    history=$data/Timer/History3BC.db
}
start_program() {
    env XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$env_dir/config" XDG_RUNTIME_DIR="$env_dir/runtime" \
        QT_QPA_PLATFORM=offscreen "$bin" >>"$env_dir/log" 2>&1 &
    pid=$!
}
# Up: the port file holds control 2, written at the end of start-up.
wait_up() {
    local i
    for ((i = 0; i < 600; i++)); do
        kill -0 "$pid" 2>/dev/null || { echo "kestra3 ended during start-up, see $env_dir/log" >&2; exit 1; }
        [[ -s $port ]] && [[ $(od -An -tu1 -j2 -N1 "$port") -eq 2 ]] && return 0
        nap 0.05
    done
    echo "kestra3 did not come up" >&2
    exit 1
}
stop_program() {
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
    pid=""
}
# A database where input 1 switches output 5 (5 V is ON), nothing scheduled.
prepared_env() {
    fresh_env "$1"
    start_program
    wait_up
    stop_program
    sqlite3 "$db" "UPDATE SaveSettingsTbl SET SOURCEPORT='True', output='0', Auto5='True', \"1INP ON5\"='True'"
    rm -f "$port" "$history"
}
set_status() { printf "\\x$1" | dd of="$port" bs=1 seek=1 conv=notrunc status=none; }

# CPU ticks of the whole program; of its history thread; wake-ups of each.
ticks() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
thread_of() {
    local t
    for t in /proc/"$pid"/task/*; do
        [[ $(cat "$t/comm") == "$1" ]] && { echo "$t"; return 0; }
    done
    return 0
}
switches() { awk '/ctxt_switches/ {s += $2} END {print s}' "$@"; }
io() { awk -v k="$1" '$1 == k":" {print $2}' "/proc/$pid/io"; }
calc() { awk "BEGIN {print $1}"; }

echo "kestra3: $bin"
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo

# --- 1. idle -------------------------------------------------------------------
echo "Idle, $idle_s s a sample (nothing scheduled, all outputs OFF):"
printf '%-18s %10s %12s %16s %16s\n' run "CPU %" "wake-ups/s" "history thread" "its wake-ups"
for run in with without with without; do
    prepared_env "idle-$run"
    [[ $run == without ]] && mkdir -p "$history" # not a file: the history is not kept
    start_program
    wait_up
    nap 5
    hist=$(thread_of history)
    t0=$(ticks); s0=$(switches /proc/"$pid"/task/*/status)
    h0=0; hs0=0
    [[ -n $hist ]] && { h0=$(awk '{print $14 + $15}' "$hist/stat"); hs0=$(switches "$hist/status"); }
    nap "$idle_s"
    t1=$(ticks); s1=$(switches /proc/"$pid"/task/*/status)
    h1=0; hs1=0
    [[ -n $hist ]] && { h1=$(awk '{print $14 + $15}' "$hist/stat"); hs1=$(switches "$hist/status"); }
    printf '%-18s %10.2f %12.1f %16s %16s\n' "history $run" \
        "$(calc "($t1 - $t0) * 100 / $tck / $idle_s")" "$(calc "($s1 - $s0) / $idle_s")" \
        "$([[ -n $hist ]] && echo "$((h1 - h0)) ticks" || echo none)" \
        "$([[ -n $hist ]] && echo "$((hs1 - hs0))" || echo -)"
    stop_program
done
echo

# --- 2. busy -------------------------------------------------------------------
echo "Busy, $busy_s s a run: input 1 flips every 0.5 s and switches output 5 (up to 2 port writes and 2 input"
echo "changes a second); the program's own port-file writes are in the counts, hence the run without:"
per_hour() { calc "int(($1) * 3600 / $busy_s)"; }
for run in with without; do
    prepared_env "busy-$run"
    [[ $run == without ]] && mkdir -p "$history"
    start_program
    wait_up
    nap 3
    strace_pid=""
    if ((with_strace)); then
        strace -f -c -e trace=fsync,fdatasync,write,pwrite64 -p "$pid" -o "$work/strace-$run.txt" 2>/dev/null &
        strace_pid=$!
        nap 1
    fi
    w0=$(io syscw); b0=$(io write_bytes); c0=$(io wchar)
    end=$((SECONDS + busy_s))
    flips=0
    while ((SECONDS < end)); do
        set_status f8; nap 0.5; set_status 78; nap 0.5
        flips=$((flips + 2))
    done
    w1=$(io syscw); b1=$(io write_bytes); c1=$(io wchar)
    [[ -n $strace_pid ]] && { kill -INT "$strace_pid"; wait "$strace_pid" 2>/dev/null || true; }
    stop_program
    echo "  history $run: $flips input flips"
    if [[ $run == with ]]; then
        echo "    records: $(sqlite3 "$history" 'SELECT (SELECT count(*) FROM port_writes) || " port writes, " ||
            (SELECT count(*) FROM input_changes) || " input changes"'), file $(stat -c %s "$history") bytes"
    fi
    echo "    write calls $((w1 - w0)) = $(per_hour "$w1 - $w0") an hour;" \
        "bytes written $(per_hour "($c1 - $c0) / 1024") KiB an hour;" \
        "sent to the disk $(per_hour "($b1 - $b0) / 1024") KiB an hour"
    if [[ -n $strace_pid ]]; then
        echo "    $(sed -n '3,$p' "$work/strace-$run.txt" | awk '$NF ~ /^(fsync|fdatasync|write|pwrite64)$/ {printf "%s %s  ", $NF, $4}')"
    fi
done
echo "  (the history commits one batch a second at most: 3600 an hour)"
echo

# --- 3. size -------------------------------------------------------------------
if ((with_size)); then
    echo "File size, filled through the program's file code:"
    "$fill" --pattern pulse --days 1 --timing "$work/pulse.db" | sed 's/^/  /'
    "$fill" --pattern busy --days 7 --timing "$work/busy.db" | sed 's/^/  /'
    echo "  (a year of half-second changes: kestra-history-fill --pattern pulse --days 430 --prune FILE)"
fi
