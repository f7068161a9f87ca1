# The table of bench/compare.sh, from the lines 47_perf_compare writes (compare.txt):
#
#   awk -v idle=SECONDS -f bench/compare_table.awk compare.txt
#
# For each figure: the median over the rounds of each program with their range, the ratio
# new/old of the medians, the noise (the wider of the two ranges, also as a share of that
# program's median) and the verdict. Every figure is better smaller.

function field(k,   i) {
    for (i = 1; i <= NF; i++) if (index($i, k "=") == 1) return substr($i, length(k) + 2)
    return ""
}
function sortn(a, n,   i, j, t) {
    for (i = 2; i <= n; i++)
        for (j = i; j > 1 && a[j - 1] + 0 > a[j] + 0; j--) { t = a[j]; a[j] = a[j - 1]; a[j - 1] = t }
}
function median(a, n) { return n % 2 ? a[(n + 1) / 2] + 0 : (a[n / 2] + a[n / 2 + 1]) / 2 }
function median_of(list,   a, n) { n = split(list, a, ","); sortn(a, n); return median(a, n) }
function add(p, k, v) { vals[p, k] = vals[p, k] (vals[p, k] == "" ? "" : ",") v }

{
    p = field("program")
    rounds[p]++
    add(p, "idle_program_ms", field("idle_program_ms"))
    add(p, "idle_wineserver_ms", field("idle_wineserver_ms"))
    add(p, "idle_rest_ms", field("idle_rest_ms"))
    add(p, "thru_median_us", field("thru_median_us"))
    add(p, "thru_p99_us", field("thru_p99_us"))
    # a round's start figure is the median of its starts
    add(p, "start_ms", median_of(field("start_ms")))
}

function stats(p, k,   a, n) {
    n = split(vals[p, k], a, ","); sortn(a, n)
    med[p] = median(a, n); lo[p] = a[1] + 0; hi[p] = a[n] + 0
}
function num(v) { return v == int(v) ? sprintf("%d", v) : sprintf("%.1f", v) }
function line(a, b, c, d, e, f) { printf "%-40s %-24s %-24s %-8s %-18s %s\n", a, b, c, d, e, f }

function row(label, k, unit,   ratio, s, base, noise, verdict) {
    stats("old", k); stats("new", k)
    ratio = med["old"] > 0 ? sprintf("%.2f", med["new"] / med["old"]) : "-"
    s = hi["old"] - lo["old"]; base = med["old"]
    if (hi["new"] - lo["new"] > s) { s = hi["new"] - lo["new"]; base = med["new"] }
    noise = num(s) " " unit (base > 0 ? sprintf(" (%.0f%%)", 100 * s / base) : "")
    verdict = lo["new"] > hi["old"] ? "worse" : hi["new"] < lo["old"] ? "better" : "within noise"
    line(label, num(med["old"]) " [" num(lo["old"]) "-" num(hi["old"]) "]",
         num(med["new"]) " [" num(lo["new"]) "-" num(hi["new"]) "]", ratio, noise, verdict)
}

END {
    if (!rounds["old"] || rounds["old"] != rounds["new"]) {
        printf "compare_table: %d rounds of the old program, %d of the new\n", rounds["old"], rounds["new"] > "/dev/stderr"
        exit 1
    }
    # all n rounds of one program above all n of the other, by chance alone: 1 in C(2n, n)
    n = rounds["old"]; odds = 1
    for (i = 1; i <= n; i++) odds = odds * (n + i) / i
    printf "verdict: \"worse\" or \"better\" when every round of the new program lies beyond every round of the old one (by chance alone: once in %d)\n\n", odds
    line("figure (median of rounds [min-max])", "old", "new", "new/old", "noise", "verdict")
    row("idle CPU, program, ms in " idle " s", "idle_program_ms", "ms")
    row("idle CPU, wineserver, ms in " idle " s", "idle_wineserver_ms", "ms")
    row("idle CPU, rest of Wine + Xvfb, ms in " idle " s", "idle_rest_ms", "ms")
    row("thru at 1000/s, median, us", "thru_median_us", "us")
    row("thru at 1000/s, 99th percentile, us", "thru_p99_us", "us")
    row("start to tray icon, ms", "start_ms", "ms")
}
