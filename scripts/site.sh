#!/usr/bin/env bash
# Builds the six programs, the responder and the images, lays out a site and
# serves it in the foreground: the server (lighttpd unless told otherwise)
# passes the pages to the FastCGI responder, or with --cgi runs one program
# per request (mod_cgi; nginx through fcgiwrap).
#   bash scripts/site.sh [--server lighttpd|nginx|apache] [--cgi] [--listen ADDRESS] [--port N] [--dir DIR]
#                        [--boards-here | --boards-elsewhere]
#                        [--add-defences]
#   bash scripts/site.sh --boards-only [--dir DIR] [--add-defences]
# ADDRESS is where the server listens: 127.0.0.1 unless told otherwise.
# --boards-only readies the boards of GuestBook.conf (directories, owner,
# title images) and ends; it may run while the site serves.
# A GuestBook.conf whose BBS_DIR lies outside DIR (one copied from another
# site) is refused unless --boards-here rewrites it to DIR/boards/ or
# --boards-elsewhere accepts it (boards on a shared mount).
# A GuestBook.conf without any of the spam defences' lines (one from an
# older release) is served as it is, after saying so; --add-defences adds
# the lines it lacks and makes their secret files.
# Started as root, the server and the pages run as the web user (www-data,
# or a system user "gesipan" made for it): it may read GuestBook.conf and
# change the board directories, nothing else. nginx's and Apache's parent
# processes stay root, as these servers run everywhere: they open the port
# and logs and answer no request. Started as anyone else, all run as that
# user.
# A rerun refreshes programs and images, and readies every board line of
# GuestBook.conf (its directory and title image); the configuration, the
# boards' files and title images already there are kept.
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
port=8080
address=127.0.0.1
dir="$repo/site"
boards_only=""
boards_where=""
add_defences=""
server=lighttpd
mode=fastcgi
usage="usage: bash scripts/site.sh [--server lighttpd|nginx|apache] [--cgi] [--listen ADDRESS] [--port N] [--dir DIR]
                           [--boards-here | --boards-elsewhere] [--add-defences]
       bash scripts/site.sh --boards-only [--dir DIR] [--add-defences]"
while [ $# -gt 0 ]; do
  case "$1" in
    --server)
      case "${2:-}" in lighttpd|nginx|apache) server="$2" ;; *) echo "$usage" >&2; exit 2 ;; esac
      shift 2 ;;
    --cgi)    mode=cgi; shift ;;
    --port)   port="${2:?--port needs a number}"; shift 2 ;;
    --listen) address="${2:?--listen needs an address}"; shift 2 ;;
    --dir)    dir="${2:?--dir needs a directory}"; shift 2 ;;
    --boards-only) boards_only=1; shift ;;
    --boards-here | --boards-elsewhere) boards_where="$1"; shift ;;
    --add-defences) add_defences=1; shift ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
case "$port" in ''|*[!0-9]*) echo "site: port must be a number" >&2; exit 2 ;; esac
# An IPv4 or IPv6 address, or a host name; it goes into the server's configuration.
address="${address#[}"
address="${address%]}"
case "$address" in ''|*[!A-Za-z0-9.:_-]*) echo "site: not an address: $address" >&2; exit 2 ;; esac
# The servers and URLs take IPv6 addresses in brackets.
bind="$address"
case "$bind" in *:*) bind="[$bind]" ;; esac

# Something answers on the port: most likely this site, already serving.
# Said before anything changes, rather than when the server fails to bind.
refuse_taken_port() {
  local probe="$address"
  case "$probe" in 0.0.0.0) probe=127.0.0.1 ;; ::) probe=::1 ;; esac
  if (exec 3<>"/dev/tcp/$probe/$port") 2>/dev/null; then
    echo "site: a server already listens on $bind:$port, most likely this site." >&2
    echo "site: to add a board while it serves, add its line to GuestBook.conf and run" >&2
    echo "        bash scripts/site.sh --boards-only --dir $dir" >&2
    echo "site: to refresh the programs, stop it first (Ctrl-C where it runs), or choose another --port." >&2
    exit 1
  fi
}

