#!/usr/bin/env bash
# The persistent stage of the benchmark: the listing, the view (which writes
# its read count), the compose form and a post, at 1, 4 and 16 clients,
# through
#   (a) lighttpd + the CGI programs (mod_cgi)
#   (b) nginx + fcgiwrap + the CGI programs
#   (c) nginx + the responder (gesipan-fcgi)
#   (d) nginx + a trivial responder on the same library that prints the
#       listing's bytes (the ceiling of the design)
#   (e) nginx + php-fpm running a minimal PHP listing of the same index, with
#       the pool Debian installs (dynamic, at most 5 children)
# in interleaved rounds with wrk; then each responder worker's resident
# memory after 1,000 and after 100,000 requests of all four pages.
# Writes RAW/persistent.tsv, RAW/memory.tsv and RESULTS/persistent.md.
#
#   bench/persistent.sh BUILD_DIR RAW_DIR RESULTS_DIR
#
# BUILD_DIR/bin holds the programs built in Release. Counts: ROUNDS (3),
# SECONDS_EACH (4), CLIENTS ("1 4 16"), MEMORY_REQUESTS ("1000 100000");
# ports from BENCH_PORT (18431) up.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$1
raw=$2
results=$3
ROUNDS=${ROUNDS:-3}
SECONDS_EACH=${SECONDS_EACH:-4}
CLIENTS=${CLIENTS:-1 4 16}
MEMORY_REQUESTS=${MEMORY_REQUESTS:-1000 100000}
BENCH_PORT=${BENCH_PORT:-18431}
workers=$(nproc)
started=$(date +%s)
load_before=$(cut -d' ' -f1 /proc/loadavg)

log() { printf '[bench %s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }
fail() { log "$*"; exit 1; }

bin=$build/bin
for program in ListPage ShowPage FormPage SavePage gesipan-fcgi; do
  [ -x "$bin/$program" ] || fail "$bin/$program is not built"
done
tools=$build/benchtools
mkdir -p "$tools" "$raw" "$results"
# The ceiling links libfcgi statically, as the responder does.
cc -O2 -Wall -Wextra -o "$tools/trivial_fcgi" "$root/bench/trivial_fcgi.c" -l:libfcgi.a
cc -O2 -Wall -Wextra -o "$tools/make_board" "$root/bench/make_board.c"
php_fpm=$(command -v php-fpm8.2 || command -v php-fpm || ls /usr/sbin/php-fpm* 2>/dev/null | head -1)
[ -x "$php_fpm" ] || fail "php-fpm is not installed"

# --- site -------------------------------------------------------------------
site=$build/persistent-site
rm -rf "$site"
mkdir -p "$site/cgi-bin" "$site/boards" "$site/pristine" "$site/run" "$site/nginx" "$site/php"
for program in ListPage ShowPage FormPage SavePage; do
  cp "$bin/$program" "$site/cgi-bin/$program.exe"
done
cgi=$site/cgi-bin
boards=$site/boards
# Board 1 (1000 messages) is listed and viewed; posts turn over boards
# 100 to 149 (10 messages each), put back after every posting run.
post_first=100
post_boards=50
{
  echo "# benchmark site"
  echo "BASE_DIR /"
  echo "BBS_DIR $boards/"
  echo "EMAIL admin@example.org"
  echo "Password secret"
  echo "1 title1.gif"
  for board in $(seq "$post_first" $((post_first + post_boards - 1))); do echo "$board title1.gif"; done
} >"$cgi/GuestBook.conf"
mkdir -p "$boards/1"
"$tools/make_board" "$boards/1" 1000 1
for board in $(seq "$post_first" $((post_first + post_boards - 1))); do
  mkdir -p "$boards/$board"
  "$tools/make_board" "$boards/$board" 10 "$board"
  cp "$boards/$board/guestbook.dat" "$site/pristine/$board.dat"
done
# Run under each posting board's fcntl lock in turn (python3's lockf is
# the programs' kind of lock): a post still being carried out after its
# page holds that lock, so it is finished before the board is counted or
# put back, and one sent late waits until it is put back. A post whose
# process the server ended after its page leaves its committed change to
# the next lock holder: a listing finishes it before the count, and the
# restore drops it with the rest of the run's posts.
under_board_locks() {  # ACTION: count | restore
  python3 - "$1" "$boards" "$site/pristine" "$post_first" "$post_boards" <<'PY'
import fcntl, os, re, shutil, sys
action, boards, pristine, first, count = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5])
total = 0
for board in range(first, first + count):
    directory = os.path.join(boards, str(board))
    with open(os.path.join(directory, 'guestbook.lock'), 'a') as lock:
        fcntl.lockf(lock, fcntl.LOCK_EX)
        index = os.path.join(directory, 'guestbook.dat')
        if action == 'count':
            total += (os.path.getsize(index) - 125) // 410 - 10
            continue
        for name in ('guestbook.redo', 'guestbook.redo.new', 'guestbook.new', 'tmp.dat'):
            if os.path.lexists(os.path.join(directory, name)):
                os.unlink(os.path.join(directory, name))
        shutil.copyfile(os.path.join(pristine, f'{board}.dat'), index)
        for name in os.listdir(directory):
            serial = re.fullmatch(r'guestbook(\d+)\.html', name)
            if serial and int(serial.group(1)) > 10:
                os.unlink(os.path.join(directory, name))
