#!/usr/bin/env bash
# Log-off (WM_QUERYENDSESSION, WM_ENDSESSION) with thru on: the program
# agrees, closes input in order, silences and closes the output, removes its
# tray icon and ends with code 0 before the system would end it.
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

e2e_fresh_program
e2e_write_config "$E2E_PROG_DIR/config.bin" --thru --program 0 --shortcut \
    --entry "$(e2e_chord_code C E G)" "$E2E_REC" 'logoff'
icons_before=$(e2e_tray_icons)

e2e_start_program
wait_midi_started 10 || e2e_fail "MIDI input not started"
e2e_wait_tray_icons $((icons_before + 1)) 5 || e2e_fail "no tray icon"
[[ $(midi_out_msgs | head -n 1) == 0x000000c0 ]] || e2e_fail "program change 0 not sent first: $(midi_out_msgs | head -n 1)"
inject_msgs 90 3C 64
from=$(wc -l <"$E2E_MIDI_LOG")

# The system may end the process any time after WM_ENDSESSION returns; the
# driver does so after 3 s, so a program that does not end by itself is
# caught (and the clean-up checks below still run).
out=$(e2e_driver endsession --kill-after 3000) || e2e_fail "endsession failed"
grep -q '^queryendsession=1$' <<<"$out" || e2e_fail "log-off refused: $out"
e2e_wait_program_exit 10 || e2e_fail "program still running after log-off"
ended_itself=1
grep -q '^terminated=1$' <<<"$out" && ended_itself=0
((ended_itself == 0 || E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE after log-off"
shutdown=$(tail -n +$((from + 1)) "$E2E_MIDI_LOG" | tr -d '\r' | grep -E ' midi(In|Out)[A-Za-z]+ ' |
    sed -E 's/^[0-9]+ (midi[A-Za-z]+) .*msg=(0x[0-9a-f]+).*/\1 \2/; s/^[0-9]+ (midi[A-Za-z]+) .*/\1/' | tr '\n' ' ')
# The key C4 is still held: after the all-notes-off, its own note-off.
[[ $shutdown == 'midiInStop midiInReset midiInUnprepareHeader midiInClose midiOutShortMsg 0x00007cb0 midiOutShortMsg 0x00403c80 midiOutClose ' ]] ||
    e2e_fail "shutdown calls: $shutdown"
log_lines "$E2E_MIDI_LOG" ' midi(InStop|InReset|InUnprepareHeader|InClose|OutClose) ' | grep -v ' -> 0' &&
    e2e_fail "a shutdown call failed"
e2e_wait_tray_icons "$icons_before" 5 || e2e_fail "tray icon still there after log-off"
e2e_driver hold-hotkey --mods ctrl --key F12 >/dev/null || e2e_fail "Ctrl+F12 still taken after log-off"
((ended_itself)) ||
    e2e_fail "PROGRAM FAULT: after WM_ENDSESSION(TRUE) the program cleaned up but did not end by itself (still running 3 s later, ended by the driver); expected it to end with exit code 0"
e2e_log "log-off passed"
