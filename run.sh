#!/usr/bin/env bash
# Builds Vosselmar.exe with mingw-w64 and starts it under Wine, in a Wine prefix of its own.
#
#   ./run.sh               builds the program and starts it from build/mingw (config.bin beside it)
#   ./run.sh play C E G    plays a chord into a program started with the simulated MIDI devices
#
# The prefix is build/wineprefix, created on the first start and reused, so that trying the
# program changes nothing in the home folder; Wine's messages go to build/run/wine.log. With a
# MIDI input port (an ALSA sequencer client other than System and Midi Through) the program gets
# the real devices through Wine's own winmm. Without one it gets the simulated MIDI devices of the
# end-to-end tests (tests/e2e/fakewinmm), "Simulated MIDI In" and "Simulated MIDI Out", and
# `./run.sh play NOTE…` plays into it through the control file build/run/midi.inject.
#
# VOS_RUN_DIR=DIR keeps everything in DIR instead (the prefix, a copy of the program, the logs):
# the tests use it to leave build/wineprefix and build/mingw/config.bin alone.
# VOS_RUN_SEQ_CLIENTS names the file listing the sequencer clients (/proc/asound/seq/clients).
set -euo pipefail
[[ -z ${VOS_RUN_DIR:-} ]] || VOS_RUN_DIR=$(readlink -m "$VOS_RUN_DIR")
cd "$(dirname "$0")"
repo=$PWD

if [[ -n ${VOS_RUN_DIR:-} ]]; then
  run_dir=$VOS_RUN_DIR prefix=$VOS_RUN_DIR/wineprefix prog_dir=$VOS_RUN_DIR/program
else
  run_dir=$repo/build/run prefix=$repo/build/wineprefix prog_dir=$repo/build/mingw
fi
build_dir=$repo/build/mingw
wine_log=$run_dir/wine.log
midi_log=$run_dir/midi.log
inject=$run_dir/midi.inject
sim_owner=$run_dir/simulated.pid
sim_in='Simulated MIDI In' sim_out='Simulated MIDI Out'
seq_clients=${VOS_RUN_SEQ_CLIENTS:-/proc/asound/seq/clients}
# No Mono or Gecko installer on the first start, and no menu entries or file associations
# written into the home folder.
wine_overrides='mscoree,mshtml=;winemenubuilder.exe=d'

fail() {
  printf 'run.sh: %s\n' "$*" >&2
  exit 1
}

