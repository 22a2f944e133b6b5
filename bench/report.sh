#!/usr/bin/env bash
# Turns the benchmark's raw numbers into results.md and growth.png.
#   bench/report.sh RAWDIR RESULTSDIR PAGE_BYTES
set -euo pipefail
raw=$1
results=$2
page_bytes=$3
here=$(cd "$(dirname "$0")" && pwd)
md=$results/results.md

direct=$raw/direct.tsv
reads=$raw/growth-read.tsv
writes=$raw/growth-write.tsv
web=$raw/web.tsv
for file in "$direct" "$reads" "$writes" "$web"; do [ -e "$file" ] || : >"$file"; done

# Column of a case in a cgi_bench table: 2 runs, 4 median, 5 p99, 9 peak KiB, 10 output bytes, 11 bytes.
value() {  # file case column
  awk -F'\t' -v name="$2" -v col="$3" '$1 == name { print $col; found = 1 } END { if (!found) print "" }' "$1"
}
# Verdicts are taken on four decimals; the tables round to two.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print ""; else printf "%.4f", a / b }'; }
shown() { awk -v r="$1" -v d="${2:-2}" 'BEGIN { if (r == "") print "no value"; else printf "%.*f", d, r }'; }
verdict() {  # value op limit
  awk -v v="$1" -v op="$2" -v l="$3" 'BEGIN {
    if (v == "") { print "not measured"; exit }
    ok = (op == "<=") ? (v <= l) : (v >= l)
    print ok ? "met" : "not met"
  }'
}
us() { awk -v v="$1" 'BEGIN { if (v == "") print "–"; else printf "%.0f", v }'; }
# Goal of a program against the statically linked minimal C program.
limit_of() { if [ "$1" = DropPage ]; then echo 1.25; else echo 1.10; fi; }

cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
compiler=$(c++ --version | head -1)
os=$( (. /etc/os-release && echo "$PRETTY_NAME") 2>/dev/null || uname -s)
runs=$(value "$direct" Baseline-static 2)
baseline=$(value "$direct" Baseline-static 4)
launcher_kb=$(cat "$raw/launcher-kb.txt" 2>/dev/null || echo '?')
seconds=${BENCH_SECONDS:-}
load=${BENCH_LOAD:-}
rounds=$(awk -F'\t' '$2 > r { r = $2 } END { print r + 0 }' "$web")
programs="FormPage ListPage ShowPage SavePage EditPage DropPage"

