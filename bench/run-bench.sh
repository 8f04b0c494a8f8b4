#!/usr/bin/env bash
# Measures the running kestra3 from outside, the way a relay board sees it:
#   1. how late a scheduled switching reaches the (simulated) port, ON and OFF edges,
#      on channel 3 (one switching per run) and channel 8 (ten switchings per run),
#      each run with the program's clock at another phase against the machine's
#      monotonic clock;
#   2. how long the pulse phases of channel 1 (and, if asked, channel 2) last on
#      the port, with kestra-pulse-bench, which clicks PULSE ON in a complete program;
#   3. how soon a change of an input line that forces an output reaches the port;
#   4. what the program costs while idle, with its windows and (--headless) without:
#      CPU, wake-ups, memory, and the instructions per second under callgrind.
# With KESTRA3_BEFORE (and KESTRA_PULSE_BENCH_BEFORE) set, every measurement is also
# taken of that other build, run by run in turn with this one, for a before/after table.
# It builds nothing. Every start gets fresh XDG_DATA_HOME, XDG_CONFIG_HOME and
# XDG_RUNTIME_DIR, so a kestra3 that the user runs is not touched. Needs bash 5,
# coreutils, sqlite3; faketime and valgrind are used when installed.
set -euo pipefail

usage() {
    cat <<'EOF2'
usage: bench/run-bench.sh [options]
  --runs N         channel 3 runs (one ON and one OFF edge each), default 5
  --ch8-runs N     channel 8 runs (20 edges each), default 4
  --no-ch8         skip the channel 8 runs
  --no-sweep       run every run on the real clock (no sub-second shift)
  --no-steps       skip the run that steps the program's clock (+-0.3 s, +-1 h)
  --shift-us N     shift the program's clock by N microseconds in every run
                   instead of the sweep: aims all edges at one phase
  --pulse PLANS    channel 1 pulse plans, ON/OFFxPAIRS in seconds, default
                   ".5/1x10 2/5x2 60/59.5x1" (26 phases, 2.5 minutes); "" skips
  --ch2-pairs N    also pulse channel 2 for N pairs of 1 minute ON, 1 minute OFF
  --inputs N       input changes at random moments for the input latency, default 40;
                   0 skips
  --idle N         seconds of idle sampling, default 30
  --no-callgrind   skip the idle count under callgrind
  --keep           keep the temporary directories (logs, databases, callgrind dumps)
environment:
  KESTRA3                    the program (default build/builds/kestra3)
  KESTRA_PULSE_BENCH         the pulse program (default build/bench/kestra-pulse-bench)
  KESTRA3_BEFORE             another build of kestra3 to measure in the same run
  KESTRA_PULSE_BENCH_BEFORE  kestra-pulse-bench built against that other build
EOF2
}

runs=5
sweep=1
with_ch8=1
ch8_runs=4
with_steps=1
shift_us=""
pulse_plans=".5/1x10 2/5x2 60/59.5x1"
ch2_pairs=0
idle_seconds=30
input_changes=40
with_callgrind=1
keep=0
while (($#)); do
    case $1 in
    --runs) runs=$2; shift ;;
    --no-sweep) sweep=0 ;;
    --no-ch8) with_ch8=0 ;;
    --no-steps) with_steps=0 ;;
    --ch8-runs) ch8_runs=$2; shift ;;
    --shift-us) shift_us=$2; sweep=0; shift ;;
    --pulse) pulse_plans=$2; shift ;;
    --ch2-pairs) ch2_pairs=$2; shift ;;
    --idle) idle_seconds=$2; shift ;;
    --inputs) input_changes=$2; shift ;;
    --no-callgrind) with_callgrind=0 ;;
    --keep) keep=1 ;;
    -h | --help) usage; exit 0 ;;
    *) usage >&2; exit 2 ;;
    esac
    shift
done

root=$(cd "$(dirname "$0")/.." && pwd)
# The programs measured: "after" is this tree's (or KESTRA3), "before" another build.
declare -A program=([after]=${KESTRA3:-$root/build/builds/kestra3})
declare -A pulser=([after]=${KESTRA_PULSE_BENCH:-$root/build/bench/kestra-pulse-bench})
labels=(after)
if [[ -n ${KESTRA3_BEFORE-} ]]; then
    program[before]=$KESTRA3_BEFORE
    pulser[before]=${KESTRA_PULSE_BENCH_BEFORE-}
    labels=(before after)
