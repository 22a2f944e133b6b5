#!/usr/bin/env bash
# What the spam defences cost a post: SavePage storing a new message on a
# site without the defence lines and on one with all six, interleaved run
# by run (each defended post with a token fetched from FormPage beforehand,
# from its own address, with its own body). FormPage is timed the same way.
#
#   bash bench/spam_cost.sh [RUNS]        (default 200)
#
# Builds what it needs in $BENCH_BUILD (build-bench/) and prints a table.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
runs=${1:-200}
build=${BENCH_BUILD:-$root/build-bench}

. scripts/packages.sh
install_missing_packages g++ cmake make libcrypt-dev libfcgi-dev nettle-dev
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DGESIPAN_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
bin=$build/bin

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

make_site() {  # DIR DEFENDED
  local site=$1
  mkdir -p "$site/cgi-bin" "$site/boards/1" "$site/boards/throttle" "$site/secret"
  cp "$bin/SavePage" "$bin/FormPage" "$site/cgi-bin/"
  printf 'BASE_DIR /\nBBS_DIR %s/boards/\nEMAIL admin@example.org\n1 title1.gif\n' "$site" >"$site/cgi-bin/GuestBook.conf"
  if [ "$2" = 1 ]; then
    od -An -N32 -tx1 /dev/urandom | tr -d ' \n' >"$site/secret/form.key"
    : >"$site/secret/ban.list"
    printf '%s\n' "FORM_TOKEN ../secret/form.key 3" "HONEYPOT on" "LINK_LIMIT 3" \
      "POST_LIMIT 5 600" "DUPLICATE_CHECK 86400" "BAN_LIST ../secret/ban.list" >>"$site/cgi-bin/GuestBook.conf"
  fi
}
make_site "$work/plain" 0
make_site "$work/defended" 1

# Microseconds one CGI run takes, from the shell's fork to the exit.
time_run() {  # SITE PROGRAM QUERY BODY ADDRESS
  local start end
  start=$EPOCHREALTIME
  (cd "$1/cgi-bin" && QUERY_STRING=$3 CONTENT_LENGTH=${#4} REMOTE_ADDR=$5 REQUEST_METHOD=POST \
    ./"$2" <<<"$4" >/dev/null)
  end=$EPOCHREALTIME
  echo $(( ${end/./} - ${start/./} ))
}

# The tokens first: each is single use and must be older than 3 s.
tokens=()
for ((i = 0; i < runs; i++)); do
  page=$(cd "$work/defended/cgi-bin" && QUERY_STRING='BoardNum=1&TextNum=0' ./FormPage)
  token=$(grep -ao 'name=token value="[^"]*"' <<<"$page" | sed 's/.*value="//; s/"$//')
  [ -n "$token" ] || { echo "spam_cost: FormPage printed no token" >&2; exit 1; }
  tokens+=("$token")
done
sleep 4

query='BoardNum=1&TextNum=-1'
: >"$work/post.plain" >"$work/post.defended" >"$work/form.plain" >"$work/form.defended"
for ((i = 0; i < runs; i++)); do
  address="10.$((i / 250)).$((i % 250)).1"
  form="name=bench&email=&homepage=&subject=run+$i&body=message+number+$i"
  time_run "$work/plain" SavePage "$query" "$form" "$address" >>"$work/post.plain"
  time_run "$work/defended" SavePage "$query" "$form&token=${tokens[i]}&website=" "$address" >>"$work/post.defended"
  time_run "$work/plain" FormPage 'BoardNum=1&TextNum=0' "" "$address" >>"$work/form.plain"
  time_run "$work/defended" FormPage 'BoardNum=1&TextNum=0' "" "$address" >>"$work/form.defended"
done
stored=$(( ($(stat -c %s "$work/defended/boards/1/guestbook.dat") - 125) / 410 ))
[ "$stored" = "$runs" ] || { echo "spam_cost: only $stored of $runs defended posts were stored" >&2; exit 1; }

percentile() {  # FILE P
  sort -n "$1" | awk -v p="$2" '{ v[NR] = $1 } END { i = int((NR - 1) * p / 100) + 1; printf "%.2f", v[i] / 1000 }'
}
echo "Run $(date -u '+%Y-%m-%d %H:%M UTC'), $runs runs each, load average before: $(cut -d' ' -f1 /proc/loadavg)"
echo
echo "| Request | without the lines: median ms | p90 ms | with all six: median ms | p90 ms |"
echo "|---|---:|---:|---:|---:|"
for case in post form; do
  name=SavePage; [ "$case" = form ] && name=FormPage
  echo "| \`$name\` | $(percentile "$work/$case.plain" 50) | $(percentile "$work/$case.plain" 90) |" \
    "$(percentile "$work/$case.defended" 50) | $(percentile "$work/$case.defended" 90) |"
done
