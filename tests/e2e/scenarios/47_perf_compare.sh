#!/usr/bin/env bash
# Two builds of the program measured in one run, for the note of a change:
# idle CPU, thru delay at 1 000 messages a second, start to tray icon.
# Skipped unless VOS_COMPARE_OLD names the other Vosselmar.exe
# (bench/compare.sh runs it); $E2E_PROGRAM is the new one. Both run with this
# run's tools (simulated winmm.dll, driver), so a change to those falls on
# both alike.
#
# The two take turns, old then new in odd rounds and new then old in even
# ones, so that a change in the machine's load between rounds falls on both.
# In each round, for each program:
# - VOS_COMPARE_STARTS timed starts to the tray icon (as 19_startup_timing
#   does them); the last one stays up for
# - VOS_COMPARE_IDLE seconds idle (after VOS_COMPARE_SETTLE seconds for the
#   start to die down): tray icon up, input open, nothing played. CPU time
#   of its Wine process, of the wineserver, and of the rest of the prefix's
#   processes together with Xvfb, from utime + stime in /proc/PID/stat
#   (10 ms steps). Started without VOS_MIDI_INJECT: the simulated winmm then
#   starts no control thread, whose look at its control file every 2 ms would
#   cost more than the program idling. Checked in the process's environment.
# - a fresh start with thru on, and VOS_COMPARE_MESSAGES controller messages
#   at 1 000 a second (45_perf's plain stream): median and 99th percentile
#   of the delay from injection to midiOutShortMsg.
# One line per round and program in $E2E_ART/compare.txt; bench/compare.sh
# makes the table.
# e2e-timeout: 1800
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
source "$E2E_DIR/lib_soak.sh"
e2e_scenario_begin
[[ -n ${VOS_COMPARE_OLD:-} ]] || e2e_skip "comparison of two builds only with VOS_COMPARE_OLD (bench/compare.sh)"
[[ -f $VOS_COMPARE_OLD ]] || e2e_fail "VOS_COMPARE_OLD: $VOS_COMPARE_OLD not found"
rounds=${VOS_COMPARE_ROUNDS:-5}
starts=${VOS_COMPARE_STARTS:-3}
idle=${VOS_COMPARE_IDLE:-60}
settle=${VOS_COMPARE_SETTLE:-5}
messages=${VOS_COMPARE_MESSAGES:-3000}
declare -A exe=([old]=$VOS_COMPARE_OLD [new]=$E2E_PROGRAM)
report=$E2E_ART/compare.txt
: >"$report"
tick_ms=$((1000 / $(getconf CLK_TCK)))

# cpu_snapshot PID...: "PID TICKS" (utime + stime) for each process still there
cpu_snapshot() {
    local p s f
    for p; do
        read -r s 2>/dev/null <"/proc/$p/stat" || continue
        # the name in parentheses may hold blanks: count fields after it
        read -ra f <<<"${s##*) }"
        echo "$p $((f[11] + f[12]))"
    done
}

# cpu_ms BEFORE AFTER PID...: CPU milliseconds of those processes between the
# two snapshots (processes in both only)
cpu_ms() {
    awk -v want=" ${*:3} " -v tick="$tick_ms" '
        FNR == NR { b[$1] = $2; next }
        index(want, " " $1 " ") && ($1 in b) { t += $2 - b[$1] }
        END { print t * tick }' "$1" "$2"
}

