#!/usr/bin/env bash
# A forced end (kill -9 of the program's process, as a crash or a power cut
# would end it) while OK saves a large config.bin leaves either the old
# settings or the new ones, byte for byte, never a mix; a start after such an
# end comes up without a question, also with a half-written config.bin.tmp
# left beside config.bin.
#
# config.bin holds 10 000 entries (about 32 MB, so the save takes a while).
# The edit is "delete the first entry": every byte from the first entry on
# moves, so a save cut short cannot look like either file. A save that is not
# cut short must give exactly what writing the new settings over the old file
# gives (the new bytes, then the old file's bytes past their end): that
# reference is computed here and checked against one undisturbed save. Then
# each try answers the duplicate question, waits for the first sign of the
# save (config.bin or any file in the folder changes) and kills the process
# DELAY ms later; results per try are in tries.txt in the artefacts.
# e2e-timeout: 300
# shellcheck source-path=SCRIPTDIR source=../lib.sh
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
# shellcheck source=../lib_dialog.sh
source "$E2E_DIR/lib_dialog.sh"
e2e_scenario_begin
dlg_drv_start

e2e_fresh_program
ENTRIES=${VOS_BIG_ENTRIES:-10000}
read -ra DELAYS <<<"${VOS_KILL_DELAYS_MS:-0 1 2 4 8 16 64 256 1024}"
old=$E2E_ART/config.old new=$E2E_ART/config.new

# big_config FIRST LAST: on stdout, a config.bin with the devices and
# otherwise e2e_write_config's defaults, and entries FIRST..LAST of a fixed
# pattern, each about 3 200 bytes of ASCII. perl makes their options, in
# a fraction of the time the shell takes for 30 000 long arguments.
big_config() {
    {
        printf '%s\0' --in-name "$VOS_MIDI_IN" --out-name "$VOS_MIDI_OUT"
        perl -e '
            my ($first, $last) = @ARGV;
            my $bs = chr(92);
            for my $i ($first .. $last) {
                my $path = sprintf("C:%svos-targets%starget-%05d%s%s.exe", $bs, $bs, $i, $bs, "p" x 180);
                my $params = sprintf("--entry %05d ", $i) . ("x" x 3000);
                print join("\0", "--entry", $i % 4095 + 1, $path, $params), "\0";
            }' "$@"
    } | e2e_cfgwrite
}

t0=$(e2e_now)
big_config 1 "$ENTRIES" >"$old" || e2e_fail "cannot write the large config.bin"
# what the in-place save of "first entry deleted" gives
big_config 2 "$ENTRIES" >"$new" || e2e_fail "cannot write the expected config.bin"
size=$(stat -c %s "$new")
tail -c +$((size + 1)) "$old" >>"$new"
e2e_log "config.bin of $ENTRIES entries ($(stat -c %s "$old") bytes) and the expected save in $(e2e_since "$t0")s"

config=$E2E_PROG_DIR/config.bin
ref=$E2E_WORK/$E2E_NAME.ref
tray_icons() { dlg_drv tray-rect --timeout 0 2>/dev/null | e2e_field icons; }
icons_before=$(tray_icons)

# Starts the program on the current config.bin; it must come up without a
# question.
start_quietly() {
    e2e_start_program
    wait_midi_started 30 || {
        dlg_drv msgbox --timeout 0 --answer none >&2
        e2e_fail "$1: MIDI input not started (a question at the start?)"
    }
}

# The dialog from the tray, the first entry deleted (Alt+D), OK (Alt+O): the
# duplicate question is up.
delete_first_and_ok() {
    dlg_drv tray --lparam 0x204 >/dev/null || e2e_fail "$1: tray callback not posted"
    dlg_drv menu --wait 3000 >/dev/null || e2e_fail "$1: the tray menu did not open"
    dlg_drv menu-key --row kMenuConfig >/dev/null || e2e_fail "$1: cannot choose Settings in the tray menu"
    dlg_drv dialog --title "$DLG_TITLE" --timeout 30000 >/dev/null || e2e_fail "$1: the dialog did not open"
    E2E_DRIVER_TIMEOUT=60 dlg_drv keys alt+d alt+o >/dev/null || e2e_fail "$1: cannot press Alt+D, Alt+O"
    dlg_drv msgbox --timeout 30000 --no-icon 1 --expect-key kAskDuplicates --answer none >/dev/null ||
        e2e_fail "$1: no duplicate question after OK"
}

# The process that runs the program (the child of the bounding timeout).
program_process() {
    local pid
    for pid in $(pgrep -P "$E2E_PROGRAM_PID"); do
        tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qi 'Vosselmar\.exe' && echo "$pid" && return
    done
}

what_is() { # FILE: old, new or torn
    if cmp -s "$old" "$1"; then
        echo old
    elif cmp -s "$new" "$1"; then
        echo new
    else
        echo torn
    fi
}

