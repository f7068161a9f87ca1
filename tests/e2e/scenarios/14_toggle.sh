#!/usr/bin/env bash
# Switching recognition off and on: left click on the tray icon (posted and
# real) and the Ctrl+F12 hotkey. Off silences the output once (all notes off),
# turns the icon grey, and neither forwards nor launches anything; on brings
# back the coloured icon, forwarding and launches. The tooltip says which.
# First of all the task bar turns the icon down for a while.
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

e2e_fresh_program
e2e_write_config "$E2E_PROG_DIR/config.bin" --thru --program 5 --shortcut --key 123 --mods 2 \
    --entry "$(e2e_chord_code C E G)" "$E2E_REC" 'toggle'
icons_before=$(e2e_tray_icons)

# Started while the task bar turns the icon down: MIDI works meanwhile, and
# the icon comes once the task bar takes it, once, also after TaskbarCreated.
holder_out=$E2E_ART/hold-tray.txt
timeout -k 2 20 wine "$E2E_TOOLS/driver.exe" hold-tray --for 2500 >"$holder_out" 2>&1 &
wait_log_line "$holder_out" '^held=1' 5 || e2e_fail "no task bar that turns icons down: $(cat "$holder_out")"
e2e_start_program
wait_midi_started 10 || e2e_fail "MIDI input not started"

expect_icon() { e2e_expect_tray_colour "$slot" "$1" "$2" || e2e_fail "tray icon not $1 ($2)"; }
expect_tip() { e2e_expect_tray_tip "$slot" "$1" || e2e_fail "tray tooltip not $1"; }
silences() { midi_out_msgs | grep -c '^0x00007cb0$'; }
chord=(90 3C 64 90 40 64 90 43 64 80 3C 00 80 40 00 80 43 00)
chord_packed=(0x00643c90 0x00644090 0x00644390 0x00003c80 0x00004080 0x00004380)
launches() { log_lines "$E2E_RECORDER_LOG" . | wc -l; }
# on: the chord is forwarded and launches once more
check_on() {
    local n_out n_launch
    n_out=$(midi_out_msgs | wc -l)
    n_launch=$(launches)
    inject_msgs "${chord[@]}"
    wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' $((n_out + 6)) 5 || e2e_fail "$1: chord not forwarded"
    [[ $(midi_out_msgs | tail -n +$((n_out + 1)) | tr '\n' ' ') == "${chord_packed[*]} " ]] ||
        e2e_fail "$1: forwarded $(midi_out_msgs | tail -n +$((n_out + 1)) | tr '\n' ' ')"
    wait_log_count "$E2E_RECORDER_LOG" . $((n_launch + 1)) 5 || e2e_fail "$1: chord did not launch"
}
# off: the chord is neither forwarded nor launches
check_off() {
    local n_out n_launch
    n_out=$(midi_out_msgs | wc -l)
    n_launch=$(launches)
    inject_msgs "${chord[@]}"
    sleep 0.4
    (($(midi_out_msgs | wc -l) == n_out)) || e2e_fail "$1: forwarded while off: $(midi_out_msgs | tail -n +$((n_out + 1)) | tr '\n' ' ')"
    (($(launches) == n_launch)) || e2e_fail "$1: launched while off"
}

check_on "while the task bar turns the icon down"
(($(e2e_tray_icons) == icons_before)) || e2e_fail "a tray icon while the task bar turns it down"
e2e_wait_tray_icons $((icons_before + 1)) 8 || e2e_fail "no tray icon once the task bar takes it"
slot=$((icons_before + 1))
e2e_driver tray --msg TaskbarCreated --lparam 0 >/dev/null || e2e_fail "TaskbarCreated not posted"
sleep 4  # longer than the retry timer's period
(($(e2e_tray_icons) == icons_before + 1)) || e2e_fail "$(e2e_tray_icons) tray icons after TaskbarCreated"

expect_icon orange start
expect_tip kTipEnabled
(($(silences) == 0)) || e2e_fail "all-notes-off sent before any toggle"

e2e_log "--- posted left click: off"
e2e_driver tray --lparam 0x201 >/dev/null || e2e_fail "tray callback not posted"
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg h=0x[0-9a-f]+ msg=0x00007cb0 ' 1 5 || e2e_fail "no all-notes-off when switched off"
expect_icon grey off-posted
expect_tip kTipDisabled
check_off "off by posted click"
(($(silences) == 1)) || e2e_fail "all-notes-off sent $(silences) times, expected once"

e2e_log "--- real left click: on"
e2e_click_tray_icon "$slot" 1
timeout 5 xdotool mousemove 700 900
expect_icon orange on-clicked
expect_tip kTipEnabled
check_on "on by a real click"
(($(silences) == 1)) || e2e_fail "switching on sent all-notes-off"

e2e_log "--- hotkey Ctrl+F12: off, then on"
e2e_send_hotkey ctrl+F12
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg h=0x[0-9a-f]+ msg=0x00007cb0 ' 2 5 || e2e_fail "hotkey: no all-notes-off"
expect_icon grey off-hotkey
check_off "off by the hotkey"
e2e_send_hotkey ctrl+F12
expect_icon orange on-hotkey
check_on "on by the hotkey"
(($(silences) == 2)) || e2e_fail "all-notes-off sent $(silences) times, expected twice"

e2e_log "--- posted left click: off, and again: on"
e2e_driver tray --lparam 0x201 >/dev/null
expect_icon grey off-posted2
e2e_driver tray --lparam 0x201 >/dev/null
expect_icon orange on-posted2
check_on "on by the second posted click"
(($(silences) == 3)) || e2e_fail "all-notes-off sent $(silences) times, expected three"

e2e_driver close-main >/dev/null
e2e_wait_program_exit 10
e2e_log "toggle passed"
