#!/usr/bin/env bash
# The hardening pass of the native build, in build-san/: everything built with
# clang under AddressSanitizer and UndefinedBehaviorSanitizer (any report ends
# the program), then
#   1. the native tests under the sanitizers,
#   2. a replay of every input of every fuzz corpus (tests/fuzz/corpus),
#   3. a fuzz run of every target for MERRIK_FUZZ_SECONDS seconds (default 60).
# Exits non-zero on any failure, sanitizer report or fuzzer finding; a
# finding's input is kept in build-san/fuzz-run/<target>/artifacts/.
#
# Usage:
#   tests/hardening.sh                 the whole pass, as CI runs it
#   MERRIK_FUZZ_SECONDS=600 tests/hardening.sh --fuzz-only
#                                      the long run: 10 minutes a target
# Each fuzz run prints its figures (executions, coverage, corpus) and adds
# them to <run folder>/summary.txt; the run folder is build-san/fuzz-run, or
# MERRIK_FUZZ_RUN (an absolute path) so that a long run can go on beside the
# CI pass. New inputs stay there; the committed corpus is only read.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=${MERRIK_JOBS:-2}
seconds=${MERRIK_FUZZ_SECONDS:-60}
build="$root/build-san"
fuzz_only=0
[ "${1:-}" = "--fuzz-only" ] && fuzz_only=1

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

echo "== sanitizer build (clang, ASan and UBSan, libFuzzer)"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DMERRIK_FUZZ=ON >/dev/null
cmake --build "$build" -j"$jobs"

if [ "$fuzz_only" = 0 ]; then
  echo "== native tests under ASan and UBSan"
  ctest --test-dir "$build" -LE replay --output-on-failure --no-tests=error \
    -j"$jobs"
  echo "== replay of the fuzz corpora"
  ctest --test-dir "$build" -L replay --output-on-failure --no-tests=error
fi

echo "== fuzz runs, ${seconds} s a target"
run=${MERRIK_FUZZ_RUN:-"$build/fuzz-run"}
mkdir -p "$run"
summary="$run/summary.txt"
echo "# $(date -u '+%Y-%m-%d %H:%M') UTC, ${seconds} s a target" >>"$summary"
failed=0
for target in source_dir handoff defaults file_list worker log_switch log_line; do
  dir="$run/$target"
  rm -rf "$dir"
  mkdir -p "$dir/corpus" "$dir/artifacts"
  options=(-max_total_time="$seconds" -print_final_stats=1
    -artifact_prefix="$dir/artifacts/")
  case $target in
  file_list | worker) options+=(-dict="$root/tests/fuzz/setup_log.dict") ;;
  log_switch) options+=(-dict="$root/tests/fuzz/log_switch.dict") ;;
  esac
  status=0
  "$build/tests/fuzz/fuzz_$target" "${options[@]}" "$dir/corpus" \
    "$root/tests/fuzz/corpus/$target" >"$dir/log" 2>&1 || status=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log")
  last=$(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "$dir/log" | tail -n1 || true)
  coverage=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  features=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  corpus=$(sed -n 's/.* corp: \([0-9]*\).*/\1/p' <<<"$last")
  findings=$(find "$dir/artifacts" -type f | wc -l)
  line="$target: executions ${executions:-?}, coverage ${coverage:-?} edges, ${features:-?} features, corpus ${corpus:-?}, findings $findings"
  echo "$line"
  echo "$line" >>"$summary"
  if [ "$status" -ne 0 ] || [ "$findings" -ne 0 ]; then
    echo "fuzz_$target failed (status $status); log: $dir/log" >&2
    grep -A12 -E 'invariant broken|ERROR:|runtime error' "$dir/log" | head -n40 >&2 || true
    failed=1
  fi
done
[ "$failed" = 0 ] || exit 1
echo "== hardening pass done"
