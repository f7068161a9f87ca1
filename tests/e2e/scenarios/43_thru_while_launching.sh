#!/usr/bin/env bash
# Thru goes on while chords launch: at 1 000 messages a second, with a chord
# launching recorder.exe every 100 ms, every message is forwarded once and in
# order, every chord launches once, and forwarding never stalls. The program
# is one thread: the shell call is made in the window procedure, so messages
# that arrive during a launch wait for it (25 to 50 ms under Wine). The check
# is that the wait stays bounded (longest delay under 2 s), not that it is 0.
source "${E2E_DIR:-$(dirname "$0")/..}/lib.sh"
source "$E2E_DIR/lib_soak.sh"
e2e_scenario_begin

export VOS_RECORDER_STAMP=1
soak_start_thru_program chord

out=$(soak_thru_delays launching chord 2000) || e2e_fail "the stream did not go through"
echo "$out" | tee "$E2E_ART/latency.txt"
[[ $(e2e_field launches <<<"$out") == 20 ]] || e2e_fail "20 chords, but: $out"
wait_log_count "$E2E_RECORDER_LOG" . 20 5 || e2e_fail "not every launch arrived"
(($(log_lines "$E2E_RECORDER_LOG" . | wc -l) == 20)) || e2e_fail "more launches than chords"
max=$(e2e_field max_us <<<"$out")
((max < 2000000)) || e2e_fail "forwarding stalled during the launches: $out"

e2e_driver close-main >/dev/null || e2e_fail "cannot close the program"
e2e_wait_program_exit 10 || e2e_fail "program still running"
((E2E_EXIT_CODE == 0)) || e2e_fail "exit code $E2E_EXIT_CODE"
e2e_log "thru while launching passed"
