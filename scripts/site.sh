#!/usr/bin/env bash
# Builds the six programs and the images, lays out a site and serves it with
# lighttpd in the foreground on 127.0.0.1.
#   bash scripts/site.sh [--port N] [--dir DIR]
# A rerun refreshes programs and images only; GuestBook.conf and boards/ of
# an existing site are kept as they are.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
port=8080
dir="$repo/site"
while [ $# -gt 0 ]; do
  case "$1" in
    --port) port="${2:?--port needs a number}"; shift 2 ;;
    --dir)  dir="${2:?--dir needs a directory}"; shift 2 ;;
    *) echo "usage: bash scripts/site.sh [--port N] [--dir DIR]" >&2; exit 2 ;;
  esac
done
case "$port" in ''|*[!0-9]*) echo "site: port must be a number" >&2; exit 2 ;; esac

. "$repo/scripts/packages.sh"
install_missing_packages g++ cmake make lighttpd libcrypt-dev

build="$repo/build-release"
cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGESIPAN_TESTS=OFF >/dev/null
cmake --build "$build" -j2

mkdir -p "$dir"
root="$(cd "$dir" && pwd)"
mkdir -p "$root/cgi-bin" "$root/Image" "$root/boards/1"

for program in ListPage ShowPage FormPage SavePage EditPage DropPage; do
  if [ -x "$build/bin/$program" ]; then
    # Copy beside and rename, so a running request never sees half a program.
    cp "$build/bin/$program" "$root/cgi-bin/$program.exe.new"
    mv -f "$root/cgi-bin/$program.exe.new" "$root/cgi-bin/$program.exe"
  else
    echo "site: $program is not built yet; its pages will be missing" >&2
  fi
done
# The owner's tool, beside the programs but not a CGI program: the server
# runs only names ending in .exe.
cp "$build/bin/gesipan" "$root/cgi-bin/gesipan.new"
mv -f "$root/cgi-bin/gesipan.new" "$root/cgi-bin/gesipan"
"$build/bin/make_images" "$root/Image"

conf="$root/cgi-bin/GuestBook.conf"
if [ ! -e "$conf" ]; then
  password="$(LC_ALL=C tr -dc 'A-Za-z0-9' </dev/urandom | head -c 10 || true)"
  umask_was="$(umask)"
  umask 077
  cat >"$conf" <<CONF
# written by scripts/site.sh on first set-up
BASE_DIR /
BBS_DIR $root/boards/
EMAIL admin@localhost
Password $password
1 title1.gif
CONF
  umask "$umask_was"
  # Kept in the file as its crypt hash only.
  printf '%s\n%s\n' "$password" "$password" | "$root/cgi-bin/gesipan" --conf "$conf" password >/dev/null
  echo "Editing and erasing password (shown only now): $password"
fi

config="$root/lighttpd.conf"
sed -e "s|@PORT@|$port|g" -e "s|@ROOT@|$root|g" "$repo/deploy/lighttpd.conf.in" >"$config"
lighttpd -tt -f "$config" >/dev/null

echo "Board 1: http://127.0.0.1:$port/cgi-bin/ListPage.exe?BoardNum=1&TextNum=0"
exec lighttpd -D -f "$config"