if action == 'count':
    print(total)
PY
}
restore_post_boards() {
  under_board_locks restore
  sync
}
posted_records() {
  local board
  for board in $(seq "$post_first" $((post_first + post_boards - 1))); do
    (cd "$cgi" && env -i QUERY_STRING="BoardNum=$board&TextNum=0" REQUEST_METHOD=GET ./ListPage.exe >/dev/null)
  done
  under_board_locks count
}
printf 'name=Kim&email=kim%%40example.org&homepage=http%%3A%%2F%%2Fexample.org%%2F&subject=Bench+subject&body=First+line%%0D%%0ASecond+line%%0D%%0AThird+line' >"$site/post.txt"
# The ceiling answers every request with the listing's response as the
# CGI program prints it.
(cd "$cgi" && env -i QUERY_STRING='BoardNum=1&TextNum=0' REQUEST_METHOD=GET ./ListPage.exe) >"$site/listing.response"
grep -q 'Subject of message 1000<' "$site/listing.response" || fail "ListPage did not list board 1"
page_bytes=$(wc -c <"$site/listing.response")
cp "$root/bench/list.php" "$site/list.php"
sync

# --- servers ----------------------------------------------------------------
port_a=$BENCH_PORT
port_b=$((BENCH_PORT + 1))
port_c=$((BENCH_PORT + 2))
port_d=$((BENCH_PORT + 3))
port_e=$((BENCH_PORT + 4))
for port in $port_a $port_b $port_c $port_d $port_e; do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then fail "port $port is taken; set BENCH_PORT"; fi
done

groups=()  # process groups to end: each server and responder leads its own
stop_all() {
  local group
  for group in "${groups[@]}"; do kill -TERM -- "-$group" 2>/dev/null || true; done
  for group in "${groups[@]}"; do
    for _ in $(seq 50); do kill -0 -- "-$group" 2>/dev/null || break; sleep 0.1; done
  done
  groups=()
}
trap stop_all EXIT
start() {  # command...; in a process group of its own, its pid in $last
  setsid "$@" </dev/null >>"$raw/servers.log" 2>&1 &
  last=$!
  groups+=("$last")
}
# Everything runs as the user running the benchmark; the sockets are in a
# directory of the site, open to nginx's workers (nobody, started as root).
chmod 755 "$site" "$site/run"
spawn() {  # socket directory program...
  local socket=$site/run/$1.sock
  shift
  local dir=$1
  shift
  start spawn-fcgi -n -s "$socket" -M 0666 -d "$dir" -- "$@"
}
spawn responder "$cgi" "$bin/gesipan-fcgi"
responder_pid=$last
spawn fcgiwrap "$cgi" /usr/sbin/fcgiwrap -c 16
spawn trivial "$cgi" "$tools/trivial_fcgi" "$site/listing.response" "$workers"

cat >"$site/php/fpm.conf" <<EOF
[global]
pid = $site/php/fpm.pid
error_log = $raw/php-fpm.log
daemonize = no
[board]
listen = $site/run/php.sock
listen.mode = 0666
; The pool Debian installs (www.conf), as an owner gets it.
pm = dynamic
pm.max_children = 5
pm.start_servers = 2
pm.min_spare_servers = 1
pm.max_spare_servers = 3
EOF
start "$php_fpm" -R -F -y "$site/php/fpm.conf"

cat >"$site/lighttpd.conf" <<EOF
server.modules = ("mod_cgi")
server.document-root = "$site"
server.bind = "127.0.0.1"
server.port = $port_a
server.errorlog = "$raw/lighttpd-error.log"
server.max-connections = 256
cgi.assign = (".exe" => "")
EOF
start lighttpd -D -f "$site/lighttpd.conf"

