#!/usr/bin/env bash
# The configuration dialog's window against its layout and models: geometry at several DPIs,
# styles, fonts, key hit-testing, Tab order, Enter/Esc, access keys and every way of closing.
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

test_exe=$(dirname "$E2E_PROGRAM")/config_window_test.exe
[[ -f $test_exe ]] || e2e_fail "config_window_test.exe missing from the build"
e2e_make_program_dir "$E2E_WORK/runs/$E2E_NAME" "$test_exe" config_window_test.exe
for f in gminst.bin vkname.bin vkvalue.bin; do cp "$(dirname "$E2E_PROGRAM")/$f" "$E2E_PROG_DIR/"; done
e2e_midi_env

(cd "$E2E_PROG_DIR" && WINEDLLOVERRIDES="$E2E_BASE_OVERRIDES;winmm=n" timeout -k 5 60 wine ./config_window_test.exe) \
    2>"$E2E_ART/config_window_test.err" | tr -d '\r' | tee "$E2E_ART/config_window_test.txt"
rc=${PIPESTATUS[0]}
((rc == 0)) || e2e_fail "config_window_test failed (exit $rc)"
