#!/usr/bin/env bash
# Input device trouble at start: with no MIDI input at all the program says so
# and ends without a tray icon; with an input that cannot be opened it names
# the device in a warning and keeps running in the tray.
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

e2e_fresh_program --in ''
# valid settings, so the device is the only thing missing
e2e_write_config "$E2E_PROG_DIR/config.bin" --in-name 'テスト鍵盤' \
    --entry "$(e2e_chord_code C E G)" "$E2E_REC" 'x'
cp "$E2E_PROG_DIR/config.bin" "$E2E_ART/config.before"
icons_before=$(e2e_tray_icons)

e2e_log "--- no MIDI input device"
e2e_start_program
e2e_driver msgbox --timeout 10000 --expect-key kNoMidiInput --expect-buttons ok \
    --expect-icon error --answer ok || e2e_fail "no-device message not as expected"
e2e_wait_program_exit 10 || e2e_fail "program still running without an input device"
e2e_log "exit code: $E2E_EXIT_CODE"
(($(e2e_tray_icons) == icons_before)) || e2e_fail "a tray icon appeared without an input device"
cmp -s "$E2E_ART/config.before" "$E2E_PROG_DIR/config.bin" || e2e_fail "config.bin changed"

e2e_log "--- input device that cannot be opened"
export VOS_MIDI_IN='テスト鍵盤' VOS_MIDI_FAIL=in_open
e2e_start_program
e2e_driver msgbox --timeout 10000 --expect-key kCannotOpenInput --value 'テスト鍵盤' --expect-buttons ok \
    --expect-icon warning --answer ok || e2e_fail "open failure message not as expected"
log_lines "$E2E_MIDI_LOG" ' midiInOpen dev=0 .* -> 4$' >/dev/null || e2e_fail "no failed midiInOpen in the log"
e2e_wait_tray_icons $((icons_before + 1)) 5 || e2e_fail "no tray icon after the open failure"
e2e_driver no-msgbox --for 300 >/dev/null || e2e_fail "another message box followed"
e2e_driver process-running --name Vosselmar.exe >/dev/null || e2e_fail "the program ended after the open failure"
kill -0 "$E2E_PROGRAM_PID" 2>/dev/null || e2e_fail "the program ended after the open failure"

e2e_driver close-main >/dev/null
e2e_wait_program_exit 10
e2e_log "exit code after close: $E2E_EXIT_CODE"
e2e_log "input device problems passed"