fi
for label in "${labels[@]}"; do
    if [[ ! -x ${program[$label]} ]]; then
        echo "kestra3 ($label) not found at ${program[$label]}: build it first (scripts/build.sh, or" >&2
        echo "cmake -S . -B build && cmake --build build --target kestra3), or set KESTRA3." >&2
        exit 1
    fi
    if [[ -n $pulse_plans || $ch2_pairs -gt 0 ]] && [[ ! -x ${pulser[$label]-} ]]; then
        echo "note: no kestra-pulse-bench for $label (${pulser[$label]-unset}): no pulse phases for it" >&2
        pulser[$label]=""
    fi
done
bin=${program[after]}
if ((BASH_VERSINFO[0] < 5)); then
    echo "bash 5 or newer is needed (EPOCHREALTIME)" >&2
    exit 1
fi
for tool in sqlite3 od date getconf sort; do
    command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done

# The script reads bytes and formats numbers in the C locale; the program keeps
# the caller's locale.
program_lc_all=${LC_ALL-}
program_lc_all_set=${LC_ALL+x}
LC_ALL=C

# Waiting without forking `sleep`: on a loaded machine a fork can cost tens of ms.
exec {nap_fd}<> <(:)
nap() { read -r -t "$1" -u "$nap_fd" || true; }
now_us() { local t=$EPOCHREALTIME; echo "${t/./}"; }

