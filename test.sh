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

echo "== layers"
cmake/check_layers.sh

echo "== native build"
cmake --preset native >/dev/null
cmake --build --preset native
echo "== the package under a real systemd: the README's Linux steps in a container"
rc=0; tests/e2e/systemd_stage.py || rc=$?
# 77: the kernel refused the container's namespaces (the stage says so).
[ "$rc" -eq 0 ] || [ "$rc" -eq 77 ] || exit "$rc"
echo "== mingw-w64 build"
cmake --preset mingw >/dev/null
cmake --build --preset mingw

echo "== native tests"
ctest --preset native -j2
echo "== tests under Wine"
# Three at a time: under Wine the tests mostly wait for processes to start.
ctest --preset mingw -j3
echo "== AddressSanitizer and UndefinedBehaviorSanitizer build and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan -j2
echo "== fuzz targets: seed corpus and a fixed run each"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
ctest --preset fuzz -j2
