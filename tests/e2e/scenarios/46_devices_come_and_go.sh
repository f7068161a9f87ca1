#!/usr/bin/env bash
# MIDI devices unplugged and plugged in again while the program runs. The
# simulated winmm kills the handles of a device that goes (close notice,
# every call but close refused) and WM_DEVICECHANGE (DBT_DEVNODES_CHANGED)
# follows each change, as from the system (e2e_devices_change). Each case in
# a fresh folder, C-E-G launching recorder.exe:
#
#   case      settings   what happens                                  expected
#   replug    input      unplugged with C and E held, told only by the  closed, grey tip kTipInputGone;
#                        close notice; back, untold, then a notice;     nothing happens without a notice; reopened at
#                        unplugged, back behind another device;         its index (main window, 0x10000, prepare, add,
#                        moved to index 0 while open                    start), orange kTipEnabled; G alone launches
#                                                                       nothing, C-E-G launches; a move alone closes
#                                                                       and opens nothing
#   thru      thru, 5    input unplugged with C sounding, back          all-notes-off and C's release, output closed;
#                                                                       back: input, output 0 and 0x000005c0, thru
#   output    thru, 5    the output alone unplugged, back at index 1    all-notes-off tried, output closed, input kept,
#                                                                       the tray as it was, chords launch unforwarded;
#                                                                       back: output 1, 0x000005c0, thru
#   off       input      off, unplugged, back; on; unplugged, a click   back grey kTipDisabled, the chord silent, a
#                        while missing, back                            click turns it on; a click while missing flips
#                                                                       it but the tip stays missing; back off
#   dialog    input      settings dialog open (tray): unplugged, back   input reopened at 1; the input list left alone
#                        behind another device, Cancel                  while gone, refilled with it selected at 1 when
#                                                                       back; Cancel closes nothing, the chord launches
#   start     input      started with only another device: the dialog   the list refilled with the other device still
#                        of the start; the stored one plugged in, chosen chosen; after OK the new one opens at 1, the
#                        and OK                                         tray is orange, the chord launches
#   refused   input      unplugged, back refusing to open (fail         one warning box, answered, grey tip
#                        in_open), a second notice, the failure gone    kTipInputRefused; a second notice retries
#                                                                       without a box; once it opens, it works
#   refused_out thru, 5  the same with the output (fail out_open)       the same with the output; chords launch
#                                                                       meanwhile; once it opens: 0x000005c0, thru
#   cycles    thru, 5    two unplug/replug cycles, then ten             threads, windows, GDI objects, handles and
#                                                                       memory flat (lib_soak.sh), thru after the last
#
# Every case: config.bin's bytes and time unchanged, no message box but the
# one stated, exit code 0 on WM_CLOSE. Every case runs even when an earlier
# one fails; cases.txt in the artefacts has a line per case, midi-CASE.log
# its MIDI log, soak.txt the readings of `cycles`. VOS_DEVICE_CASES="replug
# off" runs only those cases.
# e2e-timeout: 300
# shellcheck source-path=SCRIPTDIR source=../lib.sh
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
# shellcheck source=../lib_dialog.sh
source "$E2E_DIR/lib_dialog.sh"
# shellcheck source=../lib_soak.sh
source "$E2E_DIR/lib_soak.sh"
e2e_scenario_begin
dlg_drv_start

IN='テスト鍵盤' OUT='テスト音源' OTHER_IN='ほかの鍵盤' OTHER_OUT='ほかの音源'
chord=(90 3C 64 90 40 64 90 43 64 80 3C 00 80 40 00 80 43 00)
chord_packed=(0x00643c90 0x00644090 0x00644390 0x00003c80 0x00004080 0x00004380)
: >"$E2E_ART/cases.txt"
icons_before=$(e2e_tray_icons)

# --- one case ------------------------------------------------------------------
# Each step returns 1 after `problem` (lib.sh) has said what went wrong; the
# case then stops and the next one starts.

config_state() { stat -c '%s %y' "$config" && cksum <"$config"; }

prepare() { # CONFIG OPTIONS...
    e2e_fresh_program --dir "$E2E_WORK/runs/$E2E_NAME/$CASE" --in "$IN" --out "$OUT"
    config=$E2E_PROG_DIR/config.bin
    e2e_write_config "$config" "$@" \
        --entry "$(e2e_chord_code C E G)" "$E2E_REC" chord
    CONFIG_STATE=$(config_state)
}

