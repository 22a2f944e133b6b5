#!/usr/bin/env bash
# The documents: a README a newcomer reads to the end, every document and
# file they point to there, server configurations kept once in deploy/
# (pointed to, not pasted), and a sample configuration that means what it
# shows.
#   tests/deploy/docs.sh REPOSITORY
set -euo pipefail
cd "$1"
status=0
fault() { echo "$*" >&2; status=1; }

lines=$(wc -l <README.md)
[ "$lines" -le 200 ] || fault "README.md has $lines lines, more than 200"

# Every relative link and every deploy/ path named.
for doc in README.md docs/*.md; do
  dir=$(dirname "$doc")
  while read -r target; do
    target=${target%%#*}
    [ -n "$target" ] || continue
    [ -e "$dir/$target" ] || fault "$doc links to $target, which is not there"
  done < <(grep -o '](\([^)]*\))' "$doc" | sed 's/^](\(.*\))$/\1/' | grep -v '^[a-z]*:' || true)
  while read -r path; do
    [ -e "$path" ] || fault "$doc names $path, which is not there"
  done < <(grep -oP '(?<![/\w])deploy/[\w./-]*\w' "$doc" | sort -u || true)
done

# A server's configuration is pointed to, not pasted: no document repeats
# three whole lines of one.
for template in deploy/*.conf.in deploy/package/*.in; do
  for doc in README.md docs/*.md; do
    shared=$(grep -vE '^\s*(#|$|\}|\{)' "$template" | sed 's/^[[:space:]]*//' | sort -u |
      grep -cxFf - <(sed 's/^[[:space:]]*//' "$doc") || true)
    [ "$shared" -lt 3 ] || fault "$doc pastes $shared lines of $template; point to it instead"
  done
done

# The sample configuration: a directive line carries its value and nothing
# more, since the programs take the rest of the line as the value.
sample=$(awk '/<!-- sample configuration/ { on = 1; next } on && /^```$/ { if (inside) exit; inside = 1; next } inside' docs/owner.md)
[ -n "$sample" ] || fault "docs/owner.md has no marked sample configuration"
while read -r word rest; do
  case "$word" in '' | \#*) continue ;; esac
  read -ra values <<<"$rest"
  case "$word" in
    BASE_DIR | BBS_DIR | EMAIL | Password | LINK_LIMIT | DUPLICATE_CHECK | BAN_LIST | EVENT_LOG | STATUS_CODES) most=1 ;;
    FORM_TOKEN | POST_LIMIT) most=2 ;;
    HONEYPOT) [ "$rest" = on ] || fault "sample: HONEYPOT \"$rest\" is off"; most=1 ;;
    TRUSTED_PROXY) most=0; for v in "${values[@]}"; do [[ "$v" =~ ^[0-9A-Fa-f:.]+$ ]] || fault "sample: TRUSTED_PROXY $v is no address"; done ;;
    *) [[ "$word" =~ ^(0|[1-9][0-9]*)$ ]] || fault "sample: \"$word\" is no directive"; most=2 ;;
  esac
  [ "$most" -eq 0 ] || [ "${#values[@]}" -le "$most" ] || fault "sample: \"$word $rest\" carries words beyond its value"
done <<<"$sample"

# The responder's socket the documents name is the socket unit's.
grep -q '^ListenStream=/run/gesipan-fcgi.sock$' deploy/systemd/gesipan-fcgi.socket || fault "the socket unit moved"
grep -q '/run/gesipan-fcgi.sock' docs/serving.md || fault "docs/serving.md names another socket"
exit "$status"
