#!/usr/bin/env bash
# Setting a chord by playing it, and the chord editor without a mouse.
# First start (modal dialog, nothing open yet): an input that cannot be opened
# is told and the toggle goes off; then Alt+L opens the chosen input for
# learning, a rolled chord keeps only its fullest moment (not the union), a
# triad held lights its keys and becomes the entry's chord; OK closes the
# learning input before opening the settings' own (never two at once) and
# saves it. From the tray with thru on: the input in use is heard (no second
# open), the stored chord launches nothing while learning but is still
# forwarded, Cancel switches learning off. Then what a screen reader learns of
# every control from outside the program, and a chord set, saved and launched
# with the keyboard alone. Screenshots: dialog-learning.png,
# dialog-keyboard.png.
# e2e-timeout: 90
# shellcheck source-path=SCRIPTDIR source=../lib.sh
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
# shellcheck source=../lib_dialog.sh
source "$E2E_DIR/lib_dialog.sh"
e2e_scenario_begin
dlg_drv_start

e2e_fresh_program --dir "$WINEPREFIX/drive_c/Vosselmar"
e2e_register_htm_recorder
config=$E2E_PROG_DIR/config.bin
manual="$(dlg_winpath "$E2E_PROG_DIR")\\説明書.htm"
DLG_DPI=96

state_is() { # TAG NAME STATE SECS: waits for a control's check state
    local t0
    t0=$(e2e_now)
    while :; do
        dlg_snapshot "$1"
        [[ $(dlg_get "$1" "$2" state) == "$3" ]] && return 0
        awk -v a="$t0" -v b="$(e2e_now)" -v l="$4" 'BEGIN { exit !(b - a > l) }' && return 1
        sleep 0.1
    done
}
# Inputs open at the most at any moment, from the MIDI log.
most_inputs_open() {
    log_lines "$E2E_MIDI_LOG" ' midiIn(Open|Close) ' |
        awk '/midiInOpen/ && / -> 0( |$)/ { n++ } /midiInClose/ && / -> 0( |$)/ { n-- } n > m { m = n } END { print m + 0 }'
}
launches() { log_lines "$E2E_RECORDER_LOG" . 2>/dev/null | wc -l; }

e2e_log "--- first start: an input that cannot be opened"
dlg_first_start
DLG_TAG=first
dlg_snapshot first
[[ $(dlg_get first chkLearn state) == 0 && $(dlg_get first chkLearn text) == '演奏(&L)' ]] ||
    e2e_fail "the toggle: '$(dlg_get first chkLearn text)' state $(dlg_get first chkLearn state)"
e2e_inject_raw "fail in_open"
dlg_drv keys alt+l >/dev/null || e2e_fail "cannot press Alt+L"
dlg_drv msgbox --expect-key kCannotOpenInput --value 'テスト鍵盤' --expect-icon warning \
    --answer ok >/dev/null || e2e_fail "no clear message for the input that cannot be opened"
state_is first chkLearn 0 3 || e2e_fail "the toggle stayed on although the input cannot be opened"
e2e_inject_raw "fail "

e2e_log "--- learning in the modal dialog: a rolled chord, then a triad held"
dlg_drv keys alt+l >/dev/null || e2e_fail "cannot press Alt+L"
state_is first chkLearn 1 3 || e2e_fail "Alt+L did not switch learning on"
wait_midi_started 5 || e2e_fail "learning did not open the chosen input"
inject_msgs 90 3E 40 90 41 40 90 45 40 80 3E 00 80 41 00 90 47 40 80 45 00 80 47 00
dlg_wait_keys "2 5 9" 3 || e2e_fail "D-F-A rolled into B did not leave D-F-A alone"
inject_msgs 90 41 40 90 45 40 90 48 40
dlg_wait_keys "0 5 9" 3 dialog-learning || e2e_fail "F, A and C held do not light"
inject_msgs 80 48 00 80 45 00
dlg_wait_keys "5" 3 || e2e_fail "the keys do not follow what is held"
inject_msgs 80 41 00
dlg_wait_keys "0 5 9" 3 || e2e_fail "F-A-C did not become the chord"
dlg_drv keys alt+o >/dev/null || e2e_fail "cannot press Alt+O"
dlg_drv msgbox --expect-key kAskDuplicates --answer no >/dev/null ||
    e2e_fail "no duplicate question"