# Started normally; sets SLOT (its tray icon), CB (its main window), IN_H and,
# with thru, OUT_H once the program change has gone out.
started() { # [thru]
    local open re=' midiInOpen dev=0 cb=(0x[0-9a-f]+) inst=0 flags=0x10000 -> 0 h=(0x[0-9a-f]+)$'
    e2e_start_program
    wait_midi_started 10 || problem "MIDI input not started" || return
    e2e_wait_tray_icons $((icons_before + 1)) 5 || problem "no tray icon" || return
    SLOT=$((icons_before + 1))
    open=$(log_lines "$E2E_MIDI_LOG" ' midiInOpen ' | tail -n 1)
    [[ $open =~ $re ]] || problem "input opened as: $open" || return
    CB=${BASH_REMATCH[1]} IN_H=${BASH_REMATCH[2]}
    [[ ${1:-} == thru ]] || return 0
    wait_log_line "$E2E_MIDI_LOG" ' midiOutShortMsg h=0x[0-9a-f]+ msg=0x000005c0 -> 0$' 5 >/dev/null ||
        problem "no program change at start" || return
    OUT_H=$(log_lines "$E2E_MIDI_LOG" ' midiOutOpen .* -> 0 h=' | tail -n 1 | sed -E 's/.* h=//')
}

# The MIDI log from the last `mark` on.
mark() { FROM=$(tr -d '\r' <"$E2E_MIDI_LOG" | wc -l); }
since() { tail -n +$((FROM + 1)) "$E2E_MIDI_LOG" | tr -d '\r'; }
calls_since() { since | awk '$2 ~ /^(midi|unplugged|renumbered)/ { $1 = ""; print }' | tr '\n' '|' | tail -c 1500; }

wait_since() { # REGEX WHAT [N]: at least N (1) lines since the mark match, within 5 s
    local t0 n
    t0=$(e2e_now)
    while n=$(since | grep -cE -- "$1"); ((n < ${3:-1})); do
        if awk -v a="$t0" -v b="$(e2e_now)" 'BEGIN { exit !(b - a > 5) }'; then
            problem "$2 (calls since: $(calls_since))"
            return 1
        fi
        sleep 0.05
    done
}
none_since() { # REGEX WHAT
    local hits
    hits=$(since | grep -E -- "$1") || return 0
    problem "$2: $(tr '\n' '|' <<<"$hits")"
}

no_box() { dlg_drv no-msgbox --for 200 >/dev/null || problem "a message box: $1"; }

tray_is() { # COLOUR TIP_KEY WHAT
    e2e_expect_tray_colour "$SLOT" "$1" "$3" || problem "tray icon not $1 ($3)" || return
    e2e_expect_tray_tip "$SLOT" "$2" || problem "tray tooltip not $2 ($3)"
}
# What the tray shows where nothing is promised, for the record.
tray_note() { e2e_log "$CASE: tray while $1: $(e2e_tray_colour "$SLOT")"; }

click() { dlg_drv tray --lparam 0x201 >/dev/null || problem "tray callback not posted"; }

launches() { log_lines "$E2E_RECORDER_LOG" . | wc -l; }
play() { # N WHAT BYTES...: the bytes launch the target N times (0: never)
    local want=$1 what=$2 n
    shift 2
    n=$(launches)
    inject_msgs "$@"
    if ((want)); then
        wait_log_count "$E2E_RECORDER_LOG" . $((n + want)) 5 || problem "$what: nothing launched" || return
    fi
    sleep 0.3
    (($(launches) == n + want)) || problem "$what: launched $(($(launches) - n)) times, expected $want"
}
# The chord launches and is forwarded unchanged, on the current output.
forwards() { # WHAT
    local got
    mark
    play 1 "$1" "${chord[@]}" || return
    wait_since " midiOutShortMsg h=$OUT_H msg=0x[0-9a-f]{8} -> 0\$" "$1: not forwarded" 6 || return
    got=$(since | awk '$2 == "midiOutShortMsg" { sub(/^msg=/, "", $4); print $4 }' | tr '\n' ' ')
    [[ $got == "${chord_packed[*]} " ]] || problem "$1: forwarded $got"
}

