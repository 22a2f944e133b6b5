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
for directive in BASE_DIR BBS_DIR EMAIL Password TRUSTED_PROXY ERASE_DOMAIN FORM_TOKEN HONEYPOT LINK_LIMIT \
    POST_LIMIT DUPLICATE_CHECK BAN_LIST; do
  grep -rqF "\"$directive\"" "$repo/common" || { echo "no program reads $directive any more" >&2; status=1; }
  grep -Eq "^\.BI? $directive( |$)" "$conf_page" || { echo "GuestBook.conf(5) has no entry for $directive" >&2; status=1; }
done
exit "$status"
