# shellcheck shell=bash
# Functions for the soak scenarios (scenarios/4x_*.sh), sourced after lib.sh:
# long runs of MIDI messages, toggles and dialog openings against the real
# program, with its resource counts sampled before and after.
#
# Scale: VOS_SOAK_SCALE=ci (default, all soak scenarios together well under a
# minute) or full (the figures for the documentation). Each size can be set on
# its own: VOS_SOAK_MESSAGES, VOS_SOAK_TOGGLES, VOS_SOAK_DIALOGS.
#
#   soak_scale                       sets SOAK_SCALE, SOAK_MESSAGES, SOAK_TOGGLES, SOAK_DIALOGS
#   soak_start_thru_program PARAMS   the program in a fresh folder, thru on (instrument 5), one
#                                    chord C-E-G opening recorder.exe with PARAMS; returns once
#                                    its input has started and the program change has gone out
#   soak_sample TAG                  driver leak-sample and the Linux view of the program's
#                                    memory -> $E2E_ART/sample-TAG.txt, and echoes it
#   soak_value TAG KEY               one figure of a sample
#   soak_check_flat BEFORE AFTER OPS KIND [WINE]
#                                    compares two samples against the tolerances below; the
#                                    verdict goes to $E2E_ART/soak.txt; returns 1 when over
#   soak_judge BEFORE AFTER OPS KIND WINE MORE
#                                    the verdict of a soak: soak_check_flat, and at the small
#                                    scale, when that is over, a second batch (the function
#                                    MORE, called with OPS) judged on its own (below)
#   soak_window_baseline COUNT WARM  Wine's own memory cost of a window like the dialog
#   soak_stream_msg_awk              awk function soak_msg(i): the i-th message of the stream
#   soak_inject_stream FIRST COUNT [BATCH]
#                                    messages FIRST.. of the stream, BATCH at a time (default
#                                    5000, under the 10 000 messages a Windows queue holds),
#                                    each batch only once the last one has been forwarded
#   soak_stream_check FROM_LINE FIRST COUNT
#                                    the log after FROM_LINE: COUNT injections of messages
#                                    FIRST.. posted, and the same messages forwarded once each,
#                                    in order
#   soak_report KEY=VALUE...         adds figures to $E2E_ART/soak.txt (and the output)
#   soak_timed_stream KIND N         N packed messages for 1 000 a second: controllers, and (KIND
#                                    chord) every 100 a chord C-E-G pressed and released 50 later,
#                                    or (KIND standin) only its G as a note; KIND plain: no notes
#   soak_thru_delays NAME KIND N     that stream through the running program at 1 000 a second,
#                                    checked forwarded once each in order; prints
#                                    "NAME: count= median_us= p99_us= max_us= launches="
#
# Tolerances (growth from the sample after the warm-up to the end; OPS
# operations, WINE bytes per operation measured for Wine itself by
# soak_window_baseline, 0 where no window is made):
#   threads, top_windows, windows   none: every one is a leak
#   gdi, handles                    SOAK_TOL_OBJECTS (default 2)
#   win_anon_kb (Windows side: the program's heap)
#                                   SOAK_TOL_BYTES/2 + OPS * SOAK_TOL_BYTES_PER_OP
#   unix_anon_kb (Wine's unix side) SOAK_TOL_BYTES + OPS * (SOAK_TOL_BYTES_PER_OP + 2 * WINE)
#   pagefile_bytes (both)           the sum of those two
#   working_set                     twice that (it also counts shared pages)
# SOAK_TOL_BYTES is 1 MiB and SOAK_TOL_BYTES_PER_OP 16 unless set: with
# 1 000 000 messages a leak of 24 bytes per message shows, with 10 000
# toggles one of 70 bytes, with 1 000 dialog openings one of 2.5 KB more than
# Wine's own.
#
# Wine makes some objects of its own only after a while: at the small scale
# the warm-up (5 dialog openings) can end before it has, and one run read 248
# GDI objects before 50 openings and 251 after, where a full run stays at 251
# from its warm-up (100 openings) on. So at the small scale a growth past the
# tolerances is not yet the verdict: soak_judge runs the same number of
# operations again and judges that second batch alone, against the same
# tolerances. A leak grows in every batch (one GDI object an opening is +50
# in each) and fails both; Wine's settling is over by the second and does not
# come back. The full scale is judged on its one difference only: its warm-up
# is long enough, and its figures are the documented ones.

soak_start_thru_program() {
    e2e_fresh_program
    e2e_write_config "$E2E_PROG_DIR/config.bin" --thru --program 5 --entry "$(e2e_chord_code C E G)" "$E2E_REC" "$1"
    e2e_start_program
    wait_midi_started 10 || e2e_fail "MIDI input not started"
    wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' 1 5 || e2e_fail "no program change at start"
}