# The boards of another site's GuestBook.conf (a restored copy) would take
# this site's posts: refuse one whose boards lie outside this site, unless
# told to rewrite it here or that the boards lie elsewhere on purpose.
check_boards_inside_site() {
  # The first board outside is enough; read in this shell, since a reader
  # that stops early ends the writer by SIGPIPE, which pipefail makes fatal.
  local outside="" _ board
  while read -r _ _ board; do
    [ -n "$board" ] || continue
    case "$(realpath -ms "$board")/" in "$root"/*) ;; *) outside="$board"; break ;; esac
  done <<<"$(board_dirs)"
  [ -n "$outside" ] || return 0
  case "$boards_where" in
    --boards-elsewhere) return 0 ;;
    --boards-here) rewrite_bbs_dir; return 0 ;;
  esac
  echo "site: GuestBook.conf keeps its boards outside $root (board directory $outside):" >&2
  echo "site: posts to this site would change those boards. Either set the line" >&2
  echo "        BBS_DIR $root/boards/" >&2
  echo "site: in $conf (or rerun with --boards-here to have it set)," >&2
  echo "site: or, when the boards lie elsewhere on purpose (a shared mount), rerun with --boards-elsewhere." >&2
  exit 1
}

# Every BBS_DIR line becomes this site's boards/; written beside with the
# file's owner and mode, then renamed over it.
rewrite_bbs_dir() {
  rm -f "$conf.new"
  cp -p "$conf" "$conf.new"
  awk -v dir="$root/boards/" '
    { line = $0; sub(/\r$/, "", line); split(line, w, /[ \t]+/) }
    (w[1] == "BBS_DIR" || (w[1] == "" && w[2] == "BBS_DIR")) { print "BBS_DIR " dir; next }
    { print }' "$conf" >"$conf.new"
  mv -f "$conf.new" "$conf"
  echo "site: GuestBook.conf: BBS_DIR set to $root/boards/"
}

# Every board line of the configuration, as "NUMBER IMAGE BOARD_DIRECTORY",
# the directory formed as the programs form it: the BBS_DIR read so far,
# the number and "/"; a relative BBS_DIR is relative to cgi-bin/.
board_dirs() {
  tr -d '\r' <"$conf" | awk -v cgi="$root/cgi-bin/" '
    $1 ~ /^#/ { next }
    $1 == "BBS_DIR" { sub(/^[ \t]*BBS_DIR[ \t]*/, ""); sub(/[ \t]+$/, ""); bbs = $0; next }
    $1 ~ /^-?[0-9]+$/ && NF >= 2 {
      d = bbs; if (substr(d, 1, 1) != "/") d = cgi d
      print $1, $2, d $1 "/"
    }'
}

# A directory only the web user writes in, made when missing; never
# followed through a link.
ready_web_dir() {  # directory
  if [ -L "$1" ]; then
    echo "site: $1 is a symbolic link; left as it is" >&2
    return 0
  fi
  mkdir -p "$1"
  if [ -n "$web_user" ]; then
    chown -R "$web_user:$web_group" "$1"
    chmod 750 "$1"
  fi
}

