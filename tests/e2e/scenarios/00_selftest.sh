#!/usr/bin/env bash
# The harness checks itself on the stand-in program (selftest/standin.cpp):
# message boxes, MIDI injection and forwarding, launches, the tray icon and
# its menu, the hotkey, session end, a busy device, and clean exit. When this
# scenario fails, the harness is broken, not the program.
# e2e-timeout: 120
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

step() {
    STEP_T0=$(e2e_now)
    e2e_log "--- $*"
}
done_step() { e2e_log "    ok ($(e2e_since "$STEP_T0")s)"; }

# A Japanese folder with a space: paths must survive every hop.
e2e_make_program_dir "$E2E_WORK/runs/$E2E_NAME/テスト フォルダ" "$E2E_TOOLS/e2e-standin.exe"
# first name exactly 31 characters (the most a device can report), second
# longer (must come back cut to 31)
IN_NAME='ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺ鍵盤入力１'
export VOS_MIDI_IN="$IN_NAME|Second input with a name that is far too long"
export VOS_MIDI_OUT='テスト音源'
e2e_midi_env
prog_win=$(e2e_winpath "$E2E_PROG_DIR")

step "startup message box"
e2e_start_program
e2e_driver msgbox --timeout 10000 \
    --expect-text 'セルフテストを始めます。\r\nMIDI を開きますか?' \
    --expect-buttons yesno --expect-default yes --expect-icon question --answer yes ||
    e2e_fail "startup message box not as expected"
e2e_screenshot 01-after-answer
wait_midi_started 10 || e2e_fail "MIDI input was not started"
done_step

