#!/usr/bin/env bash
# Builds both targets and runs every test: the layer check, unit tests
# natively, under AddressSanitizer and under Wine, end-to-end tests. Installs
# what is missing first (Debian packages). Last, the libFuzzer targets, each
# over its seed corpus and a fixed run.
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake g++ clang libclang-rt-14-dev libgtest-dev libgmock-dev googletest libbenchmark-dev
          g++-mingw-w64-x86-64-posix wine64 xvfb faketime tzdata python3 dpkg-dev file systemd
          systemd-container llvm wixl)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "== installing: ${missing[*]}"
  sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Each stage says how far into the run it starts.
stage() { echo "== $* (at ${SECONDS} s)"; }

stage layers
cmake/check_layers.sh

stage "native build"
cmake --preset native >/dev/null
cmake --build --preset native
# The container mostly waits for systemd: it runs beside the mingw-w64
# build, and its output follows the build's.
stage_log=build/systemd-stage.log
tests/e2e/systemd_stage.py >"$stage_log" 2>&1 &
container=$!
stage "mingw-w64 build"
cmake --preset mingw >/dev/null
built=0; cmake --build --preset mingw || built=$?
rc=0; wait "$container" || rc=$?
stage "the package under a real systemd: the README's Linux steps in a container"
cat "$stage_log"
[ "$built" -eq 0 ] || exit "$built"
# 77: the kernel refused the container's namespaces (the stage says so).
[ "$rc" -eq 0 ] || [ "$rc" -eq 77 ] || exit "$rc"

stage "native tests"
ctest --preset native -j2
stage "tests under Wine"
# Three at a time: under Wine the tests mostly wait for processes to start.
ctest --preset mingw -j3
stage "AddressSanitizer and UndefinedBehaviorSanitizer build and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan -j2
stage "fuzz targets: seed corpus and a fixed run each"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz -j2
