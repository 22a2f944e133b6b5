#!/usr/bin/env bash
# Turns the persistent stage's raw numbers into markdown.
#   bench/persistent_report.sh RAW_DIR OUTPUT_MD
# RAW_DIR/persistent.tsv: setup page clients round requests duration_us
#   socket_errors bad_status p50_us p99_us
# RAW_DIR/memory.tsv: requests pid rss_kib
set -euo pipefail
raw=$1
md=$2
tsv=$raw/persistent.tsv
memory=$raw/memory.tsv

# Median over the rounds of one column, for setup, page and clients.
median() {  # setup page clients column(rps|p50|p99)
  awk -F'\t' -v s="$1" -v p="$2" -v c="$3" -v col="$4" '
    $1 == s && $2 == p && $3 == c {
      v = (col == "rps") ? $5 / ($6 / 1e6) : (col == "p50") ? $9 / 1000 : $10 / 1000
      values[++n] = v
    }
    END {
      if (n == 0) { print ""; exit }
      for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (values[j] < values[i]) { t = values[i]; values[i] = values[j]; values[j] = t }
      print (n % 2) ? values[(n + 1) / 2] : (values[n / 2] + values[n / 2 + 1]) / 2
    }' "$tsv"
}
range() {  # setup page clients: lowest and highest round's requests per second
  awk -F'\t' -v s="$1" -v p="$2" -v c="$3" '
    $1 == s && $2 == p && $3 == c { v = $5 / ($6 / 1e6); if (n++ == 0 || v < lo) lo = v; if (v > hi) hi = v }
    END { if (n) printf "%.0f–%.0f", lo, hi }' "$tsv"
}
# The ratio of two targets within each round, where both met the same load.
per_round() {  # setup page other_setup other_page clients
  awk -F'\t' -v s="$1" -v p="$2" -v o="$3" -v q="$4" -v c="$5" '
    $3 == c && $1 == s && $2 == p { a[$4] = $5 / $6 }
    $3 == c && $1 == o && $2 == q { b[$4] = $5 / $6 }
    END { n = 0; for (r = 1; r in a || r in b; r++) if ((r in a) && (r in b) && b[r] > 0) printf "%s%.2f", (n++ ? ", " : ""), a[r] / b[r] }' "$tsv"
}
fmt() { awk -v v="$1" -v d="${2:-0}" 'BEGIN { if (v == "") print "–"; else printf "%.*f", d, v }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print ""; else printf "%.4f", a / b }'; }
verdict() {  # value op limit
  awk -v v="$1" -v op="$2" -v l="$3" 'BEGIN {
    if (v == "") { print "not measured"; exit }
    ok = (op == "<=") ? (v <= l) : (op == ">") ? (v > l) : (v >= l)
    print ok ? "met" : "not met"
  }'
}

clients_list=$(cut -f3 "$tsv" | sort -n | uniq | tr '\n' ' ')
rounds=$(cut -f4 "$tsv" | sort -n | uniq | wc -l)
cpu=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
load=${BENCH_LOAD:-}
seconds=${BENCH_SECONDS:-}
pages="listing view form post"
setups="a b c d e"
label() {
  case "$1" in
    a) echo "(a) lighttpd + CGI" ;;
    b) echo "(b) nginx + fcgiwrap + CGI" ;;
    c) echo "(c) nginx + responder" ;;
    d) echo "(d) nginx + trivial responder" ;;
    e) echo "(e) nginx + PHP listing" ;;
  esac
}

