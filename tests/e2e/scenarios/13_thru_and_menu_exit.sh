#!/usr/bin/env bash
# COM: the program's thread is apartment-threaded before it opens MIDI.
# Thru: the output gets the program change first, then every incoming message
# exactly once and in order (with the forwarding delay measured at 1000
# messages a second). The tray menu: its picture, Help opens the manual,
# Exit closes input then output (after silencing it), removes the icon and
# ends with code 0.
# e2e-timeout: 90
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

e2e_fresh_program --out 'テスト音源|Second synth'
e2e_register_htm_recorder
e2e_write_config "$E2E_PROG_DIR/config.bin" --thru --out-dev 0 --out-name 'テスト音源' --program 5 \
    --entry "$(e2e_chord_code C E G)" "$E2E_REC" 'thru chord'
icons_before=$(e2e_tray_icons)

e2e_start_program
wait_midi_started 10 || e2e_fail "MIDI input not started"
# Help and the launches go through the shell, which needs the thread to be a
# single-threaded apartment from the start; the simulated winmm.dll reports
# the apartment it finds at the first midiInOpen.
apartment=$(log_lines "$E2E_MIDI_LOG" ' com apartment -> ' | head -n 1 | sed 's/.* -> //')
[[ $apartment == sta ]] ||
    e2e_fail "COM apartment of the program's thread at its first midiInOpen: ${apartment:-not logged} (expected sta)"
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' 1 5 || e2e_fail "nothing sent to the output at start"
e2e_wait_tray_icons $((icons_before + 1)) 5 || e2e_fail "no tray icon"
log_lines "$E2E_MIDI_LOG" ' midiOutOpen dev=0 .* -> 0 h=' >/dev/null || e2e_fail "output 0 not opened"
first=$(log_lines "$E2E_MIDI_LOG" ' midiOut(Open|ShortMsg) ' | awk '{ print $2 }' | head -n 2 | tr '\n' ' ')
[[ $first == 'midiOutOpen midiOutShortMsg ' ]] || e2e_fail "output opened and used out of order: $first"
[[ $(midi_out_msgs | head -n 1) == 0x000005c0 ]] || e2e_fail "first output message $(midi_out_msgs | head -n 1), expected the program change 0x000005c0"

e2e_log "--- every message forwarded once, in order"
sent=(0x00643c90 0x006407b0 0x004000e0 0x000000f8 0x00403e91 0x00003c80 0x00003e81)
inject_msgs 90 3C 64 B0 07 64 E0 00 40 F8 91 3E 40 80 3C 00 81 3E 00
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' $((1 + ${#sent[@]})) 5 || e2e_fail "not all messages forwarded"
sleep 0.2
got=$(midi_out_msgs | tail -n +2 | tr '\n' ' ')
[[ $got == "${sent[*]} " ]] || e2e_fail "forwarded: $got expected: ${sent[*]}"

e2e_log "--- forwarding delay: 2000 messages at 1000/s"
from=$(wc -l <"$E2E_MIDI_LOG")
before=$(midi_out_msgs | wc -l)
mapfile -t stream < <(awk 'BEGIN { for (i = 0; i < 2000; i++) printf "0x00%02x%02xb0\n", i % 128, 1 + int(i / 128) % 100 }')
inject_msgs --rate 1000 "${stream[@]}"
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' $((before + 2000)) 10 || e2e_fail "stream not fully forwarded"
sleep 0.2
[[ $(midi_out_msgs | tail -n +$((before + 1))) == "$(printf '%s\n' "${stream[@]}")" ]] ||
    e2e_fail "stream forwarded out of order, altered, or more than once"
latency=$(midi_forward_latency "$E2E_MIDI_LOG" "$from")
echo "thru latency at 1000/s: $latency" | tee "$E2E_ART/latency.txt"
[[ $latency == count=2000\ * ]] || e2e_fail "latency pairs incomplete: $latency"
log_lines "$E2E_RECORDER_LOG" . && e2e_fail "controllers launched something"

e2e_log "--- tray menu: picture and Help"
e2e_driver tray --lparam 0x204 >/dev/null || e2e_fail "tray callback not posted"
menu=$(e2e_driver menu --wait 3000) || e2e_fail "the tray menu did not open"
e2e_screenshot menu
rect=$(e2e_field rect <<<"$menu")
IFS=, read -r mx1 my1 mx2 my2 <<<"$rect"
((mx2 - mx1 >= 40 && my2 - my1 >= 40)) || e2e_fail "menu too small to hold three items: $rect"
e2e_shot_region menu-only "$mx1" "$my1" $((mx2 - mx1)) $((my2 - my1))
colours=$(convert "$E2E_ART/menu-only.png" -format '%k' info: 2>/dev/null)
((colours >= 3)) || e2e_fail "the menu shows no text ($colours colours)"
e2e_driver menu-key --row kMenuHelp >/dev/null || e2e_fail "cannot choose Help in the menu"
wait_log_line "$E2E_RECORDER_LOG" '説明書\.htm' 5 >/dev/null || e2e_fail "Help did not open the manual"
[[ $(log_lines "$E2E_RECORDER_LOG" . | cut -f1) == "\"$(e2e_winpath "$E2E_TOOLS/recorder.exe")\" \"$(e2e_winpath "$E2E_PROG_DIR")\\説明書.htm\"" ]] ||
    e2e_fail "Help opened: $(log_lines "$E2E_RECORDER_LOG" .)"
e2e_driver menu --wait-gone 2000 >/dev/null || e2e_fail "menu still open after Help"

e2e_log "--- Exit from the tray menu"
from=$(wc -l <"$E2E_MIDI_LOG")
e2e_driver tray --lparam 0x204 >/dev/null || e2e_fail "tray callback not posted"
e2e_driver menu --wait 3000 >/dev/null || e2e_fail "the tray menu did not open again"
e2e_driver menu-key --row kMenuEnd >/dev/null || e2e_fail "cannot choose Exit in the menu"
e2e_wait_program_exit 10 || e2e_fail "program still running after Exit"
((E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE after Exit"
shutdown=$(tail -n +$((from + 1)) "$E2E_MIDI_LOG" | tr -d '\r' | grep -E ' midi(In|Out)[A-Za-z]+ ' |
    sed -E 's/^[0-9]+ (midi[A-Za-z]+) .*msg=(0x[0-9a-f]+).*/\1 \2/; s/^[0-9]+ (midi[A-Za-z]+) .*/\1/' | tr '\n' ' ')
[[ $shutdown == 'midiInStop midiInReset midiInUnprepareHeader midiInClose midiOutShortMsg 0x00007cb0 midiOutClose ' ]] ||
    e2e_fail "shutdown calls: $shutdown"
log_lines "$E2E_MIDI_LOG" ' midi(InStop|InReset|InUnprepareHeader|InClose|OutClose) ' | grep -v ' -> 0' &&
    e2e_fail "a shutdown call failed"
log_lines "$E2E_MIDI_LOG" ' winmm unloaded while the process runs' && e2e_fail "winmm freed before the process ended"
e2e_wait_tray_icons "$icons_before" 5 || e2e_fail "tray icon still there after Exit"
e2e_log "thru and menu exit passed"