soak_scale() {
    SOAK_SCALE=${VOS_SOAK_SCALE:-ci}
    case $SOAK_SCALE in
    ci) SOAK_MESSAGES=50000 SOAK_TOGGLES=1000 SOAK_DIALOGS=50 ;;
    full) SOAK_MESSAGES=1000000 SOAK_TOGGLES=10000 SOAK_DIALOGS=1000 ;;
    *) e2e_fail "VOS_SOAK_SCALE must be ci or full, not $SOAK_SCALE" ;;
    esac
    SOAK_MESSAGES=${VOS_SOAK_MESSAGES:-$SOAK_MESSAGES}
    SOAK_TOGGLES=${VOS_SOAK_TOGGLES:-$SOAK_TOGGLES}
    SOAK_DIALOGS=${VOS_SOAK_DIALOGS:-$SOAK_DIALOGS}
    soak_report "scale=$SOAK_SCALE"
}

soak_report() {
    printf '%s\n' "$@" | tee -a "$E2E_ART/soak.txt" >&2
}

# soak_unix_pid PATTERN: the Linux process of a Wine program whose command
# line matches PATTERN (of the wrapper processes and the program itself, the
# one with most memory: the program). Only processes of this run's prefix:
# another run on the machine, or a build linking a file of the same name,
# matches the pattern too, and its figures would be taken for the program's.
soak_unix_pid() {
    local p best=0 pid=""
    for p in $(pgrep -f -- "$1"); do
        tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" || continue
        local rss
        rss=$(awk '/^VmRSS:/ { print $2 }' "/proc/$p/status" 2>/dev/null)
        [[ -n $rss ]] && ((rss > best)) && best=$rss pid=$p
    done
    echo "$pid"
}

# soak_linux_memory PID: anonymous memory of a Wine process as Linux counts
# it, split where it is kept: unix_anon_kb is the malloc heap of Wine's
# unix-side libraries ([heap] and the anonymous mappings at 0x7f...), where
# win32u, winex11 and Xlib keep windows, menus, icons, GDI objects and X
# resources; win_anon_kb is everything else, the Windows side: the heaps of
# the program and of Wine's PE libraries, stacks, data of the loaded images.
soak_linux_memory() {
    awk '/^[0-9a-f]+-[0-9a-f]+ / { split($1, r, "-"); unix = ($6 == "[heap]" || r[1] ~ /^7f/) }
        /^Anonymous:/ { if (unix) u += $2; else w += $2 }
        END { printf "unix_anon_kb=%d win_anon_kb=%d\n", u, w }' "/proc/$1/smaps"
}

soak_sample() {
    local out pid
    out=$(e2e_driver leak-sample --name "${E2E_PROG_NAME:-Vosselmar.exe}") || e2e_fail "leak-sample failed"
    out=$(tr -d '\r' <<<"$out")
    pid=$(soak_unix_pid "${E2E_PROG_NAME:-Vosselmar.exe}")
    # without it the memory figures would be missing, and soak_check_flat cannot judge them
    [[ -n $pid ]] || e2e_fail "no Linux process of ${E2E_PROG_NAME:-Vosselmar.exe} in this prefix"
    out+=" unix_pid=$pid $(soak_linux_memory "$pid")"
    printf '%s\n' "$out" >"$E2E_ART/sample-$1.txt"
    printf 'sample %s: %s\n' "$1" "$out" | tee -a "$E2E_ART/soak.txt" >&2
}

soak_value() {
    e2e_field "$2" <"$E2E_ART/sample-$1.txt"
}

# soak_window_baseline COUNT WARM: Wine's own memory growth for COUNT windows
# built like the dialog (driver window-cycles), measured the same way as the
# program's. Prints "baseline_unix_bytes_per_cycle=N baseline_win_bytes_per_cycle=N".
soak_window_baseline() {
    local count=$1 warm=$2 sync pid before after out
    sync=$E2E_WORK/baseline-sync
    rm -rf "$sync" && mkdir -p "$sync"
    # with the program's manifest: the dialog's controls are Common Controls 6, not the driver's
    E2E_DRIVER_TIMEOUT=$((60 + count)) e2e_driver window-cycles --count "$count" --warm-up "$warm" \
        --sync "$(e2e_winpath "$sync")" --actctx "$(e2e_winpath "$E2E_PROGRAM")" >"$E2E_WORK/baseline.out" &
    local job=$!
    for _ in $(seq 600); do [[ -e $sync/warm ]] && break; sleep 0.1; done
    [[ -e $sync/warm ]] || e2e_fail "the baseline did not warm up"
    pid=$(soak_unix_pid 'driver.exe window-cycles')
    [[ -n $pid ]] || e2e_fail "no Linux process of the baseline's driver.exe in this prefix"
    before=$(soak_linux_memory "$pid")
    : >"$sync/go"
    for _ in $(seq $((10 * (60 + count)))); do [[ -e $sync/done ]] && break; sleep 0.1; done
    [[ -e $sync/done ]] || e2e_fail "the baseline did not finish"
    after=$(soak_linux_memory "$pid")
    : >"$sync/end"
    wait "$job" || e2e_fail "driver window-cycles failed"
    out=$(tr -d '\r' <"$E2E_WORK/baseline.out")
    soak_report "baseline windows ($count after $warm): $out before: $before after: $after"
    awk -v b="$before" -v a="$after" -v n="$count" 'BEGIN {
        split(b, x, /[ =]/); split(a, y, /[ =]/)
        printf "baseline_unix_bytes_per_cycle=%d baseline_win_bytes_per_cycle=%d\n", (y[2] - x[2]) * 1024 / n, (y[4] - x[4]) * 1024 / n }'
}