e2e_log "--- one save without a kill"
cp "$old" "$config"
t0=$(e2e_now)
start_quietly reference
e2e_log "started in $(e2e_since "$t0")s"
t0=$(e2e_now)
delete_first_and_ok reference
e2e_log "dialog, delete and OK in $(e2e_since "$t0")s"
t0=$(e2e_now)
dlg_drv msgbox --no-icon 1 --expect-key kAskDuplicates --answer no >/dev/null || e2e_fail "cannot answer the duplicate question"
wait_log_count "$E2E_MIDI_LOG" ' midiInStart h=0x[0-9a-f]+ -> 0$' 2 60 || e2e_fail "MIDI input not started again after OK"
e2e_log "saved and applied in $(e2e_since "$t0")s"
dlg_drv no-msgbox --for 300 >/dev/null || e2e_fail "a message box after the save"
[[ $(what_is "$config") == new ]] || {
    cmp "$new" "$config" >&2
    e2e_fail "the save is not the new settings written over the old file (first difference above)"
}
dlg_drv close-main >/dev/null || e2e_fail "cannot close the program"
e2e_wait_program_exit 30 || e2e_fail "program still running after WM_CLOSE"

: >"$E2E_ART/tries.txt"
torn=0
for delay in "${DELAYS[@]}"; do
    e2e_log "--- killed ${delay} ms into the save"
    # any config.bin.tmp the last try left stays: the start must not mind it
    cp "$old" "$config"
    start_quietly "try $delay"
    delete_first_and_ok "try $delay"
    pid=$(program_process)
    [[ -n $pid ]] || e2e_fail "no process of the program under pid $E2E_PROGRAM_PID"
    touch "$ref"
    dlg_drv_send msgbox --no-icon 1 --expect-key kAskDuplicates --answer no
    # the first sign of the save: config.bin, config.bin.tmp or the folder
    # (a file made or renamed) changed; builtins only, to see it at once
    start=$EPOCHREALTIME seen=''
    while :; do
        if [[ $config -nt $ref || $config.tmp -nt $ref || $E2E_PROG_DIR -nt $ref ]]; then
            seen=$EPOCHREALTIME
            break
        fi
        ((${EPOCHREALTIME/[.,]/} - ${start/[.,]/} > 30000000)) && break
    done
    [[ -n $seen ]] || e2e_fail "try $delay: no sign of a save within 30 s of the answer"
    until ((${EPOCHREALTIME/[.,]/} - ${seen/[.,]/} >= delay * 1000)); do :; done
    kill -KILL "$pid"
    killed=$EPOCHREALTIME
    dlg_drv_reply >/dev/null
    wait "$E2E_PROGRAM_PID" 2>/dev/null
    result=$(what_is "$config")
    [[ $result == torn ]] && torn=$((torn + 1)) && cp "$config" "$E2E_ART/config.torn-$delay"
    leftover=$( [[ -e $config.tmp ]] && stat -c 'config.bin.tmp %s bytes' "$config.tmp" || echo 'no config.bin.tmp')
    printf 'kill %3d ms after the first sign (answer +%s ms, kill at +%s ms): config.bin %s, %s\n' "$delay" \
        $(((${seen/[.,]/} - ${start/[.,]/}) / 1000)) $(((${killed/[.,]/} - ${start/[.,]/}) / 1000)) "$result" "$leftover" |
        tee -a "$E2E_ART/tries.txt" >&2
done

e2e_log "--- a start after the kill, with a half-written config.bin.tmp beside config.bin"
[[ $(what_is "$config") == torn ]] && cp "$old" "$config"
[[ -e $config.tmp ]] || head -c $(($(stat -c %s "$new") / 2)) "$new" >"$config.tmp"
cp "$config" "$E2E_ART/config.before-last-start"
start_quietly "start after the kills"
dlg_drv no-msgbox --for 1000 >/dev/null || e2e_fail "a message box at the start after the kills"
cmp -s "$E2E_ART/config.before-last-start" "$config" || e2e_fail "the start changed config.bin"
dlg_drv close-main >/dev/null || e2e_fail "cannot close the program"
e2e_wait_program_exit 30 || e2e_fail "program still running after WM_CLOSE"
((E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE"

# a killed process's icon is the tray's to clear; later scenarios count from
# what they find, but say what was left
now=$(tray_icons)
e2e_log "tray icons: ${icons_before:-0} before, ${now:-0} now"
((torn == 0)) || e2e_fail "$torn of ${#DELAYS[@]} saves cut short left config.bin neither old nor new (tries.txt, config.torn-*)"
if ! grep -q 'config.bin old' "$E2E_ART/tries.txt" || ! grep -q 'config.bin new' "$E2E_ART/tries.txt"; then
    e2e_log "note: the kills did not fall both before and after the save's end this time (tries.txt)"
fi
e2e_log "killed while saving passed"
