#!/usr/bin/env bash
# A damaged config.bin (10 bytes): the program asks before replacing it. No
# ends it with the file untouched; Yes keeps the old bytes in config.bin.bak,
# writes fresh defaults and goes on as on a first start.
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

e2e_fresh_program
config=$E2E_PROG_DIR/config.bin
printf '\x01\x00\x00\x00ABCDEF' >"$config"
cp "$config" "$E2E_ART/config.damaged"
icons_before=$(e2e_tray_icons)

damaged_box() {
    e2e_driver msgbox --timeout 10000 --expect-key kAskRebuild --value @kDamaged --value @kSettingsFile \
        --value "$(e2e_winpath "$config")" --value @kDamagedShort --expect-buttons yesno --expect-default no \
        --expect-icon warning --answer "$1" || e2e_fail "damaged-file question not as expected"
}

e2e_log "--- answer No"
e2e_start_program
damaged_box no
e2e_wait_program_exit 10 || e2e_fail "program still running after No"
cmp "$E2E_ART/config.damaged" "$config" >&2 || e2e_fail "config.bin changed although the answer was No"
[[ -z $(find "$E2E_PROG_DIR" -name 'config.bin.*') ]] || e2e_fail "a copy was made although the answer was No"
log_lines "$E2E_MIDI_LOG" ' midi(In|Out)Open ' && e2e_fail "MIDI opened with a damaged config.bin"
(($(e2e_tray_icons) == icons_before)) || e2e_fail "tray icon after No"

e2e_log "--- answer Yes"
e2e_start_program
damaged_box yes
e2e_driver msgbox --expect-key kBackupKept --value "$(e2e_winpath "$config.bak")" --expect-buttons ok \
    --expect-icon information --answer ok || e2e_fail "message after replacing not as expected"
[[ -f $config.bak ]] || e2e_fail "no config.bin.bak"
cmp "$E2E_ART/config.damaged" "$config.bak" >&2 || e2e_fail "config.bin.bak does not hold the old bytes"
e2e_default_config 'テスト鍵盤' >"$E2E_ART/config.expected"
e2e_expect_same_bytes "$E2E_ART/config.expected" "$config" || e2e_fail "config.bin does not hold the defaults"
if e2e_driver window --title 'Vosselmar の設定' --timeout 3000 >/dev/null; then
    log_lines "$E2E_MIDI_LOG" ' midiInOpen ' && e2e_fail "input opened while the dialog is up"
    e2e_driver close-main --title 'Vosselmar の設定' >/dev/null || e2e_fail "cannot close the dialog"
else
    e2e_log "no configuration dialog in this build"
fi
wait_midi_started 10 || e2e_fail "input not opened with the fresh defaults"
e2e_wait_tray_icons $((icons_before + 1)) 5 || e2e_fail "no tray icon"

e2e_driver close-main >/dev/null
e2e_wait_program_exit 10
e2e_log "damaged config passed"
