#!/usr/bin/env bash
# Runs every test of the project from a clean clone: installs what is missing,
# builds the native configuration (stand-in Win32) and runs its tests, runs
# the hardening pass (tests/hardening.sh: sanitizers, corpus replay, short
# fuzz runs), builds the Windows configuration (MERRIK.EXE and the test
# programs), audits MERRIK.EXE and runs the end-to-end suite under Wine on a
# private Xvfb display. Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${MERRIK_JOBS:-2}

"$root/tools/install_prerequisites.sh"

echo "== native build and tests"
cmake -S "$root" -B "$root/build" -DMERRIK_WERROR=ON
cmake --build "$root/build" -j"$jobs"
ctest --test-dir "$root/build" --output-on-failure --no-tests=error -j"$jobs"

echo "== hardening: sanitizers, corpus replay, short fuzz runs"
"$root/tests/hardening.sh"

echo "== Windows build"
cmake -S "$root" -B "$root/build-win" -DMERRIK_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake"
cmake --build "$root/build-win" -j"$jobs"

echo "== binary audit of MERRIK.EXE"
ctest --test-dir "$root/build-win" -L audit --output-on-failure --no-tests=error

echo "== end-to-end suite under Wine"
display=":${MERRIK_XVFB_DISPLAY:-99}"
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$root/build-win/xvfb.log" 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do
  DISPLAY=$display xdpyinfo >/dev/null 2>&1 && break
  sleep 0.2
done
DISPLAY=$display ctest --test-dir "$root/build-win" -L e2e --output-on-failure --no-tests=error
echo "== all tests passed"
