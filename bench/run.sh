#!/usr/bin/env bash
# The benchmark: builds the six programs in Release, runs them as CGI
# processes next to a minimal C program and /bin/true, measures how they
# grow with the board, serves them through lighttpd on 127.0.0.1, and
# measures what syncing each change costs (bench/durability.sh); then the
# persistent stage (bench/persistent.sh): the pages through FastCGI
# responders beside CGI, at 1, 4 and 16 clients.
# Writes bench/results/results.md, bench/results/growth.png and
# bench/results/persistent.md, and puts the results into docs/benchmark.md
# between its benchmark markers.
#
#   bash bench/run.sh           full run (2000 runs a case)
#   bash bench/run.sh --quick   small counts, to check the harness
#   bash bench/run.sh --stage cgi|persistent   one of the two stages only
#
# Counts can be set with RUNS, MEMORY_RUNS, WEB_ROUNDS, WEB_REQUESTS,
# WEB_SECONDS; the build directory with BENCH_BUILD, the server port with
# BENCH_PORT.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

command="bash bench/run.sh${*:+ $*}"
quick=0
update_readme=1
stage=all
usage="usage: bench/run.sh [--quick] [--no-readme] [--stage cgi|persistent]"
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=1; shift ;;
    --no-readme) update_readme=0; shift ;;
    --stage)
      case "${2:-}" in cgi|persistent) stage=$2 ;; *) echo "$usage" >&2; exit 2 ;; esac
      shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
if [ "$quick" = 1 ]; then
  RUNS=${RUNS:-60}; WEB_ROUNDS=${WEB_ROUNDS:-3}; WEB_REQUESTS=${WEB_REQUESTS:-150}; WEB_SECONDS=${WEB_SECONDS:-3}
  MEMORY_RUNS=${MEMORY_RUNS:-1}
  export ROUNDS=${ROUNDS:-1} SECONDS_EACH=${SECONDS_EACH:-1} MEMORY_REQUESTS=${MEMORY_REQUESTS:-100 1000}
  update_readme=0
fi
RUNS=${RUNS:-2000}
MEMORY_RUNS=${MEMORY_RUNS:-3}
WEB_ROUNDS=${WEB_ROUNDS:-5}
WEB_REQUESTS=${WEB_REQUESTS:-1500}
WEB_SECONDS=${WEB_SECONDS:-10}
WEB_CONCURRENCY=${WEB_CONCURRENCY:-4}
BENCH_PORT=${BENCH_PORT:-18431}
build=${BENCH_BUILD:-$root/build-bench}
raw=$root/bench/results/raw
# A stage run alone leaves the other stage's raw numbers alone.
[ "$stage" = persistent ] || rm -rf "$raw"
mkdir -p "$raw"
# A quick run only checks the harness: its report stays beside the raw
# numbers, and the published results are left alone.
results=$root/bench/results
[ "$quick" = 1 ] && results=$raw/quick
mkdir -p "$results"
started=$(date +%s)
load_before=$(cut -d' ' -f1 /proc/loadavg)

. scripts/packages.sh
install_missing_packages gcc g++ cmake make coreutils lighttpd apache2-utils gnuplot-nox libfcgi-dev
# The persistent stage: nginx, fcgiwrap and php-fpm beside lighttpd,
# spawn-fcgi, wrk and curl.
install_missing_packages nginx fcgiwrap php-fpm spawn-fcgi wrk curl python3