step "device names and callback window"
((${#IN_NAME} == 31)) || e2e_fail "test setup: name is ${#IN_NAME} characters"
log_lines "$E2E_MIDI_LOG" "^[0-9]{12} midiInGetDevCapsW dev=0 size=[0-9]+ -> 0 name=$IN_NAME\$" >/dev/null ||
    e2e_fail "device name not reported exactly"
form1=$(e2e_driver window --title Form1 | e2e_field hwnd)
[[ -n $form1 ]] || e2e_fail "no Form1 window"
log_lines "$E2E_MIDI_LOG" " midiInOpen dev=0 cb=$form1 inst=0 flags=0x10000 -> 0 h=0x[0-9a-f]+\$" >/dev/null ||
    e2e_fail "midiInOpen not in CALLBACK_WINDOW mode on Form1 ($form1)"
log_lines "$E2E_MIDI_LOG" " notify MM_MIM_OPEN h=0x[0-9a-f]+ to=$form1 -> posted\$" >/dev/null ||
    e2e_fail "MM_MIM_OPEN not posted"
[[ $(e2e_driver window --title Form1) == *' visible=0 '* ]] || e2e_fail "Form1 should be hidden"
done_step

step "injected messages are forwarded in order, note-on launches"
inject_msgs 90 3C 64 80 3C 00 B0 07 64 0x000005c0
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' 4 5 || e2e_fail "messages not forwarded"
got=$(midi_out_msgs | tr '\n' ' ')
[[ $got == '0x00643c90 0x00003c80 0x006407b0 0x000005c0 ' ]] || e2e_fail "forwarded: $got"
expected="\"$prog_win\\recorder.exe\" note 60 \"ファイル 名.txt\""$'\t'"$prog_win"
wait_log_line "$E2E_RECORDER_LOG" 'note 60' 5 >/dev/null || e2e_fail "recorder never ran"
[[ $(log_lines "$E2E_RECORDER_LOG" 'note 60') == "$expected" ]] ||
    e2e_fail "recorder line: $(log_lines "$E2E_RECORDER_LOG" 'note 60') expected: $expected"
done_step

step "tray icon: callback message and a real click"
e2e_driver tray --lparam 0x201 >/dev/null || e2e_fail "tray post failed"
wait_log_count "$E2E_RECORDER_LOG" ' tray-left' 1 5 || e2e_fail "tray callback had no effect"
[[ $(e2e_driver tray-rect | e2e_field icons) == 1 ]] || e2e_fail "expected one tray icon"
e2e_click_tray_icon 1 1
wait_log_count "$E2E_RECORDER_LOG" ' tray-left' 2 5 || e2e_fail "real click on the tray icon had no effect"
done_step

step "tray menu: arrow keys, access key, key press"
e2e_driver tray --lparam 0x204 >/dev/null
e2e_driver menu --wait 3000 >/dev/null || e2e_fail "menu did not open"
e2e_screenshot 02-tray-menu
e2e_driver menu-key Down >/dev/null && e2e_driver menu-key Return >/dev/null
wait_log_count "$E2E_RECORDER_LOG" ' menu-config' 1 5 || e2e_fail "Down Return did not choose the first item"
e2e_driver menu --wait-gone 2000 >/dev/null || e2e_fail "menu still open"
e2e_driver tray --lparam 0x204 >/dev/null
e2e_driver menu --wait 3000 >/dev/null || e2e_fail "menu did not open again"
e2e_driver menu-key h --method input >/dev/null
wait_log_count "$E2E_RECORDER_LOG" ' menu-help' 1 5 || e2e_fail "access key H did not choose Help"
done_step

step "hotkey ctrl+F12 through X and through SendInput"
e2e_send_hotkey ctrl+F12
wait_log_count "$E2E_RECORDER_LOG" ' hotkey' 1 5 || e2e_fail "hotkey via xdotool not delivered"
e2e_driver hotkey --mods ctrl --key F12 >/dev/null
wait_log_count "$E2E_RECORDER_LOG" ' hotkey' 2 5 || e2e_fail "hotkey via SendInput not delivered"
done_step

step "a second instance finds the device busy"
e2e_start_program
second=$E2E_PROGRAM_PID
e2e_driver msgbox --answer yes >/dev/null || e2e_fail "second instance: no startup box"
box=$(e2e_driver msgbox --expect-text "MIDI 入力「$IN_NAME」を開けません。\\r\\nエラー 4" \
    --expect-buttons ok --expect-icon error --answer ok) || e2e_fail "busy device not reported"
second_win_pid=$(e2e_field pid <<<"$box")
e2e_driver close-main --pid "$second_win_pid" >/dev/null || e2e_fail "cannot close the second instance"
e2e_wait_program_exit 10 "$second"
((E2E_EXIT_CODE == 0)) || e2e_fail "second instance exit code $E2E_EXIT_CODE"
done_step

step "timed stream: 2000 messages at 1000/s"
from=$(wc -l <"$E2E_MIDI_LOG")
mapfile -t stream < <(awk 'BEGIN { for (i = 0; i < 2000; i++) printf "0x00%02x%02xb0\n", i % 128, int(i / 128) }')
inject_msgs --rate 1000 "${stream[@]}"
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' $((4 + 2000)) 10 || e2e_fail "stream not fully forwarded"
tail -n +"$((from + 1))" "$E2E_MIDI_LOG" | tr -d '\r' |
    sed -nE 's/.* midiOutShortMsg h=0x[0-9a-f]+ msg=(0x[0-9a-f]{8}) -> 0$/\1/p' >"$E2E_WORK/forwarded.txt"
printf '%s\n' "${stream[@]}" | cmp -s - "$E2E_WORK/forwarded.txt" || e2e_fail "stream forwarded out of order or altered"
latency=$(midi_forward_latency "$E2E_MIDI_LOG" "$from")
echo "$latency" | tee "$E2E_ART/latency.txt"
[[ $latency == count=2000\ * ]] || e2e_fail "latency pairs incomplete: $latency"
done_step

step "devices change: the open input follows its device, the notice reaches the window"
e2e_devices_change --in "Another input|$IN_NAME"
wait_log_line "$E2E_MIDI_LOG" '^[0-9]{12} renumbered h=0x[0-9a-f]+ dev=0 name=.* -> 1$' 1 >/dev/null ||
    e2e_fail "the open input did not move to index 1"
wait_log_line "$E2E_MIDI_LOG" '^[0-9]{12} midiInGetID h=0x[0-9a-f]+ -> 0 id=1$' 2 >/dev/null ||
    e2e_fail "the stand-in did not hear WM_DEVICECHANGE (or its input is not at index 1)"
inject_msgs B0 07 64
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' $((4 + 2000 + 1)) 5 || e2e_fail "the moved input no longer delivers"
done_step

step "resource counters"
e2e_driver gui-resources >"$E2E_ART/resources.txt" || e2e_fail "gui-resources failed"
grep -q '^working_set=[0-9]' "$E2E_ART/resources.txt" || e2e_fail "no working set figure"
done_step

step "log-off: WM_QUERYENDSESSION / WM_ENDSESSION"
closes_before=$(log_lines "$E2E_MIDI_LOG" ' midiInClose h=0x[0-9a-f]+ -> 0$' | wc -l)
out=$(e2e_driver endsession) || e2e_fail "endsession failed"
grep -q '^queryendsession=1$' <<<"$out" || e2e_fail "log-off refused: $out"
wait_log_count "$E2E_MIDI_LOG" ' midiInClose h=0x[0-9a-f]+ -> 0$' $((closes_before + 1)) 5 ||
    e2e_fail "MIDI input not closed on log-off"
done_step

step "close and clean exit"
e2e_driver close-main >/dev/null || e2e_fail "close-main failed"
e2e_wait_program_exit 10
((E2E_EXIT_CODE == 0)) || e2e_fail "program exit code $E2E_EXIT_CODE"
e2e_driver process-running --name Vosselmar.exe >/dev/null && e2e_fail "a Vosselmar.exe is still running"
e2e_driver process-running --name recorder.exe >/dev/null && e2e_fail "a recorder.exe is still running"
e2e_driver no-msgbox --for 200 >/dev/null || e2e_fail "a message box is still open"
# every open was matched by a close, buffers returned before unprepare
opens=$(log_lines "$E2E_MIDI_LOG" ' midiInOpen .* -> 0 h=' | wc -l)
closes=$(log_lines "$E2E_MIDI_LOG" ' midiInClose h=0x[0-9a-f]+ -> 0$' | wc -l)
((opens == closes)) || e2e_fail "$opens midiInOpen but $closes midiInClose"
log_lines "$E2E_MIDI_LOG" ' (midiInReset|midiInUnprepareHeader|midiInClose) ' | tail -n 3 |
    awk '{ print $2 }' | tr '\n' ' ' | grep -x 'midiInReset midiInUnprepareHeader midiInClose ' >/dev/null ||
    e2e_fail "input not shut down in the order reset, unprepare, close"
e2e_screenshot 03-after-exit
done_step

step "a device failure set from the environment"
VOS_MIDI_FAIL=in_open e2e_start_program
e2e_driver msgbox --answer yes >/dev/null || e2e_fail "no startup box"
e2e_driver msgbox --expect-text "MIDI 入力「$IN_NAME」を開けません。\\r\\nエラー 4" --answer ok >/dev/null ||
    e2e_fail "forced in_open failure not reported"
e2e_driver close-main >/dev/null
e2e_wait_program_exit 10
done_step

step "config.bin writer: a table of option sets"
# e2e_write_config's bytes for each option set, as the first 16 digits of
# their SHA-256: the sums of what the shell writer before cfgwrite.exe gave,
# which both gave alike. Names and paths are fixed here, so the sums hold in
# every run.
config_rows() {
    local VOS_MIDI_IN='テスト鍵盤|Second input' VOS_MIDI_OUT='テスト音源' E2E_PROG_DIR='/tmp/テスト フォルダ'
    local many=() i long
    printf -v long '%65536s' ''
    for ((i = 1; i <= 1000; i++)); do
        many+=(--entry $((1 + i % 4095)) "C:\\Program Files\\Tools\\program$i.exe" "/option $i")
    done
    config_row 6166d113ba3f4707
    config_row 71ea1dadb47b338f \
        --in-dev 3 --in-name 'Old Keyboard' --thru --out-dev 2 --out-name 'Synth 2' \
        --program 127 --shortcut --key 65 --mods 6
    config_row 5ce431ebdc02fd43 --in-name '' --out-name ''
    # 32 bytes exactly: 16 double-byte characters, 32 ASCII letters; half-width
    # katakana are one byte each; a trailing blank stays
    config_row 75c7d58e1734226e \
        --in-name 'ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰ' --out-name 'Thirty-two bytes of ASCII text..'
    config_row fbec8defe82b7adc --in-name 'ﾃｽﾄ鍵盤 ' --out-name '  '
    # numbers as bash arithmetic reads them, only their low bytes stored
    config_row 87d9ce3def634e4e --in-dev -1 --out-dev 2147483647 --program 300 --key 0x7B --mods 010
    # shellcheck disable=SC1003 # a parameter that ends in a backslash
    config_row 79538671ecdaff10 \
        --entry $((0x91)) 'Z:\tmp\テスト フォルダ\説明書.htm' '' \
        --entry 4095 'C:\Program Files\Tools\a.exe' '/x "quoted arg" C:\trailing\' --entry 0 '' ''
    # option-like, blank and control characters are texts like any other
    # shellcheck disable=SC1003,SC2016 # a lone backslash and a literal $HOME
    config_row 5a32012556cc793f \
        --entry 1 '--thru' '-' --entry 2 ' ' $'tab\there\r\nline' --entry 3 '%s $HOME *' '\'
    # options after the entries, and a later one in place of an earlier one
    config_row 06b062c1f415b9ee \
        --entry 1 a b --program 1 --program 2 --in-name 'ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱ' \
        --in-name 'テスト鍵盤' --thru
    # characters of code page 932's own extensions and its look-alikes
    config_row e49a55ae05632a79 --in-name '①髙﨑～￢' --entry 1 '∥－￠￡' '№℡≒≡∫∮√⊥∠∟⊿∵∩∪'
    # a long path and long parameters, as in 28_killed_while_saving; 1 000 entries
    config_row 13bc7904107cc19c \
        --entry 1 "C:\\vos-targets\\target-00001\\$(printf 'p%.0s' {1..180}).exe" \
        "--entry 00001 $(printf 'x%.0s' {1..3000})"
    config_row d3792d13c981281d --thru --program 5 "${many[@]}"
    # what a first start writes, the manual in a folder with a blank
    config_row_default 420db610fdfc42dc 'テスト鍵盤'
    # refused: an option it does not know, a name longer than its 32 bytes, a
    # text longer than its 16-bit length, a value missing or not a number
    config_fails --bogus
    config_fails --in-name 'ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱ'
    config_fails --out-name 'Thirty-three bytes of ASCII text.'
    config_fails --entry 1 "$long" ''
    config_fails --entry 1 a
    config_fails --program five
}
config_row() {
    local want=$1 got
    shift
    e2e_write_config "$E2E_ART/config-row.bin" "$@"
    got=$(sha256sum <"$E2E_ART/config-row.bin")
    [[ ${got:0:16} == "$want" ]] || {
        xxd "$E2E_ART/config-row.bin" | head -n 20 >&2
        e2e_fail "e2e_write_config ${*:0:200}: sum ${got:0:16}, expected $want"
    }
}
config_row_default() {
    local want=$1 got
    e2e_default_config "$2" >"$E2E_ART/config-row.bin"
    got=$(sha256sum <"$E2E_ART/config-row.bin")
    [[ ${got:0:16} == "$want" ]] || e2e_fail "e2e_default_config $2: sum ${got:0:16}, expected $want"
}
config_fails() {
    (e2e_write_config "$E2E_ART/config-row.bin" "$@") 2>/dev/null &&
        e2e_fail "e2e_write_config $* did not fail"
    return 0
}
config_rows
done_step

e2e_log "selftest passed"
