#!/usr/bin/env bash
# Two web servers, one set of boards: a one-brick GlusterFS volume on the
# loopback, mounted twice through FUSE with docs/serving.md's settings, each
# mount served by its own lighttpd. load.mjs sends a mixed load through
# both at once and checks the board; then the per-request cost on the
# volume is measured against a copy of the board on local disk.
#
#   GESIPAN_BIN=DIR [GESIPAN_LOCK_READ=PROGRAM] bash tests/gluster/run.sh
#
# Exits 77 (skipped) where FUSE, root or GlusterFS is missing. Everything
# it starts or creates is taken down again on every way out.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../.." && pwd)
bin=${GESIPAN_BIN:?GESIPAN_BIN must name the directory of the built programs}
lock_read=${GESIPAN_LOCK_READ:-$bin/gluster_lock_read}
password=shared-pass-16

skip() {
  echo "skipped: $*"
  exit 77
}

[ -e /dev/fuse ] || skip "no /dev/fuse"
[ "$(id -u)" -eq 0 ] || skip "mounting the volume needs root"
for tool in glusterd gluster mount.glusterfs lighttpd node curl; do
  command -v "$tool" >/dev/null || skip "no $tool (glusterfs-server, glusterfs-client, lighttpd, nodejs, curl)"
done

# The brick's host: GlusterFS refuses localhost and 127.0.0.1, but takes a
# name of this machine whose every address is on the loopback.
brick_host=""
for name in "$(hostname)" "$(hostname -f 2>/dev/null || true)"; do
  [ -n "$name" ] && [ "$name" != localhost ] || continue
  addresses=$(getent ahostsv4 "$name" | awk '{print $1}' | sort -u || true)
  if [ -n "$addresses" ] && ! grep -qv '^127\.' <<<"$addresses"; then
    brick_host=$name
    break
  fi
done
[ -n "$brick_host" ] || skip "no host name other than localhost resolves to the loopback only"

scratch=$(mktemp -d /tmp/gesipan-gluster.XXXXXX)
volume=gesipan$$
brick=$scratch/brick
mounts=("$scratch/mount1" "$scratch/mount2")
started_glusterd=""
volume_created=""
server_pids=()
load_pid=""

gl() { timeout 60 gluster --mode=script "$@"; }

