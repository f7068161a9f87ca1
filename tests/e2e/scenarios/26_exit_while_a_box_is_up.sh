#!/usr/bin/env bash
# The program is told to end while one of its own message boxes or modal
# loops is up: Exit from the tray menu, WM_CLOSE (what taskkill without /F
# sends) or a log-off. However the box comes back, nothing may follow it: no
# MIDI device opened or started and no output message after the shutdown's
# midiInClose (only its own all-notes-off), config.bin neither rewritten nor
# copied, nothing launched, no tray icon left; the process ends by itself with
# code 0. Each case has a fresh program folder:
#
#   case          what is up when the program is told to end     how     ends within
#   ask-dup       OK's question whether to look for duplicates    Exit    5 s
#   dup-pair      the duplicate found after Yes to that question  WM_CLOSE 5 s
#   open-failed   the input cannot be opened in the activation    Exit    5 s
#                 that follows OK (thru on)
#   hotkey        the shortcut refused in that activation         log-off 5 s
#   browse        the file dialog of 参照                         Exit    5 s
#   damaged       the damaged-config question at start            WM_CLOSE 1 s
#   device-close  the start-up device loop's dialog (modal)       WM_CLOSE 1 s
#   device-logoff the same                                        log-off 1 s
#
# Every case runs even when an earlier one fails; cases.txt in the artefacts
# has one line per case, and each case's MIDI log is kept as midi-CASE.log.
# e2e-timeout: 240
# shellcheck source-path=SCRIPTDIR source=../lib.sh
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
# shellcheck source=../lib_dialog.sh
source "$E2E_DIR/lib_dialog.sh"
e2e_scenario_begin
dlg_drv_start

ceg=$(e2e_chord_code C E G)
: >"$E2E_ART/cases.txt"

tray_icons() {
    local n
    n=$(dlg_drv tray-rect --timeout 0 2>/dev/null | e2e_field icons)
    echo "${n:-0}"
}
icons_before=$(tray_icons)

# --- one case ------------------------------------------------------------------
# Each step returns 1 after `problem` (lib.sh) has said what went wrong; the
# case then stops and the next one starts.

# A fresh folder and, unless the case writes its own, settings with thru on
# and two entries of the same chord (the duplicate check has something to
# find).
prepare() { # CONFIG OPTIONS...
    e2e_fresh_program --dir "$E2E_WORK/runs/$E2E_NAME/$CASE"
    config=$E2E_PROG_DIR/config.bin
    e2e_write_config "$config" --thru "$@" --entry "$ceg" "$E2E_REC" first --entry "$ceg" "$E2E_REC" second
}

# The program has started normally: input started, main window hooked.
started() {
    e2e_start_program
    wait_midi_started 10 || problem "MIDI input not started"
}

# 設定 from the tray menu, then OK (Alt+O) in the dialog.
ok_in_dialog() {
    dlg_drv tray --lparam 0x204 >/dev/null || problem "tray callback not posted" || return
    dlg_drv menu --wait 3000 >/dev/null || problem "the tray menu did not open" || return
    dlg_drv menu-key --row kMenuConfig >/dev/null || problem "cannot choose Settings in the tray menu" || return
    dlg_drv dialog --title "$DLG_TITLE" >/dev/null || problem "the dialog did not open" || return
    [[ ${1:-} == --no-ok ]] && return 0
    dlg_drv keys alt+o >/dev/null || problem "cannot press Alt+O in the dialog"
}

box() { # KEY ANSWER [--value V]...
    dlg_drv msgbox --timeout 10000 --expect-key "$1" "${@:3}" --answer "$2" >/dev/null ||
        problem "message box $1 not as expected (answer $2)"
}

# How the program is told to end; sets T_END (when it was told).
tell_to_end() { # tray|close|logoff LIMIT
    local out
    case $1 in
    tray)
        dlg_drv tray --lparam 0x204 >/dev/null || problem "tray callback not posted" || return
        dlg_drv menu --wait 3000 >/dev/null || problem "the tray menu did not open over the box" || return
        T_END=$(e2e_now)
        dlg_drv menu-key --row kMenuEnd >/dev/null || problem "cannot choose Exit in the tray menu"
        ;;
    close)
        T_END=$(e2e_now)
        dlg_drv close-main >/dev/null || problem "cannot post WM_CLOSE"
        ;;
    logoff)
        # the system ends a process that is still there some time after
        # WM_ENDSESSION has returned; the driver does so after LIMIT
        T_END=$(e2e_now)
        out=$(dlg_drv endsession --kill-after $(($2 * 1000))) || problem "endsession failed: $out" || return
        grep -q '^queryendsession=1$' <<<"$out" || problem "log-off refused: $out" || return
        grep -q '^terminated=1$' <<<"$out" &&
            problem "still running ${2}s after WM_ENDSESSION(TRUE): ended by the driver"
        ;;
    esac
}

