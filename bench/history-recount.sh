#!/usr/bin/env bash
# How a start on a large history whose operating hours must be counted again
# (the hours table emptied) holds up kestra3, measured from outside:
#   up       launch to the control byte (2 in the port file's third byte): the port driven;
#   counted  launch to the end of the count (the history thread has had no CPU tick for 1 s);
#   VmHWM    the program's peak memory by then;
#   end      SIGTERM, sent once counted, to the end of the process;
#   end during the count  SIGTERM sent --term-after seconds after launch, to the end.
# FILE is made once by kestra-history-fill (a year of half-second changes:
#   build/bench/kestra-history-fill --pattern pulse --days 400 FILE); it is moved into each run's
# directory and back, and its hours table is emptied before each run. The program's clock is put
# just after the file's last record with libfaketime, so the file is a history that ends now.
# With KESTRA3_BEFORE set, that build is measured too, run by run in turn with this one.
# Needs bash 5, coreutils, sqlite3, faketime.
set -euo pipefail

usage() {
    cat <<'EOF_USAGE'
usage: bench/history-recount.sh [--runs N] [--term-after S] FILE
  --runs N        runs of each build, default 3
  --term-after S  seconds after launch for the SIGTERM during the count, default 1
environment: KESTRA3 (default build/builds/kestra3), KESTRA3_BEFORE (another build to compare)
EOF_USAGE
}

runs=3
term_after=1
file=""
while (($#)); do
    case $1 in
    --runs) runs=$2; shift ;;
    --term-after) term_after=$2; shift ;;
    -h | --help) usage; exit 0 ;;
    -*) usage >&2; exit 2 ;;
    *) file=$1 ;;
    esac
    shift
done
[[ -n $file && -f $file ]] || { usage >&2; exit 2; }
file=$(realpath "$file")

root=$(cd "$(dirname "$0")/.." && pwd)
builds=("after=${KESTRA3:-$root/build/builds/kestra3}")
[[ -n ${KESTRA3_BEFORE:-} ]] && builds=("before=$KESTRA3_BEFORE" "${builds[@]}")
for b in "${builds[@]}"; do
    [[ -x ${b#*=} ]] || { echo "${b#*=} not found: build first (scripts/build.sh)" >&2; exit 1; }
done
command -v sqlite3 >/dev/null || { echo "sqlite3 is missing" >&2; exit 1; }
faketime_lib=""
for f in /usr/lib/*/faketime/libfaketime.so.1 /usr/lib/faketime/libfaketime.so.1; do
    [[ -e $f ]] && { faketime_lib=$f; break; }
done
[[ -n $faketime_lib ]] || { echo "libfaketime is missing (apt-get install faketime)" >&2; exit 1; }
LC_ALL=C
exec {nap_fd}<> <(:)
nap() { read -r -t "$1" -u "$nap_fd" || true; }
ms_since() { awk -v a="$1" -v b="$EPOCHREALTIME" 'BEGIN {printf "%d", (b - a) * 1000}'; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kestra-history-recount.XXXXXX")
pid=""
history=""
cleanup() {
    if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid"; wait "$pid" 2>/dev/null || true; fi
    [[ -n $history && -f $history ]] && mv "$history" "$file"
    rm -rf "$work"
}
trap cleanup EXIT

records=$(sqlite3 "$file" "SELECT count(*) FROM port_writes")
last_s=$(sqlite3 "$file" "SELECT max(ms) / 1000 FROM port_writes")
fake_now=$(date -u -d "@$((last_s + 60))" '+%Y-%m-%d %H:%M:%S')

start_program() { # $1: the program
    env XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$env_dir/config" XDG_RUNTIME_DIR="$env_dir/runtime" \
        QT_QPA_PLATFORM=offscreen TZ=UTC LD_PRELOAD="$faketime_lib" FAKETIME="@$fake_now" \
        DONT_FAKE_MONOTONIC=1 "$1" >>"$env_dir/log" 2>&1 &
    pid=$!
}
control() { od -An -tu1 -j2 -N1 "$port" 2>/dev/null | tr -d ' '; }
history_ticks() {
    local t
    for t in /proc/"$pid"/task/*; do
        [[ $(cat "$t/comm" 2>/dev/null) == history ]] && { awk '{print $14 + $15}' "$t/stat"; return 0; }
    done
    echo 0
}
stop() { # SIGTERM; $stopped: the ms until the process is gone
    local t0=$EPOCHREALTIME
    kill -TERM "$pid"
    wait "$pid" 2>/dev/null || true
    pid=""
    stopped=$(ms_since "$t0")
}
# A directory with a settings database, the port file and the history file in it.
lay_out() { # $1: the program
    env_dir=$(mktemp -d "$work/run.XXXX")
    mkdir -p "$env_dir/data" "$env_dir/config" "$env_dir/runtime"
    chmod 0700 "$env_dir/data" "$env_dir/config" "$env_dir/runtime"
    data=$env_dir/data
    port=$data/Timer/port-3BC
    start_program "$1"
    until [[ $(control) == 2 ]]; do nap 0.05; done
    kill -TERM "$pid"; wait "$pid" 2>/dev/null || true; pid=""
    printf '\xff\x78\x00' >"$port"
    history=$data/Timer/History3BC.db
    rm -f "$history" "$history-wal" "$history-shm"
    mv "$file" "$history"
    sqlite3 "$history" "DELETE FROM hours"
}
give_back() {
    mv "$history" "$file"
    history=""
    rm -rf "$env_dir"
}

echo "history: $file, $records port records, the hours table emptied; program clock from $fake_now UTC"
echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-8s %4s %8s %11s %11s %8s %22s\n' build run "up ms" "counted ms" "VmHWM MB" "end ms" "end during count ms"
for ((run = 1; run <= runs; run++)); do
    for b in "${builds[@]}"; do
        name=${b%%=*}
        exe=${b#*=}
        # Up, counted, memory, end.
        lay_out "$exe"
        t0=$EPOCHREALTIME
        start_program "$exe"
        until [[ $(control) == 2 ]]; do
            kill -0 "$pid" 2>/dev/null || { echo "$name ended during start-up: $(cat "$env_dir/log")" >&2; exit 1; }
            nap 0.002
        done
        up=$(ms_since "$t0")
        last=$(history_ticks)
        counted=$(ms_since "$t0")
        quiet=$EPOCHREALTIME
        while (($(ms_since "$quiet") < 1000)); do
            nap 0.05
            now=$(history_ticks)
            if [[ $now != "$last" ]]; then
                last=$now
                counted=$(ms_since "$t0")
                quiet=$EPOCHREALTIME
            fi
        done
        hwm=$(awk '/VmHWM/ {printf "%.0f", $2 / 1024}' "/proc/$pid/status")
        stop
        end=$stopped
        give_back
        # SIGTERM in the middle of the count.
        lay_out "$exe"
        t0=$EPOCHREALTIME
        start_program "$exe"
        nap "$term_after"
        stop
        end_counting=$stopped
        give_back
        printf '%-8s %4d %8d %11d %11d %8d %22d\n' "$name" "$run" "$up" "$counted" "$hwm" "$end" "$end_counting"
    done
done
