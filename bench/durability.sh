#!/usr/bin/env bash
# The durability stage of the benchmark: what it costs that a change is on
# the disk before its page says so. Each change runs as a CGI process next
# to the minimal C program (process start and a page) and to the floor of a
# durable post (bench/durable_floor.c: a body file and a record, one data
# sync, one directory sync); erasing the first of 9999 messages runs next to
# copying the index and syncing the copy (bench/copy_sync.c). Each run is
# timed to its response (the end of its standard output: a change's page
# goes out once it is committed, and the rest follows) and to its exit. The
# syncs per change, and those before its page, are counted once under
# strace.
#
#   bash bench/durability.sh [--quick] [OUTPUT_MD]
#
# bench/run.sh runs it as its last stage; alone, it builds what it needs in
# $BENCH_BUILD (build-bench/) and writes OUTPUT_MD (default
# bench/results/durability.md; with --quick, bench/results/raw/durability.md).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
quick=0
output=""
for option in "$@"; do
  case "$option" in
    --quick) quick=1 ;;
    -*) echo "usage: bench/durability.sh [--quick] [OUTPUT_MD]" >&2; exit 2 ;;
    *) output=$option ;;
  esac
done
RUNS=${RUNS:-1000}
[ "$quick" = 1 ] && RUNS=40
build=${BENCH_BUILD:-$root/build-bench}
raw=$root/bench/results/raw/durability
if [ -z "$output" ]; then
  output=$root/bench/results/durability.md
  [ "$quick" = 1 ] && output=$root/bench/results/raw/durability.md
fi
rm -rf "$raw"
mkdir -p "$raw" "$(dirname "$output")"

. scripts/packages.sh
install_missing_packages gcc g++ cmake make strace