fastcgi_server() {  # port socket
  cat <<EOF
    server {
        listen 127.0.0.1:$1;
        root $site;
        location /cgi-bin/ {
            include /etc/nginx/fastcgi_params;
            fastcgi_param SCRIPT_FILENAME \$document_root\$fastcgi_script_name;
            fastcgi_pass unix:$site/run/$2.sock;
        }
        location = /list.php {
            include /etc/nginx/fastcgi_params;
            fastcgi_param SCRIPT_FILENAME \$document_root\$fastcgi_script_name;
            fastcgi_param BOARD_DIR $boards/1;
            fastcgi_pass unix:$site/run/$2.sock;
        }
    }
EOF
}
{
  echo "worker_processes auto;"
  echo "pid $site/nginx/nginx.pid;"
  echo "error_log $raw/nginx-error.log;"
  echo "daemon off;"
  echo "events { worker_connections 1024; }"
  echo "http {"
  echo "    access_log off;"
  for temp in client_body fastcgi proxy scgi uwsgi; do echo "    ${temp}_temp_path $site/nginx/$temp;"; done
  fastcgi_server "$port_b" fcgiwrap
  fastcgi_server "$port_c" responder
  fastcgi_server "$port_d" trivial
  fastcgi_server "$port_e" php
  echo "}"
} >"$site/nginx/nginx.conf"
nginx -t -p "$site/nginx" -c "$site/nginx/nginx.conf" 2>>"$raw/servers.log" || fail "nginx refuses its configuration"
start nginx -p "$site/nginx" -c "$site/nginx/nginx.conf"

for port in $port_a $port_b $port_c $port_d $port_e; do
  for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break; sleep 0.1; done
done

