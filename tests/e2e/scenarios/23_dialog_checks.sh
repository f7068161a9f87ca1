#!/usr/bin/env bash
# What the configuration dialog refuses or ignores, modal (first start) and
# modeless (tray menu): Enter and Esc press nothing wherever the focus is;
# OK with an entry that has no keys names the first such entry and writes
# nothing; the close box and キャンセル discard every edit, in the file and in
# the running program.
# e2e-timeout: 60
# shellcheck source-path=SCRIPTDIR source=../lib.sh
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
# shellcheck source=../lib_dialog.sh
source "$E2E_DIR/lib_dialog.sh"
e2e_scenario_begin
dlg_drv_start

e2e_fresh_program
e2e_register_htm_recorder
config=$E2E_PROG_DIR/config.bin
DLG_DPI=96

# The dialog is still open, nothing asked anything, config.bin is as written
# at the first start.
unchanged() {
    dlg_drv no-msgbox --for 300 >/dev/null || e2e_fail "$1 brought up a message box"
    dlg_drv dialog --title "$DLG_TITLE" --timeout 500 >/dev/null || e2e_fail "$1 closed the dialog"
    cmp -s "$E2E_ART/config.first" "$config" || e2e_fail "$1 changed config.bin"
}
focus_is() {
    local f
    f=$(dlg_drv focus --title "$DLG_TITLE")
    [[ $(dlg_names_of <(echo "$f") "$DLG_TAG") == "$1" ]] || e2e_fail "focus on $f, expected $1"
}
enter_and_esc() { # WHERE
    dlg_drv keys Return >/dev/null || e2e_fail "cannot press Enter"
    unchanged "Enter ($1)"
    dlg_drv keys Escape >/dev/null || e2e_fail "cannot press Esc"
    unchanged "Esc ($1)"
}

e2e_log "--- first start: Enter and Esc press nothing"
dlg_first_start
e2e_default_config 'テスト鍵盤' >"$E2E_ART/config.first"
cmp "$E2E_ART/config.first" "$config" >&2 || e2e_fail "config.bin of the first start is not the defaults"
DLG_TAG=first
dlg_snapshot first
focus_is cmdOK
enter_and_esc "focus on OK"
dlg_drv keys Tab >/dev/null
focus_is cmdCancel
enter_and_esc "focus on キャンセル"
dlg_click txtPath
focus_is txtPath
enter_and_esc "focus in the path box"
dlg_click chkMidiOut 7 8
focus_is chkMidiOut
enter_and_esc "focus on the thru box"

e2e_log "--- entries without keys are refused"
dlg_add_entry first
dlg_click cmdOK
dlg_drv msgbox --expect-key kNoChord --value ' 2' --expect-buttons ok \
    --expect-icon warning --answer ok || e2e_fail "the missing keys of entry 2 not reported as expected"
unchanged "OK with entry 2 without keys"
dlg_click lstCP 50 6 # entry 1: clear C, E and G
dlg_wait_keys "0 4 7" 3 || e2e_fail "entry 1 does not show C-E-G"
dlg_click_twips 307 3735
dlg_click_twips 1027 3735
dlg_click_twips 1747 3735
dlg_wait_keys "" 3 || e2e_fail "C, E and G did not clear"
dlg_click cmdOK
dlg_drv msgbox --expect-key kNoChord --value ' 1' --expect-buttons ok \
    --expect-icon warning --answer ok || e2e_fail "the missing keys of entry 1 not reported as expected"
unchanged "OK with entries 1 and 2 without keys"

e2e_log "--- the close box discards the edits"
dlg_close_box
dlg_wait_gone 5 || e2e_fail "the close box did not close the dialog"
dlg_drv no-msgbox --for 300 >/dev/null || e2e_fail "the close box asked something"
cmp -s "$E2E_ART/config.first" "$config" || e2e_fail "the close box wrote config.bin"
wait_midi_started 10 || e2e_fail "MIDI input not started after the dialog was closed"
inject_msgs 90 3C 40 90 40 40 90 43 40
wait_log_line "$E2E_RECORDER_LOG" '説明書\.htm' 5 >/dev/null || e2e_fail "C-E-G, cleared in the discarded edit, no longer works"
inject_msgs 80 3C 00 80 40 00 80 43 00

