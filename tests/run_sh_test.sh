#!/usr/bin/env bash
# ./run.sh as a new user meets it on a machine without a MIDI keyboard:
# - without a display it says so in one line and fails;
# - `./run.sh play` without a running program says so in one line and fails;
# - on a (virtual) display it builds, creates its own Wine prefix, starts the program with the
#   simulated MIDI devices and tells the story without Wine's noise; after the first start's
#   questions, `./run.sh play C E G` plays the default chord and the manual opens in the
#   desktop's browser (a stand-in xdg-open records it); closing the program ends run.sh with 0;
# - with a MIDI input port listed by the sequencer it starts on Wine's own winmm, never on the
#   simulated one left in the prefix;
# - the home folder stays untouched throughout.
# Everything lives in a scratch folder (VOS_RUN_DIR): build/wineprefix and build/mingw/config.bin
# are left alone. Needs the mingw build (cmake --build --preset mingw).
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
# shellcheck source=SCRIPTDIR/e2e/lib.sh
source tests/e2e/lib.sh # Xvfb, driver.exe, log helpers

t0=$(e2e_now)
work=$(mktemp -d /tmp/vos-run-sh.XXXXXX)
export E2E_WORK=$work E2E_ART=$work/art E2E_TOOLS=$repo/build/mingw/e2e
export VOS_RUN_DIR=$work/run VOS_RUN_SEQ_CLIENTS=$work/seq-clients
# an empty home folder, and the runtime folder every desktop session has (without one, the
# sound libraries Wine loads would keep their sockets' links in the home folder)
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME WINEPREFIX WINEDLLOVERRIDES
mkdir -p "$E2E_ART" "$HOME" "$work/bin" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
E2E_XVFB_PID=
run_pid=