# The Linux processes of this run's prefix other than the program and the
# wineserver that take part in its idling: the Wine processes (explorer,
# which draws the tray, services and the like) and the X server. The shells
# of the harness share the environment but only sleep meanwhile.
rest_pids() {
    local f p comm
    for f in $(grep -lzxF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null); do
        p=${f#/proc/}
        p=${p%/environ}
        [[ $p == "$1" || $p == "$2" ]] && continue
        comm=$(cat "/proc/$p/comm" 2>/dev/null) || continue
        if [[ $comm == Xvfb ]] || tr '\0' ' ' <"/proc/$p/cmdline" 2>/dev/null | grep -qi '\.exe'; then
            echo "$p"
        fi
    done
}

wineserver_pid() {
    local f p
    for f in $(grep -lzxF "WINEPREFIX=$WINEPREFIX" /proc/[0-9]*/environ 2>/dev/null); do
        p=${f#/proc/}
        p=${p%/environ}
        [[ $(cat "/proc/$p/comm" 2>/dev/null) == wineserver* ]] && echo "$p" && return 0
    done
    return 1
}

# start_and_idle WHICH: the timed starts and the idle window; prints
# "start_ms=A,B,C idle_s= idle_program_ms= idle_wineserver_ms= idle_rest_ms="
start_and_idle() {
    local which=$1 times=() t i pid server rest before after t0 secs
    E2E_PROGRAM=${exe[$which]}
    e2e_fresh_program --dir "$E2E_WORK/runs/$E2E_NAME-$which"
    # as in 19_startup_timing: input only, one chord
    e2e_write_config "$E2E_PROG_DIR/config.bin" \
        --entry "$(e2e_chord_code C E G)" "$E2E_REC" 'compare'
    unset VOS_MIDI_INJECT
    for ((i = 1; i <= starts; i++)); do
        if ((i < starts)); then t=$(e2e_timed_start Vosselmar.exe '' Form1); else t=$(e2e_timed_start Vosselmar.exe '' Form1 keep); fi
        [[ $t =~ ^[0-9.]+$ ]] || e2e_fail "$which: start $i did not reach the tray"
        times+=("$t")
    done
    wait_midi_started 10 || e2e_fail "$which: MIDI input not started"
    pid=$(soak_unix_pid Vosselmar.exe)
    [[ -n $pid ]] || e2e_fail "$which: no Linux process of the program"
    tr '\0' '\n' <"/proc/$pid/environ" | grep -q '^VOS_MIDI_INJECT=' &&
        e2e_fail "$which: started with VOS_MIDI_INJECT: the control thread would be measured"
    server=$(wineserver_pid) || e2e_fail "no wineserver of this prefix"
    sleep "$settle"
    mapfile -t rest < <(rest_pids "$pid" "$server")
    e2e_log "$which idle: program $pid, wineserver $server, the rest: $(for p in "${rest[@]}"; do printf '%s(%s) ' "$(cat "/proc/$p/comm")" "$p"; done)"
    before=$E2E_WORK/cpu-before after=$E2E_WORK/cpu-after
    t0=$(e2e_now)
    cpu_snapshot "$pid" "$server" "${rest[@]}" >"$before"
    sleep "$idle"
    cpu_snapshot "$pid" "$server" "${rest[@]}" >"$after"
    secs=$(e2e_since "$t0")
    grep -q "^$pid " "$after" || e2e_fail "$which: the program ended while idle"
    echo "start_ms=$(IFS=,; echo "${times[*]}") idle_s=$secs idle_program_ms=$(cpu_ms "$before" "$after" "$pid")" \
        "idle_wineserver_ms=$(cpu_ms "$before" "$after" "$server") idle_rest_ms=$(cpu_ms "$before" "$after" "${rest[@]}")"
    e2e_driver close-main >/dev/null || e2e_fail "$which: cannot close the program"
    e2e_driver wait-exit --name Vosselmar.exe --timeout 5000 >/dev/null || e2e_fail "$which: program did not end"
}

# thru WHICH: sets THRU to "thru_median_us= thru_p99_us= thru_max_us=" (not
# printed: e2e_wait_program_exit must run in this shell)
thru() {
    local out
    E2E_PROGRAM=${exe[$1]}
    soak_start_thru_program compare
    out=$(soak_thru_delays thru plain "$messages") || e2e_fail "$1: no thru figures"
    THRU="thru_median_us=$(e2e_field median_us <<<"$out") thru_p99_us=$(e2e_field p99_us <<<"$out") thru_max_us=$(e2e_field max_us <<<"$out")"
    e2e_driver close-main >/dev/null
    e2e_wait_program_exit 10
}

for ((r = 1; r <= rounds; r++)); do
    order=(old new)
    ((r % 2)) || order=(new old)
    for which in "${order[@]}"; do
        e2e_log "--- round $r: $which"
        idle_line=$(start_and_idle "$which") || e2e_fail "$which: round $r failed"
        thru "$which"
        echo "round=$r program=$which $idle_line $THRU" | tee -a "$report" >&2
    done
done
e2e_log "figures of both programs in $report"
