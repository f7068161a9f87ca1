# shellcheck shell=bash
# Shared functions for the Wine end-to-end runs. Sourced by run.sh and by
# every scenario under scenarios/. Formats of the MIDI log and control file
# are described in README.md beside this file.
#
# Environment run.sh hands to each scenario:
#   E2E_DIR        this folder
#   E2E_TOOLS      folder with winmm.dll, recorder.exe, driver.exe, e2e-standin.exe, planted.dll
#   E2E_PROGRAM    the program under test (may be missing while it is being written)
#   E2E_WORK       scratch root of the run (prefix, home, program folders)
#   E2E_ART        this scenario's artefact folder (logs, screenshots)
#   WINEPREFIX and friends, DISPLAY

E2E_DIR=${E2E_DIR:-$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)}

E2E_BASE_OVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
E2E_PIDS=()

e2e_log() { printf '[%s] %s\n' "$(date +%T.%3N)" "$*" >&2; }
e2e_fail() {
    e2e_log "FAIL: $*"
    exit 1
}
e2e_skip() {
    e2e_log "SKIP: $*"
    exit 77
}

# Seconds since the epoch with milliseconds, for timing.
# For a scenario made of cases ($CASE): records what went wrong in the current
# case and returns 1, so that a step ends its case with `|| return` while the
# other cases still run. The scenario clears PROBLEMS before each case.
PROBLEMS=()
problem() {
    e2e_log "$CASE: $*"
    PROBLEMS+=("$*")
    return 1
}

e2e_now() { date +%s.%3N; }
e2e_since() { awk -v a="$1" -v b="$(e2e_now)" 'BEGIN { printf "%.2f", b - a }'; }

# Linux path -> Windows path through the Z: drive Wine maps to /.
e2e_winpath() {
    local p
    p=$(readlink -m "$1")
    printf 'Z:%s' "${p//\//\\}"
}