dlg_wait_gone 5 || e2e_fail "the dialog stayed open after OK"
wait_log_count "$E2E_MIDI_LOG" ' midiInStart h=0x[0-9a-f]+ -> 0$' 2 5 || e2e_fail "the settings' input not started"
[[ $(most_inputs_open) == 1 ]] || e2e_fail "two inputs were open at once"
e2e_write_config "$E2E_ART/config.expected" --entry $((0x221)) "$manual" ''
cmp "$E2E_ART/config.expected" "$config" >&2 || e2e_fail "config.bin does not hold the learnt F-A-C"
(($(launches) == 0)) || e2e_fail "something was launched while learning"
inject_msgs 90 41 40 90 45 40 90 48 40 80 41 00 80 45 00 80 48 00
wait_log_line "$E2E_RECORDER_LOG" '説明書\.htm' 5 >/dev/null || e2e_fail "the learnt F-A-C did not open the manual"

e2e_log "--- from the tray, thru on: nothing launched while learning, everything heard"
dlg_open_from_tray
DLG_TAG=tray
dlg_snapshot tray
dlg_click chkMidiOut 7 8
state_is tray chkMidiOut 1 3 || e2e_fail "thru not switched on"
dlg_drv keys alt+o >/dev/null || e2e_fail "cannot press Alt+O"
dlg_drv msgbox --expect-key kAskDuplicates --answer no >/dev/null || e2e_fail "no duplicate question"
dlg_wait_gone 5 || e2e_fail "the dialog stayed open after OK"
wait_log_line "$E2E_MIDI_LOG" ' midiOutOpen ' 5 >/dev/null || e2e_fail "thru not opened"
opens=$(log_lines "$E2E_MIDI_LOG" ' midiInOpen ' | wc -l)
dlg_open_from_tray
dlg_snapshot tray
dlg_drv keys alt+l >/dev/null || e2e_fail "cannot press Alt+L"
state_is tray chkLearn 1 3 || e2e_fail "Alt+L did not switch learning on"
before=$(launches) sent=$(midi_out_msgs | wc -l)
inject_msgs 90 41 40 90 45 40 90 48 40 80 41 00 80 45 00 80 48 00
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' $((sent + 6)) 5 || e2e_fail "thru did not forward while learning"
dlg_drv no-msgbox --for 300 >/dev/null || e2e_fail "a box came up while learning"
(($(launches) == before)) || e2e_fail "the stored chord launched while learning"
inject_msgs 90 30 40 90 34 40 90 37 40
dlg_wait_keys "0 4 7" 3 || e2e_fail "C, E and G held do not light"
inject_msgs 80 30 00 80 34 00 80 37 00
(($(log_lines "$E2E_MIDI_LOG" ' midiInOpen ' | wc -l) == opens)) || e2e_fail "learning opened the input in use again"
dlg_drv keys alt+c >/dev/null || e2e_fail "cannot press Alt+C"
dlg_wait_gone 5 || e2e_fail "Cancel did not close the dialog"
inject_msgs 90 41 40 90 45 40 90 48 40 80 41 00 80 45 00 80 48 00
wait_log_count "$E2E_RECORDER_LOG" '説明書\.htm' $((before + 1)) 5 || e2e_fail "learning still on after Cancel"
cmp -s "$E2E_ART/config.expected" "$config" && e2e_fail "thru was not saved"

