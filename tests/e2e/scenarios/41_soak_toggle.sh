#!/usr/bin/env bash
# Soak: many left clicks on the tray icon (the tray callback posted to the
# hidden window), with thru on. Every switch-off silences the output once,
# so N clicks send exactly N/2 all-notes-off messages; afterwards the
# program is on again and forwards, the tray holds one icon, and resources
# stay flat (tolerances in lib_soak.sh; at the small scale a growth is
# confirmed by a second batch of clicks, see soak_judge). VOS_SOAK_SCALE=ci:
# 1 000 clicks, full: 10 000.
# e2e-timeout: 300
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
source "$E2E_DIR/lib_soak.sh"
e2e_scenario_begin
soak_scale
((SOAK_TOGGLES % 2 == 0)) || e2e_fail "VOS_SOAK_TOGGLES must be even"
export E2E_PROGRAM_TIMEOUT=$((300 + SOAK_TOGGLES / 10))

icons_before=$(e2e_tray_icons)
soak_start_thru_program soak
e2e_wait_tray_icons $((icons_before + 1)) 5 || e2e_fail "no tray icon"
soak_sample start  # the first reading settles what reading itself touches

silences() { log_lines "$E2E_MIDI_LOG" ' midiOutShortMsg h=0x[0-9a-f]+ msg=0x00007cb0 -> 0$' | wc -l; }
clicked=0
# click N: N left clicks, posted 1 000 at a time (a Windows queue holds
# 10 000); each batch is taken when its last switch-off has been heard.
click() {
    local left=$1 n
    while ((left > 0)); do
        n=$((left < 1000 ? left : 1000))
        e2e_driver post-burst --count "$n" --msg 0x401 --lparam 0x201 >/dev/null || e2e_fail "clicks not posted"
        clicked=$((clicked + n))
        wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg h=0x[0-9a-f]+ msg=0x00007cb0 -> 0$' $((clicked / 2)) \
            $((10 + n / 20)) || e2e_fail "after $clicked clicks: $(silences) all-notes-off, expected $((clicked / 2))"
        left=$((left - n))
    done
}

warm=$((SOAK_TOGGLES / 10 / 2 * 2))
((warm >= 100)) || warm=100
click "$warm"
soak_sample before
t0=$(e2e_now)
click "$SOAK_TOGGLES"
secs=$(e2e_since "$t0")
sleep 0.3
soak_sample after
soak_report "toggles=$SOAK_TOGGLES silences=$(($(silences) - warm / 2)) seconds=$secs ms_per_toggle=$(awk -v n="$SOAK_TOGGLES" -v s="$secs" 'BEGIN { printf "%.2f", 1000 * s / n }')"

more_clicks() {
    click "$1"
    sleep 0.3
}
soak_judge before after "$SOAK_TOGGLES" toggles 0 more_clicks || e2e_fail "resources grew while toggling"

(($(silences) == clicked / 2)) || e2e_fail "$clicked clicks sent $(silences) all-notes-off, expected $((clicked / 2))"
# on again: a message is forwarded; one icon in the tray
n_out=$(midi_out_msgs | wc -l)
inject_msgs B0 07 64
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' $((n_out + 1)) 5 || e2e_fail "not forwarding after an even number of clicks"
[[ $(midi_out_msgs | tail -n 1) == 0x006407b0 ]] || e2e_fail "forwarded $(midi_out_msgs | tail -n 1)"
e2e_wait_tray_icons $((icons_before + 1)) 5 || e2e_fail "the tray does not show exactly one icon of ours"

e2e_driver close-main >/dev/null || e2e_fail "cannot close the program"
e2e_wait_program_exit 10 || e2e_fail "program still running"
((E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE"
e2e_log "toggle soak passed"
