#!/usr/bin/env bash
# Editing in the configuration dialog and saving, as a person would: on the
# first start add an entry (Alt+A), type the launch target's path into the
# path box, give it parameters, click D, F and A on the picture keyboard,
# press OK and decline the duplicate check. config.bin must hold exactly
# that, and the new chord must launch the target with its parameters in the
# running program. Then, from the tray menu, thru on with instrument 6
# (position 5): after OK the output is opened, gets the program change first
# and forwards what comes in. Screenshot: dialog-edited.png.
# The program sits in "C:\Program Files\Vosselmar": a folder with a blank.
# Before the last OK config.bin is made hidden and system; it stays so.
# e2e-timeout: 60
# shellcheck source-path=SCRIPTDIR source=../lib.sh
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
# shellcheck source=../lib_dialog.sh
source "$E2E_DIR/lib_dialog.sh"
e2e_scenario_begin
dlg_drv_start

e2e_fresh_program --dir "$WINEPREFIX/drive_c/Program Files/Vosselmar"
config=$E2E_PROG_DIR/config.bin
dir=$(dlg_winpath "$E2E_PROG_DIR")
manual="$dir\\説明書.htm"
rec="$dir\\recorder.exe"
params='--edited 設定 "two words"'
esc() { printf '%s' "${1//\\/\\\\}"; } # as the driver prints texts
DLG_DPI=96