log() { printf '[durability %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }
log "building in $build (Release)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGESIPAN_TESTS=OFF -DGESIPAN_SANITIZE=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
tools=$build/benchtools
mkdir -p "$tools"
cc -O2 -Wall -Wextra -o "$tools/cgi_bench" bench/cgi_bench.c
cc -O2 -Wall -Wextra -o "$tools/make_board" bench/make_board.c
cc -O2 -Wall -Wextra -static -o "$tools/launcher" bench/launcher.c
cc -O2 -Wall -Wextra -static -o "$tools/copy_sync" bench/copy_sync.c

site=$build/durability-site
rm -rf "$site"
cgi=$site/cgi-bin
boards=$site/boards
pristine=$site/pristine
mkdir -p "$cgi" "$boards" "$pristine"
for program in SavePage ShowPage DropPage; do cp "$build/bin/$program" "$cgi/$program.exe"; done
{
  echo "# durability benchmark"
  echo "BASE_DIR /"
  echo "BBS_DIR $boards/"
  echo "EMAIL admin@example.org"
  echo "Password secret"
  for board in 2 3 22; do echo "$board title$board.gif"; done
} >"$cgi/GuestBook.conf"
# 2: posted to, edited, viewed, erased from (10 messages); 3: the floor's
# board (10); 22: 9999 messages, the first erased.
for pair in 2:10 3:10 22:9999; do
  board=${pair%%:*}
  mkdir -p "$boards/$board"
  "$tools/make_board" "$boards/$board" "${pair##*:}" "$board"
  cp "$boards/$board/guestbook.dat" "$pristine/$board.dat"
done
for n in 1 5 10; do cp "$boards/2/guestbook$n.html" "$pristine/2-body$n.html"; done
cp "$boards/22/guestbook1.html" "$pristine/22-body1.html"
printf 'name=Kim&email=kim%%40example.org&homepage=http%%3A%%2F%%2Fexample.org%%2F&subject=Bench+subject&body=First+line%%0D%%0ASecond+line%%0D%%0AThird+line' >"$site/post.txt"
printf 'name=Kim&email=&homepage=&subject=Edited&body=New+body&password=secret' >"$site/edit.txt"
printf 'password=secret' >"$site/password.txt"

# The reference pages are as long as the post's page.
page_bytes=$(cd "$cgi" && env -i QUERY_STRING='BoardNum=2&TextNum=-1' REQUEST_METHOD=POST \
  CONTENT_LENGTH="$(stat -c %s "$site/post.txt")" REMOTE_HOST=client.example ./SavePage.exe <"$site/post.txt" | wc -c)
cp "$pristine/2.dat" "$boards/2/guestbook.dat"
rm -f "$boards/2/guestbook11.html"
cc -O2 -Wall -Wextra -static -DPAGE_BYTES="$page_bytes" -o "$cgi/Baseline-static.exe" bench/baseline.c
cc -O2 -Wall -Wextra -static -DPAGE_BYTES="$page_bytes" -o "$tools/durable_floor" bench/durable_floor.c
sync

case_head() {  # name program query stdin
  printf 'case %s\nprogram %s\ndir %s\nenv QUERY_STRING=%s\nenv REQUEST_METHOD=POST\nenv CONTENT_LENGTH=%s\n' \
    "$1" "$2" "$cgi" "$3" "$(stat -c %s "$4")"
  printf 'env REMOTE_ADDR=127.0.0.1\nenv REMOTE_HOST=client.example\nenv PATH=/usr/bin:/bin\nstdin %s\n' "$4"
}
restore() { printf 'restore %s %s\n' "$pristine/$1" "$boards/$2"; }
cases=$raw/durability.cases
big_runs=$((RUNS / 10)); [ "$big_runs" -lt 20 ] && big_runs=20
{
  printf 'case Baseline-static\nprogram %s\nexpect Content-type: text/html\n' "$cgi/Baseline-static.exe"
  printf 'case floor\nprogram %s\narg %s\narg 10\nexpect Content-type: text/html\n' "$tools/durable_floor" "$boards/3"
  restore 3.dat 3/guestbook.dat; printf 'remove %s\n' "$boards/3/guestbook11.html"
  case_head post "$cgi/SavePage.exe" 'BoardNum=2&TextNum=-1' "$site/post.txt"
  printf 'expect Bench subject\n'; restore 2.dat 2/guestbook.dat; printf 'remove %s\n' "$boards/2/guestbook11.html"
  case_head edit "$cgi/SavePage.exe" 'BoardNum=2&TextNum=5' "$site/edit.txt"
  printf 'expect Edited\n'; restore 2.dat 2/guestbook.dat; restore 2-body5.html 2/guestbook5.html
  case_head view "$cgi/ShowPage.exe" 'BoardNum=2&TextNum=5' /dev/null
  printf 'expect Body of message 5.\n'; restore 2.dat 2/guestbook.dat; restore 2-body5.html 2/guestbook5.html
  case_head erase-last "$cgi/DropPage.exe" 'BoardNum=2&TextNum=10' "$site/password.txt"
  printf 'expect Successfully removed.\n'; restore 2.dat 2/guestbook.dat; restore 2-body10.html 2/guestbook10.html
  case_head erase-first "$cgi/DropPage.exe" 'BoardNum=2&TextNum=1' "$site/password.txt"
  printf 'expect Successfully removed.\n'; restore 2.dat 2/guestbook.dat; restore 2-body1.html 2/guestbook1.html
  case_head erase-first-9999 "$cgi/DropPage.exe" 'BoardNum=22&TextNum=1' "$site/password.txt"
  printf 'expect Successfully removed.\n'; restore 22.dat 22/guestbook.dat; restore 22-body1.html 22/guestbook1.html
  printf 'runs %s\nbytes %s\n' "$big_runs" $((125 + 410 * 9999))
  printf 'case copy-sync-9999\nprogram %s\narg %s\narg %s\nremove %s\nruns %s\nbytes %s\n' "$tools/copy_sync" \
    "$pristine/22.dat" "$site/copy.dat" "$site/copy.dat" "$big_runs" $((125 + 410 * 9999))
} >"$cases"

# Syncs per change: each case once under strace, its board put back after.
log "counting syncs"
syncs=$raw/syncs.tsv
: >"$syncs"
count_syncs() {  # name command...
  local name=$1
  shift
  strace -f -qq -e trace=fsync,fdatasync,sync,syncfs,write -o "$raw/$name.strace" "$@" >/dev/null
  printf '%s\t%s\t%s\n' "$name" "$(grep -cE '^[0-9 ]*(fsync|fdatasync|sync|syncfs)\(.*= 0$' "$raw/$name.strace")" \
    "$(awk '/^[0-9 ]*write\(1,/ { exit } /^[0-9 ]*(fsync|fdatasync|sync|syncfs)\(.*= 0$/ { n++ } END { print n + 0 }' \
      "$raw/$name.strace")" >>"$syncs"
}
count_syncs floor "$tools/durable_floor" "$boards/3" 10
cp "$pristine/3.dat" "$boards/3/guestbook.dat"; rm -f "$boards/3/guestbook11.html"
count_syncs post env -C "$cgi" QUERY_STRING='BoardNum=2&TextNum=-1' REQUEST_METHOD=POST \
  CONTENT_LENGTH="$(stat -c %s "$site/post.txt")" REMOTE_HOST=client.example ./SavePage.exe <"$site/post.txt"
cp "$pristine/2.dat" "$boards/2/guestbook.dat"; rm -f "$boards/2/guestbook11.html"
count_syncs edit env -C "$cgi" QUERY_STRING='BoardNum=2&TextNum=5' REQUEST_METHOD=POST \
  CONTENT_LENGTH="$(stat -c %s "$site/edit.txt")" ./SavePage.exe <"$site/edit.txt"
cp "$pristine/2.dat" "$boards/2/guestbook.dat"; cp "$pristine/2-body5.html" "$boards/2/guestbook5.html"
count_syncs view env -C "$cgi" QUERY_STRING='BoardNum=2&TextNum=5' REQUEST_METHOD=GET ./ShowPage.exe </dev/null
cp "$pristine/2.dat" "$boards/2/guestbook.dat"
for erase in erase-last:10 erase-first:1; do
  count_syncs "${erase%%:*}" env -C "$cgi" QUERY_STRING="BoardNum=2&TextNum=${erase##*:}" REQUEST_METHOD=POST \
    CONTENT_LENGTH=15 ./DropPage.exe <"$site/password.txt"
  cp "$pristine/2.dat" "$boards/2/guestbook.dat"; cp "$pristine/2-body${erase##*:}.html" "$boards/2/guestbook${erase##*:}.html"
done
count_syncs erase-first-9999 env -C "$cgi" QUERY_STRING='BoardNum=22&TextNum=1' REQUEST_METHOD=POST \
  CONTENT_LENGTH=15 ./DropPage.exe <"$site/password.txt"
cp "$pristine/22.dat" "$boards/22/guestbook.dat"; cp "$pristine/22-body1.html" "$boards/22/guestbook1.html"
count_syncs copy-sync-9999 "$tools/copy_sync" "$pristine/22.dat" "$site/copy.dat"
rm -f "$site/copy.dat"
sync

log "timed runs: $RUNS per change, $big_runs for the board of 9999"
tsv=$raw/durability.tsv
if ! "$tools/cgi_bench" -n "$RUNS" -w 10 -r "$raw" "$cases" >"$tsv"; then
  log "FAILED runs (see above); results would be meaningless"
  exit 1
fi

value() { awk -F'\t' -v name="$2" -v col="$3" '$1 == name { print $col }' "$1"; }
minus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.0f", a - b }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
# The median and the 99th percentile (nearest rank) of a case's times to its response.
to_response() {  # name median|p99
  sort -n "$raw/$1.response.txt" | awk -v which="$2" '{ v[NR] = $1 } END {
    if (which == "median") { printf "%.1f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }
    else { r = int((99 * NR + 99) / 100); if (r < 1) r = 1; printf "%.1f", v[r] } }'
}
verdict() { awk -v r="$1" -v goal="$2" -v dir="$3" 'BEGIN { met = dir == "le" ? r <= goal : r >= goal; print met ? "met" : "not met" }'; }
floor=$(value "$tsv" floor 4)
start=$(value "$tsv" Baseline-static 4)
{
  echo "## Durability"
  echo
  echo "Run $(date -u '+%Y-%m-%d %H:%M UTC') with \`bash bench/durability.sh$([ "$quick" = 1 ] && echo ' --quick')\`;"
  echo "load average (1 min) at the end $(cut -d' ' -f1 /proc/loadavg); file system of the boards: $(findmnt -no FSTYPE -T "$boards" 2>/dev/null || stat -f -c %T "$boards")."
  echo "$RUNS runs of each change on a board of 10 messages ($big_runs on 9999), interleaved, each board put back and"
  echo "synced before every run outside the timed region. Wall time from spawn to the response (end of"
  echo "file on the program's standard output: what the web server waits for) and to exit; a change's page"
  echo "goes out once it is committed, and its steps, their syncs and the record's removal follow. Syncs:"
  echo "\`fsync\` and \`fdatasync\` calls of one run under strace, in all and before the page. The floor writes"
  echo "a body file and a record, then one \`fdatasync\` and one directory \`fsync\`, then prints the page; the"
  echo "minimal C program only starts and prints the same page. Ratios are to the floor's median to exit;"
  echo "the goal is judged on the response."
  echo
  echo "| Change | syncs | before the page | response median µs | p99 µs | / floor | exit median µs | p99 µs | / floor | goal |"
  echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---|"
  for change in Baseline-static floor post edit view erase-last erase-first; do
    median=$(value "$tsv" "$change" 4)
    response=$(to_response "$change" median)
    r=$(ratio "$response" "$floor")
    label=$change
    goal=""
    case $change in
      Baseline-static) label="minimal C (process start and page)" ;;
      floor) label="the floor of a durable post" ;;
      view) ;;
      *) goal="≤ 1.25: $(verdict "$r" 1.25 le)" ;;
    esac
    sync_all=$(value "$syncs" "$change" 2)
    sync_page=$(value "$syncs" "$change" 3)
    [ "$change" = Baseline-static ] && { sync_all=0; sync_page=0; }
    printf '| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n' "$label" "$sync_all" "$sync_page" "$response" \
      "$(to_response "$change" p99)" "$r" "$median" "$(value "$tsv" "$change" 5)" "$(ratio "$median" "$floor")" "$goal"
  done
  echo
  echo "Process start (the minimal C program's median to exit): $start µs."
  echo
  drop=$(value "$tsv" erase-first-9999 4)
  copy=$(value "$tsv" copy-sync-9999 4)
  bytes=$(value "$tsv" erase-first-9999 11)
  r=$(ratio "$copy" "$drop")
  echo "| Erasing the first of 9999 ($bytes index bytes) | syncs | median µs | MB/s | copy and sync µs | MB/s | erase / copy | goal |"
  echo "|---|---:|---:|---:|---:|---:|---:|---|"
  printf '| `DropPage` | %s | %s | %s | %s | %s | %s | ≥ 0.5: %s |\n' "$(value "$syncs" erase-first-9999 2)" "$drop" \
    "$(awk -v b="$bytes" -v t="$drop" 'BEGIN { printf "%.1f", b / t }')" "$copy" \
    "$(awk -v b="$bytes" -v t="$copy" 'BEGIN { printf "%.1f", b / t }')" "$r" "$(verdict "$r" 0.5 ge)"
} >"$output"
log "done: $output"
cat "$output"
