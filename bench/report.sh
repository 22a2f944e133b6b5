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
erases=$raw/growth-erase.tsv
web=$raw/web.tsv

# Column of a case in a cgi_bench table: 4 median, 5 p99, 9 peak KiB, 10 output bytes.
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

cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
compiler=$(c++ --version | head -1)
os=$( (. /etc/os-release && echo "$PRETTY_NAME") 2>/dev/null || uname -s)
runs=$(value "$direct" Baseline 2)
baseline=$(value "$direct" Baseline 4)

{
  echo "# Benchmark results"
  echo
  echo "Run $(date -u '+%Y-%m-%d %H:%M UTC') with \`bash bench/run.sh\`."
  echo
  echo "Machine: $(nproc) cores, $cpu; kernel $(uname -r); $os; $compiler."
  echo "Programs built in Release (\`build-bench/\`); the minimal C program prints a fixed page of"
  echo "$page_bytes bytes, the size of the listing page, in one write."
  echo
  echo "## Each program run directly as a CGI process"
  echo
  echo "$runs runs of each, interleaved one by one; wall time from spawn to exit, stdout read through a pipe."
  echo "ListPage lists the newest page of a board of 1000 messages, ShowPage and EditPage message 500 of it;"
  echo "SavePage posts a new message to a board of 10 and DropPage erases message 5 of 10, both boards"
  echo "restored from a copy before every run, outside the timed region."
  echo
  echo "Peak memory is the child's maximum resident set from wait4. Linux counts the spawning driver's own"
  echo "resident set (about $(cat "$raw/driver-maxrss.txt" 2>/dev/null || echo '?') KiB, static) into it, so the smallest figures are a floor: a program"
  echo "shown at the same figure as the static minimal C program used no more than it."
  echo
  echo "| Program | median µs | p99 µs | peak memory KiB | page bytes | median / minimal C | goal ≤ 1.3 |"
  echo "|---|---:|---:|---:|---:|---:|---|"
  awk -F'\t' -v base="$baseline" '$1 !~ /-dynamic$/ {
    r = base > 0 ? $4 / base : 0
    label = "`" $1 "`"
    if ($1 == "true") label = "/bin/true"
    if ($1 == "Baseline") label = "minimal C"
    if ($1 == "Baseline-static") label = "minimal C, linked statically"
    goal = ($1 == "true" || $1 ~ /^Baseline/) ? "" : (r <= 1.3 ? "met" : "not met")
    printf "| %s | %.0f | %.0f | %d | %d | %.2f | %s |\n", label, $4, $5, $9, $10, r, goal
  }' "$direct"
  echo
  echo "The programs are linked statically (\`GESIPAN_STATIC_PROGRAMS\`). The same programs linked dynamically"
  echo "against libstdc++, in the same interleaved runs:"
  echo
  echo "| Program | dynamic median µs | dynamic peak KiB | static median µs | static peak KiB | time saved |"
  echo "|---|---:|---:|---:|---:|---:|"
  awk -F'\t' '{ med[$1] = $4; rss[$1] = $9 }
    END {
      for (name in med) {
        if (name !~ /-dynamic$/) continue
        base = substr(name, 1, length(name) - 8)
        if (!(base in med)) continue
        printf "| `%s` | %.0f | %d | %.0f | %d | %.0f%% |\n", base, med[name], rss[name], med[base], rss[base],
               100 * (med[name] - med[base]) / med[name]
      }
    }' "$direct" | sort
  echo
  echo "## Growth with the board"
  echo
  echo "Median µs of $(value "$reads" ListPage-10 2) runs a case; ListPage lists the newest page, ShowPage shows the newest message."
  echo
  echo "| Program | 10 messages | 1000 messages | 9999 messages | 9999 / 10 | goal ≤ 1.1 |"
  echo "|---|---:|---:|---:|---:|---|"
  for program in ListPage ShowPage; do
    small=$(value "$reads" "$program-10" 4)
    [ -z "$small" ] && continue
    large=$(value "$reads" "$program-9999" 4)
    r=$(ratio "$large" "$small")
    printf '| `%s` | %.0f | %.0f | %.0f | %s | %s |\n' "$program" "$small" "$(value "$reads" "$program-1000" 4)" "$large" \
      "$(shown "$r")" "$(verdict "$r" '<=' 1.1)"
  done
  echo
  echo "Erasing the first message rewrites the whole index file; \`cp\` copies the same file as a fresh"
  echo "process (the erase's pristine board is put back before each run, outside the timed region)."
  echo
  echo "| Messages | index bytes | runs | DropPage median µs | DropPage MB/s | cp median µs | cp MB/s | DropPage / cp | goal ≥ 0.5 |"
  echo "|---:|---:|---:|---:|---:|---:|---:|---:|---|"
  for count in 10 1000 9999; do
    drop=$(value "$erases" "DropPage-$count" 4)
    copy=$(value "$erases" "cp-$count" 4)
    bytes=$(value "$erases" "cp-$count" 11)
    n=$(value "$erases" "cp-$count" 2)
    [ -z "$copy" ] && continue
    r=$(ratio "$copy" "$drop")
    goal=""
    [ "$count" = 9999 ] && goal=$(verdict "$r" '>=' 0.5)
    awk -v c="$count" -v b="$bytes" -v n="$n" -v d="$drop" -v p="$copy" -v r="$r" -v g="$goal" 'BEGIN {
      if (d == "") printf "| %d | %d | %d | not built | | %.0f | %.1f | | %s |\n", c, b, n, p, b / p, g
      else printf "| %d | %d | %d | %.0f | %.1f | %.0f | %.1f | %.2f | %s |\n", c, b, n, d, b / d, p, b / p, r, g
    }'
  done
  echo
  echo "## Through the web server"
  echo
  echo "lighttpd with mod_cgi on 127.0.0.1, \`ab\` with $(awk -F'\t' 'NR == 1 { print $3 }' "$web") requests or fewer a target"
  echo "(bounded by count and time), ${WEB_CONCURRENCY:-4} at a time, a new connection per request. The static file is the"
  echo "listing page saved as HTML. Posting appends to a board that starts with 10 messages."
  echo
  echo "| Target | requests/s | p50 ms | p90 ms | p99 ms | failed | minimal C req/s / this |"
  echo "|---|---:|---:|---:|---:|---:|---:|"
  base_rps=$(value "$web" Baseline 2)
  awk -F'\t' -v base="$base_rps" '{
    label = $1 == "static" ? "static file" : ($1 == "Baseline" ? "minimal C CGI" : "`" $1 "`")
    if ($1 == "Baseline-static") label = "minimal C CGI, linked statically"
    if ($1 == "ListPage") label = label " (listing)"
    if ($1 == "ShowPage") label = label " (view)"
    if ($1 == "SavePage") label = label " (posting)"
    printf "| %s | %.0f | %.2f | %.2f | %.2f | %d | %.2f |\n", label, $2, $5, $6, $7, $4, base / $2
  }' "$web"
  echo
  echo "## Goals"
  echo
  worst=$(awk -F'\t' -v base="$baseline" '$1 != "true" && $1 !~ /^Baseline/ && $1 !~ /-dynamic$/ { r = $4 / base; if (r > w) { w = r; n = $1 } }
    END { if (n != "") printf "%.4f %s", w, n }' "$direct")
  if [ -n "$worst" ]; then
    echo "- Every program's median within 1.3 times the minimal C program's: $(verdict "${worst% *}" '<=' 1.3) (highest: \`${worst#* }\` at $(shown "${worst% *}" 3))."
  else
    echo "- Every program's median within 1.3 times the minimal C program's: not measured."
  fi
  for program in ListPage ShowPage; do
    r=$(ratio "$(value "$reads" "$program-9999" 4)" "$(value "$reads" "$program-10" 4)")
    echo "- \`$program\` on 9999 messages within 1.1 times its time on 10: $(verdict "$r" '<=' 1.1) ($(shown "$r" 3))."
  done
  r=$(ratio "$(value "$erases" cp-9999 4)" "$(value "$erases" DropPage-9999 4)")
  echo "- \`DropPage\` on 9999 messages at no less than half a plain copy's throughput: $(verdict "$r" '>=' 0.5) (DropPage / cp: $(shown "$r" 3))."
  r=$(ratio "$base_rps" "$(value "$web" ListPage 2)")
  echo "- Through the server, the listing within 1.3 times the minimal C CGI program's requests per second: $(verdict "$r" '<=' 1.3) ($(shown "$r" 3))."
} >"$md"

# Growth curves: the reads on the left, the erase against cp on the right.
data=$raw/growth.dat
{
  echo "# messages ListPage ShowPage DropPage cp (median us)"
  for count in 10 1000 9999; do
    line=$count
    for cell in "$(value "$reads" "ListPage-$count" 4)" "$(value "$reads" "ShowPage-$count" 4)" \
      "$(value "$erases" "DropPage-$count" 4)" "$(value "$erases" "cp-$count" 4)"; do
      line="$line ${cell:-NaN}"
    done
    echo "$line"
  done
} >"$data"
if [ "${BENCH_PLOT:-1}" = 1 ]; then
  gnuplot -e "data='$data'; out='$results/growth.png'" "$here/growth.gp"
fi