log() { printf '[bench %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }

# --- build ------------------------------------------------------------------
log "building in $build (Release)"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGESIPAN_TESTS=OFF -DGESIPAN_SANITIZE=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
persistent_stage() {
  BENCH_COMMAND=$command bash "$root/bench/persistent.sh" "$build" "$raw" "$results"
  if [ "$update_readme" = 1 ]; then
    bash "$root/bench/readme.sh" "$results/persistent.md" "$root/docs/benchmark.md" "persistent benchmark results"
  fi
}
if [ "$stage" = persistent ]; then
  persistent_stage
  exit 0
fi

# The same programs linked dynamically, to show what static linking buys.
cmake -S "$root" -B "$build/dynamic" -DCMAKE_BUILD_TYPE=Release -DGESIPAN_TESTS=OFF -DGESIPAN_SANITIZE=OFF \
  -DGESIPAN_STATIC_PROGRAMS=OFF >/dev/null
cmake --build "$build/dynamic" -j"$(nproc)" >/dev/null

tools=$build/benchtools
mkdir -p "$tools"
cc -O2 -Wall -Wextra -o "$tools/cgi_bench" bench/cgi_bench.c
cc -O2 -Wall -Wextra -o "$tools/make_board" bench/make_board.c
# Static and small: its own image is the floor of the peak memory figures.
cc -O2 -Wall -Wextra -static -o "$tools/launcher" bench/launcher.c

programs=()
for program in FormPage ListPage ShowPage SavePage EditPage DropPage; do
  [ -x "$build/bin/$program" ] && programs+=("$program")
done
have() { [ -x "$build/bin/$1" ]; }
log "programs built: ${programs[*]}"

# --- site -------------------------------------------------------------------
site=$build/bench-site
rm -rf "$site"
mkdir -p "$site/cgi-bin" "$site/boards" "$site/Image" "$site/pristine" "$site/static"
for program in "${programs[@]}"; do
  cp "$build/bin/$program" "$site/cgi-bin/$program.exe"
  cp "$build/dynamic/bin/$program" "$site/cgi-bin/$program-dynamic.exe"
done
cgi=$site/cgi-bin
boards=$site/boards
pristine=$site/pristine

# Boards: 1 (1000 messages) is read by the per-program runs and the server
# runs; 2 and 3 (10 each) are posted to and erased from, restored per run;
# 10/11/12 (read) and 20/21/22 (erased from) hold 10, 1000 and 9999
# messages for growth, 40/41/42 hold 9, 999 and 9998 to be posted to; 30
# takes the posts through the server.
{
  echo "# benchmark site"
  echo "BASE_DIR /"
  echo "BBS_DIR $boards/"
  echo "EMAIL admin@example.org"
  echo "Password secret"
  for board in 1 2 3 10 11 12 20 21 22 30 40 41 42; do echo "$board title$board.gif"; done
} >"$cgi/GuestBook.conf"

make_board() {  # board count
  mkdir -p "$boards/$1"
  "$tools/make_board" "$boards/$1" "$2" "$1"
  cp "$boards/$1/guestbook.dat" "$pristine/$1.dat"
}
log "generating boards"
make_board 1 1000
make_board 2 10
make_board 3 10
make_board 10 10
make_board 11 1000
make_board 12 9999
make_board 20 10
make_board 21 1000
make_board 22 9999
make_board 30 10
make_board 40 9
make_board 41 999
make_board 42 9998
cp "$boards/3/guestbook5.html" "$pristine/3-body5.html"
for pair in 20:10 21:1000 22:9999; do
  board=${pair%%:*}; count=${pair##*:}
  cp "$boards/$board/guestbook1.html" "$pristine/$board-body1.html"
  cp "$boards/$board/guestbook$count.html" "$pristine/$board-body$count.html"
done

printf 'name=Kim&email=kim%%40example.org&homepage=http%%3A%%2F%%2Fexample.org%%2F&subject=Bench+subject&body=First+line%%0D%%0ASecond+line%%0D%%0AThird+line' >"$site/post.txt"
printf 'password=secret' >"$site/password.txt"
post_length=$(stat -c %s "$site/post.txt")
password_length=$(stat -c %s "$site/password.txt")
euc() { printf '%s' "$1" | iconv -f UTF-8 -t EUC-KR; }

# The baseline prints as many bytes as the listing page it stands beside.
page_bytes=4096
if have ListPage; then
  page_bytes=$(cd "$cgi" && env -i QUERY_STRING='BoardNum=1&TextNum=0' REQUEST_METHOD=GET ./ListPage.exe | wc -c)
  (cd "$cgi" && env -i QUERY_STRING='BoardNum=1&TextNum=0' REQUEST_METHOD=GET ./ListPage.exe) | tail -c +26 >"$site/static/list.html"
fi
cc -O2 -Wall -Wextra -DPAGE_BYTES="$page_bytes" -o "$cgi/Baseline.exe" bench/baseline.c
cc -O2 -Wall -Wextra -static -DPAGE_BYTES="$page_bytes" -o "$cgi/Baseline-static.exe" bench/baseline.c
[ -s "$site/static/list.html" ] || head -c "$page_bytes" /dev/zero | tr '\0' x >"$site/static/list.html"

# The generated boards reach the disk now rather than during timed runs.
sync

# --- case files -------------------------------------------------------------
get_case() {  # name program query [expect]
  printf 'case %s\nprogram %s\ndir %s\nenv QUERY_STRING=%s\nenv REQUEST_METHOD=GET\nenv REMOTE_ADDR=127.0.0.1\nenv PATH=/usr/bin:/bin\n' \
    "$1" "$2" "$cgi" "$3"
  [ -n "${4:-}" ] && printf 'expect %s\n' "$4"
  return 0
}
post_case() {  # name program query stdin length [expect]
  printf 'case %s\nprogram %s\ndir %s\nenv QUERY_STRING=%s\nenv REQUEST_METHOD=POST\nenv CONTENT_TYPE=application/x-www-form-urlencoded\nenv CONTENT_LENGTH=%s\nenv REMOTE_ADDR=127.0.0.1\nenv REMOTE_HOST=client.example\nenv PATH=/usr/bin:/bin\nstdin %s\n' \
    "$1" "$2" "$cgi" "$3" "$5" "$4"
  [ -n "${6:-}" ] && printf 'expect %s\n' "$6"
  return 0
}

# Each program statically linked (as built) and dynamically linked; the
# statically linked minimal C program is the reference of every ratio.
direct=$raw/direct.cases
{
  printf 'case true\nprogram /bin/true\n'
  get_case Baseline-static "$cgi/Baseline-static.exe" '' 'Content-type: text/html'
  get_case Baseline "$cgi/Baseline.exe" '' 'Content-type: text/html'
  for variant in '' -dynamic; do
    have FormPage && get_case "FormPage$variant" "$cgi/FormPage$variant.exe" 'BoardNum=1' 'SavePage.exe?BoardNum=1&TextNum=-1'
    have ListPage && get_case "ListPage$variant" "$cgi/ListPage$variant.exe" 'BoardNum=1&TextNum=0' 'Subject of message 1000<'
    have ShowPage && get_case "ShowPage$variant" "$cgi/ShowPage$variant.exe" 'BoardNum=1&TextNum=500' 'Body of message 500.'
    if have SavePage; then
      post_case "SavePage$variant" "$cgi/SavePage$variant.exe" 'BoardNum=2&TextNum=-1' "$site/post.txt" "$post_length" 'Bench subject'
      printf 'restore %s %s\nremove %s\n' "$pristine/2.dat" "$boards/2/guestbook.dat" "$boards/2/guestbook11.html"
    fi
    have EditPage && post_case "EditPage$variant" "$cgi/EditPage$variant.exe" 'BoardNum=1&TextNum=500' "$site/password.txt" \
      "$password_length" 'Body of message 500.'
    if have DropPage; then
      post_case "DropPage$variant" "$cgi/DropPage$variant.exe" 'BoardNum=3&TextNum=5' "$site/password.txt" "$password_length" \
        "$(euc '성공적으로 지워졌습니다.')"
      printf 'restore %s %s\nrestore %s %s\n' "$pristine/3.dat" "$boards/3/guestbook.dat" "$pristine/3-body5.html" \
        "$boards/3/guestbook5.html"
    fi
  done
} >"$direct"

# Growth: the same request on boards of 10, 1000 and 9999 messages, the
# three sizes interleaved. The listing's newest, middle and oldest pages;
# the view and the edit form of the first and the last message.
reads=$raw/growth-read.cases
{
  for pair in 10:10 1000:11 9999:12; do
    count=${pair%%:*}; board=${pair##*:}
    middle=$((count / 2)); [ "$middle" -lt 10 ] && middle=10
    if have ListPage; then
      get_case "ListPage-newest-$count" "$cgi/ListPage.exe" "BoardNum=$board&TextNum=0" "Subject of message $count<"
      get_case "ListPage-middle-$count" "$cgi/ListPage.exe" "BoardNum=$board&TextNum=$middle" "Subject of message $middle<"
      get_case "ListPage-oldest-$count" "$cgi/ListPage.exe" "BoardNum=$board&TextNum=10" "Subject of message 1<"
    fi
    for end in first:1 last:$count; do
      have ShowPage && get_case "ShowPage-${end%%:*}-$count" "$cgi/ShowPage.exe" "BoardNum=$board&TextNum=${end##*:}" \
        "Body of message ${end##*:}."
      have EditPage && post_case "EditPage-${end%%:*}-$count" "$cgi/EditPage.exe" "BoardNum=$board&TextNum=${end##*:}" \
        "$site/password.txt" "$password_length" "Body of message ${end##*:}."
    done
  done
  true
} >"$reads"

# Erasing the first message moves every record, erasing the last moves
# none; posting appends to a board of 9, 999 or 9998. Each board is put
# back before every run, outside the timed region. cp copies the index file
# as a fresh process. Large boards get fewer runs, since each restore
# rewrites and syncs megabytes.
writes=$raw/growth-write.cases
{
  for set in 10:20:40:2 1000:21:41:8 9999:22:42:20; do
    IFS=: read -r count board post_board divisor <<<"$set"
    runs=$((RUNS / divisor)); [ "$runs" -lt 20 ] && runs=20
    bytes=$((125 + 410 * count))
    if have DropPage; then
      for end in first:1 last:$count; do
        number=${end##*:}
        post_case "DropPage-${end%%:*}-$count" "$cgi/DropPage.exe" "BoardNum=$board&TextNum=$number" "$site/password.txt" \
          "$password_length" 'Successfully removed.'
        printf 'restore %s %s\nrestore %s %s\nruns %s\nbytes %s\n' "$pristine/$board.dat" "$boards/$board/guestbook.dat" \
          "$pristine/$board-body$number.html" "$boards/$board/guestbook$number.html" "$runs" "$bytes"
      done
    fi
    if have SavePage; then
      post_case "SavePage-$count" "$cgi/SavePage.exe" "BoardNum=$post_board&TextNum=-1" "$site/post.txt" "$post_length" \
        'Bench subject'
      printf 'restore %s %s\nremove %s\nruns %s\n' "$pristine/$post_board.dat" "$boards/$post_board/guestbook.dat" \
        "$boards/$post_board/guestbook$count.html" "$runs"
    fi
    printf 'case cp-%s\nprogram /bin/cp\narg %s\narg %s\nremove %s\nruns %s\nbytes %s\n' "$count" "$pristine/$board.dat" \
      "$site/copy.dat" "$site/copy.dat" "$runs" "$bytes"
  done
} >"$writes"

bench_cases() {  # casefile output
  if ! "$tools/cgi_bench" -n "${3:-$RUNS}" -w 10 -m "$MEMORY_RUNS" -l "$tools/launcher" -r "$raw" "$1" >"$2"; then
    log "FAILED runs in $1 (see above); results would be meaningless"
    exit 1
  fi
}
log "direct runs: $RUNS per case"
bench_cases "$direct" "$raw/direct.tsv"
log "growth: listing, view and edit form, $((RUNS / 2)) runs a case"
bench_cases "$reads" "$raw/growth-read.tsv" $((RUNS / 2))
log "growth: erasing, posting and cp"
bench_cases "$writes" "$raw/growth-write.tsv"

# --- through the web server -------------------------------------------------
if (exec 3<>"/dev/tcp/127.0.0.1/$BENCH_PORT") 2>/dev/null; then
  log "port $BENCH_PORT is taken; set BENCH_PORT"
  exit 1
fi
cat >"$site/lighttpd.conf" <<EOF
server.modules = ("mod_cgi")
server.document-root = "$site"
server.bind = "127.0.0.1"
server.port = $BENCH_PORT
server.errorlog = "$raw/lighttpd-error.log"
server.max-connections = 64
mimetype.assign = (".html" => "text/html")
cgi.assign = (".exe" => "")
EOF
lighttpd -tt -f "$site/lighttpd.conf" >/dev/null
lighttpd -D -f "$site/lighttpd.conf" &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  (exec 3<>"/dev/tcp/127.0.0.1/$BENCH_PORT") 2>/dev/null && break
  sleep 0.1
done
cp "$pristine/30.dat" "$boards/30/guestbook.dat"

url=http://127.0.0.1:$BENCH_PORT
web=$raw/web.tsv
: >"$web"
# One request by hand, to see that the server runs the program as a CGI.
fetch() {  # path
  exec 3<>"/dev/tcp/127.0.0.1/$BENCH_PORT"
  printf 'GET %s HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n' "$1" >&3
  cat <&3
  exec 3<&-
}
targets=()  # name|path|expect|post file
target() { targets+=("$1|$2|$3|${4:-}"); }
target static /static/list.html '</html>'
target Baseline-static /cgi-bin/Baseline-static.exe 'xxxxxxxx'
target Baseline /cgi-bin/Baseline.exe 'xxxxxxxx'
have ListPage && target ListPage '/cgi-bin/ListPage.exe?BoardNum=1&TextNum=0' 'Subject of message 1000<'
have ShowPage && target ShowPage '/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=500' 'Body of message 500.'
have SavePage && target SavePage '/cgi-bin/SavePage.exe?BoardNum=30&TextNum=-1' '' "$site/post.txt"

form_of() {  # post file
  [ -n "$1" ] && printf '%s\n' -p "$1" -T application/x-www-form-urlencoded
  return 0
}
# A board holds 9999 messages; the posts start from 10 plus the warm-up.
post_limit=$((9000 / WEB_ROUNDS))
for entry in "${targets[@]}"; do
  IFS='|' read -r name path expect post <<<"$entry"
  if [ -z "$post" ] && ! fetch "$path" | grep -qF -- "$expect"; then
    log "$name through the server: response lacks '$expect'"
    exit 1
  fi
  mapfile -t form < <(form_of "$post")
  ab -q -n 50 -c 2 "${form[@]}" "$url$path" >/dev/null
done

web_round() {  # round name path post
  local round=$1 name=$2 path=$3 post=$4 count=$WEB_REQUESTS form
  mapfile -t form < <(form_of "$post")
  [ -n "$post" ] && [ "$count" -gt "$post_limit" ] && count=$post_limit
  local out=$raw/web-$name-$round
  ab -q -c "$WEB_CONCURRENCY" -t "$WEB_SECONDS" -n "$count" -e "$out.csv" "${form[@]}" "$url$path" >"$out.txt"
  # Length differences are not failures: a view prints its growing read count.
  awk -v name="$name" -v round="$round" -F, '
    FNR == NR {
      if ($0 ~ /^Requests per second:/) { split($0, f, " +"); rps = f[4] }
      if ($0 ~ /^Complete requests:/) { split($0, f, " +"); done = f[3] }
      if ($0 ~ /Connect: [0-9]+, Receive/) {
        gsub(/[^0-9,]/, "", $0); split($0, f, ","); failed = f[1] + f[2] + f[4]
      }
      if ($0 ~ /^Non-2xx responses:/) { split($0, f, " +"); bad = f[3] }
      next
    }
    $1 == 50 { p50 = $2 } $1 == 90 { p90 = $2 } $1 == 99 { p99 = $2 }
    END { printf "%s\t%s\t%s\t%d\t%d\t%s\t%s\t%s\n", name, round, rps, done, failed + bad, p50, p90, p99 }
  ' "$out.txt" "$out.csv" >>"$web"
}
log "through lighttpd: $WEB_ROUNDS rounds of $WEB_REQUESTS requests or $WEB_SECONDS s per target, $WEB_CONCURRENCY at a time"
# Every round runs each target once; the order turns by one each round so
# that no target always follows the same neighbour.
for round in $(seq 1 "$WEB_ROUNDS"); do
  n=${#targets[@]}
  for k in $(seq 0 $((n - 1))); do
    IFS='|' read -r name path expect post <<<"${targets[$(((k + round - 1) % n))]}"
    web_round "$round" "$name" "$path" "$post"
  done
done
kill "$server"
wait "$server" 2>/dev/null || true
trap - EXIT

# The posts must have landed: the board grows by one record per post. A
# round cut off by its time limit leaves up to one request per connection
# in flight, which the server completes but ab does not count.
if have SavePage; then
  posted=$(awk -F'\t' '$1 == "SavePage" { sum += $4 } END { print sum + 0 }' "$web")
  size=$(stat -c %s "$boards/30/guestbook.dat")
  least=$((125 + 410 * (10 + posted + 50)))
  most=$((least + 410 * WEB_CONCURRENCY * WEB_ROUNDS))
  if [ "$size" -lt "$least" ] || [ "$size" -gt "$most" ] || [ $(((size - 125) % 410)) -ne 0 ]; then
    log "posting through the server: board is $size bytes, expected $least to $most"
    exit 1
  fi
fi
failed=$(awk -F'\t' '{ sum += $5 } END { print sum + 0 }' "$web")
if [ "$failed" -ne 0 ]; then
  log "through the server: $failed requests failed (see $raw/web-*.txt)"
  exit 1
fi

# --- durability ---------------------------------------------------------------
log "durability: what syncing each change costs"
durability_options=()
[ "$quick" = 1 ] && durability_options=(--quick)
RUNS=$((RUNS / 2)) BENCH_BUILD=$build bash "$root/bench/durability.sh" "${durability_options[@]}" "$raw/durability.md" >/dev/null

# --- report -----------------------------------------------------------------
log "writing results"
WEB_CONCURRENCY=$WEB_CONCURRENCY BENCH_SECONDS=$(($(date +%s) - started)) \
  BENCH_LOAD="$load_before $(cut -d' ' -f1 /proc/loadavg)" \
  BENCH_COMMAND=$command \
  bash "$root/bench/report.sh" "$raw" "$results" "$page_bytes"
printf '\n' >>"$results/results.md"
cat "$raw/durability.md" >>"$results/results.md"
if [ "$update_readme" = 1 ]; then
  bash "$root/bench/readme.sh" "$results/results.md" "$root/docs/benchmark.md"
fi
log "done: $results/results.md, $results/growth.png"
[ "$stage" = all ] && persistent_stage
exit 0
