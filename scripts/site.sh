#!/usr/bin/env bash
# Builds the six programs and the images, lays out a site and serves it with
# lighttpd in the foreground.
#   bash scripts/site.sh [--listen ADDRESS] [--port N] [--dir DIR]
# ADDRESS is where lighttpd listens: 127.0.0.1 unless told otherwise.
# Started as root, lighttpd and the programs run as the web user (www-data,
# or a system user "gesipan" made for it): it may read GuestBook.conf and
# change the board directories, nothing else. Started as anyone else, they
# run as that user.
# A rerun refreshes programs and images, and readies every board line of
# GuestBook.conf (its directory and title image); the configuration, the
# boards' files and title images already there are kept.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
port=8080
address=127.0.0.1
dir="$repo/site"
usage="usage: bash scripts/site.sh [--listen ADDRESS] [--port N] [--dir DIR]"
while [ $# -gt 0 ]; do
  case "$1" in
    --port)   port="${2:?--port needs a number}"; shift 2 ;;
    --listen) address="${2:?--listen needs an address}"; shift 2 ;;
    --dir)    dir="${2:?--dir needs a directory}"; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
case "$port" in ''|*[!0-9]*) echo "site: port must be a number" >&2; exit 2 ;; esac
# An IPv4 or IPv6 address, or a host name; it goes into the server's configuration.
address="${address#[}"
address="${address%]}"
case "$address" in ''|*[!A-Za-z0-9.:_-]*) echo "site: not an address: $address" >&2; exit 2 ;; esac
# lighttpd and URLs take IPv6 addresses in brackets.
bind="$address"
case "$bind" in *:*) bind="[$bind]" ;; esac

. "$repo/scripts/packages.sh"
install_missing_packages g++ cmake make lighttpd libcrypt-dev nettle-dev

build="$repo/build-release"
if [ -n "${GESIPAN_SITE_BIN:-}" ]; then
  # The test command lays out sites from the programs it has built already.
  bin="$GESIPAN_SITE_BIN"
else
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGESIPAN_TESTS=OFF >/dev/null
  cmake --build "$build" -j2
  bin="$build/bin"
fi

web_user=""
if [ "$(id -u)" -eq 0 ]; then
  if id -u www-data >/dev/null 2>&1; then
    web_user=www-data
  else
    id -u gesipan >/dev/null 2>&1 ||
      useradd --system --user-group --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin gesipan
    web_user=gesipan
  fi
  web_group="$(id -gn "$web_user")"
fi

mkdir -p "$dir"
root="$(cd "$dir" && pwd)"
mkdir -p "$root/cgi-bin" "$root/Image" "$root/boards"
if [ -n "$web_user" ]; then
  # The programs and images are root's; the web user only reads them.
  for d in "$root" "$root/cgi-bin" "$root/Image" "$root/boards"; do
    [ "$(stat -c %U "$d")" = "$web_user" ] && chown root:root "$d"
    chmod go-w,a+rx "$d"
  done
fi

for program in ListPage ShowPage FormPage SavePage EditPage DropPage; do
  if [ -x "$bin/$program" ]; then
    # Copy beside and rename, so a running request never sees half a program.
    cp "$bin/$program" "$root/cgi-bin/$program.exe.new"
    chmod 755 "$root/cgi-bin/$program.exe.new"
    mv -f "$root/cgi-bin/$program.exe.new" "$root/cgi-bin/$program.exe"
  else
    echo "site: $program is not built yet; its pages will be missing" >&2
  fi
done
# The owner's tool, beside the programs but not a CGI program: the server
# runs only names ending in .exe.
cp "$bin/gesipan" "$root/cgi-bin/gesipan.new"
chmod 755 "$root/cgi-bin/gesipan.new"
mv -f "$root/cgi-bin/gesipan.new" "$root/cgi-bin/gesipan"

conf="$root/cgi-bin/GuestBook.conf"
if [ ! -e "$conf" ]; then
  password="$(LC_ALL=C tr -dc 'A-Za-z0-9' </dev/urandom | head -c 10 || true)"
  umask_was="$(umask)"
  umask 077
  # Written beside and moved in place: a cut run leaves no half configuration.
  cat >"$conf.new" <<CONF
# written by scripts/site.sh on first set-up
BASE_DIR /
BBS_DIR $root/boards/
EMAIL admin@localhost
Password $password
1 title1.gif
CONF
  mv "$conf.new" "$conf"
  umask "$umask_was"
  # Kept in the file as its crypt hash only.
  printf '%s\n%s\n' "$password" "$password" | "$root/cgi-bin/gesipan" --conf "$conf" password >/dev/null
  echo "Editing and erasing password (shown only now): $password"