# The board directories for the web user, the guessing limit's directory,
# and the title images not drawn yet. Changes no file the programs use, so
# it may run while the site serves.
ready_boards() {
  local boards number image board
  boards="$(board_dirs)"
  local title_args=()
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
  ready_web_dir "$root/boards/throttle"
  # The owner's event log (EVENT_LOG ../log/events.log), appended to by
  # the pages as the web user.
  ready_web_dir "$root/log"
  if [ ${#title_args[@]} -eq 0 ]; then
    echo "site: GuestBook.conf names no board; add a line such as \"1 title1.gif\"" >&2
  fi
  "$tools/make_images" "$root/Image" "${title_args[@]}"
  # The phones' stylesheet and the robots file, served beside the images.
  local file
  for file in gesipan.css robots.txt; do
    [ -f "$tools/$file" ] || continue
    cp "$tools/$file" "$root/Image/$file.new"
    chmod 644 "$root/Image/$file.new"
    mv -f "$root/Image/$file.new" "$root/Image/$file"
  done
}

# The operator's tools live in bin/, outside every directory a server
# serves or runs; a copy that an older layout left in cgi-bin/ is named.
install_tools() {
  local tool
  mkdir -p "$root/bin"
  [ -z "$web_user" ] || chmod go-w,a+rx "$root/bin"
  for tool in gesipan make_images gesipan-fcgi; do
    cp "$bin/$tool" "$root/bin/$tool.new"
    chmod 755 "$root/bin/$tool.new"
    mv -f "$root/bin/$tool.new" "$root/bin/$tool"
  done
  # Kept with the tools, so that --boards-only finds them too.
  for tool in gesipan.css robots.txt; do
    cp "$repo/deploy/$tool" "$root/bin/$tool.new"
    chmod 644 "$root/bin/$tool.new"
    mv -f "$root/bin/$tool.new" "$root/bin/$tool"
  done
  if [ -e "$root/cgi-bin/gesipan" ]; then
    echo "site: $root/cgi-bin/gesipan is left from an older layout; the tool is now $root/bin/gesipan: remove the old one" >&2
  fi
}

# The form token's secret and the ban list, in secret/: served by no
# server, read by the web user, changed only by root (or the owner). Made
# when missing, so that an existing site needs only the configuration's
# lines to turn the defences on.
ready_defences() {
  local secret="$root/secret"
  if [ -L "$secret" ] || [ -L "$secret/form.key" ] || [ -L "$secret/ban.list" ]; then
    echo "site: $secret holds a symbolic link; left as it is" >&2
    return 0
  fi
  mkdir -p "$secret"
  if [ ! -s "$secret/form.key" ]; then
    (umask 077 && od -An -N32 -tx1 /dev/urandom | tr -d ' \n' >"$secret/form.key.new" && echo >>"$secret/form.key.new")
    mv -f "$secret/form.key.new" "$secret/form.key"
  fi
  if [ ! -e "$secret/ban.list" ]; then
    printf '%s\n' "# Kept out of every board: one address, ADDRESS/BITS range or word a line." \
      "# Change it with bin/gesipan ban ENTRY and bin/gesipan unban ENTRY, or edit it (UTF-8)." >"$secret/ban.list.new"
    mv -f "$secret/ban.list.new" "$secret/ban.list"
  fi
  if [ -n "$web_user" ]; then
    chown "root:$web_group" "$secret" "$secret/form.key" "$secret/ban.list"
    chmod 750 "$secret"
    chmod 640 "$secret/form.key" "$secret/ban.list"
  else
    chmod 700 "$secret"
    chmod 600 "$secret/form.key" "$secret/ban.list"
  fi
}

# The spam defences' lines as a new site gets them; paths are relative to
# cgi-bin/, so that a copied site uses its own secret/.
defence_lines=(
  "FORM_TOKEN ../secret/form.key 3"
  "HONEYPOT on"
  "LINK_LIMIT 3"
  "POST_LIMIT 5 600"
  "DUPLICATE_CHECK 86400"
  "BAN_LIST ../secret/ban.list"
)

# The defence lines whose directive the configuration lacks, one a line.
missing_defences() {
  local line
  for line in "${defence_lines[@]}"; do
    tr -d '\r' <"$conf" | awk -v key="${line%% *}" '$1 == key { found = 1 } END { exit !found }' ||
      printf '%s\n' "$line"
  done
}

# An older site's configuration keeps posting open to every robot; the
# owner hears so before it serves, and --add-defences adds what is missing,
# written beside with the file's owner and mode and renamed over it.
check_defences() {
  local missing
  missing="$(missing_defences)"
  [ -n "$missing" ] || return 0
  if [ -z "$add_defences" ]; then
    if [ "$(printf '%s\n' "$missing" | wc -l)" -eq ${#defence_lines[@]} ]; then
      echo "site: $conf has none of the spam defences' lines: every post is stored as it comes." >&2
      echo "site: rerun with --add-defences to add them (docs/spam.md says what each does)." >&2
    fi
    return 0
  fi
  rm -f "$conf.new"
  cp -p "$conf" "$conf.new"
  {
    cat "$conf"
    [ -z "$(tail -c 1 "$conf")" ] || echo
    echo "# spam defences, added by scripts/site.sh --add-defences; take a line out to turn its defence off"
    printf '%s\n' "$missing"
  } >"$conf.new"
  mv -f "$conf.new" "$conf"
  printf 'site: GuestBook.conf: added %s\n' $(printf '%s\n' "$missing" | cut -d' ' -f1)
}

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

if [ -n "$boards_only" ]; then
  root="$(cd "$dir" 2>/dev/null && pwd)" || { echo "site: $dir is no site; run the site command without --boards-only first" >&2; exit 1; }
  conf="$root/cgi-bin/GuestBook.conf"
  tools="$root/bin"
  if [ ! -f "$conf" ] || [ -L "$conf" ] || [ ! -x "$tools/make_images" ]; then
    echo "site: $root is not laid out by this site command; run it without --boards-only first" >&2
    exit 1
  fi
  check_boards_inside_site
  ready_boards
  if [ -n "$add_defences" ]; then ready_defences; fi
  check_defences
  echo "Boards readied in $root/boards/"
  exit 0
fi

refuse_taken_port

. "$repo/scripts/packages.sh"
install_missing_packages g++ cmake make libcrypt-dev nettle-dev
# The server; apache2-bin is Apache without Debian's service (which would
# start one on port 80). spawn-fcgi hands the responder (or fcgiwrap, which
# runs nginx's CGI programs) its socket.
case "$server" in
  lighttpd) install_missing_packages lighttpd ;;
  nginx) install_missing_packages nginx ;;
  apache) install_missing_packages apache2-bin ;;
esac
[ "$mode" = fastcgi ] || [ "$server" = nginx ] && install_missing_packages spawn-fcgi
[ "$mode" = cgi ] && [ "$server" = nginx ] && install_missing_packages fcgiwrap

build="$repo/build-release"
if [ -n "${GESIPAN_SITE_BIN:-}" ]; then
  # The test command lays out sites from the programs it has built already.
  bin="$GESIPAN_SITE_BIN"
else
  cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGESIPAN_TESTS=OFF >/dev/null
  cmake --build "$build" -j2
  bin="$build/bin"
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

for program in ListPage ShowPage FormPage SavePage EditPage DropPage FeedPage FrontPage; do
  if [ -x "$bin/$program" ]; then
    # Copy beside and rename, so a running request never sees half a program.
    cp "$bin/$program" "$root/cgi-bin/$program.exe.new"
    chmod 755 "$root/cgi-bin/$program.exe.new"
    mv -f "$root/cgi-bin/$program.exe.new" "$root/cgi-bin/$program.exe"
  else
    echo "site: $program is not built yet; its pages will be missing" >&2
  fi
done
install_tools
tools="$root/bin"

conf="$root/cgi-bin/GuestBook.conf"
password=""
say_password() {
  [ -n "$password" ] || return 0
  echo "Editing and erasing password (shown only now): $password"
  echo "  change it with: $root/bin/gesipan --conf $conf password"
  password=""
}
if [ ! -e "$conf" ]; then
  # Letters and digits drawn from a bounded read: no reader stops early.
  while [ ${#password} -lt 10 ]; do
    password+="$(head -c 64 /dev/urandom | LC_ALL=C tr -dc 'A-Za-z0-9')"
  done
  password="${password:0:10}"
  umask_was="$(umask)"
  umask 077
  # Written beside and moved in place: a cut run leaves no half configuration.
  cat >"$conf.new" <<CONF
# written by scripts/site.sh on first set-up
BASE_DIR /
BBS_DIR $root/boards/
EMAIL admin@localhost
Password $password
# spam defences (docs/spam.md); take a line out to turn its defence off;
# paths are relative to cgi-bin/, so a copied site uses its own secret/
$(printf '%s\n' "${defence_lines[@]}")
# the owner's log (bin/gesipan events) and HTTP statuses that say what happened
EVENT_LOG ../log/events.log
STATUS_CODES on
# pages for phones, the poster's address masked on the message page, a
# feed per board (see docs/phones-and-feeds.md)
PHONE_PAGES on
ADDRESS_SHOWN masked
FEED on
1 title1.gif
TITLE 1 게시판 1
CONF
  mv "$conf.new" "$conf"
  umask "$umask_was"
  # Kept in the file as its crypt hash only.
  printf '%s\n%s\n' "$password" "$password" | "$tools/gesipan" --conf "$conf" password >/dev/null
  # Said last, below the build's output; also when the run stops before
  # serving, since only its hash is kept.
  trap say_password EXIT
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

check_boards_inside_site
ready_boards
ready_defences
check_defences

# The socket between the server and the pages' FastCGI process; the
# directory is root's, the socket the web user's.
socket="$root/run/gesipan.sock"
# The server's and the socket's directories are written into: never
# through a link.
for d in run nginx apache; do
  if [ -L "$root/$d" ]; then
    echo "site: $root/$d is a symbolic link; make it a directory" >&2
    exit 1
  fi
done
mkdir -p "$root/run"
[ -z "$web_user" ] || { chown root:root "$root/run"; chmod 755 "$root/run"; }

# A site template with the address, port, directory and socket filled in.
fill_template() {  # template
  sed -e "s|@ADDRESS@|$bind|g" -e "s|@PORT@|$port|g" -e "s|@LISTEN@|$bind:$port|g" -e "s|@ROOT@|$root|g" \
    -e "s|@SOCKET@|$socket|g" "$1"
}

write_lighttpd_config() {
  local handler='cgi.assign = (".exe" => "")'
  [ "$mode" = fastcgi ] && handler="fastcgi.server = (\".exe\" => ((\"socket\" => \"$socket\")))"
  config="$root/lighttpd.conf"
  fill_template "$repo/deploy/lighttpd.conf.in" | sed -e "s|@HANDLER@|$handler|" >"$config.new"
  if [ -n "$web_user" ]; then
    # lighttpd opens its port as root, then becomes the web user for good.
    printf 'server.username  = "%s"\nserver.groupname = "%s"\n' "$web_user" "$web_group" >>"$config.new"
  fi
  mv -f "$config.new" "$config"
  lighttpd -tt -f "$config" >/dev/null
  server_command=(lighttpd -D -f "$config")
}

# nginx's own part around the site's server block.
write_nginx_config() {
  mkdir -p "$root/nginx"
  fill_template "$repo/deploy/nginx-site.conf.in" >"$root/nginx/site.conf.new"
  mv -f "$root/nginx/site.conf.new" "$root/nginx/site.conf"
  config="$root/nginx/nginx.conf"
  {
    [ -z "$web_user" ] || echo "user $web_user $web_group;"
    echo "worker_processes auto;"
    echo "pid $root/nginx/nginx.pid;"
    echo "error_log stderr;"
    echo "daemon off;"
    echo "events { worker_connections 768; }"
    echo "http {"
    echo "    access_log off;"
    echo "    types { image/gif gif; }"
    echo "    default_type application/octet-stream;"
    local temp
    for temp in client_body fastcgi proxy scgi uwsgi; do echo "    ${temp}_temp_path $root/nginx/$temp;"; done
    echo "    include $root/nginx/site.conf;"
    echo "}"
  } >"$config.new"
  mv -f "$config.new" "$config"
  nginx -q -t -p "$root/nginx" -c "$config"
  server_command=(nginx -p "$root/nginx" -c "$config")
}

# Apache's own part around the site's file, which an owner adds to
# Debian's Apache as it stands.
write_apache_config() {
  mkdir -p "$root/apache/empty"
  local site=apache-site.conf.in modules=(mpm_prefork authz_core alias cgi mime env headers)
  [ "$mode" = fastcgi ] && site=apache-fastcgi.conf.in modules=(mpm_event authz_core alias mime headers proxy proxy_fcgi reqtimeout)
  fill_template "$repo/deploy/$site" >"$root/apache/site.conf.new"
  mv -f "$root/apache/site.conf.new" "$root/apache/site.conf"
  config="$root/apache/httpd.conf"
  {
    echo "ServerRoot $root/apache"
    echo "ServerName localhost"
    echo "Listen $bind:$port"
    echo "PidFile $root/apache/httpd.pid"
    echo "Mutex file:$root/apache default"
    echo "ErrorLog $root/apache/error.log"
    echo "DocumentRoot $root/apache/empty"
    echo "TypesConfig /dev/null"
    echo "AddType image/gif .gif"
    local module
    for module in "${modules[@]}"; do echo "LoadModule ${module}_module /usr/lib/apache2/modules/mod_$module.so"; done
    printf '<Directory />\n    AllowOverride None\n    Require all denied\n</Directory>\n'
    [ -z "$web_user" ] || printf 'User %s\nGroup %s\n' "$web_user" "$web_group"
    echo "Include $root/apache/site.conf"
  } >"$config.new"
  mv -f "$config.new" "$config"
  local out
  if ! out="$(apache2 -t -f "$config" 2>&1)"; then
    echo "$out" >&2
    exit 1
  fi
  server_command=(apache2 -f "$config" -DFOREGROUND)
}

if [ -n "$web_user" ]; then
  # A site under a home directory the web user cannot enter would answer
  # every request with an error; say so now.
  if ! runuser -u "$web_user" -- test -r "$conf" -a -x "$root/cgi-bin/ListPage.exe" -a -x "$root/bin/gesipan-fcgi" \
      -a -r "$root/Image/posting.gif"; then
    echo "site: $web_user cannot reach $root; choose a --dir outside private directories (for example /srv/site)" >&2
    exit 1
  fi
fi
case "$server" in
  lighttpd) write_lighttpd_config ;;
  nginx) write_nginx_config ;;
  apache) write_apache_config ;;