# --- targets ----------------------------------------------------------------
list_path='/cgi-bin/ListPage.exe?BoardNum=1&TextNum=0'
view_path='/cgi-bin/ShowPage.exe?BoardNum=1&TextNum=500'
form_path='/cgi-bin/FormPage.exe?BoardNum=1'
post_path="/cgi-bin/SavePage.exe?BoardNum=$post_first&TextNum=-1"
targets=()  # setup|page|port|path|expect|post
for setup in a:$port_a b:$port_b c:$port_c; do
  name=${setup%%:*}; port=${setup##*:}
  targets+=("$name|listing|$port|$list_path|Subject of message 1000<|")
  targets+=("$name|view|$port|$view_path|Body of message 500.|")
  targets+=("$name|form|$port|$form_path|action=/cgi-bin/SavePage.exe?BoardNum=1&TextNum=-1>|")
  targets+=("$name|post|$port|$post_path|Bench subject|post")
done
targets+=("d|listing|$port_d|$list_path|Subject of message 1000<|")
targets+=("e|listing|$port_e|/list.php|Subject of message 1000<|")

# Every target answers as it should before anything is timed.
for entry in "${targets[@]}"; do
  IFS='|' read -r name page port path expect post <<<"$entry"
  if [ -n "$post" ]; then
    reply=$(curl -sS -o - -w '\n%{http_code}' --data-binary @"$site/post.txt" \
      -H 'Content-Type: application/x-www-form-urlencoded' "http://127.0.0.1:$port$path")
  else
    reply=$(curl -sS -o - -w '\n%{http_code}' "http://127.0.0.1:$port$path")
  fi
  [ "${reply##*$'\n'}" = 200 ] || fail "($name) $page: HTTP ${reply##*$'\n'}"
  grep -qF -- "$expect" <<<"$reply" || fail "($name) $page: the answer lacks '$expect'"
done
# The responder's listing is the CGI program's, byte for byte.
curl -sS -D "$site/c-headers" -o "$site/c-listing" "http://127.0.0.1:$port_c$list_path"
sed '1,/^\r\{0,1\}$/d' "$site/listing.response" | cmp -s - "$site/c-listing" ||
  fail "(c) the responder's listing differs from ListPage's"
restore_post_boards

# --- rounds -----------------------------------------------------------------
measure() {  # round clients name page port path post seconds
  local round=$1 clients=$2 name=$3 page=$4 port=$5 path=$6 post=$7 seconds=$8
  local threads=$((clients < 2 ? clients : 2))
  local out=$raw/persistent-$name-$page-$clients-$round.txt
  local env=()
  [ -n "$post" ] && env=(WRK_POST="$site/post.txt" WRK_FIRST_BOARD="$post_first" WRK_BOARDS="$post_boards")
  env "${env[@]}" wrk -t "$threads" -c "$clients" -d "${seconds}s" --latency -s "$root/bench/wrk.lua" \
    "http://127.0.0.1:$port$path" >"$out" 2>&1 || fail "wrk failed: see $out"
  local result
  result=$(grep '^RESULT' "$out") || fail "wrk printed no result: see $out"
  if [ -n "$post" ]; then
    # Every answered post is on a board; posts still in flight when wrk
    # stopped may have landed too.
    local answered landed
    answered=$(cut -f2 <<<"$result")
    landed=$(posted_records)
    if [ "$landed" -lt "$answered" ] || [ "$landed" -gt $((answered + clients)) ]; then
      fail "($name) post: $answered posts answered, $landed on the boards"
    fi
    restore_post_boards
  fi
  [ "$round" = warm ] && return 0
  printf '%s\t%s\t%s\t%s\t%s\n' "$name" "$page" "$clients" "$round" "$(cut -f2- <<<"$result")" >>"$raw/persistent.tsv"
}

log "persistent stage: warming up every target"
for entry in "${targets[@]}"; do
  IFS='|' read -r name page port path expect post <<<"$entry"
  measure warm 4 "$name" "$page" "$port" "$path" "$post" 1
done
: >"$raw/persistent.tsv"
count=${#targets[@]}
log "persistent stage: $ROUNDS rounds, $SECONDS_EACH s a target, clients $CLIENTS"
for round in $(seq 1 "$ROUNDS"); do
  for clients in $CLIENTS; do
    # The order turns by one target each round and client count, so that
    # no target always follows the same neighbour.
    shift_by=$(((round * 5 + clients) % count))
    for k in $(seq 0 $((count - 1))); do
      IFS='|' read -r name page port path expect post <<<"${targets[$(((k + shift_by) % count))]}"
      measure "$round" "$clients" "$name" "$page" "$port" "$path" "$post" "$SECONDS_EACH"
    done
  done
done
bad=$(awk -F'\t' '{ s += $7 + $8 } END { print s + 0 }' "$raw/persistent.tsv")
[ "$bad" -eq 0 ] || fail "$bad requests failed or were refused (see $raw/persistent-*.txt)"

# --- memory -----------------------------------------------------------------
# All four pages in turn, 4 at a time, through (c); each worker's resident
# set read from /proc after each count.
worker_pids() { pgrep -P "$responder_pid" | sort -n; }
rss_of() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
: >"$raw/memory.tsv"
before=$(worker_pids | tr '\n' ' ')
[ -n "$before" ] || fail "the responder has no worker processes under pid $responder_pid"
done_so_far=0
memory_paths=("$list_path" "$view_path" "$form_path" "$post_path")
for total in $MEMORY_REQUESTS; do
  log "memory: through (c) up to $total requests"
  # A quarter of them each page; posts in runs of at most 2000, each run
  # to another board, so that none fills up.
  quarter=$(((total - done_so_far) / 4))
  runs=()  # count|path|post
  for path in "$list_path" "$view_path" "$form_path"; do runs+=("$quarter|$path|"); done
  board=$post_first
  for ((left = quarter; left > 0; left -= 2000)); do
    runs+=("$((left < 2000 ? left : 2000))|/cgi-bin/SavePage.exe?BoardNum=$board&TextNum=-1|post")
    board=$((board + 1))
  done
  for run in "${runs[@]}"; do
    IFS='|' read -r n path post <<<"$run"
    form=()
    [ -n "$post" ] && form=(-p "$site/post.txt" -T application/x-www-form-urlencoded)
    out=$raw/memory-$total-$n-${path//[^A-Za-z0-9]/_}.txt
    ab -q -k -c 4 -n "$n" "${form[@]}" "http://127.0.0.1:$port_c$path" >"$out" 2>&1 ||
      fail "memory phase: ab failed (see $out)"
    # Length differences are not failures: the view prints its growing count.
    grep -Eq '^Failed requests: +0$|Connect: 0, Receive: 0, Length: [0-9]+, Exceptions: 0' "$out" ||
      fail "memory phase: requests failed (see $out)"
    ! grep -q '^Non-2xx responses' "$out" || fail "memory phase: requests refused (see $out)"
  done
  done_so_far=$total
  restore_post_boards
  for pid in $(worker_pids); do
    printf '%s\t%s\t%s\n' "$total" "$pid" "$(rss_of "$pid")" >>"$raw/memory.tsv"
  done
done
after=$(worker_pids | tr '\n' ' ')
[ "$before" = "$after" ] || log "memory: workers changed from $before to $after (one was restarted)"

stop_all
trap - EXIT

WORKERS=$workers PAGE_BYTES=$page_bytes BENCH_SECONDS=$(($(date +%s) - started)) \
  BENCH_LOAD="$load_before $(cut -d' ' -f1 /proc/loadavg)" SECONDS_EACH=$SECONDS_EACH \
  bash "$root/bench/persistent_report.sh" "$raw" "$results/persistent.md"
log "persistent stage written to $results/persistent.md"