fi
if [ -L "$conf" ]; then
  echo "site: $conf is a symbolic link; make it a plain file" >&2
  exit 1
fi
if [ -n "$web_user" ]; then
  # The password must stay unreadable to anyone but root and the web server.
  chown "root:$web_group" "$conf"
  chmod 640 "$conf"
fi

# Every board line of the configuration, as "NUMBER IMAGE BOARD_DIRECTORY",
# the directory formed as the programs form it: the BBS_DIR read so far,
# the number and "/"; a relative BBS_DIR is relative to cgi-bin/.
boards="$(tr -d '\r' <"$conf" | awk -v cgi="$root/cgi-bin/" '
  $1 ~ /^#/ { next }
  $1 == "BBS_DIR" { sub(/^[ \t]*BBS_DIR[ \t]*/, ""); sub(/[ \t]+$/, ""); bbs = $0; next }
  $1 ~ /^-?[0-9]+$/ && NF >= 2 {
    d = bbs; if (substr(d, 1, 1) != "/") d = cgi d
    print $1, $2, d $1 "/"
  }')"

title_args=()
while read -r number image board; do
  [ -n "$number" ] || continue
  # The programs match the line against the number as they print it.
  if ! [[ "$number" =~ ^(0|[1-9][0-9]{0,9})$ ]] || [ "$number" -gt 2147483647 ]; then
    echo "site: board line \"$number $image\": only numbers 0 to 2147483647 without leading zeros are readied; skipped" >&2
    continue
  fi
  if [[ "$image" =~ ^[A-Za-z0-9_]+\.gif$ ]]; then
    title_args+=("$number" "$image")
  else
    echo "site: board $number: the server serves Image/NAME.gif only (letters, digits, _); $image not drawn" >&2
  fi
  if [ -L "${board%/}" ]; then
    # The owner's link (to another disk, say) is theirs to keep right.
    echo "site: board $number: ${board%/} is a symbolic link; left as it is" >&2
    continue
  fi
  if [ ! -d "$board" ]; then
    mkdir -p "$board"
    [ -n "$web_user" ] || chmod 755 "$board"
  fi
  if [ -n "$web_user" ]; then
    # -R does not follow links; a board set up by an earlier root run is handed over.
    chown -R "$web_user:$web_group" "$board"
    chmod 750 "$board"
  fi
done <<<"$boards"
# The guessing limit keeps its count here; the programs never make it, and
# without it they count nothing.
throttle="$root/boards/throttle"
if [ -L "$throttle" ]; then
  echo "site: $throttle is a symbolic link; left as it is" >&2
else
  mkdir -p "$throttle"
  if [ -n "$web_user" ]; then
    chown -R "$web_user:$web_group" "$throttle"
    chmod 750 "$throttle"
  fi
fi
if [ ${#title_args[@]} -eq 0 ]; then
  echo "site: GuestBook.conf names no board; add a line such as \"1 title1.gif\"" >&2
fi
"$bin/make_images" "$root/Image" "${title_args[@]}"

config="$root/lighttpd.conf"
sed -e "s|@ADDRESS@|$bind|g" -e "s|@PORT@|$port|g" -e "s|@ROOT@|$root|g" \
  "$repo/deploy/lighttpd.conf.in" >"$config.new"
if [ -n "$web_user" ]; then
  # lighttpd opens its port as root, then becomes the web user for good.
  printf 'server.username  = "%s"\nserver.groupname = "%s"\n' "$web_user" "$web_group" >>"$config.new"
  # A site under a home directory the web user cannot enter would answer
  # every request with an error; say so now.
  if ! runuser -u "$web_user" -- test -r "$conf" -a -x "$root/cgi-bin/ListPage.exe" -a -r "$root/Image/posting.gif"; then
    echo "site: $web_user cannot reach $root; choose a --dir outside private directories (for example /srv/site)" >&2
    rm -f "$config.new"
    exit 1
  fi
fi
mv -f "$config.new" "$config"
lighttpd -tt -f "$config" >/dev/null

host="$bind"
case "$address" in 0.0.0.0|::) host="$(hostname -f 2>/dev/null || hostname)" ;; esac
echo "Board 1: http://$host:$port/cgi-bin/ListPage.exe?BoardNum=1&TextNum=0"
[ -n "$web_user" ] && echo "Serving as $web_user"
exec lighttpd -D -f "$config"