lost_input() { # WHAT: the input that went is closed, no box, the tray says so
    wait_since " midiInClose h=$IN_H -> 0\$" "$1: the input was not closed" || return
    no_box "$1" || return
    tray_is grey kTipInputGone "$1"
}
# The input reopened once at index DEV as at the start: the main window,
# CALLBACK_WINDOW, then prepare, add buffer and start, in that order. Sets IN_H.
back_input() { # DEV WHAT
    local opens seq re=" midiInOpen dev=$1 cb=$CB inst=0 flags=0x10000 -> 0 h=(0x[0-9a-f]+)\$"
    wait_since ' midiInStart h=0x[0-9a-f]+ -> 0$' "$2: the input was not started again" || return
    opens=$(since | grep -E ' midiInOpen ')
    [[ $(grep -c . <<<"$opens") == 1 && $opens =~ $re ]] ||
        problem "$2: not one midiInOpen of index $1 with the main window: $(tr '\n' '|' <<<"$opens")" || return
    IN_H=${BASH_REMATCH[1]}
    seq=$(since | awk '$2 ~ /^midiIn(Open|PrepareHeader|AddBuffer|Start)$/ { print $2 }' | tr '\n' ' ')
    [[ $seq == 'midiInOpen midiInPrepareHeader midiInAddBuffer midiInStart ' ]] ||
        problem "$2: reopening calls $seq" || return
    no_box "$2"
}
# The output reopened once at index DEV, the program change its first message. Sets OUT_H.
back_output() { # DEV WHAT
    local opens first re=" midiOutOpen dev=$1 .* -> 0 h=(0x[0-9a-f]+)\$"
    wait_since ' midiOutShortMsg h=0x[0-9a-f]+ msg=0x000005c0 -> 0$' "$2: no program change" || return
    opens=$(since | grep -E ' midiOutOpen ')
    [[ $(grep -c . <<<"$opens") == 1 && $opens =~ $re ]] ||
        problem "$2: not one midiOutOpen of index $1: $(tr '\n' '|' <<<"$opens")" || return
    OUT_H=${BASH_REMATCH[1]}
    first=$(since | awk -v h="h=$OUT_H" '$2 == "midiOutShortMsg" && $3 == h { print $4; exit }')
    [[ $first == msg=0x000005c0 ]] || problem "$2: the first message on the new output is $first"
}

# Nothing asked was written, no box is left, and WM_CLOSE ends it with 0.
finish() {
    local t0 rc
    no_box "at the end" || return
    [[ $(config_state) == "$CONFIG_STATE" ]] || problem "config.bin was written"
    dlg_drv close-main >/dev/null || problem "cannot post WM_CLOSE" || return
    t0=$(e2e_now)
    while kill -0 "$E2E_PROGRAM_PID" 2>/dev/null; do
        awk -v a="$t0" -v b="$(e2e_now)" 'BEGIN { exit !(b - a > 10) }' &&
            { problem "still running 10 s after WM_CLOSE"; return; }
        sleep 0.05
    done
    wait "$E2E_PROGRAM_PID"
    rc=$?
    ((rc == 0)) || problem "exit code $rc"
}

# Ends whatever a failed case left running, so the next case starts alone.
clean_up_case() {
    if kill -0 "$E2E_PROGRAM_PID" 2>/dev/null; then
        e2e_screenshot "$CASE-left-running"
        kill -TERM "$E2E_PROGRAM_PID" 2>/dev/null
        for _ in $(seq 50); do kill -0 "$E2E_PROGRAM_PID" 2>/dev/null || break; sleep 0.05; done
        kill -KILL "$E2E_PROGRAM_PID" 2>/dev/null
        wait "$E2E_PROGRAM_PID" 2>/dev/null
    fi
    dlg_drv msgbox --timeout 0 --answer ok >/dev/null 2>&1
    e2e_wait_tray_icons "$icons_before" 5 >/dev/null 2>&1
    [[ -f $E2E_MIDI_LOG ]] && cp "$E2E_MIDI_LOG" "$E2E_ART/midi-$CASE.log"
}

# --- the cases -------------------------------------------------------------------

