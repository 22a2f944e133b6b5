#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every test through CTest.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh

install_missing_packages g++ cmake make libgtest-dev
# crypt(3) for hashed passwords (libcrypt.a too, for static programs).
install_missing_packages libcrypt-dev
# nettle: the form token's HMAC and the SHA-256 of the duplicate check.
install_missing_packages nettle-dev
# clang and its libFuzzer runtime for the fuzz targets.
install_missing_packages clang libclang-rt-14-dev
# The browser, load and server suites: lighttpd and Apache httpd (they serve
# the same site; apache2-bin is the server without Debian's service, which
# would start one on port 80), Debian's Chromium, curl, Node; a Korean font
# so the screenshots are legible.
install_missing_packages lighttpd apache2-bin chromium curl fonts-nanum
# The feed is read by a feed reader's parser in the browser suite.
install_missing_packages python3-feedparser
# Debian's Apache layout (conf-available, serve-cgi-bin, a2enconf) for the
# test that enables the site the way docs/serving.md says in a copy of it. Where
# services start on install, this also starts Debian's own on port 80.
install_missing_packages apache2
# nginx, and the pages behind each server through FastCGI: spawn-fcgi hands
# the responder (or fcgiwrap, nginx's way to CGI programs) its socket.
# Where services start on install, Debian's nginx starts on port 80 too.
install_missing_packages nginx spawn-fcgi fcgiwrap
# systemd-analyze, which checks the responder's units.
install_missing_packages systemd
# The Debian package, built and checked by the test that installs it; groff
# renders the manual pages.
install_missing_packages debhelper dpkg-dev lintian groff-base
# Two web servers sharing one board on a GlusterFS volume (FUSE mounts).
install_missing_packages glusterfs-server glusterfs-client
command -v node >/dev/null || install_missing_packages nodejs
command -v npm >/dev/null || install_missing_packages npm
npm ci --prefix tests/browser --no-audit --no-fund

# The crash and fault-injection tests run the programs as deployed (plain,
# static) under strace.
install_missing_packages strace
cmake -S . -B build-plain -DCMAKE_BUILD_TYPE=Release -DGESIPAN_TESTS=OFF >/dev/null
cmake --build build-plain -j"$(nproc)"

build=build-test
# The differential test of the responder fixes both sides' clock through
# the process environment, which only a test build reads.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DGESIPAN_SANITIZE=ON -DGESIPAN_TEST_CLOCK=ON \
  -DGESIPAN_PLAIN_BIN="$PWD/build-plain/bin" >/dev/null
cmake --build "$build" -j"$(nproc)"
export ASAN_OPTIONS="abort_on_error=0:halt_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
ctest --output-on-failure -j"$(nproc)"