{
  echo "# Persistent: one process, many requests"
  echo
  echo "Run $(date -u '+%Y-%m-%d %H:%M UTC') with \`${BENCH_COMMAND:-bash bench/run.sh --stage persistent}\`${seconds:+, which took $((seconds / 60)) min $((seconds % 60)) s}."
  echo "Machine: $(nproc) cores, $cpu; $(nginx -v 2>&1 | sed 's|.*/||;s|^|nginx |'), $(lighttpd -v 2>/dev/null | sed 's| - .*||'), $(wrk -v 2>&1 | head -1 | awk '{ print $1, $2 }')."
  [ -n "$load" ] && echo "Load average (1 min) before the stage ${load% *}, after it ${load#* }; the load generator shares the cores."
  echo
  echo "wrk on 127.0.0.1 with keep-alive connections, $rounds interleaved rounds of ${SECONDS_EACH:-?} s per target and"
  echo "client count (after a warm-up of each), each figure the median over the rounds. Board 1 holds 1000"
  echo "messages: the listing is its newest page ($PAGE_BYTES bytes with headers), the view message 500, which"
  echo "writes its read count each time; posts go to 50 boards of 10 in turn, put back after each run. The"
  echo "responder and the trivial one run ${WORKERS:-?} workers (one per core), fcgiwrap 16, php-fpm the pool Debian installs (dynamic, at most 5)."
  echo "(d) answers every request with the listing's bytes; (e) prints the newest ten records of the"
  echo "same index as rows and nothing else."
  echo
  echo "## Requests per second"
  echo
  echo "| page | clients | $(for s in $setups; do printf '%s | ' "$(label "$s")"; done)(c) / (a) | (c) / (d) | (c) / (e) |"
  echo "|---|---:|$(for s in $setups; do printf -- '---:|'; done)---:|---:|---:|"
  for page in $pages; do
    for clients in $clients_list; do
      row="| $page | $clients |"
      for s in $setups; do
        if [ "$page" != listing ] && { [ "$s" = d ] || [ "$s" = e ]; }; then value=""; else value=$(median "$s" "$page" "$clients" rps); fi
        shown=$(fmt "$value")
        [ -n "$value" ] && shown="$shown ($(range "$s" "$page" "$clients"))"
        row="$row $shown |"
      done
      c=$(median c "$page" "$clients" rps)
      for other in a d e; do
        reference_page=$page
        [ "$other" != a ] && reference_page=listing
        row="$row $(fmt "$(ratio "$c" "$(median "$other" "$reference_page" "$clients" rps)")" 2) |"
      done
      echo "$row"
    done
  done
  echo
  echo "(d) and (e) serve the listing only; the view's ratios to them are taken against their listing."
  echo
  echo "## Latency, p50 / p99 ms"
  echo
  echo "| page | clients | $(for s in $setups; do printf '%s | ' "$(label "$s")"; done)"
  echo "|---|---:|$(for s in $setups; do printf -- '---:|'; done)"
  for page in $pages; do
    for clients in $clients_list; do
      row="| $page | $clients |"
      for s in $setups; do
        p50=$(median "$s" "$page" "$clients" p50)
        if [ -z "$p50" ]; then row="$row – |"; else row="$row $(fmt "$p50" 2) / $(fmt "$(median "$s" "$page" "$clients" p99)" 2) |"; fi
      done
      echo "$row"
    done
  done
  echo
  echo "## Responder workers' memory"
  echo
  first=$(cut -f1 "$memory" | sort -n | head -1)
  last=$(cut -f1 "$memory" | sort -n | tail -1)
  echo "Resident set (VmRSS) of each worker of (c) after $first and after $last requests through nginx, the four"
  echo "pages in turn, 4 at a time."
  echo
  echo "| worker | KiB after $first | KiB after $last | growth |"
  echo "|---|---:|---:|---:|"
  awk -F'\t' -v first="$first" -v last="$last" '
    $1 == first { a[$2] = $3; order[++n] = $2 }
    $1 == last { b[$2] = $3 }
    END {
      for (i = 1; i <= n; i++) {
        p = order[i]
        if (p in b) printf "| %d | %d | %d | %+.1f%% |\n", i, a[p], b[p], (b[p] - a[p]) * 100 / a[p]
        else printf "| %d | %d | restarted | – |\n", i, a[p]
      }
    }' "$memory"
  echo
  echo "## Goals"
  echo
  # The listing's goals against the ceiling and PHP, then the view's.
  goal() {  # page setup goal wording
    local page=$1 setup=$2 goal=$3 c r
    c=$(median c "$page" 4 rps)
    r=$(ratio "$c" "$(median "$setup" listing 4 rps)")
    echo "- The $page through (c) at least $goal $4 at 4 clients: $(verdict "$r" '>=' "$goal") ($(fmt "$r" 2); round by round $(per_round c "$page" "$setup" listing 4))."
  }
  goal listing d 0.85 "of (d)"
  goal listing e 1.15 "times the PHP listing (e)"
  goal view d 0.8 "of (d)"
  for page in listing view; do
    r=$(ratio "$(median c "$page" 4 rps)" "$(median a "$page" 4 rps)")
    echo "- The $page through (c) at least 10 times (a) at 4 clients: $(verdict "$r" '>=' 10) ($(fmt "$r" 1) times; round by round $(per_round c "$page" a "$page" 4))."
  done
  growth=$(awk -F'\t' -v first="$first" -v last="$last" '
    $1 == first { a[$2] = $3 } $1 == last { b[$2] = $3 }
    END { m = ""; for (p in a) if (p in b) { g = (b[p] - a[p]) / a[p]; if (m == "" || g > m) m = g } print m }' "$memory")
  echo "- No worker grows by more than 10% between $first and $last requests: $(verdict "$growth" '<=' 0.10) (most: $(awk -v g="$growth" 'BEGIN { if (g == "") print "–"; else printf "%+.1f%%", g * 100 }'))."
} >"$md"