soak_check_flat() {
    local before=$1 after=$2 ops=$3 kind=$4 wine_per_op=${5:-0} key b a limit bad=0 line
    local tol_objects=${SOAK_TOL_OBJECTS:-2}
    local tol_win=$((${SOAK_TOL_BYTES:-1048576} / 2 + ops * ${SOAK_TOL_BYTES_PER_OP:-16}))
    local tol_unix=$((${SOAK_TOL_BYTES:-1048576} + ops * (${SOAK_TOL_BYTES_PER_OP:-16} + 2 * wine_per_op)))
    local tol_total=$((tol_win + tol_unix))
    line="flat $kind ($ops operations):"
    for key in threads top_windows windows gdi handles win_anon_kb unix_anon_kb pagefile_bytes working_set; do
        b=$(soak_value "$before" "$key")
        a=$(soak_value "$after" "$key")
        if [[ ! $b =~ ^[0-9]+$ || ! $a =~ ^[0-9]+$ ]]; then
            line+=" $key=unmeasurable"
            continue
        fi
        case $key in
        threads | top_windows | windows) limit=0 ;;
        gdi | handles) limit=$tol_objects ;;
        win_anon_kb) limit=$((tol_win / 1024)) ;;
        unix_anon_kb) limit=$((tol_unix / 1024)) ;;
        pagefile_bytes) limit=$tol_total ;;
        working_set) limit=$((2 * tol_total)) ;;
        esac
        line+=" $key=$b->$a($((a - b)))"
        if ((a - b > limit)); then
            line+="[over+$limit]"
            bad=1
        fi
    done
    soak_report "$line"
    return $bad
}

soak_judge() {
    local before=$1 after=$2 ops=$3 kind=$4 wine_per_op=$5 more=$6
    soak_check_flat "$before" "$after" "$ops" "$kind" "$wine_per_op" && return 0
    [[ $SOAK_SCALE == full ]] && return 1
    soak_report "over the tolerance at the small scale: $ops more $kind, judged on their own"
    "$more" "$ops"
    soak_sample "$after-2"
    soak_check_flat "$after" "$after-2" "$ops" "$kind (second batch)" "$wine_per_op"
}

# The stream: every kind of short message the keyboard may send, on every
# channel, neighbours always different. Note-ons only ever press D (pitch
# class 2) and note-offs only release, so no chord can form and nothing is
# launched while the stream runs; the tracking still runs for every note.
soak_stream_msg_awk() {
    cat <<'EOF'
function soak_msg(i,   ch, k, kind, j, st, d1, d2) {
    ch = i % 16; k = int(i / 16); kind = k % 5; j = int(k / 5)
    if (kind == 0) { st = 176; d1 = j % 120; d2 = int(j / 120) % 128 }        # control change
    else if (kind == 1) { st = 224; d1 = j % 128; d2 = int(j / 128) % 128 }   # pitch bend
    else if (kind == 2) { st = 144; d1 = 2 + 12 * (j % 10); d2 = 1 + int(j / 10) % 127 }  # press D
    else if (kind == 3) { st = 128; d1 = j % 128; d2 = int(j / 128) % 128 }   # note off
    else { st = 144; d1 = j % 128; d2 = 0 }                                   # note on, velocity 0
    return sprintf("0x%08x", (st + ch) + d1 * 256 + d2 * 65536)
}
EOF
}

# Lines of the MIDI log matching REGEX from byte OFFSET on.
soak_count_from() {
    tail -c +$(($1 + 1)) "$E2E_MIDI_LOG" | grep -c -- "$2"
}

