#!/usr/bin/env bash
# Every figure of docs/performance.md in one run on this machine, each with its baseline:
#
#   bench/measure.sh [MINGW_BUILD_DIR] [BENCH_BUILD_DIR] [OUT_DIR]
#
# Defaults build/mingw, build/bench and build/perf. Builds nothing: run
#   cmake --preset bench && cmake --build --preset bench
#   cmake --preset mingw && cmake --build --preset mingw
# first. Runs the two benchmarks (9 repetitions, medians), then under Wine the start-up timing
# scenario (19_startup_timing.sh, 9 starts of each program) and the performance scenario
# (45_perf.sh), and prints a summary, also kept in OUT_DIR/summary.txt beside the raw output.
set -euo pipefail
cd "$(dirname "$0")/.."
MINGW=${1:-build/mingw}
BENCH=${2:-build/bench}
OUT=${3:-build/perf}
for f in "$BENCH/bench/bench_chord" "$BENCH/bench/bench_dialog" "$MINGW/Vosselmar.exe"; do
    [[ -x $f || -f $f ]] || { echo "measure.sh: $f is not built" >&2; exit 2; }
done
rm -rf "$OUT"
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

say() { printf '\n== %s\n' "$*" >&2; }
reps=(--benchmark_repetitions=9 --benchmark_report_aggregates_only=true)

say "benchmarks (9 repetitions each)"
"$BENCH/bench/bench_chord" "${reps[@]}" | tee "$OUT/bench_chord.txt" >&2
"$BENCH/bench/bench_dialog" "${reps[@]}" | tee "$OUT/bench_dialog.txt" >&2

say "under Wine: start-up timing and the performance scenario"
scenarios=$OUT/scenarios
mkdir -p "$scenarios"
ln -s "$PWD/tests/e2e/scenarios/19_startup_timing.sh" "$PWD/tests/e2e/scenarios/45_perf.sh" "$scenarios/"
VOS_PERF=1 E2E_TIMING_RUNS=${E2E_TIMING_RUNS:-9} E2E_SCENARIOS=$scenarios E2E_ARTIFACTS=$OUT/e2e \
    tests/e2e/run.sh "$MINGW" | tee "$OUT/e2e.txt" >&2

# median NAME: the median of a benchmark, "<time> <unit>"; cpu_median NAME: its CPU time, which
# the machine's other work does not stretch as it does the real time
median() { awk -v n="$1_median" '$1 == n { print $2, $3 }' "$OUT"/bench_*.txt; }
cpu_median() { awk -v n="$1_median" '$1 == n { print $4, $5 }' "$OUT"/bench_*.txt; }
field() { tr ' ' '\n' <<<"$1" | sed -n "s/^$2=//p" | head -n 1; }
perf=$(cat "$OUT/e2e/45_perf/perf.txt")
line() { grep "^$1: " <<<"$perf" | head -n 1; }

{
    echo "machine: $(nproc) CPUs, $(awk '/^model name/ { sub(/^[^:]*: /, ""); print; exit }' /proc/cpuinfo), load $(cut -d' ' -f1-3 /proc/loadavg), $(wine --version 2>/dev/null)"
    echo
    echo "note event (bench_chord, median of 9): the MIDI wire carries one 3-byte message per 960 us"
    for n in 1 100 10000; do
        t=$(median "BM_NoteEvent/$n")
        echo "  $n launch codes: $t, CPU $(cpu_median "BM_NoteEvent/$n")  ($(awk -v t="${t% *}" -v u="${t#* }" 'BEGIN { ns = t * (u == "us" ? 1000 : u == "ms" ? 1e6 : 1); printf "%.0f", 960000 / ns }') per wire interval)"
    done
    echo
    echo "keystroke in the dialog, simulated host (bench_dialog, median of 9)"
    for n in 1 100 1000 10000; do echo "  path box, $n entries: $(median "BM_PathKeystroke/$n"), CPU $(cpu_median "BM_PathKeystroke/$n")"; done
    echo "  parameter box, 1000 entries (baseline): $(median BM_ParameterKeystroke/1000)"
    echo
    echo "under Wine"
    for k in standin_plain program_plain standin_launching program_launching; do
        l=$(line "thru_$k")
        echo "  thru at 1000/s, $k: median $(field "$l" median_us) us, p99 $(field "$l" p99_us) us, max $(field "$l" max_us) us, launches $(field "$l" launches)"
    done
    sed 's/^/  /' "$OUT/e2e/19_startup_timing/timing.txt"
    l=$(line memory_program)
    m=$(line memory_trayicon)
    r=$(line memory_rest)
    d=$(line memory_dialogs)
    for key in pagefile_bytes working_set win_anon_kb unix_anon_kb threads gdi handles open_handles windows; do
        echo "  memory $key: program at rest $(field "$r" "$key"), after ten dialogs $(field "$d" "$key"), after the streams $(field "$l" "$key"); minimal tray program $(field "$m" "$key")"
    done
    l=$(line keystroke_1000)
    echo "  keystroke, 1000 entries: path box $(field "$l" path_handled_median_us) us handled / $(field "$l" path_painted_median_us) us painted (p99 $(field "$l" path_handled_p99_us) / $(field "$l" path_painted_p99_us)); parameter box $(field "$l" parameters_handled_median_us) / $(field "$l" parameters_painted_median_us) us"
    l=$(line size)
    echo "  Vosselmar.exe: $(field "$l" unstripped) bytes, stripped $(field "$l" stripped) bytes"
} | tee "$OUT/summary.txt"
