#!/usr/bin/env bash
# The Debian package from build to purge, on this machine: built twice from
# a copy of the tree (an earlier version, then this one), no lintian error,
# installed, a page served through nginx by the responder started as its
# unit starts it, upgraded, removed and purged; the configuration and every
# board kept at each step, a board's messages kept even by purge.
# Needs root and a machine without the package; puts the machine back.
#   tests/package/run.sh REPOSITORY
# Exit 77 (skipped) without root, Debian's tools, or on a machine where
# gesipan is installed or laid out already.
set -euo pipefail
repo=$(cd "$1" && pwd)

skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || skip "not root"
for tool in dpkg-buildpackage dh lintian nginx spawn-fcgi curl; do
  command -v "$tool" >/dev/null || skip "no $tool"
done
if dpkg-query -W -f='${Status}' gesipan 2>/dev/null | grep -q installed; then skip "gesipan is installed here"; fi
for path in /etc/gesipan /var/lib/gesipan /var/log/gesipan /run/gesipan-fcgi.sock; do
  [ ! -e "$path" ] || skip "$path is there already"
done

scratch=$(mktemp -d /tmp/gesipan-package.XXXXXX)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do while kill -0 "$pid" 2>/dev/null; do sleep 0.1; done; done
  if dpkg-query -W -f='${Status}' gesipan 2>/dev/null | grep -q "ok"; then dpkg_ /dev/null dpkg -P gesipan || true; fi
  # What the package and this test made, and nothing that was here before.
  rm -rf /etc/gesipan /var/lib/gesipan /var/log/gesipan /run/gesipan-fcgi.sock "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# dpkg, waiting while another install holds its lock (apt-get elsewhere).