# Waits LIMIT seconds from T_END for the process to end; sets EXIT_CODE and
# ENDED_AFTER.
ends_within() { # LIMIT
    while kill -0 "$E2E_PROGRAM_PID" 2>/dev/null; do
        if awk -v a="$T_END" -v b="$(e2e_now)" -v l="$1" 'BEGIN { exit !(b - a > l) }'; then
            ENDED_AFTER="still running"
            e2e_screenshot "$CASE-still-running"
            dlg_drv windows --name Vosselmar.exe >"$E2E_ART/$CASE-windows.txt" 2>&1
            problem "still running ${1}s after being told to end (windows: $(grep -c hwnd= "$E2E_ART/$CASE-windows.txt"), picture $CASE-still-running.png)"
            return
        fi
        sleep 0.02
    done
    wait "$E2E_PROGRAM_PID"
    EXIT_CODE=$?
    ENDED_AFTER=$(e2e_since "$T_END")s
    ((EXIT_CODE == 0)) || problem "exit code $EXIT_CODE"
}

# What the folder and the MIDI log look like while the box is up.
snapshot() {
    FROM=$(wc -l <"$E2E_MIDI_LOG")
    CONFIG_STATE=$(stat -c '%s %y' "$config"; cksum <"$config")
    FILES=$(ls -A "$E2E_PROG_DIR")
}

