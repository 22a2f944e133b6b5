#!/usr/bin/env bash
# The manual pages render without a warning, and GuestBook.conf(5) has an
# entry for every directive the programs read (each still read somewhere).
#   tests/deploy/man.sh REPOSITORY
set -euo pipefail
repo=$1
status=0
for page in "$repo"/docs/man/*.[0-9]; do
  warnings=$(groff -ww -man -Tutf8 "$page" 2>&1 >/dev/null)
  if [ -n "$warnings" ]; then
    printf '%s: groff warns:\n%s\n' "$page" "$warnings" >&2
    status=1
  fi
done
conf_page=$repo/docs/man/GuestBook.conf.5
# Every key the configuration's reader compares a line's first word with.
directives=$(grep -ohE 'strcmp\((word|key), "[A-Za-z_]+"\)' "$repo"/config/*.cpp | sed -E 's/.*"([A-Za-z_]+)".*/\1/' | sort -u)
[ "$(echo "$directives" | wc -w)" -ge 12 ] || { echo "the reader's keys were not found" >&2; status=1; }
for directive in $directives; do
  grep -Eq "^\.BI? $directive( |$)" "$conf_page" || { echo "GuestBook.conf(5) has no entry for $directive" >&2; status=1; }
done
exit "$status"
