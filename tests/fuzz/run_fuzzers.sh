#!/usr/bin/env bash
# Runs every fuzz target of a build made with -DTARSEL_FUZZ=ON for a bounded
# time, starting from the seed corpus and the kept crash inputs. Fails when
# any target finds a crash, a leak or an input that runs too long; the input
# is left in <build>/fuzz-artifacts/<target>/ and belongs, once fixed, in
# tests/fuzz/crashes/<target>/.
#
#   tests/fuzz/run_fuzzers.sh BUILD_DIR [SECONDS_PER_TARGET] [TARGET...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
seconds=${2:-60}
shift $(($# < 2 ? $# : 2))
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for f in "$build"/bin/fuzz_*; do
    name=$(basename "$f")
    case $name in fuzz_replay_*) continue ;; esac
    [ -x "$f" ] && targets+=("${name#fuzz_}")
  done
fi
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets in $build/bin (configure with clang and -DTARSEL_FUZZ=ON)" >&2
  exit 1
fi

# The targets write their inputs to scratch files; memory is faster than disk.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

failed=()
printf '%-20s %8s %12s %10s %8s\n' target seconds executions exec/s result
for t in "${targets[@]}"; do
  work="$build/fuzz-work/$t"
  artifacts="$build/fuzz-artifacts/$t"
  rm -rf "$work" "$artifacts"
  mkdir -p "$work" "$artifacts"
  seeds=("$here/corpus/$t")
  [ -d "$here/crashes/$t" ] && seeds+=("$here/crashes/$t")
  log="$build/fuzz-artifacts/$t.log"
  start=$(date +%s)
  "$build/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -dict="$here/tarsel.dict" -print_final_stats=1 -artifact_prefix="$artifacts/" \
    "$work" "${seeds[@]}" >"$log" 2>&1
  rc=$?
  elapsed=$(($(date +%s) - start))
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  result=ok
  if [ $rc -ne 0 ]; then
    result="FAILED($rc)"
    failed+=("$t")
  fi
  printf '%-20s %8s %12s %10s %8s\n' "$t" "$elapsed" "${execs:-?}" "${rate:-?}" "$result"
done
if [ ${#failed[@]} -gt 0 ]; then
  for t in "${failed[@]}"; do
    echo "---- fuzz_$t: end of its log ($build/fuzz-artifacts/$t.log)"
    tail -40 "$build/fuzz-artifacts/$t.log"
    ls -l "$build/fuzz-artifacts/$t/"
  done
  exit 1
fi
