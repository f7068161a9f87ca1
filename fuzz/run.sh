#!/usr/bin/env bash
# Builds the fuzz preset and runs each libFuzzer target for a bounded time on a copy of its seed
# corpus (fuzz/corpus/<target>/ is never changed). Fails on any crash, leak, hang (an input that
# takes more than 10 s), memory blow-up or failed requirement; the input that did it is kept in
# build/fuzz/artifacts/.
#
#   fuzz/run.sh [SECONDS_PER_TARGET]     default 10
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
targets=(fuzz_settings fuzz_side_files fuzz_midi)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

stat() { sed -n "s/^stat::$1: *//p" "$2"; }

for target in "${targets[@]}"; do
    cp -r "fuzz/corpus/$target" "$work/$target"
    log=build/fuzz/$target.log
    if ! "build/fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$artifacts/$target-" "$work/$target" >"$log" 2>&1; then
        tail -n 40 "$log" >&2
        echo "fuzz: $target FAILED; the input is in $artifacts/, the log in $log" >&2
        exit 1
    fi
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$done_line")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$done_line")
    corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9]*[a-zA-Z]*\).*/\1/p' <<<"$done_line")
    printf '%-16s %ss  runs %s  exec/s %s  cov %s  ft %s  corpus %s  peak RSS %s MB  crashes 0\n' \
        "$target" "$seconds" "$(stat number_of_executed_units "$log")" \
        "$(stat average_exec_per_sec "$log")" "$cov" "$ft" "$corp" "$(stat peak_rss_mb "$log")"
done