# wait_map TAG SECS CONDITION...: snapshots until every "NAME FIELD VALUE" holds
split_cond() { # the value may have blanks anywhere
    n=${1%% *} f=${1#* } v=${f#* } f=${f%% *}
    [[ $1 == "$n $f" ]] && v=''
}
wait_map() {
    local tag=$1 limit=$2 t0 cond ok
    shift 2
    t0=$(e2e_now)
    while :; do
        dlg_snapshot "$tag"
        ok=1
        for cond in "$@"; do
            split_cond "$cond"
            [[ $(dlg_get "$tag" "$n" "$f") == "$v" ]] || ok=0
        done
        ((ok)) && return 0
        if awk -v a="$t0" -v b="$(e2e_now)" -v l="$limit" 'BEGIN { exit !(b - a > l) }'; then
            for cond in "$@"; do
                split_cond "$cond"
                e2e_log "$n $f: '$(dlg_get "$tag" "$n" "$f")', expected '$v'"
            done
            return 1
        fi
        sleep 0.1
    done
}

e2e_log "--- first start: add an entry, type its path, give it parameters and D-F-A"
dlg_first_start
DLG_TAG=first
dlg_snapshot first
dlg_wait_keys "0 4 7" 3 || e2e_fail "the defaults do not show C-E-G"
dlg_drv keys alt+a >/dev/null || e2e_fail "cannot press Alt+A"
wait_map first 3 "lstCP state 1/2" "txtPath text (undefined)" "txtCommand text " ||
    e2e_fail "Alt+A did not add and select a second entry"
dlg_wait_keys "" 3 || e2e_fail "a new entry shows keys"
dlg_click txtPath
timeout 5 xdotool key End shift+Home || e2e_fail "xdotool key failed"
timeout 20 xdotool type --delay 10 "$rec" || e2e_fail "xdotool type failed"
wait_map first 5 "txtPath text $(esc "$rec")" "lstCP text $(esc " 1  $manual | > 2  $rec")" ||
    e2e_fail "the typed path is not in the path box and the list"
dlg_drv settext --hwnd "$(dlg_get first txtCommand hwnd)" --text "$params" >/dev/null ||
    e2e_fail "cannot set the parameters"
dlg_click_twips 667 3735  # D
dlg_click_twips 1387 3735 # F
dlg_click_twips 2107 3735 # A
dlg_wait_keys "2 5 9" 3 || e2e_fail "D, F and A are not shown set"

e2e_log "--- OK, no duplicate check"
dlg_click cmdOK
dlg_drv msgbox --expect-key kAskDuplicates --expect-buttons yesno \
    --expect-default no --expect-icon information --answer no || e2e_fail "duplicate question not as expected"
dlg_wait_gone 5 || e2e_fail "the dialog stayed open after OK"
wait_midi_started 10 || e2e_fail "MIDI input not started after OK"
e2e_write_config "$E2E_ART/config.expected" --entry $((0x91)) "$manual" '' --entry $((0x224)) "$rec" "$params"
e2e_expect_same_bytes "$E2E_ART/config.expected" "$config" || e2e_fail "config.bin differs from the expected bytes"

e2e_log "--- D-F-A launches the target with its parameters, no restart"
inject_msgs 92 3E 50 92 41 50 92 45 50
wait_log_line "$E2E_RECORDER_LOG" 'recorder\.exe' 5 >/dev/null || e2e_fail "D-F-A launched nothing"
sleep 0.3
line=$(log_lines "$E2E_RECORDER_LOG" .)
[[ $(wc -l <<<"$line") == 1 && ${line%%$'\t'*} == "\"$rec\" $params" ]] ||
    e2e_fail "launch: $line expected: \"$rec\" $params"
inject_msgs 82 3E 00 82 41 00 82 45 00
kill -0 "$E2E_PROGRAM_PID" 2>/dev/null || e2e_fail "the program has ended"
[[ $(log_lines "$E2E_MIDI_LOG" ' midiInOpen ' | wc -l) == 1 ]] || e2e_fail "MIDI input was opened more than once"

e2e_log "--- from the tray menu: thru on, instrument 6"
dlg_open_from_tray
DLG_TAG=tray
dlg_snapshot tray
[[ $(dlg_get tray lstCP text) == "$(esc "> 1  $manual |  2  $rec")" ]] ||
    e2e_fail "the list does not show the saved entries: $(dlg_get tray lstCP text)"
dlg_click chkMidiOut 7 8
wait_map tray 3 "chkMidiOut state 1" "cmbPC enabled 1" "cmbMODev enabled 1" ||
    e2e_fail "checking the thru box did not enable its drop-downs"
dlg_click cmbPC
sleep 0.3 # the list drops
timeout 5 xdotool key Home Down Down Down Down Down Return || e2e_fail "xdotool key failed"
dlg_click lstCP 50 6
timeout 5 xdotool key Down || e2e_fail "xdotool key failed"
wait_map tray 3 "cmbPC state 5/128" "lstCP state 1/2" "txtPath text $(esc "$rec")" "txtCommand text $params" ||
    e2e_fail "instrument or entry not chosen"
dlg_wait_keys "2 5 9" 3 dialog-edited || e2e_fail "the second entry does not show D-F-A"
from=$(wc -l <"$E2E_MIDI_LOG")
dlg_click cmdOK
dlg_drv msgbox --expect-key kAskDuplicates --answer no >/dev/null ||
    e2e_fail "no duplicate question"
dlg_wait_gone 5 || e2e_fail "the dialog stayed open after OK"
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' 1 5 || e2e_fail "nothing sent to the output"
after=$(tail -n +$((from + 1)) "$E2E_MIDI_LOG" | tr -d '\r' | grep -E ' midiOut(Open|ShortMsg) ' | head -n 2 |
    sed -E 's/^[0-9]+ (midiOut[A-Za-z]+) (dev=[0-9]+|h=0x[0-9a-f]+ msg=(0x[0-9a-f]+)).* -> ([0-9]+).*/\1 \2 \4/' | tr '\n' '|')
[[ $after == 'midiOutOpen dev=0 0|midiOutShortMsg h='*' msg=0x000005c0 0|' ]] ||
    e2e_fail "after OK: $after (expected midiOutOpen of output 0, then the program change 0x000005c0)"
e2e_write_config "$E2E_ART/config-thru.expected" --thru --program 5 \
    --entry $((0x91)) "$manual" '' --entry $((0x224)) "$rec" "$params"
e2e_expect_same_bytes "$E2E_ART/config-thru.expected" "$config" || e2e_fail "config.bin with thru differs from the expected bytes"
wait_log_count "$E2E_MIDI_LOG" ' midiInStart h=0x[0-9a-f]+ -> 0$' 2 5 || e2e_fail "MIDI input not started again"
before=$(midi_out_msgs | wc -l)
inject_msgs 90 3C 64 B0 07 64 80 3C 00
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' $((before + 3)) 5 || e2e_fail "messages not forwarded"
sleep 0.2
got=$(midi_out_msgs | tail -n +$((before + 1)) | tr '\n' ' ')
[[ $got == '0x00643c90 0x006407b0 0x00003c80 ' ]] || e2e_fail "forwarded: $got"
inject_msgs 92 3E 50 92 41 50 92 45 50
wait_log_count "$E2E_RECORDER_LOG" 'recorder\.exe' 2 5 || e2e_fail "D-F-A does not launch any more"

e2e_log "--- OK again with thru on: the output is closed before it is opened again"
# ... and a config.bin the user made hidden and system stays so.
attrs() { timeout 30 wine cmd /c attrib "$(e2e_winpath "$config")" | tr -d '\r' | cut -c1-11; }
# one attribute a call: Wine's attrib takes only the first of several
timeout 30 wine cmd /c attrib +h "$(e2e_winpath "$config")" || e2e_fail "attrib +h failed"
timeout 30 wine cmd /c attrib +s "$(e2e_winpath "$config")" || e2e_fail "attrib +s failed"
[[ $(attrs) == *H* && $(attrs) == *S* ]] || e2e_fail "Wine keeps no hidden and system attributes: $(attrs)"
dlg_open_from_tray
from=$(wc -l <"$E2E_MIDI_LOG")
DLG_TAG=again
dlg_snapshot again
[[ $(dlg_get again chkMidiOut state) == 1 && $(dlg_get again cmbPC state) == 5/128 ]] ||
    e2e_fail "the saved thru settings do not show"
dlg_click cmdOK
dlg_drv msgbox --expect-key kAskDuplicates --answer no >/dev/null ||
    e2e_fail "no duplicate question"
dlg_wait_gone 5 || e2e_fail "the dialog stayed open after OK"
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg h=0x[0-9a-f]+ msg=0x000005c0 ' 2 5 || e2e_fail "no program change after the second OK"
ops=$(tail -n +$((from + 1)) "$E2E_MIDI_LOG" | tr -d '\r' | grep -E ' midiOut(Open|Close|Reset|ShortMsg) ' |
    awk '{ print $2 }' | uniq | tr '\n' ' ')
[[ $ops == *'midiOutClose midiOutOpen midiOutShortMsg '* ]] || e2e_fail "output calls after the second OK: $ops"
log_lines "$E2E_MIDI_LOG" ' midiOut[A-Za-z]+ .* -> [1-9]' && e2e_fail "an output call failed"
cmp "$E2E_ART/config-thru.expected" "$config" >&2 || e2e_fail "config.bin differs after the second OK"
[[ $(attrs) == *H* && $(attrs) == *S* ]] || e2e_fail "config.bin not hidden and system after OK: $(attrs)"

dlg_drv close-main >/dev/null
e2e_wait_program_exit 10
e2e_log "dialog edit and save passed"
