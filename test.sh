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

# The builds keep both cores busy; the test stages mostly wait for the
# processes, timers and Wine they start. So each test stage runs beside the
# next build, its output kept until it ends, and the builds beside them run
# at the lowest priority, so that the tests get the processor whenever they
# want it, as on a quiet machine.
beside() {  # beside LOG COMMAND...
  local log=$1; shift
  "$@" >"$log" 2>&1 &
}
# A run that fails still waits for the stages beside it, so that their tests
# end the processes they started; their output stays in build/*.log.
trap wait EXIT
# joined PID LOG TITLE: waits for a stage beside, then shows its output.
joined() {
  local rc=0
  wait "$1" || rc=$?
  stage "$3"
  cat "$2"
  return "$rc"
}
build() { cmake --preset "$1" >/dev/null && nice -n 19 cmake --build --preset "$1"; }

stage layers
cmake/check_layers.sh

stage "native build"
cmake --preset native >/dev/null
cmake --build --preset native
# Beside the mingw-w64 build: the container, which mostly waits for systemd,
# and the native tests.
beside build/systemd-stage.log tests/e2e/systemd_stage.py
container=$!
beside build/native-tests.log ctest --preset native -j2
native=$!
stage "mingw-w64 build (beside it: the package under a real systemd, the native tests)"
built=0; build mingw || built=$?
rc=0
joined "$container" build/systemd-stage.log \
  "the package under a real systemd: the README's Linux steps in a container" || rc=$?
# 77: the kernel refused the container's namespaces (the stage says so).
[ "$rc" -eq 0 ] || [ "$rc" -eq 77 ] || exit "$rc"
joined "$native" build/native-tests.log "native tests"
[ "$built" -eq 0 ] || exit "$built"

# Beside the sanitizer and fuzz builds and the sanitizer tests: the tests
# under Wine, three at a time (under Wine they mostly wait for processes to
# start).
beside build/wine-tests.log ctest --preset mingw -j3
wine=$!
stage "AddressSanitizer and UndefinedBehaviorSanitizer build (beside it: the tests under Wine)"
build asan
beside build/asan-tests.log ctest --preset asan -j2
asan=$!
stage "fuzz build (beside it: the tests under Wine and the sanitizer tests)"
build fuzz
joined "$wine" build/wine-tests.log "tests under Wine"
joined "$asan" build/asan-tests.log "AddressSanitizer and UndefinedBehaviorSanitizer tests"
stage "fuzz targets: seed corpus and a fixed run each"
ctest --preset fuzz -j2
