#!/usr/bin/env bash
# The stored input name no longer matches device 0: the program says so and
# shows the configuration dialog; cancelling it brings the message back (a
# loop) until the stored device matches, and only then is input opened.
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

e2e_fresh_program
ceg=$(e2e_chord_code C E G)
e2e_write_config "$E2E_PROG_DIR/config.bin" --in-name 'Old Keyboard' --entry "$ceg" "$E2E_REC" 'changed'
icons_before=$(e2e_tray_icons)
dialog_title='Vosselmar の設定'

e2e_start_program
for round in 1 2; do
    e2e_log "--- round $round"
    e2e_driver msgbox --timeout 10000 --expect-key kInputChanged --expect-buttons ok \
        --expect-icon information --answer ok || e2e_fail "round $round: changed-device message not as expected"
    if ! e2e_driver window --title "$dialog_title" --timeout 3000 >/dev/null; then
        e2e_log "no configuration dialog in this build"
        continue
    fi
    log_lines "$E2E_MIDI_LOG" ' midiInOpen ' && e2e_fail "round $round: input opened while the device is wrong"
    (($(e2e_tray_icons) == icons_before)) || e2e_fail "round $round: tray icon shown while in the device loop"
    # before the last close the user has put things right (as OK would)
    ((round == 2)) && e2e_write_config "$E2E_PROG_DIR/config.bin" --in-name 'テスト鍵盤' --entry "$ceg" "$E2E_REC" 'changed'
    e2e_driver close-main --title "$dialog_title" >/dev/null || e2e_fail "cannot close the dialog"
done

e2e_log "--- after the stored device matches"
wait_midi_started 10 || e2e_fail "input not opened once the stored device matches"
e2e_driver no-msgbox --for 300 >/dev/null || e2e_fail "the changed-device message came a third time"
e2e_wait_tray_icons $((icons_before + 1)) 5 || e2e_fail "no tray icon"
[[ $(log_lines "$E2E_MIDI_LOG" ' midiInOpen ' | wc -l) == 1 ]] || e2e_fail "input opened more than once"
inject_msgs 90 40 64 90 43 64 90 3C 64
wait_log_line "$E2E_RECORDER_LOG" 'changed' 5 >/dev/null || e2e_fail "chord did not launch"

e2e_driver close-main >/dev/null
e2e_wait_program_exit 10
e2e_log "changed device passed"
