#!/usr/bin/env bash
# Runs the Wine end-to-end scenarios against a mingw build.
#
#   tests/e2e/run.sh [BUILD_DIR] [NAME_PATTERN]
#
# BUILD_DIR (default build/mingw) holds Vosselmar.exe and, in e2e/, the test
# tools built by tests/e2e/CMakeLists.txt; nothing is built here. Each
# scenarios/*.sh (whose name contains NAME_PATTERN, if given) runs in order in
# its own program folder under one shared Wine prefix, on a private Xvfb,
# with a hard time limit. Logs and screenshots go to build/e2e-artifacts/
# (or $E2E_ARTIFACTS). Exit status is non-zero if any scenario failed.
#
# Scenarios exit 0 to pass, 77 to skip (a measurement not asked for).
# Each has 60 s unless it carries a "# e2e-timeout: SECONDS" line;
# E2E_SCENARIO_TIMEOUT overrides both. E2E_KEEP=1 keeps the Wine prefix and
# program folders (printed at the end); E2E_SCENARIOS points at another
# folder of scenarios.
set -u

E2E_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(cd "$E2E_DIR/../.." && pwd)
export E2E_DIR
# shellcheck source=lib.sh
source "$E2E_DIR/lib.sh"

BUILD=${1:-build/mingw}
PATTERN=${2:-}
[[ $BUILD = /* ]] || BUILD=$PWD/$BUILD
[[ -d $BUILD ]] || { [[ -d $REPO/${1:-build/mingw} ]] && BUILD=$REPO/${1:-build/mingw}; }
[[ -d $BUILD ]] || e2e_fail "build folder $BUILD not found (cmake --preset mingw && cmake --build --preset mingw)"
BUILD=$(cd "$BUILD" && pwd)

export E2E_TOOLS=$BUILD/e2e
for f in winmm.dll recorder.exe driver.exe e2e-standin.exe e2e-probe.exe planted.dll planted-lacking.dll cfgwrite.exe; do
    [[ -f $E2E_TOOLS/$f ]] || e2e_fail "$E2E_TOOLS/$f missing: is tests/e2e added to the mingw build?"
done

export E2E_PROGRAM=$BUILD/Vosselmar.exe
[[ -f $E2E_PROGRAM ]] || e2e_fail "$E2E_PROGRAM missing: build it first (cmake --build --preset mingw)"

ARTIFACTS=${E2E_ARTIFACTS:-$REPO/build/e2e-artifacts}
rm -rf "$ARTIFACTS"
mkdir -p "$ARTIFACTS"

e2e_require_tools

# A program importing a winmm function the simulated DLL lacks would abort at
# its first call (or sit in the debugger), and Vosselmar.exe, which looks its
# winmm functions up by name, would refuse to start: say so plainly before
# starting. Names looked up are found among the program's strings.
check_winmm_imports() {
    local exe=$1 exports missing=()
    exports=$(LC_ALL=C x86_64-w64-mingw32-objdump -p "$E2E_TOOLS/winmm.dll" |
        awk '/^\[Ordinal\/Name Pointer\] Table/ { t = 1; next } t && /^[[:space:]]*\[/ { print $NF; next } { t = 0 }')
    while read -r fn; do
        grep -qx -- "$fn" <<<"$exports" || missing+=("$fn")
    done < <({
        LC_ALL=C x86_64-w64-mingw32-objdump -p "$exe" |
            awk '/DLL Name:/ { t = (tolower($0) ~ /winmm\.dll/); next } /^[[:space:]]*$/ { t = 0 } t && NF == 3 && $2 ~ /^[0-9]+$/ { print $3 }'
        LC_ALL=C strings -a "$exe" | grep -xE '(midi(In|Out)|time)[A-Z][A-Za-z]*'
    } | sort -u)
    if ((${#missing[@]})); then
        e2e_log "$(basename "$exe") imports winmm functions the test winmm.dll lacks: ${missing[*]}"
        e2e_log "add them to tests/e2e/fakewinmm/ (fakewinmm.c and winmm.def)"
        return 1
    fi
}
check_winmm_imports "$E2E_TOOLS/e2e-standin.exe" || exit 1
check_winmm_imports "$E2E_TOOLS/e2e-probe.exe" || exit 1
check_winmm_imports "$E2E_PROGRAM" || exit 1
e2e_log "program under test: $E2E_PROGRAM"

WORK=$(mktemp -d /tmp/vos-e2e.XXXXXX)
E2E_XVFB_PID=
run_cleanup() {
    e2e_stop_wine
    [[ -n $E2E_XVFB_PID ]] && kill "$E2E_XVFB_PID" 2>/dev/null && wait "$E2E_XVFB_PID" 2>/dev/null
    if [[ -z ${E2E_KEEP:-} ]]; then rm -rf "$WORK"; else e2e_log "kept $WORK"; fi
}
trap run_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

e2e_env "$WORK"
e2e_start_xvfb
e2e_create_prefix
e2e_install_fake_winmm
e2e_start_wineserver
# The first windowed process of a server also starts the desktop (explorer),
# which takes seconds: do it here so scenario timings are the scenarios' own.
t0=$(e2e_now)
timeout 60 wine "$E2E_TOOLS/driver.exe" windows >/dev/null 2>&1
e2e_log "desktop up in $(e2e_since "$t0")s"
printf 'prefix_seconds=%s\n' "$E2E_PREFIX_SECONDS" >"$ARTIFACTS/timing.txt"

# Processes a scenario may leave behind without it being its doing.
SYSTEM_PROCS='^(explorer|services|winedevice|plugplay|svchost|rpcss|conhost|driver|start|wineboot|tabtip|rundll32)\.exe$'

leftovers() {
    timeout 20 wine "$E2E_TOOLS/driver.exe" processes 2>/dev/null | tr -d '\r' |
        awk -F'\t' -v re="$SYSTEM_PROCS" 'tolower($2) !~ re { print $2 "(" $1 ")" }' | tr '\n' ' '
}

passed=0 failed=0 skipped=0
failed_names=()
shopt -s nullglob
for script in "${E2E_SCENARIOS:-$E2E_DIR/scenarios}"/*.sh; do
    name=$(basename "$script" .sh)
    [[ -z $PATTERN || $name == *"$PATTERN"* ]] || continue
    export E2E_NAME=$name E2E_ART=$ARTIFACTS/$name
    mkdir -p "$E2E_ART"
    # a scenario may ask for more time with a "# e2e-timeout: SECONDS" line
    limit=$(sed -nE 's/^# e2e-timeout: ([0-9]+)$/\1/p' "$script" | head -n 1)
    limit=${E2E_SCENARIO_TIMEOUT:-${limit:-60}}
    e2e_install_fake_winmm
    t0=$(e2e_now)
    timeout -k 5 "$limit" bash "$script" >"$E2E_ART/output.log" 2>&1
    rc=$?
    secs=$(e2e_since "$t0")
    case $rc in
    0) status=PASS passed=$((passed + 1)) ;;
    77) status=SKIP skipped=$((skipped + 1)) ;;
    124 | 137) status="FAIL (timed out after ${limit}s)" failed=$((failed + 1)) ;;
    *) status="FAIL (exit $rc)" failed=$((failed + 1)) ;;
    esac
    [[ $status == FAIL* ]] && failed_names+=("$name")
    printf '%-32s %-8s %6ss\n' "$name" "$status" "$secs"
    printf '%s_seconds=%s\n' "$name" "$secs" >>"$ARTIFACTS/timing.txt"
    if [[ $status == FAIL* ]]; then
        tail -n 25 "$E2E_ART/output.log" | sed 's/^/    | /'
        timeout 20 import -window root "$E2E_ART/at-failure.png" 2>/dev/null
    fi
    # Anything still running would leak into the next scenario: report it
    # and start the next one from a clean server.
    left=$(leftovers)
    if [[ $status == FAIL* || -n $left ]]; then
        [[ -n $left ]] && echo "    left running after $name: $left" | tee -a "$E2E_ART/output.log"
        e2e_stop_wine
        e2e_start_wineserver
        timeout 60 wine "$E2E_TOOLS/driver.exe" windows >/dev/null 2>&1
    fi
done

((passed + failed + skipped > 0)) || e2e_fail "no scenario matched '${PATTERN}'"
((failed == 0)) || echo "failed: ${failed_names[*]}"
echo "artefacts: $ARTIFACTS"
echo "e2e: $passed passed, $failed failed, $skipped skipped"
((failed == 0))
