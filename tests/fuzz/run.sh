#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (no EUC-KR execution charset: it
# does not have one) and, given a target name, runs it for a bounded time.
#   run.sh BUILD_DIR            build every target
#   run.sh BUILD_DIR TARGET [SECONDS]   build if needed, then fuzz TARGET
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
# The shared code the pages and the tool link, a folder per concern.
shared_dirs=(text store config permission spam events page)
mkdir -p "${1:?build directory}"; build="$(cd "$1" && pwd)"
target="${2:-}"
seconds="${3:-15}"
mkdir -p "$build/obj"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$root" -I"$root/responder")

build_all() {
  local objects=() source object
  local dir
  for dir in "${shared_dirs[@]}"; do
    for source in "$root/$dir"/*.cpp; do
      object="$build/obj/$dir-$(basename "$source" .cpp).o"
      if [ ! -f "$object" ] || [ "$source" -nt "$object" ] || [ -n "$(find "${shared_dirs[@]/#/$root/}" -name '*.h' -newer "$object")" ]; then
        clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object"
      fi
      objects+=("$object")
    done
  done
  # The responder's record handling reads no socket and joins the shared sources.
  source="$root/responder/fcgi_connection.cpp"
  object="$build/obj/responder-fcgi_connection.o"
  if [ ! -f "$object" ] || [ "$source" -nt "$object" ] || [ "$root/responder/fcgi_connection.h" -nt "$object" ]; then
    clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object"
  fi
  objects+=("$object")
  for source in "$here"/*_fuzz.cpp; do
    local name; name="$(basename "$source" .cpp)"
    if [ ! -x "$build/$name" ] || [ "$source" -nt "$build/$name" ] || [ -n "$(find "$build/obj" -newer "$build/$name")" ]; then
      # crypt(3) for the password check, nettle for the spam defences, in the shared library.
      clang++ "${flags[@]}" "$source" "${objects[@]}" -lcrypt -lnettle -o "$build/$name"
    fi
  done
}

# Two CTest runs may build at once.
exec 9>"$build/.lock"
flock 9
build_all
flock -u 9

[ -z "$target" ] && exit 0
work="$build/corpus-$target"
mkdir -p "$work"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
cd "$build"
# A fixed seed keeps the test command's short runs repeatable; FUZZ_SEED=0
# lets libFuzzer pick one for longer hunts.
"./${target}_fuzz" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -print_final_stats=1 "$work" "$here/corpus/$target"
