#!/usr/bin/env bash
# OK with no input device chosen. config.bin names input 5, which is not
# there today: the program says the device has changed and shows the dialog
# (modal), with nothing selected in the input list. OK (duplicate check
# declined) must refuse with a warning and save nothing, the dialog staying
# open; a saved "no device" would be opened and fail at every start without
# the program asking again. Choosing the device in the list and OK then
# saves input 0 with its name and opens it.
# e2e-timeout: 60
# shellcheck source-path=SCRIPTDIR source=../lib.sh
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
# shellcheck source=../lib_dialog.sh
source "$E2E_DIR/lib_dialog.sh"
e2e_scenario_begin
dlg_drv_start

e2e_fresh_program
config=$E2E_PROG_DIR/config.bin
ceg=$(e2e_chord_code C E G)
e2e_write_config "$config" --in-dev 5 --in-name 'Old Keyboard' --entry "$ceg" "$E2E_REC" 'chosen'
cp "$config" "$E2E_ART/config.before"
DLG_DPI=96
DLG_TAG=loop

e2e_log "--- start: the stored input is not there"
e2e_start_program
dlg_drv msgbox --timeout 10000 --expect-key kInputChanged --expect-buttons ok \
    --expect-icon information --answer ok || e2e_fail "changed-device message not as expected"
dlg_drv dialog --title "$DLG_TITLE" --timeout 5000 >/dev/null || e2e_fail "the dialog did not open"
dlg_snapshot loop
[[ $(dlg_get loop cmbMIDev state) == -1/1 ]] ||
    e2e_fail "input list: $(dlg_get loop cmbMIDev state) '$(dlg_get loop cmbMIDev text)', expected nothing selected of 1"

e2e_log "--- OK with no input chosen is refused"
dlg_click cmdOK
dlg_drv msgbox --expect-key kAskDuplicates --answer no >/dev/null ||
    e2e_fail "no duplicate question"
dlg_drv msgbox --expect-key kChooseInput --expect-buttons ok \
    --expect-icon warning --answer ok || e2e_fail "OK without an input device not refused as expected"
dlg_drv no-msgbox --for 300 >/dev/null || e2e_fail "another message box after the refusal"
dlg_drv dialog --title "$DLG_TITLE" --timeout 500 >/dev/null || e2e_fail "the refusal closed the dialog"
cmp "$E2E_ART/config.before" "$config" >&2 || e2e_fail "the refused OK changed config.bin"
log_lines "$E2E_MIDI_LOG" ' midiInOpen ' && e2e_fail "an input was opened after the refused OK"

e2e_log "--- the device chosen in the list, OK"
dlg_click cmbMIDev
sleep 0.3 # the list drops
timeout 5 xdotool key Home Return || e2e_fail "xdotool key failed"
for _ in $(seq 30); do
    dlg_snapshot loop
    [[ $(dlg_get loop cmbMIDev state) == 0/1 ]] && break
    sleep 0.1
done
[[ $(dlg_get loop cmbMIDev state) == 0/1 ]] || e2e_fail "the input could not be chosen: $(dlg_get loop cmbMIDev state)"
[[ $(dlg_get loop cmbMIDev text) == 'テスト鍵盤' ]] || e2e_fail "the list shows $(dlg_get loop cmbMIDev text)"
dlg_click cmdOK
dlg_drv msgbox --expect-key kAskDuplicates --answer no >/dev/null ||
    e2e_fail "no duplicate question at the second OK"
dlg_wait_gone 5 || e2e_fail "the dialog stayed open after OK with the input chosen"
wait_midi_started 10 || e2e_fail "MIDI input not started after OK"
wait_log_line "$E2E_MIDI_LOG" ' midiInOpen dev=0 .*-> 0 h=' 1 >/dev/null || e2e_fail "input 0 was not the one opened"
e2e_write_config "$E2E_ART/config.expected" --entry "$ceg" "$E2E_REC" 'chosen'
e2e_expect_same_bytes "$E2E_ART/config.expected" "$config" || e2e_fail "config.bin after OK differs from the expected bytes (input 0, テスト鍵盤)"
dlg_drv no-msgbox --for 300 >/dev/null || e2e_fail "a message box after OK"
inject_msgs 90 3C 64 90 40 64 90 43 64
wait_log_line "$E2E_RECORDER_LOG" 'chosen' 5 >/dev/null || e2e_fail "C-E-G launched nothing through the chosen input"

dlg_drv close-main >/dev/null
e2e_wait_program_exit 10
((E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE"
e2e_log "OK without input passed"
