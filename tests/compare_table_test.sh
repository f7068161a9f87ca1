#!/usr/bin/env bash
# The table bench/compare.sh prints (bench/compare_table.awk) from made-up rounds: medians over
# odd and even numbers of rounds, a round's start figure as the median of its starts, the
# ratio, the noise, and a verdict only when the two programs' rounds do not overlap at all.
set -euo pipefail
cd "$(dirname "$0")/.."
failed=0

# rounds OLD_VALUES NEW_VALUES: compare.txt lines, every figure of a round the given value;
# the starts of a round are value-1, value+1000 and value, whose median is the value again
rounds() {
    local p v r
    for p in old new; do
        r=0
        for v in $([[ $p == old ]] && echo "$1" || echo "$2"); do
            r=$((r + 1))
            echo "round=$r program=$p start_ms=$((v - 1)),$((v + 1000)),$v idle_s=5.01 idle_program_ms=$v" \
                "idle_wineserver_ms=$v idle_rest_ms=$v thru_median_us=$v thru_p99_us=$v thru_max_us=$((v * 3))"
        done
    done
}

# case | old rounds | new rounds | figure | its row after the figure (blanks squeezed)
while IFS='|' read -r name old new figure row; do
    [[ -n $name ]] || continue
    want="$figure $row"
    got=$(rounds "$old" "$new" | awk -v idle=5 -f bench/compare_table.awk | tr -s ' ' |
        awk -v f="$figure " 'index($0, f) == 1')
    if [[ $got != "$want" ]]; then
        printf 'compare table, %s:\n  want: %s\n  got:  %s\n' "$name" "$want" "$got" >&2
        failed=1
    fi
done <<'EOF'
same rounds|100 110 120|100 110 120|thru at 1000/s, median, us|110 [100-120] 110 [100-120] 1.00 20 us (18%) within noise
every new round above|100 110 120|130 140 150|thru at 1000/s, 99th percentile, us|110 [100-120] 140 [130-150] 1.27 20 us (18%) worse
starts: a round's median|100 110 120|130 140 150|start to tray icon, ms|110 [100-120] 140 [130-150] 1.27 20 ms (18%) worse
every new round below|130 140 150|100 110 120|idle CPU, wineserver, ms in 5 s|140 [130-150] 110 [100-120] 0.79 20 ms (14%) better
touching ranges|100 110 120|120 130 140|thru at 1000/s, median, us|110 [100-120] 130 [120-140] 1.18 20 us (18%) within noise
even rounds, wider new|10 20|10 30|thru at 1000/s, median, us|15 [10-20] 20 [10-30] 1.33 20 us (100%) within noise
nothing at rest before|0 0 0|0 10 0|idle CPU, program, ms in 5 s|0 [0-0] 0 [0-10] - 10 ms within noise
EOF

# the chance a verdict comes from luck: 1 in C(2n, n)
for n in 2:6 3:20 5:252; do
    vals=$(seq 1 "${n%:*}" | tr '\n' ' ')
    rounds "$vals" "$vals" | awk -v idle=5 -f bench/compare_table.awk | grep -q "once in ${n#*:})" ||
        { echo "compare table: ${n%:*} rounds should give once in ${n#*:}" >&2; failed=1; }
done
# a round missing on one side is no table
if rounds "1 2" "1" | awk -v idle=5 -f bench/compare_table.awk >/dev/null 2>&1; then
    echo "compare table: made a table of 2 old rounds against 1 new" >&2
    failed=1
fi
((failed == 0)) && echo "compare table: all cases pass"
exit "$failed"
