#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (no EUC-KR execution charset: it
# does not have one) and, given a target name, runs it for a bounded time.
#   run.sh BUILD_DIR            build every target
#   run.sh BUILD_DIR TARGET [SECONDS]   build if needed, then fuzz TARGET
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
common="$here/../../common"
# The responder's record handling reads no socket and joins the common sources.
responder="$here/../../responder"
mkdir -p "${1:?build directory}"; build="$(cd "$1" && pwd)"
target="${2:-}"
seconds="${3:-15}"
mkdir -p "$build/obj"
flags=(-std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I"$common" -I"$responder")

build_all() {
  local objects=() source object
  for source in "$common"/*.cpp "$responder/fcgi_connection.cpp"; do
    object="$build/obj/$(basename "$source" .cpp).o"
    if [ ! -f "$object" ] || [ "$source" -nt "$object" ] || [ -n "$(find "$common" "$responder" -name '*.h' -newer "$object")" ]; then
      clang++ "${flags[@]}" -fsanitize=fuzzer-no-link -c "$source" -o "$object"
    fi
    objects+=("$object")
  done
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
# The page object leaves its query pairs to the end of the process, as a
# one-shot CGI run may; leaks are checked for every other target.
leaks=1
[ "$target" = request ] && leaks=0
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=$leaks"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
cd "$build"
# A fixed seed keeps the test command's short runs repeatable; FUZZ_SEED=0
# lets libFuzzer pick one for longer hunts.
"./${target}_fuzz" -seed="${FUZZ_SEED:-1}" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
  -print_final_stats=1 "$work" "$here/corpus/$target"
