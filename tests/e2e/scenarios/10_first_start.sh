#!/usr/bin/env bash
# First start without config.bin: the terms question. No ends the program and
# leaves no settings behind; Yes writes the default settings, asks for the
# input device, shows the configuration dialog modally, then opens input 0
# and puts the icon in the tray. The default chord C-E-G opens the manual.
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

e2e_fresh_program
e2e_register_htm_recorder
config=$E2E_PROG_DIR/config.bin
icons_before=$(e2e_tray_icons)

e2e_log "--- terms declined"
e2e_start_program
e2e_driver msgbox --timeout 10000 --expect-key kTerms --expect-buttons yesno \
    --expect-default no --expect-icon warning --answer no ||
    e2e_fail "terms question not as expected"
e2e_wait_program_exit 10 || e2e_fail "program still running after No"
e2e_log "exit code after No: $E2E_EXIT_CODE"
[[ ! -e $config ]] || e2e_fail "config.bin was written although the terms were declined"
log_lines "$E2E_MIDI_LOG" ' midi(In|Out)Open ' && e2e_fail "a MIDI device was opened although the terms were declined"
(($(e2e_tray_icons) == icons_before)) || e2e_fail "a tray icon appeared although the terms were declined"

e2e_log "--- terms accepted"
e2e_start_program
e2e_driver msgbox --timeout 10000 --expect-key kTerms --expect-buttons yesno \
    --expect-default no --expect-icon warning --answer yes ||
    e2e_fail "terms question not as expected on the second start"
e2e_driver msgbox --expect-key kChooseInput --expect-buttons ok \
    --expect-icon information --answer ok || e2e_fail "device request not as expected"

# The defaults, byte for byte.
manual="$(e2e_winpath "$E2E_PROG_DIR")\\説明書.htm"
len=$(printf '%s' "$manual" | iconv -f UTF-8 -t CP932 | wc -c)
e2e_default_config 'テスト鍵盤' >"$E2E_ART/config.expected"
[[ -f $config ]] || e2e_fail "config.bin was not written after Yes"
cp "$config" "$E2E_ART/config.written"
size=$(stat -c %s "$config")
((size == 83 + 4 + 2 + len + 2)) || e2e_log "config.bin is $size bytes, expected $((83 + 4 + 2 + len + 2))"
e2e_expect_same_bytes "$E2E_ART/config.expected" "$config" || e2e_fail "default config.bin differs from the expected bytes"

# The dialog is modal: nothing is opened and no icon shown while it is up.
dialog=$(e2e_driver window --title 'Vosselmar の設定' --timeout 3000) || dialog=
if [[ -n $dialog ]]; then
    [[ $dialog == *' visible=1 '* ]] || e2e_fail "the configuration dialog is not visible"
    e2e_screenshot dialog
    log_lines "$E2E_MIDI_LOG" ' midiInOpen ' && e2e_fail "MIDI input opened while the dialog is still up"
    (($(e2e_tray_icons) == icons_before)) || e2e_fail "tray icon shown while the dialog is still up"
    e2e_driver close-main --title 'Vosselmar の設定' >/dev/null || e2e_fail "cannot close the dialog"
else
    e2e_log "no configuration dialog in this build: the program goes on"
fi

wait_midi_started 10 || e2e_fail "MIDI input not started after the first start"
form1=$(e2e_driver window --title Form1 | e2e_field hwnd)
got=$(log_lines "$E2E_MIDI_LOG" ' midi(In(Open|PrepareHeader|AddBuffer|Start)|OutOpen) ')
e2e_log "input start: $(tr '\n' '|' <<<"$got")"
[[ $(awk '{ print $2 }' <<<"$got" | tr '\n' ' ') == 'midiInOpen midiInPrepareHeader midiInAddBuffer midiInStart ' ]] ||
    e2e_fail "expected midiInOpen, midiInPrepareHeader, midiInAddBuffer, midiInStart and no output; got: $got"
grep -qE "^[0-9]{12} midiInOpen dev=0 cb=$form1 inst=0 flags=0x10000 -> 0 h=" <<<"$got" ||
    e2e_fail "input 0 not opened with a window callback to Form1 ($form1)"
grep -qE ' midiInPrepareHeader h=0x[0-9a-f]+ size=[0-9]+ buflen=1024 -> 0$' <<<"$got" ||
    e2e_fail "input buffer is not 1024 bytes"
log_lines "$E2E_MIDI_LOG" ' midiInAddBuffer .* -> 0$' >/dev/null || e2e_fail "midiInAddBuffer failed"
e2e_driver hold-hotkey --mods ctrl --key F12 >/dev/null ||
    e2e_fail "Ctrl+F12 is taken although the default settings use no shortcut key"
e2e_wait_tray_icons $((icons_before + 1)) 5 || e2e_fail "no tray icon after the first start"

e2e_log "--- default chord C-E-G on mixed octaves and channels"
inject_msgs 90 30 40 93 4C 40
sleep 0.3
log_lines "$E2E_RECORDER_LOG" . && e2e_fail "something was launched before the chord was complete"
inject_msgs 9F 43 01
expected="\"$(e2e_winpath "$E2E_TOOLS/recorder.exe")\" \"$manual\""
wait_log_line "$E2E_RECORDER_LOG" '説明書\.htm' 5 >/dev/null || e2e_fail "the manual was not opened by C-E-G"
sleep 0.3
line=$(log_lines "$E2E_RECORDER_LOG" .)
[[ $(wc -l <<<"$line") == 1 ]] || e2e_fail "expected one launch, got: $line"
[[ ${line%%$'\t'*} == "$expected" ]] || e2e_fail "launch: ${line%%$'\t'*} expected: $expected"

e2e_driver close-main >/dev/null
e2e_wait_program_exit 10
e2e_log "first start passed"