# Nothing happened after the box: see the header. Reports every difference.
nothing_followed() { # [--at-start]
    local late bad=0 t0 icons
    # the shutdown's own calls end with its midiInClose and, with thru, one
    # all-notes-off and midiOutClose; where the program never reached its
    # shutdown, everything after the box counts
    late=$(tail -n +$((FROM + 1)) "$E2E_MIDI_LOG" | tr -d '\r' | awk '
        $2 ~ /^midi(In|Out)/ { n++; all[n] = $0; if (closed) print; if ($2 == "midiInClose") closed = 1 }
        END { if (!closed) for (i = 1; i <= n; i++) print all[i] }' |
        awk '$2 == "midiInOpen" || $2 == "midiInStart" || $2 == "midiOutOpen" ||
            ($2 == "midiOutShortMsg" && ($0 !~ / msg=0x00007cb0 / || silenced++))')
    if [[ -n $late ]]; then
        problem "MIDI used after the shutdown: $(tr '\n' '|' <<<"$late")"
        bad=1
    fi
    if [[ ${1:-} == --at-start ]] && log_lines "$E2E_MIDI_LOG" ' midi(In|Out)Open ' >/dev/null; then
        problem "a MIDI device was opened: $(log_lines "$E2E_MIDI_LOG" ' midi(In|Out)Open ' | head -n 1)"
        bad=1
    fi
    if [[ $(stat -c '%s %y' "$config"; cksum <"$config") != "$CONFIG_STATE" ]]; then
        problem "config.bin was written after the box came up"
        bad=1
    fi
    if [[ $(ls -A "$E2E_PROG_DIR") != "$FILES" ]]; then
        problem "files in the program folder changed: $(diff <(echo "$FILES") <(ls -A "$E2E_PROG_DIR") | grep '^[<>]' | tr '\n' ' ')"
        bad=1
    fi
    if log_lines "$E2E_RECORDER_LOG" . >/dev/null; then
        problem "something was launched: $(log_lines "$E2E_RECORDER_LOG" . | head -n 1)"
        bad=1
    fi
    t0=$(e2e_now)
    while icons=$(tray_icons) && ((icons != icons_before)); do
        awk -v a="$t0" -v b="$(e2e_now)" 'BEGIN { exit !(b - a > 3) }' && break
        sleep 0.1
    done
    if ((icons != icons_before)); then
        problem "$icons tray icons, $icons_before before the program"
        bad=1
    fi
    return $bad
}

# Ends whatever a failed case left running, so the next case starts alone.
clean_up_case() {
    local pid
    for pid in "$E2E_PROGRAM_PID" ${HOLDER:-}; do
        kill -0 "$pid" 2>/dev/null || continue
        kill -TERM "$pid" 2>/dev/null
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    HOLDER=''
    [[ -f $E2E_MIDI_LOG ]] && cp "$E2E_MIDI_LOG" "$E2E_ART/midi-$CASE.log"
}

# --- how each case brings its box up ---------------------------------------

up_ask_dup() {
    prepare && started && ok_in_dialog && box kAskDuplicates none
}
up_dup_pair() {
    prepare && started && ok_in_dialog && box kAskDuplicates yes && box kContained none --value ' 1' --value ' 2'
}
up_open_failed() {
    prepare && started || return
    e2e_inject_raw 'fail in_open'
    ok_in_dialog && box kAskDuplicates no && box kCannotOpenInput none --value 'テスト鍵盤'
}
# Another program holds Ctrl+F12 from before the start: the start says so
# once, and the activation after OK meets it again.
up_hotkey() {
    local out=$E2E_ART/holder-$CASE.out
    prepare --shortcut --key 123 --mods 2 || return
    timeout -k 2 60 wine "$E2E_TOOLS/driver.exe" hold-hotkey --mods ctrl --key F12 --for 50000 >"$out" 2>&1 &
    HOLDER=$!
    wait_log_line "$out" '^registered=' 10 >/dev/null && grep -q '^registered=1' "$out" ||
        problem "test setup: could not hold Ctrl+F12: $(cat "$out")" || return
    e2e_start_program
    box kShortcutRefused ok && ok_in_dialog && box kAskDuplicates no && box kShortcutRefused none
}
up_browse() {
    local out
    prepare && started && ok_in_dialog --no-ok || return
    dlg_drv keys alt+r >/dev/null || problem "cannot press Alt+R in the dialog" || return
    out=$(dlg_drv window --class '#32770' --visible 1 --timeout 5000) || problem "no file dialog" || return
    grep -q 'process=Vosselmar.exe' <<<"$out" || problem "no file dialog of the program: $out"
}
up_damaged() {
    prepare || return
    printf '\x01\x00\x00\x00ABCDEF' >"$config"
    e2e_start_program
    dlg_drv msgbox --timeout 10000 --expect-buttons yesno --answer none --expect-key kAskRebuild --value @kDamaged \
        --value @kSettingsFile --value "$(e2e_winpath "$config")" --value @kDamagedShort >/dev/null ||
        problem "no damaged-config question"
}
up_device() {
    prepare --in-name 'Old Keyboard' && e2e_start_program || return
    box kInputChanged ok || return
    dlg_drv dialog --title "$DLG_TITLE" --timeout 5000 >/dev/null || problem "the dialog did not open" || return
    log_lines "$E2E_MIDI_LOG" ' midiInOpen ' >/dev/null && problem "input opened while the device is wrong"
    return 0
}

# case  how-it-is-brought-up  how-it-is-told-to-end  seconds  checks
CASES=(
    "ask-dup up_ask_dup tray 5 -"
    "dup-pair up_dup_pair close 5 -"
    "open-failed up_open_failed tray 5 -"
    "hotkey up_hotkey logoff 5 -"
    "browse up_browse tray 5 -"
    "damaged up_damaged close 1 --at-start"
    "device-close up_device close 1 --at-start"
    "device-logoff up_device logoff 1 --at-start"
)
failed_cases=()
for line in "${CASES[@]}"; do
    read -r CASE up how limit checks <<<"$line"
    [[ $checks == - ]] && checks=''
    e2e_log "--- $CASE: $how while the box is up"
    PROBLEMS=() EXIT_CODE='' ENDED_AFTER='' T_END=''
    if $up; then
        snapshot
        e2e_screenshot "$CASE-box"
        tell_to_end "$how" "$limit"
        if [[ -n $T_END ]]; then
            ends_within "$limit"
            kill -0 "$E2E_PROGRAM_PID" 2>/dev/null || nothing_followed "$checks"
        fi
    fi
    clean_up_case
    if ((${#PROBLEMS[@]})); then
        failed_cases+=("$CASE")
        result="FAIL: $(printf '%s; ' "${PROBLEMS[@]}")"
    else
        result=ok
    fi
    printf '%-14s %-7s ended after %-14s exit %-4s %s\n' "$CASE" "$how" "${ENDED_AFTER:--}" \
        "${EXIT_CODE:--}" "$result" | tee -a "$E2E_ART/cases.txt" >&2
done
((${#failed_cases[@]} == 0)) || e2e_fail "cases failed: ${failed_cases[*]} (see cases.txt)"
e2e_log "ending while a box is up passed"
