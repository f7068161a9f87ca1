#!/usr/bin/env bash
# A changed program against today's, measured in one run for the change's note:
#
#   bench/compare.sh OLD_MINGW_DIR NEW_MINGW_DIR [OUT_DIR]
#
# Each MINGW_DIR is a mingw build (cmake --preset mingw) holding Vosselmar.exe; NEW_MINGW_DIR
# also gives the test tools in e2e/, which both programs use. Builds nothing. Default OUT_DIR
# build/perf-compare. Runs 47_perf_compare under Wine in a fresh prefix and Xvfb (see that
# scenario for how each figure is taken), the two programs taking turns, and prints for each
# figure the median over the rounds of both, their ratio and the noise, also kept in
# OUT_DIR/summary.txt beside the raw figures (OUT_DIR/e2e/47_perf_compare/compare.txt).
#
# Sizes (defaults for the note; about 13 minutes on two cores):
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
ln -s "$PWD/tests/e2e/scenarios/47_perf_compare.sh" "$scenarios/"
# a round takes the idle window and about 40 s more per program on a loaded machine
limit=$((300 + rounds * 2 * (idle + settle + 60)))
raw=$OUT/e2e/47_perf_compare/compare.txt
if ! VOS_COMPARE_OLD=$OLD/Vosselmar.exe E2E_SCENARIO_TIMEOUT=$limit E2E_SCENARIOS=$scenarios \
    E2E_ARTIFACTS=$OUT/e2e tests/e2e/run.sh "$NEW" | tee "$OUT/e2e.txt" >&2 || [[ ! -s $raw ]]; then
    # a table of the rounds that did finish would compare more of one program than of the other
    echo "compare.sh: no figures (see $OUT/e2e/47_perf_compare/output.log)" >&2
    exit 1
fi

{
    echo "machine: $(nproc) CPUs, $(awk '/^model name/ { sub(/^[^:]*: /, ""); print; exit }' /proc/cpuinfo), load $load0 at the start, $(cut -d' ' -f1-3 /proc/loadavg) at the end, $(wine --version 2>/dev/null)"
    echo "old: $OLD/Vosselmar.exe"
    echo "new: $NEW/Vosselmar.exe"
    echo "$rounds rounds in turns; per program and round: ${VOS_COMPARE_STARTS:-3} starts, ${idle} s idle, ${VOS_COMPARE_MESSAGES:-3000} thru messages; took $(($(date +%s) - t0)) s"
    echo
    awk -v idle="$idle" -f bench/compare_table.awk "$raw"
} | tee "$OUT/summary.txt"
