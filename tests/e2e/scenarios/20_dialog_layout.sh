#!/usr/bin/env bash
# The configuration dialog at 96 DPI, as the first start shows it and as the
# tray menu opens it: every control where the layout table puts it (to the
# pixel) with the defaults in it, the Tab order with and without the
# shortcut and thru options, real mouse clicks on the key boundaries read
# back from the screen and from the saved config.bin, and the close box
# discarding edits; then the same first start in English. Screenshots:
# dialog-defaults.png, tray-menu.png, dialog-defaults-en.png, tray-menu-en.png.
# e2e-timeout: 60
# shellcheck source-path=SCRIPTDIR source=../lib.sh
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
# shellcheck source=../lib_dialog.sh
source "$E2E_DIR/lib_dialog.sh"
e2e_scenario_begin
dlg_drv_start

e2e_fresh_program --dir "$WINEPREFIX/drive_c/Vosselmar" # C:\Vosselmar: the same picture every run
e2e_register_htm_recorder
config=$E2E_PROG_DIR/config.bin
manual="$(dlg_winpath "$E2E_PROG_DIR")\\説明書.htm"
DLG_DPI=96

# The focus after each Tab from OK, all options on; the disabled ones drop out. The keys are
# one stop, on C until the arrows move it.
all_stops=(cmdOK cmdCancel cmdHelp lstCP cmdAdd cmdDel txtPath cmdSansyo picKey0 chkLearn
    txtCommand cmbMIDev chkShortcut chkShift chkCtrl chkAlt cmbSKey chkMidiOut cmbMODev cmbPC)