case_replug() {
    prepare && started || return
    tray_is orange kTipEnabled "at start" || return
    inject_msgs 90 3C 64 90 40 64 # C and E held as the keyboard goes
    # first with no WM_DEVICECHANGE: the close notice of the dead input tells,
    # and nothing but a notice brings it back
    mark && e2e_devices_change --in '' --no-notice
    lost_input "unplugged (the close notice alone)" || return
    mark && e2e_devices_change --in "$IN" --no-notice
    sleep 1
    none_since ' midiIn[A-Za-z]+ ' "the input was looked at again without a notice" || return
    mark && e2e_devices_change
    back_input 0 "back at index 0" || return
    tray_is orange kTipEnabled "back at index 0" || return
    play 0 "G alone (C and E went with the device)" 90 43 64 80 43 00 || return
    play 1 "the chord after the replug" "${chord[@]}" || return

    mark && e2e_devices_change --in "$OTHER_IN"
    lost_input "unplugged again" || return
    mark && e2e_devices_change --in "$OTHER_IN|$IN"
    back_input 1 "back behind another device" || return
    tray_is orange kTipEnabled "back at index 1" || return
    play 1 "the chord at index 1" "${chord[@]}" || return

    mark && e2e_devices_change --in "$IN|$OTHER_IN"
    wait_since " renumbered h=$IN_H dev=1 name=$IN -> 0\$" "test setup: the open input did not move" || return
    sleep 0.3
    none_since ' midiIn(Stop|Reset|Close|Open) ' "the input moved while open was closed or reopened" || return
    play 1 "the chord after the move" "${chord[@]}"
}

case_thru() {
    local got
    prepare --thru --program 5 && started thru || return
    inject_msgs 90 3C 64 # C sounding through thru
    mark && e2e_devices_change --in ''
    wait_since " midiOutClose h=$OUT_H -> 0\$" "the output was not closed with the input gone" || return
    lost_input "unplugged" || return
    got=$(since | awk '$2 == "midiOutShortMsg" { sub(/^msg=/, "", $4); print $4 "/" $6 } $2 == "midiOutClose" { print "close" }' | tr '\n' ' ')
    [[ $got == '0x00007cb0/0 0x00403c80/0 close ' ]] ||
        problem "output with the input gone: $got (expected the all-notes-off, C's release, midiOutClose)" || return
    mark && e2e_devices_change --in "$IN"
    back_input 0 "back" || return
    back_output 0 "back" || return
    tray_is orange kTipEnabled "back" || return
    forwards "thru after the replug"
}

case_output() {
    prepare --thru --program 5 && started thru || return
    mark && e2e_devices_change --out ''
    wait_since " midiOutClose h=$OUT_H -> 0\$" "the output that went was not closed" || return
    since | grep -qE " midiOutShortMsg h=$OUT_H msg=0x00007cb0 -> 6\$" ||
        problem "no all-notes-off tried on the output that went (calls since: $(calls_since))" || return
    no_box "output unplugged" || return
    tray_is orange kTipEnabled "the output alone gone" || return
    play 1 "a chord while the output is gone" "${chord[@]}" || return
    none_since ' midiIn(Stop|Reset|Close|Open) ' "the input was touched when the output went" || return
    none_since ' midiOutShortMsg .* -> 0$' "forwarded while the output is gone" || return
    mark && e2e_devices_change --out "$OTHER_OUT|$OUT"
    back_output 1 "output back at index 1" || return
    none_since ' midiIn(Stop|Reset|Close|Open) ' "the input was touched when the output came back" || return
    no_box "output back" || return
    tray_is orange kTipEnabled "output back" || return
    forwards "thru with the output back"
}

case_off() {
    prepare && started || return
    click && tray_is grey kTipDisabled "switched off" || return
    mark && e2e_devices_change --in ''
    lost_input "unplugged while off" || return
    mark && e2e_devices_change --in "$IN"
    back_input 0 "back while off" || return
    tray_is grey kTipDisabled "back while off" || return
    play 0 "the chord while off" "${chord[@]}" || return
    click && tray_is orange kTipEnabled "a click after the replug" || return
    play 1 "the chord once on" "${chord[@]}" || return

    mark && e2e_devices_change --in ''
    lost_input "unplugged while on" || return
    click && sleep 0.3 && tray_is grey kTipInputGone "a click while missing" || return
    mark && e2e_devices_change --in "$IN"
    back_input 0 "back after a click while missing" || return
    tray_is grey kTipDisabled "back after a click while missing" || return
    play 0 "the chord after the click while missing" "${chord[@]}"
}

# The dialog opens at the top left, over Wine's tray window: moved away, so
# that the tray stays in sight (without a window manager a drag by the
# caption does not move it).
move_dialog_away() {
    dlg_drv move --x 500 --y 300 >/dev/null || problem "test setup: cannot move the dialog" || return
    dlg_snapshot "$1"
    ((DLG_ORIGIN_X >= 500)) || problem "test setup: the dialog did not move (client at $DLG_ORIGIN_X,$DLG_ORIGIN_Y)"
}