dpkg_() {  # log dpkg-arguments...
  local log=$1 deadline=$((SECONDS + 600)); shift
  until "$@" >"$log" 2>&1; do
    grep -q 'lock' "$log" && [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 1
  done
}

# Waits for a command to succeed, at most `seconds`.
wait_for() {  # seconds command...
  local deadline=$((SECONDS + $1)); shift
  until "$@" 2>/dev/null; do
    [ "$SECONDS" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# --- Two builds of the same tree: an earlier version, then this one.
mkdir "$scratch/src"
if git -C "$repo" rev-parse 2>/dev/null; then
  git -C "$repo" ls-files -co --exclude-standard -z | tar -C "$repo" --null -T - -cf - | tar -xf - -C "$scratch/src"
else
  tar -C "$repo" --exclude='./build*' --exclude=node_modules --exclude=./site -cf - . | tar -xf - -C "$scratch/src"
fi
version=$(dpkg-parsechangelog -l "$repo/debian/changelog" -S Version)
earlier="$version~earlier"
sed -i "1s/($version)/($earlier)/" "$scratch/src/debian/changelog"
(cd "$scratch/src" && dpkg-buildpackage -us -uc -b >"$scratch/build1.log" 2>&1) ||
  { tail -40 "$scratch/build1.log"; fail "the first build"; }
sed -i "1s/($earlier)/($version)/" "$scratch/src/debian/changelog"
# The second build goes on from the first one's objects.
(cd "$scratch/src" && dpkg-buildpackage -us -uc -b -nc >"$scratch/build2.log" 2>&1) ||
  { tail -40 "$scratch/build2.log"; fail "the second build"; }
arch=$(dpkg --print-architecture)
old_deb=$scratch/gesipan_${earlier}_$arch.deb
new_deb=$scratch/gesipan_${version}_$arch.deb
[ -f "$old_deb" ] && [ -f "$new_deb" ] || fail "no packages: $(ls "$scratch")"
echo "built $(basename "$old_deb") and $(basename "$new_deb")"

lint=$(lintian "$new_deb" 2>&1 | grep -v 'running with root privileges' || true)
if grep -q '^E:' <<<"$lint"; then fail "lintian errors:
$lint"; fi
echo "lintian: $(grep -c '^[WI]:' <<<"$lint" || true) warnings and notes, no error"

# --- Install the earlier version.
dpkg_ "$scratch/install.log" dpkg -i "$old_deb" || { cat "$scratch/install.log"; fail "install"; }
grep -q "password is in /etc/gesipan/initial-password" "$scratch/install.log" || fail "no word of the password"
grep -q "footer shows the EMAIL line" "$scratch/install.log" || fail "no word of EMAIL"
[ -d /run/systemd/system ] || grep -q "spawn-fcgi" "$scratch/install.log" || fail "no word of starting the responder"
[ "$(gesipan --version)" = "gesipan ${version%%[-~]*}" ] || fail "gesipan --version: $(gesipan --version)"
for page in /usr/share/man/man8/gesipan.8.gz /usr/share/man/man8/gesipan-fcgi.8.gz /usr/share/man/man5/GuestBook.conf.5.gz; do
  [ -f "$page" ] || fail "no $page"
done

# Who owns what: programs root's, the configuration root's and the web
# user's to read, the boards the web user's alone to write.
expect_owner() {  # path owner:group mode
  local got
  got=$(stat -c '%U:%G %a' "$1")
  [ "$got" = "$2 $3" ] || fail "$1 is $got, not $2 $3"
}
expect_owner /etc/gesipan/GuestBook.conf root:www-data 640
expect_owner /etc/gesipan/form.key root:www-data 640
expect_owner /etc/gesipan/initial-password root:root 600
expect_owner /usr/lib/gesipan/cgi-bin/ListPage.exe root:root 755
expect_owner /var/lib/gesipan/boards root:root 755
expect_owner /var/lib/gesipan/boards/1 www-data:www-data 750
expect_owner /var/lib/gesipan/boards/throttle www-data:www-data 750
expect_owner /var/log/gesipan www-data:adm 2750
as_web() { runuser -u www-data -- "$@"; }
as_web test -r /usr/lib/gesipan/cgi-bin/GuestBook.conf || fail "the web user cannot read the configuration"
for dir in /etc/gesipan /usr/lib/gesipan/cgi-bin /var/lib/gesipan/boards /var/lib/gesipan/Image; do
  ! as_web test -w "$dir" || fail "the web user may write into $dir"
done
password=$(cat /etc/gesipan/initial-password)
grep -q '^Password \$y\$' /etc/gesipan/GuestBook.conf || fail "the password is not kept as its hash"

# --- Serve: the responder as its unit starts it, nginx with the snippet.
unit_value() {  # unit key
  sed -n "s/^$2=//p" "/lib/systemd/system/gesipan-fcgi.$1"
}
start_responder() {
  if [ -d /run/systemd/system ]; then
    wait_for 10 test -S "$(unit_value socket ListenStream)" || fail "systemd holds no socket"
    return
  fi
  # As systemd would: the socket made with its owner and mode and handed
  # over as standard input, the program in its directory as its user.
  spawn-fcgi -n -s "$(unit_value socket ListenStream)" -M "$(unit_value socket SocketMode)" \
    -U "$(unit_value socket SocketUser)" -G "$(unit_value socket SocketGroup)" \
    -u "$(unit_value service User)" -g "$(unit_value service Group)" \
    -d "$(unit_value service WorkingDirectory)" -- $(unit_value service ExecStart) \
    >>"$scratch/responder.log" 2>&1 &
  responder=$!
  pids+=("$responder")
  wait_for 10 test -S "$(unit_value socket ListenStream)" || fail "the responder did not start"
}
stop_responder() {
  [ -n "${responder:-}" ] || return 0
  kill -TERM "$responder"
  wait "$responder" 2>/dev/null || true
  rm -f "$(unit_value socket ListenStream)"
  responder=""
}

# A port below the kernel's ephemeral range, which the other suites' free
# ports come from, and free now.
for _ in $(seq 50); do
  port=$((20000 + RANDOM % 12000))
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || break
done
mkdir "$scratch/nginx"
cat >"$scratch/nginx/nginx.conf" <<EOF
user www-data www-data;
worker_processes 1;
pid $scratch/nginx/nginx.pid;
error_log $scratch/nginx/error.log;
daemon off;
events { worker_connections 64; }
http {
    access_log off;
    include /etc/nginx/mime.types;
$(for t in client_body fastcgi proxy scgi uwsgi; do echo "    ${t}_temp_path $scratch/nginx/$t;"; done)
    server {
        listen 127.0.0.1:$port;
        server_name _;
        include /etc/nginx/snippets/gesipan.conf;
        location / { return 403; }
    }
}
EOF
nginx -q -t -p "$scratch/nginx" -c "$scratch/nginx/nginx.conf" || fail "nginx refuses the snippet"
nginx -p "$scratch/nginx" -c "$scratch/nginx/nginx.conf" &
nginx_pid=$!
pids+=("$nginx_pid")
base=http://127.0.0.1:$port
nginx_serves() { kill -0 "$nginx_pid" && curl -sf -o /dev/null "$base/Image/title1.gif"; }
wait_for 10 nginx_serves || fail "nginx does not serve: $(cat "$scratch/nginx/error.log")"
start_responder

fetch() {  # path [body]: the response's status and headers in $scratch/head, body in $scratch/body
  local args=(-s -D "$scratch/head" -o "$scratch/body" -w '%{http_code}')
  [ $# -lt 2 ] || args+=(--data-binary "$2")
  curl "${args[@]}" "$base$1"
}
listing=/cgi-bin/ListPage.exe?BoardNum=1\&TextNum=0
[ "$(fetch "$listing")" = 200 ] || fail "the listing: $(cat "$scratch/body")"
grep -qi '^content-type: text/html; charset=EUC-KR' "$scratch/head" || fail "the listing's type: $(cat "$scratch/head")"
policy=$(sed -n 's/.*"Content-Security-Policy" => "\([^"]*\)".*/\1/p' "$repo/deploy/lighttpd.conf.in")
grep -qF "content-security-policy: $policy" <(tr -d '\r' <"$scratch/head" | sed 's/^Content-Security-Policy/content-security-policy/') ||
  fail "the policy differs from deploy/lighttpd.conf.in's"
for path in /cgi-bin/GuestBook.conf /cgi-bin/gesipan /cgi-bin/ /cgi-bin/ListPage.exe.bak /Image/x.png /Image/; do
  code=$(fetch "$path")
  [ "$code" = 403 ] || [ "$code" = 404 ] || fail "$path answered $code"
done
fetch /Image/title1.gif >/dev/null
[ "$(head -c 6 "$scratch/body")" = GIF89a ] || fail "the title image"

# A post through the compose form, its token signed with the package's secret.
[ "$(fetch "/cgi-bin/FormPage.exe?BoardNum=1")" = 200 ] || fail "the form"
token=$(sed -n 's/.*name=token value="\([^"]*\)".*/\1/p' "$scratch/body")
[ -n "$token" ] || fail "the form carries no token"
# The form token refuses a post sooner than three seconds after its form.
sleep 3.2
fetch "/cgi-bin/SavePage.exe?BoardNum=1&TextNum=-1" "name=Kim&email=&homepage=&subject=Packaged&body=kept&token=$token&website=" >/dev/null
wait_for 10 test ! -e /var/lib/gesipan/boards/1/guestbook.redo || fail "the post did not settle"
fetch "$listing" >/dev/null
grep -q Packaged "$scratch/body" || fail "the post is not listed"
[ "$(fetch "/cgi-bin/EditPage.exe?BoardNum=1&TextNum=1" "password=$password")" = 200 ] && grep -q '<textarea' "$scratch/body" ||
  fail "the initial password does not open the edit form"

# The other servers' pieces: lighttpd's serves the same page from the same
# responder; Apache's passes its own configuration test.
other_port() {
  local p
  for _ in $(seq 50); do
    p=$((20000 + RANDOM % 12000))
    [ "$p" != "$port" ] && ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null && break
  done
  echo "$p"
}
if command -v lighttpd >/dev/null; then
  lighttpd_port=$(other_port)
  mkdir "$scratch/empty"
  printf '%s\n' "server.document-root = \"$scratch/empty\"" 'server.bind = "127.0.0.1"' \
    "server.port = $lighttpd_port" 'server.username = "www-data"' 'server.groupname = "www-data"' \
    'include "/etc/lighttpd/conf-available/50-gesipan.conf"' >"$scratch/lighttpd.conf"
  lighttpd -tt -f "$scratch/lighttpd.conf" >/dev/null || fail "lighttpd refuses its piece"
  lighttpd -D -f "$scratch/lighttpd.conf" &
  lighttpd_pid=$!
  pids+=("$lighttpd_pid")
  lighttpd_serves() { kill -0 "$lighttpd_pid" && curl -sf -o "$scratch/body" "http://127.0.0.1:$lighttpd_port$listing"; }
  wait_for 10 lighttpd_serves || fail "lighttpd does not serve the listing"
  grep -q Packaged "$scratch/body" || fail "lighttpd's listing lacks the post"
  code=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$lighttpd_port/cgi-bin/GuestBook.conf")
  [ "$code" = 403 ] || fail "lighttpd answered the configuration with $code"
  kill -TERM "$lighttpd_pid"
  wait "$lighttpd_pid" 2>/dev/null || true
fi
if [ -x /usr/sbin/apache2 ]; then
  mkdir "$scratch/apache"
  {
    echo "ServerRoot $scratch/apache"
    echo "ServerName localhost"
    echo "Listen 127.0.0.1:$(other_port)"
    echo "PidFile $scratch/apache/httpd.pid"
    echo "ErrorLog $scratch/apache/error.log"
    for module in mpm_event authz_core alias mime headers proxy proxy_fcgi reqtimeout; do
      echo "LoadModule ${module}_module /usr/lib/apache2/modules/mod_$module.so"
    done
    echo "Include /etc/apache2/conf-available/gesipan.conf"
  } >"$scratch/apache/httpd.conf"
  /usr/sbin/apache2 -t -f "$scratch/apache/httpd.conf" >"$scratch/apache/test.log" 2>&1 ||
    fail "Apache refuses its piece: $(cat "$scratch/apache/test.log")"
fi
# The units as installed, and the log's rotation.
if command -v systemd-analyze >/dev/null; then
  out=$(systemd-analyze verify /lib/systemd/system/gesipan-fcgi.socket /lib/systemd/system/gesipan-fcgi.service 2>&1) &&
    [ -z "$out" ] || fail "systemd-analyze verify: $out"
fi
if command -v logrotate >/dev/null; then
  logrotate -d /etc/logrotate.d/gesipan >"$scratch/logrotate.log" 2>&1 || fail "logrotate: $(cat "$scratch/logrotate.log")"
fi

# A second board, readied by configuring again.
echo "2 title2.gif" >>/etc/gesipan/GuestBook.conf
dpkg_ "$scratch/reconfigure.log" dpkg-reconfigure gesipan || fail "reconfigure: $(cat "$scratch/reconfigure.log")"
expect_owner /var/lib/gesipan/boards/2 www-data:www-data 750
[ -f /var/lib/gesipan/Image/title2.gif ] || fail "no title image for board 2"

# Everything the owner keeps, as it stands now.
kept() {
  (cd / && find etc/gesipan var/lib/gesipan/boards -path '*/throttle' -prune -o -type f -print0 | sort -z |
    xargs -0 sha256sum; find var/lib/gesipan/boards -path '*/throttle' -prune -o -printf '%p %u %m\n' | sort)
}
before=$(kept)

# --- Upgrade: the configuration and every board stay; the new responder serves.
stop_responder
dpkg_ "$scratch/upgrade.log" dpkg -i "$new_deb" || { cat "$scratch/upgrade.log"; fail "upgrade"; }
grep -q "initial-password" "$scratch/upgrade.log" && fail "the upgrade made a new password"
[ "$(dpkg-query -W -f='${Version}' gesipan)" = "$version" ] || fail "not upgraded"
[ "$(kept)" = "$before" ] || fail "the upgrade changed what the owner keeps: $(diff <(echo "$before") <(kept))"
start_responder
fetch "$listing" >/dev/null
grep -q Packaged "$scratch/body" || fail "the upgraded responder does not list the post"
stop_responder

# --- Remove: the programs go, the configuration and boards stay.
dpkg_ "$scratch/remove.log" dpkg -r gesipan || { cat "$scratch/remove.log"; fail "remove"; }
[ ! -e /usr/bin/gesipan ] && [ ! -e /usr/lib/gesipan/cgi-bin/ListPage.exe ] || fail "remove left the programs"
[ "$(kept)" = "$before" ] || fail "remove changed what the owner keeps"

# --- Purge: what the package made goes; board 1's messages stay, and it says where.
dpkg_ "$scratch/purge.log" dpkg -P gesipan || { cat "$scratch/purge.log"; fail "purge"; }
for gone in /etc/gesipan /etc/nginx/snippets/gesipan.conf /var/lib/gesipan/Image /var/lib/gesipan/boards/throttle \
    /var/lib/gesipan/boards/2 /var/log/gesipan; do
  [ ! -e "$gone" ] || fail "purge left $gone"
done
grep -q "keeps the messages of board 1 in /var/lib/gesipan/boards/1" "$scratch/purge.log" || fail "purge did not say where board 1 is: $(cat "$scratch/purge.log")"
[ "$(cd / && find var/lib/gesipan/boards/1 -type f -print0 | sort -z | xargs -0 sha256sum)" = \
  "$(grep ' var/lib/gesipan/boards/1/' <<<"$before")" ] || fail "purge changed board 1"
echo "package built, installed, served, upgraded, removed and purged; board 1 kept"