soak_inject_stream() {
    local first=$1 count=$2 batch=${3:-5000} done=0 n off tag t0 limit
    while ((done < count)); do
        n=$((count - done < batch ? count - done : batch))
        tag="soak-$((first + done))-$$"
        off=$(stat -c %s "$E2E_MIDI_LOG")
        awk -v from=$((first + done)) -v n="$n" -v tag="$tag" "$(soak_stream_msg_awk)"'
            BEGIN { for (i = from; i < from + n; i++) print "msg " soak_msg(i); print "mark " tag }' \
            >"$E2E_INJECT.tmp"
        e2e_inject_raw_file
        # the program must have forwarded the whole batch before the next one comes
        t0=$(e2e_now)
        limit=$((10 + n / 1000))
        until (($(soak_count_from "$off" ' midiOutShortMsg ') >= n)); do
            if awk -v a="$t0" -v b="$(e2e_now)" -v l="$limit" 'BEGIN { exit !(b - a > l) }'; then
                e2e_log "batch from $((first + done)): $(soak_count_from "$off" ' midiOutShortMsg ') of $n forwarded after ${limit}s"
                return 1
            fi
            sleep 0.02
        done
        done=$((done + n))
    done
}

# Hands $E2E_INJECT.tmp (already written) to the DLL, as e2e_inject_raw does
# with its lines.
e2e_inject_raw_file() {
    for _ in $(seq 500); do [[ -e $E2E_INJECT ]] || break; sleep 0.01; done
    [[ ! -e $E2E_INJECT ]] || e2e_fail "previous injection batch was never taken"
    mv -f "$E2E_INJECT.tmp" "$E2E_INJECT"
    for _ in $(seq 1000); do [[ -e $E2E_INJECT ]] || return 0; sleep 0.01; done
    e2e_fail "injection batch not taken within 10 s"
}

soak_stream_check() {
    local from=$1 first=$2 count=$3
    tr -d '\r' <"$E2E_MIDI_LOG" | awk -v from="$from" -v first="$first" -v count="$count" "$(soak_stream_msg_awk)"'
        NR <= from { next }
        $2 == "inject" && $3 ~ /^msg=/ {
            if ($5 != "posted") { printf "injection %d not posted: %s\n", ni, $0; bad = 1; exit 1 }
            m = substr($3, 5)
            if (m != soak_msg(first + ni)) { printf "harness: injection %d was %s, expected %s\n", ni, m, soak_msg(first + ni); bad = 1; exit 1 }
            ni++
            next
        }
        $2 == "midiOutShortMsg" {
            m = substr($4, 5)
            if ($6 != "0") { printf "forwarding %d failed: %s\n", no, $0; bad = 1; exit 1 }
            if (no >= count) { printf "forwarded more than %d messages: extra %s\n", count, m; bad = 1; exit 1 }
            if (m != soak_msg(first + no)) {
                printf "forwarded message %d is %s, expected %s (lost, repeated or out of order)\n", no, m, soak_msg(first + no)
                bad = 1; exit 1
            }
            no++
        }
        END {
            if (bad) exit 1
            if (ni != count || no != count) { printf "injected %d, forwarded %d, expected %d each\n", ni, no, count; exit 1 }
            printf "injected=%d forwarded=%d in_order=1\n", ni, no
        }'
}

soak_timed_stream() {
    awk -v n="$2" -v kind="$1" 'BEGIN {
        for (i = 0; i < n; i++) {
            k = i % 100; m = sprintf("0x00%02x%02xb0", i % 128, 1 + int(i / 128) % 100)
            if (kind != "plain") {
                if (k == 0 && kind == "chord") m = "0x00643c90"
                if (k == 1 && kind == "chord") m = "0x00644090"
                if (k == 2) m = "0x00644390"
                if (k == 50) m = "0x00003c80"
                if (k == 51) m = "0x00004080"
                if (k == 52) m = "0x00004380"
            }
            print m
        }
    }'
}

soak_thru_delays() {
    local name=$1 kind=$2 n=$3 from before launches0 result s
    mapfile -t s < <(soak_timed_stream "$kind" "$n")
    from=$(wc -l <"$E2E_MIDI_LOG")
    before=$(midi_out_msgs | wc -l)
    launches0=$(log_lines "$E2E_RECORDER_LOG" . | wc -l)
    inject_msgs --rate 1000 "${s[@]}"
    wait_log_count "$E2E_MIDI_LOG" ' midiOutShortMsg ' $((before + n)) 30 || e2e_fail "$name: stream not forwarded"
    [[ $(midi_out_msgs | tail -n +$((before + 1))) == "$(printf '%s\n' "${s[@]}")" ]] ||
        e2e_fail "$name: stream forwarded out of order, altered, or more than once"
    result=$(midi_forward_latency "$E2E_MIDI_LOG" "$from")
    sleep 1
    echo "$name: $result launches=$(($(log_lines "$E2E_RECORDER_LOG" . | wc -l) - launches0))"
}
