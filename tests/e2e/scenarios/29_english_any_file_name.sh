#!/usr/bin/env bash
# An English user with a folder and files outside code page 932: en_US locale, no language switch,
# the program in "C:\Vosselmar Músic Ж". The first start speaks English (terms, device request,
# dialog, the manual Manual.htm as the default entry); a chord saved in the dialog opens a copy of
# recorder.exe named with é, Ж and 😀 with parameters holding them too. config.bin holds exactly
# that (the record of exact texts), and after a restart the dialog lists it and the chord starts
# exactly that file with exactly those parameters; C-E-G opens the English manual.
# e2e-timeout: 60
# shellcheck source-path=SCRIPTDIR source=../lib.sh
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
# shellcheck source=../lib_dialog.sh
source "$E2E_DIR/lib_dialog.sh"
export LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 # the program and the driver pick their language from it
e2e_scenario_begin
dlg_drv_start

e2e_fresh_program --dir "$WINEPREFIX/drive_c/Vosselmar Músic Ж" --in 'USB MIDI Keyboard' --out 'Microsoft GS Wavetable Synth'
e2e_register_htm_recorder
dir=$(dlg_winpath "$E2E_PROG_DIR")
manual="$dir\\Manual.htm"
cp "$E2E_TOOLS/recorder.exe" "$E2E_PROG_DIR/Café Ж 😀.exe"
target="$dir\\Café Ж 😀.exe"
params='--take "Ж é 😀" --set=Músic'
esc() { printf '%s' "${1//\\/\\\\}"; } # as the driver prints texts
DLG_LANG=en DLG_TITLE='Vosselmar settings' DLG_TAG=first

e2e_log "--- first start in English: a chord for the file named outside code page 932"
dlg_first_start
dlg_snapshot first
[[ $(dlg_get first lstCP text) == "$(esc "> 1  $manual")" ]] || e2e_fail "first entry: $(dlg_get first lstCP text)"
dlg_add_entry first --title "$DLG_TITLE"
dlg_drv settext --hwnd "$(dlg_get first txtPath hwnd)" --text "$(esc "$target")" >/dev/null || e2e_fail "cannot set the path"
dlg_drv settext --hwnd "$(dlg_get first txtCommand hwnd)" --text "$params" >/dev/null || e2e_fail "cannot set the parameters"
dlg_click_twips 667 3735  # D
dlg_click_twips 1387 3735 # F
dlg_click_twips 2107 3735 # A
dlg_wait_keys "2 5 9" 3 dialog-unicode-en || e2e_fail "D, F and A are not shown set"
dlg_click cmdOK
dlg_drv msgbox --expect-key kAskDuplicates --expect-buttons yesno --answer no >/dev/null || e2e_fail "no duplicate question"
dlg_wait_gone 5 || e2e_fail "the dialog stayed open after OK"
wait_midi_started 10 || e2e_fail "MIDI input not started after OK"
e2e_write_config "$E2E_ART/config.expected" --entry $((0x91)) "$manual" '' --entry $((0x224)) "$target" "$params"
e2e_expect_same_bytes "$E2E_ART/config.expected" "$E2E_PROG_DIR/config.bin" || e2e_fail "config.bin differs from the expected bytes"
dlg_drv close-main >/dev/null
e2e_wait_program_exit 10
((E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE"

e2e_log "--- restart: the dialog lists the exact path, the chords open exactly their files"
e2e_start_program
wait_log_count "$E2E_MIDI_LOG" ' midiInStart h=0x[0-9a-f]+ -> 0$' 2 10 || e2e_fail "MIDI input not started again"
dlg_drv no-msgbox --for 300 >/dev/null || e2e_fail "the restart asked something"
dlg_open_from_tray
DLG_TAG=again
dlg_snapshot again
[[ $(dlg_get again lstCP text) == "$(esc "> 1  $manual |  2  $target")" ]] ||
    e2e_fail "the dialog lists: $(dlg_get again lstCP text)"
dlg_close_box
dlg_wait_gone 5 || e2e_fail "the close box did not close the dialog"
inject_msgs 90 3E 50 90 41 50 90 45 50 80 3E 00 80 41 00 80 45 00
wait_log_count "$E2E_RECORDER_LOG" . 1 5 || e2e_fail "D-F-A launched nothing"
inject_msgs 90 3C 50 90 40 50 90 43 50
wait_log_count "$E2E_RECORDER_LOG" . 2 5 || e2e_fail "C-E-G launched nothing"
sleep 0.3
launched=$(log_lines "$E2E_RECORDER_LOG" . | cut -f1)
expected="\"$target\" $params"$'\n'"\"$(e2e_winpath "$E2E_TOOLS/recorder.exe")\" \"$manual\""
[[ $launched == "$expected" ]] || e2e_fail "launched: $launched expected: $expected"
dlg_drv close-main >/dev/null
e2e_wait_program_exit 10
((E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE"
e2e_log "English first start with names outside code page 932 passed"
