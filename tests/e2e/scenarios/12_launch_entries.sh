#!/usr/bin/env bash
# Launch codes from config.bin: the target gets its parameters, releases and
# note-ons of velocity 0 count as releases, several entries with one code all
# open in list order. A second instance is refused and the first keeps working.
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
e2e_scenario_begin

e2e_fresh_program
export VOS_RECORDER_STAMP=1
ceg=$(e2e_chord_code C E G)
dfa=$(e2e_chord_code D F A)
e2e_write_config "$E2E_PROG_DIR/config.bin" \
    --entry "$ceg" "$E2E_REC" '--hello 世界' \
    --entry "$dfa" "$E2E_REC" 'first' \
    --entry "$(e2e_chord_code C)" "$E2E_REC" 'single C' \
    --entry "$dfa" "$E2E_REC" 'second' \
    --entry "$dfa" "$E2E_REC" 'third'

e2e_start_program
wait_midi_started 10 || e2e_fail "MIDI input not started"
e2e_driver no-msgbox --for 200 >/dev/null || e2e_fail "unexpected message box at start"

# launches so far, in the order they were started: "PARAMETERS" lines
launches() {
    log_lines "$E2E_RECORDER_LOG" . | awk -F'\t' '{ print $3 "\t" $1 }' | sort -n |
        cut -f2 | sed -E 's/^"[^"]*recorder\.exe" ?//'
}
# Every step checks the whole list so far: a launch too many in one step
# shows up at the latest in the next one (the last step waits a moment).
expect_launches() {
    local want=$1 n
    n=$(grep -c . <<<"$want")
    wait_log_count "$E2E_RECORDER_LOG" . "$n" 5 || e2e_fail "expected $n launches in all: $(launches | tr '\n' '|')"
    [[ ${2:-} == last ]] && sleep 0.3
    [[ $(launches) == "$want" ]] || e2e_fail "launches: $(launches | tr '\n' '|') expected: $(tr '\n' '|' <<<"$want")"
}

e2e_log "--- C E G opens the target with its parameters"
inject_msgs 90 40 64 90 43 64 90 3C 64
expect_launches '--hello 世界'
line=$(log_lines "$E2E_RECORDER_LOG" 'hello')
[[ ${line%%$'\t'*} == "\"$E2E_REC\" --hello 世界" ]] || e2e_fail "command line: ${line%%$'\t'*}"

e2e_log "--- C E G B held, B released: C E G again"
inject_msgs 90 47 64
inject_msgs 80 47 40
expect_launches $'--hello 世界\n--hello 世界'

e2e_log "--- B again, released by a note-on of velocity 0"
inject_msgs 91 53 64 91 53 00
expect_launches $'--hello 世界\n--hello 世界\n--hello 世界'

e2e_log "--- everything released: only C left opens the single-note entry"
inject_msgs 80 40 00 80 43 00
expect_launches $'--hello 世界\n--hello 世界\n--hello 世界\nsingle C'
inject_msgs 80 3C 00

e2e_log "--- three entries of D F A open in list order"
inject_msgs 92 3E 50 92 41 50 92 45 50
expect_launches $'--hello 世界\n--hello 世界\n--hello 世界\nsingle C\nfirst\nsecond\nthird'
inject_msgs 82 3E 00 82 41 00 82 45 00

e2e_log "--- a second instance is refused"
first=$E2E_PROGRAM_PID
e2e_start_program
second=$E2E_PROGRAM_PID
e2e_driver msgbox --timeout 10000 --expect-key kAlreadyRunning \
    --expect-buttons ok --expect-icon warning --answer ok || e2e_fail "second-instance message not as expected"
e2e_wait_program_exit 10 "$second" || e2e_fail "the second instance did not end"
kill -0 "$first" 2>/dev/null || e2e_fail "the first instance ended too"
[[ $(log_lines "$E2E_MIDI_LOG" ' midiInOpen ' | wc -l) == 1 ]] || e2e_fail "the second instance opened MIDI input"
inject_msgs 93 34 64 93 37 64 93 30 64
expect_launches $'--hello 世界\n--hello 世界\n--hello 世界\nsingle C\nfirst\nsecond\nthird\n--hello 世界' last

E2E_PROGRAM_PID=$first
e2e_driver close-main >/dev/null
e2e_wait_program_exit 10
e2e_log "launch entries passed"
