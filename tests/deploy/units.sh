#!/usr/bin/env bash
# The responder's systemd units as shipped, checked by systemd-analyze
# verify for a site laid out in a scratch directory instead of /srv/site:
# no error, no warning. Then a unit whose program is missing must fail, or
# the check would prove nothing here.
#   tests/deploy/units.sh DEPLOY_DIR BIN_DIR
set -euo pipefail
deploy=$1
bin=$2
responder=$bin/gesipan-fcgi
[ -x "$responder" ] || { echo "no responder at $responder" >&2; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
site=$scratch/site
mkdir -p "$site/bin" "$site/cgi-bin" "$site/boards" "$scratch/units"
cp "$responder" "$site/bin/gesipan-fcgi"
units=()
for unit in gesipan-fcgi.socket gesipan-fcgi.service; do
  sed "s|/srv/site|$site|g" "$deploy/systemd/$unit" >"$scratch/units/$unit"
  units+=("$scratch/units/$unit")
done

verify() {  # unit files...; prints what systemd-analyze says
  local out status=0
  out=$(systemd-analyze verify "$@" 2>&1) || status=$?
  printf '%s' "$out"
  return "$status"
}

if ! out=$(verify "${units[@]}") || [ -n "$out" ]; then
  printf 'systemd-analyze verify found fault with the units:\n%s\n' "$out" >&2
  exit 1
fi

rm "$site/bin/gesipan-fcgi"
if out=$(verify "${units[@]}"); then
  printf 'systemd-analyze verify passed a service whose program is missing:\n%s\n' "$out" >&2
  exit 1
fi
echo "units verified"