e2e_log "--- what a screen reader learns, from outside"
dlg_open_from_tray
DLG_TAG=acc
state_is acc chkLearn 0 3 || e2e_fail "the toggle is on again after Cancel"
dlg_wait_keys "0 5 9" 3 || e2e_fail "Cancel did not drop the chord learnt meanwhile"
acc() { # NAME FIELD (role state name) from the last `acc` listing
    awk -F'\t' -v n="$1" -v f="$2" 'NR == FNR { h[$1] = $2; next }
        $2 == h[n] { print (f == "role") ? $3 : (f == "state") ? $4 : $5; exit }' "$E2E_ART/map-$DLG_TAG.txt" "$E2E_ART/acc.txt"
}
read_acc() { dlg_drv acc --title "$DLG_TITLE" | tr -d '\r' >"$E2E_ART/acc.txt" || e2e_fail "no accessibility listing"; }
pitch=(C 'C#' D 'D#' E F 'F#' G 'G#' A 'A#' B)
acc_keys() { # "K...": each key named by its pitch, a check button, checked exactly when in K...
    local k checked want
    read_acc
    for k in {0..11}; do
        checked=$(($(acc "picKey$k" state) & 0x10 ? 1 : 0)) want=0
        [[ " $1 " == *" $k "* ]] && want=1
        [[ $(acc "picKey$k" name) == "${pitch[k]}" && $(acc "picKey$k" role) == 44 && $checked == "$want" ]] ||
            e2e_fail "key $k: $(grep -F "$(dlg_get "$DLG_TAG" "picKey$k" hwnd)" "$E2E_ART/acc.txt")"
    done
}
acc_keys "0 5 9"
while IFS='|' read -r name role want; do
    [[ $(acc "$name" name) == "$want" ]] || e2e_fail "$name is named '$(acc "$name" name)', expected '$want'"
    [[ -z $role || $(acc "$name" role) == "$role" ]] || e2e_fail "$name has the role $(acc "$name" role), expected $role"
done <<'EOF'
txtPath||実行するアプリケーション／ファイル
txtCommand||コマンドライン引数
cmbMIDev|46|使用するMIDI入力デバイス
cmbSKey|46|ショートカットキーで有効/無効を切り替える
cmbMODev|46|使用するMIDI出力デバイス
cmbPC|46|使用する音色
chkLearn|43|演奏(L)
EOF
((($(acc chkLearn state) & 0x8) == 0)) || e2e_fail "the toggle is reported pressed while it is off"
dlg_drv keys alt+l >/dev/null || e2e_fail "cannot press Alt+L"
state_is acc chkLearn 1 3 || e2e_fail "Alt+L did not switch learning on"
read_acc
((($(acc chkLearn state) & 0x8) != 0)) || e2e_fail "the toggle is not reported pressed while it is on"
dlg_drv keys alt+l >/dev/null || e2e_fail "cannot press Alt+L"
state_is acc chkLearn 0 3 || e2e_fail "Alt+L did not switch learning off"

dlg_drv keys alt+c >/dev/null || e2e_fail "cannot press Alt+C"
dlg_wait_gone 5 || e2e_fail "Cancel did not close the dialog"

e2e_log "--- a chord with the keyboard alone: Tab to the keys, arrows, Space; saved and launched"
dlg_open_from_tray
DLG_TAG=kbd
dlg_snapshot kbd
# From OK, the ninth stop is the keyboard, on C: C off, E on, F off, G on, A off, B on.
dlg_drv keys Tab Tab Tab Tab Tab Tab Tab Tab space Right Right Right Right space Right space \
    Right Right space Right Right space Right Right space >/dev/null || e2e_fail "cannot type on the keys"
dlg_wait_keys "4 7 11" 3 dialog-keyboard || e2e_fail "the keyboard did not set E-G-B"
acc_keys "4 7 11"
focus=$(dlg_drv focus --title "$DLG_TITLE")
[[ $(dlg_names_of <(echo "$focus") kbd) == picKey11 ]] || e2e_fail "the focus is not on B: $focus"
dlg_drv keys alt+o >/dev/null || e2e_fail "cannot press Alt+O"
dlg_drv msgbox --expect-key kAskDuplicates --expect-default no --answer none >/dev/null ||
    e2e_fail "no duplicate question"
timeout 5 xdotool key Return || e2e_fail "xdotool key failed"
dlg_wait_gone 5 || e2e_fail "OK by the keyboard did not close the dialog"
before=$(launches)
inject_msgs 90 40 40 90 43 40 90 47 40 80 40 00 80 43 00 80 47 00
wait_log_count "$E2E_RECORDER_LOG" '説明書\.htm' $((before + 1)) 5 || e2e_fail "E-G-B set by the keyboard launched nothing"

dlg_drv close-main >/dev/null
e2e_wait_program_exit 10
[[ $(most_inputs_open) == 1 ]] || e2e_fail "two inputs were open at once"
e2e_log "learning and the keyboard passed"
