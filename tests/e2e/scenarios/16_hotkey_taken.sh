#!/usr/bin/env bash
# Another program holds Ctrl+F12: the program says the shortcut could not be
# set, opens no MIDI input, and stays in the tray.
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

e2e_fresh_program
e2e_write_config "$E2E_PROG_DIR/config.bin" --shortcut --key 123 --mods 2 \
    --entry "$(e2e_chord_code C E G)" "$E2E_REC" 'hotkey'
icons_before=$(e2e_tray_icons)

holder_out=$E2E_ART/holder.out
timeout -k 2 40 wine "$E2E_TOOLS/driver.exe" hold-hotkey --mods ctrl --key F12 --for 30000 >"$holder_out" 2>&1 &
holder=$!
E2E_PIDS+=("$holder")
wait_log_line "$holder_out" '^registered=' 10 >/dev/null || e2e_fail "the holder did not start"
grep -q '^registered=1' "$holder_out" || e2e_fail "test setup: Ctrl+F12 already taken: $(cat "$holder_out")"

e2e_start_program
e2e_driver msgbox --timeout 10000 --expect-key kShortcutRefused --expect-buttons ok \
    --expect-icon information --answer ok || e2e_fail "shortcut message not as expected"
e2e_wait_tray_icons $((icons_before + 1)) 5 || e2e_fail "no tray icon after the shortcut message"
e2e_driver no-msgbox --for 300 >/dev/null || e2e_fail "another message box followed"
log_lines "$E2E_MIDI_LOG" ' midi(In|Out)Open ' && e2e_fail "a MIDI device was opened although the shortcut failed"
kill -0 "$E2E_PROGRAM_PID" 2>/dev/null || e2e_fail "the program ended"
e2e_driver window --title Form1 >/dev/null || e2e_fail "the program's window is gone"

kill "$holder" 2>/dev/null
e2e_driver close-main >/dev/null
e2e_wait_program_exit 10
e2e_log "hotkey taken passed"