expect_tab_walk() { # TAG FROM SKIP...: the walk from FROM round to FROM again
    local tag=$1 from=$2 want=() name skip got
    shift 2
    local -a cycle=()
    for name in "${all_stops[@]}"; do
        skip=0
        for s in "$@"; do [[ $s == "$name" ]] && skip=1; done
        ((skip)) || cycle+=("$name")
    done
    local i start=-1
    for i in "${!cycle[@]}"; do [[ ${cycle[i]} == "$from" ]] && start=$i; done
    ((start >= 0)) || e2e_fail "expect_tab_walk: $from is not a stop"
    for ((i = 0; i <= ${#cycle[@]}; i++)); do want+=("${cycle[(start + i) % ${#cycle[@]}]}"); done
    dlg_drv tab-walk --title "$DLG_TITLE" --max 30 >"$E2E_ART/tab-$tag.txt" || e2e_log "tab walk did not come round"
    got=$(dlg_names_of "$E2E_ART/tab-$tag.txt" "$tag" | tr '\n' ' ')
    e2e_log "Tab order ($tag): $got"
    [[ $got == "${want[*]} " ]] || e2e_fail "Tab order ($tag): $got expected: ${want[*]}"
}

e2e_log "--- first start: the dialog with the defaults"
dlg_first_start
DLG_TAG=first
dlg_snapshot first
[[ $DLG_CLIENT == "$(dlg_client_size 96)" && $DLG_CLIENT == 314x489 ]] ||
    e2e_fail "client area $DLG_CLIENT, expected 314x489"
dlg_check_geometry first 96 0 || e2e_fail "controls not where the layout puts them at 96 DPI"

disabled=$(awk -F'\t' '$4 == 0 { print $1 }' "$E2E_ART/map-first.txt" | sort | tr '\n' ' ')
[[ $disabled == 'Label2 Label3 chkAlt chkCtrl chkShift cmbMODev cmbPC cmbSKey ' ]] ||
    e2e_fail "disabled with shortcut and thru off: $disabled"
check_value() { # NAME FIELD EXPECTED
    local got
    got=$(dlg_get first "$1" "$2")
    [[ $got == "$3" ]] || e2e_fail "$1 $2: '$got', expected '$3'"
}
check_value lstCP state 0/1
esc_manual=${manual//\\/\\\\} # as the driver prints texts
check_value lstCP text "> 1  $esc_manual"
check_value txtPath text "$esc_manual"
check_value txtCommand text ''
check_value cmbMIDev text 'テスト鍵盤'
check_value cmbMODev text 'テスト音源'
check_value cmbPC state 0/128
check_value cmbSKey text F12
check_value chkShortcut state 0
check_value chkMidiOut state 0
check_value chkShift state 0
check_value chkCtrl state 1
check_value chkAlt state 0
[[ $(dlg_get first cmbPC text) == 001* ]] || e2e_fail "instrument shown: $(dlg_get first cmbPC text)"

dlg_wait_keys "0 4 7" 3 dialog-defaults || e2e_fail "the defaults do not show C-E-G"
focus=$(dlg_drv focus --title "$DLG_TITLE")
[[ $(dlg_names_of <(echo "$focus") first) == cmdOK ]] || e2e_fail "initial focus: $focus"
expect_tab_walk first cmdOK chkShift chkCtrl chkAlt cmbSKey cmbMODev cmbPC

e2e_log "--- real clicks on the key boundaries"
dlg_click_twips 480 2800 # C/D boundary, upper part: C# lies on top
dlg_wait_keys "0 1 4 7" 3 || e2e_fail "a click at 480,2800 twips did not toggle C# (alone)"
dlg_click_twips 470 3600 # below the black keys, C side
dlg_wait_keys "1 4 7" 3 || e2e_fail "a click at 470,3600 twips did not toggle C (alone)"

e2e_log "--- OK saves what the keys show"
dlg_click cmdOK
dlg_drv msgbox --expect-key kAskDuplicates --expect-buttons yesno \
    --expect-default no --expect-icon information --answer no || e2e_fail "duplicate question not as expected"
dlg_wait_gone 5 || e2e_fail "the dialog stayed open after OK"
wait_midi_started 10 || e2e_fail "MIDI input not started after OK"
e2e_write_config "$E2E_ART/config.expected" --entry $((0x92)) "$manual" ''
e2e_expect_same_bytes "$E2E_ART/config.expected" "$config" || e2e_fail "config.bin after the clicks differs from the expected bytes"
cp "$config" "$E2E_ART/config.saved"
inject_msgs 90 3D 40 90 40 40 90 43 40
wait_log_line "$E2E_RECORDER_LOG" '説明書\.htm' 5 >/dev/null || e2e_fail "the saved chord C#-E-G did not open the manual"
inject_msgs 80 3D 00 80 40 00 80 43 00

e2e_log "--- from the tray menu: the saved state, Tab order with every option on"
dlg_open_from_tray tray-menu
[[ $(identify -format '%w' "$E2E_ART/tray-menu.png" 2>/dev/null) -ge 40 ]] || e2e_fail "no picture of the tray menu"
DLG_TAG=tray
dlg_snapshot tray
dlg_check_geometry tray 96 0 || e2e_fail "controls not in place when opened from the tray"
focus=$(dlg_drv focus --title "$DLG_TITLE")
[[ $(dlg_names_of <(echo "$focus") tray) == cmdOK ]] || e2e_fail "initial focus from the tray: $focus"
dlg_wait_keys "1 4 7" 3 || e2e_fail "the dialog does not show the saved chord C#-E-G"
dlg_click chkShortcut 7 8
dlg_click chkMidiOut 7 8
for _ in $(seq 30); do
    dlg_snapshot tray
    [[ $(dlg_get tray cmbPC enabled) == 1 && $(dlg_get tray cmbSKey enabled) == 1 ]] && break
    sleep 0.1
done
disabled=$(awk -F'\t' '$4 == 0 { print $1 }' "$E2E_ART/map-tray.txt" | tr '\n' ' ')
[[ -z $disabled ]] || e2e_fail "still disabled with both options on: $disabled"
[[ $(dlg_get tray chkShortcut state) == 1 && $(dlg_get tray chkMidiOut state) == 1 ]] ||
    e2e_fail "the clicked check boxes are not checked"
expect_tab_walk tray chkMidiOut
dlg_click_twips 1740 3600 # G off
dlg_wait_keys "1 4" 3 || e2e_fail "a click on G did not clear it"

e2e_log "--- the close box discards the edits"
dlg_close_box
dlg_wait_gone 5 || e2e_fail "the close box did not close the dialog"
dlg_drv no-msgbox --for 300 >/dev/null || e2e_fail "the close box asked something"
cmp -s "$E2E_ART/config.saved" "$config" || e2e_fail "config.bin changed although the dialog was closed with the close box"
dlg_open_from_tray
DLG_TAG=again
dlg_snapshot again
[[ $(dlg_get again chkShortcut state) == 0 && $(dlg_get again chkMidiOut state) == 0 ]] ||
    e2e_fail "edits discarded by the close box show again"
dlg_wait_keys "1 4 7" 3 || e2e_fail "the key edit discarded by the close box shows again"
dlg_close_box
dlg_wait_gone 5 || e2e_fail "the close box did not close the dialog"

dlg_drv close-main >/dev/null
e2e_wait_program_exit 10

e2e_log "--- in English (/lang:en): the same places, the English captions"
e2e_fresh_program --dir "$WINEPREFIX/drive_c/Vosselmar" --in 'USB MIDI Keyboard' --out 'Microsoft GS Wavetable Synth'
DLG_LANG=en DLG_TITLE='Vosselmar settings' DLG_EXPECTED_DPI=''
e2e_start_program /lang:en
dlg_drv msgbox --timeout 10000 --no-icon 1 --lang en --expect-key kTerms --expect-buttons yesno --answer yes >/dev/null ||
    e2e_fail "no terms question at the first start in English"
dlg_drv msgbox --no-icon 1 --lang en --expect-key kChooseInput --answer ok >/dev/null || e2e_fail "no device request at the first start in English"
dlg_drv dialog --title "$DLG_TITLE" --timeout 5000 >/dev/null || e2e_fail "the English dialog did not open"
DLG_TAG=en
dlg_snapshot en
dlg_check_geometry en 96 0 || e2e_fail "English captions missing or controls not in place at 96 DPI"
[[ $(dlg_get en lstCP text) == *'\\Manual.htm' ]] || e2e_fail "the first entry is not the English manual: $(dlg_get en lstCP text)"
[[ $(dlg_get en cmbPC text) == '001 Acoustic Grand Piano' ]] || e2e_fail "instrument shown: $(dlg_get en cmbPC text)"
dlg_wait_keys "0 4 7" 3 dialog-defaults-en || e2e_fail "the English defaults do not show C-E-G"
dlg_click cmdOK
dlg_drv msgbox --lang en --expect-key kAskDuplicates --expect-buttons yesno --answer no >/dev/null || e2e_fail "no duplicate question in English"
dlg_wait_gone 5 || e2e_fail "the English dialog stayed open after OK"
wait_midi_started 10 || e2e_fail "MIDI input not started after OK in English"
dlg_open_from_tray tray-menu-en
dlg_close_box
dlg_wait_gone 5 || e2e_fail "the close box did not close the English dialog"
dlg_drv close-main >/dev/null
e2e_wait_program_exit 10
e2e_log "dialog layout passed"
