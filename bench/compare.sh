#!/usr/bin/env bash
# A changed program against today's, measured in one run for the change's note:
#
#   bench/compare.sh OLD_MINGW_DIR NEW_MINGW_DIR [OUT_DIR]
#
# Each MINGW_DIR is a mingw build (cmake --preset mingw) holding Vosselmar.exe; NEW_MINGW_DIR
# also gives the test tools in e2e/, which both programs use. Builds nothing. Default OUT_DIR
# build/perf-compare. Runs 46_perf_compare under Wine in a fresh prefix and Xvfb (see that
# scenario for how each figure is taken), the two programs taking turns, and prints for each
# figure the median over the rounds of both, their ratio and the noise, also kept in
# OUT_DIR/summary.txt beside the raw figures (OUT_DIR/e2e/46_perf_compare/compare.txt).
#
# Sizes (defaults for the note; about 14 minutes on two cores):
#   VOS_COMPARE_ROUNDS=5     rounds, each measuring both programs once
#   VOS_COMPARE_STARTS=3     timed starts per program and round (the round's figure: their median)
#   VOS_COMPARE_IDLE=60      seconds of idle measured per program and round
#   VOS_COMPARE_SETTLE=5     seconds after the start before the idle window opens
#   VOS_COMPARE_MESSAGES=3000  thru messages per program and round
#
# Noise is how far apart two rounds of the same program came: max - min of the rounds, the
# larger of the two programs', also as a share of that program's median. The verdict says
# "worse" or "better" only when every round of the new program lies beyond every round of the
# old one (with 5 rounds each, chance alone does that once in 252, with 2 once in 6); otherwise
# "within noise". Passing the same build twice shows the noise of this machine on its own. The
# idle figures come in steps of 10 ms (Linux's clock tick), and a process that wakes briefly is
# charged a whole tick now and then: over 60 s one step is 0.017 % of a CPU.
set -euo pipefail
cd "$(dirname "$0")/.."
(($# >= 2 && $# <= 3)) || { sed -n '2,/^set -e/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2; exit 2; }
OLD=$1
NEW=$2
OUT=${3:-build/perf-compare}
for f in "$OLD/Vosselmar.exe" "$NEW/Vosselmar.exe"; do
    [[ -f $f ]] || { echo "compare.sh: $f is not built" >&2; exit 2; }
done
OLD=$(cd "$OLD" && pwd)
NEW=$(cd "$NEW" && pwd)
rounds=${VOS_COMPARE_ROUNDS:-5}
idle=${VOS_COMPARE_IDLE:-60}
settle=${VOS_COMPARE_SETTLE:-5}
rm -rf "$OUT"
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)

load0=$(cut -d' ' -f1-3 /proc/loadavg)
t0=$(date +%s)
scenarios=$OUT/scenarios
mkdir -p "$scenarios"
ln -s "$PWD/tests/e2e/scenarios/46_perf_compare.sh" "$scenarios/"
# a round takes the idle window and about 40 s more per program on a loaded machine
limit=$((300 + rounds * 2 * (idle + settle + 60)))
raw=$OUT/e2e/46_perf_compare/compare.txt
if ! VOS_COMPARE_OLD=$OLD/Vosselmar.exe E2E_SCENARIO_TIMEOUT=$limit E2E_SCENARIOS=$scenarios \
    E2E_ARTIFACTS=$OUT/e2e tests/e2e/run.sh "$NEW" | tee "$OUT/e2e.txt" >&2 || [[ ! -s $raw ]]; then
    # a table of the rounds that did finish would compare more of one program than of the other
    echo "compare.sh: no figures (see $OUT/e2e/46_perf_compare/output.log)" >&2
    exit 1
fi

{
    echo "machine: $(nproc) CPUs, $(awk '/^model name/ { sub(/^[^:]*: /, ""); print; exit }' /proc/cpuinfo), load $load0 at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end, $(wine --version 2>/dev/null)"
    echo "old: $OLD/Vosselmar.exe"
    echo "new: $NEW/Vosselmar.exe"
    echo "$rounds rounds in turns; per program and round: ${VOS_COMPARE_STARTS:-3} starts, ${idle} s idle, ${VOS_COMPARE_MESSAGES:-3000} thru messages; took $(($(date +%s) - t0)) s"
    echo
    awk -v idle="$idle" '
        function field(k,   i) { for (i = 1; i <= NF; i++) if (index($i, k "=") == 1) return substr($i, length(k) + 2); return "" }
        function median_of(list,   a, n) { n = split(list, a, ","); sortn(a, n); return median(a, n) }
        function median(a, n) { return n % 2 ? a[(n + 1) / 2] + 0 : (a[n / 2] + a[n / 2 + 1]) / 2 }
        function sortn(a, n,   i, j, t) { for (i = 2; i <= n; i++) for (j = i; j > 1 && a[j - 1] + 0 > a[j] + 0; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t } }
        function add(p, k, v) { vals[p, k] = vals[p, k] (vals[p, k] == "" ? "" : ",") v }
        {
            p = field("program")
            add(p, "idle_program_ms", field("idle_program_ms"))
            add(p, "idle_wineserver_ms", field("idle_wineserver_ms"))
            add(p, "idle_rest_ms", field("idle_rest_ms"))
            add(p, "thru_median_us", field("thru_median_us"))
            add(p, "thru_p99_us", field("thru_p99_us"))
            add(p, "start_ms", median_of(field("start_ms")))
        }
        function stats(p, k,   a, n) {
            n = split(vals[p, k], a, ","); sortn(a, n)
            med[p] = median(a, n); lo[p] = a[1] + 0; hi[p] = a[n] + 0; count[p] = n
        }
        function count_rounds(   k, a) { for (k in vals) if (index(k, "old" SUBSEP) == 1) return split(vals[k], a, ","); return 0 }
        function num(v) { return v == int(v) ? sprintf("%d", v) : sprintf("%.1f", v) }
        function row(label, k, unit,   r, s, so, sn, noise, verdict) {
            stats("old", k); stats("new", k)
            r = med["old"] > 0 ? sprintf("%.2f", med["new"] / med["old"]) : "-"
            so = hi["old"] - lo["old"]; sn = hi["new"] - lo["new"]
            if (sn > so) { s = sn; base = med["new"] } else { s = so; base = med["old"] }
            noise = num(s) " " unit (base > 0 ? sprintf(" (%.0f%%)", 100 * s / base) : "")
            verdict = lo["new"] > hi["old"] ? "worse" : hi["new"] < lo["old"] ? "better" : "within noise"
            printf "%-38s %-24s %-24s %-6s %-18s %s\n", label,
                num(med["old"]) " [" num(lo["old"]) "-" num(hi["old"]) "]",
                num(med["new"]) " [" num(lo["new"]) "-" num(hi["new"]) "]", r, noise, verdict
        }
        END {
            # the chance that all n rounds of one land above all n of the other by luck: 1 / C(2n, n)
            n = count_rounds(); odds = 1
            for (i = 1; i <= n; i++) odds = odds * (n + i) / i
            printf "verdict: \"worse\" or \"better\" when every round of the new program lies beyond every round of the old one (chance alone: once in %d)\n\n", odds
            printf "%-38s %-24s %-24s %-6s %-18s %s\n", "figure (median of rounds [min-max])", "old", "new", "new/old", "noise", "verdict"
            row("idle CPU, program, ms in " idle " s", "idle_program_ms", "ms")
            row("idle CPU, wineserver, ms in " idle " s", "idle_wineserver_ms", "ms")
            row("idle CPU, explorer etc. + Xvfb, ms", "idle_rest_ms", "ms")
            row("thru at 1000/s, median, us", "thru_median_us", "us")
            row("thru at 1000/s, 99th percentile, us", "thru_p99_us", "us")
            row("start to tray icon, ms", "start_ms", "ms")
        }' "$raw"
} | tee "$OUT/summary.txt"