case_dialog() {
    local sel
    prepare && started || return
    dlg_open_from_tray
    move_dialog_away open || return
    DLG_TAG=open
    sel="$(dlg_get open cmbMIDev state) $(dlg_get open cmbMIDev text)"
    [[ $sel == "0/1 $IN" ]] || problem "the input list at the opening: $sel" || return
    mark && e2e_devices_change --in "$OTHER_IN"
    lost_input "unplugged with the dialog open" || return
    dlg_snapshot gone
    sel="$(dlg_get gone cmbMIDev state) $(dlg_get gone cmbMIDev text)"
    [[ $sel == "0/1 $IN" ]] || problem "the input list with the device gone (to be left alone): $sel" || return
    mark && e2e_devices_change --in "$OTHER_IN|$IN"
    back_input 1 "back with the dialog open" || return
    tray_is orange kTipEnabled "back with the dialog open" || return
    DLG_TAG=back && dlg_snapshot back
    sel="$(dlg_get back cmbMIDev state) $(dlg_get back cmbMIDev text)"
    [[ $sel == "1/2 $IN" ]] || problem "the input list with the device back at 1: $sel" || return
    [[ $(head -n 1 "$E2E_ART/controls-back.txt") == *' enabled=1 '* ]] ||
        problem "the dialog is disabled: $(head -n 1 "$E2E_ART/controls-back.txt")" || return
    mark
    dlg_click cmdCancel
    dlg_wait_gone 5 || problem "Cancel did not close the dialog" || return
    sleep 0.3
    none_since ' midi(In|Out)(Stop|Reset|Close|Open) ' "Cancel touched the devices" || return
    play 1 "the chord after Cancel" "${chord[@]}"
}

# The dialog the start shows for a device that is not there follows the
# devices too, although nothing is open yet.
case_start() {
    local sel state
    prepare || return
    VOS_MIDI_IN=$OTHER_IN
    e2e_start_program
    VOS_MIDI_IN=$IN
    dlg_drv msgbox --timeout 10000 --expect-key kInputChanged \
        --expect-buttons ok --answer ok >/dev/null || problem "no changed-device message at the start" || return
    dlg_drv dialog --title "$DLG_TITLE" --timeout 5000 >/dev/null || problem "the dialog did not open" || return
    DLG_TAG=start && dlg_snapshot start
    sel="$(dlg_get start cmbMIDev state) $(dlg_get start cmbMIDev text)"
    [[ $sel == "0/1 $OTHER_IN" ]] || problem "the input list at the start: $sel" || return
    e2e_devices_change --in "$OTHER_IN|$IN"
    for state in 0/2 1/2; do
        [[ $state == 1/2 ]] && { dlg_click cmbMIDev && sleep 0.3 && timeout 5 xdotool key End Return ||
            problem "cannot choose in the input list" || return; }
        for _ in $(seq 30); do
            dlg_snapshot start
            [[ $(dlg_get start cmbMIDev state) == "$state" ]] && break
            sleep 0.1
        done
        sel="$(dlg_get start cmbMIDev state) $(dlg_get start cmbMIDev text)"
        [[ $state == 0/2 && $sel == "0/2 $OTHER_IN" || $state == 1/2 && $sel == "1/2 $IN" ]] ||
            problem "the input list, expected $state: $sel" || return
    done
    mark
    dlg_click cmdOK
    dlg_drv msgbox --expect-key kAskDuplicates --answer no >/dev/null ||
        problem "no duplicate question at OK" || return
    dlg_wait_gone 5 || problem "the dialog stayed open after OK" || return
    wait_since ' midiInStart h=0x[0-9a-f]+ -> 0$' "the input was not started after OK" || return
    [[ $(since | grep -cE ' midiInOpen dev=1 .* -> 0 h=') == 1 ]] ||
        problem "not input 1 opened: $(calls_since)" || return
    e2e_wait_tray_icons $((icons_before + 1)) 5 || problem "no tray icon" || return
    SLOT=$((icons_before + 1))
    tray_is orange kTipEnabled "after OK" || return
    CONFIG_STATE=$(config_state)  # OK wrote the choice
    play 1 "the chord through the device plugged in at the start" "${chord[@]}"
}

