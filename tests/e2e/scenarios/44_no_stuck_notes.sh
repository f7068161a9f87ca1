#!/usr/bin/env bash
# No note is left hanging where thru stops forwarding. With thru on, notes
# and pedals are held on channels 1, 2 and 10 (and a note and a pedal pressed
# and released before), then forwarding stops: recognition switched off, OK
# in the settings dialog, Exit. After the moment the output gets exactly the
# all-notes-off, then per channel in order a note-off for each note still
# sounding (ascending) and a release of each pedal still down (sustain,
# sostenuto, soft), nothing for the silent channels and nothing for what was
# already released (after OK, then the program change). Keys let go while
# recognition is off are not forwarded; once it is on again, keys pressed
# again are forwarded with their releases. A last start ends with nothing
# held: Exit sends the all-notes-off alone and closes the output.
# e2e-timeout: 90
# shellcheck source-path=SCRIPTDIR source=../lib.sh
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
# shellcheck source=../lib_dialog.sh
source "$E2E_DIR/lib_dialog.sh"
e2e_scenario_begin
dlg_drv_start

e2e_fresh_program
# a chord nobody plays here: launching would only cost time
e2e_write_config "$E2E_PROG_DIR/config.bin" --thru --program 5 \
    --entry "$(e2e_chord_code C# D# F#)" "$E2E_REC" 'never'

# Channel 1: C4, then A3 below it; D4 let go by a note-off and F4 by a
# zero-velocity note-on; sostenuto down and up. Channel 2: E4, soft pedal,
# then sustain. Channel 10: C2.
hold=(90 3C 64 90 39 64 90 3E 64 80 3E 40 90 41 64 90 41 00 B0 42 7F B0 42 00
    91 40 50 B1 43 7F B1 40 7F 99 24 7F)
let_go=(80 3C 00 80 39 00 81 40 00 B1 40 00 B1 43 00 89 24 00)
releases=(0x00007cb0 0x00403980 0x00403c80 0x00404081 0x000040b1 0x000043b1 0x00402489)
mapfile -t hold_out < <(e2e_pack_msgs "${hold[@]}")
mapfile -t let_go_out < <(e2e_pack_msgs "${let_go[@]}")

log_len() { tr -d '\r' <"$E2E_MIDI_LOG" | wc -l; }
# Every message the program handed to midiOutShortMsg after line $1 of the log.
sent_since() {
    tail -n +$(($1 + 1)) "$E2E_MIDI_LOG" | tr -d '\r' | grep -E ' midiOutShortMsg ' |
        sed -E 's/.* msg=(0x[0-9a-f]{8}).*/\1/'
}
# expect_sent WHAT FROM MSG...: after line FROM exactly MSG... were sent (waits
# for them, then a little longer for any extra one).
expect_sent() {
    local what=$1 from=$2 t0 got want="" m
    shift 2
    for m; do want+="$m "; done
    t0=$(e2e_now)
    while (($(sent_since "$from" | wc -l) < $#)) &&
        awk -v a="$t0" -v b="$(e2e_now)" 'BEGIN { exit !(b - a < 5) }'; do sleep 0.05; done
    sleep 0.3
    got=$(sent_since "$from" | tr '\n' ' ')
    [[ $got == "$want" ]] && return 0
    e2e_log "$what: sent $got"
    e2e_log "$what: expected $want"
    return 1
}

moment_toggle() { dlg_drv tray --lparam 0x201 >/dev/null || e2e_fail "tray callback not posted"; }
moment_ok() {
    dlg_open_from_tray
    DLG_TAG=ok
    dlg_snapshot ok
    dlg_click cmdOK
    dlg_drv msgbox --expect-key kAskDuplicates --answer no >/dev/null ||
        e2e_fail "no duplicate question after OK"
    dlg_wait_gone 5 || e2e_fail "the dialog stayed open after OK"
}
moment_exit() {
    dlg_drv tray --lparam 0x204 >/dev/null || e2e_fail "tray callback not posted"
    dlg_drv menu --wait 3000 >/dev/null || e2e_fail "the tray menu did not open"
    dlg_drv menu-key --row kMenuEnd >/dev/null || e2e_fail "cannot choose Exit in the tray menu"
    e2e_wait_program_exit 10 || e2e_fail "program still running after Exit"
}

# Off: the keys let go are not forwarded. On again: keys pressed again are
# forwarded with their releases, and switching on sends nothing itself.
after_toggle() {
    local from
    from=$(log_len)
    inject_msgs "${let_go[@]}"
    expect_sent "keys let go while off" "$from" || e2e_fail "forwarded while recognition is off"
    moment_toggle
    inject_msgs "${hold[@]}" "${let_go[@]}"
    expect_sent "keys pressed again once on" "$from" "${hold_out[@]}" "${let_go_out[@]}" ||
        e2e_fail "after switching on again, not exactly the keys played were forwarded"
}
# Recognition stays on across OK: the keys let go afterwards are forwarded.
after_ok() {
    local from
    wait_log_count "$E2E_MIDI_LOG" ' midiInStart h=0x[0-9a-f]+ -> 0$' 2 5 || e2e_fail "MIDI input not started again after OK"
    from=$(log_len)
    inject_msgs "${let_go[@]}"
    expect_sent "keys let go after OK" "$from" "${let_go_out[@]}" || e2e_fail "not forwarded after OK"
}
after_exit() {
    ((E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE after Exit"
    [[ $(log_lines "$E2E_MIDI_LOG" ' midiOut[A-Z][A-Za-z]+ ' | tail -n 1) == *' midiOutClose '*' -> 0' ]] ||
        e2e_fail "the output was not closed last: $(log_lines "$E2E_MIDI_LOG" ' midiOut' | tail -n 1)"
}

e2e_start_program
wait_midi_started 10 || e2e_fail "MIDI input not started"
wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg .*msg=0x000005c0 ' 1 5 || e2e_fail "no program change at start"

# moment, then what follows the releases
declare -A also=([toggle]='' [ok]=0x000005c0 [exit]='')
wrong=()
for moment in toggle ok exit; do
    e2e_log "--- held notes and pedals, then $moment"
    from=$(log_len)
    inject_msgs "${hold[@]}"
    "moment_$moment"
    # shellcheck disable=SC2086 # also[] is a word or nothing
    expect_sent "$moment" "$from" "${hold_out[@]}" "${releases[@]}" ${also[$moment]} || wrong+=("$moment")
    "after_$moment"
done
cp "$E2E_MIDI_LOG" "$E2E_ART/midi-held.log"
((${#wrong[@]} == 0)) || e2e_fail "not exactly the releases of what was left sounding at: ${wrong[*]}"

e2e_log "--- nothing held, then exit"
e2e_midi_env
e2e_start_program
wait_midi_started 10 || e2e_fail "MIDI input not started"
from=$(log_len)
inject_msgs 90 3C 64 B0 40 7F 80 3C 00 B0 40 00 99 24 7F 89 24 00
moment_exit
expect_sent "exit with nothing held" "$from" 0x00643c90 0x007f40b0 0x00003c80 0x000040b0 0x007f2499 0x00002489 0x00007cb0 ||
    e2e_fail "not the all-notes-off alone at Exit with nothing held"
after_exit
e2e_log "no stuck notes passed"