cleanup() {
  local status=$?
  set +e
  trap - EXIT INT TERM HUP
  local pid mount
  [ -n "$load_pid" ] && kill "$load_pid" 2>/dev/null && wait "$load_pid" 2>/dev/null
  for pid in "${server_pids[@]}"; do kill "$pid" 2>/dev/null; done
  for pid in "${server_pids[@]}"; do wait "$pid" 2>/dev/null; done
  for mount in "${mounts[@]}"; do
    mountpoint -q "$mount" || continue
    for _ in 1 2 3 4 5; do
      umount "$mount" 2>/dev/null && break
      sleep 1
    done
    mountpoint -q "$mount" && umount -l "$mount"
  done
  if [ -n "$volume_created" ]; then
    gl volume stop "$volume" force >/dev/null
    gl volume delete "$volume" >/dev/null
  fi
  if [ -n "$started_glusterd" ] && [ -s "$scratch/glusterd.pid" ]; then
    pid=$(cat "$scratch/glusterd.pid")
    kill "$pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
    kill -0 "$pid" 2>/dev/null && kill -9 "$pid"
  fi
  # Whatever still runs from this scratch directory (a brick, a mount
  # client) was started by this run.
  local leftovers=()
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$pid" = $$ ] && continue
    { tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null | grep -qF "$scratch" && leftovers+=("$pid")
  done
  if [ ${#leftovers[@]} -gt 0 ]; then
    echo "ending processes left behind: ${leftovers[*]}"
    kill -9 "${leftovers[@]}" 2>/dev/null
    status=1
  fi
  rm -f "/var/log/glusterfs/bricks/$(tr / - <<<"${brick#/}").log"
  if grep -qF "$scratch" /proc/mounts; then
    echo "still mounted under $scratch; left in place"
    status=1
  else
    rm -rf --one-file-system "$scratch"
  fi
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

fail() {
  echo "FAULT: $*"
  for log in "$scratch"/*.log; do
    [ -f "$log" ] && { echo "--- $log"; tail -n 20 "$log"; }
  done
  exit 1
}

# glusterd: the machine's own when it runs, else one for this run only.
if ! timeout 15 gluster --mode=script pool list >/dev/null 2>&1; then
  glusterd -p "$scratch/glusterd.pid" -l "$scratch/glusterd.log" || fail "glusterd did not start"
  started_glusterd=yes
  for _ in $(seq 60); do
    timeout 15 gluster --mode=script pool list >/dev/null 2>&1 && break
    sleep 0.5
  done
fi

mkdir -p "$brick" "${mounts[@]}"
gl volume create "$volume" "$brick_host:$brick" force >/dev/null || fail "volume create"
volume_created=yes
# docs/serving.md's volume settings: no client-side caching of data, metadata
# or directory entries, so each mount sees the other's writes at once.
gl volume set "$volume" \
  performance.quick-read off performance.io-cache off performance.read-ahead off \
  performance.readdir-ahead off performance.stat-prefetch off performance.write-behind off \
  performance.open-behind off performance.nl-cache off >/dev/null || fail "volume set"
gl volume start "$volume" >/dev/null || fail "volume start"

i=0
for mount in "${mounts[@]}"; do
  i=$((i + 1))
  timeout 60 mount -t glusterfs \
    -o "attribute-timeout=0,entry-timeout=0,negative-timeout=0,direct-io-mode=enable,log-file=$scratch/mount$i.log" \
    "$brick_host:/$volume" "$mount" || fail "mount $i"
done
mkdir -p "${mounts[0]}/boards/1"
[ -d "${mounts[1]}/boards/1" ] || fail "the second mount does not see the board directory"

# A site served by its own lighttpd; prints its base URL.
start_site() {
  local name=$1 boards=$2
  local root=$scratch/site-$name
  mkdir -p "$root/cgi-bin" "$root/Image"
  local program
  for program in ListPage ShowPage FormPage SavePage EditPage DropPage; do
    install -m 755 "$bin/$program" "$root/cgi-bin/$program.exe"
  done
  "$bin/make_images" "$root/Image"
  # Only this site has this image, so no other server on the port passes for it.
  local marker=site$$$name$RANDOM.gif
  cp "$root/Image/title1.gif" "$root/Image/$marker"
  printf 'BASE_DIR /\nBBS_DIR %s/\nEMAIL admin@localhost\nPassword %s\n1 title1.gif\n' \
    "$boards" "$password" >"$root/cgi-bin/GuestBook.conf"
  local port attempt
  for attempt in 1 2 3 4 5; do
    port=$((20000 + RANDOM % 20000))
    # One program per request, as the shared boards were first served.
    sed -e "s|@ADDRESS@|127.0.0.1|g" -e "s|@PORT@|$port|g" -e "s|@ROOT@|$root|g" \
      -e 's|@HANDLER@|cgi.assign = (".exe" => "")|' "$repo/deploy/lighttpd.conf.in" >"$root/lighttpd.conf"
    lighttpd -D -f "$root/lighttpd.conf" >>"$scratch/lighttpd-$name.log" 2>&1 &
    server_pids+=("$!")
    for _ in $(seq 50); do
      if curl -sf -o /dev/null "http://127.0.0.1:$port/Image/$marker"; then
        site_url="http://127.0.0.1:$port"
        return 0
      fi
      kill -0 "${server_pids[-1]}" 2>/dev/null || break
      sleep 0.2
    done
    kill "${server_pids[-1]}" 2>/dev/null
    wait "${server_pids[-1]}" 2>/dev/null || true
  done
  fail "lighttpd for $name did not start"
}

start_site a "${mounts[0]}/boards"
url_a=$site_url
start_site b "${mounts[1]}/boards"
url_b=$site_url

# In the background, so that a signal reaches the trap at once.
timeout 280 node "$here/load.mjs" load "$url_a" "$url_b" \
  "${mounts[0]}/boards/1/" "${mounts[1]}/boards/1/" "$password" &
load_pid=$!
wait "$load_pid" || fail "the load or its checks failed"
load_pid=""

# Per-request cost: the same board on the volume and copied to local disk.
mkdir -p "$scratch/local/boards/1"
cp -a "${mounts[0]}/boards/1/." "$scratch/local/boards/1/"
start_site local "$scratch/local/boards"
url_local=$site_url
timings=$("$lock_read" "${mounts[0]}/boards/1/" 300) || fail "lock_read on the volume: $timings"
read -r shared_lock shared_lock90 <<<"$timings"
timings=$("$lock_read" "$scratch/local/boards/1/" 300) || fail "lock_read on local disk: $timings"
read -r local_lock local_lock90 <<<"$timings"
timings=$(timeout 60 node "$here/load.mjs" views "$url_a" 40) || fail "views on the volume: $timings"
read -r shared_view shared_view90 <<<"$timings"
timings=$(timeout 60 node "$here/load.mjs" views "$url_local" 40) || fail "views on local disk: $timings"
read -r local_view local_view90 <<<"$timings"
read -r load_average _ </proc/loadavg
echo "per request, median (p90), GlusterFS volume against local disk (load average $load_average):"
echo "  lock + read of one record: $shared_lock µs ($shared_lock90) against $local_lock µs ($local_lock90), 300 each"
echo "  a view through lighttpd:   $shared_view ms ($shared_view90) against $local_view ms ($local_view90), 40 each"
echo "passed: two servers on one GlusterFS volume"