# libfaketime shifts the program's wall clock by a fraction of a second while its
# timers keep the real monotonic clock (DONT_FAKE_MONOTONIC): that moves the
# second boundaries against the timer ticks, which otherwise keep one fixed phase
# for as long as the machine runs.
faketime_lib=""
for f in /usr/lib/*/faketime/libfaketimeMT.so.1 /usr/lib/faketime/libfaketimeMT.so.1; do
    [[ -e $f ]] && { faketime_lib=$f; break; }
done
if ((sweep)) && [[ -z $faketime_lib ]]; then
    echo "note: libfaketime not found (apt-get install faketime): no phase sweep" >&2
    sweep=0
fi
if [[ -n $shift_us && -z $faketime_lib ]]; then
    echo "--shift-us needs libfaketime (apt-get install faketime)" >&2
    exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kestra-bench.XXXXXX")
pid=""
cleanup() {
    if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    if ((keep)); then echo "temporary files kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

days=(Sun Mon Tue Wed Thr Fri Sat)

# --- program control ----------------------------------------------------------

# New private directories for one start: env_dir, data, db, port.
fresh_env() {
    env_dir=$(mktemp -d "$work/$1.XXXX")
    mkdir -p "$env_dir/data" "$env_dir/config" "$env_dir/runtime"
    chmod 0700 "$env_dir/data" "$env_dir/config" "$env_dir/runtime"
    data=$env_dir/data
    db=$data/Timer/Kestra3.db
    port=$data/Timer/port-3BC
}

# The program's clock runs offset_us ahead of the real one (0: no faketime), or
# follows the offset written in step_file (see the clock step run).
offset_us=0
step_file=""
faked_env() {
    if [[ -n $step_file ]]; then
        printf '%s\n' "LD_PRELOAD=$faketime_lib" DONT_FAKE_MONOTONIC=1 FAKETIME_CACHE_DURATION=1 \
            "FAKETIME_TIMESTAMP_FILE=$step_file"
        return 0
    fi
    ((offset_us == 0)) && return 0
    printf '%s\n' "LD_PRELOAD=$faketime_lib" DONT_FAKE_MONOTONIC=1 FAKETIME_CACHE_DURATION=86400 \
        "$(printf 'FAKETIME=+%d.%06d' $((offset_us / 1000000)) $((offset_us % 1000000)))"
}

# start_program [wrapper...]: runs kestra3 (under the wrapper, if any) in the
# background, with the arguments in program_args; sets pid (env execs, so it is
# the program's own).
program_args=()
start_program() {
    local -a lc=(-u LC_ALL) fake
    [[ -n $program_lc_all_set ]] && lc=("LC_ALL=$program_lc_all")
    mapfile -t fake < <(faked_env)
    env "${lc[@]}" XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$env_dir/config" \
        XDG_RUNTIME_DIR="$env_dir/runtime" QT_QPA_PLATFORM=offscreen "${fake[@]}" \
        "$@" "$bin" "${program_args[@]}" >>"$env_dir/log" 2>&1 &
    pid=$!
    launch_us=$(now_us)
}

# Up means the port file exists and the control register holds 2 (written at the
# end of start-up).
wait_up() {
    local limit=$(($(now_us) + $1 * 1000000))
    while (($(now_us) < limit)); do
        kill -0 "$pid" 2>/dev/null || { echo "kestra3 ended during start-up, see $env_dir/log" >&2; return 1; }
        if [[ -s $port && -s $db ]] && [[ $(od -An -tu1 -j2 -N1 "$port" 2>/dev/null) -eq 2 ]]; then
            return 0
        fi
        nap 0.05
    done
    echo "kestra3 did not come up within $1 s" >&2
    return 1
}

stop_program() {
    local wait_s=${1:-15} limit rc=0
    limit=$(($(now_us) + wait_s * 1000000))
    kill -TERM "$pid" 2>/dev/null || true
    while kill -0 "$pid" 2>/dev/null && (($(now_us) < limit)); do nap 0.05; done
    if kill -0 "$pid" 2>/dev/null; then
        echo "kestra3 ($pid) did not end within $wait_s s of SIGTERM; killing it" >&2
        kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || rc=$?
    pid=""
    if ((rc != 0)); then echo "note: kestra3 ended with status $rc after SIGTERM (see $env_dir/log)" >&2; fi
}

# Starts and stops the program once in a fresh environment, leaving a new database.
create_database() {
    fresh_env "$1"
    start_program
    wait_up 60
    stop_program
    [[ $(sqlite3 "$db" 'SELECT count(*) FROM SaveSettingsTbl') == 1 ]] || {
        echo "the new database has no settings record: $db" >&2
        return 1
    }
    # The measured start then creates the port file anew: its appearance marks start-up.
    rm -f "$port"
}

# "Sun3"='False', ... with the day of epoch second $2 'True'.
day_flags() {
    local channel=$1 today i out=""
    today=$(date -d "@$2" +%w)
    for i in 0 1 2 3 4 5 6; do
        out+="\"${days[i]}$channel\"='$([[ $i == "$today" ]] && echo True || echo False)', "
    done
    echo "${out%, }"
}

hms() { date -d "@$1" +%H:%M:%S; }
# The program's present second.
program_now_s() { echo $((($(now_us) + offset_us) / 1000000)); }

# A switching must not pass midnight (it would end at 23:59:59): wait for the new day.
avoid_midnight() {
    local ahead=$1
    while [[ $(date -d "@$(($(date +%s) + ahead))" +%F) != $(date +%F) ]]; do
        echo "  waiting for midnight to pass ..."
        sleep 10
    done
}

# Where the machine's 500 ms timer grid lies within the wall-clock second: Qt wakes
# coarse timers at whole 500 ms of the monotonic clock, and /proc/uptime (10 ms
# steps) runs with it.
timer_phase_us() {
    local up t
    read -r up _ </proc/uptime
    t=$EPOCHREALTIME
    echo $(((${t/./} - ${up/./}0000) % 500000))
}

# --- watching the port --------------------------------------------------------

# watch_port MASK UNTIL_US [more]: polls the data byte until UNTIL_US (real clock) or
# the program's end, and records each change of the masked bit as "time_us:state" in
# edges ("more": adds to the edges of the previous call). The time is taken right
# after the read, so it is late by at most one poll period. Adds to polls_total and
# polled_us; sets first_seen_us (port file created).
poll_wait=0.002
polls_total=0
polled_us=0
watch_port() {
    local mask=$1 until=$2 c v t t0
    if [[ ${3-} != more ]]; then
        edges=()
        first_seen_us=""
        watched_bit=0
    fi
    t0=$(now_us)
    while :; do
        if [[ -e $port ]]; then
            c=""
            IFS= read -r -d '' -n 1 c <"$port" || true
            t=${EPOCHREALTIME/./}
            printf -v v %d "'$c"
            [[ -z $first_seen_us ]] && first_seen_us=$t
            v=$(((v & mask) ? 1 : 0))
            if ((v != watched_bit)); then
                edges+=("$t:$v")
                watched_bit=$v
            fi
        else
            t=${EPOCHREALTIME/./}
        fi
        polls_total=$((polls_total + 1))
        ((t >= until)) && break
        kill -0 "$pid" 2>/dev/null || { echo "kestra3 ended while watched" >&2; break; }
        nap "$poll_wait"
    done
    polled_us=$((polled_us + t - t0))
}

# match_edges NAME EXPECTED...: EXPECTED are "state:second" in order, seconds on the
# program's clock. Adds each edge's latency (µs) to lat_on_NAME / lat_off_NAME. The
# program's clock is offset_us ahead, or edge_offsets[i] for edge i when set.
mismatches=0
edge_offsets=()
match_edges() {
    local name=$1 i e exp_state exp_s got_t got_state lat
    shift
    if ((${#edges[@]} != $#)); then
        echo "  MISMATCH: expected $# edges, saw ${#edges[@]} (real clock + $offset_us us):" >&2
        for e in "${edges[@]}"; do echo "    $(fmt_clock $((${e%%:*} + offset_us))) -> ${e##*:}" >&2; done
        echo "  expected:" >&2
        for e in "$@"; do echo "    $(hms "${e##*:}") -> ${e%%:*}" >&2; done
        mismatches=$((mismatches + 1))
        return 0
    fi
    i=0
    for e in "$@"; do
        exp_state=${e%%:*}
        exp_s=${e##*:}
        got_t=$((${edges[i]%%:*} + ${edge_offsets[i]:-$offset_us}))
        got_state=${edges[i]##*:}
        lat=$((got_t - exp_s * 1000000))
        if [[ $got_state != "$exp_state" ]]; then
            echo "  MISMATCH at edge $i: state $got_state, expected $exp_state" >&2
            mismatches=$((mismatches + 1))
        fi
        if ((exp_state == 1)); then eval "lat_on_$name+=($lat)"; else eval "lat_off_$name+=($lat)"; fi
        printf '    %-12s %-3s scheduled %s  seen %s  latency %s ms\n' "$name" \
            "$( ((exp_state)) && echo ON || echo OFF)" "$(hms "$exp_s")" "$(fmt_clock "$got_t")" "$(fmt_ms "$lat")"
        i=$((i + 1))
    done
}

# --- numbers ------------------------------------------------------------------

fmt_ms() {
    local us=$1 sign=""
    ((us < 0)) && { sign=-; us=$((-us)); }
    printf '%s%d.%d' "$sign" $((us / 1000)) $(((us % 1000) / 100))
}
fmt_clock() { printf '%s.%03d' "$(hms "$(($1 / 1000000))")" $((($1 % 1000000) / 1000)); }

# stats VALUES...: sets st_min st_med st_p95 st_max st_n (integers). The 95th
# percentile is the smallest value that at least 95 % of the values do not exceed.
stats() {
    local -a s
    st_n=$#
    if (($# == 0)); then st_min="" st_med="" st_p95="" st_max=""; return 0; fi
    mapfile -t s < <(printf '%s\n' "$@" | sort -n)
    st_min=${s[0]}
    st_max=${s[$# - 1]}
    st_p95=${s[($# * 95 + 99) / 100 - 1]}
    if (($# % 2)); then st_med=${s[$# / 2]}; else st_med=$(((s[$# / 2 - 1] + s[$# / 2]) / 2)); fi
}

row() { printf '%-44s %-7s %9s %9s %9s %9s %5s\n' "$@"; }
# latency_row TEXT LABEL VALUES... (µs)
latency_row() {
    local text=$1 label=$2
    shift 2
    stats "$@"
    if ((st_n)); then
        row "$text" "$label" "$(fmt_ms "$st_min")" "$(fmt_ms "$st_med")" "$(fmt_ms "$st_p95")" "$(fmt_ms "$st_max")" "$st_n"
    else
        row "$text" "$label" - - - - 0
    fi
}

# utime+stime of all threads (clock ticks): fields 14 and 15, counted after the
# command name, which may hold blanks.
cpu_ticks() {
    local stat rest f
    stat=$(<"/proc/$1/stat")
    rest=${stat##*) }
    read -r -a f <<<"$rest"
    echo $((f[11] + f[12]))
}
status_kb() {
    local k v _unit
    while read -r k v _unit; do
        if [[ $k == "$2:" ]]; then echo "$v"; fi
    done <"/proc/$1/status"
}
# Voluntary and involuntary context switches of all threads: about the wake-ups.
switches() {
    local total=0 k v task
    for task in /proc/"$1"/task/*; do
        while read -r k v; do
            if [[ $k == voluntary_ctxt_switches: || $k == nonvoluntary_ctxt_switches: ]]; then
                total=$((total + v))
            fi
        done <"$task/status"
    done
    echo "$total"
}
# a / b with two decimals
ratio2() {
    local h=$(($1 * 100 / $2))
    printf '%d.%02d' $((h / 100)) $((h % 100))
}

# --- 1. switching latency -----------------------------------------------------

for label in "${labels[@]}"; do
    declare -a "lat_on_ch3_$label=()" "lat_off_ch3_$label=()" "lat_on_ch8_$label=()" "lat_off_ch8_$label=()"
    declare -a "startups_$label=()" "pulse_err_ch1_$label=()" "pulse_err_ch2_$label=()"
    declare -a "lat_on_steps_$label=()" "lat_off_steps_$label=()" "lat_first_steps_$label=()"
done
late_starts=0
machine_phase=$(timer_phase_us)
for label in "${labels[@]}"; do
    echo "kestra3 ($label): ${program[$label]}"
    build_type=$(sed -n "s/^CMAKE_BUILD_TYPE:STRING=//p" "$(dirname "${program[$label]}")/../CMakeCache.txt" 2>/dev/null || true)
    echo "  build type: ${build_type:-(none: unoptimised)}"
done
echo "load at start: $(uptime)"
echo "a 500 ms coarse-timer grid of this machine lies at $(fmt_ms "$machine_phase") ms (+ 500) past each wall-clock second"
echo

# latency_run LABEL NAME CHANNEL MASK LEAD_S LAST_S FIELDS EXPECTED...: one start of
# the program of LABEL with its schedule set by FIELDS (SQL), watched until LAST_S.
latency_run() {
    local label=$1 name=$2 first=$3 mask=$4 last_s=$5 sql=$6 up
    shift 6
    bin=${program[$label]}
    sqlite3 "$db" "UPDATE SaveSettingsTbl SET \"SOURCEPORT\"='True', \"output\"='0', $sql"
    start_program
    watch_port "$mask" $(((last_s + 3) * 1000000 - offset_us))
    up=$first_seen_us
    [[ -n $up ]] && eval "startups_$label+=($((up - launch_us)))"
    stop_program
    echo "  $label: port up at $(fmt_clock $((${up:-0} + offset_us)))"
    if [[ -z $up ]] || ((up + offset_us > first * 1000000 - 500000)); then
        echo "  $label: start-up too slow for the scheduled second, run not counted" >&2
        late_starts=$((late_starts + 1))
        return 0
    fi
    match_edges "${name}_$label" "$@"
}

# prepare_run LABEL NAME R RUNS: a new database for run R of RUNS of the program of
# LABEL, and the clock shift of that run (a share of 500 ms in the sweep).
prepare_run() {
    avoid_midnight 120
    offset_us=0
    bin=${program[$1]}
    create_database "$2-$3-$1"
    ((sweep)) && offset_us=$((($3 - 1) * 500000 / $4))
    [[ -n $shift_us ]] && offset_us=$shift_us
    return 0
}

lead=6
run_s=5
echo "1. switching latency, channel 3: $runs runs, start = now + ${lead} s, run 00:00:0${run_s}"
((sweep)) && echo "   run r shifts the program's clock by (r-1) x 500/$runs ms, so the runs meet the second at other phases"
[[ -n $shift_us ]] && echo "   every run shifts the program's clock by $shift_us us"
for ((r = 1; r <= runs; r++)); do
    for label in "${labels[@]}"; do
        prepare_run "$label" ch3 "$r" "$runs"
        start_s=$(($(program_now_s) + lead))
        echo "  run $r ($label): clock +$(fmt_ms $((offset_us))) ms, start $(hms "$start_s")"
        # ON from the second after the start, OFF from start + run.
        latency_run "$label" ch3 $((start_s + 1)) 4 $((start_s + run_s)) \
            "\"Auto3\"='True', \"On3\"='False', \"Off3\"='False', $(day_flags 3 "$start_s"),
             \"Start3a\"='$(hms "$start_s")', \"Run3a\"='00:00:0$run_s'" \
            "1:$((start_s + 1))" "0:$((start_s + run_s))"
    done
done
offset_us=0
echo

for ((r8 = 1; with_ch8 && r8 <= ch8_runs; r8++)); do
    for label in "${labels[@]}"; do
        lead8=8
        prepare_run "$label" ch8 "$r8" "$ch8_runs"
        echo "1b. switching latency, channel 8, run $r8 of $ch8_runs ($label): clock +$(fmt_ms "$offset_us") ms," \
            "switchings a..j every 3 s, run 00:00:01"
        first_s=$(($(program_now_s) + lead8))
        set_sql="\"Auto8\"='True', \"On8\"='False', \"Off8\"='False', $(day_flags 8 "$first_s")"
        expected=()
        k=0
        for s in a b c d e f g h i j; do
            sk=$((first_s + 3 * k))
            set_sql+=", \"Start8$s\"='$(hms "$sk")', \"Run8$s\"='00:00:01'"
            # Both ends included: ON from Sk, OFF from Sk + run + 1.
            expected+=("1:$sk" "0:$((sk + 2))")
            k=$((k + 1))
        done
        latency_run "$label" ch8 "$first_s" 128 $((first_s + 3 * 9 + 2)) "$set_sql" "${expected[@]}"
    done
    echo
done
offset_us=0

# The program's clock is stepped between switchings, through the offset file that
# libfaketime reads again when a whole second of its cache has passed (so up to two
# seconds after the write): +0.3 s, back 0.3 s, an hour (forward before noon, back
# after it, so the day stays the same) and back. Ten switchings of channel 8, 6 s
# apart, the step written right after each odd one's OFF edge, 4 s before the next ON.
# Real time (µs) just after switching k's OFF edge, which is due at Pk + 2 on the
# program's clock.
off_end_us() { echo $(((first_s + 6 * $1 + offsets[$1] / 1000000 + 2) * 1000000 + 200000 - offsets[$1])); }
if ((with_steps)) && [[ -n $faketime_lib ]]; then
    for label in "${labels[@]}"; do
        avoid_midnight 120
        offset_us=0
        bin=${program[$label]}
        create_database "steps-$label"
        hour=3600000000
        (($(date +%-H) >= 12)) && hour=-3600000000
        offsets=(0 0 300000 300000 0 0 "$hour" "$hour" 0 0)
        echo "1c. clock steps ($label): channel 8, switchings a..j every 6 s, program clock stepped by" \
            "+0.3 s after b, -0.3 s after d, $((hour / 3600000000)) h after f, back after h"
        step_file=$env_dir/faketime
        echo "+0" >"$step_file"
        first_s=$(($(program_now_s) + 8))
        set_sql="\"Auto8\"='True', \"On8\"='False', \"Off8\"='False', $(day_flags 8 "$first_s")"
        expected=()
        edge_offsets=()
        k=0
        for s in a b c d e f g h i j; do
            sk=$((first_s + 6 * k + offsets[k] / 1000000))
            set_sql+=", \"Start8$s\"='$(hms "$sk")', \"Run8$s\"='00:00:01'"
            expected+=("1:$sk" "0:$((sk + 2))")
            edge_offsets+=("${offsets[k]}" "${offsets[k]}")
            k=$((k + 1))
        done
        sqlite3 "$db" "UPDATE SaveSettingsTbl SET \"SOURCEPORT\"='True', \"output\"='0', $set_sql"
        start_program
        watch_port 128 "$(off_end_us 1)"
        up=$first_seen_us
        for k in 1 3 5 7; do
            ((k > 1)) && watch_port 128 "$(off_end_us "$k")" more
            # Right after switching k's OFF edge: the step to the offset of switching k + 1.
            next=${offsets[k + 1]}
            printf '%s%d.%06d\n' "$( ((next < 0)) && echo - || echo +)" $((${next#-} / 1000000)) \
                $((${next#-} % 1000000)) >"$step_file"
        done
        watch_port 128 $(((first_s + 6 * 9 + 5) * 1000000)) more
        stop_program
        step_file=""
        if [[ -z $up ]] || ((up > first_s * 1000000 - 500000)); then
            echo "  start-up too slow for the scheduled second, run not counted" >&2
            late_starts=$((late_starts + 1))
        else
            match_edges "steps_$label" "${expected[@]}"
            # The first edge after each step: the ON edges of switchings c, e, g, i.
            declare -n on_steps="lat_on_steps_$label" first_steps="lat_first_steps_$label"
            # shellcheck disable=SC2034 # first_steps is the array of this label
            ((${#on_steps[@]} == 10)) && first_steps=("${on_steps[2]}" "${on_steps[4]}" "${on_steps[6]}" "${on_steps[8]}")
            unset -n on_steps first_steps
        fi
        edge_offsets=()
        echo
    done
fi
offset_us=0

# --- 2. pulse phases ------------------------------------------------------------

# pulse_run LABEL CHANNEL PLANS...: the phase errors (µs) go to pulse_err_chN_LABEL.
pulse_run() {
    local label=$1 channel=$2 kind want got err line
    shift 2
    fresh_env "pulse$channel-$label"
    echo "  $label, channel $channel: $*"
    while read -r line; do
        read -r _ kind want got <<<"$line"
        err=$((${got/./} - want * 1000))
        eval "pulse_err_ch${channel}_$label+=($err)"
        printf '    %-3s %6d ms  measured %10s ms  error %s ms\n' "$kind" "$want" "$got" "$(fmt_ms "$err")"
    done < <(env XDG_DATA_HOME="$data" XDG_CONFIG_HOME="$env_dir/config" XDG_RUNTIME_DIR="$env_dir/runtime" \
        QT_QPA_PLATFORM=offscreen "${pulser[$label]}" --channel "$channel" "$@" 2>>"$env_dir/log" | grep '^phase ' ||
        echo "    kestra-pulse-bench failed, see $env_dir/log" >&2)
}

if [[ -n $pulse_plans || $ch2_pairs -gt 0 ]]; then
    echo "2. pulse phases on the port (each phase from one change of the output's bit to the next)"
    for label in "${labels[@]}"; do
        [[ -z ${pulser[$label]} ]] && continue
        # shellcheck disable=SC2086 # the plans are words
        [[ -n $pulse_plans ]] && pulse_run "$label" 1 $pulse_plans
        ((ch2_pairs > 0)) && pulse_run "$label" 2 "1/1x$ch2_pairs"
    done
    echo
fi

# --- 3. input latency ------------------------------------------------------------

# Input 1 forces output 5 ON (channel 5 in AUTO, no day ticked, 5 V is ON so the data
# byte's bit 16 is output 5). The test pulls input 1 low and lets it go again at random
# moments, as a push button would, and times each change from just before the write of
# the status byte to the change of bit 16 on the port. The inputs are read every 200 ms.
# Writes the status byte with builtins only (no fork between the time taken and the write):
# reading the data byte moves the descriptor to offset 1.
set_status() {
    local fd c hex
    printf -v hex '%x' "$1"
    exec {fd}<>"$port"
    IFS= read -r -d '' -n 1 -u "$fd" c || true
    printf "\\x$hex" >&"$fd"
    exec {fd}>&-
}
input_run() {
    local label=$1 k want t0 until v c
    create_database "inputs-$label"
    sqlite3 "$db" "UPDATE SaveSettingsTbl SET SOURCEPORT='True', output='0', Auto5='True', On5='False',
        Off5='False', \"1INP ON5\"='True'"
    start_program
    wait_up 60
    sleep 2
    for ((k = 0; k < input_changes; k++)); do
        nap "0.$((RANDOM % 9 + 1))$((RANDOM % 10))"
        want=$(((k % 2 == 0) ? 16 : 0))
        t0=$(now_us)
        set_status $(((k % 2 == 0) ? 0xF8 : 0x78))
        until=$((t0 + 2000000))
        while :; do
            c=""
            IFS= read -r -d '' -n 1 c <"$port" || true
            printf -v v %d "'$c"
            if (((v & 16) == want)); then
                eval "input_lat_$label+=($(($(now_us) - t0)))"
                break
            fi
            (($(now_us) > until)) && { echo "  change $k not seen on the port within 2 s" >&2; break; }
            nap "$poll_wait"
        done
    done
    stop_program
}
if ((input_changes > 0)); then
    echo "3. input latency: $input_changes changes of input 1 at random moments, each to the port"
    for label in "${labels[@]}"; do
        bin=${program[$label]}
        input_run "$label"
    done
    echo
fi

# --- 4. idle cost ---------------------------------------------------------------

clk=$(getconf CLK_TCK)
declare -A idle_cpu idle_wakeups idle_rss idle_hwm idle_ips
# Each build with its windows, and this one also as the service without them.
idle_runs=("${labels[@]}")
if "${program[after]}" --help 2>/dev/null | grep -q -- --headless; then idle_runs+=(headless); fi
for label in "${idle_runs[@]}"; do
    program_args=()
    if [[ $label == headless ]]; then
        # The service program itself, which kestra3 --headless hands over to, so that
        # callgrind (which does not follow the hand-over) counts it.
        bin=$(dirname "${program[after]}")/kestra3-service
        [[ -x $bin ]] || bin=${program[after]}
        program_args=(--headless)
    else
        bin=${program[$label]}
    fi
    echo "4. idle cost ($label): new database, settle 5 s, sample ${idle_seconds} s"
    fresh_env "idle-$label"
    start_program
    wait_up 60
    sleep 5
    t0=$(now_us)
    c0=$(cpu_ticks "$pid")
    w0=$(switches "$pid")
    sleep "$idle_seconds"
    t1=$(now_us)
    c1=$(cpu_ticks "$pid")
    w1=$(switches "$pid")
    idle_rss[$label]=$(status_kb "$pid" VmRSS)
    idle_hwm[$label]=$(status_kb "$pid" VmHWM)
    threads=$(status_kb "$pid" Threads)
    stop_program
    idle_us=$((t1 - t0))
    idle_cpu[$label]=$(ratio2 $(((c1 - c0) * 100000000)) $((clk * idle_us)))
    idle_wakeups[$label]=$(ratio2 $(((w1 - w0) * 1000000)) "$idle_us")
    echo "  $((c1 - c0)) ticks of 1/$clk s CPU in $((idle_us / 1000)) ms; $((w1 - w0)) context switches; $threads threads"
    echo "  VmRSS ${idle_rss[$label]} kB at the end; VmHWM ${idle_hwm[$label]} kB"

    idle_ips[$label]=""
    if ((with_callgrind)); then
        echo "4b. idle instructions under callgrind ($label): settle 5 s, count ${idle_seconds} s"
        if ! command -v valgrind >/dev/null || ! command -v callgrind_control >/dev/null; then
            echo "  valgrind is not installed: skipped"
        else
            fresh_env "callgrind-$label"
            start_program valgrind --tool=callgrind --callgrind-out-file="$env_dir/cg.out"
            if wait_up 300; then
                sleep 5
                callgrind_control -z "$pid" >/dev/null 2>&1
                g0=$(now_us)
                sleep "$idle_seconds"
                callgrind_control -d "$pid" >/dev/null 2>&1
                g1=$(now_us)
                stop_program 60
                ir=$(grep -h '^totals:' "$env_dir"/cg.out.* 2>/dev/null | head -1 | cut -d' ' -f2)
                if [[ -n $ir ]]; then
                    idle_ips[$label]=$((ir * 1000000 / (g1 - g0)))
                    echo "  $ir instructions in $(((g1 - g0) / 1000)) ms"
                else
                    echo "  no callgrind dump found (see $env_dir/log)"
                fi
            else
                stop_program 60
                echo "  skipped: kestra3 did not come up under valgrind"
            fi
        fi
    fi
    echo
done
program_args=()

# --- 5. summary ---------------------------------------------------------------

echo "summary ($(date '+%F %T %Z'), $(nproc) cores, load: $(uptime | sed 's/.*load average: //'))"
row "switching latency (ms, as seen on the port)" program min median p95 max n
verdict=PASS
for label in "${labels[@]}"; do
    declare -n on3="lat_on_ch3_$label" off3="lat_off_ch3_$label" on8="lat_on_ch8_$label" off8="lat_off_ch8_$label"
    latency_row "  channel 3 ON  (scheduled: start + 1 s)" "$label" "${on3[@]}"
    latency_row "  channel 3 OFF (scheduled: start + run)" "$label" "${off3[@]}"
    if ((with_ch8)); then
        latency_row "  channel 8 ON  (scheduled: Sk)" "$label" "${on8[@]}"
        latency_row "  channel 8 OFF (scheduled: Sk + run + 1 s)" "$label" "${off8[@]}"
    fi
    all_latencies=("${on3[@]}" "${off3[@]}" "${on8[@]}" "${off8[@]}")
    latency_row "  all edges" "$label" "${all_latencies[@]}"
    declare -n son="lat_on_steps_$label" soff="lat_off_steps_$label" sfirst="lat_first_steps_$label"
    if ((${#son[@]} + ${#soff[@]})); then
        latency_row "  clock stepped (ch 8): all edges" "$label" "${son[@]}" "${soff[@]}"
        latency_row "  clock stepped (ch 8): first after a step" "$label" "${sfirst[@]}"
    fi
    all_latencies+=("${son[@]}" "${soff[@]}")
    unset -n son soff sfirst
    stats "${all_latencies[@]}"
    ((st_n == 0)) && verdict="NO EDGE SEEN ($label)"
    ((st_n && st_max >= 1000000)) && verdict="FAIL (an edge 1 s or more late, $label)"
    ((st_n && st_min < 0)) && verdict="FAIL (an edge before its second, $label)"
    unset -n on3 off3 on8 off8
done
((polls_total)) && echo "  port polled every $(fmt_ms $((polled_us / polls_total))) ms on average (a latency is late by up to that)"
((mismatches)) && verdict="FAIL ($mismatches runs with edges other than scheduled)"
echo "  every edge within one second of its scheduled second: $verdict"
((late_starts)) && echo "  $late_starts runs not counted: start-up slower than the lead time"
for label in "${labels[@]}"; do
    declare -n ups="startups_$label"
    latency_row "start-up (ms, launch to first port access)" "$label" "${ups[@]}"
    unset -n ups
done
if [[ -n $pulse_plans || $ch2_pairs -gt 0 ]]; then
    row "pulse phase error (ms: measured - selected)" program min median p95 max n
    for label in "${labels[@]}"; do
        for channel in 1 2; do
            declare -n errs="pulse_err_ch${channel}_$label"
            if ((${#errs[@]})); then
                latency_row "  channel $channel, signed" "$label" "${errs[@]}"
                abs=()
                for e in "${errs[@]}"; do abs+=($((e < 0 ? -e : e))); done
                latency_row "  channel $channel, |error|" "$label" "${abs[@]}"
            fi
            unset -n errs
        done
    done
fi
if ((input_changes > 0)); then
    row "input 1 to the port (ms)" program min median p95 max n
    for label in "${labels[@]}"; do
        declare -n lat="input_lat_$label"
        latency_row "  input change to output 5" "$label" "${lat[@]}"
        unset -n lat
    done
fi
row "idle cost" program value "" "" "" ""
for label in "${idle_runs[@]}"; do
    row "  CPU (% of one core)" "$label" "${idle_cpu[$label]}" "" "" "" ""
    row "  context switches per second" "$label" "${idle_wakeups[$label]}" "" "" "" ""
    row "  VmRSS (kB)" "$label" "${idle_rss[$label]}" "" "" "" ""
    row "  VmHWM (kB)" "$label" "${idle_hwm[$label]}" "" "" "" ""
    [[ -n ${idle_ips[$label]} ]] && row "  instructions per second (callgrind)" "$label" "${idle_ips[$label]}" "" "" "" ""
done
[[ $verdict == PASS ]]
