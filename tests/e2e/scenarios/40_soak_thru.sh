#!/usr/bin/env bash
# Soak: a long stream of short messages of every kind with thru on. Every
# message is forwarded exactly once and in order (the injected sequence is
# the sequence of midiOutShortMsg calls), nothing is launched, and the
# program's threads, windows, GDI objects, handles and memory stay flat
# (tolerances in lib_soak.sh; at the small scale a growth is confirmed by a
# second stream, see soak_judge). VOS_SOAK_SCALE=ci: 50 000 messages, full:
# 1 000 000 (run with E2E_SCENARIO_TIMEOUT=3600).
# e2e-timeout: 300
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
source "$E2E_DIR/lib_soak.sh"
e2e_scenario_begin
soak_scale
export E2E_PROGRAM_TIMEOUT=$((300 + SOAK_MESSAGES / 100))

soak_start_thru_program soak
from=$(wc -l <"$E2E_MIDI_LOG")
soak_sample start  # the first reading settles what reading itself touches

warm=$((SOAK_MESSAGES / 20))
soak_inject_stream 0 "$warm" || e2e_fail "warm-up stream not forwarded"
soak_sample before
t0=$(e2e_now)
soak_inject_stream "$warm" $((SOAK_MESSAGES - warm)) || e2e_fail "stream not forwarded"
secs=$(e2e_since "$t0")
soak_sample after
soak_report "messages=$SOAK_MESSAGES seconds=$secs per_second=$(awk -v n=$((SOAK_MESSAGES - warm)) -v s="$secs" 'BEGIN { printf "%d", n / s }')"

# the stream goes on where it ended, so the check below covers it too
sent=$SOAK_MESSAGES
more_messages() {
    soak_inject_stream "$sent" "$1" || e2e_fail "second stream not forwarded"
    sent=$((sent + $1))
}
soak_judge before after $((SOAK_MESSAGES - warm)) messages 0 more_messages || e2e_fail "resources grew during the stream"

result=$(soak_stream_check "$from" 0 "$sent") || e2e_fail "$result"
soak_report "$result"
log_lines "$E2E_RECORDER_LOG" . && e2e_fail "the stream launched something"

e2e_driver close-main >/dev/null || e2e_fail "cannot close the program"
e2e_wait_program_exit 10 || e2e_fail "program still running"
((E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE"
# a passing full run keeps its 100 MB log compressed
(($(stat -c %s "$E2E_MIDI_LOG") > 20000000)) && gzip -f "$E2E_MIDI_LOG"
e2e_log "thru soak passed"
