#!/usr/bin/env bash
# Builds the release MERRIK.EXE, the benchmark programs and the NSIS peer,
# then runs bench/run_bench.py (which builds the peer with makensis) under Wine on a private Xvfb display and prints
# the table. Arguments go to run_bench.py (--runs N, --scale-runs N,
# --items 10,100,..., --skip part,...).
#
# Environment: MERRIK_XVFB_DISPLAY (display number; default: the first free
# from 90), MERRIK_JOBS (build jobs, default 2), MERRIK_BENCH_BUILD (build
# folder, default build-bench).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${MERRIK_JOBS:-2}
build=${MERRIK_BENCH_BUILD:-"$root/build-bench"}

"$root/tools/install_prerequisites.sh"
# The peer is built with Debian's NSIS; it is a measuring stick only.
if ! command -v makensis >/dev/null 2>&1; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q nsis
fi

echo "== release build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" >/dev/null
cmake --build "$build" -j"$jobs" --target merrik sibling bench_driver floor

if [ -n "${MERRIK_XVFB_DISPLAY:-}" ]; then
  n=$MERRIK_XVFB_DISPLAY
else
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || break
  done
fi
export DISPLAY=":$n"
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >"$build/bench/xvfb.log" 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null || true; wait "$xvfb_pid" 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do
  xdpyinfo >/dev/null 2>&1 && break
  sleep 0.2
done

python3 "$root/bench/run_bench.py" --build "$build" \
  --merrik "$build/resources/MERRIK.EXE" \
  --sibling "$build/tests/e2e/sibling.exe" \
  --driver "$build/bench/bench_driver.exe" \
  --floor "$build/bench/FLOOR.EXE" \
  --peer "$build/bench/PEER.EXE" "$@"
