#!/usr/bin/env bash
# Soak: the configuration dialog opened from the tray menu, edited (three
# characters typed into the path box, which the code list follows; a key of
# the keyboard clicked, which changes colour) and closed with the close box,
# many times. Nothing is saved (config.bin stays byte for byte), nothing is
# re-applied (MIDI input opened once), and the program's threads, windows,
# GDI objects, handles and memory stay flat (tolerances in lib_soak.sh; at
# full scale Wine's own cost of such a window, measured in the same run, is
# allowed for; at the small scale a growth is confirmed by a second batch,
# see soak_judge). VOS_SOAK_SCALE=ci: 50 openings, full: 1 000.
# e2e-timeout: 300
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
source "$E2E_DIR/lib_soak.sh"
e2e_scenario_begin
soak_scale
export E2E_PROGRAM_TIMEOUT=$((300 + 10 * SOAK_DIALOGS))

e2e_fresh_program
dir=$(e2e_winpath "$E2E_PROG_DIR")
e2e_write_config "$E2E_PROG_DIR/config.bin" --thru --program 5 \
    --entry "$(e2e_chord_code C E G)" "$dir\\recorder.exe" 'soak' \
    --entry "$(e2e_chord_code D F A)" "$dir\\説明書.htm" '' \
    --entry "$(e2e_chord_code E G B)" 'https://example.com/' ''
cp "$E2E_PROG_DIR/config.bin" "$E2E_WORK/config.before"

e2e_start_program
wait_midi_started 10 || e2e_fail "MIDI input not started"
e2e_driver window --title Form1 --timeout 5000 >/dev/null || e2e_fail "no main window"
soak_sample start  # the first reading settles what reading itself touches

warm=$((SOAK_DIALOGS / 10))
((warm >= 5)) || warm=5
E2E_DRIVER_TIMEOUT=$((60 + 4 * warm)) e2e_driver dialog-cycles --count "$warm" --timeout 30000 >/dev/null || e2e_fail "warm-up openings failed"
soak_sample before
out=$(E2E_DRIVER_TIMEOUT=$((60 + 4 * SOAK_DIALOGS)) e2e_driver dialog-cycles --count "$SOAK_DIALOGS" --timeout 30000) ||
    e2e_fail "an opening failed: $out"
soak_sample after
soak_report "dialogs=$SOAK_DIALOGS $(tr -d '\r' <<<"$out")"

wine_per_op=0
if [[ $SOAK_SCALE == full ]]; then
    baseline=$(soak_window_baseline "$SOAK_DIALOGS" "$warm")
    soak_report "$baseline"
    wine_per_op=$(e2e_field baseline_unix_bytes_per_cycle <<<"$baseline")
    ((wine_per_op > 0)) || wine_per_op=0
fi
more_openings() {
    out=$(E2E_DRIVER_TIMEOUT=$((60 + 4 * $1)) e2e_driver dialog-cycles --count "$1" --timeout 30000) ||
        e2e_fail "an opening of the second batch failed: $out"
    soak_report "dialogs=$1 (second batch) $(tr -d '\r' <<<"$out")"
}
soak_judge before after "$SOAK_DIALOGS" dialogs "$wine_per_op" more_openings || e2e_fail "resources grew over the openings"

cmp -s "$E2E_PROG_DIR/config.bin" "$E2E_WORK/config.before" || e2e_fail "config.bin changed though nothing was saved"
(($(log_lines "$E2E_MIDI_LOG" ' midiInOpen ' | wc -l) == 1)) || e2e_fail "MIDI input reopened: settings were applied"
log_lines "$E2E_RECORDER_LOG" . && e2e_fail "an opening launched something"

e2e_driver close-main >/dev/null || e2e_fail "cannot close the program"
e2e_wait_program_exit 10 || e2e_fail "program still running"
((E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE"
e2e_log "dialog soak passed"
