#!/usr/bin/env bash
# Password guesses per second from one client address through EditPage, run
# as CGI processes by bench/cgi_bench.c in a scratch site.
#
#   bash bench/guess_rate.sh [BIN_DIR] [OLD_BIN_DIR] [RUNS]
#
# BIN_DIR holds the built EditPage and gesipan (default build-release/bin);
# OLD_BIN_DIR, when given, an EditPage of a version without hashes or the
# guessing limit, measured the same way for comparison. Per case: requests
# answered per second, and the guesses per second that reach the password
# comparison. The last case removes the guessing record before every run:
# each guess as if from a new address, so that only the hash slows it.
# Then the right password is sent from the guessing address and another.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "${1:-$root/build-release/bin}" && pwd)
old=${2:-}
runs=${3:-300}
case "$runs" in ''|*[!0-9]*) echo "guess_rate: RUNS must be a number" >&2; exit 2 ;; esac
work=$(mktemp -d /tmp/gesipan-guess-XXXXXX)
trap 'rm -rf "$work"' EXIT
cc -O2 -Wall -Wextra -static -o "$work/cgi_bench" "$root/bench/cgi_bench.c" 2>/dev/null ||
  cc -O2 -Wall -Wextra -o "$work/cgi_bench" "$root/bench/cgi_bench.c"
right=sesame

# A site per case: one message for the form to show, its own configuration.
field() { printf '%s' "$1"; head -c $(($2 - ${#1})) /dev/zero; }
make_site() {  # dir password-line
  mkdir -p "$1/cgi-bin" "$1/boards/1"
  {
    field 1 10; field 1 10; field 1 5; field "" 100
    field 1 5; field Kim 20; field date 20; field time 20; field "" 40; field "   0" 10; field Hello 80
    field 1 5; field "" 60; field host 50; field guestbook1.html 100
  } >"$1/boards/1/guestbook.dat"
  echo body >"$1/boards/1/guestbook1.html"
  printf 'BASE_DIR /\nBBS_DIR %s/boards/\nEMAIL a@example.org\nPassword %s\n1 title.gif\n' "$1" "$2" \
    >"$1/cgi-bin/GuestBook.conf"
}
make_site "$work/plain" "$right"
for site in hashed spread; do
  make_site "$work/$site" "$right"
  printf '%s\n%s\n' "$right" "$right" | "$bin/gesipan" --conf "$work/$site/cgi-bin/GuestBook.conf" password >/dev/null
done
printf 'password=wrong-guess' >"$work/guess"

add_case() {  # name program site [extra lines]
  printf 'case %s\nprogram %s\ndir %s/cgi-bin\nenv QUERY_STRING=BoardNum=1&TextNum=1\nenv CONTENT_LENGTH=20\n' "$1" "$2" "$3"
  printf 'env REMOTE_ADDR=198.51.100.7\nstdin %s/guess\nexpect Access denied.\n' "$work"
  [ -z "${4:-}" ] || printf '%s\n' "$4"
  printf '\n'
}
{
  [ -z "$old" ] || { make_site "$work/old" "$right"; add_case before-plain "$(cd "$old" && pwd)/EditPage" "$work/old"; }
  add_case plain "$bin/EditPage" "$work/plain"
  add_case yescrypt "$bin/EditPage" "$work/hashed"
  add_case yescrypt-each-new "$bin/EditPage" "$work/spread" "remove $work/spread/boards/gesipan.throttle"
} >"$work/cases"
"$work/cgi_bench" -n "$runs" -w 10 "$work/cases" >"$work/results"

# With the record in place, 10 guesses reach the comparison and then none
# for the shut-out: at most 10 per window and shut-out, whatever the rate.
awk -F'\t' '{
  rate = 1e6 / $6
  compared = ($1 ~ /^before/ || $1 ~ /each-new$/) ? sprintf("%8.1f", rate) : "  <= 0.011 (10 per 15 min)"
  printf "%-18s %5d runs, %2d failed, mean %7.0f us = %7.1f requests/s; guesses compared per second: %s\n",
         $1, $2, $3, $6, rate, compared }' "$work/results"

probe() {  # site address -> opened / denied
  local page
  page=$(cd "$1/cgi-bin" && printf 'password=%s' "$right" |
         REMOTE_ADDR=$2 QUERY_STRING='BoardNum=1&TextNum=1' CONTENT_LENGTH=$((9 + ${#right})) "$bin/EditPage") || true
  case "$page" in *"<textarea"*) echo opened ;; *"Access denied."*) echo denied ;; *) echo other ;; esac
}
echo "right password after the guesses: from the guessing address $(probe "$work/hashed" 198.51.100.7)," \
     "from another address $(probe "$work/hashed" 198.51.100.8)"