# Path relative to the repository when it lies inside it, for shorter messages.
shown() { [[ $1 == "$repo"/* ]] && printf '%s' "${1#"$repo"/}" || printf '%s' "$1"; }

# ---------------------------------------------------------------------------
# ./run.sh play NOTE…

# note_number NAME: MIDI note of C, C#, Db … B with an optional octave (-1 … 9, default 4, so
# C is middle C, 60).
note_number() {
  local re='^([A-Ga-g])([#b]?)(-1|[0-9])?$' pc n
  [[ $1 =~ $re ]] || return 1
  case ${BASH_REMATCH[1]^^} in
  C) pc=0 ;; D) pc=2 ;; E) pc=4 ;; F) pc=5 ;; G) pc=7 ;; A) pc=9 ;; B) pc=11 ;;
  esac
  case ${BASH_REMATCH[2]} in '#') pc=$((pc + 1)) ;; b) pc=$((pc - 1)) ;; esac
  n=$((12 * (${BASH_REMATCH[3]:-4} + 1) + pc))
  ((n >= 0 && n <= 127)) || return 1
  echo "$n"
}

# wait_gone FILE: waits up to 5 s for FILE to be gone.
wait_gone() {
  local i
  for ((i = 0; i < 250; i++)); do
    [[ -e $1 ]] || return 0
    sleep 0.02
  done
  return 1
}

play() {
  local notes=() n name lines tag i got
  (($#)) || fail "say which notes to play, for example: ./run.sh play C E G (C4 is middle C; C# and Db both work)"
  for name in "$@"; do
    n=$(note_number "$name") || fail "'$name' is not a note: use C, C#, Db … B with an optional octave -1 … 9 (C4 is middle C)"
    notes+=("$n")
  done
  local pid=
  [[ -f $sim_owner ]] && pid=$(<"$sim_owner")
  if [[ -z $pid ]] || ! kill -0 "$pid" 2>/dev/null; then
    fail "no Vosselmar with simulated MIDI devices is running: start it with ./run.sh (in another terminal) first"
  fi

  # Note-ons on channel 1, a hold, note-offs, between two marks: the second tells when the
  # simulated input has handled them all, and the lines between say whether the program listened.
  tag="play-$$-$(date +%s%N)"
  lines=("mark $tag-begin")
  for n in "${notes[@]}"; do lines+=("$(printf 'msg 0x0064%02x90' "$n")"); done
  lines+=("wait 300")
  for n in "${notes[@]}"; do lines+=("$(printf 'msg 0x0000%02x80' "$n")"); done
  lines+=("mark $tag-end")
  # one batch at a time: the control file is read and deleted as a whole
  wait_gone "$inject" || true
  printf '%s\r\n' "${lines[@]}" >"$inject.$$.tmp"
  mv -f "$inject.$$.tmp" "$inject"
  if ! wait_gone "$inject"; then
    rm -f "$inject"
    fail "Vosselmar has not opened the simulated MIDI input yet: answer its questions (terms of use, MIDI input, settings) first"
  fi
  for ((i = 0; i < 250; i++)); do
    grep -q " mark $tag-end -> ok" "$midi_log" 2>/dev/null && break
    sleep 0.02
  done
  got=$(tr -d '\r' <"$midi_log" 2>/dev/null | sed -n "/ mark $tag-begin -> ok\$/,/ mark $tag-end -> ok\$/p")
  [[ $got == *" mark $tag-end -> ok"* ]] || fail "the simulated MIDI input did not take the notes within 5 s (see $(shown "$midi_log"))"
  if grep -qE ' inject msg=0x[0-9a-f]+ -> (dropped|post-failed)' <<<"$got"; then
    fail "Vosselmar is not listening to the simulated keyboard yet: answer its questions (terms of use, MIDI input, settings) first"
  fi
  echo "Played $* (notes ${notes[*]}) on the simulated keyboard."
}

if [[ ${1:-} == play ]]; then
  shift
  play "$@"
  exit 0
fi
(($# == 0)) || fail "unknown arguments: $* (./run.sh starts the program; ./run.sh play C E G plays a chord into it)"

# ---------------------------------------------------------------------------
# ./run.sh

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
  fail "no display (DISPLAY and WAYLAND_DISPLAY are unset): start it from a desktop session, or in a virtual one with: xvfb-run -a ./run.sh"
fi

# shellcheck source=tools/setup-machine.sh
source tools/setup-machine.sh
ensure_packages
# shellcheck source=tests/e2e/lib.sh
source tests/e2e/lib.sh # e2e_winpath and the prefix's fonts, as in the end-to-end tests

# Wine draws on X11 (through XWayland on a Wayland desktop): a display it cannot open ends it
# with a page of errors.
if [[ -n ${DISPLAY:-} ]] && ! timeout 10 xdotool getdisplaygeometry >/dev/null 2>&1; then
  fail "cannot open the display $DISPLAY: start it from a desktop session, or in a virtual one with: xvfb-run -a ./run.sh"
fi

say "Building Vosselmar.exe (mingw-w64, release)"
cmake --preset mingw >/dev/null
cmake --build --preset mingw
[[ -f $build_dir/Vosselmar.exe ]] || fail "the build did not produce $(shown "$build_dir")/Vosselmar.exe"
[[ -f $build_dir/e2e/winmm.dll ]] || fail "the build did not produce the simulated MIDI devices $(shown "$build_dir")/e2e/winmm.dll"

if [[ $prog_dir != "$build_dir" ]]; then
  # a program folder of its own: the program and its side files, config.bin kept
  mkdir -p "$prog_dir"
  cp -f "$build_dir"/{Vosselmar.exe,gminst.bin,gminst.en.bin,vkname.bin,vkvalue.bin,説明書.htm,Manual.htm} "$prog_dir/"
  for images in 説明書_images Manual_images; do
    [[ ! -d $build_dir/$images ]] || cp -rf "$build_dir/$images" "$prog_dir/"
  done
fi

mkdir -p "$run_dir"
: >"$wine_log"
export WINEPREFIX=$prefix WINEDLLOVERRIDES=$wine_overrides
unset WINEARCH
if [[ ! -f $prefix/.vosselmar-ready ]]; then
  say "Creating the Wine prefix $(shown "$prefix") (once; about half a minute)"
  mkdir -p "$prefix"
  WINEARCH=win64 timeout 300 wineboot -i >>"$wine_log" 2>&1 ||
    fail "wineboot could not create the Wine prefix $(shown "$prefix") (see $(shown "$wine_log"))"
  # The manual and other web pages open in the desktop's browser (winebrowser hands them to
  # xdg-open); Wine's own browser is not installed here. The Japanese faces the program asks for
  # are drawn with the IPA fonts, as in the end-to-end tests.
  printf '%s\r\n' 'Windows Registry Editor Version 5.00' '' \
    '[HKEY_CLASSES_ROOT\.htm]' '@="htmlfile"' '' '[HKEY_CLASSES_ROOT\.html]' '@="htmlfile"' '' \
    >"$run_dir/associations.reg"
  # (without pipefail: its `fc-list | grep -q` would count grep's early exit as no font)
  (set +o pipefail && e2e_prefix_fonts "$run_dir/fonts.reg") 2>>"$wine_log"
  timeout 60 wine regedit /S "$(e2e_winpath "$run_dir/associations.reg")" "$(e2e_winpath "$run_dir/fonts.reg")" \
    >>"$wine_log" 2>&1 || fail "could not set up the Wine prefix $(shown "$prefix") (see $(shown "$wine_log"))"
  # its own prefix: nothing else runs in it, and the next start reads the settings afresh
  timeout 30 wineserver -k >>"$wine_log" 2>&1 || true
  timeout 30 wineserver -w >>"$wine_log" 2>&1 || true
  : >"$prefix/.vosselmar-ready"
fi
say "Wine prefix ready: $(shown "$prefix")"

# Readable ports of sequencer clients other than System (0) and Midi Through (14) are what Wine's
# ALSA driver offers as MIDI inputs. The sequencer is loaded on first use: opening it loads it.
[[ -e $seq_clients || ! -e /dev/snd/seq ]] || { : </dev/snd/seq; } 2>/dev/null || true
real_inputs=$(awk '
  /^Client +[0-9]+ :/ { c = $2 + 0; client = $0; sub(/^[^"]*"/, "", client); sub(/".*/, "", client) }
  /^ +Port +[0-9]+ :/ && c != 0 && c != 14 && client != "Midi Through" && /\(R[^)]*\)/ {
    port = $0; sub(/^[^"]*"/, "", port); sub(/".*/, "", port); print port }' "$seq_clients" 2>/dev/null || true)

# shellcheck disable=SC2317 # called by the traps
cleanup() {
  [[ ! -f $sim_owner || $(<"$sim_owner") != "$$" ]] || rm -f "$sim_owner" "$inject"
}
# shellcheck disable=SC2317 # called by the traps
stop() {
  # its own prefix: ending every Wine process in it ends only what this start began
  timeout 30 wineserver -k >>"$wine_log" 2>&1 || true
  say "Stopped: Vosselmar and every Wine process of $(shown "$prefix") ended"
  exit "$1"
}
trap cleanup EXIT
trap 'stop 130' INT
trap 'stop 143' TERM

if [[ -n $real_inputs ]]; then
  say "MIDI input ports: $(paste -sd, - <<<"$real_inputs" | sed 's/,/, /g')"
  echo "Vosselmar gets the real MIDI devices through Wine's ALSA driver."
  export WINEDLLOVERRIDES="$wine_overrides;winmm=b"
  unset VOS_MIDI_IN VOS_MIDI_OUT VOS_MIDI_LOG VOS_MIDI_INJECT VOS_MIDI_FAIL
else
  say "No MIDI input port found: starting Vosselmar with simulated MIDI devices ($sim_in, $sim_out)."
  # a simulated input can be open once: a second program would only be told it is taken
  other=$(cat "$sim_owner" 2>/dev/null || true)
  if [[ -n $other ]] && kill -0 "$other" 2>/dev/null; then
    fail "Vosselmar already runs with the simulated MIDI devices (./run.sh, process $other): play into it with ./run.sh play C E G"
  fi
  # The program takes winmm from the system folder; winmm=n makes Wine load the simulated one
  # found there for this program only.
  dest=$prefix/drive_c/windows/system32/winmm.dll
  if ! cp -f "$build_dir/e2e/winmm.dll" "$dest.tmp" || ! mv -f "$dest.tmp" "$dest"; then
    fail "cannot install the simulated MIDI devices as $(shown "$dest")"
  fi
  rm -f "$inject" "$inject".*.tmp
  : >"$midi_log"
  export WINEDLLOVERRIDES="$wine_overrides;winmm=n"
  export VOS_MIDI_IN=$sim_in VOS_MIDI_OUT=$sim_out VOS_MIDI_FAIL=
  VOS_MIDI_LOG=$(e2e_winpath "$midi_log") VOS_MIDI_INJECT=$(e2e_winpath "$inject")
  export VOS_MIDI_LOG VOS_MIDI_INJECT
  echo "$$" >"$sim_owner"
  echo "Play a chord from another terminal: ./run.sh play C E G (C-E-G opens the manual)."
  echo "Calls to the simulated devices are logged in $(shown "$midi_log")."
fi

say "Starting Vosselmar.exe in $(shown "$prog_dir") (its config.bin lives there)"
echo "Wine's own messages go to $(shown "$wine_log")."
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
# In the background so that Ctrl+C reaches the trap at once rather than when Wine ends.
(cd "$prog_dir" && exec wine ./Vosselmar.exe) >>"$wine_log" 2>&1 </dev/null &
status=0
wait $! || status=$?
say "Vosselmar ended (exit status $status)"
((status == 0)) || echo "Wine's messages are in $(shown "$wine_log")." >&2
exit "$status"
