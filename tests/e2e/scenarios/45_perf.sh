#!/usr/bin/env bash
# Figures for docs/performance.md, each against a baseline measured here in
# the same run (skipped unless VOS_PERF=1; bench/measure.sh runs it):
# - thru delay (inject -> midiOutShortMsg) at 1 000 messages a second, and
#   again while a chord launches recorder.exe every 100 ms; the harness's
#   stand-in program (selftest/standin.cpp, which forwards in its window
#   procedure and launches on a note-on) under the same streams
# - memory at rest, after the dialog was opened and closed ten times, and
#   after the streams, against a minimal tray program
# - a keystroke in the path box of the dialog with 1 000 entries, against
#   the same keystroke in the parameter box (which leaves the list alone)
# Writes key=value lines to $E2E_ART/perf.txt. Fails only when a measurement
# cannot be taken. The time limits are set for a loaded two-core machine,
# where Wine and the keystrokes run several times slower than the figures.
# e2e-timeout: 900
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
source "$E2E_DIR/lib_soak.sh"
e2e_scenario_begin
[[ ${VOS_PERF:-} == 1 ]] || e2e_skip "performance figures only with VOS_PERF=1 (bench/measure.sh)"
export E2E_PROGRAM_TIMEOUT=600
report=$E2E_ART/perf.txt
: >"$report"
perf() { printf '%s\n' "$@" | tee -a "$report" >&2; }
messages=${VOS_PERF_MESSAGES:-3000}

# the stream's delays through the running program (soak_thru_delays)
latency() {
    local out
    out=$(soak_thru_delays "thru_$1" "$2" "$messages") || e2e_fail "thru $1: no figures"
    perf "$out"
}

export VOS_MIDI_IN='テスト鍵盤' VOS_MIDI_OUT='テスト音源'

e2e_log "--- the stand-in program"
e2e_make_program_dir "$E2E_WORK/runs/$E2E_NAME-standin" "$E2E_TOOLS/e2e-standin.exe"
e2e_midi_env
e2e_start_program
e2e_driver msgbox --timeout 10000 --answer yes >/dev/null || e2e_fail "stand-in: no start-up question"
wait_midi_started 10 || e2e_fail "stand-in: MIDI input not started"
latency standin_plain plain
latency standin_launching standin
e2e_driver close-main >/dev/null
e2e_wait_program_exit 10

e2e_log "--- the program"
soak_start_thru_program perf
e2e_wait_tray_icons 1 10 || e2e_fail "no tray icon"
# at rest (the first reading settles what reading itself touches), then after the
# dialog was opened and closed ten times
sample_rest() { soak_sample "$1" >/dev/null 2>&1 && soak_sample "$1" >/dev/null 2>&1; }
sample_rest program_rest
perf "memory_rest: $(cat "$E2E_ART/sample-program_rest.txt")"
e2e_driver dialog-cycles --count 10 --timeout 30000 >/dev/null || e2e_fail "the dialog did not open and close ten times"
sample_rest program_dialogs
perf "memory_dialogs: $(cat "$E2E_ART/sample-program_dialogs.txt")"
latency program_plain plain
latency program_launching chord
soak_sample program >/dev/null 2>&1
perf "memory_program: $(cat "$E2E_ART/sample-program.txt")"
e2e_driver close-main >/dev/null
e2e_wait_program_exit 10

e2e_log "--- a minimal tray program"
cp "$E2E_TOOLS/driver.exe" "$E2E_PROG_DIR/trayicon.exe"
(cd "$E2E_PROG_DIR" && exec timeout -k 5 60 wine ./trayicon.exe tray-icon --for 30000) \
    >"$E2E_ART/trayicon.out" 2>&1 &
E2E_PIDS+=("$!")
e2e_driver window --title E2ETrayIcon --timeout 10000 >/dev/null || e2e_fail "the minimal tray program did not start"
sleep 1
E2E_PROG_NAME=trayicon.exe sample_rest trayicon
perf "memory_trayicon: $(cat "$E2E_ART/sample-trayicon.txt")"
e2e_driver close-main --title E2ETrayIcon --name trayicon.exe >/dev/null
e2e_driver wait-exit --name trayicon.exe --timeout 5000 >/dev/null

e2e_log "--- a keystroke in the dialog with 1 000 entries"
entries=()
for ((i = 1; i <= 1000; i++)); do
    entries+=(--entry $((1 + i % 4095)) "C:\\Program Files\\Tools\\program$i.exe" "/option $i")
done
t0=$(e2e_now)
e2e_write_config "$E2E_PROG_DIR/config.bin" --thru --program 5 "${entries[@]}"
e2e_log "config.bin of 1 000 entries written in $(e2e_since "$t0") s"
: >"$E2E_MIDI_LOG"
e2e_start_program
wait_midi_started 30 || e2e_fail "MIDI input not started with 1 000 entries"
e2e_driver tray --lparam 0x204 >/dev/null || e2e_fail "tray callback not posted"
e2e_driver menu --wait 15000 >/dev/null || e2e_fail "the tray menu did not open"
e2e_driver menu-key --row kMenuConfig >/dev/null || e2e_fail "cannot choose Settings in the menu"
E2E_DRIVER_TIMEOUT=90 e2e_driver window --title 'Vosselmar の設定' --visible 1 --timeout 60000 >/dev/null ||
    e2e_fail "the dialog did not open"
keystrokes=${VOS_PERF_KEYSTROKES:-200}
# twice that many sent characters; under 8 ms each unloaded, allowed over half a second here
out=$(E2E_DRIVER_TIMEOUT=$((60 + keystrokes)) e2e_driver edit-timing --count "$keystrokes") ||
    e2e_fail "edit timing failed: $out"
perf "keystroke_1000: $(tr -d '\r' <<<"$out" | tr '\n' ' ')"
e2e_driver close-main >/dev/null
e2e_wait_program_exit 10

e2e_log "--- sizes"
strip=$E2E_WORK/Vosselmar-stripped.exe
x86_64-w64-mingw32-strip -o "$strip" "$E2E_PROGRAM" || e2e_fail "cannot strip a copy"
perf "size: unstripped=$(stat -c %s "$E2E_PROGRAM") stripped=$(stat -c %s "$strip")"
e2e_log "performance figures in $report"