e2e_require_tools() {
    local t missing=()
    for t in wine wineserver wineboot Xvfb xdotool import timeout x86_64-w64-mingw32-objdump strings; do
        command -v "$t" >/dev/null 2>&1 || missing+=("$t")
    done
    ((${#missing[@]} == 0)) || e2e_fail "missing tools: ${missing[*]} (apt-get install wine64 xvfb xdotool imagemagick g++-mingw-w64-x86-64)"
    for t in ja_JP en_US; do
        locale -a 2>/dev/null | grep -ix "$t.utf8" >/dev/null ||
            e2e_fail "locale $t.UTF-8 is not generated (enable it in /etc/locale.gen and run locale-gen)"
    done
}

# ---------------------------------------------------------------------------
# X server

# Starts a private Xvfb on a free display and exports DISPLAY.
e2e_start_xvfb() {
    local fifo=$E2E_WORK/xvfb.display n
    : >"$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" >"$E2E_WORK/xvfb.log" 2>&1 &
    E2E_XVFB_PID=$!
    for _ in $(seq 200); do
        n=$(tr -dc '0-9' <"$fifo")
        [[ -n $n ]] && break
        sleep 0.05
    done
    [[ -n $n ]] || e2e_fail "Xvfb did not start (see $E2E_WORK/xvfb.log)"
    export DISPLAY=":$n"
    e2e_log "Xvfb on $DISPLAY (pid $E2E_XVFB_PID)"
}

# ---------------------------------------------------------------------------
# Wine prefix

# Points Wine and everything it writes into folders under $1.
e2e_env() {
    export E2E_WORK=$1
    export WINEPREFIX=$E2E_WORK/prefix WINEARCH=win64 WINEDEBUG=-all
    export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
    export HOME=$E2E_WORK/home
    export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_CACHE_HOME=$HOME/.cache
    export XDG_RUNTIME_DIR=$E2E_WORK/runtime
    # winmm=n is added only for the program under test (e2e_start_program):
    # nothing else in the prefix should see the simulated devices.
    export WINEDLLOVERRIDES=$E2E_BASE_OVERRIDES
    mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
    chmod 700 "$XDG_RUNTIME_DIR"
}

# --- fonts (for the dialog scenarios' screenshots) --------------------------
# e2e_prefix_fonts REG_FILE: writes REG_FILE, to be loaded into the new
# prefix, and puts the fonts Wine needs into it, so that every run draws the
# same picture:
# - the Japanese faces programs ask for ("MS UI Gothic" for dialogs, "ＭＳ
#   ゴシック" for fixed-pitch lists) drawn with the IPA fonts of the
#   fonts-ipafont-gothic package. UTF-16, as regedit reads a file without a
#   byte order mark in the ANSI code page. Missing faces are left to Wine.
# - Marlett, whose glyphs are the caption's buttons: Debian's Wine does not
#   find the copy in its data folder and draws the letters instead.
e2e_prefix_fonts() {
    local p=IPAPGothic g=IPAGothic lines=() f
    fc-list 2>/dev/null | grep -q "$p" || p=$g
    fc-list 2>/dev/null | grep -q "$g" || g=$p
    if fc-list 2>/dev/null | grep -q "$g"; then
        lines=('[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]'
            "\"MS UI Gothic\"=\"$p\"" "\"MS PGothic\"=\"$p\"" "\"ＭＳ Ｐゴシック\"=\"$p\""
            "\"MS Gothic\"=\"$g\"" "\"ＭＳ ゴシック\"=\"$g\"" '')
    else
        e2e_log "no IPA Gothic font (apt-get install fonts-ipafont-gothic): Wine picks the faces"
    fi
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' "${lines[@]}" |
        iconv -f UTF-8 -t UTF-16LE | { printf '\xff\xfe'; cat; } >"$1"
    for f in /usr/share/wine/fonts/marlett.ttf /usr/lib/wine/fonts/marlett.ttf; do
        [[ -f $f && -d $WINEPREFIX/drive_c/windows/Fonts ]] || continue
        [[ -f $WINEPREFIX/drive_c/windows/Fonts/marlett.ttf ]] || cp "$f" "$WINEPREFIX/drive_c/windows/Fonts/"
        break
    done
}
# --- end of fonts ------------------------------------------------------------

# Creates the prefix and loads the settings every run needs. Sets
# E2E_PREFIX_SECONDS.
e2e_create_prefix() {
    local t0 reg
    t0=$(e2e_now)
    timeout 180 wineboot -i >"$E2E_WORK/wineboot.log" 2>&1 || e2e_fail "wineboot -i failed (see $E2E_WORK/wineboot.log)"
    reg=$E2E_WORK/settings.reg
    # Without a window manager, managed windows cost ~2 s per close.
    printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n' >"$reg"
    e2e_prefix_fonts "$E2E_WORK/fonts.reg"
    timeout 60 wine regedit /S "$(e2e_winpath "$reg")" "$(e2e_winpath "$E2E_WORK/fonts.reg")" \
        >>"$E2E_WORK/wineboot.log" 2>&1 || e2e_fail "loading $reg or fonts.reg failed"
    # processes already running read their settings at start: begin afresh
    timeout 30 wineserver -k 2>/dev/null
    timeout 30 wineserver -w 2>/dev/null
    E2E_PREFIX_SECONDS=$(e2e_since "$t0")
    e2e_log "prefix created in ${E2E_PREFIX_SECONDS}s"
}

# A persistent wineserver keeps each later program start at ~0.05 s.
e2e_start_wineserver() {
    timeout 30 wineserver -p || e2e_fail "wineserver -p failed"
}

e2e_stop_wine() {
    timeout 30 wineserver -k 2>/dev/null
    timeout 30 wineserver -w 2>/dev/null
    true
}

# Loads a .reg file into the prefix (e.g. an HKEY_CLASSES_ROOT association).
e2e_load_reg() {
    timeout 60 wine regedit /S "$(e2e_winpath "$1")" || e2e_fail "regedit $1 failed"
}

# ---------------------------------------------------------------------------
# Program folder and environment of the simulated devices

# The simulated winmm.dll replaces the prefix's own system32\winmm.dll (Wine's
# placeholder for its builtin): the program takes winmm from the system
# folder only, as a DLL beside it could be anybody's. Only processes started
# with winmm=n load it; everything else in the prefix keeps Wine's builtin.
# run.sh puts it back before every scenario, so a scenario that swaps in
# another winmm cannot leave it behind.
e2e_install_fake_winmm() {
    local dest=$WINEPREFIX/drive_c/windows/system32/winmm.dll
    if ! cp -f "${1:-$E2E_TOOLS/winmm.dll}" "$dest.e2e-tmp" || ! mv -f "$dest.e2e-tmp" "$dest"; then
        e2e_fail "cannot install ${1:-$E2E_TOOLS/winmm.dll} as $dest"
    fi
}

# e2e_make_program_dir DIR [EXE [NAME]]: a fresh folder with the program
# (copied as NAME, default Vosselmar.exe) and the recorder; the simulated
# winmm.dll is in the prefix's system folder (e2e_install_fake_winmm). Sets
# E2E_PROG_DIR.
e2e_make_program_dir() {
    local dir=$1 exe=${2:-$E2E_PROGRAM} name=${3:-Vosselmar.exe}
    [[ -f $exe ]] || e2e_fail "program $exe not found"
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$exe" "$dir/$name"
    cp "$E2E_TOOLS/recorder.exe" "$dir/"
    export E2E_PROG_DIR=$dir E2E_PROG_NAME=$name
}

# Log and control files of this scenario, and default devices. Override the
# VOS_* variables after calling this to change devices or failures.
e2e_midi_env() {
    export E2E_MIDI_LOG=$E2E_ART/midi.log
    export E2E_RECORDER_LOG=$E2E_ART/recorder.log
    export E2E_INJECT=$E2E_WORK/ctl/${E2E_NAME:-run}.inject
    mkdir -p "$(dirname "$E2E_INJECT")"
    rm -f "$E2E_MIDI_LOG" "$E2E_RECORDER_LOG" "$E2E_INJECT" "$E2E_INJECT.tmp"
    export VOS_MIDI_LOG VOS_RECORDER_LOG VOS_MIDI_INJECT VOS_MIDI_IN VOS_MIDI_OUT VOS_MIDI_FAIL
    VOS_MIDI_LOG=$(e2e_winpath "$E2E_MIDI_LOG")
    VOS_RECORDER_LOG=$(e2e_winpath "$E2E_RECORDER_LOG")
    VOS_MIDI_INJECT=$(e2e_winpath "$E2E_INJECT")
    VOS_MIDI_IN=${VOS_MIDI_IN-テスト鍵盤}
    VOS_MIDI_OUT=${VOS_MIDI_OUT-テスト音源}
    VOS_MIDI_FAIL=${VOS_MIDI_FAIL-}
}

# e2e_fresh_program [--dir DIR] [--in NAMES] [--out NAMES]: how most scenarios
# begin: a fresh program folder DIR (default $E2E_WORK/runs/$E2E_NAME) with
# recorder.exe and the side files, the simulated devices NAMES (VOS_MIDI_IN
# and VOS_MIDI_OUT: default テスト鍵盤 and テスト音源, '' for none) with no
# failures, and this scenario's logs (e2e_midi_env). Sets E2E_REC, the
# recorder's Windows path there, for entries that launch it.
# shellcheck disable=SC2120 # options are optional
e2e_fresh_program() {
    local dir=$E2E_WORK/runs/$E2E_NAME
    export VOS_MIDI_IN='テスト鍵盤' VOS_MIDI_OUT='テスト音源' VOS_MIDI_FAIL=''
    while (($#)); do
        case $1 in
        --dir) dir=$2 ;;
        --in) VOS_MIDI_IN=$2 ;;
        --out) VOS_MIDI_OUT=$2 ;;
        *) e2e_fail "e2e_fresh_program: unknown option $1" ;;
        esac
        shift 2 || e2e_fail "e2e_fresh_program: $1 needs a value"
    done
    e2e_make_program_dir "$dir"
    e2e_copy_side_files
    e2e_midi_env
    # shellcheck disable=SC2034 # read by the scenarios
    E2E_REC="$(e2e_winpath "$E2E_PROG_DIR")\\recorder.exe"
}

# shellcheck disable=SC2120 # arguments are optional
# e2e_start_program [ARGS...]: starts $E2E_PROG_NAME from $E2E_PROG_DIR in the
# background with the simulated winmm (winmm=$E2E_WINMM_ORDER, default n), in
# the folder $E2E_START_DIR (default the program's own). Sets E2E_PROGRAM_PID (the id of the bounding `timeout`
# process; ending it ends the program).
e2e_start_program() {
    local n=${#E2E_PIDS[@]}
    [[ -n ${E2E_PROG_DIR:-} && -f $E2E_PROG_DIR/${E2E_PROG_NAME:-} ]] || e2e_fail "e2e_make_program_dir was not called"
    [[ -n ${VOS_MIDI_LOG:-} ]] || e2e_fail "e2e_midi_env was not called"
    local exe=./$E2E_PROG_NAME
    # Wine maps a Linux path to the drive that holds it (C: inside the prefix)
    [[ -n ${E2E_START_DIR:-} ]] && exe=$(readlink -m "$E2E_PROG_DIR/$E2E_PROG_NAME")
    (
        cd "${E2E_START_DIR:-$E2E_PROG_DIR}" || exit 1
        WINEDLLOVERRIDES="$E2E_BASE_OVERRIDES;winmm=${E2E_WINMM_ORDER:-n}" exec timeout -k 5 "${E2E_PROGRAM_TIMEOUT:-120}" \
            wine "$exe" "$@"
    ) >"$E2E_ART/program.$n.out" 2>"$E2E_ART/program.$n.err" &
    E2E_PROGRAM_PID=$!
    E2E_PIDS+=("$E2E_PROGRAM_PID")
    e2e_log "started $E2E_PROG_NAME $* (pid $E2E_PROGRAM_PID)"
}

# e2e_wait_program_exit SECONDS [PID]: waits for the program to end and sets
# E2E_EXIT_CODE. Fails the scenario if it is still running. (Not usable in
# $(...): only this shell can collect its own children's exit codes.)
e2e_wait_program_exit() {
    local limit=$1 pid=${2:-$E2E_PROGRAM_PID} t0
    t0=$(e2e_now)
    while kill -0 "$pid" 2>/dev/null; do
        if awk -v a="$t0" -v b="$(e2e_now)" -v l="$limit" 'BEGIN { exit !(b - a > l) }'; then
            e2e_fail "program (pid $pid) still running after ${limit}s"
        fi
        sleep 0.05
    done
    wait "$pid"
    # shellcheck disable=SC2034 # read by the scenarios
    E2E_EXIT_CODE=$?
}

# True when two files hold the same bytes; otherwise their hex dumps' difference on stderr.
e2e_expect_same_bytes() {
    cmp "$1" "$2" >&2 && return 0
    diff <(xxd "$1") <(xxd "$2") >&2
    return 1
}

# ---------------------------------------------------------------------------
# Logs

# Lines of a CR LF log matching an extended regex, CRs removed.
log_lines() {
    [[ -f $1 ]] || return 1
    tr -d '\r' <"$1" | grep -E -- "$2"
}

# wait_log_count FILE REGEX N TIMEOUT_S: waits until at least N lines match.
wait_log_count() {
    local file=$1 re=$2 want=$3 limit=$4 t0 got=0
    t0=$(e2e_now)
    while :; do
        if [[ -f $file ]]; then
            got=$(tr -d '\r' <"$file" | grep -cE -- "$re")
            ((got >= want)) && return 0
        fi
        if awk -v a="$t0" -v b="$(e2e_now)" -v l="$limit" 'BEGIN { exit !(b - a > l) }'; then
            e2e_log "timeout after ${limit}s: $got of $want lines matching /$re/ in $file; its end:"
            [[ -f $file ]] && tail -n 15 "$file" | tr -d '\r' | sed 's/^/    /' >&2
            return 1
        fi
        sleep 0.02
    done
}

# wait_log_line FILE REGEX TIMEOUT_S: waits for a matching line, prints it.
wait_log_line() {
    wait_log_count "$1" "$2" 1 "$3" || return 1
    log_lines "$1" "$2" | head -n 1
}

# ---------------------------------------------------------------------------
# MIDI injection

# Packs MIDI bytes into short messages: "90 3C 64 80 3C 00" -> 0x00643c90
# 0x00003c80; a token with 0x or more than two digits is taken as packed.
e2e_pack_msgs() {
    printf '%s\n' "$@" | awk '
        function hex(s,   i, v) {
            s = tolower(s); sub(/^0x/, "", s); v = 0
            for (i = 1; i <= length(s); i++) {
                c = index("0123456789abcdef", substr(s, i, 1))
                if (c == 0) { print "bad hex " s > "/dev/stderr"; bad = 1; exit 1 }
                v = v * 16 + c - 1
            }
            return v
        }
        function flush() { if (n) printf "0x%08x\n", cur; n = 0; cur = 0 }
        $1 == "" { next }
        $1 ~ /^0[xX]/ || length($1) > 2 { flush(); printf "0x%08x\n", hex($1); next }
        {
            b = hex($1)
            if (b >= 128) { flush(); cur = b; n = 1; next }
            if (n == 0) { print "data byte " $1 " without a status byte" > "/dev/stderr"; bad = 1; exit 1 }
            if (n == 3) { print "more than two data bytes after a status byte" > "/dev/stderr"; bad = 1; exit 1 }
            cur += b * (n == 1 ? 256 : 65536); n++
        }
        END { if (!bad) flush(); exit bad }'
}

E2E_INJECT_SEQ=0

# e2e_inject_raw LINE...: hands one batch of control lines to the DLL and
# waits until it has taken the file (the next batch may follow at once).
e2e_inject_raw() {
    [[ -n ${E2E_INJECT:-} ]] || e2e_fail "e2e_midi_env was not called"
    for _ in $(seq 250); do [[ -e $E2E_INJECT ]] || break; sleep 0.02; done
    [[ ! -e $E2E_INJECT ]] || e2e_fail "previous injection batch was never taken (is MIDI open?)"
    printf '%s\n' "$@" >"$E2E_INJECT.tmp"
    mv -f "$E2E_INJECT.tmp" "$E2E_INJECT"
    for _ in $(seq 250); do [[ -e $E2E_INJECT ]] || return 0; sleep 0.02; done
    e2e_fail "injection batch not taken within 5 s (is the program calling winmm?)"
}

# inject_msgs [--rate N] BYTES-OR-PACKED...: sends short messages and returns
# once every one of them has been posted (or dropped) by the DLL.
inject_msgs() {
    local rate="" lines=() m tag limit
    if [[ ${1:-} == --rate ]]; then
        rate=$2
        shift 2
    fi
    [[ -n $rate ]] && lines+=("rate $rate")
    local packed
    packed=$(e2e_pack_msgs "$@") || e2e_fail "cannot pack MIDI bytes: $*"
    while read -r m; do lines+=("msg $m"); done <<<"$packed"
    [[ -n $rate ]] && lines+=("rate 0")
    E2E_INJECT_SEQ=$((E2E_INJECT_SEQ + 1))
    tag="sync-$E2E_INJECT_SEQ-$$"
    lines+=("mark $tag")
    e2e_inject_raw "${lines[@]}"
    limit=5
    if [[ -n $rate && $rate -gt 0 ]]; then
        limit=$((5 + ${#lines[@]} / rate))
        # stay off the CPU while a timed stream runs: polling the log would
        # compete with the program and show up in its latency
        sleep "$(awk -v n="${#lines[@]}" -v r="$rate" 'BEGIN { printf "%.3f", n / r }')"
    fi
    wait_log_line "$E2E_MIDI_LOG" " mark $tag -> ok" "$limit" >/dev/null ||
        e2e_fail "injected messages were not all handled within ${limit}s"
}

# e2e_devices_change [--in LIST] [--out LIST] [--timeout MS] [--no-notice]:
# devices plugged in or pulled out while the program runs. The simulated
# winmm takes the new lists (LIST as in VOS_MIDI_IN, '' for none; open ports
# follow their device or die, see README.md) and, once it has, every
# top-level window hears WM_DEVICECHANGE with DBT_DEVNODES_CHANGED, as the
# system sends it (driver devices-changed; MS bounds each window's answer,
# default 1000), unless --no-notice. Without lists only the notice is sent.
# Returns when the notice has been handled, or after MS if the program is in
# a box of its own.
e2e_devices_change() {
    local lines=() timeout=1000 notice=1 tag
    while (($#)); do
        case $1 in
        --in) lines+=("in-devices $2") && shift 2 ;;
        --out) lines+=("out-devices $2") && shift 2 ;;
        --timeout) timeout=$2 && shift 2 ;;
        --no-notice) notice=0 && shift ;;
        *) e2e_fail "e2e_devices_change: unknown option $1" ;;
        esac
    done
    if ((${#lines[@]})); then
        E2E_INJECT_SEQ=$((E2E_INJECT_SEQ + 1))
        tag="devices-$E2E_INJECT_SEQ-$$"
        e2e_inject_raw "${lines[@]}" "mark $tag"
        wait_log_line "$E2E_MIDI_LOG" " mark $tag -> ok" 5 >/dev/null ||
            e2e_fail "the device lists were not changed within 5 s"
    fi
    ((notice)) || return 0
    e2e_driver devices-changed --timeout "$timeout" >/dev/null || e2e_fail "WM_DEVICECHANGE not broadcast"
}

# e2e_timed_start EXE ARGS TITLE [keep]: starts EXE of $E2E_PROG_DIR in that
# folder through driver start-to-tray, with the simulated winmm and the
# environment of this shell, and prints the milliseconds from CreateProcess
# until one more tray icon showed. Then closes the process's window TITLE and
# checks it ended with code 0, unless "keep" is given: the program then stays
# up (driver close-main ends it). Call it in $(...); a failure ends only that.
e2e_timed_start() {
    local out dir close=(--close-title "$3")
    dir=$(e2e_winpath "$E2E_PROG_DIR")
    [[ ${4:-} == keep ]] && close=()
    # the started process takes its DLL load order from the driver's start
    out=$(WINEDLLOVERRIDES="$E2E_BASE_OVERRIDES;winmm=n" e2e_driver start-to-tray --exe "$dir\\$1" \
        --args "$2" --dir "$dir" --timeout 10000 "${close[@]}") || e2e_fail "$1: timed start failed: $out"
    [[ ${4:-} == keep ]] || [[ $(e2e_field exit_code <<<"$out") == 0 ]] || e2e_fail "$1 ended with $(e2e_field exit_code <<<"$out")"
    e2e_field tray_ms <<<"$out"
}

# wait_midi_started [TIMEOUT_S]: the program has opened and started input.
wait_midi_started() {
    wait_log_line "$E2E_MIDI_LOG" '^[0-9]{12} midiInStart h=0x[0-9a-f]+ -> 0$' "${1:-10}" >/dev/null
}

# Packed values of the messages the program sent to midiOutShortMsg.
midi_out_msgs() {
    log_lines "$E2E_MIDI_LOG" ' midiOutShortMsg h=0x[0-9a-f]+ msg=0x[0-9a-f]{8} -> 0$' |
        sed -E 's/.* msg=(0x[0-9a-f]{8}) .*/\1/'
}

# Delay statistics between the Nth "inject ... -> posted" line and the Nth
# forwarded midiOutShortMsg after line $2 of the log (messages must be
# forwarded one for one). Prints "count=N median_us=M p99_us=P max_us=X".
midi_forward_latency() {
    local file=$1 from=${2:-0}
    tr -d '\r' <"$file" | awk -v from="$from" '
        NR <= from { next }
        / inject msg=0x[0-9a-f]+ -> posted$/ { inj[ni++] = $1 + 0 }
        / midiOutShortMsg h=0x[0-9a-f]+ msg=0x[0-9a-f]+ -> 0$/ { out[no++] = $1 + 0 }
        END { n = ni < no ? ni : no; for (i = 0; i < n; i++) print out[i] - inj[i] }' |
        sort -n | awk '
        { d[++n] = $1 }
        END {
            if (n == 0) { print "count=0"; exit 1 }
            p = int(n * 0.99 + 0.5); if (p < 1) p = 1
            printf "count=%d median_us=%d p99_us=%d max_us=%d\n", n, d[int((n + 1) / 2)], d[p], d[n]
        }'
}

# ---------------------------------------------------------------------------
# Looking and poking

e2e_screenshot() {
    timeout 20 import -window root "$E2E_ART/$1.png" 2>>"$E2E_ART/screenshot.err" ||
        e2e_log "screenshot $1 failed"
}

# e2e_driver ARGS...: runs driver.exe, logs its output to the artefacts and
# prints it; returns its exit code.
e2e_driver() {
    local out rc t0
    t0=$(e2e_now)
    out=$(timeout -k 5 "${E2E_DRIVER_TIMEOUT:-30}" wine "$E2E_TOOLS/driver.exe" "$@" 2>"$E2E_WORK/driver.err")
    rc=$?
    {
        printf '$ driver %s  (rc %d, %ss)\n' "$*" "$rc" "$(e2e_since "$t0")"
        [[ -n $out ]] && printf '%s\n' "$out"
        [[ -s $E2E_WORK/driver.err ]] && sed 's/^/  stderr: /' "$E2E_WORK/driver.err"
    } >>"$E2E_ART/driver.log"
    [[ -s $E2E_WORK/driver.err ]] && cat "$E2E_WORK/driver.err" >&2
    [[ -n $out ]] && printf '%s\n' "$out"
    return $rc
}

# Value of KEY=... from driver output given on stdin.
e2e_field() {
    awk -v key="$1" '!done { for (i = 1; i <= NF; i++) if (index($i, key "=") == 1) { print substr($i, length(key) + 2); done = 1; break } }'
}

# e2e_send_hotkey [KEYS]: a global hotkey as the X server would deliver it.
# Wine only matches hotkeys for keys that arrive at one of its windows, so the
# keys go to the desktop (explorer) window.
e2e_send_hotkey() {
    local win
    win=$(timeout 5 xdotool search --class explorer.exe 2>/dev/null | head -n 1)
    [[ -n $win ]] || e2e_fail "no explorer window to deliver the hotkey to"
    timeout 5 xdotool key --window "$win" "${1:-ctrl+F12}"
}

# e2e_click_tray_icon N [BUTTON]: a real mouse click on the Nth icon of the
# Wine tray window (1 = left, 3 = right).
e2e_click_tray_icon() {
    local xy
    xy=$(e2e_driver tray-rect | e2e_field "icon${1:-1}") || true
    [[ -n $xy ]] || e2e_fail "tray icon ${1:-1} not found"
    timeout 5 xdotool mousemove "${xy%,*}" "${xy#*,}" click "${2:-1}"
}

# ---------------------------------------------------------------------------
# The program's files: side files, config.bin, a file association

# Copies the side files built beside the program (instrument and key lists,
# the manual) into $E2E_PROG_DIR, as an installation has them.
e2e_copy_side_files() {
    local src f
    src=$(dirname "$E2E_PROGRAM")
    for f in gminst.bin gminst.en.bin vkname.bin vkvalue.bin 説明書.htm Manual.htm; do
        [[ -f $src/$f ]] || e2e_fail "side file $src/$f missing"
        cp "$src/$f" "$E2E_PROG_DIR/"
    done
}

# e2e_chord_code NOTE...: the stored code of a chord, one bit per pitch class
# (C=1, C#=2, D=4 ... B=2048): e2e_chord_code C E G -> 145.
e2e_chord_code() {
    local code=0 n pc
    for n in "$@"; do
        case $n in
        C) pc=0 ;; C#) pc=1 ;; D) pc=2 ;; D#) pc=3 ;; E) pc=4 ;; F) pc=5 ;;
        F#) pc=6 ;; G) pc=7 ;; G#) pc=8 ;; A) pc=9 ;; A#) pc=10 ;; B) pc=11 ;;
        *) e2e_fail "unknown note name $n" ;;
        esac
        code=$((code | (1 << pc)))
    done
    echo "$code"
}

# e2e_write_config FILE [OPTIONS] [--entry CODE PATH PARAMETERS]...: writes a
# config.bin. Options (defaults in brackets): --in-dev N [0], --in-name T
# [first of $VOS_MIDI_IN], --thru (use the output), --out-dev N [0],
# --out-name T [first of $VOS_MIDI_OUT], --nul-out-name (the output's name a 0
# byte, as a first start stores it), --program N [0], --shortcut (use it),
# --key VK [123 = F12], --mods M [2 = Ctrl]. PATH and PARAMETERS are Windows
# texts (UTF-8 here, code page 932 in the file).
e2e_write_config() {
    local file=$1
    shift
    printf '%s\0' --in-name "${VOS_MIDI_IN%%|*}" --out-name "${VOS_MIDI_OUT%%|*}" "$@" |
        e2e_cfgwrite >"$file" || e2e_fail "cannot write $file"
}

# e2e_cfgwrite: on stdout, the config.bin of e2e_write_config's options read
# from stdin, each ended by a 0 byte (no names from the environment). The
# program's own encoder lays the file out, in cfgwrite.exe; the options come
# on stdin as no Windows command line holds 1 000 entries, and a file of tens
# of megabytes is made faster so than through the shell's arguments.
e2e_cfgwrite() { timeout 60 wine "$E2E_TOOLS/cfgwrite.exe"; }

# e2e_default_config IN_NAME: on stdout, the config.bin a first start writes
# in $E2E_PROG_DIR when input device 0 is called IN_NAME: input 0, no
# output (its name a 0 byte and 31 blanks), program 0, shortcut off with
# Ctrl+F12 stored, one entry C-E-G opening the manual beside the program.
e2e_default_config() {
    e2e_write_config /dev/stdout --in-dev 0 --in-name "$1" --out-dev 0 --nul-out-name \
        --program 0 --key 123 --mods 2 --entry $((0x91)) "$(e2e_winpath "$E2E_PROG_DIR")\\説明書.htm" ''
}

# Registers recorder.exe as the program that opens .htm files (under
# HKEY_CLASSES_ROOT, where Wine looks), once per prefix. A launch of the
# manual then shows up in $E2E_RECORDER_LOG as `"…recorder.exe" "<file>"`.
e2e_register_htm_recorder() {
    local marker=$WINEPREFIX/.e2e-htm-recorder reg exe
    [[ -f $marker ]] && return 0
    exe=$(e2e_winpath "$E2E_TOOLS/recorder.exe")
    exe=${exe//\\/\\\\}
    reg=$E2E_WORK/htm-recorder.reg
    printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
        '[HKEY_CLASSES_ROOT\.htm]' '@="VosselmarE2E.htm"' '' \
        '[HKEY_CLASSES_ROOT\.html]' '@="VosselmarE2E.htm"' '' \
        '[HKEY_CLASSES_ROOT\VosselmarE2E.htm\shell\open\command]' \
        "@=\"\\\"$exe\\\" \\\"%1\\\"\"" '' >"$reg"
    e2e_load_reg "$reg"
    : >"$marker"
}

# Number of used slots in the Wine tray (0 when there is no tray window).
e2e_tray_icons() {
    local n
    n=$(e2e_driver tray-rect --timeout 0 2>/dev/null | e2e_field icons)
    echo "${n:-0}"
}

# e2e_wait_tray_icons N TIMEOUT_S: waits until the tray shows exactly N icons.
e2e_wait_tray_icons() {
    local want=$1 limit=$2 t0 got
    t0=$(e2e_now)
    while :; do
        got=$(e2e_tray_icons)
        ((got == want)) && return 0
        if awk -v a="$t0" -v b="$(e2e_now)" -v l="$limit" 'BEGIN { exit !(b - a > l) }'; then
            e2e_log "tray shows $got icons, expected $want"
            return 1
        fi
        sleep 0.1
    done
}

# e2e_tray_colour SLOT: the state of the icon in tray slot SLOT from its mean
# colour: orange (far more red than blue: recognition on), grey (all three
# about equal: off or no input) or other(R,G,B).
e2e_tray_colour() {
    local r g b
    read -r r g b <<<"$(e2e_driver tray-rect | e2e_field "icon${1}_rgb" | tr ',' ' ')"
    if [[ -z $b ]]; then
        echo none
    elif ((r > g && g > b && r - b > 40)); then
        echo orange
    elif ((r - b < 20 && b - r < 20 && r - g < 20 && g - r < 20)); then
        echo grey
    else
        echo "other($r,$g,$b)"
    fi
}

# e2e_expect_tray_colour SLOT COLOUR WHAT: waits up to 3 s for the icon to
# be COLOUR; the first time a colour is seen its picture goes to the
# artefacts (tray-COLOUR.png). Says what it saw and returns 1 otherwise.
e2e_expect_tray_colour() {
    local slot=$1 want=$2 got t0 xy
    t0=$(e2e_now)
    while got=$(e2e_tray_colour "$slot") && [[ $got != "$want" ]]; do
        if awk -v a="$t0" -v b="$(e2e_now)" 'BEGIN { exit !(b - a > 3) }'; then
            e2e_log "tray icon is $got, expected $want ($3)"
            return 1
        fi
        sleep 0.1
    done
    [[ -f $E2E_ART/tray-$want.png ]] && return 0
    xy=$(e2e_driver tray-rect | e2e_field "icon$slot")
    e2e_shot_region "tray-$want" $((${xy%,*} - 12)) $((${xy#*,} - 12)) 24 24
}

# e2e_expect_tray_tip SLOT KEY: the tooltip Wine's tray shows while the mouse
# rests on the icon is the program's text KEY (kTipEnabled, ...). Says which
# tooltip there was and returns 1 otherwise.
e2e_expect_tray_tip() {
    local xy rc=0
    xy=$(e2e_driver tray-rect | e2e_field "icon$1")
    [[ -n $xy ]] || {
        e2e_log "no tray icon in slot $1"
        return 1
    }
    timeout 5 xdotool mousemove 700 900 mousemove "${xy%,*}" "${xy#*,}" sleep 0.1 \
        mousemove "$((${xy%,*} + 1))" "${xy#*,}"
    if ! e2e_driver window --class tooltips_class32 --title-key "$2" --visible 1 --timeout 4000 >/dev/null; then
        e2e_log "tray tooltip is not $2: $(e2e_driver windows --name explorer.exe | grep ' class=tooltips_class32 ')"
        rc=1
    fi
    timeout 5 xdotool mousemove 700 900
    return $rc
}

# e2e_shot_region NAME X Y W H: a screenshot of part of the screen.
e2e_shot_region() {
    timeout 20 import -window root -crop "${4}x${5}+${2}+${3}" +repage "$E2E_ART/$1.png" \
        2>>"$E2E_ART/screenshot.err" || e2e_log "screenshot $1 failed"
}

# ---------------------------------------------------------------------------
# Scenario frame

e2e_cleanup_scenario() {
    local pid
    for pid in "${E2E_PIDS[@]}"; do
        kill -0 "$pid" 2>/dev/null || continue
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in "${E2E_PIDS[@]}"; do
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
        kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
    done
    E2E_PIDS=()
}

# Called at the top of each scenario: checks it runs under run.sh and makes
# sure everything it starts is ended however it exits.
e2e_scenario_begin() {
    [[ -n ${E2E_WORK:-} && -n ${E2E_ART:-} ]] || {
        echo "run scenarios through tests/e2e/run.sh [BUILD_DIR] [NAME_PATTERN]" >&2
        exit 2
    }
    trap e2e_cleanup_scenario EXIT
    trap 'exit 143' TERM
    trap 'exit 130' INT
    set -o pipefail
}