case_refused() {
    prepare && started || return
    mark && e2e_devices_change --in ''
    lost_input "unplugged" || return
    e2e_inject_raw 'fail in_open'
    mark && e2e_devices_change --in "$IN"
    dlg_drv msgbox --timeout 5000 --expect-key kCannotOpenInput --value "$IN" --expect-buttons ok --expect-icon warning \
        --answer ok >/dev/null || problem "no warning as expected when the input came back refusing to open" || return
    wait_since " midiInOpen dev=0 cb=$CB .* -> 4\$" "no open tried when the input came back" || return
    tray_is grey kTipInputRefused "the input refuses to open" || return
    mark && e2e_devices_change
    dlg_drv no-msgbox --for 500 >/dev/null || problem "a second box at the next notice" || return
    wait_since " midiInOpen dev=0 cb=$CB .* -> 4\$" "the next notice did not try to open it again" || return
    e2e_inject_raw 'fail'
    mark && e2e_devices_change
    back_input 0 "opened at a later notice" || return
    tray_is orange kTipEnabled "opened at a later notice" || return
    play 1 "the chord once it opened" "${chord[@]}"
}

case_refused_out() {
    prepare --thru --program 5 && started thru || return
    mark && e2e_devices_change --out ''
    wait_since " midiOutClose h=$OUT_H -> 0\$" "the output that went was not closed" || return
    e2e_inject_raw 'fail out_open'
    mark && e2e_devices_change --out "$OUT"
    dlg_drv msgbox --timeout 5000 --expect-key kCannotOpenOutput --value "$OUT" --expect-buttons ok --expect-icon warning \
        --answer ok >/dev/null || problem "no warning as expected when the output came back refusing to open" || return
    wait_since ' midiOutOpen dev=0 .* -> 4$' "no open tried when the output came back" || return
    mark && e2e_devices_change
    dlg_drv no-msgbox --for 500 >/dev/null || problem "a second box at the next notice" || return
    wait_since ' midiOutOpen dev=0 .* -> 4$' "the next notice did not try to open it again" || return
    play 1 "a chord while the output refuses" "${chord[@]}" || return
    tray_note "the output refuses to open"
    e2e_inject_raw 'fail'
    mark && e2e_devices_change
    back_output 0 "output opened at a later notice" || return
    none_since ' midiIn(Stop|Reset|Close|Open) ' "the input was touched for the output" || return
    no_box "output opened at a later notice" || return
    forwards "thru once the output opened"
}

case_cycles() {
    soak_scale
    prepare --thru --program 5 && started thru || return
    cycle() {
        mark && e2e_devices_change --in ''
        wait_since " midiOutClose h=$OUT_H -> 0\$" "cycle: the output was not closed" || return
        wait_since " midiInClose h=$IN_H -> 0\$" "cycle: the input was not closed" || return
        mark && e2e_devices_change --in "$IN"
        back_input 0 "cycle: back" && back_output 0 "cycle: back"
    }
    cycles() {
        local i
        for ((i = 0; i < $1; i++)); do cycle || return; done
    }
    cycles 2 || return # what Wine makes once
    soak_sample replug-before
    cycles 10 || return
    soak_sample replug-after
    soak_judge replug-before replug-after 10 "unplug/replug cycles" 0 cycles ||
        problem "resources grew over ten unplug/replug cycles (soak.txt)" || return
    ((${#PROBLEMS[@]} == 0)) || return
    tray_is orange kTipEnabled "after the cycles" || return
    forwards "thru after the last cycle"
}

CASES=(replug thru output off dialog start refused refused_out cycles)
failed_cases=()
for CASE in "${CASES[@]}"; do
    [[ -z ${VOS_DEVICE_CASES:-} || " $VOS_DEVICE_CASES " == *" $CASE "* ]] || continue
    e2e_log "--- $CASE"
    PROBLEMS=()
    t0=$(e2e_now)
    "case_$CASE" && finish
    clean_up_case
    if ((${#PROBLEMS[@]})); then
        failed_cases+=("$CASE")
        result="FAIL: $(printf '%s; ' "${PROBLEMS[@]}")"
    else
        result=ok
    fi
    printf '%-8s %6ss  %s\n' "$CASE" "$(e2e_since "$t0")" "$result" | tee -a "$E2E_ART/cases.txt" >&2
done
((${#failed_cases[@]} == 0)) || e2e_fail "cases failed: ${failed_cases[*]} (see cases.txt)"
e2e_log "devices that come and go passed"