{
  echo "# Benchmark results"
  echo
  echo "Run $(date -u '+%Y-%m-%d %H:%M UTC') with \`${BENCH_COMMAND:-bash bench/run.sh}\`${seconds:+, which took $((seconds / 60)) min $((seconds % 60)) s}."
  echo
  echo "Machine: $(nproc) cores, $cpu; kernel $(uname -r); $os; $compiler."
  [ -n "$load" ] && echo "Load average (1 min) before the run ${load% *}, after it ${load#* }."
  echo "Programs built in Release (\`build-bench/\`) and linked statically; the minimal C program prints a fixed"
  echo "page of $page_bytes bytes, the size of the listing page, in one write. Every ratio is taken against the"
  echo "minimal C program linked statically, like the programs; the dynamically linked one is shown beside it."
  echo
  echo "## Each program run directly as a CGI process"
  echo
  echo "$runs runs of each, interleaved one by one; wall time from spawn to exit, stdout read through a pipe."
  echo "ListPage lists the newest page of a board of 1000 messages, ShowPage and EditPage message 500 of it;"
  echo "SavePage posts a new message to a board of 10 and DropPage erases message 5 of 10. Their boards are"
  echo "put back before every run, outside the timed region: rewritten in place and synced to disk together"
  echo "with their directory, so no run pays for the write-back of the one before, nor for freeing a replaced file."
  echo
  echo "Peak memory is the program's own: after the timed runs each case runs again under a small static"
  echo "launcher that vforks, execs the program and reads the child's maximum resident set from wait4. (A"
  echo "child spawned by the driver itself would report the driver's resident set, which Linux carries over"
  echo "the exec.) The launcher's own image is about $launcher_kb KiB; figures near it, like the minimal C"
  echo "program's, say only that the program is about that small."
  echo
  echo "| Program | median µs | p99 µs | peak memory KiB | page bytes | median / minimal C | goal |"
  echo "|---|---:|---:|---:|---:|---:|---|"
  awk -F'\t' -v base="$baseline" '$1 !~ /-dynamic$/ {
    r = base > 0 ? $4 / base : 0
    label = "`" $1 "`"
    if ($1 == "true") label = "/bin/true"
    if ($1 == "Baseline-static") label = "minimal C (the reference)"
    if ($1 == "Baseline") label = "minimal C, linked dynamically"
    goal = ""
    if ($1 != "true" && $1 !~ /^Baseline/) {
      limit = $1 == "DropPage" ? 1.25 : 1.10
      goal = sprintf("≤ %.2f: %s", limit, sprintf("%.4f", r) + 0 <= limit ? "met" : "not met")
    }
    printf "| %s | %.0f | %.0f | %d | %d | %.2f | %s |\n", label, $4, $5, $9, $10, r, goal
  }' "$direct"
  echo
  echo "The same programs linked dynamically against libstdc++ (\`-DGESIPAN_STATIC_PROGRAMS=OFF\`), in the"
  echo "same interleaved runs:"
  echo
  echo "| Program | dynamic median µs | dynamic peak KiB | static median µs | static peak KiB | time saved by static linking |"
  echo "|---|---:|---:|---:|---:|---:|"
  for program in $programs; do
    awk -F'\t' -v p="$program" '{ med[$1] = $4; rss[$1] = $9 }
      END {
        d = p "-dynamic"
        if (!(d in med) || !(p in med)) exit
        printf "| `%s` | %.0f | %d | %.0f | %d | %.0f%% |\n", p, med[d], rss[d], med[p], rss[p], 100 * (med[d] - med[p]) / med[d]
      }' "$direct"
  done
  echo
  echo "## Growth with the board"
  echo
  echo "Median µs of the same request on boards of 10, 1000 and 9999 messages, the three interleaved run by run."
  echo "Reads: $(value "$reads" ListPage-newest-10 2) runs a case. Erasing and posting: the board is put back before every run"
  echo "as above, $(value "$writes" cp-10 2), $(value "$writes" cp-1000 2) and $(value "$writes" cp-9999 2) runs at the three sizes. Posting goes to a board of 9,"
  echo "999 or 9998 messages, which then holds 10, 1000 or 9999."
  echo
  echo "| Request | 10 messages | 1000 messages | 9999 messages | 9999 / 10 | goal |"
  echo "|---|---:|---:|---:|---:|---|"
  growth_row() {  # file case-prefix label limit
    local small large r goal=""
    small=$(value "$1" "$2-10" 4)
    [ -z "$small" ] && return 0
    large=$(value "$1" "$2-9999" 4)
    r=$(ratio "$large" "$small")
    [ -n "$4" ] && goal="≤ $4: $(verdict "$r" '<=' "$4")"
    printf '| %s | %s | %s | %s | %s | %s |\n' "$3" "$(us "$small")" "$(us "$(value "$1" "$2-1000" 4)")" "$(us "$large")" \
      "$(shown "$r")" "$goal"
  }
  growth_row "$reads" ListPage-newest '`ListPage`, newest page' 1.1
  growth_row "$reads" ListPage-middle '`ListPage`, page in the middle' 1.1
  growth_row "$reads" ListPage-oldest '`ListPage`, oldest page' 1.1
  growth_row "$reads" ShowPage-first '`ShowPage`, first message' 1.1
  growth_row "$reads" ShowPage-last '`ShowPage`, last message' 1.1
  growth_row "$reads" EditPage-first '`EditPage`, first message' ''
  growth_row "$reads" EditPage-last '`EditPage`, last message' ''
  growth_row "$writes" SavePage '`SavePage`, posting' ''
  growth_row "$writes" DropPage-last '`DropPage`, erasing the last message' 1.2
  growth_row "$writes" DropPage-first '`DropPage`, erasing the first message' ''
  echo
  echo "Erasing the first message moves every later record. \`cp\` copies the same index file to a new file as a"
  echo "fresh process, in the same interleaved runs; neither waits for the disk."
  echo
  echo "| Messages | index bytes | runs | DropPage median µs | DropPage MB/s | cp median µs | cp MB/s | DropPage / cp | goal |"
  echo "|---:|---:|---:|---:|---:|---:|---:|---:|---|"
  for count in 10 1000 9999; do
    drop=$(value "$writes" "DropPage-first-$count" 4)
    copy=$(value "$writes" "cp-$count" 4)
    bytes=$(value "$writes" "cp-$count" 11)
    n=$(value "$writes" "cp-$count" 2)
    [ -z "$copy" ] && continue
    r=$(ratio "$copy" "$drop")
    goal=""
    [ "$count" = 9999 ] && goal="≥ 0.5: $(verdict "$r" '>=' 0.5)"
    awk -v c="$count" -v b="$bytes" -v n="$n" -v d="$drop" -v p="$copy" -v r="$r" -v g="$goal" 'BEGIN {
      if (d == "") printf "| %d | %d | %d | not built | | %.0f | %.1f | | %s |\n", c, b, n, p, b / p, g
      else printf "| %d | %d | %d | %.0f | %.1f | %.0f | %.1f | %.2f | %s |\n", c, b, n, d, b / d, p, b / p, r, g
    }'
  done
  echo
  echo "## Through the web server"
  echo
  echo "lighttpd with mod_cgi on 127.0.0.1, \`ab\` with ${WEB_CONCURRENCY:-4} requests at a time and a new connection per request."
  echo "$rounds rounds; each round runs every target once (bounded by a request count and a time), the order"
  echo "turning by one target per round. Each figure is the median over the rounds, with the lowest and the"
  echo "highest round beside it; the last column is the static minimal C CGI's requests per second over the"
  echo "target's, taken within each round. The static file is the listing page saved as HTML; posting"
  echo "appends to a board that starts with 10 messages."
  echo
  echo "| Target | requests | requests/s | range | p50 ms | p99 ms | failed | time / minimal C | range |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|"
  awk -F'\t' '
    function med(list, n,   a, i, j, t, k) {
      k = split(list, a, " ")
      for (i = 2; i <= k; ++i) { t = a[i] + 0; for (j = i - 1; j >= 1 && a[j] + 0 > t; --j) a[j + 1] = a[j]; a[j + 1] = t }
      lo = a[1]; hi = a[k]
      return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
    }
    { rps[$1, $2] = $3; key = $1
      if (!(key in seen)) { seen[key] = 1; order[++names] = key }
      list_rps[key] = list_rps[key] " " $3; list_p50[key] = list_p50[key] " " $6; list_p99[key] = list_p99[key] " " $8
      done[key] += $4; failed[key] += $5; rounds[key, $2] = 1 }
    END {
      for (i = 1; i <= names; ++i) {
        n = order[i]
        label = n == "static" ? "static file" : "`" n "`"
        if (n == "Baseline-static") label = "minimal C CGI (the reference)"
        if (n == "Baseline") label = "minimal C CGI, linked dynamically"
        if (n == "ListPage") label = label " (listing)"
        if (n == "ShowPage") label = label " (view)"
        if (n == "SavePage") label = label " (posting)"
        m = med(list_rps[n]); rlo = lo; rhi = hi
        p50 = med(list_p50[n]); p99 = med(list_p99[n])
        ratios = ""
        for (key in rounds) {
          split(key, part, SUBSEP)
          if (part[1] == n && ((part[1] SUBSEP part[2]) in rps) && (("Baseline-static" SUBSEP part[2]) in rps))
            ratios = ratios " " rps["Baseline-static", part[2]] / rps[n, part[2]]
        }
        if (ratios == "") { rm = ""; range = "" }
        else { rm = sprintf("%.2f", med(ratios)); range = sprintf("%.2f–%.2f", lo, hi) }
        printf "| %s | %d | %.0f | %.0f–%.0f | %.2f | %.2f | %d | %s | %s |\n", label, done[n], m, rlo, rhi, p50, p99, failed[n], rm, range
      }
    }' "$web"
  echo
  echo "## Goals"
  echo
  worst=$(awk -F'\t' -v base="$baseline" '$1 != "true" && $1 !~ /^Baseline/ && $1 !~ /-dynamic$/ && $1 != "DropPage" {
      r = $4 / base; if (r > w) { w = r; n = $1 } }
    END { if (n != "") printf "%.4f %s", w, n }' "$direct")
  if [ -n "$worst" ] && [ -n "$baseline" ]; then
    echo "- Every program but \`DropPage\` within 1.10 times the minimal C program's median: $(verdict "${worst% *}" '<=' 1.10) (highest: \`${worst#* }\` at $(shown "${worst% *}" 3))."
  else
    echo "- Every program but \`DropPage\` within 1.10 times the minimal C program's median: not measured."
  fi
  r=$(ratio "$(value "$direct" DropPage 4)" "$baseline")
  echo "- \`DropPage\` within 1.25 times the minimal C program's median: $(verdict "$r" '<=' 1.25) ($(shown "$r" 3))."
  for pair in ListPage-newest:'`ListPage`, newest page' ListPage-middle:'`ListPage`, page in the middle' \
    ListPage-oldest:'`ListPage`, oldest page' ShowPage-first:'`ShowPage`, first message' ShowPage-last:'`ShowPage`, last message'; do
    r=$(ratio "$(value "$reads" "${pair%%:*}-9999" 4)" "$(value "$reads" "${pair%%:*}-10" 4)")
    echo "- ${pair#*:}, on 9999 messages within 1.1 times its time on 10: $(verdict "$r" '<=' 1.1) ($(shown "$r" 3))."
  done
  r=$(ratio "$(value "$writes" DropPage-last-9999 4)" "$(value "$writes" DropPage-last-10 4)")
  echo "- \`DropPage\` erasing the last of 9999 messages within 1.2 times erasing the last of 10: $(verdict "$r" '<=' 1.2) ($(shown "$r" 3))."
  r=$(ratio "$(value "$writes" cp-9999 4)" "$(value "$writes" DropPage-first-9999 4)")
  echo "- \`DropPage\` erasing the first of 9999 messages at no less than half a plain copy's throughput: $(verdict "$r" '>=' 0.5) (DropPage / cp: $(shown "$r" 3))."
} >"$md"

# Growth curves: the reads on the left, the writes against cp on the right.
data=$raw/growth.dat
{
  echo "# messages ListPage-newest ListPage-oldest ShowPage-first ShowPage-last EditPage-last SavePage DropPage-first DropPage-last cp (median us)"
  for count in 10 1000 9999; do
    line=$count
    for cell in "$(value "$reads" "ListPage-newest-$count" 4)" "$(value "$reads" "ListPage-oldest-$count" 4)" \
      "$(value "$reads" "ShowPage-first-$count" 4)" "$(value "$reads" "ShowPage-last-$count" 4)" \
      "$(value "$reads" "EditPage-last-$count" 4)" "$(value "$writes" "SavePage-$count" 4)" \
      "$(value "$writes" "DropPage-first-$count" 4)" "$(value "$writes" "DropPage-last-$count" 4)" \
      "$(value "$writes" "cp-$count" 4)"; do
      line="$line ${cell:-NaN}"
    done
    echo "$line"
  done
} >"$data"
if [ "${BENCH_PLOT:-1}" = 1 ]; then
  gnuplot -e "data='$data'; out='$results/growth.png'" "$here/growth.gp"
fi
