#!/usr/bin/env bash
# The simulated winmm.dll behaves like the system's MIDI API where the
# program depends on it, and its call log has the shape the scenarios parse.
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

e2e_make_program_dir "$E2E_WORK/runs/$E2E_NAME" "$E2E_TOOLS/e2e-probe.exe" probe.exe
export VOS_MIDI_IN='ＡＢＣＤＥＦＧＨＩＪＫＬＭＮＯＰＱＲＳＴＵＶＷＸＹＺＡＢＣＤＥ|Port B|0123456789012345678901234567890123456789'
export VOS_MIDI_OUT='Out A'
e2e_midi_env

(cd "$E2E_PROG_DIR" && WINEDLLOVERRIDES="$E2E_BASE_OVERRIDES;winmm=n" timeout -k 5 40 wine ./probe.exe) \
    2>"$E2E_ART/probe.err" | tr -d '\r' | tee "$E2E_ART/probe.txt"
rc=${PIPESTATUS[0]}
((rc == 0)) || e2e_fail "probe reported failures (exit $rc)"

# The log: one CR LF line per call, 12-digit time stamps in order, and the
# shapes the scenarios grep for.
[[ $(grep -c $'\r$' "$E2E_MIDI_LOG") == $(wc -l <"$E2E_MIDI_LOG") ]] || e2e_fail "log lines not CR LF ended"
bad=$(tr -d '\r' <"$E2E_MIDI_LOG" | grep -vE '^[0-9]{12} [A-Za-z]+( .*)? -> [^ ]+( .*)?$' | head -n 3)
[[ -z $bad ]] || e2e_fail "malformed log lines: $bad"
tr -d '\r' <"$E2E_MIDI_LOG" | awk '$1 < prev { exit 1 } { prev = $1 }' || e2e_fail "time stamps go backwards"
while read -r re; do
    log_lines "$E2E_MIDI_LOG" "$re" >/dev/null || e2e_fail "no log line matching /$re/"
done <<'PATTERNS'
^[0-9]{12} midiInGetNumDevs -> 3$
^[0-9]{12} midiInOpen dev=0 cb=0x[0-9a-f]+ inst=0 flags=0x10000 -> 0 h=0x[0-9a-f]+$
^[0-9]{12} midiInOpen dev=0 cb=0 inst=0 flags=0 -> 4$
^[0-9]{12} midiInOpen dev=3 cb=0 inst=0 flags=0 -> 2$
^[0-9]{12} midiInPrepareHeader h=0x[0-9a-f]+ size=[0-9]+ buflen=256 -> 0$
^[0-9]{12} inject msg=0x00403c90 -> dropped-not-started$
^[0-9]{12} inject msg=0x00403c90 -> posted$
^[0-9]{12} inject msg=0x00007cb0 -> called$
^[0-9]{12} midiOutShortMsg h=0x[0-9a-f]+ msg=0x00007cb0 -> 0$
^[0-9]{12} midiInReset h=0x[0-9a-f]+ -> 0 returned=1$
^[0-9]{12} notify MM_MIM_CLOSE h=0x[0-9a-f]+ to=0x[0-9a-f]+ -> posted$
^[0-9]{12} midiInGetDevCapsW dev=1 size=[0-9]+ -> 0 name=Port B$
^[0-9]{12} control fail -> ok$
^[0-9]{12} mark probe-done -> ok$
^[0-9]{12} renumbered h=0x[0-9a-f]+ dev=0 name=Keys A -> 1$
^[0-9]{12} unplugged h=0x[0-9a-f]+ dev=1 name=Keys B -> dead dropped=0$
^[0-9]{12} unplugged h=0x[0-9a-f]+ dev=1 name=Keys A -> dead dropped=1$
^[0-9]{12} unplugged h=0x[0-9a-f]+ dev=0 name=Out A -> dead dropped=0$
^[0-9]{12} notify MM_MOM_CLOSE h=0x[0-9a-f]+ to=0x[0-9a-f]+ -> posted$
^[0-9]{12} midiInStart h=0x[0-9a-f]+ -> 6$
^[0-9]{12} midiOutShortMsg h=0x[0-9a-f]+ msg=0x00007cb0 -> 6$
^[0-9]{12} midiInGetID h=0x[0-9a-f]+ -> 0 id=1$
^[0-9]{12} inject msg=0x00403c90 -> dropped-no-input$
^[0-9]{12} com apartment -> none$
PATTERNS
e2e_log "simulated winmm checks passed"
