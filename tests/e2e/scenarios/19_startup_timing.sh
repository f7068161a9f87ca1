#!/usr/bin/env bash
# How long a start takes until the tray icon shows, against a minimal tray
# program started the same way, and how much memory the running program
# uses. Prints the figures (also to timing.txt); fails only when a start does
# not reach the tray or takes far too long.
# e2e-timeout: 90
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

e2e_fresh_program
cp "$E2E_TOOLS/driver.exe" "$E2E_PROG_DIR/trayicon.exe"
e2e_write_config "$E2E_PROG_DIR/config.bin" \
    --entry "$(e2e_chord_code C E G)" "$E2E_REC" 'timing'
runs=${E2E_TIMING_RUNS:-5}
report=$E2E_ART/timing.txt
: >"$report"

median() { sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'; }

prog=() base=()
# the first start of each also gives the memory figures while it runs
prog+=("$(e2e_timed_start Vosselmar.exe '' Form1 keep)")
wait_midi_started 5 || e2e_fail "the timed start did not use the simulated MIDI devices"
e2e_driver leak-sample --name Vosselmar.exe >"$E2E_ART/resources.txt" || e2e_fail "no resource figures"
e2e_driver close-main >/dev/null || e2e_fail "cannot close the program"
e2e_driver wait-exit --name Vosselmar.exe --timeout 5000 >/dev/null || e2e_fail "program did not end"
base+=("$(e2e_timed_start trayicon.exe 'tray-icon --for 20000' E2ETrayIcon keep)")
e2e_driver leak-sample --name trayicon.exe >"$E2E_ART/resources-baseline.txt" || e2e_fail "no baseline figures"
e2e_driver close-main --title E2ETrayIcon --name trayicon.exe >/dev/null || e2e_fail "cannot close the baseline"
e2e_driver wait-exit --name trayicon.exe --timeout 5000 >/dev/null || e2e_fail "baseline did not end"
for _ in $(seq 2 "$runs"); do
    prog+=("$(e2e_timed_start Vosselmar.exe '' Form1)")
    base+=("$(e2e_timed_start trayicon.exe 'tray-icon --for 20000' E2ETrayIcon)")
done

# a failed start ends only its $(...) and leaves an empty figure behind
for t in "${prog[@]}" "${base[@]}"; do
    [[ $t =~ ^[0-9.]+$ ]] || e2e_fail "a timed start failed (see above): ${prog[*]} / ${base[*]}"
done

field() { e2e_field "$2" <"$1"; }
{
    echo "start_to_tray_ms program: ${prog[*]} (median $(printf '%s\n' "${prog[@]}" | median))"
    echo "start_to_tray_ms baseline: ${base[*]} (median $(printf '%s\n' "${base[@]}" | median))"
    # each start against the baseline's right after it: a ratio the machine's other work, which
    # changes over the run, shifts far less than it shifts either median
    echo "start_to_tray_ratio: median of pairs $(for i in "${!prog[@]}"; do awk -v p="${prog[i]}" -v b="${base[i]}" 'BEGIN { printf "%.3f\n", p / b }'; done | median)"
    echo "memory program: working_set=$(field "$E2E_ART/resources.txt" working_set) pagefile_bytes=$(field "$E2E_ART/resources.txt" pagefile_bytes) threads=$(field "$E2E_ART/resources.txt" threads) top_windows=$(field "$E2E_ART/resources.txt" top_windows)"
    echo "memory baseline: working_set=$(field "$E2E_ART/resources-baseline.txt" working_set) pagefile_bytes=$(field "$E2E_ART/resources-baseline.txt" pagefile_bytes) threads=$(field "$E2E_ART/resources-baseline.txt" threads)"
} | tee "$report"
pm=$(printf '%s\n' "${prog[@]}" | median)
awk -v p="$pm" 'BEGIN { exit !(p < 5000) }' || e2e_fail "start to tray takes ${pm} ms"
e2e_log "startup timing done"
