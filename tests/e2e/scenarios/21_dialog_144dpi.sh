#!/usr/bin/env bash
# The configuration dialog at 144 DPI (LogPixels 144, as the display
# settings' 150 % set it): the client area and every control scaled from the
# layout table (within a pixel: the keys are laid edge to edge in whole
# pixels), and real clicks on the key boundaries, read back from the screen
# and from the saved config.bin. Picture: dialog-144dpi.png (artefact only).
# e2e-timeout: 60
# shellcheck source-path=SCRIPTDIR source=../lib.sh
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
# shellcheck source=../lib_dialog.sh
source "$E2E_DIR/lib_dialog.sh"
e2e_scenario_begin

e2e_fresh_program
config=$E2E_PROG_DIR/config.bin
manual="$(e2e_winpath "$E2E_PROG_DIR")\\説明書.htm"

# The DPI is read by each process when it starts, and the prefix is shared
# with the scenarios that follow: it goes back to 96 as soon as the program
# has its window, and in any case when this script ends.
dpi_key='HKCU\Control Panel\Desktop'
set_dpi() {
    timeout 30 wine reg add "$dpi_key" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1 ||
        e2e_log "cannot set LogPixels to $1"
}
trap 'set_dpi 96; e2e_cleanup_scenario' EXIT
set_dpi 144
dlg_drv_start
DLG_DPI=144

e2e_log "--- first start at 144 DPI"
dlg_first_start
DLG_TAG=first
dlg_snapshot first
set_dpi 96
[[ $DLG_CLIENT == "$(dlg_client_size 144)" && $DLG_CLIENT == 471x734 ]] ||
    e2e_fail "client area $DLG_CLIENT at 144 DPI, expected 471x734"
dlg_check_geometry first 144 1 || e2e_fail "controls not where the layout puts them at 144 DPI"
dlg_wait_keys "0 4 7" 3 dialog-144dpi || e2e_fail "the defaults do not show C-E-G"

e2e_log "--- real clicks on the key boundaries"
dlg_click_twips 480 2800
dlg_wait_keys "0 1 4 7" 3 || e2e_fail "a click at 480,2800 twips did not toggle C# (alone)"
dlg_click_twips 470 3600
dlg_wait_keys "1 4 7" 3 || e2e_fail "a click at 470,3600 twips did not toggle C (alone)"
dlg_click cmdOK
dlg_drv msgbox --expect-key kAskDuplicates --answer no >/dev/null || e2e_fail "no duplicate question"
dlg_wait_gone 5 || e2e_fail "the dialog stayed open after OK"
e2e_write_config "$E2E_ART/config.expected" --entry $((0x92)) "$manual" ''
e2e_expect_same_bytes "$E2E_ART/config.expected" "$config" || e2e_fail "config.bin after the clicks differs from the expected bytes"

wait_midi_started 10 || e2e_fail "MIDI input not started after OK"
dlg_drv close-main >/dev/null
e2e_wait_program_exit 10
e2e_log "dialog at 144 DPI passed"