e2e_log "--- from the tray menu: Enter and Esc, ヘルプ, the duplicate check, キャンセル"
dlg_open_from_tray
DLG_TAG=tray
dlg_snapshot tray
[[ $(dlg_get tray lstCP state) == 0/1 ]] || e2e_fail "the discarded entry shows: $(dlg_get tray lstCP text)"
dlg_wait_keys "0 4 7" 3 || e2e_fail "the discarded key edits show"
focus_is cmdOK
enter_and_esc "modeless, focus on OK"
dlg_click txtCommand
enter_and_esc "modeless, focus in the parameters box"
dlg_click cmdHelp
wait_log_count "$E2E_RECORDER_LOG" '説明書\.htm' 2 5 || e2e_fail "ヘルプ did not open the manual"
unchanged "ヘルプ"

# a second entry C-E, a part of the first one's C-E-G
dlg_drv keys alt+a >/dev/null
dlg_click_twips 307 3735  # C
dlg_click_twips 1027 3735 # E
dlg_wait_keys "0 4" 3 || e2e_fail "C and E not set on the new entry"
dlg_drv settext --hwnd "$(dlg_get tray txtPath hwnd)" --text "${E2E_REC//\\/\\\\}" >/dev/null # the driver unescapes \\
dlg_snapshot tray
[[ $(dlg_get tray lstCP state) == 1/2 && $(dlg_get tray lstCP text) == *'> 2  '*'recorder.exe' ]] ||
    e2e_fail "Alt+A did not add an entry from the tray: $(dlg_get tray lstCP text)"
dlg_click cmdOK
dlg_drv msgbox --expect-key kAskDuplicates --answer yes >/dev/null ||
    e2e_fail "no duplicate question"
dlg_drv msgbox --expect-key kContained --value ' 2' --value ' 1' --expect-buttons yesno \
    --expect-icon warning --answer yes || e2e_fail "the overlap of entry 2 with entry 1 not reported as expected"
unchanged "going back after the duplicate check"
dlg_click cmdCancel
dlg_wait_gone 5 || e2e_fail "キャンセル did not close the dialog"
cmp -s "$E2E_ART/config.first" "$config" || e2e_fail "キャンセル wrote config.bin"
dlg_drv no-msgbox --for 200 >/dev/null || e2e_fail "キャンセル asked something"

e2e_log "--- the last entry cannot be deleted; the close box"
dlg_open_from_tray
DLG_TAG=again
dlg_snapshot again
[[ $(dlg_get again lstCP state) == 0/1 ]] || e2e_fail "the entry added before キャンセル shows: $(dlg_get again lstCP text)"
hwnd=$DLG_HWND
dlg_open_from_tray # once more while it is open
wins=$(dlg_drv windows --name Vosselmar.exe)
[[ $(grep -c 'class=VosselmarConfig .*visible=1' <<<"$wins") == 1 && $wins == *"hwnd=$hwnd class=VosselmarConfig"* ]] ||
    e2e_fail "設定 with the dialog open did not just bring it back: $wins"
dlg_drv keys alt+d >/dev/null
dlg_drv msgbox --expect-key kOneEntryNeeded --expect-buttons ok --expect-icon warning --answer ok ||
    e2e_fail "deleting the last entry not refused as expected"
dlg_snapshot again
[[ $(dlg_get again lstCP state) == 0/1 ]] || e2e_fail "the last entry was deleted"
dlg_close_box
dlg_wait_gone 5 || e2e_fail "the close box did not close the modeless dialog"
launches=$(log_lines "$E2E_RECORDER_LOG" . | wc -l)
inject_msgs 92 3C 50 92 40 50
dlg_drv no-msgbox --for 300 >/dev/null || e2e_fail "a message box after C-E"
[[ $(log_lines "$E2E_RECORDER_LOG" . | wc -l) == "$launches" ]] ||
    e2e_fail "the entry discarded by キャンセル launched: $(log_lines "$E2E_RECORDER_LOG" . | tail -n 1)"
cmp -s "$E2E_ART/config.first" "$config" || e2e_fail "config.bin changed"

dlg_drv close-main >/dev/null
e2e_wait_program_exit 10
e2e_log "dialog checks passed"