# shellcheck disable=SC2317 # called by the trap
cleanup() {
    [[ -z $run_pid ]] || kill "$run_pid" 2>/dev/null || true
    if [[ -d $VOS_RUN_DIR/wineprefix ]]; then
        WINEPREFIX=$VOS_RUN_DIR/wineprefix timeout 30 wineserver -k 2>/dev/null || true
        WINEPREFIX=$VOS_RUN_DIR/wineprefix timeout 30 wineserver -w 2>/dev/null || true
    fi
    [[ -z $run_pid ]] || wait "$run_pid" 2>/dev/null || true
    [[ -z $E2E_XVFB_PID ]] || { kill "$E2E_XVFB_PID" 2>/dev/null && wait "$E2E_XVFB_PID" 2>/dev/null; } || true
    if [[ -n ${VOS_KEEP:-} ]]; then e2e_log "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

fail() {
    e2e_log "FAIL: $*"
    [[ ! -f $work/run.out ]] || sed 's/^/    run.sh | /' "$work/run.out" >&2
    [[ ! -f $E2E_ART/driver.log ]] || grep -v '^  stderr: ' "$E2E_ART/driver.log" | tail -n 15 | sed 's/^/    driver | /' >&2
    [[ ! -f $VOS_RUN_DIR/wine.log ]] || tail -n 15 "$VOS_RUN_DIR/wine.log" | sed 's/^/    wine.log | /' >&2
    exit 1
}

# driver.exe in run.sh's prefix; Wine's messages only into driver.log
driver() { e2e_driver "$@" 2>/dev/null; }

# one line on stderr, nothing on stdout, status 1
expect_one_line_failure() {
    local what=$1 pattern=$2 out err rc=0
    shift 2
    out=$("$@" 2>"$work/err") || rc=$?
    err=$(<"$work/err")
    ((rc != 0)) || fail "$what: exit status 0"
    [[ -z $out && $(wc -l <"$work/err") -eq 1 && $err == *"$pattern"* ]] ||
        fail "$what: expected one line with '$pattern', got: $out$err"
    e2e_log "$what: status $rc, '$err'"
}

# The sequencer's clients without any MIDI port of a device: what a machine without a keyboard shows.
printf '%s\n' 'Client info' '  cur  clients : 2' '  peak clients : 2' '  max  clients : 192' '' \
    'Client   0 : "System" [Kernel]' '  Port   0 : "Timer" (Rwe-)' '  Port   1 : "Announce" (R-e-)' \
    'Client  14 : "Midi Through" [Kernel]' '  Port   0 : "Midi Through Port-0" (RWe-)' >"$VOS_RUN_SEQ_CLIENTS"
# The desktop's browser: records what it is asked to open.
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>"%s"\n' "$work/browser.log" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"

expect_one_line_failure "no display" "xvfb-run -a ./run.sh" env -u DISPLAY -u WAYLAND_DISPLAY ./run.sh
expect_one_line_failure "play without a program" "start it with ./run.sh" ./run.sh play C E G
expect_one_line_failure "play of a wrong note name" "'H' is not a note" ./run.sh play C H G

e2e_start_xvfb
e2e_log "--- ./run.sh without MIDI ports"
PATH=$work/bin:$PATH ./run.sh >"$work/run.out" 2>&1 </dev/null &
run_pid=$!

# From here the driver works in run.sh's prefix, once run.sh has made it.
export WINEPREFIX=$VOS_RUN_DIR/wineprefix WINEDLLOVERRIDES=$E2E_BASE_OVERRIDES
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
wait_log_line "$work/run.out" '^== Starting Vosselmar' 240 >/dev/null || fail "run.sh did not start the program"
E2E_DRIVER_TIMEOUT=60 driver msgbox --timeout 40000 --answer yes >"$work/box" || fail "no first-start box"
grep -q '使用規約' "$work/box" || fail "the first start did not ask for the terms of use"
driver msgbox --answer ok >/dev/null || fail "no request to choose the MIDI input"
driver window --title 'Vosselmar の設定' >/dev/null || fail "no settings dialog"
driver close-main --title 'Vosselmar の設定' >/dev/null || fail "cannot close the settings dialog"
wait_log_line "$VOS_RUN_DIR/midi.log" '^[0-9]{12} midiInStart h=0x[0-9a-f]+ -> 0$' 10 >/dev/null ||
    fail "the program did not start the simulated MIDI input"
log_lines "$VOS_RUN_DIR/midi.log" ' midiInGetDevCapsW dev=0 .* name=Simulated MIDI In$' >/dev/null ||
    fail "the simulated input is not called Simulated MIDI In"

./run.sh play C E G >"$work/play.out" 2>&1 || fail "./run.sh play C E G failed: $(cat "$work/play.out")"
e2e_log "play: $(cat "$work/play.out")"
wait_log_line "$work/browser.log" '^file:///.*/program/%E8%AA%AC%E6%98%8E%E6%9B%B8\.htm$' 15 >/dev/null ||
    fail "C-E-G did not open the manual in the browser"
log_lines "$VOS_RUN_DIR/midi.log" ' inject msg=0x00644390 -> posted$' >/dev/null || fail "G4 was not played"

driver close-main >/dev/null || fail "cannot close the program"
for _ in $(seq 200); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.05; done
rc=0
wait "$run_pid" || rc=$?
run_pid=
((rc == 0)) || fail "run.sh ended with status $rc after the program was closed"
for line in 'No MIDI input port found: starting Vosselmar with simulated MIDI devices (Simulated MIDI In, Simulated MIDI Out).' \
    'Play a chord from another terminal: ./run.sh play C E G (C-E-G opens the manual).' \
    "Wine's own messages go to $VOS_RUN_DIR/wine.log." '== Vosselmar ended (exit status 0)'; do
    grep -qxF -e "$line" -e "== $line" "$work/run.out" || fail "run.sh did not say: $line"
done
if grep -E 'err:|fixme:|wine32|^wine:|ALSA' "$work/run.out" >&2; then fail "Wine's messages reached the terminal"; fi
[[ -s $VOS_RUN_DIR/wine.log ]] || fail "nothing in wine.log"

e2e_log "--- ./run.sh with a MIDI input port"
printf '%s\n' 'Client  24 : "Keystation 49" [Kernel]' '  Port   0 : "Keystation 49 MIDI 1" (RWeX)' \
    >>"$VOS_RUN_SEQ_CLIENTS"
lines_before=$(wc -l <"$VOS_RUN_DIR/midi.log")
WINEDEBUG=+loaddll ./run.sh >"$work/run.out" 2>&1 </dev/null &
run_pid=$!
wait_log_line "$VOS_RUN_DIR/wine.log" 'Loaded L".*winmm\.dll" at [0-9A-Fa-fx]+: (builtin|native)' 120 >/dev/null ||
    fail "the program did not load winmm"
grep -qxF '== MIDI input ports: Keystation 49 MIDI 1' "$work/run.out" || fail "run.sh did not name the MIDI input port"
loaded=$(log_lines "$VOS_RUN_DIR/wine.log" 'Loaded L".*winmm\.dll"' | head -n 1)
[[ $loaded == *': builtin' ]] || fail "not Wine's own winmm for the real devices: $loaded"
# What the program says depends on the machine's ALSA ports (here: no input device, and it
# ends); it is ended from outside once it has shown something.
driver msgbox --timeout 20000 --answer none >/dev/null || true
timeout 30 wineserver -k 2>/dev/null || true
for _ in $(seq 200); do kill -0 "$run_pid" 2>/dev/null || break; sleep 0.05; done
rc=0
wait "$run_pid" || rc=$?
run_pid=
grep -q '^== Vosselmar ended (exit status [0-9]*)$' "$work/run.out" || fail "run.sh did not report the end of the program"
(($(wc -l <"$VOS_RUN_DIR/midi.log") == lines_before)) || fail "the simulated winmm was loaded for the real devices"
[[ ! -e $VOS_RUN_DIR/simulated.pid ]] || fail "run.sh left its mark of a simulated start"

left=$(find "$HOME" -mindepth 1 | head -n 5)
[[ -z $left ]] || fail "something was written into the home folder: $left"
e2e_log "PASS in $(e2e_since "$t0")s"
