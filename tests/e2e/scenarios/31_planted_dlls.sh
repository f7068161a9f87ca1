#!/usr/bin/env bash
# DLLs planted beside the program and in the folder it is started from (as a
# web page may drop them into Downloads, where the zip was unpacked) are never
# loaded: a winmm.dll, which Windows would take from the program's folder
# before the system's, DLLs the shell loads by name when it opens a file, and
# those the program loads once the dialog needs them. planted.dll under those
# names leaves a mark file when loaded. The program runs through a start, a
# launch, the file dialog of 参照, a screen reader's questions and Exit; no
# mark may appear, and the MIDI calls must reach the prefix's system
# winmm (the simulated one there).
#
# Then the system's winmm itself is missing (winmm=d) or lacks a function
# (planted-lacking.dll as system32\winmm.dll): a box says so, and the program
# ends at once with nothing touched.
# e2e-timeout: 120
# shellcheck source-path=SCRIPTDIR source=../lib.sh
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
# shellcheck source=../lib_dialog.sh
source "$E2E_DIR/lib_dialog.sh"
e2e_scenario_begin
dlg_drv_start

# Besides winmm.dll, shdocvw.dll: the shell loads it by name, without a
# path, when it first needs it; and oleacc.dll and comdlg32.dll, which the
# program loads itself once a screen reader or 参照 needs them. Wine takes
# its own builtin over any file of a name it has one for, wherever the file
# lies, and under Wine's defaults nothing the shell or the file dialog loads
# after the start is looked for by name in the program's folder. Loaded
# "n,b", these are looked for as Windows looks for such a DLL, in the
# program's folder first.
PLANTED_NAMES=${E2E_PLANTED_NAMES:-winmm.dll shdocvw.dll oleacc.dll comdlg32.dll}
E2E_BASE_OVERRIDES="$E2E_BASE_OVERRIDES;shdocvw,oleacc,comdlg32=n,b"

run=$E2E_WORK/runs/$E2E_NAME
e2e_fresh_program --dir "$run/Vosselmar"
export E2E_START_DIR=$run/Downloads
mkdir -p "$E2E_START_DIR"
for dir in "$E2E_PROG_DIR" "$E2E_START_DIR"; do
    for name in $PLANTED_NAMES; do cp "$E2E_TOOLS/planted.dll" "$dir/$name"; done
done
config=$E2E_PROG_DIR/config.bin
ceg=$(e2e_chord_code C E G)
e2e_write_config "$config" --entry "$ceg" "$E2E_REC" planted

# Names every mark found so far, after STEP.
no_marks() { # STEP
    local marks
    marks=$(cd "$run" && for m in */*.loaded; do [[ -f $m ]] && printf '%s (by %s) ' "$m" "$(tr '\n' ' ' <"$m")"; done)
    [[ -z $marks ]] || e2e_fail "planted DLLs loaded by $1: $marks"
}

e2e_log "--- start from $E2E_START_DIR"
e2e_start_program
wait_midi_started 10 || { no_marks "the start"; e2e_fail "MIDI input not started through the system's winmm"; }
e2e_wait_tray_icons 1 10 || e2e_fail "no tray icon"
no_marks "the start"

e2e_log "--- a chord opens recorder.exe"
inject_msgs 90 3C 64 90 40 64 90 43 64
wait_log_line "$E2E_RECORDER_LOG" 'planted' 10 >/dev/null || e2e_fail "the chord launched nothing"
inject_msgs 80 3C 00 80 40 00 80 43 00
no_marks "the launch"

e2e_log "--- the file dialog of 参照, cancelled"
dlg_open_from_tray
dlg_drv keys alt+r >/dev/null || e2e_fail "cannot press Alt+R in the dialog"
filedlg=$(dlg_drv window --class '#32770' --visible 1 --timeout 5000) || e2e_fail "no file dialog"
grep -q 'process=Vosselmar.exe' <<<"$filedlg" || e2e_fail "no file dialog of the program: $filedlg"
sleep 1 # its folder view filled
e2e_screenshot file-dialog
no_marks "the file dialog"
dlg_drv close-main --title "$(e2e_field title <<<"$filedlg")" >/dev/null || e2e_fail "cannot cancel the file dialog"
dlg_drv window --class '#32770' --title "$(e2e_field title <<<"$filedlg")" --visible 1 --timeout 500 >/dev/null 2>&1 &&
    e2e_fail "the file dialog is still up after WM_CLOSE"
dlg_drv dialog --title "$DLG_TITLE" >/dev/null || e2e_fail "the settings dialog is gone after the file dialog"
dlg_drv acc --title "$DLG_TITLE" >/dev/null || e2e_fail "a screen reader learnt nothing of the dialog"
no_marks "a screen reader's questions"
dlg_close_box
dlg_wait_gone 5 || e2e_fail "the settings dialog did not close"

e2e_log "--- Exit from the tray menu"
dlg_drv tray --lparam 0x204 >/dev/null || e2e_fail "tray callback not posted"
dlg_drv menu --wait 3000 >/dev/null || e2e_fail "the tray menu did not open"
dlg_drv menu-key --row kMenuEnd >/dev/null || e2e_fail "cannot choose Exit in the tray menu"
e2e_wait_program_exit 10
((E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE"
no_marks "the whole run"

# --- no usable winmm in the system folder ---------------------------------
# CASE KEY [--value V]: the box of the program's text KEY, its answer, then the
# end with nothing touched: no MIDI call, config.bin and the folder as they
# were, no tray icon.
no_winmm() {
    local files state
    files=$(ls -A "$E2E_PROG_DIR")
    state=$(cksum <"$config")
    rm -f "$E2E_MIDI_LOG"
    e2e_start_program
    dlg_drv msgbox --timeout 10000 --title Vosselmar --expect-key "$2" "${@:3}" --expect-buttons ok \
        --expect-icon error --answer ok >/dev/null || e2e_fail "$1: no box or not as expected"
    e2e_wait_program_exit 5
    ((E2E_EXIT_CODE == 1)) || e2e_fail "$1: exit code $E2E_EXIT_CODE, expected 1"
    log_lines "$E2E_MIDI_LOG" ' midi' >/dev/null && e2e_fail "$1: MIDI was used: $(log_lines "$E2E_MIDI_LOG" ' midi' | head -n 1)"
    [[ $(cksum <"$config") == "$state" ]] || e2e_fail "$1: config.bin changed"
    [[ $(ls -A "$E2E_PROG_DIR") == "$files" ]] || e2e_fail "$1: the program folder changed"
    ((icons_before == $(e2e_tray_icons))) || e2e_fail "$1: a tray icon was left"
    no_marks "$1"
}
icons_before=$(e2e_tray_icons)

e2e_log "--- winmm cannot be loaded"
E2E_WINMM_ORDER=d no_winmm "winmm disabled" kNoWinmm

e2e_log "--- winmm lacks a function"
system_winmm=$WINEPREFIX/drive_c/windows/system32/winmm.dll
trap 'e2e_install_fake_winmm; e2e_cleanup_scenario' EXIT
e2e_install_fake_winmm "$E2E_TOOLS/planted-lacking.dll"
no_winmm "winmm lacking midiOutShortMsg" kWinmmLacks --value midiOutShortMsg
# and it was that one the program asked: the system's, not the planted one
[[ -f $system_winmm.loaded ]] || e2e_fail "the program did not load the system folder's winmm.dll"
rm -f "$system_winmm.loaded"
e2e_log "nothing planted was loaded"
