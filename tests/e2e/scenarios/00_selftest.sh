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

e2e_log "selftest passed"