esac

# The pages' FastCGI process: the responder, or fcgiwrap for nginx's
# process-per-request pages. spawn-fcgi makes the socket, hands it over as
# standard input and starts the program in cgi-bin/ as the web user.
pages_pid=""
pages_group=""
start_pages() {
  local program=("$root/bin/gesipan-fcgi")
  if [ "$mode" = cgi ]; then
    [ "$server" = nginx ] || return 0
    program=(/usr/sbin/fcgiwrap -c 8)
    # fcgiwrap's parent leaves its workers behind when it ends: its whole
    # process group is ended instead.
    pages_group=1
  fi
  local args=(-n -s "$socket" -M 0660 -d "$root/cgi-bin")
  [ -z "$web_user" ] || args+=(-u "$web_user" -g "$web_group" -U "$web_user" -G "$web_group")
  setsid spawn-fcgi "${args[@]}" -- "${program[@]}" </dev/null &
  pages_pid=$!
  local _
  for _ in $(seq 100); do
    [ -S "$socket" ] && return 0
    kill -0 "$pages_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "site: ${program[0]} did not start on $socket" >&2
  exit 1
}

server_pid=""
stop_site() {
  trap - EXIT INT TERM
  say_password
  [ -z "$server_pid" ] || kill -TERM -- "-$server_pid" 2>/dev/null || true
  if [ -n "$pages_group" ]; then
    kill -TERM -- "-$pages_pid" 2>/dev/null || true
    local _
    for _ in $(seq 50); do kill -0 -- "-$pages_pid" 2>/dev/null || break; sleep 0.1; done
  elif [ -n "$pages_pid" ]; then
    # The responder's parent lets the requests in progress finish.
    kill -TERM "$pages_pid" 2>/dev/null || true
  fi
  wait 2>/dev/null || true
}
trap stop_site EXIT
trap 'stop_site; exit 0' INT TERM
start_pages

host="$bind"
case "$address" in 0.0.0.0|::) host="$(hostname -f 2>/dev/null || hostname)" ;; esac
echo "Board 1: http://$host:$port/cgi-bin/ListPage.exe?BoardNum=1&TextNum=0"
[ -n "$web_user" ] && echo "Serving as $web_user"
pages="the FastCGI responder"
[ "$mode" = cgi ] && pages="one program per request"
echo "Serving with $server, $pages"
# Last, below the build's output, where the owner looks.
say_password
if ! tr -d '\r' <"$conf" | awk '$1 == "EMAIL" { email = $2 } END { exit !(email != "" && email != "admin@localhost") }'; then
  echo "Every page's footer shows the EMAIL line of $conf: set your own address there (read on the next request)."
fi
# Its own process group: Apache's parent signals its whole group when it
# stops.
setsid "${server_command[@]}" </dev/null &
server_pid=$!
# Whichever ends first ends the site.
status=0
wait -n || status=$?
echo "site: the server or the pages' process ended (status $status); stopping" >&2
exit 1
